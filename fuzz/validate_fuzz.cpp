// Fuzz target: entry validation. Input: an entry format, a NUL, then the
// entry (no NUL: the whole input is the entry, checked against a format
// that uses every code). Messages go to /dev/null and every <Return> wait
// meets the end of input.
#include <cstdio>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "TextMenu.h"
#include "utils.h"

namespace {

const char kAllCodes[] =
    "/A(1,255)+-+_+/|a(1,8)+.|p(2,0)&L(1,40)|d(1,99)-7|x(0,255)|f(0,1)|D(0,100)+.|!(root)";

void QuietStreams() {
    static bool done = false;
    if (done) return;
    done = true;
    if (!freopen("/dev/null", "r", stdin) || !freopen("/dev/null", "w", stdout))
        fuzz::Broken("no /dev/null");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    QuietStreams();
    fuzz::Split in = fuzz::SplitAtNul(data, size, 512, kAllCodes);
    // The entry as the menu page hands it over: one line of at most 4,095
    // characters, cut at its first NUL.
    std::string entry = in.rest.substr(0, LINE_BUF_SIZE - 1);
    entry = entry.c_str();
    std::string before = entry;
    int code = ValidateEntry(entry.c_str(), in.head.c_str());
    fuzz::Expect(code >= ENTRY_OK && code <= ENTRY_FORBIDDEN, "ValidateEntry gave an unknown code");
    fuzz::Expect(entry == before, "ValidateEntry changed the entry");
    fuzz::Expect(ValidateEntry(entry.c_str(), nullptr) == ENTRY_OK,
                 "a null format refused an entry");
    int tty = ValidateEntryTty(entry.c_str(), in.head.c_str());
    fuzz::Expect(tty == 0 || tty == 2 || tty == 3, "ValidateEntryTty gave an unknown code");
    return 0;
}
