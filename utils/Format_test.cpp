// Tests of bounded formatting, against the C library's own snprintf.

#include "utils.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

// A null format is handed over on purpose.
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"

namespace {

// VFormatBounded through a printf-style front, as its callers use it.
[[gnu::format(printf, 3, 4)]] int Through(char *buf, size_t size, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = VFormatBounded(buf, size, fmt, ap);
    va_end(ap);
    return n;
}

} // namespace

TEST(FormatBounded, GivesTheLengthWhenTheTextFitsAndMinusOneWhenItWouldBeCut) {
    const std::string text = "abcdefgh"; // 8 characters
    // Every buffer size from none to more than enough, each way of calling.
    for (size_t size = 0; size <= 12; ++size) {
        char buf[16], viaV[16], oracle[16];
        memset(buf, 'X', sizeof buf);
        memset(viaV, 'X', sizeof viaV);
        memset(oracle, 'X', sizeof oracle);
        int n = FormatBounded(buf, size, "%s", text.c_str());
        int v = Through(viaV, size, "%s", text.c_str());
        snprintf(oracle, size, "%s", text.c_str());
        const bool fits = size > text.size();
        EXPECT_EQ(n, fits ? 8 : -1) << "size " << size;
        EXPECT_EQ(v, n) << "size " << size;
        // What is left in the buffer is what snprintf leaves: the text cut to
        // size - 1 characters and terminated, nothing written past size.
        EXPECT_EQ(memcmp(buf, oracle, sizeof buf), 0) << "size " << size;
        EXPECT_EQ(memcmp(viaV, oracle, sizeof viaV), 0) << "size " << size;
    }
}

TEST(FormatBounded, FormatsEveryConversionAsPrintfDoes) {
    char path[64], number[64], probe[64], empty[4] = "zz";
    const struct {
        const char *name;
        int n;
        const char *buf;
        const char *want;
    } kCases[] = {
        {"path", FormatBounded(path, sizeof path, "%s/%s", "/usr", "Dorna"), path, "/usr/Dorna"},
        {"numbers", FormatBounded(number, sizeof number, "%d_%d", 25, 1011), number, "25_1011"},
        {"character probe", FormatBounded(probe, sizeof probe, "%c%s%c", ',', "yes", ','), probe,
         ",yes,"},
        {"empty", FormatBounded(empty, sizeof empty, "%s", ""), empty, ""},
    };
    for (const auto &c : kCases) {
        EXPECT_STREQ(c.buf, c.want) << c.name;
        EXPECT_EQ(c.n, static_cast<int>(strlen(c.want))) << c.name;
    }
}

TEST(FormatBounded, NullBufferOrFormatIsRefused) {
    char buf[8] = "keep";
    EXPECT_EQ(FormatBounded(nullptr, 8, "%s", "x"), -1);
    const char *volatile noFormat = nullptr;
    EXPECT_EQ(Through(buf, sizeof buf, noFormat), -1);
    EXPECT_STREQ(buf, "keep");
}

TEST(FormatBounded, ExactFitAndOneOverAreTheBoundary) {
    char buf[4];
    EXPECT_EQ(FormatBounded(buf, sizeof buf, "%s", "abc"), 3);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(FormatBounded(buf, sizeof buf, "%s", "abcd"), -1);
    EXPECT_STREQ(buf, "abc");
}
