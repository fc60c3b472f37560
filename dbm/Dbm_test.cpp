// Dbm_test.cpp - the plain record layer on real files.
#include "Dbm.h"
#include "DbmTestUtil.h"
#include "MemMgr.h"
#include "utils.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/wait.h>
#include <vector>

using namespace dbmtest;

namespace {

class PlainDb : public DbmDir {};

int Put(const char *name, const std::string &key, const std::string &data) {
    return DbmPutRecord(name, key.c_str(), data.data(), static_cast<int>(data.size()));
}

std::string Get(const char *name, const std::string &key) {
    static char buf[65536];
    int n = DbmGetRecord(name, key.c_str(), buf);
    return std::string(buf, n);
}

std::string KeyList(const char *name, const char *sep = ",", const char *end = ",") {
    char *list = DbmGetRecordList(name, sep, end);
    std::string s = list ? list : "(null)";
    PutMem(list);
    return s;
}

} // namespace

TEST_F(PlainDb, StoresRecordsByteForByteInTheFile) {
    ASSERT_EQ(Put("t", "k", "ab"), 1);
    // L = K + data + 2 = 2 + 2 + 2; the body is one run, length field included.
    EXPECT_EQ(ReadFile(DbFile("t")), PlainRecord("k", "ab"));
    std::string raw = ReadFile(DbFile("t"));
    EXPECT_EQ(raw.substr(0, 2), std::string("\x06\x00", 2)); // little-endian length
    EXPECT_EQ(Get("t", "k"), "ab");
    EXPECT_FALSE(Exists(DbFile("t") + "_new"));
    EXPECT_FALSE(Exists(dir_ + "/db/t.xdb_new"));
}

TEST_F(PlainDb, ReadsRecordsWrittenByHand) {
    WriteFile(DbFile("h"), PlainRecord("one", "1") + PlainRecord("two", std::string("\0\xff", 2)) +
                               PlainRecord("", "e"));
    EXPECT_EQ(Get("h", "one"), "1");
    EXPECT_EQ(Get("h", "two"), std::string("\0\xff", 2));
    EXPECT_EQ(Get("h", ""), "e");
    EXPECT_EQ(DbmGetRecordSize("h", "two"), 2);
    EXPECT_EQ(DbmGetRecordSize("h", "three"), 0);
    EXPECT_EQ(DbmGetRecordSize("h", "on"), 0); // no prefix match for lookups
}

TEST_F(PlainDb, StoringAnExistingKeyMovesItToTheEnd) {
    ASSERT_EQ(Put("m", "a", "1"), 1);
    ASSERT_EQ(Put("m", "b", "2"), 1);
    ASSERT_EQ(Put("m", "a", "3"), 1);
    EXPECT_EQ(KeyList("m"), ",b,a,");
    EXPECT_EQ(ReadFile(DbFile("m")), PlainRecord("b", "2") + PlainRecord("a", "3"));
}

TEST_F(PlainDb, SmallestRecordHasAnEmptyKeyAndOneByte) {
    ASSERT_EQ(Put("s", "", "x"), 1);
    std::string raw = ReadFile(DbFile("s"));
    ASSERT_EQ(raw.size(), 6u);
    EXPECT_EQ(raw.substr(0, 2), Le16(4));
    EXPECT_EQ(raw, PlainRecord("", "x"));
}

TEST_F(PlainDb, RefusesBadArguments) {
    char buf[8];
    EXPECT_EQ(DbmPutRecord(nullptr, "k", "d", 1), 0);
    EXPECT_EQ(DbmPutRecord("n", nullptr, "d", 1), 0);
    EXPECT_EQ(DbmPutRecord("n", "k", nullptr, 1), 0);
    EXPECT_EQ(DbmPutRecord("n", "k", "d", 0), 0);
    EXPECT_EQ(DbmPutRecord("n", "k", "d", -5), 0);
    EXPECT_FALSE(Exists(DbFile("n")));
    EXPECT_EQ(DbmGetRecord(nullptr, "k", buf), 0);
    EXPECT_EQ(DbmGetRecord("n", nullptr, buf), 0);
    EXPECT_EQ(DbmDeleteRecord("n", nullptr), 0);
    EXPECT_EQ(DbmDeleteRecords("n", ""), 0);
    EXPECT_EQ(DbmGetRecordList(nullptr, ",", ","), nullptr);
    EXPECT_EQ(DbmGetDbLinkList("n", nullptr), nullptr);
    EXPECT_EQ(DbmCopyRecord("n", nullptr, "b"), 0);
}

TEST_F(PlainDb, RefusesRecordsTheReaderCannotTakeBack) {
    // Key "k" (K = 2): the largest body is 65527 bytes, 65523 data bytes.
    std::string fits(65523, 'f'), tooBig(65524, 'g');
    ASSERT_EQ(Put("big", "k", fits), 1);
    std::string before = ReadFile(DbFile("big"));
    EXPECT_EQ(Put("big", "k", tooBig), 0);
    EXPECT_EQ(Put("big", "other", std::string(70000, 'h')), 0);
    EXPECT_EQ(ReadFile(DbFile("big")), before);
    EXPECT_EQ(Get("big", "k"), fits);
}

TEST_F(PlainDb, DeletingAMissingKeyRewritesTheFileUnchanged) {
    ASSERT_EQ(Put("d", "a", "1"), 1);
    std::string before = ReadFile(DbFile("d"));
    EXPECT_EQ(DbmDeleteRecord("d", "zz"), 1);
    EXPECT_EQ(ReadFile(DbFile("d")), before);
    EXPECT_EQ(DbmDeleteRecord("d", "a"), 1);
    EXPECT_EQ(ReadFile(DbFile("d")), "");
    EXPECT_EQ(DbmDeleteRecord("missing", "a"), 0);
    EXPECT_EQ(DbmDeleteRecords("missing", "a"), 0);
}

TEST_F(PlainDb, DeletesByPrefix) {
    for (const char *k : {"ab", "a", "abc", "b", "ab1"})
        ASSERT_EQ(Put("p", k, "v"), 1);
    EXPECT_EQ(DbmDeleteRecords("p", "ab"), 1);
    EXPECT_EQ(KeyList("p"), ",a,b,");
    EXPECT_EQ(DbmDeleteRecords("p", "zzz"), 1); // nothing matched: still 1
    EXPECT_EQ(KeyList("p"), ",a,b,");
}

TEST_F(PlainDb, KeyListIsNullForEmptyAndMissingDatabases) {
    EXPECT_EQ(KeyList("none"), "(null)");
    WriteFile(DbFile("empty"), "");
    EXPECT_EQ(KeyList("empty"), "(null)");
    for (const char *k : {"k1", "k2", "k3"})
        ASSERT_EQ(Put("l", k, "v"), 1);
    EXPECT_EQ(KeyList("l"), ",k1,k2,k3,");
    EXPECT_EQ(KeyList("l", " ", "."), " k1 k2 k3.");
}

TEST_F(PlainDb, NextRecordWalksTheFileOnceAcrossCalls) {
    for (const char *k : {"x", "y", "z"})
        ASSERT_EQ(Put("n", k, std::string("v") + k), 1);
    // Ent2Get lives for the whole process: run in a fresh child.
    EXPECT_EXIT(
        {
            char buf[16];
            std::string got;
            for (int i = 0; i < 3; ++i) {
                int n = DbmGetNextRecord("n", buf);
                got += std::string(buf, n) + ";";
            }
            bool ok = got == "vx;vy;vz;" && DbmGetNextRecord("n", buf) == 0 &&
                      DbmGetNextRecord("n", buf) == 0 && Ent2Get == 3;
            exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(PlainDb, CopiesARecord) {
    ASSERT_EQ(Put("c", "from", "data"), 1);
    EXPECT_EQ(DbmCopyRecord("c", "from", "to"), 1);
    EXPECT_EQ(Get("c", "to"), "data");
    EXPECT_EQ(DbmCopyRecord("c", "nothing", "to2"), 0);
    EXPECT_EQ(DbmGetRecordSize("c", "to2"), 0);
}

TEST_F(PlainDb, LinkListHoldsKeyAndDataOfMatchingRecords) {
    ASSERT_EQ(Put("ll", "red_1", "R1"), 1);
    ASSERT_EQ(Put("ll", "blue", "B"), 1);
    ASSERT_EQ(Put("ll", "dark_red", std::string("\0D", 2)), 1);
    DbmLink *list = DbmGetDbLinkList("ll", "red");
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list->pKey, "red_1");
    EXPECT_EQ(std::string(list->pData, list->DataLen), "R1");
    EXPECT_EQ(list->pData, list->pKey + 6);
    ASSERT_NE(list->pNext, nullptr);
    EXPECT_STREQ(list->pNext->pKey, "dark_red");
    EXPECT_EQ(std::string(list->pNext->pData, list->pNext->DataLen), std::string("\0D", 2));
    EXPECT_EQ(list->pNext->pNext, nullptr);
    DbmFreeDbLinkList(list);
    EXPECT_EQ(DbmGetDbLinkList("ll", "green"), nullptr);
    DbmFreeDbLinkList(nullptr);
}

TEST_F(PlainDb, ListsDatabasesOfTheWorkingDirectory) {
    WriteFile(dir_ + "/db/a.xdb", "");
    WriteFile(dir_ + "/db/b.xdb_new", "");
    WriteFile(dir_ + "/db/c.txt", "");
    WriteFile(dir_ + "/db/d.xdb.old", "");
    char *list = DbmGetDbList(0);
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list, "a");
    PutMem(list);
    list = DbmGetDbList(1);
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list, " a");
    PutMem(list);

    WriteFile(dir_ + "/db/e.xdb", "");
    list = DbmGetDbList(0);
    std::string s = list;
    EXPECT_TRUE(s == "a,e" || s == "e,a") << s;
    PutMem(list);
}

TEST_F(PlainDb, DatabaseListWithoutDatabasesIsEmptyOrOneBlank) {
    WriteFile(dir_ + "/db/notes.txt", "");
    WriteFile(dir_ + "/db/x.xdb_new", "");
    for (int flag : {0, 1, 7}) {
        char *list = DbmGetDbList(flag);
        ASSERT_NE(list, nullptr) << flag;
        EXPECT_STREQ(list, flag ? " " : "") << flag;
        PutMem(list);
    }
}

TEST_F(PlainDb, DatabaseListKeepsTheCallersTokenizerScan) {
    char text[] = "one two three";
    ASSERT_STREQ(GetToken(text, " "), "one");
    char *list = DbmGetDbList(0);
    PutMem(list);
    EXPECT_STREQ(GetTokenBuf, "one");
    EXPECT_STREQ(GetToken(nullptr, " "), "two");
}

TEST_F(PlainDb, DatabaseListIsNullWithoutTheDirectory) {
    ASSERT_EQ(testsupport::RunProgram({"rm", "-rf", dir_ + "/db"}).status, 0);
    EXPECT_EQ(DbmGetDbList(0), nullptr);
    WriteFile(dir_ + "/db", "a file, not a directory");
    EXPECT_EQ(DbmGetDbList(1), nullptr);
}

TEST_F(PlainDb, StoreMakesTheDirectoriesItNeeds) {
    mode_t mask = umask(022);
    ASSERT_EQ(testsupport::RunProgram({"rm", "-rf", dir_ + "/db"}).status, 0);
    std::string root = dir_ + "/tools";
    pToolPath = root.data();
    ASSERT_EQ(Put("new", "k", "v"), 1);
    EXPECT_EQ(ReadFile(root + "/db/new.xdb"), PlainRecord("k", "v"));
    struct stat st;
    ASSERT_EQ(stat((dir_ + "/db").c_str(), &st), 0); // ./db of the working directory
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    // 0777 and 0666 less the umask: nothing others may write into.
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(stat((root + "/db").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(stat((root + "/db/new.xdb").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    umask(mask);
}

TEST_F(PlainDb, DumpPrintsLengthsAndPrintableBytes) {
    WriteFile(dir_ + "/dump.db",
              PlainRecord("k1", std::string("a\tb\0~", 5)) + PlainRecord("", "Z"));
    testing::internal::CaptureStdout();
    DumpDbm("dump");
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "10 3 ==>{k1.a.b.~}\n4 1 ==>{.Z}\n");
}

TEST_F(PlainDb, DumpOfAMissingFileSaysSo) {
    testing::internal::CaptureStderr();
    DumpDbm("nothere");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: can't open file, nothere.db\n");
}

TEST_F(PlainDb, FullPathModeAddressesTheFileItself) {
    std::string file = Path("own.xdb");
    DbmSetV4DriverPathHandling();
    ASSERT_EQ(Put(file.c_str(), "k", "v1"), 1);
    ASSERT_EQ(Put(file.c_str(), "k2", "v2"), 1);
    EXPECT_EQ(ReadFile(file), PlainRecord("k", "v1") + PlainRecord("k2", "v2"));
    EXPECT_EQ(Get(file.c_str(), "k"), "v1");
    EXPECT_FALSE(Exists(file + "_new"));
    EXPECT_EQ(DbmDeleteRecord(file.c_str(), "k"), 1);
    EXPECT_EQ(KeyList(file.c_str()), ",k2,");
    EXPECT_FALSE(Exists(dir_ + "/db/own.xdb.xdb"));
}

TEST_F(PlainDb, APipeUnderTheNameIsNotOpened) {
    ASSERT_EQ(mkfifo(DbFile("fifo").c_str(), 0666), 0);
    char buf[4];
    EXPECT_EQ(DbmGetRecord("fifo", "k", buf), 0); // returns at once instead of blocking
    EXPECT_EQ(DbmGetRecordList("fifo", ",", ","), nullptr);
    EXPECT_EQ(DbmDeleteRecord("fifo", "k"), 0);
}

TEST_F(PlainDb, FailedStoreLeavesNoTemporaryFileAndReportsZero) {
    DbmSetV4DriverPathHandling();
    std::string file = Path("nodir/x.xdb");
    testing::internal::CaptureStderr();
    EXPECT_EQ(Put(file.c_str(), "k", "v"), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("ERROR: can't open file, " + file + "_new"), std::string::npos) << err;
    EXPECT_FALSE(Exists(Path("nodir")));
}

TEST_F(PlainDb, ConcurrentWritersNeverLoseEachOthersRecords) {
    // Each writer waits for the other's copy to be in place before it reads.
    DbmSetV4DriverPathHandling();
    std::string file = Path("race.xdb");
    const int perChild = 40;
    std::vector<pid_t> kids;
    for (int c = 0; c < 2; ++c) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int ok = 1;
            for (int i = 0; i < perChild; ++i) {
                std::string key = std::to_string(c) + "_" + std::to_string(i);
                ok &= Put(file.c_str(), key, "v");
            }
            _exit(ok ? 0 : 1);
        }
        kids.push_back(pid);
    }
    for (pid_t pid : kids) {
        int status;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    char *list = DbmGetRecordList(file.c_str(), " ", " ");
    ASSERT_NE(list, nullptr);
    int count = 0;
    for (char *tok = strtok(list, " "); tok; tok = strtok(nullptr, " "))
        ++count;
    PutMem(list);
    EXPECT_EQ(count, 2 * perChild);
}

TEST_F(PlainDb, RewritingKeepsTheFilesModeAndANewFileHonoursTheUmask) {
    DbmSetV4DriverPathHandling();
    struct stat st;
    // A new file: 0666 less the umask, whatever the umask.
    for (mode_t m : {000, 022, 077}) {
        umask(m);
        std::string fresh = Path("fresh" + std::to_string(m) + ".xdb");
        ASSERT_EQ(Put(fresh.c_str(), "k", "v"), 1);
        ASSERT_EQ(stat(fresh.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0666u & ~m) << "umask " << m;
    }
    mode_t mask = umask(022);
    std::string file = Path("mode.xdb");
    ASSERT_EQ(Put(file.c_str(), "k", "v"), 1);
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    for (mode_t mode : {0600, 0640, 0444}) {
        ASSERT_EQ(chmod(file.c_str(), mode), 0);
        ASSERT_EQ(Put(file.c_str(), "k" + std::to_string(mode), "v"), 1);
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        ASSERT_EQ(DbmDeleteRecord(file.c_str(), "k"), 1);
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        ASSERT_EQ(Put(file.c_str(), "k", "v"), 1);
    }
    umask(mask);
}

TEST_F(PlainDb, AFileWithNoReadableRecordIsNeverRewritten) {
    DbmSetV4DriverPathHandling();
    std::string file = Path("other.xdb");
    const std::vector<std::pair<const char *, std::string>> cases = {
        {"tagged file", TaggedHeader(1) + TaggedRecord("k", "v")},
        {"tagged header alone", TaggedHeader(0)},
        {"damaged first byte", "X" + PlainRecord("k", "v").substr(1)},
        {"text", "hello, world\n"},
        {"one byte", "x"},
    };
    for (auto &[what, bytes] : cases) {
        WriteFile(file, bytes);
        testing::internal::CaptureStderr();
        EXPECT_EQ(Put(file.c_str(), "new", "n"), 0) << what;
        EXPECT_EQ(DbmDeleteRecord(file.c_str(), "k"), 0) << what;
        EXPECT_EQ(DbmDeleteRecords(file.c_str(), "k"), 1) << what; // it was opened
        EXPECT_EQ(DbmCopyRecord(file.c_str(), "k", "k2"), 0) << what;
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("ERROR: no readable record in " + file), std::string::npos)
            << what << err;
        EXPECT_EQ(ReadFile(file), bytes) << what;
        EXPECT_FALSE(Exists(file + "_new")) << what;
    }
    // An empty file holds no record and loses nothing.
    WriteFile(file, "");
    EXPECT_EQ(Put(file.c_str(), "new", "n"), 1);
    EXPECT_EQ(ReadFile(file), PlainRecord("new", "n"));
}
