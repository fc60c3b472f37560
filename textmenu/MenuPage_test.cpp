#include "TextMenu.h"

#include "HelpTty.h"
#include "MemMgr.h"
#include "MenuTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <string>

using menu_testing::MenuBuilder;
using menu_testing::RunWithInput;

namespace {

const std::string RET = "\nPress <Return> to continue ";

size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

int32_t Succeed(TextMenu *, TextMenuItem *item) {
    ++item->PrevValue;
    return 0;
}
int32_t Refuse(TextMenu *, TextMenuItem *) {
    return 1;
}

intptr_t ApplyMenu(TextMenu *menu) {
    printf("<apply>");
    return reinterpret_cast<intptr_t>(menu) + 1;
}

// A queue menu: lettered exit, numbered items of every value kind.
struct PageMenu {
    MenuBuilder b;
    TextMenu *menu;
    PageMenu() {
        b.Add(MENU_LINE, "Settings of one queue");
        b.Add(MENU_NAME, "Queue name", nullptr, "A(1,8)");            // 1
        b.Add(MENU_PICK_ONE, "Paper size", "A4, Letter,Legal,A3,A5"); // 2
        b.Add(MENU_INTEGER, "Copies", nullptr, "d(1,99)");            // 3
        b.Add(MENU_FLOAT, "Scale", nullptr, "f(0.1,4)");              // 4
        b.Add(MENU_COMMAND, "Print a test page");                     // 5
        b.Add(MENU_EXIT, "~x Exit");
        b.Add(MENU_APPLY, "Apply"); // 6
        menu = b.Finish("Queue settings", MENU_HELP);
        b[1].pPrompt = b.Text("Queue name");
        b[3].pPrompt = b.Text("Copies");
        b[3].Default = 1;
        b[5].Action = Succeed;
        InitMenu(menu, nullptr);
    }
    ~PageMenu() { FreeMenu(menu); }
    int Select(const char *answer, int count = 100) {
        snprintf(LineBuf, sizeof LineBuf, "%s", answer);
        return FindSelection(menu, nullptr, count);
    }
};

TEST(MenuPage, AnswersSelectByNumberOrByLetterInEitherCase) {
    PageMenu m;
    struct {
        const char *answer;
        int chosen;
        const char *option;
    } const rows[] = {
        {"1", 2, ""},           {"3 5", 4, "5"}, {"  2   7 8", 3, "7 8"},
        {"6", 8, ""},           {"x", 7, ""},    {"X", 7, ""},
        {"xyz arg", 7, "arg"},  {"7", 0, ""},    {"0", 0, ""},
        {"q", 0, ""},           {"", 0, ""},     {"-1", 0, ""},
        {"99999999999", 0, ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.answer);
        EXPECT_EQ(m.Select(r.answer), r.chosen);
        EXPECT_STREQ(pOption, r.option);
    }
    EXPECT_EQ(m.Select("6", 7), 0); // only the first `count` items are looked at
    m.b[3].Show = 1;
    EXPECT_EQ(m.Select("3"), 0);
    m.b[6].Show = 2;
    EXPECT_EQ(m.Select("x"), 0);
}

TEST(MenuPage, HelpAnswerOpensTheHelpViewer) {
    auto r = RunWithInput("\n", [] {
        PageMenu m;
        pTtyHtmlName = const_cast<char *>("missing-help.html");
        pTtyHtmlTitle = const_cast<char *>("Help");
        printf("<%d>", m.Select("h"));
    });
    // The viewer reports the file it cannot load and waits for <Return>.
    EXPECT_EQ(r.out, "Error in reading HTML file missing-help.html\n" + RET + "<0>");
}

TEST(MenuPage, HelpAnswerWithoutHelpSaysSo) {
    // The program's help file opens whether or not it gave a title.
    testsupport::TempDir dir("textmenu");
    std::string page = dir.path + "/help.html";
    testsupport::WriteFile(page, "<html><body><h1>Queue help</h1><p>Copies: how many.</p></body></html>\n");
    struct Row {
        const char *name;
        bool hook;         // the help viewer is linked (its hook is set)
        const char *file;  // pTtyHtmlName
        const char *title; // pTtyHtmlTitle
        const char *shown; // what the answer shows
    } rows[] = {
        {"no help file named", true, nullptr, "Help", "No help is available for this menu.\n"},
        {"the help viewer not linked", false, page.c_str(), "Help",
         "No help is available for this menu.\n"},
        {"a help file without a title", true, page.c_str(), nullptr, "Copies: how many."},
        {"a help file with its title", true, page.c_str(), "Queue tool", "Copies: how many."},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        auto run = RunWithInput("e\n\n", [&] {
            PageMenu m;
            my_name = const_cast<char *>("queuetool");
            if (!r.hook) pMenuHelpHook = nullptr;
            pTtyHtmlName = const_cast<char *>(r.file);
            pTtyHtmlTitle = const_cast<char *>(r.title);
            printf("<%d>", m.Select("h"));
        });
        EXPECT_NE(run.out.find(r.shown), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("<0>"), std::string::npos) << run.out;
    }
}

TEST(MenuPage, StoreAnswersWriteTheSettingsFile) {
    // A path a settings file name may hold: no dots.
    testsupport::TempDir dir("textmenu");
    std::string good = dir.path + "/queue_settings";
    std::string bad = dir.path + "/queue.settings";
    auto r = RunWithInput(good + "\n" + bad + "\n\n", [] {
        PageMenu m;
        m.menu->Flags |= MENU_SAVE_ASK;
        m.b[3].Value = 7;
        printf("<%d>", m.Select("s"));
        printf("<%d>", m.Select("S"));
    });
    EXPECT_EQ(
        r.out,
        "Enter the settings file name: <0>Enter the settings file name: Invalid character '.'\n"
        "This text may contain \"abc..zABC..Z012..9-_/\"" +
            RET + "<0>");
    EXPECT_EQ(testsupport::ReadFile(good), "1[] 11 0\n2[0] 9 0\n3[7] 13 0\n4[0.000] 14 0\n");
    EXPECT_FALSE(std::filesystem::exists(bad));

    auto exits = RunWithInput("", [&] {
        if (chdir(dir.path.c_str()) != 0) return;
        PageMenu m;
        m.menu->Flags |= MENU_SAVE_EXIT;
        m.b[3].Value = 7;
        m.Select("s");
        printf("<not reached>");
    });
    EXPECT_EQ(exits.status, 0);
    EXPECT_EQ(exits.out, "");
    EXPECT_EQ(testsupport::ReadFile(dir.path + "/.settings"), testsupport::ReadFile(good));
}

TEST(MenuPage, PickOneTakesAStateNumberOrStepsToTheNextVisibleState) {
    PageMenu m;
    TextMenuItem &paper = m.b[2];
    struct {
        intptr_t from;
        const char *arg;
        int ok;
        intptr_t to;
    } const rows[] = {
        {0, "5", 1, 4}, {0, "3", 1, 2}, {0, "", 1, 2},  {2, "", 1, 3},  {4, "", 1, 0},
        {0, "2", 1, 2}, {3, "9", 1, 4}, {0, "0", 1, 2}, {0, "x", 1, 2}, {0, "1", 1, 0},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::to_string(r.from) + " with '" + r.arg + "'");
        paper.Value = r.from;
        paper.PrevValue = -7;
        char arg[16];
        snprintf(arg, sizeof arg, "%s", r.arg);
        EXPECT_EQ(ProcessSelection(m.menu, 2, arg), r.ok);
        EXPECT_EQ(paper.Value, r.to);
        EXPECT_EQ(paper.PrevValue, r.from);
    }
    HideStateSelection(&paper, 0);
    HideStateSelection(&paper, 2);
    HideStateSelection(&paper, 3);
    HideStateSelection(&paper, 4);
    paper.Value = 1;
    char none[] = "";
    EXPECT_EQ(ProcessSelection(m.menu, 2, none), 0); // no other visible state: stays
    EXPECT_EQ(paper.Value, 1);
}

TEST(MenuPage, ValuesAreEnteredFromTheArgumentOrThePrompt) {
    auto r = RunWithInput("lp7\n\n", [] {
        PageMenu m;
        char arg[] = "12";
        char empty[] = "";
        printf("<%d>", ProcessSelection(m.menu, 3, arg));
        printf("<%ld>", static_cast<long>(m.b[3].Value));
        printf("<%d>", ProcessSelection(m.menu, 1, empty));
        printf("<%s>", reinterpret_cast<char *>(m.b[1].Value));
        printf("<%d>", ProcessSelection(m.menu, 1, empty)); // an empty answer changes nothing
        printf("<%s>", reinterpret_cast<char *>(m.b[1].Value));
        char scale[] = "2.5";
        printf("<%d>", ProcessSelection(m.menu, 4, scale));
        printf("<%.3f>", static_cast<double>(GetItemFloat(&m.b[4])));
    });
    EXPECT_EQ(r.out, "<1><12>Queue name: <1><lp7>Queue name: <0><lp7><1><2.500>");
}

TEST(MenuPage, RefusedValuesLeaveTheItemAlone) {
    auto r = RunWithInput("\n\n\n", [] {
        PageMenu m;
        char copies[] = "100";
        printf("<%d>", ProcessSelection(m.menu, 3, copies));
        printf("<%ld>", static_cast<long>(m.b[3].Value));
        m.b[1].pFormat = nullptr;
        std::string longName(300, 'n');
        printf("<%d>", ProcessSelection(m.menu, 1, longName.data()));
        printf("<%s>", reinterpret_cast<char *>(m.b[1].Value));
        std::string fits(255, 'n');
        printf("<%d>", ProcessSelection(m.menu, 1, fits.data()));
        printf("<%zu>", strlen(reinterpret_cast<char *>(m.b[1].Value)));
    });
    EXPECT_EQ(r.out, "This number must be between 1 to 99." + RET + "<0><1>" +
                         "This text length must be from 1 to 255 characters long." + RET +
                         "<0><><1><255>");
}

TEST(MenuPage, ActionsRunAfterAChangeAndDecideCommands) {
    PageMenu m;
    m.b[3].Action = Succeed;
    char arg[] = "4";
    m.b[3].PrevValue = 0;
    EXPECT_EQ(ProcessSelection(m.menu, 3, arg), 1);
    EXPECT_EQ(m.b[3].PrevValue, 1);
    EXPECT_EQ(ProcessSelection(m.menu, 5, arg), 1);
    m.b[5].Action = Refuse;
    EXPECT_EQ(ProcessSelection(m.menu, 5, arg), 0);
    EXPECT_EQ(ProcessSelection(m.menu, 0, arg), 0);
    EXPECT_EQ(ProcessSelection(m.menu, -1, arg), 0);
    EXPECT_EQ(ProcessSelection(m.menu, 99, arg), 0);
}

TEST(MenuPage, ApplyIsRefusedWhileANameIsEmpty) {
    auto r = RunWithInput("\n", [] {
        PageMenu m;
        printf("<%d>", ProcessSelection(m.menu, 7, nullptr));
    });
    EXPECT_EQ(r.out,
              "\nAll names must be set before applying setup.\nPress <Return> to continue<0>");
}

TEST(MenuPage, PromptYNAsksUntilItGetsYOrN) {
    auto r = RunWithInput("maybe\nY\nn\ny\n", [] {
        printf("<%d>", PromptYN("Delete %s", "lp0"));
        printf("<%d>", PromptYN("Again"));
        printf("<%d>", PromptYN("At the end"));
    });
    EXPECT_EQ(r.out, "Delete lp0? [y/n] Delete lp0? [y/n] Delete lp0? [y/n] <0>Again? [y/n] <1>"
                     "At the end? [y/n] <0>");
}

TEST(MenuPage, PromptUserReadsIntoTheBufferOrAStoredCopy) {
    auto r = RunWithInput("first\n" + std::string(2000, 's') + "\n", [] {
        char buf[1024];
        printf("<%s>", PromptUser("Name: ", buf));
        char *copy = PromptUser("Long: ", nullptr);
        printf("<%zu>", strlen(copy));
        PutMem(copy);
        printf("<%s>", PromptUser("End: ", nullptr) ? "text" : "null");
    });
    EXPECT_EQ(r.out, "Name: <first>Long: <1023>End: <text>");
}

TEST(MenuPage, NonInteractiveRunsReturnTheApplyResult) {
    PageMenu m;
    m.menu->Apply = ApplyMenu;
    auto r = RunWithInput("", [&] {
        printf("<%d>", RunMenu(m.menu, nullptr, 0) == reinterpret_cast<intptr_t>(m.menu) + 1);
        m.menu->Apply = nullptr;
        printf("<%d>", RunMenu(m.menu, nullptr, 0) == reinterpret_cast<intptr_t>(m.menu));
    });
    EXPECT_EQ(r.out, "<apply><1><1>");
}

TEST(MenuPage, AMissingSettingsFileRunsTheCancelItem) {
    auto r = RunWithInput("", [] {
        PageMenu m;
        printf("<%ld>", static_cast<long>(RunMenu(m.menu, "/nonexistent/settings", 0)));
        MenuBuilder b;
        b.Add(MENU_CANCEL, "Cancel");
        TextMenu *menu = b.Finish();
        printf("<%d>",
               RunMenu(menu, "/nonexistent/settings", 0) == reinterpret_cast<intptr_t>(&b[0]));
        b[0].Action = Refuse;
        printf("<%ld>", static_cast<long>(RunMenu(menu, "/nonexistent/settings", 0)));
    });
    EXPECT_EQ(r.out, "<0><1><1>");
    EXPECT_NE(r.err.find("/nonexistent/settings"), std::string::npos);
}

TEST(MenuPage, ThePageIsClearedWithTheSequenceWhereATerminalIsNamed) {
    // Written, not run as a program, so a terminal type without a terminfo
    // entry clears too; output with no terminal named stays plain.
    const std::string clear = "\x1b[H\x1b[2J";
    struct {
        const char *name;
        const char *term; // null: unset
        bool cleared;
    } const rows[] = {
        {"terminal named", "xterm", true}, {"no terminfo entry", "dorna-no-such-terminal", true},
        {"no TERM", nullptr, false},       {"empty TERM", "", false},
        {"dumb terminal", "dumb", false},
    };
    for (const auto &row : rows) {
        auto r = RunWithInput("", [&] {
            if (row.term) setenv("TERM", row.term, 1);
            PageMenu m;
            printf("<%d>", PrintMenu(m.menu, 0, 0));
        });
        EXPECT_CHILD_OK(r);
        EXPECT_EQ(r.out.compare(0, clear.size(), clear) == 0, row.cleared) << row.name << r.out;
        EXPECT_EQ(Count(r.out, "\x1b"), row.cleared ? 2u : 0u) << row.name;
        EXPECT_NE(r.out.find("Queue settings"), std::string::npos) << row.name;
        EXPECT_EQ(r.err, "") << row.name;
    }
}

TEST(MenuPage, EndOfInputEndsTheProcess) {
    auto r = RunWithInput("", [] {
        PageMenu m;
        RunMenu(m.menu, nullptr, 1);
        printf("<returned>");
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("<returned>"), std::string::npos);
    EXPECT_NE(r.err.find("reading from standard input"), std::string::npos);
}

TEST(MenuPage, LeavingWithoutChangesNeverAsksTheApplyQuestion) {
    auto r = RunWithInput("\nn\n\ny\n", [] {
        PageMenu m;
        m.menu->pApplyPrompt = m.b.Text("Save the queue");
        my_name = const_cast<char *>("dpq");
        printf("<%ld>", static_cast<long>(RunMenu(m.menu, nullptr, 1)));
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Count(r.out, "Save the queue"), 0u);
    EXPECT_EQ(Count(r.out, "\nDo you want to exit dpq? [y/n] "), 2u);
    EXPECT_NE(r.out.find("? [y/n] \n<0>"), std::string::npos);
}

TEST(MenuPage, LeavingAfterAChangeAsksTheApplyQuestion) {
    auto r = RunWithInput("3 7\n\ny\n", [] {
        PageMenu m;
        m.menu->pApplyPrompt = m.b.Text("Save the queue");
        m.menu->Apply = ApplyMenu;
        m.b[1].Default = reinterpret_cast<intptr_t>("lp0");
        printf("<%ld>", static_cast<long>(RunMenu(m.menu, nullptr, 1)));
        printf("<%p>", reinterpret_cast<void *>(m.b[1].Value));
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Save the queue? [y/n] <apply><0><(nil)>"), std::string::npos)
        << r.out << r.err;
}

TEST(MenuPage, ASubmenuAsksToReturnToItsParent) {
    auto r = RunWithInput("1\n\ny\n\ny\n", [] {
        MenuBuilder sb;
        sb.Add(MENU_INTEGER, "Lines");
        TextMenu *sub = sb.Finish("Banner page");
        PageMenu m;
        MenuBuilder b;
        b.Add(MENU_SUBMENU, "Banner");
        TextMenu *menu = b.Finish("Queue");
        b[0].Value = reinterpret_cast<intptr_t>(sub);
        sub->pParent = menu;
        my_name = const_cast<char *>("dpq");
        printf("<%ld>", static_cast<long>(RunMenu(menu, nullptr, 1)));
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(" 1) Banner page "), std::string::npos);
    EXPECT_NE(r.out.find("\nDo you want to return to Queue menu? [y/n] "), std::string::npos);
    EXPECT_NE(r.out.find("\nDo you want to exit dpq? [y/n] \n<0>"), std::string::npos);
}

TEST(MenuPage, ChosenLeavingItemsEndTheRunAndExitFlagStopsIt) {
    auto r = RunWithInput("5\nx\n", [] {
        PageMenu m;
        printf("<%ld>", static_cast<long>(RunMenu(m.menu, nullptr, 1)));
        printf("<%ld>", static_cast<long>(m.b[5].PrevValue));
        flExitTextMenu = 1;
        printf("<%ld>", static_cast<long>(RunMenu(m.menu, nullptr, 1)));
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("<0><1><0>"), std::string::npos);
}

TEST(MenuPage, AnEmptyAnswerOnANoExitMenuShowsThePageAgain) {
    auto r = RunWithInput("\n\nx\n", [] {
        PageMenu m;
        m.menu->Flags |= MENU_NO_EXIT;
        printf("<%ld>", static_cast<long>(RunMenu(m.menu, nullptr, 1)));
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Count(r.out, "Queue settings:"), 3u);
    EXPECT_EQ(Count(r.out, "[y/n]"), 0u);
}

TEST(MenuPage, ThePageShowsNumbersLettersAndValues) {
    auto r = RunWithInput("", [] {
        PageMenu m;
        m.b[4].Show = 1;
        m.b[5].Show = 2;
        PrintMenu(m.menu, 17, 14);
    });
    std::string expected = "\f\nQueue settings:\n\n"
                           "Settings of one queue \n\n"
                           " 1) Queue name ....... []\n\n"
                           " 2) Paper size ....... [1. A4]\n\n"
                           " 3) Copies ........... [1]\n\n"
                           "    Scale ............ [0.000]\n\n"
                           " x) Exit \n\n"
                           " 6) Apply \n\n";
    EXPECT_EQ(r.out.substr(0, expected.size()), expected);
}

TEST(MenuPage, TitlesAlignByTheMenusChoice) {
    auto r = RunWithInput("", [] {
        MenuBuilder b;
        TextMenu *menu = b.Finish("Centred\nsecond line");
        menu->Flags = MENU_NO_EXIT;
        menu->TitleAlign = 1;
        PrintMenu(menu, 0, 7);
        menu->TitleAlign = 2;
        PrintMenu(menu, 0, 7);
        PrintMenu(menu, 0, 90);
    });
    EXPECT_NE(r.out.find("\f\n" + std::string(36, ' ') + "Centred\nsecond line\n\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("\f\n" + std::string(73, ' ') + "Centred\nsecond line\n\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("\f\nCentred\nsecond line\n\n"), std::string::npos);
}

TEST(MenuPage, ColumnBlocksLayItemsOutInCells) {
    auto r = RunWithInput("", [] {
        MenuBuilder b;
        b.Add(MENU_COLUMNS, "");
        b.Add(MENU_COMMAND, "One");
        b.Add(MENU_COMMAND, "Two");
        b.Add(MENU_COMMAND, "Three");
        b.Add(MENU_COLUMNS, "");
        b.Add(MENU_EXIT, "~e Exit");
        b.Add(MENU_COMMAND, "~c Contents");
        TextMenu *menu = b.Finish("Cells");
        b[0].Value = 3;
        b[4].Value = 2;
        InitMenu(menu, nullptr);
        int index = 0;
        TextMenuItem *last = PrintMenuBarItem(&b[0], MENU_COLUMNS, &index);
        printf("<%d><%d>", index, last == &b[6]);
    });
    // Each cell is cut to its width less two, and a blank follows it.
    auto cell = [](const std::string &text, int width) {
        return (text + std::string(100, ' ')).substr(0, static_cast<size_t>(width - 2)) + " ";
    };
    std::string cell3 = cell(" 1) One", 26) + cell(" 2) Two", 26) + cell(" 3) Three", 26) + "\n";
    std::string cell2 = cell(" e) Exit", 40) + cell(" c) Contents", 40) + "<6><1>";
    EXPECT_EQ(r.out, cell3 + cell2);
}

} // namespace
