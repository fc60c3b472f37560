// Fuzz target: the PO reader of the catalog sources and the printf directive
// reader on arbitrary text.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "PoFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<PoEntry> entries;
    std::string err;
    bool ok = PoParse(reinterpret_cast<const char *>(data), size, entries, err);
    fuzz::Expect(ok == err.empty(), "a failure without a message, or a message on success");
    for (const PoEntry &e : entries) {
        fuzz::Expect(e.Line >= 1, "an entry without its line");
        for (const std::string *s : {&e.Id, &e.Str}) {
            std::vector<std::string> d = PoDirectives(*s);
            fuzz::Expect(d.size() <= s->size(), "more directives than characters");
        }
    }
    return 0;
}
