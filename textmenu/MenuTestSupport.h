// Helpers shared by the menu engine's tests: menus built from short
// descriptions with writable texts, the catalog opened from the build tree,
// and runs in a child with its standard input given and its output captured.
#pragma once

#include "TextMenu.h"

#include "Dbm.h"
#include "NlsUtils.h"
#include "TestSupport.h"
#include "utils.h"

#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace menu_testing {

using testsupport::ChildResult;

// A menu whose items and texts live as long as the builder.
struct MenuBuilder {
    std::deque<std::string> texts; // writable copies of every text
    std::vector<TextMenuItem> items;
    TextMenu menu{};

    char *Text(const std::string &s) {
        texts.push_back(s);
        return texts.back().data();
    }
    // Appends an item; returns its index.
    int Add(uint32_t kind, const char *text, const char *states = nullptr,
            const char *format = nullptr) {
        TextMenuItem item{};
        item.pText = Text(text);
        item.Type = kind;
        item.pStates = states ? Text(states) : nullptr;
        item.pFormat = format ? Text(format) : nullptr;
        item.SavedValue = -1;
        items.push_back(item);
        return static_cast<int>(items.size()) - 1;
    }
    TextMenuItem &operator[](int i) { return items[static_cast<size_t>(i)]; }
    // Ends the item array and returns the menu.
    TextMenu *Finish(const char *title = "Test", uint16_t flags = 0) {
        items.push_back(TextMenuItem{});
        menu.pTitle = Text(title);
        menu.pItems = items.data();
        menu.Flags = flags;
        return &menu;
    }
};

// Opens the English catalog of the build tree as pDrvCoreDB (once).
inline void OpenCatalog() {
    if (pDrvCoreDB != nullptr) return;
    static std::string root = DORNA_CATALOG_ROOT;
    pToolPath = root.data();
    pNLSLang = const_cast<char *>("en_US");
    pDrvCoreDB = NlsOpenDB("CoreString", DBT_NOREFRESH);
}

// Runs fn in a child whose standard input holds `input` and whose output is
// captured. TERM is removed so that clearing the page prints nothing.
inline ChildResult RunWithInput(const std::string &input, const std::function<void()> &fn) {
    return testsupport::RunChild(
        [&] {
            unsetenv("TERM");
            OpenCatalog();
            fn();
        },
        input);
}

} // namespace menu_testing
