// Tests of the package list: each case writes a pkg.list into a scratch
// work directory, runs ProcessPkgList in a child process (the installer's
// globals, the log and the command table are process-wide) with the real
// shell and tools, and looks at the application directory, the run log, the
// output and the way the child ended.
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "SysCmd.h"
#include "setup.h"
#include "utils.h"

using testsupport::Contains;
using testsupport::Exists;
using testsupport::Mode;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// The child's exit status when ProcessPkgList returned r (an exit through
// exit_app gives 0 or 1 instead).
constexpr int kReturned = 10;

struct ListRun {
    int status = -1; // kReturned + result, or the status the program ended with
    std::string out; // standard output and error of the child
    std::string log; // the run log
};

// A work directory with the package directory "pkg", an application
// directory and room for other files, all under one scratch directory.
class PkgSite {
  public:
    // The program name carries the test process's id: the log and the sed
    // temporary live in /tmp under that name, and two test runs (two build
    // trees) may run the same case at once.
    explicit PkgSite(const char *tag)
        : dir_(tag), name_("pkgl-" + std::string(tag) + "-" + std::to_string(getpid())) {
        mkdir((dir_ / "work").c_str(), 0755);
        mkdir(pkg().c_str(), 0755);
        mkdir(app().c_str(), 0755);
        unlink(logPath().c_str());
    }
    ~PkgSite() { unlink(logPath().c_str()); }

    std::string root() const { return dir_.path; }
    std::string work() const { return dir_ / "work"; }
    std::string pkg() const { return dir_ / "work/pkg"; }
    std::string app() const { return dir_ / "app"; }
    const std::string &name() const { return name_; }
    std::string logPath() const { return "/tmp/" + name_ + ".log"; }
    std::string tmpPath() const { return "/tmp/" + name_ + ".tmp"; }

    void PkgFile(const std::string &rel, const std::string &text, mode_t mode = 0644) {
        testsupport::Shell("mkdir -p \"$(dirname '" + pkg() + "/" + rel + "')\"");
        WriteFile(pkg() + "/" + rel, text, mode);
    }
    void AppFile(const std::string &rel, const std::string &text, mode_t mode = 0644) {
        testsupport::Shell("mkdir -p \"$(dirname '" + app() + "/" + rel + "')\"");
        WriteFile(app() + "/" + rel, text, mode);
    }

    // Runs the list in a child; before() runs in the child first, after()
    // once the list returned.
    ListRun Run(const std::string &list, const std::string &input = "",
                const std::function<void()> &before = nullptr,
                const std::function<void()> &after = nullptr) {
        WriteFile(pkg() + "/pkg.list", list);
        return RunNoWrite(input, before, after);
    }

    ListRun RunNoWrite(const std::string &input = "", const std::function<void()> &before = nullptr,
                       const std::function<void()> &after = nullptr) {
        testsupport::ChildResult child = testsupport::RunChild(
            [&] {
                dup2(1, 2);
                my_name = SaveStr("%s", name_.c_str());
                flUseLog = 1;
                pDornaInstallDir = SaveStr("%s", work().c_str());
                pAppDir = SaveStr("%s", app().c_str());
                pTargetInstallDir = SaveStr("%s", root().c_str());
                InitSysCmdList();
                if (before) before();
                int r = ProcessPkgList("pkg");
                if (after) after();
                fflush(nullptr);
                _exit(kReturned + r);
            },
            input);
        ListRun result;
        result.status = child.status;
        result.out = child.out;
        result.log = ReadFile(logPath());
        return result;
    }

  private:
    TempDir dir_;
    std::string name_;
};

std::string KernelRelease() {
    struct utsname u;
    return uname(&u) == 0 ? u.release : "";
}

int OwnerOf(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_uid) : -1;
}

} // namespace

TEST(PkgList, CopyThenModeAndOwnerNameTheCopiedFile) {
    PkgSite s("copy-mode-owner");
    s.PkgFile("tool", "TOOL");
    ListRun r = s.Run("c tool mode 4755 owner root\n");
    EXPECT_EQ(r.status, kReturned) << r.out;
    EXPECT_EQ(ReadFile(s.app() + "/tool"), "TOOL");
    EXPECT_EQ(OwnerOf(s.app() + "/tool"), 0);
    // The pairs run in line order: copy, chmod, chown (which, as chown does,
    // drops the set-user-ID bit again).
    size_t cp = r.log.find("/cp -p " + s.work() + "/pkg/tool " + s.app() + "\n");
    size_t chmod = r.log.find("/chmod  4755 " + s.app() + "/tool\n");
    size_t chown = r.log.find("/chown  -h -R root " + s.app() + "/tool\n");
    ASSERT_NE(cp, std::string::npos) << r.log;
    ASSERT_NE(chmod, std::string::npos) << r.log;
    ASSERT_NE(chown, std::string::npos) << r.log;
    EXPECT_LT(cp, chmod);
    EXPECT_LT(chmod, chown);
    EXPECT_EQ(r.out, "...") << "one progress dot per logged command";

    r = s.Run("c tool owner root mode 4755\n");
    EXPECT_EQ(r.status, kReturned) << r.out;
    EXPECT_EQ(Mode(s.app() + "/tool"), 04755);
}

TEST(PkgList, AttributesAlwaysNameAppSlashArgument) {
    PkgSite s("attr-arg");
    s.PkgFile("bin/tool", "NEW");
    s.AppFile("bin/tool", "OLD", 0600);
    // The copy lands in APP/tool; the mode is set on APP/bin/tool.
    ListRun r = s.Run("c bin/tool mode 755\n");
    EXPECT_EQ(r.status, kReturned) << r.out;
    EXPECT_EQ(ReadFile(s.app() + "/tool"), "NEW");
    EXPECT_EQ(ReadFile(s.app() + "/bin/tool"), "OLD");
    EXPECT_EQ(Mode(s.app() + "/bin/tool"), 0755);

    // dirto copies elsewhere, the attributes still name APP/lib.
    s.PkgFile("lib/a.so", "A");
    mkdir((s.app() + "/lib").c_str(), 0700);
    r = s.Run("dirto lib " + s.root() + "/dest mode 755\n");
    EXPECT_EQ(r.status, kReturned) << r.out;
    EXPECT_EQ(ReadFile(s.root() + "/dest/a.so"), "A");
    EXPECT_EQ(Mode(s.app() + "/lib"), 0755);

    // A rename does not move the later pairs along: they still name APP/A.
    s.PkgFile("old", "X");
    r = s.Run("c old name new\n");
    EXPECT_EQ(r.status, kReturned) << r.out;
    EXPECT_TRUE(Exists(s.app() + "/new"));
    EXPECT_FALSE(Exists(s.app() + "/old"));
    r = s.Run("c old name new2 mode 700\n");
    EXPECT_EQ(r.status, 1) << "chmod of the renamed-away APP/old fails";
    EXPECT_TRUE(Contains(r.out, "ERROR: ")) << r.out;
}

TEST(PkgList, DirectivesCreateCopyAndSkipAsTheirWordsSay) {
    PkgSite s("directives");
    s.PkgFile("tree/sub/f", "F");
    s.PkgFile("#copy", "HASH");
    s.PkgFile("file", "UPPER");
    s.PkgFile("y", "WHY");
    s.PkgFile("tool", "T");
    s.PkgFile("file2", "F2");
    s.AppFile("etc/keep", "", 0644);
    chown((s.app() + "/etc").c_str(), 1, 1);
    std::string list = "dir tree\n"
                       "t empty mode 600\n"
                       "newdir db mode 777\n"
                       "newdir etc owner root\n"
                       "# c tool\n"
                       "#copy\n"
                       "C file\n"
                       "t\tx y\n"
                       "s missing mode 600\n"
                       "m etc mode 700\n"
                       "c file2 colour blue mode 700\n"
                       "c tool mode\n"
                       "\n"
                       "   \n"
                       "c \\\n"
                       "  tool link " +
                       s.root() + "/toollink\n";
    ListRun r = s.Run(list);
    EXPECT_EQ(r.status, kReturned) << r.out << r.log;
    EXPECT_EQ(ReadFile(s.app() + "/tree/sub/f"), "F");
    EXPECT_TRUE(Exists(s.app() + "/empty"));
    EXPECT_EQ(Mode(s.app() + "/empty"), 0600);
    EXPECT_EQ(Mode(s.app() + "/db"), 0777);
    EXPECT_TRUE(Contains(r.log, "/chmod  775 " + s.app() + "/db\n")) << r.log;
    EXPECT_EQ(OwnerOf(s.app() + "/etc"), 1) << "newdir on an existing directory does nothing";
    // "#copy" is not the comment directive: it copies like "c" (A empty,
    // so the whole package directory is named and cp -p refuses it).
    EXPECT_TRUE(Contains(r.log, "/cp -p " + s.work() + "/pkg/ " + s.app() + "\n")) << r.log;
    EXPECT_EQ(ReadFile(s.app() + "/file"), "UPPER") << "an unknown word copies like c";
    // A tab belongs to its word: "t<TAB>x" is an unknown directive that copies y.
    EXPECT_EQ(ReadFile(s.app() + "/y"), "WHY");
    EXPECT_FALSE(Exists(s.app() + "/x"));
    EXPECT_FALSE(Exists(s.app() + "/missing"));
    EXPECT_EQ(Mode(s.app() + "/etc"), 0700);
    EXPECT_EQ(Mode(s.app() + "/file2"), 0700) << "an unknown key is skipped with its value";
    char target[512] = {};
    ASSERT_GT(readlink((s.root() + "/toollink").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), s.app() + "/tool");
    EXPECT_FALSE(Contains(r.log, "/cp -p " + s.work() + "/pkg/tool" + " " + s.app() + "/x"));
}

TEST(PkgList, FailingCopyWarnsAndGoesOnFailingModeStops) {
    PkgSite s("failures");
    s.PkgFile("tool", "T");
    s.PkgFile("tree/f", "F");
    ListRun r = s.Run("c missing\nDir tree\nc tool\n");
    EXPECT_EQ(r.status, kReturned) << r.out;
    EXPECT_EQ(ReadFile(s.app() + "/tool"), "T");
    size_t first = r.log.find("WARNING_MSG");
    ASSERT_NE(first, std::string::npos) << r.log;
    EXPECT_NE(r.log.find("WARNING_MSG", first + 1), std::string::npos)
        << "cp -p of a directory fails too" << r.log;

    r = s.Run("c tool mode 99z\nc tree\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.out, "ERROR: ")) << r.out;
    EXPECT_TRUE(Contains(r.log, "ERROR: ")) << r.log;
    EXPECT_FALSE(Exists(s.app() + "/tree")) << "the list stops at the failed mode";
}

TEST(PkgList, AFailedCopyGetsNoAttributesAndIsRecorded) {
    PkgSite s("failed-attrs");
    s.PkgFile("tool", "T");
    s.PkgFile("tree/f", "F");
    const std::string link = s.root() + "/link";
    ListRun r = s.Run("c missing mode 4755 link " + link +
                          "\n"
                          "dir notree owner root name renamed\n"
                          "dirto notree " +
                          s.root() +
                          "/to mode 700\n"
                          "t no/such/dir/file mode 600\n"
                          "c tool mode 700\n",
                      "", nullptr, [] {
                          // What the child recorded as failed, path by path.
                          std::string app(pAppDir), root(pTargetInstallDir);
                          printf("\nrecorded=");
                          for (const std::string &path :
                               {app + "/missing", app + "/notree", root + "/to/notree",
                                app + "/no/such/dir/file", app + "/tool"})
                              printf("%d", isFailedPath(path.c_str()));
                          printf("\n");
                      });
    EXPECT_EQ(r.status, kReturned) << r.out;
    EXPECT_EQ(Mode(s.app() + "/tool"), 0700) << "the list goes on";
    EXPECT_FALSE(Exists(link)) << "no link to a failed copy";
    EXPECT_FALSE(Contains(r.log, "chmod  4755")) << r.log;
    EXPECT_FALSE(Contains(r.log, "chown")) << r.log;
    EXPECT_FALSE(Contains(r.log, "/renamed")) << r.log;
    EXPECT_FALSE(Contains(r.log, "chmod  700 " + s.app() + "/notree")) << r.log;
    EXPECT_FALSE(Contains(r.log, "chmod  600")) << r.log;
    EXPECT_TRUE(Contains(r.out, "recorded=11110")) << r.out;
}

TEST(PkgList, VersionConditionsCompareReleaseTextsAndChain) {
    std::string release = KernelRelease();
    ASSERT_FALSE(release.empty());
    if (release[0] < '2' || release[0] > '9')
        GTEST_SKIP() << "release " << release << " does not start with a digit 2 to 9";
    PkgSite s("version");
    for (const char *f : {"eq", "lt", "le", "gt", "ge", "bad", "chain", "chain2", "text", "none"})
        s.PkgFile(f, f);
    // "10.0" sorts before any release starting with 2..9, though it is a
    // larger number: the comparison is on the texts.
    std::string list = "v = " + release + " c eq\n" + "v < " + release + " c lt\n" +
                       "v <= " + release + " c le\n" + "v > " + release + " c gt\n" +
                       "v >= " + release + " c ge\n" + "v != " + release + " c bad\n" +
                       "v = " + release + " v >= " + release + " c chain\n" + "v = " + release +
                       " v < " + release + " c chain2\n" + "v > 10.0 c text\n" + "v >= " + release +
                       "\n" + "v < 10.0 c none\n";
    ListRun r = s.Run(list);
    EXPECT_EQ(r.status, kReturned) << r.out;
    for (const char *f : {"eq", "le", "ge", "chain", "text"})
        EXPECT_TRUE(Exists(s.app() + "/" + f)) << f;
    for (const char *f : {"lt", "gt", "bad", "chain2", "none"})
        EXPECT_FALSE(Exists(s.app() + "/" + f)) << f;
}

TEST(PkgList, UnreadableKernelReleaseSkipsTheLineWithAWarning) {
    PkgSite s("no-uname");
    s.PkgFile("tool", "T");
    s.PkgFile("after", "A");
    // The child makes uname(2) fail for itself and everything it starts.
    ListRun r = s.Run("v = 1 c tool\nc after\n", "", [] {
        struct sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_uname, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        struct sock_fprog prog = {sizeof filter / sizeof filter[0], filter};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) != 0)
            _exit(99);
    });
    ASSERT_NE(r.status, 99) << "seccomp unavailable";
    EXPECT_EQ(r.status, kReturned) << r.out;
    EXPECT_FALSE(Exists(s.app() + "/tool"));
    EXPECT_FALSE(Exists(s.app() + "/1")) << "the operator word is not read as a name";
    EXPECT_EQ(ReadFile(s.app() + "/after"), "A");
    EXPECT_TRUE(Contains(r.out, "WARNING: pkg.list line 1: ")) << r.out;
    EXPECT_TRUE(Contains(r.log, "WARNING_MSG: pkg.list line 1: ")) << r.log;
}

TEST(PkgList, SedEditsInPlaceWithTheWholeRestOfTheLine) {
    PkgSite s("sed");
    s.AppFile(".profile", "OLD path\nkeep OLD\n", 0750);
    s.AppFile("conf", "a c\n");
    ListRun r = s.Run("m .profile sed s/OLD/NEW/g\n"
                      "m conf sed -e s/a/b/ -e s/c/d/\n"
                      "m absent sed s/x/y/\n");
    EXPECT_EQ(r.status, kReturned) << r.out;
    EXPECT_EQ(ReadFile(s.app() + "/.profile"), "NEW path\nkeep NEW\n");
    EXPECT_EQ(Mode(s.app() + "/.profile"), 0750) << "the edited file keeps its mode";
    EXPECT_EQ(ReadFile(s.app() + "/conf"), "b d\n");
    EXPECT_FALSE(Exists(s.tmpPath()));

    // sed as a later key takes one word.
    s.PkgFile("tool", "abc\n");
    r = s.Run("c tool mode 700 sed s/a/X/ mode 750\n");
    EXPECT_EQ(r.status, kReturned) << r.out;
    EXPECT_EQ(ReadFile(s.app() + "/tool"), "Xbc\n");
    EXPECT_EQ(Mode(s.app() + "/tool"), 0750);
}

// The sed script comes from the package list: GNU sed's e, r and w commands
// would run commands or read and write other files as root. sed runs with
// --sandbox, which refuses them, and its line is logged like every command.
TEST(PkgList, SedScriptsRunNoCommandsAndAreLogged) {
    PkgSite s("sed-sandbox");
    s.AppFile("conf", "one\n");
    const std::string pwn = s.root() + "/PWN";
    const std::string cases[] = {
        "m conf sed 1etouch${IFS}" + pwn + "\n",
        "m conf sed w" + pwn + "\n",
        "m conf sed 1r/etc/hostname\n",
    };
    for (const std::string &line : cases) {
        ListRun r = s.Run(line);
        EXPECT_EQ(r.status, 1) << line << r.out;
        EXPECT_FALSE(Exists(pwn)) << line;
        EXPECT_EQ(ReadFile(s.app() + "/conf"), "one\n") << line;
        EXPECT_TRUE(Contains(r.log, "/sed --sandbox ")) << line << r.log;
    }
    ListRun r = s.Run("m conf sed s/one/two/\n");
    EXPECT_EQ(r.status, kReturned) << r.out;
    EXPECT_EQ(ReadFile(s.app() + "/conf"), "two\n");
    EXPECT_TRUE(Contains(r.log, "/sed --sandbox s/one/two/ " + s.app() + "/conf > ")) << r.log;
}

// A link at APP/A would hand the mode, owner or group meant for the suite's
// file to whatever it points to (a copy of a shell made set-user-ID root).
TEST(PkgList, AttributesNeverFollowALink) {
    PkgSite s("attr-link");
    std::string victim = s.root() + "/victim";
    const char *lines[] = {"m dsf mode 4755\n", "m dsf owner nobody\n", "m dsf group nogroup\n",
                           "s dsf mode 644 owner nobody\n"};
    for (const char *line : lines) {
        WriteFile(victim, "KEEP", 0755);
        unlink((s.app() + "/dsf").c_str());
        ASSERT_EQ(symlink(victim.c_str(), (s.app() + "/dsf").c_str()), 0);
        ListRun r = s.Run(line);
        EXPECT_EQ(r.status, 1) << line << r.out;
        EXPECT_TRUE(Contains(r.out, "ERROR: " + s.app() + "/dsf is a symbolic link, which is not "
                                                           "followed\n"))
            << line << r.out;
        EXPECT_EQ(Mode(victim), 0755) << line;
        EXPECT_EQ(OwnerOf(victim), static_cast<int>(geteuid())) << line;
    }
}

TEST(PkgList, SedNeverWritesThroughAPlantedLink) {
    PkgSite s("sed-link");
    std::string victim = s.root() + "/victim";
    WriteFile(victim, "KEEP\n");
    s.AppFile("conf", "one\n");
    // Whatever stands at the temporary name is replaced by a file of ours.
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind);
        unlink(s.tmpPath().c_str());
        if (kind == 0)
            ASSERT_EQ(symlink(victim.c_str(), s.tmpPath().c_str()), 0);
        else if (kind == 1)
            ASSERT_EQ(symlink("/nonexistent/dangling", s.tmpPath().c_str()), 0);
        else
            WriteFile(s.tmpPath(), "stale", 0666);
        ListRun r = s.Run("m conf sed s/one/two/\n");
        EXPECT_EQ(r.status, kReturned) << r.out;
        EXPECT_EQ(ReadFile(victim), "KEEP\n");
        EXPECT_EQ(ReadFile(s.app() + "/conf"), "two\n");
        EXPECT_FALSE(Exists(s.tmpPath()));
        EXPECT_FALSE(Exists("/nonexistent/dangling"));
        testsupport::Shell("echo one > '" + s.app() + "/conf'");
    }
}

TEST(PkgList, ShellCharactersInAnyWordAreTakenLiterally) {
    PkgSite s("shell-words");
    s.AppFile("conf", "one\n");
    s.PkgFile("tool", "T");
    const std::string mark = s.root() + "/mark";
    // Each line would run "touch <mark>" if a shell read one of its words.
    struct Case {
        const char *what;
        std::string line;
    } cases[] = {
        {"$() in a name", "c x$(touch\t" + mark + ")\n"},
        {"backquotes in a name", "c y`touch\t" + mark + "`\n"},
        {"; in a name", "c z;touch\t" + mark + "\n"},
        {"$() in a touched name", "t x$(touch\t" + mark + ")\n"},
        {"a variable", "t $HOME\n"},
        {"; in a mode", "c tool mode 755;touch\t" + mark + "\n"},
        {"; in an owner", "c tool owner root;touch\t" + mark + "\n"},
        {"; in a group", "c tool group root;touch\t" + mark + "\n"},
        {"; in a link", "c tool link " + s.root() + "/l;touch\t" + mark + "\n"},
        {"; in a new name", "c tool name n;touch\t" + mark + "\n"},
        {"; in a destination", "dirto tool " + s.root() + "/d;touch\t" + mark + "\n"},
        {"$() in a sed value", "m conf sed s/one/two/;$(touch\t" + mark + ")\n"},
        {"a double quote in a sed value", "m conf sed s/one/\"two\"/;$(touch\t" + mark + ")\n"},
        {"a double quote in a name", "c a\"b$(touch\t" + mark + ")\n"},
    };
    for (const Case &c : cases) {
        ListRun r = s.Run(c.line);
        EXPECT_FALSE(Exists(mark)) << c.what << ": " << r.out << r.log;
        unlink(mark.c_str());
    }

    // The words arrive whole: the odd names are made, copied and renamed as
    // they stand, and a mode that is no mode stops the list.
    ListRun r = s.Run("t $HOME mode 600\nc tool name a;b\nc tool link " + s.root() + "/l\"k\n");
    EXPECT_EQ(r.status, kReturned) << r.out;
    EXPECT_EQ(Mode(s.app() + "/$HOME"), 0600);
    EXPECT_EQ(ReadFile(s.app() + "/a;b"), "T");
    EXPECT_TRUE(Exists(s.root() + "/l\"k"));
    r = s.Run("c tool mode 755;touch\t" + mark + "\nc after\n");
    EXPECT_EQ(r.status, 1) << "a failing mode stops the list: " << r.out;
    EXPECT_FALSE(Exists(mark));
}

TEST(PkgList, SedValueWordsReachSedAsTheyStand) {
    PkgSite s("sed-words");
    s.AppFile("conf", "c one x\nc two y\n");
    // Backslashes stay for sed; a double quote is a character like any other.
    ListRun r = s.Run("m conf sed -n -e s/^c[[:space:]]\\([a-z]*\\).*/\\1\"/p\n");
    EXPECT_EQ(r.status, kReturned) << r.out;
    EXPECT_EQ(ReadFile(s.app() + "/conf"), "one\"\ntwo\"\n");
}

TEST(PkgList, LauncherNamesArePlainFileNames) {
    PkgSite s("bat");
    s.PkgFile("tool", "T");
    // The launchers would land in the scratch directory ("/usr/bin/../.." is "/").
    const std::string launcher = "../.." + s.root() + "/launcher";
    for (const std::string &name :
         {launcher, std::string(".."), std::string("."), std::string("sub/launcher")}) {
        ListRun r = s.Run("# first\nc tool bat " + name + "\n");
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_TRUE(Contains(r.out, "ERROR: pkg.list line 2: the launcher name \"" + name +
                                        "\" is not a plain file name"))
            << name << r.out;
        EXPECT_FALSE(Exists(s.root() + "/launcher")) << name;
    }
}

TEST(PkgList, OverlongLineStopsInsteadOfRunningItsTail) {
    PkgSite s("long");
    s.PkgFile("tool", "T");
    std::string line = "c tool mode 755 " + std::string(600, 'x') + " c tool\n";
    ListRun r = s.Run("c tool\n" + line);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.out, "ERROR: pkg.list line 2 is longer than 510 characters")) << r.out;
    // A line of exactly 510 characters and its newline is fine.
    std::string exact = "c tool #";
    while (exact.size() < 510)
        exact += std::string(std::min<size_t>(100, 510 - exact.size()), 'y') + " ";
    exact.resize(510);
    exact += "\nc tool mode 700\n";
    r = s.Run(exact);
    EXPECT_EQ(r.status, kReturned) << r.out;
    EXPECT_EQ(Mode(s.app() + "/tool"), 0700);
}

TEST(PkgList, WordsThatDoNotFitStopTheListWithTheirLineNumber) {
    PkgSite s("long-word");
    s.PkgFile("tool", "T");
    const std::string cut(254, 'w');
    // 254 characters fit; one more would be cut to a name the list never meant.
    // A backslash pair is one character of its word.
    const std::string escaped = std::string(100, '\\') + cut.substr(0, 204);
    ListRun r = s.Run("t " + cut + "\nt " + escaped + "\n");
    EXPECT_EQ(r.status, kReturned) << r.out;
    EXPECT_TRUE(Exists(s.app() + "/" + cut));
    EXPECT_TRUE(Exists(s.app() + "/" + std::string(50, '\\') + cut.substr(0, 204)));
    unlink((s.app() + "/" + cut).c_str());
    for (const std::string &line :
         {"t " + cut + "w mode 600\n", "c tool mode 7" + cut + "\n", "t x" + escaped + "\n"}) {
        r = s.Run("c tool\n# two\n" + line + "c after\n");
        EXPECT_EQ(r.status, 1) << line;
        EXPECT_TRUE(Contains(r.out, "ERROR: pkg.list line 3: the word \"")) << r.out;
        EXPECT_TRUE(Contains(r.out, "is longer than 254 characters")) << r.out;
        EXPECT_FALSE(Exists(s.app() + "/" + cut)) << line;
    }
}

TEST(PkgList, ContinuedLinesJoinAtEveryLengthTheReaderTakes) {
    PkgSite s("join");
    s.PkgFile("tool", "T");
    // Physical lines of 510 characters (the most the reader takes) whose
    // last character is the backslash: the next line continues them.
    for (size_t pad : {0, 1, 2, 300}) {
        std::string first = "c tool mode 700";
        first.resize(510 - pad, ' ');
        first.back() = '\\';
        ListRun r = s.Run(first + "\nowner root\nc tool mode 750\n");
        EXPECT_EQ(r.status, kReturned) << pad << r.out;
        EXPECT_TRUE(Contains(r.log, "chown  -h -R root " + s.app() + "/tool")) << pad << r.log;
        EXPECT_FALSE(Contains(r.log, "/owner ")) << "the continuation is no copy: " << r.log;
    }
}

TEST(PkgList, NulInALineStopsTheListAndSaysSo) {
    PkgSite s("nul");
    s.PkgFile("tool", "T");
    for (const std::string &list :
         {std::string("c tool\nc tool\0 mode 700\nc after\n", 31),
          std::string("c tool\n\0c x\n", 12), std::string("c tool\nc x\0", 11)}) {
        ListRun r = s.Run(list);
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_TRUE(Contains(r.out, "ERROR: pkg.list line 2 holds a NUL character")) << r.out;
        EXPECT_FALSE(Contains(r.out, "longer than")) << r.out;
    }
    // The NUL is found whatever the lines in front of it were: a continued
    // line, and a line of the longest length the reader takes whole.
    std::string longest = "c tool";
    longest.resize(510, ' ');
    for (const auto &[list, line] : {std::pair{std::string("c tool \\\nmode 700\nc x\0\n", 23), 3},
                                     std::pair{longest + std::string("\nc x\0 y\n", 8), 2}}) {
        ListRun r = s.Run(list);
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_TRUE(Contains(r.out, "ERROR: pkg.list line " + std::to_string(line) +
                                        " holds a NUL character"))
            << r.out;
    }
}

TEST(PkgList, MissingListEndsTheProgramWithStatusOne) {
    PkgSite s("missing");
    unlink((s.pkg() + "/pkg.list").c_str());
    ListRun r = s.RunNoWrite();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "ERROR: can't open file, " + s.pkg() + "/pkg.list\n");
}

TEST(PkgList, CheckpsGoesOnWhenNothingRunsAndStopsWhenTheUserQuits) {
    PkgSite s("checkps");
    s.PkgFile("tool", "T");
    s.PkgFile("after", "A");
    ListRun r = s.Run("checkps ,pkgnosuchprog,\nc tool\n");
    EXPECT_EQ(r.status, kReturned) << r.out;
    EXPECT_TRUE(Exists(s.app() + "/tool"));

    // A copy of sleep under a name of our own stands for a running program.
    testsupport::Sleeper sleeper(s.root(), "pkgtestsleep", "60");
    ASSERT_TRUE(sleeper.running());
    r = s.Run("checkps ,pkgnosuchprog,pkgtestsleep,\nc after\n", "2\n");
    EXPECT_EQ(r.status, kReturned + 1) << r.out;
    EXPECT_TRUE(Contains(r.out, "pkgtestsleep ( " + std::to_string(sleeper.pid()) + " )")) << r.out;
    EXPECT_FALSE(Exists(s.app() + "/after")) << "the rest of the list is not processed";
}

namespace {

// The parts of a line as one text: "D:c A:tool K:mode V:755", and "!<first
// ten characters>" for a word too long.
std::string Parts(const PkgLine &line) {
    static const char *const kTag[] = {"D", "A", "E", "K", "V"};
    std::string out;
    for (const PkgWord &w : line.words)
        out += (out.empty() ? "" : " ") + std::string(kTag[w.part]) + ":" + w.text;
    if (!line.tooLong.empty()) out += (out.empty() ? "!" : " !") + line.tooLong.substr(0, 10);
    return out;
}

} // namespace

TEST(PkgList, LinesAreCutIntoTheirPartsWithoutRunningAnything) {
    const std::string longWord(255, 'w');
    const struct {
        const char *name;
        std::string line;
        std::string parts;
    } kCases[] = {
        {"empty", "", ""},
        {"blanks only", "  \r\n", ""},
        {"directive alone", "c\n", "D:c"},
        {"copy with pairs", "c tool mode 4755 owner root\n",
         "D:c A:tool K:mode V:4755 K:owner V:root"},
        {"pair without value", "c tool mode\n", "D:c A:tool K:mode"},
        {"comment keeps its words", "# a b c\n", "D:# A:a K:b V:c"},
        {"dirto takes a destination", "dirto lib /usr/lib mode 755",
         "D:dirto A:lib E:/usr/lib K:mode V:755"},
        {"condition guards a directive", "v >= 2.6 c lib26.so", "D:v A:>= E:2.6 D:c A:lib26.so"},
        {"conditions chain", "v = 2.4.20 v >= 2.4 c x mode 7",
         "D:v A:= E:2.4.20 D:v A:>= E:2.4 D:c A:x K:mode V:7"},
        {"condition without directive", "v < 2.10", "D:v A:< E:2.10"},
        {"sed first takes the rest", "m .profile sed  -e s/a/b/  -e s/c/d/  \r\n",
         "D:m A:.profile K:sed V:-e s/a/b/  -e s/c/d/"},
        {"sed first with nothing left", "m f sed   \n", "D:m A:f K:sed"},
        {"sed later takes a word", "c f mode 7 sed s/a/b/ x",
         "D:c A:f K:mode V:7 K:sed V:s/a/b/ K:x"},
        {"tab belongs to its word", "c\tx y", "D:c\tx A:y"},
        {"escapes are translated", "c a\\ b mode 7\\55", "D:c A:a b K:mode V:755"},
        {"lone backslash ends the line", "c tool \\", "D:c A:tool"},
        {"long word ends the parts", "c " + longWord + " mode 7", "D:c !wwwwwwwwww"},
        {"long key ends the parts", "c x " + longWord, "D:c A:x !wwwwwwwwww"},
        {"long first word", longWord, "!wwwwwwwwww"},
        {"254 characters fit", "c " + longWord.substr(1), "D:c A:" + longWord.substr(1)},
    };
    for (const auto &c : kCases)
        EXPECT_EQ(Parts(ParsePkgLine(c.line.c_str())), c.parts) << c.name;
    EXPECT_EQ(Parts(ParsePkgLine(nullptr)), "");
}

TEST(PkgList, AWordTooLongStopsTheListOnlyWhereTheLineIsRead) {
    PkgSite s("long-unread");
    s.PkgFile("tool", "T");
    const std::string longWord(300, 'w');
    // A comment, a condition that does not hold and a directive without
    // attributes never read the long word: the list goes on.
    for (const std::string &line :
         {"# note " + longWord, "v < 0 c " + longWord, "m missing mode " + longWord}) {
        ListRun r = s.Run(line + "\nc tool mode 700\n");
        EXPECT_EQ(r.status, kReturned) << line << r.out;
        EXPECT_EQ(Mode(s.app() + "/tool"), 0700) << line;
        unlink((s.app() + "/tool").c_str());
    }
}
