// Replay.cpp - runs a fuzz target over checked-in inputs without libFuzzer.
//
// Usage: <target>_replay PATH...   (files, or directories whose regular files
// are replayed in name order). Every input goes through the same entry point
// the fuzzer calls; a crash, a sanitizer report or a broken promise fails the
// test. An empty corpus is a failure too: it would test nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

std::vector<std::filesystem::path> Inputs(const char *arg) {
    std::vector<std::filesystem::path> files;
    std::filesystem::path p(arg);
    if (std::filesystem::is_directory(p)) {
        for (const auto &e : std::filesystem::directory_iterator(p))
            if (e.is_regular_file()) files.push_back(e.path());
        std::sort(files.begin(), files.end());
    } else {
        files.push_back(p);
    }
    return files;
}

} // namespace

int main(int argc, char **argv) {
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto &file : Inputs(argv[i])) {
            std::ifstream in(file, std::ios::binary);
            if (!in) {
                fprintf(stderr, "replay: cannot read %s\n", file.c_str());
                return 1;
            }
            std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
            fprintf(stderr, "replay: %s (%zu bytes)\n", file.c_str(), bytes.size());
            // A copy of exactly the input's size, so that a read past its end
            // is caught by the sanitizers as the fuzzer would catch it.
            std::vector<uint8_t> exact(bytes.begin(), bytes.end());
            LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
            ++replayed;
        }
    }
    if (replayed == 0) {
        fprintf(stderr, "replay: no inputs found\n");
        return 1;
    }
    printf("replayed %zu inputs\n", replayed);
    return 0;
}
