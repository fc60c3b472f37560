// Tests of the shipped catalog: the compiled databases of the build's tool
// root, their sources, and the compiler that makes one from the other.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "MemMgr.h"
#include "NlsTestSupport.h"
#include "NlsUtils.h"
#include "PoFile.h"

using namespace nls_testing;
namespace fs = std::filesystem;
using testsupport::ReadFile;

namespace {

const std::string TOOL_ROOT = NLS_TOOL_ROOT;
const std::string SOURCE_ROOT = NLS_SOURCE_ROOT;
const std::string CATALOG = SOURCE_ROOT + "/nls/catalog";

// The languages the catalog ships.
const std::vector<std::string> &Languages() {
    static std::vector<std::string> langs = [] {
        std::vector<std::string> l;
        for (const auto &e : fs::directory_iterator(TOOL_ROOT + "/db"))
            l.push_back(e.path().filename());
        std::sort(l.begin(), l.end());
        return l;
    }();
    return langs;
}

// The keys the library's modules are documented to ask for.
std::set<std::string> DocumentedKeys() {
    std::set<std::string> keys;
    auto range = [&](int section, int from, int to) {
        for (int n = from; n <= to; ++n)
            keys.insert(std::to_string(section) + "_" + std::to_string(n));
    };
    range(25, 1000, 1025);
    range(25, 201, 208);
    range(25, 230, 232);
    range(25, 270, 271);
    range(25, 510, 510);
    range(30, 22, 22);
    range(30, 42, 42);
    range(30, 44, 44);
    range(20, 150, 152);
    keys.insert("999_1");
    return keys;
}

// Every key with literal numbers that the library's code (not its tests)
// asks the catalog for, with the file that asks.
std::map<std::string, std::string> KeysInCode() {
    std::map<std::string, std::string> keys;
    const std::regex fetch(R"(NlsFetchString\s*\([^;]*?,\s*[03]\s*,\s*(\d+)\s*,\s*(\d+)\s*\))");
    const std::regex fetchKey(R"(NlsFetchString\s*\([^;]*?,\s*[12]\s*,\s*"(\d+)_(\d+)\")");
    const std::regex print(R"(Nls[fs]printf\s*\([^,;]+,[^,;]+,\s*(\d+)\s*,\s*(\d+))");
    const std::regex items(
        R"(NlsTtyMenuItem(?:State|Prompt)?Cvt\s*\([^,;]+,\s*(\d+)\s*,\s*(\d+)\s*\))");
    const std::regex single(R"(NlsTtyMenuCvt\s*\([^,;]+,\s*(\d+)\s*\))");
    for (const char *dir : {"textmenu", "help", "nls", "tools", "list"}) {
        if (!fs::exists(SOURCE_ROOT + "/" + dir)) continue;
        for (const auto &e : fs::recursive_directory_iterator(SOURCE_ROOT + "/" + dir)) {
            std::string path = e.path().string(), ext = e.path().extension().string();
            if ((ext != ".cpp" && ext != ".h") || path.find("_test") != std::string::npos ||
                path.find("TestSupport") != std::string::npos)
                continue;
            std::string text = ReadFile(path);
            for (const std::regex *re : {&fetch, &fetchKey, &print}) {
                for (std::sregex_iterator m(text.begin(), text.end(), *re), end; m != end; ++m)
                    keys[(*m)[1].str() + "_" + (*m)[2].str()] = path;
            }
            for (std::sregex_iterator m(text.begin(), text.end(), items), end; m != end; ++m) {
                int first = std::stoi((*m)[1]), count = std::stoi((*m)[2]);
                for (int i = 0; i < count; ++i)
                    keys["25_" + std::to_string(first + i)] = path;
            }
            for (std::sregex_iterator m(text.begin(), text.end(), single), end; m != end; ++m)
                keys["25_" + (*m)[1].str()] = path;
        }
    }
    return keys;
}

// The record of key in a language's database; "(missing)" when there is none.
std::string Text(const std::string &lang, const std::string &key) {
    static std::map<std::string, DbT *> open;
    DbT *&db = open[lang];
    if (db == nullptr) {
        std::string root = TOOL_ROOT;
        char *saved = pToolPath;
        pToolPath = root.data();
        db = OpenDb(lang, "CoreString");
        pToolPath = saved;
    }
    char *owned = NlsFetchString(db, nullptr, 1, key.c_str());
    if (owned == key.c_str()) return "(missing)";
    std::string text = owned;
    PutMem(owned);
    return text;
}

std::vector<PoEntry> ReadPo(const std::string &path) {
    std::string text = ReadFile(path), err;
    std::vector<PoEntry> entries;
    EXPECT_TRUE(PoParse(text.data(), text.size(), entries, err)) << path << ": " << err;
    return entries;
}

} // namespace

TEST(NlsCatalog, ShipsEnglishAndTheInstallersFiveOtherLanguages) {
    EXPECT_EQ(Languages(),
              (std::vector<std::string>{"en_US", "es_ES", "fr_FR", "ge_GE", "it_IT", "pr_BR"}));
}

TEST(NlsCatalog, EveryDocumentedKeyExistsInEveryLanguage) {
    for (const std::string &lang : Languages())
        for (const std::string &key : DocumentedKeys())
            EXPECT_NE(Text(lang, key), "(missing)") << lang << " " << key;
}

TEST(NlsCatalog, EveryKeyTheCodeAsksForExistsInEnglish) {
    for (const auto &[key, file] : KeysInCode())
        EXPECT_NE(Text("en_US", key), "(missing)") << key << " asked for by " << file;
}

TEST(NlsCatalog, EveryLanguageHoldsTheEnglishKeysWithTheirDirectives) {
    std::vector<PoEntry> english = ReadPo(CATALOG + "/en_US.po");
    ASSERT_GT(english.size(), 40u);
    for (const std::string &lang : Languages()) {
        for (const PoEntry &e : english) {
            if (e.Context.empty()) continue;
            std::string text = Text(lang, e.Context);
            ASSERT_NE(text, "(missing)") << lang << " " << e.Context;
            EXPECT_EQ(PoDirectives(text), PoDirectives(e.Id)) << lang << " " << e.Context;
            if (lang == "en_US") {
                EXPECT_EQ(text, e.Id) << e.Context;
            }
        }
    }
}

TEST(NlsCatalog, EveryLanguageIsTranslatedWhole) {
    std::vector<PoEntry> english = ReadPo(CATALOG + "/en_US.po");
    for (const std::string &lang : Languages()) {
        if (lang == "en_US") continue;
        std::map<std::string, const PoEntry *> own;
        std::vector<PoEntry> entries = ReadPo(CATALOG + "/" + lang + ".po");
        for (const PoEntry &e : entries)
            own[e.Context] = &e;
        for (const PoEntry &en : english) {
            if (en.Context.empty()) continue;
            auto it = own.find(en.Context);
            ASSERT_NE(it, own.end()) << lang << " lacks " << en.Context;
            EXPECT_EQ(it->second->Id, en.Id)
                << lang << " " << en.Context << ": msgid is not the English text";
            EXPECT_FALSE(it->second->Fuzzy) << lang << " " << en.Context;
            EXPECT_FALSE(it->second->Str.empty()) << lang << " " << en.Context;
            EXPECT_EQ(it->second->CFormat, en.CFormat) << lang << " " << en.Context;
            const std::string &tr = it->second->Str;
            // A lettered item stays lettered with a one-byte key.
            if (en.Id.size() > 3 && en.Id[0] == '~' && en.Id[2] == ' ') {
                EXPECT_TRUE(tr.size() > 3 && tr[0] == '~' &&
                            isalpha(static_cast<unsigned char>(tr[1])) && tr[2] == ' ')
                    << lang << " " << en.Context << ": " << tr;
            }
            // A state list keeps its number of states.
            if (en.Id.find(',') != std::string::npos && en.Id.find(' ') == std::string::npos) {
                EXPECT_EQ(std::count(tr.begin(), tr.end(), ','),
                          std::count(en.Id.begin(), en.Id.end(), ','))
                    << lang << " " << en.Context << ": " << tr;
            }
            // Texts that begin or end a line keep doing so.
            EXPECT_EQ(tr.front() == '\n', en.Id.front() == '\n') << lang << " " << en.Context;
            EXPECT_EQ(tr.back() == '\n', en.Id.back() == '\n') << lang << " " << en.Context;
        }
        EXPECT_EQ(entries.size(), english.size()) << lang << " holds keys English does not";
    }
}

TEST(NlsCatalog, AnswerKeysOfEachLanguageAreDistinct) {
    for (const std::string &lang : Languages()) {
        // The help viewer's items are lettered "~k Text".
        std::set<char> keys;
        for (const char *key : {"20_150", "20_151", "20_152"}) {
            std::string t = Text(lang, key);
            ASSERT_GE(t.size(), 4u) << lang << " " << key;
            EXPECT_EQ(t[0], '~') << lang << " " << key;
            EXPECT_EQ(t[2], ' ') << lang << " " << key;
            EXPECT_TRUE(islower(static_cast<unsigned char>(t[1]))) << lang << " " << key;
            keys.insert(t[1]);
        }
        EXPECT_EQ(keys.size(), 3u) << lang;
        // The picker's save and cancel answers are their texts' first letters.
        std::string save = Text(lang, "25_201"), cancel = Text(lang, "25_202");
        EXPECT_TRUE(isalpha(static_cast<unsigned char>(save[0]))) << lang;
        EXPECT_NE(save[0], cancel[0]) << lang;
    }
}

TEST(NlsCatalog, AliasTableIsTransConfNormalised) {
    EXPECT_EQ(ReadFile(TOOL_ROOT + "/trans.conf"), ReadFile(CATALOG + "/trans.conf"));
    std::string root = TOOL_ROOT;
    char *saved = pToolPath;
    pToolPath = root.data();
    char *table = ParseTransFile("trans.conf");
    pToolPath = saved;
    ASSERT_NE(table, nullptr);
    for (const std::string &lang : Languages())
        EXPECT_EQ(Text(lang, "999_1"), table) << lang;
    PutMem(table);
}

// trans.conf lists more languages than the catalog ships (cs_CZ, fi_FI...):
// a user of one of those reads English texts, never raw keys.
TEST(NlsCatalog, EveryListedLanguageReadsTextsNotKeys) {
    std::set<std::string> listed;
    std::istringstream in(ReadFile(CATALOG + "/trans.conf"));
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string code, eq;
        if (words >> code >> eq && eq == "=") listed.insert(code);
    }
    ASSERT_TRUE(listed.count("cs_CZ"));
    std::string root = TOOL_ROOT;
    for (const std::string &lang : listed) {
        ChildResult r = RunChild([&] {
            pToolPath = root.data();
            setenv("LANG", (lang + ".UTF-8").c_str(), 1);
            DbT *db = NlsOpenDB("CoreString", 0);
            fputs(NlsFetchString(db, NlsBuf, 0, 25, 5011), stdout);
        });
        bool shipped = fs::exists(TOOL_ROOT + "/db/" + lang);
        EXPECT_EQ(r.out, shipped ? Text(lang, "25_5011") : Text("en_US", "25_5011")) << lang;
        EXPECT_NE(r.out, "25_5011") << lang;
    }
}

// ---------------------------------------------------------------------------
// The compiler
// ---------------------------------------------------------------------------

namespace {

const char *const HEADER = "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n";

struct Compiled {
    int status;
    std::string err;
};

Compiled Compile(const std::string &sources, const std::string &root, const std::string &langs) {
    std::vector<std::string> argv{NLS_MKCATALOG, root, sources};
    std::istringstream words(langs);
    for (std::string lang; words >> lang;)
        argv.push_back(lang);
    testsupport::ChildResult r =
        testsupport::RunProgram(argv, "", {}, "", testsupport::Stderr::Apart);
    return {r.status, r.err};
}

} // namespace

TEST(NlsCompiler, UnusableTranslationsFallBackToEnglish) {
    TempDir src, out;
    WriteFile(src.path + "/trans.conf", "en_US = en\nge_GE = ge_GE de\n");
    WriteFile(src.path + "/en_US.po", std::string(HEADER) +
                                          "msgctxt \"25_1\"\nmsgid \"One\"\nmsgstr \"\"\n\n"
                                          "msgctxt \"25_2\"\nmsgid \"Two %s\"\nmsgstr \"\"\n\n"
                                          "msgctxt \"25_3\"\nmsgid \"Three\"\nmsgstr \"\"\n\n"
                                          "msgctxt \"25_4\"\nmsgid \"Four %d\"\nmsgstr \"\"\n\n"
                                          "msgctxt \"25_5\"\nmsgid \"Five\"\nmsgstr \"\"\n");
    WriteFile(src.path + "/ge_GE.po",
              std::string(HEADER) +
                  "msgctxt \"25_1\"\nmsgid \"One\"\nmsgstr \"Eins\"\n\n"
                  "msgctxt \"25_2\"\nmsgid \"Two %s\"\nmsgstr \"Zwei %d\"\n\n"
                  "#, fuzzy\nmsgctxt \"25_3\"\nmsgid \"Three\"\nmsgstr \"Drei\"\n\n"
                  "msgctxt \"25_4\"\nmsgid \"Four %d\"\nmsgstr \"Vier %1$d\"\n\n"
                  "msgctxt \"25_9\"\nmsgid \"Nine\"\nmsgstr \"Neun\"\n");
    Compiled c = Compile(src.path, out.path, "en_US ge_GE");
    EXPECT_EQ(c.status, 0) << c.err;
    EXPECT_NE(c.err.find("25_2: printf directives differ from the English text; English used"),
              std::string::npos)
        << c.err;
    EXPECT_NE(c.err.find("25_9: no such key in the English catalog"), std::string::npos) << c.err;

    char *saved = pToolPath;
    pToolPath = out.path.data();
    DbT *db = OpenDb("ge_GE", "CoreString");
    struct Case {
        int number;
        const char *expected;
    } cases[] = {{1, "Eins"},    {2, "Two %s"}, {3, "Three"},
                 {4, "Four %d"}, {5, "Five"},   {9, "25_9"}};
    char buf[NLS_STR_SIZE];
    for (const Case &k : cases)
        EXPECT_STREQ(NlsFetchString(db, buf, 0, 25, k.number), k.expected) << k.number;
    EXPECT_STREQ(NlsFetchString(db, buf, 0, 999, 1), "en_US = en \nge_GE = ge_GE de \n");
    DbTClose(db);
    pToolPath = saved;
    EXPECT_EQ(ReadFile(out.path + "/trans.conf"), "en_US = en\nge_GE = ge_GE de\n");
}

TEST(NlsCompiler, BrokenSourcesFailTheBuild) {
    TempDir src, out;
    WriteFile(src.path + "/trans.conf", "en_US = en\n");
    WriteFile(src.path + "/en_US.po",
              std::string(HEADER) + "msgctxt \"25_1\"\nmsgid \"One\"\nmsgstr \"\"\n");
    WriteFile(src.path + "/fr_FR.po", "msgid \"unterminated\n");
    Compiled c = Compile(src.path, out.path, "en_US fr_FR it_IT");
    EXPECT_EQ(c.status, 1);
    EXPECT_NE(c.err.find("fr_FR.po: line 1: expected a quoted string"), std::string::npos) << c.err;
    EXPECT_NE(c.err.find("cannot read " + src.path + "/it_IT.po"), std::string::npos) << c.err;
    // The languages that could be read are written all the same.
    EXPECT_TRUE(fs::exists(out.path + "/db/en_US/CoreString.xdb"));

    // A translation holding an escape sequence is refused, naming its file
    // and line; the other languages are still written.
    WriteFile(src.path + "/fr_FR.po", std::string(HEADER) +
                                          "msgctxt \"25_1\"\nmsgid \"One\"\n"
                                          "msgstr \"Un\"\n\"\\x1b]52;c;cm0gLXJm\\x07\"\n");
    WriteFile(src.path + "/it_IT.po", std::string(HEADER));
    c = Compile(src.path, out.path, "en_US fr_FR it_IT");
    EXPECT_EQ(c.status, 1);
    EXPECT_NE(c.err.find(src.path + "/fr_FR.po: line 7: control character 0x1B in a message"),
              std::string::npos)
        << c.err;
    EXPECT_FALSE(fs::exists(out.path + "/db/fr_FR/CoreString.xdb"));
    EXPECT_TRUE(fs::exists(out.path + "/db/it_IT/CoreString.xdb"));

    unlink((src.path + "/trans.conf").c_str());
    EXPECT_EQ(Compile(src.path, out.path, "en_US").status, 1);
    EXPECT_EQ(Compile(src.path, out.path, "").status, 1);
}
