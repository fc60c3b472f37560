// Benchmarks of the run log, the line readers and the in-place editors on
// files of realistic size (a package list of 10,000 lines).

#include "utils.h"

#include "TestSupport.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using testsupport::TempDir;

// Writes `lines` lines of a package list: directives with a continuation
// now and then and a comment every tenth line.
void WriteList(const std::string &path, int lines) {
    std::ofstream f(path);
    for (int i = 0; i < lines; ++i) {
        if (i % 10 == 0)
            f << "# section " << i << "\n";
        else if (i % 7 == 0)
            f << "c bin/tool" << i << " \\\n  mode 755\n";
        else
            f << "c lib/file" << i << ".so mode 644 owner root group lp // note\n";
    }
}

void BM_PutLogMsg(benchmark::State &state) {
    my_name = SaveStr("utils_bench_%d", static_cast<int>(getpid()));
    flUseLog = 1;
    for (auto _ : state)
        PutLogMsg("%s/sh -c \"/bin/cp -p /tmp/DornaInstall/pkg/tool\n", "/bin");
    flUseLog = 0;
    std::string log = std::string("/tmp/") + my_name + ".log";
    unlink(log.c_str());
}
BENCHMARK(BM_PutLogMsg);

// Reads a 10,000-line list to its end with `read` (GetFileLine or GetLine).
void ReadList10k(benchmark::State &state, int (*read)()) {
    TempDir s;
    std::string path = s.path + "/pkg.list";
    WriteList(path, 10000);
    for (auto _ : state) {
        OpenInputFile(path.c_str(), 2);
        int n = 0;
        while (read())
            ++n;
        CloseInputFile(); // GetLine leaves the file open at its end
        benchmark::DoNotOptimize(n);
    }
}

void BM_GetFileLine10k(benchmark::State &state) {
    ReadList10k(state, GetFileLine);
}
BENCHMARK(BM_GetFileLine10k)->Unit(benchmark::kMillisecond);

void BM_GetLine10k(benchmark::State &state) {
    ReadList10k(state, GetLine);
}
BENCHMARK(BM_GetLine10k)->Unit(benchmark::kMillisecond);

void BM_FileChange10k(benchmark::State &state) {
    TempDir s;
    std::string base = s.path + "/pkg";
    WriteList(base + ".list", 10000);
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        FileChange(base.c_str(), "list", flip ? "root" : "ROOT", flip ? "ROOT" : "root");
    }
}
BENCHMARK(BM_FileChange10k)->Unit(benchmark::kMillisecond);

void BM_FileInsertNumbered10k(benchmark::State &state) {
    TempDir s;
    std::string base = s.path + "/pkg";
    for (auto _ : state) {
        state.PauseTiming();
        WriteList(base + ".list", 10000);
        state.ResumeTiming();
        FileInsert(base.c_str(), "list", "%s1#%#1 \n");
    }
}
BENCHMARK(BM_FileInsertNumbered10k)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
