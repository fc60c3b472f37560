// Settings.cpp - menu values written to and read from settings files: one
// record per value by item index, "N{" ... "}" blocks for submenus.
#include "MenuPriv.h"
#include "TextMenu.h"

#include "MemMgr.h"
#include "utils.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

unsigned char flLoadedSettings = 0;

using namespace textmenu_detail;

namespace {

// Submenus nest at most this deep in a settings file; deeper blocks (only a
// menu that is its own submenu makes them) are not followed.
constexpr int MAX_NESTING = 32;

// The integer value of a text, held to the range of a 32-bit value.
int ToInt(const char *text) {
    long v = strtol(text, nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int>(v);
}

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
        case MENU_FLOAT:
            fprintf(pOut, "%i[%.3f] %i %i\n", i, static_cast<double>(GetItemFloat(item)),
                    static_cast<int>(item->Type), static_cast<int>(item->Show));
            break;
        default:
            break;
        }
    }
    if (depth >= MAX_NESTING) return;
    for (int i = 0; i < count; ++i) {
        if (menu->pItems[i].Type != MENU_SUBMENU) continue;
        TextMenu *sub = ValidateMenu(menu, i);
        if (sub == nullptr) continue;
        fprintf(pOut, "%i{\n", i);
        Store(sub, depth + 1);
        fputs("}\n", pOut);
    }
}

// A record kind from a file changes an item's kind only between kinds that
// keep their value the same way (numbers, or text buffers).
bool SameValueKind(uint32_t a, uint32_t b) {
    auto group = [](uint32_t k) {
        if (k == MENU_PICK_ONE || k == MENU_INTEGER) return 1;
        if (k == MENU_NAME || k == MENU_TEXT) return 2;
        return 0;
    };
    return a == b || (group(a) != 0 && group(a) == group(b));
}

// Reads "%d%c%s]" from a line: index, one character and the value text up to
// the first blank (a final ']' removed). False when the line does not fit
// or the value text does not fit its 256-byte area.
bool ParseHead(const char *line, int *index, char *mark, char *value) {
    char *end = nullptr;
    long n = strtol(line, &end, 10);
    if (end == line || n < INT32_MIN || n > INT32_MAX || *end == '\0') return false;
    *index = static_cast<int>(n);
    *mark = *end++;
    while (isspace(static_cast<unsigned char>(*end)))
        ++end;
    size_t len = strcspn(end, " \t\r\n\v\f");
    if (len >= static_cast<size_t>(MENU_TEXT_VALUE_SIZE)) return false;
    memcpy(value, end, len);
    value[len] = '\0';
    if (len > 0 && value[len - 1] == ']') value[len - 1] = '\0';
    return true;
}

void Load(TextMenu *menu, int depth) {
    flLoadedSettings = 1;
    int count = CountItems(menu);
    while (GetFileLine()) {
        const char *line = LineBuf;
        if (line[0] == '}') {
            TextMenuItem *apply = FindTextMenuItem(menu, MENU_APPLY);
            if (apply != nullptr && apply->Action != nullptr) apply->Action(menu, apply);
            return;
        }
        int index = 0;
        char mark = 0;
        char value[MENU_TEXT_VALUE_SIZE];
        if (!ParseHead(line, &index, &mark, value)) continue;
        if (mark == '{') {
            TextMenu *sub = depth < MAX_NESTING ? ValidateMenu(menu, index) : nullptr;
            if (sub != nullptr) Load(sub, depth + 1);
            continue;
        }
        // Kind and display state follow the record's last ']', so a text
        // value that holds a ']' reads back as it was stored.
        const char *close = strrchr(line, ']');
        if (close == nullptr || close[1] == '\0') continue;
        int kind = 0, show = 0;
        if (sscanf(close + 1, "%i %i", &kind, &show) != 2) continue;
        if (index < 0 || index >= count) continue;
        TextMenuItem *item = &menu->pItems[index];
        item->Show = static_cast<uint32_t>(show);
        switch (item->Type) {
        case MENU_PICK_ONE:
            // A loaded state hides, disables and sets what choosing it would,
            // so the submenu blocks that follow find their items as stored.
            item->Value = ToInt(value);
            ProcessStateFormat(menu, index);
            break;
        case MENU_INTEGER:
            item->Value = ToInt(value);
            break;
        case MENU_NAME:
        case MENU_TEXT: {
            char *buf = TextBuffer(item);
            if (buf == nullptr) continue;
            snprintf(buf, MENU_TEXT_VALUE_SIZE, "%s", value);
            break;
        }
        case MENU_FLOAT:
            SetItemFloat(item, static_cast<float>(atof(value)));
            break;
        default:
            continue;
        }
        if (kind != 0 && SameValueKind(item->Type, static_cast<uint32_t>(kind)))
            item->Type = static_cast<uint32_t>(kind);
    }
}

} // namespace

void StoreMenu(TextMenu *menu) {
    Store(menu, 0);
}

void LoadMenu(TextMenu *menu) {
    if (menu == nullptr || menu->pItems == nullptr) {
        flLoadedSettings = 1;
        return;
    }
    Load(menu, 0);
}

int StoreMenuFile(TextMenu *menu, const char *path) {
    if (menu == nullptr || path == nullptr || *path == '\0') return 0;
    std::string temp = std::string(path) + ".new";
    FileReplacement r;
    if (!ReplaceOpen(&r, path, temp.c_str(), -1, REPLACE_KEEP_MODE | REPLACE_DROP_LEFTOVER))
        return 0;
    FILE *saved = pOut;
    pOut = r.pOut;
    StoreMenu(menu);
    pOut = saved;
    return ReplaceCommit(&r, nullptr);
}
