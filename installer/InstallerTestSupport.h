// Helpers shared by the installer's unit tests: scratch directories,
// whole-file reads and writes, running programs with a chosen working
// directory, environment and standard input, and stand-ins for running
// programs (a copy of sleep under a chosen name). Header-only, for tests.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace insttest {

// A fresh directory under /tmp, removed with its contents at the end (kept
// when the environment holds INSTTEST_KEEP, for a look after a failure).
class TempDir {
  public:
    explicit TempDir(const char *tag = "inst")
    {
        std::string tmpl = std::string("/tmp/insttest-") + tag + "-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data()))
            path_ = buf.data();
    }
    ~TempDir()
    {
        if (!path_.empty() && getenv("INSTTEST_KEEP") == nullptr) {
            std::string cmd = "rm -rf '" + path_ + "'";
            if (system(cmd.c_str()) != 0)
                fprintf(stderr, "cannot remove %s\n", path_.c_str());
        }
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline std::string ReadFile(const std::string &path)
{
    std::string out;
    FILE *fp = fopen(path.c_str(), "rb");
    if (!fp)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, fp)) > 0)
        out.append(buf, n);
    fclose(fp);
    return out;
}

inline bool WriteFile(const std::string &path, const std::string &text, mode_t mode = 0644)
{
    FILE *fp = fopen(path.c_str(), "wb");
    if (!fp)
        return false;
    bool ok = fwrite(text.data(), 1, text.size(), fp) == text.size();
    ok &= fclose(fp) == 0;
    return ok && chmod(path.c_str(), mode) == 0;
}

inline bool Exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

inline int Mode(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

inline std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Waits (up to ten seconds) until process pid runs under the command name
// name, that is until its exec has happened: before that, the process table
// shows the test program's name. Names are cut at 15 characters there.
inline bool WaitForName(pid_t pid, const std::string &name)
{
    std::string comm = "/proc/" + std::to_string(pid) + "/comm";
    std::string want = name.substr(0, 15) + "\n";
    for (int i = 0; i < 2000; ++i) {
        if (ReadFile(comm) == want)
            return true;
        usleep(5000);
    }
    return false;
}

// A running process named `name` (a copy of sleep made in dir) that sleeps
// `seconds`; killed when the object ends.
class Sleeper {
  public:
    Sleeper(const std::string &dir, const std::string &name, const char *seconds)
    {
        std::string path = dir + "/" + name;
        std::string copy = "cp /bin/sleep '" + path + "'";
        if (system(copy.c_str()) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            execl(path.c_str(), name.c_str(), seconds, static_cast<char *>(nullptr));
            _exit(127);
        }
        running_ = WaitForName(pid_, name); // let it show in the process table
    }
    ~Sleeper()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Sleeper(const Sleeper &) = delete;
    Sleeper &operator=(const Sleeper &) = delete;
    pid_t pid() const { return pid_; }
    // True once the process shows under its name.
    bool running() const { return running_; }

  private:
    pid_t pid_ = -1;
    bool running_ = false;
};

// What a program run left.
struct Outcome {
    int status = -1; // exit status, 128 + signal, -1 when it could not run
    std::string out; // standard output (and standard error with Stderr::IntoOut)
    std::string err; // standard error with Stderr::Apart
};

// Where RunProgram puts the program's standard error.
enum class Stderr { IntoOut, Apart };

// Runs argv (argv[0] a path) in cwd with extra environment entries
// ("NAME=value"; "NAME" or "NAME=" with nothing after removes NAME) and
// input on standard input.
inline Outcome RunProgram(const std::vector<std::string> &argv, const std::string &cwd,
                      const std::vector<std::string> &env = {}, const std::string &input = "",
                      Stderr stderrTo = Stderr::IntoOut)
{
    Outcome result;
    char inName[] = "/tmp/insttest-stdin-XXXXXX";
    char outName[] = "/tmp/insttest-stdout-XXXXXX";
    char errName[] = "/tmp/insttest-stderr-XXXXXX";
    int in = mkstemp(inName);
    int out = mkstemp(outName);
    int err = stderrTo == Stderr::Apart ? mkstemp(errName) : out;
    if (in < 0 || out < 0 || err < 0)
        return result;
    if (write(in, input.data(), input.size()) != static_cast<ssize_t>(input.size()))
        return result;
    lseek(in, 0, SEEK_SET);
    unlink(inName);

    pid_t pid = fork();
    if (pid == 0) {
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        for (const std::string &e : env) {
            size_t eq = e.find('=');
            if (eq == std::string::npos || eq + 1 == e.size())
                unsetenv(e.substr(0, eq).c_str());
            else
                setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
        }
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadFile(outName);
    unlink(outName);
    if (stderrTo == Stderr::Apart) {
        result.err = ReadFile(errName);
        unlink(errName);
        close(err);
    }
    close(in);
    close(out);
    return result;
}

// Runs a shell command line with /bin/sh in cwd; see RunProgram.
inline Outcome Shell(const std::string &command, const std::string &cwd = "/",
                 const std::string &input = "")
{
    return RunProgram({"/bin/sh", "-c", command}, cwd, {}, input);
}

} // namespace insttest
