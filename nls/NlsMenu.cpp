// Catalog texts in menus, composed strings and formatted output.
//
// Menu texts come from section 25 of the core database; every text that is
// put into a menu is a new stored string owned by the menu's owner, cut to
// the work buffer's 127 characters. A missing entry shows its key text
// ("25_1003"), so a gap in a catalog is visible but never fatal.
#include <cstdarg>
#include <cstring>

#include "MemMgr.h"
#include "NlsPriv.h"
#include "NlsUtils.h"
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

// The catalog's texts are the formats here: their directives are checked
// against the English texts when the catalogs are built and tested.
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
    va_list ap;
    va_start(ap, number);
    vsnprintf(buf, NLS_BUF_SIZE, text, ap);
    va_end(ap);
    PutMem(owned);
}

#pragma GCC diagnostic pop
