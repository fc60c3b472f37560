// Token.cpp - the shared tokenizer, keyword-list lookups and the terminal line
// reader.
//
// The tokenizer is a cursor over a caller's text. A token is a run of
// characters between delimiters; runs of delimiters (and delimiters at the
// start) are skipped, so empty tokens never appear. A backslash escapes the
// character after it: the pair is never a delimiter. The copying tokenizers
// (GetToken, GetTokenD) translate the escape (\n, \r, \t, \<char>); the in-place
// one (GetTokenParse) leaves the pair in the text. A backslash that is the last
// character of the text has nothing to escape and is dropped.
//
// Line mode (input TOKEN_LINE_MODE): a token that is ended by a newline is
// refused. The caller reads the words of one line with TOKEN_LINE_MODE and
// learns from the null result that the line is over.

#include "utils.h"

#include "MemMgr.h"

#include <cstring>
#include <strings.h>

char *szTokenIn = nullptr;
char GetTokenBuf[TOKEN_BUF_SIZE] = {};
char chTokenDel = 0;

namespace {

struct TokenState {
    char *szIn = nullptr; // next character the shared tokenizer examines; null before any scan
};
TokenState g;

// Size of the probe ("%c%s%c") that FindToken and FindTokenC search for.
constexpr size_t PROBE_SIZE = 512;

bool IsLineMode(const char *in) {
    return in == TOKEN_LINE_MODE;
}

bool IsDelim(char c, const char *delims) {
    return c != '\0' && strchr(delims, c) != nullptr;
}

char Unescape(char c) {
    switch (c) {
    case 'n':
        return '\n';
    case 'r':
        return '\r';
    case 't':
        return '\t';
    default:
        return c;
    }
}

// The outcome of one copying scan.
enum class Scan {
    Token,   // a token (possibly empty at the end of the text) was taken
    Refused, // line mode: the token ended at a newline
};

// Copies the next token from *pos into out (at most cap - 1 characters; the
// rest of a longer token is skipped so that the scan stays in step). Advances
// *pos behind the delimiter that ended the token, sets chTokenDel.
Scan CopyToken(const char **pos, const char *delims, bool lineMode, char *out, size_t cap) {
    const char *p = *pos;
    size_t len = 0;  // characters of the token, stored or not
    size_t kept = 0; // characters stored in out
    for (;;) {
        char c = *p;
        if (c == '\0') break;
        if (c == '\\') {
            if (p[1] == '\0') { // lone backslash at the end: nothing to escape
                ++p;
                break;
            }
            if (kept + 1 < cap) out[kept++] = Unescape(p[1]);
            ++len;
            p += 2;
            continue;
        }
        if (IsDelim(c, delims)) {
            chTokenDel = c;
            ++p;
            if (len == 0) continue; // skip runs of delimiters
            if (lineMode && c == '\n') {
                out[kept] = '\0';
                *pos = p;
                return Scan::Refused;
            }
            break;
        }
        if (kept + 1 < cap) out[kept++] = c;
        ++len;
        ++p;
    }
    out[kept] = '\0';
    *pos = p;
    return Scan::Token;
}

} // namespace

char *Gets(char *buf, int size) {
    if (buf == nullptr || size < 1) return nullptr;
    memset(buf, 0, static_cast<size_t>(size)); // the whole buffer starts cleared
    int n = 0;
    while (n < size - 1) {
        int c = getchar();
        // End of input and the byte 0xFF both end reading.
        if (c == EOF || c == 0xFF) {
            buf[n] = '\0';
            return n > 0 ? buf : nullptr;
        }
        if (c == '\n') break;
        buf[n++] = static_cast<char>(c);
    }
    buf[n] = '\0';
    return buf;
}

void SetTokenBuf(const char *text) {
    g.szIn = const_cast<char *>(text);
    szTokenIn = g.szIn;
}

char *GetTokenBufInput(void) {
    return g.szIn;
}

char *GetToken(const char *in, const char *delims) {
    chTokenDel = 0;
    bool lineMode = IsLineMode(in);
    if (in != nullptr && !lineMode) g.szIn = const_cast<char *>(in);
    if (g.szIn == nullptr) {
        GetTokenBuf[0] = '\0';
        return nullptr;
    }
    // The scanned text may be GetTokenBuf itself (a token split further):
    // the copy never overtakes the reading, so nothing is cleared beforehand.
    const char *pos = g.szIn;
    Scan r = CopyToken(&pos, delims ? delims : "", lineMode, GetTokenBuf, sizeof GetTokenBuf);
    g.szIn = const_cast<char *>(pos);
    if (r == Scan::Refused) return nullptr;
    szTokenIn = g.szIn;
    return GetTokenBuf[0] != '\0' ? GetTokenBuf : nullptr;
}

char *GetTokenParse(char *in, const char *delims) {
    chTokenDel = 0;
    bool lineMode = IsLineMode(in);
    if (in != nullptr && !lineMode) g.szIn = in;
    if (g.szIn == nullptr) return nullptr;
    if (delims == nullptr) delims = "";
    char *p = g.szIn;
    char *start = p;
    for (;;) {
        char c = *p;
        if (c == '\0') break;
        if (c == '\\') {
            p += p[1] != '\0' ? 2 : 1; // the pair stays as it is
            continue;
        }
        if (IsDelim(c, delims)) {
            chTokenDel = c;
            *p++ = '\0';
            if (p - 1 == start) { // still empty: skip the delimiter
                start = p;
                continue;
            }
            if (lineMode && c == '\n') {
                g.szIn = p;
                return nullptr;
            }
            break;
        }
        ++p;
    }
    g.szIn = p;
    szTokenIn = p;
    return *start != '\0' ? start : nullptr;
}

char *GetTokenD(const char *in, const char *delims, char **cursor, char *out) {
    chTokenDel = 0;
    if (out == nullptr) return nullptr;
    out[0] = '\0';
    bool lineMode = IsLineMode(in);
    const char *pos = (in != nullptr && !lineMode) ? in : (cursor ? *cursor : nullptr);
    if (pos == nullptr) return nullptr;
    Scan r = CopyToken(&pos, delims ? delims : "", lineMode, out, TOKEN_BUF_SIZE);
    if (r == Scan::Refused) return nullptr; // the caller's cursor stays before the refused token
    if (cursor != nullptr) *cursor = const_cast<char *>(pos);
    return out[0] != '\0' ? out : nullptr;
}

int ParseStr(char *text, const char *delims, char **array, int size) {
    if (array != nullptr)
        for (int i = 0; i < size; ++i)
            array[i] = nullptr;
    if (text == nullptr || array == nullptr || size <= 0) return 0;
    if (delims == nullptr) delims = "";
    int n = 0;
    char *p = text;
    while (*p != '\0' && n < size) {
        while (IsDelim(*p, delims))
            ++p;
        if (*p == '\0') break;
        array[n++] = p;
        while (*p != '\0' && !IsDelim(*p, delims))
            ++p;
        if (*p != '\0') *p++ = '\0';
    }
    return n;
}

char *GetTokenN(const char *in, const char *delims, int n) {
    char *tok = GetToken(in, delims);
    for (int i = 1; i < n && tok != nullptr; ++i)
        tok = GetToken(nullptr, delims);
    return tok;
}

int GetTokenCount(const char *in, const char *delims) {
    char *savedIn = g.szIn;
    char *savedTokenIn = szTokenIn;
    char savedBuf[TOKEN_BUF_SIZE + 1];
    memcpy(savedBuf, GetTokenBuf, sizeof GetTokenBuf);

    int count = 0;
    if (in == TOKEN_LINE_MODE) in = nullptr; // counting does not refuse lines
    for (char *tok = GetToken(in, delims); tok != nullptr; tok = GetToken(nullptr, delims))
        ++count;

    g.szIn = savedIn;
    szTokenIn = savedTokenIn;
    memcpy(GetTokenBuf, savedBuf, sizeof GetTokenBuf);
    return count;
}

// Counts the delimiter characters of list from its start up to and including
// the one at match.
static int CountDelims(const char *list, const char *match, char delim) {
    int n = 0;
    for (const char *p = list; p <= match; ++p)
        if (*p == delim) ++n;
    return n;
}

// Builds the probe delim + word + delim; false when it does not fit.
static bool DelimitedWord(char (&probe)[PROBE_SIZE], char delim, const char *word) {
    return FormatBounded(probe, sizeof probe, "%c%s%c", delim, word, delim) > 0;
}

int FindToken(const char *word, const char *list) {
    if (word == nullptr || list == nullptr || list[0] == '\0') return 0;
    char delim = list[0];
    char probe[PROBE_SIZE];
    if (!DelimitedWord(probe, delim, word))
        return 0; // a word this long is no item of any keyword list we use
    const char *match = StrStr(list, probe);
    if (match == nullptr) {
        // The last item has no closing delimiter: compare it on its own.
        const char *last = strrchr(list, delim);
        if (strcmp(last + 1, word) == 0) match = last;
    }
    return match ? CountDelims(list, match, delim) : 0;
}

int FindTokenC(const char *word, const char *list) {
    if (word == nullptr || list == nullptr || list[0] == '\0') return 0;
    char delim = list[0];
    char probe[PROBE_SIZE];
    if (!DelimitedWord(probe, delim, word)) return 0;
    size_t wlen = strlen(word) + 1; // leading delimiter and the word
    int count = 0;
    for (const char *p = list; *p != '\0'; ++p) {
        if (*p != delim) continue;
        ++count;
        // Agreement over wlen characters guarantees p[wlen] is readable.
        if (strncasecmp(p, probe, wlen) == 0 && (p[wlen] == delim || p[wlen] == '\0')) return count;
    }
    return 0;
}

int FindTokenWithDelim(const char *list, const char *word, char delim) {
    if (list == nullptr || word == nullptr) return 0;
    if (delim != '\0' && list[0] == delim) ++list;
    // Items are compared where they stand (length and bytes), so no item
    // length is too long and nothing needs to be copied.
    size_t wlen = strlen(word);
    int item = 1;
    const char *p = list;
    for (;;) {
        const char *end = delim != '\0' ? strchr(p, delim) : nullptr;
        if (end == nullptr) return strcmp(p, word) == 0 ? item : 0;
        if (static_cast<size_t>(end - p) == wlen && memcmp(p, word, wlen) == 0) return item;
        p = end + 1;
        ++item;
    }
}

void SortTokens(char *list, char delim, int ignoreCase) {
    if (list == nullptr) return;
    size_t origLen = strlen(list);
    bool hadTrailingDelim = origLen > 0 && list[origLen - 1] == delim;
    char *copy = SaveStr_(list); // exact copy: the list may hold '%'
    char *out = list;
    char *c = copy;
    while (delim != '\0' && *out == delim)
        ++out;
    while (delim != '\0' && *c == delim)
        ++c;
    // Items start at c; each ends at its delimiter, the last maybe at the end.
    auto itemEnd = [delim](char *s) {
        while (*s != '\0' && *s != delim)
            ++s;
        return s;
    };
    char *o = out;
    while (*c != '\0') {
        char *best = c;
        size_t bestLen = 0;
        for (char *p = c; *p != '\0';) {
            char *e = itemEnd(p);
            size_t len = static_cast<size_t>(e - p) + (*e == delim && delim != '\0' ? 1 : 0);
            int cmp =
                p == best ? 0 : (ignoreCase ? strncasecmp(p, best, len) : strncmp(p, best, len));
            if (p == best || cmp < 0) {
                best = p;
                bestLen = len;
            }
            p = *e != '\0' ? e + 1 : e;
        }
        // The last item of a list without a closing delimiter goes out
        // without one: the sorted list is never longer than the original, so
        // it cannot run past the caller's buffer.
        size_t writeLen = bestLen;
        if (!hadTrailingDelim && strlen(c) == bestLen && best[bestLen - 1] == delim) --writeLen;
        memcpy(o, best, writeLen);
        o += writeLen;
        *o = '\0';
        memmove(best, best + bestLen, strlen(best + bestLen) + 1);
        if (*c != '\0' && o > out && o[-1] != delim && delim != '\0') {
            *o++ = delim;
            *o = '\0';
        }
    }
    PutMem(copy);
}
