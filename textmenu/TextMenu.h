// TextMenu.h - the text-menu engine: menus of MenuRecords.h shown as numbered
// pages, their answers, entry validation, settings files, the state picker and
// the pass-phrase prompt.
#pragma once

#include "MenuRecords.h"

#include <cstddef>

// ===========================================================================
// The engine
//
// Lifecycle. RunMenu initialises a menu (InitMenu) at every run, edits its
// items while it runs and frees the text buffers of name and text items
// (FreeMenu) when the menu is left, unless the menu keeps its values
// (MENU_KEEP_VALUES). Item tables are the caller's: state lists (pStates) are
// changed in place by HideStateSelection and ShowStateSelection, so they must
// be writable. pCurState points into the tokenizer's GetTokenBuf and is valid
// until the next tokenizer call.
//
// Item numbers written in state formats, condition terms and settings files
// are indexes into the item array; an index outside the array is ignored.
//
// Texts shown to the user come from the catalog database pDrvCoreDB
// (sections 25 and 30). Answers are read from standard input into LineBuf.
//
// Linking. The engine stands on the catalog (NlsUtils.h), the record store
// (Dbm.h), the command layer (SysCmd.h), the support utilities and the memory manager, and the
// pass-phrase locks on the C library's crypt (-lcrypt). The target
// Dorna::textmenu (dorna::textmenu in the tree) carries all of them in link
// order; with pkg-config, `pkg-config --libs dorna` does. The 'h' answer opens
// the help viewer only in a program linked with Dorna::help (HelpTty.h).
//
// A host program's set-up (my_name, pToolPath, pNLSLang, pDrvCoreDB, the help
// title) is one call: DornaToolInit (DornaTool.h).
//
// Answers on a page. A number chooses the item with that key; "N value"
// sets a value item at once ("3 2" gives item 3 the value 2) and "N k"
// chooses state k of a pick item; a letter chooses the lettered item ("~x
// Exit" is chosen with x); 'h' opens the help (MENU_HELP), 's' stores the
// settings (MENU_SAVE_ASK, MENU_SAVE_EXIT); an empty answer asks to leave.
//
// Item actions (TextMenuItem::Action) return 0 for success and anything
// else for "stay":
// - apply, cancel, exit and command items: the action runs when the item is
//   chosen (a null action counts as success). On success an apply, cancel or
//   exit item leaves the menu, and a command item marks the menu changed (or
//   runs InitMenu again under MENU_REINIT, putting every value back to its
//   default); on failure the menu stays as it is. An apply item first checks
//   that every name item is set (TestNames).
// - pick, name, text, integer and float items: the action runs after the
//   value changed; its result is not used. It may adjust the item's Value
//   (it sees the former one in PrevValue for pick items).
// Leaving. An exit item (or a cancel item) leaves at once: no apply question,
// and the menu's Apply does not run. An empty answer: in a menu without an
// apply question (pApplyPrompt null) Apply runs, then the user is asked
// whether to leave; with one, after a change, "y" to it runs Apply and
// leaves, and otherwise the user is asked whether to leave. A run without
// interaction (RunMenu with interactive 0) returns Apply(menu), or the menu
// itself without an Apply.
//
// Help. With MENU_HELP the page offers " or h for help". 'h' shows the help
// file the program named in pTtyHtmlName (HelpTty.h), also when it set no
// title (pTtyHtmlTitle). A program that names no help file, or is not linked
// with the help viewer, shows "No help is available for this menu." (catalog
// 25/1025) and waits for <Return>.
//
// Settings files (StoreMenu, LoadMenu, LoadMenuFile) hold one line per value
// item: "N[value] kind show", N the item's index in the array, kind its Type,
// show its Show. Written are name, text (the text), integer (decimal), float
// ("%.3f"), pick-one (the state's index) and pick-many (the bit mask as an
// unsigned decimal number) items; lines, bars, columns, blank tasks,
// commands and the apply, cancel and exit items hold no value and are not
// written. A shown submenu item is written as a block: "N{", the submenu's
// lines, "}". For example
//     1[lp4] 11 0
//     3[2] 13 0
//     5[1] 9 0
//     11{
//     0[Banner] 12 0
//     }
//
// Entry formats (TextMenuItem::pFormat of name, text, integer and float
// items; ValidateEntry) are read left to right:
//     A(min,max)  letters and digits from here to the end, whole length
//                 min..max (a max of 0: no length limit)
//     a(min,max)  letters only; p(min,max): printable characters
//     L(min,max)  whole length min..max, characters not checked (also t(..))
//     d(min,max)  a decimal integer min..max, the whole entry digits
//     x(min,max)  a hexadecimal integer here, min..max written in decimal
//     f(min,max)  a decimal fraction (digits and at most one '.'), min..max
//     D(min,max)  a number of digits and '.', extended precision, min..max
//     !(text)     the entry must not be text
//     +c / -c     after A, a, p, d or D: c is allowed as well / forbidden
//     X|Y         either X or Y holds (alternatives, tried left to right)
//     X&Y         X holds and Y holds, each from the entry's start
//     any other character: a literal the entry holds at this place
//     (blanks, tabs and newlines between elements are ignored)
// Examples:
//     "A(1,32)+-+_"       a name: 1 to 32 letters, digits, '-' or '_'
//     "d(1,999)"          a whole number from 1 to 999
//     "f(0.1,4)"          a fraction from 0.1 to 4
//     "/A(1,255)+-+_+/"   an absolute path of letters, digits, '-', '_', '/'
//     "A(1,8)|d(1,99)"    up to 8 letters and digits, or a number 1 to 99
//     "A(1,16)&!(root)"   a name of up to 16 characters that is not "root"
// A value that fails is refused with the reason on the page; the item keeps
// its value.
// ===========================================================================

// Failure codes of ValidateEntry and ValidateEntryTty.
constexpr int ENTRY_OK = 0;
constexpr int ENTRY_RANGE = 1;     // number out of range, or more than one '.'
constexpr int ENTRY_LENGTH = 2;    // wrong length
constexpr int ENTRY_CHARACTER = 3; // invalid character
constexpr int ENTRY_FORBIDDEN = 4; // forbidden entry

// Size of the text buffer of a name or text item: at most 255 characters.
constexpr int MENU_TEXT_VALUE_SIZE = 256;

// ---------------------------------------------------------------------------
// Menu model and item states (MenuModel.cpp)
// ---------------------------------------------------------------------------

// Initialises every item: text lengths, state counts, start values (defaults),
// selection keys, the text buffers of name and text items (reused when
// present, else taken from the memory manager) and the state formats of
// pick-one and pick-many items. `work` is not read. Returns the length of the
// longest item text.
int InitMenu(TextMenu *menu, void *work);

// Gives the text buffers of name and text items back and nulls their Value.
void FreeMenu(TextMenu *menu);

// 1 when every name item (up to the first hidden item) holds a non-empty
// value. Otherwise prints the "All names must be set" text, waits for a line
// of input and returns 0.
int TestNames(TextMenu *menu);

// The first item of that kind, or null.
TextMenuItem *FindTextMenuItem(TextMenu *menu, uint32_t kind);

// The submenu item `index` stands for now: its Value, or with a condition
// list (pFormat) the submenu of the first condition that holds. Null when the
// item is not a shown submenu item, no condition holds or index is outside
// the item array.
TextMenu *ValidateMenu(TextMenu *menu, int index);

// Evaluates one condition term "N.V", "+N.V" (N items after `owner`) or
// "-N.V" (N before): 0 when item N does not hold V (or does not exist), 1
// when it does and is shown normally, 2 when it does and is disabled or
// hidden.
int TestState(TextMenu *menu, const char *term, int owner);

// Evaluates a condition expression: terms, '!' (not), '&' (and), '|' (or),
// parentheses and a postfix 'A' (the term holds and its item is not shown
// normally); '&' and '|' bind equally, left to right. Given 0 or 1 instead of
// a text, continues on the expression being evaluated: 0 up to the closing
// parenthesis, 1 one operand. Terms are cut at 79 characters.
int TestStateCondition(TextMenu *menu, const char *expr, int owner);

// 1 when the value set (numbers separated by other characters) holds '*' or
// value, else 0.
int TestFormatState(const char *set, intptr_t value);

// Carries out the state format of item `index` (N, H, P and S groups). Items
// reached again through P groups are processed once per outer call.
void ProcessStateFormat(TextMenu *menu, int index);

// Refreshes pCurState from Value; a pick-one item whose current state is
// hidden moves on to the next visible state, cyclically.
void UpdateStateSelection(TextMenuItem *item);

// Hides state n (0-based) of the item's state list; nothing for a negative n.
void HideStateSelection(TextMenuItem *item, int n);

// Shows state n again and returns its text (in GetTokenBuf); for a negative n
// returns the item's text and changes nothing; null when there is no state n.
char *ShowStateSelection(TextMenuItem *item, int n);

// ---------------------------------------------------------------------------
// Entry validation (Validate.cpp)
// ---------------------------------------------------------------------------

// The range messages of ValidateEntry, fetched from the catalog when first
// needed and kept for the process.
extern char *pErrIntRange;
extern char *pErrFloatRange;
extern char *pErrLongRange;

// Checks an entry against an entry format. Returns ENTRY_OK, or a failure code
// after showing why and waiting for <Return>. A null format accepts
// everything; a null entry counts as empty.
int ValidateEntry(const char *entry, const char *format);

// As ValidateEntry, for values that come from a file rather than the user:
// the failure code only, nothing shown and no answer awaited.
int ValidateEntryQuiet(const char *entry, const char *format);

// Checks length (range "(min,max)", null for exactly 4) and digits; shows the
// failure and waits for <Return>. Returns 0, 2 or 3.
int ValidateEntryTty(const char *entry, const char *range);

// Null when the entry's length lies in the range ("(min,max)"; null means 4
// to 4; a max of 0 sets no upper limit), else the message in NlsBuf.
char *ValidateEntryLen(const char *entry, const char *range);

// The first character of entry that is not a digit, 0 when there is none.
int ValidateEntryDigit(const char *entry);

// Reads "(min,max)": stores min, returns max. Null gives 0 and 0.
int getMinMax(const char *range, int *min);

// 1 when every character is a letter, digit, '_' or '-'. Otherwise shows the
// offending character, waits for a line of input and returns 0.
int TestName(const char *text);

// Prints the message, then "Press <Return> to continue", and reads one line.
[[gnu::format(printf, 1, 2)]] void PostMsg(const char *format, ...);

// ---------------------------------------------------------------------------
// Menu page and run loop (MenuPage.cpp)
// ---------------------------------------------------------------------------

// When set, RunMenu returns at once and every running menu leaves after its
// current selection. Set by callers outside the engine.
extern unsigned char flExitTextMenu;
// The argument of the current answer: the text behind its first word.
extern char *pOption;
// What the 'h' answer of a menu with MENU_HELP runs. The help viewer stands
// on this engine, so the engine cannot call it by name: the viewer's front
// end (HelpTty.h) sets this hook in every program it is linked into. Null:
// the answer opens nothing.
extern void (*pMenuHelpHook)(void);

// Runs a menu: initialises it, loads the settings file when given (a file
// that cannot be opened runs the first cancel item's action and returns its
// result, or the item, or null), then, when not interactive, returns
// Apply(menu) or the menu; when interactive, shows pages and acts on answers
// until the user leaves (null). End of input ends the process (status 1).
intptr_t RunMenu(TextMenu *menu, const char *settings, int interactive);

// Prints one page: the terminal is cleared, then title, items with their
// values (dots up to column `dots`) and the answer prompt. Returns the number
// of items walked.
int PrintMenu(TextMenu *menu, int dots, int titleLen);

// Prints the column block that starts at `first` (kind 1 or 3), advancing
// *index over its items. Returns the block's last item.
TextMenuItem *PrintMenuBarItem(TextMenuItem *first, int kind, int *index);

// Decodes the answer in LineBuf (and sets pOption). Returns the 1-based index
// of the chosen item among the first `count`, 0 for none ('h' and 's' act
// here and choose nothing). `work` is not read.
int FindSelection(TextMenu *menu, void *work, int count);

// Carries out the choice of item `index` (0-based) with the answer's
// argument. Returns 1 when a value changed or an action succeeded.
int ProcessSelection(TextMenu *menu, int index, char *arg);

// Prints "No help is available for this menu." (catalog 25/1025) and waits
// for <Return>: the 'h' answer of a program that names no help.
void PostNoHelp(void);

// Asks "<question>? [y/n] " until the answer begins with y (1) or n (0); end
// of input answers 0.
[[gnu::format(printf, 1, 2)]] int PromptYN(const char *format, ...);

// Prints the prompt and reads an answer of at most 1023 characters into buf
// (which must hold 1024 bytes), or, with a null buf, into a new stored copy
// the caller frees with PutMem. Null at end of input.
char *PromptUser(const char *prompt, char *buf);

// ---------------------------------------------------------------------------
// Settings files (Settings.cpp)
// ---------------------------------------------------------------------------

// Set when a settings file was read.
extern unsigned char flLoadedSettings;
// Lines the last LoadMenu refused (each named on standard error).
extern int32_t SettingsLinesRefused;

// Writes the values of the menu and of its current submenus to pOut: one
// record per name, text, integer, float, pick-one and pick-many item
// ("N[mask] 10 show", the mask as an unsigned decimal number).
void StoreMenu(TextMenu *menu);

// Writes the settings of the menu to the file path, replacing it whole: a
// temporary beside it is written, synced and renamed over it. Returns 1, or
// 0 when the file cannot be written (it is then left as it was). A symbolic
// link at path is not replaced: "WARNING: <path> is a symbolic link, which is
// not replaced" on standard error, and 0.
int StoreMenuFile(TextMenu *menu, const char *path);

// Reads values from the open input file (pIn) into the menu and its
// submenus. Every value goes through its item's checks before it is taken:
// the entry format of name, text, integer and float items, the states of
// pick items, no control characters in texts. A record's kind may change an
// item only between name and text. A line that does not fit (not a record,
// no such item, a kind or display state that does not fit, a value refused)
// is skipped and named with its line number on standard error ("<my_name>:
// <file>, line <n>: ..."); the item keeps its value. Text values are read up
// to the record's last ']', blanks included; pick-many masks are read as
// unsigned decimal numbers.
void LoadMenu(TextMenu *menu);

// Reads the settings file at path into the menu and keeps what it read as
// the defaults, so that every later run of the menu (RunMenu starts from the
// defaults) shows the file's values. The menu starts from its defaults; a
// submenu starts from its own when the file holds a block for it, and only
// the menus the file holds are changed. Lines are checked as LoadMenu checks
// them (refused lines counted in SettingsLinesRefused and named on standard
// error). Neither the menu's Apply nor an apply item's action runs. Returns
// 1 when the file was read, 0 (nothing changed, nothing printed) when it
// cannot be opened or an argument is null. Text defaults are the library's
// own copies, replaced at the next load.
int LoadMenuFile(TextMenu *menu, const char *path);

// Makes the current values of the menu's value items their defaults, which
// every run of the menu starts from (InitMenu): a submenu whose Apply calls
// it shows again with what the user left it with. A text item's text is kept
// as the library's own copy, replaced at the next call; one never set keeps
// its default. LoadMenuFile does this for every menu the file holds. Null is
// ignored.
void KeepMenuDefaults(TextMenu *menu);

// The single-precision value kept in the bits of an item's Value, and back.
float GetItemFloat(const TextMenuItem *item);
void SetItemFloat(TextMenuItem *item, float value);

// ---------------------------------------------------------------------------
// Pass-phrase prompt (PassPhrase.cpp)
// ---------------------------------------------------------------------------

// Writes prompt to the terminal ("/dev/tty"; without one, to standard error,
// reading standard input), turns echo off and reads one line of at most 256
// characters within 60 seconds; the line end is not kept and a newline is
// written in its place. Returns a new stored text (PutMem) holding what was
// read, empty or partial after a time-out, end of input or read error; errno
// is what the read left. Echo and the actions of SIGINT, SIGHUP, SIGQUIT,
// SIGTERM, SIGTSTP, SIGTTIN and SIGTTOU are restored on every way out; a
// signal caught meanwhile is raised again afterwards, and after a stop
// (Ctrl-Z) and continue the prompt starts over. Not re-entrant.
char *GetPassPhrase(const char *prompt);

// The prompt's signal catcher: records the signal for GetPassPhrase.
void handler(int sig);

// ---------------------------------------------------------------------------
// Pass-phrase locks (PassLock.cpp)
// ---------------------------------------------------------------------------

// What PassLockRead found at a lock's path.
constexpr int PASSLOCK_NONE = 0;       // nothing: there is no lock
constexpr int PASSLOCK_READ = 1;       // a regular file, its first line read
constexpr int PASSLOCK_UNREADABLE = 2; // something the caller cannot read: locked

// The lock value of phrase: the C library's crypt with a fresh random salt of
// its strongest method ("$y$..." yescrypt), as a new stored text (PutMem).
// Null when the library cannot make one.
char *PassLockValue(const char *phrase);
// 1 when phrase opens a lock holding value: a crypt value made from phrase,
// or a value of the older form (NlsCalcStrVal's 16 hexadecimal digits) that
// phrase gives. 0 otherwise, also for an empty or unknown value.
int PassLockOpens(const char *phrase, const char *value);
// 1 when value is of the older form, which a new value should replace.
int PassLockIsOld(const char *value);
// Reads the first line of the lock at path into value (size bytes, the line
// end cut) and returns PASSLOCK_READ; PASSLOCK_NONE when nothing is there;
// PASSLOCK_UNREADABLE for anything else: a directory, FIFO, device, a link
// that leads nowhere, a file the caller may not read or a read error. Never
// waits: a file that is not regular is not opened, and the open does not
// block. value is empty unless PASSLOCK_READ.
int PassLockRead(const char *path, char *value, size_t size);

// ---------------------------------------------------------------------------
// Full-screen state picker (Picker.cpp) and screen image (Screen.cpp)
// ---------------------------------------------------------------------------

// A screen image: the terminal's cells composed in memory and sent at once.
struct TermImage {
    int32_t Cols;      // columns of the terminal
    int32_t Rows;      // rows of the terminal
    int32_t CurCol;    // write column, 0-based
    int32_t CurRow;    // write row, 1-based
    int32_t OvlCol;    // message box of Overlay: top-left column, 0-based
    int32_t OvlRow;    // and row, 0-based
    int32_t OvlWidth;  // characters of each text line of the box
    int32_t OvlHeight; // text lines of the box
    char *pCells;      // Cols x Rows characters, row after row, no line ends
};

// Edits the states of a pick-one or pick-many item (menu->pItems[index]) on a
// full screen: pages of numbered states; an answer of numbers (commas, blanks
// or tabs between them) picks (pick-one) or toggles (pick-many) states, an
// empty answer turns the page, the save answer leaves keeping the values and
// the cancel answer (or end of input) restores the value the picker started
// with. Each change runs ProcessStateFormat and the item's Action. preset, when
// not null or empty, is taken as the first answer instead of reading a line.
void ProcessStateValue(TextMenu *menu, int index, char *preset);

// Composes and shows the page of item's states that begins with state `start`
// (0-based). hidden holds one bit per state of the item ((StateCnt + 31) / 32
// words; bit k of word k / 32 for state k), set for hidden states shown so far
// and cleared when the first page is drawn. Returns the number of states
// shown; -1 when the terminal is too small (after saying so and waiting for a
// key) or `start` is not a state of the item.
int PrintPickOneManyScreen(TextMenuItem *item, uint32_t *hidden, int start);

// Fills widths[c] with the longest state of each column of the picker (at
// most 512 columns; columns of Rows - 6 states) and returns the longest
// state overall.
int GetColumnWidths(TermImage *img, TextMenuItem *item, int *widths);

// Writes the picker's frame: the item's text centred on row 1, the save and
// cancel answers, the current selection (cut to the width) and the answer
// prompt on the last row.
void WriteScreenFrame(TermImage *img, TextMenuItem *item, const char *selection);

// Sets the write position (column 0-based, row 1-based) of WriteString.
void SetPosition(TermImage *img, int col, int row);
// Formats (at most 511 characters) and copies the text into the cells from
// the write position on, without its NUL; a row outside 1..Rows counts as 1,
// a column outside 1..Cols as 0; nothing is written past the last cell.
[[gnu::format(printf, 2, 3)]] void WriteString(TermImage *img, const char *format, ...);
// Fills the cells of a rectangle (column and row 0-based), clipped to the image.
void FillArea(TermImage *img, int col, int row, int width, int height, char c);
// Sets the message box of Overlay; returns img.
TermImage *SetOvlInfo(TermImage *img, int col, int row, int width, int height);
// Draws text in a framed box of stars on the terminal at the box set by
// SetOvlInfo (clipped to the terminal), a newline in the text ending its line;
// with wait, adds "Press enter" and reads one character. The image is not
// changed.
void Overlay(TermImage *img, const char *text, int wait);
// Prints the image row by row, without line ends and without the very last
// cell (so that the terminal does not scroll); a newline cell ends its row.
// Returns 0.
int Refresh(TermImage *img);
// Fills the cells with the digits 0-9 repeated (at most 24 rows of 80).
void NumberScreen(TermImage *img);

// Platform hooks. GetTermInfo returns the image to use, sized to the terminal
// (TIOCGWINSZ on standard output, else LINES and COLUMNS, else 80 x 24): img
// itself when the size is unchanged, else a new image (img, if any, released)
// with blank cells; null only when memory runs out. MoveCursor (column and
// row 0-based) and ClearScreen (which also blanks the image, if one is given)
// write ANSI sequences to standard output; ClearScreen is the one way the
// picker and the menu page clear the terminal.
TermImage *GetTermInfo(TermImage *img);
void MoveCursor(TermImage *img, int col, int row);
void ClearScreen(TermImage *img);
