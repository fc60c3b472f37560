// The tools' option table reader.
#include <gtest/gtest.h>

#include "ToolOptions.h"

namespace {

using Words = std::vector<std::string>;

TEST(ToolOptions, ReadsTheOptionsInFrontOfTheWords) {
    struct Case {
        const char *name;
        Words args;
        int result;
        unsigned given;
        std::string value, bad;
        Words rest;
    } cases[] = {
        {"no options", {"get", "f"}, TOOLOPT_OK, 0, "", "", {"get", "f"}},
        {"a flag", {"--text", "get"}, TOOLOPT_OK, 1, "", "", {"get"}},
        {"a value", {"--to", "plain", "convert"}, TOOLOPT_OK, 2, "plain", "", {"convert"}},
        {"both", {"--to", "x", "--text"}, TOOLOPT_OK, 3, "x", "", {}},
        {"-- ends them", {"--", "--text"}, TOOLOPT_OK, 0, "", "", {"--text"}},
        {"a short word ends them", {"-x", "--text"}, TOOLOPT_OK, 0, "", "", {"-x", "--text"}},
        {"unknown", {"--nope", "get"}, TOOLOPT_UNKNOWN, 0, "", "--nope", {"--nope", "get"}},
        {"value missing", {"--text", "--to"}, TOOLOPT_NO_VALUE, 1, "", "--to", {"--text", "--to"}},
    };
    for (Case &c : cases) {
        std::string value, bad;
        const ToolOption table[] = {{"--text", 1, nullptr}, {"--to", 2, &value}};
        unsigned given = 0;
        EXPECT_EQ(ToolParseOptions(table, 2, &c.args, &given, &bad), c.result) << c.name;
        EXPECT_EQ(given, c.given) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
        EXPECT_EQ(bad, c.bad) << c.name;
        EXPECT_EQ(c.args, c.rest) << c.name;
    }
}

} // namespace
