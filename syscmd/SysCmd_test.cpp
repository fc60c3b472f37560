// Tests of the command table, its resolution and command execution. They run
// the host's real shell and tools. The table, the log's first-message flag and
// the environment are process-wide, so every test body runs in a child
// process of its own (RunChild, EXPECT_EXIT).

#include "SysCmd.h"

#include "MemMgr.h"
#include "SysTest.h"
#include "utils.h"

#include <gtest/gtest.h>

#include <csignal>

#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace systest;

namespace {

struct RowSpec {
    int row;    // the row's name in code
    int number; // its place in the table, which never changes
    const char *name;
    const char *flags;
    int delay;
};

// The whole table, as stored, each row under the name that code uses for it.
const RowSpec kTable[] = {
    {CMD_LINE_QUIET, 0, "", "", 0},
    {CMD_LINE, 1, "", "", 0},
    {CMD_CANCEL, 2, "cancel", "", 2},
    {CMD_CAT, 3, "cat", "", 0},
    {CMD_CHGRP, 4, "chgrp", "", 0},
    {CMD_CHMOD, 5, "chmod", "", 0},
    {CMD_CHOWN, 6, "chown", "", 0},
    {CMD_CLEAR, 7, "clear", "", 0},
    {CMD_COMPRESS, 8, "compress", "", 0},
    {CMD_CP, 9, "cp", "-p", 0},
    {CMD_CP_R, 10, "cp", "-pr", 0},
    {CMD_CUPSD, 11, "cupsd", "", 0},
    {CMD_ID, 12, "id", "", 0},
    {CMD_ECHO, 13, "echo", "", 0},
    {CMD_EJECT_F, 14, "eject", "-f", 1},
    {CMD_EJECT_Q, 15, "eject", "-q", 1},
    {CMD_FILE, 16, "file", "", 0},
    {CMD_LN, 17, "ln", "", 0},
    {CMD_LP, 18, "lp", "", 0},
    {CMD_LPC, 19, "lpc", "", 1},
    {CMD_LPR, 20, "lpr", "", 0},
    {CMD_LPRM, 21, "lprm", "", 1},
    {CMD_LPSTAT, 22, "lpstat", "", 1},
    {CMD_LS, 23, "ls", "", 0},
    {CMD_KILL, 24, "kill", "-KILL", 0},
    {CMD_MV, 25, "mv", "-f", 0},
    {CMD_MKDIR, 26, "mkdir", "-p", 0},
    {CMD_MORE, 27, "more", "", 0},
    {CMD_PING, 28, "ping", "", 0},
    {CMD_RM, 29, "rm", "-f", 0},
    {CMD_RM_RF, 30, "rm", "-rf", 0},
    {CMD_SH, 31, "sh", "", 0},
    {CMD_SLEEP, 32, "sleep", "", 0},
    {CMD_TAR_C, 33, "tar", "cvfp", 0},
    {CMD_TAR_X, 34, "tar", "xvfp", 0},
    {CMD_TOUCH, 35, "touch", "", 0},
    {CMD_UNCOMPRESS, 36, "uncompress", "", 0},
    {CMD_WHOAMI, 37, "whoami", "", 0},
    {CMD_ZCAT, 38, "zcat", "", 0},
    {CMD_UNAME, 39, "uname", "", 0},
    {CMD_SED, 40, "sed", "", 0},
    {CMD_DU, 41, "du", "-s", 0},
    {CMD_CHECKPC, 42, "checkpc", "", 0},
    {CMD_LPD, 43, "lpd", "", 0},
    {CMD_PKGADD, 44, "pkgadd", "", 1},
    {CMD_PKGINFO, 45, "pkginfo", "", 0},
    {CMD_PKGRM, 46, "pkgrm", "", 1},
    {CMD_ACCEPT, 47, "accept", "", 1},
    {CMD_DISABLE, 48, "disable", "", 1},
    {CMD_CUPSDISABLE, 49, "cupsdisable", "", 1},
    {CMD_ENABLE, 50, "enable", "", 1},
    {CMD_CUPSENABLE, 51, "cupsenable", "", 1},
    {CMD_LPADMIN, 52, "lpadmin", "", 1},
    {CMD_LPFILTER, 53, "lpfilter", "", 1},
    {CMD_LPSCHED, 54, "lpsched", "", 1},
    {CMD_LPSHUT, 55, "lpshut", "", 1},
    {CMD_LPSYSTEM, 56, "lpsystem", "", 1},
    {CMD_PS, 57, "ps", "-ace", 0},
    {CMD_BAR, 58, "bar", "", 0},
    {CMD_DF, 59, "df", "", 0},
    {CMD_LPQ, 60, "lpq", "-P", 0},
    {CMD_YPCAT, 61, "ypcat", "", 0},
    {CMD_REJECT, 62, "reject", "", 1},
    {CMD_PMADM, 63, "pmadm", "", 1},
    {CMD_SACADM, 64, "sacadm", "", 1},
    {CMD_VOLCHECK, 65, "volcheck", "", 0},
    {CMD_CAPTURE, 66, "capture", "", 0},
    {CMD_LPSET, 67, "lpset", "", 1},
    {CMD_INSTNETPR, 68, "instnetpr", "", 1},
    {CMD_PIOMKPQ, 69, "piomkpq", "", 0},
    {CMD_PIOMISC_EXT, 70, "piomisc_ext", "", 0},
    {CMD_PIOMISC_BASE, 71, "piomisc_base", "", 0},
    {CMD_LSALLQ, 72, "lsallq", "", 0},
    {CMD_MKQUE, 73, "mkque", "", 0},
    {CMD_MKQUEDEV, 74, "mkquedev", "", 0},
    {CMD_RMQUE, 75, "rmque", "", 0},
    {CMD_RMQUEDEV, 76, "rmquedev", "", 0},
    {CMD_PIOCHDFQ, 77, "piochdfq", "", 0},
    {CMD_ENQ, 78, "enq", "", 0},
    {CMD_LSQUEDEV, 79, "lsquedev", "", 0},
    {CMD_LSQUE, 80, "lsque", "", 0},
    {CMD_STARTSRC, 81, "startsrc", "", 1},
    {CMD_STOPSRC, 82, "stopsrc", "", 0},
    {CMD_LSSRC, 83, "lssrc", "", 0},
};

TEST(ComList, HoldsEveryNamedRowWithItsNumberNameFlagsAndDelay) {
    ASSERT_EQ(sizeof kTable / sizeof kTable[0], 84u);
    for (const RowSpec &r : kTable) {
        SCOPED_TRACE(r.number);
        EXPECT_EQ(r.row, r.number);
        ASSERT_NE(ComList[r.row].name, nullptr);
        EXPECT_STREQ(ComList[r.row].name, r.name);
        EXPECT_STREQ(ComList[r.row].flags, r.flags);
        EXPECT_EQ(ComList[r.row].delay, r.delay);
    }
    EXPECT_EQ(ComList[84].name, nullptr);
    EXPECT_EQ(ComList[84].flags, nullptr);
    EXPECT_STREQ(SearchPaths, "/usr/sbin:/usr/bin:/bin:/sbin:/etc:/usr/etc");
    EXPECT_EQ(flInitSysCmd, 1);
    EXPECT_EQ(flSysCmdLog, 0);
}

// ---------------------------------------------------------------------------
// Resolution
// ---------------------------------------------------------------------------

TEST(InitSysCmdList, ResolvesHostToolsOnTheFixedDirectoriesFirst) {
    auto r = RunChild([] {
        setenv("PATH", "/nonexistent", 1);
        InitSysCmdList();
        EXPECT_EQ(flInitSysCmd, 0);
        for (int row : {CMD_CAT, CMD_CHMOD, CMD_CP, CMD_CP_R, CMD_RM, CMD_RM_RF, CMD_SH, CMD_SED,
                        CMD_DU, CMD_PS, CMD_DF}) {
            SCOPED_TRACE(row);
            ASSERT_NE(ComList[row].path, nullptr);
            EXPECT_EQ(std::string(ComList[row].path), HostDirOf(ComList[row].name));
        }
        // Rows of one command with other flags land in the same directory.
        EXPECT_STREQ(ComList[CMD_CP].path, ComList[CMD_CP_R].path);
        EXPECT_STREQ(ComList[CMD_RM].path, ComList[CMD_RM_RF].path);
        // AIX tools are not on this host.
        EXPECT_EQ(ComList[CMD_LSQUE].path, nullptr);
        EXPECT_EQ(FullSearchPath,
                  std::string("/usr/sbin:/usr/bin:/bin:/sbin:/etc:/usr/etc:/nonexistent"));
    });
    EXPECT_CHILD_OK(r);
}

TEST(InitSysCmdList, FindsCommandsOnPathOnlyAfterTheFixedDirectoriesAndInPathOrder) {
    TempDir t;
    std::string a = t / "a", b = t / "b", big = t / "big";
    mkdir(a.c_str(), 0755);
    mkdir(b.c_str(), 0755);
    mkdir(big.c_str(), 0755);
    // a: an ordinary file, a directory and a dangling link all count.
    WriteFile(a + "/lsque", "", 0644);
    mkdir((a + "/lssrc").c_str(), 0755);
    if (symlink("/nonexistent/target", (a + "/mkque").c_str()) != 0) FAIL();
    WriteFile(a + "/sh", "", 0755); // never wins over the fixed directories
    // b: lsque again (a wins), piomkpq only here.
    WriteFile(b + "/lsque", "", 0644);
    WriteFile(b + "/piomkpq", "", 0644);
    // big: large enough to be asked name by name rather than read whole.
    for (int i = 0; i < 3000; ++i)
        WriteFile(big + "/filler_entry_" + std::to_string(i), "", 0644);
    WriteFile(big + "/rmque", "", 0644);
    mkdir((big + "/enq").c_str(), 0755);
    if (symlink("/nonexistent", (big + "/lsallq").c_str()) != 0) FAIL();
    WriteFile(big + "/Piochdfq", "", 0644); // letter case matters

    std::string path = a + "::" + b + ":" + big + ":";
    auto r = RunChild([&] {
        setenv("PATH", path.c_str(), 1);
        InitSysCmdList();
        EXPECT_EQ(std::string(ComList[CMD_LSQUE].path), a); // lsque: first directory wins
        EXPECT_EQ(std::string(ComList[CMD_LSSRC].path), a); // lssrc is a directory
        EXPECT_EQ(std::string(ComList[CMD_MKQUE].path), a); // mkque is a dangling link
        EXPECT_EQ(std::string(ComList[CMD_PIOMKPQ].path), b);
        EXPECT_EQ(std::string(ComList[CMD_RMQUE].path), big);
        EXPECT_EQ(std::string(ComList[CMD_ENQ].path), big);
        EXPECT_EQ(std::string(ComList[CMD_LSALLQ].path), big);
        EXPECT_EQ(ComList[CMD_PIOCHDFQ].path, nullptr);
        EXPECT_EQ(std::string(ComList[CMD_SH].path), HostDirOf("sh"));
        EXPECT_EQ(FullSearchPath, "/usr/sbin:/usr/bin:/bin:/sbin:/etc:/usr/etc:" + path);
    });
    EXPECT_CHILD_OK(r);
}

// A directory of PATH supplies a command only when root (or the running
// user) alone controls it and every directory above it: otherwise another
// user's program would run with the rights of whoever runs the table.
TEST(InitSysCmdList, PathDirectoriesAnotherUserControlsSupplyNothing) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give directories to another user";
    TempDir t;
    ASSERT_EQ(chmod(t.path.c_str(), 0755), 0);
    auto dirWith = [&](const std::string &rel, mode_t mode, uid_t owner) {
        std::string dir = t / rel;
        testsupport::Shell("mkdir -p '" + dir + "'");
        WriteFile(dir + "/volcheck", "", 0755);
        EXPECT_EQ(chmod(dir.c_str(), mode), 0);
        EXPECT_EQ(chown(dir.c_str(), owner, owner), 0);
        return dir;
    };
    struct Case {
        const char *name;
        std::string dir; // the PATH
        bool resolved;
    } cases[] = {
        {"a directory of nobody's", dirWith("nobody", 0755, 65534), false},
        {"root's, writable by everybody", dirWith("open", 0777, 0), false},
        {"root's, sticky and writable by everybody", dirWith("sticky", 01777, 0), false},
        {"root's, below a directory of nobody's", dirWith("nbparent/bin", 0755, 0), false},
        {"root's, reached through a link to nobody's", t / "link", false},
        {"relative", ".", false},
        {"root's alone", dirWith("root/bin", 0755, 0), true},
    };
    ASSERT_EQ(chown((t / "nbparent").c_str(), 65534, 65534), 0);
    ASSERT_EQ(symlink((t / "nobody").c_str(), (t / "link").c_str()), 0);
    for (const Case &c : cases) {
        auto r = RunChild([&] {
            if (chdir((t / "nobody").c_str()) != 0) _exit(3);
            setenv("PATH", c.dir.c_str(), 1);
            InitSysCmdList();
            EXPECT_EQ(TestCmd(CMD_VOLCHECK), c.resolved ? 1 : 0) << c.name;
        });
        EXPECT_CHILD_OK(r) << c.name;
        // Lazy resolution, before the table is initialised, asks the same.
        auto lazy = RunChild([&] {
            if (chdir((t / "nobody").c_str()) != 0) _exit(3);
            setenv("PATH", c.dir.c_str(), 1);
            EXPECT_EQ(FillCmdPath(CMD_VOLCHECK), c.resolved ? 1 : 0) << c.name;
        });
        EXPECT_CHILD_OK(lazy) << c.name;
    }
}

TEST(InitSysCmdList, EmptyPathPiecesAddNoDirectory) {
    TempDir t;
    WriteFile(t / "lsque", "", 0644);
    auto r = RunChild([&] {
        // An empty piece must not stand for the working directory.
        if (chdir(t.path.c_str()) != 0) FAIL();
        setenv("PATH", "::/nonexistent::", 1);
        InitSysCmdList();
        EXPECT_EQ(ComList[CMD_LSQUE].path, nullptr);
        unsetenv("PATH");
    });
    EXPECT_CHILD_OK(r);
    auto r2 = RunChild([&] {
        unsetenv("PATH");
        InitSysCmdList();
        EXPECT_STREQ(FullSearchPath, "/usr/sbin:/usr/bin:/bin:/sbin:/etc:/usr/etc:");
        EXPECT_NE(ComList[CMD_CAT].path, nullptr);
    });
    EXPECT_CHILD_OK(r2);
}

TEST(InitSysCmdList, SetsShellWithItsTrailingBlank) {
    auto r = RunChild([] {
        InitSysCmdList();
        EXPECT_EQ(std::string(getenv("SHELL")), HostDirOf("sh") + "/sh ");
    });
    EXPECT_CHILD_OK(r);
    // Without any sh the directory part is empty.
    auto r2 = RunChild([] {
        ComList[CMD_SH].path = nullptr;
        flInitSysCmd = 0;
        memcpy(SearchPaths, "/nonexistent", sizeof "/nonexistent");
        setenv("PATH", "/nonexistent", 1);
        InitSysCmdList();
        EXPECT_STREQ(getenv("SHELL"), "/sh ");
    });
    EXPECT_CHILD_OK(r2);
}

TEST(InitSysCmdList, LogsItsFirstEntryAndSwitchesOnCommandLogging) {
    auto r = RunChild([] {
        std::string log = UseTestLog();
        WriteFile(log, "old run\n", 0666);
        InitSysCmdList();
        EXPECT_EQ(flSysCmdLog, 1);
        EXPECT_EQ(ReadFile(log), "initializing system\n");
        unlink(log.c_str());
    });
    EXPECT_CHILD_OK(r);
    auto r2 = RunChild([] {
        flUseLog = 0;
        InitSysCmdList();
        EXPECT_EQ(flSysCmdLog, 0);
    });
    EXPECT_CHILD_OK(r2);
}

TEST(FillCmdPaths, AnswersWhetherRowsRemainAndSkipsUnreadableDirectories) {
    TempDir t;
    WriteFile(t / "lpc", "", 0755);
    WriteFile(t / "lpd", "", 0755);
    WriteFile(t / "lpadmin", "", 0755);
    std::string other = t / "other";
    mkdir(other.c_str(), 0755);
    WriteFile(other + "/lpc", "", 0755);
    auto r = RunChild([&] {
        flInitSysCmd = 0;
        EXPECT_EQ(FillCmdPaths((t / "missing").c_str()), 1);
        EXPECT_EQ(FillCmdPaths((t / "lpc").c_str()), 1); // a file is no directory
        EXPECT_EQ(FillCmdPaths(t.path.c_str()), 1);
        EXPECT_EQ(FillCmdPaths(other.c_str()), 1);
        // The first directory that lists a name wins.
        EXPECT_EQ(std::string(ComList[CMD_LPC].path), t.path);
        EXPECT_EQ(std::string(ComList[CMD_LPD].path), t.path);
        EXPECT_EQ(std::string(ComList[CMD_LPADMIN].path), t.path);
        // Rows found in one directory share one text.
        EXPECT_EQ(ComList[CMD_LPC].path, ComList[CMD_LPD].path);
        // When every row is resolved the answer is 0.
        for (int i = 2; i <= 83; ++i)
            if (ComList[i].path == nullptr) ComList[i].path = "/x";
        EXPECT_EQ(FillCmdPaths(t.path.c_str()), 0);
        EXPECT_EQ(FillCmdPaths((t / "missing").c_str()), 1);
    });
    EXPECT_CHILD_OK(r);
}

TEST(FillCmdPaths, ADirectoryItMayNotReadIsSkipped) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
    TempDir t;
    std::string closed = t / "closed";
    mkdir(closed.c_str(), 0700);
    WriteFile(closed + "/lsque", "", 0644);
    chmod(t.path.c_str(), 0755);
    auto r = RunChild([&] {
        if (setgid(65534) != 0 || setuid(65534) != 0) FAIL() << "setuid";
        flInitSysCmd = 0;
        EXPECT_EQ(FillCmdPaths(closed.c_str()), 1);
        EXPECT_EQ(ComList[CMD_LSQUE].path, nullptr);
    });
    EXPECT_CHILD_OK(r);
}

TEST(LazyResolution, AccessorsResolveOnFirstUseUntilInit) {
    TempDir t;
    WriteFile(t / "lsque", "", 0755);
    auto r = RunChild([&] {
        setenv("PATH", t.path.c_str(), 1);
        EXPECT_EQ(TestCmd(CMD_LSQUE), 1);
        EXPECT_EQ(std::string(ComList[CMD_LSQUE].path), t.path);
        char *cmd = GetCmd(CMD_CAT);
        ASSERT_NE(cmd, nullptr);
        EXPECT_EQ(std::string(cmd), HostDirOf("cat") + "/cat ");
        PutMem(cmd);
        EXPECT_EQ(FillCmdPath(CMD_LSSRC), 0);
        EXPECT_EQ(FillCmdPath(CMD_LINE_QUIET), 0);
    });
    EXPECT_CHILD_OK(r);
    // After InitSysCmdList nothing resolves any more.
    auto r2 = RunChild([&] {
        setenv("PATH", "/nonexistent", 1);
        InitSysCmdList();
        setenv("PATH", t.path.c_str(), 1);
        EXPECT_EQ(TestCmd(CMD_LSQUE), 0);
        EXPECT_EQ(GetCmd(CMD_LSQUE), nullptr);
        EXPECT_EQ(GetCmdNoFlags(CMD_LSQUE), nullptr);
    });
    EXPECT_CHILD_OK(r2);
}

TEST(GetCmd, FormatsPathNameAndFlags) {
    auto r = RunChild([] {
        InitSysCmdList();
        struct {
            int row;
            std::string withFlags, noFlags;
        } cases[] = {
            {CMD_LS, HostDirOf("ls") + "/ls ", HostDirOf("ls") + "/ls"},
            {CMD_PS, HostDirOf("ps") + "/ps -ace", HostDirOf("ps") + "/ps"},
            {CMD_RM_RF, HostDirOf("rm") + "/rm -rf", HostDirOf("rm") + "/rm"},
        };
        for (auto &c : cases) {
            char *a = GetCmd(c.row), *b = GetCmdNoFlags(c.row);
            ASSERT_NE(a, nullptr);
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(std::string(a), c.withFlags);
            EXPECT_EQ(std::string(b), c.noFlags);
            PutMem(a);
            PutMem(b);
        }
        for (int row : {CMD_LINE_QUIET, CMD_LINE, 84, 85, -CMD_CAT, CMD_LSQUE}) {
            SCOPED_TRACE(row);
            EXPECT_EQ(GetCmd(row), nullptr);
            EXPECT_EQ(GetCmdNoFlags(row), nullptr);
            EXPECT_EQ(TestCmd(row), 0);
        }
        EXPECT_EQ(TestCmd(CMD_CAT), 1);
    });
    EXPECT_CHILD_OK(r);
}

// ---------------------------------------------------------------------------
// Execution
// ---------------------------------------------------------------------------

// Points row 31 at a stand-in shell that records the command text it is given
// and then runs it with the host's real sh. Every line goes to that shell,
// also the plain ones the layer would start without one.
void RecordingShell(const TempDir &t) {
    flSysCmdShell = 1;
    std::string script =
        "#!/bin/sh\nprintf '%s' \"$2\" > " + (t / "line") + "\nexec /bin/sh -c \"$2\"\n";
    std::string dir = t / "shdir";
    mkdir(dir.c_str(), 0755);
    WriteFile(dir + "/sh", script, 0755);
    ComList[CMD_SH].path = SaveStr_(dir.c_str());
}

// Runs body in a child that logs to a log of its own and has the command
// table set up, as a program is after its start; body gets the log's path.
auto RunWithCommands(const std::function<void(const std::string &log)> &body) {
    return RunChild([&] {
        std::string log = UseTestLog();
        InitSysCmdList();
        body(log);
        unlink(log.c_str());
    });
}

TEST(SysCmd, BuildsTheLoggedCommandLineByteForByte) {
    TempDir t;
    std::string victim = t / "x";
    mkdir(victim.c_str(), 0755);
    WriteFile(victim + "/f", "data", 0644);
    auto r = RunWithCommands([&](const std::string &log) {
        std::string sh = HostDirOf("sh") + "/sh", rm = HostDirOf("rm") + "/rm";
        EXPECT_EQ(SysCmd(CMD_RM_RF, RUN_WARN, " %s", victim.c_str()), 0);
        EXPECT_FALSE(Exists(victim));
        EXPECT_EQ(ReadFile(log),
                  "initializing system\n" + sh + " -c \"" + rm + " -rf  " + victim + "\n");

        // The whole line as the shell receives it.
        RecordingShell(t);
        mkdir(victim.c_str(), 0755);
        EXPECT_EQ(SysCmd(CMD_RM_RF, RUN_WARN, " %s", victim.c_str()), 0);
        EXPECT_EQ(ReadFile(t / "line"), rm + " -rf  " + victim + " 1>>/tmp/" + my_name +
                                            ".log 2>>/tmp/" + my_name + ".log");
    });
    EXPECT_CHILD_OK(r);
    EXPECT_EQ(r.out, ".."); // one progress dot per logged command
}

TEST(SysCmd, RedirectsByModeAndLogState) {
    TempDir t;
    struct Case {
        int row, mode;
        bool log;
        std::string redirection; // what follows the caller's text
        bool logged;
    };
    auto logRedir = [](const std::string &name) {
        return " 1>>/tmp/" + name + ".log 2>>/tmp/" + name + ".log";
    };
    auto r = RunChild([&] {
        std::string log = UseTestLog();
        std::string me = my_name;
        Case cases[] = {
            {CMD_ECHO, RUN_SILENT, true, " 1>/dev/null 2>/dev/null", false},
            {CMD_ECHO, RUN_WARN, true, logRedir(me), true},
            {CMD_ECHO, RUN_FATAL, true, logRedir(me), true},
            {-CMD_ECHO, RUN_SILENT, true, " 1>/dev/null 2>/dev/null", false},
            {-CMD_ECHO, RUN_WARN, true, "", false},
            {-CMD_ECHO, RUN_FATAL, true, "", false},
            {CMD_ECHO, RUN_WARN, false, " 1>>/dev/null 2>>/dev/null", false},
            {CMD_ECHO, RUN_SILENT, false, " 1>/dev/null 2>/dev/null", false},
        };
        InitSysCmdList();
        RecordingShell(t);
        std::string echo = HostDirOf("echo") + "/echo";
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << c.row << " mode " << c.mode << " log " << c.log);
            flUseLog = c.log;
            flSysCmdLog = c.log;
            std::string before = ReadFile(log);
            EXPECT_EQ(SysCmd(c.row, c.mode, " %s", "hello"), 0);
            EXPECT_EQ(ReadFile(t / "line"), echo + "   hello" + c.redirection);
            std::string added = ReadFile(log).substr(before.size());
            if (c.logged)
                EXPECT_EQ(added, ComList[CMD_SH].path + std::string("/sh -c \"") + echo +
                                     "   hello\nhello\n");
            else
                EXPECT_EQ(added, "");
        }
        unlink(log.c_str());
    });
    EXPECT_CHILD_OK(r);
    // Dots for the two logged calls only; the quiet calls in modes 1 and 2 wrote
    // their output to our stdout, unredirected.
    EXPECT_EQ(r.out, "..hello\nhello\n");
}

TEST(SysCmd, ALogNamedAfterAnOddProgramNameStaysOneWord) {
    TempDir t;
    WriteFile(t / "keep.log", "data", 0644);
    // A program started under a name with blanks and shell characters: the
    // pieces of the name must not become words of the command (here `rm -rf`
    // would take "keep.log" as one more thing to remove) nor run as commands.
    const char *names[] = {" keep", " keep;touch made", " $(touch made) `touch made` \"q\" 'q' \\"};
    for (const char *odd : names) {
        SCOPED_TRACE(odd);
        std::string mine;
        auto r = RunChild([&] {
            if (chdir(t.path.c_str()) != 0) FAIL();
            std::string log = UseTestLog();
            mine = my_name;
            my_name = SaveStr("%s%s", mine.c_str(), odd);
            log = std::string("/tmp/") + my_name + ".log";
            InitSysCmdList();
            std::string victim = t / "victim";
            mkdir(victim.c_str(), 0755);
            EXPECT_EQ(SysCmd(CMD_RM_RF, RUN_WARN, " %s", victim.c_str()), 0);
            EXPECT_FALSE(Exists(victim));
            EXPECT_EQ(SysCmd(CMD_ECHO, RUN_FATAL, " %s", "wrapped"), 0);
            EXPECT_EQ(SysCmd(CMD_LINE, RUN_WARN, "echo %s", "whole"), 0);
            std::string sh = HostDirOf("sh") + "/sh", rm = HostDirOf("rm") + "/rm";
            std::string echo = HostDirOf("echo") + "/echo";
            EXPECT_EQ(ReadFile(log), "initializing system\n" + sh + " -c \"" + rm + " -rf  " +
                                         victim + "\n" + sh + " -c \"" + echo +
                                         "   wrapped\nwrapped\n" + "echo whole\nwhole\n");
            unlink(log.c_str());
        });
        EXPECT_CHILD_OK(r);
        EXPECT_EQ(ReadFile(t / "keep.log"), "data");
        EXPECT_FALSE(Exists(t / "made"));
        EXPECT_FALSE(Exists(t / "made.log"));
    }
}

TEST(SysCmd, QuietCallKeepsTheCallersOwnRedirection) {
    TempDir t;
    WriteFile(t / "a", "first\n", 0644);
    auto r = RunWithCommands([&](const std::string &log) {
        EXPECT_EQ(SysCmd(-CMD_CAT, RUN_FATAL, "%s/%s >> %s/%s.tar.Z", t.path.c_str(), "a",
                         t.path.c_str(), "pkg"),
                  0);
        EXPECT_EQ(SysCmd(-CMD_CAT, RUN_FATAL, "%s/%s >> %s/%s.tar.Z", t.path.c_str(), "a",
                         t.path.c_str(), "pkg"),
                  0);
        EXPECT_EQ(ReadFile(log), "initializing system\n");
    });
    EXPECT_CHILD_OK(r);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFile(t / "pkg.tar.Z"), "first\nfirst\n");
}

TEST(SysCmd, RowsZeroAndOneRunTheCallersWholeLine) {
    TempDir t;
    auto r = RunWithCommands([&](const std::string &log) {
        EXPECT_EQ(SysCmd(CMD_LINE, RUN_WARN, "echo %s", "one"), 0);
        EXPECT_EQ(SysCmd(CMD_LINE_QUIET, RUN_WARN, "echo zero > %s", (t / "zero").c_str()), 0);
        // Row 1 is logged as it stands and its output goes to the log; row 0 is
        // quiet and keeps the caller's redirection.
        EXPECT_EQ(ReadFile(log), "initializing system\necho one\none\n");
    });
    EXPECT_CHILD_OK(r);
    EXPECT_EQ(r.out, ".");
    EXPECT_EQ(ReadFile(t / "zero"), "zero\n");
}

TEST(SysCmd, ACommandThatExitsNonZeroFailsInEveryMode) {
    TempDir t;
    std::string missing = t / "missing";
    auto r = RunWithCommands([&](const std::string &log) {
        std::string cat = HostDirOf("cat") + "/cat";
        std::string sh = HostDirOf("sh") + "/sh";
        errno = 0; // a zero errno must not turn a failure into a success
        EXPECT_EQ(SysCmd(CMD_CAT, RUN_SILENT, " %s", missing.c_str()), 1);
        EXPECT_EQ(SysCmd(CMD_CAT, RUN_WARN, " %s", missing.c_str()), 1);
        EXPECT_EQ(SysCmd(-CMD_CAT, RUN_WARN, " %s 2>/dev/null", missing.c_str()), 1);
        EXPECT_EQ(SysCmd(CMD_LINE, RUN_WARN, "exit 4"), 4); // 4 is a status like any other
        std::string expected = "initializing system\n" + sh + " -c \"" + cat + "   " + missing +
                               "\n" + cat + ": " + missing + ": No such file or directory\n" +
                               "WARNING_MSG: exit status 1\n" + "WARNING_MSG: exit status 1\n" +
                               "exit 4\nWARNING_MSG: exit status 4\n";
        EXPECT_EQ(ReadFile(log), expected);
    });
    EXPECT_CHILD_OK(r);
    EXPECT_EQ(r.out, "..");
}

TEST(SysCmd, AFailureInModeTwoEndsTheProgramWithStatusOne) {
    TempDir t;
    std::string missing = t / "missing";
    struct {
        int row;
        std::string args, out, log;
    } cases[] = {
        // The message names the command that failed.
        {CMD_LINE, "exit 3", ".ERROR: exit 3: exit status 3\n",
         "exit 3\nERROR: exit 3: exit status 3\n"},
        // Quiet calls end the same way, without dot or log entry of the line.
        {-CMD_LINE, "exit 3", "ERROR: exit 3: exit status 3\n", "ERROR: exit 3: exit status 3\n"},
        {-CMD_CHMOD, " 644 " + missing + " 2>/dev/null",
         "ERROR: " + HostDirOf("chmod") + "/chmod   644 " + missing +
             " 2>/dev/null: exit status 1\n",
         "ERROR: " + HostDirOf("chmod") + "/chmod   644 " + missing +
             " 2>/dev/null: exit status 1\n"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.args);
        auto r = RunChild([&] {
            std::string log = UseTestLog();
            InitSysCmdList();
            ChildResult inner = RunChild([&] {
                SysCmd(c.row, RUN_FATAL, "%s", c.args.c_str());
                ADD_FAILURE() << "SysCmd returned after a failure in mode 2";
            });
            EXPECT_EQ(inner.status, 1);
            EXPECT_EQ(inner.out, c.out);
            EXPECT_EQ(ReadFile(log), "initializing system\n" + c.log);
        });
        EXPECT_CHILD_OK(r);
    }
}

TEST(SysCmd, ReportsTheSignalThatEndedTheCommand) {
    auto r = RunWithCommands([&](const std::string &log) {
        EXPECT_EQ(SysCmd(-CMD_LINE, RUN_WARN, "kill -9 $$"), 128 + 9);
        EXPECT_EQ(ReadFile(log), "initializing system\nWARNING_MSG: killed by signal 9 (Killed)\n");
    });
    EXPECT_CHILD_OK(r);
}

TEST(SysCmd, AnInterruptSentWhileACommandRunsStopsTheCommandNotTheCaller) {
    auto r = RunWithCommands([&](const std::string &) {
        // $PPID of the shell is this process: SIGINT and SIGQUIT reach it while
        // the command runs and are ignored, as system() does.
        EXPECT_EQ(SysCmd(-1, 1, "kill -INT $PPID; kill -QUIT $PPID; kill -INT $$"), 128 + SIGINT);
        // Afterwards the caller's own handling is back: the default ends it.
        struct sigaction now {};
        sigaction(SIGINT, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SIG_DFL);
        sigaction(SIGQUIT, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SIG_DFL);
    });
    EXPECT_CHILD_OK(r);
}

// Every exit status a command can have comes back as it is, one command
// after another: each runs in a child of its own that has ended before the
// next one starts.
TEST(SysCmd, ReturnsEveryExitStatusOfItsCommands) {
    auto r = RunChild([&] {
        InitSysCmdList();
        for (int status = 0; status < 256; ++status)
            EXPECT_EQ(SysCmd(CMD_LINE, RUN_SILENT, "exit %d", status), status);
        EXPECT_EQ(SysCmd(CMD_SH, RUN_SILENT, "-c 'exit 7'"), 7);
    });
    EXPECT_CHILD_OK(r);
}

void NoteSignal(int) {}

// While a command runs, SIGINT and SIGQUIT are ignored by the caller; the
// command gets them at their default action unless the caller had them
// ignored (which it inherits), and afterwards the caller's own action is back.
TEST(SysCmd, AnInterruptReachesTheCommandAsTheCallerHadItSet) {
    struct Case {
        const char *what;
        int sig;
        void (*action)(int); // the caller's action for sig
        int status;          // the command's, after it sent itself sig
    } cases[] = {
        {"SIGINT at its default", SIGINT, SIG_DFL, 128 + SIGINT},
        {"SIGINT ignored", SIGINT, SIG_IGN, 3},
        {"SIGINT caught", SIGINT, NoteSignal, 128 + SIGINT},
        {"SIGQUIT at its default", SIGQUIT, SIG_DFL, 128 + SIGQUIT},
        {"SIGQUIT ignored", SIGQUIT, SIG_IGN, 3},
        {"SIGQUIT caught", SIGQUIT, NoteSignal, 128 + SIGQUIT},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto r = RunChild([&] {
            InitSysCmdList();
            struct sigaction mine {};
            mine.sa_handler = c.action;
            sigaction(c.sig, &mine, nullptr);
            // The command signals its caller first, then itself.
            EXPECT_EQ(
                SysCmd(CMD_LINE, RUN_SILENT, "kill -%d $PPID; kill -%d $$; exit 3", c.sig, c.sig),
                c.status);
            struct sigaction now {};
            sigaction(c.sig, nullptr, &now);
            EXPECT_EQ(now.sa_handler, c.action);
        });
        EXPECT_CHILD_OK(r);
    }
}

TEST(SysCmd, AnUnlocatedCommandEndsTheProgramWithStatusOne) {
    auto setup = [] {
        setenv("PATH", "/nonexistent", 1);
        InitSysCmdList();
    };
    EXPECT_EXIT((setup(), SysCmd(CMD_LSQUE, RUN_SILENT, " x")), testing::ExitedWithCode(1),
                "^ERROR: unable to locate system command 'lsque'\n$");
    EXPECT_EXIT((setup(), SysCmd(-CMD_LSQUE, RUN_WARN, " x")), testing::ExitedWithCode(1),
                "ERROR: unable to locate system command 'lsque'");
    EXPECT_EXIT((setup(), GetCmdResponse(CMD_LSQUE, nullptr, " x")), testing::ExitedWithCode(1),
                "ERROR: unable to locate system command 'lsque'");
    EXPECT_EXIT((setup(), GetCmdResponseStr(CMD_LSSRC, nullptr, " x")), testing::ExitedWithCode(1),
                "ERROR: unable to locate system command 'lssrc'");
    // A row number outside the table names no command.
    EXPECT_EXIT((setup(), SysCmd(90, RUN_SILENT, " x")), testing::ExitedWithCode(1),
                "^ERROR: unable to locate system command 'row 90'\n$");
    EXPECT_EXIT((setup(), SysCmd(-84, RUN_WARN, " x")), testing::ExitedWithCode(1),
                "ERROR: unable to locate system command 'row 84'");
    EXPECT_EXIT((setup(), GetCmdResponse(-CMD_CANCEL, nullptr, " x")), testing::ExitedWithCode(1),
                "ERROR: unable to locate system command 'row -2'");
    EXPECT_EXIT((setup(), SysCmd(INT_MIN, RUN_WARN, " x")), testing::ExitedWithCode(1),
                "ERROR: unable to locate system command 'row -2147483648'");
    // Without a shell no command line can be run.
    EXPECT_EXIT(
        (setup(), ComList[CMD_SH].path = nullptr, SysCmd(CMD_CAT, RUN_SILENT, " /dev/null")),
        testing::ExitedWithCode(1), "ERROR: unable to locate system command 'sh'");
}

TEST(SysCmd, ATooLongLineIsNeverRun) {
    TempDir t;
    std::string victim = t / "victim";
    mkdir(victim.c_str(), 0755);
    // Cut at 4095 characters this would read `rm -rf <victim>    `.
    std::string arg = victim + std::string(5000, ' ') + "/never";
    auto r = RunWithCommands([&](const std::string &log) {
        EXPECT_EQ(SysCmd(CMD_RM_RF, RUN_WARN, " %s", arg.c_str()), E2BIG);
        EXPECT_EQ(SysCmd(CMD_RM_RF, RUN_SILENT, " %s", arg.c_str()), E2BIG);
        EXPECT_EQ(ReadFile(log), "initializing system\nWARNING_MSG: command line too long (more "
                                 "than 4095 characters)\n");
        EXPECT_EQ(GetCmdResponse(CMD_RM_RF, nullptr, " %s", arg.c_str()), nullptr);
        EXPECT_EQ(GetCmdResponseStr(CMD_RM_RF, nullptr, " %s", arg.c_str()), nullptr);
    });
    EXPECT_CHILD_OK(r);
    EXPECT_TRUE(Exists(victim));
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("ERROR: command line too long"), std::string::npos);
    auto r2 = RunChild([&] {
        InitSysCmdList();
        SysCmd(CMD_RM_RF, RUN_FATAL, " %s", arg.c_str());
    });
    EXPECT_EQ(r2.status, 1);
    EXPECT_EQ(r2.out, "ERROR: rm: command line too long (more than 4095 characters)\n");
    EXPECT_TRUE(Exists(victim));
}

// A copy of `true` under the name of a table row, in a directory of its own.
std::string ToolCopy(const TempDir &t, const char *name) {
    std::string dir = t / (std::string("bin_") + name);
    mkdir(dir.c_str(), 0755);
    if (testsupport::RunProgram({"cp", "/bin/true", dir + "/" + name}).status != 0)
        ADD_FAILURE() << "cannot copy /bin/true to " << dir << "/" << name;
    return dir;
}

TEST(SysCmd, HonoursTheRowDelayWhateverTheResult) {
    TempDir t;
    std::string dir = ToolCopy(t, "cancel");
    auto r = RunChild([&] {
        InitSysCmdList();
        ComList[CMD_CANCEL].path = dir.c_str();
        for (const char *arg : {"", "; exit 5"}) {
            auto start = std::chrono::steady_clock::now();
            SysCmd(CMD_CANCEL, RUN_SILENT, "%s", arg);
            double s =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            EXPECT_GE(s, 2.0) << arg;
        }
    });
    EXPECT_CHILD_OK(r);
}

TEST(SysCmd, WaitsForTheProcessOfARowWithDelayMinusOne) {
    TempDir t;
    std::string dir = ToolCopy(t, "capture");
    auto r = RunWithCommands([&](const std::string &log) {
        // sleep started in the background shows up at once.
        ComList[CMD_SLEEP].delay = -1;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(SysCmd(CMD_SLEEP, RUN_SILENT, " 3 &"), 0);
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(s, 3.0);
        // A process that never appears costs ten tries and leaves a log line.
        ComList[CMD_CAPTURE].path = dir.c_str();
        ComList[CMD_CAPTURE].delay = -1;
        start = std::chrono::steady_clock::now();
        EXPECT_EQ(SysCmd(CMD_CAPTURE, RUN_SILENT, "%s", ""), 0);
        s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GE(s, 10.0);
        EXPECT_EQ(ReadFile(log), "initializing system\nERROR: Time out for command capture\n");
    });
    EXPECT_CHILD_OK(r);
}

// ---------------------------------------------------------------------------
// SysCmdP
// ---------------------------------------------------------------------------

TEST(SysCmdP, ModeZeroPrintsNothingRunsTheLineAndPauses) {
    TempDir t;
    auto r = RunChild([&] {
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(SysCmdP(RUN_SILENT, "echo run > %s; exit 3", (t / "ran").c_str()), 0);
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GE(s, 1.0);
    });
    EXPECT_CHILD_OK(r);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadFile(t / "ran"), "run\n");
}

TEST(SysCmdP, ReportsTheRealExitStatus) {
    auto r = RunChild([&] { EXPECT_EQ(SysCmdP(RUN_WARN, "exit %d", 3), 0); });
    EXPECT_CHILD_OK(r);
    EXPECT_EQ(r.out, "exit 3\n");
    EXPECT_EQ(r.err, "WARNING_MSG: exit status 3\n");
    auto r2 = RunChild([&] { SysCmdP(RUN_FATAL, "exit %d", 2); });
    EXPECT_EQ(r2.status, 1);
    EXPECT_EQ(r2.out, "exit 2\n");
    EXPECT_EQ(r2.err, "ERROR: exit 2: exit status 2\n");
    auto r3 = RunChild([&] { EXPECT_EQ(SysCmdP(RUN_FATAL, "true"), 0); });
    EXPECT_CHILD_OK(r3);
    EXPECT_EQ(r3.out, "true\n");
    EXPECT_EQ(r3.err, "");
}

TEST(SysCmdP, RefusesALineLongerThan511Characters) {
    TempDir t;
    std::string file = t / "made";
    std::string line = "touch " + file + " #" + std::string(600, 'x');
    auto r = RunChild([&] { SysCmdP(RUN_WARN, "%s", line.c_str()); });
    EXPECT_CHILD_OK(r);
    EXPECT_FALSE(Exists(file));
    EXPECT_EQ(r.err, "WARNING_MSG: command line too long (more than 511 characters)\n");
    auto r2 = RunChild([&] { SysCmdP(RUN_FATAL, "%s", line.c_str()); });
    EXPECT_EQ(r2.status, 1);
}

// ---------------------------------------------------------------------------
// Responses
// ---------------------------------------------------------------------------

std::vector<std::string> Lines(CmdResponse *r) {
    std::vector<std::string> v;
    for (; r != nullptr; r = r->next)
        v.push_back(r->line);
    return v;
}

TEST(GetCmdResponse, ReturnsEveryLineOrTheFilteredOnesInOrder) {
    auto r = RunChild([&] {
        InitSysCmdList();
        // The numbers may move between two runs of df: compare the first words.
        auto firstWords = [](const std::vector<std::string> &v) {
            std::vector<std::string> w;
            for (const std::string &l : v)
                w.push_back(l.substr(0, l.find(' ')));
            return w;
        };
        std::vector<std::string> expected = CommandLines("df /tmp /");
        ASSERT_GE(expected.size(), 3u);
        for (const char *filter : {(const char *)nullptr, ""}) {
            CmdResponse *all = GetCmdResponse(CMD_DF, filter, " %s", "/tmp /");
            std::vector<std::string> got = Lines(all);
            ASSERT_EQ(got.size(), expected.size());
            EXPECT_EQ(got[0], expected[0]); // the header
            EXPECT_EQ(firstWords(got), firstWords(expected));
            FreeResponseList(all);
        }

        CmdResponse *some = GetCmdResponse(CMD_LINE, "b", "printf 'abc\\nxyz\\nb1\\nB2\\n'");
        EXPECT_EQ(Lines(some), (std::vector<std::string>{"abc\n", "b1\n"}));
        FreeResponseList(some);

        EXPECT_EQ(GetCmdResponse(CMD_LINE, "nomatch", "echo hello"), nullptr);
        EXPECT_EQ(GetCmdResponse(CMD_LINE, nullptr, "true"), nullptr);
        FreeResponseList(nullptr);
    });
    EXPECT_CHILD_OK(r);
    EXPECT_EQ(r.out, ""); // neither prints nor logs
}

TEST(GetCmdResponse, SplitsALongLineIntoRecordsAndTheTextKeepsItWhole) {
    auto r = RunChild([&] {
        InitSysCmdList();
        // 9000 characters with the filter word at the end.
        CmdResponse *rec =
            GetCmdResponse(CMD_LINE, "END", "printf '%%09000d' 0 | tr 0 a; echo END");
        std::vector<std::string> v = Lines(rec);
        ASSERT_EQ(v.size(), 3u);
        EXPECT_EQ(v[0], std::string(4095, 'a'));
        EXPECT_EQ(v[1], std::string(4095, 'a'));
        EXPECT_EQ(v[2], std::string(810, 'a') + "END\n");
        FreeResponseList(rec);
        char *text = GetCmdResponseStr(CMD_LINE, "END", "printf '%%09000d' 0 | tr 0 a; echo END");
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text), std::string(9000, 'a') + "END\n");
        PutMem(text);
    });
    EXPECT_CHILD_OK(r);
}

TEST(GetCmdResponseStr, EndsEveryLineInANewline) {
    auto r = RunChild([&] {
        InitSysCmdList();
        struct {
            const char *cmd, *filter, *expected;
        } cases[] = {
            {"printf 'a\\nb'", nullptr, "a\nb\n"},
            {"printf 'a\\nb\\n'", nullptr, "a\nb\n"},
            {"printf 'one\\ntwo\\nthree'", "t", "two\nthree\n"},
            {"printf 'x'", "", "x\n"},
        };
        for (auto &c : cases) {
            char *text = GetCmdResponseStr(CMD_LINE_QUIET, c.filter, "%s", c.cmd);
            ASSERT_NE(text, nullptr) << c.cmd;
            EXPECT_STREQ(text, c.expected) << c.cmd;
            PutMem(text);
        }
        EXPECT_EQ(GetCmdResponseStr(CMD_LINE, "zzz", "echo a"), nullptr);
        EXPECT_EQ(GetCmdResponseStr(CMD_LINE, nullptr, "true"), nullptr);
        char *df = GetCmdResponseStr(CMD_DF, "Avail", " /");
        ASSERT_NE(df, nullptr);
        EXPECT_EQ(std::string(df), CommandLines("df /")[0]);
        PutMem(df);
    });
    EXPECT_CHILD_OK(r);
}

TEST(FindSysCommand, LooksInTheSystemDirectoriesOnlyBeforeAndAfterTheTableIsResolved) {
    TempDir t;
    WriteFile(t.path + "/sh", "#!/bin/sh\n", 0755);
    WriteFile(t.path + "/dorna-only-in-path", "#!/bin/sh\n", 0755);
    auto r = RunChild([&] {
        setenv("PATH", t.path.c_str(), 1);
        for (int pass = 0; pass < 2; ++pass) {
            char *sh = FindSysCommand("sh");
            ASSERT_NE(sh, nullptr);
            EXPECT_EQ(std::string(sh), HostDirOf("sh") + "/sh") << pass;
            PutMem(sh);
            EXPECT_EQ(FindSysCommand("dorna-only-in-path"), nullptr) << pass;
            EXPECT_EQ(FindSysCommand(""), nullptr);
            EXPECT_EQ(FindSysCommand(nullptr), nullptr);
            InitSysCmdList(); // cuts SearchPaths at its colons
        }
    });
    EXPECT_CHILD_OK(r);
}

// ---------------------------------------------------------------------------
// The shared tokenizer
// ---------------------------------------------------------------------------

// Everything the shared tokenizer keeps between two calls.
struct TokenizerState {
    const char *cursor;
    const char *tokenIn;
    char delim;
    std::string buf;
    bool operator==(const TokenizerState &) const = default;
};

TokenizerState TokenizerNow() {
    return {GetTokenBufInput(), szTokenIn, chTokenDel, std::string(GetTokenBuf)};
}

TEST(SysCmd, RunsInsideACallersGetTokenLoop) {
    // The loop hands each token straight to the command, so the command line
    // is formatted from GetTokenBuf while rows are still resolved lazily.
    for (bool initialized : {false, true}) {
        SCOPED_TRACE(initialized ? "after InitSysCmdList" : "rows resolved on first use");
        TempDir t;
        auto r = RunChild([&] {
            if (initialized) InitSysCmdList();
            char names[] = "one two\tthree";
            std::vector<std::string> seen;
            for (char *tok = GetToken(names, " \t"); tok != nullptr;
                 tok = GetToken(nullptr, " \t")) {
                seen.push_back(tok);
                EXPECT_EQ(SysCmd(CMD_TOUCH, RUN_SILENT, "%s/%s", t.path.c_str(), GetTokenBuf), 0);
                EXPECT_EQ(SysCmd(CMD_CLEAR, RUN_SILENT, "%s", ""), 0);
            }
            EXPECT_EQ(seen, (std::vector<std::string>{"one", "two", "three"}));
        });
        EXPECT_CHILD_OK(r);
        for (const char *name : {"one", "two", "three"})
            EXPECT_TRUE(Exists(t / name)) << name;
    }
}

TEST(CommandLayer, LeavesTheSharedTokenizerAsItFoundIt) {
    TempDir t;
    WriteFile(t / "file", "x", 0644);
    struct Call {
        const char *name;
        std::function<void()> run;
    };
    const std::string dir = t.path;
    const Call calls[] = {
        {"SysCmd", [&] { SysCmd(CMD_ECHO, RUN_SILENT, " %s", "x"); }},
        {"SysCmd quiet", [&] { SysCmd(-CMD_CAT, RUN_WARN, " %s", "/dev/null"); }},
        {"GetCmdResponse", [&] { FreeResponseList(GetCmdResponse(CMD_ECHO, nullptr, " a b")); }},
        {"GetCmdResponseStr", [&] { PutMem(GetCmdResponseStr(CMD_UNAME, nullptr, "%s", "")); }},
        {"TestCmd", [&] { TestCmd(CMD_SED); }},
        {"GetCmd", [&] { PutMem(GetCmd(CMD_LS)); }},
        {"GetCmdNoFlags", [&] { PutMem(GetCmdNoFlags(CMD_ID)); }},
        {"FillCmdPath", [&] { FillCmdPath(CMD_TAR_X); }},
        {"FillCmdPaths", [&] { FillCmdPaths("/bin"); }},
        {"FindSysCommand", [&] { PutMem(FindSysCommand("sh")); }},
        {"GetSysPsIdList", [&] { PutMem(GetSysPsIdList("init")); }},
        {"CheckProcTableForExecs", [&] { PutMem(CheckProcTableForExecs("sh,nosuchname")); }},
        {"GetDiskSpace",
         [&] {
             DiskSpaceInfo info;
             GetDiskSpace("/", &info);
         }},
        {"DUPath", [&] { DUPath(dir.c_str()); }},
        {"AvailSpace", [&] { AvailSpace((dir + "/new/dir").c_str(), nullptr, 1); }},
        {"GetDirFileList", [&] { PutMem(GetDirFileList(dir.c_str())); }},
        {"GetUserName", [&] { PutMem(GetUserName()); }},
        {"GetHostname", [&] { PutMem(GetHostname()); }},
        {"CreateFile", [&] { CreateFile(dir.c_str(), "made", "644", nullptr, nullptr); }},
        {"RenameFile", [&] { RenameFile(dir.c_str(), "made", "moved"); }},
        {"DeleteFile", [&] { DeleteFile(dir.c_str(), "moved"); }},
    };
    auto r = RunChild([&] {
        // Each call runs between two tokens of a scan; the scan then goes on.
        auto check = [](const char *name, const std::function<void()> &run) {
            SCOPED_TRACE(name);
            char text[] = "alpha,beta,gamma";
            ASSERT_STREQ(GetToken(text, ","), "alpha");
            TokenizerState before = TokenizerNow();
            run();
            EXPECT_TRUE(TokenizerNow() == before);
            EXPECT_STREQ(GetToken(nullptr, ","), "beta");
            EXPECT_STREQ(GetToken(nullptr, ","), "gamma");
        };
        for (const Call &c : calls)
            check(c.name, c.run); // rows resolved on first use
        check("InitSysCmdList", [] { InitSysCmdList(); });
        for (const Call &c : calls)
            check(c.name, c.run); // and after InitSysCmdList
    });
    EXPECT_CHILD_OK(r);
}

} // namespace

TEST(SysShellWord, PlainWordsStandAsTheyAreEveryOtherByteIsQuoted) {
    // Every byte, alone and inside a path, against the set written out here.
    for (int c = 1; c < 256; ++c) {
        const char one[2] = {static_cast<char>(c), 0};
        const std::string inPath = std::string("/a") + one + "b";
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || strchr("/._-+,:@%=", c) != nullptr;
        EXPECT_EQ(SysIsPlainWord(one) != 0, plain) << "byte " << c;
        EXPECT_EQ(SysIsPlainWord(inPath.c_str()) != 0, plain) << "byte " << c;
        EXPECT_EQ(SysShellWord(inPath.c_str(), false) == inPath, plain) << "byte " << c;
    }
    EXPECT_FALSE(SysIsPlainWord(""));
    EXPECT_FALSE(SysIsPlainWord(nullptr));

    const struct {
        const char *text;
        bool wrapped;
        const char *word;
    } kCases[] = {
        {"", false, "''"},
        {"a b", false, "'a b'"},
        {"it's", false, "'it'\\''s'"},
        {"$x", false, "'$x'"},
        {"$x`y`\"\\", true, "'\\$x\\`y\\`\\\"\\\\'"},
        {"/usr/Dorna/dpxx", true, "/usr/Dorna/dpxx"},
    };
    for (const auto &c : kCases)
        EXPECT_EQ(SysShellWord(c.text, c.wrapped), c.word) << c.text;
    EXPECT_EQ(SysShellWord(nullptr, false), "''");
}
