// Reading PO catalog sources.
//
// Only what the catalog uses is accepted: comments and flags, msgctxt, msgid
// and msgstr each with continuation strings. Plural forms have no place in a
// keyed catalog and are refused, so a translator's mistake is reported rather
// than silently dropped.
#include "PoFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "utils.h"

namespace {

struct Reader {
    const char *p;
    const char *end;
    int line = 1;
    std::string err;

    bool Fail(const char *what) {
        err = "line " + std::to_string(line) + ": " + what;
        return false;
    }
    bool AtEnd() const { return p >= end; }
    // The current line without its line end, and the reader moved past it.
    std::string_view TakeLine() {
        const char *start = p;
        while (p < end && *p != '\n')
            ++p;
        std::string_view l(start, static_cast<size_t>(p - start));
        if (p < end) ++p;
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        return l;
    }
};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Appends the value of a quoted string s ("..." with C escapes) to out.
bool Unquote(std::string_view s, std::string &out, const char **why) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') {
        *why = "expected a quoted string";
        return false;
    }
    s = s.substr(1, s.size() - 2);
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            *why = "unescaped quote inside a string";
            return false;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= s.size()) {
            *why = "backslash at the end of a string";
            return false;
        }
        switch (char e = s[i]) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'a':
            out += '\a';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'v':
            out += '\v';
            break;
        case '\\':
        case '"':
        case '\'':
        case '?':
            out += e;
            break;
        case 'x': {
            int v = 0, n = 0;
            while (i + 1 < s.size() && HexValue(s[i + 1]) >= 0 && n < 2)
                v = v * 16 + HexValue(s[++i]), ++n;
            if (n == 0) {
                *why = "\\x without hexadecimal digits";
                return false;
            }
            out += static_cast<char>(v);
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                int v = e - '0', n = 1;
                while (n < 3 && i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '7')
                    v = v * 8 + (s[++i] - '0'), ++n;
                out += static_cast<char>(v & 0xFF);
                break;
            }
            *why = "unknown escape sequence";
            return false;
        }
    }
    if (out.find('\0') != std::string::npos) {
        *why = "a NUL inside a string";
        return false;
    }
    return true;
}

// The first control character of a message that is not a newline or a tab,
// as a byte value; -1 when there is none. Catalog texts reach the terminal
// as they stand, so an escape sequence in one would steer it. C1 controls
// (U+0080 to U+009F) count in their UTF-8 form and as bare bytes, which an
// 8-bit terminal takes as controls too.
// The scan starts at the character that holds byte `from`.
int ControlIn(const std::string &text, size_t from) {
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const size_t n = text.size();
    size_t start = std::min(from, n);
    while (start > 0 && (p[start] & 0xC0) == 0x80)
        --start;
    for (size_t i = start; i < n;) {
        int control;
        size_t len = TerminalCharAt(text.data() + i, n - i, &control);
        if (control >= 0 && control != '\n' && control != '\t') return control;
        i += len;
    }
    return -1;
}

} // namespace

namespace {

// What PoParse knows between lines: the entry being read and the flags
// waiting for it.
struct PoState {
    Reader &r;
    std::vector<PoEntry> &entries;
    PoEntry cur;
    std::string *field = nullptr; // the string continuation lines extend
    bool pendingFlags = false, pendingFuzzy = false, pendingC = false;
    bool haveId = false, haveStr = false;

    PoState(Reader &reader, std::vector<PoEntry> &out) : r(reader), entries(out) {}

    // Ends the entry being read (kept when it has its msgstr); false after
    // a failure.
    bool Finish() {
        if (haveId) {
            if (!haveStr) return r.Fail("msgid without msgstr");
            entries.push_back(cur);
        }
        cur = PoEntry();
        haveId = haveStr = false;
        field = nullptr;
        return true;
    }

    // A line that begins with a keyword (msgctxt, msgid, msgstr) and its
    // first string; false after a failure.
    bool Keyword(std::string_view l, int lineNo) {
        const char *why = nullptr;
        size_t sp = l.find_first_of(" \t");
        std::string_view word = l.substr(0, sp);
        std::string_view rest =
            sp == std::string_view::npos ? std::string_view() : Trim(l.substr(sp));
        // A keyword after a complete entry starts the next one.
        if ((word == "msgctxt" || word == "msgid") && haveStr && !Finish()) return false;
        if (word == "msgctxt" && (haveId || !cur.Context.empty())) {
            return r.Fail("msgctxt inside an entry");
        }
        if (word == "msgctxt") {
            if (cur.Line == 0) cur.Line = lineNo;
            field = &cur.Context;
        } else if (word == "msgid") {
            if (haveId) {
                return r.Fail("msgid without msgstr");
            }
            if (cur.Line == 0) cur.Line = lineNo;
            haveId = true;
            field = &cur.Id;
        } else if (word == "msgstr") {
            if (!haveId || haveStr) {
                return r.Fail(haveStr ? "a second msgstr in one entry" : "msgstr without msgid");
            }
            haveStr = true;
            field = &cur.Str;
        } else if (word == "msgid_plural" || word.substr(0, 7) == "msgstr[") {
            return r.Fail("plural forms are not used in this catalog");
        } else {
            return r.Fail("unknown keyword");
        }
        if (pendingFlags) {
            cur.Fuzzy = pendingFuzzy;
            cur.CFormat = pendingC;
            pendingFlags = pendingFuzzy = pendingC = false;
        }
        if (!Unquote(rest, *field, &why)) {
            return r.Fail(why);
        }
        return true;
    }
};

} // namespace

bool PoParse(const char *text, size_t len, std::vector<PoEntry> &entries, std::string &err) {
    Reader r{text, text + len, 1, {}};
    PoState s(r, entries);

    while (!r.AtEnd()) {
        int lineNo = r.line;
        const std::string *lineField = s.field;
        const size_t lineFieldSize = s.field != nullptr ? s.field->size() : 0;
        std::string_view l = Trim(r.TakeLine());
        const char *why = nullptr;
        if (l.empty()) {
            if (s.haveStr && !s.Finish()) break;
        } else if (l.substr(0, 2) == "#~") {
            // obsolete entry: not part of the catalog
        } else if (l.substr(0, 2) == "#,") {
            if (s.haveStr && !s.Finish()) break;
            std::string flags(l.substr(2));
            s.pendingFlags = true;
            s.pendingFuzzy |= flags.find("fuzzy") != std::string::npos;
            s.pendingC |= flags.find("c-format") != std::string::npos &&
                          flags.find("no-c-format") == std::string::npos;
        } else if (l.front() == '#') {
            if (s.haveStr && !s.Finish()) break;
        } else if (l.front() == '"') {
            if (s.field == nullptr) {
                r.Fail("a string outside an entry");
                break;
            }
            if (!Unquote(l, *s.field, &why)) {
                r.Fail(why);
                break;
            }
        } else if (!s.Keyword(l, lineNo)) {
            break;
        }
        if (r.err.empty() && s.field != nullptr) {
            // Only what this line added is looked at (from the character
            // before it, which a sequence may have begun).
            size_t from = s.field == lineField && lineFieldSize > 0 ? lineFieldSize - 1 : 0;
            if (int c = ControlIn(*s.field, from); c >= 0) {
                char what[96];
                snprintf(what, sizeof what,
                         "control character 0x%02X in a message (only newline and tab may stand "
                         "in one)",
                         static_cast<unsigned>(c));
                r.Fail(what);
            }
        }
        r.line = lineNo + 1;
        if (!r.err.empty()) break;
    }
    if (r.err.empty()) s.Finish();
    err = r.err;
    return err.empty();
}

std::vector<std::string> PoDirectives(const std::string &format) {
    std::vector<std::string> out;
    const char *p = format.c_str();
    while ((p = strchr(p, '%')) != nullptr) {
        ++p;
        if (*p == '%') {
            ++p;
            continue;
        }
        std::string d;
        // argument position ("%2$s"): kept, it changes which argument is read
        const char *q = p;
        while (*q >= '0' && *q <= '9')
            ++q;
        if (*q == '$' && q != p) {
            d.assign(p, static_cast<size_t>(q - p + 1));
            p = q + 1;
        }
        while (*p && strchr("-+ #0'I", *p))
            ++p;
        if (*p == '*') d += '*', ++p;
        while (*p >= '0' && *p <= '9')
            ++p;
        if (*p == '.') {
            ++p;
            if (*p == '*') d += '*', ++p;
            while (*p >= '0' && *p <= '9')
                ++p;
        }
        while (*p && strchr("hlLqjzt", *p))
            d += *p++;
        if (*p == '\0') {
            out.push_back("?");
            break;
        }
        d += *p++;
        out.push_back(d);
    }
    return out;
}
