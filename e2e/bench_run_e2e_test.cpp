// bench_run_e2e_test.cpp - bench/run, the one table of every benchmark, run as
// a program on a build tree whose benchmark program is a stand-in: a script
// that answers each start with the next figures of a list, so the table's
// arithmetic (fastest repetition, median run, range, verdict) can be checked
// against known numbers.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace testsupport;

// The allocator's first churn row; its program is bench/MemMgr_bench.
const char kRow[] = "allocator churn, 1,000 live objects";

// Stands in for a Google Benchmark program. Start N takes line N of
// `figures` beside it ("OURS PEER" in ns, or "fail") and writes both as the
// fastest of two repetitions to the --benchmark_out file; each start's
// arguments go to `args`, one line each.
const char kStandIn[] = R"(#!/bin/sh
here=$(dirname "$0")
echo "$*" >> "$here/args"
n=$(( $(cat "$here/starts" 2>/dev/null || echo 0) + 1 ))
echo "$n" > "$here/starts"
line=$(sed -n "${n}p" "$here/figures")
[ "$line" = fail ] && exit 3
set -- $line "$@"
ours=$1; peer=$2; shift 2
for arg; do case $arg in --benchmark_out=*) out=${arg#--benchmark_out=};; esac; done
cat > "$out" <<EOF
{"benchmarks": [
 {"name": "churn_1000/ours", "run_name": "churn_1000/ours", "run_type": "iteration", "cpu_time": $((ours + 50)), "time_unit": "ns"},
 {"name": "churn_1000/ours", "run_name": "churn_1000/ours", "run_type": "iteration", "cpu_time": $ours, "time_unit": "ns"},
 {"name": "churn_1000/glibc", "run_name": "churn_1000/glibc", "run_type": "iteration", "cpu_time": $peer, "time_unit": "ns"},
 {"name": "churn_1000/glibc", "run_name": "churn_1000/glibc", "run_type": "iteration", "cpu_time": $((peer + 70)), "time_unit": "ns"}
]}
EOF
)";

class BenchRun : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(tmp_.path.empty());
        ASSERT_EQ(Shell("mkdir -p bench", tmp_.path).status, 0);
    }

    // Puts the stand-in in place of the churn program, answering with figures.
    void StandIn(const std::vector<std::string> &figures) {
        std::string text;
        for (const std::string &f : figures)
            text += f + "\n";
        ASSERT_TRUE(WriteFile(tmp_ / "bench/figures", text));
        ASSERT_TRUE(WriteFile(tmp_ / "bench/MemMgr_bench", kStandIn, 0755));
    }

    ChildResult Run(const std::vector<std::string> &args) {
        std::vector<std::string> argv{BENCH_RUN, "--build", tmp_.path, "--only", kRow};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, tmp_.path, {}, "", Stderr::Apart);
    }

    // The cells of the row's line of the table: the columns are set apart by
    // two or more blanks.
    static std::vector<std::string> Cells(const std::string &out) {
        std::vector<std::string> cells;
        for (const std::string &line : Lines(out)) {
            if (line.rfind(kRow, 0) != 0) continue;
            size_t at = 0;
            while (at < line.size()) {
                size_t gap = line.find("  ", at);
                std::string cell = line.substr(at, gap == std::string::npos ? gap : gap - at);
                if (!cell.empty()) cells.push_back(cell);
                if (gap == std::string::npos) break;
                at = line.find_first_not_of(' ', gap);
            }
        }
        return cells;
    }

    TempDir tmp_{"bench_run_e2e"};
};

} // namespace

TEST_F(BenchRun, ARowShowsTheMedianRunAndTheRangeOfItsRatio) {
    struct Case {
        const char *what;
        std::vector<std::string> figures; // one line per run
        int runs;
        // label, ours, peer, ratio, range, target, verdict
        std::vector<std::string> cells;
        int status;
    } cases[] = {
        {"three runs: the middle one",
         {"120 100", "160 100", "140 100"},
         3,
         {kRow, "140 ns", "100 ns", "1.40", "1.20-1.60", "ratio<=1.5", "met"},
         0},
        {"the middle run is judged, not the best",
         {"140 100", "160 100", "155 100"},
         3,
         {kRow, "155 ns", "100 ns", "1.55", "1.40-1.60", "ratio<=1.5", "missed"},
         1},
        {"an even number of runs: the lower middle one",
         {"160 100", "120 100"},
         2,
         {kRow, "120 ns", "100 ns", "1.20", "1.20-1.60", "ratio<=1.5", "met"},
         0},
        {"one run has no range",
         {"160 100"},
         1,
         {kRow, "160 ns", "100 ns", "1.60", "-", "ratio<=1.5", "missed"},
         1},
        {"a run without figures is left out",
         {"fail", "130 100", "fail"},
         3,
         {kRow, "130 ns", "100 ns", "1.30", "-", "ratio<=1.5", "met"},
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Shell("rm -f bench/starts bench/args", tmp_.path);
        StandIn(c.figures);
        ChildResult r = Run({"--reps", "2", "--runs", std::to_string(c.runs)});
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_EQ(Cells(r.out), c.cells) << r.out;
        // One start per run, each with the repetitions interleaved.
        std::vector<std::string> args = Lines(ReadFile(tmp_ / "bench/args"));
        EXPECT_EQ(args.size(), static_cast<size_t>(c.runs));
        for (const std::string &a : args) {
            EXPECT_TRUE(Contains(a, "--benchmark_repetitions=2")) << a;
            EXPECT_TRUE(Contains(a, "--benchmark_enable_random_interleaving=true")) << a;
            EXPECT_TRUE(Contains(a, "--benchmark_filter=^(churn_1000/glibc|churn_1000/ours)$"))
                << a;
        }
    }
}

TEST_F(BenchRun, AProgramThatGivesNothingOrIsMissingIsReported) {
    StandIn({"fail", "fail"});
    ChildResult r = Run({"--runs", "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Cells(r.out).back(), "no result (exit 3)") << r.out;

    Shell("rm -f bench/MemMgr_bench", tmp_.path);
    r = Run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Cells(r.out).back(), "not built") << r.out;
}

TEST_F(BenchRun, BadCountsAreUsageErrors) {
    for (const char *opt : {"--runs", "--reps"}) {
        ChildResult r = Run({opt, "0"});
        EXPECT_EQ(r.status, 2) << opt;
        EXPECT_TRUE(Contains(r.err, std::string(opt) + " must be at least 1")) << r.err;
        EXPECT_EQ(r.out, "");
    }
}
