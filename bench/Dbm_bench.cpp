// Dbm_bench.cpp - lookups in the tagged store against GNU gettext's dcgettext
// on a catalog built by msgfmt from the same texts, in one run.
//
// Sizes 100, 1,000, 10,000 and 50,000 records; keys like "25_1011"; texts of
// 20 to 200 bytes. Key streams: uniform and skewed (a few keys asked for most
// of the time), each with 10 % keys that are not there. Also the load of a
// database (or catalog) plus its first lookup, and plus two lookups (the
// second builds the index). At the end the ratios store / gettext are
// printed.
//
// Rows of bench/run. gettext keeps every catalog it has loaded, so a second
// repetition in the same process would time no load: each repetition runs in
// a process of its own.
// bench-fresh-process
// clang-format off
// bench-row: tagged store, open + first lookup, 1,000 records, against gettext | BM_StoreLoadFirstLookup/1000/0/iterations:400 | BM_GettextLoadFirstLookup/1000/0/iterations:400 | ratio<=1.5
// bench-row: tagged store, open + first lookup, 10,000 records, against a plain read | BM_StoreLoadFirstLookup/10000/0/iterations:400 | BM_PlainReadIntoMemory/10000/0/iterations:400 | ratio<=1.5
// bench-row: tagged store, open + first lookup, 50,000 records, against a plain read | BM_StoreLoadFirstLookup/50000/0/iterations:400 | BM_PlainReadIntoMemory/50000/0/iterations:400 | ratio<=1.5
// bench-row: tagged store, open + two lookups (the second indexes), 10,000 records, against a plain read | BM_StoreLoadTwoLookups/10000/0/iterations:400 | BM_PlainReadIntoMemory/10000/0/iterations:400 | -
// clang-format on
#include "Dbm.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <clocale>
#include <fcntl.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <libintl.h>
#include <map>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const int kSizes[] = {100, 1000, 10000, 50000};
constexpr int kStream = 1 << 16; // keys per stream
constexpr int kLoadCopies = 400; // fresh catalogs for the load benchmark

struct Fixture {
    std::vector<std::string> keys, texts;
    std::string dbPath;
    std::vector<std::string> uniform, skewed; // key streams with 10 % misses
    std::string domain;
};

std::string g_dir;
std::map<int, Fixture> g_fix;

std::string KeyOf(int i) {
    return std::to_string(20 + i / 1000) + "_" + std::to_string(1000 + i % 1000);
}

Fixture &Get(int n) {
    auto it = g_fix.find(n);
    if (it != g_fix.end()) return it->second;
    Fixture &f = g_fix[n];
    std::mt19937 rng(n);
    for (int i = 0; i < n; ++i) {
        f.keys.push_back(KeyOf(i));
        std::string t(20 + rng() % 181, ' ');
        for (char &c : t)
            c = static_cast<char>('a' + rng() % 26);
        f.texts.push_back(t);
    }
    // The tagged database.
    f.dbPath = g_dir + "/db" + std::to_string(n) + ".xdb";
    DbmSetV4DriverPathHandling();
    DbT *db = DbTOpen(f.dbPath.c_str(), DBT_NOARCHIVE);
    for (int i = 0; i < n; ++i)
        DbmTPutRecord(db, f.keys[i].c_str(), f.texts[i].c_str(),
                      static_cast<int>(f.texts[i].size()) + 1);
    DbmTArchiveDb(db);
    DbTClose(db);
    // The catalog: one .po, msgfmt, and hard links under fresh domain names
    // for the load benchmark (gettext keeps every catalog it loaded).
    f.domain = "bench" + std::to_string(n);
    std::string po = g_dir + "/" + f.domain + ".po";
    FILE *out = fopen(po.c_str(), "w");
    fprintf(out, "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n");
    for (int i = 0; i < n; ++i)
        fprintf(out, "msgid \"%s\"\nmsgstr \"%s\"\n\n", f.keys[i].c_str(), f.texts[i].c_str());
    fclose(out);
    std::string mo = g_dir + "/loc/C.UTF-8/LC_MESSAGES/" + f.domain + ".mo";
    if (!bench::RunMsgfmt(po, mo)) fprintf(stderr, "msgfmt failed for %s\n", po.c_str());
    for (int c = 0; c < kLoadCopies; ++c) {
        std::string link =
            g_dir + "/loc/C.UTF-8/LC_MESSAGES/" + f.domain + "_" + std::to_string(c) + ".mo";
        if (::link(mo.c_str(), link.c_str()) != 0) perror(link.c_str());
    }
    bindtextdomain(f.domain.c_str(), (g_dir + "/loc").c_str());
    // Streams: 90 % hits, 10 % misses; skewed hits follow a Zipf-like law.
    std::uniform_real_distribution<double> u(0, 1);
    for (int i = 0; i < kStream; ++i) {
        bool miss = rng() % 10 == 0;
        std::string missKey = "99_" + std::to_string(rng() % 100000);
        f.uniform.push_back(miss ? missKey : f.keys[rng() % n]);
        int skewIndex = static_cast<int>(std::pow(u(rng), 4.0) * n);
        f.skewed.push_back(miss ? missKey : f.keys[skewIndex < n ? skewIndex : n - 1]);
    }
    return f;
}

void StoreLookup(benchmark::State &state, uint32_t flags) {
    Fixture &f = Get(static_cast<int>(state.range(0)));
    const std::vector<std::string> &stream = state.range(1) ? f.skewed : f.uniform;
    DbmSetV4DriverPathHandling();
    DbT *db = DbTOpen(f.dbPath.c_str(), flags);
    static char buf[65536];
    size_t i = 0, found = 0;
    for (auto _ : state) {
        found += DbmTGetRecord(db, stream[i].c_str(), buf) > 0;
        i = (i + 1) & (kStream - 1);
    }
    benchmark::DoNotOptimize(found);
    DbTClose(db);
}

void BM_StoreLookup(benchmark::State &state) {
    StoreLookup(state, 0);
}
void BM_StoreLookupNoRefresh(benchmark::State &state) {
    StoreLookup(state, DBT_NOREFRESH);
}

void BM_GettextLookup(benchmark::State &state) {
    Fixture &f = Get(static_cast<int>(state.range(0)));
    const std::vector<std::string> &stream = state.range(1) ? f.skewed : f.uniform;
    const char *probe = dcgettext(f.domain.c_str(), f.keys[0].c_str(), LC_MESSAGES);
    if (strcmp(probe, f.texts[0].c_str()) != 0) {
        state.SkipWithError("gettext does not find the catalog");
        return;
    }
    size_t i = 0, found = 0;
    for (auto _ : state) {
        const char *key = stream[i].c_str();
        found += dcgettext(f.domain.c_str(), key, LC_MESSAGES) != key;
        i = (i + 1) & (kStream - 1);
    }
    benchmark::DoNotOptimize(found);
}

// Opens the store and asks `lookups` questions of it, as a program does.
void LoadAndLookUp(benchmark::State &state, int lookups) {
    Fixture &f = Get(static_cast<int>(state.range(0)));
    static char buf[65536];
    size_t i = 0;
    for (auto _ : state) {
        DbmSetV4DriverPathHandling();
        DbT *db = DbTOpen(f.dbPath.c_str(), 0);
        for (int k = 0; k < lookups; ++k)
            benchmark::DoNotOptimize(
                DbmTGetRecord(db, f.uniform[i++ & (kStream - 1)].c_str(), buf));
        state.PauseTiming();
        DbTClose(db);
        state.ResumeTiming();
    }
}

void BM_StoreLoadFirstLookup(benchmark::State &state) {
    LoadAndLookUp(state, 1);
}

// A program that asks more than one question: the second lookup builds the
// index (one walk of the whole image).
void BM_StoreLoadTwoLookups(benchmark::State &state) {
    LoadAndLookUp(state, 2);
}

// The floor of a load: open the file, read it whole into new memory in one
// call, close it, free the memory. The file is read to a cache-line boundary
// inside the block: read() copies into a buffer off a 32-byte boundary up to
// a quarter slower, and where malloc's 16-byte alignment falls is chance.
// (Not aligned_alloc: its blocks are now and then carved from fresh pages,
// and their faults would land on this side.)
void BM_PlainReadIntoMemory(benchmark::State &state) {
    Fixture &f = Get(static_cast<int>(state.range(0)));
    size_t total = 0;
    for (auto _ : state) {
        int fd = open(f.dbPath.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st;
        if (fd < 0 || fstat(fd, &st) != 0) {
            state.SkipWithError("cannot open the database file");
            break;
        }
        char *block = static_cast<char *>(malloc(st.st_size + 63));
        auto *buf = reinterpret_cast<char *>((reinterpret_cast<uintptr_t>(block) + 63) & ~63ull);
        ssize_t got = block ? read(fd, buf, st.st_size) : -1;
        close(fd);
        if (got != st.st_size) {
            free(block);
            state.SkipWithError("short read");
            break;
        }
        benchmark::DoNotOptimize(buf);
        total += static_cast<size_t>(got);
        free(block);
    }
    benchmark::DoNotOptimize(total);
}

void BM_GettextLoadFirstLookup(benchmark::State &state) {
    Fixture &f = Get(static_cast<int>(state.range(0)));
    bench::GettextFirstLookups(state, g_dir + "/loc", f.domain, kLoadCopies,
                               [&f](int copy) { return f.uniform[copy].c_str(); });
}

void Sizes(benchmark::internal::Benchmark *b) {
    for (int n : kSizes)
        for (int skew = 0; skew < 2; ++skew)
            b->Args({n, skew});
}

void LoadSizes(benchmark::internal::Benchmark *b) {
    for (int n : kSizes)
        b->Args({n, 0});
    b->Iterations(kLoadCopies);
}

BENCHMARK(BM_StoreLookup)->Apply(Sizes);
BENCHMARK(BM_StoreLookupNoRefresh)->Apply(Sizes);
BENCHMARK(BM_GettextLookup)->Apply(Sizes);
BENCHMARK(BM_StoreLoadFirstLookup)->Apply(LoadSizes);
BENCHMARK(BM_StoreLoadTwoLookups)->Args({10000, 0})->Iterations(kLoadCopies);
BENCHMARK(BM_GettextLoadFirstLookup)->Apply(LoadSizes);
BENCHMARK(BM_PlainReadIntoMemory)->Apply(LoadSizes);

void PrintRatios(const bench::RatioReporter &rep) {
    printf("\nratio store / gettext (CPU time per operation; 1.0 = as fast)\n");
    for (int n : kSizes) {
        for (int skew = 0; skew < 2; ++skew) {
            std::string args = "/" + std::to_string(n) + "/" + std::to_string(skew);
            auto g = rep.times.find("BM_GettextLookup" + args);
            auto s = rep.times.find("BM_StoreLookup" + args);
            auto s2 = rep.times.find("BM_StoreLookupNoRefresh" + args);
            if (g == rep.times.end() || s == rep.times.end() || s2 == rep.times.end()) continue;
            printf("lookup %6d %-8s  refresh %.2f  no-refresh %.2f\n", n,
                   skew ? "skewed" : "uniform", s->second / g->second, s2->second / g->second);
        }
        std::string args = "/" + std::to_string(n) + "/0/iterations:" + std::to_string(kLoadCopies);
        auto g = rep.times.find("BM_GettextLoadFirstLookup" + args);
        auto s = rep.times.find("BM_StoreLoadFirstLookup" + args);
        auto r = rep.times.find("BM_PlainReadIntoMemory" + args);
        if (g != rep.times.end() && s != rep.times.end())
            printf("load + first lookup %6d  %.2f\n", n, s->second / g->second);
        if (r != rep.times.end() && s != rep.times.end())
            printf("load + first lookup / plain read %6d  %.2f\n", n, s->second / r->second);
    }
}

} // namespace

int main(int argc, char **argv) {
    char tmpl[] = "/tmp/dbm_bench_XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    g_dir = tmpl;
    mkdir((g_dir + "/loc").c_str(), 0755);
    mkdir((g_dir + "/loc/C.UTF-8").c_str(), 0755);
    mkdir((g_dir + "/loc/C.UTF-8/LC_MESSAGES").c_str(), 0755);
    setenv("LANGUAGE", "", 1);
    bench::RunAgainstGettext(&argc, argv, PrintRatios);
    return testsupport::RunProgram({"rm", "-rf", g_dir}).status == 0 ? 0 : 1;
}
