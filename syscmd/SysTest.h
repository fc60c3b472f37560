// Helpers of the command layer's tests: scratch directories, files, and test
// bodies run in child processes (the command table and the log's flags are
// process-wide). Defined in SysCmd_test.cpp.
#ifndef DORNA_SYSTEST_H
#define DORNA_SYSTEST_H

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>
#include <sys/wait.h>

namespace systest {

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &text, mode_t mode);
bool Exists(const std::string &path);
// The output lines (newlines kept) of a command line run by the host's sh.
std::vector<std::string> CommandLines(const std::string &cmd);

// A scratch directory under /tmp, removed with its contents at the end.
struct TempDir {
  std::string path;
  TempDir();
  ~TempDir();
  std::string operator/(const std::string &name) const;
};

struct ChildResult {
  int status = -1;  // raw wait status
  std::string out;  // what the child wrote on stdout
  std::string err;  // what the child wrote on stderr
  int ExitCode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};

// Runs body in a forked child with stdout and stderr captured. The child exits
// 0 unless body ends it or a gtest expectation inside it failed (status 99).
// The log a child made with UseTestLog is removed afterwards.
ChildResult RunChild(const std::function<void()> &body);

// Gives the calling process a log of its own, /tmp/syscmd_test_<pid>.log,
// and switches the log on. Returns the log's path.
std::string UseTestLog();

}  // namespace systest

// Expects a clean exit of a child, showing its output otherwise.
#define EXPECT_CHILD_OK(r) \
  EXPECT_EQ((r).ExitCode(), 0) << "stdout:\n" << (r).out << "\nstderr:\n" << (r).err

#endif  // DORNA_SYSTEST_H
