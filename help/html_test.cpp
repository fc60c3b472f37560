// Loading and parsing of help files.
#include "HtmlTestSupport.h"

#include "MemMgr.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <unistd.h>
#include <vector>

using namespace html_testing;
using Strings = std::vector<std::string>;

namespace {

class HtmlParse : public ::testing::Test {
  protected:
    void SetUp() override { ResetHelp(1); }
};

// The elements of the body of a one-page file.
Strings BodyElements(const std::string &body) {
    HtmlPage *p = PageN(Load("<html><body>" + body + "</body></html>"), 1);
    return p ? Elements(&p->Body) : Strings{"<no page>"};
}

// A body, named for its case in a failure, and the elements it parses into.
struct BodyRow {
    const char *name;
    const char *body;
    Strings expected;
};

void ExpectBodies(std::initializer_list<BodyRow> rows) {
    for (const BodyRow &row : rows)
        EXPECT_EQ(BodyElements(row.body), row.expected) << row.name;
}

TEST_F(HtmlParse, CharacterReferences) {
    const struct {
        const char *name;
        int utf8;
        const char *body;
        Strings expected;
    } rows[] = {
        {"amp is not in the list", 1, "a&amp;b", {"'a&amp;b'"}},
        {"entity as UTF-8", 1, "&eacute;t&eacute;", {"'\xC3\xA9t\xC3\xA9'"}},
        {"entity as its byte", 0, "&eacute;", {"'\xE9'"}},
        {"first and last of the set", 0, "&nbsp;&yuml;", {"'\xA0\xFF'"}},
        {"names compare exactly", 1, "&Eacute;&EACUTE;", {"'\xC3\x89&EACUTE;'"}},
        {"numeric", 1, "&#65;", {"'A'"}},
        {"numeric, hexadecimal", 1, "&#x41;&#X42;", {"'AB'"}},
        {"numeric above 255 under UTF-8", 1, "&#8364;", {"'\xE2\x82\xAC'"}},
        {"numeric above 255 in bytes", 0, "&#8364;", {"'?'"}},
        {"numeric 233 in bytes", 0, "&#233;", {"'\xE9'"}},
        {"quot in any case", 1, "&quot;&QUOT;", {"'\"\"'"}},
        {"NUL and controls are dropped", 1, "a&#0;&#27;&#7;b", {"'ab'"}},
        {"C1 controls are dropped in bytes", 0, "a&#128;&#155;&#159;b", {"'ab'"}},
        {"C1 controls are dropped under UTF-8", 1, "a&#128;&#155;&#159;b", {"'ab'"}},
        {"160 follows the controls", 0, "&#160;", {"'\xA0'"}},
        {"a reference opens a run", 1, "<b>&#65;</b>", {"b[]", "'A'", "/b[]"}},
        {"stray ampersand outside a run", 1, "<p>& x", {"p[]", "'x'"}},
        {"stray ampersand inside a run", 1, "x & y", {"'x & y'"}},
        {"semicolon too far", 1, "x&eacuteeeeeeeeeeeee;", {"'x&eacuteeeeeeeeeeeee;'"}},
        {"unknown name kept in a run", 1, "x&bogus;", {"'x&bogus;'"}},
        {"unknown name opening a run loses its ampersand", 1, "&bogus;", {"'bogus;'"}},
        {"no semicolon ends the parse", 1, "ab&#65", {"'ab'"}},
    };
    for (const auto &row : rows) {
        flHtmlUtf8 = row.utf8;
        EXPECT_EQ(BodyElements(row.body), row.expected) << row.name;
    }
}

TEST_F(HtmlParse, WhiteSpaceRuns) {
    ExpectBodies({
        {"runs shrink to their first character", "Hello   \n  world", {"'Hello world'"}},
        {"the first character is kept as it is", "Hello\n\t world", {"'Hello\nworld'"}},
        {"leading white space is dropped", "\n   <p>  text", {"p[]", "'text'"}},
        {"a trailing blank stays in the run", "a <p>", {"'a '", "p[]"}},
        {"white space after an inline tag separates words",
         "a <b>bold</b> word",
         {"'a '", "b[]", "'bold'", "/b[]", "' word'"}},
        {"... but not after a block tag", "<br> x", {"br[]", "'x'"}},
        {"white space between block tags is dropped", "<p> <br>", {"p[]", "br[]"}},
        {"a blank between inline tags is a run of its own",
         "<b>x</b>  <a href=y>",
         {"b[]", "'x'", "/b[]", "' '", "a"}},
    });
}

TEST_F(HtmlParse, TagsAndAttributes) {
    ExpectBodies({
        {"name and attribute text", "<td  width=50% >x", {"td[ width=50% ]", "'x'"}},
        {"names keep their case", "<P>x</P>", {"P[]", "'x'", "/P[]"}},
        {"unknown tags are kept", "<blink>x</blink>", {"blink[]", "'x'", "/blink[]"}},
        {"empty tag", "<>x", {"[]", "'x'"}},
        {"a closing tag of another element stays", "</head>x", {"/head[]", "'x'"}},
    });
}

TEST_F(HtmlParse, MissingCloseOfATagEndsItAtTheEndOfTheText) {
    EXPECT_EQ(Elements(&PageN(Load("<html><body>x<p class=a"), 1)->Body),
              (Strings{"'x'", "p[class=a]"}));
}

TEST_F(HtmlParse, ParsingStopsAtTheClosingTagInAnyCase) {
    HtmlFile *f = Load("<html><head><title>T</title></HEAD><body>a</BODY>b</html>");
    ASSERT_NE(f, nullptr);
    HtmlPage *p = PageN(f, 1);
    EXPECT_EQ(Elements(&p->Head), (Strings{"title[]", "'T'", "/title[]"}));
    EXPECT_EQ(Elements(&p->Body), (Strings{"'a'"}));
}

TEST_F(HtmlParse, LinkAttributesInAnyCase) {
    HtmlPage *p =
        PageN(Load("<html><body><A HREF=\"x.html#sec\">go</a><a Name=top></a>"
                   "<a name=one href=\"two\">both</a><a class=\"x\">none</a></body></html>"),
              1);
    ASSERT_NE(p, nullptr);
    std::vector<HtmlLink *> links;
    for (ListNode *n = p->Body.pHead; n; n = n->pNext) {
        auto *e = static_cast<HtmlElement *>(n->pData);
        if (e->pTag && strcasecmp(e->pTag, "a") == 0)
            links.push_back(static_cast<HtmlLink *>(e->pData));
    }
    ASSERT_EQ(links.size(), 4u);
    const struct {
        const char *target;
        int kind;
    } expected[] = {{"x.html#sec", HTML_LINK_HREF},
                    {"top", HTML_LINK_NAME},
                    {"two", HTML_LINK_HREF},
                    {nullptr, 0}};
    for (size_t i = 0; i < links.size(); ++i) {
        EXPECT_EQ(links[i]->Kind, expected[i].kind) << "link " << i;
        if (expected[i].target)
            EXPECT_STREQ(links[i]->pTarget, expected[i].target) << "link " << i;
        else
            EXPECT_EQ(links[i]->pTarget, nullptr) << "link " << i;
    }
}

TEST_F(HtmlParse, AddAtributeAppendsOneElement) {
    List l = {};
    char tag[] = "td", data[] = "width=5";
    AddAtribute(&l, tag, data);
    char a[] = "a", adata[] = "href=\"p q\" name";
    AddAtribute(&l, a, adata);
    ASSERT_EQ(l.Count, 2);
    auto *e = static_cast<HtmlElement *>(ListFindItemN(&l, 1));
    EXPECT_EQ(e->pTag, tag);
    EXPECT_EQ(e->pData, data);
    EXPECT_EQ(e->Len, 7);
    auto *link = static_cast<HtmlLink *>(static_cast<HtmlElement *>(ListFindItemN(&l, 2))->pData);
    EXPECT_STREQ(link->pTarget, "p"); // values are cut at white space
    EXPECT_EQ(link->Kind, HTML_LINK_HREF);
}

TEST_F(HtmlParse, PagesBySplitAndName) {
    HtmlFile *f = Load("<html><body>one</body></html>"
                       "<html page=\"two\"><head><title>Two</title></head><body>two</body></html>"
                       "<html><body>more of two</body></html>"
                       "<HTML PAGE=\"three\"><body>three</body>");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->Pages.Count, 3);
    const char *names[] = {nullptr, "two", "three"};
    for (int i = 0; i < 3; ++i) {
        HtmlPage *p = PageN(f, i + 1);
        if (names[i])
            EXPECT_STREQ(p->pName, names[i]);
        else
            EXPECT_EQ(p->pName, nullptr);
    }
    EXPECT_EQ(Elements(&PageN(f, 2)->Body), (Strings{"'two'", "'more of two'"}));
}

TEST_F(HtmlParse, SkipPageLeavesOutEverythingToItsEnd) {
    HtmlFile *f = Load("<html><body>one</body></html>"
                       "<html page=\"hidden\" SkipPage><body>secret</body></HTML >"
                       "<html page=\"two\"><body>two</body></html>"
                       "<html skippage><body>kept: case matters</body></html>");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->Pages.Count, 2);
    EXPECT_STREQ(PageN(f, 2)->pName, "two");
    EXPECT_EQ(Elements(&PageN(f, 2)->Body), (Strings{"'two'", "'kept: case matters'"}));

    // Without a closing /HTML the SkipPage tag is ignored.
    HtmlFile *g = Load("<html><body>a</body></html><html SkipPage><body>shown</body>");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->Pages.Count, 1);
    EXPECT_EQ(Elements(&PageN(g, 1)->Body), (Strings{"'a'", "'shown'"}));
}

TEST_F(HtmlParse, HeadIsParsedOnceAndBodiesAddUp) {
    HtmlPage *p = PageN(Load("<html><head><title>A</title></head><head><title>B</title></head>"
                             "<body>x</body><body>y</body></html>"),
                        1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Elements(&p->Head), (Strings{"title[]", "'A'", "/title[]"}));
    EXPECT_EQ(Elements(&p->Body), (Strings{"'x'", "'y'"}));
}

TEST_F(HtmlParse, TextAtTheEndOfATruncatedFileIsKept) {
    EXPECT_EQ(Elements(&PageN(Load("<html><body>cut off"), 1)->Body), (Strings{"'cut off'"}));
}

TEST_F(HtmlParse, FilesWithoutPagesOrTextAreRefused) {
    const char *texts[] = {"", "no markup at all", "<head><body>x</body>",
                           "<html SkipPage></html>"};
    for (const char *text : texts) {
        EXPECT_EQ(Load(text), nullptr) << text;
        EXPECT_EQ(FileIndex, 0) << "the slot is not kept: " << text;
    }
    EXPECT_EQ(ParseHtmlFile("/nonexistent/help.html", nullptr), nullptr);
    EXPECT_EQ(ParseHtmlFile(nullptr, nullptr), nullptr);
    char web[] = "<html><body>x</body></html>";
    EXPECT_EQ(ParseHtmlFile("HTTP://example.com/help.html", web), nullptr);
    EXPECT_EQ(FileIndex, 0);
}

TEST_F(HtmlParse, NamesLoseTheFilePrefixAndTheAnchor) {
    HtmlFile *f =
        Load("<html><body>x<a name=\"here\"></a></body></html>", "file://dir/h.html#here");
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(f->pName, "dir/h.html");
    EXPECT_EQ(FindHtmlFile("dir/h.html"), f);
    EXPECT_EQ(FindHtmlFile("h.html"), nullptr);
    EXPECT_EQ(CurrentFile, 0);
    // Asked for again, the loaded record comes back without parsing anything.
    char other[] = "<html><body>other</body></html>";
    EXPECT_EQ(ParseHtmlFile("FILE://dir/h.html", other), f);
    EXPECT_EQ(FileIndex, 1);
}

TEST_F(HtmlParse, FileIsReadFromDisk) {
    testsupport::TempDir dir("html_parse");
    std::string path = dir / "disk.html";
    testsupport::WriteFile(path,
                           "<html><head><title>Disk</title></head><body>from disk</body></html>");
    HtmlFile *f = ParseHtmlFile(path.c_str(), nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(Elements(&PageN(f, 1)->Body), (Strings{"'from disk'"}));
}

TEST_F(HtmlParse, TheHundredAndFirstFileIsRefused) {
    for (int i = 0; i < HTML_MAX_FILES; ++i)
        ASSERT_NE(Load("<html><body>" + std::to_string(i) + "</body></html>"), nullptr) << i;
    EXPECT_EQ(FileIndex, HTML_MAX_FILES);
    EXPECT_EQ(Load("<html><body>one too many</body></html>"), nullptr);
    EXPECT_EQ(FileIndex, HTML_MAX_FILES);
    // A file already loaded is still found.
    EXPECT_EQ(ParseHtmlFile(aFile[5].pName, nullptr), &aFile[5]);
}

TEST_F(HtmlParse, EncodingFollowsTheLocale) {
    const struct {
        const char *lcAll, *lcCtype, *lang;
        int expected;
    } rows[] = {
        {"", "", "de_DE.UTF-8", 1},  {"", "", "de_DE.utf8", 1},   {"", "", "de_DE.ISO-8859-1", 0},
        {"C", "", "de_DE.UTF-8", 0}, {"", "en_US.UTF-8", "C", 1}, {"", "", "", 0},
    };
    for (const auto &row : rows) {
        setenv("LC_ALL", row.lcAll, 1);
        setenv("LC_CTYPE", row.lcCtype, 1);
        setenv("LANG", row.lang, 1);
        flHtmlUtf8 = -1;
        Load("<html><body>x</body></html>");
        EXPECT_EQ(flHtmlUtf8, row.expected) << row.lcAll << "/" << row.lcCtype << "/" << row.lang;
    }
}

} // namespace
