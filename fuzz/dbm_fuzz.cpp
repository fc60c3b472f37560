// Fuzz target: the plain record readers on arbitrary files: key list, link
// list, lookups of every listed key, the walk, and a rewrite of what was read.
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "Dbm.h"
#include "FuzzSupport.h"
#include "MemMgr.h"
#include "utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::UseScratchAsToolRoot();
    fuzz::WriteScratchFile("db/fz.xdb", data, size);

    static std::vector<char> dst(70000);
    for (const std::string &key : fuzz::TakeKeyList(DbmGetRecordList("fz", "\x1f", "\x1f"), 8)) {
        int len = DbmGetRecord("fz", key.c_str(), dst.data());
        fuzz::Expect(len >= 0 && len <= DBM_MAX_PLAIN_BODY, "DbmGetRecord length out of range");
        fuzz::Expect(DbmGetRecordSize("fz", key.c_str()) == len, "size and record disagree");
    }
    if (DbmLink *links = DbmGetDbLinkList("fz", "")) DbmFreeDbLinkList(links);
    Ent2Get = 0;
    for (size_t n = 0; DbmGetNextRecord("fz", dst.data()) > 0; ++n)
        fuzz::Expect(n <= size, "the walk does not end");

    // A rewrite of what was read either is refused or leaves the new record
    // readable.
    if (DbmPutRecord("fz", "fuzz-key", "value", 5)) {
        int len = DbmGetRecord("fz", "fuzz-key", dst.data());
        fuzz::Expect(len == 5 && memcmp(dst.data(), "value", 5) == 0, "a stored record is lost");
    }
    return 0;
}
