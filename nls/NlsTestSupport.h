// Helpers of the catalog's tests: a scratch tool root with a trans.conf and
// language databases filled from tables of key and text.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "Dbm.h"
#include "NlsUtils.h"
#include "TestSupport.h"

namespace nls_testing {

using testsupport::ChildResult;
using testsupport::RunChild;
using testsupport::TempDir;
using testsupport::WriteFile;

using Records = std::vector<std::pair<std::string, std::string>>;

// A tool root in a scratch directory; pToolPath points to it while it lives.
struct ToolRoot {
    TempDir dir;
    char *savedToolPath;

    ToolRoot() : savedToolPath(pToolPath) { pToolPath = dir.path.data(); }
    ~ToolRoot() { pToolPath = savedToolPath; }

    void TransConf(const std::string &text) const { WriteFile(dir.path + "/trans.conf", text); }

    // Writes db/<lang>/<name>.xdb (tagged) with the records; a text is
    // stored with its NUL unless raw is set.
    void Database(const std::string &lang, const std::string &name, const Records &records,
                  bool raw = false) const {
        std::filesystem::create_directories(dir.path + "/db/" + lang);
        DbT *db = DbTOpen((lang + "/" + name).c_str(), DBT_NOARCHIVE);
        DbTClear(db, DBT_TAGGED);
        for (const auto &[key, text] : records)
            DbmTPutRecord(db, key.c_str(), text.c_str(),
                          static_cast<int>(text.size() + (raw ? 0 : 1)));
        DbmTArchiveDb(db);
        DbTClose(db);
    }
};

// Opens a database of the scratch root as the host would: no refresh.
inline DbT *OpenDb(const std::string &lang, const std::string &name) {
    return DbTOpen((lang + "/" + name).c_str(), DBT_NOREFRESH);
}

} // namespace nls_testing
