// Fuzz target: `xdb import` of arbitrary text. Whatever the text, the import
// either refuses it or writes a file whose export imports again to the same
// records (the text form is stable once written).
#include <fstream>
#include <sstream>
#include <string>

#include "FuzzSupport.h"
#include "XdbEntry.h"

namespace {

std::string ReadBack(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The text form without its header line.
std::string Records(const std::string &text) {
    size_t eol = text.find('\n');
    return eol == std::string::npos ? std::string() : text.substr(eol + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The first byte picks the format asked for: none, plain or tagged.
    static const char *const kForced[] = {nullptr, "--plain", "--tagged"};
    const char *forced = size ? kForced[data[0] % 3] : nullptr;
    std::string text =
        fuzz::WriteScratchFile("import.txt", size ? data + 1 : data, size ? size - 1 : 0);
    const std::string &dir = fuzz::ScratchDir();
    std::string db = dir + "/imported.xdb", again = dir + "/again.xdb";
    std::string out1 = dir + "/export1.txt", out2 = dir + "/export2.txt";
    remove(db.c_str());
    remove(again.c_str());

    std::vector<std::string> args = {"import"};
    if (forced) args.push_back(forced);
    args.push_back("--");
    args.push_back(db);
    args.push_back(text);
    if (fuzz::Xdb(args) != 0) return 0;

    fuzz::Expect(fuzz::Xdb({"check", db}) == 0, "an imported file does not pass check");
    fuzz::Expect(fuzz::Xdb({"export", db, out1}) == 0, "an imported file cannot be exported");
    fuzz::Expect(fuzz::Xdb({"import", again, out1}) == 0, "an export cannot be imported");
    fuzz::Expect(fuzz::Xdb({"export", again, out2}) == 0, "a re-imported file cannot be exported");
    // The records must survive whole. The header line may differ: an import
    // with no records into a plain file leaves an empty file, whose export
    // names no format, and that text imports as an empty tagged file.
    fuzz::Expect(Records(ReadBack(out1)) == Records(ReadBack(out2)),
                 "export, import and export again differ");
    return 0;
}
