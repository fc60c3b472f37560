// Fuzz target: one line of a package list cut into its parts (directive,
// argument, "dirto" destination, "v" conditions, attribute pairs) without
// running anything. The input is the line as the list reader hands it over:
// up to its first NUL, at most LINE_BUF_SIZE - 1 bytes.
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "setup.h"
#include "utils.h"

namespace {

// The parts follow the list's grammar: D A [EXTRA] for each directive,
// where "v" takes an EXTRA and a further D and "dirto" an EXTRA; then KEY
// VALUE pairs. Words are never empty and never longer than the tokenizer
// keeps, except the "sed" value that runs to the end of the line.
void CheckGrammar(const PkgLine &line) {
    enum class Want { Directive, Arg, Extra, Key, Value, RestOfLine, End };
    Want want = Want::Directive;
    std::string directive;
    bool firstKey = true;
    for (const PkgWord &w : line.words) {
        fuzz::Expect(!w.text.empty(), "an empty part");
        fuzz::Expect(w.text.find('\0') == std::string::npos, "a part holds a NUL");
        if (want != Want::RestOfLine)
            fuzz::Expect(w.text.size() < static_cast<size_t>(TOKEN_BUF_SIZE),
                         "a word longer than the tokenizer keeps");
        switch (want) {
        case Want::Directive:
            fuzz::Expect(w.part == PKG_DIRECTIVE, "a directive expected");
            directive = w.text;
            want = Want::Arg;
            break;
        case Want::Arg:
            fuzz::Expect(w.part == PKG_ARG, "an argument expected");
            want = (directive == "dirto" || directive == "v") ? Want::Extra : Want::Key;
            break;
        case Want::Extra:
            fuzz::Expect(w.part == PKG_EXTRA, "a destination or version expected");
            want = directive == "v" ? Want::Directive : Want::Key;
            break;
        case Want::Key:
            fuzz::Expect(w.part == PKG_KEY, "a key expected");
            want = (firstKey && w.text == "sed") ? Want::RestOfLine : Want::Value;
            firstKey = false;
            break;
        case Want::Value:
            fuzz::Expect(w.part == PKG_VALUE, "a value expected");
            want = Want::Key;
            break;
        case Want::RestOfLine:
            fuzz::Expect(w.part == PKG_VALUE, "the sed value expected");
            fuzz::Expect(w.text.front() != ' ' && w.text.back() != ' ' &&
                             w.text.find_first_of("\r\n") == std::string::npos,
                         "the sed value is not trimmed to its line");
            want = Want::End;
            break;
        case Want::End:
            fuzz::Broken("a part after the sed value");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.c_str();
    if (text.size() > LINE_BUF_SIZE - 1) text.resize(LINE_BUF_SIZE - 1);
    PkgLine line = ParsePkgLine(text.c_str());
    CheckGrammar(line);
    if (!line.tooLong.empty())
        fuzz::Expect(text.find(line.tooLong) != std::string::npos,
                     "tooLong is not a part of the line");
    // The same text parsed again gives the same parts: nothing is kept
    // between two lines.
    PkgLine again = ParsePkgLine(text.c_str());
    fuzz::Expect(again.words.size() == line.words.size() && again.tooLong == line.tooLong,
                 "a second parse differs");
    return 0;
}
