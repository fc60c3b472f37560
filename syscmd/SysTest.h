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
    std::string out =
        testsupport::RunProgram({"/bin/sh", "-c", cmd}, "", {}, "", testsupport::Stderr::Apart).out;
    for (size_t start = 0, end; start < out.size(); start = end + 1) {
        end = out.find('\n', start);
        if (end == std::string::npos) end = out.size() - 1;
        v.push_back(out.substr(start, end + 1 - start));
    }
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
