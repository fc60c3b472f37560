// The one program runner of the tests and benchmarks, run on the host's
// real sh, cat, pwd, sleep and yes.
#include "TestSupport.h"

#include <csignal>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace testsupport;

// What `yes word | head -c size` writes.
std::string Yes(const std::string &word, size_t size) {
    std::string text;
    while (text.size() < size)
        text += word + "\n";
    return text.substr(0, size);
}

// True while process pid exists and is no zombie.
bool Running(pid_t pid) {
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close != std::string::npos && stat.compare(close, 4, ") Z ") != 0;
}

TEST(RunProgram, GivesEachOptionItsEffect) {
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    setenv("DORNA_RUN_GONE", "inherited", 1);
    const size_t big = 4u << 20; // far beyond what a pipe holds
    const std::string bigInput = Yes("input line", big);
    const Stderr apart = Stderr::Apart;
    struct Case {
        const char *name;
        std::vector<std::string> argv;
        RunOptions options;
        int status;
        std::string out, err;
        bool timedOut;
    };
    const Case cases[] = {
        {"exit status", {"sh", "-c", "exit 3"}, {}, 3, "", "", false},
        {"working directory", {"pwd"}, {.cwd = dir.path}, 0, dir.path + "\n", "", false},
        {"missing working directory", {"pwd"}, {.cwd = dir / "none"}, 126, "", "", false},
        {"missing program",
         {dir / "none"},
         {.stderrTo = apart},
         127,
         "",
         "cannot run " + (dir / "none") + ": No such file or directory\n",
         false},
        {"environment set",
         {"sh", "-c", "printf %s \"$DORNA_RUN_SET\""},
         {.env = {"DORNA_RUN_SET=a b=c"}},
         0,
         "a b=c",
         "",
         false},
        {"environment unset by name",
         {"sh", "-c", "printf %s \"${DORNA_RUN_GONE-unset}\""},
         {.env = {"DORNA_RUN_GONE"}},
         0,
         "unset",
         "",
         false},
        {"environment unset by empty value",
         {"sh", "-c", "printf %s \"${DORNA_RUN_GONE-unset}\""},
         {.env = {"DORNA_RUN_GONE="}},
         0,
         "unset",
         "",
         false},
        {"environment inherited",
         {"sh", "-c", "printf %s \"$DORNA_RUN_GONE\""},
         {},
         0,
         "inherited",
         "",
         false},
        {"standard input with a NUL byte",
         {"cat"},
         {.input = std::string("one\ntwo\0three", 13)},
         0,
         std::string("one\ntwo\0three", 13),
         "",
         false},
        {"standard input larger than a pipe", {"cat"}, {.input = bigInput}, 0, bigInput, "", false},
        {"standard error into output in order",
         {"sh", "-c", "echo a; echo b >&2; echo c"},
         {},
         0,
         "a\nb\nc\n",
         "",
         false},
        {"standard error apart",
         {"sh", "-c", "echo a; echo b >&2; echo c"},
         {.stderrTo = apart},
         0,
         "a\nc\n",
         "b\n",
         false},
        {"large outputs on both streams at once",
         {"sh", "-c",
          "yes out | head -c " + std::to_string(big) + " & yes err | head -c " +
              std::to_string(big) + " >&2; wait"},
         {.stderrTo = apart, .timeoutSec = 120},
         0,
         Yes("out", big),
         Yes("err", big),
         false},
        {"code run just before exec",
         {"sh", "-c", "echo \"after $DORNA_RUN_SET\""},
         {.env = {"DORNA_RUN_SET=env"}, .beforeExec = [] { (void)!write(1, "before\n", 7); }},
         0,
         "before\nafter env\n",
         "",
         false},
        {"time-out",
         {"sh", "-c", "echo started; exec sleep 30"},
         {.stderrTo = apart, .timeoutSec = 1},
         128 + SIGKILL,
         "started\n",
         "\n[killed after 1 s]\n",
         true},
    };
    for (const Case &c : cases) {
        ChildResult r = RunProgram(c.argv, c.options);
        EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.err;
        EXPECT_EQ(r.timedOut, c.timedOut) << c.name;
        EXPECT_TRUE(r.out == c.out) << c.name << ": " << r.out.size() << " bytes out\n"
                                    << r.out.substr(0, 200);
        EXPECT_TRUE(r.err == c.err) << c.name << ": " << r.err.size() << " bytes err\n"
                                    << r.err.substr(0, 200);
    }
    unsetenv("DORNA_RUN_GONE");
}

TEST(RunProgram, TimeOutKillsTheWholeProcessGroup) {
    TempDir dir;
    ChildResult r =
        RunProgram({"sh", "-c", "sleep 30 & echo $! > pid; sleep 30 & echo $! >> pid; wait"},
                   RunOptions{.cwd = dir.path, .timeoutSec = 1});
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.status, 128 + SIGKILL);
    std::vector<std::string> pids = Lines(ReadFile(dir / "pid"));
    ASSERT_EQ(pids.size(), 2u);
    for (const std::string &p : pids) {
        pid_t pid = atoi(p.c_str());
        for (int i = 0; i < 200 && Running(pid); ++i)
            usleep(10 * 1000);
        EXPECT_FALSE(Running(pid)) << "the background sleep " << p << " outlived the time-out";
    }
}

TEST(RunProgram, ABackgroundProcessHoldingTheOutputsDoesNotKeepTheCallerWaiting) {
    TempDir dir;
    ChildResult r = RunProgram({"sh", "-c", "sleep 30 & echo $! > pid; echo done"},
                               RunOptions{.cwd = dir.path, .timeoutSec = 20});
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "done\n");
    pid_t pid = atoi(ReadFile(dir / "pid").c_str());
    if (pid > 0) kill(pid, SIGKILL);
}

} // namespace
