// Fuzz target: the reader that decides whether a command line starts its
// program directly (SysReadPlainWords). The input's first byte chooses the
// form (odd: inside sh -c "..."); the rest is read twice over:
//  - as a command line: when the reader takes it, its words quoted again
//    with SysShellWord must read back as the same words;
//  - cut at its NULs into words (the first one made a path): those words
//    quoted with SysShellWord are a line the reader must take, and it must
//    give back exactly those words.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "SysCmd.h"
#include "SysPriv.h"

namespace {

// The words of text, or false when the reader refuses it.
bool Read(const std::string &text, bool wrapped, std::vector<std::string> &out) {
    std::vector<const char *> args(text.size() / 2 + 2);
    std::vector<char> words(text.size() + 1);
    if (!SysReadPlainWords(text.data(), text.size(), wrapped, args.data(), words.data()))
        return false;
    out.clear();
    for (size_t i = 0; args[i] != nullptr; ++i) {
        fuzz::Expect(i + 1 < args.size(), "more words than the text can hold");
        out.push_back(args[i]);
    }
    return true;
}

std::string Quoted(const std::vector<std::string> &words, bool wrapped) {
    std::string line;
    for (const std::string &w : words)
        line += (line.empty() ? "" : " ") + SysShellWord(w.c_str(), wrapped);
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const bool wrapped = (data[0] & 1) != 0;
    const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);

    std::vector<std::string> words, again;
    if (Read(text, wrapped, words)) {
        fuzz::Expect(!words.empty() && words[0].find('/') != std::string::npos,
                     "a plain line whose first word names no path");
        fuzz::Expect(Read(Quoted(words, wrapped), wrapped, again) && again == words,
                     "words quoted again read back differently");
    }

    std::vector<std::string> given(1, "/");
    for (char c : text) {
        if (c == '\0')
            given.emplace_back();
        else
            given.back() += c;
    }
    fuzz::Expect(Read(Quoted(given, wrapped), wrapped, again), "quoted words refused");
    fuzz::Expect(again == given, "quoted words read back differently");
    return 0;
}
