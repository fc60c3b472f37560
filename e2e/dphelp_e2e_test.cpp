// dphelp_e2e_test.cpp - the help tool run as a program: its options and
// errors, the dumped text, and the dump set side by side with w3m's.
#include "Sandbox.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Result = testsupport::ChildResult;

// Runs argv with the environment's LANG set to lang and nothing on stdin.
Result RunTool(const std::vector<std::string> &argv, const char *lang = "C.UTF-8") {
    return testsupport::RunProgram(argv, "", {std::string("LANG=") + lang, "LC_ALL", "LC_CTYPE"},
                                   "", testsupport::Stderr::Apart);
}

std::string Page(const char *name) {
    return std::string(HELP_PAGES) + "/" + name;
}

Result Dump(const char *page, const char *lang = "C.UTF-8") {
    return RunTool({DPHELP, "--dump", Page(page)}, lang);
}

bool HaveW3m() {
    return RunTool({"sh", "-c", "command -v w3m"}).status == 0;
}

TEST(Dphelp, HelpAndUsage) {
    Result r = RunTool({DPHELP, "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage: dphelp FILE[#anchor]"), std::string::npos);
    EXPECT_NE(r.out.find("dphelp --dump FILE"), std::string::npos);
    for (std::vector<std::string> args :
         {std::vector<std::string>{DPHELP}, {DPHELP, "--dump"}, {DPHELP, "--bogus", "x"}}) {
        r = RunTool(args);
        EXPECT_NE(r.status, 0) << args.size();
        EXPECT_TRUE(r.out.empty());
        EXPECT_NE(r.err.find("usage:"), std::string::npos);
    }
}

// Each form stands alone: an option twice, one beside another form, or "-"
// for a file is a usage error.
TEST(Dphelp, EachFormStandsAlone) {
    for (std::vector<std::string> args : {
             std::vector<std::string>{DPHELP, "--help", "--help"},
             {DPHELP, "--help", Page("pages.html")},
             {DPHELP, "--dump", Page("pages.html"), "--dump", Page("pages.html")},
             {DPHELP, "--dump", Page("pages.html"), Page("pages.html")},
             {DPHELP, "-"},
             {DPHELP, "--", Page("pages.html")},
         }) {
        Result r = RunTool(args);
        EXPECT_EQ(r.status, 2) << args[1] << " " << args.size();
        EXPECT_TRUE(r.out.empty()) << args[1];
        EXPECT_EQ(r.err.rfind("usage: dphelp", 0), 0u) << args[1];
    }
}

TEST(Dphelp, FilesThatCannotBeShownAreErrors) {
    for (const std::string &file :
         {std::string("/nonexistent/help.html"), Page("../dphelp_e2e_test.cpp")}) {
        Result r = RunTool({DPHELP, "--dump", file});
        EXPECT_EQ(r.status, 1) << file;
        EXPECT_TRUE(r.out.empty()) << file;
        EXPECT_NE(r.err.find("dphelp: cannot show " + file), std::string::npos) << r.err;
    }
}

// Help files are data: what reaches the terminal holds no control
// character but the line ends and page breaks of the layout, in every
// encoding (0x9B is a one-byte ESC [ on an 8-bit terminal), and a name that
// holds one is shown escaped.
TEST(Dphelp, NoControlCharacterReachesTheTerminal) {
    testsupport::TempDir dir("dphelp");
    const std::string file = dir.path + "/controls.html";
    testsupport::WriteFile(file, "<html><head><title>T\x1b]0;title\x07</title></head><body>"
                                 "a\x1b[2J\x9b"
                                 "31m&#155;31m&#27;c\xc2\x9b"
                                 "1m\x85\x07\x7f"
                                 "<a href=\"x\x1b[5m\">l\x9bnk</a></body></html>");
    for (const char *lang : {"C", "C.UTF-8", "en_US.ISO-8859-1", "POSIX"}) {
        Result r = RunTool({DPHELP, "--dump", file}, lang);
        ASSERT_EQ(r.status, 0) << lang << r.err;
        for (unsigned char c : r.out)
            EXPECT_FALSE((c < 0x20 && c != '\n' && c != '\f') || c == 0x7F ||
                         (c >= 0x80 && c <= 0x9F && lang[2] != 'U'))
                << lang << ": byte " << int(c);
        EXPECT_EQ(r.out.find("\xc2\x9b"), std::string::npos) << lang;
    }
    Result r = RunTool({DPHELP, "--dump",
                        dir.path + "/\x1b[2J\x9b"
                                   "1m.html"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot show " + dir.path +
                         "/\\033[2J\\233"
                         "1m.html"),
              std::string::npos)
        << r.err;
}

// One wide cell above 999 empty rows pads every row to the cell's width: the
// page is cut at 64 times its source and the cut is reported.
TEST(Dphelp, APageIsCutAtSixtyFourTimesItsSource) {
    testsupport::TempDir dir("dphelp");
    const std::string file = dir.path + "/wide.html";
    std::string html =
        "<html><body><table border><tr><td>" + std::string(1000000, 'x') + "</td></tr>";
    for (int i = 0; i < 999; ++i)
        html += "<tr><td></td></tr>";
    html += "</table></body></html>";
    testsupport::WriteFile(file, html);
    Result r = RunTool({DPHELP, "--dump", file});
    ASSERT_EQ(r.status, 0) << r.err;
    const long limit = 64L * static_cast<long>(html.size());
    EXPECT_LE(static_cast<long>(r.out.size()), limit);
    EXPECT_GT(static_cast<long>(r.out.size()), limit - 1100000);
    const std::string said = "its text would pass " + std::to_string(limit) + " bytes";
    EXPECT_NE(r.err.find("dphelp: page 1 of " + file + " is cut: " + said), std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("[The rest of this page is left out: " + said + ".]\n"),
              std::string::npos);
}

TEST(Dphelp, DumpSeparatesPagesByAFormFeed) {
    Result r = Dump("pages.html");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(35, ' ') +
                         "Two pages\n\n\nFirst page\n\n\n\nThis file holds two pages.\n"
                         "\f\n\nThe second page starts here.\n\n\nIt has two paragraphs.\n");
}

TEST(Dphelp, DumpWritesTheTerminalsEncoding) {
    Result utf8 = Dump("paragraphs.html", "en_US.UTF-8");
    Result latin1 = Dump("paragraphs.html", "C");
    EXPECT_NE(utf8.out.find("Caf\xC3\xA9 or \xC3\x85lesund"), std::string::npos);
    EXPECT_NE(latin1.out.find("Caf\xE9 or \xC5lesund"), std::string::npos);
}

// What sets the two dumps apart, undone line by line so that the rest can be
// compared: our centred title (w3m's dump shows none), blank lines (ours come
// from the fixed spacing of paragraphs and headings, w3m puts one between
// blocks), blanks at line ends (a run keeps the one white-space character
// before the next tag; w3m trims), the indentation of list numbers (ours is
// always three blanks, w3m right-aligns the numbers), and the form feed
// between our pages (w3m shows a file as one document).
std::vector<std::string> Comparable(const std::string &text, bool dropTitle) {
    std::vector<std::string> lines;
    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        std::string line =
            text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        start = nl == std::string::npos ? text.size() : nl + 1;
        if (first && dropTitle) {
            first = false;
            continue;
        }
        first = false;
        if (!line.empty() && line[0] == '\f') line.erase(0, 1);
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        line = std::regex_replace(line, std::regex("^ +([0-9]+\\. )"), "$1");
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

TEST(Dphelp, DumpMatchesW3mOnParagraphsAndLists) {
    if (!HaveW3m()) {
        if (getenv("CI")) FAIL() << "w3m is missing";
        GTEST_SKIP() << "w3m is not installed";
    }
    for (const char *page : {"paragraphs.html", "lists.html", "pages.html"}) {
        Result ours = Dump(page);
        Result w3m =
            RunTool({"w3m", "-dump", "-cols", "80", "-T", "text/html", "-O", "UTF-8", Page(page)});
        ASSERT_EQ(ours.status, 0) << page;
        ASSERT_EQ(w3m.status, 0) << page;
        EXPECT_EQ(Comparable(ours.out, true), Comparable(w3m.out, false)) << page;
    }
}

TEST(Dphelp, LongLinesStayWholeWhereW3mWrapsThem) {
    if (!HaveW3m()) {
        if (getenv("CI")) FAIL() << "w3m is missing";
        GTEST_SKIP() << "w3m is not installed";
    }
    testsupport::TempDir dir("dphelp_long");
    std::string path = dir / "long.html";
    std::string sentence;
    for (int i = 0; i < 12; ++i)
        sentence += "word" + std::to_string(i) + " long ";
    testsupport::WriteFile(path, "<html><body><p>" + sentence + "</p></body></html>");
    Result ours = RunTool({DPHELP, "--dump", path});
    Result w3m = RunTool({"w3m", "-dump", "-cols", "80", "-T", "text/html", path});
    EXPECT_EQ(Comparable(ours.out, false).size(), 1u);
    EXPECT_EQ(Comparable(w3m.out, false).size(), 2u);
}

// The front end on a terminal of its own (tmux).
struct Viewer {
    e2e::Terminal term;
    explicit Viewer(const std::string &file)
        : term("LANG=C.UTF-8 " + e2e::ShellQuote(DPHELP) + " " + e2e::ShellQuote(file), 80, 24) {}
    void Answer(const std::string &text) {
        term.Type(text);
        term.Press("Enter");
    }
    bool Shows(const std::string &text) { return term.WaitFor(text, 10000); }
};

#define REQUIRE_TMUX()                                                                             \
    do {                                                                                           \
        if (RunTool({"sh", "-c", "command -v tmux"}).status != 0) {                                \
            if (getenv("CI")) FAIL() << "tmux is required under CI";                               \
            GTEST_SKIP() << "tmux is not installed";                                               \
        }                                                                                          \
    } while (0)

TEST(DphelpTerminal, LinksAreNumberedItemsFollowedByTheLetteredOnes) {
    REQUIRE_TMUX();
    Viewer v(Page("nav.html"));
    ASSERT_TRUE(v.Shows("Enter your choice:")) << v.term.Screen();
    std::string screen = v.term.Screen();
    for (const char *line : {"Dorna Help", "Start page.", "<Later on this page>",
                             " 1) Later on this page", " 2) The second page", " 3) Another file",
                             " 4) The web", " e) Exit Help", "c) Contents", "b) Back"})
        EXPECT_NE(screen.find(line), std::string::npos) << line << "\n" << screen;
    v.Answer("e");
    EXPECT_TRUE(v.Shows("[exited 0]")) << v.term.Screen();
}

TEST(DphelpTerminal, PagesContentsAndBack) {
    REQUIRE_TMUX();
    Viewer v(Page("nav.html"));
    ASSERT_TRUE(v.Shows("Enter your choice:")) << v.term.Screen();
    v.Answer("2");
    ASSERT_TRUE(v.Shows("Second page. <Onward>")) << v.term.Screen();
    v.Answer("1");
    ASSERT_TRUE(v.Shows("Third page.")) << v.term.Screen();
    v.Answer("b");
    ASSERT_TRUE(v.Shows("Second page.")) << v.term.Screen();
    v.Answer("C"); // either case
    ASSERT_TRUE(v.Shows("Start page.")) << v.term.Screen();
    // The history is empty again: back stays where it is.
    v.Answer("b");
    v.Answer("1");
    ASSERT_TRUE(v.Shows("Later.")) << v.term.Screen();
    v.Answer("b");
    EXPECT_TRUE(v.Shows("Start page.")) << v.term.Screen();
    v.Answer("e");
    EXPECT_TRUE(v.Shows("[exited 0]")) << v.term.Screen();
}

TEST(DphelpTerminal, ASecondFileAndBack) {
    REQUIRE_TMUX();
    Viewer v(Page("nav.html"));
    ASSERT_TRUE(v.Shows("Enter your choice:")) << v.term.Screen();
    v.Answer("3");
    ASSERT_TRUE(v.Shows("This is the other file.")) << v.term.Screen();
    EXPECT_TRUE(v.Shows(" 1) Home again")) << v.term.Screen();
    v.Answer("1");
    ASSERT_TRUE(v.Shows("Start page.")) << v.term.Screen();
    EXPECT_TRUE(v.Shows(" 3) Another file")) << v.term.Screen();
    v.Answer("e");
    EXPECT_TRUE(v.Shows("[exited 0]")) << v.term.Screen();
}

TEST(DphelpTerminal, AWebLinkIsReportedAndThePageStays) {
    REQUIRE_TMUX();
    Viewer v(Page("nav.html"));
    ASSERT_TRUE(v.Shows("Enter your choice:")) << v.term.Screen();
    v.Answer("4");
    ASSERT_TRUE(v.Shows("Error in reading file http://example.com/")) << v.term.Screen();
    v.Answer("");
    ASSERT_TRUE(v.Shows(" 4) The web")) << v.term.Screen();
    v.Answer("e");
    EXPECT_TRUE(v.Shows("[exited 0]")) << v.term.Screen();
}

TEST(DphelpTerminal, OpensAtTheAnchor) {
    REQUIRE_TMUX();
    Viewer v(Page("nav.html") + "#third");
    ASSERT_TRUE(v.Shows("Third page.")) << v.term.Screen();
    v.Answer("b");
    ASSERT_TRUE(v.Shows("Start page.")) << v.term.Screen();
    v.Answer("e");
    EXPECT_TRUE(v.Shows("[exited 0]")) << v.term.Screen();
}

// ---- The front end on a terminal: pages fit the screen ---------------------

// Help pages made for these tests: a 300-line page, one 500-character
// word, a table wider than any terminal here.
// The opening of a help file, written so that this source file itself is
// not one (a test above shows it as a file that is no help file).
std::string Open() {
    return std::string("<") + "html><body>";
}

struct Pages : testsupport::TempDir {
    Pages() : TempDir("dphelp-pages") {
        std::string lines;
        for (int i = 1; i <= 300; ++i)
            lines += "Line " + std::to_string(i) + " of the long page<br>\n";
        testsupport::WriteFile(path + "/long.html",
                               Open() + "\n" + lines + "<a href=\"#x\">A link</a></body></html>\n");
        testsupport::WriteFile(path + "/word.html",
                               Open() + "<p>" + std::string(500, 'w') +
                                   "</p><p>after the word</p></body></html>\n");
        std::string row = "<tr>";
        for (int i = 0; i < 6; ++i)
            row += "<td>cell" + std::to_string(i) + " with some words</td>";
        row += "</tr>";
        testsupport::WriteFile(path + "/table.html",
                               Open() + "<p>A wide table follows.</p><table border=1>" + row + row +
                                   "</table><p>after the table</p></body></html>\n");
    }
};

std::string ShowCommand(const std::string &file) {
    return "LANG=C.UTF-8 " + e2e::ShellQuote(DPHELP) + " " + e2e::ShellQuote(file);
}

std::vector<std::string> ScreenLines(const std::string &screen) {
    return testsupport::Lines(screen);
}

// No row of the screen is wider than the terminal (the terminal would have
// broken it itself, in the middle of a word).
void ExpectRowsFit(const std::string &screen, size_t width) {
    for (const std::string &line : ScreenLines(screen)) {
        size_t chars = 0;
        for (unsigned char c : line)
            if ((c & 0xC0) != 0x80) ++chars;
        EXPECT_LE(chars, width) << line;
    }
}

struct Size {
    int width, height;
};

class DphelpOnATerminal : public ::testing::TestWithParam<Size> {};

// The long page a screenful at a time: the first screenful shows its top
// and "--More--", Space shows the next, 'q' goes on to the links.
TEST_P(DphelpOnATerminal, ALongPageIsShownAScreenfulAtATime) {
    REQUIRE_TMUX();
    Size size = GetParam();
    Pages pages;
    e2e::Terminal term(ShowCommand(pages.path + "/long.html"), size.width, size.height);
    ASSERT_TRUE(term.WaitFor("--More--")) << term.Screen();
    std::string first = term.Screen();
    EXPECT_NE(first.find("Line 1 of the long page"), std::string::npos) << first;
    EXPECT_EQ(first.find("Enter your choice"), std::string::npos) << first;
    int rows = static_cast<int>(ScreenLines(first).size());
    EXPECT_LE(rows, size.height);
    term.Press("Space");
    std::string next = "Line " + std::to_string(size.height + 1) + " of";
    ASSERT_TRUE(term.WaitFor(next)) << term.Screen();
    EXPECT_TRUE(term.WaitFor("--More--")) << term.Screen();
    term.Press("Enter");
    ASSERT_TRUE(term.WaitFor("Line " + std::to_string(2 * size.height) + " of")) << term.Screen();
    term.Type("q");
    ASSERT_TRUE(term.WaitFor("Enter your choice")) << term.Screen();
    std::string menu = term.Screen();
    EXPECT_NE(menu.find(" 1) A link"), std::string::npos) << menu;
    EXPECT_EQ(menu.find("Line 300 "), std::string::npos) << "q skipped the rest: " << menu;
    ExpectRowsFit(menu, static_cast<size_t>(size.width));
    term.Type("e");
    term.Press("Enter");
    EXPECT_TRUE(term.WaitFor("[exited 0]")) << term.Screen();
}

TEST_P(DphelpOnATerminal, AWordWiderThanTheScreenIsCutAndTheRestFollows) {
    REQUIRE_TMUX();
    Size size = GetParam();
    Pages pages;
    e2e::Terminal term(ShowCommand(pages.path + "/word.html"), size.width, size.height);
    ASSERT_TRUE(term.WaitFor("www")) << term.Screen();
    std::string seen;
    for (int i = 0; i < 10 && term.Screen().find("Enter your choice") == std::string::npos; ++i) {
        if (term.Screen().find("--More--") != std::string::npos) term.Press("Space");
        usleep(200 * 1000);
    }
    ASSERT_TRUE(term.WaitFor("Enter your choice")) << term.Screen();
    std::string screen = term.Screen();
    ExpectRowsFit(screen, static_cast<size_t>(size.width));
    EXPECT_NE(screen.find(std::string(static_cast<size_t>(size.width), 'w')), std::string::npos);
    EXPECT_NE(screen.find("after the word"), std::string::npos) << screen;
}

TEST_P(DphelpOnATerminal, TableRowsAreCutAtTheEdgeNotWrapped) {
    REQUIRE_TMUX();
    Size size = GetParam();
    Pages pages;
    e2e::Terminal term(ShowCommand(pages.path + "/table.html"), size.width, size.height);
    ASSERT_TRUE(term.WaitFor("|cell0 with some words|")) << term.Screen();
    std::string screen = term.Screen();
    ExpectRowsFit(screen, static_cast<size_t>(size.width));
    std::string row = "|cell0 with some words|cell1 with some words|cell2 with some words|"
                      "cell3 with some words|";
    for (const std::string &line : ScreenLines(screen)) {
        if (line.rfind("|cell0", 0) != 0) continue;
        EXPECT_EQ(line, row.substr(0, static_cast<size_t>(size.width))) << screen;
    }
    EXPECT_EQ(screen.find("\ncell"), std::string::npos) << "a row was wrapped: " << screen;
}

// The help of dpqsettings: its long lines are broken between words.
TEST_P(DphelpOnATerminal, TheSettingsHelpIsBrokenBetweenWords) {
    REQUIRE_TMUX();
    Size size = GetParam();
    e2e::Terminal term(ShowCommand(DPQSETTINGS_HELP), size.width, size.height);
    std::string all;
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(term.WaitFor("--More--", 3000) || term.WaitFor("Enter your choice", 100))
            << term.Screen();
        std::string screen = term.Screen();
        ExpectRowsFit(screen, static_cast<size_t>(size.width));
        all += screen;
        if (screen.find("Enter your choice") != std::string::npos) break;
        term.Press("Space");
        usleep(150 * 1000);
    }
    EXPECT_NE(all.find("The settings of one print queue"), std::string::npos) << all;
    for (const std::string &line : ScreenLines(all))
        EXPECT_TRUE(line.empty() || line.back() != ' ') << line;
}

INSTANTIATE_TEST_SUITE_P(Sizes, DphelpOnATerminal, ::testing::Values(Size{80, 24}, Size{40, 12}),
                         [](const ::testing::TestParamInfo<Size> &p) {
                             return std::to_string(p.param.width) + "x" +
                                    std::to_string(p.param.height);
                         });

TEST(DphelpOnATerminalResized, TheNextScreenfulFillsTheNewSize) {
    REQUIRE_TMUX();
    Pages pages;
    e2e::Terminal term(ShowCommand(pages.path + "/long.html"), 40, 12);
    ASSERT_TRUE(term.WaitFor("--More--")) << term.Screen();
    EXPECT_EQ(term.Screen().find("Line 8 of"), std::string::npos) << term.Screen();
    term.Resize(60, 20);
    usleep(300 * 1000);
    term.Press("Space");
    // 19 rows of the next screenful above its "--More--".
    ASSERT_TRUE(term.WaitFor("Line 26 of the long page")) << term.Screen();
    EXPECT_EQ(term.Screen().find("Line 27 of"), std::string::npos) << term.Screen();
    term.Resize(40, 12);
    usleep(300 * 1000);
    term.Press("Space");
    ASSERT_TRUE(term.WaitFor("Line 37 of the long page")) << term.Screen();
    EXPECT_EQ(term.Screen().find("Line 38 of"), std::string::npos) << term.Screen();
}

// Through a pipe nothing is paged or wrapped: the page text goes out whole.
TEST(Dphelp, WithoutATerminalNothingIsPagedOrWrapped) {
    Pages pages;
    for (const char *page : {"long.html", "word.html", "table.html"}) {
        SCOPED_TRACE(page);
        Result dump = RunTool({DPHELP, "--dump", pages.path + "/" + page});
        Result shown = testsupport::RunProgram({DPHELP, pages.path + "/" + page}, "",
                                               {"LANG=C.UTF-8"}, "e\n", testsupport::Stderr::Apart);
        EXPECT_EQ(shown.status, 0) << shown.err;
        EXPECT_NE(shown.out.find(dump.out), std::string::npos) << shown.out;
        EXPECT_EQ(shown.out.find("--More--"), std::string::npos);
    }
}

} // namespace
