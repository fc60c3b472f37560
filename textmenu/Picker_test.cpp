// Tests of the screen image and the full-screen state picker. Output to the
// terminal is captured in a child process; the picker's frame
// texts come from a small catalog made for the test.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Dbm.h"
#include "MemMgr.h"
#include "NlsUtils.h"
#include "TestSupport.h"
#include "TextMenu.h"
#include "utils.h"

namespace {

// An image of the given size with blank cells, on the stack of the test.
struct Image {
    std::vector<char> cells;
    TermImage img{};
    Image(int cols, int rows) : cells(static_cast<size_t>(cols) * rows, ' ') {
        img.Cols = cols;
        img.Rows = rows;
        img.CurRow = 1;
        img.pCells = cells.data();
    }
    std::string Row(int r) const { // 0-based
        return std::string(cells.data() + static_cast<size_t>(r) * img.Cols,
                           static_cast<size_t>(img.Cols));
    }
    std::string All() const { return std::string(cells.begin(), cells.end()); }
};

using testsupport::ChildResult;

// Runs fn in a child with standard output captured and `input` on standard
// input; the child's environment gets LINES and COLUMNS.
ChildResult InChild(const std::function<void()> &fn, const std::string &input = "", int cols = 80,
                    int rows = 24) {
    return testsupport::RunChild(
        [&] {
            setenv("COLUMNS", std::to_string(cols).c_str(), 1);
            setenv("LINES", std::to_string(rows).c_str(), 1);
            fn();
        },
        input);
}

struct WriteCase {
    const char *name;
    int col, row;
    const char *text;
    int at;               // cell where the text must begin
    std::string expected; // what lands there
};

TEST(ScreenImage, WriteStringPlacesTextAndKeepsInsideTheImage) {
    const WriteCase cases[] = {
        {"row 1 column 0 is the first cell", 0, 1, "abc", 0, "abc"},
        {"second row", 2, 2, "xy", 10 + 2, "xy"},
        {"row 0 counts as row 1", 3, 0, "r", 3, "r"},
        {"row beyond the last counts as row 1", 3, 9, "r", 3, "r"},
        {"negative column counts as 0", -5, 2, "c", 10, "c"},
        {"column beyond the width counts as 0", 11, 2, "c", 10, "c"},
        {"text runs on into the next row", 8, 1, "wrap", 8, "wrap"},
        {"text stops at the last cell", 7, 3, "0123456789", 27, "012"},
    };
    for (const WriteCase &tc : cases) {
        SCOPED_TRACE(tc.name);
        Image im(10, 3);
        SetPosition(&im.img, tc.col, tc.row);
        WriteString(&im.img, "%s", tc.text);
        EXPECT_EQ(im.All().substr(static_cast<size_t>(tc.at), tc.expected.size()), tc.expected);
        EXPECT_EQ(im.cells.size(), 30u);
    }
}

TEST(ScreenImage, WriteStringCutsTextAt511Characters) {
    Image im(100, 10);
    SetPosition(&im.img, 0, 1);
    WriteString(&im.img, "%s", std::string(600, 'x').c_str());
    EXPECT_EQ(im.All().find_first_not_of('x'), 511u);
}

TEST(ScreenImage, FillAreaIsClippedToTheImage) {
    struct Case {
        const char *name;
        int col, row, width, height;
        int filled;
    } cases[] = {
        {"inside", 1, 1, 2, 2, 4},
        {"negative corner", -3, -3, 5, 5, 4},
        {"far too large", 0, 0, 1 << 30, 1 << 30, 30},
        {"beyond the right edge", 9, 0, 5, 1, 1},
        {"entirely outside", 20, 20, 3, 3, 0},
        {"negative size", 2, 2, -4, -4, 0},
    };
    for (const Case &tc : cases) {
        SCOPED_TRACE(tc.name);
        Image im(10, 3);
        FillArea(&im.img, tc.col, tc.row, tc.width, tc.height, '#');
        std::string all = im.All();
        EXPECT_EQ(std::count(all.begin(), all.end(), '#'), tc.filled);
    }
}

TEST(ScreenImage, RefreshPrintsEveryCellButTheLastAndNewlinesEndRows) {
    Image im(4, 3);
    memcpy(im.cells.data(), "abcdefghijkl", 12);
    ChildResult c = InChild([&] { Refresh(&im.img); });
    EXPECT_EQ(c.out, "abcdefghijk");

    Image nl(4, 3);
    memcpy(nl.cells.data(), "a\nbcdefghijk", 12);
    c = InChild([&] { Refresh(&nl.img); });
    // Row 1 ends at the newline; row 2 goes on from the cell after it.
    EXPECT_EQ(c.out, "abcdefghi");
}

TEST(ScreenImage, NumberScreenFillsDigitsOnlyWhereTheImageIs) {
    Image big(80, 30);
    NumberScreen(&big.img);
    EXPECT_EQ(big.Row(0).substr(0, 12), "012345678901");
    EXPECT_EQ(big.All()[1919], '9');
    EXPECT_EQ(big.All()[1920], ' ') << "only 24 rows of 80 are numbered";
    Image small(10, 2);
    NumberScreen(&small.img);
    EXPECT_EQ(small.All(), "01234567890123456789");
}

TEST(ScreenImage, OverlayDrawsAFramedBoxOfTheTextLines) {
    struct Case {
        const char *name;
        const char *text;
        int width, height, wait;
        std::vector<std::string> lines; // as drawn, one per cursor move
    } cases[] = {
        {"short text", "Hi", 4, 2, 0, {"********", "* Hi   *", "********"}},
        {"text longer than a line goes on below",
         "abcdefg",
         4,
         3,
         0,
         {"********", "* abcd *", "* efg  *", "********"}},
        {"newline ends its line",
         "ab\ncd",
         4,
         3,
         0,
         {"********", "* ab   *", "* cd   *", "********"}},
        {"text cut at the box height",
         "aaaabbbbcccc",
         4,
         2,
         0,
         {"********", "* aaaa *", "* bbbb *", "********"}},
        {"waiting adds the enter line",
         "Done",
         10,
         1,
         1,
         {"**************", "* Done       *", "* Press enter*", "**************"}},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.name);
        Image im(40, 20);
        SetOvlInfo(&im.img, 5, 2, tc.width, tc.height);
        ChildResult c = InChild([&] { Overlay(&im.img, tc.text, tc.wait); }, "\n");
        std::string expected;
        for (size_t i = 0; i < tc.lines.size(); ++i)
            expected += "\x1b[" + std::to_string(3 + i) + ";6H" + tc.lines[i];
        expected += "\x1b[1;1H"; // back to the write position
        EXPECT_EQ(c.out, expected);
    }
}

TEST(ScreenImage, OverlayKeepsToTheTerminal) {
    Image im(20, 5);
    SetOvlInfo(&im.img, 15, 3, 50, 50);
    ChildResult c = InChild([&] { Overlay(&im.img, std::string(300, 'z').c_str(), 0); });
    // Width cut to what fits beside column 15 (20 - 15 - 4 = 1); rows 4 and
    // 5 are all there is: the frame without text.
    EXPECT_EQ(c.out, "\x1b[4;16H*****\x1b[5;16H*****\x1b[1;1H");
}

TEST(ScreenImage, GetTermInfoSizesFromLinesAndColumnsWithoutATerminal) {
    ChildResult c = InChild(
        [] {
            TermImage *img = GetTermInfo(nullptr);
            printf("%dx%d ", img->Cols, img->Rows);
            printf("%s ", GetTermInfo(img) == img ? "same" : "new");
            setenv("COLUMNS", "50", 1);
            TermImage *again = GetTermInfo(img);
            printf("%dx%d %s", again->Cols, again->Rows, again == img ? "same" : "new");
        },
        "", 40, 20);
    EXPECT_EQ(c.out, "40x20 same 50x20 new");
    c = InChild([] {
        unsetenv("COLUMNS");
        unsetenv("LINES");
        TermImage *img = GetTermInfo(nullptr);
        printf("%dx%d", img->Cols, img->Rows);
    });
    EXPECT_EQ(c.out, "80x24");
}

// ---------------------------------------------------------------------------
// The picker
// ---------------------------------------------------------------------------

// A catalog with the picker's frame texts, opened as pDrvCoreDB in the child.
// Its directory belongs to the test program, so that it goes when the
// program ends; each child writes the same texts into it.
testsupport::TempDir frameCatalogDir("picker-test");

void OpenFrameCatalog() {
    std::filesystem::create_directories(frameCatalogDir / "db");
    DbmSetV4DriverPathHandling();
    std::string path = frameCatalogDir / "db/core.xdb";
    DbT *db = DbTOpen(path.c_str(), 0);
    const char *texts[][2] = {
        {"25_201", "s=Save"},
        {"25_202", "c=Cancel"},
        {"25_203", "Selected: %s"},
        {"25_204", "Selected: %s..."},
        {"25_205", "Option: "},
        {"25_206", "Terminal too small.\n"},
        {"25_207", "It has %d columns and %d rows;\n"},
        {"25_208", "the picker needs %d columns and %d rows.\n"},
    };
    DbTSetDbType(db, DBT_TAGGED);
    for (auto &t : texts)
        DbmTPutRecord(db, t[0], t[1], static_cast<int>(strlen(t[1])) + 1);
    pDrvCoreDB = db;
}

// A pick item over n states "State 1" .. "State n"; the states listed in
// `hide` (1-based) are hidden (leading blank).
struct PickMenu {
    std::string states;
    std::vector<TextMenuItem> items;
    TextMenu menu{};
    std::vector<intptr_t> seen; // values the item's action saw

    PickMenu(uint32_t kind, int n, std::vector<int> hide = {}, intptr_t value = 0) {
        for (int k = 1; k <= n; ++k) {
            bool hidden = std::find(hide.begin(), hide.end(), k) != hide.end();
            states +=
                std::string(k > 1 ? "," : "") + (hidden ? " " : "") + "State " + std::to_string(k);
        }
        items.resize(2);
        memset(items.data(), 0, sizeof(TextMenuItem) * 2);
        items[0].pText = const_cast<char *>("Paper size");
        items[0].TextLen = 10;
        items[0].Type = kind;
        items[0].pStates = states.data();
        items[0].StateCnt = n;
        items[0].Value = value;
        items[0].SavedValue = -1;
        menu.pItems = items.data();
    }
};

TEST(Picker, ShowsStatesInNumberedColumnsWithTheFrame) {
    ChildResult c = InChild(
        [] {
            OpenFrameCatalog();
            PickMenu m(MENU_PICK_ONE, 5, {}, 2);
            uint32_t hidden[1] = {0};
            printf("|%d|", PrintPickOneManyScreen(&m.items[0], hidden, 0));
        },
        "", 40, 12);
    ASSERT_NE(c.out.find("|5|"), std::string::npos) << c.out;
    EXPECT_NE(c.out.find("Paper size"), std::string::npos);
    EXPECT_NE(c.out.find(" 1) State 1"), std::string::npos);
    EXPECT_NE(c.out.find(" ->  3) State 3"), std::string::npos) << "the current state is marked";
    EXPECT_NE(c.out.find("s=Save"), std::string::npos);
    EXPECT_NE(c.out.find("c=Cancel"), std::string::npos);
    EXPECT_NE(c.out.find("Selected: State 3"), std::string::npos);
    EXPECT_NE(c.out.find("Option: "), std::string::npos);
}

TEST(Picker, TwentyRowsGiveFourteenStatesPerColumn) {
    ChildResult c = InChild(
        [] {
            OpenFrameCatalog();
            PickMenu m(MENU_PICK_ONE, 40);
            uint32_t hidden[2] = {0, 0};
            printf("|%d|", PrintPickOneManyScreen(&m.items[0], hidden, 0));
        },
        "", 40, 20);
    // 40 columns hold two columns of "State nn": 28 states on the first page.
    EXPECT_NE(c.out.find("|28|"), std::string::npos) << c.out;
}

TEST(Picker, ATerminalTooSmallIsReportedAndEndsThePicker) {
    ChildResult c = InChild(
        [] {
            OpenFrameCatalog();
            PickMenu m(MENU_PICK_ONE, 3);
            uint32_t hidden[1] = {0};
            printf("|%d|", PrintPickOneManyScreen(&m.items[0], hidden, 0));
        },
        "\n", 40, 6);
    EXPECT_NE(c.out.find("Terminal too small.\nIt has 40 columns and 6 rows;\nthe picker needs 23 "
                         "columns and 7 rows.\n"),
              std::string::npos)
        << c.out;
    EXPECT_NE(c.out.find("|-1|"), std::string::npos);
}

struct AnswerCase {
    const char *name;
    uint32_t kind;
    int states;
    std::vector<int> hide;
    intptr_t start;
    std::string answers; // lines typed
    const char *preset;
    intptr_t expected;
    int actions; // calls of the item's action
};

int32_t CountAction(TextMenu *, TextMenuItem *item) {
    printf("[action %ld]", static_cast<long>(item->Value));
    return 1;
}

TEST(Picker, AnswersPickToggleRefuseSaveAndCancel) {
    const AnswerCase cases[] = {
        {"pick-one takes the number", MENU_PICK_ONE, 5, {}, 0, "3\ns\n", nullptr, 2, 1},
        {"pick-one: the last of several numbers wins",
         MENU_PICK_ONE,
         5,
         {},
         0,
         "2 4\ns\n",
         nullptr,
         3,
         1},
        {"pick-many 1,3 toggles both", MENU_PICK_MANY, 5, {}, 0, "1,3\ns\n", nullptr, 0b101, 1},
        {"pick-many 1 again clears it", MENU_PICK_MANY, 5, {}, 0, "1,3\n1\ns\n", nullptr, 0b100, 2},
        {"a number above the count changes nothing",
         MENU_PICK_ONE,
         5,
         {},
         1,
         "9\ns\n",
         nullptr,
         1,
         0},
        {"zero is refused", MENU_PICK_ONE, 5, {}, 1, "0\ns\n", nullptr, 1, 0},
        {"a hidden state cannot be picked", MENU_PICK_ONE, 5, {2}, 0, "2\ns\n", nullptr, 0, 0},
        {"numbers before a refused one count",
         MENU_PICK_MANY,
         5,
         {},
         0,
         "1 9 2\ns\n",
         nullptr,
         0b1,
         1},
        {"cancel restores the starting value after changes",
         MENU_PICK_MANY,
         5,
         {},
         0b10,
         "1\n3\nc\n",
         nullptr,
         0b10,
         3},
        {"end of input cancels", MENU_PICK_ONE, 5, {}, 4, "1\n", nullptr, 4, 2},
        {"the preset is the first answer", MENU_PICK_ONE, 5, {}, 0, "s\n", "5", 4, 1},
        {"empty answers page on", MENU_PICK_ONE, 5, {}, 0, "\n\n4\nS\n", nullptr, 3, 1},
        {"letters other than save and cancel are ignored",
         MENU_PICK_ONE,
         5,
         {},
         0,
         "x\ns\n",
         nullptr,
         0,
         0},
    };
    for (const AnswerCase &tc : cases) {
        SCOPED_TRACE(tc.name);
        ChildResult c = InChild(
            [&] {
                OpenFrameCatalog();
                PickMenu m(tc.kind, tc.states, tc.hide, tc.start);
                m.items[0].Action = CountAction;
                std::string preset = tc.preset ? tc.preset : "";
                ProcessStateValue(&m.menu, 0, tc.preset ? preset.data() : nullptr);
                printf("|value %ld|", static_cast<long>(m.items[0].Value));
            },
            tc.answers, 80, 24);
        EXPECT_NE(c.out.find("|value " + std::to_string(tc.expected) + "|"), std::string::npos)
            << c.out;
        size_t actions = 0;
        for (size_t at = c.out.find("[action"); at != std::string::npos;
             at = c.out.find("[action", at + 1))
            ++actions;
        EXPECT_EQ(actions, static_cast<size_t>(tc.actions));
    }
}

TEST(Picker, CurrentSelectionIsCutToItsBufferAndTheWidth) {
    ChildResult c = InChild(
        [] {
            OpenFrameCatalog();
            // Long names, all chosen: more than 63 characters of selection.
            std::string states;
            for (int k = 0; k < 8; ++k)
                states += std::string(k ? "," : "") + "Finishing option " + std::to_string(k);
            PickMenu m(MENU_PICK_MANY, 8, {}, 0xff);
            m.states = states;
            m.items[0].pStates = m.states.data();
            uint32_t hidden[1] = {0};
            PrintPickOneManyScreen(&m.items[0], hidden, 0);
        },
        "", 40, 20);
    size_t at = c.out.find("Selected: ");
    ASSERT_NE(at, std::string::npos) << c.out;
    std::string line = c.out.substr(at, c.out.find("Option", at) - at);
    EXPECT_NE(line.find("..."), std::string::npos) << line;
    EXPECT_LE(line.find("..."), 40u) << "the cut selection runs past the width: " << line;
}

} // namespace
