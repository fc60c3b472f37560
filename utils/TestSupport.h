// Helpers shared by the tests of the support utilities: a child process with
// its output captured (for exits and for the process-wide state that a test
// must find fresh), whole-file reads and writes, and a scratch directory.
#pragma once

#include "utils.h"

#include "MemMgr.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace utils_testing {

struct ChildResult {
    int status = -1; // exit status, or 128 + signal
    std::string out; // what the child printed on stdout
    std::string err; // and on stderr
};

// Runs fn in a forked child with stdout and stderr captured; the child ends
// with status 0 when fn returns.
inline ChildResult RunChild(const std::function<void()> &fn) {
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        fn();
        fflush(stdout);
        fflush(stderr);
        _exit(0);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    ChildResult r;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string *dest[2] = {&r.out, &r.err};
    int open = 2;
    while (open > 0 && poll(fds, 2, -1) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                dest[i]->append(buf, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int ws = 0;
    waitpid(pid, &ws, 0);
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    return r;
}

inline std::string ReadAll(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

inline void WriteAll(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Takes a stored string (SaveStr and the like): returns its text, "(null)"
// for none, and gives the block back.
inline std::string Stored(char *text) {
    std::string s = text ? text : "(null)";
    if (text) PutMem(text);
    return s;
}

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/utils_test.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

// A log name private to one test, and the log path that goes with it.
struct TestLog {
    std::string name;
    std::string path;
    explicit TestLog(const char *tag) {
        name = std::string("utils_test_") + tag + "_" + std::to_string(getpid());
        path = "/tmp/" + name + ".log";
        unlink(path.c_str());
    }
    ~TestLog() { unlink(path.c_str()); }
    // Switches the log on under this name (in the child).
    void Use() const {
        my_name = SaveStr("%s", name.c_str());
        flUseLog = 1;
    }
};

} // namespace utils_testing
