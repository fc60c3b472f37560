// Fuzz target: the disks list of an install site, both cuts (the copy of the
// site into the work directory and the joining of the archive pieces), from
// a text and from a file named disks or DISKS. The first byte picks the file
// name (bit 0: DISKS); the rest is the file.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "setup.h"
#include "utils.h"

namespace {

const char *const kEnd = "end_of_list";

// What every name of either cut must be: not empty, not the end marker, and
// for the copy no longer than the tokenizer keeps, for the join free of the
// characters that separate its words.
void CheckNames(const std::vector<std::string> &names, DisksCut cut) {
    for (const std::string &name : names) {
        fuzz::Expect(!name.empty(), "a disks list gave an empty name");
        fuzz::Expect(name != kEnd, "a disks list gave its end marker as a name");
        fuzz::Expect(name.find('\0') == std::string::npos, "a name holds a NUL");
        if (cut == DISKS_COPY)
            fuzz::Expect(name.size() < static_cast<size_t>(TOKEN_BUF_SIZE),
                         "a copy name is longer than the tokenizer keeps");
        else
            fuzz::Expect(name.find_first_of(" \r\n") == std::string::npos,
                         "a join name holds a separator");
    }
}

// Every name starts at a character that is not a separator of its cut, so
// neither cut gives more names than the text has runs of such characters.
size_t Runs(const std::string &text, const char *separators) {
    size_t runs = 0;
    for (size_t i = 0; i < text.size(); ++i)
        if (!strchr(separators, text[i]) && (i == 0 || strchr(separators, text[i - 1]))) ++runs;
    return runs;
}

void CheckText(const std::string &text) {
    std::vector<std::string> join = ParseDisksList(text.c_str(), DISKS_JOIN);
    std::vector<std::string> copy = ParseDisksList(text.c_str(), DISKS_COPY);
    CheckNames(join, DISKS_JOIN);
    CheckNames(copy, DISKS_COPY);
    fuzz::Expect(join.size() <= Runs(text, " \r\n"), "more join names than words");
    fuzz::Expect(copy.size() <= Runs(text, " \t\r\n"), "more copy names than words");
    // Nothing but a line of names each, none longer than the tokenizer
    // keeps: both cuts agree.
    bool plain = text.find_first_of("\\\t\r ") == std::string::npos;
    for (const std::string &name : join)
        plain = plain && name.size() < static_cast<size_t>(TOKEN_BUF_SIZE);
    if (plain) fuzz::Expect(join == copy, "the cuts differ on a list of one name a line");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    unsigned char mode = size ? data[0] : 0;
    const uint8_t *file = size ? data + 1 : data;
    size_t fileSize = size ? size - 1 : 0;

    std::string text(reinterpret_cast<const char *>(file), fileSize);
    text = text.c_str(); // the readers see the text up to its first NUL
    CheckText(text);

    // The same bytes as a site's file: what the reader takes in (at most
    // LINE_BUF_SIZE - 1 bytes, DISKS upper-cased up to the marker) is what
    // the text cut gives.
    const bool upper = (mode & 1) != 0;
    const std::string dir = fuzz::ScratchDir();
    unlink((dir + "/disks").c_str());
    unlink((dir + "/DISKS").c_str());
    fuzz::WriteScratchFile(upper ? "DISKS" : "disks", file, fileSize);
    std::string expect = text.substr(0, LINE_BUF_SIZE - 1);
    if (upper) {
        UpperCaseDisksList(expect.data());
        const size_t marker = expect.find(kEnd);
        for (size_t i = 0; i < expect.size() && i < marker; ++i)
            fuzz::Expect(!(expect[i] >= 'a' && expect[i] <= 'z'),
                         "a lower-case letter before the marker of DISKS");
    }
    for (DisksCut cut : {DISKS_COPY, DISKS_JOIN}) {
        std::vector<std::string> names = ReadDisksList(dir.c_str(), cut);
        fuzz::Expect(names == ParseDisksList(expect.c_str(), cut),
                     "the file reader and the text cut disagree");
    }
    return 0;
}
