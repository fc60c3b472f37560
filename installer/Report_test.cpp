// The report's JSON strings: every byte a path may hold gives valid JSON.
#include <gtest/gtest.h>

#include <string>

#include "setup.h"

TEST(SetupReport, JsonQuoteEscapesControlsAndReplacesInvalidUtf8) {
    struct Case {
        const char *name, *in, *out;
    } cases[] = {
        {"plain", "/usr", "\"/usr\""},
        {"empty", "", "\"\""},
        {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
        {"line end and tab", "a\nb\tc\r", "\"a\\u000ab\\u0009c\\u000d\""},
        {"escape and delete", "\x1b[0m\x7f", "\"\\u001b[0m\\u007f\""},
        {"valid two bytes", "fran\xc3\xa7" "ais", "\"fran\xc3\xa7" "ais\""},
        {"valid four bytes", "\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
        {"lone continuation", "a\x80z", "\"a\\ufffdz\""},
        {"cut sequence at the end", "a\xc3", "\"a\\ufffd\""},
        {"overlong slash", "\xc0\xaf", "\"\\ufffd\\ufffd\""},
        {"surrogate", "\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},
        {"above U+10FFFF", "\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},
        {"byte ff", "x\xff", "\"x\\ufffd\""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(jsonQuote(c.in), c.out) << c.name;
    EXPECT_EQ(jsonQuote(nullptr), "null");
}

TEST(SetupReport, EveryByteAloneGivesOnlyPrintableAscii) {
    // Loop over the whole domain of single bytes: the result never holds a
    // control character or a byte above 0x7e unless it is valid UTF-8.
    for (int b = 1; b < 256; ++b) {
        const char in[2] = {static_cast<char>(b), 0};
        std::string out = jsonQuote(in);
        for (unsigned char c : out)
            EXPECT_TRUE(c >= 0x20 && c < 0x7f) << "byte " << b << " gives " << out;
    }
}
