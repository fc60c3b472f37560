// Helpers for the tests of every module; see TestSupport.h.
#include "TestSupport.h"

#include "MemMgr.h"
#include "utils.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

// An unnamed scratch file (gone from the file system at once), closed when
// the holder ends. Children inherit its descriptor and share its offset.
struct ScratchFile {
    FILE *fp = tmpfile();
    ~ScratchFile() {
        if (fp) fclose(fp);
    }
    int fd() const { return fp ? fileno(fp) : -1; }

    // Everything written to the file so far, from its start.
    std::string Text() const {
        std::string text;
        char buf[4096];
        ssize_t n;
        for (off_t at = 0; fp && (n = pread(fd(), buf, sizeof buf, at)) > 0; at += n)
            text.append(buf, static_cast<size_t>(n));
        return text;
    }
};

std::string ProgramName() {
    return program_invocation_short_name;
}

std::string ChildLogPath(pid_t pid) {
    return "/tmp/" + ProgramName() + "_" + std::to_string(pid) + ".log";
}

long long NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits for child pid into ws; false when timeoutSec (0: none) ran out first.
// The naps grow from 1 ms so that a short program costs little waiting.
bool WaitWithin(pid_t pid, int timeoutSec, int &ws) {
    long long deadline = NowMs() + static_cast<long long>(timeoutSec) * 1000;
    for (int napMs = 1;; napMs = std::min(napMs * 2, 50)) {
        pid_t got = waitpid(pid, &ws, timeoutSec > 0 ? WNOHANG : 0);
        if (got == pid || (got < 0 && errno != EINTR)) return true;
        if (got == 0 && NowMs() >= deadline) return false;
        if (got == 0) usleep(static_cast<useconds_t>(napMs) * 1000);
    }
}

// Forks a child that runs body with `input` on standard input and standard
// output and error going to scratch files, and waits for it. With ownGroup
// the child leads a process group of its own, which is killed whole when
// timeoutSec (0: no limit) runs out.
ChildResult ForkCaptured(const std::function<void()> &body, const std::string &input, bool ownGroup,
                         int timeoutSec) {
    ChildResult r;
    ScratchFile in, out, err;
    if (in.fd() < 0 || out.fd() < 0 || err.fd() < 0) return r;
    if (pwrite(in.fd(), input.data(), input.size(), 0) != static_cast<ssize_t>(input.size()))
        return r;
    // Whatever the test program has buffered must not be printed twice.
    fflush(stdout);
    fflush(stderr);
    r.pid = fork();
    if (r.pid < 0) return r;
    if (r.pid == 0) {
        if (ownGroup) setpgid(0, 0);
        dup2(in.fd(), 0);
        dup2(out.fd(), 1);
        dup2(err.fd(), 2);
        for (int fd : {in.fd(), out.fd(), err.fd()})
            if (fd > 2) close(fd);
        clearerr(stdin);
        body();
        fflush(stdout);
        fflush(stderr);
        _exit(::testing::Test::HasFailure() ? 99 : 0);
    }
    if (ownGroup) setpgid(r.pid, r.pid); // also here: whichever runs first wins the race
    int ws = 0;
    if (!WaitWithin(r.pid, timeoutSec, ws)) {
        r.timedOut = true;
        kill(-r.pid, SIGKILL);
        while (waitpid(r.pid, &ws, 0) < 0 && errno == EINTR) {
        }
    }
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    r.out = out.Text();
    r.err = err.Text();
    if (r.timedOut) r.err += "\n[killed after " + std::to_string(timeoutSec) + " s]\n";
    return r;
}

} // namespace

TempDir::TempDir(const std::string &tag) {
    std::string tmpl = "/tmp/" + (tag.empty() ? ProgramName() : tag) + "-XXXXXX";
    if (mkdtemp(tmpl.data())) path = tmpl;
}

TempDir::~TempDir() {
    if (path.empty() || getenv("DORNA_TEST_KEEP") != nullptr) return;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    if (ec) fprintf(stderr, "cannot remove %s: %s\n", path.c_str(), ec.message().c_str());
}

std::string TempDir::operator/(const std::string &name) const {
    return path + "/" + name;
}

std::string ReadFile(const std::string &path) {
    std::string out;
    FILE *fp = fopen(path.c_str(), "rb");
    if (!fp) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, fp)) > 0)
        out.append(buf, n);
    fclose(fp);
    return out;
}

bool WriteFile(const std::string &path, const std::string &text) {
    FILE *fp = fopen(path.c_str(), "wb");
    if (!fp) return false;
    bool ok = fwrite(text.data(), 1, text.size(), fp) == text.size();
    return (fclose(fp) == 0) && ok;
}

bool WriteFile(const std::string &path, const std::string &text, mode_t mode) {
    return WriteFile(path, text) && chmod(path.c_str(), mode) == 0;
}

bool Exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

int Mode(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> DirEntries(const std::string &dir) {
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    while (dirent *e = d ? readdir(d) : nullptr)
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    if (d) closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

ChildResult RunChild(const std::function<void()> &body, const std::string &input) {
    ChildResult r = ForkCaptured(body, input, false, 0);
    if (r.pid > 0) unlink(ChildLogPath(r.pid).c_str());
    return r;
}

ChildResult RunProgram(const std::vector<std::string> &argv, const RunOptions &options) {
    if (argv.empty()) return {};
    return ForkCaptured(
        [&] {
            if (options.stderrTo == Stderr::IntoOut) dup2(1, 2);
            if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
            for (const std::string &e : options.env) {
                size_t eq = e.find('=');
                if (eq == std::string::npos || eq + 1 == e.size())
                    unsetenv(e.substr(0, eq).c_str());
                else
                    setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
            }
            if (options.beforeExec) options.beforeExec();
            std::vector<char *> args;
            for (const std::string &a : argv)
                args.push_back(const_cast<char *>(a.c_str()));
            args.push_back(nullptr);
            // The test program may ignore SIGPIPE; the program gets the default.
            signal(SIGPIPE, SIG_DFL);
            execvp(args[0], args.data());
            dprintf(2, "cannot run %s: %s\n", args[0], strerror(errno));
            _exit(127);
        },
        options.input, true, options.timeoutSec);
}

ChildResult RunProgram(const std::vector<std::string> &argv, const std::string &cwd,
                       const std::vector<std::string> &env, const std::string &input,
                       Stderr stderrTo) {
    return RunProgram(argv, RunOptions{cwd, env, input, stderrTo, 0, {}});
}

ChildResult Shell(const std::string &command, const std::string &cwd, const std::string &input) {
    return RunProgram({"/bin/sh", "-c", command}, cwd, {}, input);
}

bool WaitForName(pid_t pid, const std::string &name) {
    std::string comm = "/proc/" + std::to_string(pid) + "/comm";
    std::string want = name.substr(0, 15) + "\n";
    for (int i = 0; i < 2000; ++i) {
        if (ReadFile(comm) == want) return true;
        usleep(5000);
    }
    return false;
}

pid_t StartSleeper(const std::string &dir, const std::string &name, const char *seconds,
                   uid_t uid) {
    std::string path = dir + "/" + name;
    // A copy that runs already cannot be written again; it is the same program.
    std::error_code ec;
    if (!Exists(path) &&
        (!std::filesystem::copy_file("/bin/sleep", path, ec) || chmod(path.c_str(), 0755) != 0)) {
        ADD_FAILURE() << "cannot copy /bin/sleep to " << path;
        return -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        if (uid != 0 && (setgid(uid) != 0 || setuid(uid) != 0)) _exit(1);
        execl(path.c_str(), name.c_str(), seconds, static_cast<char *>(nullptr));
        _exit(127);
    }
    if (pid > 0) WaitForName(pid, name); // let it show in the process table
    return pid;
}

Sleeper::Sleeper(const std::string &dir, const std::string &name, const char *seconds)
    : pid_(StartSleeper(dir, name, seconds)) {
    running_ = pid_ > 0 && WaitForName(pid_, name);
}

Sleeper::~Sleeper() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::string UseTestLog() {
    my_name = SaveStr("%s_%d", ProgramName().c_str(), static_cast<int>(getpid()));
    flUseLog = 1;
    std::string path = ChildLogPath(getpid());
    unlink(path.c_str());
    return path;
}

TestLog::TestLog(const char *tag) {
    name = ProgramName() + "_" + tag + "_" + std::to_string(getpid());
    path = "/tmp/" + name + ".log";
    unlink(path.c_str());
}

TestLog::~TestLog() {
    unlink(path.c_str());
}

void TestLog::Use() const {
    my_name = SaveStr("%s", name.c_str());
    flUseLog = 1;
}

std::string Stored(char *text) {
    std::string s = text ? text : "(null)";
    if (text) PutMem(text);
    return s;
}

} // namespace testsupport
