// The help viewer's terminal front end on the text-menu engine.
#include "HelpTty.h"

#include "HtmlPriv.h"
#include "MemMgr.h"
#include "NlsUtils.h"
#include "utils.h"

#include <cstring>
#include <string>

char *pTtyHtmlName = nullptr;
char *pTtyHtmlData = nullptr;
char *pTtyHtmlTitle = nullptr;

TextMenuItem *HelpMenuItems = nullptr;
int HelpMenuItemCnt = 0;
char *pHelpTitle = nullptr;
char HelpDataBuf[HELP_DATA_BUF_SIZE];
char *pHelpDataBuf = HelpDataBuf;

namespace {

// The built-in English texts, used when the catalog has none. Arrays, not
// literals: menu items hold writable char pointers.
char ExitText[] = "~e Exit Help";
char ContentsText[] = "~c Contents";
char BackText[] = "~b Back";
char EmptyText[] = "";
char ContentsName[] = "contents";

// What the front end owns between builds.
struct FrontState {
    TextMenuItem *retired = nullptr; // the item array before the last growth
    int linkItems = 0;               // link items of the last build (their texts are ours)
    char *common[3] = {};            // catalog texts of exit, contents and back
    char *title = nullptr;           // the title the last build made
};
FrontState F;

// A lettered item's text from the catalog; the built-in English text when
// the catalog has none or its text is no lettered item ("~k Text").
char *LetteredText(int number, char *fallback, char **owned) {
    PutMem(*owned);
    *owned = nullptr;
    char *text = NlsFindText(pDrvCoreDB, 20, number);
    // The letter is the item's key: a catalog text without one would leave the
    // item unreachable.
    if (text && text[0] == '~' && text[1] && text[1] != ' ' && text[2] == ' ') {
        *owned = text;
        return text;
    }
    PutMem(text);
    return fallback;
}

// A help title: catalog 30/22 with the name, or "<name> Help".
// The catalog text is a format: it is used only when it is there, so that an
// old catalog cannot turn the title into an error text.
char *MenuTitle(const char *name) {
    std::string title = std::string(name) + " Help";
    if (char *found = NlsFindText(pDrvCoreDB, 30, 22); found != nullptr) {
        PutMem(found);
        Nlssprintf(NlsBuf, pDrvCoreDB, 30, 22, name);
        if (NlsBuf[0]) title = NlsBuf;
    }
    return SaveStr_(title.c_str());
}

// The text of a link as shown, without its first and last character (the
// brackets of a hyperlink), at most 127 characters.
// The item shows the link without the brackets the page shows around it; the
// limit bounds what one link can put into the menu.
char *LinkItemText(const HtmlPage *page, const HtmlLink *link) {
    size_t len = page->pText ? strlen(page->pText) : 0;
    if (link->Start < 0 || link->End > static_cast<int32_t>(len) || link->Start >= link->End)
        return SaveStr_("");
    std::string text(page->pText + link->Start, static_cast<size_t>(link->End - link->Start));
    // Character boundaries: a byte that is not a UTF-8 continuation byte
    // (every byte, when the text is one byte per character).
    auto isStart = [](unsigned char c) { return !html_internal::Utf8() || !Utf8IsContinuation(c); };
    size_t first = 1;
    while (first < text.size() && !isStart(static_cast<unsigned char>(text[first])))
        ++first;
    size_t last = text.size();
    if (last > first) {
        --last;
        while (last > first && !isStart(static_cast<unsigned char>(text[last])))
            --last;
    }
    std::string inner = first < last ? text.substr(first, last - first) : "";
    // Cut by characters, at a character's start, so that no partial UTF-8
    // sequence reaches the menu line.
    size_t cut = 0;
    for (int chars = 0; cut < inner.size(); ++cut) {
        if (isStart(static_cast<unsigned char>(inner[cut])) && ++chars > 127) break;
    }
    inner.resize(cut);
    return SaveStr_(inner.c_str());
}

// The item array holds at least n items; a smaller one is replaced and kept
// until the next growth, since the engine may still be inside its items.
// The array only grows: a help session's pages differ in their number of links,
// and giving it back each time would make every page a new allocation.
bool Reserve(int n) {
    if (HelpMenuItemCnt >= n && HelpMenuItems) return true;
    auto *items = static_cast<TextMenuItem *>(GetMem(static_cast<long>(sizeof(TextMenuItem)) * n));
    if (!items) return false;
    PutMem(F.retired);
    F.retired = HelpMenuItems;
    HelpMenuItems = items;
    HelpMenuItemCnt = n;
    return true;
}

// Shows what a failed link printed until the user has read it.
// The menu clears the screen when it redraws: without the pause the message
// would vanish unread.
void ReportLinkFailure() {
    if (html_internal::LinkFailed) PostMsg("%s", "");
    html_internal::LinkFailed = false;
}

} // namespace

// The items every help page ends with, copied behind its links so that the
// engine sees one list: the lettered items set in three columns, and the end.
TextMenuItem HelpCommonItems[6] = {
    {EmptyText, MENU_COLUMNS, 0, nullptr, nullptr, nullptr, 0, 1, 0, nullptr, 0, nullptr, -1, 0,
     nullptr, 0},
    {EmptyText, MENU_COLUMNS, 0, nullptr, nullptr, nullptr, 0, 3, 0, nullptr, 0, nullptr, -1, 0,
     nullptr, 0},
    {ExitText, MENU_EXIT, 0, nullptr, nullptr, nullptr, 0, 0, 0, nullptr, 0, nullptr, -1, 0,
     nullptr, 'e'},
    {ContentsText, MENU_COMMAND, 0, nullptr, nullptr, nullptr, 0, 0, 0, TtyHelpContents, 0, nullptr,
     -1, 0, nullptr, 'c'},
    {BackText, MENU_COMMAND, 0, nullptr, nullptr, nullptr, 0, 0, 0, TtyHelpBack, 0, nullptr, -1, 0,
     nullptr, 'b'},
    {},
};

TextMenuItem BlankTaskItem = {EmptyText, MENU_BLANK, 0, nullptr, nullptr, nullptr, 3,       0,
                              0,         nullptr,    0, nullptr, -1,      0,       nullptr, 0};

TextMenu HelpMenu = {nullptr,
                     MENU_TITLE_CENTRE,
                     nullptr,
                     nullptr,
                     0,
                     nullptr,
                     nullptr,
                     nullptr,
                     MENU_NO_EXIT | MENU_REINIT | MENU_KIND_BEFORE | MENU_NO_BLANK_LINES};

// Link item texts are ours and are given back here; page texts belong to the
// viewer and stay.
char *TtyHelpBuildMenuItems(void) {
    HtmlPage *page = pCurrentPage;
    // The page's line, one item per link at the most, and the six common items.
    if (!page || !Reserve(page->Links.Count + 7)) return HelpMenu.pTitle;
    for (int i = 1; i <= F.linkItems; ++i)
        PutMem(HelpMenuItems[i].pText);
    F.linkItems = 0;
    // Fields the engine keeps in items (values, saved states) start at zero
    // on every page, as they would in a fresh static table.
    memset(HelpMenuItems, 0, sizeof(TextMenuItem) * static_cast<size_t>(HelpMenuItemCnt));

    HelpMenuItems[0].pText = page->pText ? page->pText : EmptyText;
    HelpMenuItems[0].Type = MENU_LINE;
    if (!page->pName) page->pName = ContentsName;
    int n = 1;
    for (ListNode *node = page->Links.pHead; node; node = node->pNext) {
        HtmlLink *link = *static_cast<HtmlLink **>(node->pData);
        // Only hyperlinks lead anywhere: an anchor's text is not an item.
        if (link->Kind != HTML_LINK_HREF || !link->pTarget || link->TextLen == 0) continue;
        TextMenuItem &item = HelpMenuItems[n];
        item.pText = LinkItemText(page, link);
        item.Type = MENU_COMMAND;
        item.Show = MENU_SHOW;
        item.Key = static_cast<uint32_t>(n);
        item.Action = TtyHelpGotoLink;
        item.pUserData = link;
        item.SavedValue = -1;
        ++n;
    }
    F.linkItems = n - 1;

    // The catalog may move the letters: each item's key follows its text.
    HelpCommonItems[2].pText = LetteredText(150, ExitText, &F.common[0]);
    HelpCommonItems[3].pText = LetteredText(151, ContentsText, &F.common[1]);
    HelpCommonItems[4].pText = LetteredText(152, BackText, &F.common[2]);
    for (int i = 2; i <= 4; ++i)
        HelpCommonItems[i].Key = static_cast<unsigned char>(HelpCommonItems[i].pText[1]);
    memcpy(&HelpMenuItems[n], HelpCommonItems, sizeof HelpCommonItems);

    char *title = MenuTitle("Dorna");
    PutMem(F.title);
    F.title = title;
    HelpMenu.pTitle = title;
    HelpMenu.pItems = HelpMenuItems;
    return title;
}

int32_t TtyHelpGotoLink(TextMenu * /*menu*/, TextMenuItem *item) {
    if (item) ProcessLink(static_cast<HtmlLink *>(item->pUserData));
    ReportLinkFailure();
    TtyHelpBuildMenuItems();
    return 1;
}

int32_t TtyHelpContents(TextMenu * /*menu*/, TextMenuItem * /*item*/) {
    if (!HtmlSetHistory(0)) return 0;
    TtyHelpBuildMenuItems();
    return 1;
}

int32_t TtyHelpBack(TextMenu * /*menu*/, TextMenuItem * /*item*/) {
    if (!HtmlSetHistory(-1)) return 0;
    TtyHelpBuildMenuItems();
    return 1;
}

char *TtyHelpDefaultTitle(void) {
    return MenuTitle(my_name != nullptr && *my_name != '\0' ? my_name : "Dorna");
}

// A file that cannot be read leaves its message on the screen until it has been
// read, as a failed link does.
void TtyHtmlHelp(const char *name, char *data, const char *title) {
    if (!name || !title) return;
    if (!HtmlHelp(name, data)) {
        PostMsg("%s", "");
        return;
    }
    PutMem(pHelpTitle);
    pHelpTitle = SaveStr_(title);
    HelpMenu.pTitle = pHelpTitle;
    TtyHelpBuildMenuItems();
    RunMenu(&HelpMenu, nullptr, 1);
}

namespace {

// The menu engine's 'h' answer opens the help the host program named. The
// hook is set while the program starts, so every program that can name its
// help (pTtyHtmlName lives in this file) has it, and the engine needs no
// link to the viewer.
// A program that names no help file gets a line that says so; one that
// names no title gets its help all the same.
void OpenHostHelp() {
    if (pTtyHtmlName == nullptr) {
        PostNoHelp();
        return;
    }
    if (pTtyHtmlTitle != nullptr) {
        TtyHtmlHelp(pTtyHtmlName, pTtyHtmlData, pTtyHtmlTitle);
        return;
    }
    char *title = TtyHelpDefaultTitle();
    TtyHtmlHelp(pTtyHtmlName, pTtyHtmlData, title ? title : "Help");
    PutMem(title);
}

struct HookInstaller {
    HookInstaller() { pMenuHelpHook = OpenHostHelp; }
} Installer;

} // namespace
