#include "TextMenu.h"

#include "MenuTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>

using menu_testing::MenuBuilder;

namespace {

std::string Stored(TextMenu *menu) {
    char *data = nullptr;
    size_t size = 0;
    pOut = open_memstream(&data, &size);
    StoreMenu(menu);
    fclose(pOut);
    pOut = nullptr;
    std::string text(data, size);
    free(data);
    return text;
}

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
    EXPECT_EQ(Stored(q.menu), "1[lp0] 11 0\n"
                              "2[1] 9 0\n"
                              "3[3] 13 1\n"
                              "4[0.500] 14 0\n"
                              "7[x] 12 0\n"
                              "6{\n"
                              "0[hello] 12 0\n"
                              "1[7] 13 0\n"
                              "}\n");
}

TEST(Settings, StoreLeavesOutSubmenusThatAreNotShown) {
    QueueMenu q;
    q.top[6].Show = 1;
    EXPECT_EQ(Stored(q.menu).find("6{"), std::string::npos);
}

TEST(Settings, StoredFilesReadBackIntoTheSameValues) {
    QueueMenu q;
    std::string text = Stored(q.menu);
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
    EXPECT_EQ(Stored(fresh.menu), text);
}

TEST(Settings, TextValuesAreReadUpToTheFirstBlankAndMayHoldBrackets) {
    QueueMenu q;
    Load(q.menu, "7[two words] 12 0\n1[] 11 0\n");
    EXPECT_STREQ(TextOf(q.top[7]), "two");
    EXPECT_STREQ(TextOf(q.top[1]), "");
    Load(q.menu, "1[a]b] 11 0\n");
    EXPECT_STREQ(TextOf(q.top[1]), "a]b");
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

TEST(Settings, RecordKindsChangeItemsOnlyBetweenLikeValues) {
    QueueMenu q;
    Load(q.menu, "3[5] 11 0\n1[abc] 12 0\n2[2] 13 0\n4[1.5] 11 0\n0[7] 13 1\n");
    EXPECT_EQ(q.top[3].Type, MENU_INTEGER);
    EXPECT_EQ(q.top[3].Value, 5);
    EXPECT_EQ(q.top[1].Type, MENU_TEXT);
    EXPECT_STREQ(TextOf(q.top[1]), "abc");
    EXPECT_EQ(q.top[2].Type, MENU_INTEGER);
    EXPECT_EQ(q.top[4].Type, MENU_FLOAT);
    EXPECT_EQ(q.top[0].Type, MENU_LINE); // other kinds keep value and kind
    EXPECT_EQ(q.top[0].Show, 1u);
    q.top[1].Type = MENU_NAME;
    q.top[2].Type = MENU_PICK_ONE;
}

TEST(Settings, ASubmenuThatContainsItselfIsFollowedOnlySoDeep) {
    MenuBuilder b;
    b.Add(MENU_SUBMENU, "Self");
    b.Add(MENU_INTEGER, "Value");
    TextMenu *menu = b.Finish();
    b[0].Value = reinterpret_cast<intptr_t>(menu);
    InitMenu(menu, nullptr);
    std::string text = Stored(menu);
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
    EXPECT_EQ(Stored(topMenu), text);
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
    EXPECT_EQ(testsupport::ReadFile(path), Stored(q.menu));
    EXPECT_EQ(StoreMenuFile(q.menu, (dir.path + "/missing/queue.settings").c_str()), 0);
    EXPECT_EQ(StoreMenuFile(q.menu, ""), 0);
    std::filesystem::directory_iterator it(dir.path), end;
    EXPECT_EQ(std::distance(it, end), 1); // no temporary left behind
}

} // namespace
