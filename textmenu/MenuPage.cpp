// MenuPage.cpp - the menu page on a plain terminal and the loop that reads
// one answer at a time: selection by number or letter, state changes, value
// entry, help, storing the settings, apply and leave questions.
#include "MenuPriv.h"
#include "TextMenu.h"

#include "MemMgr.h"
#include "NlsUtils.h"
#include "utils.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

// Set by an action to leave every menu up to the program at once; checked after
// each answer and when a menu starts.
unsigned char flExitTextMenu = 0;
char *pOption = nullptr;
// Set by the help viewer when it is linked in: the engine must not depend on
// the viewer, which is built on it.
void (*pMenuHelpHook)(void) = nullptr;

using namespace textmenu_detail;

namespace {

// The page is laid out for this many columns.
constexpr int PAGE_WIDTH = 80;
// Entry format of a settings file name typed after 's'.
constexpr const char SETTINGS_NAME_FORMAT[] = "/A(1,255)+-+_+/";
// The file 's' stores into on menus that end the process after storing.
constexpr const char DEFAULT_SETTINGS_FILE[] = ".settings";
// Longest answer PromptUser keeps.
constexpr int PROMPT_ANSWER_SIZE = 1024;

// The text a lettered item shows: what follows "~k ".
// The key letter is shown once, in front as "k)", not again inside the text.
const char *DisplayText(const TextMenuItem *item) {
    if (!IsLettered(item)) return item->pText;
    return item->pText[2] != '\0' ? item->pText + 3 : item->pText + 2;
}

const char *TextValue(const TextMenuItem *item) {
    const char *value = reinterpret_cast<const char *>(item->Value);
    return value ? value : "";
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
// Asks again until the answer is y or n: a stray <Return> must not count as no
// for a question like "apply the changes". The end of input counts as no, so a
// script that runs out never applies by accident.
int VPromptYN(const char *format, va_list ap) {
    for (;;) {
        va_list args;
        va_copy(args, ap);
        vprintf(format, args);
        va_end(args);
        fputs("? [y/n] ", stdout);
        fflush(stdout);
        if (Gets(LineBuf, LINE_BUF_SIZE) == nullptr) return 0;
        if (LineBuf[0] == 'y') return 1;
        if (LineBuf[0] == 'n') return 0;
    }
}
#pragma GCC diagnostic pop

// PromptYN with the question taken from the catalog (section 25).
int AskCatalog(int number, ...) {
    std::string format = CatalogFormatText(25, number);
    va_list ap;
    va_start(ap, number);
    int yes = VPromptYN(format.c_str(), ap);
    va_end(ap);
    return yes;
}

// Values a host keeps (MENU_KEEP_VALUES) stay for the next run of the menu;
// otherwise the text buffers are given back on leaving.
void LeaveMenu(TextMenu *menu) {
    if (!(menu->Flags & MENU_KEEP_VALUES)) FreeMenu(menu);
}

// Prints the value of a pick-many item: the chosen state numbers.
void PrintPickMany(const TextMenuItem *item) {
    fputs(CatalogText(25, 270).c_str(), stdout);
    uint64_t mask = static_cast<uint64_t>(item->Value);
    if (mask == 1) {
        fputs(CatalogText(25, 271).c_str(), stdout);
    } else {
        const char *sep = "";
        for (int bit = 0; bit < 64; ++bit) {
            if (!(mask & (uint64_t{1} << bit))) continue;
            printf("%s%d", sep, bit + 1);
            sep = ",";
        }
    }
    fputs("]", stdout);
}

// Dots up to the dot column, then the item's value.
void PrintValue(TextMenuItem *item, int dots) {
    for (int n = item->TextLen; n < dots; ++n)
        putchar('.');
    switch (item->Type) {
    case MENU_PICK_ONE: {
        // Looked up anew: the state list may have been marked since the value
        // was set, and pCurState lives in the tokenizer's buffer.
        item->pCurState = StateToken(item->pStates, item->Value);
        const char *state = item->pCurState;
        if (state == nullptr || state[0] == ' ') {
            fputs(" [ ]", stdout);
        } else {
            if (state[0] == '_') ++state;
            printf(" [%i. %s]", static_cast<int>(item->Value + 1), state);
        }
        break;
    }
    case MENU_PICK_MANY:
        PrintPickMany(item);
        break;
    case MENU_INTEGER:
        printf(" [%i]", static_cast<int>(item->Value));
        break;
    case MENU_FLOAT:
        printf(" [%.3f]", static_cast<double>(GetItemFloat(item)));
        break;
    case MENU_NAME:
    case MENU_TEXT:
        // A value loaded from a file is the file's text: escaped, never raw to
        // the terminal.
        printf(" [%s]", PrintableText(TextValue(item), MENU_TEXT_VALUE_SIZE * 4).c_str());
        break;
    default:
        break;
    }
}

// One cell of a column block, cut to the cell.
// A cell is cut, not wrapped, so that the block's columns stay aligned.
void PrintCell(const TextMenuItem *item, int cellWidth, int padding) {
    char cell[512];
    if (item->Show == 2) return;
    if (item->Type < MENU_APPLY) {
        snprintf(cell, sizeof cell, "%s%*s", item->pText, padding > 0 ? padding + 5 : 1, " ");
    } else if (item->Show == 1) {
        // A disabled item is shown without its number: it cannot be chosen.
        snprintf(cell, sizeof cell, "    %s%*s", item->pText, padding > 0 ? padding : 0, " ");
    } else if (IsLettered(item)) {
        int pad = padding + 2;
        snprintf(cell, sizeof cell, " %c) %s%*s ", static_cast<int>(item->Key), DisplayText(item),
                 pad > 0 ? pad : 0, " ");
    } else {
        snprintf(cell, sizeof cell, "%2i) %s%*s", static_cast<int>(item->Key), item->pText,
                 padding > 0 ? padding : 0, " ");
    }
    // Cut a little short of the cell, so that the next column always has its
    // blank in front.
    int keep = cellWidth - 2;
    if (keep < 0) keep = 0;
    if (keep < static_cast<int>(sizeof cell) - 1) cell[keep] = '\0';
    printf("%s ", cell);
}

int ColumnsOf(const TextMenuItem *item) {
    int columns = static_cast<int>(item->Value);
    return columns > 0 && columns <= PAGE_WIDTH ? columns : 3;
}

// The first item (0-based) among the first count whose key the answer names.
// Hidden and disabled items cannot be chosen, though a disabled one is shown;
// letters are matched in either case, so that caps lock does not change an
// answer.
int FindByKey(TextMenu *menu, int count, bool lettered, uint32_t key) {
    for (int i = 0; i < count && menu->pItems[i].pText != nullptr; ++i) {
        const TextMenuItem *item = &menu->pItems[i];
        if (item->Show != 0 || IsLettered(item) != lettered || item->Key == 0) continue;
        uint32_t k = item->Key;
        if (lettered ? tolower(static_cast<int>(k)) == static_cast<int>(key) : k == key)
            return i + 1;
    }
    return 0;
}

// The name is checked like any entry, as it becomes a file name: only an
// absolute path of letters, digits, '-', '_' and '/' is taken.
void StoreAsked(TextMenu *menu) {
    fputs(CatalogText(25, 1013).c_str(), stdout);
    fflush(stdout);
    if (Gets(LineBuf, LINE_BUF_SIZE) == nullptr) return;
    std::string name = LineBuf;
    if (ValidateEntry(name.c_str(), SETTINGS_NAME_FORMAT) != ENTRY_OK) return;
    StoreMenuFile(menu, name.c_str());
}

// Kind 9 from the menu page: a given state number, or the next visible state.
// A hidden state named by number is not chosen: the search for the next shown
// state starts from it instead, as if the user had stepped there.
int StepPickOne(TextMenu *menu, int index, const char *arg) {
    TextMenuItem *item = &menu->pItems[index];
    int count = item->StateCnt;
    if (count <= 0) return 0;
    int n = arg && *arg ? atoi(arg) : 0;
    intptr_t from = item->Value;
    intptr_t chosen = -1;
    if (n >= 1 && n <= count) {
        char *state = StateToken(item->pStates, n - 1);
        if (state != nullptr && state[0] != ' ')
            chosen = n - 1;
        else
            from = n - 1;
    }
    for (int tries = 0; chosen < 0 && tries < count; ++tries) {
        from = ((from % count) + count + 1) % count;
        char *tok = StateToken(item->pStates, from);
        if (tok != nullptr && tok[0] != ' ') chosen = from;
    }
    if (chosen < 0) return 0;
    item->PrevValue = item->Value;
    item->Value = chosen;
    UpdateStateSelection(item);
    ProcessStateFormat(menu, index);
    return 1;
}

// Kind 10 from the menu page: pick-many items are edited on the full-screen
// picker, which runs the state format and the item's action after every
// change itself; the selection then counts as no change of its own.
int EditPickMany(TextMenu *menu, int index, char *arg) {
    ProcessStateValue(menu, index, arg);
    return 0;
}

// Kinds 11 to 14: the argument, or an answer to the item's prompt, checked
// against the item's entry format.
int EnterValue(TextMenuItem *item, const char *arg) {
    std::string text;
    if (arg != nullptr && *arg != '\0') {
        text = arg;
    } else {
        printf("%s: ", item->pPrompt ? item->pPrompt : "");
        fflush(stdout);
        if (Gets(LineBuf, LINE_BUF_SIZE) == nullptr) return 0;
        text = LineBuf;
    }
    // An empty answer keeps the value: the user changed their mind.
    if (text.empty()) return 0;
    // Whatever the format allows, a value never carries terminal controls:
    // it is shown on the page and written to settings files.
    if (HasControlCharacter(text.c_str())) {
        PostMsg("%s", CatalogFormat(25, 1009, PrintableText(text.c_str(), 60).c_str()).c_str());
        return 0;
    }
    if (ValidateEntry(text.c_str(), item->pFormat) != ENTRY_OK) return 0;
    switch (item->Type) {
    case MENU_NAME:
    case MENU_TEXT: {
        // The value buffer holds 255 characters: a longer entry is refused.
        if (text.size() >= static_cast<size_t>(MENU_TEXT_VALUE_SIZE)) {
            PostMsg("%s", CatalogFormat(30, 42, 1, MENU_TEXT_VALUE_SIZE - 1).c_str());
            return 0;
        }
        char *buf = TextBuffer(item);
        if (buf == nullptr) return 0;
        snprintf(buf, MENU_TEXT_VALUE_SIZE, "%s", text.c_str());
        break;
    }
    case MENU_INTEGER: {
        long value = strtol(text.c_str(), nullptr, 10);
        // The entry format checked the range; clamping only guards a format
        // that sets none.
        item->Value = value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : value;
        break;
    }
    default:
        SetItemFloat(item, static_cast<float>(atof(text.c_str())));
        break;
    }
    return 1;
}

} // namespace

// Float values live in Value's low 32 bits, as static item tables give them
// (0x3f800000 for 1.0): copied bit for bit, never converted.
float GetItemFloat(const TextMenuItem *item) {
    uint32_t bits = static_cast<uint32_t>(item->Value);
    float value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

void SetItemFloat(TextMenuItem *item, float value) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    item->Value = static_cast<intptr_t>(bits);
}

intptr_t RunMenu(TextMenu *menu, const char *settings, int interactive) {
    if (menu == nullptr) return 0;
    if (menu->Update) menu->Update(menu);
    if (flExitTextMenu) return 0;
    int dots = InitMenu(menu, nullptr);
    if (settings != nullptr) {
        // A settings file that cannot be opened is what cancel is for: the host
        // decides, through its cancel item, what a missing file means.
        if (!OpenInputFile(settings, 1)) {
            TextMenuItem *cancel = FindTextMenuItem(menu, MENU_CANCEL);
            if (cancel == nullptr) return 0;
            if (cancel->Action == nullptr) return reinterpret_cast<intptr_t>(cancel);
            return cancel->Action(menu, cancel);
        }
        LoadMenu(menu);
        if (pIn != nullptr) CloseInputFile();
    }
    // Without a user the apply runs at once, without its question; a menu
    // without one answers with itself, so that the caller can tell success.
    if (!interactive) return menu->Apply ? menu->Apply(menu) : reinterpret_cast<intptr_t>(menu);

    const char *title = menu->pTitle ? menu->pTitle : "";
    // Only the title's first line counts for centring: a title may carry more
    // lines, which follow as they are.
    int titleLen = static_cast<int>(strcspn(title, "\n\r"));
    bool changed = false;
    for (;;) {
        int count = PrintMenu(menu, dots, titleLen);
        if (Gets(LineBuf, LINE_BUF_SIZE) == nullptr) {
            // Only a read error has a system reason to name; the end of a
            // script's answers is said as what it is.
            if (ferror(stdin)) SysError("%s", CatalogText(25, 1016).c_str());
            fflush(stdout);
            fprintf(stderr, "\n%s: %s : end of input\n", my_name ? my_name : "",
                    CatalogText(25, 1016).c_str());
            exit_app(1);
        }
        if (LineBuf[0] != '\0' || (menu->Flags & MENU_NO_EXIT)) {
            int chosen = FindSelection(menu, nullptr, count);
            if (chosen > 0) {
                TextMenuItem *item = &menu->pItems[chosen - 1];
                uint32_t kind = item->Type;
                int ok = ProcessSelection(menu, chosen - 1, pOption);
                // An action may change its item's kind (a command that becomes
                // an exit): the flag says whether the kind before or after
                // decides.
                if (!(menu->Flags & MENU_KIND_BEFORE)) kind = item->Type;
                if (flExitTextMenu ||
                    (ok && (kind == MENU_APPLY || kind == MENU_CANCEL || kind == MENU_EXIT))) {
                    LeaveMenu(menu);
                    return 0;
                }
                // A command that succeeds in a MENU_REINIT menu starts its items over
                // from their defaults (an undo-all command is just that); other changes
                // only mark the menu changed for the apply question.
                if (ok && kind == MENU_COMMAND && (menu->Flags & MENU_REINIT))
                    dots = InitMenu(menu, nullptr);
                else if (ok)
                    changed = true;
            }
            continue;
        }
        // An empty answer asks to leave.
        // A menu without an apply question applies whenever it is left; one
        // with it asks only when something changed, and a no leads on to the
        // question whether to leave.
        if (menu->pApplyPrompt == nullptr) {
            if (menu->Apply) menu->Apply(menu);
        } else if (changed && PromptYN("%s", menu->pApplyPrompt)) {
            if (!TestNames(menu)) continue;
            if (menu->Apply) menu->Apply(menu);
            LeaveMenu(menu);
            return 0;
        }
        // A submenu leads back to its parent, the main menu out of the program:
        // the question names where the user goes.
        if (menu->pParent != nullptr) {
            if (AskCatalog(1017, menu->pParent->pTitle ? menu->pParent->pTitle : "")) {
                LeaveMenu(menu);
                return 0;
            }
        } else if (AskCatalog(1018, my_name ? my_name : "")) {
            LeaveMenu(menu);
            putchar('\n');
            return 0;
        }
        // A declined leave lets the host look at the menu again, as after a
        // submenu.
        if (menu->Update) menu->Update(menu);
    }
}

namespace {

// Where the parts of a composed page begin, as offsets into it.
struct PageMarks {
    long items = 0;  // the first item, behind the title
    long linked = 0; // behind the leading text items (a help page's text)
    long prompt = 0; // the answer prompt
};

// Offsets in the memory stream the page is composed in: flushed first, since
// ftell counts only what the stream has taken.
long Offset() {
    fflush(stdout);
    long at = ftell(stdout);
    return at < 0 ? 0 : at;
}

// The page as PrintMenu shows it, written to stdout; with marks, the offsets
// of its parts are noted (stdout is then a memory stream).
int PrintPage(TextMenu *menu, int dots, int titleLen, PageMarks *marks) {
    const char *title = menu->pTitle ? menu->pTitle : "";
    switch (menu->TitleAlign) {
    case 1:
        printf("\f\n%*s%s\n\n", titleLen <= PAGE_WIDTH ? (PAGE_WIDTH - titleLen) / 2 : 0, "",
               title);
        break;
    case 2:
        printf("\f\n%*s%s\n\n", titleLen <= PAGE_WIDTH ? PAGE_WIDTH - titleLen : 0, "", title);
        break;
    default:
        printf("\f\n%s:\n\n", title);
        break;
    }
    if (marks) marks->items = marks->linked = Offset();
    bool leading = true; // still among the text lines the page opens with
    int i = 0;
    for (; menu->pItems != nullptr && menu->pItems[i].pText != nullptr; ++i) {
        TextMenuItem *item = &menu->pItems[i];
        if (leading && item->Type != MENU_LINE && item->Type != MENU_BAR) {
            leading = false;
            if (marks) marks->linked = Offset();
        }
        bool printed = true;
        switch (item->Type) {
        case MENU_SUBMENU: {
            TextMenu *sub = ValidateMenu(menu, i);
            // A submenu item is named by the title of the submenu its
            // conditions choose now; when they choose none it is not shown.
            if (sub != nullptr)
                printf("%2i) %s ", static_cast<int>(item->Key), sub->pTitle ? sub->pTitle : "");
            else
                printed = false;
            break;
        }
        case MENU_BAR:
        case MENU_COLUMNS:
            item = PrintMenuBarItem(item, static_cast<int>(item->Type), &i);
            break;
        case MENU_LINE:
            printf("%s ", item->pText);
            break;
        default:
            if (item->Show == 1)
                printf("%*s  %s ", 2, " ", DisplayText(item));
            else if (item->Show == 2)
                printed = false;
            else if (IsLettered(item))
                printf(" %c) %s ", static_cast<int>(item->Key), DisplayText(item));
            else
                printf("%2i) %s ", static_cast<int>(item->Key), item->pText);
            break;
        }
        // Values line up in one column: dots fill up to the longest item text.
        if (item->Type >= MENU_PICK_ONE && item->Show != 2) PrintValue(item, dots);
        if (printed && item->Show != 2)
            printf("\n%s", (menu->Flags & MENU_NO_BLANK_LINES) ? "" : "\n");
    }
    if (marks) marks->prompt = Offset();
    // The prompt names only the answers this menu takes.
    std::string store =
        (menu->Flags & (MENU_SAVE_ASK | MENU_SAVE_EXIT)) ? CatalogText(25, 230) : "";
    std::string help = (menu->Flags & MENU_HELP) ? CatalogText(25, 231) : "";
    std::string exitHint = (menu->Flags & MENU_NO_EXIT) ? "" : CatalogText(25, 232);
    fputs(CatalogFormat(25, 510, store.c_str(), help.c_str(), exitHint.c_str()).c_str(), stdout);
    fflush(stdout);
    return i;
}

} // namespace

namespace {

// Display rows a text takes on a terminal `cols` wide, its lines broken
// where they are wider (a '\f' is a line break on the terminal too).
// Counts characters, not bytes (UTF-8 continuation bytes and controls take no
// column), so that a translated page is fitted like the English one.
int RowsOf(const std::string &text, size_t from, size_t to, int cols) {
    int rows = 0, col = 0;
    bool open = false;
    for (size_t i = from; i < to && i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n' || c == '\f') {
            rows += 1 + (col > 0 ? (col - 1) / cols : 0);
            col = 0;
            open = false;
            continue;
        }
        if ((c & 0xC0) != 0x80 && c >= 0x20) ++col;
        open = true;
    }
    if (open) rows += 1 + (col > 0 ? (col - 1) / cols : 0);
    return rows;
}

size_t Columns(const std::string &line) {
    size_t n = 0;
    for (unsigned char c : line)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

// The items of a page too tall for the terminal, set in as many columns as
// the rows left between title and prompt need, when they fit its width.
// Blank lines between items are left out. False when they do not fit.
bool InColumns(const std::string &page, const PageMarks &m, int cols, int rows, std::string *out) {
    std::vector<std::string> lines;
    size_t width = 0;
    for (size_t at = static_cast<size_t>(m.items); at < static_cast<size_t>(m.prompt);) {
        size_t end = page.find('\n', at);
        if (end == std::string::npos || end > static_cast<size_t>(m.prompt))
            end = static_cast<size_t>(m.prompt);
        std::string line = page.substr(at, end - at);
        line.erase(line.find_last_not_of(' ') + 1);
        if (!line.empty()) {
            width = std::max(width, Columns(line));
            lines.push_back(line);
        }
        at = end + 1;
    }
    int left = rows - RowsOf(page, 0, static_cast<size_t>(m.items), cols) -
               RowsOf(page, static_cast<size_t>(m.prompt), page.size(), cols);
    if (lines.empty() || left < 1) return false;
    // As few columns as the rows allow, filled top to bottom, as a reader scans
    // a list.
    size_t count = lines.size();
    size_t columns = (count + static_cast<size_t>(left) - 1) / static_cast<size_t>(left);
    size_t per = (count + columns - 1) / columns;
    size_t cell = width + 2;
    // The last column needs no gap behind it.
    if (columns * cell - 2 > static_cast<size_t>(cols)) return false;
    *out = page.substr(0, static_cast<size_t>(m.items));
    for (size_t r = 0; r < per; ++r) {
        std::string row;
        for (size_t c = 0; c < columns && c * per + r < count; ++c) {
            const std::string &line = lines[c * per + r];
            if (c > 0) row.append(cell * c - Columns(row), ' ');
            row += line;
        }
        *out += row + "\n";
    }
    *out += page.substr(static_cast<size_t>(m.prompt));
    return true;
}

// True when TERM names a terminal that can be cleared: not unset, empty or
// "dumb". The menu page, unlike the picker, also serves runs whose output is
// piped or logged; those stay free of escape sequences. A set-user-ID program
// reads no environment and so never clears.
bool TerminalNamed() {
    const char *term = secure_getenv("TERM");
    return term != nullptr && *term != '\0' && strcmp(term, "dumb") != 0;
}

// True when every item's text is one line: only then may items move into
// columns (a help page's text must keep its shape).
bool SingleLineItems(const TextMenu *menu) {
    for (const TextMenuItem *item = menu->pItems; item && item->pText; ++item)
        if (strchr(item->pText, '\n') != nullptr) return false;
    return true;
}

} // namespace

int PrintMenu(TextMenu *menu, int dots, int titleLen) {
    if (TerminalNamed()) ClearScreen(nullptr);
    fflush(stdout);
    int cols = 0, rows = 0;
    // Without a terminal the page goes out as it always did.
    if (!GetTermSize(&cols, &rows)) return PrintPage(menu, dots, titleLen, nullptr);
    char *data = nullptr;
    size_t size = 0;
    FILE *memory = open_memstream(&data, &size);
    if (memory == nullptr) return PrintPage(menu, dots, titleLen, nullptr);
    // The page is composed first, so that it can be fitted to the terminal
    // as a whole; the C library lets stdout be set like any variable.
    FILE *terminal = stdout;
    stdout = memory;
    PageMarks marks;
    int count = PrintPage(menu, dots, titleLen, &marks);
    stdout = terminal;
    fclose(memory);
    std::string page(data, size);
    free(data);
    std::string laid;
    if (RowsOf(page, 0, page.size(), cols) > rows && SingleLineItems(menu) &&
        InColumns(page, marks, cols, rows, &laid))
        page = laid;
    // 'q' at "--More--" leads past the page's opening text to its items.
    PageText(page.c_str(), marks.linked > marks.items ? static_cast<size_t>(marks.linked) : 0, 0);
    return count;
}

// A bar gathers the text lines that follow it; a column block every item up to
// the end of the list. Returns the block's last item, and moves *index there,
// so that the caller's walk goes on behind the block.
TextMenuItem *PrintMenuBarItem(TextMenuItem *first, int kind, int *index) {
    if (first == nullptr) return nullptr;
    int columns = ColumnsOf(first);
    int cellWidth = PAGE_WIDTH / columns;
    int used = 0;
    TextMenuItem *item = first;
    while (item[1].pText != nullptr &&
           (kind == static_cast<int>(MENU_COLUMNS) ||
            (kind == static_cast<int>(MENU_BAR) && item[1].Type == MENU_LINE))) {
        ++item;
        if (index) ++*index;
        if (kind == static_cast<int>(MENU_COLUMNS) && item->Type == MENU_COLUMNS) {
            // A new block start inside ends the row and sets the columns.
            putchar('\n');
            columns = ColumnsOf(item);
            cellWidth = PAGE_WIDTH / columns;
            used = 0;
            continue;
        }
        int len = item->TextLen;
        if (used + len > PAGE_WIDTH || (used > 0 && len > cellWidth - 5)) {
            putchar('\n');
            used = 0;
        }
        PrintCell(item, cellWidth, cellWidth - len - 5);
        if (len > cellWidth - columns) {
            putchar('\n');
            used = 0;
        } else {
            used += cellWidth;
        }
    }
    return item;
}

// The word after the answer is kept in pOption: "5 2" chooses item 5 and gives
// it 2, so one line both chooses and sets.
int FindSelection(TextMenu *menu, void * /*work*/, int count) {
    char *p = LineBuf;
    while (*p == ' ' || *p == '\t')
        ++p;
    char *answer = p;
    while (*p != '\0' && *p != ' ' && *p != '\t')
        ++p;
    while (*p == ' ' || *p == '\t')
        ++p;
    pOption = p;
    if (menu == nullptr || menu->pItems == nullptr) return 0;
    if (isdigit(static_cast<unsigned char>(*answer))) {
        long n = strtol(answer, nullptr, 10);
        // A number beyond any key chooses nothing, rather than wrapping onto an
        // item.
        if (n <= 0 || n > INT32_MAX) return 0;
        return FindByKey(menu, count, false, static_cast<uint32_t>(n));
    }
    int c = tolower(static_cast<unsigned char>(*answer));
    // The engine's own answers come before the items' letters, but only in
    // menus that offer them: elsewhere 'h' and 's' are free for items.
    if (c == 'h' && (menu->Flags & MENU_HELP)) {
        if (pMenuHelpHook)
            pMenuHelpHook();
        else
            PostNoHelp();
        return 0;
    }
    if (c == 's' && (menu->Flags & MENU_SAVE_ASK)) {
        StoreAsked(menu);
        return 0;
    }
    if (c == 's' && (menu->Flags & MENU_SAVE_EXIT)) {
        StoreMenuFile(menu, DEFAULT_SETTINGS_FILE);
        exit_app(0);
    }
    if (c == '\0') return 0;
    return FindByKey(menu, count, true, static_cast<uint32_t>(c));
}

// An action's result is turned into "ok": actions return 0 for success, while
// the loop asks whether something happened.
int ProcessSelection(TextMenu *menu, int index, char *arg) {
    if (index < 0 || index >= CountItems(menu)) return 0;
    TextMenuItem *item = &menu->pItems[index];
    int ok = 0;
    switch (item->Type) {
    case MENU_APPLY:
        if (!TestNames(menu)) return 0;
        [[fallthrough]];
    case MENU_CANCEL:
    case MENU_EXIT:
    case MENU_COMMAND:
        return item->Action == nullptr || item->Action(menu, item) == 0;
    case MENU_SUBMENU:
        // A submenu returns no change of its own: what it changed it applied or
        // kept itself, and the host's Update sees the parent anew.
        if (TextMenu *sub = ValidateMenu(menu, index)) RunMenu(sub, nullptr, 1);
        if (menu->Update) menu->Update(menu);
        return 0;
    case MENU_PICK_ONE:
        ok = StepPickOne(menu, index, arg);
        break;
    case MENU_PICK_MANY:
        ok = EditPickMany(menu, index, arg);
        break;
    case MENU_NAME:
    case MENU_TEXT:
    case MENU_INTEGER:
    case MENU_FLOAT:
        ok = EnterValue(item, arg);
        break;
    default:
        return 0;
    }
    if (ok && item->Action) item->Action(menu, item);
    return ok;
}

void PostNoHelp(void) {
    PostMsg("%s", CatalogText(25, 1025).c_str());
}

int PromptYN(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    int yes = VPromptYN(format, ap);
    va_end(ap);
    return yes;
}

char *PromptUser(const char *prompt, char *buf) {
    fputs(prompt ? prompt : "", stdout);
    fflush(stdout);
    char answer[PROMPT_ANSWER_SIZE];
    if (Gets(answer, sizeof answer) == nullptr) return nullptr;
    if (buf == nullptr) return SaveStr_(answer);
    memcpy(buf, answer, strlen(answer) + 1);
    return buf;
}
