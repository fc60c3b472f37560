// MenuRecords.h - the records of the text-menu engine: a menu is a TextMenu that
// points to an array of TextMenuItem records ended by an item whose pText is
// null.
//
// Menus are usually static tables of the calling program, filled field by
// field; the translation catalog fills pText, pPrompt and pStates of
// consecutive items from its entries, and the help viewer builds menus at run
// time. Text fields are plain char pointers: pStates is edited in place (hidden
// states), so a menu's state lists must be writable.
//
// Fields keep their order. A field that is a 32-bit word on paper but may hold
// a pointer (Default, Value, PrevValue, the Apply result) is intptr_t.
//
// This header depends on nothing but <cstdint>: the translation catalog fills
// menus without standing on the engine that runs them (TextMenu.h).
#pragma once

#include <cstdint>

struct TextMenu;
struct TextMenuItem;

// Item kinds (TextMenuItem::Type).
constexpr uint32_t MENU_LINE = 0;       // text line, printed as it stands
constexpr uint32_t MENU_BAR = 1;        // starts a block of following text lines
constexpr uint32_t MENU_BLANK = 2;      // blank task: a placeholder line, no key
constexpr uint32_t MENU_COLUMNS = 3;    // following items printed in Value columns
constexpr uint32_t MENU_APPLY = 4;      // names checked, Action run, leaves on success
constexpr uint32_t MENU_CANCEL = 5;     // Action run, leaves the menu
constexpr uint32_t MENU_EXIT = 6;       // Action (if any) run, leaves the menu
constexpr uint32_t MENU_COMMAND = 7;    // Action run, the menu stays
constexpr uint32_t MENU_SUBMENU = 8;    // runs the submenu ValidateMenu chooses
constexpr uint32_t MENU_PICK_ONE = 9;   // Value: 0-based index into pStates
constexpr uint32_t MENU_PICK_MANY = 10; // Value: bit k set when state k is chosen
constexpr uint32_t MENU_NAME = 11;      // text that must be set before an apply
constexpr uint32_t MENU_TEXT = 12;      // text value
constexpr uint32_t MENU_INTEGER = 13;   // signed integer value
constexpr uint32_t MENU_FLOAT = 14;     // single-precision value in Value's bits

// Display states (TextMenuItem::Show).
constexpr uint32_t MENU_SHOW = 0;     // shown and selectable
constexpr uint32_t MENU_DISABLED = 1; // shown without a number or key
constexpr uint32_t MENU_HIDDEN = 2;   // neither shown nor selectable

// Title alignments (TextMenu::TitleAlign).
constexpr int32_t MENU_TITLE_COLON = 0;  // title followed by a colon
constexpr int32_t MENU_TITLE_CENTRE = 1; // centred in 80 columns
constexpr int32_t MENU_TITLE_RIGHT = 2;  // right-aligned in 80 columns

// Menu flags (TextMenu::Flags).
constexpr uint16_t MENU_NO_EXIT = 0x001;        // no "<Return> to exit"; empty answer selects
constexpr uint16_t MENU_HELP = 0x002;           // " or h for help", h opens the help viewer
constexpr uint16_t MENU_KEEP_VALUES = 0x004;    // no FreeMenu when the menu is left
constexpr uint16_t MENU_SAVE_ASK = 0x008;       // s stores settings in a file the user names
constexpr uint16_t MENU_SAVE_EXIT = 0x010;      // s stores ".settings" and exits with 0
constexpr uint16_t MENU_REINIT = 0x040;         // InitMenu again after a command succeeded
constexpr uint16_t MENU_KIND_BEFORE = 0x080;    // leave decided by the kind before the action
constexpr uint16_t MENU_NO_BLANK_LINES = 0x100; // no blank line between items

// One menu item (16 fields).
struct TextMenuItem {
    char *pText;        // display text; null ends the array; "~k Text" is lettered with key k
    uint32_t Type;      // item kind, MENU_LINE .. MENU_FLOAT
    uint32_t Show;      // MENU_SHOW, MENU_DISABLED or MENU_HIDDEN
    char *pPrompt;      // prompt of value entry (kinds 11-14), printed as "%s: "
    char *pStates;      // comma list of states (kinds 9, 10), edited in place
    char *pCurState;    // token of the current state; lives in the tokenizer's buffer
    intptr_t Default;   // default: index, bit mask, integer, float bits or text pointer
    intptr_t Value;     // current value in the same encoding; text buffer, columns or submenu
    intptr_t PrevValue; // value before the last change (kinds 9, 10)
    int32_t (*Action)(TextMenu *, TextMenuItem *); // run after a choice or change; may be null
    int32_t TextLen;                               // length of pText, set by InitMenu
    char *pFormat;      // entry format, state format or submenu condition list; may be null
    int32_t SavedValue; // value saved by an S state format; negative: none
    int32_t StateCnt;   // number of states in pStates, set by InitMenu
    void *pUserData;    // the caller's, handed to actions through the item
    uint32_t Key;       // selection key: hot key, item number, or 0; set by InitMenu
};

// A menu (9 fields).
struct TextMenu {
    char *pTitle;                  // title; only its first line is measured for centring
    int32_t TitleAlign;            // MENU_TITLE_COLON, MENU_TITLE_CENTRE or MENU_TITLE_RIGHT
    char *pApplyPrompt;            // yes/no question on leaving with changes; null: none
    intptr_t (*Apply)(TextMenu *); // run on an accepted leave; result of a non-interactive run
    int32_t Reserved;              // not used by the engine
    TextMenu *pParent;             // the menu to return to
    void (*Update)(TextMenu *);    // run at each start, after a submenu and after a declined leave
    TextMenuItem *pItems;          // the item array
    uint16_t Flags;                // MENU_NO_EXIT ... MENU_NO_BLANK_LINES
};
