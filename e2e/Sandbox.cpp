// End-to-end test harness: commands run on the host or in the sandbox, the
// sandbox's upper layers read back, programs on a terminal of their own.
// See Sandbox.h.
#include "Sandbox.h"

#include "SysCmd.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <dirent.h>

namespace e2e {

namespace {

struct HarnessState {
    int sandboxes = 0; // Sandbox objects made by this process: keeps upper dirs apart
    int terminals = 0; // Terminal objects made by this process: keeps tmux servers apart
};
HarnessState state;

long long NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool IsWhiteout(const struct stat &st) {
    return S_ISCHR(st.st_mode) && major(st.st_rdev) == 0 && minor(st.st_rdev) == 0;
}

// Collects every entry below host directory `dir`, named as `shown` inside.
void Walk(const std::string &dir, const std::string &shown, std::vector<std::string> &out) {
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return;
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string host = dir + "/" + name;
        std::string inner = shown + "/" + name;
        struct stat st {};
        if (lstat(host.c_str(), &st) != 0) continue;
        if (IsWhiteout(st)) {
            out.push_back(inner + " (removed)");
            continue;
        }
        out.push_back(inner);
        if (S_ISDIR(st.st_mode)) Walk(host, inner, out);
    }
    closedir(d);
}

} // namespace

const char *SandboxTool() {
    return DORNA_SANDBOX;
}
const char *SiteDir() {
    return DORNA_SITE_DIR;
}
const char *ScratchDir() {
    return DORNA_E2E_SCRATCH;
}

bool UnderCI() {
    const char *ci = getenv("CI");
    return ci != nullptr && strcmp(ci, "true") == 0;
}

std::string MakeScratchDir() {
    const char *dir = ScratchDir();
    if (mkdir(dir, 0755) == 0) chmod(dir, 0755); // reachable for the tests run as another user
    struct stat st {};
    if (lstat(dir, &st) != 0) return std::string("cannot create ") + dir + ": " + strerror(errno);
    // It usually lies in the shared /tmp: one planted by another user would
    // let that user change what the tests see.
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 022) != 0)
        return std::string("the scratch directory ") + dir +
               " is not a directory of this user that only this user can write";
    return "";
}

const std::string &SandboxUnavailableReason() {
    static std::string why;
    static bool asked = false;
    if (!asked) {
        asked = true;
        why = MakeScratchDir();
        if (!why.empty()) return why;
        Result r = RunHost({SandboxTool(), "--check", ScratchDir()}, "", 60);
        if (r.status != 0) {
            why = r.out + r.err;
            if (why.empty()) why = "sandbox --check failed with status " + std::to_string(r.status);
            while (!why.empty() && why.back() == '\n')
                why.pop_back();
        }
    }
    return why;
}

Result RunHost(const std::vector<std::string> &argv, const std::string &input, int timeoutSec) {
    return testsupport::RunProgram(argv,
                                   testsupport::RunOptions{.input = input,
                                                           .stderrTo = testsupport::Stderr::Apart,
                                                           .timeoutSec = timeoutSec});
}

Sandbox::Sandbox(const std::string &name) : overlays_{"/usr", "/var", "/etc"} {
    MakeScratchDir();
    upper_ = std::string(ScratchDir()) + "/" + name + "." + std::to_string(getpid()) + "." +
             std::to_string(++state.sandboxes);
    // Leftovers of an earlier process with the same pid would falsify Changes().
    RunHost({SandboxTool(), "--clean", upper_}, "", 60);
    mkdir(upper_.c_str(), 0755);
}

Sandbox::~Sandbox() {
    const char *keep = getenv("DORNA_E2E_KEEP");
    if (keep != nullptr && strcmp(keep, "1") == 0) return;
    RunHost({SandboxTool(), "--clean", upper_}, "", 60);
}

void Sandbox::Bind(const std::string &src, const std::string &dst) {
    options_.insert(options_.end(), {"--bind", dst.empty() ? src : src + ":" + dst});
}

void Sandbox::BindRo(const std::string &src, const std::string &dst) {
    options_.insert(options_.end(), {"--ro-bind", dst.empty() ? src : src + ":" + dst});
}

void Sandbox::Overlay(const std::string &dir) {
    options_.insert(options_.end(), {"--overlay", dir});
    overlays_.push_back(dir);
}

void Sandbox::Env(const std::string &nameValue) {
    options_.insert(options_.end(), {"--env", nameValue});
}

void Sandbox::Unset(const std::string &name) {
    options_.insert(options_.end(), {"--unset", name});
}

void Sandbox::Chdir(const std::string &dir) {
    options_.insert(options_.end(), {"--chdir", dir});
}

void Sandbox::HostRw() {
    options_.push_back("--host-rw");
}

void Sandbox::Net() {
    options_.push_back("--net");
}

void Sandbox::AllowMounts() {
    options_.push_back("--allow-mounts");
}

Result Sandbox::Run(const std::vector<std::string> &argv, const std::string &input,
                    int timeoutSec) {
    std::vector<std::string> words{SandboxTool()};
    words.insert(words.end(), options_.begin(), options_.end());
    words.push_back(upper_);
    words.push_back("--");
    words.insert(words.end(), argv.begin(), argv.end());
    return RunHost(words, input, timeoutSec);
}

std::string Sandbox::CommandLine(const std::vector<std::string> &argv) const {
    std::string line = ShellQuote(SandboxTool());
    for (const std::string &option : options_)
        line += " " + ShellQuote(option);
    line += " " + ShellQuote(upper_) + " --";
    for (const std::string &word : argv)
        line += " " + ShellQuote(word);
    return line;
}

Result Sandbox::Sh(const std::string &script, const std::string &input, int timeoutSec) {
    return Run({"/bin/sh", "-c", script}, input, timeoutSec);
}

std::string Sandbox::UpperPath(const std::string &path) const {
    return upper_ + path;
}

bool Sandbox::Changed(const std::string &path) const {
    struct stat st {};
    return lstat(UpperPath(path).c_str(), &st) == 0;
}

bool Sandbox::Removed(const std::string &path) const {
    struct stat st {};
    return lstat(UpperPath(path).c_str(), &st) == 0 && IsWhiteout(st);
}

std::string Sandbox::ReadFile(const std::string &path) const {
    return ReadHostFile(UpperPath(path));
}

int Sandbox::Mode(const std::string &path) const {
    struct stat st {};
    if (lstat(UpperPath(path).c_str(), &st) != 0 || IsWhiteout(st)) return -1;
    return static_cast<int>(st.st_mode & 07777);
}

std::vector<std::string> Sandbox::Changes() const {
    std::vector<std::string> all;
    for (const std::string &dir : overlays_)
        Walk(upper_ + dir, dir, all);
    std::sort(all.begin(), all.end());
    return all;
}

std::string ShellQuote(const std::string &text) {
    // The project's one quoter; a plain word stays as it stands.
    return SysShellWord(text.c_str(), false);
}

std::string WaitForProcess(const std::string &name) {
    return "i=0; until ps -e -o comm= | grep -qx " + ShellQuote(name) +
           " || [ $i -ge 200 ]; do sleep 0.05; i=$((i+1)); done";
}

std::vector<Call> Calls(const std::string &log) {
    std::vector<Call> calls;
    for (const std::string &line : Lines(log)) {
        std::string key = line.substr(0, line.find(' '));
        std::string value = line.size() > key.size() ? line.substr(key.size() + 1) : "";
        if (key == "call") calls.push_back(Call{value, {}, "", "", "", "", {}});
        if (calls.empty()) continue;
        Call &c = calls.back();
        if (key == "arg")
            c.args.push_back(value);
        else if (key == "cwd")
            c.cwd = value;
        else if (key == "uid")
            c.uid = value;
        else if (key == "env")
            c.env.push_back(value);
        else if (key == "stdin")
            c.stdinLine = value;
        else if (key == "status")
            c.status = value;
    }
    return calls;
}

Terminal::Terminal(const std::string &commandLine, int width, int height) {
    socket_ = "dorna-e2e-" + std::to_string(getpid()) + "-" + std::to_string(++state.terminals);
    // The shell stays after the program so that its last screen and its
    // status can still be read.
    std::string line = "(" + commandLine + ")\nprintf '\\n[exited %d]\\n' \"$?\"; exec sleep 86400";
    Result r = RunHost({"tmux", "-L", socket_, "-f", "/dev/null", "new-session", "-d", "-x",
                        std::to_string(width), "-y", std::to_string(height), line},
                       "", 30);
    started_ = r.status == 0;
}

Terminal::~Terminal() {
    RunHost({"tmux", "-L", socket_, "kill-server"}, "", 30);
}

void Terminal::Type(const std::string &text) {
    RunHost({"tmux", "-L", socket_, "send-keys", "-l", text}, "", 30);
}

void Terminal::Press(const std::string &key) {
    RunHost({"tmux", "-L", socket_, "send-keys", key}, "", 30);
}

void Terminal::Resize(int width, int height) {
    RunHost({"tmux", "-L", socket_, "resize-window", "-x", std::to_string(width), "-y",
             std::to_string(height)},
            "", 30);
}

std::string Terminal::Screen() {
    return RunHost({"tmux", "-L", socket_, "capture-pane", "-p"}, "", 30).out;
}

bool Terminal::WaitFor(const std::string &text, int timeoutMs) {
    long long deadline = NowMs() + timeoutMs;
    do {
        if (Screen().find(text) != std::string::npos) return true;
        usleep(50 * 1000);
    } while (NowMs() < deadline);
    return false;
}

} // namespace e2e
