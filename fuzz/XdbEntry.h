// XdbEntry.h - the xdb tool's command line as a function, for fuzz targets
// that run whole xdb commands on arbitrary files and texts. The tool's source
// is compiled into the target with its main renamed to XdbMain.
#pragma once

#include <string>
#include <vector>

int XdbMain(int argc, char **argv);

namespace fuzz {

// Runs `xdb <args...>` in this process and returns its exit status. The
// tool's standard output goes to /dev/null (the fuzzer would drown in it).
int Xdb(std::vector<std::string> args);

} // namespace fuzz
