// Reading PO catalog sources.
//
// Only what the catalog uses is accepted: comments and flags, msgctxt, msgid
// and msgstr each with continuation strings. Plural forms have no place in a
// keyed catalog and are refused, so a translator's mistake is reported rather
// than silently dropped.
#include "PoFile.h"

#include <cstring>
#include <string_view>

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

} // namespace

bool PoParse(const char *text, size_t len, std::vector<PoEntry> &entries, std::string &err) {
    Reader r{text, text + len, 1, {}};
    PoEntry cur;
    std::string *field = nullptr; // the string continuation lines extend
    bool pendingFlags = false, pendingFuzzy = false, pendingC = false;
    bool haveId = false, haveStr = false;

    auto finish = [&]() {
        if (haveId) {
            if (!haveStr) return r.Fail("msgid without msgstr");
            entries.push_back(cur);
        }
        cur = PoEntry();
        haveId = haveStr = false;
        field = nullptr;
        return true;
    };

    while (!r.AtEnd()) {
        int lineNo = r.line;
        std::string_view l = Trim(r.TakeLine());
        const char *why = nullptr;
        if (l.empty()) {
            if (haveStr && !finish()) break;
        } else if (l.substr(0, 2) == "#~") {
            // obsolete entry: not part of the catalog
        } else if (l.substr(0, 2) == "#,") {
            if (haveStr && !finish()) break;
            std::string flags(l.substr(2));
            pendingFlags = true;
            pendingFuzzy |= flags.find("fuzzy") != std::string::npos;
            pendingC |= flags.find("c-format") != std::string::npos &&
                        flags.find("no-c-format") == std::string::npos;
        } else if (l.front() == '#') {
            if (haveStr && !finish()) break;
        } else if (l.front() == '"') {
            if (field == nullptr) {
                r.Fail("a string outside an entry");
                break;
            }
            if (!Unquote(l, *field, &why)) {
                r.Fail(why);
                break;
            }
        } else {
            size_t sp = l.find_first_of(" \t");
            std::string_view word = l.substr(0, sp);
            std::string_view rest =
                sp == std::string_view::npos ? std::string_view() : Trim(l.substr(sp));
            // A keyword after a complete entry starts the next one.
            if ((word == "msgctxt" || word == "msgid") && haveStr && !finish()) break;
            if (word == "msgctxt" && (haveId || !cur.Context.empty())) {
                r.Fail("msgctxt inside an entry");
                break;
            }
            if (word == "msgctxt") {
                if (cur.Line == 0) cur.Line = lineNo;
                field = &cur.Context;
            } else if (word == "msgid") {
                if (haveId) {
                    r.Fail("msgid without msgstr");
                    break;
                }
                if (cur.Line == 0) cur.Line = lineNo;
                haveId = true;
                field = &cur.Id;
            } else if (word == "msgstr") {
                if (!haveId || haveStr) {
                    r.Fail(haveStr ? "a second msgstr in one entry" : "msgstr without msgid");
                    break;
                }
                haveStr = true;
                field = &cur.Str;
            } else if (word == "msgid_plural" || word.substr(0, 7) == "msgstr[") {
                r.Fail("plural forms are not used in this catalog");
                break;
            } else {
                r.Fail("unknown keyword");
                break;
            }
            if (pendingFlags) {
                cur.Fuzzy = pendingFuzzy;
                cur.CFormat = pendingC;
                pendingFlags = pendingFuzzy = pendingC = false;
            }
            if (!Unquote(rest, *field, &why)) {
                r.Fail(why);
                break;
            }
        }
        r.line = lineNo + 1;
        if (!r.err.empty()) break;
    }
    if (r.err.empty()) finish();
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
