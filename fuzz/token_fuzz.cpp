// Fuzz target: the tokenizer, keyword lists and path splitters on arbitrary
// text. Input: a delimiter set, a NUL, then the text (no NUL: the text alone,
// cut at blanks, commas and tabs).
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "MemMgr.h"
#include "utils.h"

namespace {

// Every scan must end: a text of n bytes has at most n + 1 tokens.
void ScanShared(const std::string &text, const char *delims) {
    size_t limit = text.size() + 2, n = 0;
    for (char *t = GetToken(text.c_str(), delims); t; t = GetToken(nullptr, delims)) {
        fuzz::Expect(strlen(t) < TOKEN_BUF_SIZE, "GetToken returned more than its buffer holds");
        fuzz::Expect(++n <= limit, "GetToken scan does not end");
    }
    n = 0;
    for (char *t = GetToken(text.c_str(), delims); t; t = GetToken(TOKEN_LINE_MODE, delims))
        fuzz::Expect(++n <= limit, "line-mode scan does not end");
}

void ScanInPlace(const std::string &text, const char *delims) {
    std::string copy = text;
    size_t limit = text.size() + 2, n = 0;
    for (char *t = GetTokenParse(copy.data(), delims); t; t = GetTokenParse(nullptr, delims)) {
        fuzz::Expect(t >= copy.data() && t <= copy.data() + copy.size(),
                     "GetTokenParse left the text");
        fuzz::Expect(++n <= limit, "GetTokenParse scan does not end");
    }
    char out[TOKEN_BUF_SIZE];
    char *cursor = nullptr;
    n = 0;
    for (char *t = GetTokenD(text.c_str(), delims, &cursor, out); t;
         t = GetTokenD(nullptr, delims, &cursor, out))
        fuzz::Expect(++n <= limit, "GetTokenD scan does not end");

    std::string pieces = text;
    char *array[16];
    int got = ParseStr(pieces.data(), delims, array, 16);
    fuzz::Expect(got >= 0 && got <= 16, "ParseStr stored more pieces than asked");
    int count = GetTokenCount(text.c_str(), delims);
    fuzz::Expect(count >= 0 && static_cast<size_t>(count) <= limit, "GetTokenCount out of range");
    GetTokenN(text.c_str(), delims, count > 0 ? count : 1);
}

void Keywords(const std::string &text) {
    // The text as a keyword list, looked up with its own first item and with
    // a word that cannot be in it.
    char word[TOKEN_BUF_SIZE] = "";
    if (!text.empty()) {
        char delim[2] = {text[0], 0};
        char *cursor = nullptr;
        if (GetTokenD(text.c_str(), delim, &cursor, word) == nullptr) word[0] = 0;
    }
    FindToken(word, text.c_str());
    FindTokenC(word, text.c_str());
    FindToken("\x01no such word\x02", text.c_str());
    if (!text.empty()) FindTokenWithDelim(text.c_str(), word, text[0]);

    for (int ignoreCase = 0; ignoreCase < 2; ++ignoreCase) {
        std::string list = text;
        size_t before = strlen(list.c_str());
        SortTokens(list.data(), text.empty() ? ',' : text[0], ignoreCase);
        fuzz::Expect(strlen(list.c_str()) <= before, "SortTokens grew the list");
    }
}

void Paths(const std::string &text) {
    const char *p = text.c_str();
    fuzz::Expect(strlen(StripPath(p)) < 128, "StripPath overran its buffer");
    fuzz::Expect(strlen(StripFn(p)) < 256, "StripFn overran its buffer");
    fuzz::Expect(strlen(StripExt(p)) < 128, "StripExt overran its buffer");
    if (char *r = StripPathExt(p)) fuzz::Expect(strlen(r) < 128, "StripPathExt overran its buffer");
    fuzz::Expect(strlen(StripPathName(p)) < 128, "StripPathName overran its buffer");
    char *stored = SaveStr_(p);
    fuzz::Expect(strcmp(stored, p) == 0, "SaveStr_ changed the text");
    StripNonPrint(stored, 1);
    StripAllBackslashes(stored);
    PutMem(stored);
    if (!text.empty()) {
        StrChr(p, text[text.size() / 2]);
        StrNChr(p, text[0], 3);
    }
    StrStr(p, "/.");
    StrCaseStr(p, "DPXX");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Split in = fuzz::SplitAtNul(data, size, 16, " ,\t");
    // The text ends at its first NUL, as every C text does.
    std::string text(in.rest.c_str());
    const char *delims = in.head.c_str();
    ScanShared(text, delims);
    ScanInPlace(text, delims);
    Keywords(text);
    Paths(text);
    return 0;
}
