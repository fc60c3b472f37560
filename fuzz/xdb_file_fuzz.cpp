// Fuzz target: xdb's readers on arbitrary record files: list, check, dump,
// export, and a get of every key that list shows.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "FuzzSupport.h"
#include "XdbEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string db = fuzz::WriteScratchFile("file.xdb", data, size);
    const std::string &dir = fuzz::ScratchDir();
    std::string text = dir + "/file.txt";
    fuzz::Xdb({"list", db});
    int check = fuzz::Xdb({"check", db});
    fuzz::Xdb({"dump", db});
    fuzz::Xdb({"dump", "--readable", db});
    int exported = fuzz::Xdb({"export", db, text});
    // A file that check calls sound can be exported whole.
    if (check == 0) fuzz::Expect(exported == 0, "a sound file cannot be exported");
    if (exported == 0) {
        // Every exported key is found again by get.
        std::ifstream in(text, std::ios::binary);
        std::string line;
        std::getline(in, line); // the header line
        int keys = 0;
        while (std::getline(in, line) && keys < 8) {
            size_t tab = line.find('\t');
            if (tab == std::string::npos || line.find('\\') != std::string::npos) continue;
            ++keys;
            fuzz::Expect(fuzz::Xdb({"get", "--", db, line.substr(0, tab)}) == 0,
                         "an exported key is not found by get");
        }
    }
    return 0;
}
