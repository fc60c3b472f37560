// DbmTestUtil.h - helpers shared by the record database tests: a private
// directory per test that is also the tool root, and record builders that
// lay out both file formats by hand.
#pragma once

#include "Dbm.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace dbmtest {

using namespace testsupport;

// A run stored as the files keep it: e[i] = p[i] ^ p[i+1].
inline std::string Scramble(std::string p) {
    for (size_t i = 0; i + 1 < p.size(); ++i)
        p[i] = static_cast<char>(p[i] ^ p[i + 1]);
    return p;
}

inline std::string Le16(int v) {
    return std::string{static_cast<char>(v & 0xff), static_cast<char>(v >> 8)};
}
inline std::string Be16(int v) {
    return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xff)};
}

// One plain-format record, exactly as the plain layer writes it.
inline std::string PlainRecord(const std::string &key, const std::string &data) {
    int k = static_cast<int>(key.size()) + 1;
    std::string body = Le16(k) + key + std::string(1, '\0') + data;
    return Le16(static_cast<int>(body.size())) + Scramble(body);
}

// One tagged-format record (without the header).
inline std::string TaggedRecord(const std::string &key, const std::string &data) {
    int k = static_cast<int>(key.size()) + 1;
    int len = k + static_cast<int>(data.size()) + 2;
    return Be16(len) + Be16(k) + Scramble(key + std::string(1, '\0')) + Scramble(data);
}

inline std::string TaggedHeader(int count) {
    std::string h = "TXDBAA" + std::to_string(count);
    h.push_back('\0');
    h.resize(16, 'x');
    return h;
}

// Records as (key, data) pairs, in file or image order.
using Records = std::vector<std::pair<std::string, std::string>>;

// The records of a link list from either layer; the list is freed.
inline Records LinkRecords(DbmLink *list) {
    Records out;
    for (DbmLink *l = list; l; l = l->pNext)
        out.emplace_back(l->pKey, std::string(l->pData, l->DataLen));
    DbmFreeDbLinkList(list);
    return out;
}

// Every record of a handle's image, as the walk hands them out.
inline Records WalkHandle(DbT *db) {
    return LinkRecords(DbmTGetDbLinkList(db, ""));
}

// Each test runs in a fresh directory that is also the tool root and the
// working directory; full-path mode is off at the start.
class DbmDir : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(tmp_.path.empty());
        dir_ = tmp_.path;
        ASSERT_EQ(getcwd(oldCwd_, sizeof oldCwd_), oldCwd_);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
        root_ = dir_;
        pToolPath = root_.data();
        DbmV4DriverPathHandling = 0;
        mkdir((dir_ + "/db").c_str(), 0777);
    }
    void TearDown() override {
        DbmV4DriverPathHandling = 0;
        pToolPath = nullptr;
        if (chdir(oldCwd_) != 0) ADD_FAILURE() << "cannot return to " << oldCwd_;
    }
    // The file of database name in normal mode.
    std::string DbFile(const std::string &name) const { return dir_ + "/db/" + name + ".xdb"; }
    // A path in the test directory, for full-path mode.
    std::string Path(const std::string &name) const { return dir_ + "/" + name; }

    TempDir tmp_{"dbm_test"};
    std::string dir_, root_;
    char oldCwd_[4096];
};

} // namespace dbmtest
