// DbmT_test.cpp - the tagged record store: formats, write-back, refresh, and
// its index checked against a model and against the walk.
#include "Dbm.h"
#include "DbmTestUtil.h"
#include "MemMgr.h"
#include "utils.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <sys/wait.h>
#include <vector>

using namespace dbmtest;

namespace {

class TaggedDb : public DbmDir {
  protected:
    void TearDown() override {
        for (DbT *db : open_)
            DbTClose(db);
        DbmDir::TearDown();
    }
    // A handle on a file of the test directory (full-path mode).
    DbT *Open(const std::string &name, uint32_t flags = 0) {
        DbmSetV4DriverPathHandling();
        DbT *db = DbTOpen(Path(name).c_str(), flags);
        open_.push_back(db);
        return db;
    }
    std::vector<DbT *> open_;
};

int Put(DbT *db, const std::string &key, const std::string &data) {
    return DbmTPutRecord(db, key.c_str(), data.data(), static_cast<int>(data.size()));
}

std::string Get(DbT *db, const std::string &key) {
    static char buf[65536];
    int n = DbmTGetRecord(db, key.c_str(), buf);
    return std::string(buf, n);
}

std::string Keys(DbT *db, const char *sep = ",", const char *end = ",") {
    char *list = DbmTGetRecordList(db, sep, end);
    std::string s = list ? list : "(null)";
    PutMem(list);
    return s;
}

} // namespace

TEST_F(TaggedDb, NewDatabaseIsTaggedWithHeaderAndBigEndianLengths) {
    DbT *db = Open("new.xdb");
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->DbType, DBT_EMPTY);
    ASSERT_EQ(Put(db, "25_1011", "Hello"), 1);
    EXPECT_EQ(db->DbType, DBT_TAGGED);
    std::string raw = ReadFile(Path("new.xdb"));
    ASSERT_EQ(raw.size(), 16u + 4 + 8 + 5);
    EXPECT_EQ(raw.substr(0, 8), std::string("TXDBAA1\0", 8));
    // L = K + data + 2 = 8 + 5 + 2, K = 8, both big-endian; then two runs.
    EXPECT_EQ(raw.substr(16), TaggedRecord("25_1011", "Hello"));
    EXPECT_EQ(raw.substr(16, 4), std::string("\x00\x0f\x00\x08", 4));
    EXPECT_EQ(Get(db, "25_1011"), "Hello");
}

TEST_F(TaggedDb, HeaderCountFollowsTheRecords) {
    DbT *db = Open("count.xdb");
    for (int i = 0; i < 12; ++i)
        ASSERT_EQ(Put(db, "k" + std::to_string(i), "v"), 1);
    ASSERT_EQ(Put(db, "k3", "again"), 1);
    EXPECT_EQ(ReadFile(Path("count.xdb")).substr(0, 9), std::string("TXDBAA12\0", 9));
    ASSERT_EQ(DbmTDeleteRecords(db, "k1"), 1); // k1, k10, k11
    EXPECT_EQ(db->Count, 9);
    EXPECT_EQ(ReadFile(Path("count.xdb")).substr(0, 8), std::string("TXDBAA9\0", 8));
}

TEST_F(TaggedDb, DeletingTheLastRecordLeavesAnEmptyHeader) {
    DbT *db = Open("last.xdb");
    ASSERT_EQ(Put(db, "only", "one"), 1);
    EXPECT_EQ(DbmTDeleteRecord(db, "only"), 1);
    std::string raw = ReadFile(Path("last.xdb"));
    ASSERT_EQ(raw.size(), 16u);
    EXPECT_EQ(raw.substr(0, 8), std::string("TXDBAA0\0", 8));
    EXPECT_EQ(DbmTDeleteRecord(db, "only"), 0);
    EXPECT_EQ(DbmTDeleteRecord(db, ""), 0);
}

TEST_F(TaggedDb, ReadsAPlainFileAndKeepsItPlain) {
    // Written by the plain layer, changed by the store, read back by both.
    std::string file = Path("plain.xdb");
    DbmSetV4DriverPathHandling();
    ASSERT_EQ(DbmPutRecord(file.c_str(), "a", "1", 1), 1);
    ASSERT_EQ(DbmPutRecord(file.c_str(), "b", "22", 2), 1);
    DbT *db = Open("plain.xdb");
    EXPECT_EQ(db->DbType, DBT_PLAIN);
    EXPECT_EQ(Get(db, "b"), "22");
    ASSERT_EQ(Put(db, "c", "333"), 1);
    ASSERT_EQ(Put(db, "a", "4444"), 1);
    EXPECT_EQ(ReadFile(file),
              PlainRecord("b", "22") + PlainRecord("c", "333") + PlainRecord("a", "4444"));
    DbmSetV4DriverPathHandling();
    char buf[16];
    EXPECT_EQ(DbmGetRecord(file.c_str(), "a", buf), 4);
    EXPECT_EQ(std::string(buf, 4), "4444");
    EXPECT_EQ(DbmTDeleteRecord(db, "b"), 1);
    EXPECT_EQ(ReadFile(file), PlainRecord("c", "333") + PlainRecord("a", "4444"));
}

TEST_F(TaggedDb, PlainImageRefusesBodiesThePlainReaderCannotTake) {
    WriteFile(Path("p.xdb"), PlainRecord("x", "y"));
    DbT *db = Open("p.xdb");
    std::string before = ReadFile(Path("p.xdb"));
    EXPECT_EQ(Put(db, "k", std::string(65524, 'a')), 0); // body 65528
    EXPECT_EQ(ReadFile(Path("p.xdb")), before);
    EXPECT_EQ(Get(db, "x"), "y");
    EXPECT_EQ(Put(db, "k", std::string(65523, 'a')), 1); // body 65527
    DbmSetV4DriverPathHandling();
    EXPECT_EQ(DbmGetRecordSize(Path("p.xdb").c_str(), "k"), 65523);
}

TEST_F(TaggedDb, TaggedStoreRefusesBodiesOverSixteenBitsAndLongKeys) {
    DbT *db = Open("t.xdb");
    ASSERT_EQ(Put(db, "x", "y"), 1);
    std::string before = ReadFile(Path("t.xdb"));
    EXPECT_EQ(Put(db, "k", std::string(65532, 'a')), 0); // body 65536
    EXPECT_EQ(Put(db, std::string(4096, 'K'), "v"), 0);
    EXPECT_EQ(ReadFile(Path("t.xdb")), before);
    EXPECT_EQ(Put(db, "k", std::string(65531, 'a')), 1); // body 65535
    EXPECT_EQ(DbmTGetRecordSize(db, "k"), 65531);
    std::string longKey(4095, 'K');
    EXPECT_EQ(Put(db, longKey, "v"), 1);
    EXPECT_EQ(Get(db, longKey), "v");
    EXPECT_EQ(Get(db, "x"), "y");
}

TEST_F(TaggedDb, FiveMagicBytesMakeATaggedFile) {
    for (char sixth : {'A', 'Z', '\0', '\xff'}) {
        std::string header = TaggedHeader(1);
        header[5] = sixth;
        WriteFile(Path("m.xdb"), header + TaggedRecord("key", "val"));
        DbT *db = Open("m.xdb", DBT_NOREFRESH);
        EXPECT_EQ(db->DbType, DBT_TAGGED) << int(sixth);
        EXPECT_EQ(Get(db, "key"), "val");
    }
}

TEST_F(TaggedDb, DeferredWriteBackLeavesTheFileUntilArchived) {
    DbT *db = Open("def.xdb");
    ASSERT_EQ(Put(db, "a", "1"), 1);
    std::string before = ReadFile(Path("def.xdb"));
    db->Flags |= DBT_NOARCHIVE;
    EXPECT_EQ(Put(db, "b", "2"), 1);
    EXPECT_EQ(DbmTDeleteRecord(db, "a"), 1);
    EXPECT_EQ(ReadFile(Path("def.xdb")), before);
    EXPECT_EQ(Get(db, "b"), "2"); // the refresh keeps the change: the file is unchanged
    EXPECT_EQ(Get(db, "a"), "");
    EXPECT_EQ(DbmTArchiveDb(db), 1);
    EXPECT_EQ(ReadFile(Path("def.xdb")).substr(16), TaggedRecord("b", "2"));
}

TEST_F(TaggedDb, DeferredChangesOnAnEmptyFileSurviveTheRefresh) {
    WriteFile(Path("empty.xdb"), "");
    DbT *db = Open("empty.xdb", DBT_NOARCHIVE);
    EXPECT_EQ(db->DbType, DBT_EMPTY);
    ASSERT_EQ(Put(db, "k", "v"), 1);
    EXPECT_EQ(Get(db, "k"), "v");
    EXPECT_EQ(ReadFile(Path("empty.xdb")), "");
    ASSERT_EQ(DbmTArchiveDb(db), 1);
    EXPECT_EQ(ReadFile(Path("empty.xdb")).substr(16), TaggedRecord("k", "v"));
}

TEST_F(TaggedDb, AnEmptyFileLoadsAsAHeaderAndWritesBackAsAnEmptyDatabase) {
    WriteFile(Path("blank.xdb"), "");
    DbT *db = Open("blank.xdb");
    ASSERT_EQ(db->DbType, DBT_EMPTY);
    ASSERT_EQ(db->ImageSize, 16);
    EXPECT_EQ(std::string(db->pImage, 8), std::string("TXDBAA0\0", 8));
    ASSERT_EQ(DbmTArchiveDb(db), 1);
    std::string raw = ReadFile(Path("blank.xdb"));
    ASSERT_EQ(raw.size(), 16u);
    EXPECT_EQ(raw.substr(0, 8), std::string("TXDBAA0\0", 8));
    DbT *again = Open("blank.xdb");
    EXPECT_EQ(again->DbType, DBT_TAGGED);
    EXPECT_EQ(again->Count, 0);
    EXPECT_EQ(Keys(again), "(null)");
    ASSERT_EQ(Put(again, "k", "v"), 1);
    EXPECT_EQ(ReadFile(Path("blank.xdb")),
              ReadFile(Path("blank.xdb")).substr(0, 16) + TaggedRecord("k", "v"));
}

TEST_F(TaggedDb, RefreshesAfterAnotherProcessReplacesTheFile) {
    DbT *reader = Open("shared.xdb");
    DbT *fixed = Open("shared.xdb", DBT_NOREFRESH);
    EXPECT_EQ(Get(reader, "k"), "");
    for (int round = 0; round < 5; ++round) {
        std::string value = "v" + std::to_string(round);
        ChildResult writer = RunChild([&] {
            DbmSetV4DriverPathHandling();
            DbT *w = DbTOpen(Path("shared.xdb").c_str(), 0);
            _exit(Put(w, "k", value) == 1 ? 0 : 1);
        });
        ASSERT_EQ(writer.status, 0) << writer.err;
        // Several replacements within one second are still seen.
        EXPECT_EQ(Get(reader, "k"), value);
        EXPECT_EQ(DbmTGetRecordSize(reader, "k"), 2);
    }
    EXPECT_EQ(Get(fixed, "k"), ""); // DBT_NOREFRESH never reloads
    EXPECT_EQ(fixed->DbType, DBT_EMPTY);
}

TEST_F(TaggedDb, GetRecordVKeepsALargeEnoughBuffer) {
    DbT *db = Open("v.xdb");
    ASSERT_EQ(Put(db, "short", "abc"), 1);
    ASSERT_EQ(Put(db, "long", std::string(100, 'L')), 1);
    char local[8];
    char *buf = local;
    EXPECT_EQ(DbmTGetRecordV(db, "short", &buf, sizeof local), 3);
    EXPECT_EQ(buf, local);
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_EQ(DbmTGetRecordV(db, "long", &buf, sizeof local), 100);
    ASSERT_NE(buf, local);
    EXPECT_EQ(std::string(buf, 100), std::string(100, 'L'));
    PutMem(buf);
    buf = local;
    EXPECT_EQ(DbmTGetRecordV(db, "none", &buf, sizeof local), 0);
    EXPECT_EQ(buf, local);
    EXPECT_EQ(DbmTGetRecordV(nullptr, "short", &buf, 8), 0);
}

TEST_F(TaggedDb, KeyListsByPrefixNames) {
    DbT *db = Open("names.xdb");
    for (const char *k : {"abc", "a", "xy", "b", "abd"})
        ASSERT_EQ(Put(db, k, "v"), 1);
    char *s = DbmTGetRecordListS(db, "ab,x", ",", ",");
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, ",abc,xy,abd,");
    PutMem(s);
    EXPECT_EQ(DbmTGetRecordListS(db, "q", ",", ","), nullptr);
    EXPECT_EQ(DbmTGetRecordListS(db, "", ",", ","), nullptr);
    EXPECT_EQ(Keys(db), ",abc,a,xy,b,abd,");
    EXPECT_EQ(Keys(db, "\n", ""), "\nabc\na\nxy\nb\nabd");
    // The caller's tokenizer scan goes on where it was.
    char text[] = "one two";
    ASSERT_STREQ(GetToken(text, " "), "one");
    s = DbmTGetRecordListS(db, "a", " ", "");
    PutMem(s);
    EXPECT_STREQ(GetTokenBuf, "one");
    EXPECT_STREQ(GetToken(nullptr, " "), "two");
}

TEST_F(TaggedDb, EmptyDatabaseHasNoKeyList) {
    DbT *db = Open("nothing.xdb");
    EXPECT_EQ(Keys(db), "(null)");
    EXPECT_EQ(DbmTGetDbLinkList(db, ""), nullptr);
    EXPECT_EQ(DbmTGetRecordSize(db, "x"), 0);
}

TEST_F(TaggedDb, CopiesARecord) {
    DbT *db = Open("copy.xdb");
    ASSERT_EQ(Put(db, "from", std::string("\0\1\2", 3)), 1);
    EXPECT_EQ(DbmTCopyRecord(db, "from", "to"), 1);
    EXPECT_EQ(Get(db, "to"), std::string("\0\1\2", 3));
    EXPECT_EQ(DbmTCopyRecord(db, "absent", "to2"), 0);
}

TEST_F(TaggedDb, FirstOfDuplicateKeysWinsAndDeleteRemovesThemAll) {
    WriteFile(Path("dup.xdb"), TaggedHeader(4) + TaggedRecord("k", "first") +
                                   TaggedRecord("other", "o") + TaggedRecord("k", "second") +
                                   TaggedRecord("k", "third"));
    DbT *db = Open("dup.xdb");
    EXPECT_EQ(Get(db, "k"), "first");
    ASSERT_EQ(Put(db, "k", "new"), 1);
    EXPECT_EQ(WalkHandle(db), (Records{{"other", "o"}, {"k", "new"}}));
    EXPECT_EQ(ReadFile(Path("dup.xdb")).substr(16),
              TaggedRecord("other", "o") + TaggedRecord("k", "new"));
}

TEST_F(TaggedDb, ArchiveFailureKeepsTheOldFileAndLeavesNoTemporary) {
    DbT *db = Open("gone/x.xdb");
    testing::internal::CaptureStderr();
    EXPECT_EQ(Put(db, "k", "v"), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(Exists(Path("gone")));
    EXPECT_EQ(Get(db, "k"), "v"); // the image keeps the change
}

TEST_F(TaggedDb, NormalModeUsesTheToolRoot) {
    DbT *db = DbTOpen("Core", 0);
    open_.push_back(db);
    ASSERT_EQ(Put(db, "1_1", "one"), 1);
    EXPECT_EQ(ReadFile(DbFile("Core")).substr(16), TaggedRecord("1_1", "one"));
    WriteFile(dir_ + "/plainfile", PlainRecord("k", "v"));
    DbT *byPath = DbTOpen((dir_ + "/plainfile").c_str(), 0); // no dot: ".xdb" added
    open_.push_back(byPath);
    EXPECT_EQ(byPath->DbType, DBT_EMPTY);
    WriteFile(dir_ + "/plainfile.xdb", PlainRecord("k", "v"));
    EXPECT_EQ(Get(byPath, "k"), "v");
}

TEST_F(TaggedDb, ADirectoryUnderTheNameHoldsNoRecords) {
    ASSERT_EQ(mkdir(Path("dir.xdb").c_str(), 0755), 0);
    time_t start = time(nullptr);
    DbT *db = Open("dir.xdb");
    EXPECT_EQ(db->DbType, DBT_EMPTY);
    EXPECT_EQ(Get(db, "k"), "");
    EXPECT_LE(time(nullptr) - start, 1); // no waiting for a "busy" file
    testing::internal::CaptureStderr();
    EXPECT_EQ(Put(db, "k", "v"), 0); // cannot replace a directory
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(Exists(Path("dir.xdb_new")));
}

TEST_F(TaggedDb, NothingButARegularFileIsRead) {
    // Whatever else stands under the name counts as missing, at once: a
    // FIFO without a writer must not hold the open up, a device is not read.
    struct Case {
        const char *what;
        bool (*make)(const std::string &path);
    } cases[] = {
        {"directory", [](const std::string &p) { return mkdir(p.c_str(), 0755) == 0; }},
        {"FIFO", [](const std::string &p) { return mkfifo(p.c_str(), 0644) == 0; }},
        {"link to a device",
         [](const std::string &p) { return symlink("/dev/zero", p.c_str()) == 0; }},
        {"dangling link", [](const std::string &p) { return symlink("nowhere", p.c_str()) == 0; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string name = std::string(c.what) + ".xdb";
        ASSERT_TRUE(c.make(Path(name)));
        time_t start = time(nullptr);
        for (uint32_t flags : {0u, static_cast<uint32_t>(DBT_NOREFRESH)}) {
            DbT *db = Open(name, flags);
            EXPECT_EQ(db->DbType, DBT_EMPTY);
            EXPECT_EQ(db->pImage, nullptr);
            EXPECT_EQ(Get(db, "k"), "");
            EXPECT_EQ(Keys(db), "(null)");
        }
        EXPECT_LE(time(nullptr) - start, 1);
    }
}

TEST_F(TaggedDb, ClosingSwitchesFullPathModeOff) {
    DbT *db = Open("c.xdb");
    EXPECT_EQ(DbmV4DriverPathHandling, 1);
    open_.clear();
    DbTClose(db);
    EXPECT_EQ(DbmV4DriverPathHandling, 0);
    DbTClose(nullptr);
}

TEST_F(TaggedDb, NullArgumentsAreRefused) {
    DbT *db = Open("n.xdb");
    char buf[4];
    EXPECT_EQ(DbTOpen(nullptr, 0), nullptr);
    EXPECT_EQ(DbmTPutRecord(nullptr, "k", "v", 1), 0);
    EXPECT_EQ(DbmTPutRecord(db, nullptr, "v", 1), 0);
    EXPECT_EQ(DbmTPutRecord(db, "k", nullptr, 1), 0);
    EXPECT_EQ(DbmTPutRecord(db, "k", "v", 0), 0);
    EXPECT_EQ(DbmTGetRecord(db, nullptr, buf), 0);
    EXPECT_EQ(DbmTGetRecord(nullptr, "k", buf), 0);
    EXPECT_EQ(DbmTDeleteRecords(db, ""), 0);
    EXPECT_EQ(DbmTDeleteRecords(db, "zz"), 1);
    EXPECT_EQ(DbmTGetRecordList(db, nullptr, ","), nullptr);
    EXPECT_EQ(DbmTGetDbLinkList(nullptr, ""), nullptr);
    EXPECT_EQ(DbmTArchiveDb(nullptr), 0);
    EXPECT_FALSE(Exists(Path("n.xdb")));
}

TEST_F(TaggedDb, ConvertsBetweenFormatsThroughClear) {
    DbT *db = Open("conv.xdb", DBT_NOARCHIVE);
    ASSERT_EQ(Put(db, "a", "1"), 1);
    ASSERT_EQ(Put(db, "b", "2"), 1);
    ASSERT_EQ(DbmTArchiveDb(db), 1);
    DbTClear(db, DBT_PLAIN);
    EXPECT_EQ(Keys(db), "(null)");
    ASSERT_EQ(Put(db, "a", "1"), 1);
    ASSERT_EQ(Put(db, "b", "2"), 1);
    ASSERT_EQ(DbmTArchiveDb(db), 1);
    EXPECT_EQ(ReadFile(Path("conv.xdb")), PlainRecord("a", "1") + PlainRecord("b", "2"));
    DbTClear(db, DBT_TAGGED);
    ASSERT_EQ(Put(db, "a", "1"), 1);
    ASSERT_EQ(DbmTArchiveDb(db), 1);
    EXPECT_EQ(ReadFile(Path("conv.xdb")).substr(0, 7), "TXDBAA1");
    EXPECT_EQ(ReadFile(Path("conv.xdb")).substr(16), TaggedRecord("a", "1"));
}

// Random stores and deletes on both image types: every lookup through the
// index answers what a model map and the walk say.
TEST_F(TaggedDb, IndexAgreesWithTheWalkThroughRandomChanges) {
    for (int plain = 0; plain < 2; ++plain) {
        std::string name = plain ? "rp.xdb" : "rt.xdb";
        if (plain) WriteFile(Path(name), PlainRecord("seed", "s"));
        DbT *db = Open(name, DBT_NOARCHIVE);
        std::map<std::string, std::string> model;
        if (plain) model["seed"] = "s";
        std::mt19937 rng(1234 + plain);
        for (int step = 0; step < 3000; ++step) {
            std::string key = std::to_string(rng() % 20) + "_" + std::to_string(rng() % 40);
            int op = rng() % 10;
            if (op < 6) {
                std::string value(1 + rng() % 50, static_cast<char>('a' + rng() % 26));
                value[0] = static_cast<char>(rng());
                ASSERT_EQ(Put(db, key, value), 1);
                model[key] = value;
            } else if (op < 9) {
                EXPECT_EQ(DbmTDeleteRecord(db, key.c_str()), model.erase(key) ? 1 : 0);
            } else {
                std::string prefix = key.substr(0, key.find('_') + 1);
                DbmTDeleteRecords(db, prefix.c_str());
                for (auto it = model.begin(); it != model.end();)
                    it = it->first.compare(0, prefix.size(), prefix) == 0 ? model.erase(it) : ++it;
            }
            std::string probe = std::to_string(rng() % 20) + "_" + std::to_string(rng() % 40);
            auto it = model.find(probe);
            ASSERT_EQ(Get(db, probe), it == model.end() ? "" : it->second) << probe;
        }
        auto walked = WalkHandle(db);
        EXPECT_EQ(walked.size(), model.size());
        for (auto &[k, v] : walked)
            EXPECT_EQ(model[k], v);
        EXPECT_EQ(db->DbType, plain ? DBT_PLAIN : DBT_TAGGED);
        if (!plain) {
            EXPECT_EQ(db->Count, static_cast<int>(model.size()));
        }
        ASSERT_EQ(DbmTArchiveDb(db), 1);
        DbT *again = Open(name, DBT_NOREFRESH);
        for (auto &[k, v] : model)
            EXPECT_EQ(Get(again, k), v);
    }
}

TEST_F(TaggedDb, WriteBackKeepsTheFilesModeAndANewFileHonoursTheUmask) {
    mode_t mask = umask(077);
    DbT *db = Open("mode.xdb");
    ASSERT_EQ(Put(db, "k", "v"), 1);
    struct stat st;
    ASSERT_EQ(stat(Path("mode.xdb").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "0666 less the umask";
    ASSERT_EQ(chmod(Path("mode.xdb").c_str(), 0644), 0);
    ASSERT_EQ(Put(db, "k1", "v"), 1);
    ASSERT_EQ(stat(Path("mode.xdb").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u) << "an existing file keeps its mode";
    ASSERT_EQ(chmod(Path("mode.xdb").c_str(), 0600), 0);
    ASSERT_EQ(Put(db, "k2", "v"), 1);
    ASSERT_EQ(DbmTDeleteRecord(db, "k"), 1);
    ASSERT_EQ(stat(Path("mode.xdb").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    umask(mask);
}

TEST_F(TaggedDb, AHandleBuiltByTheCallerWorksWithoutTheStoresBookkeeping) {
    WriteFile(Path("own.xdb"), TaggedHeader(2) + TaggedRecord("a", "1") + TaggedRecord("b", "22"));
    DbT db{};
    db.pName = SaveStr("%s", Path("own.xdb").c_str());
    DbmSetV4DriverPathHandling();
    DbTUpDate(&db);
    EXPECT_EQ(db.DbType, DBT_TAGGED);
    EXPECT_EQ(Get(&db, "b"), "22");
    EXPECT_EQ(Get(&db, "b"), "22");
    EXPECT_EQ(Get(&db, "a"), "1");
    EXPECT_EQ(DbTWritable(&db), 1);
    ASSERT_EQ(Put(&db, "c", "333"), 1);
    EXPECT_EQ(ReadFile(Path("own.xdb")).substr(16),
              TaggedRecord("a", "1") + TaggedRecord("b", "22") + TaggedRecord("c", "333"));
    EXPECT_EQ(Keys(&db), ",a,b,c,");
    PutMem(db.pImage);
    PutMem(db.pName);
    DbmV4DriverPathHandling = 0;
}

TEST_F(TaggedDb, AFirstLookupTellsKeysApartByTheirLengthAndEveryByte) {
    // A first lookup on a fresh image compares the stored key length and the
    // first bytes of the stored key as one word, the rest byte by byte; every
    // record before the one asked for differs from it in one of those places.
    for (int n = 1; n <= 12; ++n) {
        std::string want(n, 'k');
        for (int i = 0; i < n; ++i)
            want[i] = static_cast<char>('a' + (i * 7 + n) % 26);
        Records before;
        for (int at = 0; at < n; ++at) {
            std::string other = want;
            other[at] = other[at] == 'z' ? 'y' : static_cast<char>(other[at] + 1);
            before.emplace_back(other, "differs at " + std::to_string(at));
        }
        before.emplace_back(want + "x", "longer");
        if (n > 1) before.emplace_back(want.substr(0, n - 1), "shorter");
        before.emplace_back("x" + want, "shifted");
        std::string file = TaggedHeader(0);
        for (auto &[k, v] : before)
            file += TaggedRecord(k, v);
        file += TaggedRecord(want, "this one") + TaggedRecord(want, "a later one") +
                TaggedRecord("tail", "behind the others");
        WriteFile(Path("probe.xdb"), file);
        for (auto &[k, v] : before) {
            DbT *fresh = Open("probe.xdb", DBT_NOREFRESH);
            EXPECT_EQ(Get(fresh, k), v) << k;
        }
        DbT *db = Open("probe.xdb", DBT_NOREFRESH);
        EXPECT_EQ(Get(db, want), "this one") << want;
        DbT *miss = Open("probe.xdb", DBT_NOREFRESH);
        EXPECT_EQ(Get(miss, want + "y"), "") << want;
        EXPECT_EQ(miss->Count, static_cast<int>(before.size()) + 3);
    }
}

TEST_F(TaggedDb, LookupsFindTheFirstRecordBeforeAndAfterTheIndexIsBuilt) {
    // The first lookup scans, later ones go through the index; both find the
    // first of several records with one key, and keys of every length.
    std::string file = TaggedHeader(0);
    Records model;
    for (int n = 1; n <= 40; ++n) {
        std::string key(n, static_cast<char>('a' + n % 26));
        key[n / 2] = static_cast<char>('0' + n % 10);
        file += TaggedRecord(key, "first" + std::to_string(n));
        model.emplace_back(key, "first" + std::to_string(n));
    }
    for (auto &[k, v] : Records(model))
        file += TaggedRecord(k, "later");
    WriteFile(Path("first.xdb"), file);
    for (int round = 0; round < 3; ++round) {
        for (auto &[k, v] : model) {
            DbT *db = Open("first.xdb", DBT_NOREFRESH);
            for (int i = 0; i <= round; ++i)
                EXPECT_EQ(Get(db, k), v) << k << " round " << round;
            EXPECT_EQ(Get(db, k + "x"), "");
        }
    }
}

TEST_F(TaggedDb, IndexesBuiltOneAfterAnotherAnswerOnlyForTheirOwnStore) {
    // An index may be built in the arrays a closed handle's index left: each
    // store of the table is indexed after the one before it was closed (and
    // one stays open beside the next), and must find its own keys and none
    // of the others'. The appends make an index outgrow its arrays.
    struct Step {
        const char *name;
        int records, appended;
        bool keepOpen;
    };
    const Step steps[] = {
        {"big.xdb", 1000, 0, false},    {"less.xdb", 600, 500, false}, {"same.xdb", 1000, 0, true},
        {"beside.xdb", 1000, 3, false}, {"tiny.xdb", 5, 0, false},     {"big.xdb", 1000, 0, false},
    };
    for (const Step &s : steps) {
        std::string prefix = std::string(s.name, 3) + "_";
        std::string file = TaggedHeader(s.records);
        for (int i = 0; i < s.records; ++i)
            file += TaggedRecord(prefix + std::to_string(i), "v" + std::to_string(i));
        WriteFile(Path(s.name), file);
        DbT *db = Open(s.name, DBT_NOARCHIVE);
        EXPECT_EQ(Get(db, prefix + "0"), "v0"); // the scan; the next lookup indexes
        for (int i = 0; i < s.appended; ++i)
            ASSERT_EQ(Put(db, prefix + "new" + std::to_string(i), "n"), 1);
        for (int i = 0; i < s.records; i += 7)
            EXPECT_EQ(Get(db, prefix + std::to_string(i)), "v" + std::to_string(i)) << s.name;
        for (int i = 0; i < s.appended; ++i)
            EXPECT_EQ(Get(db, prefix + "new" + std::to_string(i)), "n") << s.name;
        for (const Step &other : steps) {
            std::string theirs = std::string(other.name, 3) + "_";
            if (theirs != prefix) {
                EXPECT_EQ(Get(db, theirs + "1"), "") << s.name;
            }
        }
        if (!s.keepOpen) {
            DbTClose(db);
            open_.pop_back();
        }
    }
}

TEST_F(TaggedDb, ALockedHandleChangesTheFileAsItStandsUnderTheLock) {
    DbT *deferred = Open("l.xdb", DBT_NOREFRESH | DBT_NOARCHIVE);
    DbT *other = Open("l.xdb");
    ASSERT_EQ(Put(other, "first", "1"), 1); // after the deferred handle loaded
    ASSERT_EQ(DbTLock(deferred), 1);
    EXPECT_TRUE(Exists(Path("l.xdb_new"))); // the lock is the temporary copy
    EXPECT_EQ(Get(deferred, "first"), "1"); // loaded anew, although DBT_NOREFRESH
    ASSERT_EQ(Put(deferred, "second", "2"), 1);

    // A writer that writes back at once waits for the lock before it reads.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        DbmSetV4DriverPathHandling();
        DbT *w = DbTOpen(Path("l.xdb").c_str(), 0);
        _exit(Put(w, "third", "3") == 1 ? 0 : 1);
    }
    usleep(300 * 1000);
    EXPECT_EQ(ReadFile(Path("l.xdb")).find("third"), std::string::npos);
    ASSERT_EQ(DbmTArchiveDb(deferred), 1);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    DbT *after = Open("l.xdb", DBT_NOREFRESH);
    EXPECT_EQ(Keys(after), ",first,second,third,");
    EXPECT_FALSE(Exists(Path("l.xdb_new")));
}

TEST_F(TaggedDb, ClosingALockedHandleLetsTheLockGoAndChangesNothing) {
    DbT *first = Open("c.xdb");
    ASSERT_EQ(Put(first, "k", "v"), 1);
    const std::string before = ReadFile(Path("c.xdb"));
    DbmSetV4DriverPathHandling();
    DbT *db = DbTOpen(Path("c.xdb").c_str(), DBT_NOARCHIVE);
    ASSERT_EQ(DbTLock(db), 1);
    ASSERT_EQ(Put(db, "unwritten", "x"), 1);
    DbTClose(db);
    EXPECT_FALSE(Exists(Path("c.xdb_new")));
    EXPECT_EQ(ReadFile(Path("c.xdb")), before);
    DbmSetV4DriverPathHandling();          // closing switched it off
    EXPECT_EQ(Put(first, "next", "y"), 1); // the next writer is not held up
}

TEST_F(TaggedDb, ThePrivateFilesCopyIsPrivateWhileItIsWritten) {
    mode_t mask = umask(022);
    DbT *first = Open("p.xdb");
    ASSERT_EQ(Put(first, "secret", "v"), 1);
    ASSERT_EQ(chmod(Path("p.xdb").c_str(), 0600), 0);
    DbT *db = Open("p.xdb", DBT_NOARCHIVE);
    ASSERT_EQ(DbTLock(db), 1);
    EXPECT_EQ(Mode(Path("p.xdb_new")), 0600);
    ASSERT_EQ(Put(db, "more", "w"), 1);
    ASSERT_EQ(DbmTArchiveDb(db), 1);
    EXPECT_EQ(Mode(Path("p.xdb")), 0600);
    umask(mask);
}
