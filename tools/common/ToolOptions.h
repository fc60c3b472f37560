// ToolOptions.h - what the suite's command-line tools share: their option
// table and where their catalog lies.
//
// Options are read from a table of rows {name, bit, value}: a flag sets its
// bit; a valued option also takes the next word into *value. Each tool keeps
// its own messages: the reader only says what went wrong and where.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One option of a tool's table.
struct ToolOption {
    const char *name;   // the whole word, "--file"
    unsigned bit;       // set in the given bits when the option is met
    std::string *value; // where the next word goes; null: a flag
};

// How a tool's command line is read. Without rules, options stand in front
// of the operands: words of at least three characters that begin with "--",
// up to "--" (dropped) or the first other word.
struct ToolOptionRules {
    // Options may stand between the operands, and every word of two or more
    // characters that begins with '-' is one ("-h", and "--" too, which then
    // ends nothing); the operands keep their order.
    bool anywhere = false;
    unsigned stop = 0;             // bits of options that end the reading where they stand (--help)
    bool once = false;             // an option given twice is an error
    size_t maxOperands = SIZE_MAX; // operands beyond this many are an error
};

// Results of ToolParseOptions.
constexpr int TOOLOPT_OK = 0;
constexpr int TOOLOPT_UNKNOWN = 1;  // a word looks like an option but no row names it
constexpr int TOOLOPT_NO_VALUE = 2; // a valued option is the last word
constexpr int TOOLOPT_STOP = 3;     // a stop option was met (not an error: the tool decides)
constexpr int TOOLOPT_TWICE = 4;    // with once: an option met a second time
constexpr int TOOLOPT_EXTRA = 5;    // an operand beyond maxOperands

// Reads the options of args by the rules (null: the rules' defaults), left to
// right, and leaves only the operands in args. Bits of the options met are
// added to *given, also when the reading ends early. On any result but
// TOOLOPT_OK, *bad holds the word where the reading ended (the stop option,
// the word at fault) and args is left as it was.
int ToolParseOptions(const ToolOption *table, size_t rows, std::vector<std::string> *args,
                     unsigned *given, std::string *bad, const ToolOptionRules *rules = nullptr);

// The suite's tool root, which holds the catalog (db/<language>/): the
// directory DORNA_TOOL_ROOT names; else the program's own directory when it
// holds db/; else the installed package's tool root when it holds db/; else
// buildRoot, the tool root of the build the program came from
// (DbmDefaultToolRoot). A new stored text (PutMem).
char *ToolRoot(const char *argv0, const char *buildRoot);
