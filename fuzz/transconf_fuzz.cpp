// Fuzz target: the language choice on arbitrary trans.conf files. Input: the
// value of LANG, a NUL, then the file (no NUL: LANG is "de_DE.UTF-8").
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "MemMgr.h"
#include "NlsPriv.h"
#include "NlsUtils.h"
#include "utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = false;
    if (!ready) {
        pToolPath = SaveStr_(fuzz::ScratchDir().c_str());
        ready = true;
    }
    fuzz::Split in = fuzz::SplitAtNul(data, size, 256, "de_DE.UTF-8");
    fuzz::WriteScratchFile("trans.conf", reinterpret_cast<const uint8_t *>(in.rest.data()),
                           in.rest.size());

    // The normalised table: every line end follows a blank, no blank runs.
    char *table = ParseTransFile("trans.conf");
    if (table != nullptr) {
        for (const char *p = table; *p; ++p) {
            if (*p == '\n') fuzz::Expect(p > table && p[-1] == ' ', "line end without its blank");
            if (*p == ' ') fuzz::Expect(p[1] != ' ', "two blanks in a row");
        }
    }

    setenv("LANG", in.head.c_str(), 1);
    NlsForgetLanguage();
    const char *lang = GetDesiredNLSLang();
    fuzz::Expect(lang != nullptr && *lang != '\0', "no language chosen");
    // The language is English or a word of the table.
    if (strcmp(lang, "en_US") != 0) {
        fuzz::Expect(table != nullptr, "a language without a table");
        std::string word = lang;
        const char *hit = strstr(table, word.c_str());
        fuzz::Expect(hit != nullptr, "a language that is not in the table");
        fuzz::Expect(strpbrk(lang, " \t\r\n") == nullptr, "a language with blanks");
    }
    PutMem(table);
    return 0;
}
