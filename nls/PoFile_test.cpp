// Tests of the PO reader of the catalog sources.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PoFile.h"

namespace {

std::vector<PoEntry> Parse(const std::string &text, std::string *err = nullptr) {
    std::vector<PoEntry> entries;
    std::string e;
    bool ok = PoParse(text.data(), text.size(), entries, e);
    if (err != nullptr) *err = ok ? "" : e;
    return entries;
}

} // namespace

TEST(PoFile, ReadsEntriesWithContextFlagsAndContinuations) {
    const std::string po = "# translator comment\n"
                           "msgid \"\"\n"
                           "msgstr \"\"\n"
                           "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
                           "\n"
                           "#. for the programmer\n"
                           "#, fuzzy, c-format\n"
                           "msgctxt \"25_1003\"\n"
                           "msgid \"between %i \"\n"
                           "\"to %i.\"\n"
                           "msgstr \"zwischen %i und %i.\"\n"
                           "\n"
                           "msgctxt \"25_1000\"\r\n"
                           "msgid \"Tab\\there \\\"quoted\\\" \\\\ \\x41\\101\\n\"\r\n"
                           "msgstr \"\"\r\n"
                           "#~ msgctxt \"old\"\n"
                           "#~ msgid \"gone\"\n"
                           "#, no-c-format\n"
                           "msgctxt \"25_7\"\n"
                           "msgid \"100%\"\n"
                           "msgstr \"100 %\"";
    std::string err;
    std::vector<PoEntry> e = Parse(po, &err);
    ASSERT_EQ(err, "");
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].Id, "");
    EXPECT_EQ(e[0].Str, "Content-Type: text/plain; charset=UTF-8\n");
    EXPECT_EQ(e[1].Context, "25_1003");
    EXPECT_EQ(e[1].Id, "between %i to %i.");
    EXPECT_EQ(e[1].Str, "zwischen %i und %i.");
    EXPECT_TRUE(e[1].Fuzzy);
    EXPECT_TRUE(e[1].CFormat);
    EXPECT_EQ(e[1].Line, 8);
    EXPECT_EQ(e[2].Context, "25_1000");
    EXPECT_EQ(e[2].Id, "Tab\there \"quoted\" \\ AA\n");
    EXPECT_EQ(e[2].Str, "");
    EXPECT_FALSE(e[2].Fuzzy);
    EXPECT_FALSE(e[2].CFormat);
    EXPECT_EQ(e[3].Context, "25_7");
    EXPECT_EQ(e[3].Str, "100 %");
    EXPECT_FALSE(e[3].CFormat);
}

TEST(PoFile, RefusesWhatIsNotCatalogSyntax) {
    struct Case {
        const char *name;
        const char *text;
        const char *err;
    } cases[] = {
        {"msgid without msgstr", "msgid \"a\"\n\nmsgid \"b\"\nmsgstr \"\"\n",
         "line 3: msgid without msgstr"},
        {"msgstr first", "msgstr \"a\"\n", "line 1: msgstr without msgid"},
        {"two msgstr", "msgid \"a\"\nmsgstr \"b\"\nmsgstr \"c\"\n",
         "line 3: a second msgstr in one entry"},
        {"two msgid", "msgid \"a\"\nmsgid \"b\"\n", "line 2: msgid without msgstr"},
        {"context inside an entry", "msgid \"a\"\nmsgctxt \"k\"\n",
         "line 2: msgctxt inside an entry"},
        {"plural", "msgid \"a\"\nmsgid_plural \"as\"\n",
         "line 2: plural forms are not used in this catalog"},
        {"unknown keyword", "msgfoo \"a\"\n", "line 1: unknown keyword"},
        {"unquoted", "msgid a\n", "line 1: expected a quoted string"},
        {"open quote", "msgid \"a\n", "line 1: expected a quoted string"},
        {"inner quote", "msgid \"a\"b\"\n", "line 1: unescaped quote inside a string"},
        {"bad escape", "msgid \"\\q\"\n", "line 1: unknown escape sequence"},
        {"trailing backslash", "msgid \"a\\\"\n", "line 1: backslash at the end of a string"},
        {"hex without digits", "msgid \"\\xg\"\n", "line 1: \\x without hexadecimal digits"},
        {"NUL", "msgid \"a\\0b\"\n", "line 1: a NUL inside a string"},
        {"string outside an entry", "\"loose\"\n", "line 1: a string outside an entry"},
    };
    for (const Case &c : cases) {
        std::string err;
        Parse(c.text, &err);
        EXPECT_EQ(err, c.err) << c.name;
    }
}

// Catalog texts reach the terminal as they stand: a message may hold no
// control character but newline and tab, whether escaped or written raw, in
// its first string or a continuation; the line named is where it stands.
TEST(PoFile, RefusesControlCharactersInMessages) {
    const std::string entry = "msgctxt \"25_1\"\nmsgid \"Name\"\n";
    const char *const why = "(only newline and tab may stand in one)";
    struct Case {
        const char *name;
        std::string text;
        const char *err; // empty: accepted
    } cases[] = {
        {"newline and tab", entry + "msgstr \"a\\tb\\n\"\n", ""},
        {"UTF-8 text", entry + "msgstr \"N\xc3\xa1zev \xe2\x82\xac \xf0\x9f\x96\xa8\"\n", ""},
        {"ESC escaped", entry + "msgstr \"\\x1b[2J\"\n", "line 3: control character 0x1B"},
        {"ESC octal", entry + "msgstr \"\\033]52;c;eA==\\a\"\n", "line 3: control character 0x1B"},
        {"ESC raw", entry + "msgstr \"a\x1b[31m\"\n", "line 3: control character 0x1B"},
        {"bell", entry + "msgstr \"\\a\"\n", "line 3: control character 0x07"},
        {"carriage return", entry + "msgstr \"a\\rb\"\n", "line 3: control character 0x0D"},
        {"backspace", entry + "msgstr \"a\\bb\"\n", "line 3: control character 0x08"},
        {"DEL", entry + "msgstr \"a\\x7f\"\n", "line 3: control character 0x7F"},
        {"C1 CSI as UTF-8",
         entry + "msgstr \"a\xc2\x9b"
                 "2J\"\n",
         "line 3: control character 0x9B"},
        {"C1 CSI as a bare byte",
         entry + "msgstr \"a\\x9b"
                 "2J\"\n",
         "line 3: control character 0x9B"},
        {"C1 split over two strings", entry + "msgstr \"a\\xc2\"\n\"\\x9b\"\n",
         "line 4: control character 0x9B"},
        {"in a continuation", entry + "msgstr \"fine\"\n\"\\x1b\"\n",
         "line 4: control character 0x1B"},
        {"in the English text", "msgctxt \"25_1\"\nmsgid \"a\\x1b\"\nmsgstr \"\"\n",
         "line 2: control character 0x1B"},
        {"in the key", "msgctxt \"25_\\x1b\"\nmsgid \"a\"\nmsgstr \"\"\n",
         "line 1: control character 0x1B"},
    };
    for (const Case &c : cases) {
        std::string err;
        Parse(c.text, &err);
        EXPECT_EQ(err, *c.err ? std::string(c.err) + " in a message " + why : "") << c.name;
    }
}

TEST(PoFile, EmptyAndCommentOnlyTextsHoldNoEntries) {
    for (const char *text : {"", "\n\n", "# only\n#, fuzzy\n"}) {
        std::string err;
        EXPECT_TRUE(Parse(text, &err).empty()) << text;
        EXPECT_EQ(err, "") << text;
    }
}

TEST(PoFile, DirectivesNameWhatIsReadFromTheArguments) {
    using V = std::vector<std::string>;
    struct Case {
        const char *format;
        V expected;
    } cases[] = {
        {"no directives", {}},
        {"100%% sure", {}},
        {"%s and %d", {"s", "d"}},
        {"%-10.3f|%+05i|% x|%#o", {"f", "i", "x", "o"}},
        {"%Lg %ld %lld %hhu %zu", {"Lg", "ld", "lld", "hhu", "zu"}},
        {"%*d %.*s", {"*d", "*s"}},
        {"%2$s %1$s", {"2$s", "1$s"}},
        {"%c%%%c", {"c", "c"}},
        {"cut %", {"?"}},
        {"cut %l", {"?"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(PoDirectives(c.format), c.expected) << c.format;
    // Flags and widths do not change what a translation reads.
    EXPECT_EQ(PoDirectives("%5d"), PoDirectives("%-d"));
    EXPECT_NE(PoDirectives("%d %s"), PoDirectives("%s %d"));
}
