// Helpers of the installer's unit tests: run a program with given input and
// environment, and scratch directories that clean up after themselves.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace insttest {

struct Outcome {
    int status = -1; // exit status, 128 + signal when killed
    std::string out, err;
};

inline std::string readAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Waits (up to ten seconds) until process pid runs under the command name
// name, that is until its exec has happened: before that, the process table
// shows the test program's name. Names are cut at 15 characters there.
inline bool waitForName(pid_t pid, const std::string &name)
{
    std::string comm = "/proc/" + std::to_string(pid) + "/comm";
    std::string want = name.substr(0, 15) + "\n";
    for (int i = 0; i < 2000; ++i) {
        if (readAll(comm) == want)
            return true;
        usleep(5000);
    }
    return false;
}

// A fresh directory under /tmp, removed with its contents at the end.
class TempDir {
  public:
    TempDir()
    {
        char tmpl[] = "/tmp/inst_test.XXXXXX";
        path_ = mkdtemp(tmpl) ? tmpl : "";
    }
    ~TempDir()
    {
        if (!path_.empty())
            system(("rm -rf '" + path_ + "'").c_str());
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Runs argv (argv[0] a path) with input on stdin and the environment changed
// by env ("NAME=value" sets, "NAME" unsets), in the working directory cwd.
inline Outcome runProgram(const std::vector<std::string> &argv, const std::string &input,
                      const std::vector<std::string> &env = {}, const std::string &cwd = "/")
{
    TempDir io;
    const std::string in = io / "in", out = io / "out", err = io / "err";
    {
        std::ofstream(in, std::ios::binary) << input;
    }
    Outcome r;
    pid_t pid = fork();
    if (pid == 0) {
        int fi = open(in.c_str(), O_RDONLY);
        int fo = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int fe = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fi, 0);
        dup2(fo, 1);
        dup2(fe, 2);
        for (const std::string &e : env) {
            size_t eq = e.find('=');
            if (eq == std::string::npos)
                unsetenv(e.c_str());
            else
                setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
        }
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    r.out = readAll(out);
    r.err = readAll(err);
    return r;
}

} // namespace insttest
