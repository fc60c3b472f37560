// xdb_e2e_test.cpp - the xdb tool run as a program on real files; what it
// writes is read back through the library.
#include "Dbm.h"
#include "DbmTestUtil.h"
#include "MemMgr.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace testsupport;
using Result = ChildResult;

class Xdb : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(tmp_.path.empty()); }
    std::string P(const std::string &name) const { return tmp_ / name; }

    // Runs xdb with args in the test directory, feeding it input.
    Result Run(const std::vector<std::string> &args, const std::string &input = "") {
        std::vector<std::string> argv{XDB_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, dir_, {}, input, Stderr::Apart);
    }

    // The records of a file as the library reads them, in file order.
    std::vector<std::pair<std::string, std::string>> Records(const std::string &name) {
        DbmSetV4DriverPathHandling();
        DbT *db = DbTOpen(P(name).c_str(), DBT_NOREFRESH);
        dbmtest::Records out = dbmtest::WalkHandle(db);
        DbTClose(db);
        return out;
    }

    TempDir tmp_{"xdb_e2e"};
    const std::string &dir_ = tmp_.path;
};

std::string AllBytes() {
    std::string s;
    for (int c = 0; c < 256; ++c)
        s.push_back(static_cast<char>(c));
    return s;
}

} // namespace

TEST_F(Xdb, HelpGoesToStandardOutput) {
    for (const char *opt : {"--help", "-h"}) {
        Result r = Run({opt});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("Usage: xdb COMMAND", 0), 0u) << r.out;
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(Xdb, WrongUsageExitsTwoWithAMessage) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frob"},
        {"get", "a.xdb"},
        {"list"},
        {"put", "a.xdb", "k"},
        {"convert", "a.xdb"},
        {"convert", "--to", "csv", "a.xdb"},
        {"list", "--bogus", "a.xdb"},
        {"get", "--prefix", "a", "k"},
        {"put", "--file"},
        {"import", "--plain", "--tagged", "a.xdb"},
    };
    for (const auto &args : cases) {
        Result r = Run(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_EQ(r.err.rfind("xdb: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("Try 'xdb --help'."), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(DirEntries(dir_), std::vector<std::string>{});
}

TEST_F(Xdb, PutsFromArgumentFileAndStandardInput) {
    WriteFile(P("value.bin"), AllBytes());
    ASSERT_EQ(Run({"put", "t.xdb", "arg", "from an argument"}).status, 0);
    ASSERT_EQ(Run({"put", "--file", "value.bin", "t.xdb", "file"}).status, 0);
    ASSERT_EQ(Run({"put", "t.xdb", "stdin", "-"}, std::string("in\0put\n", 7)).status, 0);
    ASSERT_EQ(Run({"put", "--", "t.xdb", "--dash", "--value"}).status, 0);
    EXPECT_EQ(ReadFile(P("t.xdb")).substr(0, 7), "TXDBAA4"); // a new file is tagged
    Result r = Run({"get", "t.xdb", "file"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, AllBytes());
    EXPECT_EQ(Run({"get", "t.xdb", "stdin"}).out, std::string("in\0put\n", 7));
    EXPECT_EQ(Run({"get", "--text", "t.xdb", "stdin"}).out, "in\\x00put\\n\n");
    EXPECT_EQ(Run({"get", "--", "t.xdb", "--dash"}).out, "--value");
    EXPECT_EQ(Run({"list", "t.xdb"}).out, "arg\nfile\nstdin\n--dash\n");
}

TEST_F(Xdb, MissingThingsFailWithStatusOne) {
    struct Case {
        std::vector<std::string> args;
        const char *err;
    };
    ASSERT_EQ(Run({"put", "t.xdb", "k", "v"}).status, 0);
    const std::vector<Case> cases = {
        {{"list", "none.xdb"}, "xdb: none.xdb: no such file\n"},
        {{"get", "t.xdb", "nope"}, "xdb: t.xdb: no record 'nope'\n"},
        {{"delete", "t.xdb", "nope"}, "xdb: t.xdb: no record 'nope'\n"},
        {{"copy", "t.xdb", "nope", "x"}, "xdb: t.xdb: no record 'nope' with data\n"},
        {{"check", "none.xdb"}, "xdb: none.xdb: no such file\n"},
        {{"put", "t.xdb", "k", ""}, "xdb: t.xdb: a record needs at least one data byte\n"},
        {{"list", "."}, "xdb: .: not a regular file\n"},
    };
    for (const Case &c : cases) {
        Result r = Run(c.args);
        EXPECT_EQ(r.status, 1) << c.args[0];
        EXPECT_EQ(r.err, c.err);
    }
}

TEST_F(Xdb, DeletesKeysAndPrefixesAndCopies) {
    for (const char *k : {"ab", "a", "abc", "b", "ab1"})
        ASSERT_EQ(Run({"put", "d.xdb", k, k}).status, 0);
    EXPECT_EQ(Run({"delete", "d.xdb", "b"}).status, 0);
    EXPECT_EQ(Run({"delete", "--prefix", "d.xdb", "ab"}).status, 0);
    EXPECT_EQ(Run({"delete", "--prefix", "d.xdb", "zz"}).status, 0);
    EXPECT_EQ(Run({"copy", "d.xdb", "a", "z"}).status, 0);
    EXPECT_EQ(Records("d.xdb"),
              (std::vector<std::pair<std::string, std::string>>{{"a", "a"}, {"z", "a"}}));
}

TEST_F(Xdb, ExportThenImportGivesIdenticalRecordsForEveryByte) {
    // Keys hold every byte but NUL, data every byte; both formats.
    std::string bytes = AllBytes();
    std::mt19937 rng(99);
    for (const char *format : {"tagged", "plain"}) {
        std::string src = std::string(format) + ".xdb";
        DbmSetV4DriverPathHandling();
        DbT *db = DbTOpen(P(src).c_str(), DBT_NOARCHIVE);
        if (std::string(format) == "plain") DbTClear(db, DBT_PLAIN);
        for (int i = 0; i < 64; ++i) {
            std::string key, data;
            for (int j = 0; j < 1 + i % 9; ++j)
                key.push_back(static_cast<char>(1 + rng() % 255));
            key += std::to_string(i);
            for (int j = 0; j < 1 + static_cast<int>(rng() % 300); ++j)
                data.push_back(static_cast<char>(rng()));
            ASSERT_EQ(DbmTPutRecord(db, key.c_str(), data.data(), static_cast<int>(data.size())),
                      1);
        }
        ASSERT_EQ(DbmTPutRecord(db, bytes.c_str() + 1, bytes.data(), 256), 1);
        ASSERT_EQ(DbmTPutRecord(db, "#hash", "\\\t\n\r", 4), 1);
        ASSERT_EQ(DbmTArchiveDb(db), 1);
        DbTClose(db);

        Result ex = Run({"export", src});
        ASSERT_EQ(ex.status, 0) << ex.err;
        for (char c : ex.out)
            ASSERT_TRUE(c == '\n' || c == '\t' || (c >= 0x20 && c < 0x7f));
        std::string copy = std::string("copy_") + format + ".xdb";
        Result im = Run({"import", copy}, ex.out);
        ASSERT_EQ(im.status, 0) << im.err;
        EXPECT_EQ(Records(copy), Records(src));
        // The text form names the format: the copy is byte for byte the same
        // apart from the tagged header's filler.
        std::string a = ReadFile(P(src)), b = ReadFile(P(copy));
        if (std::string(format) == "plain") {
            EXPECT_EQ(a, b);
        } else {
            EXPECT_EQ(a.substr(16), b.substr(16));
        }
        ASSERT_EQ(Run({"export", src, "out.txt"}).status, 0);
        EXPECT_EQ(ReadFile(P("out.txt")), ex.out);
    }
}

TEST_F(Xdb, ConvertsBetweenFormats) {
    for (const char *k : {"k1", "k2", "k3"})
        ASSERT_EQ(Run({"put", "c.xdb", k, std::string("v") + k}).status, 0);
    auto recs = Records("c.xdb");
    ASSERT_EQ(Run({"convert", "--to", "plain", "c.xdb", "p.xdb"}).status, 0);
    EXPECT_NE(ReadFile(P("p.xdb")).substr(0, 5), "TXDBA");
    EXPECT_EQ(Records("p.xdb"), recs);
    ASSERT_EQ(Run({"convert", "--to", "tagged", "p.xdb"}).status, 0);
    EXPECT_EQ(ReadFile(P("p.xdb")).substr(0, 7), "TXDBAA3");
    EXPECT_EQ(Records("p.xdb"), recs);
    Result r = Run({"check", "p.xdb"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "p.xdb: tagged, 3 records, 46 bytes\n");
}

TEST_F(Xdb, ConvertRefusesRecordsTheTargetFormatCannotHold) {
    std::string big(65525, 'b'); // fits a tagged record, not a plain one
    ASSERT_EQ(Run({"put", "big.xdb", "small", "s"}).status, 0);
    ASSERT_EQ(Run({"put", "big.xdb", "large", "-"}, big).status, 0);
    Result r = Run({"convert", "--to", "plain", "big.xdb", "p.xdb"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("nothing written"), std::string::npos) << r.err;
    EXPECT_EQ(DirEntries(dir_), std::vector<std::string>{"big.xdb"});
}

TEST_F(Xdb, ChecksAndReportsADamagedTail) {
    ASSERT_EQ(Run({"put", "k.xdb", "one", "1"}).status, 0);
    ASSERT_EQ(Run({"put", "k.xdb", "two", "22"}).status, 0);
    std::string whole = ReadFile(P("k.xdb"));
    Result ok = Run({"check", "k.xdb"});
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.out, "k.xdb: tagged, 2 records, " + std::to_string(whole.size()) + " bytes\n");
    WriteFile(P("k.xdb"), whole.substr(0, whole.size() - 1));
    Result bad = Run({"check", "k.xdb"});
    EXPECT_EQ(bad.status, 1);
    // Header 16, "one" 9 bytes, "two" 10 bytes less the cut one.
    EXPECT_EQ(bad.out, "k.xdb: tagged, 1 records, 34 bytes\n"
                       "k.xdb: damaged tail: 9 bytes from offset 25 are not whole records\n"
                       "k.xdb: the header counts 2 records\n"
                       "k.xdb: damaged record at offset 25: it will not be rewritten\n");
    WriteFile(P("e.xdb"), "");
    EXPECT_EQ(Run({"check", "e.xdb"}).out, "e.xdb: empty, 0 records, 0 bytes\n");
}

TEST_F(Xdb, DumpMatchesTheLibrarysDumpOfAPlainFile) {
    ASSERT_EQ(Run({"put", "d.xdb", "key", std::string("a\x01") + "b"}).status, 0);
    ASSERT_EQ(Run({"convert", "--to", "plain", "d.xdb", "d.db"}).status, 0);
    Result r = Run({"dump", "d.db"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "9 4 ==>{key.a.b}\n");
    EXPECT_EQ(Run({"dump", "d.xdb"}).out, r.out); // the same form for tagged files
    EXPECT_EQ(Run({"dump", "--readable", "d.xdb"}).out,
              "d.xdb: tagged, 1 records\nkey = a\\x01b\n");
    // The library's own dump of the plain file, in a child with its output
    // captured.
    ChildResult lib = RunChild([&] {
        if (chdir(dir_.c_str()) != 0) _exit(3);
        DumpDbm("d");
    });
    EXPECT_CHILD_OK(lib);
    EXPECT_EQ(lib.out, r.out);
}

TEST_F(Xdb, ExportNeverWritesThroughWhatLiesAtItsTemporaryName) {
    ASSERT_EQ(Run({"put", "keep.xdb", "k", "v"}).status, 0);
    WriteFile(P("victim"), "precious\n");
    // The temporary name carries the process id, which exec keeps: the child
    // plants a link, or a file of its own, under the name before it becomes xdb.
    for (bool link : {true, false}) {
        SCOPED_TRACE(link ? "link" : "file");
        RunOptions plant{.cwd = dir_, .stderrTo = Stderr::Apart};
        plant.beforeExec = [&] {
            std::string tmp = "out.txt.tmp" + std::to_string(getpid());
            if (link ? symlink("victim", tmp.c_str()) != 0 : (WriteFile(tmp, "planted\n"), false))
                _exit(127);
        };
        ChildResult r = RunProgram({XDB_PATH, "export", "keep.xdb", "out.txt"}, plant);
        std::string tmp = P("out.txt.tmp" + std::to_string(r.pid));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("xdb: "), std::string::npos) << r.err;
        EXPECT_EQ(ReadFile(P("victim")), "precious\n");
        EXPECT_EQ(ReadFile(tmp), link ? "precious\n" : "planted\n"); // left as it was found
        struct stat st;
        EXPECT_NE(stat(P("out.txt").c_str(), &st), 0);
        unlink(tmp.c_str());
    }
}

TEST_F(Xdb, FailuresLeaveNoFileBehind) {
    ASSERT_EQ(Run({"put", "keep.xdb", "k", "v"}).status, 0);
    std::string before = ReadFile(P("keep.xdb"));
    struct Case {
        std::vector<std::string> args;
        std::string input;
    };
    const std::vector<Case> cases = {
        {{"import", "keep.xdb"}, "good\tline\nno tab here\n"},
        {{"import", "keep.xdb"}, "bad\\q\tescape\n"},
        {{"import", "keep.xdb"}, "k\\x0\tshort hex\n"},
        {{"import", "keep.xdb"}, "nul\\x00key\tv\n"},
        {{"import", "keep.xdb"}, "empty\t\n"},
        {{"import", "new.xdb"}, "no tab\n"},
        {{"put", "missing/dir.xdb", "k", "v"}, ""},
        {{"export", "keep.xdb", "missing/out.txt"}, ""},
        {{"convert", "--to", "plain", "keep.xdb", "missing/p.xdb"}, ""},
    };
    for (const Case &c : cases) {
        Result r = Run(c.args, c.input);
        EXPECT_EQ(r.status, 1) << c.args[0] << " " << c.input;
        EXPECT_EQ(r.err.find("xdb: ") != std::string::npos, true) << r.err;
        EXPECT_EQ(ReadFile(P("keep.xdb")), before);
        EXPECT_EQ(DirEntries(dir_), std::vector<std::string>{"keep.xdb"})
            << c.args[0] << " " << c.input;
    }
}

namespace {

const std::string kNothingReadable =
    "no readable record (neither format, or damaged before its first record)";

} // namespace

TEST_F(Xdb, AFileWithNothingReadableIsRefusedByEveryCommand) {
    // A tagged file whose first byte is damaged is neither format: no command
    // shows it as empty, and none rewrites it with only what it adds.
    ASSERT_EQ(Run({"put", "t.xdb", "k1", "one"}).status, 0);
    ASSERT_EQ(Run({"put", "t.xdb", "k2", "two"}).status, 0);
    ASSERT_EQ(Run({"put", "good.xdb", "g", "v"}).status, 0);
    std::string damaged = "X" + ReadFile(P("t.xdb")).substr(1);
    WriteFile(P("t.xdb"), damaged);
    const std::string shown = "xdb: t.xdb: " + kNothingReadable + "\n";
    const std::string kept = "xdb: t.xdb: " + kNothingReadable + "; it is left as it is\n";
    struct Case {
        std::vector<std::string> args;
        std::string input, err;
    };
    const std::vector<Case> cases = {
        {{"list", "t.xdb"}, "", shown},
        {{"dump", "t.xdb"}, "", shown},
        {{"dump", "--readable", "t.xdb"}, "", shown},
        {{"export", "t.xdb"}, "", shown},
        {{"convert", "--to", "plain", "t.xdb"}, "", shown},
        {{"put", "t.xdb", "new", "v"}, "", kept},
        {{"put", "t.xdb", "new", "-"}, "v", kept},
        {{"delete", "t.xdb", "k1"}, "", kept},
        {{"delete", "--prefix", "t.xdb", "k"}, "", kept},
        {{"copy", "t.xdb", "k1", "k3"}, "", kept},
        {{"import", "t.xdb"}, "new\tv\n", kept},
        {{"import", "--plain", "t.xdb"}, "new\tv\n", kept},
        {{"convert", "--to", "tagged", "good.xdb", "t.xdb"}, "", kept},
    };
    for (const Case &c : cases) {
        Result r = Run(c.args, c.input);
        EXPECT_EQ(r.status, 1) << c.args[0];
        EXPECT_EQ(r.err, c.err) << c.args[0];
        EXPECT_EQ(r.out, "") << c.args[0];
        EXPECT_EQ(ReadFile(P("t.xdb")), damaged) << c.args[0];
        EXPECT_EQ(DirEntries(dir_), (std::vector<std::string>{"good.xdb", "t.xdb"})) << c.args[0];
    }
    Result check = Run({"check", "t.xdb"});
    EXPECT_EQ(check.status, 1);
    std::string size = std::to_string(damaged.size());
    EXPECT_EQ(check.out, "t.xdb: plain, 0 records, " + size +
                             " bytes\n"
                             "t.xdb: damaged tail: " +
                             size +
                             " bytes from offset 0 are not whole records\n"
                             "t.xdb: no readable record: it will not be rewritten\n");
}

TEST_F(Xdb, CheckReportsAPlainBodyBeyondTheReadersLimit) {
    // 20 bytes of a sound record, then a body of 65,531 bytes: over the limit
    // that both readers apply, so neither shows it and check says why.
    std::string first = dbmtest::PlainRecord("a", std::string(14, 'a'));
    std::string big = dbmtest::PlainRecord("b", std::string(65527, 'b'));
    WriteFile(P("big.xdb"), first + big);
    ASSERT_EQ(ReadFile(P("big.xdb")).size(), 65553u);
    Result r = Run({"check", "big.xdb"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "big.xdb: plain, 1 records, 65553 bytes\n"
              "big.xdb: damaged tail: 65533 bytes from offset 20 are not whole records\n"
              "big.xdb: the record at offset 20 is none: a body of 65531 bytes, over the 65527 a "
              "plain record may hold\n"
              "big.xdb: damaged record at offset 20: it will not be rewritten\n");
    EXPECT_EQ(Run({"list", "big.xdb"}).out, "a\n");
    DbmSetV4DriverPathHandling();
    char *keys = DbmGetRecordList(P("big.xdb").c_str(), ",", ",");
    EXPECT_STREQ(keys, ",a,");
    PutMem(keys);
    // At the limit itself the record is whole for both.
    WriteFile(P("edge.xdb"), first + dbmtest::PlainRecord("b", std::string(65523, 'b')));
    Result edge = Run({"check", "edge.xdb"});
    EXPECT_EQ(edge.status, 0) << edge.out;
    EXPECT_EQ(Run({"list", "edge.xdb"}).out, "a\nb\n");
}

TEST_F(Xdb, AKeyHoldingANulIsDamageAndGetFindsWhatListShows) {
    std::string nulKey("k\0x", 3);
    WriteFile(P("nul.xdb"), dbmtest::TaggedHeader(2) + dbmtest::TaggedRecord("good", "g") +
                                dbmtest::TaggedRecord(nulKey, "v"));
    EXPECT_EQ(Run({"list", "nul.xdb"}).out, "good\n");
    Result get = Run({"get", "nul.xdb", "k"});
    EXPECT_EQ(get.status, 1);
    EXPECT_EQ(get.err, "xdb: nul.xdb: no record 'k'\n");
    EXPECT_EQ(Run({"get", "nul.xdb", "good"}).out, "g");
    Result check = Run({"check", "nul.xdb"});
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(check.out, "nul.xdb: tagged, 1 records, 35 bytes\n"
                         "nul.xdb: damaged tail: 9 bytes from offset 26 are not whole records\n"
                         "nul.xdb: the record at offset 26 is none: its key holds a NUL byte\n"
                         "nul.xdb: the header counts 2 records\n"
                         "nul.xdb: damaged record at offset 26: it will not be rewritten\n");
    // The same in a plain file.
    WriteFile(P("nulp.xdb"), dbmtest::PlainRecord("good", "g") + dbmtest::PlainRecord(nulKey, "v"));
    EXPECT_EQ(Run({"list", "nulp.xdb"}).out, "good\n");
    EXPECT_EQ(Run({"get", "nulp.xdb", "k"}).status, 1);
    Result checkp = Run({"check", "nulp.xdb"});
    EXPECT_EQ(checkp.status, 1);
    EXPECT_NE(
        checkp.out.find("nulp.xdb: the record at offset 10 is none: its key holds a NUL byte\n"),
        std::string::npos)
        << checkp.out;
}

TEST_F(Xdb, GetFindsARecordWithAnEmptyKeyThatListShows) {
    // The plain layer stores a record under the empty key; a tagged file may
    // hold one too. get finds the first one, as for any other key.
    WriteFile(P("empty.xdb"), dbmtest::TaggedHeader(4) + dbmtest::TaggedRecord("good", "g") +
                                  dbmtest::TaggedRecord("", "v") + dbmtest::TaggedRecord("", "w") +
                                  dbmtest::TaggedRecord("after", "a"));
    WriteFile(P("emptyp.xdb"), dbmtest::PlainRecord("good", "g") + dbmtest::PlainRecord("", "v") +
                                   dbmtest::PlainRecord("", "w") +
                                   dbmtest::PlainRecord("after", "a"));
    WriteFile(P("none.xdb"), dbmtest::TaggedHeader(1) + dbmtest::TaggedRecord("good", "g"));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    };
    const std::vector<Case> cases = {
        {{"list", "empty.xdb"}, 0, "good\n\n\nafter\n", ""},
        {{"get", "--", "empty.xdb", ""}, 0, "v", ""},
        {{"get", "--text", "--", "empty.xdb", ""}, 0, "v\n", ""},
        {{"get", "--", "empty.xdb", "after"}, 0, "a", ""},
        {{"check", "empty.xdb"}, 0, "empty.xdb: tagged, 4 records, 49 bytes\n", ""},
        {{"list", "emptyp.xdb"}, 0, "good\n\n\nafter\n", ""},
        {{"get", "--", "emptyp.xdb", ""}, 0, "v", ""},
        {{"get", "--", "none.xdb", ""}, 1, "", "xdb: none.xdb: no record ''\n"},
    };
    for (const Case &c : cases) {
        Result r = Run(c.args);
        std::string what = c.args[0] + " " + c.args[c.args.size() - 2];
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_EQ(r.out, c.out) << what;
        EXPECT_EQ(r.err, c.err) << what;
    }
    DbmSetV4DriverPathHandling();
    char buf[8] = {};
    EXPECT_EQ(DbmGetRecord(P("emptyp.xdb").c_str(), "", buf), 1);
    EXPECT_STREQ(buf, "v");
}

TEST_F(Xdb, RewritingKeepsTheFilesModeAndANewFileHonoursTheUmask) {
    // A new file: 0666 less the umask (umask 077; xdb put u.xdb k v gave 0666).
    mode_t mask = umask(077);
    ASSERT_EQ(Run({"put", "u.xdb", "k", "v"}).status, 0);
    EXPECT_EQ(Mode(P("u.xdb")), 0600);
    umask(022);
    ASSERT_EQ(Run({"put", "m.xdb", "k", "v"}).status, 0);
    EXPECT_EQ(Mode(P("m.xdb")), 0644);
    ASSERT_EQ(chmod(P("m.xdb").c_str(), 0600), 0);
    const std::vector<std::vector<std::string>> changes = {
        {"put", "m.xdb", "k2", "v"}, {"copy", "m.xdb", "k", "k3"},
        {"delete", "m.xdb", "k3"},   {"convert", "--to", "plain", "m.xdb"},
        {"import", "m.xdb"},
    };
    for (const auto &args : changes) {
        Result r = Run(args, "k4\tv\n");
        EXPECT_EQ(r.status, 0) << args[0] << r.err;
        EXPECT_EQ(Mode(P("m.xdb")), 0600) << args[0];
    }
    EXPECT_EQ(Run({"list", "m.xdb"}).out, "k\nk2\nk4\n");
    umask(mask);
    // The owner too, where we may give it (as root).
    if (geteuid() == 0) {
        ASSERT_EQ(chown(P("m.xdb").c_str(), 65534, 65534), 0);
        ASSERT_EQ(Run({"put", "m.xdb", "k5", "v"}).status, 0);
        struct stat st;
        ASSERT_EQ(stat(P("m.xdb").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
}

TEST_F(Xdb, TwoWritersAtOnceLoseNoRecord) {
    // Two loops of 200 changes each, at once, on one file: every command
    // reads the file under the writers' lock, so none writes back a file
    // that misses the other's latest change.
    std::string seed;
    for (const char *p : {"a", "b"}) {
        for (int i = 1; i <= 200; ++i)
            seed += std::string(p) + std::to_string(i) + "\tv\n";
    }
    struct Case {
        const char *name;
        const char *change; // one change of the loop of prefix $p, number $i
        bool seeded;        // the file holds the 400 records first
        size_t after;       // records at the end
    };
    const Case cases[] = {
        {"put", "\"$X\" put f.xdb \"$p$i\" v", false, 400},
        {"delete", "\"$X\" delete f.xdb \"$p$i\"", true, 0},
        {"import", "printf '%s%s\\tv\\n' \"$p\" \"$i\" | \"$X\" import f.xdb", false, 400},
    };
    for (const Case &c : cases) {
        unlink(P("f.xdb").c_str());
        if (c.seeded) {
            ASSERT_EQ(Run({"import", "f.xdb"}, seed).status, 0) << c.name;
        }
        const std::string script = std::string("X=") + XDB_PATH +
                                   "; loop() { p=$1; for i in $(seq 200); do " + c.change +
                                   " || echo \"failed: $p$i\"; done; }; loop a & loop b & wait";
        ChildResult r = Shell(script, dir_);
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_FALSE(Contains(r.out, "failed")) << c.name << ": " << r.out;
        EXPECT_EQ(Records("f.xdb").size(), c.after) << c.name;
        EXPECT_FALSE(Exists(P("f.xdb_new"))) << c.name;
    }
}

TEST_F(Xdb, AWriterThatCannotTakeTheLockFailsAndChangesNothing) {
    ASSERT_EQ(Run({"put", "f.xdb", "k", "v"}).status, 0);
    const std::string before = ReadFile(P("f.xdb"));
    // Another writer holds the lock (its temporary copy) and hangs.
    int fd = open(P("f.xdb_new").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    Result r = Run({"put", "f.xdb", "new", "v"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "xdb: f.xdb: cannot take the writers' lock; nothing changed"))
        << r.err;
    EXPECT_EQ(ReadFile(P("f.xdb")), before);
    close(fd);
    // Its writer gone, the next one takes the leftover for what it is.
    EXPECT_EQ(Run({"put", "f.xdb", "new", "v"}).status, 0);
    EXPECT_EQ(Run({"list", "f.xdb"}).out, "k\nnew\n");
    EXPECT_FALSE(Exists(P("f.xdb_new")));
}

TEST_F(Xdb, AFileWithADamagedRecordIsNeverRewritten) {
    // Five records, one damaged length byte in the second: no command writes
    // the file with only what lies before it; check names the offset, and
    // convert into another file saves the records before the damage.
    for (const char *k : {"a", "b", "c", "d", "e"})
        ASSERT_EQ(Run({"put", "f.xdb", k, std::string("val") + k}).status, 0);
    std::string damaged = ReadFile(P("f.xdb"));
    const size_t second = 16 + dbmtest::TaggedRecord("a", "vala").size();
    damaged[second + 1] = 0x30; // the low byte of its big-endian length
    WriteFile(P("f.xdb"), damaged);
    const std::string refused =
        "xdb: f.xdb: damaged record at offset " + std::to_string(second) +
        "; it is left as it is (convert --to plain|tagged FILE OUT saves the records before it)\n";
    struct Case {
        std::vector<std::string> args;
        std::string input;
    };
    const std::vector<Case> cases = {
        {{"put", "f.xdb", "k", "v"}, ""},
        {{"put", "f.xdb", "a", "v"}, ""},
        {{"delete", "f.xdb", "a"}, ""},
        {{"delete", "--prefix", "f.xdb", "a"}, ""},
        {{"copy", "f.xdb", "a", "z"}, ""},
        {{"import", "f.xdb"}, "k\tv\n"},
        {{"convert", "--to", "plain", "f.xdb"}, ""},
    };
    for (const Case &c : cases) {
        Result r = Run(c.args, c.input);
        EXPECT_EQ(r.status, 1) << c.args[0];
        EXPECT_EQ(r.err, refused) << c.args[0];
        EXPECT_EQ(ReadFile(P("f.xdb")), damaged) << c.args[0];
        EXPECT_EQ(DirEntries(dir_), std::vector<std::string>{"f.xdb"}) << c.args[0];
    }
    Result check = Run({"check", "f.xdb"});
    EXPECT_EQ(check.status, 1);
    EXPECT_TRUE(Contains(check.out, "f.xdb: damaged record at offset " + std::to_string(second) +
                                        ": it will not be rewritten\n"))
        << check.out;
    ASSERT_EQ(Run({"convert", "--to", "tagged", "f.xdb", "saved.xdb"}).status, 0);
    EXPECT_EQ(Run({"list", "saved.xdb"}).out, "a\n");
}
