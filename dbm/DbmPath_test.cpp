// DbmPath_test.cpp - stores opened by path, whatever the process-wide
// full-path mode does meanwhile, the default tool root, and the install
// helper that writes the installed tool root into the library.
#include "Dbm.h"
#include "DbmPriv.h"
#include "DbmTestUtil.h"
#include "MemMgr.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>

using namespace dbmtest;

namespace {

using DbmPath = DbmDir;

// What other code does to the full-path mode between the open and the
// change: each must leave a handle opened by path on its own file.
enum class Meanwhile {
    Nothing,
    ModeOnAtOpen,      // the mode is on while the handle opens, off afterwards
    OtherHandleClosed, // a handle opened by name is closed (which turns the mode off)
    ModeOnAtChange,    // the mode comes on after the open
};

TEST_F(DbmPath, AHandleOpenedByPathReadsAndWritesItsOwnFile) {
    struct Row {
        const char *name;
        const char *path; // relative to the test directory (the working directory)
        bool absolute;    // given as an absolute path
        Meanwhile meanwhile;
    } rows[] = {
        {"absolute path", "notes.xdb", true, Meanwhile::Nothing},
        {"relative path", "notes.xdb", false, Meanwhile::Nothing},
        {"no .xdb is added", "notes", true, Meanwhile::Nothing},
        {"mode on at the open", "a.xdb", true, Meanwhile::ModeOnAtOpen},
        {"another handle closed", "b.xdb", true, Meanwhile::OtherHandleClosed},
        {"mode on at the change", "c.xdb", false, Meanwhile::ModeOnAtChange},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        std::filesystem::remove_all(dir_ + "/db");
        std::filesystem::remove(dir_ + "/" + r.path);
        std::string path = r.absolute ? dir_ + "/" + r.path : r.path;
        DbmV4DriverPathHandling = r.meanwhile == Meanwhile::ModeOnAtOpen;
        DbT *db = DbTOpenPath(path.c_str(), 0);
        ASSERT_NE(db, nullptr);
        DbmV4DriverPathHandling = 0;
        if (r.meanwhile == Meanwhile::OtherHandleClosed) DbTClose(DbTOpen("Catalog", 0));
        if (r.meanwhile == Meanwhile::ModeOnAtChange) DbmSetV4DriverPathHandling();
        EXPECT_EQ(DbmTPutRecord(db, "printer1", "room 4", 7), 1);
        DbTClose(db);
        DbmV4DriverPathHandling = 0;

        // The record is in the file at the path, and nothing went to the
        // tool root's databases.
        EXPECT_TRUE(std::filesystem::exists(dir_ + "/" + r.path));
        EXPECT_FALSE(std::filesystem::exists(dir_ + "/db"));
        EXPECT_FALSE(std::filesystem::exists(dir_ + "/" + r.path + "_new"));
        DbT *again = DbTOpenPath(path.c_str(), 0);
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(WalkHandle(again), (Records{{"printer1", std::string("room 4", 7)}}));
        DbTClose(again);
    }
}

TEST_F(DbmPath, AStoreOpenedByNameBesideItKeepsToTheToolRoot) {
    DbT *notes = DbTOpenPath((dir_ + "/notes.xdb").c_str(), 0);
    DbT *byName = DbTOpen("Catalog", 0);
    ASSERT_NE(notes, nullptr);
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(DbmTPutRecord(byName, "25_1", "x", 2), 1);
    EXPECT_EQ(DbmTPutRecord(notes, "k", "y", 2), 1);
    EXPECT_TRUE(std::filesystem::exists(DbFile("Catalog")));
    EXPECT_TRUE(std::filesystem::exists(dir_ + "/notes.xdb"));
    DbTClose(byName);
    DbTClose(notes);
}

TEST_F(DbmPath, NoPathNoHandle) {
    EXPECT_EQ(DbTOpenPath(nullptr, 0), nullptr);
    EXPECT_EQ(DbTOpenPath("", 0), nullptr);
}

// The default tool root, with the environment and the build's root varied.
// The installed package's root is only looked at: a test does not make it.
TEST_F(DbmPath, DefaultToolRootTakesTheEnvironmentThenTheInstalledThenTheBuildRoot) {
    std::string withDb = dir_ + "/built", without = dir_ + "/empty";
    std::filesystem::create_directories(withDb + "/db");
    std::filesystem::create_directories(without);
    std::string installed = DbmInstalledToolRoot();
    ASSERT_FALSE(installed.empty());
    if (std::filesystem::is_directory(installed + "/db"))
        GTEST_SKIP() << "a package is installed at " << installed;
    struct Row {
        const char *name;
        const char *env; // DORNA_TOOL_ROOT; null: unset
        std::string build;
        std::string expected;
    } rows[] = {
        {"the environment first", "/somewhere/else", withDb, "/somewhere/else"},
        {"an empty environment counts as unset", "", withDb, withDb},
        {"the build's root when it holds db", nullptr, withDb, withDb},
        {"the installed root when nothing holds db", nullptr, without, installed},
    };
    const char *saved = getenv("DORNA_TOOL_ROOT");
    std::string keep = saved ? saved : "";
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        if (r.env)
            setenv("DORNA_TOOL_ROOT", r.env, 1);
        else
            unsetenv("DORNA_TOOL_ROOT");
        char *root = DbmDefaultToolRoot(r.build.c_str());
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(std::string(root), r.expected);
        PutMem(root);
    }
    if (saved)
        setenv("DORNA_TOOL_ROOT", keep.c_str(), 1);
    else
        unsetenv("DORNA_TOOL_ROOT");
}

} // namespace

namespace {

// dbm_settoolroot on files holding areas as the library lays them out: the
// mark, a path, NULs up to the area's end.
std::string Area(const std::string &path) {
    std::string area = std::string(DBM_ROOT_MARK) + path;
    area.resize(static_cast<size_t>(DBM_ROOT_AREA_SIZE), '\0');
    return area;
}

TEST(SetToolRoot, WritesTheRootIntoEveryWholeAreaAndNothingElse) {
    const std::string before = "\x7f"
                               "ELF...",
                      after = "...end";
    const std::string stray = std::string(DBM_ROOT_MARK) + "not a path";
    struct Row {
        const char *name;
        std::string file;     // the file before
        std::string root;     // the root given
        int status;           // of the run
        std::string expected; // the file after
    } rows[] = {
        {"one area", before + Area("/usr/local/share/dorna") + after, "/opt/p/share/dorna", 0,
         before + Area("/opt/p/share/dorna") + after},
        {"a shorter root clears the rest", Area("/a/very/long/configured/prefix/share/dorna"),
         "/p/share/dorna", 0, Area("/p/share/dorna")},
        {"two areas", Area("/x") + after + Area("/y"), "/z", 0, Area("/z") + after + Area("/z")},
        {"a stray mark is left alone", before + stray + after, "/z", 0, before + stray + after},
        {"an area cut short is left alone", Area("/x").substr(0, 100), "/z", 0,
         Area("/x").substr(0, 100)},
        {"a relative root is refused", Area("/x"), "share/dorna", 1, Area("/x")},
        {"a root longer than the area is refused", Area("/x"), "/" + std::string(5000, 'r'), 1,
         Area("/x")},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        testsupport::TempDir dir("settoolroot");
        std::string file = dir / "libdorna_dbm.a";
        ASSERT_TRUE(testsupport::WriteFile(file, r.file));
        auto run = testsupport::RunProgram({DBM_SETTOOLROOT, r.root, file});
        EXPECT_EQ(run.status, r.status) << run.out;
        EXPECT_EQ(testsupport::ReadFile(file), r.expected);
    }
}

} // namespace
