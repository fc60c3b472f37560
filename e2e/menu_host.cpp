// menu_host - a host program of the text-menu engine for the terminal tests:
// a menu of COUNT numbered command items, each text WIDTH characters or so,
// and a lettered exit item.
//
//   menu_host COUNT [WIDTH]
//
// Choosing a numbered item prints "chose N" and waits for <Return>. The
// catalog comes from $DORNA_TOOL_ROOT.
#include "TextMenu.h"

#include "MemMgr.h"
#include "NlsUtils.h"
#include "utils.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int32_t Chose(TextMenu *, TextMenuItem *item) {
    PostMsg("chose %u", static_cast<unsigned>(item->Key));
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        fputs("usage: menu_host COUNT [WIDTH]\n", stderr);
        return 2;
    }
    my_name = SaveStr_("menu_host");
    int count = atoi(argv[1]);
    int width = argc > 2 ? atoi(argv[2]) : 0;
    if (const char *root = getenv("DORNA_TOOL_ROOT")) pToolPath = SaveStr_(root);
    pDrvCoreDB = NlsOpenDB("CoreString", DBT_NOREFRESH);
    std::vector<std::string> texts;
    for (int i = 1; i <= count; ++i) {
        std::string text = "Item number " + std::to_string(i);
        while (static_cast<int>(text.size()) < width)
            text += " and more";
        texts.push_back(text);
    }
    texts.push_back("~x Exit");
    std::string title = "A tall menu";
    std::vector<TextMenuItem> items(texts.size() + 1);
    for (size_t i = 0; i < texts.size(); ++i) {
        items[i].pText = texts[i].data();
        items[i].Type = i + 1 < texts.size() ? MENU_COMMAND : MENU_EXIT;
        items[i].Action = i + 1 < texts.size() ? Chose : nullptr;
        items[i].SavedValue = -1;
    }
    TextMenu menu = {};
    menu.pTitle = title.data();
    menu.pItems = items.data();
    menu.Flags = MENU_NO_EXIT;
    RunMenu(&menu, nullptr, 1);
    return 0;
}
