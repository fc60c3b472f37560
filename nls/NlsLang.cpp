// Language choice: the alias table of trans.conf, read into its normalised
// form, and the whole-word lookup of a language code by alias. This part
// needs the support utilities alone (no record store), so that the installer
// chooses its agreement language by the same rules as the suite's tools.
//
// The normalised form: one line per language, "code = alias alias ... \n",
// every word followed by one blank, the line's last word by " \n"; a line
// "Default code \n" names the language of an unknown LANG.
#include "NlsLang.h"

#include <cstring>
#include <string>

#include "MemMgr.h"
#include "utils.h"

char *pNLSLang = nullptr;

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
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

// True when the normalised line at p begins with the word "Default".
bool IsDefaultLine(const char *p) {
    return strncmp(p, "Default ", 8) == 0;
}

} // namespace

char *NlsNormaliseTrans(const char *text) {
    if (text == nullptr) return nullptr;
    return SaveStr_(NormaliseTrans(text).c_str());
}

char *NlsReadTransFile(const char *dir, const char *name) {
    if (name == nullptr) return nullptr;
    char *content = GetSavedFileContent(dir != nullptr ? dir : ".", name);
    if (content == nullptr) return nullptr;
    std::string table = NormaliseTrans(content);
    PutMem(content);
    return SaveStr_(table.c_str());
}

char *NlsAliasCode(const char *table, const char *alias) {
    if (table == nullptr || alias == nullptr || *alias == '\0') return nullptr;
    // An alias is one word: a text with a blank in it, or the separator
    // itself, names no language.
    if (strpbrk(alias, " \t\r\n") != nullptr || strcmp(alias, "=") == 0) return nullptr;
    const size_t want = strlen(alias);
    const char *code = nullptr; // the line the aliases belong to; null before any "="
    for (const char *line = table; *line != '\0';) {
        const char *end = strchr(line, '\n');
        if (end == nullptr) end = line + strlen(line);
        const char *words = line;
        if (IsDefaultLine(line)) {
            words = end; // names the fallback, lists no alias
        } else if (const char *eq = strstr(line, " = "); eq != nullptr && eq < end) {
            code = line;
            words = eq + 3;
        } else if (strncmp(line, "= ", 2) == 0) {
            code = line; // a line with an empty code
            words = line + 2;
        }
        for (const char *w = words; w < end;) {
            size_t len = strcspn(w, " \n");
            if (len == want && strncmp(w, alias, len) == 0)
                return code != nullptr ? WordAt(code, true) : SaveStr_("en_US");
            w += len;
            w += strspn(w, " ");
        }
        line = *end != '\0' ? end + 1 : end;
    }
    return nullptr;
}

char *NlsDefaultCode(const char *table) {
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

