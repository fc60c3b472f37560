// Tests of the string store, the path splitters, the searches and the small
// conversions.

#include "utils.h"

#include "MemMgr.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

// Some tests hand the store formats that are built at run time or null on
// purpose.
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"

namespace {

using testsupport::Stored;

// Hands a null format to the printf-style functions without the compiler
// seeing a constant.
const char *volatile g_nullFormat = nullptr;

} // namespace

// ---------------------------------------------------------------------------
// String store
// ---------------------------------------------------------------------------

TEST(SaveStr, FormatsIntoANewText) {
    EXPECT_EQ(Stored(SaveStr("%s-%d", "a", 7)), "a-7");
    EXPECT_EQ(Stored(SaveStr("plain")), "plain");
    EXPECT_EQ(Stored(SaveStr("%s", "100%")), "100%");
    EXPECT_EQ(Stored(SaveStr("%%")), "%");
    EXPECT_EQ(Stored(SaveStr("%s/%s/%s %s", "/tmp/DornaInstall", "pkg", "tool", "/usr/Dorna/dpxx")),
              "/tmp/DornaInstall/pkg/tool /usr/Dorna/dpxx");
    EXPECT_EQ(Stored(SaveStr("%5.1f|%-3c|%03x", 2.54, 'z', 255)), "  2.5|z  |0ff");
    EXPECT_EQ(Stored(SaveStr("%s", "")), "");
}

TEST(SaveStr, LongFormatsAndResultsAreStoredWhole) {
    // Formats on both sides of the 4,096-character steps of the scratch size,
    // and results far larger than the scratch block.
    for (size_t fmtLen : {4095u, 4096u, 5000u, 8191u, 8192u, 20000u}) {
        std::string fmt(fmtLen, 'f');
        fmt += "%s";
        std::string arg(3 * fmtLen, 'a');
        std::string got = Stored(SaveStr(fmt.c_str(), arg.c_str()));
        EXPECT_EQ(got.size(), fmtLen + arg.size()) << fmtLen;
        EXPECT_EQ(got, std::string(fmtLen, 'f') + arg) << fmtLen;
    }
    std::string big(200000, 'b');
    EXPECT_EQ(Stored(SaveStr("<%s>", big.c_str())), "<" + big + ">");
    EXPECT_EQ(Stored(SaveStr("%100000d", 7)), std::string(99999, ' ') + "7");
}

TEST(SaveStr, NullFormats) {
    EXPECT_EQ(SaveStr__(g_nullFormat), nullptr);
    EXPECT_EQ(Stored(SaveStr(g_nullFormat)), "");
    EXPECT_EQ(Stored(SaveStr_(nullptr)), "");
}

TEST(SaveStr, UnderscoreVariants) {
    EXPECT_EQ(Stored(SaveStr__("%s-%d", "a", 7)), "a-7");
    EXPECT_EQ(Stored(SaveStr_("100% %s %d")), "100% %s %d"); // no formatting
    EXPECT_EQ(Stored(SaveStr_("")), "");
    // SaveStr__ formats into a 65,536-byte area; larger results are whole.
    for (size_t len : {65534u, 65535u, 65536u, 65537u, 300000u}) {
        std::string s(len, 'x');
        EXPECT_EQ(Stored(SaveStr__("%s", s.c_str())), s) << len;
    }
    std::string s(100000, 'y');
    EXPECT_EQ(Stored(SaveStr_(s.c_str())), s);
}

#if !defined(__SANITIZE_ADDRESS__)
// Limits the address space to 128 MiB and asks for a 160 MiB text.
[[noreturn]] static void StoreTooMuch() {
    struct rlimit lim = {128L << 20, 128L << 20};
    setrlimit(RLIMIT_AS, &lim);
    char *p = SaveStr("%*d", 160 << 20, 1);
    fprintf(stderr, "returned %p\n", static_cast<void *>(p));
    _exit(0);
}

#endif

TEST(SaveStr, ExhaustedMemoryStopsTheProgram) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot be combined with the address sanitizer";
#else
    EXPECT_EXIT(StoreTooMuch(), ::testing::ExitedWithCode(1),
                ": Unable to allocate memory : "); // the SysError line
#endif
}

// ---------------------------------------------------------------------------
// Path splitters
// ---------------------------------------------------------------------------

struct PathCase {
    const char *in;
    const char *expected; // null: the result is null
};

static void CheckSplitter(char *(*fn)(const char *), const char *name,
                          std::initializer_list<PathCase> cases) {
    for (const auto &c : cases) {
        char *r = fn(c.in);
        if (c.expected == nullptr)
            EXPECT_EQ(r, nullptr) << name << "(" << (c.in ? c.in : "null") << ")";
        else if (r == nullptr)
            ADD_FAILURE() << name << "(" << (c.in ? c.in : "null") << ") is null";
        else
            EXPECT_STREQ(r, c.expected) << name << "(" << (c.in ? c.in : "null") << ")";
    }
}

TEST(StripPath, GivesTheLastComponent) {
    CheckSplitter(StripPath, "StripPath",
                  {{"/usr/lib/x.so", "x.so"},
                   {"/a/b/", "b"},
                   {"/usr/bin/", "bin"},
                   {"x", "x"},
                   {"//a//b//", "b"},
                   {"a/b", "b"},
                   {"/", "/"},
                   {"///", "///"},
                   {"", ""},
                   {nullptr, ""}});
}

TEST(StripFn, GivesTheDirectoryPart) {
    CheckSplitter(StripFn, "StripFn",
                  {{"/usr/lib/x.so", "/usr/lib"},
                   {"/x", "/"},
                   {"/file", "/"},
                   {"x", "."},
                   {"file", "."},
                   {"dir/", "dir"},
                   {"/usr/bin/", "/usr/bin"},
                   {"/", "/"},
                   {"a//b", "a/"},
                   {"", "."},
                   {nullptr, "."}});
}

TEST(StripExt, CutsAtTheFirstDotBehindLeadingDots) {
    CheckSplitter(StripExt, "StripExt",
                  {{"a.tar.gz", "a"},
                   {".profile", ".profile"},
                   {"..a.b", "..a"},
                   {"name", "name"},
                   {"name.", "name"},
                   {"...", "..."},
                   {"dir.d/x", "dir"},
                   {"", ""},
                   {nullptr, ""}});
}

TEST(StripPathExt, GivesTheLastComponentWithoutExtension) {
    CheckSplitter(StripPathExt, "StripPathExt",
                  {{"/tmp/setup.log", "setup"},
                   {"a/b.c.d", "b"},
                   {"/home/u/.profile", ".profile"},
                   {"dir.d/", "dir"},
                   {"plain", "plain"},
                   {"/", nullptr},
                   {"", nullptr},
                   {nullptr, ""}});
}

TEST(StripPathName, PicksTheLastDotPieceBehindTheFirstComponent) {
    CheckSplitter(StripPathName, "StripPathName",
                  {{"name.txt", "name.txt"},
                   {"dir/name.txt", "txt"},
                   {"dir/name", "name"},
                   {"a/b/c", "a"},
                   {"/usr/x.y", "y"},
                   {"/a/b/c", "/a"},
                   {"dir/a..b", "b"},
                   {"dir/", "dir"},
                   {"...", "..."},
                   {".", ""},
                   {"..", ""},
                   {"", ""},
                   {nullptr, ""},
                   // A backslash keeps the dot after it inside the piece.
                   {"dir/a\\.b.c", "c"},
                   {"dir/x\\.y", "x\\.y"},
                   {"dir/x\\", "x\\"}});
}

TEST(StripPathName, LeavesTheSharedTokenizerAlone) {
    ASSERT_STREQ(GetToken("t1 t2", " "), "t1");
    EXPECT_STREQ(StripPathName("dir/name.txt"), "txt");
    EXPECT_STREQ(GetToken(nullptr, " "), "t2");
}

TEST(PathSplitters, EachResultIsOverwrittenByTheNextCallOfTheSameFunction) {
    char *first = StripPath("/a/one");
    EXPECT_STREQ(first, "one");
    char *second = StripPath("/b/two");
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "two");
    // Other splitters have buffers of their own.
    char *dir = StripFn("/c/three");
    EXPECT_STREQ(StripExt("x.y"), "x");
    EXPECT_STREQ(dir, "/c");
    EXPECT_STREQ(second, "two");
}

TEST(PathSplitters, LongPathsAreCutAtTheirBuffers) {
    const std::string longDir = "/" + std::string(300, 'd');
    const std::string longName(300, 'n');

    // The piece is chosen from the whole path, so a long directory does not
    // spoil a short last component.
    EXPECT_STREQ(StripPath((longDir + "/short").c_str()), "short");
    EXPECT_STREQ(StripPathExt((longDir + "/short.ext").c_str()), "short");
    EXPECT_STREQ(StripFn((std::string("/usr") + "/" + longName).c_str()), "/usr");

    // Pieces longer than the buffer are cut at it.
    EXPECT_EQ(std::string(StripPath(("/x/" + longName).c_str())), longName.substr(0, 127));
    EXPECT_EQ(std::string(StripPathExt(("/x/" + longName + ".e").c_str())),
              longName.substr(0, 127));
    EXPECT_EQ(std::string(StripExt((longName + ".e").c_str())), longName.substr(0, 127));
    EXPECT_EQ(std::string(StripFn((longDir + "/f").c_str())), longDir.substr(0, 255));
    EXPECT_EQ(std::string(StripPathName(longName.c_str())), longName.substr(0, 127));
    EXPECT_EQ(std::string(StripPath(std::string(300, '/').c_str())), std::string(127, '/'));

    // At and around the limits.
    for (size_t len : {126u, 127u, 128u, 129u}) {
        std::string n(len, 'p');
        EXPECT_EQ(strlen(StripPath(("/" + n).c_str())), std::min<size_t>(len, 127)) << len;
        EXPECT_EQ(strlen(StripExt(n.c_str())), std::min<size_t>(len, 127)) << len;
    }
    for (size_t len : {254u, 255u, 256u, 257u}) {
        std::string d(len, 'q');
        EXPECT_EQ(strlen(StripFn((d + "/f").c_str())), std::min<size_t>(len, 255)) << len;
    }
}

// ---------------------------------------------------------------------------
// Searches
// ---------------------------------------------------------------------------

TEST(SkipSpace, StepsOverWhiteSpace) {
    const char *t = " \t\n\r\v\fword ";
    EXPECT_EQ(SkipSpace(t), t + 6);
    const char *blank = "   ";
    EXPECT_EQ(SkipSpace(blank), blank + 3);
    const char *none = "x";
    EXPECT_EQ(SkipSpace(none), none);
    EXPECT_EQ(SkipSpace(nullptr), nullptr);
}

TEST(StrChr, SkipsEscapedCharacters) {
    struct Case {
        const char *text;
        char ch;
        int at; // -1: null
    };
    const Case cases[] = {
        {"a\\,b,c", ',', 4}, // the escaped comma is passed over
        {"a,b", ',', 1},     {"\\\\,", ',', 2}, {"\\\\\\,", ',', -1},
        {"a\\b", '\\', -1},  {"a\\b", 'b', -1}, // a backslash is never found, nor what it escapes
        {"abc\\", 'x', -1},  {"abc\\", 'c', 2}, // a lone backslash at the end stops the walk
        {"", 'a', -1},       {"abc", '\0', -1},
    };
    for (const auto &c : cases) {
        char *r = StrChr(c.text, c.ch);
        if (c.at < 0)
            EXPECT_EQ(r, nullptr) << c.text;
        else
            EXPECT_EQ(r, c.text + c.at) << c.text;
    }
    EXPECT_EQ(StrChr(nullptr, 'a'), nullptr);
}

TEST(StrNChr, GivesTheNthOccurrence) {
    const char *t = "a,b,c";
    EXPECT_EQ(StrNChr(t, ',', 1), t + 1);
    EXPECT_EQ(StrNChr(t, ',', 2), t + 3);
    EXPECT_EQ(StrNChr(t, ',', 3), nullptr);
    EXPECT_EQ(StrNChr(t, ',', 0), nullptr);
    EXPECT_EQ(StrNChr(t, ',', -1), nullptr);
    EXPECT_EQ(StrNChr(nullptr, ',', 1), nullptr);
}

TEST(StrNStr, CountsOverlappingOccurrences) {
    const char *t = "aaaa";
    EXPECT_EQ(StrNStr(t, "aa", 1), t);
    EXPECT_EQ(StrNStr(t, "aa", 3), t + 2);
    EXPECT_EQ(StrNStr(t, "aa", 4), nullptr);
    EXPECT_EQ(StrNStr(t, "aa", 0), t); // at least the first is looked for
    const char *u = "x=1;y=2;z=3";
    EXPECT_EQ(StrNStr(u, ";", 2), u + 7);
    EXPECT_EQ(StrNStr("", "a", 1), nullptr);
    EXPECT_EQ(StrNStr(nullptr, "a", 1), nullptr);
    EXPECT_EQ(StrNStr(t, "", 1), nullptr);
    EXPECT_EQ(StrNStr(t, nullptr, 1), nullptr);
}

TEST(StrStr, FindsExactAndCaseFoldedOccurrences) {
    struct Case {
        const char *text;
        const char *pattern;
        int exact;  // -1: null
        int folded; // -1: null
    };
    const Case cases[] = {
        {"xabcx", "abc", 1, 1}, {"xabcx", "ABC", -1, 1}, {"XABCX", "abc", -1, 1},
        {"aab", "ab", 1, 1},    {"abab", "bab", 1, 1}, // partial matches do not hide later ones
        {"ab", "abc", -1, -1},                         // the pattern runs past the text
        {"abc", "c", 2, 2},     {"abc", "", -1, -1},   // an empty pattern matches nowhere
        {"", "a", -1, -1},      {"", "", -1, -1},        {",y,yes,", ",yes,", 2, 2},
    };
    for (const auto &c : cases) {
        char *r = StrStr(c.text, c.pattern);
        char *f = StrCaseStr(c.text, c.pattern);
        EXPECT_EQ(r, c.exact < 0 ? nullptr : c.text + c.exact) << c.pattern << " in " << c.text;
        EXPECT_EQ(f, c.folded < 0 ? nullptr : c.text + c.folded) << c.pattern << " in " << c.text;
    }
    EXPECT_EQ(StrStr(nullptr, "a"), nullptr);
    EXPECT_EQ(StrStr("a", nullptr), nullptr);
    EXPECT_EQ(StrCaseStr(nullptr, "a"), nullptr);
    EXPECT_EQ(StrCaseStr("a", nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// In-place cleaning
// ---------------------------------------------------------------------------

TEST(StripAllBackslashes, RemovesEveryBackslash) {
    struct Case {
        const char *in;
        const char *out;
    };
    const Case cases[] = {
        {"a\\\\b\\c", "abc"}, {"\\", ""}, {"none", "none"}, {"", ""}, {"\\\\\\\\x\\", "x"}};
    for (const auto &c : cases) {
        std::string buf = c.in;
        EXPECT_EQ(StripAllBackslashes(buf.data()), buf.data());
        EXPECT_STREQ(buf.c_str(), c.out) << c.in;
    }
    EXPECT_EQ(StripAllBackslashes(nullptr), nullptr);
}

TEST(StripNonPrint, KeepsPrintableCharacters) {
    std::string a = "a\tb\nc\rd\x01\x7f"
                    "e";
    EXPECT_STREQ(StripNonPrint(a.data(), 0), "abcde");
    std::string b = "a\tb\nc\rd\x01\x7f"
                    "e";
    EXPECT_STREQ(StripNonPrint(b.data(), 1), "ab\nc\rde");
    EXPECT_EQ(StripNonPrint(nullptr, 0), nullptr);
}

TEST(StripNonPrint, EveryByteValue) {
    for (int flag : {0, 1}) {
        for (int v = 1; v < 256; ++v) {
            char buf[4] = {'<', static_cast<char>(v), '>', '\0'};
            StripNonPrint(buf, flag);
            bool keep = isprint(v) || (flag && (v == '\n' || v == '\r'));
            std::string expected = keep ? std::string("<") + static_cast<char>(v) + ">" : "<>";
            EXPECT_EQ(std::string(buf), expected) << "byte " << v << " flag " << flag;
        }
    }
}

// ---------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------

TEST(TerminalCharAt, GivesEachCharactersLengthAndTheControlItIs) {
    struct Case {
        const char *name;
        const char *text;
        size_t size; // bytes the caller says are there
        size_t len;
        int control;
    } cases[] = {
        {"letter", "a", 1, 1, -1},
        {"newline", "\n", 1, 1, '\n'},
        {"ESC", "\x1b[", 2, 1, 0x1B},
        {"DEL", "\x7f", 1, 1, 0x7F},
        {"bare C1", "\x9b", 1, 1, 0x9B},
        {"C1 in UTF-8", "\xc2\x9b", 2, 2, 0x9B},
        {"no-break space", "\xc2\xa0", 2, 2, -1},
        {"euro sign", "\xe2\x82\xac", 3, 3, -1},
        {"printer emoji", "\xf0\x9f\x96\xa8", 4, 4, -1},
        {"sequence cut by the size", "\xc2\x9b", 1, 1, -1},
        {"Latin-1 letter", "\xe9t", 2, 1, -1},
        {"no lead byte", "\xf5\x80", 2, 1, -1},
        {"stray continuation", "\x85", 1, 1, 0x85},
    };
    for (const Case &c : cases) {
        int control = 0;
        EXPECT_EQ(TerminalCharAt(c.text, c.size, &control), c.len) << c.name;
        EXPECT_EQ(control, c.control) << c.name;
    }
}

TEST(EscapeControls, WritesTerminalControlsAsOctalEscapes) {
    struct Case {
        const char *name;
        const char *text;
        const char *out;
    } cases[] = {
        {"plain", "Error in reading file x.html", "Error in reading file x.html"},
        {"ESC sequence",
         "a\x1b[2J\x1b]52;c;eA==\x07"
         "b",
         "a\\033[2J\\033]52;c;eA==\\007b"},
        {"newline and tab", "a\nb\tc", "a\\012b\\011c"},
        {"DEL", "\x7f", "\\177"},
        {"bare C1 CSI",
         "\x9b"
         "2J",
         "\\233"
         "2J"},
        {"C1 CSI in UTF-8",
         "\xc2\x9b"
         "2J",
         "\\302\\233"
         "2J"},
        {"UTF-8 kept whole", "\xe2\x82\xac \xc3\xa9 \xf0\x9f\x96\xa8",
         "\xe2\x82\xac \xc3\xa9 \xf0\x9f\x96\xa8"},
        {"Latin-1 letter", "caf\xe9", "caf\xe9"},
        {"cut sequence", "\xe2\x82", "\xe2\\202"},
        {"backslash", "a\\033", "a\\\\033"},
        {"empty", "", ""},
    };
    for (const Case &c : cases) {
        char out[128];
        EXPECT_STREQ(EscapeControls(out, sizeof out, c.text), c.out) << c.name;
    }
    // Every byte value: what comes out holds no control at all.
    for (int b = 1; b < 256; ++b) {
        char text[2] = {static_cast<char>(b), 0}, out[16];
        EscapeControls(out, sizeof out, text);
        for (const char *p = out; *p; ++p) {
            unsigned char c = static_cast<unsigned char>(*p);
            EXPECT_FALSE(c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) << b;
        }
    }
    // Cut to the buffer before an escape that does not fit; null text.
    char small[6];
    EXPECT_STREQ(EscapeControls(small, sizeof small, "ab\x1b"), "ab");
    EXPECT_STREQ(EscapeControls(small, sizeof small, "abcdefgh"), "abcde");
    EXPECT_STREQ(EscapeControls(small, sizeof small, nullptr), "");
}

TEST(SetVarContent, CopiesForwardsOrReversed) {
    uint32_t src = 0x11223344u, dst = 0;
    SetVarContent(&dst, &src, 4, 0);
    EXPECT_EQ(dst, 0x11223344u);
    SetVarContent(&dst, &src, 4, 1);
    EXPECT_EQ(dst, __builtin_bswap32(0x11223344u));
    uint64_t s64 = 0x0102030405060708ull, d64 = 0;
    SetVarContent(&d64, &s64, 8, 7);
    EXPECT_EQ(d64, __builtin_bswap64(s64));
    unsigned char odd[3] = {1, 2, 3}, out[3] = {};
    SetVarContent(out, odd, 3, 1);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], 1);
    SetVarContent(out, odd, 0, 1); // nothing copied
    EXPECT_EQ(out[0], 3);
    SetVarContent(nullptr, odd, 3, 0);
    SetVarContent(out, nullptr, 3, 0);
}

TEST(CvtFloatFormat, ConvertsBetweenUnits) {
    struct Case {
        float value;
        int from, to;
        float expected;
    };
    const Case cases[] = {
        {1.0f, CVT_INCH, CVT_POINT, 72.0f}, {2.54f, CVT_CM, CVT_INCH, 1.0f},
        {72.0f, CVT_POINT, CVT_CM, 2.54f},  {36.0f, CVT_POINT, CVT_INCH, 0.5f},
        {2.0f, CVT_INCH, CVT_CM, 5.08f},    {2.54f, CVT_CM, CVT_POINT, 72.0f},
        {5.0f, CVT_INCH, CVT_INCH, 5.0f},   {5.0f, 3, CVT_INCH, 5.0f},
        {5.0f, CVT_CM, -1, 5.0f},           {-1.0f, CVT_INCH, CVT_POINT, -72.0f},
        {0.0f, CVT_CM, CVT_POINT, 0.0f},
    };
    for (const auto &c : cases)
        EXPECT_FLOAT_EQ(CvtFloatFormat(c.value, c.from, c.to), c.expected)
            << c.value << " " << c.from << "->" << c.to;
    // Computed in extended precision, rounded once to single precision.
    EXPECT_EQ(CvtFloatFormat(72.0f, CVT_POINT, CVT_CM), 2.54f);
    EXPECT_EQ(CvtFloatFormat(1.0f, CVT_CM, CVT_INCH), static_cast<float>(1.0L / 2.54L));
}

TEST(MaxD, GivesTheLargerOrTheSecond) {
    EXPECT_EQ(MaxD(1.0, 2.0), 2.0);
    EXPECT_EQ(MaxD(2.0, 1.0), 2.0);
    EXPECT_EQ(MaxD(-3.0, -4.0), -3.0);
    EXPECT_TRUE(std::signbit(MaxD(0.0, -0.0))); // equal: the second
    EXPECT_FALSE(std::signbit(MaxD(-0.0, 0.0)));
    EXPECT_EQ(MaxD(NAN, 1.0), 1.0);
    EXPECT_TRUE(std::isnan(MaxD(1.0, NAN)));
}

TEST(Str, Utf8BoundariesNeverSplitACharacter) {
    // "aé€😀": 1, 2, 3 and 4 bytes.
    const char *text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    const struct {
        size_t max, cut;
    } cuts[] = {{0, 0}, {1, 1}, {2, 1}, {3, 3}, {4, 3}, {5, 3}, {6, 6},
                {7, 6}, {8, 6}, {9, 6}, {10, 10}, {99, 10}};
    for (const auto &c : cuts)
        EXPECT_EQ(Utf8CutLen(text, c.max), c.cut) << "max " << c.max;
    const size_t starts[] = {0, 1, 3, 6, 10};
    for (size_t i = 0; i + 1 < sizeof starts / sizeof starts[0]; ++i)
        EXPECT_EQ(Utf8NextChar(text, 10, starts[i]), starts[i + 1]) << "from " << starts[i];
    EXPECT_EQ(Utf8NextChar(text, 10, 10), 10u);
    EXPECT_EQ(Utf8NextChar(text, 2, 1), 2u) << "the size bounds the walk";
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(Utf8IsContinuation(static_cast<unsigned char>(c)), c >= 0x80 && c < 0xC0) << c;
}

TEST(Utf8, ValidLenAcceptsOnlyWellFormedCharacters) {
    struct Case {
        const char *name, *text;
        size_t size, len;
    } cases[] = {
        {"ascii", "a", 1, 1},
        {"empty", "", 0, 0},
        {"two bytes", "\xc3\xa7", 2, 2},
        {"three bytes", "\xe2\x82\xac", 3, 3},
        {"four bytes", "\xf0\x9f\x98\x80", 4, 4},
        {"stray continuation", "\x80", 1, 0},
        {"cut sequence", "\xe2\x82", 2, 0},
        {"overlong two", "\xc0\xaf", 2, 0},
        {"overlong three", "\xe0\x80\xaf", 3, 0},
        {"surrogate", "\xed\xa0\x80", 3, 0},
        {"above U+10FFFF", "\xf4\x90\x80\x80", 4, 0},
        {"byte ff", "\xff", 1, 0},
        {"continuation missing", "\xc3" "a", 2, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Utf8ValidLen(c.text, c.size), c.len) << c.name;
}
