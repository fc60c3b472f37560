// Fuzz target: the tagged store on arbitrary files: open, key lists, link
// list, lookups of every listed key, and the write-back of what it read.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Dbm.h"
#include "FuzzSupport.h"
#include "MemMgr.h"
#include "utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::UseScratchAsToolRoot();
    fuzz::WriteScratchFile("db/ft.xdb", data, size);

    DbT *db = DbTOpen("ft", 0);
    if (!db) return 0;
    static std::vector<char> dst(70000);
    for (const std::string &key : fuzz::TakeKeyList(DbmTGetRecordList(db, "\x1f", "\x1f"), 16)) {
        int len = DbmTGetRecord(db, key.c_str(), dst.data());
        fuzz::Expect(len >= 0 && len <= DBM_MAX_TAGGED_BODY, "DbmTGetRecord length out of range");
        fuzz::Expect(DbmTGetRecordSize(db, key.c_str()) == len, "size and record disagree");
        char small[8];
        char *buf = small;
        int lenV = DbmTGetRecordV(db, key.c_str(), &buf, sizeof small);
        fuzz::Expect(lenV == len, "DbmTGetRecordV and DbmTGetRecord disagree");
        if (buf != small) PutMem(buf);
    }
    if (char *some = DbmTGetRecordListS(db, "a,b,25_", ",", "")) PutMem(some);
    if (DbmLink *links = DbmTGetDbLinkList(db, "_")) DbmFreeDbLinkList(links);
    // A lookup finds exactly what a walk shows: the first record of each key.
    DbmLink *all = DbmTGetDbLinkList(db, "");
    std::vector<std::string> seen;
    std::vector<int> seenLen;
    for (DbmLink *l = all; l && seen.size() < 64; l = l->pNext) {
        std::string key = l->pKey;
        if (key.empty() || std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
        seen.push_back(key);
        seenLen.push_back(l->DataLen);
        if (seen.size() <= 16)
            fuzz::Expect(DbmTGetRecordSize(db, key.c_str()) == l->DataLen,
                         "a listed record is not found as listed");
    }
    DbmFreeDbLinkList(all);
    // The first lookup on a fresh image scans the file's bytes and the second
    // indexes them, instead of walking them: each finds the same records as
    // the walk, and each cuts the image where the walk cut it.
    for (bool indexed : {false, true}) {
        DbT *fresh = DbTOpen("ft", DBT_NOREFRESH);
        if (!fresh) continue;
        if (indexed && !seen.empty())
            fuzz::Expect(DbmTGetRecordSize(fresh, seen[0].c_str()) == seenLen[0],
                         "a first lookup and the walk disagree");
        if (DbmTGetRecordSize(fresh, "fuzz-absent") == 0)
            fuzz::Expect(fresh->ImageSize == db->ImageSize && fresh->Count == db->Count,
                         "a lookup that misses cuts the image elsewhere than the walk");
        DbTClose(fresh);
    }
    if (!seen.empty()) {
        DbT *indexed = DbTOpen("ft", DBT_NOREFRESH);
        for (size_t i : {seen.size() - 1, size_t{0}, seen.size() / 2}) {
            DbT *fresh = DbTOpen("ft", DBT_NOREFRESH);
            fuzz::Expect(fresh && DbmTGetRecordSize(fresh, seen[i].c_str()) == seenLen[i],
                         "a first lookup and the walk disagree");
            DbTClose(fresh);
            fuzz::Expect(indexed && DbmTGetRecordSize(indexed, seen[i].c_str()) == seenLen[i],
                         "a lookup through the index and the walk disagree");
        }
        DbTClose(indexed);
    }

    // The write-back either is refused or keeps the new record readable, in
    // this handle and in a fresh one.
    if (DbmTPutRecord(db, "fuzz-key", "value", 5)) {
        fuzz::Expect(DbmTGetRecord(db, "fuzz-key", dst.data()) == 5,
                     "the image lost a stored record");
        DbT *again = DbTOpen("ft", 0);
        fuzz::Expect(again && DbmTGetRecord(again, "fuzz-key", dst.data()) == 5,
                     "the written file lost a stored record");
        DbTClose(again);
    }
    DbTClose(db);
    return 0;
}
