// Page layout, byte for byte.
#include "HtmlTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace html_testing;
using Strings = std::vector<std::string>;

namespace {

class HtmlLayout : public ::testing::Test {
  protected:
    void SetUp() override { ResetHelp(1); }
};

// The lines of a text (each ended by "\n").
Strings Lines(const std::string &text) {
    Strings out;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        out.push_back(text.substr(start, nl - start));
    if (start < text.size()) out.push_back(text.substr(start) + "<no line end>");
    return out;
}

Strings BodyLines(const std::string &body) {
    return Lines(Body(body));
}

TEST_F(HtmlLayout, TitleIsCentredInEightyColumns) {
    EXPECT_EQ(Text("<html><head><title>Help</title></head><body>x<br></body></html>"),
              std::string(38, ' ') + "Help\n\nx\n");
    std::string wide(90, 'w');
    EXPECT_EQ(Lines(Text("<html><head><title>" + wide + "</title></head><body></body></html>"))[0],
              wide);
    // Every run of the title gets its own line and a blank one.
    EXPECT_EQ(Text("<html><head><title>ab<b>cd</b></title></head><body></body></html>"),
              std::string(39, ' ') + "ab\n\n" + std::string(39, ' ') + "cd\n\n");
}

TEST_F(HtmlLayout, AccentedTitleIsCentredByCharactersInBothEncodings) {
    for (int utf8 : {1, 0}) {
        flHtmlUtf8 = utf8;
        std::string text =
            Text("<html><head><title>&Eacute;t&eacute;</title></head><body></body></html>");
        std::string ete = utf8 ? "\xC3\x89t\xC3\xA9" : "\xC9t\xE9";
        EXPECT_EQ(text, std::string(38, ' ') + ete + "\n\n") << "utf8 " << utf8;
    }
}

TEST_F(HtmlLayout, BlocksAndLineBreaks) {
    const struct {
        const char *name;
        const char *body;
        Strings expected;
    } rows[] = {
        {"a paragraph opens with a blank line", "a<p>b</p>c", {"a", "", "b", "c"}},
        {"line break", "a<br>b<BR>", {"a", "b"}},
        {"heading", "x<h1>Head</h1>text<br>", {"x", "Head", "", "text"}},
        {"division", "<div>d</div>e<br>", {"", "d", "", "e"}},
        {"inline tags change nothing",
         "<b>bold</b> <font size=2>f</font><img src=x>.<br>",
         {"bold f."}},
        {"unknown tags change nothing", "a<blink>b</blink><br>", {"ab"}},
        {"text without a final line break", "last", {"last"}},
    };
    for (const auto &row : rows)
        EXPECT_EQ(BodyLines(row.body), row.expected) << row.name;
}

TEST_F(HtmlLayout, NumberedLists) {
    EXPECT_EQ(BodyLines("<ol><li>one<li>two</ol>"), (Strings{"", "   1. one", "   2. two"}));
    EXPECT_EQ(BodyLines("<ol><li>a</li></ol><ol><li>b</ol>"),
              (Strings{"", "   1. a", "", "   1. b"}));
    EXPECT_EQ(BodyLines("<li>not numbered</li><br>"), (Strings{"not numbered"}));
    std::string many = "<ol>";
    for (int i = 0; i < 12; ++i)
        many += "<li>x";
    EXPECT_EQ(BodyLines(many + "</ol>").back(), "   12. x");
}

TEST_F(HtmlLayout, HyperlinkRangeCoversItsBrackets) {
    HtmlPage *p =
        PageN(Load("<html><body>See <a href=\"#two\">Next</a> page<br></body></html>"), 1);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p->pText, "See <Next> page\n");
    ASSERT_EQ(p->Links.Count, 1);
    HtmlLink *l = *static_cast<HtmlLink **>(ListFindItemN(&p->Links, 1));
    EXPECT_EQ(l->Start, 4);
    EXPECT_EQ(l->End, 10);
    EXPECT_EQ(l->TextLen, 6);
}

TEST_F(HtmlLayout, LinkOffsetsAreBytesAfterAccentedText) {
    HtmlPage *p = PageN(
        Load("<html><head><title>T</title></head><body>&eacute;&eacute; <a href=x>&agrave;</a>"
             "<a name=end></a></body></html>"),
        1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(LinkTexts(p), (Strings{"<\xC3\xA0>", ""}));
    HtmlLink *l = *static_cast<HtmlLink **>(ListFindItemN(&p->Links, 1));
    EXPECT_EQ(l->TextLen, 3); // characters
    EXPECT_EQ(l->End - l->Start, 4);
}

TEST_F(HtmlLayout, LinkBrokenOverLinesKeepsItsFirstLine) {
    HtmlPage *p = PageN(Load("<html><body><a href=x>one<br>two</a></body></html>"), 1);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p->pText, "<one\ntwo>\n");
    EXPECT_EQ(LinkTexts(p), (Strings{"<one"}));
}

TEST_F(HtmlLayout, BorderedTable) {
    EXPECT_EQ(BodyLines("<table border><tr><td>a</td><td>bb</td></tr></table>"),
              (Strings{",-+--,", "|a|bb|", "'-+--'"}));
    EXPECT_EQ(BodyLines("<table border=1><tr><td>a<td>b<tr><td>c<td>dd</table>"),
              (Strings{",-+--,", "|a|b |", "|-+--|", "|c|dd|", "'-+--'"}));
}

TEST_F(HtmlLayout, UnborderedTableLeavesItsAreaBlank) {
    EXPECT_EQ(BodyLines("<table><tr><td>a</td><td>bb</td></tr></table>"),
              (Strings{"      ", " a bb ", "      "}));
}

TEST_F(HtmlLayout, PaddingAndSpacing) {
    // cellpadding 14 pixels are 2 characters on either side of each column.
    EXPECT_EQ(
        BodyLines(
            "<table border cellpadding=14 cellspacing=7><tr><td>a</td><td>bb</td></tr></table>"),
        (Strings{",-----+------,", "|  a  |  bb  |", "'-----+------'"}));
    // A quoted number reads as 0.
    EXPECT_EQ(BodyLines("<table border cellpadding=\"14\"><tr><td>a</td></tr></table>"),
              (Strings{",-,", "|a|", "'-'"}));
}

TEST_F(HtmlLayout, CellsHoldSeveralLinesAndLinks) {
    EXPECT_EQ(
        BodyLines(
            "<table border><tr><td>one<br>two</td><td><a href=x>go</a> now</td></tr></table>"),
        (Strings{",---+--------,", "|one|<go> now|", "|two|        |", "'---+--------'"}));
}

TEST_F(HtmlLayout, NestedTable) {
    EXPECT_EQ(
        BodyLines("<table border><tr><td>x</td><td>above<table border><tr><td>in</td></tr></table>"
                  "</td></tr></table>"),
        (Strings{",-+-----,", "|x|above|", "| |,--, |", "| ||in| |", "| |'--' |", "'-+-----'"}));
}

TEST_F(HtmlLayout, TableAfterTextStartsAtItsColumn) {
    EXPECT_EQ(BodyLines("ab<table border><tr><td>c</td></tr></table>d<br>"),
              (Strings{"ab,-,", "  |c|", "  '-'", "  d"}));
}

TEST_F(HtmlLayout, RowsWithDifferentCellCounts) {
    EXPECT_EQ(BodyLines("<table border><tr><td>a<tr><td>b<td>c<td>d<tr></table>"),
              (Strings{",-+-+-,", "|a| | |", "|-+-+-|", "|b|c|d|", "|-+-+-|", "'-+-+-'"}));
}

TEST_F(HtmlLayout, WidthAttributes) {
    // 560 pixels less 3 borders make 79 characters; the cells take half each.
    std::string half =
        "<table border=1 width=560><tr><td width=\"50%\">a</td><td width=50%>b</td></tr></table>";
    Strings lines = BodyLines(half);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "," + std::string(38, '-') + "+" + std::string(38, '-') + ",");
    EXPECT_EQ(lines[1], "|a" + std::string(37, ' ') + "|b" + std::string(37, ' ') + "|");
    // A nested table of 50% takes half of the fixed width of its column.
    lines = BodyLines(
        "<table border=1 width=300><tr><td width=\"100%\"><table border width=\"50%\"><tr><td>n"
        "</td></tr></table></td></tr></table>");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "," + std::string(41, '-') + ",");
    EXPECT_EQ(lines[2], "||n" + std::string(17, ' ') + "|" + std::string(21, ' ') + "|");
    // A percentage at the top level has nothing to be a percentage of.
    EXPECT_EQ(BodyLines("<table border width=\"100%\"><tr><td>a</td></tr></table>"),
              (Strings{",-,", "|a|", "'-'"}));
    // Widths that come out negative count as none; text wider than its fixed
    // column widens the column instead of running into the next one.
    EXPECT_EQ(BodyLines("<table border width=1><tr><td>a</td></tr></table>"),
              (Strings{",-,", "|a|", "'-'"}));
    EXPECT_EQ(
        BodyLines("<table border width=70><tr><td width=7>wide text</td><td>b</td></tr></table>"),
        (Strings{",---------+-,", "|wide text|b|", "'---------+-'"}));
}

TEST_F(HtmlLayout, AccentedCellsLineUpInBothEncodings) {
    for (int utf8 : {1, 0}) {
        flHtmlUtf8 = utf8;
        std::string e = utf8 ? "\xC3\xA9" : "\xE9";
        EXPECT_EQ(BodyLines("<table border><tr><td>&eacute;t&eacute;</td><td>x</td></tr>"
                            "<tr><td>abc</td><td>y</td></tr></table>"),
                  (Strings{",---+-,", "|" + e + "t" + e + "|x|", "|---+-|", "|abc|y|", "'---+-'"}))
            << "utf8 " << utf8;
    }
}

TEST_F(HtmlLayout, UTF8TextIsCountedByCharactersAndBadBytesShowAsLatin1) {
    // Under UTF-8 a byte that starts no sequence is its Latin-1 character.
    EXPECT_EQ(BodyLines("<table border><tr><td>\xE9t\xE9</td></tr></table>"),
              (Strings{",---,", "|\xC3\xA9t\xC3\xA9|", "'---'"}));
    EXPECT_EQ(BodyLines("<table border><tr><td>\xE2\x82\xAC</td></tr></table>"),
              (Strings{",-,", "|\xE2\x82\xAC|", "'-'"}));
}

TEST_F(HtmlLayout, ControlCharactersNeverReachTheTerminal) {
    EXPECT_EQ(BodyLines("a\x1b[2Jb\x07\x7f<br>c\td<br>"), (Strings{"a[2Jb", "c d"}));
    // C1 controls (0x9B is a one-byte ESC [), in both encodings: raw bytes,
    // references and their UTF-8 form.
    for (int utf8 : {0, 1}) {
        flHtmlUtf8 = utf8;
        EXPECT_EQ(BodyLines("a\x9b"
                            "2Jb\x85\x80\x9f&#155;c\xc2\x9b"
                            "d"),
                  (Strings{utf8 ? "a2Jbcd"
                                : "a2Jbc\xc2"
                                  "d"}))
            << "utf8 " << utf8;
    }
}

// A page whose layout would grow far beyond its source (one wide cell above
// many empty rows pads every row to the cell's width) is cut at the limit
// and says so at its end; other pages of the file are laid out whole.
TEST_F(HtmlLayout, APageIsCutAtItsLayoutLimit) {
    std::string cell(20000, 'x'), rows;
    for (int i = 0; i < 999; ++i)
        rows += "<tr><td></td></tr>";
    const std::string wide = "<html page=\"wide\"><body><table border><tr><td>" + cell +
                             "</td></tr>" + rows + "</table></body></html>";
    const std::string small = "<html page=\"small\"><body>after</body></html>";
    HtmlFile *f = Load(wide + small);
    ASSERT_NE(f, nullptr);
    HtmlPage *p = PageN(f, 1), *q = PageN(f, 2);
    ASSERT_TRUE(p && q && p->pText && q->pText);
    // The limit: 64 times the page's own source, at least 1 MiB.
    EXPECT_EQ(HtmlLayoutLimit(p), 64L * static_cast<long>(wide.size()));
    EXPECT_EQ(HtmlLayoutLimit(q), HTML_LAYOUT_MIN);
    const std::string text = p->pText;
    EXPECT_LE(static_cast<long>(text.size()), HtmlLayoutLimit(p));
    EXPECT_GT(static_cast<long>(text.size()), HtmlLayoutLimit(p) - 30000) << "cut well before";
    const std::string note = "[The rest of this page is left out: its text would pass " +
                             std::to_string(HtmlLayoutLimit(p)) + " bytes.]\n";
    ASSERT_GE(text.size(), note.size());
    EXPECT_EQ(text.substr(text.size() - note.size()), note);
    EXPECT_EQ(HtmlPageCut(p), 1);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), p->LineCnt);
    // Every line but the note is a whole row of the table: the cut falls
    // between writes, never inside one.
    const std::string frame = "|" + cell + "|";
    Strings lines = Lines(text);
    for (size_t i = 1; i + 1 < lines.size(); ++i)
        ASSERT_TRUE(lines[i] == frame || lines[i] == "|" + std::string(20000, '-') + "|") << i;
    EXPECT_EQ(std::string(q->pText), "after\n");
    EXPECT_EQ(HtmlPageCut(q), 0);
}

TEST_F(HtmlLayout, PagesWithinTheLimitAreNotCut) {
    // Many lines from little source, and a long line: far below the limit.
    std::string brs;
    for (int i = 0; i < 100000; ++i)
        brs += "<br>";
    HtmlPage *p =
        PageN(Load("<html><body>" + brs + std::string(300000, 'y') + "</body></html>"), 1);
    ASSERT_TRUE(p && p->pText);
    EXPECT_EQ(HtmlPageCut(p), 0);
    EXPECT_EQ(p->LineCnt, 100001);
    EXPECT_EQ(strlen(p->pText), 100000u + 300000u + 1u);
}

TEST_F(HtmlLayout, LongLinesStayWholeAndTheImageGrows) {
    std::string longText(300, 'x');
    EXPECT_EQ(BodyLines(longText + "<br>after"), (Strings{longText, "after"}));
    // Text that starts near the end of a 132-column row is not overwritten by the next line.
    std::string start(100, 'a'), tail(50, 'b');
    EXPECT_EQ(BodyLines(start + "<b>" + tail + "</b><br>next"), (Strings{start + tail, "next"}));
    // Far more lines than body elements.
    std::string body = "<ol>";
    for (int i = 0; i < 50; ++i)
        body += "<li>i</h1>";
    Strings lines = BodyLines(body + "</ol>");
    EXPECT_EQ(lines.size(), 151u);
    EXPECT_EQ(lines[148], "   50. i");
}

TEST_F(HtmlLayout, TableLimitsCutRowsAndColumns) {
    std::string wide = "<table border><tr>";
    for (int i = 0; i < 1005; ++i)
        wide += "<td>" + std::string(1, static_cast<char>('a' + i % 26));
    HtmlPage *p = PageN(Load("<html><body>" + wide + "</table>after</body></html>"), 1);
    ASSERT_NE(p, nullptr);
    Strings lines = Lines(p->pText);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].size(), 2001u); // 1000 columns of one character
    EXPECT_EQ(lines[3], "after");

    std::string tall = "<table border>";
    for (int i = 0; i < 1005; ++i)
        tall += "<tr><td>r";
    lines = BodyLines(tall + "</table>after");
    EXPECT_EQ(lines.size(), 2002u); // 1000 rows, their separators, the closing line, and after
    EXPECT_EQ(lines.back(), "after");
}

TEST_F(HtmlLayout, DeeplyNestedTablesAreCutAndKeepTheirText) {
    std::string body;
    for (int i = 0; i < 40; ++i)
        body += "<table border><tr><td>";
    body += "core";
    for (int i = 0; i < 40; ++i)
        body += "</td></tr></table>";
    Strings lines = BodyLines(body + "after");
    ASSERT_FALSE(lines.empty());
    size_t depth = HTML_MAX_TABLE_DEPTH;
    EXPECT_EQ(lines.size(), 2 * depth + 2);
    EXPECT_EQ(lines[depth], std::string(depth, '|') + "core" + std::string(depth, '|'));
    EXPECT_EQ(lines.back(), "after");
}

TEST_F(HtmlLayout, HugeAttributeValuesAreCut) {
    Strings lines =
        BodyLines("<table border width=99999999999 cellpadding=99999999999 cellspacing=-5>"
                  "<tr><td width=99999>a</td></tr></table>");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_LE(lines[0].size(),
              static_cast<size_t>(HTML_MAX_TABLE_WIDTH + 2 * HTML_MAX_TABLE_PAD + 2));
}

TEST_F(HtmlLayout, MalformedTablesNeverCrash) {
    const char *bodies[] = {
        "<table>",
        "</table>x",
        "<td>x</td>",
        "<tr><td>stray</tr>",
        "<table><td>x",
        "<table border>text before rows<tr><td>x</table>",
        "<table><table><table>",
        "<table border><tr><td><table></td></tr></table>",
        "<table border><tr><td>a</tr></table></table></table>b",
    };
    for (const char *body : bodies)
        EXPECT_NE(Body(body), "<no page>") << body;
    EXPECT_EQ(BodyLines("<table border>text before rows<tr><td>x</table>"),
              (Strings{",-,", "|x|", "'-'"}));
}

TEST_F(HtmlLayout, LineCountAndFunctionsCalledOneByOne) {
    HtmlFile *f = Load("<html><body>a<br>b<br></body></html>");
    HtmlPage *p = PageN(f, 1);
    EXPECT_EQ(p->LineCnt, 2);
    // A page laid out again from its elements gives the same text.
    std::string first = p->pText;
    p->pText = nullptr;
    pCurrentPage = p;
    BuildTextImage(f);
    PrintTextImage(f);
    EXPECT_EQ(first, p->pText);
}

TEST_F(HtmlLayout, GetTextTableMeasuresATableOfTheCurrentPage) {
    HtmlFile *f = Load("<html><body><table>x</table></body></html>");
    HtmlPage *p = PageN(f, 1);
    pCurrentPage = p;
    // Elements made by hand and appended to the page's body.
    char attrs[] = "border cellpadding=7";
    AddAtribute(&p->Body, const_cast<char *>("table"), attrs);
    auto *table = static_cast<HtmlElement *>(ListFindItemN(&p->Body, p->Body.Count));
    AddAtribute(&p->Body, const_cast<char *>("tr"), nullptr);
    for (const char *text : {"abc", "d"}) {
        AddAtribute(&p->Body, const_cast<char *>("td"), nullptr);
        HtmlElement run = {nullptr, const_cast<char *>(text), 3};
        ListPushItem(&p->Body, &run, sizeof run);
    }
    AddAtribute(&p->Body, const_cast<char *>("/table"), nullptr);
    HtmlTable *t = GetTextTable(f, table, 0);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(table->pTag, "fitab");
    EXPECT_EQ(table->pData, t);
    EXPECT_EQ(t->Gap, 1);
    EXPECT_EQ(t->Border, 1);
    EXPECT_EQ(t->Padding, 1);
    EXPECT_EQ(t->ColCnt, 2);
    EXPECT_EQ(t->RowCnt, 1);
    EXPECT_EQ(t->pColWidths[0], 3);
    EXPECT_EQ(t->pColWidths[1], 1);
    EXPECT_EQ(t->pRowHeights[0], 1);
    EXPECT_EQ(t->Width, 2 * 1 * 2 + 2 + 1 + 4);
    EXPECT_EQ(t->Height, 3);
}

} // namespace
