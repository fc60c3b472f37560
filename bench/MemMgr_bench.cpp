// Block memory manager against the C library's allocator.
//
// Each case replays one seeded trace through GetMem/AdjustMem/PutMem (ours)
// and through calloc/realloc/free (glibc); both zero-fill new allocations.
// At the end the ratio ns/op ours / glibc of every case is printed.
//   churn_N:  a live set of N objects, one million operations (allocations,
//             frees of random objects, resizes); sizes 16 B to 4 KiB
//             log-uniform, 2 % 4 to 64 KiB, 0.5 % 64 KiB to 1 MiB;
//   strings:  100,000 SaveStr of 8 to 200 characters against strdup, then
//             half of them freed in random order;
//   growth:   one text grown with AdjustMem from 16 B to 60 KiB in 64-byte steps.
//
// Rows of bench/run:
// clang-format off
// bench-row: allocator churn, 1,000 live objects | churn_1000/ours | churn_1000/glibc | ratio<=1.5
// bench-row: allocator churn, 10,000 live objects | churn_10000/ours | churn_10000/glibc | ratio<=1.5
// bench-row: SaveStr against strdup | strings/ours | strings/glibc | ratio<=1.5
// bench-row: SaveStr_ against strdup | strings/ours_copy | strings/glibc | ratio<=1.2
// bench-row: AdjustMem growth against realloc | growth/ours | growth/glibc | -
// clang-format on
#include "MemMgr.h"
#include "utils.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

enum class OpKind : uint8_t { Get, Adjust, Put };

struct Op {
    OpKind kind;
    uint32_t slot; // index into the table of live pointers
    uint32_t size; // bytes for Get and Adjust
};

struct Trace {
    std::vector<Op> ops;
    uint32_t slots = 0;
};

uint32_t LogUniform(std::mt19937_64 &rng, double lo, double hi) {
    std::uniform_real_distribution<double> u(std::log(lo), std::log(hi));
    return (uint32_t)std::exp(u(rng));
}

uint32_t ChurnSize(std::mt19937_64 &rng) {
    std::uniform_int_distribution<int> pick(0, 999);
    int p = pick(rng);
    if (p < 5) return LogUniform(rng, 65536, 1 << 20);
    if (p < 25) return LogUniform(rng, 4096, 65536);
    return LogUniform(rng, 16, 4096);
}

// Fills the live set, then keeps it full: each step frees (80 %) or resizes
// (20 %) a random live object, and a freed slot is refilled by the next step.
Trace MakeChurn(uint32_t live, uint32_t count, uint64_t seed) {
    std::mt19937_64 rng(seed);
    Trace t;
    t.slots = live;
    std::vector<uint32_t> freeSlots, used;
    std::vector<uint32_t> where(live); // position of a used slot in `used`
    for (uint32_t s = live; s-- > 0;)
        freeSlots.push_back(s);
    std::uniform_int_distribution<int> pct(0, 99);
    while (t.ops.size() < count) {
        if (!freeSlots.empty()) {
            uint32_t s = freeSlots.back();
            freeSlots.pop_back();
            where[s] = (uint32_t)used.size();
            used.push_back(s);
            t.ops.push_back({OpKind::Get, s, ChurnSize(rng)});
            continue;
        }
        uint32_t s = used[std::uniform_int_distribution<size_t>(0, used.size() - 1)(rng)];
        if (pct(rng) < 20) {
            t.ops.push_back({OpKind::Adjust, s, ChurnSize(rng)});
            continue;
        }
        t.ops.push_back({OpKind::Put, s, 0});
        uint32_t last = used.back();
        used[where[s]] = last;
        where[last] = where[s];
        used.pop_back();
        freeSlots.push_back(s);
    }
    return t;
}

struct Ours {
    static void *Get(size_t n) { return GetMem((long)n); }
    static void *Adjust(void *p, size_t n) { return AdjustMem(p, (long)n); }
    static void Put(void *p) { PutMem(p); }
};

struct Glibc {
    static void *Get(size_t n) { return calloc(1, n); }
    static void *Adjust(void *p, size_t n) { return realloc(p, n); }
    static void Put(void *p) { free(p); }
};

template <class A> void Replay(const Trace &t, std::vector<void *> &slot) {
    for (const Op &op : t.ops) {
        switch (op.kind) {
        case OpKind::Get:
            slot[op.slot] = A::Get(op.size);
            static_cast<char *>(slot[op.slot])[op.size - 1] = 1;
            break;
        case OpKind::Adjust:
            slot[op.slot] = A::Adjust(slot[op.slot], op.size);
            static_cast<char *>(slot[op.slot])[op.size - 1] = 1;
            break;
        case OpKind::Put:
            A::Put(slot[op.slot]);
            slot[op.slot] = nullptr;
            break;
        }
    }
    for (void *&p : slot) {
        A::Put(p);
        p = nullptr;
    }
}

std::map<std::string, double> OpsPerCase; // operations of one iteration, by case

template <class A> void BenchChurn(benchmark::State &state, const Trace *t) {
    std::vector<void *> slot(t->slots, nullptr);
    for (auto _ : state)
        Replay<A>(*t, slot);
    state.SetItemsProcessed((int64_t)state.iterations() * (int64_t)t->ops.size());
}

// Texts of 8 to 200 characters and the random order in which half are freed.
struct StringTrace {
    std::vector<std::string> texts;
    std::vector<uint32_t> freeOrder;
};

StringTrace MakeStrings(uint32_t count, uint64_t seed) {
    std::mt19937_64 rng(seed);
    StringTrace t;
    std::uniform_int_distribution<int> len(8, 200), ch('a', 'z');
    for (uint32_t k = 0; k < count; ++k) {
        std::string s(len(rng), ' ');
        for (char &c : s)
            c = (char)ch(rng);
        t.texts.push_back(std::move(s));
    }
    std::vector<uint32_t> all(count);
    for (uint32_t k = 0; k < count; ++k)
        all[k] = k;
    std::shuffle(all.begin(), all.end(), rng);
    t.freeOrder.assign(all.begin(), all.begin() + count / 2);
    return t;
}

template <class Save, class Put> void BenchStrings(benchmark::State &state, const StringTrace *t) {
    std::vector<char *> kept(t->texts.size());
    for (auto _ : state) {
        for (size_t k = 0; k < t->texts.size(); ++k)
            kept[k] = Save()(t->texts[k].c_str());
        for (uint32_t k : t->freeOrder) {
            Put()(kept[k]);
            kept[k] = nullptr;
        }
        state.PauseTiming();
        for (char *&p : kept) {
            if (p) Put()(p);
            p = nullptr;
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed((int64_t)state.iterations() *
                            (int64_t)(t->texts.size() + t->freeOrder.size()));
}

struct SaveOurs {
    char *operator()(const char *s) const { return SaveStr("%s", s); }
};
struct SaveCopyOurs {
    char *operator()(const char *s) const { return SaveStr_(s); }
};
struct PutOurs {
    void operator()(char *p) const { PutMem(p); }
};
struct SaveGlibc {
    char *operator()(const char *s) const { return strdup(s); }
};
struct PutGlibc {
    void operator()(char *p) const { free(p); }
};

constexpr size_t kGrowFrom = 16, kGrowTo = 60 * 1024, kGrowStep = 64;

template <class A> void BenchGrowth(benchmark::State &state) {
    for (auto _ : state) {
        char *p = static_cast<char *>(A::Get(kGrowFrom));
        for (size_t n = kGrowFrom + kGrowStep; n <= kGrowTo; n += kGrowStep) {
            p = static_cast<char *>(A::Adjust(p, n));
            p[n - 1] = 'x';
        }
        benchmark::DoNotOptimize(p);
        A::Put(p);
    }
    state.SetItemsProcessed((int64_t)state.iterations() *
                            (int64_t)((kGrowTo - kGrowFrom) / kGrowStep + 2));
}

// Prints the usual table, then CPU ns/op of each case and the ratio ours / glibc
// (CPU time: the machine may be shared, and waiting for it is not our cost).
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred || r.iterations == 0) continue;
            std::string name = r.run_name.function_name;
            double ops = OpsPerCase[name.substr(0, name.find('/'))];
            if (ops <= 0) continue;
            // With --benchmark_repetitions the fastest repetition counts: the
            // machine's other load only ever adds time.
            double ns = r.cpu_accumulated_time / (double)r.iterations / ops * 1e9;
            auto it = nsPerOp_.find(name);
            if (it == nsPerOp_.end() || ns < it->second) nsPerOp_[name] = ns;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        printf("\n%-14s %12s %12s %8s\n", "case", "ours ns/op", "glibc ns/op", "ratio");
        for (const auto &[name, ns] : nsPerOp_) {
            size_t slash = name.find('/');
            if (name.compare(slash + 1, std::string::npos, "glibc") == 0) continue;
            std::string base = name.substr(0, slash);
            auto g = nsPerOp_.find(base + "/glibc");
            if (g == nsPerOp_.end()) continue;
            printf("%-14s %12.1f %12.1f %8.2f   (%s)\n", base.c_str(), ns, g->second,
                   ns / g->second, name.c_str() + slash + 1);
        }
        fflush(stdout);
    }

  private:
    std::map<std::string, double> nsPerOp_;
};

} // namespace

int main(int argc, char **argv) {
    static const Trace churn1k = MakeChurn(1000, 1000000, 1207);
    static const Trace churn10k = MakeChurn(10000, 1000000, 1208);
    static const StringTrace strings = MakeStrings(100000, 1209);
    OpsPerCase["churn_1000"] = (double)churn1k.ops.size();
    OpsPerCase["churn_10000"] = (double)churn10k.ops.size();
    OpsPerCase["strings"] = (double)(strings.texts.size() + strings.freeOrder.size());
    OpsPerCase["growth"] = (double)((kGrowTo - kGrowFrom) / kGrowStep + 2);

    benchmark::RegisterBenchmark("churn_1000/ours", BenchChurn<Ours>, &churn1k)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("churn_1000/glibc", BenchChurn<Glibc>, &churn1k)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("churn_10000/ours", BenchChurn<Ours>, &churn10k)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("churn_10000/glibc", BenchChurn<Glibc>, &churn10k)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("strings/ours", BenchStrings<SaveOurs, PutOurs>, &strings)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("strings/ours_copy", BenchStrings<SaveCopyOurs, PutOurs>, &strings)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("strings/glibc", BenchStrings<SaveGlibc, PutGlibc>, &strings)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("growth/ours", BenchGrowth<Ours>)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("growth/glibc", BenchGrowth<Glibc>)->Unit(benchmark::kMicrosecond);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
