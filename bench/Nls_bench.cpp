// Nls_bench.cpp - catalog lookups with NlsFetchString against GNU gettext's
// dcgettext on a .mo built by msgfmt from the same texts, in one run.
//
// Catalogs: the shipped English one (the build's tool root and
// nls/catalog/en_US.po), and synthetic ones of 1,000 and 10,000 entries with
// keys "<section>_<number>" and texts of 20 to 200 bytes. The catalog is
// opened as a host program opens it: pToolPath at the tool root, the language
// set, NlsOpenDB("CoreString", 0). The gettext side looks the same
// entries up by context and English text (what pgettext passes), in a
// C.UTF-8 locale with LANGUAGE naming the catalog.
//
// Measured: a lookup into the caller's buffer (how the menu texts are
// fetched), a lookup that hands out a new copy (and its release), and
// opening a catalog plus its first lookup. At the end the ratios
// catalog / gettext are printed.
//
// Rows of bench/run (gettext keeps what it loaded: one process per repetition).
// bench-fresh-process
// clang-format off
// bench-row: catalog lookup, shipped English catalog, against dcgettext | BM_NlsFetchInto/0 | BM_Gettext/0 | ratio<=1.0
// bench-row: catalog lookup, 1,000 entries, against dcgettext | BM_NlsFetchInto/1000 | BM_Gettext/1000 | ratio<=1.0
// bench-row: catalog lookup, 10,000 entries, against dcgettext | BM_NlsFetchInto/10000 | BM_Gettext/10000 | ratio<=1.0
// bench-row: catalog open + first lookup, shipped catalog, against gettext | BM_NlsOpenFirstLookup/0/iterations:300 | BM_GettextOpenFirstLookup/0/iterations:300 | ratio<=2
// bench-row: catalog open + first lookup, 1,000 entries, against gettext | BM_NlsOpenFirstLookup/1000/iterations:300 | BM_GettextOpenFirstLookup/1000/iterations:300 | ratio<=2
// bench-row: catalog open + first lookup, 10,000 entries, against gettext | BM_NlsOpenFirstLookup/10000/iterations:300 | BM_GettextOpenFirstLookup/10000/iterations:300 | ratio<=2
// clang-format on
#include "NlsUtils.h"

#include "MemMgr.h"
#include "PoFile.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <libintl.h>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Catalog sizes; 0 is the shipped English catalog.
const int kSizes[] = {0, 1000, 10000};
constexpr int kStream = 1 << 14; // lookups per stream, a power of two
constexpr int kLoadCopies = 300; // fresh catalogs for the load benchmark

struct Entry {
    int section, number;
    std::string gettextId; // context, EOT, English text
    std::string text;      // what both return
};

struct Fixture {
    std::string root;   // tool root holding db/<lang>/CoreString.xdb
    std::string lang;   // language directory
    std::string domain; // gettext domain
    std::vector<Entry> entries;
    std::vector<int> stream; // entry indexes, uniform
};

std::string g_dir;
std::map<int, Fixture> g_fix;

std::string PoQuote(const std::string &s) {
    std::string q = "\"";
    for (char c : s) {
        if (c == '\n')
            q += "\\n";
        else if (c == '"' || c == '\\')
            q += std::string("\\") + c;
        else
            q += c;
    }
    return q + "\"";
}

// Writes the gettext side of a fixture: a PO with msgstr = the text, the
// .mo, and hard links under fresh domain names for the load benchmark
// (gettext keeps every catalog it has loaded).
void MakeMo(Fixture &f) {
    std::string dir = g_dir + "/loc/" + f.domain + "/LC_MESSAGES/";
    fs::create_directories(dir);
    std::string po = g_dir + "/" + f.domain + ".po";
    std::ofstream out(po);
    out << "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n";
    for (const Entry &e : f.entries) {
        size_t eot = e.gettextId.find('\004');
        out << "msgctxt " << PoQuote(e.gettextId.substr(0, eot)) << "\nmsgid "
            << PoQuote(e.gettextId.substr(eot + 1)) << "\nmsgstr " << PoQuote(e.text) << "\n\n";
    }
    out.close();
    std::string mo = dir + f.domain + ".mo";
    if (!bench::RunMsgfmt(po, mo)) fprintf(stderr, "msgfmt failed for %s\n", po.c_str());
    for (int c = 0; c < kLoadCopies; ++c)
        if (::link(mo.c_str(), (dir + f.domain + "_" + std::to_string(c) + ".mo").c_str()) != 0)
            perror("link");
    bindtextdomain(f.domain.c_str(), (g_dir + "/loc").c_str());
}

// Writes the catalog side of a synthetic fixture.
void MakeXdb(Fixture &f) {
    fs::create_directories(f.root + "/db/" + f.lang);
    pToolPath = f.root.data();
    DbT *db = DbTOpen((f.lang + "/CoreString").c_str(), DBT_NOARCHIVE);
    DbTClear(db, DBT_TAGGED);
    for (const Entry &e : f.entries) {
        std::string key = std::to_string(e.section) + "_" + std::to_string(e.number);
        DbmTPutRecord(db, key.c_str(), e.text.c_str(), static_cast<int>(e.text.size()) + 1);
    }
    DbmTArchiveDb(db);
    DbTClose(db);
}

Fixture &Get(int n) {
    auto it = g_fix.find(n);
    if (it != g_fix.end()) return it->second;
    Fixture &f = g_fix[n];
    std::mt19937 rng(n + 1);
    if (n == 0) {
        // The shipped catalog: English texts of en_US.po, as built.
        f.root = NLS_TOOL_ROOT;
        f.lang = "en_US";
        std::ifstream in(std::string(NLS_CATALOG) + "/en_US.po");
        std::stringstream all;
        all << in.rdbuf();
        std::string text = all.str(), err;
        std::vector<PoEntry> po;
        PoParse(text.data(), text.size(), po, err);
        for (const PoEntry &e : po) {
            int section = 0, number = 0;
            if (sscanf(e.Context.c_str(), "%d_%d", &section, &number) != 2) continue;
            f.entries.push_back({section, number, e.Context + '\004' + e.Id, e.Id});
        }
    } else {
        f.root = g_dir + "/root";
        f.lang = "bench" + std::to_string(n);
        for (int i = 0; i < n; ++i) {
            std::string t(20 + rng() % 181, ' ');
            for (char &c : t)
                c = static_cast<char>('a' + rng() % 26);
            int section = 20 + i / 1000, number = 1000 + i % 1000;
            std::string ctxt = std::to_string(section) + "_" + std::to_string(number);
            f.entries.push_back({section, number, ctxt + '\004' + "English " + t, t});
        }
        MakeXdb(f);
    }
    f.domain = "nls" + std::to_string(n);
    MakeMo(f);
    for (int i = 0; i < kStream; ++i)
        f.stream.push_back(static_cast<int>(rng() % f.entries.size()));
    return f;
}

// Opens the fixture's catalog as a host program does.
DbT *OpenCatalog(Fixture &f) {
    pToolPath = f.root.data();
    pNLSLang = f.lang.data();
    return NlsOpenDB("CoreString", 0);
}

void BM_NlsFetchInto(benchmark::State &state) {
    Fixture &f = Get(static_cast<int>(state.range(0)));
    DbT *db = OpenCatalog(f);
    char out[NLS_STR_SIZE];
    size_t i = 0, found = 0;
    for (auto _ : state) {
        const Entry &e = f.entries[f.stream[i]];
        found += NlsFetchString(db, out, 0, e.section, e.number) == out;
        i = (i + 1) & (kStream - 1);
    }
    if (static_cast<benchmark::IterationCount>(found) != state.iterations())
        state.SkipWithError("a lookup missed");
    DbTClose(db);
}

void BM_NlsFetchCopy(benchmark::State &state) {
    Fixture &f = Get(static_cast<int>(state.range(0)));
    DbT *db = OpenCatalog(f);
    size_t i = 0;
    for (auto _ : state) {
        const Entry &e = f.entries[f.stream[i]];
        char *text = NlsFetchString(db, nullptr, 0, e.section, e.number);
        benchmark::DoNotOptimize(text);
        PutMem(text);
        i = (i + 1) & (kStream - 1);
    }
    DbTClose(db);
}

void BM_Gettext(benchmark::State &state) {
    Fixture &f = Get(static_cast<int>(state.range(0)));
    setenv("LANGUAGE", f.domain.c_str(), 1);
    const Entry &probe = f.entries[0];
    if (strcmp(dcgettext(f.domain.c_str(), probe.gettextId.c_str(), LC_MESSAGES),
               probe.text.c_str()) != 0) {
        state.SkipWithError("gettext does not find the catalog");
        return;
    }
    size_t i = 0, found = 0;
    for (auto _ : state) {
        const char *id = f.entries[f.stream[i]].gettextId.c_str();
        found += dcgettext(f.domain.c_str(), id, LC_MESSAGES) != id;
        i = (i + 1) & (kStream - 1);
    }
    if (static_cast<benchmark::IterationCount>(found) != state.iterations())
        state.SkipWithError("a lookup missed");
}

void BM_NlsOpenFirstLookup(benchmark::State &state) {
    Fixture &f = Get(static_cast<int>(state.range(0)));
    char out[NLS_STR_SIZE];
    size_t i = 0;
    for (auto _ : state) {
        const Entry &e = f.entries[f.stream[i++ & (kStream - 1)]];
        DbT *db = OpenCatalog(f);
        benchmark::DoNotOptimize(NlsFetchString(db, out, 0, e.section, e.number));
        state.PauseTiming();
        DbTClose(db);
        state.ResumeTiming();
    }
}

void BM_GettextOpenFirstLookup(benchmark::State &state) {
    Fixture &f = Get(static_cast<int>(state.range(0)));
    setenv("LANGUAGE", f.domain.c_str(), 1);
    bench::GettextFirstLookups(state, g_dir + "/loc", f.domain, kLoadCopies, [&f](int copy) {
        return f.entries[f.stream[copy]].gettextId.c_str();
    });
}

void Sizes(benchmark::internal::Benchmark *b) {
    for (int n : kSizes)
        b->Arg(n);
}

void LoadSizes(benchmark::internal::Benchmark *b) {
    for (int n : kSizes)
        b->Arg(n);
    b->Iterations(kLoadCopies);
}

BENCHMARK(BM_NlsFetchInto)->Apply(Sizes);
BENCHMARK(BM_NlsFetchCopy)->Apply(Sizes);
BENCHMARK(BM_Gettext)->Apply(Sizes);
BENCHMARK(BM_NlsOpenFirstLookup)->Apply(LoadSizes);
BENCHMARK(BM_GettextOpenFirstLookup)->Apply(LoadSizes);

void PrintRatios(const bench::RatioReporter &rep) {
    printf("\nratio catalog / gettext (CPU time per operation; 1.0 = as fast)\n");
    auto ratio = [&](const std::string &a, const std::string &b) {
        auto x = rep.times.find(a), y = rep.times.find(b);
        return x == rep.times.end() || y == rep.times.end() ? -1.0 : x->second / y->second;
    };
    for (int n : kSizes) {
        std::string arg = "/" + std::to_string(n);
        std::string load = arg + "/iterations:" + std::to_string(kLoadCopies);
        printf("%-9s lookup into buffer %.2f  lookup as copy %.2f  open + first lookup %.2f\n",
               n == 0 ? "shipped" : std::to_string(n).c_str(),
               ratio("BM_NlsFetchInto" + arg, "BM_Gettext" + arg),
               ratio("BM_NlsFetchCopy" + arg, "BM_Gettext" + arg),
               ratio("BM_NlsOpenFirstLookup" + load, "BM_GettextOpenFirstLookup" + load));
    }
}

} // namespace

int main(int argc, char **argv) {
    char tmpl[] = "/tmp/nls_bench_XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    g_dir = tmpl;
    bench::RunAgainstGettext(&argc, argv, PrintRatios);
    std::error_code ec;
    fs::remove_all(g_dir, ec);
    return ec ? 1 : 0;
}
