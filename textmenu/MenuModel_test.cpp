#include "TextMenu.h"

#include "MemMgr.h"
#include "MenuTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

using menu_testing::MenuBuilder;
using menu_testing::RunWithInput;

namespace {

TEST(MenuModel, InitMenuNumbersSelectableItemsAndKeysLetteredOnes) {
    MenuBuilder b;
    b.Add(MENU_LINE, "A heading line");
    b.Add(MENU_COLUMNS, "");
    b.Add(MENU_NAME, "Queue name");
    b.Add(MENU_EXIT, "~x Exit");
    b.Add(MENU_COMMAND, "Print a test page");
    b.Add(MENU_BLANK, "");
    b.Add(MENU_INTEGER, "Copies");
    TextMenu *menu = b.Finish();
    EXPECT_EQ(InitMenu(menu, nullptr), static_cast<int>(strlen("Print a test page")));
    struct {
        int index;
        uint32_t key;
        int32_t len;
    } const rows[] = {{0, 0, 14}, {1, 0, 0}, {2, 1, 10}, {3, 'x', 7},
                      {4, 2, 17}, {5, 0, 0}, {6, 3, 6}};
    for (const auto &r : rows) {
        SCOPED_TRACE(b[r.index].pText);
        EXPECT_EQ(b[r.index].Key, r.key);
        EXPECT_EQ(b[r.index].TextLen, r.len);
    }
    FreeMenu(menu);
}

TEST(MenuModel, InitMenuStartsValuesFromDefaults) {
    MenuBuilder b;
    int one = b.Add(MENU_PICK_ONE, "Paper", "A4,Letter,Legal");
    int many = b.Add(MENU_PICK_MANY, "Finishing", "Staple,Punch,Fold");
    int kept = b.Add(MENU_PICK_MANY, "Trays", "1,2,3");
    int integer = b.Add(MENU_INTEGER, "Copies");
    int real = b.Add(MENU_FLOAT, "Scale");
    int name = b.Add(MENU_NAME, "Name");
    int text = b.Add(MENU_TEXT, "Text");
    b[one].Default = 2;
    b[kept].Value = 6;
    b[integer].Default = 7;
    SetItemFloat(&b[real], 0.5f);
    b[real].Default = b[real].Value;
    b[real].Value = 0;
    b[name].Default = reinterpret_cast<intptr_t>("lp0");
    TextMenu *menu = b.Finish();
    InitMenu(menu, nullptr);
    EXPECT_EQ(b[one].Value, 2);
    EXPECT_EQ(b[one].StateCnt, 3);
    UpdateStateSelection(&b[one]); // pCurState lives until the next tokenizer call
    EXPECT_STREQ(b[one].pCurState, "Legal");
    EXPECT_EQ(b[many].Value, 1);
    EXPECT_EQ(b[many].Default, 1);
    EXPECT_EQ(b[kept].Value, 6);
    EXPECT_EQ(b[integer].Value, 7);
    EXPECT_FLOAT_EQ(GetItemFloat(&b[real]), 0.5f);
    EXPECT_STREQ(reinterpret_cast<char *>(b[name].Value), "lp0");
    EXPECT_STREQ(reinterpret_cast<char *>(b[text].Value), "");

    // A second run reuses the buffers and resets them to their defaults.
    char *buffer = reinterpret_cast<char *>(b[name].Value);
    snprintf(buffer, MENU_TEXT_VALUE_SIZE, "changed");
    InitMenu(menu, nullptr);
    EXPECT_EQ(reinterpret_cast<char *>(b[name].Value), buffer);
    EXPECT_STREQ(buffer, "lp0");

    FreeMenu(menu);
    EXPECT_EQ(b[name].Value, 0);
    EXPECT_EQ(b[text].Value, 0);
}

TEST(MenuModel, PickOneMovesOffHiddenStatesCyclically) {
    struct {
        const char *states;
        intptr_t start;
        intptr_t value;
        const char *current; // null: none visible
    } const rows[] = {
        {"a,b,c", 1, 1, "b"},
        {"a, b,c", 1, 2, "c"},
        {" a,b,c", 0, 1, "b"},
        {"a,b, c", 2, 0, "a"},
        {"a, b, c", 1, 0, "a"},
        {" a, b, c", 1, 1, " b"}, // every state hidden: once round, and it stays
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.states);
        MenuBuilder b;
        int i = b.Add(MENU_PICK_ONE, "Pick", r.states);
        b[i].Default = r.start;
        InitMenu(b.Finish(), nullptr);
        EXPECT_EQ(b[i].Value, r.value);
        ASSERT_NE(b[i].pCurState, nullptr);
        EXPECT_STREQ(b[i].pCurState, r.current);
    }
}

TEST(MenuModel, HideAndShowStatesRewriteTheirFirstCharacter) {
    MenuBuilder b;
    int i = b.Add(MENU_PICK_ONE, "Paper", "_A4,_Letter,,_Legal");
    TextMenu *menu = b.Finish();
    InitMenu(menu, nullptr);
    EXPECT_EQ(b[i].StateCnt, 3);
    HideStateSelection(&b[i], 0);
    EXPECT_STREQ(b[i].pStates, " A4,_Letter,,_Legal");
    EXPECT_EQ(b[i].Value, 1); // the current state was hidden: moved on
    EXPECT_STREQ(b[i].pCurState, "_Letter");
    HideStateSelection(&b[i], 2);
    EXPECT_STREQ(b[i].pStates, " A4,_Letter,, Legal");
    HideStateSelection(&b[i], -1);
    HideStateSelection(&b[i], 7);
    EXPECT_STREQ(b[i].pStates, " A4,_Letter,, Legal");
    EXPECT_STREQ(ShowStateSelection(&b[i], 2), "_Legal");
    EXPECT_STREQ(b[i].pStates, " A4,_Letter,,_Legal");
    EXPECT_EQ(ShowStateSelection(&b[i], -1), b[i].pText);
    EXPECT_EQ(ShowStateSelection(&b[i], 9), nullptr);
}

// Items 0..5 with values 0..5; item 3 disabled, item 5 hidden.
struct StateMenu {
    MenuBuilder b;
    TextMenu *menu;
    StateMenu() {
        for (int i = 0; i < 6; ++i)
            b.Add(MENU_INTEGER, "Item");
        menu = b.Finish();
        InitMenu(menu, nullptr);
        for (int i = 0; i < 6; ++i)
            b[i].Value = i;
        b[3].Show = 1;
        b[5].Show = 2;
    }
};

TEST(MenuModel, TestStateComparesTheNamedItemAndReportsItsDisplayState) {
    StateMenu m;
    struct {
        const char *term;
        int owner;
        int expected;
    } const rows[] = {
        {"1.1", 0, 1},  {"1.0", 0, 0},  {"3.3", 0, 2},           {"5.5", 0, 2},  {"+1.5", 4, 2},
        {"+1.4", 4, 0}, {"-2.2", 4, 1}, {"-2.3", 4, 0},          {"+0.4", 4, 1}, {"6.0", 0, 0},
        {"-1.0", 0, 0}, {"+9.0", 4, 0}, {"-99.0", 4, 0},         {"", 0, 0},     {"x", 0, 0},
        {"1", 0, 0},    {"1.", 0, 0},   {"99999999999.0", 0, 0},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.term);
        EXPECT_EQ(TestState(m.menu, r.term, r.owner), r.expected);
    }
}

TEST(MenuModel, ConditionsCombineTermsWithNotAndOrParenthesesAndA) {
    StateMenu m;
    struct {
        const char *expr;
        int owner;
        int expected;
    } const rows[] = {
        {"1.1", 0, 1},
        {"1.0", 0, 0},
        {"!1.0", 0, 1},
        {"!1.1", 0, 0},
        {"1.1&2.2", 0, 1},
        {"1.1&2.0", 0, 0},
        {"1.0&2.2", 0, 0},
        {"1.0|2.2", 0, 1},
        {"1.0|2.0", 0, 0},
        {"(1.0)|(2.2)", 0, 1},
        {"(1.1)|(2.0)", 0, 1},
        {"(1.0)|(2.0)", 0, 0},
        {"1.1&2.2&4.4", 0, 1},
        {"1.1&2.2&4.0", 0, 0},
        {"1.0|2.0|4.4", 0, 1},
        {"!1.0&2.2", 0, 1},
        {"!(1.1&2.2)", 0, 0},
        {"!(1.1&2.0)|0.5", 0, 1},
        {"(1.0|2.2)&(4.4|0.0)", 0, 1},
        {"((1.1))", 0, 1},
        {"3.3A", 0, 1},
        {"1.1A", 0, 0},
        {"5.5A", 0, 1},
        {"3.3A&1.1", 0, 1},
        {"!3.3A", 0, 0},
        {"+1.5", 4, 1},
        {"-2.2", 4, 1},
        {"+1.5A&-2.2", 4, 1},
        {"9.0|1.1", 0, 1},
        {"", 0, 0},
        {"1.1)", 0, 1},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.expr);
        EXPECT_EQ(TestStateCondition(m.menu, r.expr, r.owner), r.expected);
    }
}

TEST(MenuModel, AConditionTermLongerThanItsBufferIsCutNotOverrun) {
    StateMenu m;
    std::string term = "1.1" + std::string(200, '0');
    EXPECT_EQ(TestStateCondition(m.menu, term.c_str(), 0), 0);
    std::string padded = std::string(100, '0') + "1.1";
    EXPECT_EQ(TestStateCondition(m.menu, padded.c_str(), 0), 0);
}

TEST(MenuModel, ValueSetsMatchNumbersOrAStar) {
    struct {
        const char *set;
        intptr_t value;
        int expected;
    } const rows[] = {
        {"0", 0, 1},  {"0", 1, 0},   {"1,3", 3, 1}, {"1,3", 2, 0}, {"*", 7, 1},
        {"*", -1, 1}, {"12", 1, 0},  {"12", 12, 1}, {"2;5", 5, 1}, {"", 0, 0},
        {"1*", 9, 1}, {"3,*", 9, 1}, {"-1", -1, 1},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string(r.set) + " / " + std::to_string(r.value));
        EXPECT_EQ(TestFormatState(r.set, r.value), r.expected);
    }
    EXPECT_EQ(TestFormatState(nullptr, 0), 0);
}

// A pick-one item at index 0 with the format, followed by five integer items.
struct FormatMenu {
    MenuBuilder b;
    TextMenu *menu;
    explicit FormatMenu(const char *format, intptr_t state = 0) {
        int i = b.Add(MENU_PICK_ONE, "Mode", "zero,one,two", format);
        b[i].Default = state;
        for (int k = 1; k < 6; ++k)
            b.Add(MENU_INTEGER, "Item");
        menu = b.Finish();
        InitMenu(menu, nullptr);
    }
    void Set(intptr_t state) {
        b[0].Value = state;
        ProcessStateFormat(menu, 0);
    }
};

// The display states (Show) of items behind the pick-one item once it takes
// a state; state -1 stands for the one InitMenu starts it in.
struct ShowStep {
    intptr_t state;
    std::vector<std::pair<int, unsigned>> shows; // item and its expected Show
};

TEST(MenuModel, StateFormatsDisableAndHideTargets) {
    const struct {
        const char *name;
        const char *format;
        bool disabled; // the pick-one item itself is disabled after InitMenu
        std::vector<ShowStep> steps;
    } rows[] = {
        {"N disables and H hides, each in its own state",
         "N0{3,4} H1{5}",
         false,
         {{-1, {{3, 1}, {4, 1}, {5, 0}}}, {1, {{3, 0}, {4, 0}, {5, 2}}}, {2, {{5, 0}}}}},
        // Commas separate targets, so the numbers of a value set are
        // separated by other characters.
        {"a star and a value list match every listed state",
         "H*{1} N0:2{2,3}",
         false,
         {{-1, {{1, 2}, {2, 1}, {3, 1}}}, {1, {{1, 2}, {2, 0}, {3, 0}}}, {2, {{2, 1}, {3, 1}}}}},
        {"a disabled item keeps its state formats idle",
         "H0{1}",
         true,
         {{-1, {{1, 2}}}, {1, {{1, 2}}}}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        FormatMenu m(row.format);
        if (row.disabled) m.b[0].Show = 1;
        for (const ShowStep &step : row.steps) {
            if (step.state >= 0) m.Set(step.state);
            for (const auto &[item, show] : step.shows)
                EXPECT_EQ(m.b[item].Show, show) << "state " << step.state << ", item " << item;
        }
    }
}

TEST(MenuModel, StateFormatSetsAndRestoresOnceOnly) {
    FormatMenu m("S1{2.40,3.7}");
    m.b[2].Value = 5;
    m.b[3].Value = 6;
    m.Set(1);
    EXPECT_EQ(m.b[2].Value, 40);
    EXPECT_EQ(m.b[2].SavedValue, 5);
    EXPECT_EQ(m.b[3].Value, 7);
    m.Set(0);
    EXPECT_EQ(m.b[2].Value, 5);
    EXPECT_EQ(m.b[2].SavedValue, -1);
    EXPECT_EQ(m.b[3].Value, 6);
    m.b[2].Value = 9; // the user changes it; a second restore must not undo that
    m.Set(2);
    EXPECT_EQ(m.b[2].Value, 9);
    EXPECT_EQ(m.b[3].Value, 6);
}

TEST(MenuModel, StateFormatNeverStoresANumberInATextItem) {
    MenuBuilder b;
    b.Add(MENU_PICK_ONE, "Mode", "a,b", "S0{1.3}");
    int text = b.Add(MENU_TEXT, "Text");
    TextMenu *menu = b.Finish();
    InitMenu(menu, nullptr);
    EXPECT_STREQ(reinterpret_cast<char *>(b[text].Value), "");
    FreeMenu(menu);
}

int32_t CountCalls(TextMenu *, TextMenuItem *item) {
    ++item->PrevValue;
    return 0;
}

TEST(MenuModel, StateFormatTriggersOtherItemsThroughChains) {
    MenuBuilder b;
    b.Add(MENU_PICK_ONE, "Mode", "a,b", "P1{1}");
    b.Add(MENU_PICK_ONE, "Second", "a,b", "P*{2} H0{4}");
    b.Add(MENU_PICK_ONE, "Third", "a,b", "N*{5}");
    b.Add(MENU_INTEGER, "Four");
    b.Add(MENU_INTEGER, "Five");
    b.Add(MENU_INTEGER, "Six");
    TextMenu *menu = b.Finish();
    b[1].Action = CountCalls;
    b[2].Action = CountCalls;
    InitMenu(menu, nullptr);
    for (int i : {4, 5})
        b[i].Show = 0;
    b[1].PrevValue = b[2].PrevValue = 0;
    b[0].Value = 1;
    ProcessStateFormat(menu, 0);
    EXPECT_EQ(b[1].PrevValue, 1); // its action ran once
    EXPECT_EQ(b[2].PrevValue, 1);
    EXPECT_EQ(b[4].Show, 2u); // item 1 processed its own format
    EXPECT_EQ(b[5].Show, 1u); // and item 2 through it
}

TEST(MenuModel, StateFormatsThatReachTheirOwnItemAgainEndThere) {
    MenuBuilder b;
    b.Add(MENU_PICK_ONE, "A", "a,b", "P*{1} N*{3}");
    b.Add(MENU_PICK_ONE, "B", "a,b", "P*{2,0}");
    b.Add(MENU_PICK_ONE, "C", "a,b", "P*{0,1,2}");
    b.Add(MENU_INTEGER, "D");
    TextMenu *menu = b.Finish();
    for (int i = 0; i < 3; ++i)
        b[i].Action = CountCalls;
    InitMenu(menu, nullptr); // would recurse without end
    EXPECT_EQ(b[3].Show, 1u);
    for (int i = 0; i < 3; ++i)
        b[i].PrevValue = 0;
    ProcessStateFormat(menu, 0);
    EXPECT_EQ(b[1].PrevValue, 1);
    EXPECT_EQ(b[2].PrevValue, 1);
}

TEST(MenuModel, StateFormatTargetsOutsideTheItemsAreIgnored) {
    FormatMenu m("N*{6,99,-1,2} H*{100000000000} S*{7.1,3.4} P*{1000}");
    m.Set(0);
    EXPECT_EQ(m.b[2].Show, 1u);
    EXPECT_EQ(m.b[3].Value, 4);
}

TEST(MenuModel, MalformedStateFormatsEndQuietly) {
    for (const char *format : {"", " ", "N", "N0", "N0{", "S0{1", "S0{1.", "{}}", "P0{0", "Z0{1}",
                               "N0{1}}}{", "H0{1 H0{2"}) {
        SCOPED_TRACE(format);
        FormatMenu m(format);
        SUCCEED();
    }
}

TEST(MenuModel, ValidateMenuPicksTheSubmenuOfTheFirstTrueCondition) {
    MenuBuilder subA, subB;
    TextMenu *a = subA.Finish("A");
    TextMenu *b2 = subB.Finish("B");
    TextMenu *choices[] = {a, b2};
    MenuBuilder b;
    b.Add(MENU_PICK_ONE, "Kind", "a,b,c");
    int chooser = b.Add(MENU_SUBMENU, "Options", nullptr, "-1.0 -1.1");
    int plain = b.Add(MENU_SUBMENU, "Plain");
    b.Add(MENU_INTEGER, "Value");
    TextMenu *menu = b.Finish();
    b[chooser].Value = reinterpret_cast<intptr_t>(choices);
    b[plain].Value = reinterpret_cast<intptr_t>(a);
    InitMenu(menu, nullptr);
    EXPECT_EQ(ValidateMenu(menu, chooser), a);
    b[0].Value = 1;
    EXPECT_EQ(ValidateMenu(menu, chooser), b2);
    b[0].Value = 2;
    EXPECT_EQ(ValidateMenu(menu, chooser), nullptr);
    EXPECT_EQ(ValidateMenu(menu, plain), a);
    b[plain].Show = 1;
    EXPECT_EQ(ValidateMenu(menu, plain), nullptr);
    EXPECT_EQ(ValidateMenu(menu, 3), nullptr); // not a submenu item
    EXPECT_EQ(ValidateMenu(menu, 4), nullptr); // the end item
    EXPECT_EQ(ValidateMenu(menu, -1), nullptr);
    EXPECT_EQ(ValidateMenu(menu, 99), nullptr);
}

TEST(MenuModel, FindTextMenuItemFindsTheFirstOfAKind) {
    MenuBuilder b;
    b.Add(MENU_LINE, "x");
    b.Add(MENU_CANCEL, "Cancel");
    b.Add(MENU_CANCEL, "Cancel again");
    TextMenu *menu = b.Finish();
    EXPECT_EQ(FindTextMenuItem(menu, MENU_CANCEL), &b[1]);
    EXPECT_EQ(FindTextMenuItem(menu, MENU_APPLY), nullptr);
}

TEST(MenuModel, TestNamesRefusesAnEmptyNameUpToTheFirstHiddenItem) {
    auto r = RunWithInput("\n", [] {
        MenuBuilder b;
        b.Add(MENU_NAME, "Name");
        b.Add(MENU_TEXT, "Text");
        TextMenu *menu = b.Finish();
        InitMenu(menu, nullptr);
        printf("[%d]", TestNames(menu));
        snprintf(reinterpret_cast<char *>(b[0].Value), MENU_TEXT_VALUE_SIZE, "lp");
        printf("[%d]", TestNames(menu));
    });
    EXPECT_EQ(r.out,
              "\nAll names must be set before applying setup.\nPress <Return> to continue[0][1]");

    auto hidden = RunWithInput("", [] {
        MenuBuilder b;
        b.Add(MENU_NAME, "Name");
        b.Add(MENU_NAME, "Hidden");
        b.Add(MENU_NAME, "After");
        TextMenu *menu = b.Finish();
        InitMenu(menu, nullptr);
        snprintf(reinterpret_cast<char *>(b[0].Value), MENU_TEXT_VALUE_SIZE, "lp");
        b[1].Show = 2;
        printf("[%d]", TestNames(menu));
    });
    EXPECT_EQ(hidden.out, "[1]");
}

} // namespace
