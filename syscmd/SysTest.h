// Helpers of the command layer's tests beyond the common ones: the output
// of a command line as the host's own sh prints it, to compare with what the
// layer reads.
#ifndef DORNA_SYSTEST_H
#define DORNA_SYSTEST_H

#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

namespace systest {

using namespace testsupport;

// The output lines (newlines kept) of a command line run by the host's sh.
inline std::vector<std::string> CommandLines(const std::string &cmd) {
    std::vector<std::string> v;
    FILE *p = popen(cmd.c_str(), "r");
    if (p == nullptr) return v;
    char *line = nullptr;
    size_t cap = 0;
    while (getline(&line, &cap, p) > 0)
        v.push_back(line);
    free(line);
    pclose(p);
    return v;
}

// Directory that holds `name` first on the fixed search order of the host.
inline std::string HostDirOf(const char *name) {
    for (const char *d : {"/usr/sbin", "/usr/bin", "/bin", "/sbin", "/etc", "/usr/etc"}) {
        std::string p = std::string(d) + "/" + name;
        if (Exists(p)) return d;
    }
    return "";
}

} // namespace systest

#endif // DORNA_SYSTEST_H
