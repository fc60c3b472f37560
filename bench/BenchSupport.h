// Pieces the benchmarks against GNU gettext share: compiling a catalog with
// msgfmt, and a reporter that keeps each run's CPU time for the ratio table
// a benchmark prints after Google Benchmark's own.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace bench {

// Compiles po into mo with the host's msgfmt; true when it succeeded.
inline bool RunMsgfmt(const std::string &po, const std::string &mo) {
    pid_t pid = fork();
    if (pid == 0) {
        execlp("msgfmt", "msgfmt", "-o", mo.c_str(), po.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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

} // namespace bench
