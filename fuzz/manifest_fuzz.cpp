// Fuzz target: the reader of the installation manifest. Whatever the bytes,
// it answers with a whole manifest or a reason; a manifest it accepts is
// written back as the same text, and its paths are absolute and unique.
#include <set>
#include <string>

#include "FuzzSupport.h"
#include "setup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const char *text = reinterpret_cast<const char *>(data);
    Manifest m;
    std::string why;
    if (!parseManifest(text, size, &m, &why)) {
        fuzz::Expect(!why.empty(), "a refused manifest without a reason");
        return 0;
    }
    std::set<std::string> paths;
    for (const ManifestEntry &e : m.entries) {
        fuzz::Expect(!e.path.empty() && e.path[0] == '/', "a path that is not absolute");
        fuzz::Expect(paths.insert(e.path).second, "a path listed twice");
    }
    // Comments aside, the writer gives back what the reader took.
    Manifest again;
    const std::string written = formatManifest(m);
    fuzz::Expect(parseManifest(written.data(), written.size(), &again, &why) == 1,
                 "a written manifest is not read back");
    fuzz::Expect(formatManifest(again) == written, "a manifest changes when written twice");
    return 0;
}
