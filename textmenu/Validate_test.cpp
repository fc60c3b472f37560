#include "TextMenu.h"

#include "MenuTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using menu_testing::RunWithInput;

namespace {

// What every failure message is followed by.
const std::string RET = "\nPress <Return> to continue ";

// Texts of the catalog's range and length messages.
std::string Length(int min, int max) {
    return "This text length must be from " + std::to_string(min) + " to " + std::to_string(max) +
           " characters long.";
}
std::string Exactly(int n) {
    return "This text must be exactly " + std::to_string(n) + " characters long.";
}

struct Case {
    const char *format;
    std::string entry;
    int code;
    std::string out; // everything printed, <Return> prompt included
};

void CheckCases(const std::vector<Case> &cases) {
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("format '") + c.format + "' entry '" + c.entry.substr(0, 40) +
                     "'");
        auto r =
            RunWithInput("\n", [&] { printf("<%d>", ValidateEntry(c.entry.c_str(), c.format)); });
        EXPECT_EQ(r.out, c.out + "<" + std::to_string(c.code) + ">");
        EXPECT_EQ(r.status, 0);
    }
}

TEST(Validate, ClassCodesTakeLettersDigitsPrintablesAndAllowedExtras) {
    CheckCases({
        {"/A(1,255)+-+_+/", "/tmp/my_file", 0, ""},
        {"/A(1,255)+-+_+/", "/tmp/a.b", 3,
         "Invalid character '.'\nThis text may contain \"abc..zABC..Z012..9-_/\"" + RET},
        {"/A(1,255)+-+_+/", "abc", 3, ""},
        {"A(1,8)", "Ab9", 0, ""},
        {"a(1,8)", "Ab9", 3, "Invalid character '9'\nThis text may contain \"abc..zABC..Z\"" + RET},
        {"a(1,8)+9", "Ab9", 0, ""},
        {"a(1,8)+-", "ab_c", 3,
         "Invalid character '_'\nThis text may contain \"abc..zABC..Z-\"" + RET},
        {"p(1,8)", "a b!~", 0, ""},
        {"p(1,8)", "a\tb", 3,
         "Invalid character '\t'\nThis text may contain \"abc..zABC..Z012..9\"" + RET},
        {"A(2,3)", "a", 2, Length(2, 3) + RET},
        {"A(2,3)", "abcd", 2, Length(2, 3) + RET},
        {"A(3,3)", "ab", 2, Exactly(3) + RET},
        {"A(1,0)", std::string(300, 'x'), 0, ""},
    });
}

TEST(Validate, LengthCodesCountTheWholeEntry) {
    CheckCases({
        {"L(3,3)", "ab", 2, Exactly(3) + RET},
        {"L(3,3)", "a b", 0, ""},
        {"L(1,4)", "", 2, Length(1, 4) + RET},
        {"t(2,4)", "abcde", 2, Length(2, 4) + RET},
        {"t(2,4)", "ab", 0, ""},
        {"L(5,0)", "ab", 0, ""},
        {"#-L(4,4)", "#-ab", 0, ""},
    });
}

TEST(Validate, DecimalCodesCheckDigitsAndRange) {
    CheckCases({
        {"d(1,10)", "0", 1, "This number must be between 1 to 10." + RET},
        {"d(1,10)", "-1", 3, "Invalid digit:  -\n" + RET},
        {"d(1,10)", "10", 0, ""},
        {"d(1,10)", "1", 0, ""},
        {"d(1,10)", "11", 1, "This number must be between 1 to 10." + RET},
        {"d(5,5)", "5", 0, ""},
        {"d(5,5)", "4", 1, "This number must be between 5 to 5." + RET},
        {"d(0,0)", "123456", 0, ""},
        {"d(1,99)-7", "17", 3, "Invalid digit:  7\n" + RET},
        {"d(1,99)", "99999999999999999999", 1, "This number must be between 1 to 99." + RET},
        {"d(1,9)", "", 1, "This number must be between 1 to 9." + RET},
    });
}

TEST(Validate, HexadecimalCodesReadTheValueAtThePosition) {
    CheckCases({
        {"x(0,255)", "ff", 0, ""},
        {"x(0,255)", "100", 1, "This number must be between 0 to ff." + RET},
        {"x(16,32)", "0f", 1, "This number must be between 10 to 20." + RET},
        {"x(0,0)", "zz", 0, ""},
    });
}

TEST(Validate, FractionCodesAllowOneDot) {
    CheckCases({
        {"f(0,1)", "0.5", 0, ""},
        {"f(0,1)", "1.2.3", 1, "Only one '.' may be entered." + RET},
        {"f(0,1)", "1,5", 3, "Invalid character ','\nThis text may contain \"0123456789.\"" + RET},
        {"f(0,1)", "1.5", 1, "This number must be between 0.000000 to 1.000000." + RET},
        {"f(0.5,2.5)", "2.5", 0, ""},
        {"f(0,0)", "123.25", 0, ""},
    });
}

TEST(Validate, ExtendedPrecisionCodesCheckDigitsDotsAndRange) {
    CheckCases({
        {"D(0,100)", "99.5", 0, ""},
        {"D(0,100)", "100.5", 1, "This number must be between 0 and 100." + RET},
        {"D(0,100)", "1e5", 3,
         "Invalid character 'e'\nThis text may contain \"0123456789.\"" + RET},
        {"D(0,100)-5", "55", 3,
         "Invalid character '5'\nThis text may contain \"0123456789.\"" + RET},
        {"D(0,0)", "123456789.5", 0, ""},
    });
}

TEST(Validate, ForbiddenTextsAndLiterals) {
    CheckCases({
        {"!(root)", "root", 4, "Invalid entry \"root\"" + RET},
        {"!(root)", "roots", 0, ""},
        {"!(root)A(1,2)", "abcdef", 0, ""}, // a passed forbidden check ends the check
        {"t[root)", "root", 4, "Invalid entry \"root\"" + RET},
        {"t[root)", "rot", 0, ""},
        {"kq-d(1,9)", "kqX", 3, "Invalid character X\n- was expected after \"kq\"" + RET},
        {"kq-d(1,9)", "Xq-1", 3, ""},
        {"kq-d(0,0)", "kq-1", 3, "Invalid digit:  k\n" + RET},
        {"kq", "k", 3, "Invalid character  \nq was expected after \"k\"" + RET},
    });
}

TEST(Validate, AlternativesAndConjunctions) {
    CheckCases({
        {"A(1,8)|d(1,99)", "42x", 0, ""},
        {"A(1,8)|d(1,99)", "42!", 3, "Invalid digit:  !\n" + RET},
        {"y|n", "n", 0, ""},
        {"y|n", "q", 3, ""},
        {"d(1,5)|A(1,3)", "abc", 3, "Invalid digit:  a\n" + RET},
        {"A(1,8)&L(2,3)", "abcd", 2, Length(2, 3) + RET},
        {"A(1,8)&L(2,3)", "ab", 0, ""},
        {"d(1,9)&!(5)", "5", 4, "Invalid entry \"5\"" + RET},
        {"d(1,9)&!(5)", "6", 0, ""},
        {"a(1,3)|a(5,6)", "abcd", 2, Length(5, 6) + RET},
        {" \t\n", "anything", 0, ""},
        {"", "anything", 0, ""},
    });
}

TEST(Validate, NullFormatAcceptsAndNullEntryCountsAsEmpty) {
    auto r = RunWithInput("\n", [] {
        printf("<%d>", ValidateEntry("x", nullptr));
        printf("<%d>", ValidateEntry(nullptr, "L(1,2)"));
    });
    EXPECT_EQ(r.out, "<0>" + Length(1, 2) + RET + "<2>");
}

TEST(Validate, LongEntriesAndFormatsStayInsideTheWorkAreas) {
    std::string pairs;
    for (int i = 0; i < 200; ++i)
        pairs += (i % 2 ? "+" : "-") + std::string(1, static_cast<char>('!' + i % 90));
    std::string format = "A(1,5000)" + pairs;
    CheckCases({
        {"A(1,5000)", std::string(4095, 'a'), 0, ""},
        {"p(1,5000)#", std::string(4000, 'a'), 3,
         "Invalid character  \n# was expected after \"" + std::string(511, 'a') + "\"" + RET},
        {format.c_str(), std::string(4000, 'a'), 0, ""},
        {"d(1,5)", std::string(4000, '1'), 1, "This number must be between 1 to 5." + RET},
    });
    std::string lit(1000, 'k');
    std::string entry = lit + "m";
    CheckCases(
        {{(lit + "q").c_str(), entry, 3,
          "Invalid character m\nq was expected after \"" + std::string(511, 'k') + "\"" + RET}});
}

TEST(Validate, FormatsThatEndEarlyAreReadSafely) {
    for (const char *format :
         {"A", "A(", "A(1", "A(1,", "d(", "f(", "D(", "x", "!(", "t", "A(1,2)+", "L(1,2"}) {
        SCOPED_TRACE(format);
        auto r = RunWithInput("\n\n", [&] { printf("<%d>", ValidateEntry("abc", format)); });
        EXPECT_EQ(r.status, 0);
    }
}

TEST(Validate, GetMinMaxReadsTheRange) {
    struct {
        const char *range;
        int min;
        int max;
    } const rows[] = {{"(1,255)", 1, 255}, {"(3,3)", 3, 3}, {"(0,0)", 0, 0}, {"(12-34)", 12, 34},
                      {"4,8", 4, 8},       {"", 0, 0},      {nullptr, 0, 0}};
    for (const auto &r : rows) {
        SCOPED_TRACE(r.range ? r.range : "(null)");
        int min = -1;
        EXPECT_EQ(getMinMax(r.range, &min), r.max);
        EXPECT_EQ(min, r.min);
    }
}

TEST(Validate, LengthAndDigitCheckers) {
    menu_testing::OpenCatalog();
    EXPECT_EQ(ValidateEntryLen("abcd", nullptr), nullptr);
    EXPECT_STREQ(ValidateEntryLen(nullptr, nullptr), Exactly(4).c_str());
    EXPECT_STREQ(ValidateEntryLen("abc", nullptr), Exactly(4).c_str());
    EXPECT_EQ(ValidateEntryLen("ab", "(1,3)"), nullptr);
    EXPECT_STREQ(ValidateEntryLen("abcd", "(1,3)"), Length(1, 3).c_str());
    EXPECT_EQ(ValidateEntryLen("abcdefgh", "(1,0)"), nullptr);

    EXPECT_EQ(ValidateEntryDigit("0123456789"), 0);
    EXPECT_EQ(ValidateEntryDigit("12a3"), 'a');
    EXPECT_EQ(ValidateEntryDigit(""), 0);
    EXPECT_EQ(ValidateEntryDigit(nullptr), 0);

    auto r = RunWithInput("\n\n\n", [] {
        printf("<%d>", ValidateEntryTty("1234", nullptr));
        printf("<%d>", ValidateEntryTty("12", nullptr));
        printf("<%d>", ValidateEntryTty("12a4", nullptr));
        printf("<%d>", ValidateEntryTty("123456", "(2,6)"));
    });
    EXPECT_EQ(r.out, "<0>" + Exactly(4) + RET + "<2>Invalid digit:  a\n" + RET + "<3><0>");
}

TEST(Validate, TestNameAcceptsLettersDigitsUnderscoreAndDash) {
    auto r = RunWithInput("\n", [] {
        printf("<%d>", TestName("lp_0-Queue"));
        printf("<%d>", TestName("lp 0"));
        printf("<%d>", TestName(""));
    });
    EXPECT_EQ(
        r.out,
        "<1>\n' ' is not a valid name character. \nOnly alphanumeric character, '-', and '_' are "
        "valid: \nPress <Return> to continue<0><1>");
}

TEST(Validate, PostMsgPrintsWaitsAndReadsOneLine) {
    auto r = RunWithInput("first\nsecond\n", [] {
        PostMsg("x=%d", 5);
        printf("<%s>", LineBuf);
    });
    EXPECT_EQ(r.out, "x=5" + RET + "<first>");
}

TEST(Validate, TheExamplesOfTheHeaderHoldAsDocumented) {
    struct Row {
        const char *format;
        const char *entry;
        int code;
    } rows[] = {
        {"A(1,32)+-+_", "lp-room_4", ENTRY_OK},
        {"A(1,32)+-+_", "lp room", ENTRY_CHARACTER},
        {"d(1,999)", "999", ENTRY_OK},
        {"d(1,999)", "1000", ENTRY_RANGE},
        {"f(0.1,4)", "0.5", ENTRY_OK},
        {"f(0.1,4)", "5", ENTRY_RANGE},
        {"/A(1,255)+-+_+/", "/tmp/my_file", ENTRY_OK},
        {"/A(1,255)+-+_+/", "/tmp/a.b", ENTRY_CHARACTER},
        {"A(1,8)|d(1,99)", "42x", ENTRY_OK},
        {"A(1,8)|d(1,99)", "42!", ENTRY_CHARACTER},
        {"A(1,16)&!(root)", "lp0", ENTRY_OK},
        {"A(1,16)&!(root)", "root", ENTRY_FORBIDDEN},
    };
    for (const Row &r : rows)
        EXPECT_EQ(ValidateEntryQuiet(r.entry, r.format), r.code) << r.format << " " << r.entry;
}

} // namespace
