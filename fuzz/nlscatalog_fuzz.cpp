// Fuzz target: catalog lookups on an arbitrary CoreString database: the
// lookup modes with and without a buffer, the menu conversions, composed
// strings and redirects. The input is the database file (the help database
// is the same file).
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "MemMgr.h"
#include "NlsUtils.h"
#include "utils.h"

namespace {

// The key text of a missing numbered entry, or the entry's text.
void CheckFetched(const char *r, const char *what) {
    fuzz::Expect(r != nullptr, what);
    fuzz::Expect(strlen(r) <= 65536, "a fetched text longer than any record");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = false;
    static char lang[] = "en_US";
    if (!ready) {
        std::string db = fuzz::ScratchDir() + "/db";
        mkdir(db.c_str(), 0700);
        mkdir((db + "/en_US").c_str(), 0700);
        pToolPath = SaveStr_(fuzz::ScratchDir().c_str());
        pNLSLang = lang;
        ready = true;
    }
    fuzz::WriteScratchFile("db/en_US/CoreString.xdb", data, size);
    DbT *db = NlsOpenDB("CoreString", DBT_NOREFRESH);
    if (db == nullptr) return 0; // empty file: the English database is missing
    pDrvCoreDB = db;
    pPrtHelpDB = db;

    static char out[NLS_STR_SIZE];
    const int numbers[][2] = {{25, 1011}, {25, 201}, {20, 150}, {999, 1}, {30, 22}};
    for (const auto &n : numbers) {
        char *r = NlsFetchString(db, out, 0, n[0], n[1]);
        CheckFetched(r, "mode 0 into a buffer");
        fuzz::Expect(strlen(out) < NLS_STR_SIZE, "the buffer overran");
        // Found, the other lookups hand out new copies; missing, the key text.
        const bool found = r == out;
        r = NlsFetchString(db, nullptr, 0, n[0], n[1]);
        CheckFetched(r, "mode 0");
        if (found) PutMem(r);
        r = NlsFetchString(db, nullptr, 3, n[0], n[1]);
        CheckFetched(r, "mode 3");
        if (found) PutMem(r);
        char key[32];
        snprintf(key, sizeof key, "%d_%d", n[0], n[1]);
        CheckFetched(NlsFetchString(db, out, 1, key), "mode 1");
    }

    TextMenuItem items[4] = {};
    NlsTtyMenuItemCvt(items, 201, 3);
    NlsTtyMenuItemStateCvt(items, 1000, 3);
    NlsTtyMenuItemPromptCvt(items, 1016, 3);
    for (TextMenuItem &i : items) {
        for (char *p : {i.pText, i.pStates, i.pPrompt}) {
            if (p == nullptr) continue;
            fuzz::Expect(strlen(p) <= 127, "a menu text longer than 127 characters");
            PutMem(p);
        }
    }

    static char composed[256];
    NlsGuiStrCvt("%s, %s and %% or %d: %s", 25, composed, sizeof composed);
    fuzz::Expect(strlen(composed) < sizeof composed, "a composed text overran");

    static char text[NLS_STR_SIZE];
    snprintf(text, sizeof text, "see $$25_1011.redirect");
    CheckForRedirect(text);
    fuzz::Expect(strlen(text) < NLS_STR_SIZE, "a redirect overran its text");

    pDrvCoreDB = pPrtHelpDB = nullptr;
    DbTClose(db);
    return 0;
}
