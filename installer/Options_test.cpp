// The option table and its parser: which words are options, what each sets,
// what is refused, and that the usage lists every option of the table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>

#include "TestSupport.h"
#include "setup.h"

using testsupport::ChildResult;
using testsupport::Contains;
using testsupport::RunChild;

namespace {

// Parses args (the program's name put in front) in a child and prints what
// the options set and the positional words, one line.
ChildResult parse(const std::vector<std::string> &args) {
    return RunChild([&] {
        if (chdir("/") != 0) return;
        std::vector<std::string> copy{"setup"};
        copy.insert(copy.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (std::string &s : copy)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        std::vector<char *> words = parseSetupOptions(static_cast<int>(copy.size()), argv.data());
        std::string rest;
        for (size_t i = 1; i + 1 < words.size(); ++i)
            rest += std::string(" [") + words[i] + "]";
        printf("accept=%d stop=%d wait=%ld given=%d report=%s words=%s|%s", flAcceptAgreement,
               flStopOldDaemon, nWaitSeconds, flWaitGiven,
               pReportPath != nullptr ? pReportPath : "-", words[0], rest.c_str());
    });
}

} // namespace

TEST(SetupOptions, OptionsBeforeThePositionalWordsAreTaken) {
    struct Case {
        const char *name;
        std::vector<std::string> args;
        const char *out;
    } cases[] = {
        {"nothing", {}, "accept=0 stop=0 wait=300 given=0 report=- words=setup|"},
        {"old forms untouched",
         {"/a", "install", "/b"},
         "accept=0 stop=0 wait=300 given=0 report=- words=setup| [/a] [install] [/b]"},
        {"-v stays a word",
         {"-v", "/a"},
         "accept=0 stop=0 wait=300 given=0 report=- words=setup| [-v] [/a]"},
        {"flags",
         {"--accept-agreement", "--stop-old-daemon", "/w"},
         "accept=1 stop=1 wait=300 given=0 report=- words=setup| [/w]"},
        {"value apart", {"--wait", "2"}, "accept=0 stop=0 wait=2 given=1 report=- words=setup|"},
        {"value joined", {"--wait=0"}, "accept=0 stop=0 wait=0 given=1 report=- words=setup|"},
        {"later one wins",
         {"--wait", "5", "--wait=7"},
         "accept=0 stop=0 wait=7 given=1 report=- words=setup|"},
        {"report full path",
         {"--report", "/r/x.json", "install", "/opt"},
         "accept=0 stop=0 wait=300 given=0 report=/r/x.json words=setup| [install] [/opt]"},
        {"-- ends options",
         {"--accept-agreement", "--", "-odd", "--wait"},
         "accept=1 stop=0 wait=300 given=0 report=- words=setup| [-odd] [--wait]"},
        {"-- alone", {"--"}, "accept=0 stop=0 wait=300 given=0 report=- words=setup|"},
        {"-- behind a word",
         {"/a", "--", "-b"},
         "accept=0 stop=0 wait=300 given=0 report=- words=setup| [/a] [-b]"},
        {"value that looks like an option",
         {"--report", "--x"},
         "accept=0 stop=0 wait=300 given=0 report=/--x words=setup|"},
    };
    for (const Case &c : cases) {
        ChildResult r = parse(c.args);
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << c.name;
    }
}

TEST(SetupOptions, BadOptionsAreRefusedWithStatusTwo) {
    struct Case {
        const char *name;
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {"unknown long", {"--bogus"}, "unknown option \"--bogus\""},
        {"unknown short", {"-x", "/a"}, "unknown option \"-x\""},
        {"unknown after a word", {"/a", "-x"}, "unknown option \"-x\""},
        {"option too late", {"/a", "--wait", "3"}, "\"--wait\" comes after"},
        {"missing value", {"--wait"}, "--wait needs SECONDS"},
        {"missing report", {"--report"}, "--report needs FILE"},
        {"empty report", {"--report="}, "--report takes a file name"},
        {"not a number", {"--wait", "x"}, "not \"x\""},
        {"negative", {"--wait", "-1"}, "not \"-1\""},
        {"trailing junk", {"--wait", "3s"}, "not \"3s\""},
        {"too long", {"--wait", "99999999999999999999"}, "--wait takes a whole number"},
        {"more than a week", {"--wait", "604801"}, "--wait takes a whole number"},
        {"flag with a value", {"--accept-agreement=yes"}, "--accept-agreement takes no value"},
        {"prefix is not the option", {"--accept"}, "unknown option \"--accept\""},
    };
    for (const Case &c : cases) {
        ChildResult r = parse(c.args);
        EXPECT_EQ(r.status, 2) << c.name;
        EXPECT_TRUE(Contains(r.err, c.message)) << c.name << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, "Usage:")) << c.name;
    }
}

TEST(SetupOptions, TheTableIsNullEndedAndTheHelpListsEveryRow) {
    ChildResult r = RunChild([] { printUsage(stdout); });
    ASSERT_EQ(r.status, 0);
    int rows = 0;
    for (const SetupOption *o = SetupOptions(); o->name != nullptr; ++o, ++rows) {
        EXPECT_EQ(strncmp(o->name, "--", 2), 0) << o->name;
        EXPECT_TRUE(o->flag != nullptr || o->take != nullptr) << o->name;
        std::string head =
            std::string("  ") + o->name + (o->argName ? std::string(" ") + o->argName : "") + "\n";
        EXPECT_TRUE(Contains(r.out, head)) << o->name;
    }
    EXPECT_GE(rows, 4);
    for (const char *answer : {"--accept-agreement", "--wait SECONDS", "default\n      300",
                               "--stop-old-daemon", "--report FILE"})
        EXPECT_TRUE(Contains(r.out, answer)) << answer;
}
