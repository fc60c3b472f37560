// FuzzSupport.h - small helpers shared by the fuzz targets.
//
// Every target defines LLVMFuzzerTestOneInput. Built with clang's libFuzzer
// (the `fuzz` preset) it is a coverage-guided fuzzer; built with the ordinary
// compiler it links Replay.cpp instead and replays the checked-in corpus
// under CTest. Helpers here keep the targets short and alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// A private scratch directory of this process (under /dev/shm, else /tmp),
// made on first use and removed at exit. Readers of files get their input written there.
const std::string &ScratchDir();

// Writes bytes to <ScratchDir>/<name> (replacing it) and returns the path.
std::string WriteScratchFile(const char *name, const uint8_t *data, size_t size);

// Splits the input at its first NUL: the part before it (at most `maxHead`
// bytes) and the rest. Without a NUL, head is `fallback` and rest is all.
struct Split {
    std::string head;
    std::string rest;
};
Split SplitAtNul(const uint8_t *data, size_t size, size_t maxHead, std::string_view fallback);

// Makes the scratch directory the tool root (pToolPath) with its "db"
// directory, once, so that record files named by bare names land there.
void UseScratchAsToolRoot();

// The keys of a key list made with separator and end "\x1f" (as the record
// layers' list functions make it), at most `max` of them; the list is freed.
std::vector<std::string> TakeKeyList(char *list, size_t max);

// Stops the run loudly when a property the code promises does not hold, so
// the fuzzer records the input and the replay test fails on it.
[[noreturn]] void Broken(const char *what);
inline void Expect(bool ok, const char *what) {
    if (!ok) Broken(what);
}

} // namespace fuzz
