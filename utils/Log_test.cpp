// Tests of the diagnostics and the run log. Every case that writes the log or
// ends the process runs in a child process with a log name of its own, so the
// first-message flag starts fresh and no real /tmp/setup.log is touched.

#include "utils.h"

#include "MemMgr.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace testsupport;

TEST(Log, NothingIsWrittenWhileTheLogIsOff) {
    TestLog log("off");
    ChildResult r = RunChild([&] {
        my_name = SaveStr("%s", log.name.c_str());
        PutLogMsg("not written\n");
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(std::filesystem::exists(log.path));
    EXPECT_EQ(r.err, "");
}

TEST(Log, FirstMessageReplacesOldLogAndLaterOnesAppendAsTheyStand) {
    TestLog log("trunc");
    WriteFile(log.path, "left over from an earlier run\n");
    ChildResult r = RunChild([&] {
        log.Use();
        PutLogMsg("initializing system\n");
        PutLogMsg("no line end");
        PutLogMsg("%s: %s\n", "WARNING_MSG", "Permission denied");
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadFile(log.path),
              "initializing system\nno line endWARNING_MSG: Permission denied\n");
    EXPECT_EQ(r.err, "");
}

// Nobody but its owner may read root's record of every command, or add
// lines of his own to it.
TEST(Log, NewLogIsCreatedWithMode600WhateverTheUmask) {
    for (mode_t mask : {0000, 0022, 0077}) {
        TestLog log("mode");
        ChildResult r = RunChild([&] {
            umask(mask);
            log.Use();
            PutLogMsg("x");
        });
        EXPECT_EQ(r.status, 0);
        struct stat st;
        ASSERT_EQ(lstat(log.path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0600u) << "umask " << mask;
    }
}

TEST(Log, ExistingLogKeepsItsModeAndIsTruncatedInPlace) {
    TestLog log("keep");
    WriteFile(log.path, "old");
    chmod(log.path.c_str(), 0640);
    struct stat before;
    ASSERT_EQ(stat(log.path.c_str(), &before), 0);
    RunChild([&] {
        log.Use();
        PutLogMsg("new");
    });
    struct stat after;
    ASSERT_EQ(stat(log.path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(ReadFile(log.path), "new");
}

// Entries planted at the log path by someone else: the log must never write
// through them, and whatever they point at must stay as it was.
TEST(Log, PlantedLinksAndSpecialFilesAreReplacedNotFollowed) {
    TempDir dir;
    std::string victim = dir.path + "/victim";
    std::string missing = dir.path + "/would-be-created";

    struct Case {
        const char *what;
        std::function<void(const std::string &)> plant;
    } cases[] = {
        {"symbolic link to a file",
         [&](const std::string &p) { ASSERT_EQ(symlink(victim.c_str(), p.c_str()), 0); }},
        {"dangling symbolic link",
         [&](const std::string &p) { ASSERT_EQ(symlink(missing.c_str(), p.c_str()), 0); }},
        {"hard link to a file",
         [&](const std::string &p) { ASSERT_EQ(link(victim.c_str(), p.c_str()), 0); }},
        {"named pipe", [&](const std::string &p) { ASSERT_EQ(mkfifo(p.c_str(), 0666), 0); }},
        {"directory", [&](const std::string &p) { ASSERT_EQ(mkdir(p.c_str(), 0777), 0); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TestLog log("planted");
        WriteFile(victim, "precious\n");
        chmod(victim.c_str(), 0644);
        c.plant(log.path);
        ChildResult r = RunChild([&] {
            log.Use();
            PutLogMsg("first\n");
            PutLogMsg("second\n");
        });
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(ReadFile(victim), "precious\n");
        EXPECT_FALSE(std::filesystem::exists(missing));
        struct stat st;
        ASSERT_EQ(lstat(log.path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_nlink, 1u);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(ReadFile(log.path), "first\nsecond\n");
        std::filesystem::remove_all(log.path);
    }
}

// The log stays open between messages, but each message goes to the file
// that the log's name names at that moment, with the same checks as a fresh
// open: never through an entry planted since, never into a file that has
// become someone else's, and not into the old file once it is no longer the
// log (a removed or renamed log is made anew, as the commands' own output
// goes to the name too).
TEST(Log, EachMessageGoesToTheFileTheNameNamesAtThatMoment) {
    TempDir dir;
    const std::string victim = dir / "victim";
    struct Case {
        const char *what;
        std::function<void(const std::string &log, const std::string &aside)> change;
        std::string log;   // the log afterwards
        std::string aside; // log + ".aside" afterwards; empty: must not exist
    } cases[] = {
        {"nothing changed", [](auto &, auto &) {}, "first\nsecond\n", ""},
        {"emptied", [](auto &log, auto &) { ASSERT_EQ(truncate(log.c_str(), 0), 0); }, "second\n",
         ""},
        {"removed", [](auto &log, auto &) { ASSERT_EQ(unlink(log.c_str()), 0); }, "second\n", ""},
        {"renamed away",
         [](auto &log, auto &aside) { ASSERT_EQ(rename(log.c_str(), aside.c_str()), 0); },
         "second\n", "first\n"},
        {"replaced by another file of ours",
         [](auto &log, auto &aside) {
             ASSERT_TRUE(WriteFile(aside, "other\n", 0644));
             ASSERT_EQ(rename(aside.c_str(), log.c_str()), 0);
         },
         "other\nsecond\n", ""},
        {"replaced by a symbolic link",
         [&](auto &log, auto &aside) {
             ASSERT_EQ(rename(log.c_str(), aside.c_str()), 0);
             ASSERT_EQ(symlink(victim.c_str(), log.c_str()), 0);
         },
         "second\n", "first\n"},
        {"given a second name",
         [](auto &log, auto &aside) { ASSERT_EQ(link(log.c_str(), aside.c_str()), 0); }, "second\n",
         "first\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TestLog log("between");
        const std::string aside = log.path + ".aside";
        WriteFile(victim, "precious\n", 0644);
        ChildResult r = RunChild([&] {
            log.Use();
            PutLogMsg("first\n");
            c.change(log.path, aside);
            PutLogMsg("second\n");
        });
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(ReadFile(log.path), c.log);
        EXPECT_EQ(Mode(log.path), c.log == "other\nsecond\n" ? 0644 : 0600);
        EXPECT_EQ(Exists(aside), !c.aside.empty());
        if (!c.aside.empty()) {
            EXPECT_EQ(ReadFile(aside), c.aside);
        }
        EXPECT_EQ(ReadFile(victim), "precious\n");
        unlink(aside.c_str());
    }
}

TEST(Log, ALogGivenToAnotherUserBetweenMessagesIsReplaced) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another user";
    TestLog log("given");
    ChildResult r = RunChild([&] {
        log.Use();
        PutLogMsg("first\n");
        ASSERT_EQ(chown(log.path.c_str(), 65534, 65534), 0);
        PutLogMsg("second\n");
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadFile(log.path), "second\n");
    struct stat st;
    ASSERT_EQ(lstat(log.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
}

// The descriptor the log keeps belongs to the log: when the caller closes
// it and the number comes back for a file of its own, that file is neither
// written nor closed.
TEST(Log, ADescriptorNumberReusedByTheCallerIsLeftToTheCaller) {
    TempDir dir;
    const std::string mine = dir / "mine";
    WriteFile(mine, "caller's\n");
    TestLog log("reused");
    ChildResult r = RunChild([&] {
        log.Use();
        PutLogMsg("first\n");
        int held = -1;
        for (int fd = 3; fd < 64 && held < 0; ++fd) {
            char link[64], target[PATH_MAX];
            snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
            ssize_t n = readlink(link, target, sizeof target - 1);
            if (n > 0 && std::string(target, static_cast<size_t>(n)) == log.path) held = fd;
        }
        ASSERT_GE(held, 0) << "the log is not held open";
        ASSERT_EQ(close(held), 0);
        ASSERT_EQ(open(mine.c_str(), O_WRONLY | O_APPEND), held);
        PutLogMsg("second\n");
        EXPECT_NE(fcntl(held, F_GETFD), -1) << "the caller's file was closed";
    });
    EXPECT_CHILD_OK(r);
    EXPECT_EQ(ReadFile(mine), "caller's\n");
    EXPECT_EQ(ReadFile(log.path), "first\nsecond\n");
}

TEST(Log, ProgramsStartedAfterAMessageDoNotInheritTheLog) {
    TempDir dir;
    const std::string fds = dir / "fds";
    TestLog log("inherit");
    ChildResult r = RunChild([&] {
        log.Use();
        PutLogMsg("first\n");
        std::string cmd = "ls -l /proc/$$/fd/ > " + fds;
        ASSERT_EQ(system(cmd.c_str()), 0);
    });
    EXPECT_CHILD_OK(r);
    EXPECT_TRUE(Contains(ReadFile(fds), fds)) << "the listing did not run";
    EXPECT_FALSE(Contains(ReadFile(fds), log.path)) << ReadFile(fds);
}

TEST(Log, AMessageAfterTheProgramNameChangedGoesToTheNewNamesLog) {
    TestLog first("renamed1"), second("renamed2");
    WriteFile(second.path, "kept\n");
    ChildResult r = RunChild([&] {
        first.Use();
        PutLogMsg("one\n");
        second.Use();
        PutLogMsg("two\n");
        first.Use();
        PutLogMsg("three\n");
    });
    EXPECT_CHILD_OK(r);
    EXPECT_EQ(ReadFile(first.path), "one\nthree\n");
    // Only the run's first message empties a log.
    EXPECT_EQ(ReadFile(second.path), "kept\ntwo\n");
}

TEST(Log, DirectoryWithContentsIsLeftAloneAndTheMessageLost) {
    TestLog log("dir");
    ASSERT_EQ(mkdir(log.path.c_str(), 0755), 0);
    WriteFile(log.path + "/keep", "contents\n");
    ChildResult r = RunChild([&] {
        log.Use();
        PutLogMsg("lost\n");
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "ERROR: couldn't open " + log.path + "\n");
    EXPECT_EQ(ReadFile(log.path + "/keep"), "contents\n");
    std::filesystem::remove_all(log.path);
}

TEST(Log, FileOfAnotherUserIsReplaced) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to plant a file of another user";
    TestLog log("foreign");
    WriteFile(log.path, "planted\n");
    ASSERT_EQ(chown(log.path.c_str(), 65534, 65534), 0);
    chmod(log.path.c_str(), 0666);
    // Keep a second name so the planted inode can be checked afterwards.
    std::string keep = log.path + ".keep";
    unlink(keep.c_str());
    ASSERT_EQ(link(log.path.c_str(), keep.c_str()), 0);
    RunChild([&] {
        log.Use();
        PutLogMsg("mine\n");
    });
    EXPECT_EQ(ReadFile(keep), "planted\n");
    EXPECT_EQ(ReadFile(log.path), "mine\n");
    struct stat st;
    ASSERT_EQ(stat(log.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    unlink(keep.c_str());
}

TEST(Log, UnopenableLogCostsTheMessageOnly) {
    ChildResult r = RunChild([] {
        my_name = SaveStr("no_such_dir_%d/x", static_cast<int>(getpid()));
        flUseLog = 1;
        PutLogMsg("lost\n");
        printf("still running\n");
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "still running\n");
    EXPECT_NE(r.err.find("ERROR: couldn't open /tmp/no_such_dir_"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("/x.log\n"), std::string::npos) << r.err;
}

TEST(Log, LogNameThatDoesNotFitIsRefused) {
    ChildResult r = RunChild([] {
        my_name = SaveStr("%0300d", 7);
        flUseLog = 1;
        PutLogMsg("lost\n");
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind("ERROR: couldn't open /tmp/000", 0), 0u) << r.err;
}

TEST(Diagnostics, MessagesAndExitStatuses) {
    struct Case {
        const char *what;
        std::function<void()> run;
        int status;
        const char *out;
        const char *err;
    } cases[] = {
        {"SysError prints the system's reason and ends with 1",
         [] {
             errno = ENOENT;
             SysError("can't open file, %s", "/x/y");
         },
         1, "", "\nprog: can't open file, /x/y : No such file or directory\n"},
        {"SysError after a failed allocation",
         [] {
             errno = ENOMEM;
             SysError("Unable to allocate memory");
         },
         1, "", "\nprog: Unable to allocate memory : Cannot allocate memory\n"},
        {"ErrorMsg level 1 warns and returns",
         [] {
             ErrorMsg(1, 7, "disk %s low", "/tmp");
             printf("returned");
         },
         0, "returned", "WARNING: disk /tmp low\n"},
        {"ErrorMsg level 2 ends with the given status", [] { ErrorMsg(2, 3, "bad %d", 42); }, 3, "",
         "ERROR: bad 42\n"},
        {"ErrorMsg level 2 with status 0", [] { ErrorMsg(2, 0, "stop"); }, 0, "", "ERROR: stop\n"},
        {"ErrorMsg other levels are silent",
         [] {
             ErrorMsg(0, 9, "quiet");
             ErrorMsg(3, 9, "quiet");
             ErrorMsg(-1, 9, "quiet");
         },
         0, "", ""},
        {"errormsg prefixes the program name", [] { errormsg("cannot %s", "go on"); }, 0, "",
         "prog: cannot go on\n"},
        {"exit_app ends with its status", [] { exit_app(5); }, 5, "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ChildResult r = RunChild([&] {
            my_name = SaveStr("prog");
            c.run();
        });
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

TEST(Diagnostics, SysErrorFlushesPendingStandardOutputFirst) {
    ChildResult r = RunChild([] {
        my_name = SaveStr("prog");
        printf("progress...");
        errno = EACCES;
        SysError("stop");
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "progress...");
    EXPECT_EQ(r.err, "\nprog: stop : Permission denied\n");
}

TEST(Diagnostics, ErrorMsgFormatsIntoTheSharedLineBuffer) {
    snprintf(Line, LINE_SIZE, "%s", "the line last read");
    ErrorMsg(0, 0, "%s=%d", "k", 4);
    EXPECT_STREQ(Line, "k=4");
}

TEST(Diagnostics, ErrorMsgAboutTheLineInTheSharedBufferQuotesItWhole) {
    // The line just read lives in Line, which is also where the message goes.
    snprintf(Line, LINE_SIZE, "%s", "bad entry = 7");
    ErrorMsg(0, 0, "%s: [%s] at %d", "pkg.list", Line, 3);
    EXPECT_STREQ(Line, "pkg.list: [bad entry = 7] at 3");

    snprintf(Line, LINE_SIZE, "%s", "   key=value");
    ChildResult r = RunChild([] { ErrorMsg(1, 0, "line '%s' skipped (%s)", Line + 3, Line); });
    EXPECT_EQ(r.err, "WARNING: line 'key=value' skipped (   key=value)\n");

    // Opening a file named by the line just read reports that name.
    snprintf(Line, LINE_SIZE, "%s", "/no/such/dir/input.txt");
    r = RunChild([] { OpenInputFile(Line, 2); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: can't open file, /no/such/dir/input.txt\n");
}

TEST(Diagnostics, ErrorMsgLongerThanTheLineBufferIsCut) {
    std::string huge(LINE_SIZE + 5000, 'm');
    ErrorMsg(0, 0, "%s", huge.c_str());
    EXPECT_EQ(strlen(Line), static_cast<size_t>(LINE_SIZE - 1));
    ChildResult r = RunChild([&] { ErrorMsg(1, 0, "%s", huge.c_str()); });
    EXPECT_EQ(r.err.size(), strlen("WARNING: ") + LINE_SIZE - 1 + 1);
}

} // namespace
