// Tests of the file changes that run as commands, against the real file
// system and the host's real mkdir, touch, chmod, chown, chgrp, rm and mv.

#include "SysCmd.h"

#include "MemMgr.h"
#include "TestSupport.h"
#include "utils.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace testsupport;

// What SysCmd writes to the log for row `row` with the argument text `arg`:
// the shell, -c, the opening quote, the command with its flags and a blank,
// then the caller's text.
std::string LoggedCommand(int row, const std::string &arg) {
    return std::string(ComList[CMD_SH].path) + "/sh -c \"" + ComList[row].path + "/" +
           ComList[row].name + " " + ComList[row].flags + " " + arg + "\n";
}

// Runs fn in a child with the log in use and the command table resolved,
// and returns the log that it left behind apart from its first entry.
std::string LogOf(const char *tag, const std::function<void()> &fn, ChildResult *result = nullptr) {
    TestLog log(tag);
    ChildResult r = RunChild([&] {
        log.Use();
        InitSysCmdList();
        fn();
    });
    if (result) *result = r;
    std::string text = ReadFile(log.path);
    const std::string first = "initializing system\n";
    if (text.compare(0, first.size(), first) == 0) text.erase(0, first.size());
    return text;
}

class SysFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Row paths are needed to spell the expected log lines.
        static bool resolved = false;
        if (!resolved) InitSysCmdList();
        resolved = true;
    }
    TempDir dir;
    std::string P(const std::string &rel) const { return dir.path + "/" + rel; }
};

TEST_F(SysFileTest, CreateFileMakesMissingDirectoryThenTouchesAndChmods) {
    std::string d = P("a/b");
    std::string log = LogOf("create", [&] { CreateFile(d.c_str(), "f", "666", nullptr, nullptr); });
    EXPECT_EQ(log, LoggedCommand(CMD_MKDIR, d) + LoggedCommand(CMD_TOUCH, d + "/f") +
                       LoggedCommand(CMD_CHMOD, "666 " + d + "/f"));
    struct stat st;
    ASSERT_EQ(stat((d + "/f").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST_F(SysFileTest, CreateFileOnExistingDirectoryRunsOnlyChmod) {
    std::string d = P("exists");
    ASSERT_EQ(mkdir(d.c_str(), 0700), 0);
    std::string log =
        LogOf("chmod", [&] { CreateFile(d.c_str(), nullptr, "755", nullptr, nullptr); });
    EXPECT_EQ(log, LoggedCommand(CMD_CHMOD, "755 " + d));
    struct stat st;
    ASSERT_EQ(stat(d.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST_F(SysFileTest, CreateFileSetsOwnerAndGroupAfterTheMode) {
    if (geteuid() != 0) GTEST_SKIP() << "chown needs root";
    std::string d = P("owned");
    std::string log =
        LogOf("owner", [&] { CreateFile(d.c_str(), "f", "640", "nobody", "nogroup"); });
    std::string f = d + "/f";
    EXPECT_EQ(log, LoggedCommand(CMD_MKDIR, d) + LoggedCommand(CMD_TOUCH, f) +
                       LoggedCommand(CMD_CHMOD, "640 " + f) +
                       LoggedCommand(CMD_CHOWN, "-h nobody " + f) +
                       LoggedCommand(CMD_CHGRP, "-h nogroup " + f));
    struct stat st;
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
}

TEST_F(SysFileTest, CreateFileStopsTheProgramWhenACommandFails) {
    std::string d = P("stop");
    ChildResult r;
    std::string log = LogOf(
        "fail", [&] { CreateFile(d.c_str(), nullptr, "not-a-mode", nullptr, nullptr); }, &r);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ERROR: "), std::string::npos) << r.out;
    EXPECT_NE(log.find("ERROR: "), std::string::npos) << log;
}

// A link at the name whose mode, owner or group root changes would hand the
// change to whatever the link points to (a program of someone else's choice
// made set-user-ID root): it is refused, and nothing runs.
TEST_F(SysFileTest, ChangeAttrNeverFollowsALink) {
    std::string victim = P("victim");
    WriteFile(victim, "x");
    ASSERT_EQ(chmod(victim.c_str(), 0755), 0);
    std::string link = P("dsf");
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    struct Case {
        const char *name;
        int row;
        int mode;
        const char *value;
        int status;          // of the child
        const char *level;   // of the log entry
    } cases[] = {
        {"chmod in mode 1: a warning", CMD_CHMOD, RUN_WARN, "4755", 0, "WARNING_MSG"},
        {"chmod in mode 2: the end", CMD_CHMOD, RUN_FATAL, "4755", 1, "ERROR"},
        {"chown in mode 2", CMD_CHOWN, RUN_FATAL, "nobody", 1, "ERROR"},
        {"chgrp in mode 1", CMD_CHGRP, RUN_WARN, "nogroup", 0, "WARNING_MSG"},
    };
    for (const Case &c : cases) {
        ChildResult r;
        std::string log = LogOf(
            "nolink",
            [&] {
                int rc = SysChangeAttr(c.row, c.mode, c.value, link.c_str(), true);
                _exit(rc == ELOOP ? 0 : 3);
            },
            &r);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(log, std::string(c.level) + ": " + link +
                           " is a symbolic link, which is not followed\n")
            << c.name;
        struct stat st;
        ASSERT_EQ(stat(victim.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0755u) << c.name;
        EXPECT_EQ(st.st_uid, geteuid()) << c.name;
    }
    // The entry itself is changed as before, with -h for owner and group.
    std::string log = LogOf("attr", [&] {
        SysChangeAttr(CMD_CHMOD, RUN_FATAL, "700", victim.c_str(), false);
        SysChangeAttr(CMD_CHGRP, RUN_FATAL, std::to_string(getegid()).c_str(), victim.c_str(),
                      true);
    });
    EXPECT_EQ(log, LoggedCommand(CMD_CHMOD, "700 " + victim) +
                       LoggedCommand(CMD_CHGRP, "-h -R " + std::to_string(getegid()) + " " + victim));
    struct stat st;
    ASSERT_EQ(stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

// Paths are handed to a shell: whatever they hold must arrive as one literal
// argument and run nothing.
TEST_F(SysFileTest, PathsWithShellCharactersAreQuoted) {
    const char *names[] = {"two words",
                           "semi;colon",
                           "quote'single",
                           "dollar$(touch PWNED)",
                           "back`touch PWNED`tick",
                           "double\"quote",
                           "back\\slash",
                           "star*",
                           "amp&&touch PWNED",
                           "new\nline"};
    for (const char *name : names) {
        SCOPED_TRACE(name);
        std::string d = P(name);
        RunChild([&] { CreateFile(d.c_str(), "f g", "600", nullptr, nullptr); });
        struct stat st;
        ASSERT_EQ(stat((d + "/f g").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);

        RunChild([&] { RenameFile(d.c_str(), "f g", "h$i"); });
        EXPECT_TRUE(std::filesystem::exists(d + "/h$i"));

        RunChild([&] { DeleteFile(d.c_str(), nullptr); });
        EXPECT_FALSE(std::filesystem::exists(d));
    }
    EXPECT_FALSE(std::filesystem::exists(P("PWNED")));
    EXPECT_FALSE(std::filesystem::exists("PWNED"));
    // Only the scratch directory's own entries were touched.
    EXPECT_TRUE(std::filesystem::is_empty(dir.path));
}

TEST_F(SysFileTest, RelativePathsThatBeginWithADashAreNotTakenForOptions) {
    // Every command sees the path as a path: "-rf" or "--help" in the
    // working directory is made, renamed and removed like any other name.
    for (const char *name : {"-rf", "--help", "-"}) {
        SCOPED_TRACE(name);
        std::string moved = std::string(name) + "moved";
        std::string log;
        ChildResult r;
        log = LogOf(
            "dash",
            [&] {
                if (chdir(dir.path.c_str()) != 0) _exit(9);
                CreateFile(name, "f", "700", nullptr, nullptr);
            },
            &r);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(log, LoggedCommand(CMD_MKDIR, std::string("./") + name) +
                           LoggedCommand(CMD_TOUCH, std::string("./") + name + "/f") +
                           LoggedCommand(CMD_CHMOD, std::string("700 ./") + name + "/f"));
        EXPECT_TRUE(std::filesystem::exists(P(name) + "/f"));
        RunChild([&] {
            if (chdir(dir.path.c_str()) != 0) _exit(9);
            RenameFile(nullptr, name, moved.c_str());
        });
        EXPECT_TRUE(std::filesystem::exists(P(moved) + "/f"));
        RunChild([&] {
            if (chdir(dir.path.c_str()) != 0) _exit(9);
            DeleteFile(nullptr, moved.c_str());
        });
        EXPECT_FALSE(std::filesystem::exists(P(moved)));
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path));
}

TEST_F(SysFileTest, DeleteFileRemovesTreesAndRunsNothingForMissingEntries) {
    ASSERT_EQ(mkdir(P("tree").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(P("tree/sub").c_str(), 0755), 0);
    WriteFile(P("tree/sub/f"), "x");
    WriteFile(P("single"), "x");

    std::string log = LogOf("delete", [&] {
        DeleteFile(dir.path.c_str(), "tree");
        DeleteFile(nullptr, P("single").c_str());
        DeleteFile(dir.path.c_str(), "missing");
        DeleteFile(nullptr, P("missing").c_str());
        DeleteFile(nullptr, nullptr);
    });
    EXPECT_EQ(log, LoggedCommand(CMD_RM_RF, P("tree")) + LoggedCommand(CMD_RM_RF, P("single")));
    EXPECT_FALSE(std::filesystem::exists(P("tree")));
    EXPECT_FALSE(std::filesystem::exists(P("single")));
}

TEST_F(SysFileTest, DeleteFileUnderscoreTakesAWholePathOrPathAndName) {
    WriteFile(P("one"), "1");
    ASSERT_EQ(mkdir(P("d").c_str(), 0755), 0);
    WriteFile(P("d/two"), "2");
    ASSERT_EQ(symlink("nowhere", P("dangling").c_str()), 0);
    RunChild([&] {
        DeleteFile_(P("one").c_str(), nullptr);
        DeleteFile_(P("d").c_str(), "two");
        DeleteFile_(P("dangling").c_str(), nullptr);
        DeleteFile_(nullptr, "x");
    });
    EXPECT_FALSE(std::filesystem::exists(P("one")));
    EXPECT_FALSE(std::filesystem::exists(P("d/two")));
    EXPECT_TRUE(std::filesystem::exists(P("d")));
    EXPECT_FALSE(std::filesystem::is_symlink(P("dangling")));
}

TEST_F(SysFileTest, RenameFileIsAQuietMove) {
    WriteFile(P("old"), "content");
    WriteFile(P("a"), "a");
    std::string log = LogOf("rename", [&] {
        RenameFile(dir.path.c_str(), "old", "new");
        RenameFile(nullptr, P("a").c_str(), P("b").c_str());
        RenameFile(dir.path.c_str(), "missing", "x");
    });
    EXPECT_EQ(log, ""); // quiet: no entry of the command line
    EXPECT_EQ(ReadFile(P("new")), "content");
    EXPECT_EQ(ReadFile(P("b")), "a");
    EXPECT_FALSE(std::filesystem::exists(P("old")));
    EXPECT_FALSE(std::filesystem::exists(P("x")));
}

TEST_F(SysFileTest, CreateFileDoesNotMakeAnExistingDirectoryWrittenWithATrailingSlashAgain) {
    ASSERT_EQ(mkdir(P("sub").c_str(), 0755), 0);
    std::string withSlash = P("sub/");
    std::string log =
        LogOf("slash", [&] { CreateFile(withSlash.c_str(), nullptr, "700", nullptr, nullptr); });
    EXPECT_EQ(log, LoggedCommand(CMD_CHMOD, "700 " + withSlash));
}

TEST_F(SysFileTest, CreateFileMakesADirectoryWhoseNameHoldsTheNamesOfTwoEntries) {
    // "a b" is missing even though a and b are there.
    for (const char *name : {"a", "b"})
        ASSERT_EQ(mkdir(P(name).c_str(), 0755), 0);
    std::string target = P("a b");
    RunChild([&] { CreateFile(target.c_str(), "f", nullptr, nullptr, nullptr); });
    EXPECT_TRUE(std::filesystem::exists(target + "/f"));
}

TEST_F(SysFileTest, DeleteFileRunsNothingForALongNameOfWhichOnlyTheStartExists) {
    WriteFile(P(std::string(127, 'y')), "");
    std::string missing(200, 'y');
    std::string log = LogOf("longname", [&] { DeleteFile(dir.path.c_str(), missing.c_str()); });
    EXPECT_EQ(log, ""); // nothing to remove: no command runs
    EXPECT_TRUE(std::filesystem::exists(P(std::string(127, 'y'))));
}

} // namespace
