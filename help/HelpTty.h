// HelpTty.h - the help viewer's terminal front end: a help page shown as a
// menu of the text-menu engine. The page's text is one line item, each
// hyperlink of the page a numbered command item, and three lettered items
// leave the help, go to the contents and go back. The menu engine opens it
// when the user answers 'h' in a menu that offers help, with the help file
// the host program named in pTtyHtmlName (or the text in pTtyHtmlData).
//
// Lifecycle: the item array is built anew for every page shown and only ever
// grows; link item texts and the lettered items' texts are the viewer's own
// copies, given back at the next build. Texts come from the catalog
// (pDrvCoreDB: 20/150 to 20/152 and the title 30/22), with English texts
// where the catalog has none. Parsing, layout and navigation are html.h's.
#pragma once

#include "TextMenu.h"
#include "html.h"

// The help the menu engine opens: file name, help text already in memory
// (or null) and title. Set by the host program. Without a name the 'h'
// answer says that the menu has no help (PostNoHelp); without a title it
// opens all the same (TtyHtmlHelp is given TtyHelpDefaultTitle()). Linking
// this module sets the engine's pMenuHelpHook.
extern char *pTtyHtmlName;
extern char *pTtyHtmlData;
extern char *pTtyHtmlTitle;

inline constexpr int HELP_DATA_BUF_SIZE = 65535;

extern TextMenu HelpMenu;               // the help menu: centred title, flags 0x1C1
extern TextMenuItem *HelpMenuItems;     // its item array
extern int HelpMenuItemCnt;             // capacity of HelpMenuItems in items
extern TextMenuItem HelpCommonItems[6]; // two column blocks, exit, contents, back, end
extern TextMenuItem BlankTaskItem;      // a spare blank-task item for hosts' own help menus
// For a host that keeps a help text in memory and hands it over as data.
extern char *pHelpTitle;
extern char HelpDataBuf[HELP_DATA_BUF_SIZE];
extern char *pHelpDataBuf;

// Shows the help file name (or the help text data) as the help menu and
// returns when the user leaves it. Nothing happens without a name or a
// title; a file that cannot be loaded is reported and the user's <Return>
// awaited.
void TtyHtmlHelp(const char *name, char *data, const char *title);

// The title of the help of a program that names none: catalog 30/22 ("%s
// Help") with my_name ("Dorna" while unset), as a new stored text (PutMem).
char *TtyHelpDefaultTitle(void);

// Builds the help menu's items for pCurrentPage and returns the menu's new
// title (also stored in HelpMenu.pTitle).
char *TtyHelpBuildMenuItems(void);

// Actions of the help menu's items. TtyHelpGotoLink follows the item's link
// (pUserData) and rebuilds the items; it returns non-zero so the engine keeps
// the rebuilt menu as it stands. TtyHelpContents and TtyHelpBack move through
// the history and rebuild the items: non-zero after moving, 0 when the
// history is empty.
int32_t TtyHelpGotoLink(TextMenu *menu, TextMenuItem *item);
// Both may also be called without arguments.
int32_t TtyHelpContents(TextMenu *menu = nullptr, TextMenuItem *item = nullptr);
int32_t TtyHelpBack(TextMenu *menu = nullptr, TextMenuItem *item = nullptr);
