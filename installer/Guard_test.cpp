// The running-process guard against real processes: a copy of sleep under a
// name of the test's own, found by the real ps.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "TestSupport.h"
#include "setup.h"

using testsupport::Sleeper;
using testsupport::TempDir;

namespace {

struct GuardRun {
    int result = -1;
    std::string out;
    double seconds = 0;
};

// Runs the guard in a child whose standard input holds `input`; before()
// runs in the child first.
GuardRun runGuard(const std::string &list, const std::string &input,
                  const std::function<void()> &before = nullptr) {
    auto start = std::chrono::steady_clock::now();
    testsupport::ChildResult r = testsupport::RunChild(
        [&] {
            if (before) before();
            unsetenv("LANG");
            pCurLang = nullptr;
            int result = QuitForRunningProcesses(list.c_str());
            fflush(stdout);
            _exit(result);
        },
        input);
    GuardRun g;
    g.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    g.result = r.status;
    g.out = r.out;
    return g;
}

// A program name of this test run alone (ps shows at most 15 characters).
std::string uniqueName(const char *tag) {
    return std::string("dpg") + tag + std::to_string(getpid() % 100000);
}

const std::string MENU = "Would you like to:\n"
                         "1.  Wait 30 seconds for these processes to terminate\n"
                         "2.  Quit the installation\n"
                         "\nEnter a selection:  ";

} // namespace

TEST(Guard, NothingRunningMeansNoOutputAndGoOn) {
    GuardRun g = runGuard("," + uniqueName("n") + ",", "2\n");
    EXPECT_EQ(g.result, 0);
    EXPECT_EQ(g.out, "");

    // A program whose name merely holds a watched name does not count.
    TempDir t;
    const std::string name = uniqueName("s");
    Sleeper s(t.path, name + "d", "60");
    g = runGuard("," + name + ",", "2\n");
    EXPECT_EQ(g.result, 0);
    EXPECT_EQ(g.out, "");
}

TEST(Guard, ShowsTheReportAndQuitsOnTwo) {
    TempDir t;
    const std::string name = uniqueName("q");
    Sleeper s(t.path, name, "60");
    GuardRun g = runGuard(",other," + name + ",", "2\n");
    EXPECT_EQ(g.result, 1);
    EXPECT_EQ(g.out, "\nThe following processes are running.\n"
                     "The installer can not continue until these terminate:\n" +
                         name + " ( " + std::to_string(s.pid()) + " )\n\n" + MENU);
}

TEST(Guard, AnyOtherSelectionShowsTheMenuAgain) {
    TempDir t;
    const std::string name = uniqueName("x");
    Sleeper s(t.path, name, "60");
    GuardRun g = runGuard("," + name + ",", "x\n\n\n2\n");
    EXPECT_EQ(g.result, 1);
    size_t count = 0;
    for (size_t at = g.out.find(MENU); at != std::string::npos; at = g.out.find(MENU, at + 1))
        ++count;
    EXPECT_EQ(count, 3u) << g.out; // "x", then the empty line (newline pair), then "2"
}

TEST(Guard, EndOfInputEndsTheRunWithStatusOne) {
    // Nobody chose to quit: the run ends as a failure, not as the user's quit.
    TempDir t;
    const std::string name = uniqueName("e");
    Sleeper s(t.path, name, "60");
    const std::string list = "," + name + ",";
    EXPECT_EXIT(
        {
            int fi = open("/dev/null", O_RDONLY);
            dup2(fi, 0);
            QuitForRunningProcesses(list.c_str());
            _exit(0);
        },
        testing::ExitedWithCode(1), "ERROR: no answer: standard input ended at the question");
}

TEST(Guard, WaitingEndsAsSoonAsTheProgramsAreGone) {
    TempDir t;
    const std::string name = uniqueName("w");
    // The sleeper is the guard's own child here, so that it leaves the
    // process table when it ends (its parent reaps it).
    // "12": the selection is the first character, the one after it is
    // skipped unread as the line end would be.
    GuardRun g = runGuard("," + name + ",", "12\n", [&] {
        signal(SIGCHLD, SIG_IGN); // ended children vanish at once
        testsupport::StartSleeper(t.path, name, "3");
    });
    EXPECT_EQ(g.result, 0);
    // One look after five seconds finds nothing; the menu came only once.
    EXPECT_GE(g.seconds, 5.0);
    EXPECT_LT(g.seconds, 10.0);
    EXPECT_EQ(g.out.find(MENU), g.out.rfind(MENU));
}
