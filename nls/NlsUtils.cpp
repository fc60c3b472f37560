// Language choice and catalog lookups.
//
// The alias table and its lookup are NlsLang.cpp's; here the table comes
// from trans.conf, or for hosts without one from record 999_1 of the English
// core database, which holds the same normalised form.
//
// Lookups copy a record's data (the text and its NUL) out of the store's
// in-memory image into StrBuf, and from there to where the caller wants it.
// Nothing is allocated for a lookup that brings its own buffer.
#include "NlsUtils.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "MemMgr.h"
#include "NlsPriv.h"
#include "utils.h"

DbT *pDrvCoreDB = nullptr;
DbT *pPrtHelpDB = nullptr;
char NlsBuf[NLS_BUF_SIZE];

namespace {

// Longest redirect name CheckForRedirect keeps, without its NUL.
constexpr size_t REDIRECT_NAME_MAX = 63;
// Room for "%d_%d" of any two ints and the NUL.
constexpr size_t KEY_SIZE = 32;

struct NlsState {
    char *pTransBuf = nullptr;          // normalised alias table, read once
    bool TransRead = false;             // trans.conf (or 999_1) has been looked for
    char StrBuf[NLS_STR_SIZE + 1];      // the last fetched text; one spare byte for a NUL
    char KeyBuf[KEY_SIZE];              // key text of the last numbered lookup
    char TmpKey[REDIRECT_NAME_MAX + 1]; // last redirect name
    char StrVal[32];                    // last NlsCalcStrVal result
};
NlsState S;

char ErrorText[] = "Error";
char EnglishCode[] = "en_US";

// Writes the decimal digits of v at p and returns the end (no NUL).
char *PutInt(char *p, int v) {
    char digits[12];
    int n = 0;
    // Work in unsigned so that INT_MIN has a magnitude.
    unsigned int u = v < 0 ? 0u - static_cast<unsigned int>(v) : static_cast<unsigned int>(v);
    do {
        digits[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (v < 0) *p++ = '-';
    while (n > 0)
        *p++ = digits[--n];
    return p;
}

// The alias table: trans.conf, else record 999_1 of the English core
// database (opened into pDrvCoreDB when no host did). Null when neither.
const char *TransTable(void) {
    if (S.TransRead) return S.pTransBuf;
    S.TransRead = true;
    S.pTransBuf = ParseTransFile("trans.conf");
    if (S.pTransBuf != nullptr) return S.pTransBuf;
    // The catalog never changes under a running program: no file checks.
    if (pDrvCoreDB == nullptr) pDrvCoreDB = DbTOpen("en_US/CoreString", DBT_NOREFRESH);
    if (pDrvCoreDB == nullptr) return nullptr;
    char *owned = nullptr;
    const char *text = NlsLookup(pDrvCoreDB, "999_1", &owned);
    if (text != nullptr) S.pTransBuf = owned != nullptr ? owned : SaveStr_(text);
    return S.pTransBuf;
}

// Copies text into out (a caller's buffer of NLS_STR_SIZE bytes), cut at a
// character boundary to fit, and terminates it.
void CopyOut(char *out, const char *text) {
    size_t n = Utf8CutLen(text, NLS_STR_SIZE - 1);
    memcpy(out, text, n);
    out[n] = '\0';
}

// A new block holding text (len bytes) and a NUL.
char *NewCopy(const char *text, size_t len) {
    // GetMem refuses a size of 0: an empty text still takes one byte.
    auto *copy = static_cast<char *>(GetMem(static_cast<long>(len > 0 ? len : 1)));
    if (copy == nullptr) return nullptr;
    memcpy(copy, text, len);
    copy[len] = '\0'; // GetMem gives len + 1 bytes
    return copy;
}

} // namespace

// ---------------------------------------------------------------------------
// Helpers shared with NlsMenu.cpp
// ---------------------------------------------------------------------------

void NlsForgetLanguage(void) {
    PutMem(pNLSLang);
    pNLSLang = nullptr;
    PutMem(S.pTransBuf);
    S.pTransBuf = nullptr;
    S.TransRead = false;
}

char *NlsFormatKey(int section, int number) {
    char *p = PutInt(S.KeyBuf, section);
    *p++ = '_';
    p = PutInt(p, number);
    *p = '\0';
    return S.KeyBuf;
}

const char *NlsLookup(DbT *db, const char *key, char **owned) {
    *owned = nullptr;
    if (db == nullptr || key == nullptr) return nullptr;
    char *buf = S.StrBuf;
    int n = DbmTGetRecordV(db, key, &buf, NLS_STR_SIZE);
    if (n <= 0) return nullptr;
    if (buf != S.StrBuf) {
        // Longer than StrBuf: the store gave a block of its own (n + 1 bytes,
        // zero-filled, so the text is terminated even without its NUL).
        *owned = buf;
        return buf;
    }
    S.StrBuf[n] = '\0'; // a record stored without its NUL still ends here
    return S.StrBuf;
}

// ---------------------------------------------------------------------------
// Public operations
// ---------------------------------------------------------------------------

char *ParseTransFile(const char *name) {
    return NlsReadTransFile(pToolPath, name);
}

char *NlsLangFor(const char *lang) {
    // Without its codeset: "de_DE.UTF-8" is looked for as "de_DE".
    if (lang == nullptr) lang = "___LANG_NOT_SET___";
    std::string word(lang, strcspn(lang, "."));

    const char *table = TransTable();
    char *code = nullptr;
    if (table != nullptr) {
        code = NlsAliasCode(table, word.c_str());
        if (code == nullptr) code = NlsDefaultCode(table);
    }
    return code != nullptr ? code : SaveStr_(EnglishCode);
}

char *GetDesiredNLSLang(void) {
    if (pNLSLang == nullptr) pNLSLang = NlsLangFor(getenv("LANG"));
    return pNLSLang;
}

DbT *NlsOpenDB(const char *name, uint32_t flags) {
    if (name == nullptr) return nullptr;
    const char *lang = GetDesiredNLSLang();
    // The store finds "<lang>/<name>" under "<pToolPath>/db".
    char *dbname = SaveStr("%s/%s", lang, name);
    // A catalog does not change under a running program: its image is loaded
    // once and lookups never look at the file again.
    DbT *db = DbTOpen(dbname, flags | DBT_NOREFRESH);
    PutMem(dbname);
    if (db != nullptr && db->DbType == DBT_EMPTY && strncmp(lang, "en_US", 5) == 0) {
        fprintf(stderr, "ERROR:  Could not open English database:  %s/db/%s/%s.xdb\n",
                pToolPath != nullptr ? pToolPath : ".", lang, name);
        DbTClose(db);
        return nullptr;
    }
    if (db != nullptr && db->DbType == DBT_EMPTY && strncmp(lang, "en_US", 5) != 0) {
        // A language listed in trans.conf but shipped without this catalog
        // reads the English one, as a translation without a key does.
        char *english = SaveStr("%s/%s", EnglishCode, name);
        DbT *en = DbTOpen(english, flags | DBT_NOREFRESH);
        PutMem(english);
        if (en != nullptr && en->DbType != DBT_EMPTY) {
            DbTClose(db);
            return en;
        }
        DbTClose(en);
    }
    return db;
}

char *NlsFetchString(DbT *db, char *out, int mode, ...) {
    va_list ap;
    va_start(ap, mode);
    const bool numbered = mode == 0 || mode == 3;
    char *key;
    int number = 1;
    if (numbered) {
        int section = va_arg(ap, int);
        number = va_arg(ap, int);
        key = NlsFormatKey(section, number);
    } else {
        key = va_arg(ap, char *);
    }
    va_end(ap);

    if (key == nullptr || (db == nullptr && (!numbered || number == 0))) return ErrorText;

    char *owned = nullptr;
    const char *text = NlsLookup(db, key, &owned);
    if (text == nullptr) {
        if (out != nullptr && mode != 3) CopyOut(out, key);
        return key;
    }
    if (out != nullptr && mode != 3) {
        CopyOut(out, text);
        PutMem(owned);
        return out;
    }
    // Without out every mode hands out the whole text in a block of its own.
    if (owned != nullptr) return owned;
    return NewCopy(text, strlen(text));
}

char *NlsFindText(DbT *db, int section, int number) {
    char *owned = nullptr;
    const char *text = NlsLookup(db, NlsFormatKey(section, number), &owned);
    if (text == nullptr || owned != nullptr) return owned;
    return NewCopy(text, strlen(text));
}

char *NlsTextOr(DbT *db, int section, int number, const char *english) {
    char *text = NlsFindText(db, section, number);
    return text != nullptr ? text : SaveStr_(english != nullptr ? english : "");
}

char *FindRedirect(char *text) {
    if (text == nullptr) return nullptr;
    char *mark = strstr(text, "$$");
    if (mark == nullptr) return nullptr;
    char *dot = strchr(mark + 2, '.');
    if (dot == nullptr || strncasecmp(dot, ".redirect", 9) != 0) return nullptr;
    *dot = '\0';
    return mark + 2;
}

char *CheckForRedirect(char *text) {
    const char *name = FindRedirect(text);
    if (name == nullptr) return nullptr;
    size_t n = strnlen(name, REDIRECT_NAME_MAX);
    memcpy(S.TmpKey, name, n);
    S.TmpKey[n] = '\0';
    NlsFetchString(pPrtHelpDB, text, 1, S.TmpKey);
    return S.TmpKey;
}

char *NlsCalcStrVal(const char *text) {
    // Unsigned arithmetic wraps like 32-bit two's complement without
    // overflowing.
    uint32_t sum = 0, weighted = 0;
    if (text != nullptr) {
        uint32_t i = 1;
        for (const char *p = text; *p; ++p, ++i) {
            auto c = static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p)));
            sum += c;
            weighted += i * i * c;
        }
    }
    snprintf(S.StrVal, sizeof S.StrVal, "%08X%08X", weighted, sum);
    return S.StrVal;
}
