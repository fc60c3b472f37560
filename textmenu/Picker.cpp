// Picker.cpp - the full-screen state picker.
//
// A page of the picker is composed in a TermImage (Screen.cpp) and sent in
// one go by Refresh. States are numbered across pages; the hidden-state mask keeps one bit per state of
// the item, so a hidden state on any page can never be picked.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "MemMgr.h"
#include "NlsUtils.h"
#include "TextMenu.h"
#include "utils.h"

namespace {

constexpr int kMaxColumns = 512;   // entries of the column-width table
constexpr int kSelectionSize = 64; // CurrentSelection, its NUL included
constexpr int kFrameRows = 6;      // rows of a page that do not hold states
constexpr int kColumnGap = 7;      // " ->" and "%2d) " in front of each state

// Kept between pages of one run and between runs: the image is reused rather
// than allocated for every page, and the frame texts are fetched once.
struct Picker {
    TermImage *pCurImage = nullptr;        // the image of the picker runs
    int CurScreenCol = 0;                  // first column of the page in widths
    char CurrentSelection[kSelectionSize]; // current state name(s), for the frame
    int widths[kMaxColumns];               // longest state of each page column
    // Frame texts from the catalog, fetched once.
    char *save = nullptr;     // save answer: its first character saves
    char *cancel = nullptr;   // cancel answer: its first character cancels
    char *curSel = nullptr;   // "current selection" format, one %s
    char *curTrunc = nullptr; // the same for a cut selection
    char *option = nullptr;   // the answer prompt
};

Picker picker;

// A catalog text as a printf format with exactly one %s: anything else (a
// damaged or odd translation) would read arguments that are not there, so it
// is replaced by a plain "%s".
char *OneStringFormat(char *text) {
    int conversions = 0;
    bool onlyS = true;
    for (const char *p = text; *p; ++p) {
        if (*p != '%') continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        ++conversions;
        onlyS = onlyS && p[1] == 's';
    }
    if (conversions == 1 && onlyS) return text;
    PutMem(text);
    return SaveStr_("%s");
}

// The one-%s format filled with arg ("%%" gives "%").
// Filled by hand rather than with snprintf: the format is a catalog text, which
// is never handed to printf, even checked.
std::string FillOneString(const char *format, const char *arg) {
    std::string out;
    for (const char *p = format; *p; ++p) {
        if (*p == '%' && p[1] == '%') {
            out += '%';
            ++p;
        } else if (*p == '%' && p[1] == 's') {
            out += arg;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

// Fetched once per process: the catalog does not change while a program runs,
// and every page shows them.
void FetchFrameTexts() {
    if (picker.save) return;
    picker.save = NlsFetchString(pDrvCoreDB, nullptr, NLS_NUMBER_LONG, 25, 201);
    picker.cancel = NlsFetchString(pDrvCoreDB, nullptr, NLS_NUMBER_LONG, 25, 202);
    picker.curSel = OneStringFormat(NlsFetchString(pDrvCoreDB, nullptr, NLS_NUMBER_LONG, 25, 203));
    picker.curTrunc =
        OneStringFormat(NlsFetchString(pDrvCoreDB, nullptr, NLS_NUMBER_LONG, 25, 204));
    picker.option = NlsFetchString(pDrvCoreDB, nullptr, NLS_NUMBER_LONG, 25, 205);
}

// The states of an item, split as the tokenizer splits them (runs of commas
// skipped, backslash escapes), read with a private cursor so that a caller's
// scan is left alone.
// Copies, so that the picker can mark and cut them freely; the item's list is
// changed only through its value.
std::vector<std::string> States(const TextMenuItem *item) {
    std::vector<std::string> states;
    if (!item || !item->pStates) return states;
    char *cursor = nullptr;
    char token[TOKEN_BUF_SIZE];
    for (const char *in = item->pStates; GetTokenD(in, ",", &cursor, token); in = nullptr)
        states.emplace_back(token);
    return states;
}

bool Hidden(const std::string &state) {
    return !state.empty() && state[0] == ' ';
}

// The state as shown: one leading blank (hidden) or '_' (may be hidden) skipped.
const char *Shown(const std::string &state) {
    const char *s = state.c_str();
    return (*s == ' ' || *s == '_') ? s + 1 : s;
}

// A pick-many value has one bit per state, so only the first 64 states can be
// chosen; later ones are shown but never marked.
bool Chosen(const TextMenuItem *item, intptr_t value, int k) {
    if (item->Type == MENU_PICK_MANY) return k < 64 && ((static_cast<uint64_t>(value) >> k) & 1);
    return value == k;
}

// The names of the chosen states of the whole item, cut at the buffer.
// The whole item's choice, not the page's: the frame shows what saving would
// keep.
void BuildSelection(const TextMenuItem *item, const std::vector<std::string> &states) {
    std::string sel;
    for (size_t k = 0; k < states.size(); ++k) {
        if (!Chosen(item, item->Value, static_cast<int>(k))) continue;
        sel += Shown(states[k]);
        if (item->Type == MENU_PICK_MANY) sel += ' ';
    }
    snprintf(picker.CurrentSelection, sizeof picker.CurrentSelection, "%s", sel.c_str());
}

void SetBit(uint32_t *mask, int k) {
    mask[k / 32] |= 1u << (k % 32);
}
bool TestBit(const uint32_t *mask, int k) {
    return (mask[k / 32] >> (k % 32)) & 1;
}

int TextLength(const char *text) {
    return text ? static_cast<int>(strlen(text)) : 0;
}

// Says the terminal is too small for the picker and waits for a key.
// The picker cannot page a state that does not fit a line: a terminal too small
// is said as such rather than drawn in pieces.
void TooSmall(TermImage *img, int widest) {
    int needCols = std::max(widest / 2 + 20, TextLength(picker.save) + TextLength(picker.cancel));
    Nlsfprintf(stdout, pDrvCoreDB, 25, 206);
    Nlsfprintf(stdout, pDrvCoreDB, 25, 207, img->Cols, img->Rows);
    Nlsfprintf(stdout, pDrvCoreDB, 25, 208, needCols, kFrameRows + 1);
    fflush(stdout);
    getchar();
}

// Next answer of the picker: the preset once, else a line from standard
// input into LineBuf. Null at the end of input.
// The preset is the rest of the menu line ("10 3"), taken as the first answer
// so that one line can choose the item and its states.
char *ReadAnswer(char *&preset) {
    if (preset && *preset) {
        char *answer = preset;
        preset = nullptr;
        return answer;
    }
    fflush(stdout);
    return Gets(LineBuf, LINE_BUF_SIZE);
}

// Every change runs the state format and the action at once, as on the menu
// page, so that the other items follow while the picker is still open.
void Changed(TextMenu *menu, int index, intptr_t value) {
    TextMenuItem *item = &menu->pItems[index];
    item->PrevValue = item->Value;
    item->Value = value;
    ProcessStateFormat(menu, index);
    if (item->Action) item->Action(menu, item);
}

} // namespace

// ---------------------------------------------------------------------------
// Picker
// ---------------------------------------------------------------------------

// Columns hold as many states as the terminal has rows left, so a column's
// width depends on the terminal: it is measured for each run.
int GetColumnWidths(TermImage *img, TextMenuItem *item, int *widths) {
    if (!img || !item || !widths) return 0;
    std::vector<std::string> states = States(item);
    int perColumn = std::min(static_cast<int>(states.size()), img->Rows - kFrameRows);
    if (perColumn < 1) perColumn = 1;
    int widest = 0;
    for (size_t k = 0; k < states.size(); ++k) {
        int len = static_cast<int>(strlen(Shown(states[k])));
        size_t column = k / static_cast<size_t>(perColumn);
        if (column < kMaxColumns) widths[column] = std::max(widths[column], len);
        widest = std::max(widest, len);
    }
    return widest;
}

void WriteScreenFrame(TermImage *img, TextMenuItem *item, const char *selection) {
    if (!img || !item) return;
    FetchFrameTexts();
    const char *title = item->pText ? item->pText : "";
    if (title[0] == '~' && title[1] && title[2]) title += 3; // a lettered item's text
    SetPosition(img, std::max((img->Cols - TextLength(title)) / 2, 0), 1);
    WriteString(img, "%s", title);
    SetPosition(img, 0, img->Rows - 2);
    WriteString(img, "%s", picker.save);
    SetPosition(img, img->Cols / 2, img->Rows - 2);
    WriteString(img, "%s", picker.cancel);
    // The selection, cut so that the whole line fits the width.
    if (!selection) selection = "";
    // The "- 2" is the "%s" the selection takes the place of.
    int room = img->Cols - (TextLength(picker.curSel) - 2);
    if (TextLength(selection) <= room) {
        SetPosition(img, 0, img->Rows - 1);
        WriteString(img, "%s", FillOneString(picker.curSel, selection).c_str());
    } else {
        int keep = std::max(img->Cols - (TextLength(picker.curTrunc) - 2) - 1, 0);
        std::string cut(selection, static_cast<size_t>(std::min(keep, TextLength(selection))));
        SetPosition(img, 0, img->Rows - 1);
        WriteString(img, "%s", FillOneString(picker.curTrunc, cut.c_str()).c_str());
    }
    SetPosition(img, 0, img->Rows);
    WriteString(img, "%s", picker.option);
}

namespace {

// The columns of the width table that fit the terminal side by side, from
// the page's first column (picker.CurScreenCol) on; *used gets the
// characters they take. A first column wider than the terminal is still
// shown when half of it fits (its states are cut). CurScreenCol moves on to
// the first column left for the next page.
std::vector<int> FitColumns(const TermImage *img, int *used) {
    std::vector<int> fitted;
    *used = 0;
    int col = picker.CurScreenCol;
    while (*used < img->Cols && col < kMaxColumns && picker.widths[col] != 0) {
        int need = picker.widths[col] + kColumnGap;
        if (*used + need > img->Cols) {
            if (fitted.empty() && picker.widths[col] / 2 + kColumnGap <= img->Cols) {
                fitted.push_back(col++);
                *used = img->Cols;
            }
            break;
        }
        fitted.push_back(col++);
        *used += need;
    }
    if (fitted.empty())
        fitted.push_back(picker.CurScreenCol); // a state longer than any width: cut below
    picker.CurScreenCol = col;
    return fitted;
}

// Draws state number index (0-based) at column x of row: the " ->" of a
// chosen state, the number the user types (none for a hidden state) and
// the text. Only the first column's texts are cut to the terminal: later
// columns were fitted to it.
void DrawState(TermImage *img, TextMenuItem *item, const std::string &state, int index, int x,
               int row, bool firstColumn) {
    if (Chosen(item, item->Value, index)) {
        SetPosition(img, x, row);
        WriteString(img, " ->");
    }
    if (!Hidden(state)) {
        SetPosition(img, x + 4, row);
        WriteString(img, "%2d) ", index + 1);
    }
    SetPosition(img, x + 8, row);
    const char *text = Shown(state);
    int limit = img->Cols - x - kColumnGap;
    if (firstColumn && static_cast<int>(strlen(text)) > limit) {
        std::string cut(text, static_cast<size_t>(std::max(limit - 3, 0)));
        WriteString(img, "%s...", cut.c_str());
    } else {
        WriteString(img, "%s", text);
    }
}

} // namespace

// A page starts a run when start is 0: the terminal's size, the widths and the
// hidden-state mask are taken anew, so a terminal resized between runs is met.
int PrintPickOneManyScreen(TextMenuItem *item, uint32_t *hidden, int start) {
    if (!item || !hidden) return -1;
    std::vector<std::string> states = States(item);
    int count = static_cast<int>(states.size());
    if (start == 0) {
        TermImage *img = GetTermInfo(picker.pCurImage);
        if (!img) return -1;
        picker.pCurImage = img;
        picker.CurScreenCol = 0;
        FetchFrameTexts();
        memset(hidden, 0,
               static_cast<size_t>((std::max(item->StateCnt, count) + 31) / 32) * sizeof(uint32_t));
        // Widths of an earlier item or terminal size must not widen this run's
        // columns.
        memset(picker.widths, 0, sizeof picker.widths);
        int widest = GetColumnWidths(img, item, picker.widths);
        if (img->Rows - kFrameRows < 1 ||
            img->Cols < TextLength(picker.save) + TextLength(picker.cancel) ||
            img->Cols < widest / 2 + 20) {
            TooSmall(img, widest);
            return -1;
        }
    }
    TermImage *img = picker.pCurImage;
    if (!img || start < 0 || start >= count) return -1;
    int perColumn = img->Rows - kFrameRows;
    if (perColumn < 1) return -1;
    // The page's first column in the width table is the column of its first state.
    if (start > 0) picker.CurScreenCol = std::min(start / perColumn, kMaxColumns - 1);

    ClearScreen(img);
    SetPosition(img, 0, 0);

    int used = 0;
    std::vector<int> fitted = FitColumns(img, &used);
    int columns = static_cast<int>(fitted.size());
    int shown = std::min(perColumn * columns, count - start);

    BuildSelection(item, states);
    int offset = 0, row = 3, column = 0;
    for (int l = 0; l < shown; ++l) {
        if (l != 0 && l % perColumn == 0) {
            offset += picker.widths[fitted[static_cast<size_t>(column)]] + kColumnGap;
            ++column;
            row = 3;
        }
        // The room the columns leave is shared out between them, so a page with
        // few columns does not crowd to the left.
        int spread = (column == 0 || columns == 1) ? 0 : (img->Cols - used) / columns;
        const std::string &state = states[static_cast<size_t>(start + l)];
        if (Hidden(state)) SetBit(hidden, start + l);
        DrawState(img, item, state, start + l, offset + spread, row, column == 0);
        ++row;
    }
    WriteScreenFrame(img, item, picker.CurrentSelection);
    Refresh(img);
    // The cursor waits behind the prompt, where the answer will be typed.
    MoveCursor(img, TextLength(picker.option), img->Rows - 1);
    fflush(stdout);
    return shown;
}

// The picker pages through the states on <Return> and takes numbers in any
// number per answer; save keeps what was chosen, cancel and the end of input go
// back to the value the run started with.
void ProcessStateValue(TextMenu *menu, int index, char *preset) {
    if (!menu || !menu->pItems || index < 0) return;
    TextMenuItem *item = &menu->pItems[index];
    if (item->Type != MENU_PICK_ONE && item->Type != MENU_PICK_MANY) return;
    std::vector<std::string> states = States(item);
    int count = std::max(item->StateCnt, static_cast<int>(states.size()));
    std::vector<uint32_t> hidden(static_cast<size_t>(count + 31) / 32 + 1, 0);
    intptr_t starting = item->Value, working = item->Value;
    int start = 0, shown = 0;
    bool changed = false;
    FetchFrameTexts();
    // The keys are the first letters of the catalog's texts, so that a
    // translation brings its own keys.
    char saveKey = static_cast<char>(tolower(static_cast<unsigned char>(picker.save[0])));
    char cancelKey = static_cast<char>(tolower(static_cast<unsigned char>(picker.cancel[0])));
    for (;;) {
        // Only an empty answer pages on; after any other answer the same page
        // is drawn again, showing what it changed.
        if (!changed) start = (shown > 0 && start + shown < count) ? start + shown : 0;
        changed = false;
        shown = PrintPickOneManyScreen(item, hidden.data(), start);
        if (shown < 0) return;

        char *answer = ReadAnswer(preset);
        if (!answer) { // end of input: as cancel, so nothing is half changed
            if (item->Value != starting) Changed(menu, index, starting);
            return;
        }
        char first = static_cast<char>(tolower(static_cast<unsigned char>(answer[0])));
        if (first == 0) continue; // the next page, or the first after the last
        if (first == saveKey) return;
        if (first == cancelKey) {
            Changed(menu, index, starting);
            return;
        }
        if (!isalnum(static_cast<unsigned char>(first))) {
            changed = true; // redraw the same page
            continue;
        }
        working = item->Value;
        bool refused = false, any = false;
        char *cursor = nullptr;
        char piece[TOKEN_BUF_SIZE];
        for (const char *in = answer; GetTokenD(in, ", \t", &cursor, piece); in = nullptr) {
            if (!isalnum(static_cast<unsigned char>(piece[0]))) continue;
            // Hidden states are refused both by the mask of the pages drawn and
            // by the list itself, so a number of a page not yet shown cannot
            // pick one either.
            long n = strtol(piece, nullptr, 10);
            if (n < 1 || n > count || TestBit(hidden.data(), static_cast<int>(n - 1)) ||
                (static_cast<size_t>(n) <= states.size() &&
                 Hidden(states[static_cast<size_t>(n - 1)]))) {
                refused = true;
                break;
            }
            any = true;
            if (item->Type == MENU_PICK_ONE)
                working = n - 1;
            else if (n <= 64)
                working ^= static_cast<intptr_t>(1) << (n - 1);
        }
        // The same page is shown again, changed or not. A refused number
        // drops the rest of the answer; the numbers before it still count.
        changed = true;
        if (refused) LineBuf[0] = 0;
        preset = nullptr;
        if (any) Changed(menu, index, working);
    }
}
