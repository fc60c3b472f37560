// Navigation: anchors, pages, links to other files, history.
#include "HtmlTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <cstring>
#include <unistd.h>

using namespace html_testing;

namespace {

const char TwoPages[] =
    "<html><head><title>Contents</title></head><body>"
    "<a href=\"#sec2\">Section</a> <a href=\"#two\">Two</a> <a href=\"other.html\">Other</a>"
    " <a href=\"http://example.com/\">Web</a><br>"
    "<a name=\"sec2\"></a>Section two<br></body></html>"
    "<html page=\"two\"><body>Page two <a href=\"nav.html#sec2\">back</a></body></html>";

class HtmlNav : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetHelp(1);
        home = std::filesystem::current_path();
        std::filesystem::current_path(dir.path);
        testsupport::WriteFile("nav.html", TwoPages);
        testsupport::WriteFile(
            "other.html", "<html><body>Other file <a href=\"nav.html\">home</a></body></html>");
    }
    void TearDown() override { std::filesystem::current_path(home); }

    // The link whose range covers the first occurrence of text on the current page.
    static int PosOf(const char *text) {
        return static_cast<int>(strstr(pCurrentPage->pText, text) - pCurrentPage->pText);
    }
    static HtmlLink *LinkN(int n) {
        return *static_cast<HtmlLink **>(ListFindItemN(&pCurrentPage->Links, n));
    }

    testsupport::TempDir dir{"html_nav"};
    std::filesystem::path home;
};

TEST_F(HtmlNav, BackAndContentsWithAnEmptyHistoryDoNothing) {
    ASSERT_EQ(HtmlHelp("nav.html", nullptr), 1);
    HtmlPage *first = pCurrentPage;
    EXPECT_EQ(HtmlSetHistory(-1), 0);
    EXPECT_EQ(HtmlSetHistory(0), 0);
    EXPECT_EQ(pCurrentPage, first);
}

TEST_F(HtmlNav, AnchorInTheSameFilePushesTheHistory) {
    ASSERT_EQ(HtmlHelp("nav.html", nullptr), 1);
    HtmlPage *first = pCurrentPage;
    HtmlProcessLink(PosOf("<Section>"));
    EXPECT_EQ(HistoryI, 1);
    EXPECT_EQ(pCurrentPage, first);
    EXPECT_EQ(TargetPos, PosOf("Section two"));
    EXPECT_EQ(History[0].pPage, first);
    EXPECT_EQ(HtmlSetHistory(-1), 1);
    EXPECT_EQ(HistoryI, 0);
}

TEST_F(HtmlNav, PageByNameAndBack) {
    ASSERT_EQ(HtmlHelp("nav.html", nullptr), 1);
    HtmlPage *first = pCurrentPage;
    HtmlProcessLink(PosOf("Two>")); // a position on the text selects the link
    ASSERT_STREQ(pCurrentPage->pName, "two");
    EXPECT_EQ(TargetPos, 0);
    // "nav.html#sec2" names this file: a jump within it.
    ProcessLink(LinkN(1));
    EXPECT_EQ(pCurrentPage, first);
    EXPECT_EQ(HistoryI, 2);
    EXPECT_EQ(HtmlSetHistory(-1), 1);
    EXPECT_STREQ(pCurrentPage->pName, "two");
    EXPECT_EQ(HtmlSetHistory(0), 1);
    EXPECT_EQ(pCurrentPage, first);
    EXPECT_EQ(HistoryI, 0);
}

TEST_F(HtmlNav, PositionsOutsideLinksAndBracketsSelectNothingOrTheLink) {
    ASSERT_EQ(HtmlHelp("nav.html", nullptr), 1);
    int open = PosOf("<Two>");
    HtmlProcessLink(open - 1); // the blank before it
    EXPECT_EQ(HistoryI, 0);
    HtmlProcessLink(open + 4); // the closing bracket
    EXPECT_STREQ(pCurrentPage->pName, "two");
}

TEST_F(HtmlNav, LinksToUnloadedAndLoadedFiles) {
    ASSERT_EQ(HtmlHelp("nav.html", nullptr), 1);
    HtmlProcessLink(PosOf("<Other>"));
    EXPECT_EQ(FileIndex, 2);
    EXPECT_STREQ(aFile[CurrentFile].pName, "other.html");
    EXPECT_EQ(HistoryI, 0); // another file is not a step of the history
    ProcessLink(LinkN(1));  // home: loaded already, shown at its first page
    EXPECT_EQ(FileIndex, 2);
    EXPECT_EQ(CurrentFile, 0);
    EXPECT_EQ(pCurrentPage, PageN(&aFile[0], 1));
    EXPECT_EQ(HistoryI, 0);
}

TEST_F(HtmlNav, LinksToOtherFilesAreFoundBesideTheCurrentOne) {
    std::filesystem::current_path("/");
    std::string nav = dir / "nav.html";
    ASSERT_EQ(HtmlHelp(nav.c_str(), nullptr), 1);
    HtmlProcessLink(PosOf("<Other>"));
    ASSERT_EQ(FileIndex, 2);
    EXPECT_EQ(aFile[CurrentFile].pName, dir / "other.html");
    ProcessLink(LinkN(1)); // "nav.html" is the file loaded as dir/nav.html
    EXPECT_EQ(CurrentFile, 0);
    EXPECT_EQ(FileIndex, 2);
}

TEST_F(HtmlNav, WebAndMissingTargetsAreReported) {
    ASSERT_EQ(HtmlHelp("nav.html", nullptr), 1);
    HtmlPage *first = pCurrentPage;
    testing::internal::CaptureStdout();
    HtmlProcessLink(PosOf("<Web>"));
    HtmlLink missing = {const_cast<char *>("missing.html"), 0, 0, 0, 0, HTML_LINK_HREF};
    ProcessLink(&missing);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error in reading file http://example.com/\nError in reading file missing.html\n");
    EXPECT_EQ(pCurrentPage, first);
    EXPECT_EQ(flBuildingFile, 0);
}

// A help file (or whoever names one) must not steer the terminal through
// the messages: control characters in names and targets are escaped.
TEST_F(HtmlNav, MessagesShowControlCharactersEscaped) {
    ASSERT_EQ(HtmlHelp("nav.html", nullptr), 1);
    struct Case {
        const char *name;
        const char *target;
        const char *shown;
    } cases[] = {
        {"ESC sequences", "\x1b]52;c;cm0gLXJm\x07\x1b[2J.html",
         "\\033]52;c;cm0gLXJm\\007\\033[2J.html"},
        {"C1 CSI as a byte",
         "x\x9b"
         "2J.html",
         "x\\233"
         "2J.html"},
        {"C1 CSI in UTF-8",
         "x\xc2\x9b"
         "2J.html",
         "x\\302\\233"
         "2J.html"},
        {"a line end", "x\ny.html", "x\\012y.html"},
        {"web address", "http://x/\x1b[31m", "http://x/\\033[31m"},
    };
    for (const Case &c : cases) {
        testing::internal::CaptureStdout();
        HtmlLink link = {const_cast<char *>(c.target), 0, 0, 0, 0, HTML_LINK_HREF};
        ProcessLink(&link);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  std::string("Error in reading file ") + c.shown + "\n")
            << c.name;
        testing::internal::CaptureStdout();
        EXPECT_EQ(HtmlHelp(c.target, nullptr), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  std::string("Error in reading HTML file ") + c.shown + "\n")
            << c.name;
    }
}

TEST_F(HtmlNav, OpeningReportsWhatCannotBeLoaded) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(HtmlHelp("missing.html", nullptr), 0);
    char junk[] = "no markup";
    EXPECT_EQ(HtmlHelp("buffer", junk), 0);
    EXPECT_EQ(HtmlHelp(nullptr, nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error in reading HTML file missing.html\nError reading HTML buffer\n");
}

TEST_F(HtmlNav, AnchorOfTheNameIsShownWhenLoaded) {
    ASSERT_EQ(HtmlHelp("nav.html#two", nullptr), 1);
    EXPECT_STREQ(pCurrentPage->pName, "two");
    // Asked for again once loaded, the anchor still counts.
    ASSERT_NE(LoadHtmlFile("nav.html#sec2", nullptr), nullptr);
    EXPECT_EQ(pCurrentPage->pName, nullptr);
    EXPECT_EQ(TargetPos, PosOf("Section two"));
}

TEST_F(HtmlNav, LinkRequestsWhileBuildingAreIgnored) {
    ASSERT_EQ(HtmlHelp("nav.html", nullptr), 1);
    flBuildingFile = 1;
    HtmlProcessLink(PosOf("<Two>"));
    EXPECT_EQ(pCurrentPage->pName, nullptr);
    flBuildingFile = 0;
}

TEST_F(HtmlNav, TheHundredAndFirstHistoryEntryIsDropped) {
    ASSERT_EQ(HtmlHelp("nav.html", nullptr), 1);
    int pos = PosOf("<Section>");
    for (int i = 0; i < HTML_MAX_HISTORY + 5; ++i)
        HtmlProcessLink(pos);
    EXPECT_EQ(HistoryI, HTML_MAX_HISTORY);
    int back = 0;
    while (HtmlSetHistory(-1))
        ++back;
    EXPECT_EQ(back, HTML_MAX_HISTORY);
}

TEST_F(HtmlNav, ContentsLeadsToTheFileTheHelpOpened) {
    ASSERT_EQ(HtmlHelp("other.html", nullptr), 1); // an earlier help session
    ASSERT_EQ(HtmlHelp("nav.html", nullptr), 1);
    HtmlProcessLink(PosOf("<Two>"));
    EXPECT_EQ(HtmlSetHistory(0), 1);
    EXPECT_STREQ(aFile[CurrentFile].pName, "nav.html");
    EXPECT_EQ(pCurrentPage, PageN(&aFile[CurrentFile], 1));
}

} // namespace
