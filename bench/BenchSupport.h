// Pieces the benchmarks against GNU gettext share: compiling a catalog with
// msgfmt, and a reporter that keeps each run's CPU time for the ratio table
// a benchmark prints after Google Benchmark's own.
#pragma once

#include "TestSupport.h"

#include <benchmark/benchmark.h>

#include <clocale>
#include <cstdio>
#include <libintl.h>
#include <map>
#include <string>
#include <vector>

namespace bench {

// Compiles po into mo with the host's msgfmt; true when it succeeded. What
// msgfmt said goes to standard error.
inline bool RunMsgfmt(const std::string &po, const std::string &mo) {
    testsupport::ChildResult r = testsupport::RunProgram({"msgfmt", "-o", mo, po});
    fputs(r.out.c_str(), stderr);
    return r.status == 0;
}

// Times the first lookup in each of `copies` fresh copies of a compiled
// catalog, <domain>_<n> under dir, so that every iteration pays for opening
// and reading the file as a program's first lookup does; msgid(n) is the text
// looked up in copy n. Stops with an error when the copies run out.
template <class MsgId>
void GettextFirstLookups(benchmark::State &state, const std::string &dir, const std::string &domain,
                         int copies, MsgId msgid) {
    int copy = 0;
    for (auto _ : state) {
        if (copy == copies) {
            state.SkipWithError("out of fresh catalogs");
            break;
        }
        std::string name = domain + "_" + std::to_string(copy);
        bindtextdomain(name.c_str(), dir.c_str());
        benchmark::DoNotOptimize(dcgettext(name.c_str(), msgid(copy), LC_MESSAGES));
        ++copy;
    }
}

// Keeps the time per iteration of every run, for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs)
            if (!r.error_occurred) times[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

// Sets the C.UTF-8 locale that gettext needs to translate, runs the
// benchmarks the command line names and prints the ratio table with print.
inline void RunAgainstGettext(int *argc, char **argv, void (*print)(const RatioReporter &)) {
    if (!setlocale(LC_ALL, "C.UTF-8"))
        fprintf(stderr, "no C.UTF-8 locale: gettext will not translate\n");
    benchmark::Initialize(argc, argv);
    RatioReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    print(rep);
    benchmark::Shutdown();
}

} // namespace bench
