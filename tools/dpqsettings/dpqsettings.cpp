// dpqsettings - the settings menu of one print queue of the Dorna suite, and
// the example a suite developer copies to build a menu program on the
// text-menu engine: static item tables, texts from the catalog, every item
// kind, state formats, a submenu chosen by conditions, help, stored settings
// and an apply that writes the queue's settings file.
//
//   dpqsettings [--dir DIR] [FILE]   the menu, FILE's settings loaded first
//   dpqsettings --load FILE          the values FILE leads to, one per line
//   dpqsettings [--dir DIR] --passphrase-value   the lock value of a pass phrase
#include "TextMenu.h"

#include "DornaTool.h"
#include "HelpTty.h"
#include "MemMgr.h"
#include "ToolOptions.h"
#include "NlsUtils.h"
#include "utils.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

#define TEXT(s) const_cast<char *>(s)

// Catalog entries of this program (section 25): the item texts of each menu
// from its first number on, the state lists and prompts item by item.
constexpr int CAT_TITLE = 5000;        // menu titles: main, standard banner, custom banner
constexpr int CAT_APPLY_PROMPT = 5003; // "Apply the changes to the queue"
constexpr int CAT_HELP_TITLE = 5004;   // title of the help
constexpr int CAT_APPLIED = 5005;      // "Settings of queue %s written to %s"
constexpr int CAT_NOT_APPLIED = 5006;  // "Could not write %s"
constexpr int CAT_SHOW = 5007;         // "Settings file of queue %s: %s"
constexpr int CAT_PASSPHRASE = 5008;   // "Pass phrase of queue %s: "
constexpr int CAT_WRONG_PHRASE = 5009; // "Wrong pass phrase: ..."
constexpr int CAT_TRAYS = 5029;        // text of the trays item
constexpr int CAT_MAIN_ITEMS = 5010;   // texts of the main menu's items
constexpr int CAT_STANDARD_ITEMS = 5040;
constexpr int CAT_CUSTOM_ITEMS = 5050;
constexpr int CAT_STATES = 5060;  // state lists, one per pick item
constexpr int CAT_PROMPTS = 5080; // prompts, one per value item

const char USAGE[] = "Usage: dpqsettings [--dir DIR] [FILE]\n"
                     "       dpqsettings --load FILE\n"
                     "       dpqsettings [--dir DIR] --passphrase-value\n"
                     "Shows the settings menu of one print queue of the Dorna suite.\n"
                     "\n"
                     "  FILE         settings file to start from (written before with 's')\n"
                     "  --dir DIR    where applying writes the queue's settings file\n"
                     "               DIR/<queue>.settings (default /var/spool/Dorna)\n"
                     "  --load FILE  read FILE without showing the menu and print the values it\n"
                     "               ends with, one \"key=value\" line each\n"
                     "  --passphrase-value\n"
                     "               ask for a pass phrase (not shown) and print its lock value\n"
                     "               (a salted crypt hash); a queue whose DIR/<queue>.lock holds\n"
                     "               that value is applied only after the same pass phrase is\n"
                     "               given. Locks in DIR holding the older value of the same\n"
                     "               phrase are rewritten with the new one\n"
                     "  --help       show this help\n"
                     "\n"
                     "Answers in the menu: a number or letter chooses an item; a number after a\n"
                     "pick item's number chooses that state (\"5 2\"); a value after a value\n"
                     "item's number sets it (\"3 2\"); 's' stores the settings in a file, 'h'\n"
                     "shows help, <Return> leaves.\n"
                     "\n"
                     "Exit status: 0 success, 1 failure, 2 wrong usage.\n";

// The place applying writes to; set from --dir.
std::string gQueueDir = "/var/spool/Dorna";

// The paper sizes a printer's trays may hold. The list is longer than a menu
// line, so the item is edited on the full-screen picker. Sizes written with
// a leading blank are hidden: this model has no tray for them. Standard size
// names, the same in every language.
char PaperSizes[] =
    "A3,A4,A5,A6, A0, A1, A2,B4,B5,B6,C4,C5,C6,DL,Letter,Legal,Executive,Tabloid,Ledger,"
    "Statement,Folio,Quarto,Government-Letter,Government-Legal,Index 3x5,Index 4x6,Index 5x8,"
    "Postcard,Double Postcard,Envelope #9,Envelope #10,Envelope Monarch, Envelope B4,"
    "Envelope C3,Photo 4x6,Photo 5x7,Photo 8x10,SRA3,RA4,Banner 210x900";

int32_t ApplyItem(TextMenu *menu, TextMenuItem *item);
int32_t ShowSettings(TextMenu *menu, TextMenuItem *item);
int32_t ResetDefaults(TextMenu *menu, TextMenuItem *item);
int32_t Cancel(TextMenu *menu, TextMenuItem *item);
int32_t FinishingChanged(TextMenu *menu, TextMenuItem *item);
intptr_t ApplyMenu(TextMenu *menu);
intptr_t KeepSubmenu(TextMenu *menu);

// The item tables name only the fields they set; every other field starts
// at zero.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// ---- The standard banner submenu ----------------------------------------

TextMenuItem StandardBannerItems[] = {
    // "Banner text"
    {.pText = TEXT("-"), .Type = MENU_TEXT, .pFormat = TEXT("A(1,40)+-+_+.")},
    // "Banner position": First page, Last page, Both
    {.pText = TEXT("-"), .Type = MENU_PICK_ONE, .SavedValue = -1},
    {},
};

// ---- The custom banner submenu -------------------------------------------

TextMenuItem CustomBannerItems[] = {
    // "Banner file"
    {.pText = TEXT("-"), .Type = MENU_TEXT, .pFormat = TEXT("/A(1,255)+-+_+/+.")},
    // "Banner lines"
    {.pText = TEXT("-"), .Type = MENU_INTEGER, .Default = 10, .pFormat = TEXT("d(1,66)")},
    {},
};

TextMenu MainMenu;
TextMenu StandardBanner = {.Apply = KeepSubmenu, .pItems = StandardBannerItems};
TextMenu CustomBanner = {.Apply = KeepSubmenu, .pItems = CustomBannerItems};
// The banner submenu the "Banner" item stands for, by condition.
TextMenu *BannerChoices[] = {&StandardBanner, &CustomBanner};

// ---- The main menu ---------------------------------------------------------

// Item numbers of the main menu that the code and the state formats use.
enum MainItem {
    ITEM_INTRO,
    ITEM_NAME,
    ITEM_LOCATION,
    ITEM_COPIES,
    ITEM_SCALE,
    ITEM_PAPER,
    ITEM_WIDTH,
    ITEM_FINISHING,
    ITEM_QUALITY,
    ITEM_TONER,
    ITEM_BANNER_KIND,
    ITEM_BANNER,
    ITEM_TRAYS,
    ITEM_COMMANDS,
    ITEM_SHOW,
    ITEM_RESET,
    ITEM_LETTERS,
    ITEM_APPLY,
    ITEM_CANCEL,
    ITEM_EXIT,
    ITEM_COUNT,
};

TextMenuItem MainItems[] = {
    // "Settings of the queue"
    {.pText = TEXT("-"), .Type = MENU_LINE},
    // "Queue name"
    {.pText = TEXT("-"), .Type = MENU_NAME, .pFormat = TEXT("A(1,32)+-+_")},
    // "Location": a room or a place, blanks allowed
    {.pText = TEXT("-"), .Type = MENU_TEXT, .pFormat = TEXT("A(1,64)+-+_+/+.+ ")},
    // "Copies"
    {.pText = TEXT("-"), .Type = MENU_INTEGER, .Default = 1, .pFormat = TEXT("d(1,999)")},
    // "Scale" (1.0 as float bits)
    {.pText = TEXT("-"), .Type = MENU_FLOAT, .Default = 0x3f800000, .pFormat = TEXT("f(0.1,4)")},
    // "Paper size": A4, Letter, Legal, A3, A5, Custom; the width is for custom paper only
    {.pText = TEXT("-"), .Type = MENU_PICK_ONE, .pFormat = TEXT("N0:1:2:3:4{6}"), .SavedValue = -1},
    // "Custom paper width (mm)"
    {.pText = TEXT("-"), .Type = MENU_INTEGER, .Default = 210, .pFormat = TEXT("d(50,1200)")},
    // "Finishing": None, Staple, Punch, Fold (edited on the full-screen
    // picker); None excludes the others
    {.pText = TEXT("-"), .Type = MENU_PICK_MANY, .Action = FinishingChanged},
    // "Print quality": Draft, Normal, Best
    {.pText = TEXT("-"), .Type = MENU_PICK_ONE, .Default = 1, .SavedValue = -1},
    // "Toner saver": Off, On; on sets the quality to draft, off gives it back
    {.pText = TEXT("-"), .Type = MENU_PICK_ONE, .pFormat = TEXT("S1{8.0}"), .SavedValue = -1},
    // "Banner page": None, Standard, Custom; none hides the banner submenu
    {.pText = TEXT("-"), .Type = MENU_PICK_ONE, .pFormat = TEXT("H0{11}"), .SavedValue = -1},
    // the banner submenu of the kind just above
    {.pText = TEXT("-"),
     .Type = MENU_SUBMENU,
     .Value = reinterpret_cast<intptr_t>(BannerChoices),
     .pFormat = TEXT("-1.1 -1.2")},
    // "Tray paper sizes": forty sizes, edited on the full-screen picker
    {.pText = TEXT("-"), .Type = MENU_PICK_MANY, .pStates = PaperSizes, .Value = 0b11},
    // a block of commands in two columns
    {.pText = TEXT(""), .Type = MENU_COLUMNS, .Value = 2},
    // "Show the settings file"
    {.pText = TEXT("-"), .Type = MENU_COMMAND, .Action = ShowSettings},
    // "Undo all changes"
    {.pText = TEXT("-"), .Type = MENU_COMMAND, .Action = ResetDefaults},
    // the lettered items in three columns
    {.pText = TEXT(""), .Type = MENU_COLUMNS, .Value = 3},
    // "~a Apply"
    {.pText = TEXT("-"), .Type = MENU_APPLY, .Action = ApplyItem},
    // "~c Cancel"
    {.pText = TEXT("-"), .Type = MENU_CANCEL, .Action = Cancel},
    // "~x Exit"
    {.pText = TEXT("-"), .Type = MENU_EXIT},
    {},
};
#pragma GCC diagnostic pop
static_assert(sizeof MainItems / sizeof MainItems[0] == ITEM_COUNT + 1, "one table row per item");

// Fills the texts of items [first, first + count) from the catalog, leaving
// the column block starts alone. An item added later than its neighbours has
// an entry of its own instead of the next number in the row.
void TextsFromCatalog(TextMenuItem *items, int count, int firstEntry) {
    for (int i = 0, entry = firstEntry; i < count; ++i) {
        if (items == MainItems && i == ITEM_TRAYS) {
            NlsTtyMenuItemCvt(&items[i], CAT_TRAYS, 1);
            continue;
        }
        if (items[i].Type != MENU_COLUMNS) NlsTtyMenuItemCvt(&items[i], entry, 1);
        ++entry;
    }
}

// Texts, state lists, prompts and titles from the catalog.
void BuildMenus() {
    TextsFromCatalog(MainItems, ITEM_COUNT, CAT_MAIN_ITEMS);
    TextsFromCatalog(StandardBannerItems, 2, CAT_STANDARD_ITEMS);
    TextsFromCatalog(CustomBannerItems, 2, CAT_CUSTOM_ITEMS);
    TextMenuItem *pickItems[] = {&MainItems[ITEM_PAPER],       &MainItems[ITEM_FINISHING],
                                 &MainItems[ITEM_QUALITY],     &MainItems[ITEM_TONER],
                                 &MainItems[ITEM_BANNER_KIND], &StandardBannerItems[1]};
    int entry = CAT_STATES;
    for (TextMenuItem *item : pickItems)
        NlsTtyMenuItemStateCvt(item, entry++, 1);
    TextMenuItem *valueItems[] = {&MainItems[ITEM_NAME],   &MainItems[ITEM_LOCATION],
                                  &MainItems[ITEM_COPIES], &MainItems[ITEM_SCALE],
                                  &MainItems[ITEM_WIDTH],  &StandardBannerItems[0],
                                  &CustomBannerItems[0],   &CustomBannerItems[1]};
    entry = CAT_PROMPTS;
    for (TextMenuItem *item : valueItems)
        NlsTtyMenuItemPromptCvt(item, entry++, 1);

    NlsTtyMenuCvt(&MainMenu.pTitle, CAT_TITLE);
    NlsTtyMenuCvt(&StandardBanner.pTitle, CAT_TITLE + 1);
    NlsTtyMenuCvt(&CustomBanner.pTitle, CAT_TITLE + 2);
    NlsTtyMenuCvt(&MainMenu.pApplyPrompt, CAT_APPLY_PROMPT);
    MainMenu.Apply = ApplyMenu;
    MainMenu.pItems = MainItems;
    MainMenu.Flags =
        MENU_HELP | MENU_SAVE_ASK | MENU_REINIT | MENU_KEEP_VALUES | MENU_NO_BLANK_LINES;
    StandardBanner.pParent = &MainMenu;
    CustomBanner.pParent = &MainMenu;
    StandardBanner.Flags = MENU_KEEP_VALUES;
    CustomBanner.Flags = MENU_KEEP_VALUES;

    NlsTtyMenuCvt(&pTtyHtmlTitle, CAT_HELP_TITLE);
}

const char *QueueName() {
    const char *name = reinterpret_cast<const char *>(MainItems[ITEM_NAME].Value);
    return name ? name : "";
}

std::string QueueFile() {
    return gQueueDir + "/" + QueueName() + ".settings";
}

// The queue's files are named after the queue inside the queue directory:
// the name must be a plain file name, whatever a settings file brought.
bool PlainQueueName() {
    const char *name = QueueName();
    if (*name == '\0' || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return false;
    for (const char *p = name; *p != '\0'; ++p)
        if (*p == '/' || static_cast<unsigned char>(*p) < 0x20 || *p == 0x7F) return false;
    return true;
}

// The English texts of this program's own messages: what a catalog older
// than the program, without them, shows instead.
const char *EnglishMessage(int number) {
    switch (number) {
    case CAT_APPLIED:
        return "\nSettings of queue %s written to %s";
    case CAT_NOT_APPLIED:
        return "\nCould not write %s";
    case CAT_SHOW:
        return "\nSettings file of queue %s: %s";
    case CAT_PASSPHRASE:
        return "Pass phrase of queue %s: ";
    case CAT_WRONG_PHRASE:
        return "\nWrong pass phrase: the settings of queue %s were not applied.";
    default:
        return "";
    }
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
// Prints catalog entry 25/number as a format with the arguments, then waits
// for <Return>.
void Tell(int number, const char *a, const char *b) {
    char *format = NlsTextOr(pDrvCoreDB, 25, number, EnglishMessage(number));
    char key[32];
    snprintf(key, sizeof key, "25_%d", number);
    char text[1024];
    snprintf(text, sizeof text, NlsCheckedFormat(key, format), a, b);
    PostMsg("%s\n", text);
    PutMem(format);
}
#pragma GCC diagnostic pop

// Writes the queue's settings file; 1 when it was written.
int WriteQueueSettings() {
    if (!PlainQueueName()) {
        Tell(CAT_NOT_APPLIED, QueueFile().c_str(), "");
        return 0;
    }
    std::string path = QueueFile();
    if (StoreMenuFile(&MainMenu, path.c_str())) {
        Tell(CAT_APPLIED, QueueName(), path.c_str());
        return 1;
    }
    Tell(CAT_NOT_APPLIED, path.c_str(), "");
    return 0;
}

// True while a settings file is read: the closing line of a block runs the
// apply item's action, which must not write the queue's file then.
bool gLoading = false;

// A queue with a lock file DIR/<queue>.lock is applied only after the pass
// phrase whose value (PassLockValue) the file holds is given. True when the
// queue has no lock or the right phrase was typed; a lock that cannot be
// read keeps the queue locked.
bool PassPhraseAccepted() {
    if (!PlainQueueName()) return false;
    std::string lock = gQueueDir + "/" + QueueName() + ".lock";
    char value[256];
    int found = PassLockRead(lock.c_str(), value, sizeof value);
    if (found == PASSLOCK_NONE) return true;
    if (found == PASSLOCK_UNREADABLE) {
        PostMsg("The lock %s cannot be read: the settings of queue %s were not applied.\n",
                lock.c_str(), QueueName());
        return false;
    }
    char *question = NlsTextOr(pDrvCoreDB, 25, CAT_PASSPHRASE, EnglishMessage(CAT_PASSPHRASE));
    std::string text = question != nullptr ? question : "";
    PutMem(question);
    size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, QueueName());
    char *phrase = GetPassPhrase(text.c_str());
    bool ok = PassLockOpens(phrase, value) == 1;
    PutMem(phrase);
    if (!ok) Tell(CAT_WRONG_PHRASE, QueueName(), "");
    return ok;
}

int32_t ApplyItem(TextMenu *, TextMenuItem *) {
    if (gLoading) return 1;
    if (!PassPhraseAccepted()) return 1;
    return WriteQueueSettings() ? 0 : 1;
}

intptr_t ApplyMenu(TextMenu *) {
    return PassPhraseAccepted() && WriteQueueSettings();
}

int32_t ShowSettings(TextMenu *, TextMenuItem *) {
    std::string path = QueueFile();
    Tell(CAT_SHOW, QueueName(), path.c_str());
    return 1; // shows only: nothing changed
}

// A submenu keeps its values whenever the user leaves it.
intptr_t KeepSubmenu(TextMenu *menu) {
    KeepMenuDefaults(menu);
    return 0;
}

// Succeeds, so that the menu is initialised again: every value back to what
// the run started with.
int32_t ResetDefaults(TextMenu *, TextMenuItem *) {
    return 0;
}

int32_t Cancel(TextMenu *, TextMenuItem *) {
    return 1;
}

// Finishing: None (state 1, bit 0) and the others exclude each other.
// Choosing None clears the others, choosing another clears None, and
// clearing everything leaves None.
int32_t FinishingChanged(TextMenu *, TextMenuItem *item) {
    constexpr intptr_t NONE = 1;
    intptr_t value = item->Value;
    if ((value & NONE) && !(item->PrevValue & NONE))
        value = NONE;
    else if ((value & NONE) && (value & ~NONE))
        value &= ~NONE;
    if (value == 0) value = NONE;
    item->Value = value;
    return 0;
}

// ---- The values printed by --load -----------------------------------------

// Keys of the printed values, by item (null: not printed).
const char *const MainKeys[ITEM_COUNT] = {
    nullptr,     "name",    "location", "copies", "scale", "paper", "width",
    "finishing", "quality", "toner",    "banner", nullptr, "trays",
};
const char *const StandardKeys[] = {"banner.text", "banner.position"};
const char *const CustomKeys[] = {"banner.file", "banner.lines"};

std::string StateName(const TextMenuItem &item, int state) {
    char *cursor = nullptr;
    char token[TOKEN_BUF_SIZE];
    char *tok = GetTokenD(item.pStates, ",", &cursor, token);
    for (int k = 0; tok != nullptr && k < state; ++k)
        tok = GetTokenD(nullptr, ",", &cursor, token);
    if (tok == nullptr || tok[0] == ' ') return "";
    return tok[0] == '_' ? tok + 1 : tok;
}

std::string ValueText(const TextMenuItem &item) {
    char buf[64];
    switch (item.Type) {
    case MENU_NAME:
    case MENU_TEXT:
        return item.Value ? reinterpret_cast<const char *>(item.Value) : "";
    case MENU_INTEGER:
        return std::to_string(static_cast<int>(item.Value));
    case MENU_FLOAT:
        snprintf(buf, sizeof buf, "%.3f", static_cast<double>(GetItemFloat(&item)));
        return buf;
    case MENU_PICK_ONE:
        return StateName(item, static_cast<int>(item.Value));
    case MENU_PICK_MANY: {
        std::string names;
        for (int k = 0; k < item.StateCnt && k < 64; ++k) {
            if (!(item.Value & (intptr_t{1} << k))) continue;
            if (!names.empty()) names += ",";
            names += StateName(item, k);
        }
        return names;
    }
    default:
        return "";
    }
}

void PrintValues(const TextMenuItem *items, const char *const *keys, int count) {
    for (int i = 0; i < count; ++i)
        if (keys[i] != nullptr) printf("%s=%s\n", keys[i], ValueText(items[i]).c_str());
}

int LoadAndPrint(const char *file) {
    MainMenu.Apply = nullptr; // reading only: nothing is applied
    gLoading = true;
    intptr_t result = RunMenu(&MainMenu, file, 0);
    gLoading = false;
    if (result != reinterpret_cast<intptr_t>(&MainMenu)) {
        fprintf(stderr, "dpqsettings: cannot read the settings file %s\n", file);
        return 1;
    }
    PrintValues(MainItems, MainKeys, ITEM_COUNT);
    TextMenu *banner = ValidateMenu(&MainMenu, ITEM_BANNER);
    if (banner == &StandardBanner) PrintValues(StandardBannerItems, StandardKeys, 2);
    if (banner == &CustomBanner) PrintValues(CustomBannerItems, CustomKeys, 2);
    return 0;
}

// Makes every lock in the queue directory that holds the older form of
// phrase's value anew with value, keeping its mode; links and other
// non-files are left alone.
void RenewOldLocks(const char *phrase, const char *value) {
    DIR *dir = opendir(gQueueDir.c_str());
    if (dir == nullptr) return;
    while (const dirent *e = readdir(dir)) {
        std::string name = e->d_name;
        if (name.size() <= 5 || name.compare(name.size() - 5, 5, ".lock") != 0) continue;
        std::string path = gQueueDir + "/" + name;
        struct stat st;
        char old[256];
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            PassLockRead(path.c_str(), old, sizeof old) != PASSLOCK_READ || !PassLockIsOld(old) ||
            !PassLockOpens(phrase, old))
            continue;
        FileReplacement r;
        std::string temp = path + ".new";
        if (!ReplaceOpen(&r, path.c_str(), temp.c_str(), -1, REPLACE_KEEP_MODE)) {
            fprintf(stderr, "dpqsettings: cannot renew the lock %s: %s\n", path.c_str(),
                    strerror(r.Errno));
            continue;
        }
        fprintf(r.pOut, "%s\n", value);
        if (ReplaceCommit(&r, nullptr))
            fprintf(stderr, "dpqsettings: the lock %s now holds the new value\n", path.c_str());
        else
            fprintf(stderr, "dpqsettings: cannot renew the lock %s: %s\n", path.c_str(),
                    strerror(r.Errno));
    }
    closedir(dir);
}

// Asks for a pass phrase and prints its lock value; locks of the queue
// directory that hold the older value of the same phrase get the new one.
int PrintLockValue() {
    char *phrase = GetPassPhrase("Pass phrase: ");
    char *value = PassLockValue(phrase);
    if (value == nullptr) {
        PutMem(phrase);
        fprintf(stderr, "dpqsettings: the C library cannot make a lock value\n");
        return 1;
    }
    printf("%s\n", value);
    fflush(stdout);
    RenewOldLocks(phrase, value);
    PutMem(value);
    PutMem(phrase);
    return 0;
}

int Usage(FILE *out, int status) {
    fputs(USAGE, out);
    return status;
}

} // namespace

int main(int argc, char **argv) {
    my_name = SaveStr_("dpqsettings");
    constexpr unsigned OPT_HELP = 1, OPT_LOCK_VALUE = 2, OPT_LOAD = 4, OPT_DIR = 8;
    std::string loadFile;
    const ToolOption known[] = {
        {"--help", OPT_HELP, nullptr},
        {"-h", OPT_HELP, nullptr},
        {"--passphrase-value", OPT_LOCK_VALUE, nullptr},
        {"--load", OPT_LOAD, &loadFile},
        {"--dir", OPT_DIR, &gQueueDir},
    };
    // Read word by word: help asked for before a mistake wins over it.
    ToolOptionRules rules;
    rules.anywhere = true;
    rules.stop = OPT_HELP;
    rules.maxOperands = 1;
    std::vector<std::string> args(argv + 1, argv + argc);
    unsigned given = 0;
    std::string bad;
    switch (ToolParseOptions(known, std::size(known), &args, &given, &bad, &rules)) {
    case TOOLOPT_STOP:
        return Usage(stdout, 0);
    case TOOLOPT_NO_VALUE:
        fprintf(stderr, "dpqsettings: %s needs a value\n", bad.c_str());
        return Usage(stderr, 2);
    case TOOLOPT_UNKNOWN:
        fprintf(stderr, "dpqsettings: unknown option %s\n", bad.c_str());
        return Usage(stderr, 2);
    case TOOLOPT_EXTRA:
        fprintf(stderr, "dpqsettings: more than one settings file\n");
        return Usage(stderr, 2);
    default:
        break;
    }
    const char *load = given & OPT_LOAD ? loadFile.c_str() : nullptr;
    const char *file = args.empty() ? nullptr : args[0].c_str();
    bool lockValue = given & OPT_LOCK_VALUE;
    if (lockValue) return PrintLockValue();
    if (load != nullptr && file != nullptr) {
        fprintf(stderr, "dpqsettings: --load takes the only settings file\n");
        return Usage(stderr, 2);
    }

    char *root = ToolRoot(argv[0], DPQ_BUILD_TOOL_ROOT);
    int catalog = DornaToolInit(argv[0], root, nullptr);
    PutMem(root);
    if (!catalog) return 1;
    BuildMenus();
    // The help files ship beside the program in the build, and in the tool
    // root's help directory when installed.
    char *dir = GetToolPath(argv[0]);
    pTtyHtmlName = SaveStr("%s/dpqsettings.html", dir);
    PutMem(dir);
    if (access(pTtyHtmlName, R_OK) != 0) {
        PutMem(pTtyHtmlName);
        pTtyHtmlName = SaveStr("%s/help/dpqsettings.html", pToolPath);
    }
    if (load != nullptr) return LoadAndPrint(load);
    if (file != nullptr) {
        if (!LoadMenuFile(&MainMenu, file)) {
            fprintf(stderr, "dpqsettings: cannot read the settings file %s\n", file);
            return 1;
        }
        // What was refused is on the screen until the menu clears it: a
        // user at the terminal reads it first.
        if (SettingsLinesRefused > 0 && isatty(STDIN_FILENO)) PostMsg("%s", "");
    }
    RunMenu(&MainMenu, nullptr, 1);
    return 0;
}
