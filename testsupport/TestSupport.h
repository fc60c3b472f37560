// Helpers for the tests of every module: scratch directories, whole-file
// reads and writes, test bodies run in a child process with their output
// captured, programs run with a chosen working directory, environment and
// standard input, stand-in processes under a chosen command name, and a log
// private to one test.
//
// Process-wide state (the tokenizer, the memory manager's chain, the log's
// flags, the command table) outlives a test, so a test that needs a pristine
// process runs its body through RunChild:
//
//   ChildResult r = RunChild([&] { printf("%d", CreateTextFile(bad, "w", 0, "x")); });
//   EXPECT_EQ(r.out, "0");
//   EXPECT_CHILD_OK(r);
//
// Nothing here throws; a helper that cannot do its work says so in its result
// (an empty path or text, false, status -1).
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

#include <gtest/gtest.h>

namespace testsupport {

// A fresh directory /tmp/<tag>-XXXXXX (the tag defaults to the test
// program's name), removed with its contents at the end; kept when the
// environment holds DORNA_TEST_KEEP, for a look after a failure. The path
// holds only letters, digits, '-', '_' and '/' when the tag does. `path` is
// empty when the directory could not be made.
struct TempDir {
    std::string path;

    explicit TempDir(const std::string &tag = "");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    // The path of name inside the directory.
    std::string operator/(const std::string &name) const;
};

// The whole content of a file; empty when it cannot be read.
std::string ReadFile(const std::string &path);
// Replaces the content of a file (making it when missing); false on failure.
// The second form then sets the permission bits to mode.
bool WriteFile(const std::string &path, const std::string &text);
bool WriteFile(const std::string &path, const std::string &text, mode_t mode);
// True when the path names anything, a dangling symbolic link included.
bool Exists(const std::string &path);
// Permission bits (07777) of the path itself (a link is not followed); -1 when absent.
int Mode(const std::string &path);
// True when text holds part.
bool Contains(const std::string &text, const std::string &part);
// The lines of text without their line ends; a last line without one counts.
std::vector<std::string> Lines(const std::string &text);
// The names in a directory but "." and "..", sorted; empty when it cannot be read.
std::vector<std::string> DirEntries(const std::string &dir);

// What a child process or program left.
struct ChildResult {
    int status = -1;       // exit status, 128 + N when killed by signal N, -1 when it did not start
    bool timedOut = false; // killed with its process group when the time limit ran out
    std::string out;       // standard output (and standard error for Stderr::IntoOut)
    std::string err;       // standard error
    pid_t pid = -1;        // the child's process id
};

// Runs body in a forked child with `input` on standard input and standard
// output and error captured. The child exits 0 when body returns, or 99 when
// a test expectation inside it failed (its message is then in out); body may
// also end the child itself. The log the child made with UseTestLog is
// removed afterwards.
ChildResult RunChild(const std::function<void()> &body, const std::string &input = "");

// Where RunProgram puts the program's standard error.
enum class Stderr { IntoOut, Apart };

// How RunProgram runs a program; every field may be left at its default.
struct RunOptions {
    std::string cwd{};              // working directory; empty: the current one
    std::vector<std::string> env{}; // "NAME=value" sets NAME; "NAME" or "NAME=" removes it
    std::string input{};            // the whole of standard input
    Stderr stderrTo = Stderr::IntoOut;
    int timeoutSec = 0; // past it the program's process group is killed; 0: no limit
    // Runs in the child just before exec, after cwd and env took effect (a
    // test that plants a file under a name holding the program's pid).
    std::function<void()> beforeExec{};
};

// The one way tests and benchmarks run a program: argv (argv[0] a path, or a
// name looked up in PATH) in a process group of its own, so that a time-out
// ends everything it started. Standard input, output and error are unnamed
// scratch files, not pipes: outputs of any size on both streams cannot fill a
// pipe and stall the program, and a background process the program leaves
// behind holding them cannot keep the caller waiting. Status 126 means cwd
// could not be entered, 127 that argv[0] could not run (its reason on
// standard error). On time-out, timedOut is set and err ends with a line
// saying so.
ChildResult RunProgram(const std::vector<std::string> &argv, const RunOptions &options);
// The common case in short: no time limit.
ChildResult RunProgram(const std::vector<std::string> &argv, const std::string &cwd = "",
                       const std::vector<std::string> &env = {}, const std::string &input = "",
                       Stderr stderrTo = Stderr::IntoOut);

// Runs a command line with /bin/sh in cwd; see RunProgram.
ChildResult Shell(const std::string &command, const std::string &cwd = "/",
                  const std::string &input = "");

// Waits (up to ten seconds) until process pid runs under the command name
// name, that is until its exec has happened: before that, the process table
// shows the test program's name. Names are cut at 15 characters there.
bool WaitForName(pid_t pid, const std::string &name);

// Starts a child of the caller that sleeps `seconds` under the command name
// `name` (a copy of sleep made in dir when it is not there yet), as user uid
// when that is not 0, and waits until it shows under that name. Returns its
// process id, or -1 (a test failure) when sleep could not be copied.
pid_t StartSleeper(const std::string &dir, const std::string &name, const char *seconds,
                   uid_t uid = 0);

// A running process named `name` (a copy of sleep made in dir) that sleeps
// `seconds`; killed when the object ends.
class Sleeper {
  public:
    Sleeper(const std::string &dir, const std::string &name, const char *seconds);
    ~Sleeper();
    Sleeper(const Sleeper &) = delete;
    Sleeper &operator=(const Sleeper &) = delete;
    pid_t pid() const { return pid_; }
    // True once the process shows under its name.
    bool running() const { return running_; }

  private:
    pid_t pid_ = -1;
    bool running_ = false;
};

// Gives the calling process (a RunChild child) a log of its own,
// /tmp/<test program>_<pid>.log, and switches the log on; RunChild removes
// it when the child is gone. Returns the log's path.
std::string UseTestLog();

// A log name private to one test, and the log path that goes with it; the
// log is removed when the object ends.
struct TestLog {
    std::string name;
    std::string path;
    explicit TestLog(const char *tag);
    ~TestLog();
    TestLog(const TestLog &) = delete;
    TestLog &operator=(const TestLog &) = delete;
    // Switches the log on under this name (in the child).
    void Use() const;
};

// Takes a stored string (SaveStr and the like): returns its text, "(null)"
// for none, and gives the block back.
std::string Stored(char *text);

} // namespace testsupport

// Expects a child that exited 0, showing its output otherwise.
#define EXPECT_CHILD_OK(r)                                                                         \
    EXPECT_EQ((r).status, 0) << "stdout:\n" << (r).out << "\nstderr:\n" << (r).err
