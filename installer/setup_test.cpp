// The driver's pure pieces, and the command-line cases that stop before the
// installation touches the host (the rest runs in the sandbox, e2e/).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "TestSupport.h"
#include "setup.h"
#include "utils.h"

using testsupport::ChildResult;
using testsupport::TempDir;

namespace {

// The installer under another name, so that its log is /tmp/setup_unit.log
// and never the real /tmp/setup.log.
class Program {
  public:
    Program() { testsupport::RunProgram({"cp", SETUP_BINARY, dir_ / "setup_unit"}); }
    ~Program() { unlink("/tmp/setup_unit.log"); }
    std::string path() const { return dir_ / "setup_unit"; }
    ChildResult run(const std::vector<std::string> &args, const std::string &input,
                    const std::vector<std::string> &env = {"LANG"}) {
        std::vector<std::string> argv{path()};
        argv.insert(argv.end(), args.begin(), args.end());
        return testsupport::RunProgram(argv, "/", env, input, testsupport::Stderr::Apart);
    }

  private:
    TempDir dir_;
};

} // namespace

TEST(Setup, StripToBaseNameCutsTheSuiteDirectories) {
    struct Case {
        const char *in, *out;
    } cases[] = {
        {"/opt/Dorna/dpxx", "/opt"},
        {"/opt/Dorna/dpxx/", "/opt"},
        {"/opt/Dorna", "/opt"},
        {"/opt/", "/opt"},
        {"/", "/"},
        {"/opt", "/opt"},
        {"/usr/Dorna/dpxx", "/usr"},
        {"/a/b//", "/a/b/"},
        {"/opt/dpxx", "/opt"},
        {"/Dorna/dpxx", "/"},
        {"/dpxx", "/"},
        {"/opt//Dorna", "/opt"},
        {"", ""},
        {"/home/user/dpx", "/home/user/dpx"},
        // Only the suite's own directories at the end are dropped; the
        // command line refuses a root that holds the words anywhere else.
        {"/x/dpxxDorna", "/x/dpxxDorna"},
        {"/x/Dornadpxx/y", "/x/Dornadpxx/y"},
        {"/opt/dpxx/sub", "/opt/dpxx/sub"},
        {"/home/Dornafiles", "/home/Dornafiles"},
        {"/opt/dpxx/Dorna", "/opt/dpxx"},
        {"dpxx", "dpxx"},
    };
    for (const Case &c : cases) {
        std::string text(c.in);
        char *got = StripToBaseName(text.data());
        EXPECT_EQ(got, text.data());
        EXPECT_STREQ(got, c.out) << "in: " << c.in;
    }
    EXPECT_EQ(StripToBaseName(nullptr), nullptr);
}

TEST(Setup, OnlyPlainPathCharactersAreSafeForTheShell) {
    for (const char *ok : {"/tmp", "/opt/new_area", "/a.b/c-d/e+f", "/x,y@z:1", "rel/path", "A9"})
        EXPECT_TRUE(isShellSafePath(ok)) << ok;
    for (const char *bad : {"", "/tmp/a b", "/tmp;rm -rf /", "/tmp/$(id)", "/tmp/`id`", "/tmp/a\"b",
                            "/tmp/a'b", "/tmp/a\\b", "/tmp/a|b", "/tmp/a&b", "/tmp/a>b", "/tmp/a*",
                            "/tmp/~", "/tmp/a\nb", "/tmp/\xc3\xa9"})
        EXPECT_FALSE(isShellSafePath(bad)) << bad;
    EXPECT_FALSE(isShellSafePath(nullptr));
    // Every byte outside the allowed set is refused.
    for (int c = 1; c < 256; ++c) {
        char text[3] = {'/', static_cast<char>(c), 0};
        bool allowed = isalnum(c) && c < 128;
        allowed = allowed || strchr("/._-+,@:", c) != nullptr;
        EXPECT_EQ(isShellSafePath(text) != 0, allowed) << "byte " << c;
    }
}

TEST(Setup, PrivateDirectoryIsARealDirectoryOfOurOwn) {
    TempDir t;
    ASSERT_EQ(mkdir((t / "dir").c_str(), 0755), 0);
    ASSERT_EQ(symlink((t / "dir").c_str(), (t / "link").c_str()), 0);
    { std::ofstream(t / "file") << "x"; }
    ASSERT_EQ(mkdir((t / "other").c_str(), 0755), 0);
    ASSERT_EQ(chown((t / "other").c_str(), 65534, 65534), geteuid() == 0 ? 0 : -1);
    EXPECT_TRUE(isPrivateDirectory((t / "dir").c_str()));
    EXPECT_FALSE(isPrivateDirectory((t / "link").c_str()));
    EXPECT_FALSE(isPrivateDirectory((t / "file").c_str()));
    EXPECT_FALSE(isPrivateDirectory((t / "missing").c_str()));
    if (geteuid() == 0) {
        EXPECT_FALSE(isPrivateDirectory((t / "other").c_str()));
    }
    EXPECT_FALSE(isPrivateDirectory(nullptr));
}

TEST(Setup, RelativeWorkAreaAndInstallRootBecomeFullPaths) {
    TempDir t;
    mkdir((t / "w").c_str(), 0755);
    mkdir((t / "v").c_str(), 0755);
    struct Case {
        const char *cwd; // "" for the scratch directory
        std::vector<std::string> args;
        std::string work, root;
    } cases[] = {
        {"", {"w/", "r/Dorna/dpxx"}, t / "w/DornaInstall", t / "r"},
        {"", {"install", "./r", t / "w"}, t / "w/DornaInstall", t / "./r"},
        {"", {"v", "/r", "w"}, t / "w/DornaInstall", "/r"}, // a later work area wins
        {"/", {"install", "opt"}, "/tmp/DornaInstall", "/opt"},
        {"/", {"tmp", "/opt/Dorna"}, "/tmp/DornaInstall", "/opt"},
    };
    for (const Case &c : cases) {
        // The parser's results are process-wide: each case runs in a child.
        EXPECT_EXIT(
            {
                if (chdir(*c.cwd ? c.cwd : t.path.c_str()) != 0) _exit(3);
                pDornaInstallDir = SaveStr_("/tmp/DornaInstall");
                pCmdLineInstallDir = nullptr;
                std::vector<char *> argv{const_cast<char *>("setup")};
                for (const std::string &a : c.args)
                    argv.push_back(const_cast<char *>(a.c_str()));
                parseCommandLineOptions(static_cast<int>(argv.size()), argv.data());
                fprintf(stderr, "work=%s root=%s\n", pDornaInstallDir,
                        pCmdLineInstallDir ? pCmdLineInstallDir : "(none)");
                _exit(c.work == pDornaInstallDir && pCmdLineInstallDir != nullptr &&
                              c.root == pCmdLineInstallDir
                          ? 0
                          : 1);
            },
            testing::ExitedWithCode(0), "")
            << c.args[0] << " " << c.args[1];
    }
}

TEST(SetupProgram, AgreementIsAskedFirstAndOnlyYesGoesOn) {
    Program p;
    struct Case {
        const char *input;
        bool accepted;
    } cases[] = {{"y\n", true}, {"Y\n", true}, {"yes\n", true}, {"Yes\n", true}, {"n\n", false},
                 {"\n", false}, {"", false},   {" y\n", false}, {"no\n", false}, {"x\n", false}};
    for (const Case &c : cases) {
        ChildResult r = p.run({"-v"}, c.input);
        EXPECT_EQ(r.status, 0) << "answer " << c.input;
        EXPECT_EQ(r.out.rfind("Agree (y) / Disagree (n)? "), r.out.size() - 26) << c.input;
        EXPECT_EQ(r.err, c.accepted ? "setup_unit 4.30.09\n" : "") << "answer " << c.input;
    }
}

TEST(SetupProgram, VersionComesAfterTheWorkAreaIsMade) {
    Program p;
    TempDir t;
    const std::string area = t / "new";
    ChildResult r = p.run({area, "-v"}, "y\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "setup_unit 4.30.09\n");
    struct stat st;
    EXPECT_EQ(stat(area.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(SetupProgram, UnsafeWorkAreaOrInstallRootIsRefusedBeforeAnythingRuns) {
    Program p;
    TempDir t;
    const std::string marker = t / "pwned";
    struct Case {
        std::vector<std::string> args;
        const char *what;
        std::string word;
    } cases[] = {
        {{"/tmp/a;touch " + marker, "-v"}, "work area", "/tmp/a;touch " + marker},
        {{"/tmp", "/opt/$(touch " + marker + ")"}, "install root", "/opt/$(touch " + marker + ")"},
        {{"install", "/opt/x`touch " + marker + "`"},
         "install root",
         "/opt/x`touch " + marker + "`"},
        {{"/tmp", "/opt", "/w k"}, "work area", "/w k"},
        {{"install", ""}, "install root", ""},
    };
    for (const Case &c : cases) {
        ChildResult r = p.run(c.args, "y\n");
        EXPECT_EQ(r.status, 2) << c.word;
        EXPECT_NE(r.err.find(std::string("ERROR: the ") + c.what + " \"" + c.word + "\""),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(access(marker.c_str(), F_OK), -1) << "a shell ran " << c.word;
    }
}

TEST(SetupProgram, InstallRootHoldingTheSuiteNamesElsewhereIsRefusedWithTheUsage) {
    Program p;
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"/tmp", "/opt/dpxx/sub"},
          std::vector<std::string>{"install", "/home/Dornafiles"},
          std::vector<std::string>{"/tmp", "/x/Dornadpxx/y"}}) {
        ChildResult r = p.run(args, "y\n");
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_NE(r.err.find("ERROR: the install root \"" + args.back() +
                             "\" holds \"Dorna\" or "
                             "\"dpxx\" other than as its last directories"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("Usage: setup_unit [WORK-AREA] [INSTALL-ROOT]"), std::string::npos)
            << r.err;
    }
}

TEST(SetupProgram, WorkAreaThatCannotBeMadeEndsWithStatusTwo) {
    Program p;
    ChildResult r = p.run({"/proc/no_such_area"}, "y\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("ERROR: couldn't open /proc/no_such_area\n\n"), std::string::npos)
        << r.out;

    // The message speaks the message language: German for ge_GE, English
    // for de_DE (whose agreement is German).
    r = p.run({"/proc/no_such_area/"}, "j\ny\n", {"LANG=ge_GE"});
    EXPECT_EQ(r.status, 0) << "\"j\" is no acceptance";
    r = p.run({"/proc/no_such_area/"}, "y\n", {"LANG=ge_GE"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("Zustimmen (y) / Ablehnen (n)? "), std::string::npos);
    EXPECT_NE(r.out.find("FEHLER: /proc/no_such_area konnte nicht geöffnet werden\n\n"),
              std::string::npos)
        << r.out;
    r = p.run({"/proc/no_such_area"}, "y\n", {"LANG=de_DE.UTF-8"});
    EXPECT_NE(r.out.find("Zustimmen (y) / Ablehnen (n)? "), std::string::npos);
    EXPECT_NE(r.out.find("ERROR: couldn't open /proc/no_such_area\n\n"), std::string::npos);
}

TEST(SetupProgram, ProgramNameThatIsNotSafeForTheShellIsRefused) {
    // The program's name names the run log, which every system command's
    // redirection names on a root shell's command line.
    TempDir t;
    const std::string name = "setup;touch pwned";
    ASSERT_EQ(testsupport::RunProgram({"cp", SETUP_BINARY, t / name}).status, 0);
    // A work area that cannot be made ends the run early either way.
    ChildResult r = testsupport::RunProgram({t / name, "/proc/no_such_area"}, t.path, {"LANG"},
                                            "y\n", testsupport::Stderr::Apart);
    unlink(("/tmp/" + name + ".log").c_str());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("ERROR: the program name \"" + name + "\" may hold only"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(access((t / "pwned.log").c_str(), F_OK), -1) << "a shell ran the program's name";
}

TEST(Setup, UntrustedDirectoriesOnTheWayAreFound) {
    TempDir t("trust");
    const std::string root = t.path;
    // Each row lays out one directory under the scratch directory; the path
    // looked at may lie below it and need not exist.
    struct Case {
        const char *name;
        mode_t mode;
        uid_t owner;       // 0: the test's own user
        const char *below; // looked at: <dir><below>
        const char *bad;   // the directory found at fault, "" for none
        const char *why;
    } cases[] = {
        {"private", 0755, 0, "/DornaInstall", "", ""},
        {"sticky", 01777, 0, "/x/y", "", ""},
        {"open", 0777, 0, "/DornaInstall", "open", "writable by other users"},
        {"groupopen", 0775, 0, "", "groupopen", "writable by other users"},
        {"nobodys", 0755, 65534, "/DornaInstall", "nobodys", "owned by another user"},
        {"nobodysticky", 01777, 65534, "", "nobodysticky", "owned by another user"},
    };
    for (const Case &c : cases) {
        const std::string dir = root + "/" + c.name;
        ASSERT_EQ(mkdir(dir.c_str(), 0700), 0) << c.name;
        ASSERT_EQ(chmod(dir.c_str(), c.mode), 0) << c.name;
        if (c.owner != 0 && chown(dir.c_str(), c.owner, static_cast<gid_t>(-1)) != 0) {
            ADD_FAILURE() << c.name << ": cannot give the directory away (not root?)";
            continue;
        }
        // A group of root's writing is root writing: hand the group away.
        if ((c.mode & S_IWGRP) != 0 && (c.mode & S_IWOTH) == 0 && getegid() == 0) {
            ASSERT_EQ(chown(dir.c_str(), static_cast<uid_t>(-1), 65534), 0) << c.name;
        }
        char *bad = nullptr;
        const char *why = nullptr;
        const std::string path = dir + c.below;
        int found = findUntrustedDirectory(path.c_str(), &bad, &why);
        EXPECT_EQ(found, *c.bad ? 1 : 0) << c.name;
        if (found) {
            EXPECT_EQ(std::string(bad), root + "/" + c.bad) << c.name;
            EXPECT_STREQ(why, c.why) << c.name;
        }
    }
    // A link on the way is followed to where it leads; the link's own owner
    // counts too.
    ASSERT_EQ(symlink((root + "/open").c_str(), (root + "/link").c_str()), 0);
    char *bad = nullptr;
    const char *why = nullptr;
    EXPECT_EQ(findUntrustedDirectory((root + "/link/DornaInstall").c_str(), &bad, &why), 1);
    EXPECT_EQ(std::string(bad), root + "/open");
    EXPECT_EQ(findUntrustedDirectory("/tmp", &bad, &why), 0) << "sticky and root's";
    EXPECT_EQ(findUntrustedDirectory("relative/path", &bad, &why), 0);
}
