// Plain command lines start their program directly, every other line goes to
// the shell, and nothing a run shows differs between the two: each line of
// the table runs once as the layer chooses and once forced through the shell
// (flSysCmdShell), in the same directory, and the log, the status, the
// output and the files it leaves must be the same bytes.

#include "SysCmd.h"

#include "MemMgr.h"
#include "SysTest.h"
#include "utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace systest;

namespace {

// Who started the program, as far as a test can see it.
enum class Via {
    Direct, // no shell ran for it
    Shell,  // the shell of row 31 ran
    Any,    // a whole line (rows 0 and 1) needs no shell of row 31 either way
};

struct Case {
    const char *what;
    int row;
    int mode;
    std::string text;
    Via via;
    bool sortLog = false; // compare the log's lines as sets (an environment's order)
    std::function<void(const std::string &work)> prepare = nullptr; // in the child
};

// What one run left.
struct RunResult {
    int status = -1;
    std::string out, err, log, files;
    bool shellRan = false;
};

// Every entry below dir with its kind, permission bits and content.
std::string Snapshot(const std::string &dir, const std::string &prefix = "") {
    std::string s;
    for (const std::string &name : DirEntries(dir)) {
        std::string path = dir + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        char mode[16];
        snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        s += prefix + name + " " + mode;
        if (S_ISDIR(st.st_mode)) {
            s += " dir\n" + Snapshot(path, prefix + name + "/");
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            ssize_t n = readlink(path.c_str(), target, sizeof target);
            s += " -> " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0) + "\n";
        } else {
            s += " [" + ReadFile(path) + "]\n";
        }
    }
    return s;
}

std::string SortedLines(const std::string &text) {
    std::vector<std::string> lines = Lines(text);
    std::sort(lines.begin(), lines.end());
    std::string s;
    for (const std::string &l : lines)
        s += l + "\n";
    return s;
}

// Runs one case in a child of its own, in a fresh work directory t/work that
// holds a file "a" and a file "x.txt", with row 31 pointing at a stand-in
// shell that notes that it ran and then becomes the host's sh.
RunResult RunCase(const TempDir &t, const Case &c, bool forceShell) {
    std::string work = t / "work", mark = t / "shell-ran", saved = t / "saved-log";
    Shell("rm -rf " + work + " " + mark + " " + saved + " && mkdir " + work);
    WriteFile(work + "/a", "data\n", 0640);
    WriteFile(work + "/x.txt", "x\n", 0644);
    std::string shdir = t / "shdir";
    mkdir(shdir.c_str(), 0755);
    WriteFile(shdir + "/sh", "#!/bin/sh\necho >>" + mark + "\nexec /bin/sh \"$@\"\n", 0755);

    RunResult run;
    ChildResult r = RunChild([&] {
        if (chdir(work.c_str()) != 0) FAIL();
        setenv("PWD", work.c_str(), 1);
        std::string log = UseTestLog();
        InitSysCmdList();
        ComList[CMD_SH].path = SaveStr_(shdir.c_str());
        flSysCmdShell = forceShell;
        if (c.prepare) c.prepare(work);
        int status = SysCmd(c.row, c.mode, "%s", c.text.c_str());
        fflush(stdout);
        WriteFile(saved, std::to_string(status) + "\n" + ReadFile(log));
    });
    EXPECT_CHILD_OK(r);
    std::string saveText = ReadFile(saved);
    size_t nl = saveText.find('\n');
    run.status = nl == std::string::npos ? -1 : atoi(saveText.substr(0, nl).c_str());
    run.log = nl == std::string::npos ? "" : saveText.substr(nl + 1);
    run.out = r.out;
    run.err = r.err;
    run.files = Snapshot(work);
    run.shellRan = Exists(mark);
    return run;
}

// A preparation that starts a helper which, once a process named sleep runs
// below the caller (directly or under a shell), sends it sig.
std::function<void(const std::string &)> KillSleepSoon(int sig) {
    return [sig](const std::string &) {
        pid_t caller = getpid();
        if (fork() != 0) return;
        for (int tries = 0; tries < 2000; ++tries) {
            std::vector<std::string> pids = DirEntries("/proc");
            for (const std::string &p : pids) {
                pid_t pid = atoi(p.c_str());
                if (pid <= 0 || ReadFile("/proc/" + p + "/comm") != "sleep\n") continue;
                // Walk up to the caller through at most a few shells.
                pid_t up = pid;
                for (int depth = 0; depth < 4 && up > 1 && up != caller; ++depth) {
                    std::string stat = ReadFile("/proc/" + std::to_string(up) + "/stat");
                    size_t close = stat.rfind(')');
                    up = close == std::string::npos ? 0 : atoi(stat.c_str() + close + 4);
                }
                if (up == caller) {
                    kill(pid, sig);
                    _exit(0);
                }
            }
            usleep(5000);
        }
        _exit(1);
    };
}

std::string Word(const char *text) {
    return SysShellWord(text, true);
}

std::string Tool(const char *name) {
    return HostDirOf(name) + "/" + name;
}

TEST(SysCmdDirect, EveryLineLeavesTheSameLogStatusOutputAndFilesAsThroughTheShell) {
    TempDir t;
    // A row whose program is missing: resolved to a directory without it.
    auto missingVolcheck = [&](const std::string &) {
        ComList[CMD_VOLCHECK].path = SaveStr_((t / "nowhere").c_str());
    };
    std::string catBoth;
    for (int i = 0; i < 300; ++i)
        catBoth += "a missing ";
    std::string loud = "i=0; while [ $i -lt 3000 ]; do echo out $i; echo err $i >&2; "
                       "i=$((i+1)); done";
    const Case cases[] = {
        {"plain words", CMD_CP, RUN_WARN, "a b", Via::Direct},
        {"the caller's text empty", CMD_ID, RUN_WARN, "", Via::Direct},
        {"a quoted word with blanks", CMD_TOUCH, RUN_WARN, Word("two words"), Via::Direct},
        {"a quote inside a word", CMD_TOUCH, RUN_WARN, Word("it's") + " " + Word("''"),
         Via::Direct},
        {"dollar, backquote, double quote and backslash inside quotes", CMD_TOUCH, RUN_WARN,
         Word("$HOME `id` $(id) \"q\" back\\slash"), Via::Direct},
        {"globs inside quotes", CMD_TOUCH, RUN_WARN, Word("*.txt") + " " + Word("[ax]?txt"),
         Via::Direct},
        {"a newline and a tab inside quotes", CMD_ECHO, RUN_FATAL, Word("line one\nline\ttwo"),
         Via::Direct},
        {"empty words", CMD_LINE, RUN_WARN, Tool("printf") + " '[%s]\\n' '' x ''", Via::Any},
        {"a whole line quoted in parts", CMD_LINE, RUN_WARN,
         Tool("echo") + " a'b c'd 'it'\\''s' \"\"", Via::Any},
        {"the caller's own redirection", -CMD_CAT, RUN_FATAL, "a >> b", Via::Shell},
        {"a pipe in a whole line", CMD_LINE, RUN_WARN,
         Tool("echo") + " one | " + Tool("tr") + " o 0", Via::Any},
        {"an unquoted glob", CMD_ECHO, RUN_WARN, "*.txt", Via::Shell},
        {"a variable", CMD_ECHO, RUN_WARN, "$HOME", Via::Shell},
        {"two commands", CMD_ECHO, RUN_WARN, "one; " + Tool("echo") + " two", Via::Shell},
        {"double quotes end and open the shell's quote", CMD_ECHO, RUN_WARN, "'a\"b\"c'",
         Via::Shell},
        {"a program that exits 1", CMD_CAT, RUN_WARN, "missing", Via::Direct},
        {"a program that exits 1 in mode 0", CMD_CAT, RUN_SILENT, "missing", Via::Direct},
        {"a quiet call keeps the caller's streams", -CMD_CAT, RUN_WARN, "a missing", Via::Direct},
        {"a program killed by a signal", CMD_SLEEP, RUN_WARN, "30", Via::Direct, false,
         KillSleepSoon(SIGTERM)},
        {"a program killed by a signal in mode 0", CMD_SLEEP, RUN_SILENT, "30", Via::Direct, false,
         KillSleepSoon(SIGKILL)},
        {"a program killed by a signal, quietly", -CMD_SLEEP, RUN_WARN, "30", Via::Direct, false,
         KillSleepSoon(SIGKILL)},
        {"a program ended by a broken pipe", CMD_SLEEP, RUN_WARN, "30", Via::Direct, false,
         KillSleepSoon(SIGPIPE)},
        {"a program that dumps core", CMD_SLEEP, RUN_WARN, "30", Via::Direct, false,
         KillSleepSoon(SIGABRT)},
        {"a whole line killed by a signal", CMD_LINE, RUN_WARN, Tool("sh") + " -c 'kill -9 $$'",
         Via::Any},
        {"a shell run by a row, killed by a signal", CMD_SH, RUN_WARN,
         "-c " + Word("kill -TERM $$"), Via::Any},
        {"a missing program", CMD_VOLCHECK, RUN_WARN, "x", Via::Shell, false, missingVolcheck},
        {"a missing program on a whole line", CMD_LINE, RUN_WARN, (t / "nowhere") + "/prog x",
         Via::Any},
        {"a file that is no program", CMD_LINE, RUN_WARN, (t / "work") + "/a", Via::Any},
        {"much output on both streams, interleaved", CMD_LINE, RUN_WARN,
         Tool("sh") + " -c '" + loud + "'", Via::Any},
        {"both streams of one program, interleaved", CMD_CAT, RUN_WARN, catBoth, Via::Direct},
        {"the environment, PWD kept", CMD_LINE, RUN_WARN, Tool("env"), Via::Any, true},
        {"the environment, PWD stale", CMD_LINE, RUN_WARN, Tool("env"), Via::Any, true,
         [](const std::string &) { setenv("PWD", "/", 1); }},
        {"the environment, PWD missing", CMD_LINE, RUN_WARN, Tool("env"), Via::Any, true,
         [](const std::string &) { unsetenv("PWD"); }},
        {"an environment the shell changes", CMD_LINE, RUN_WARN, Tool("env"), Via::Any, true,
         [](const std::string &) { setenv("IFS", ":", 1); }},
        {"signal dispositions and mask", CMD_LINE, RUN_WARN,
         Tool("grep") + " -E '^Sig(Ign|Blk)' /proc/self/status", Via::Any, false,
         [](const std::string &) {
             signal(SIGUSR1, SIG_IGN);
             signal(SIGINT, SIG_IGN);
             sigset_t set;
             sigemptyset(&set);
             sigaddset(&set, SIGUSR2);
             sigprocmask(SIG_BLOCK, &set, nullptr);
         }},
        {"the working directory", CMD_LINE, RUN_WARN, Tool("pwd"), Via::Any},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RunResult direct = RunCase(t, c, false);
        RunResult shell = RunCase(t, c, true);
        EXPECT_EQ(direct.status, shell.status);
        if (c.sortLog) {
            EXPECT_EQ(SortedLines(direct.log), SortedLines(shell.log));
        } else {
            EXPECT_EQ(direct.log, shell.log);
        }
        EXPECT_EQ(direct.out, shell.out);
        EXPECT_EQ(direct.err, shell.err);
        EXPECT_EQ(direct.files, shell.files);
        EXPECT_TRUE(shell.shellRan || c.row < CMD_CANCEL);
        if (c.via != Via::Any) {
            EXPECT_EQ(direct.shellRan, c.via == Via::Shell);
        }
    }
}

} // namespace
