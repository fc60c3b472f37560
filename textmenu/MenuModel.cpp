// MenuModel.cpp - menu items and their states: initialisation, the state
// lists of pick items, condition lists that choose a submenu, and the state
// formats through which one item's state hides, disables, sets or triggers
// other items.
#include "MenuPriv.h"
#include "TextMenu.h"

#include "MemMgr.h"
#include "NlsUtils.h"
#include "utils.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace textmenu_detail;

namespace {

// Characters that separate the tokens of a state format.
constexpr const char STATE_FORMAT_DELIMS[] = "{,.} ";
// A condition term holds at most this many characters; longer terms are cut.
constexpr int TERM_SIZE = 80;

// State formats run recursively (a P target runs its own format, an action may
// run another menu's), so what one run needs lives here rather than on the
// stack of each call.
struct ModelState {
    // The expression cursor of TestStateCondition.
    const char *pS = nullptr;
    // The menu whose state formats are being carried out, null when none.
    TextMenu *formatMenu = nullptr;
    // Items of formatMenu already processed during the current outer call.
    std::vector<char> formatDone;
};
ModelState g;

// Start of token n (0-based) of a comma state list, as the tokenizer splits
// it (runs of commas skipped, a backslash escapes the next character).
// Found by hand rather than through the tokenizer: hiding and showing a state
// writes into the list in place, so the position in the list itself is needed,
// not a copy.
char *StateStart(char *states, int n) {
    if (states == nullptr || n < 0) return nullptr;
    char *p = states;
    for (int k = 0;; ++k) {
        while (*p == ',')
            ++p;
        if (*p == '\0') return nullptr;
        if (k == n) return p;
        while (*p != '\0' && *p != ',')
            p += (p[0] == '\\' && p[1] != '\0') ? 2 : 1;
    }
}

// Reads an integer at *p (optional sign, digits), stepping over it.
// Clamped to 32 bits, as item numbers and values are compared as such.
bool ReadInt(const char **p, int *out) {
    char *end = nullptr;
    long v = strtol(*p, &end, 10);
    if (end == *p) return false;
    if (v > INT32_MAX) v = INT32_MAX;
    if (v < INT32_MIN) v = INT32_MIN;
    *out = static_cast<int>(v);
    *p = end;
    return true;
}

// ---- Condition expressions -------------------------------------------------

bool EvalOperand(TextMenu *menu, int owner);

// An expression: operands joined by '&' and '|', evaluated left to right.
// Inside parentheses it ends at the closing one; at the top level a stray ')'
// is passed over.
// '&' and '|' bind equally, so that a condition reads as it is written;
// parentheses group where that is not enough.
bool EvalExpr(TextMenu *menu, int owner, bool inParen) {
    bool result = false;
    for (;;) {
        char c = *g.pS;
        if (c == '\0') return result;
        if (c == ' ' || c == '\t' || c == 'A') {
            ++g.pS; // an 'A' that follows no term is passed over
        } else if (c == ')') {
            ++g.pS;
            if (inParen) return result;
        } else if (c == '&') {
            ++g.pS;
            bool rhs = EvalOperand(menu, owner);
            result = result && rhs;
        } else if (c == '|') {
            ++g.pS;
            bool rhs = EvalOperand(menu, owner);
            result = result || rhs;
        } else {
            result = EvalOperand(menu, owner);
        }
    }
}

// One operand: '!' operand, a parenthesised expression, or a term with an
// optional 'A'.
bool EvalOperand(TextMenu *menu, int owner) {
    while (*g.pS == ' ' || *g.pS == '\t')
        ++g.pS;
    if (*g.pS == '!') {
        ++g.pS;
        return !EvalOperand(menu, owner);
    }
    if (*g.pS == '(') {
        ++g.pS;
        return EvalExpr(menu, owner, true);
    }
    // A term longer than the buffer is cut rather than refused: whatever a
    // table holds, the buffer is never overrun.
    char term[TERM_SIZE];
    int len = 0;
    while (*g.pS != '\0' && strchr("!&|()A \t", *g.pS) == nullptr) {
        if (len < TERM_SIZE - 1) term[len++] = *g.pS;
        ++g.pS;
    }
    term[len] = '\0';
    // A term ending in 'A' holds only while the item is also hidden or disabled
    // (TestState gives 2).
    if (*g.pS == 'A') {
        ++g.pS;
        return TestState(menu, term, owner) == 2;
    }
    return TestState(menu, term, owner) != 0;
}

// ---- State formats ----------------------------------------------------------

void RunStateFormat(TextMenu *menu, int index, int count);

// Records that item index is processed in this outer call; false when it
// already was.
// Without this a format whose targets point back at each other would recurse
// until the stack ran out.
bool MarkDone(int index) {
    if (index < 0 || static_cast<size_t>(index) >= g.formatDone.size() || g.formatDone[index])
        return false;
    g.formatDone[index] = 1;
    return true;
}

// Applies one target of a group. `cursor` is the format's token cursor (the
// S command reads its value from it); returns the delimiter that ended the
// last token read, or 0 when the format ran out.
char ApplyTarget(TextMenu *menu, int count, char command, bool match, const char *target,
                 char **cursor, char *tok) {
    int t = atoi(target);
    // A target outside the menu is passed over, but an S target still takes its
    // value token, so that the rest of the format stays in step.
    bool inside = t >= 0 && t < count;
    TextMenuItem *item = inside ? &menu->pItems[t] : nullptr;
    char del = chTokenDel;
    switch (command) {
    // N and H set the target's Show from the match alone, so that the target
    // comes back when the state changes again.
    case 'N':
        if (item) item->Show = match ? 1 : 0;
        break;
    case 'H':
        if (item) item->Show = match ? 2 : 0;
        break;
    case 'P':
        // An item reached again in this outer call is not processed twice:
        // chains that come back to an item end there.
        if (item && match && MarkDone(t)) {
            if (item->pFormat != nullptr && item->Show == 0) RunStateFormat(menu, t, count);
            if (item->Action) item->Action(menu, item);
        }
        break;
    case 'S': {
        if (GetTokenD(nullptr, STATE_FORMAT_DELIMS, cursor, tok) == nullptr) return 0;
        del = chTokenDel;
        // Name, text and submenu items hold pointers: a number never goes there.
        if (item == nullptr || item->Type == MENU_SUBMENU || item->Type == MENU_NAME ||
            item->Type == MENU_TEXT)
            break;
        if (match) {
            // The value is saved so that the target gets it back when the state
            // no longer matches: a toner saver sets draft quality and gives
            // back what was chosen.
            item->SavedValue = static_cast<int32_t>(item->Value);
            item->Value = atoi(tok);
        } else if (item->SavedValue >= 0) {
            item->Value = item->SavedValue;
            item->SavedValue = -1;
        }
        break;
    }
    default:
        break;
    }
    return del;
}

// The set is copied out of tok because reading the targets reuses the token
// buffer.
void RunStateFormat(TextMenu *menu, int index, int count) {
    TextMenuItem *item = &menu->pItems[index];
    char tok[TOKEN_BUF_SIZE];
    char set[TOKEN_BUF_SIZE];
    char *cursor = nullptr;
    // A cursor of its own: the targets' actions and formats read other lists
    // with the tokenizer meanwhile.
    const char *head = GetTokenD(item->pFormat, STATE_FORMAT_DELIMS, &cursor, tok);
    while (head != nullptr) {
        char command = tok[0];
        snprintf(set, sizeof set, "%s", tok + 1);
        bool match = TestFormatState(set, item->Value) != 0;
        // Targets follow until one ends at '}' or a space.
        for (;;) {
            if (GetTokenD(nullptr, STATE_FORMAT_DELIMS, &cursor, tok) == nullptr) return;
            char target[TOKEN_BUF_SIZE];
            snprintf(target, sizeof target, "%s", tok);
            char del = ApplyTarget(menu, count, command, match, target, &cursor, tok);
            if (del == 0 || del == '}' || del == ' ') break;
        }
        head = GetTokenD(nullptr, STATE_FORMAT_DELIMS, &cursor, tok);
    }
}

} // namespace

namespace textmenu_detail {

// Item tables end with an item without text, as static tables are written.
int CountItems(const TextMenu *menu) {
    int n = 0;
    if (menu != nullptr && menu->pItems != nullptr)
        while (menu->pItems[n].pText != nullptr)
            ++n;
    return n;
}

bool IsLettered(const TextMenuItem *item) {
    return item->pText[0] == '~' && item->pText[1] != '\0';
}

// In the tokenizer's shared buffer: the result lives until the next
// tokenizer call.
char *StateToken(const char *states, intptr_t n) {
    if (states == nullptr || n < 0 || n > INT32_MAX) return nullptr;
    char *cursor = nullptr;
    char *tok = GetTokenD(states, ",", &cursor, GetTokenBuf);
    for (intptr_t k = 0; tok != nullptr && k < n; ++k)
        tok = GetTokenD(nullptr, ",", &cursor, GetTokenBuf);
    return tok;
}

// Text values get a buffer of their own on first use, so that a static item
// table can leave Value zero.
char *TextBuffer(TextMenuItem *item) {
    char *buf = reinterpret_cast<char *>(item->Value);
    if (buf == nullptr) {
        buf = static_cast<char *>(GetMem(MENU_TEXT_VALUE_SIZE));
        item->Value = reinterpret_cast<intptr_t>(buf);
    }
    return buf;
}

} // namespace textmenu_detail

// Every run starts items from their defaults: a menu shown again shows what its
// program set, not what the last user left (hosts that want to keep values make
// them the defaults).
int InitMenu(TextMenu *menu, void * /*work*/) {
    if (menu == nullptr || menu->pItems == nullptr) return 0;
    int longest = 0;
    uint32_t selection = 0;
    for (int i = 0; menu->pItems[i].pText != nullptr; ++i) {
        TextMenuItem *item = &menu->pItems[i];
        item->TextLen = static_cast<int32_t>(strlen(item->pText));
        // The longest text sets the column the values line up in.
        if (item->TextLen > longest) longest = item->TextLen;
        switch (item->Type) {
        case MENU_PICK_ONE:
        case MENU_PICK_MANY:
            item->StateCnt = item->pStates ? GetTokenCount(item->pStates, ",") : 0;
            if (item->Type == MENU_PICK_ONE) {
                item->Value = item->Default;
            } else if (item->Value == 0) {
                item->Default = 1;
                item->Value = 1;
            }
            // The state format runs from the start value, so that hidden,
            // disabled and preset items match what the menu shows first.
            item->PrevValue = item->Default;
            UpdateStateSelection(item);
            ProcessStateFormat(menu, i);
            break;
        case MENU_INTEGER:
        case MENU_FLOAT:
            item->Value = item->Default;
            break;
        case MENU_NAME:
        case MENU_TEXT: {
            if (char *buf = TextBuffer(item)) {
                const char *def = reinterpret_cast<const char *>(item->Default);
                snprintf(buf, MENU_TEXT_VALUE_SIZE, "%s", def ? def : "");
            }
            break;
        }
        default:
            break;
        }
        // Only items that can be chosen take a number, so that the numbers shown
        // run without gaps; a lettered item is chosen by its letter.
        if (item->Type < MENU_APPLY)
            item->Key = 0;
        else if (IsLettered(item))
            item->Key = static_cast<unsigned char>(item->pText[1]);
        else
            item->Key = ++selection;
    }
    return longest;
}

// Only the text buffers are the engine's: everything else in the tables belongs
// to the program.
void FreeMenu(TextMenu *menu) {
    if (menu == nullptr || menu->pItems == nullptr) return;
    for (TextMenuItem *item = menu->pItems; item->pText != nullptr; ++item) {
        if (item->Type == MENU_NAME || item->Type == MENU_TEXT) {
            PutMem(reinterpret_cast<void *>(item->Value));
            item->Value = 0;
        }
    }
}

// Runs before apply: a name item names what the apply makes, so it cannot
// be left empty.
int TestNames(TextMenu *menu) {
    if (menu == nullptr || menu->pItems == nullptr) return 1;
    for (TextMenuItem *item = menu->pItems; item->pText != nullptr && item->Show != 2; ++item) {
        if (item->Type != MENU_NAME) continue;
        const char *value = reinterpret_cast<const char *>(item->Value);
        if (value != nullptr && value[0] != '\0') continue;
        Nlsfprintf(stdout, pDrvCoreDB, 25, 1011);
        fflush(stdout);
        Gets(LineBuf, LINE_BUF_SIZE);
        return 0;
    }
    return 1;
}

TextMenuItem *FindTextMenuItem(TextMenu *menu, uint32_t kind) {
    if (menu == nullptr || menu->pItems == nullptr) return nullptr;
    for (TextMenuItem *item = menu->pItems; item->pText != nullptr; ++item)
        if (item->Type == kind) return item;
    return nullptr;
}

// A hidden or disabled submenu item leads nowhere, whatever its conditions say.
TextMenu *ValidateMenu(TextMenu *menu, int index) {
    if (index < 0 || index >= CountItems(menu)) return nullptr;
    TextMenuItem *item = &menu->pItems[index];
    if (item->Show != 0 || item->Type != MENU_SUBMENU) return nullptr;
    if (item->pFormat == nullptr) return reinterpret_cast<TextMenu *>(item->Value);
    TextMenu **choices = reinterpret_cast<TextMenu **>(item->Value);
    if (choices == nullptr) return nullptr;
    // Conditions are separated by spaces; condition k chooses submenu k.
    const char *p = item->pFormat;
    for (int k = 0;; ++k) {
        while (*p == ' ')
            ++p;
        if (*p == '\0') return nullptr;
        const char *end = strchr(p, ' ');
        size_t len = end ? static_cast<size_t>(end - p) : strlen(p);
        std::string cond(p, len);
        if (TestStateCondition(menu, cond.c_str(), index)) return choices[k];
        p += len;
    }
}

int TestState(TextMenu *menu, const char *term, int owner) {
    if (term == nullptr) return 0;
    const char *p = term;
    int sign = 0;
    if (*p == '+' || *p == '-') sign = *p++ == '+' ? 1 : -1;
    int n = 0, value = 0;
    if (!ReadInt(&p, &n) || *p++ != '.' || !ReadInt(&p, &value)) return 0;
    long target = sign == 0 ? n : static_cast<long>(owner) + sign * static_cast<long>(n);
    if (target < 0 || target >= CountItems(menu)) return 0;
    const TextMenuItem *item = &menu->pItems[target];
    if (item->Value != value) return 0;
    return item->Show != 0 ? 2 : 1;
}

// 0 and 1 are not texts but ways to go on with the expression being read, for
// actions that evaluate part of a condition themselves.
int TestStateCondition(TextMenu *menu, const char *expr, int owner) {
    intptr_t mode = reinterpret_cast<intptr_t>(expr);
    if (mode == 0 || mode == 1) {
        if (g.pS == nullptr) return 0;
        return mode == 0 ? EvalExpr(menu, owner, true) : EvalOperand(menu, owner);
    }
    g.pS = expr;
    bool result = EvalExpr(menu, owner, false);
    g.pS = nullptr;
    return result ? 1 : 0;
}

int TestFormatState(const char *set, intptr_t value) {
    if (set == nullptr) return 0;
    // '*' matches every state: a target that follows any change of the item.
    if (strchr(set, '*') != nullptr) return 1;
    const char *p = set;
    while (*p != '\0') {
        if (atoi(p) == value) return 1;
        while (isdigit(static_cast<unsigned char>(*p)))
            ++p;
        while (*p != '\0' && !isdigit(static_cast<unsigned char>(*p)))
            ++p;
    }
    return 0;
}

void ProcessStateFormat(TextMenu *menu, int index) {
    int count = CountItems(menu);
    if (index < 0 || index >= count) return;
    TextMenuItem *item = &menu->pItems[index];
    if (item->pFormat == nullptr || item->Show != 0) return;
    // An outer call (or one for another menu, from an action) starts a fresh
    // record of processed items, so P chains that come back end there.
    bool outer = g.formatMenu != menu;
    ModelState saved;
    if (outer) {
        saved.formatMenu = g.formatMenu;
        saved.formatDone.swap(g.formatDone);
        g.formatMenu = menu;
        g.formatDone.assign(static_cast<size_t>(count), 0);
    }
    if (MarkDone(index)) RunStateFormat(menu, index, count);
    if (outer) {
        g.formatMenu = saved.formatMenu;
        g.formatDone.swap(saved.formatDone);
    }
}

// A pick-one item never rests on a hidden state: it moves on to the next shown
// one, so that the menu never shows a value the user cannot choose.
void UpdateStateSelection(TextMenuItem *item) {
    if (item == nullptr) return;
    item->pCurState = nullptr;
    for (int tries = 0; tries < item->StateCnt; ++tries) {
        item->pCurState = StateToken(item->pStates, item->Value);
        if (item->pCurState == nullptr || item->pCurState[0] != ' ') return;
        if (item->Type != MENU_PICK_ONE) return;
        item->PrevValue = item->Value;
        item->Value = (item->Value + 1) % item->StateCnt;
    }
    // Every state hidden: once round, back where it started.
    item->pCurState = StateToken(item->pStates, item->Value);
}

// A state's first character is its mark, ' ' hidden or '_' shown, written in
// place: hiding and showing need no copy of the list.
void HideStateSelection(TextMenuItem *item, int n) {
    if (item == nullptr || n < 0) return;
    char *start = StateStart(item->pStates, n);
    if (start == nullptr) return;
    *start = ' ';
    UpdateStateSelection(item);
}

char *ShowStateSelection(TextMenuItem *item, int n) {
    if (item == nullptr) return nullptr;
    if (n < 0) return item->pText;
    char *start = StateStart(item->pStates, n);
    if (start == nullptr) return nullptr;
    *start = '_';
    return StateToken(item->pStates, n);
}
