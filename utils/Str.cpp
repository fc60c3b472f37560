// Str.cpp - the string store, path splitters, searches and small conversions.
//
// Stored strings come from the memory manager, exactly length + 1 bytes, and
// belong to the caller. Formatting is always length-checked: a result larger
// than the scratch area is formatted again straight into a block of its exact
// size, so no text is ever cut or written past an area.
//
// Each path splitter owns one static result buffer. A path longer than that
// buffer is cut at the buffer's limit; the splitters pick their piece from the
// whole path first, so only that piece is cut.

#include "utils.h"

#include "MemMgr.h"

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstring>

namespace {

constexpr size_t STRIP_SIZE = 128;    // StripPath, StripExt, StripPathExt, StripPathName
constexpr size_t STRIP_FN_SIZE = 256; // StripFn
constexpr size_t SAVESTR_SCRATCH = 65536;
constexpr size_t SAVESTR_STACK = 512; // SaveStr formats into this much stack first

struct StrState {
    char stripPath[STRIP_SIZE];           // result of StripPath
    char stripFn[STRIP_FN_SIZE];          // result of StripFn
    char stripExt[STRIP_SIZE];            // result of StripExt
    char stripPathExt[STRIP_SIZE];        // result of StripPathExt
    char stripPathName[STRIP_SIZE];       // result of StripPathName
    char saveStrScratch[SAVESTR_SCRATCH]; // formatting area of SaveStr__
};
StrState g;

[[noreturn]] void OutOfMemory() {
    SysError("Unable to allocate memory");
    __builtin_unreachable();
}

// A block for a text of len characters and its terminator.
char *NewText(size_t len) {
    if (len >= static_cast<size_t>(LONG_MAX) - 1) OutOfMemory();
    char *p = static_cast<char *>(GetMem(static_cast<long>(len) + 1));
    if (p == nullptr) OutOfMemory();
    return p;
}

// A block holding a copy of the text [src, src + len) and a terminator. The
// block is not cleared before the copy lands in it.
char *CopyText(const char *src, size_t len) {
    if (len >= static_cast<size_t>(LONG_MAX) - 1) OutOfMemory();
    long size = static_cast<long>(len) + 1;
    char *p = static_cast<char *>(MemInternalGetCopy(size, src, static_cast<long>(len)));
    if (p == nullptr) OutOfMemory();
    p[len] = '\0';
    return p;
}

// Stores the text formatted from fmt/ap. The text is first formatted into
// scratch (cap bytes); when it does not fit there, it is formatted a second
// time (from `again`) directly into its own block.
[[gnu::format(printf, 1, 0)]] char *StoreFormatted(const char *fmt, va_list ap, va_list again,
                                                   char *scratch, size_t cap) {
    int n = vsnprintf(scratch, cap, fmt, ap);
    if (n < 0) // an unconvertible argument: store nothing rather than garbage
        n = 0, scratch[0] = '\0';
    size_t len = static_cast<size_t>(n);
    if (len < cap) return CopyText(scratch, len);
    char *text = NewText(len);
    vsnprintf(text, len + 1, fmt, again);
    return text;
}

// Copies at most cap - 1 characters of [src, src + len) into dst.
char *CopyCut(char *dst, size_t cap, const char *src, size_t len) {
    if (len > cap - 1) len = cap - 1;
    memcpy(dst, src, len);
    dst[len] = '\0';
    return dst;
}

// Finds the last component of path: sets *len and returns its start, or
// returns null when the path has none (empty, or only slashes).
const char *LastComponent(const char *path, size_t *len) {
    const char *end = path + strlen(path);
    while (end > path && end[-1] == '/')
        --end;
    if (end == path) return nullptr;
    const char *start = end;
    while (start > path && start[-1] != '/')
        --start;
    *len = static_cast<size_t>(end - start);
    return start;
}

// Length of name up to its first dot behind a non-dot character.
size_t NameWithoutExt(const char *name, size_t len) {
    size_t i = 0;
    while (i < len && name[i] == '.')
        ++i;
    while (i < len && name[i] != '.')
        ++i;
    return i;
}

} // namespace

char *SaveStr(const char *fmt, ...) {
    if (fmt == nullptr) return SaveStr_("");
    // A format without conversions is its own text, and "%s" stores a copy of
    // its argument ("(null)" for a null one, as the C library prints it).
    if (strchr(fmt, '%') == nullptr) return SaveStr_(fmt);
    va_list ap, again;
    va_start(ap, fmt);
    if (fmt[0] == '%' && fmt[1] == 's' && fmt[2] == '\0') {
        const char *text = va_arg(ap, const char *);
        va_end(ap);
        return SaveStr_(text != nullptr ? text : "(null)");
    }
    // Most texts fit the stack buffer; a longer one is formatted a second
    // time straight into its own block, so nothing is cut.
    char scratch[SAVESTR_STACK];
    va_copy(again, ap);
    char *text = StoreFormatted(fmt, ap, again, scratch, sizeof scratch);
    va_end(again);
    va_end(ap);
    return text;
}

char *SaveStr__(const char *fmt, ...) {
    if (fmt == nullptr) return nullptr;
    va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    char *text = StoreFormatted(fmt, ap, again, g.saveStrScratch, sizeof g.saveStrScratch);
    va_end(again);
    va_end(ap);
    return text;
}

char *SaveStr_(const char *text) {
    if (text == nullptr) text = "";
    return CopyText(text, strlen(text));
}

char *StripPath(const char *path) {
    if (path == nullptr) path = "";
    size_t len = 0;
    const char *last = LastComponent(path, &len);
    if (last == nullptr) // no component: the path comes back as it is
        return CopyCut(g.stripPath, sizeof g.stripPath, path, strlen(path));
    return CopyCut(g.stripPath, sizeof g.stripPath, last, len);
}

char *StripFn(const char *path) {
    if (path == nullptr || path[0] == '\0') return CopyCut(g.stripFn, sizeof g.stripFn, ".", 1);
    const char *slash = strrchr(path, '/');
    if (slash == nullptr) return CopyCut(g.stripFn, sizeof g.stripFn, ".", 1);
    if (slash == path) // the root itself
        return CopyCut(g.stripFn, sizeof g.stripFn, "/", 1);
    return CopyCut(g.stripFn, sizeof g.stripFn, path, static_cast<size_t>(slash - path));
}

char *StripExt(const char *name) {
    if (name == nullptr) name = "";
    size_t len = strlen(name);
    return CopyCut(g.stripExt, sizeof g.stripExt, name, NameWithoutExt(name, len));
}

char *StripPathExt(const char *path) {
    if (path == nullptr) return CopyCut(g.stripPathExt, sizeof g.stripPathExt, "", 0);
    size_t len = 0;
    const char *last = LastComponent(path, &len);
    if (last == nullptr) return nullptr;
    return CopyCut(g.stripPathExt, sizeof g.stripPathExt, last, NameWithoutExt(last, len));
}

char *StripPathName(const char *path) {
    char *buf = g.stripPathName;
    if (path == nullptr || FindToken(path, ";.;..;") != 0) {
        buf[0] = '\0';
        return buf;
    }
    CopyCut(buf, sizeof g.stripPathName, path, strlen(path));
    // Cut the first component at the slash behind it (leading slashes belong
    // to it).
    char *p = buf;
    while (*p == '/')
        ++p;
    p = strchr(p, '/');
    char *result = buf;
    if (p == nullptr) return result;
    *p++ = '\0';
    // Split the rest at dots as the in-place tokenizer would (runs of dots
    // are one cut, a backslash keeps the character after it, "\." is no
    // cut), but without touching its shared cursor; every piece whose second
    // character is not a slash becomes the result, the first that has one
    // ends the walk.
    for (;;) {
        while (*p == '.')
            *p++ = '\0';
        if (*p == '\0') break;
        char *piece = p;
        while (*p != '\0' && *p != '.')
            p += (*p == '\\' && p[1] != '\0') ? 2 : 1;
        if (*p == '.') *p++ = '\0';
        if (piece[1] == '/') break;
        result = piece;
    }
    return result;
}

char *SkipSpace(const char *text) {
    if (text == nullptr) return nullptr;
    while (*text != '\0' && isspace(static_cast<unsigned char>(*text)))
        ++text;
    return const_cast<char *>(text);
}

int StrLen(const char *text) {
    if (text == nullptr) return 0;
    size_t n = strlen(text);
    return n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

char *StrChr(const char *text, char ch) {
    if (text == nullptr) return nullptr;
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p == '\\') {
            if (p[1] == '\0') // a lone backslash at the end escapes nothing
                return nullptr;
            ++p; // the escaped character never matches
            continue;
        }
        if (*p == ch) return const_cast<char *>(p);
    }
    return nullptr;
}

char *StrNChr(const char *text, char ch, int n) {
    if (text == nullptr || n < 1) return nullptr;
    for (const char *p = text; *p != '\0'; ++p)
        if (*p == ch && --n == 0) return const_cast<char *>(p);
    return nullptr;
}

char *StrNStr(const char *text, const char *pattern, int n) {
    if (text == nullptr || text[0] == '\0') return nullptr;
    char *hit = StrStr(text, pattern);
    for (int found = 1; hit != nullptr && found < n; ++found)
        hit = StrStr(hit + 1, pattern);
    return hit;
}

// The shared search of StrStr and StrCaseStr.
template <typename Eq> static char *FindPattern(const char *text, const char *pattern, Eq eq) {
    if (text == nullptr || pattern == nullptr || pattern[0] == '\0') return nullptr;
    for (const char *t = text; *t != '\0'; ++t) {
        const char *a = t;
        const char *b = pattern;
        while (*a != '\0' && *b != '\0' && eq(*a, *b)) {
            ++a;
            ++b;
        }
        if (*b == '\0') return const_cast<char *>(t);
        if (*a == '\0') // the rest of the text is shorter than the pattern
            return nullptr;
    }
    return nullptr;
}

char *StrStr(const char *text, const char *pattern) {
    return FindPattern(text, pattern, [](char a, char b) { return a == b; });
}

char *StrCaseStr(const char *text, const char *pattern) {
    return FindPattern(text, pattern, [](char a, char b) {
        return toupper(static_cast<unsigned char>(a)) == toupper(static_cast<unsigned char>(b));
    });
}

char *StripAllBackslashes(char *text) {
    if (text == nullptr) return nullptr;
    char *o = text;
    for (const char *p = text; *p != '\0'; ++p)
        if (*p != '\\') *o++ = *p;
    *o = '\0';
    return text;
}

char *StripNonPrint(char *text, int keepLineEnds) {
    if (text == nullptr) return nullptr;
    char *o = text;
    for (const char *p = text; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (isprint(c) || (keepLineEnds && (c == '\n' || c == '\r'))) *o++ = *p;
    }
    *o = '\0';
    return text;
}

char *EscapeControls(char *out, size_t size, const char *text) {
    if (out == nullptr || size == 0) return out;
    size_t o = 0;
    auto put = [&](const char *bytes, size_t n) {
        if (o + n >= size) return false;
        memcpy(out + o, bytes, n);
        o += n;
        return true;
    };
    auto escape = [&](unsigned char c) {
        char e[5] = {'\\', static_cast<char>('0' + (c >> 6)),
                     static_cast<char>('0' + ((c >> 3) & 7)), static_cast<char>('0' + (c & 7)), 0};
        return put(e, 4);
    };
    const char *p = text != nullptr ? text : "";
    size_t left = strlen(p);
    while (left > 0) {
        bool ok;
        int control;
        size_t n = TerminalCharAt(p, left, &control);
        if (*p == '\\') {
            ok = put("\\\\", 2);
        } else if (control >= 0) {
            ok = true;
            for (size_t k = 0; ok && k < n; ++k)
                ok = escape(static_cast<unsigned char>(p[k]));
        } else {
            ok = put(p, n);
        }
        if (!ok) break;
        p += n;
        left -= n;
    }
    out[o] = '\0';
    return out;
}

void SetVarContent(void *dst, const void *src, int len, int reverse) {
    if (dst == nullptr || src == nullptr || len <= 0) return;
    auto *d = static_cast<unsigned char *>(dst);
    const auto *s = static_cast<const unsigned char *>(src);
    if (!reverse) {
        memcpy(d, s, static_cast<size_t>(len));
        return;
    }
    for (int j = 0; j < len; ++j)
        d[j] = s[len - 1 - j];
}

float CvtFloatFormat(float value, int from, int to) {
    constexpr long double CM_PER_INCH = 2.54L;
    constexpr long double POINTS_PER_INCH = 72.0L;
    long double v = value;
    if (from == CVT_CM && to == CVT_INCH) return static_cast<float>(v / CM_PER_INCH);
    if (from == CVT_POINT && to == CVT_INCH) return static_cast<float>(v / POINTS_PER_INCH);
    if (from == CVT_INCH && to == CVT_CM) return static_cast<float>(v * CM_PER_INCH);
    if (from == CVT_POINT && to == CVT_CM)
        return static_cast<float>(v / POINTS_PER_INCH * CM_PER_INCH);
    if (from == CVT_INCH && to == CVT_POINT) return static_cast<float>(v * POINTS_PER_INCH);
    if (from == CVT_CM && to == CVT_POINT)
        return static_cast<float>(v / CM_PER_INCH * POINTS_PER_INCH);
    return value;
}

double MaxD(double a, double b) {
    return a > b ? a : b;
}

int Utf8IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

size_t Utf8CutLen(const char *text, size_t max) {
    size_t n = strnlen(text, max + 1);
    if (n <= max) return n;
    // text[max] is the first byte left out; if it continues a UTF-8
    // character, leave out that character's first bytes too.
    n = max;
    while (n > 0 && Utf8IsContinuation(static_cast<unsigned char>(text[n])))
        --n;
    return n;
}

size_t TerminalCharAt(const char *text, size_t size, int *control) {
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    const unsigned c = p[0];
    *control = c < 0x20 || c == 0x7F ? static_cast<int>(c) : -1;
    if (c < 0x80) return 1;
    const size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 1;
    size_t k = 1;
    while (k < len && k < size && Utf8IsContinuation(p[k]))
        ++k;
    if (len > 1 && k == len) {
        // A whole sequence: only U+0080 to U+009F among them steer.
        if (c == 0xC2 && p[1] <= 0x9F) *control = p[1];
        return len;
    }
    // A byte in no sequence: 0x80 to 0x9F are C1 to an 8-bit terminal.
    if (c <= 0x9F) *control = static_cast<int>(c);
    return 1;
}

size_t Utf8ValidLen(const char *text, size_t size) {
    if (size == 0) return 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    unsigned c = p[0];
    size_t len;
    unsigned cp;
    if (c < 0x80) return 1;
    if (c >= 0xc2 && c <= 0xdf) {
        len = 2;
        cp = c & 0x1f;
    } else if (c >= 0xe0 && c <= 0xef) {
        len = 3;
        cp = c & 0x0f;
    } else if (c >= 0xf0 && c <= 0xf4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (size < len) return 0;
    for (size_t i = 1; i < len; ++i) {
        if (!Utf8IsContinuation(p[i])) return 0;
        cp = (cp << 6) | (p[i] & 0x3f);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xd800 && cp <= 0xdfff))) ||
        (len == 4 && (cp < 0x10000 || cp > 0x10ffff)))
        return 0;
    return len;
}

size_t Utf8NextChar(const char *text, size_t size, size_t at) {
    if (at >= size) return size;
    ++at;
    while (at < size && Utf8IsContinuation(static_cast<unsigned char>(text[at])))
        ++at;
    return at;
}
