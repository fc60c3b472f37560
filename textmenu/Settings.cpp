// Settings.cpp - menu values written to and read from settings files: one
// record per value by item index, "N{" ... "}" blocks for submenus.
#include "MenuPriv.h"
#include "TextMenu.h"

#include "MemMgr.h"
#include "utils.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

// Set by every load, also of an empty file: a host can tell that its settings
// were read even when nothing changed.
unsigned char flLoadedSettings = 0;
int32_t SettingsLinesRefused = 0;

using namespace textmenu_detail;

namespace {

// Submenus nest at most this deep in a settings file; deeper blocks (only a
// menu that is its own submenu makes them) are not followed.
constexpr int MAX_NESTING = 32;

// Records name items by index, not by text: texts change with the language, and
// a file stored in one language loads in another. The kind and display state go
// with each value so that a reader can tell what it reads without the program's
// tables.
void Store(TextMenu *menu, int depth) {
    if (pOut == nullptr || menu == nullptr || menu->pItems == nullptr) return;
    int count = CountItems(menu);
    for (int i = 0; i < count; ++i) {
        const TextMenuItem *item = &menu->pItems[i];
        switch (item->Type) {
        case MENU_PICK_ONE:
        case MENU_INTEGER:
            fprintf(pOut, "%i[%i] %i %i\n", i, static_cast<int>(item->Value),
                    static_cast<int>(item->Type), static_cast<int>(item->Show));
            break;
        case MENU_NAME:
        case MENU_TEXT: {
            const char *text = reinterpret_cast<const char *>(item->Value);
            fprintf(pOut, "%i[%s] %i %i\n", i, text ? text : "", static_cast<int>(item->Type),
                    static_cast<int>(item->Show));
            break;
        }
        case MENU_PICK_MANY:
            // The chosen-state mask in the layout of the integer records; a
            // reader that keeps no pick-many values skips it by its kind.
            fprintf(pOut, "%i[%llu] %i %i\n", i,
                    static_cast<unsigned long long>(static_cast<uintptr_t>(item->Value)),
                    static_cast<int>(item->Type), static_cast<int>(item->Show));
            break;
        case MENU_FLOAT:
            fprintf(pOut, "%i[%.3f] %i %i\n", i, static_cast<double>(GetItemFloat(item)),
                    static_cast<int>(item->Type), static_cast<int>(item->Show));
            break;
        default:
            break;
        }
    }
    // Submenu blocks follow the values, so that the values that choose a
    // submenu are set before its block is read back.
    if (depth >= MAX_NESTING) return;
    for (int i = 0; i < count; ++i) {
        if (menu->pItems[i].Type != MENU_SUBMENU) continue;
        // Only the submenu the conditions choose now: the others' values would
        // be read back into the wrong menu.
        TextMenu *sub = ValidateMenu(menu, i);
        if (sub == nullptr) continue;
        fprintf(pOut, "%i{\n", i);
        Store(sub, depth + 1);
        fputs("}\n", pOut);
    }
}

// What the reading of one settings file keeps across submenu levels.
// Shared by the submenu levels of one file, since a block's lines are counted
// in the same file as the lines around it.
struct LoadState {
    int line = 0;         // physical line at which the current record starts
    int next = 1;         // physical line the next read starts on
    bool midLine = false; // the last read stopped inside a long line
    // LoadMenuFile: submenus start from their defaults before their block is
    // read, a block's end runs no apply action, and the menus read are noted.
    bool forDefaults = false;
    std::vector<TextMenu *> read;
};

// A value record as read from its line: "N[value] kind show".
struct Record {
    int index = 0;
    char mark = 0;                         // '[' for a value, '{' for a block
    char value[MENU_TEXT_VALUE_SIZE] = {}; // the text between '[' and the last ']'
    long kind = 0;
    long show = 0;
};

// A number in decimal digits only (an optional '-' when allowed), whole
// text, in the range of a 64-bit value.
// Stricter than strtoll alone: blanks, a '+' or trailing text in a file mean it
// was not written by the store and are refused.
bool Digits(const char *text, bool negative, long long *out) {
    const char *p = text;
    if (negative && *p == '-') ++p;
    if (*p == '\0') return false;
    for (const char *q = p; *q != '\0'; ++q)
        if (!isdigit(static_cast<unsigned char>(*q))) return false;
    errno = 0;
    char *end = nullptr;
    long long v = strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0') return false;
    *out = v;
    return true;
}

// Reads "N[value] kind show" or "N{". False (with the reason) when the line
// is not one of them.
bool ParseRecord(const char *line, Record *r, const char **why) {
    *why = "not a settings record";
    char *end = nullptr;
    errno = 0;
    long n = strtol(line, &end, 10);
    // An index out of range is refused later with its number named; one that
    // does not even fit an int is no record.
    if (end == line || errno != 0 || n < INT32_MIN || n > INT32_MAX) return false;
    r->index = static_cast<int>(n);
    r->mark = *end;
    if (r->mark == '{') return true;
    if (r->mark != '[') return false;
    // Kind and display state follow the record's last ']': a text value
    // keeps its blanks and any ']' of its own.
    const char *open = end + 1;
    const char *close = strrchr(open, ']');
    if (close == nullptr) return false;
    const char *p = close + 1;
    r->kind = strtol(p, &end, 10);
    if (end == p || (*end != ' ' && *end != '\t')) return false;
    p = end;
    r->show = strtol(p, &end, 10);
    if (end == p) return false;
    // Nothing may follow the display state but the line's end: a record with
    // more is not one the store wrote.
    for (p = end; *p != '\0'; ++p)
        if (!isspace(static_cast<unsigned char>(*p))) return false;
    size_t len = static_cast<size_t>(close - open);
    // Refused whole rather than cut: a cut value would be a different one.
    if (len >= sizeof r->value) {
        *why = "value longer than 255 characters";
        return false;
    }
    memcpy(r->value, open, len);
    r->value[len] = '\0';
    return true;
}

// A file may change an item's kind only between name and text: both keep
// their value in the same buffer under the same entry format. Any other
// change would give a value a meaning it was never checked for (a number
// read as a state of an item that has none).
bool KindFits(uint32_t itemKind, long recordKind) {
    if (recordKind == 0 || recordKind == static_cast<long>(itemKind)) return true;
    bool textItem = itemKind == MENU_NAME || itemKind == MENU_TEXT;
    return textItem && (recordKind == MENU_NAME || recordKind == MENU_TEXT);
}

// True when state k of the item exists and is not hidden.
// A hidden state is one the user could not choose; a file must not choose it
// either.
bool StateShown(const TextMenuItem *item, long long k) {
    if (k < 0 || k >= item->StateCnt) return false;
    const char *state = StateToken(item->pStates, static_cast<intptr_t>(k));
    return state != nullptr && state[0] != ' ';
}

// Checks the value text of a record against the item it names and, when it
// fits, sets it. False (with the reason) leaves the item as it was.
// A file is checked as strictly as typing: a value no answer could give is
// refused, since a stored file may have been edited or come from another
// program version.
bool TakeValue(TextMenu *menu, int index, const char *value, const char **why) {
    TextMenuItem *item = &menu->pItems[index];
    long long v = 0;
    switch (item->Type) {
    case MENU_PICK_ONE:
        *why = "not a state of the item";
        if (!Digits(value, false, &v) || !StateShown(item, v)) return false;
        item->Value = static_cast<intptr_t>(v);
        // A loaded state hides, disables and sets what choosing it would,
        // so the submenu blocks that follow find their items as stored.
        ProcessStateFormat(menu, index);
        return true;
    case MENU_PICK_MANY: {
        *why = "not a set of the item's states";
        char *end = nullptr;
        errno = 0;
        if (!isdigit(static_cast<unsigned char>(value[0]))) return false;
        unsigned long long mask = strtoull(value, &end, 10);
        if (errno != 0 || *end != '\0') return false;
        // Every chosen bit must be a shown state: a mask with bits past the
        // list would choose states that are not there.
        for (int k = 0; k < 64; ++k)
            if ((mask >> k & 1) && !StateShown(item, k)) return false;
        item->Value = static_cast<intptr_t>(mask);
        ProcessStateFormat(menu, index);
        return true;
    }
    case MENU_INTEGER:
        *why = "not a number the item accepts";
        if (!Digits(value, true, &v) || v < INT32_MIN || v > INT32_MAX) return false;
        if (ValidateEntryQuiet(value, item->pFormat) != ENTRY_OK) return false;
        item->Value = static_cast<intptr_t>(v);
        return true;
    case MENU_FLOAT: {
        *why = "not a number the item accepts";
        char *end = nullptr;
        float f = strtof(value, &end);
        if (end == value || *end != '\0' || !std::isfinite(f)) return false;
        if (ValidateEntryQuiet(value, item->pFormat) != ENTRY_OK) return false;
        SetItemFloat(item, f);
        return true;
    }
    case MENU_NAME:
    case MENU_TEXT: {
        *why = "holds control characters";
        // A text value is shown in the menu later: control characters would
        // reach the terminal.
        if (HasControlCharacter(value)) return false;
        // Empty is the value of an item nothing was typed into.
        *why = "not a text the item accepts";
        if (*value != '\0' && ValidateEntryQuiet(value, item->pFormat) != ENTRY_OK) return false;
        char *buf = TextBuffer(item);
        *why = "no memory for the text";
        if (buf == nullptr) return false;
        snprintf(buf, MENU_TEXT_VALUE_SIZE, "%s", value);
        return true;
    }
    default:
        *why = "the item holds no value";
        return false;
    }
}

// Says on standard error which line was refused and why; the text shown is
// the file's, so its control characters are written as escapes.
// Refusals go to standard error and loading goes on: one bad line must not lose
// the rest of a user's settings.
void Refuse(const LoadState &st, const char *why, const char *value) {
    ++SettingsLinesRefused;
    std::string file = PrintableText(InputFileName, 255);
    if (value != nullptr)
        errormsg("%s, line %d: value \"%s\" refused: %s; the item keeps its value", file.c_str(),
                 st.line, PrintableText(value, 60).c_str(), why);
    else
        errormsg("%s, line %d: %s; the line is skipped", file.c_str(), st.line, why);
}

// Reads the next line into LineBuf and counts physical lines: st->line
// becomes the line the record starts on. *tooLong is set for a line longer
// than a record can be; its further pieces are passed over.
// Physical line numbers are kept, not record numbers, so that a refusal names
// the line an editor shows.
bool NextLine(LoadState *st, bool *tooLong) {
    *tooLong = false;
    for (;;) {
        if (!GetFileLine()) return false;
        bool piece = st->midLine;
        st->line = st->next;
        size_t len = strlen(LineBuf);
        st->midLine = len > 0 && LineBuf[len - 1] != '\n' && pIn != nullptr && !feof(pIn);
        // Lines joined behind a backslash count as lines of their own.
        for (size_t i = 0; i < len; ++i)
            if (LineBuf[i] == '\n') ++st->next;
        if (piece) continue;
        *tooLong = st->midLine;
        return true;
    }
}

void Load(TextMenu *menu, int depth, LoadState *st) {
    flLoadedSettings = 1;
    if (st->forDefaults) st->read.push_back(menu);
    int count = CountItems(menu);
    bool tooLong = false;
    while (NextLine(st, &tooLong)) {
        const char *line = LineBuf;
        if (tooLong) {
            Refuse(*st, "line longer than a settings record can be", nullptr);
            continue;
        }
        // The block's end is its menu's apply: a program that applies a submenu
        // on leaving it sees the loaded values applied the same way.
        if (line[0] == '}') {
            if (st->forDefaults) return;
            TextMenuItem *apply = FindTextMenuItem(menu, MENU_APPLY);
            if (apply != nullptr && apply->Action != nullptr) apply->Action(menu, apply);
            return;
        }
        if (line[strspn(line, " \t\r\n")] == '\0') continue; // a blank line
        Record r;
        const char *why = nullptr;
        if (!ParseRecord(line, &r, &why)) {
            Refuse(*st, why, nullptr);
            continue;
        }
        if (r.mark == '{') {
            // Deeper blocks than this come only from a menu that is its own
            // submenu: they are not followed.
            if (depth >= MAX_NESTING) continue;
            TextMenu *sub = ValidateMenu(menu, r.index);
            // A menu that is its own submenu is not started afresh halfway.
            if (sub != nullptr && st->forDefaults &&
                std::find(st->read.begin(), st->read.end(), sub) == st->read.end())
                InitMenu(sub, nullptr);
            if (sub != nullptr)
                Load(sub, depth + 1, st);
            else
                Refuse(*st, "no submenu at this item; its lines count for this menu", nullptr);
            continue;
        }
        char reason[96];
        if (r.index < 0 || r.index >= count) {
            snprintf(reason, sizeof reason, "no item %d", r.index);
            Refuse(*st, reason, nullptr);
            continue;
        }
        TextMenuItem *item = &menu->pItems[r.index];
        if (!KindFits(item->Type, r.kind)) {
            snprintf(reason, sizeof reason, "kind %ld does not fit item %d (kind %u)", r.kind,
                     r.index, static_cast<unsigned>(item->Type));
            Refuse(*st, reason, nullptr);
            continue;
        }
        if (r.show < 0 || r.show > 2) {
            snprintf(reason, sizeof reason, "display state %ld of item %d is not 0, 1 or 2", r.show,
                     r.index);
            Refuse(*st, reason, nullptr);
            continue;
        }
        // The display state first: a state format runs only for a shown item.
        uint32_t show = item->Show;
        item->Show = static_cast<uint32_t>(r.show);
        if (!TakeValue(menu, r.index, r.value, &why)) {
            item->Show = show;
            snprintf(reason, sizeof reason, "%s (item %d)", why, r.index);
            Refuse(*st, reason, r.value);
            continue;
        }
        // The kind changes only after the value was taken: a refused line
        // leaves the item as it was in every field.
        if (r.kind != 0) item->Type = static_cast<uint32_t>(r.kind);
    }
}

// The text defaults LoadMenuFile made, by item: each replaces the one before
// it, so loading again does not pile up copies. Items are the host's static
// tables, which live as long as the process.
struct KeptTexts {
    std::map<const TextMenuItem *, char *> byItem;
} Kept;

} // namespace

namespace textmenu_detail {

bool HasControlCharacter(const char *text) {
    for (size_t left = strlen(text); left > 0;) {
        int control;
        size_t n = TerminalCharAt(text, left, &control);
        if (control >= 0) return true;
        text += n;
        left -= n;
    }
    return false;
}

// Unlike EscapeControls, a backslash stays as it is: the value is shown as
// the user typed it, and only what would steer the terminal is escaped.
std::string PrintableText(const char *text, size_t max) {
    std::string out;
    for (size_t left = strlen(text); left > 0 && out.size() < max;) {
        int control;
        size_t n = TerminalCharAt(text, left, &control);
        if (control >= 0) {
            for (size_t k = 0; k < n; ++k) {
                char esc[8];
                snprintf(esc, sizeof esc, "\\%03o", static_cast<unsigned char>(text[k]));
                out += esc;
            }
        } else {
            out.append(text, n);
        }
        text += n;
        left -= n;
    }
    return out;
}

} // namespace textmenu_detail

void StoreMenu(TextMenu *menu) {
    Store(menu, 0);
}

// A new load counts its own refusals: a host reads SettingsLinesRefused to
// decide whether to show them.
void LoadMenu(TextMenu *menu) {
    SettingsLinesRefused = 0;
    if (menu == nullptr || menu->pItems == nullptr) {
        flLoadedSettings = 1;
        return;
    }
    LoadState st;
    Load(menu, 0, &st);
}

int LoadMenuFile(TextMenu *menu, const char *path) {
    if (menu == nullptr || menu->pItems == nullptr || path == nullptr || *path == '\0') return 0;
    SettingsLinesRefused = 0;
    if (!OpenInputFile(path, 0)) return 0;
    InitMenu(menu, nullptr);
    LoadState st;
    st.forDefaults = true;
    Load(menu, 0, &st);
    if (pIn != nullptr) CloseInputFile();
    for (TextMenu *read : st.read)
        KeepMenuDefaults(read);
    return 1;
}

void KeepMenuDefaults(TextMenu *menu) {
    if (menu == nullptr || menu->pItems == nullptr) return;
    for (TextMenuItem *item = menu->pItems; item->pText != nullptr; ++item) {
        switch (item->Type) {
        case MENU_PICK_ONE:
        case MENU_PICK_MANY:
        case MENU_INTEGER:
        case MENU_FLOAT:
            item->Default = item->Value;
            break;
        case MENU_NAME:
        case MENU_TEXT: {
            if (item->Value == 0) break; // never set: the default stays
            char *copy = SaveStr_(reinterpret_cast<const char *>(item->Value));
            if (copy == nullptr) break;
            char *&kept = Kept.byItem[item];
            PutMem(kept);
            kept = copy;
            item->Default = reinterpret_cast<intptr_t>(copy);
            break;
        }
        default:
            break;
        }
    }
}

// The file is replaced whole: a crash or a full disk while storing leaves the
// old settings, never half a file. A link is not followed, as the program may
// run with more rights than whoever planted it.
int StoreMenuFile(TextMenu *menu, const char *path) {
    if (menu == nullptr || path == nullptr || *path == '\0') return 0;
    std::string temp = std::string(path) + ".new";
    FileReplacement r;
    if (!ReplaceOpen(&r, path, temp.c_str(), -1, REPLACE_KEEP_MODE | REPLACE_DROP_LEFTOVER)) {
        if (r.Failed == REPLACE_FAILED_LINK)
            fprintf(stderr, "WARNING: %s is a symbolic link, which is not replaced\n", path);
        return 0;
    }
    // StoreMenu writes to pOut, which hosts may use for their own stores: it is
    // given back afterwards.
    FILE *saved = pOut;
    pOut = r.pOut;
    StoreMenu(menu);
    pOut = saved;
    return ReplaceCommit(&r, nullptr);
}
