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

} // namespace
