// ToolOptions.h - what the suite's command-line tools share: their option
// table and where their catalog lies.
//
// Options are read from a table of rows {name, bit, value}: a flag sets its
// bit; a valued option also takes the next word into *value. Each tool keeps
// its own messages: the reader only says what went wrong and where.
#pragma once

#include <string>
#include <vector>

// One option of a tool's table.
struct ToolOption {
    const char *name;   // the whole word, "--file"
    unsigned bit;       // set in the given bits when the option is met
    std::string *value; // where the next word goes; null: a flag
};

// Results of ToolParseOptions.
constexpr int TOOLOPT_OK = 0;
constexpr int TOOLOPT_UNKNOWN = 1;  // a word looks like an option but no row names it
constexpr int TOOLOPT_NO_VALUE = 2; // a valued option is the last word

// Reads the options at the front of args: words of at least three characters
// that begin with "--", up to "--" (dropped), the first other word or the
// end, and removes them from args. Bits of the options met are added to
// *given. On failure *bad holds the word at fault and args is left as it
// was; TOOLOPT_OK otherwise.
int ToolParseOptions(const ToolOption *table, size_t rows, std::vector<std::string> *args,
                     unsigned *given, std::string *bad);

// The suite's tool root, which holds the catalog (db/<language>/): the
// directory DORNA_TOOL_ROOT names; else the program's own directory when it
// holds db/; else buildRoot, the tool root of the build the program came
// from. A new stored text (PutMem).
char *ToolRoot(const char *argv0, const char *buildRoot);
