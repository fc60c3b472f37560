// Fuzz target: settings files. The input is a settings file read into a menu
// that has an item of every kind, a submenu chosen by a condition and a
// submenu that contains itself. What the menu holds afterwards is stored
// again and must read back into the same text; read with LoadMenuFile, its
// values become the menu's defaults.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "SettingsText.h"
#include "TextMenu.h"
#include "utils.h"

namespace {

#define TEXT(s) const_cast<char *>(s)

struct Menus {
    char states[2][32];
    TextMenuItem subItems[4];
    TextMenuItem items[12];
    TextMenu sub;
    TextMenu menu;
    TextMenu *choices[2];
};

int32_t Apply(TextMenu *, TextMenuItem *item) {
    ++item->PrevValue;
    return 0;
}

TextMenuItem Item(uint32_t kind, const char *text) {
    TextMenuItem item;
    memset(&item, 0, sizeof item);
    item.pText = TEXT(text);
    item.Type = kind;
    item.SavedValue = -1;
    return item;
}

void Build(Menus &m) {
    memset(&m, 0, sizeof m);
    snprintf(m.states[0], sizeof m.states[0], "a,_b,c");
    snprintf(m.states[1], sizeof m.states[1], "x,y");
    m.subItems[0] = Item(MENU_TEXT, "Text");
    m.subItems[1] = Item(MENU_INTEGER, "Number");
    m.subItems[2] = Item(MENU_APPLY, "Apply");
    m.subItems[2].Action = Apply;
    m.sub.pTitle = TEXT("Sub");
    m.sub.pItems = m.subItems;
    m.choices[0] = &m.sub;
    m.choices[1] = &m.menu;
    const uint32_t kinds[] = {MENU_LINE,  MENU_NAME,      MENU_PICK_ONE, MENU_INTEGER,
                              MENU_FLOAT, MENU_PICK_MANY, MENU_SUBMENU,  MENU_TEXT,
                              MENU_APPLY, MENU_SUBMENU,   MENU_COMMAND};
    for (int i = 0; i < 11; ++i)
        m.items[i] = Item(kinds[i], "Item");
    m.items[2].pStates = m.states[0];
    m.items[2].pFormat = TEXT("H1{10} S2{3.4}");
    m.items[5].pStates = m.states[1];
    m.items[6].Value = reinterpret_cast<intptr_t>(&m.sub);
    m.items[8].Action = Apply;
    m.items[9].Value = reinterpret_cast<intptr_t>(m.choices);
    m.items[9].pFormat = TEXT("2.0 2.1|2.2");
    m.menu.pTitle = TEXT("Top");
    m.menu.pItems = m.items;
    InitMenu(&m.menu, nullptr);
    InitMenu(&m.sub, nullptr);
}

void Release(Menus &m) {
    FreeMenu(&m.menu);
    FreeMenu(&m.sub);
}

void Load(TextMenu *menu, const std::string &path) {
    if (OpenInputFile(path.c_str(), 0)) LoadMenu(menu);
    CloseInputFile();
}

void CheckItems(const TextMenuItem *items) {
    for (const TextMenuItem *item = items; item->pText; ++item) {
        if (item->Type == MENU_NAME || item->Type == MENU_TEXT) {
            const char *text = reinterpret_cast<const char *>(item->Value);
            fuzz::Expect(text != nullptr, "a text item lost its buffer");
            fuzz::Expect(strnlen(text, MENU_TEXT_VALUE_SIZE) < MENU_TEXT_VALUE_SIZE,
                         "a text value overran its buffer");
        } else {
            fuzz::Expect(item->Type <= MENU_FLOAT, "an item got an unknown kind");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string path = fuzz::WriteScratchFile("settings", data, size);
    Menus *first = new Menus;
    Build(*first);
    Load(&first->menu, path);
    CheckItems(first->items);
    CheckItems(first->subItems);
    std::string stored = StoredSettingsText(&first->menu);

    std::string again = fuzz::WriteScratchFile(
        "stored", reinterpret_cast<const uint8_t *>(stored.data()), stored.size());
    Menus *second = new Menus;
    Build(*second);
    for (int i = 0; i < 11; ++i)
        second->items[i].Show = first->items[i].Show;
    Load(&second->menu, again);
    fuzz::Expect(StoredSettingsText(&second->menu) == stored, "stored settings do not read back the same");

    // Read as a program's starting values: what the file gave becomes the
    // default every later run starts from.
    Menus *third = new Menus;
    Build(*third);
    LoadMenuFile(&third->menu, path.c_str());
    CheckItems(third->items);
    CheckItems(third->subItems);
    for (const TextMenuItem *item = third->items; item->pText; ++item) {
        if (item->Type == MENU_NAME || item->Type == MENU_TEXT) {
            const char *def = reinterpret_cast<const char *>(item->Default);
            const char *value = reinterpret_cast<const char *>(item->Value);
            fuzz::Expect(def != nullptr && strcmp(def, value) == 0,
                         "a loaded text did not become the default");
        } else if (item->Type == MENU_INTEGER || item->Type == MENU_FLOAT ||
                   item->Type == MENU_PICK_ONE) {
            fuzz::Expect(item->Default == item->Value, "a loaded value did not become the default");
        }
    }
    Release(*first);
    Release(*second);
    Release(*third);
    delete first;
    delete second;
    delete third;
    return 0;
}
