// Tests of the file helpers against the real file system.

#include "utils.h"

#include "MemMgr.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <vector>

namespace {

using namespace testsupport;

class FileTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string P(const std::string &rel) const { return dir.path + "/" + rel; }
};

TEST_F(FileTest, OpenFileReportsByMode) {
    std::string missing = P("missing");
    ChildResult r = RunChild(
        [&] { printf("%p", static_cast<void *>(OpenFile(nullptr, missing.c_str(), "r", 0))); });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "(nil)");
    EXPECT_EQ(r.err, "");

    r = RunChild([&] { OpenFile(nullptr, missing.c_str(), "r", 1); });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "ERROR: can't open file, " + missing + "\n");

    r = RunChild([&] {
        my_name = SaveStr("setup");
        OpenFile(nullptr, missing.c_str(), "r", 2);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\nsetup: can't open file, " + missing + " : No such file or directory\n");
}

TEST_F(FileTest, OpenFileClosesTheStreamItIsGiven) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FILE *writer = fdopen(fds[1], "w");
    WriteFile(P("f"), "x");
    FILE *f = OpenFile(writer, P("f").c_str(), "r", 0);
    ASSERT_NE(f, nullptr);
    fclose(f);
    char c;
    EXPECT_EQ(read(fds[0], &c, 1), 0); // the writer is gone: end of the pipe
    close(fds[0]);
}

TEST_F(FileTest, OpenFileFFormatsThePathAndRefusesOneThatDoesNotFit) {
    WriteFile(P("a7"), "seven");
    FILE *f = OpenFileF(nullptr, "r", 0, "%s/a%d", dir.path.c_str(), 7);
    ASSERT_NE(f, nullptr);
    fclose(f);

    std::string longName(600, 'n');
    ChildResult r = RunChild([&] {
        FILE *g = OpenFileF(nullptr, "r", 1, "%s/%s", dir.path.c_str(), longName.c_str());
        printf("%s", g ? "opened" : "null");
    });
    EXPECT_EQ(r.out, "null");
    EXPECT_EQ(r.err.rfind("ERROR: can't open file, " + dir.path + "/nnn", 0), 0u);
}

TEST_F(FileTest, OpenRawFileReportsOnStandardOutputWithoutLineEnd) {
    std::string missing = P("missing");
    ChildResult r = RunChild([&] { printf("|%d", OpenRawFile(missing.c_str(), O_RDONLY) < 0); });
    EXPECT_EQ(r.out, "ERROR: can't open file, " + missing + "|1");
    int fd = OpenRawFile(P("new").c_str(), O_WRONLY | O_CREAT);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_TRUE(std::filesystem::exists(P("new")));
}

TEST_F(FileTest, CreateTextFileWritesContentAndMode) {
    std::string path = P("flags");
    ASSERT_EQ(CreateTextFile(path.c_str(), "w", 0640, "%s=%d\n", "cups", 1), 1);
    EXPECT_EQ(ReadFile(path), "cups=1\n");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // Mode 0 leaves the bits as created; "a" appends.
    ASSERT_EQ(CreateTextFile(path.c_str(), "a", 0, "more\n"), 1);
    EXPECT_EQ(ReadFile(path), "cups=1\nmore\n");
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(FileTest, CreateTextFileFailures) {
    std::string bad = P("no/such/dir/f");
    ChildResult r = RunChild([&] { printf("%d", CreateTextFile(bad.c_str(), "w", 0, "x")); });
    EXPECT_EQ(r.out, "0");
    EXPECT_EQ(r.err, "ERROR: couldn't open " + bad + "\n");

    // The content never reaches a full device: that is no success.
    r = RunChild([&] { printf("%d", CreateTextFile("/dev/full", "w", 0, "data")); });
    EXPECT_EQ(r.out, "0");
    EXPECT_EQ(r.err, "ERROR: couldn't write /dev/full\n");
}

TEST_F(FileTest, FindFileLooksTheNameUpInItsParentsListing) {
    ASSERT_EQ(mkdir(P("rc.d").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(P("rc.d/init.d").c_str(), 0755), 0);
    WriteFile(P("file"), "");
    ASSERT_EQ(symlink("nowhere", P("dangling").c_str()), 0);
    ASSERT_EQ(mkfifo(P("fifo").c_str(), 0600), 0);
    const std::string &d = dir.path;
    struct Case {
        const char *dir;
        const char *name;
        int found;
        int statFound;
    } cases[] = {
        {"/etc", "passwd", 1, 1},
        {nullptr, "/etc/passwd", 1, 1},
        {"/etc/passwd", nullptr, 1, 1},
        {d.c_str(), "rc.d/init.d", 1, 1},
        {d.c_str(), "rc.d/missing", 0, 0},
        {d.c_str(), "file", 1, 1},
        {d.c_str(), "fil", 0, 0},
        {d.c_str(), "dangling", 1, 0},
        {d.c_str(), "fifo", 1, 1},
        {d.c_str(), "", 1, 1},
        {"/no/such/dir", "x", 0, 0},
        {nullptr, nullptr, 0, 0},
        {nullptr, "", 0, 0},
        {"/", nullptr, 1, 1},
        {".", nullptr, 1, 1},
        {"", nullptr, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.dir ? c.dir : "(null)") + " | " + (c.name ? c.name : "(null)"));
        EXPECT_EQ(FindFile(c.dir, c.name), c.found);
        EXPECT_EQ(FindFile_(c.dir, c.name), c.statFound);
    }
}

TEST_F(FileTest, FindFileTakesTrailingSlashesAsTheDirectoryItself) {
    ASSERT_EQ(mkdir(P("sub").c_str(), 0755), 0);
    WriteFile(P("file"), "");
    struct Case {
        std::string dir;
        const char *name;
        int found;
    } cases[] = {
        {P("sub/"), nullptr, 1},    {P("sub//"), nullptr, 1},     {P("sub/"), "", 1},
        {P("file/"), nullptr, 1}, // the entry exists; what it is does not matter here
        {P("none/"), nullptr, 0},   {dir.path + "/", nullptr, 1}, {"/usr/bin/", nullptr, 1},
        {"//", nullptr, 1},         {"///", nullptr, 1},          {dir.path, "sub/", 1},
        {dir.path + "/", "sub", 1}, {dir.path + "/", "none", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.dir + " | " + (c.name ? c.name : "(null)"));
        EXPECT_EQ(FindFile(c.dir.c_str(), c.name), c.found);
        if (c.name == nullptr) {
            EXPECT_EQ(FindFile(nullptr, c.dir.c_str()), c.found);
        }
    }

    // The nearest existing path of an existing directory written with a
    // trailing slash is that directory itself.
    int flag = 0;
    std::string withSlash = P("sub/");
    EXPECT_EQ(Stored(FindExistingPath(withSlash.c_str(), &flag)), withSlash);
    EXPECT_EQ(flag, 1);
}

TEST_F(FileTest, FindFileDoesNotTakeNeighbouringEntriesForANameWithABlank) {
    // The listing is " a b two words ... ": "a b" must not match a and b.
    for (const char *name : {"a", "b", "c", "two words"})
        ASSERT_EQ(mkdir(P(name).c_str(), 0755), 0);
    const char *absent[] = {"a b",   "b a", "a c",   "c a",   "b c",     "c b",        "a b c",
                            "c b a", "two", "words", "a two", "words c", "b two words"};
    for (const char *name : absent) {
        SCOPED_TRACE(name);
        EXPECT_EQ(FindFile(dir.path.c_str(), name), 0);
        EXPECT_EQ(FindFile(nullptr, P(name).c_str()), 0);
    }
    EXPECT_EQ(FindFile(dir.path.c_str(), "two words"), 1);
    EXPECT_EQ(FindFile(nullptr, P("two words").c_str()), 1);
    EXPECT_EQ(FindFile(P("two words").c_str(), nullptr), 1);
    EXPECT_EQ(FindFile("/no/such dir", "x y"), 0);
}

TEST_F(FileTest, FindFileComparesLongNamesWhole) {
    // Names longer than the path splitters keep (127 characters) are looked
    // up whole: a long name is found, and an entry that is only its first
    // 127 characters is not taken for it.
    std::string longName(200, 'x'), cutName(127, 'y');
    WriteFile(P(longName), "");
    WriteFile(P(cutName), "");
    std::string missing(200, 'y');
    struct Case {
        const char *dir;
        std::string name;
        int found;
    } cases[] = {
        {dir.path.c_str(), longName, 1}, {dir.path.c_str(), missing, 0},
        {nullptr, P(longName), 1},       {nullptr, P(missing), 0},
        {nullptr, P(longName) + "/", 1}, {nullptr, P(missing) + "/", 0},
        {"/", P(longName).substr(1), 1}, {"/", P(missing).substr(1), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.dir ? c.dir : "(null)") + " | " + c.name.substr(0, 40));
        EXPECT_EQ(FindFile(c.dir, c.name.c_str()), c.found);
    }
    int flag = 0;
    EXPECT_EQ(Stored(FindExistingPath(P(missing + "/sub").c_str(), &flag)), dir.path);
    EXPECT_EQ(flag, 0);
}

TEST_F(FileTest, FindFileInAnUnreadableDirectoryIsZero) {
    std::string d = P("closed");
    ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
    WriteFile(d + "/f", "");
    chmod(d.c_str(), 0311); // may be entered, not listed
    chmod(dir.path.c_str(), 0755);
    ChildResult r = RunChild([&] {
        if (geteuid() == 0 && setuid(65534) != 0) _exit(9);
        printf("%d%d", FindFile(d.c_str(), "f"), FindFile_(d.c_str(), "f"));
    });
    chmod(d.c_str(), 0755);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "01"); // not in a listing that cannot be read; stat still works
}

TEST_F(FileTest, FindFileInADirectoryThatMayBeListedButNotEnteredFindsItsEntries) {
    std::string d = P("listonly");
    ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
    WriteFile(d + "/f", "");
    ASSERT_EQ(symlink("/nonexistent", (d + "/dangling").c_str()), 0);
    chmod(d.c_str(), 0644); // may be listed, not entered
    chmod(dir.path.c_str(), 0755);
    ChildResult r = RunChild([&] {
        if (geteuid() == 0 && setuid(65534) != 0) _exit(9);
        printf("%d%d%d%d", FindFile(d.c_str(), "f"), FindFile(d.c_str(), "dangling"),
               FindFile(d.c_str(), "none"), FindFile_(d.c_str(), "f"));
    });
    chmod(d.c_str(), 0755);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1100"); // the listing has them; stat cannot reach them
}

TEST_F(FileTest, FileTypeSizeAndTime) {
    ASSERT_EQ(mkdir(P("d").c_str(), 0755), 0);
    WriteFile(P("ten"), "0123456789");
    ASSERT_EQ(symlink(P("d").c_str(), P("link").c_str()), 0);
    ASSERT_EQ(mkfifo(P("fifo").c_str(), 0600), 0);
    struct Case {
        std::string path;
        int type;
    } cases[] = {{P("d"), 1}, {P("link"), 2}, {P("ten"), 3}, {P("fifo"), 3}, {P("none"), 0}};
    for (const Case &c : cases)
        EXPECT_EQ(GetFileType(c.path.c_str()), c.type) << c.path;
    EXPECT_EQ(GetFileType(nullptr), 0);

    EXPECT_EQ(GetFileSize(P("ten").c_str()), 10);
    EXPECT_EQ(GetFileSize(P("none").c_str()), 0);

    struct timeval times[2] = {{1000000000, 0}, {1234567890, 0}};
    ASSERT_EQ(utimes(P("ten").c_str(), times), 0);
    EXPECT_EQ(GetFileTime(P("ten").c_str()), 1234567890);
    EXPECT_EQ(GetFileTime(P("none").c_str()), 0);
}

TEST_F(FileTest, FileSearchReturnsTheFirstMatchingLine) {
    std::string f = P("conf");
    WriteFile(f, "first line\nkey=value\nkey=other\n" + std::string(600, 'z') + "tail\n");
    EXPECT_STREQ(FileSearch(f.c_str(), "key", 0), "key=value\n");
    EXPECT_STREQ(FileSearch(f.c_str(), nullptr, 0), "first line\n");
    EXPECT_EQ(FileSearch(f.c_str(), "absent", 0), nullptr);
    // A line is read in pieces of at most 511 characters.
    char *hit = FileSearch(f.c_str(), "zzz", 0);
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(strlen(hit), 511u);
    hit = FileSearch(f.c_str(), "tail", 0);
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(std::string(hit), std::string(89, 'z') + "tail\n");

    std::string missing = P("missing");
    ChildResult r = RunChild([&] { printf("%d", FileSearch(missing.c_str(), "x", 1) == nullptr); });
    EXPECT_EQ(r.out, "1");
    EXPECT_EQ(r.err, "ERROR: can't open file, " + missing + "\n");
    r = RunChild([&] { FileSearch(missing.c_str(), "x", 2); });
    EXPECT_EQ(r.status, 1);
}

TEST_F(FileTest, GetToolPathFromTheInvocationName) {
    ASSERT_EQ(mkdir(P("home").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(P("home/u").c_str(), 0755), 0);
    std::string home = P("home");
    std::string cwd = P("home/u");
    struct Case {
        const char *argv0;
        std::string expect;
    } cases[] = {
        {"/opt/x/setup", "/opt/x"},
        {"setup", cwd},
        {"bin/setup", cwd + "/bin"},
        {"./bin/setup", cwd + "/bin"},
        {"../cd/setup", home + "/cd"},
        {"../../setup", home + "/.."},
        {"./setup", cwd + "/."},
        {"../setup", cwd + "/.."},
        {"/setup", "/"},
    };
    ChildResult r = RunChild([&] {
        if (chdir(cwd.c_str()) != 0) _exit(9);
        for (const Case &c : cases)
            printf("%s\n", Stored(GetToolPath(c.argv0)).c_str());
    });
    std::string expect;
    for (const Case &c : cases)
        expect += c.expect + "\n";
    EXPECT_EQ(r.out, expect);
}

TEST_F(FileTest, DeepPathsBeyondThePathSplittersBuffers) {
    std::string deep = dir.path;
    for (int i = 0; i < 130; ++i)
        deep += "/dd" + std::to_string(10 + i);
    ASSERT_GT(deep.size(), 600u); // deeper than a 512-byte working-directory buffer
    std::filesystem::create_directories(deep);
    std::string rel = deep.substr(dir.path.size() + 1);
    ChildResult r = RunChild([&] {
        if (chdir(deep.c_str()) != 0) _exit(9);
        printf("%s\n", Stored(GetToolPath("bin/setup")).c_str());
        printf("%s\n", Stored(GetToolPath("../up/setup")).c_str());
        // Invocation names longer than StripFn's buffer keep their whole directory.
        printf("%s\n", Stored(GetToolPath((deep + "/setup").c_str())).c_str());
        printf("%s\n", Stored(GetToolPath(("./" + rel + "/setup").c_str())).c_str());
        int f = 0;
        std::string found = Stored(FindExistingPath((deep + "/x/y").c_str(), &f));
        printf("%s|%d\n", found.c_str(), f);
        printf("%d\n", FindFile(deep.c_str(), nullptr));
    });
    std::string parent = deep.substr(0, deep.rfind('/'));
    EXPECT_EQ(r.out, deep + "/bin\n" + parent + "/up\n" + deep + "\n" + deep + "/" + rel + "\n" +
                         deep + "|0\n1\n");
}

TEST_F(FileTest, FindExistingPathWalksUpToAnExistingAncestor) {
    int flag = 0;
    EXPECT_EQ(Stored(FindExistingPath(P("new/dir/sub").c_str(), &flag)), dir.path);
    EXPECT_EQ(flag, 0);
    flag = 7;
    EXPECT_EQ(Stored(FindExistingPath(P("new").c_str(), &flag)), dir.path);
    EXPECT_EQ(flag, 7); // left unchanged when the path itself is missing
    EXPECT_EQ(Stored(FindExistingPath(dir.path.c_str(), &flag)), dir.path);
    EXPECT_EQ(flag, 1);
    flag = 0;
    EXPECT_EQ(Stored(FindExistingPath("/", &flag)), "/");
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(Stored(FindExistingPath("/no_such_top_dir/a/b", &flag)), "/");

    ChildResult r = RunChild([&] {
        if (chdir(dir.path.c_str()) != 0) _exit(9);
        int f = 0;
        std::string found = Stored(FindExistingPath("no/such/rel", &f));
        printf("%s|%d", found.c_str(), f);
    });
    EXPECT_EQ(r.out, ".|0");
}

TEST_F(FileTest, FindExistingPathOfAPathLongerThanAPathBufferGivesAnAncestor) {
    // An existing directory whose path is 4,092 characters long, with a
    // subdirectory "ab"; the path asked for goes on with "abc/x", so its
    // first 4,095 characters name "ab", which is not an ancestor of it.
    std::string top = dir.path;
    while (top.size() + 1 + 200 < 4092)
        top += "/" + std::string(200, 'd');
    top += "/" + std::string(4092 - top.size() - 1, 'e');
    ASSERT_EQ(top.size(), 4092u);
    std::filesystem::create_directories(top + "/ab");
    int flag = 0;
    EXPECT_EQ(Stored(FindExistingPath((top + "/abc/x").c_str(), &flag)), top);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(Stored(FindExistingPath((top + "/ab").c_str(), &flag)), top + "/ab");
    EXPECT_EQ(flag, 1);
}

} // namespace

TEST_F(FileTest, ReplacementPutsTheNewTextInPlaceAndLeavesNoTemporary) {
    WriteFile(P("f"), "old\n");
    FileReplacement r;
    ASSERT_EQ(ReplaceOpen(&r, P("f").c_str(), P("f.new").c_str(), -1, 0), 1);
    EXPECT_EQ(ReadFile(P("f")), "old\n"); // nothing changes before the commit
    fputs("new\n", r.pOut);
    struct stat written;
    ASSERT_EQ(ReplaceCommit(&r, &written), 1);
    EXPECT_EQ(r.pOut, nullptr);
    EXPECT_EQ(ReadFile(P("f")), "new\n");
    EXPECT_FALSE(Exists(P("f.new")));
    struct stat now;
    ASSERT_EQ(stat(P("f").c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, written.st_ino);
}

TEST_F(FileTest, ReplacementModes) {
    struct Case {
        const char *name;
        int oldMode; // 0: no old file
        int mode;    // ReplaceOpen's mode
        int flags;
        int expected;  // mode of the new file
        int temporary; // mode of the temporary while it is written
    };
    mode_t mask = umask(022);
    const Case cases[] = {
        {"kept 600", 0600, 0666, REPLACE_KEEP_MODE, 0600, 0600},
        {"kept 4755", 04755, -1, REPLACE_KEEP_MODE, 04755, 0755},
        {"new file gets the given mode", 0, 0666, REPLACE_KEEP_MODE, 0666, 0644},
        {"new file without a mode: umask", 0, -1, REPLACE_KEEP_MODE, 0644, 0644},
        {"old mode not asked for", 0600, -1, 0, 0644, 0644},
        {"given mode over the old one", 0600, 0640, 0, 0640, 0640},
        {"given private mode", 0644, 0600, 0, 0600, 0600},
    };
    for (const Case &c : cases) {
        std::string f = P(c.name);
        unlink(f.c_str());
        if (c.oldMode) {
            WriteFile(f, "old");
            ASSERT_EQ(chmod(f.c_str(), c.oldMode), 0);
        }
        FileReplacement r;
        ASSERT_EQ(ReplaceOpen(&r, f.c_str(), (f + ".tmp").c_str(), c.mode, c.flags), 1) << c.name;
        EXPECT_EQ(Mode(f + ".tmp"), c.temporary) << c.name;
        fputs("new", r.pOut);
        ASSERT_EQ(ReplaceCommit(&r, nullptr), 1) << c.name;
        EXPECT_EQ(Mode(f), c.expected) << c.name;
        EXPECT_EQ(ReadFile(f), "new") << c.name;
    }
    umask(mask);
}

TEST_F(FileTest, ReplacementNeverWritesThroughWhatLiesAtTheTemporarysName) {
    WriteFile(P("victim"), "precious");
    WriteFile(P("f"), "old");
    for (bool link : {true, false}) {
        SCOPED_TRACE(link ? "link" : "file");
        if (link)
            ASSERT_EQ(symlink(P("victim").c_str(), P("f.tmp").c_str()), 0);
        else
            WriteFile(P("f.tmp"), "planted");
        FileReplacement r;
        EXPECT_EQ(ReplaceOpen(&r, P("f").c_str(), P("f.tmp").c_str(), -1, 0), 0);
        EXPECT_EQ(r.Failed, REPLACE_FAILED_CREATE);
        EXPECT_EQ(r.Errno, EEXIST);
        EXPECT_EQ(r.pOut, nullptr);
        EXPECT_EQ(ReadFile(P("victim")), "precious");
        EXPECT_EQ(ReadFile(P("f")), "old");
        // Asked to, it removes the leftover (not what a link points to).
        ASSERT_EQ(ReplaceOpen(&r, P("f").c_str(), P("f.tmp").c_str(), -1, REPLACE_DROP_LEFTOVER),
                  1);
        fputs("new", r.pOut);
        ASSERT_EQ(ReplaceCommit(&r, nullptr), 1);
        EXPECT_EQ(ReadFile(P("victim")), "precious");
        EXPECT_EQ(ReadFile(P("f")), "new");
        WriteFile(P("f"), "old");
    }
}

// A link at the file's name would lend the new file the owner and mode of
// what it points to (another user's file, a set-user-ID program): refused.
// The target of the link at path, or empty when it is no link.
std::string ReadLink(const std::string &path) {
    char buf[4096];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf);
    return n < 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

TEST_F(FileTest, ReplacementRefusesALinkAtTheFilesName) {
    WriteFile(P("setuid"), "program", 0755);
    ASSERT_EQ(chmod(P("setuid").c_str(), 04755), 0);
    WriteFile(P("open"), "someone's", 0666);
    ASSERT_EQ(chmod(P("open").c_str(), 0666), 0);
    struct Case {
        const char *name;
        std::string target; // of the link at the file's name
        int flags;
    } cases[] = {
        {"a link to a set-user-ID program", P("setuid"), REPLACE_KEEP_MODE},
        {"a link to a file everybody may write", P("open"), REPLACE_KEEP_MODE},
        {"a link to a missing file", P("missing"), 0},
        {"a leftover dropped first", P("open"), REPLACE_KEEP_MODE | REPLACE_DROP_LEFTOVER},
    };
    for (const Case &c : cases) {
        unlink(P("lp0.settings").c_str());
        ASSERT_EQ(symlink(c.target.c_str(), P("lp0.settings").c_str()), 0);
        FileReplacement r;
        EXPECT_EQ(ReplaceOpen(&r, P("lp0.settings").c_str(), P("lp0.new").c_str(), -1, c.flags), 0)
            << c.name;
        EXPECT_EQ(r.Failed, REPLACE_FAILED_LINK) << c.name;
        EXPECT_EQ(r.Errno, ELOOP) << c.name;
        EXPECT_EQ(r.pOut, nullptr) << c.name;
        EXPECT_FALSE(Exists(P("lp0.new"))) << c.name;
        EXPECT_EQ(ReadLink(P("lp0.settings")), c.target) << c.name;
    }
    EXPECT_EQ(ReadFile(P("setuid")), "program");
    EXPECT_EQ(Mode(P("setuid")), 04755);
    EXPECT_EQ(ReadFile(P("open")), "someone's");
    EXPECT_FALSE(Exists(P("missing")));

    // A link put in the file's place while the new text is written lends it
    // nothing: the new file takes the name with the mode a new file gets.
    unlink(P("lp0.settings").c_str());
    WriteFile(P("lp0.settings"), "old", 0600);
    FileReplacement r;
    mode_t mask = umask(022);
    ASSERT_EQ(ReplaceOpen(&r, P("lp0.settings").c_str(), P("lp0.new").c_str(), -1,
                          REPLACE_KEEP_MODE),
              1);
    unlink(P("lp0.settings").c_str());
    ASSERT_EQ(symlink(P("setuid").c_str(), P("lp0.settings").c_str()), 0);
    fputs("new", r.pOut);
    ASSERT_EQ(ReplaceCommit(&r, nullptr), 1);
    umask(mask);
    EXPECT_EQ(ReadLink(P("lp0.settings")), "");
    EXPECT_EQ(ReadFile(P("lp0.settings")), "new");
    EXPECT_EQ(Mode(P("lp0.settings")), 0600);
    EXPECT_EQ(Mode(P("setuid")), 04755);
}

TEST_F(FileTest, ReplacementFailuresKeepTheOldFileAndSayWhichStepFailed) {
    WriteFile(P("f"), "old");
    FileReplacement r;
    // No directory for the temporary.
    EXPECT_EQ(ReplaceOpen(&r, P("f").c_str(), P("none/f.tmp").c_str(), -1, 0), 0);
    EXPECT_EQ(r.Failed, REPLACE_FAILED_CREATE);
    EXPECT_EQ(r.Errno, ENOENT);
    // A name longer than the record holds.
    std::string longName(5000, 'x');
    EXPECT_EQ(ReplaceOpen(&r, P("f").c_str(), longName.c_str(), -1, 0), 0);
    EXPECT_EQ(r.Errno, ENAMETOOLONG);
    // The rename fails: a directory stands under the file's name.
    ASSERT_EQ(mkdir(P("d").c_str(), 0755), 0);
    WriteFile(P("d/inside"), "x");
    ASSERT_EQ(ReplaceOpen(&r, P("d").c_str(), P("d.tmp").c_str(), -1, 0), 1);
    fputs("new", r.pOut);
    EXPECT_EQ(ReplaceCommit(&r, nullptr), 0);
    EXPECT_EQ(r.Failed, REPLACE_FAILED_RENAME);
    EXPECT_FALSE(Exists(P("d.tmp")));
    EXPECT_EQ(ReadFile(P("d/inside")), "x");
    // The caller gives up: the temporary goes, the file stays.
    ASSERT_EQ(ReplaceOpen(&r, P("f").c_str(), P("f.tmp").c_str(), -1, 0), 1);
    fputs("half", r.pOut);
    ReplaceAbort(&r);
    EXPECT_FALSE(Exists(P("f.tmp")));
    EXPECT_EQ(ReadFile(P("f")), "old");
}

TEST_F(FileTest, ReplacementThatCannotBeWrittenInFullKeepsTheOldFile) {
    // /dev/full takes nothing: the flush fails as on a full disk.
    WriteFile(P("f"), "old");
    FileReplacement r;
    ASSERT_EQ(ReplaceOpen(&r, P("f").c_str(), P("f.tmp").c_str(), -1, 0), 1);
    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    ASSERT_GE(dup2(full, fileno(r.pOut)), 0);
    close(full);
    fputs("new", r.pOut);
    EXPECT_EQ(ReplaceCommit(&r, nullptr), 0);
    EXPECT_EQ(r.Failed, REPLACE_FAILED_WRITE);
    EXPECT_EQ(r.Errno, ENOSPC);
    EXPECT_EQ(ReadFile(P("f")), "old");
    EXPECT_FALSE(Exists(P("f.tmp")));
}
