// End-to-end test harness: run whole programs as root in the sandbox
// (tools/sandbox) and look at what they changed.
//
// Use, in a test of e2e/ (add it in e2e/CMakeLists.txt with
// `dorna_add_e2e_test(name sources...)`, which links this harness and makes
// the test depend on the sample site):
//
//   #include "Sandbox.h"
//
//   TEST(Setup, FreshInstallWritesTheFlagsFile) {
//     DORNA_REQUIRE_SANDBOX();              // skip with the reason; fail under CI=true
//     e2e::Sandbox box("fresh-install");    // fresh, empty upper layers
//     box.BindRo(e2e::SiteDir(), "/tmp/site");   // the sample site, read-only
//     e2e::Result r = box.Run({"/tmp/site/setup"}, "y\n");   // input on stdin
//     EXPECT_EQ(r.status, 0) << r.err;
//     EXPECT_EQ(box.ReadFile("/usr/Dorna/dpxx/.dp_cfg"), " BSD ");
//     EXPECT_TRUE(box.Changed("/var/spool/Dorna"));
//     EXPECT_TRUE(box.Removed("/usr/Dorna/dpxx/old"));     // a whiteout
//   }
//
// Inside the sandbox /usr, /var and /etc are copy-on-write overlays whose
// upper layers the Sandbox object reads afterwards (Changed, Removed,
// ReadFile, Changes); /tmp, /run and /dev/shm are fresh tmpfs; `ps` sees only
// the sandbox's processes; the rest of the host is read-only. Everything a run
// leaves running is killed when its command ends.
//
// Lifecycle: the upper layers live in a directory under ScratchDir() made by
// the constructor and removed by the destructor (kept when the environment
// holds DORNA_E2E_KEEP=1, for a look after a failure). Successive Run calls on
// one Sandbox share those layers, so a second run sees what the first left in
// /usr, /var and /etc (an upgrade after a fresh installation), but /tmp is
// fresh for every run: keep files that must survive under /var or /usr.
// Options (Bind, Env, Chdir, ...) apply to every later Run of the object.
//
// Commands that need no sandbox run through RunHost. Interactive programs run
// on a real terminal through Terminal (a tmux server of their own):
//
//   e2e::Terminal term(e2e::ShellQuote(e2e::SandboxTool()) + " " + box.Upper() +
//                      " /tmp/site/setup");
//   ASSERT_TRUE(term.WaitFor("Agree (y) / Disagree (n)?")) << term.Screen();
//   term.Type("y");
//   term.Press("Enter");
//
// No function here throws or exits; failures show in Result::status and
// Result::err, or in a false result.
#pragma once

#include <string>
#include <vector>

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace e2e {

// What a finished command left: its status (128 + N when killed by signal
// N, -1 when it could not start), whether the time limit ended it, and
// everything it wrote (the sandbox's own messages included in err).
using Result = testsupport::ChildResult;

// The sandbox script, the sample site built by the `site` target, and the
// directory under which upper layers and other scratch files are made (under
// /tmp unless the build names another; the sandbox hides it from the
// command it runs).
const char *SandboxTool();
const char *SiteDir();
const char *ScratchDir();

// Makes ScratchDir() (mode 755) when it is missing; empty when it is a
// directory of this user that no one else can write, else what is wrong.
std::string MakeScratchDir();

// True when the environment holds CI=true.
bool UnderCI();

// Empty when sandboxes can be made here, else the reason. Asked once per process.
const std::string &SandboxUnavailableReason();

// Runs argv on the host (PATH search for argv[0]) through
// testsupport::RunProgram, input on standard input, standard error apart,
// killed (with its process group) after timeoutSec seconds.
Result RunHost(const std::vector<std::string> &argv, const std::string &input = "",
               int timeoutSec = 120);

// Reads a whole host file; empty when it cannot be read.
inline std::string ReadHostFile(const std::string &path) {
    return testsupport::ReadFile(path);
}

class Sandbox {
  public:
    // Makes fresh upper layers under ScratchDir(); `name` keeps them apart
    // from other tests' and names them in failure messages.
    explicit Sandbox(const std::string &name);
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    // Options for every later Run.
    void Bind(const std::string &src, const std::string &dst = "");   // read-write
    void BindRo(const std::string &src, const std::string &dst = ""); // read-only
    void Overlay(const std::string &dir);   // one more overlaid host directory (/opt, /home)
    void Env(const std::string &nameValue); // "LANG=de_DE"
    void Unset(const std::string &name);
    void Chdir(const std::string &dir);
    void HostRw(); // leave the rest of the host writable
    void Net();    // a network of its own, loopback only (daemons on their usual ports)
    // Let the command mount file systems (a small tmpfs that runs out of
    // room); without it the command cannot change mounts.
    void AllowMounts();

    // Runs argv as root in the sandbox with input on standard input.
    Result Run(const std::vector<std::string> &argv, const std::string &input = "",
               int timeoutSec = 300);
    // The shell command line that runs argv as Run would, for a Terminal.
    std::string CommandLine(const std::vector<std::string> &argv) const;
    // Runs a shell script (sh -c) in the sandbox.
    Result Sh(const std::string &script, const std::string &input = "", int timeoutSec = 300);

    // The directory holding the upper layers (usr, var, etc, ...).
    const std::string &Upper() const { return upper_; }
    // Host path of the upper-layer copy of an absolute path seen inside ("/usr/x").
    std::string UpperPath(const std::string &path) const;
    // True when the run created, changed or removed the path (it is in an upper layer).
    bool Changed(const std::string &path) const;
    // True when the path was removed (the upper layer holds a whiteout).
    bool Removed(const std::string &path) const;
    // Content of the path as the runs left it; empty when not in an upper layer.
    std::string ReadFile(const std::string &path) const;
    // Permission bits (07777) of the path in the upper layer; -1 when absent.
    int Mode(const std::string &path) const;
    // Every path in the upper layers, sorted, as seen inside; removed paths
    // end in " (removed)".
    std::vector<std::string> Changes() const;

  private:
    std::string upper_;
    std::vector<std::string> options_;
    std::vector<std::string> overlays_;
};

// The text as one word for sh (SysShellWord): a plain word as it stands,
// anything else single-quoted ('it'\''s' for it's).
std::string ShellQuote(const std::string &text);

// A piece of sh that waits (up to ten seconds) until a process runs under the
// command name, for a test that has just started it in the background; a
// fixed sleep is too short on a busy machine.
std::string WaitForProcess(const std::string &name);

// True when text holds part.
using testsupport::Contains;

// The lines of text without their line ends.
using testsupport::Lines;

// One call as a program of the sample site records it (site/programs): the
// program, its arguments (argv[0] first), working directory, "<real>
// <effective>" user ids, print variables ("NAME=value"), the "stdin" value and
// the exit status, each text as the record holds it (escaped).
struct Call {
    std::string program;
    std::vector<std::string> args;
    std::string cwd, uid, stdinLine, status;
    std::vector<std::string> env;
};

// The calls recorded in the text of a program's call log, oldest first.
std::vector<Call> Calls(const std::string &log);

// A command line run by sh on a terminal of its own (a private tmux server),
// for programs that read the terminal. When the command line ends, the
// terminal shows "[exited N]" with its status and keeps its screen. The
// destructor ends the server and with it the program.
class Terminal {
  public:
    Terminal(const std::string &commandLine, int width = 80, int height = 24);
    ~Terminal();
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    // True when the terminal and its program started.
    bool Started() const { return started_; }
    // Types text as it stands.
    void Type(const std::string &text);
    // Presses a named key: "Enter", "Escape", "Up", "C-c", ...
    void Press(const std::string &key);
    // The screen now, trailing blanks of each line removed.
    std::string Screen();
    // Waits until the screen shows text; false after timeoutMs.
    bool WaitFor(const std::string &text, int timeoutMs = 10000);
    // Gives the terminal a new size (the program gets SIGWINCH).
    void Resize(int width, int height);

  private:
    std::string socket_;
    bool started_ = false;
};

} // namespace e2e

// Skips the calling test when sandboxes cannot be made here, naming the
// reason; under CI=true the test fails instead. Use at the top of a TEST body.
#define DORNA_REQUIRE_SANDBOX()                                                                    \
    do {                                                                                           \
        const std::string &dorna_why_ = ::e2e::SandboxUnavailableReason();                         \
        if (!dorna_why_.empty()) {                                                                 \
            if (::e2e::UnderCI())                                                                  \
                FAIL() << "the sandbox is required under CI=true: " << dorna_why_;                 \
            GTEST_SKIP() << dorna_why_;                                                            \
        }                                                                                          \
    } while (0)

// Skips the calling test when the host lacks a program that a test runs in
// the sandbox (which sees the host's /usr): a print system's daemon or
// client. Under CI=true, which installs them, the test fails instead.
#define DORNA_REQUIRE_HOST_PROGRAM(path)                                                           \
    do {                                                                                           \
        if (access(path, X_OK) != 0) {                                                             \
            if (::e2e::UnderCI()) FAIL() << path << " is required under CI=true";                  \
            GTEST_SKIP() << path << " is not installed";                                           \
        }                                                                                          \
    } while (0)
