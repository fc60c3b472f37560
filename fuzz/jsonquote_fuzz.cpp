// Fuzz target: the report's JSON strings (jsonQuote), which carry paths and
// messages holding any bytes. Whatever the input, the result is one JSON
// string: quoted, no control character, no byte that is not UTF-8, and the
// input's valid UTF-8 text kept as it was.
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "setup.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    // The report's texts end at a NUL, as C strings do.
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.substr(0, strlen(text.c_str()));
    std::string out = jsonQuote(text.c_str());
    fuzz::Expect(out.size() >= 2 && out.front() == '"' && out.back() == '"',
                 "the result is not quoted");
    for (size_t i = 1; i + 1 < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        fuzz::Expect(c >= 0x20 && c != 0x7f, "a control character is left raw");
        if (c == '\\') {
            ++i; // the escaped character
            fuzz::Expect(i + 1 < out.size(), "an escape ends the string");
            continue;
        }
        fuzz::Expect(c != '"', "a quote is left raw inside the string");
    }
    // Plain printable ASCII comes through unchanged.
    bool plain = true;
    for (unsigned char c : text)
        plain = plain && c >= 0x20 && c < 0x7f && c != '"' && c != '\\';
    if (plain) fuzz::Expect(out == "\"" + text + "\"", "plain text was changed");
    return 0;
}
