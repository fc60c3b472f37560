// DbmDamage_test.cpp - damaged files: cut short at every offset, lying length
// fields, and a writer killed while it writes.
#include "Dbm.h"
#include "DbmTestUtil.h"
#include "MemMgr.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <sys/wait.h>
#include <vector>

using namespace dbmtest;

namespace {

class DamagedDb : public DbmDir {};

const Records kRecords = {{"first", "1"},
                          {"25_1011", std::string("\0\x01\xfe\xff", 4)},
                          {"", "empty key"},
                          {"last", std::string(40, 'z')}};

std::string TaggedFile(const Records &recs) {
    std::string f = TaggedHeader(static_cast<int>(recs.size()));
    for (auto &[k, v] : recs)
        f += TaggedRecord(k, v);
    return f;
}

std::string PlainFile(const Records &recs) {
    std::string f;
    for (auto &[k, v] : recs)
        f += PlainRecord(k, v);
    return f;
}

Records WalkPlainLayer(const std::string &file) {
    DbmSetV4DriverPathHandling();
    return LinkRecords(DbmGetDbLinkList(file.c_str(), ""));
}

// The records wholly inside the first `size` bytes of a file laid out from
// recs behind a header of `header` bytes; *end gets where they end.
Records WholeRecords(const Records &recs, size_t header, size_t size, bool tagged,
                     size_t *end = nullptr) {
    Records out;
    size_t off = header;
    for (auto &r : recs) {
        size_t next =
            off +
            (tagged ? TaggedRecord(r.first, r.second) : PlainRecord(r.first, r.second)).size();
        if (next > size) break;
        out.push_back(r);
        off = next;
    }
    if (end) *end = off;
    return out;
}

std::string DamageMessage(size_t offset, const std::string &file) {
    return "ERROR: damaged record at offset " + std::to_string(offset) + " in " + file +
           "; it is left as it is\n";
}

} // namespace

TEST_F(DamagedDb, TaggedFileCutAtEveryOffsetKeepsItsWholeRecords) {
    std::string full = TaggedFile(kRecords);
    std::string file = Path("cut.xdb");
    for (size_t size = 1; size <= full.size(); ++size) {
        WriteFile(file, full.substr(0, size));
        DbmSetV4DriverPathHandling();
        DbT *db = DbTOpen(file.c_str(), DBT_NOARCHIVE);
        ASSERT_NE(db, nullptr);
        size_t end = 0;
        Records expect = size >= 5 ? WholeRecords(kRecords, 16, size, true, &end) : Records{};
        EXPECT_EQ(WalkHandle(db), expect) << "size " << size;
        if (!expect.empty() && !expect.back().first.empty()) {
            EXPECT_EQ(DbmTGetRecordSize(db, expect.back().first.c_str()),
                      static_cast<int>(expect.back().second.size()));
        }
        // A store then writes the whole records and the new one when the cut
        // falls between records. One inside a record leaves a damaged record
        // and the file is not rewritten (a copy would lose what was cut); a
        // file cut before its first record is whole holds nothing readable
        // and is refused too (the magic cut short makes it neither format).
        db->Flags &= ~DBT_NOARCHIVE;
        EXPECT_EQ(DbTWritable(db), expect.empty() ? 0 : 1) << size;
        testing::internal::CaptureStderr();
        int stored = DbmTPutRecord(db, "new", "n", 1);
        std::string err = testing::internal::GetCapturedStderr();
        std::string raw = ReadFile(file);
        if (expect.empty()) {
            EXPECT_EQ(stored, 0) << size;
            EXPECT_EQ(raw, full.substr(0, size)) << size;
            EXPECT_EQ(err, "ERROR: no readable record in " + file + "; it is left as it is\n")
                << size;
            EXPECT_EQ(DbmTArchiveDb(db), 0) << size; // nor written back as it stands
        } else if (end != size) {
            EXPECT_EQ(stored, 0) << size;
            EXPECT_EQ(raw, full.substr(0, size)) << size;
            EXPECT_EQ(err, DamageMessage(end, file)) << size;
            EXPECT_EQ(DbTDamageOffset(db), static_cast<long>(end)) << size;
        } else {
            ASSERT_EQ(stored, 1) << size;
            EXPECT_EQ(DbTDamageOffset(db), -1) << size;
            Records kept = expect;
            kept.emplace_back("new", "n");
            EXPECT_EQ(raw.substr(0, 7), "TXDBAA" + std::to_string(kept.size())) << size;
            EXPECT_EQ(raw.substr(16), TaggedFile(kept).substr(16)) << "size " << size;
        }
        DbTClose(db);
    }
}

TEST_F(DamagedDb, PlainFileCutAtEveryOffsetKeepsItsWholeRecords) {
    std::string full = PlainFile(kRecords);
    std::string file = Path("cutp.xdb");
    for (size_t size = 1; size <= full.size(); ++size) {
        WriteFile(file, full.substr(0, size));
        size_t end = 0;
        Records expect = WholeRecords(kRecords, 0, size, false, &end);
        EXPECT_EQ(WalkPlainLayer(file), expect) << "size " << size;
        DbmSetV4DriverPathHandling();
        DbT *db = DbTOpen(file.c_str(), DBT_NOARCHIVE | DBT_NOREFRESH);
        EXPECT_EQ(WalkHandle(db), expect) << "size " << size;
        DbTClose(db);
        // The plain layer rewrites a file cut between records; one cut inside
        // a record is not rewritten, nor one cut inside its first record,
        // which holds nothing readable.
        DbmSetV4DriverPathHandling();
        testing::internal::CaptureStderr();
        int stored = DbmPutRecord(file.c_str(), "new", "n", 1);
        std::string err = testing::internal::GetCapturedStderr();
        if (expect.empty()) {
            EXPECT_EQ(stored, 0) << "size " << size;
            EXPECT_EQ(ReadFile(file), full.substr(0, size)) << "size " << size;
            EXPECT_EQ(err, "ERROR: no readable record in " + file + "; it is left as it is\n");
            continue;
        }
        if (end != size) {
            EXPECT_EQ(stored, 0) << "size " << size;
            EXPECT_EQ(ReadFile(file), full.substr(0, size)) << "size " << size;
            EXPECT_EQ(err, DamageMessage(end, file)) << "size " << size;
            continue;
        }
        ASSERT_EQ(stored, 1);
        Records kept = expect;
        kept.emplace_back("new", "n");
        EXPECT_EQ(ReadFile(file), PlainFile(kept)) << "size " << size;
    }
}

TEST_F(DamagedDb, LyingLengthFieldsEndTheWalkThere) {
    std::string good = TaggedRecord("good", "g");
    struct Case {
        const char *what;
        std::string record;
    };
    std::string key = Scramble(std::string("bad\0", 4));
    const std::vector<Case> cases = {
        {"body runs past the end", Be16(0xffff) + Be16(4) + key + "x"},
        {"key longer than body", Be16(6) + Be16(200) + key + "xx"},
        {"key length zero", Be16(6) + Be16(0) + key + "xx"},
        {"key without NUL", Be16(7) + Be16(4) + Scramble("badx") + "x"},
        {"body too short for a key", Be16(1) + "x"},
        {"key of 5000 bytes", Be16(5010) + Be16(5000) + std::string(5008, '\0')},
        {"lone length byte", std::string(1, '\0')},
    };
    for (const Case &c : cases) {
        WriteFile(Path("lie.xdb"), TaggedHeader(3) + good + c.record + TaggedRecord("after", "a"));
        DbmSetV4DriverPathHandling();
        DbT *db = DbTOpen(Path("lie.xdb").c_str(), 0);
        EXPECT_EQ(WalkHandle(db), (Records{{"good", "g"}})) << c.what;
        EXPECT_EQ(DbmTGetRecordSize(db, "after"), 0) << c.what;
        EXPECT_EQ(db->ImageSize, static_cast<int>(16 + good.size())) << c.what;
        EXPECT_EQ(db->Count, 1) << c.what;
        DbTClose(db);
    }
}

TEST_F(DamagedDb, LyingPlainLengthFieldsEndTheWalkThere) {
    std::string good = PlainRecord("good", "g");
    const std::vector<std::pair<const char *, std::string>> cases = {
        {"body runs past the end", Le16(0xfff0) + Scramble(Le16(4) + std::string("bad\0x", 5))},
        {"key longer than body", Le16(7) + Scramble(Le16(300) + std::string("bad\0x", 5))},
        {"key length zero", Le16(7) + Scramble(Le16(0) + std::string("bad\0x", 5))},
        {"key without NUL", Le16(7) + Scramble(Le16(4) + std::string("badxx", 5))},
        {"body of two bytes", Le16(2) + "xx"},
        {"body over the reader's limit", Le16(65530) + std::string(65530, '\0')},
    };
    for (auto &[what, record] : cases) {
        WriteFile(Path("liep.xdb"), good + record + PlainRecord("after", "a"));
        EXPECT_EQ(WalkPlainLayer(Path("liep.xdb")), (Records{{"good", "g"}})) << what;
        DbmSetV4DriverPathHandling();
        EXPECT_EQ(DbmGetRecordSize(Path("liep.xdb").c_str(), "after"), 0) << what;
        DbmSetV4DriverPathHandling();
        DbT *db = DbTOpen(Path("liep.xdb").c_str(), 0);
        EXPECT_EQ(WalkHandle(db), (Records{{"good", "g"}})) << what;
        DbTClose(db);
    }
}

TEST_F(DamagedDb, GarbageOfEverySmallSizeReadsWithoutHarm) {
    // Pseudo-random bytes, with and without the magic: nothing may crash or
    // read outside the image (the sanitizer build checks).
    uint32_t seed = 7;
    for (int round = 0; round < 300; ++round) {
        std::string bytes(round % 97 + 1, '\0');
        for (char &c : bytes) {
            seed = seed * 1103515245u + 12345u;
            c = static_cast<char>(seed >> 16);
        }
        if (round % 2) bytes = "TXDBAA" + bytes;
        WriteFile(Path("junk.xdb"), bytes);
        DbmSetV4DriverPathHandling();
        DbT *db = DbTOpen(Path("junk.xdb").c_str(), DBT_NOARCHIVE);
        WalkHandle(db);
        char *keys = DbmTGetRecordList(db, ",", ",");
        PutMem(keys);
        char buf[65536];
        DbmTGetRecord(db, "k", buf);
        testing::internal::CaptureStderr();
        int stored = DbmTPutRecord(db, "k", "v", 1);
        testing::internal::GetCapturedStderr();
        // Stored unless nothing in the garbage reads as a record.
        EXPECT_EQ(stored, DbTWritable(db));
        EXPECT_EQ(DbmTGetRecord(db, "k", buf), stored);
        DbTClose(db);
        WalkPlainLayer(Path("junk.xdb"));
    }
}

// The records of a tagged file, parsed here independently of the store.
Records ParseTagged(const std::string &raw, bool *whole) {
    Records out;
    auto be16 = [&](size_t off) {
        return (static_cast<unsigned char>(raw[off]) << 8) |
               static_cast<unsigned char>(raw[off + 1]);
    };
    auto unscramble = [](std::string run) {
        for (size_t i = run.size(); i-- > 1;)
            run[i - 1] = static_cast<char>(run[i - 1] ^ run[i]);
        return run;
    };
    size_t off = 16;
    *whole = raw.size() >= 16 && raw.compare(0, 6, "TXDBAA") == 0;
    while (*whole && off < raw.size()) {
        if (off + 4 > raw.size()) return *whole = false, out;
        size_t len = be16(off), klen = be16(off + 2);
        if (off + 2 + len > raw.size() || klen + 2 > len) return *whole = false, out;
        std::string key = unscramble(raw.substr(off + 4, klen));
        out.emplace_back(key.substr(0, klen - 1),
                         unscramble(raw.substr(off + 4 + klen, len - 2 - klen)));
        off += 2 + len;
    }
    return out;
}

// A writer killed at random moments while it replaces a large database: the
// file under the database's name is always one whole version.
TEST_F(DamagedDb, KilledWriterLeavesTheOldFileWhole) {
    std::string file = Path("big.xdb");
    const int records = 20000;
    auto valueOf = [](int version, int i) {
        return "version " + std::to_string(version) + " record " + std::to_string(i) +
               std::string(60 + i % 50, 'x');
    };
    std::mt19937 rng(42);
    for (int round = 1; round <= 4; ++round) {
        int progress[2];
        ASSERT_EQ(pipe(progress), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Keep writing whole new versions until killed; tell the parent
            // each time one is in place.
            close(progress[0]);
            DbmSetV4DriverPathHandling();
            DbT *db = DbTOpen(file.c_str(), DBT_NOARCHIVE | DBT_NOREFRESH);
            for (int version = round * 100;; ++version) {
                DbTClear(db, DBT_TAGGED);
                for (int i = 0; i < records; ++i) {
                    std::string key = "25_" + std::to_string(i), v = valueOf(version, i);
                    DbmTPutRecord(db, key.c_str(), v.data(), static_cast<int>(v.size()));
                }
                if (DbmTArchiveDb(db) && write(progress[1], "v", 1) != 1) _exit(1);
            }
        }
        close(progress[1]);
        char c;
        ASSERT_EQ(read(progress[0], &c, 1), 1) << "the writer never got a version into place";
        // Kill it somewhere in the next version: building it or writing it.
        usleep(rng() % 400000);
        kill(pid, SIGKILL);
        int status;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        close(progress[0]);

        bool whole;
        Records all = ParseTagged(ReadFile(file), &whole);
        ASSERT_TRUE(whole) << "round " << round;
        ASSERT_EQ(static_cast<int>(all.size()), records) << "round " << round;
        EXPECT_EQ(ReadFile(file).substr(0, 12), std::string("TXDBAA20000\0", 12));
        std::string first = all[0].second;
        int version = std::stoi(first.substr(8, first.find(' ', 8) - 8));
        EXPECT_GE(version, round * 100);
        for (int i = 0; i < records; ++i) {
            ASSERT_EQ(all[i].first, "25_" + std::to_string(i));
            ASSERT_EQ(all[i].second, valueOf(version, i)) << "a mix of versions in round " << round;
        }
        // And the store reads the same file.
        DbmSetV4DriverPathHandling();
        DbT *db = DbTOpen(file.c_str(), DBT_NOREFRESH);
        char buf[256];
        int n = DbmTGetRecord(db, "25_19999", buf);
        EXPECT_EQ(std::string(buf, n), valueOf(version, 19999));
        EXPECT_EQ(db->ImageSize, static_cast<int>(ReadFile(file).size()));
        DbTClose(db);
    }
}

TEST_F(DamagedDb, BothReadersTakePlainBodiesUpToTheSameLimit) {
    // A first record of 20 bytes, then one whose body is L bytes, then one more.
    std::string first = PlainRecord("a", std::string(14, 'a'));
    ASSERT_EQ(first.size(), 20u);
    for (int len : {65525, 65526, 65527, 65528, 65531, 65535}) {
        std::string big = PlainRecord("b", std::string(len - 4, 'b'));
        WriteFile(Path("limit.xdb"), first + big + PlainRecord("c", "c"));
        Records expect = {{"a", std::string(14, 'a')}};
        if (len <= DBM_MAX_PLAIN_BODY) {
            expect.emplace_back("b", std::string(len - 4, 'b'));
            expect.emplace_back("c", "c");
        }
        EXPECT_EQ(WalkPlainLayer(Path("limit.xdb")), expect) << "body " << len;
        DbmSetV4DriverPathHandling();
        DbT *db = DbTOpen(Path("limit.xdb").c_str(), DBT_NOREFRESH);
        EXPECT_EQ(DbmTGetRecordSize(db, "c"), len <= DBM_MAX_PLAIN_BODY ? 1 : 0) << "body " << len;
        EXPECT_EQ(WalkHandle(db), expect) << "body " << len;
        EXPECT_EQ(db->ImageSize, len <= DBM_MAX_PLAIN_BODY
                                     ? static_cast<int>(ReadFile(Path("limit.xdb")).size())
                                     : 20);
        DbTClose(db);
    }
}

TEST_F(DamagedDb, AKeyHoldingANulEndsTheWalkOfBothLayers) {
    std::string nulKey("k\0x", 3);
    std::string tagged = TaggedHeader(3) + TaggedRecord("good", "g") + TaggedRecord(nulKey, "v") +
                         TaggedRecord("after", "a");
    std::string plain =
        PlainRecord("good", "g") + PlainRecord(nulKey, "v") + PlainRecord("after", "a");
    for (bool isTagged : {true, false}) {
        const std::string &file = isTagged ? tagged : plain;
        SCOPED_TRACE(isTagged ? "tagged" : "plain");
        WriteFile(Path("nul.xdb"), file);
        DbmSetV4DriverPathHandling();
        DbT *db = DbTOpen(Path("nul.xdb").c_str(), DBT_NOREFRESH);
        // What a lookup finds is what a list shows: neither sees the record
        // nor anything behind it, whichever comes first.
        EXPECT_EQ(DbmTGetRecordSize(db, "k"), 0);
        EXPECT_EQ(DbmTGetRecordSize(db, "after"), 0);
        EXPECT_EQ(DbmTGetRecordSize(db, "good"), 1);
        EXPECT_EQ(WalkHandle(db), (Records{{"good", "g"}}));
        DbTClose(db);
        if (!isTagged) {
            EXPECT_EQ(WalkPlainLayer(Path("nul.xdb")), (Records{{"good", "g"}}));
            DbmSetV4DriverPathHandling();
            EXPECT_EQ(DbmGetRecordSize(Path("nul.xdb").c_str(), "after"), 0);
        }
    }
    // Keys of every length around the word size, with the NUL anywhere, and a
    // record behind them: neither a walk, nor a first lookup (which scans),
    // nor a second one (which indexes the image) gets past them.
    enum Reader { Walk, Scan, Index };
    for (int n = 1; n <= 20; ++n) {
        for (int at = 0; at < n; ++at) {
            std::string key(n, 'q');
            key[at] = '\0';
            WriteFile(Path("nul.xdb"), TaggedHeader(3) + TaggedRecord(std::string(n, 'q'), "ok") +
                                           TaggedRecord(key, "bad") +
                                           TaggedRecord("tail", "behind the bad key"));
            for (Reader first : {Walk, Scan, Index}) {
                DbmSetV4DriverPathHandling();
                DbT *db = DbTOpen(Path("nul.xdb").c_str(), DBT_NOREFRESH);
                if (first == Index) {
                    EXPECT_EQ(DbmTGetRecordSize(db, std::string(n, 'q').c_str()), 2);
                }
                if (first != Walk) {
                    EXPECT_EQ(DbmTGetRecordSize(db, "tail"), 0) << n << " " << at << " " << first;
                    EXPECT_EQ(DbmTGetRecordSize(db, std::string(n, 'q').c_str()), 2);
                }
                EXPECT_EQ(WalkHandle(db), (Records{{std::string(n, 'q'), "ok"}})) << n << " " << at;
                DbTClose(db);
            }
        }
    }
}

TEST_F(DamagedDb, AFileWithNothingReadableIsRefusedByEveryTaggedWriter) {
    std::string whole = TaggedHeader(2) + TaggedRecord("k1", "one") + TaggedRecord("k2", "two");
    struct Case {
        const char *what;
        std::string bytes;
        bool writable;     // DbTWritable: something is readable
        long damaged = -1; // where a damaged record begins
    };
    const long lastRecord = static_cast<long>(16 + TaggedRecord("k1", "one").size());
    const std::vector<Case> cases = {
        {"damaged first byte", "X" + whole.substr(1), false},
        {"header cut short", whole.substr(0, 9), false},
        {"header whose records are gone", TaggedHeader(2), false},
        {"damage before the first record", TaggedHeader(1) + Be16(0xfff0) + "xx", false},
        {"text", "hello, world\n", false},
        {"plain file damaged at once", Le16(2) + "xx" + PlainRecord("k", "v"), false},
        {"empty file", "", true},
        {"empty database", TaggedHeader(0), true},
        {"damaged tail only", whole.substr(0, whole.size() - 1), true, lastRecord},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string file = Path("refused.xdb");
        WriteFile(file, c.bytes);
        DbmSetV4DriverPathHandling();
        DbT *db = DbTOpen(file.c_str(), 0);
        EXPECT_EQ(DbTWritable(db), c.writable ? 1 : 0);
        testing::internal::CaptureStderr();
        EXPECT_EQ(DbmTPutRecord(db, "new", "n", 1), c.writable && c.damaged < 0 ? 1 : 0);
        std::string err = testing::internal::GetCapturedStderr();
        if (c.writable && c.damaged < 0) {
            EXPECT_EQ(err, "");
            DbTClose(db);
            continue;
        }
        EXPECT_EQ(err, c.writable
                           ? DamageMessage(c.damaged, file)
                           : "ERROR: no readable record in " + file + "; it is left as it is\n");
        testing::internal::CaptureStderr();
        EXPECT_EQ(DbmTDeleteRecord(db, "k1"), 0);
        EXPECT_EQ(DbmTCopyRecord(db, "k1", "k3"), 0);
        db->Flags |= DBT_NOARCHIVE;
        DbTClear(db, DBT_TAGGED); // even a handle told to start afresh
        EXPECT_EQ(DbmTPutRecord(db, "new", "n", 1), 0);
        EXPECT_EQ(DbmTArchiveDb(db), 0);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(ReadFile(file), c.bytes);
        EXPECT_FALSE(Exists(file + "_new"));
        DbTClose(db);
    }
}

TEST_F(DamagedDb, WriteBackRefusesACutRecordAndCountsTheRecordsOfASoundFile) {
    // Two whole records and a cut third, written back at once without a
    // lookup or a change before: refused, the file left as it is. A header
    // that counts 7 in front of two sound records is set right.
    std::string two = TaggedRecord("a", "1") + TaggedRecord("b", "2");
    std::string cut = TaggedRecord("c", "3").substr(0, 5);
    for (bool plain : {false, true}) {
        SCOPED_TRACE(plain ? "plain" : "tagged");
        std::string file = plain ? PlainRecord("a", "1") + PlainRecord("b", "2") +
                                       PlainRecord("c", "3").substr(0, 5)
                                 : TaggedHeader(7) + two + cut;
        WriteFile(Path("wb.xdb"), file);
        DbmSetV4DriverPathHandling();
        DbT *db = DbTOpen(Path("wb.xdb").c_str(), DBT_NOARCHIVE);
        testing::internal::CaptureStderr();
        EXPECT_EQ(DbmTArchiveDb(db), 0);
        size_t at =
            plain ? (PlainRecord("a", "1") + PlainRecord("b", "2")).size() : 16 + two.size();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), DamageMessage(at, Path("wb.xdb")));
        EXPECT_EQ(ReadFile(Path("wb.xdb")), file);
        EXPECT_FALSE(Exists(Path("wb.xdb_new")));
        DbTClose(db);
    }
    WriteFile(Path("wb.xdb"), TaggedHeader(7) + two);
    DbmSetV4DriverPathHandling();
    DbT *db = DbTOpen(Path("wb.xdb").c_str(), DBT_NOARCHIVE);
    ASSERT_EQ(DbmTArchiveDb(db), 1);
    std::string raw = ReadFile(Path("wb.xdb"));
    EXPECT_EQ(raw.substr(0, 8), std::string("TXDBAA2\0", 8));
    EXPECT_EQ(raw.substr(16), two);
    EXPECT_EQ(db->Count, 2);
    DbTClose(db);
}

TEST_F(DamagedDb, ADamagedRecordInTheMiddleIsNeverCutAwayByAChange) {
    // Five records, one length byte of the second damaged: no change of
    // either layer writes the file with only what lies before it.
    const Records five = {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}, {"e", "5"}};
    for (bool plain : {false, true}) {
        SCOPED_TRACE(plain ? "plain" : "tagged");
        std::string file = plain ? PlainFile(five) : TaggedFile(five);
        const size_t second = (plain ? 0 : 16) + (plain ? PlainRecord("a", "1").size()
                                                        : TaggedRecord("a", "1").size());
        file[second + (plain ? 1 : 0)] ^= 0x30; // the length's high byte
        const std::string path = Path("mid.xdb");
        struct Change {
            const char *what;
            std::function<int()> run;
        };
        const Change changes[] = {
            {"store", [&] { return DbmPutRecord(path.c_str(), "k", "v", 1); }},
            {"delete before the damage", [&] { return DbmDeleteRecord(path.c_str(), "a"); }},
            {"tagged store",
             [&] {
                 DbT *db = DbTOpen(path.c_str(), 0);
                 int ok = DbmTPutRecord(db, "k", "v", 1);
                 DbTClose(db);
                 return ok;
             }},
            {"tagged delete before the damage",
             [&] {
                 DbT *db = DbTOpen(path.c_str(), 0);
                 int ok = DbmTDeleteRecord(db, "a");
                 DbTClose(db);
                 return ok;
             }},
        };
        for (const Change &c : changes) {
            // The plain layer takes a tagged file for another format.
            if (!plain && strncmp(c.what, "tagged", 6) != 0) continue;
            WriteFile(path, file);
            DbmSetV4DriverPathHandling();
            testing::internal::CaptureStderr();
            EXPECT_EQ(c.run(), 0) << c.what;
            EXPECT_EQ(testing::internal::GetCapturedStderr(), DamageMessage(second, path))
                << c.what;
            EXPECT_EQ(ReadFile(path), file) << c.what;
            EXPECT_FALSE(Exists(path + "_new")) << c.what;
        }
        DbmSetV4DriverPathHandling();
        DbT *db = DbTOpen(path.c_str(), DBT_NOREFRESH);
        EXPECT_EQ(DbTDamageOffset(db), static_cast<long>(second));
        EXPECT_EQ(WalkHandle(db), (Records{{"a", "1"}})); // readers keep what they can
        DbTClose(db);
    }
}

TEST_F(DamagedDb, AFirstLookupStopsAtTheDamageWhereTheWalkStops) {
    // The first lookup on a fresh image scans it; a damaged record anywhere,
    // near the start of a long image or at its end, ends that scan just as it
    // ends a walk: nothing behind it is found, and the image is cut there.
    std::string before;
    Records kept;
    for (int i = 0; i < 40; ++i) {
        std::string key = "25_" + std::to_string(1000 + i);
        before += TaggedRecord(key, "text " + std::to_string(i));
        kept.push_back({key, "text " + std::to_string(i)});
    }
    std::string after;
    for (int i = 0; i < 40; ++i)
        after += TaggedRecord("26_" + std::to_string(1000 + i), "behind");
    std::string shortKey = Scramble(std::string("bad\0", 4));
    struct Case {
        const char *what;
        std::string record;
    } cases[] = {
        {"body runs past the end", Be16(0xffff) + Be16(4) + shortKey + "x"},
        {"body too short for a key", Be16(2) + Be16(1) + "x"},
        {"key longer than body", Be16(6) + Be16(200) + shortKey + "xx"},
        {"key length zero", Be16(6) + Be16(0) + shortKey + "xx"},
        {"key without NUL", Be16(7) + Be16(4) + Scramble("badx") + "x"},
        {"key of 5000 bytes", Be16(5010) + Be16(5000) + std::string(5008, '\0')},
        {"short key holding a NUL", TaggedRecord(std::string("25\0_10", 6), "v")},
        {"nine-byte key holding a NUL at its end", TaggedRecord(std::string("25_10000\0", 9), "v")},
        {"long key holding a NUL", TaggedRecord(std::string(20, 'k') + '\0' + "k", "v")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        for (bool atEnd : {false, true}) {
            SCOPED_TRACE(atEnd ? "damage at the end" : "damage before 40 records");
            std::string file = TaggedHeader(81) + before + c.record + (atEnd ? "" : after);
            WriteFile(Path("scan.xdb"), file);
            DbmSetV4DriverPathHandling();
            DbT *db = DbTOpen(Path("scan.xdb").c_str(), 0);
            EXPECT_EQ(DbmTGetRecordSize(db, "26_1039"), 0);
            EXPECT_EQ(db->ImageSize, static_cast<int>(16 + before.size()));
            EXPECT_EQ(db->Count, 40);
            EXPECT_EQ(DbmTGetRecordSize(db, "25_1039"), 7);
            EXPECT_EQ(WalkHandle(db), kept);
            DbTClose(db);
        }
    }
    // Sound records of every key length up to past a word, each found by a
    // first lookup behind the others.
    for (int n = 1; n <= 20; ++n) {
        std::string file = TaggedHeader(3) + before + TaggedRecord(std::string(n, 'q'), "found") +
                           TaggedRecord("tail", "t");
        WriteFile(Path("scan.xdb"), file);
        DbmSetV4DriverPathHandling();
        DbT *db = DbTOpen(Path("scan.xdb").c_str(), 0);
        EXPECT_EQ(DbmTGetRecordSize(db, std::string(n, 'q').c_str()), 5) << n;
        DbTClose(db);
    }
}
