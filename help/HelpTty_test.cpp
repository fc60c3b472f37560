// The help menu's items as the front end builds them for a page.
#include "HelpTty.h"

#include "HtmlTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace html_testing;

namespace {

class HelpTty : public ::testing::Test {
  protected:
    void SetUp() override { ResetHelp(1); }
};

TEST_F(HelpTty, HyperlinksBecomeNumberedItemsBeforeTheLetteredOnes) {
    ASSERT_NE(Load("<html><body>Links: <a href=\"#a\">One</a> <a name=\"x\">anchor text</a> "
                   "<a href=\"b.html\">Two</a> <a href=\"#c\"></a><a "
                   "href=\"http://x\">Thr&eacute;e</a></body></html>"),
              nullptr);
    char *title = TtyHelpBuildMenuItems();
    EXPECT_STREQ(title, "Dorna Help"); // no catalog here: the English title
    EXPECT_EQ(HelpMenu.pTitle, title);
    EXPECT_EQ(HelpMenu.pItems, HelpMenuItems);
    EXPECT_EQ(HelpMenu.TitleAlign, 1);
    EXPECT_EQ(HelpMenu.Flags, 0x1C1);
    const TextMenuItem *items = HelpMenuItems;
    EXPECT_EQ(items[0].Type, MENU_LINE);
    EXPECT_STREQ(items[0].pText, pCurrentPage->pText);
    // The empty link "<>" counts two characters and is an item with no text.
    const char *texts[] = {"One", "Two", "",
                           "Thr\xC3\xA9"
                           "e"};
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(items[i].Type, MENU_COMMAND) << i;
        EXPECT_STREQ(items[i].pText, texts[i - 1]) << i;
        EXPECT_EQ(items[i].Key, static_cast<uint32_t>(i)) << i;
        EXPECT_EQ(items[i].Action, TtyHelpGotoLink) << i;
        EXPECT_NE(items[i].pUserData, nullptr) << i;
    }
    EXPECT_EQ(items[5].Type, MENU_COLUMNS);
    EXPECT_EQ(items[5].Value, 1);
    EXPECT_EQ(items[6].Type, MENU_COLUMNS);
    EXPECT_EQ(items[6].Value, 3);
    const struct {
        const char *text;
        uint32_t type;
        char key;
    } lettered[] = {{"~e Exit Help", MENU_EXIT, 'e'},
                    {"~c Contents", MENU_COMMAND, 'c'},
                    {"~b Back", MENU_COMMAND, 'b'}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(items[7 + i].pText, lettered[i].text);
        EXPECT_EQ(items[7 + i].Type, lettered[i].type);
        EXPECT_EQ(items[7 + i].Key, static_cast<uint32_t>(lettered[i].key));
    }
    EXPECT_EQ(items[8].Action, TtyHelpContents);
    EXPECT_EQ(items[9].Action, TtyHelpBack);
    EXPECT_EQ(items[10].pText, nullptr);
    EXPECT_GE(HelpMenuItemCnt, pCurrentPage->Links.Count + 7);
    EXPECT_STREQ(pCurrentPage->pName, "contents");
}

TEST_F(HelpTty, LongLinkTextsAreCutAt127Characters) {
    std::string text(200, 'x');
    ASSERT_NE(Load("<html><body><a href=\"#x\">" + text + "</a></body></html>"), nullptr);
    TtyHelpBuildMenuItems();
    EXPECT_EQ(std::string(HelpMenuItems[1].pText), std::string(127, 'x'));
}

TEST_F(HelpTty, ItemsFollowThePageShown) {
    ASSERT_NE(
        Load(
            "<html><body><a href=\"#two\">Go</a></body></html>"
            "<html page=\"two\"><body>Two <a href=\"#x\">a</a> <a href=\"#y\">b</a></body></html>"),
        nullptr);
    TtyHelpBuildMenuItems();
    EXPECT_EQ(TtyHelpBack(), 0);
    EXPECT_EQ(TtyHelpContents(), 0);
    EXPECT_NE(TtyHelpGotoLink(&HelpMenu, &HelpMenuItems[1]), 0);
    EXPECT_STREQ(pCurrentPage->pName, "two");
    EXPECT_STREQ(HelpMenuItems[1].pText, "a");
    EXPECT_STREQ(HelpMenuItems[2].pText, "b");
    EXPECT_EQ(HelpMenuItems[3].Type, MENU_COLUMNS);
    EXPECT_NE(TtyHelpBack(&HelpMenu, nullptr), 0);
    EXPECT_STREQ(HelpMenuItems[1].pText, "Go");
}

TEST_F(HelpTty, NothingIsShownWithoutANameOrTitle) {
    TtyHtmlHelp(nullptr, nullptr, "Title");
    TtyHtmlHelp("x.html", nullptr, nullptr);
    EXPECT_EQ(FileIndex, 0);
}

TEST_F(HelpTty, BlankTaskItem) {
    EXPECT_EQ(BlankTaskItem.Type, MENU_BLANK);
    EXPECT_EQ(BlankTaskItem.Default, 3);
    EXPECT_EQ(pHelpDataBuf, HelpDataBuf);
}

} // namespace
