#include "SettingsText.h"
#include "TextMenu.h"

#include "MenuTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>

using menu_testing::MenuBuilder;
using testsupport::ChildResult;

namespace {

void Load(TextMenu *menu, const std::string &text) {
    testsupport::TempDir dir;
    std::string path = dir.path + "/settings";
    testsupport::WriteFile(path, text);
    ASSERT_EQ(OpenInputFile(path.c_str(), 1), 1);
    LoadMenu(menu);
    CloseInputFile();
}

const char *TextOf(const TextMenuItem &item) {
    return reinterpret_cast<const char *>(item.Value);
}

int32_t CountApply(TextMenu *, TextMenuItem *item) {
    ++item->PrevValue;
    return 0;
}

// A queue menu with a submenu: the shape of the examples.
struct QueueMenu {
    MenuBuilder sub;
    MenuBuilder top;
    TextMenu *subMenu;
    TextMenu *menu;
    QueueMenu() {
        sub.Add(MENU_TEXT, "Banner");
        sub.Add(MENU_INTEGER, "Lines");
        sub.Add(MENU_APPLY, "Apply");
        subMenu = sub.Finish("Banner page");
        sub[2].Action = CountApply;
        top.Add(MENU_LINE, "Queue");
        top.Add(MENU_NAME, "Name");
        top.Add(MENU_PICK_ONE, "Paper", "A4,Letter,Legal");
        top.Add(MENU_INTEGER, "Copies");
        top.Add(MENU_FLOAT, "Scale");
        top.Add(MENU_PICK_MANY, "Finishing", "Staple,Punch");
        top.Add(MENU_SUBMENU, "Banner");
        top.Add(MENU_TEXT, "Note");
        top.Add(MENU_APPLY, "Apply");
        menu = top.Finish("Queue");
        top[6].Value = reinterpret_cast<intptr_t>(subMenu);
        top[8].Action = CountApply;
        InitMenu(menu, nullptr);
        InitMenu(subMenu, nullptr);
        snprintf(reinterpret_cast<char *>(top[1].Value), MENU_TEXT_VALUE_SIZE, "lp0");
        top[2].Value = 1;
        top[3].Value = 3;
        top[3].Show = 1;
        SetItemFloat(&top[4], 0.5f);
        snprintf(reinterpret_cast<char *>(top[7].Value), MENU_TEXT_VALUE_SIZE, "x");
        snprintf(reinterpret_cast<char *>(sub[0].Value), MENU_TEXT_VALUE_SIZE, "hello");
        sub[1].Value = 7;
    }
    ~QueueMenu() {
        FreeMenu(menu);
        FreeMenu(subMenu);
    }
};

TEST(Settings, StoreWritesValueRecordsThenSubmenuBlocks) {
    QueueMenu q;
    EXPECT_EQ(StoredSettingsText(q.menu), "1[lp0] 11 0\n"
                              "2[1] 9 0\n"
                              "3[3] 13 1\n"
                              "4[0.500] 14 0\n"
                              "5[1] 10 0\n"
                              "7[x] 12 0\n"
                              "6{\n"
                              "0[hello] 12 0\n"
                              "1[7] 13 0\n"
                              "}\n");
}

TEST(Settings, StoreLeavesOutSubmenusThatAreNotShown) {
    QueueMenu q;
    q.top[6].Show = 1;
    EXPECT_EQ(StoredSettingsText(q.menu).find("6{"), std::string::npos);
}

TEST(Settings, StoredFilesReadBackIntoTheSameValues) {
    QueueMenu q;
    std::string text = StoredSettingsText(q.menu);
    QueueMenu fresh;
    fresh.top[2].Value = 0;
    fresh.top[3].Value = 0;
    fresh.top[3].Show = 0;
    SetItemFloat(&fresh.top[4], 2.0f);
    fresh.sub[1].Value = 0;
    snprintf(reinterpret_cast<char *>(fresh.sub[0].Value), MENU_TEXT_VALUE_SIZE, "other");
    flLoadedSettings = 0;
    Load(fresh.menu, text);
    EXPECT_EQ(flLoadedSettings, 1);
    EXPECT_STREQ(TextOf(fresh.top[1]), "lp0");
    EXPECT_EQ(fresh.top[2].Value, 1);
    EXPECT_EQ(fresh.top[3].Value, 3);
    EXPECT_EQ(fresh.top[3].Show, 1u);
    EXPECT_FLOAT_EQ(GetItemFloat(&fresh.top[4]), 0.5f);
    EXPECT_STREQ(TextOf(fresh.top[7]), "x");
    EXPECT_STREQ(TextOf(fresh.sub[0]), "hello");
    EXPECT_EQ(fresh.sub[1].Value, 7);
    // The submenu's closing line runs its apply action; the top level has none.
    EXPECT_EQ(fresh.sub[2].PrevValue, 1);
    EXPECT_EQ(fresh.top[8].PrevValue, 0);
    EXPECT_EQ(StoredSettingsText(fresh.menu), text);
}

TEST(Settings, TextValuesAreReadWholeUpToTheLastBracket) {
    QueueMenu q;
    Load(q.menu, "7[two words] 12 0\n1[] 11 0\n");
    EXPECT_STREQ(TextOf(q.top[7]), "two words");
    EXPECT_STREQ(TextOf(q.top[1]), "");
    Load(q.menu, "1[a]b] 11 0\n7[ Room 101 ] ] 12 0\n");
    EXPECT_STREQ(TextOf(q.top[1]), "a]b");
    EXPECT_STREQ(TextOf(q.top[7]), " Room 101 ] ");
}

TEST(Settings, AnUnknownBlockIsReadAsRecordsOfTheOuterMenu) {
    QueueMenu q;
    Load(q.menu, "7{\n3[9] 13 0\n}\n2[2] 9 0\n");
    EXPECT_EQ(q.top[3].Value, 9);
    EXPECT_EQ(q.top[2].Value, 1); // the block's '}' ended the outer level too
    EXPECT_EQ(q.top[8].PrevValue, 1);
}

TEST(Settings, LinesThatDoNotFitAreSkipped) {
    QueueMenu q;
    std::string longValue(300, 'v');
    Load(q.menu, "junk\n"
                 "3[4]\n"
                 "3[5] x y\n"
                 "9[1] 13 0\n"
                 "-1[1] 13 0\n"
                 "2147483648[1] 13 0\n"
                 "99{\n"
                 "7[" +
                     longValue +
                     "] 12 0\n"
                     "2[2] 9 2\n");
    EXPECT_EQ(q.top[3].Value, 3);
    EXPECT_STREQ(TextOf(q.top[7]), "x");
    EXPECT_EQ(q.top[2].Value, 2);
    EXPECT_EQ(q.top[2].Show, 2u);
}

TEST(Settings, RecordKindsChangeItemsOnlyBetweenNameAndText) {
    QueueMenu q;
    SettingsLinesRefused = 0;
    Load(q.menu, "3[5] 11 0\n1[abc] 12 0\n2[2] 13 0\n4[1.5] 11 0\n0[7] 13 1\n5[1] 13 0\n");
    EXPECT_EQ(SettingsLinesRefused, 5);
    EXPECT_EQ(q.top[3].Type, MENU_INTEGER);
    EXPECT_EQ(q.top[3].Value, 3);
    EXPECT_EQ(q.top[1].Type, MENU_TEXT);
    EXPECT_STREQ(TextOf(q.top[1]), "abc");
    EXPECT_EQ(q.top[2].Type, MENU_PICK_ONE);
    EXPECT_EQ(q.top[2].Value, 1);
    EXPECT_EQ(q.top[4].Type, MENU_FLOAT);
    EXPECT_EQ(q.top[0].Type, MENU_LINE); // an item without a value takes nothing
    EXPECT_EQ(q.top[0].Show, 0u);
    EXPECT_EQ(q.top[5].Type, MENU_PICK_MANY);
    q.top[1].Type = MENU_NAME;
}

TEST(Settings, ASubmenuThatContainsItselfIsFollowedOnlySoDeep) {
    MenuBuilder b;
    b.Add(MENU_SUBMENU, "Self");
    b.Add(MENU_INTEGER, "Value");
    TextMenu *menu = b.Finish();
    b[0].Value = reinterpret_cast<intptr_t>(menu);
    InitMenu(menu, nullptr);
    std::string text = StoredSettingsText(menu);
    EXPECT_LT(text.size(), 4096u);
    std::string deep;
    for (int i = 0; i < 10000; ++i)
        deep += "0{\n";
    deep += "1[5] 13 0\n";
    Load(menu, deep);
    SUCCEED();
}

TEST(Settings, ALoadedStateTakesEffectBeforeTheBlocksThatFollow) {
    MenuBuilder sub;
    sub.Add(MENU_INTEGER, "Lines");
    TextMenu *subMenu = sub.Finish("Banner");
    MenuBuilder b;
    b.Add(MENU_PICK_ONE, "Banner kind", "none,some", "H0{1} N0{2}");
    b.Add(MENU_SUBMENU, "Banner");
    b.Add(MENU_NAME, "Name");
    TextMenu *menu = b.Finish();
    b[1].Value = reinterpret_cast<intptr_t>(subMenu);
    InitMenu(menu, nullptr);
    ASSERT_EQ(b[1].Show, 2u);
    Load(menu, "0[1] 9 0\n2[lp0] 11 0\n1{\n0[20] 13 0\n}\n");
    EXPECT_EQ(b[1].Show, 0u);
    EXPECT_EQ(b[2].Show, 0u);
    EXPECT_STREQ(TextOf(b[2]), "lp0");
    EXPECT_EQ(sub[0].Value, 20);
    FreeMenu(menu);
}

TEST(Settings, SubmenusNestAndReadBackLevelByLevel) {
    MenuBuilder inner, middle, top;
    inner.Add(MENU_INTEGER, "Depth");
    TextMenu *innerMenu = inner.Finish("Inner");
    middle.Add(MENU_FLOAT, "Gap");
    middle.Add(MENU_SUBMENU, "Inner");
    middle.Add(MENU_INTEGER, "After");
    TextMenu *middleMenu = middle.Finish("Middle");
    top.Add(MENU_SUBMENU, "Middle");
    top.Add(MENU_INTEGER, "Top");
    TextMenu *topMenu = top.Finish("Top");
    middle[1].Value = reinterpret_cast<intptr_t>(innerMenu);
    top[0].Value = reinterpret_cast<intptr_t>(middleMenu);
    for (TextMenu *m : {topMenu, middleMenu, innerMenu})
        InitMenu(m, nullptr);
    inner[0].Value = 3;
    SetItemFloat(&middle[0], 1.25f);
    middle[2].Value = 9;
    top[1].Value = 4;
    const std::string text = "1[4] 13 0\n0{\n0[1.250] 14 0\n2[9] 13 0\n1{\n0[3] 13 0\n}\n}\n";
    EXPECT_EQ(StoredSettingsText(topMenu), text);
    inner[0].Value = middle[2].Value = top[1].Value = 0;
    SetItemFloat(&middle[0], 0.0f);
    Load(topMenu, text + "1[8] 13 0\n");
    EXPECT_EQ(inner[0].Value, 3);
    EXPECT_FLOAT_EQ(GetItemFloat(&middle[0]), 1.25f);
    EXPECT_EQ(middle[2].Value, 9);
    EXPECT_EQ(top[1].Value, 8); // the top level goes on after the blocks
}

TEST(Settings, StoreMenuFileReplacesTheFileWhole) {
    QueueMenu q;
    testsupport::TempDir dir;
    std::string path = dir.path + "/queue.settings";
    testsupport::WriteFile(path,
                           "old contents that are longer than the new ones, by far, by far\n");
    EXPECT_EQ(StoreMenuFile(q.menu, path.c_str()), 1);
    EXPECT_EQ(testsupport::ReadFile(path), StoredSettingsText(q.menu));
    EXPECT_EQ(StoreMenuFile(q.menu, (dir.path + "/missing/queue.settings").c_str()), 0);
    EXPECT_EQ(StoreMenuFile(q.menu, ""), 0);
    std::filesystem::directory_iterator it(dir.path), end;
    EXPECT_EQ(std::distance(it, end), 1); // no temporary left behind
}

// A menu with the entry formats and states of a real queue menu.
struct CheckedMenu {
    MenuBuilder b;
    TextMenu *menu;
    std::string forty; // forty states, 5 and 33 hidden
    CheckedMenu() {
        for (int k = 1; k <= 40; ++k)
            forty += (k > 1 ? "," : "") + std::string(k == 5 || k == 33 ? " " : "") + "S" +
                     std::to_string(k);
        b.Add(MENU_NAME, "Name", nullptr, "A(1,32)+-+_");             // 0
        b.Add(MENU_TEXT, "Location", nullptr, "A(1,64)+-+_+/+.+ ");   // 1
        b.Add(MENU_INTEGER, "Copies", nullptr, "d(1,999)");           // 2
        b.Add(MENU_FLOAT, "Scale", nullptr, "f(0.1,4)");              // 3
        b.Add(MENU_PICK_ONE, "Quality", "Draft,Normal, Secret,Best"); // 4
        b.Add(MENU_PICK_MANY, "Finishing", "None,Staple,Punch,Fold"); // 5
        b.Add(MENU_PICK_MANY, "Trays", forty.c_str());                // 6
        b.Add(MENU_INTEGER, "Offset");                                // 7: no format
        b.Add(MENU_FLOAT, "Gamma");                                   // 8: no format
        b.Add(MENU_TEXT, "Note");                                     // 9: no format
        b.Add(MENU_COMMAND, "Show");                                  // 10
        menu = b.Finish("Queue");
        InitMenu(menu, nullptr);
    }
    ~CheckedMenu() { FreeMenu(menu); }
    // The value of item i as a settings record would write it.
    std::string Value(int i) {
        TextMenuItem &item = b[i];
        switch (item.Type) {
        case MENU_NAME:
        case MENU_TEXT:
            return TextOf(item);
        case MENU_FLOAT: {
            char buf[32];
            snprintf(buf, sizeof buf, "%.3f", static_cast<double>(GetItemFloat(&item)));
            return buf;
        }
        default:
            return std::to_string(static_cast<unsigned long long>(item.Value));
        }
    }
};

// Hostile and odd lines, one at a time on a fresh menu: a refused line
// leaves the item's value, kind and display state as they were, and is
// named with its line number.
TEST(Settings, EveryLoadedValueGoesThroughItsItemsChecks) {
    const std::string longest(255, 'L');
    struct Case {
        const char *name;
        std::string line;
        int item;
        const char *value; // null: refused
    } cases[] = {
        {"name as a path outside", "0[../../../../tmp/evil] 11 0", 0, nullptr},
        {"name with a slash", "0[a/b] 11 0", 0, nullptr},
        {"plain name", "0[lp-0_1] 11 0", 0, "lp-0_1"},
        {"name longer than its format", "0[" + std::string(33, 'n') + "] 11 0", 0, nullptr},
        {"empty name stays possible", "0[] 11 0", 0, ""},
        {"location with blanks", "1[Room 101, floor 2] 12 0", 1, nullptr},
        {"location with blanks and dots", "1[Room 101 floor 2.] 12 0", 1, "Room 101 floor 2."},
        {"location with ESC", "1[Room\x1b[2J] 12 0", 1, nullptr},
        {"note with OSC 52", "9[\x1b]52;c;ZXZpbA==\x07] 12 0", 9, nullptr},
        {"note with UTF-8 C1 CSI",
         "9[a\xc2\x9b"
         "31m] 12 0",
         9, nullptr},
        {"note with a raw C1 CSI",
         "9[a\x9b"
         "31m] 12 0",
         9, nullptr},
        {"note with DEL", "9[a\x7f] 12 0", 9, nullptr},
        {"note with UTF-8 letters", "9[Caf\xc3\xa9 \xc4\x81] 12 0", 9, "Caf\xc3\xa9 \xc4\x81"},
        {"note of the longest text", "9[" + longest + "] 12 0", 9, longest.c_str()},
        {"note one longer", "9[" + longest + "L] 12 0", 9, nullptr},
        {"note with brackets", "9[[x] y]] 12 0", 9, "[x] y]"},
        {"copies far too many", "2[99999999] 13 0", 2, nullptr},
        {"copies zero", "2[0] 13 0", 2, nullptr},
        {"copies in range", "2[999] 13 0", 2, "999"},
        {"copies negative", "2[-5] 13 0", 2, nullptr},
        {"copies with a blank", "2[5 5] 13 0", 2, nullptr},
        {"copies empty", "2[] 13 0", 2, nullptr},
        {"offset without format, negative", "7[-5] 13 0", 7, "18446744073709551611"},
        {"offset beyond 32 bits", "7[2147483648] 13 0", 7, nullptr},
        {"offset not a number", "7[5x] 13 0", 7, nullptr},
        {"scale NaN", "3[nan] 14 0", 3, nullptr},
        {"scale infinite", "3[inf] 14 0", 3, nullptr},
        {"scale negative", "3[-1.000] 14 0", 3, nullptr},
        {"scale too large", "3[4.500] 14 0", 3, nullptr},
        {"scale in range", "3[0.250] 14 0", 3, "0.250"},
        {"gamma NaN without format", "8[nan] 14 0", 8, nullptr},
        {"gamma 1e39 without format", "8[1e39] 14 0", 8, nullptr},
        {"gamma negative without format", "8[-2.5] 14 0", 8, "-2.500"},
        {"quality beyond its states", "4[4] 9 0", 4, nullptr},
        {"quality hidden state", "4[2] 9 0", 4, nullptr},
        {"quality negative", "4[-1] 9 0", 4, nullptr},
        {"quality best", "4[3] 9 0", 4, "3"},
        {"finishing punch", "5[4] 10 0", 5, "4"},
        {"finishing beyond its states", "5[16] 10 0", 5, nullptr},
        {"finishing negative", "5[-1] 10 0", 5, nullptr},
        {"trays high bits", "6[549755813888] 10 0", 6, "549755813888"},
        {"trays bit 31", "6[2147483648] 10 0", 6, "2147483648"},
        {"trays hidden state", "6[16] 10 0", 6, nullptr},
        {"trays beyond forty", "6[1099511627776] 10 0", 6, nullptr},
        {"trays beyond 64 bits", "6[18446744073709551616] 10 0", 6, nullptr},
        {"copies turned into a pick item", "2[3] 9 0", 2, nullptr},
        {"copies turned into a pick-many item", "2[3] 10 0", 2, nullptr},
        {"quality turned into an integer", "4[1] 13 0", 4, nullptr},
        {"name turned into text", "0[lp1] 12 0", 0, "lp1"},
        {"display state 3", "2[5] 13 3", 2, nullptr},
        {"display state negative", "2[5] 13 -1", 2, nullptr},
        {"a command holds no value", "10[1] 7 2", 10, nullptr},
        {"no such item", "11[1] 13 0", 2, nullptr},
        {"trailing words", "2[5] 13 0 x", 2, nullptr},
        {"no kind", "2[5]", 2, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CheckedMenu m;
        TextMenuItem before = m.b[c.item];
        std::string old = m.Value(c.item);
        ChildResult r = testsupport::RunChild([&] {
            my_name = const_cast<char *>("dpq");
            Load(m.menu, "\n\n" + c.line + "\n");
            fputs(m.Value(c.item).c_str(), stdout);
            fprintf(stdout, "|%u|%u|%d", m.b[c.item].Type, m.b[c.item].Show,
                    static_cast<int>(SettingsLinesRefused));
        });
        ASSERT_EQ(r.status, 0) << r.err;
        if (c.value == nullptr) {
            EXPECT_EQ(r.out, old + "|" + std::to_string(before.Type) + "|" +
                                 std::to_string(before.Show) + "|1");
            EXPECT_NE(r.err.find("dpq: "), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("/settings, line 3: "), std::string::npos) << r.err;
            for (char ch : r.err)
                EXPECT_FALSE(ch == '\x1b' || ch == '\x07' || ch == '\x7f')
                    << "raw control in " << r.err;
        } else {
            EXPECT_EQ(r.out.substr(0, r.out.find('|')), c.value);
            EXPECT_EQ(r.out.substr(r.out.rfind('|')), "|0") << r.err;
            EXPECT_EQ(r.err, "");
        }
    }
}

// Every kind with odd values goes out and comes back unchanged.
TEST(Settings, EveryKindReadsBackWhatWasStored) {
    CheckedMenu m;
    auto set = [&](int i, const std::string &text) {
        snprintf(reinterpret_cast<char *>(m.b[i].Value), MENU_TEXT_VALUE_SIZE, "%s", text.c_str());
    };
    set(0, "lp_0-9");
    set(1, "Room 101 east. wing");
    set(9, std::string(254, ']') + "x");
    m.b[2].Value = 999;
    SetItemFloat(&m.b[3], 0.1f);
    m.b[4].Value = 3;
    m.b[5].Value = 0b1110;
    m.b[6].Value = static_cast<intptr_t>((1ULL << 39) | (1ULL << 31) | 1);
    m.b[7].Value = -2147483647 - 1;
    SetItemFloat(&m.b[8], -1234.5f);
    m.b[2].Show = 1;
    std::string text = StoredSettingsText(m.menu);
    EXPECT_NE(text.find("5[14] 10 0\n6[551903297537] 10 0\n"), std::string::npos) << text;
    CheckedMenu fresh;
    SettingsLinesRefused = -1;
    Load(fresh.menu, text);
    EXPECT_EQ(SettingsLinesRefused, 0);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(fresh.Value(i), m.Value(i)) << "item " << i;
        EXPECT_EQ(fresh.b[i].Show, m.b[i].Show) << "item " << i;
    }
    EXPECT_EQ(StoredSettingsText(fresh.menu), text);
}

// A file of the layout before pick-many records and whole texts: no kind-10
// lines, values without blanks.
TEST(Settings, FilesOfTheEarlierLayoutStillLoad) {
    CheckedMenu m;
    SettingsLinesRefused = -1;
    Load(m.menu, "0[lp0] 11 0\n1[Room_101] 12 0\n2[3] 13 0\n3[0.500] 14 0\n4[0] 9 0\n"
                 "7[-4] 13 0\n8[2.000] 14 0\n9[a]b] 12 0\n");
    EXPECT_EQ(SettingsLinesRefused, 0);
    EXPECT_STREQ(TextOf(m.b[0]), "lp0");
    EXPECT_STREQ(TextOf(m.b[1]), "Room_101");
    EXPECT_EQ(m.b[2].Value, 3);
    EXPECT_EQ(m.Value(3), "0.500");
    EXPECT_EQ(m.b[4].Value, 0);
    EXPECT_EQ(m.b[5].Value, 1); // pick-many items keep their start values
    EXPECT_EQ(m.b[6].Value, 1);
    EXPECT_EQ(m.b[7].Value, -4);
    EXPECT_STREQ(TextOf(m.b[9]), "a]b");
}

TEST(Settings, RefusedLinesCountPhysicalLinesAndQuoteControlsAsEscapes) {
    CheckedMenu m;
    ChildResult r = testsupport::RunChild([&] {
        my_name = const_cast<char *>("dpq");
        Load(m.menu, "2[1] 13 0\n9[a\\\nb] 12 0\n\n2[0] 13 0\n9[\x1b]0;x\x07] 12 0\n" +
                         std::string(600, '7') + "\n2[7] 13 0\n");
        printf("%d %d", static_cast<int>(m.b[2].Value), static_cast<int>(SettingsLinesRefused));
    });
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "7 4");
    EXPECT_NE(r.err.find("line 2: value \"a\\\\012b\" refused: holds control characters (item 9)"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("line 5: value \"0\" refused"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("line 6: value \"\\033]0;x\\007\" refused"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("line 7: "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("line 8"), std::string::npos) << r.err;
}

} // namespace

namespace {

int AppliedMenus = 0;
intptr_t CountMenuApply(TextMenu *menu) {
    ++AppliedMenus;
    return reinterpret_cast<intptr_t>(menu);
}

// A menu with defaults of every value kind and a submenu with its own.
struct DefaultsMenu {
    MenuBuilder sub;
    MenuBuilder top;
    TextMenu *subMenu;
    TextMenu *menu;
    DefaultsMenu() {
        sub.Add(MENU_TEXT, "Banner", nullptr, "A(1,20)");
        sub.Add(MENU_INTEGER, "Lines", nullptr, "d(1,66)");
        sub.Add(MENU_APPLY, "Apply");
        sub[0].Default = reinterpret_cast<intptr_t>(sub.Text("none"));
        sub[1].Default = 10;
        sub[2].Action = CountApply;
        subMenu = sub.Finish("Banner page");
        top.Add(MENU_LINE, "Queue");
        top.Add(MENU_NAME, "Name", nullptr, "A(1,32)+-+_");
        top.Add(MENU_PICK_ONE, "Paper", "A4,Letter,Legal");
        top.Add(MENU_INTEGER, "Copies", nullptr, "d(1,99)");
        top.Add(MENU_FLOAT, "Scale", nullptr, "f(0.1,4)");
        top.Add(MENU_SUBMENU, "Banner");
        top.Add(MENU_APPLY, "Apply");
        top[1].Default = reinterpret_cast<intptr_t>(top.Text("lp0"));
        top[3].Default = 1;
        top[4].Default = 0x3f800000; // 1.0
        top[6].Action = CountApply;
        menu = top.Finish("Queue");
        menu->Apply = CountMenuApply;
        top[5].Value = reinterpret_cast<intptr_t>(subMenu);
    }
    ~DefaultsMenu() {
        FreeMenu(menu);
        FreeMenu(subMenu);
    }
    // The values every later run of the menus starts from.
    std::string Start() {
        InitMenu(menu, nullptr);
        InitMenu(subMenu, nullptr);
        char scale[16];
        snprintf(scale, sizeof scale, "%.1f", static_cast<double>(GetItemFloat(&top[4])));
        return std::string(TextOf(top[1])) + " " + std::to_string(top[2].Value) + " " +
               std::to_string(top[3].Value) + " " + scale + " | " + TextOf(sub[0]) + " " +
               std::to_string(sub[1].Value);
    }
};

TEST(Settings, LoadMenuFileMakesTheFilesValuesTheDefaults) {
    struct Row {
        const char *name;
        const char *file; // null: no file there
        int result;
        const char *start; // what the menus start from afterwards
        int refused;
    } rows[] = {
        {"every kind of value", "1[lp7] 11 0\n2[2] 9 0\n3[5] 13 0\n4[0.500] 14 0\n", 1,
         "lp7 2 5 0.5 | none 10", 0},
        {"a submenu block", "3[5] 13 0\n5{\n1[20] 13 0\n}\n", 1, "lp0 0 5 1.0 | none 20", 0},
        {"a refused line keeps the default", "3[500] 13 0\n2[1] 9 0\n", 1,
         "lp0 1 1 1.0 | none 10", 1},
        {"an empty file", "", 1, "lp0 0 1 1.0 | none 10", 0},
        {"no file", nullptr, 0, "lp0 0 1 1.0 | none 10", 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        testsupport::TempDir dir;
        std::string path = dir.path + "/queue.settings";
        if (r.file != nullptr) testsupport::WriteFile(path, r.file);
        DefaultsMenu m;
        // A submenu the program ran before holds values of its own.
        InitMenu(m.subMenu, nullptr);
        m.sub[1].Value = 33;
        AppliedMenus = 0;
        EXPECT_EQ(LoadMenuFile(m.menu, path.c_str()), r.result);
        EXPECT_EQ(SettingsLinesRefused, r.refused);
        // Loading applies nothing.
        EXPECT_EQ(AppliedMenus, 0);
        EXPECT_EQ(m.top[6].PrevValue, 0);
        EXPECT_EQ(m.sub[2].PrevValue, 0);
        EXPECT_EQ(m.Start(), r.start);
    }
}

TEST(Settings, LoadMenuFileAgainReplacesTheKeptTexts) {
    testsupport::TempDir dir;
    std::string path = dir.path + "/queue.settings";
    DefaultsMenu m;
    for (const char *name : {"lp1", "lp2", "lp3"}) {
        testsupport::WriteFile(path, std::string("1[") + name + "] 11 0\n");
        ASSERT_EQ(LoadMenuFile(m.menu, path.c_str()), 1);
        InitMenu(m.menu, nullptr);
        EXPECT_STREQ(TextOf(m.top[1]), name);
    }
}

TEST(Settings, LoadMenuFileTakesNoNullArgument) {
    DefaultsMenu m;
    EXPECT_EQ(LoadMenuFile(nullptr, "/dev/null"), 0);
    EXPECT_EQ(LoadMenuFile(m.menu, nullptr), 0);
    EXPECT_EQ(LoadMenuFile(m.menu, ""), 0);
}

} // namespace
