// XdbEntry.cpp - runs xdb commands in-process for the fuzz targets.
#include "XdbEntry.h"

#include <cstdio>

namespace fuzz {

int Xdb(std::vector<std::string> args) {
    static bool quiet = false;
    if (!quiet) {
        if (!freopen("/dev/null", "w", stdout)) return -1;
        quiet = true;
    }
    args.insert(args.begin(), "xdb");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = XdbMain(static_cast<int>(args.size()), argv.data());
    fflush(stdout);
    return rc;
}

} // namespace fuzz
