// The tools' option table reader.
#include <gtest/gtest.h>

#include "ToolOptions.h"

namespace {

using Words = std::vector<std::string>;

// A command line, the rules it is read by, and what the reading gives.
struct Case {
    const char *name;
    const ToolOptionRules *rules;
    Words args;
    int result;
    unsigned given;
    std::string value, bad;
    Words rest;
};

// Reads c.args with the first rows of a table like the tools': a flag
// "--text", a valued "--to", "-t" for "--text", and "--help" (bit 4).
void ExpectReading(Case &c, size_t rows) {
    std::string value, bad;
    const ToolOption table[] = {
        {"--text", 1, nullptr}, {"--to", 2, &value}, {"-t", 1, nullptr}, {"--help", 4, nullptr}};
    unsigned given = 0;
    EXPECT_EQ(ToolParseOptions(table, rows, &c.args, &given, &bad, c.rules), c.result) << c.name;
    EXPECT_EQ(given, c.given) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
    EXPECT_EQ(bad, c.bad) << c.name;
    EXPECT_EQ(c.args, c.rest) << c.name;
}

TEST(ToolOptions, ReadsTheOptionsInFrontOfTheWords) {
    Case cases[] = {
        // clang-format off
        {"no options", nullptr, {"get", "f"}, TOOLOPT_OK, 0, "", "", {"get", "f"}},
        {"a flag", nullptr, {"--text", "get"}, TOOLOPT_OK, 1, "", "", {"get"}},
        {"a value", nullptr, {"--to", "plain", "convert"}, TOOLOPT_OK, 2, "plain", "", {"convert"}},
        {"both", nullptr, {"--to", "x", "--text"}, TOOLOPT_OK, 3, "x", "", {}},
        {"-- ends them", nullptr, {"--", "--text"}, TOOLOPT_OK, 0, "", "", {"--text"}},
        {"a short word ends them", nullptr, {"-x", "--text"}, TOOLOPT_OK, 0, "", "", {"-x", "--text"}},
        {"unknown", nullptr, {"--nope", "get"}, TOOLOPT_UNKNOWN, 0, "", "--nope", {"--nope", "get"}},
        {"value missing", nullptr, {"--text", "--to"}, TOOLOPT_NO_VALUE, 1, "", "--to",
         {"--text", "--to"}},
        // clang-format on
    };
    for (Case &c : cases)
        ExpectReading(c, 2);
}

TEST(ToolOptions, ReadsByTheRulesGiven) {
    ToolOptionRules any;
    any.anywhere = true;
    ToolOptionRules help = any;
    help.stop = 4;
    help.maxOperands = 1;
    ToolOptionRules once = any;
    once.once = true;
    ToolOptionRules front;
    front.maxOperands = 1;
    Case cases[] = {
        // clang-format off
        {"options between operands", &any, {"a", "--text", "b"}, TOOLOPT_OK, 1, "", "", {"a", "b"}},
        {"a short option", &any, {"-t", "a"}, TOOLOPT_OK, 1, "", "", {"a"}},
        {"a value like an option", &any, {"--to", "--help"}, TOOLOPT_OK, 2, "--help", "", {}},
        {"a lone - is an operand", &any, {"-", "--text"}, TOOLOPT_OK, 1, "", "", {"-"}},
        {"an empty operand", &any, {""}, TOOLOPT_OK, 0, "", "", {""}},
        {"-- is an option word", &any, {"--", "a"}, TOOLOPT_UNKNOWN, 0, "", "--", {"--", "a"}},
        {"unknown short option", &any, {"a", "-x"}, TOOLOPT_UNKNOWN, 0, "", "-x", {"a", "-x"}},
        {"repeats allowed", &any, {"--to", "x", "--to", "y"}, TOOLOPT_OK, 2, "y", "", {}},
        {"stop ends the reading", &help, {"--text", "--help", "--no"}, TOOLOPT_STOP, 5, "", "--help",
         {"--text", "--help", "--no"}},
        {"an error before stop", &help, {"--no", "--help"}, TOOLOPT_UNKNOWN, 0, "", "--no",
         {"--no", "--help"}},
        {"one operand", &help, {"a", "--text"}, TOOLOPT_OK, 1, "", "", {"a"}},
        {"an operand too many", &help, {"a", "b", "--help"}, TOOLOPT_EXTRA, 0, "", "b",
         {"a", "b", "--help"}},
        {"once: twice", &once, {"--to", "x", "--to", "y"}, TOOLOPT_TWICE, 2, "x", "--to",
         {"--to", "x", "--to", "y"}},
        {"once: two names, one bit", &once, {"--text", "-t"}, TOOLOPT_TWICE, 1, "", "-t",
         {"--text", "-t"}},
        {"once: each once", &once, {"--text", "--to", "x"}, TOOLOPT_OK, 3, "x", "", {}},
        {"in front: one operand", &front, {"--text", "a"}, TOOLOPT_OK, 1, "", "", {"a"}},
        {"in front: too many", &front, {"--text", "a", "--to"}, TOOLOPT_EXTRA, 1, "", "--to",
         {"--text", "a", "--to"}},
        // clang-format on
    };
    for (Case &c : cases)
        ExpectReading(c, 4);
}

} // namespace
