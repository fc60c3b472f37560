// Language choice and catalog lookups.
//
// The alias table is kept in a normalised form: one line per language, "code
// = alias alias ... \n", every word followed by one blank, the line's last
// word by " \n"; a line "Default code \n" names the language of an unknown
// LANG. trans.conf is normalised by ParseTransFile; the English core database
// holds the same form under 999_1 for hosts without a trans.conf.
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

char *pNLSLang = nullptr;
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

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

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

// Appends the normalised form of the words of one trans.conf text.
//
// A line of the table ends at the line feed that ends the file's line, also
// when a comment or a carriage return stands before it: a file written with
// CR LF line ends, or with a comment after the aliases, must not run two
// languages into one line (the lookup takes the line's first word as the
// code).
std::string NormaliseTrans(const char *text) {
    std::string out;
    bool afterDefault = false; // the previous word was "Default"
    bool lineHasWord = false;  // a word has been written since the last " \n"
    const char *p = text;
    // The Default line ends at its line end too: a bare "Default" does not
    // reach over to the next line's first word.
    auto endLine = [&]() {
        if (lineHasWord && !out.empty() && out.back() == ' ') out += '\n';
        lineHasWord = false;
        afterDefault = false;
    };
    while (*p) {
        char c = *p;
        if (c == '\n') {
            endLine();
            ++p;
        } else if (IsBlank(c)) {
            ++p;
        } else if (c == '#') {
            while (*p && *p != '\r' && *p != '\n')
                ++p;
        } else {
            const char *start = p;
            if (c == '=') {
                ++p;
            } else {
                while (*p && !IsBlank(*p))
                    ++p;
            }
            out.append(start, static_cast<size_t>(p - start));
            out += ' ';
            lineHasWord = true;
            if (afterDefault) {
                out += '\n';
                lineHasWord = false;
            }
            afterDefault = (p - start == 7 && memcmp(start, "Default", 7) == 0);
        }
    }
    return out;
}

// The first word at p (delimiters blank, tab, CR, LF and, with stopAtEq, "=")
// as a new string; null when there is none.
char *WordAt(const char *p, bool stopAtEq) {
    size_t n = 0;
    while (p[n] && !IsBlank(p[n]) && !(stopAtEq && p[n] == '='))
        ++n;
    if (n == 0) return nullptr;
    return SaveStr("%.*s", static_cast<int>(n), p);
}

// The code of the Default line of table, or null.
char *DefaultOf(const char *table) {
    const char *d = strstr(table, "Default");
    if (d == nullptr) return nullptr;
    d += 7;
    if (*d == '\n') return nullptr;
    while (*d && *d != ' ')
        ++d;
    while (*d == ' ' || *d == '\t')
        ++d;
    if (*d == '\n' || *d == '\r') return nullptr;
    return WordAt(d, false);
}

// The code of the language whose aliases hold word (" alias " with its
// blanks): the first word of the line of the nearest "=" before the match, so
// that a line without "=" continues the alias list of the line above. A match
// on the Default line names no language there; the search goes on behind it.
char *CodeFor(const char *table, const char *word) {
    for (const char *hit = strstr(table, word); hit != nullptr; hit = strstr(hit + 1, word)) {
        const char *line = hit;
        while (line > table && line[-1] != '\n')
            --line;
        if (strncmp(line, "Default ", 8) == 0) continue;
        const char *eq = hit;
        while (eq > table && *eq != '=')
            --eq;
        if (*eq != '=') return SaveStr_(EnglishCode); // an alias before any language
        line = eq;
        while (line > table && line[-1] != '\n')
            --line;
        return WordAt(line, true);
    }
    return nullptr;
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
    size_t n = NlsCutLen(text, NLS_STR_SIZE - 1);
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

size_t NlsCutLen(const char *text, size_t max) {
    size_t n = strnlen(text, max + 1);
    if (n <= max) return n;
    // text[max] is the first byte left out; if it continues a UTF-8
    // character, leave out that character's first bytes too.
    n = max;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

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
    if (name == nullptr) return nullptr;
    char *content = GetSavedFileContent(pToolPath != nullptr ? pToolPath : ".", name);
    if (content == nullptr) return nullptr;
    std::string table = NormaliseTrans(content);
    PutMem(content);
    return SaveStr_(table.c_str());
}

char *GetDesiredNLSLang(void) {
    if (pNLSLang != nullptr) return pNLSLang;

    // " <LANG> " without the codeset: "de_DE.UTF-8" is looked for as
    // " de_DE ", so that only a whole alias matches.
    const char *lang = getenv("LANG");
    if (lang == nullptr) lang = "___LANG_NOT_SET___";
    std::string word = " ";
    word.append(lang, strcspn(lang, "."));
    word += ' ';

    const char *table = TransTable();
    char *code = nullptr;
    if (table != nullptr) {
        code = CodeFor(table, word.c_str());
        if (code == nullptr) code = DefaultOf(table);
    }
    pNLSLang = code != nullptr ? code : SaveStr_(EnglishCode);
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
