// nls_mkcatalog - compiles the catalog sources into a tool root.
//
//   nls_mkcatalog ROOT SOURCES LANGUAGE...
//
// SOURCES holds trans.conf and one PO file per language (<language>.po; the
// English one, en_US.po, is the reference). For every LANGUAGE it writes
// ROOT/db/<language>/CoreString.xdb (tagged format) holding every key of the
// English catalog: the translation where there is a usable one, the English
// text otherwise, so that no language misses a key. A translation is not
// usable when it is empty, flagged fuzzy, or reads other printf arguments than
// the English text (it would crash the printf that formats it). Every database
// also gets 999_1, the normalised alias table, and ROOT/trans.conf is a copy
// of SOURCES/trans.conf.
//
// Warnings (unusable translations, keys unknown to English) go to standard
// error; a source that cannot be read or parsed, or a database that cannot be
// written, fails the run with status 1.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Dbm.h"
#include "MemMgr.h"
#include "NlsUtils.h"
#include "PoFile.h"

namespace {

namespace fs = std::filesystem;

const char *const USAGE = "usage: nls_mkcatalog ROOT SOURCES LANGUAGE...\n";

bool ReadFile(const fs::path &path, std::string &text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "nls_mkcatalog: cannot read %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

// The entries of a PO file by key, in file order. False after a message.
bool ReadCatalog(const fs::path &path, std::vector<PoEntry> &entries) {
    std::string text, err;
    if (!ReadFile(path, text)) return false;
    if (!PoParse(text.data(), text.size(), entries, err)) {
        fprintf(stderr, "nls_mkcatalog: %s: %s\n", path.c_str(), err.c_str());
        return false;
    }
    return true;
}

// Writes one language's database from the English entries and the
// language's own. False after a message.
bool WriteDatabase(const fs::path &file, const std::vector<PoEntry> &english,
                   const std::vector<PoEntry> &own, const char *table, const char *po) {
    std::map<std::string, const PoEntry *> byKey;
    for (const PoEntry &e : own)
        if (!e.Context.empty()) byKey[e.Context] = &e;
    std::map<std::string, bool> known;

    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    // The file is written from scratch: whatever stood there is replaced.
    DbT *db = DbTOpenPath(file.c_str(), DBT_NOARCHIVE | DBT_NOREFRESH);
    if (db == nullptr) {
        fprintf(stderr, "nls_mkcatalog: no memory for %s\n", file.c_str());
        return false;
    }
    DbTClear(db, DBT_TAGGED);
    bool ok = true;
    for (const PoEntry &en : english) {
        if (en.Context.empty()) continue; // the header
        known[en.Context] = true;
        const std::string *text = &en.Id;
        auto it = byKey.find(en.Context);
        if (it != byKey.end() && !it->second->Str.empty() && !it->second->Fuzzy) {
            const PoEntry &tr = *it->second;
            if (tr.Id != en.Id)
                fprintf(stderr, "nls_mkcatalog: %s:%d: %s: msgid differs from the English text\n",
                        po, tr.Line, en.Context.c_str());
            if (PoDirectives(tr.Str) == PoDirectives(en.Id))
                text = &tr.Str;
            else
                fprintf(stderr,
                        "nls_mkcatalog: %s:%d: %s: printf directives differ from the English text; "
                        "English used\n",
                        po, tr.Line, en.Context.c_str());
        }
        if (!DbmTPutRecord(db, en.Context.c_str(), text->c_str(),
                           static_cast<int>(text->size() + 1))) {
            fprintf(stderr, "nls_mkcatalog: %s: cannot store %s\n", file.c_str(),
                    en.Context.c_str());
            ok = false;
        }
    }
    for (const PoEntry &e : own)
        if (!e.Context.empty() && !known.count(e.Context))
            fprintf(stderr, "nls_mkcatalog: %s:%d: %s: no such key in the English catalog\n", po,
                    e.Line, e.Context.c_str());
    if (ok && !DbmTPutRecord(db, "999_1", table, static_cast<int>(strlen(table) + 1))) {
        fprintf(stderr, "nls_mkcatalog: %s: cannot store 999_1\n", file.c_str());
        ok = false;
    }
    if (ok && !DbmTArchiveDb(db)) {
        fprintf(stderr, "nls_mkcatalog: cannot write %s\n", file.c_str());
        ok = false;
    }
    DbTClose(db);
    return ok;
}

} // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        fputs(USAGE, stdout);
        return 0;
    }
    if (argc < 4) {
        fputs(USAGE, stderr);
        return 1;
    }
    const fs::path root = argv[1], sources = argv[2];

    // The alias table, normalised the way the catalog reads trans.conf.
    std::string conf;
    if (!ReadFile(sources / "trans.conf", conf)) return 1;
    std::string sourcesDir = sources.string();
    pToolPath = sourcesDir.data();
    char *table = ParseTransFile("trans.conf");
    if (table == nullptr) {
        fprintf(stderr, "nls_mkcatalog: %s/trans.conf holds no aliases\n", sources.c_str());
        return 1;
    }

    std::vector<PoEntry> english;
    if (!ReadCatalog(sources / "en_US.po", english)) return 1;

    int status = 0;
    for (int i = 3; i < argc; ++i) {
        std::vector<PoEntry> own;
        fs::path po = sources / (std::string(argv[i]) + ".po");
        if (!ReadCatalog(po, own)) {
            status = 1;
            continue;
        }
        fs::path file = root / "db" / argv[i] / "CoreString.xdb";
        if (!WriteDatabase(file, english, own, table, po.c_str())) status = 1;
    }
    PutMem(table);

    std::error_code ec;
    fs::create_directories(root, ec);
    fs::path tmp = root / "trans.conf.new";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << conf;
        out.flush();
        if (!out) {
            fprintf(stderr, "nls_mkcatalog: cannot write %s\n", tmp.c_str());
            return 1;
        }
    }
    fs::rename(tmp, root / "trans.conf", ec);
    if (ec) {
        fprintf(stderr, "nls_mkcatalog: cannot write %s/trans.conf: %s\n", root.c_str(),
                ec.message().c_str());
        return 1;
    }
    return status;
}
