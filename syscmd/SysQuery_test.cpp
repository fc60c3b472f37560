// Tests of the host queries against the real host: directory listings of
// real directories, real processes (copies of `sleep` under chosen command
// names) seen by the real `ps`, and the real `df` and `du` of real paths and
// of a small tmpfs. Process and mount tests run in private PID and mount
// namespaces, so that they see only their own processes and leave no mount
// behind.

#include "SysCmd.h"

#include "MemMgr.h"
#include "SysTest.h"
#include "TestSupport.h"
#include "utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sched.h>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/utsname.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace systest;

namespace {

// Exit status of a namespace child that could not make its namespaces.
constexpr int NO_NAMESPACE = 77;

// Runs body inside new PID and mount namespaces, as PID 1 with its own /proc.
ChildResult RunIsolated(const std::function<void()> &body) {
    return RunChild([&] {
        if (unshare(CLONE_NEWPID | CLONE_NEWNS) != 0) _exit(NO_NAMESPACE);
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(NO_NAMESPACE);
        pid_t pid = fork();
        if (pid == 0) {
            if (mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
                _exit(NO_NAMESPACE);
            body();
            fflush(stdout);
            _exit(::testing::Test::HasFailure() ? 99 : 0);
        }
        int st = 0;
        waitpid(pid, &st, 0);
        fflush(stdout);
        _exit(WIFEXITED(st) ? WEXITSTATUS(st) : 98);
    });
}

// Skips (or, under CI, fails) a test whose namespaces could not be made.
#define REQUIRE_ISOLATION(r)                                                                       \
    do {                                                                                           \
        if ((r).status == NO_NAMESPACE) {                                                          \
            const char *ci = getenv("CI");                                                         \
            if (ci != nullptr && strcmp(ci, "true") == 0)                                          \
                FAIL() << "private PID/mount namespaces unavailable under CI";                     \
            GTEST_SKIP() << "needs root or user namespaces for private PID/mount "                 \
                            "namespaces";                                                          \
        }                                                                                          \
    } while (0)

// Starts a copy of sleep under the command name `name`; returns its PID.
pid_t StartNamed(const std::string &dir, const std::string &name, uid_t uid = 0) {
    return StartSleeper(dir, name, "60", uid);
}

void Stop(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

bool Alive(pid_t pid) {
    // A killed child stays a zombie until reaped: look at its state.
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty()) return false;
    size_t close = stat.rfind(')');
    return close != std::string::npos && stat[close + 2] != 'Z';
}

// ---------------------------------------------------------------------------
// Directory listings
// ---------------------------------------------------------------------------

std::string HostListing(const std::string &dir) {
    std::string s;
    DIR *d = opendir(dir.c_str());
    while (struct dirent *e = readdir(d))
        s += std::string(" ") + e->d_name;
    closedir(d);
    return s + " ";
}

TEST(GetDirFileList, ListsEveryEntryInTheDirectorysOwnOrder) {
    TempDir t;
    WriteFile(t / "a", "", 0644);
    mkdir((t / "bc").c_str(), 0755);
    std::string list = Stored(GetDirFileList(t.path.c_str()));
    EXPECT_EQ(list, HostListing(t.path));
    std::set<std::string> names;
    for (size_t p = 1; p < list.size();) {
        size_t e = list.find(' ', p);
        names.insert(list.substr(p, e - p));
        p = e + 1;
    }
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "a", "bc"}));
    EXPECT_EQ(FindToken("bc", list.c_str()) > 0, true);
    EXPECT_EQ(FindToken("b", list.c_str()), 0);

    std::string empty = t / "empty";
    mkdir(empty.c_str(), 0755);
    std::string e = Stored(GetDirFileList(empty.c_str()));
    EXPECT_TRUE(e == " . .. " || e == " .. . ") << e;
}

TEST(GetDirFileList, GivesNullForWhatCannotBeListed) {
    TempDir t;
    WriteFile(t / "file", "", 0644);
    for (std::string p : {t / "missing", t / "file", std::string("")}) {
        EXPECT_EQ(GetDirFileList(p.c_str()), nullptr) << p;
        EXPECT_EQ(SearchDirFileList(p.c_str(), nullptr), nullptr) << p;
    }
    EXPECT_EQ(GetDirFileList(nullptr), nullptr);
    EXPECT_EQ(ReadDir(nullptr), nullptr);
    if (getuid() != 0) return;
    std::string closed = t / "closed";
    mkdir(closed.c_str(), 0700);
    chmod(t.path.c_str(), 0755);
    auto r = RunChild([&] {
        if (setgid(65534) != 0 || setuid(65534) != 0) FAIL();
        EXPECT_EQ(GetDirFileList(closed.c_str()), nullptr);
        EXPECT_EQ(SearchDirFileList(closed.c_str(), "ppd"), nullptr);
    });
    EXPECT_CHILD_OK(r);
}

TEST(SearchDirFileList, KeepsEntriesWhoseLastExtensionMatchesExactly) {
    TempDir t;
    for (const char *n : {"a.ppd", "b.PPD", "c.ppd.bak", "ppd", "d.x.ppd", ".ppd"})
        WriteFile(t / n, "", 0644);
    struct {
        const char *ext;
        std::set<std::string> expected;
    } cases[] = {
        {"ppd", {"a.ppd", "d.x.ppd", ".ppd"}},
        {"PPD", {"b.PPD"}},
        {"bak", {"c.ppd.bak"}},
        {"pp", {}},
        {nullptr, {"a.ppd", "b.PPD", "c.ppd.bak", "ppd", "d.x.ppd", ".ppd"}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.ext ? c.ext : "(null)");
        char *got = SearchDirFileList(t.path.c_str(), c.ext);
        if (c.expected.empty()) {
            EXPECT_EQ(got, nullptr);
            continue;
        }
        ASSERT_NE(got, nullptr);
        std::string s = Stored(got);
        ASSERT_EQ(s.front(), ' ');
        ASSERT_EQ(s.back(), ' ');
        std::set<std::string> names;
        for (size_t p = 1; p < s.size();) {
            size_t e = s.find(' ', p);
            names.insert(s.substr(p, e - p));
            p = e + 1;
        }
        EXPECT_EQ(names, c.expected);
    }
    // The documented case on its own: only a.ppd.
    TempDir u;
    for (const char *n : {"a.ppd", "b.PPD", "c.ppd.bak"})
        WriteFile(u / n, "", 0644);
    EXPECT_EQ(Stored(SearchDirFileList(u.path.c_str(), "ppd")), " a.ppd ");
    std::string empty = u / "empty";
    mkdir(empty.c_str(), 0755);
    EXPECT_EQ(SearchDirFileList(empty.c_str(), nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// Processes
// ---------------------------------------------------------------------------

TEST(GetSysPsIdList, CountsOnlyTheExactCommandName) {
    TempDir t;
    chmod(t.path.c_str(), 0755);
    auto r = RunIsolated([&] {
        InitSysCmdList();
        EXPECT_EQ(GetSysPsIdList("lpd"), nullptr);
        pid_t lpd = StartNamed(t.path, "lpd");
        pid_t mon = StartNamed(t.path, "lpdmon");
        pid_t xlpd = StartNamed(t.path, "xlpd");
        EXPECT_EQ(Stored(GetSysPsIdList("lpd")), " " + std::to_string(lpd) + " ");
        EXPECT_EQ(Stored(GetSysPsIdList("lpdmon")), " " + std::to_string(mon) + " ");
        EXPECT_EQ(GetSysPsIdList("lp"), nullptr);
        EXPECT_EQ(GetSysPsIdList("TS"), nullptr);  // a word of another column
        EXPECT_EQ(GetSysPsIdList("CMD"), nullptr); // the header
        EXPECT_EQ(GetSysPsIdList(""), nullptr);
        EXPECT_EQ(GetSysPsIdList(nullptr), nullptr);
        pid_t lpd2 = StartNamed(t.path, "lpd");
        EXPECT_EQ(Stored(GetSysPsIdList("lpd")),
                  " " + std::to_string(lpd) + " " + std::to_string(lpd2) + " ");
        for (pid_t p : {lpd, mon, xlpd, lpd2})
            Stop(p);
    });
    REQUIRE_ISOLATION(r);
    EXPECT_CHILD_OK(r);
}

TEST(CheckProcTableForExecs, ReportsEachRunningNameWithItsIds) {
    TempDir t;
    chmod(t.path.c_str(), 0755);
    auto r = RunIsolated([&] {
        InitSysCmdList();
        EXPECT_EQ(CheckProcTableForExecs(",cupsd,lpd,"), nullptr);
        pid_t c1 = StartNamed(t.path, "cupsd");
        pid_t c2 = StartNamed(t.path, "cupsd");
        std::string ids = " " + std::to_string(c1) + " " + std::to_string(c2) + " ";
        struct {
            const char *list;
            std::string expected;
        } cases[] = {
            {",cupsd,lpd,", "cupsd (" + ids + ")\n"},
            {"cupsd", "cupsd (" + ids + ")\n"},
            {",,lpd,,cupsd,,cupsd", "cupsd (" + ids + ")\ncupsd (" + ids + ")\n"},
        };
        for (auto &c : cases)
            EXPECT_EQ(Stored(CheckProcTableForExecs(c.list)), c.expected) << c.list;
        pid_t l = StartNamed(t.path, "lpd");
        EXPECT_EQ(Stored(CheckProcTableForExecs("lpd,cupsd")),
                  "lpd ( " + std::to_string(l) + " )\ncupsd (" + ids + ")\n");
        EXPECT_EQ(CheckProcTableForExecs(",,"), nullptr);
        EXPECT_EQ(CheckProcTableForExecs(nullptr), nullptr);
        // A caller's scan of the shared tokenizer is left where it was.
        char words[] = "one two three";
        GetTokenParse(words, " ");
        EXPECT_NE(CheckProcTableForExecs("cupsd"), nullptr);
        for (pid_t p : {c1, c2, l})
            Stop(p);
    });
    REQUIRE_ISOLATION(r);
    EXPECT_CHILD_OK(r);
}

TEST(KillProcessByName, KillsEveryProcessOfThatNameOnly) {
    TempDir t;
    chmod(t.path.c_str(), 0755);
    auto r = RunIsolated([&] {
        InitSysCmdList();
        pid_t a = StartNamed(t.path, "lpd");
        pid_t b = StartNamed(t.path, "lpd");
        pid_t mon = StartNamed(t.path, "lpdmon");
        EXPECT_EQ(KillProcessByName("lpd"), 0);
        int st;
        for (pid_t p : {a, b}) {
            ASSERT_EQ(waitpid(p, &st, 0), p);
            EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL);
        }
        EXPECT_TRUE(Alive(mon));
        EXPECT_EQ(KillProcessByName("nothing_runs_so"), 0);
        Stop(mon);
    });
    REQUIRE_ISOLATION(r);
    EXPECT_CHILD_OK(r);
}

TEST(KillProcessByName, StopsAtTheFirstProcessItMayNotSignal) {
    TempDir t;
    chmod(t.path.c_str(), 0755);
    auto r = RunIsolated([&] {
        InitSysCmdList();
        pid_t rootOwned = StartNamed(t.path, "lpd");
        pid_t nobodyOwned = StartNamed(t.path, "lpd", 65534);
        ASSERT_LT(rootOwned, nobodyOwned);
        pid_t killer = fork();
        if (killer == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
            _exit(KillProcessByName("lpd"));
        }
        int st;
        waitpid(killer, &st, 0);
        EXPECT_EQ(WEXITSTATUS(st), 0);
        // The second one could have been signalled, but the walk stopped first.
        EXPECT_TRUE(Alive(rootOwned));
        EXPECT_TRUE(Alive(nobodyOwned));
        Stop(rootOwned);
        Stop(nobodyOwned);
    });
    REQUIRE_ISOLATION(r);
    EXPECT_CHILD_OK(r);
}

// ---------------------------------------------------------------------------
// Disk space
// ---------------------------------------------------------------------------

std::vector<std::string> DfLines(const std::string &path) {
    return CommandLines("df '" + path + "'");
}

TEST(GetDiskSpace, ReadsTheAvailColumnOfARealPath) {
    auto r = RunChild([&] {
        InitSysCmdList();
        DiskSpaceInfo info;
        memset(&info, 0, sizeof info);
        ASSERT_EQ(GetDiskSpace("/", &info), 1);
        std::vector<std::string> df = DfLines("/");
        ASSERT_EQ(df.size(), 2u);
        // Avail is the fourth word of "Filesystem 1K-blocks Used Available ...".
        EXPECT_EQ(df[0].substr(0, 10), "Filesystem");
        std::string device = df[1].substr(0, df[1].find(' '));
        EXPECT_EQ(std::string(info.dfLine).substr(0, device.size()), device);
        EXPECT_EQ(std::string(info.dfLine).back(), '\n');
        EXPECT_GT(info.avail, 0);
        DiskSpaceInfo again;
        GetDiskSpace("/usr/../", &again);
        EXPECT_EQ(std::string(again.dfLine).substr(0, device.size()), device);

        DiskSpaceInfo none;
        none.avail = 5;
        EXPECT_EQ(GetDiskSpace("/nonexistent/dir", &none), 0);
        EXPECT_EQ(none.avail, 0);
        EXPECT_EQ(GetDiskSpace(nullptr, &none), 0);
    });
    EXPECT_CHILD_OK(r);
}

TEST(GetDiskSpace, FindsTheAvailColumnWhereverTheHeaderPutsIt) {
    auto r = RunChild([&] {
        InitSysCmdList();
        struct {
            const char *flags;
            int expected;
            bool availSet;
        } cases[] = {
            {"--output=source,target", 0, false},
            {"--output=avail", 1, true},
            {"--output=source,size,avail", 1, true},
            {"-P", 1, true},
        };
        for (auto &c : cases) {
            SCOPED_TRACE(c.flags);
            ComList[CMD_DF].flags = c.flags;
            DiskSpaceInfo info;
            EXPECT_EQ(GetDiskSpace("/", &info), c.expected);
            if (c.availSet)
                EXPECT_GT(info.avail, 0);
            else
                EXPECT_EQ(info.avail, 0);
        }
    });
    EXPECT_CHILD_OK(r);
}

// Outputs real df programs print (or could print) on other hosts, read
// through a stand-in `df` that prints a prepared text.
TEST(GetDiskSpace, ReadsTheDataLineByTheColumnTheHeaderNamesAvail) {
    TempDir t;
    std::string bin = t / "bin";
    mkdir(bin.c_str(), 0755);
    WriteFile(bin + "/df", "#!/bin/sh\ncat '" + (t / "out") + "'\n", 0755);
    const std::string header = "Filesystem 1k-blocks Used Available Use% Mounted on\n";
    struct {
        const char *what;
        std::string out;
        int expected;
        double avail;
        std::string dfLine; // "-" when it must stay as it was
    } cases[] = {
        {"linux", header + "/dev/sda1 100 40 60 40% /\n", 1, 60, "/dev/sda1 100 40 60 40% /\n"},
        {"tabs and Avail", "Filesystem\t512-blocks\tUsed\tAvail\tCapacity\n/dev/x\t10\t2\t8\t20%\n",
         1, 8, "/dev/x\t10\t2\t8\t20%\n"},
        {"letter case", "FS SIZE AVAILABLE\n/dev/y 9 7.5\n", 1, 7.5, "/dev/y 9 7.5\n"},
        {"wrapped device name", header + "/dev/mapper/a-very-long-volume-name\n 100 40 60 40% /\n",
         0, 0, "/dev/mapper/a-very-long-volume-name\n"},
        {"no avail column", "Filesystem Size Free\n/dev/z 10 3\n", 0, 0, "-"},
        {"header only", header, 1, 0, "-"},
        {"no output", "", 0, 0, "-"},
    };
    auto r = RunChild([&] {
        InitSysCmdList();
        ComList[CMD_DF].path = bin.c_str();
        for (auto &c : cases) {
            SCOPED_TRACE(c.what);
            WriteFile(t / "out", c.out, 0644);
            DiskSpaceInfo info;
            snprintf(info.dfLine, sizeof info.dfLine, "as it was");
            info.avail = 99;
            EXPECT_EQ(GetDiskSpace("/", &info), c.expected);
            EXPECT_EQ(info.avail, c.avail);
            EXPECT_EQ(std::string(info.dfLine), c.dfLine == "-" ? "as it was" : c.dfLine);
        }
    });
    EXPECT_CHILD_OK(r);
}

TEST(DiskSpace, MeasuresASmallTmpfsExactly) {
    TempDir t;
    std::string mnt = t / "mnt";
    mkdir(mnt.c_str(), 0755);
    auto r = RunIsolated([&] {
        ASSERT_EQ(mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=1m"), 0) << strerror(errno);
        InitSysCmdList();
        DiskSpaceInfo info;
        ASSERT_EQ(GetDiskSpace(mnt.c_str(), &info), 1);
        EXPECT_EQ(info.avail, 1024);
        EXPECT_EQ(std::string(info.dfLine), DfLines(mnt)[1]);

        // Half of it taken by a file.
        WriteFile(mnt + "/half", std::string(512 * 1024, 'x'), 0644);
        ASSERT_EQ(GetDiskSpace(mnt.c_str(), &info), 1);
        EXPECT_EQ(info.avail, 512);
        EXPECT_EQ(DUPath((mnt + "/half").c_str()), 512);
        EXPECT_EQ(DUPath(mnt.c_str()), 512);
        EXPECT_EQ(DUPath((mnt + "/missing").c_str()), 0);

        struct {
            std::string dir;
            const char *name;
            double needed;
            int expected;
        } cases[] = {
            {mnt, nullptr, 512, 1},
            {mnt, nullptr, 513, 0},
            {mnt, "half", 1024, 1}, // the file about to be replaced counts as free
            {mnt, "half", 1025, 0},
            {mnt, "absent", 513, 0},
            {mnt + "/new/deeper/dir", nullptr, 512, 1}, // measured on mnt
            {mnt + "/new/deeper/dir", nullptr, 600, 0},
            {mnt + "/new", "x", 512, 1},
        };
        for (auto &c : cases) {
            SCOPED_TRACE(c.dir + " " + (c.name ? c.name : "-") + " " + std::to_string(c.needed));
            EXPECT_EQ(AvailSpace(c.dir.c_str(), c.name, c.needed), c.expected);
        }
        // Two paths on one file system have the same data line.
        DiskSpaceInfo a, b;
        mkdir((mnt + "/sub").c_str(), 0755);
        GetDiskSpace(mnt.c_str(), &a);
        GetDiskSpace((mnt + "/sub").c_str(), &b);
        EXPECT_STREQ(a.dfLine, b.dfLine);
        GetDiskSpace("/", &b);
        EXPECT_STRNE(a.dfLine, b.dfLine);
        umount(mnt.c_str());
    });
    REQUIRE_ISOLATION(r);
    EXPECT_CHILD_OK(r);
}

TEST(DiskSpace, PathsReachTheCommandAsOneWordWhateverTheyHold) {
    TempDir t;
    std::string odd = t / "sp ace'q;touch pwned;$(touch pwned2)";
    mkdir(odd.c_str(), 0755);
    WriteFile(odd + "/f", std::string(8192, 'x'), 0644);
    auto r = RunChild([&] {
        if (chdir(t.path.c_str()) != 0) FAIL();
        InitSysCmdList();
        DiskSpaceInfo info;
        EXPECT_EQ(GetDiskSpace(odd.c_str(), &info), 1);
        EXPECT_GT(info.avail, 0);
        EXPECT_GE(DUPath(odd.c_str()), 8);
        EXPECT_EQ(AvailSpace(t.path.c_str(), "sp ace'q;touch pwned;$(touch pwned2)", 1), 1);
    });
    EXPECT_CHILD_OK(r);
    EXPECT_FALSE(Exists(t / "pwned"));
    EXPECT_FALSE(Exists(t / "pwned2"));
}

TEST(DiskSpace, APathThatBeginsWithADashIsNoOption) {
    TempDir t;
    std::string dir = t / "--version";
    mkdir(dir.c_str(), 0755);
    WriteFile(dir + "/f", std::string(8192, 'x'), 0644);
    auto r = RunChild([&] {
        if (chdir(t.path.c_str()) != 0) FAIL();
        InitSysCmdList();
        DiskSpaceInfo info;
        EXPECT_EQ(GetDiskSpace("--version", &info), 1);
        EXPECT_GT(info.avail, 0);
        EXPECT_GE(DUPath("--version"), 8);
        EXPECT_EQ(AvailSpace("--version", "f", 1), 1);
    });
    EXPECT_CHILD_OK(r);
}

TEST(AvailSpace, AnswersForTheNearestExistingParent) {
    auto r = RunChild([&] {
        InitSysCmdList();
        DiskSpaceInfo root;
        ASSERT_EQ(GetDiskSpace("/", &root), 1);
        EXPECT_EQ(AvailSpace("/nonexistent/new/dir", nullptr, 1), 1);
        EXPECT_EQ(AvailSpace("/nonexistent/new/dir", nullptr, root.avail * 4), 0);
        // A relative path that does not exist climbs to "." and stops there.
        EXPECT_EQ(AvailSpace("no_such_relative_dir", nullptr, 1), 1);
        EXPECT_EQ(AvailSpace(nullptr, nullptr, 1), 0);
        SysGetSubnetMask();
    });
    EXPECT_CHILD_OK(r);
}

TEST(Identity, HostNameIsTheSystemsOwn) {
    struct utsname u;
    ASSERT_EQ(uname(&u), 0);
    char *name = GetHostname();
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, u.nodename);
    PutMem(name);
}

TEST(Identity, UserNameComesFromTheWhoamiCommand) {
    testsupport::ChildResult who =
        testsupport::RunProgram({"whoami"}, "", {}, "", testsupport::Stderr::Apart);
    ASSERT_EQ(who.status, 0);
    std::string expect = who.out.substr(0, who.out.find('\n'));

    char *name = GetUserName();
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::string(name), expect);
    PutMem(name);
}

TEST(Identity, UserNameWithoutTheWhoamiCommand) {
    // Rows are resolved for good once InitSysCmdList has run; a row it left
    // unresolved stands for a host without the command.
    auto printName = [] {
        flInitSysCmd = 0;
        ComList[CMD_WHOAMI].path = nullptr;
        char *name = GetUserName();
        printf("%s", name ? name : "(null)");
    };
    testsupport::ChildResult r = testsupport::RunChild(printName);
    std::string expect = getuid() == 0 ? "root" : "User ID:  " + std::to_string(getuid());
    EXPECT_EQ(r.out, expect);

    if (geteuid() == 0) {
        r = testsupport::RunChild([&] {
            if (setuid(65534) != 0) _exit(9);
            printName();
        });
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "User ID:  65534");
    }
}

TEST(Identity, UserNameIsTheFirstLineOfTheCommandCutAtItsLineEnd) {
    struct Case {
        const char *script; // body of the whoami the command table points to
        const char *expect; // the stored name, in brackets
    } cases[] = {
        {"exit 0\n", "[]"}, // prints nothing: an empty name
        {"printf 'op\\r\\nsecond\\n'\n", "[op]"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.script);
        testsupport::TempDir dir;
        std::string script = dir.path + "/whoami";
        testsupport::WriteFile(script, std::string("#!/bin/sh\n") + c.script);
        chmod(script.c_str(), 0755);
        testsupport::ChildResult r = testsupport::RunChild([&] {
            flInitSysCmd = 0;
            ComList[CMD_WHOAMI].path = SaveStr("%s", dir.path.c_str());
            char *name = GetUserName();
            printf("[%s]", name ? name : "(null)");
        });
        EXPECT_EQ(r.out, c.expect);
    }
}

} // namespace
