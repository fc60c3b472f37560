// queue-menu - the shortest complete terminal tool on the Dorna library: the
// settings of one print queue as a menu in the user's language, values
// checked as they are typed, a note per queue in a record file, the values
// stored in a settings file, and help on 'h'.
//
//   queue-menu    shows the menu, starting from ./.settings when it is there;
//                 's' stores the values in ./.settings and ends the program.
#include <dorna/DornaTool.h>

#include <cstdio>
#include <cstring>

namespace {

#define TEXT(s) const_cast<char *>(s)

// The queue's location, kept per queue name in queues.xdb beside the settings.
int32_t KeepLocation(TextMenu *, TextMenuItem *item);

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
// Texts, states and prompts come from the catalog; "-" stands until then.
TextMenuItem Items[] = {
    {.pText = TEXT("-"), .Type = MENU_LINE},
    {.pText = TEXT("-"), .Type = MENU_NAME, .pFormat = TEXT("A(1,32)+-+_")},
    {.pText = TEXT("-"), .Type = MENU_TEXT, .Action = KeepLocation, .pFormat = TEXT("p(1,64)")},
    {.pText = TEXT("-"), .Type = MENU_INTEGER, .Default = 1, .pFormat = TEXT("d(1,999)")},
    {.pText = TEXT("-"), .Type = MENU_PICK_ONE, .SavedValue = -1},
    {.pText = TEXT("-"), .Type = MENU_PICK_ONE, .Default = 1, .SavedValue = -1},
    {.pText = TEXT("-"), .Type = MENU_EXIT},
    {},
};
TextMenu Menu = {.pItems = Items, .Flags = MENU_HELP | MENU_SAVE_EXIT};

int32_t KeepLocation(TextMenu *, TextMenuItem *item) {
    const char *queue = reinterpret_cast<const char *>(Items[1].Value);
    const char *where = reinterpret_cast<const char *>(item->Value);
    if (queue == nullptr || *queue == '\0' || where == nullptr) return 0;
    DbT *db = DbTOpenPath("queues.xdb", 0);
    if (db == nullptr || !DbmTPutRecord(db, queue, where, static_cast<int>(strlen(where) + 1)))
        PostMsg("Could not keep the location of %s in queues.xdb\n", queue);
    DbTClose(db);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc > 1) {
        bool help = argc == 2 && strcmp(argv[1], "--help") == 0;
        fputs("usage: queue-menu  (s stores the values in ./.settings, h shows help)\n",
              help ? stdout : stderr);
        return help ? 0 : 2;
    }
    if (!DornaToolInit(argv[0], nullptr, nullptr)) return 1;
    // The texts of the suite's queue tool (catalog section 25), in one language.
    NlsTtyMenuCvt(&Menu.pTitle, 5000);
    const int texts[] = {5010, 5011, 5012, 5013, 5015, 5018, 5028};
    for (int i = 0; i < 7; ++i)
        NlsTtyMenuItemCvt(&Items[i], texts[i], 1);
    NlsTtyMenuItemPromptCvt(&Items[1], 5080, 3); // name, location, copies
    NlsTtyMenuItemStateCvt(&Items[4], 5060, 1);  // paper sizes
    NlsTtyMenuItemStateCvt(&Items[5], 5062, 1);  // print qualities
    // The help page ships beside the program.
    char *dir = GetToolPath(argv[0]);
    pTtyHtmlName = SaveStr("%s/queue-menu.html", dir);
    PutMem(dir);
    LoadMenuFile(&Menu, ".settings"); // what 's' stored last time, if anything
    RunMenu(&Menu, nullptr, 1);
    return 0;
}
