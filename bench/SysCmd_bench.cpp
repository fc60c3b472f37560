// Resolution of the command table against the plain way of finding the same
// commands: a loop that stats every still unfound name in every directory of
// the same search order. Run with the host's PATH and with a directory of
// 10,000 entries added to PATH; the ratio of the two is printed at the end.
//
// The cost of running one command on our side: SysCmd with the log in use
// (line, progress dot, log entry, child, wait) against posix_spawn and
// waitpid of the same line, and nothing else. CPU time is this process's
// own; the shell and the command are children and do not count. The same for
// a plain line, which SysCmd starts without a shell, against posix_spawn of
// the program with the log opened onto its two streams.
//
// Rows of bench/run:
// clang-format off
// bench-row: command table resolution against a stat loop | BM_InitSysCmdList/0 | BM_StatLoop/0 | -
// bench-row: the same with 10,000 more names on PATH | BM_InitSysCmdList/1 | BM_StatLoop/1 | -
// bench-row: SysCmd's own CPU per logged command against posix_spawn and waitpid | BM_SysCmdLogged/iterations:1000 | BM_SpawnWait/iterations:1000 | -
// bench-row: SysCmd's own CPU per logged plain command (no shell) against posix_spawn and waitpid of the program | BM_SysCmdDirect/iterations:1000 | BM_SpawnProgram/iterations:1000 | -
// clang-format on

#include "SysCmd.h"

#include "MemMgr.h"
#include "TestSupport.h"
#include "utils.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char kSearchPaths[] = "/usr/sbin:/usr/bin:/bin:/sbin:/etc:/usr/etc";
std::string g_hostPath;
std::string g_bigDir;

// PATH for a scenario: 0 the host's, 1 the host's and a directory of 10,000.
std::string ScenarioPath(int scenario) {
    return scenario == 0 ? g_hostPath : g_hostPath + ":" + g_bigDir;
}

// Puts the table back as at program start, releasing what resolution made.
void ResetTable() {
    std::set<const char *> paths;
    for (int i = 0; i < COMLIST_SIZE; ++i) {
        if (ComList[i].path != nullptr) paths.insert(ComList[i].path);
        ComList[i].path = nullptr;
    }
    for (const char *p : paths)
        PutMem(const_cast<char *>(p));
    PutMem(FullSearchPath);
    FullSearchPath = nullptr;
    memcpy(SearchPaths, kSearchPaths, sizeof kSearchPaths);
    flInitSysCmd = 1;
}

void BM_InitSysCmdList(benchmark::State &state) {
    setenv("PATH", ScenarioPath(static_cast<int>(state.range(0))).c_str(), 1);
    for (auto _ : state) {
        state.PauseTiming();
        ResetTable();
        state.ResumeTiming();
        InitSysCmdList();
    }
    int found = 0;
    for (int i = CMD_LINE + 1; i <= COMLIST_LAST_CMD; ++i)
        found += ComList[i].path != nullptr;
    state.counters["resolved"] = found;
}

void BM_StatLoop(benchmark::State &state) {
    std::string all =
        std::string(kSearchPaths) + ":" + ScenarioPath(static_cast<int>(state.range(0)));
    std::vector<std::string> dirs;
    for (size_t s = 0; s <= all.size();) {
        size_t e = all.find(':', s);
        if (e == std::string::npos) e = all.size();
        if (e > s) dirs.push_back(all.substr(s, e - s));
        s = e + 1;
    }
    int found = 0;
    for (auto _ : state) {
        bool done[COMLIST_SIZE] = {};
        int left = COMLIST_LAST_CMD - 1;
        found = 0;
        char path[4096];
        for (const std::string &d : dirs) {
            for (int i = CMD_LINE + 1; i <= COMLIST_LAST_CMD; ++i) {
                if (done[i]) continue;
                snprintf(path, sizeof path, "%s/%s", d.c_str(), ComList[i].name);
                struct stat st;
                if (lstat(path, &st) == 0) {
                    done[i] = true;
                    --left;
                    ++found;
                }
            }
            if (left == 0) break;
        }
        benchmark::DoNotOptimize(done);
    }
    state.counters["resolved"] = found;
}

BENCHMARK(BM_InitSysCmdList)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StatLoop)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The line both sides of the command benchmark run: what SysCmd makes of
// row 1 with "true" while the log is in use.
std::string LoggedTrueLine() {
    std::string log = std::string("/tmp/") + my_name + ".log";
    return "true 1>>" + log + " 2>>" + log;
}

// Sends standard output (SysCmd's progress dots) to /dev/null while it lives.
struct QuietStdout {
    int saved = dup(1);
    QuietStdout() {
        fflush(stdout);
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, 1);
            close(null);
        }
    }
    ~QuietStdout() {
        fflush(stdout);
        if (saved >= 0) {
            dup2(saved, 1);
            close(saved);
        }
    }
};

// Times SysCmd running line as command row CMD_LINE with the log on, as the
// installer's steps run their commands.
void TimeLoggedLine(benchmark::State &state, const char *line) {
    if (ComList[CMD_SH].path == nullptr) InitSysCmdList();
    QuietStdout quiet;
    flUseLog = 1;
    flSysCmdLog = 1;
    for (auto _ : state)
        if (SysCmd(CMD_LINE, RUN_WARN, "%s", line) != 0) state.SkipWithError("true failed");
    flUseLog = 0;
    flSysCmdLog = 0;
}

void BM_SysCmdLogged(benchmark::State &state) {
    TimeLoggedLine(state, "true");
}

void BM_SpawnWait(benchmark::State &state) {
    const std::string line = LoggedTrueLine();
    const char *argv[] = {"sh", "-c", line.c_str(), nullptr};
    for (auto _ : state) {
        pid_t pid;
        int status = -1;
        if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char *const *>(argv),
                        environ) != 0 ||
            waitpid(pid, &status, 0) != pid || status != 0)
            state.SkipWithError("sh -c true failed");
    }
}

void BM_SysCmdDirect(benchmark::State &state) {
    TimeLoggedLine(state, "/bin/true");
}

void BM_SpawnProgram(benchmark::State &state) {
    const std::string log = std::string("/tmp/") + my_name + ".log";
    const char *argv[] = {"/bin/true", nullptr};
    for (auto _ : state) {
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
        posix_spawn_file_actions_addopen(&fa, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
        pid_t pid;
        int status = -1;
        if (posix_spawn(&pid, argv[0], &fa, nullptr, const_cast<char *const *>(argv), environ) !=
                0 ||
            waitpid(pid, &status, 0) != pid || status != 0)
            state.SkipWithError("true failed");
        posix_spawn_file_actions_destroy(&fa);
    }
}

BENCHMARK(BM_SysCmdLogged)->Iterations(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpawnWait)->Iterations(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SysCmdDirect)->Iterations(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpawnProgram)->Iterations(1000)->Unit(benchmark::kMicrosecond);

// Keeps the time per iteration of every run, to print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> times;
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs)
            times[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

void MakeBigDir() {
    char tmpl[] = "/tmp/syscmd_bench_XXXXXX";
    g_bigDir = mkdtemp(tmpl);
    for (int i = 0; i < 10000; ++i) {
        std::string f = g_bigDir + "/entry_" + std::to_string(i);
        FILE *fp = fopen(f.c_str(), "w");
        if (fp) fclose(fp);
    }
}

void RemoveBigDir() {
    testsupport::ChildResult r = testsupport::RunProgram({"rm", "-rf", g_bigDir});
    if (r.status != 0) fprintf(stderr, "%s", r.out.c_str());
}

} // namespace

int main(int argc, char **argv) {
    const char *p = getenv("PATH");
    g_hostPath = p ? p : "";
    // The log of the command benchmark, private to this run.
    my_name = SaveStr("syscmd_bench_%d", static_cast<int>(getpid()));
    MakeBigDir();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    RemoveBigDir();
    unlink(("/tmp/" + std::string(my_name) + ".log").c_str());
    for (const char *arg : {"0", "1"}) {
        auto a = reporter.times.find(std::string("BM_InitSysCmdList/") + arg);
        auto b = reporter.times.find(std::string("BM_StatLoop/") + arg);
        if (a == reporter.times.end() || b == reporter.times.end() || b->second <= 0) continue;
        printf("InitSysCmdList / stat loop, %s: %.2f (target at most 1.0)\n",
               arg[0] == '0' ? "host PATH" : "PATH with a directory of 10,000 entries",
               a->second / b->second);
    }
    return 0;
}
