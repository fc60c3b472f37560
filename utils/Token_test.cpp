// Tests of the tokenizer, the keyword-list lookups and the line reader.

#include "utils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The tokens of one scan with GetToken, each with the delimiter that ended it.
std::vector<std::pair<std::string, char>> ScanAll(const char *text, const char *delims) {
    std::vector<std::pair<std::string, char>> out;
    for (char *t = GetToken(text, delims); t != nullptr; t = GetToken(nullptr, delims))
        out.emplace_back(t, chTokenDel);
    return out;
}

std::vector<std::string> Tokens(const char *text, const char *delims) {
    std::vector<std::string> out;
    for (auto &[tok, del] : ScanAll(text, delims))
        out.push_back(tok);
    return out;
}

} // namespace

// ---------------------------------------------------------------------------
// Keyword lists
// ---------------------------------------------------------------------------

struct LookupCase {
    const char *word;
    const char *list;
    int expected;
};

TEST(FindToken, GivesTheNumberOfTheFirstEqualItem) {
    const LookupCase cases[] = {
        {"b", ",a,b,c,", 2},
        {"a", ",a,b,c,", 1},
        {"c", ",a,b,c,", 3},
        {"d", ",a,b,c,", 0},
        {"c", ",a,b,c", 3},
        {"a", ",a", 1},      // no trailing delimiter
        {"B", ",a,b,c,", 0}, // letter case counts
        {"", ",a,,b,", 2},
        {"", ",a,b,", 3}, // the empty item; the piece behind the last delimiter
        {"", ",a,b", 0},
        {"a,b", ",a,b,c,", 1}, // a word holding the delimiter matches a run of items
        {"ye", ",y,yes,n,no,", 0},
        {"yes", ",y,yes,n,no,", 2},
        {"y", ",y,yes,n,no,", 1},
        {"n", ",y,yes,n,no,", 3},
        {"no", ",y,yes,n,no,", 4},
        {"install", ",install,-v", 1},
        {"-v", ",install,-v", 2},
        {"-", ",install,-v", 0},
        {".", ";.;..;", 1},
        {"..", ";.;..;", 2},
        {"...", ";.;..;", 0},
        {"lpd", " . .. lpd lpc ", 3},
        {"lp", " . .. lpd lpc ", 0}, // a blank list
        {"x", ",x,x,", 1},           // the first of equal items
        {"a", "", 0},
        {"", "", 0},
        {"a", "a", 0},
        {"", "a", 1}, // 'a' is the delimiter: the only item is empty
    };
    for (const auto &c : cases)
        EXPECT_EQ(FindToken(c.word, c.list), c.expected) << c.word << " in " << c.list;
}

TEST(FindToken, NullArgumentsGiveZero) {
    EXPECT_EQ(FindToken(nullptr, ",a,"), 0);
    EXPECT_EQ(FindToken("a", nullptr), 0);
    EXPECT_EQ(FindTokenC(nullptr, ",a,"), 0);
    EXPECT_EQ(FindTokenC("a", nullptr), 0);
    EXPECT_EQ(FindTokenWithDelim(nullptr, "a", ','), 0);
    EXPECT_EQ(FindTokenWithDelim(",a,", nullptr, ','), 0);
}

TEST(FindToken, WordsUpToTheProbeLimitAreFoundLongerOnesAreRefused) {
    for (size_t len : {100u, 508u, 509u, 510u, 600u, 5000u}) {
        std::string word(len, 'w');
        std::string list = ",a," + word + ",b,";
        int expected = len <= 509 ? 2 : 0;
        EXPECT_EQ(FindToken(word.c_str(), list.c_str()), expected) << len;
        EXPECT_EQ(FindTokenC(word.c_str(), list.c_str()), expected) << len;
        // FindTokenWithDelim has no such limit.
        EXPECT_EQ(FindTokenWithDelim(list.c_str(), word.c_str(), ','), 2) << len;
    }
}

TEST(FindTokenC, IgnoresLetterCase) {
    const LookupCase cases[] = {
        {"B", ",a,b,c,", 2},       {"b", ",A,B,C,", 2},         {"YES", ",y,yes,n,no,", 2},
        {"Ye", ",y,yes,n,no,", 0}, {"C", ",a,b,c", 3},          {"", ",a,,b,", 2},
        {"", ",a,b,", 3},          {"d", ",a,b,c,", 0},         {"A,B", ",a,b,c,", 1},
        {"..", ";.;..;", 2},       {"abc", ",ab,abcd,abc,", 3}, // prefixes and extensions do not
                                                                // match
    };
    for (const auto &c : cases)
        EXPECT_EQ(FindTokenC(c.word, c.list), c.expected) << c.word << " in " << c.list;
}

TEST(FindTokenWithDelim, TakesTheListFirstAndAnExplicitDelimiter) {
    struct Case {
        const char *list;
        const char *word;
        char delim;
        int expected;
    };
    const Case cases[] = {
        {",a,b,c,", "a", ',', 1},
        {"a,b,c", "a", ',', 1},
        {"a,b,c", "c", ',', 3},
        {",a,b,c,", "c", ',', 3},
        {",a,b,c,", "", ',', 4}, // the piece behind the last delimiter
        {"a,,b", "", ',', 2},
        {"a,b", "", ',', 0},
        {"a;b", "b", ';', 2},
        {"a;b", "a;b", ',', 1}, // the delimiter is not in the list: one item
        {"ab,a", "a", ',', 2},
        {"a,ab", "ab", ',', 2},
        {"a,ab", "b", ',', 0},
        {"", "", ',', 1},
        {"", "a", ',', 0},
        {"a,b", "a,b", '\0', 1}, // no delimiter at all: the whole list is the item
    };
    for (const auto &c : cases)
        EXPECT_EQ(FindTokenWithDelim(c.list, c.word, c.delim), c.expected)
            << c.word << " in " << c.list;
}

// The three lookups are written differently; for words without the delimiter
// they must agree on every list, empty items and missing delimiters included.
TEST(FindToken, TheThreeLookupsAgreeOnEveryShortList) {
    const char alphabet[] = {'a', 'b', ','};
    const char *words[] = {"", "a", "b", "aa", "ab", "ba", "bb"};
    for (int len = 0; len <= 6; ++len) {
        int total = 1;
        for (int i = 0; i < len; ++i)
            total *= 3;
        for (int code = 0; code < total; ++code) {
            std::string body;
            for (int i = 0, k = code; i < len; ++i, k /= 3)
                body += alphabet[k % 3];
            std::string list = "," + body;
            for (const char *w : words) {
                int exact = FindToken(w, list.c_str());
                EXPECT_EQ(FindTokenWithDelim(list.c_str(), w, ','), exact) << w << " in " << list;
                EXPECT_EQ(FindTokenC(w, list.c_str()), exact) << w << " in " << list;
                std::string upper = w;
                for (char &ch : upper)
                    ch = static_cast<char>(toupper(ch));
                EXPECT_EQ(FindTokenC(upper.c_str(), list.c_str()), exact)
                    << upper << " in " << list;
            }
        }
    }
}

TEST(SortTokens, SortsItemsInPlace) {
    struct Case {
        const char *list;
        char delim;
        int ignoreCase;
        const char *expected;
    };
    const Case cases[] = {
        {",b,C,a,", ',', 0, ",C,a,b,"}, // byte order
        {",b,C,a,", ',', 1, ",a,b,C,"},
        {",ab,a,", ',', 0, ",a,ab,"},   // an item sorts before its extensions
        {",B,b,A,", ',', 1, ",A,B,b,"}, // equal items keep their order
        {",b,B,A,", ',', 1, ",A,b,B,"},
        {",a,b", ',', 0, ",a,b"},
        {",b,a", ',', 0, ",a,b"}, // never longer than the original list
        {",c,a,b", ',', 0, ",a,b,c"},
        {"b,a,", ',', 0, "a,b,"},
        {",,c,b,", ',', 0, ",,b,c,"},   // leading delimiters stay
        {",%s,%d,", ',', 0, ",%d,%s,"}, // no formatting of the items
        {" lpd lpc . ", ' ', 0, " . lpc lpd "},
        {",only,", ',', 0, ",only,"},
        {",", ',', 0, ","},
        {"", ',', 0, ""},
        {"x", ',', 0, "x"},
    };
    for (const auto &c : cases) {
        // An allocation of the exact size: a write past the list is a fault
        // that the sanitizer build reports.
        size_t n = strlen(c.list) + 1;
        std::unique_ptr<char[]> buf(new char[n]);
        memcpy(buf.get(), c.list, n);
        SortTokens(buf.get(), c.delim, c.ignoreCase);
        EXPECT_STREQ(buf.get(), c.expected) << c.list << " flag " << c.ignoreCase;
    }
    SortTokens(nullptr, ',', 0); // nothing happens
}

TEST(GetToken, SkipsRunsOfDelimitersAndRecordsTheEndingOne) {
    char *t = GetToken("  one,two ", " ,");
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "one");
    EXPECT_EQ(t, GetTokenBuf);
    EXPECT_EQ(chTokenDel, ',');
    t = GetToken(nullptr, " ,");
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "two");
    EXPECT_EQ(chTokenDel, ' ');
    EXPECT_EQ(GetToken(nullptr, " ,"), nullptr);
    EXPECT_EQ(chTokenDel, 0);
    // The scan is over: further calls keep returning null.
    EXPECT_EQ(GetToken(nullptr, " ,"), nullptr);
    EXPECT_EQ(GetToken(nullptr, " ,"), nullptr);
}

TEST(GetToken, CutsTextsIntoTokens) {
    struct Case {
        const char *text;
        const char *delims;
        std::vector<std::string> tokens;
    };
    const Case cases[] = {
        {"a\\,b,c", ",", {"a,b", "c"}}, // an escaped delimiter stays in the token
        {"x\\ty", " ", {"x\ty"}},       // \t is a tab
        {"\\n\\r\\t", " ", {"\n\r\t"}}, // the three letter escapes
        {"a\\\\b", "\\", {"a\\b"}},     // two backslashes give one
        {"\\q\\ \\,", " ,", {"q ,"}},   // any other character stands for itself
        {"ab\\", ",", {"ab"}},          // a lone backslash at the end is dropped
        {"\\", ",", {}},
        {"a,\\", ",", {"a"}},
        {"", ",", {}},
        {",,,", ",", {}},
        {"abc", "", {"abc"}}, // no delimiters: the whole text
        {"a b\tc\nd", " \t\n", {"a", "b", "c", "d"}},
        {"key=value;x", "=;", {"key", "value", "x"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Tokens(c.text, c.delims), c.tokens) << c.text;
}

TEST(GetToken, LongTokensAreCutAtTheBufferAndTheScanStaysInStep) {
    for (size_t len : {253u, 254u, 255u, 256u, 1000u}) {
        std::string text = std::string(len, 'x') + " next";
        auto toks = Tokens(text.c_str(), " ");
        ASSERT_EQ(toks.size(), 2u) << len;
        EXPECT_EQ(toks[0], std::string(len < 254 ? len : 254, 'x')) << len;
        EXPECT_EQ(toks[1], "next");
    }
    // Escapes count like any character at the limit.
    std::string esc;
    for (int i = 0; i < 300; ++i)
        esc += "\\t";
    auto toks = Tokens((esc + ",z").c_str(), ",");
    ASSERT_EQ(toks.size(), 2u);
    EXPECT_EQ(toks[0], std::string(254, '\t'));
    EXPECT_EQ(toks[1], "z");
}

TEST(GetToken, SzTokenInPointsBehindTheEndingDelimiter) {
    const char *text = "ab cd";
    ASSERT_NE(GetToken(text, " "), nullptr);
    EXPECT_EQ(szTokenIn, text + 3);
    EXPECT_EQ(GetTokenBufInput(), text + 3);
    ASSERT_NE(GetToken(nullptr, " "), nullptr);
    EXPECT_EQ(szTokenIn, text + 5);
}

TEST(GetToken, LineModeRefusesATokenEndedByANewline) {
    const char *text = "a b\nc";
    ASSERT_STREQ(GetToken(text, " \n"), "a");
    char *before = szTokenIn;
    EXPECT_EQ(GetToken(TOKEN_LINE_MODE, " \n"), nullptr); // b ended at the newline
    EXPECT_EQ(chTokenDel, '\n');
    EXPECT_EQ(szTokenIn, before);
    EXPECT_EQ(GetTokenBufInput(), text + 4); // the cursor moved past the newline
    EXPECT_STREQ(GetToken(nullptr, " \n"), "c");
    EXPECT_EQ(GetToken(TOKEN_LINE_MODE, " \n"), nullptr);
    EXPECT_EQ(chTokenDel, 0);
}

TEST(GetToken, LineModeReturnsTokensThatAreNotEndedByANewline) {
    ASSERT_STREQ(GetToken("a b c\nd", " \n"), "a");
    EXPECT_STREQ(GetToken(TOKEN_LINE_MODE, " \n"), "b");
    EXPECT_EQ(GetToken(TOKEN_LINE_MODE, " \n"), nullptr);
    EXPECT_STREQ(GetToken(TOKEN_LINE_MODE, " \n"), "d"); // ends at the end of the text
    // A newline met while skipping delimiters does not refuse.
    ASSERT_STREQ(GetToken("a \n\n b", " \n"), "a");
    EXPECT_STREQ(GetToken(TOKEN_LINE_MODE, " \n"), "b");
}

TEST(GetToken, SplitsItsOwnBufferFurther) {
    ASSERT_STREQ(GetToken("  key=value  x", " "), "key=value");
    EXPECT_STREQ(GetToken(GetTokenBuf, "="), "key");
    EXPECT_STREQ(GetToken(nullptr, "="), "value");
    EXPECT_EQ(GetToken(nullptr, "="), nullptr);
    ASSERT_STREQ(GetToken(",,a\\\\tb,c", ","), "a\\tb"); // an escaped backslash, then t
    EXPECT_STREQ(GetToken(GetTokenBuf, ","), "a\tb");    // now the escape: a tab
    EXPECT_EQ(GetTokenCount(GetTokenBuf, ","), 1);
}

TEST(GetToken, SetTokenBufPreparesAScan) {
    const char *text = "p q";
    SetTokenBuf(text);
    EXPECT_EQ(GetTokenBufInput(), text);
    EXPECT_EQ(szTokenIn, text);
    EXPECT_STREQ(GetToken(nullptr, " "), "p");
    EXPECT_STREQ(GetToken(nullptr, " "), "q");
    EXPECT_EQ(GetToken(nullptr, " "), nullptr);
}

TEST(GetToken, WithoutAnyScanReturnsNull) {
    // Earlier tests have scanned: run the checks in a freshly started process.
    std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            bool ok = GetToken(nullptr, " ") == nullptr && GetTokenParse(nullptr, " ") == nullptr &&
                      GetToken(TOKEN_LINE_MODE, " ") == nullptr &&
                      GetTokenN(nullptr, " ", 2) == nullptr && GetTokenCount(nullptr, " ") == 0 &&
                      GetTokenBufInput() == nullptr && szTokenIn == nullptr &&
                      GetTokenBuf[0] == '\0' && chTokenDel == 0;
            _exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, style);
}

// ---------------------------------------------------------------------------
// GetTokenParse
// ---------------------------------------------------------------------------

TEST(GetTokenParse, CutsTheTextInPlace) {
    char text[] = "  one,two ";
    char *t = GetTokenParse(text, " ,");
    EXPECT_EQ(t, text + 2);
    EXPECT_STREQ(t, "one");
    EXPECT_EQ(chTokenDel, ',');
    EXPECT_EQ(text[0], '\0'); // skipped delimiters are overwritten too
    EXPECT_EQ(text[1], '\0');
    EXPECT_EQ(szTokenIn, text + 6);
    t = GetTokenParse(nullptr, " ,");
    EXPECT_EQ(t, text + 6);
    EXPECT_STREQ(t, "two");
    EXPECT_EQ(chTokenDel, ' ');
    EXPECT_EQ(GetTokenParse(nullptr, " ,"), nullptr);
    EXPECT_EQ(chTokenDel, 0);
}

TEST(GetTokenParse, LeavesEscapesUntranslated) {
    char text[] = "x\\ty";
    EXPECT_STREQ(GetTokenParse(text, " "), "x\\ty");
    char text2[] = "a\\,b,c";
    EXPECT_STREQ(GetTokenParse(text2, ","), "a\\,b");
    EXPECT_STREQ(GetTokenParse(nullptr, ","), "c");
    char text3[] = "ab\\"; // a lone backslash at the end stops the scan
    EXPECT_STREQ(GetTokenParse(text3, ","), "ab\\");
    EXPECT_EQ(GetTokenParse(nullptr, ","), nullptr);
}

TEST(GetTokenParse, LineMode) {
    char text[] = "a b\nc";
    ASSERT_STREQ(GetTokenParse(text, " \n"), "a");
    char *before = szTokenIn;
    EXPECT_EQ(GetTokenParse(TOKEN_LINE_MODE, " \n"), nullptr);
    EXPECT_EQ(szTokenIn, before);
    EXPECT_STREQ(GetTokenParse(nullptr, " \n"), "c");
}

// ---------------------------------------------------------------------------
// GetTokenD
// ---------------------------------------------------------------------------

TEST(GetTokenD, KeepsItsPositionWithTheCallerAndLeavesTheSharedScanAlone) {
    const char *outer = "o1 o2";
    ASSERT_STREQ(GetToken(outer, " "), "o1");
    char *sharedIn = GetTokenBufInput();
    char *sharedTokenIn = szTokenIn;

    char *cur = nullptr;
    char out[TOKEN_BUF_SIZE];
    std::vector<std::string> inner;
    for (char *t = GetTokenD("x\\,y,,z", ",", &cur, out); t; t = GetTokenD(nullptr, ",", &cur, out))
        inner.emplace_back(t);
    EXPECT_EQ(inner, (std::vector<std::string>{"x,y", "z"}));
    EXPECT_EQ(chTokenDel, 0);

    EXPECT_EQ(GetTokenBufInput(), sharedIn);
    EXPECT_EQ(szTokenIn, sharedTokenIn);
    EXPECT_STREQ(GetTokenBuf, "o1");
    EXPECT_STREQ(GetToken(nullptr, " "), "o2");
}

TEST(GetTokenD, LineModeRefusalLeavesTheCallersCursor) {
    const char *text = "a b\nc";
    char *cur = nullptr;
    char out[TOKEN_BUF_SIZE];
    ASSERT_STREQ(GetTokenD(text, " \n", &cur, out), "a");
    EXPECT_EQ(cur, text + 2);
    EXPECT_EQ(GetTokenD(TOKEN_LINE_MODE, " \n", &cur, out), nullptr);
    EXPECT_EQ(chTokenDel, '\n');
    EXPECT_EQ(cur, text + 2);
    EXPECT_STREQ(GetTokenD(nullptr, " \n", &cur, out), "b");
    EXPECT_STREQ(GetTokenD(nullptr, " \n", &cur, out), "c");
    EXPECT_EQ(GetTokenD(nullptr, " \n", &cur, out), nullptr);
}

TEST(GetTokenD, CutsLongTokensAtTheTokenBufferSize) {
    std::string text = std::string(400, 'k') + ",v";
    char *cur = nullptr;
    char out[TOKEN_BUF_SIZE + 8];
    memset(out, '#', sizeof out);
    ASSERT_NE(GetTokenD(text.c_str(), ",", &cur, out), nullptr);
    EXPECT_EQ(std::string(out), std::string(TOKEN_BUF_SIZE - 1, 'k'));
    EXPECT_EQ(out[TOKEN_BUF_SIZE], '#'); // nothing written behind
    EXPECT_STREQ(GetTokenD(nullptr, ",", &cur, out), "v");
}

TEST(GetTokenD, NullArgumentsDoNotCrash) {
    char out[TOKEN_BUF_SIZE];
    char *cur = nullptr;
    EXPECT_EQ(GetTokenD(nullptr, ",", &cur, out), nullptr);
    EXPECT_EQ(GetTokenD(nullptr, ",", nullptr, out), nullptr);
    EXPECT_EQ(GetTokenD("a", ",", &cur, nullptr), nullptr);
    EXPECT_STREQ(GetTokenD("a,b", ",", nullptr, out), "a"); // no cursor to keep
    EXPECT_STREQ(GetTokenD("a,b", nullptr, &cur, out), "a,b");
}

// ---------------------------------------------------------------------------
// GetTokenN, GetTokenCount, ParseStr
// ---------------------------------------------------------------------------

TEST(GetTokenN, GivesTheNthToken) {
    struct Case {
        int n;
        const char *expected;
    };
    const Case cases[] = {{-5, "x"}, {0, "x"}, {1, "x"}, {2, "y"}, {3, nullptr}, {50, nullptr}};
    for (const auto &c : cases) {
        char *t = GetTokenN(",,x,y", ",", c.n);
        if (c.expected == nullptr)
            EXPECT_EQ(t, nullptr) << c.n;
        else
            EXPECT_STREQ(t, c.expected) << c.n;
    }
    // A null input continues the current scan.
    ASSERT_STREQ(GetToken("a b c d", " "), "a");
    EXPECT_STREQ(GetTokenN(nullptr, " ", 2), "c");
}

TEST(GetTokenCount, CountsWithoutDisturbingTheScan) {
    const char *text = "a b c";
    ASSERT_STREQ(GetToken(text, " "), "a");
    char *in = GetTokenBufInput();
    char *tokenIn = szTokenIn;
    EXPECT_EQ(GetTokenCount("1,2,,3,4", ","), 4);
    EXPECT_EQ(GetTokenBufInput(), in);
    EXPECT_EQ(szTokenIn, tokenIn);
    EXPECT_STREQ(GetTokenBuf, "a");
    EXPECT_EQ(GetTokenCount(nullptr, " "), 2); // the rest of the current scan
    EXPECT_STREQ(GetToken(nullptr, " "), "b");
    EXPECT_STREQ(GetToken(nullptr, " "), "c");
}

TEST(GetTokenCount, CountsTable) {
    struct Case {
        const char *text;
        const char *delims;
        int count;
    };
    const Case cases[] = {
        {"", ",", 0},       {",,,", ",", 0},   {"a", ",", 1},        {"a,b", ",", 2},
        {",a,,b,", ",", 2}, {"a\\,b", ",", 1}, {"a b\nc", " \n", 3}, {"\\", ",", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(GetTokenCount(c.text, c.delims), c.count) << c.text;
}

TEST(ParseStr, StoresPieceStartsAndLeavesTheRest) {
    char text[] = "a  b c d";
    char *parts[3] = {text, text, text};
    EXPECT_EQ(ParseStr(text, " ", parts, 3), 3);
    EXPECT_STREQ(parts[0], "a");
    EXPECT_STREQ(parts[1], "b");
    EXPECT_STREQ(parts[2], "c");
    EXPECT_STREQ(parts[2] + 2, "d"); // untouched behind the third piece
}

TEST(ParseStr, Table) {
    struct Case {
        const char *text;
        const char *delims;
        int size;
        std::vector<std::string> pieces;
    };
    const Case cases[] = {
        {"", " ", 4, {}},
        {"   ", " ", 4, {}},
        {" a,b ,c", " ,", 4, {"a", "b", "c"}},
        {"a\\ b", " ", 4, {"a\\", "b"}}, // no escapes
        {"one", " ", 1, {"one"}},
        {"a b", " ", 1, {"a"}},
        {"a b", "", 4, {"a b"}},
    };
    for (const auto &c : cases) {
        std::vector<char> buf(c.text, c.text + strlen(c.text) + 1);
        std::vector<char *> arr(static_cast<size_t>(c.size), buf.data());
        int n = ParseStr(buf.data(), c.delims, arr.data(), c.size);
        ASSERT_EQ(n, static_cast<int>(c.pieces.size())) << c.text;
        for (int i = 0; i < c.size; ++i) {
            if (i < n)
                EXPECT_EQ(std::string(arr[static_cast<size_t>(i)]),
                          c.pieces[static_cast<size_t>(i)]);
            else
                EXPECT_EQ(arr[static_cast<size_t>(i)], nullptr) << c.text << " entry " << i;
        }
    }
}

TEST(ParseStr, NullOrEmptyArgumentsStoreNothing) {
    char *arr[2] = {reinterpret_cast<char *>(1), reinterpret_cast<char *>(1)};
    EXPECT_EQ(ParseStr(nullptr, " ", arr, 2), 0);
    EXPECT_EQ(arr[0], nullptr);
    EXPECT_EQ(arr[1], nullptr);
    char text[] = "a b";
    EXPECT_EQ(ParseStr(text, " ", arr, 0), 0);
    EXPECT_EQ(ParseStr(text, " ", nullptr, 2), 0);
    EXPECT_STREQ(text, "a b");
}

// ---------------------------------------------------------------------------
// Gets, reading a real pipe or file as standard input in a child process
// ---------------------------------------------------------------------------

namespace {

// Feeds input to standard input through a pipe (or a file) and checks that
// successive Gets calls with the given sizes return the expected lines
// (null for "no line"). Runs in the child of a death test.
struct GetsStep {
    int size;
    const char *expected; // null: Gets returns null
};

[[noreturn]] void CheckGets(const std::string &input, const std::vector<GetsStep> &steps,
                            bool viaFile) {
    int fd = -1;
    if (viaFile) {
        char path[] = "/tmp/tok_gets_XXXXXX";
        fd = mkstemp(path);
        if (fd < 0 || write(fd, input.data(), input.size()) != static_cast<ssize_t>(input.size()))
            _exit(3);
        unlink(path);
        lseek(fd, 0, SEEK_SET);
    } else {
        int p[2];
        if (pipe(p) != 0) _exit(3);
        if (write(p[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) _exit(3);
        close(p[1]);
        fd = p[0];
    }
    if (dup2(fd, 0) < 0) _exit(3);
    clearerr(stdin);
    for (size_t i = 0; i < steps.size(); ++i) {
        std::vector<char> buf(static_cast<size_t>(steps[i].size > 0 ? steps[i].size : 1) + 4, '#');
        char *r = Gets(buf.data(), steps[i].size);
        // The buffer is cleared first: nothing of the old contents is left
        // behind the line.
        if (steps[i].size > 0) {
            size_t size = static_cast<size_t>(steps[i].size);
            for (size_t k = strnlen(buf.data(), size); k < size; ++k)
                if (buf[k] != '\0') _exit(2);
        }
        bool ok = steps[i].expected == nullptr
                      ? r == nullptr
                      : (r == buf.data() && strcmp(r, steps[i].expected) == 0 &&
                         buf[static_cast<size_t>(steps[i].size)] == '#');
        if (!ok) {
            fprintf(stderr, "step %zu: got %s\n", i, r ? r : "(null)");
            _exit(1);
        }
    }
    _exit(0);
}

} // namespace

TEST(Gets, ReadsLinesFromAPipeAndAFile) {
    struct Case {
        const char *name;
        std::string input;
        std::vector<GetsStep> steps;
    };
    const Case cases[] = {
        {"lines", "hello\nworld\n", {{80, "hello"}, {80, "world"}, {80, nullptr}}},
        {"no final newline", "abc", {{80, "abc"}, {80, nullptr}}},
        {"empty line is not the end", "\nx\n", {{80, ""}, {80, "x"}, {80, nullptr}}},
        {"empty input", "", {{80, nullptr}, {80, nullptr}}},
        {"size 1 stores nothing", "ab\n", {{1, ""}, {1, ""}, {80, "ab"}}},
        {"long line in pieces", "abcdefg\nh\n", {{4, "abc"}, {4, "def"}, {4, "g"}, {4, "h"}}},
        {"exact fit leaves the newline", "abc\nd\n", {{4, "abc"}, {4, ""}, {4, "d"}}},
        {"byte 0xFF ends reading",
         std::string("ab\xff"
                     "cd\n"),
         {{80, "ab"}, {80, "cd"}}},
        {"byte 0xFF first",
         std::string("\xff"
                     "x\n"),
         {{80, nullptr}, {80, "x"}}},
        {"carriage return is kept", "a\r\n", {{80, "a\r"}}},
        {"bad sizes", "a\n", {{0, nullptr}, {-3, nullptr}, {80, "a"}}},
    };
    for (const auto &c : cases) {
        for (bool viaFile : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (viaFile ? " (file)" : " (pipe)"));
            EXPECT_EXIT(CheckGets(c.input, c.steps, viaFile), ::testing::ExitedWithCode(0), "");
        }
    }
}

TEST(Gets, NullBufferGivesNull) {
    EXPECT_EQ(Gets(nullptr, 10), nullptr);
}
