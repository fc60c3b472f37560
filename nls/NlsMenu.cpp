// Catalog texts in menus, composed strings and formatted output.
//
// Menu texts come from section 25 of the core database; every text that is
// put into a menu is a new stored string owned by the menu's owner, cut to
// the work buffer's 127 characters. A missing entry shows its key text
// ("25_1003"), so a gap in a catalog is visible but never fatal.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "MemMgr.h"
#include "NlsPriv.h"
#include "NlsUtils.h"
#include "PoFile.h"
#include "utils.h"

namespace {

// Longest menu text, without its NUL.
constexpr size_t MENU_TEXT_MAX = 127;
// Longest text NlsGuiStrCvt puts into one "%s" slot, without its NUL.
constexpr size_t SLOT_TEXT_MAX = 1023;

// A new stored string with the text of entry 25/number (its key text when
// missing), cut to MENU_TEXT_MAX.
char *MenuText(int number) {
    const char *key = NlsFormatKey(25, number);
    char *owned = nullptr;
    const char *text = NlsLookup(pDrvCoreDB, key, &owned);
    if (text == nullptr) text = key;
    char *copy = SaveStr("%.*s", static_cast<int>(Utf8CutLen(text, MENU_TEXT_MAX)), text);
    PutMem(owned);
    return copy;
}

// Fills one text field of items[0 .. count-1] from entries 25/first...
int FillItems(TextMenuItem *items, int first, int count, char *TextMenuItem::*field) {
    if (items == nullptr) return count;
    for (int i = 0; i < count; ++i)
        items[i].*field = MenuText(first + i);
    return count;
}

// Text of entry section/number of db, or null when missing; *owned as with
// NlsLookup.
const char *EntryText(DbT *db, int section, int number, char **owned) {
    return NlsLookup(db, NlsFormatKey(section, number), owned);
}

} // namespace

char *NlsTtyMenuCvt(char **out, int number) {
    char *text = MenuText(number);
    if (out != nullptr) *out = text;
    return text;
}

int NlsTtyMenuItemCvt(TextMenuItem *items, int first, int count) {
    return FillItems(items, first, count, &TextMenuItem::pText);
}

int NlsTtyMenuItemStateCvt(TextMenuItem *items, int first, int count) {
    return FillItems(items, first, count, &TextMenuItem::pStates);
}

int NlsTtyMenuItemPromptCvt(TextMenuItem *items, int first, int count) {
    return FillItems(items, first, count, &TextMenuItem::pPrompt);
}

char *NlsGuiStrCvt(const char *format, int section, char *buf, int len) {
    if (buf == nullptr || len <= 0) return buf;
    memset(buf, 0, static_cast<size_t>(len));
    if (format == nullptr) return buf;
    // The result is cut to the buffer: len - 1 characters and the NUL.
    size_t room = static_cast<size_t>(len) - 1, used = 0;
    int slot = 0;
    for (const char *p = format; *p && used < room; ++p) {
        if (p[0] != '%' || p[1] != 's') {
            buf[used++] = *p;
            continue;
        }
        ++p;
        const char *key = NlsFormatKey(section, ++slot);
        char *owned = nullptr;
        const char *text = NlsLookup(pDrvCoreDB, key, &owned);
        if (text == nullptr) text = key;
        size_t n = Utf8CutLen(text, SLOT_TEXT_MAX);
        if (n > room - used) n = Utf8CutLen(text, room - used);
        memcpy(buf + used, text, n);
        used += n;
        PutMem(owned);
    }
    return buf;
}

// The catalog's texts are the formats here, once NlsCheckedFormat found
// their conversions to be those of the English texts.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

void Nlsfprintf(FILE *stream, DbT *db, int section, int number, ...) {
    if (stream == nullptr) return;
    char *owned = nullptr;
    const char *text = EntryText(db, section, number, &owned);
    if (text == nullptr) {
        fputs("Error", stream);
        return;
    }
    text = NlsCheckedFormat(NlsFormatKey(section, number), text);
    va_list ap;
    va_start(ap, number);
    vfprintf(stream, text, ap);
    va_end(ap);
    PutMem(owned);
}

void Nlssprintf(char *buf, DbT *db, int section, int number, ...) {
    if (buf == nullptr) return;
    char *owned = nullptr;
    const char *text = EntryText(db, section, number, &owned);
    if (text == nullptr) {
        snprintf(buf, NLS_BUF_SIZE, "%s", "Error");
        return;
    }
    text = NlsCheckedFormat(NlsFormatKey(section, number), text);
    va_list ap;
    va_start(ap, number);
    vsnprintf(buf, NLS_BUF_SIZE, text, ap);
    va_end(ap);
    PutMem(owned);
}

#pragma GCC diagnostic pop

// ---------------------------------------------------------------------------
// Checked formats
// ---------------------------------------------------------------------------

namespace {

// Keys whose catalog text was refused as a format, so that each is reported
// once.
struct FormatState {
    std::set<std::string> warned;
};
FormatState g_format;

// The conversions of a format, or "n" among them for a directive that
// writes (%n) - never acceptable.
bool SameConversions(const char *text, const char *english) {
    std::vector<std::string> mine = PoDirectives(text), theirs = PoDirectives(english);
    for (const std::string &d : mine)
        if (d.find('n') != std::string::npos || d == "?") return false;
    return mine == theirs;
}

} // namespace

const char *NlsEnglishFor(const char *key) {
    if (key == nullptr) return nullptr;
    size_t lo = 0, hi = 0;
    while (NlsEnglishTexts[hi].key != nullptr)
        ++hi;
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        int c = strcmp(NlsEnglishTexts[mid].key, key);
        if (c == 0) return NlsEnglishTexts[mid].text;
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return nullptr;
}

const char *NlsCheckedFormat(const char *key, const char *text) {
    const char *english = NlsEnglishFor(key);
    const char *fallback = english != nullptr ? english : key != nullptr ? key : "";
    if (text == nullptr) return fallback;
    if (SameConversions(text, english != nullptr ? english : "")) return text;
    if (g_format.warned.insert(key != nullptr ? key : "").second)
        fprintf(stderr,
                "WARNING: the catalog text of %s does not take the arguments of its English "
                "text; the English text is used\n",
                key != nullptr ? key : "");
    return fallback;
}
