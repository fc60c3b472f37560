// Tests of the language choice and the catalog lookups.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "MemMgr.h"
#include "NlsTestSupport.h"
#include "NlsUtils.h"
#include "utils.h"

using namespace nls_testing;

namespace {

// The installer's alias table, as trans.conf holds it.
const char *const INSTALLER_TABLE = "en_US = en_US en english en_AU en_BW en_CA\n"
                                    "en_DK en_GB en_IE en_NZ en_SE en_ZA en_ZW\n"
                                    "pr_BR = pr_BR pt portuguese pt_BR pt_PT\n"
                                    "fr_FR = fr_FR fr français french fr_BE fr_CA fr_CH fr\n"
                                    "it_IT = it_IT it italian\n"
                                    "ge_GE = ge_GE ge german de de_AT de_CH De_DE de_DE\n"
                                    "es_ES = es_ES es spanish español es_AR es_MX\n"
                                    "fi_FI = fi_FI finnish sv_FI\n"
                                    "sv_SE = sv_FI sv_SE\n";

// The language a fresh process chooses with this trans.conf (none when
// null) and this LANG (unset when null).
std::string ChosenLanguage(const char *conf, const char *lang) {
    ToolRoot root;
    if (conf != nullptr) root.TransConf(conf);
    ChildResult r = RunChild([&] {
        if (lang != nullptr)
            setenv("LANG", lang, 1);
        else
            unsetenv("LANG");
        fputs(GetDesiredNLSLang(), stdout);
    });
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

} // namespace

TEST(NlsLanguage, AliasesOfTransConfChooseTheLanguage) {
    const std::string withDefault = std::string("Default fr_FR\n") + INSTALLER_TABLE;
    struct Case {
        const char *name;
        const char *conf;
        const char *lang;
        const char *expected;
    } cases[] = {
        {"LANG unset, no Default line", INSTALLER_TABLE, nullptr, "en_US"},
        {"codeset cut off", INSTALLER_TABLE, "de_DE.UTF-8", "ge_GE"},
        {"short alias", INSTALLER_TABLE, "pt", "pr_BR"},
        {"C without a Default line", INSTALLER_TABLE, "C", "en_US"},
        {"alias on a continuation line", INSTALLER_TABLE, "en_GB.UTF-8", "en_US"},
        {"alias at a line end", INSTALLER_TABLE, "italian", "it_IT"},
        {"non-ASCII alias", INSTALLER_TABLE, "español", "es_ES"},
        {"first line holding the alias wins", INSTALLER_TABLE, "sv_FI", "fi_FI"},
        {"code itself is an alias", INSTALLER_TABLE, "ge_GE", "ge_GE"},
        {"only whole aliases match", INSTALLER_TABLE, "de_D", "en_US"},
        {"a longer LANG does not match a shorter alias", INSTALLER_TABLE, "pt_BRX", "en_US"},
        {"empty LANG", INSTALLER_TABLE, "", "en_US"},
        {"Default line for C", withDefault.c_str(), "C", "fr_FR"},
        {"Default line for LANG unset", withDefault.c_str(), nullptr, "fr_FR"},
        {"Default line does not hide aliases", withDefault.c_str(), "de", "ge_GE"},
        {"Default line before the language's own line",
         "Default fr_FR\nen_US = en\nfr_FR = fr_FR fr\n", "fr_FR", "fr_FR"},
        {"Default line without a code", "Default\nfr_FR = fr_FR fr\n", "C", "en_US"},
        {"code after a bare Default line", "Default\nfr_FR = fr_FR fr\n", "fr", "fr_FR"},
        {"last line without a line feed", "en_US = en\nit_IT = it_IT it", "it", "it_IT"},
        {"comments", "# languages\nen_US = en # English\n#fr_FR = fr\nit_IT = it_IT it # Italian",
         "it", "it_IT"},
        {"commented-out line", "en_US = en\n#fr_FR = fr_FR fr\n", "fr", "en_US"},
        {"CR LF line ends", "en_US = en\r\nfr_FR = fr_FR fr\r\n", "fr", "fr_FR"},
        {"= glued to a word is no separator", "en_US = en\nfr_FR=fr\n", "fr", "en_US"},
        {"alias before any =", "xx yy\nfr_FR = fr\n", "yy", "en_US"},
        {"tabs and blank lines", "\n\nen_US\t=\ten\n\n\tfr_FR =  fr_FR   fr\n", "fr", "fr_FR"},
        {"no trans.conf and no database", nullptr, "de", "en_US"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ChosenLanguage(c.conf, c.lang), c.expected) << c.name;
}

// The one alias lookup, which the installer shares, on normalised tables.
TEST(NlsLanguage, AliasLookupTakesWholeWordsOnly) {
    const char *const table = "en_US = en_US en \nen_DK en_GB \nDefault fr_FR \n"
                              "fr_FR = fr_FR fr \nsv_SE = sv sv_SE \nfi_FI = fi_FI sv \n";
    struct Case {
        const char *name;
        const char *alias;
        const char *expected; // null: no language
    } cases[] = {
        {"alias on the code's own line", "en", "en_US"},
        {"first word of a continuation line", "en_DK", "en_US"},
        {"last word of a continuation line", "en_GB", "en_US"},
        {"first line listing it wins", "sv", "sv_SE"},
        {"the Default line lists no alias", "Default", nullptr},
        {"a code among its own aliases", "fr_FR", "fr_FR"},
        {"part of a word", "en_D", nullptr},
        {"two words", "en_US en", nullptr},
        {"the separator", "=", nullptr},
        {"empty", "", nullptr},
        {"a tab inside", "en\t", nullptr},
    };
    for (const Case &c : cases) {
        char *code = NlsAliasCode(table, c.alias);
        if (c.expected == nullptr)
            EXPECT_EQ(code, nullptr) << c.name;
        else
            EXPECT_STREQ(code, c.expected) << c.name;
        PutMem(code);
    }
    char *code = NlsAliasCode("xx yy \nfr_FR = fr \n", "yy");
    EXPECT_STREQ(code, "en_US") << "an alias before any language";
    PutMem(code);
    code = NlsDefaultCode(table);
    EXPECT_STREQ(code, "fr_FR");
    PutMem(code);
}

TEST(NlsLanguage, WithoutTransConfTheEnglishDatabaseHoldsTheTable) {
    ToolRoot root;
    root.Database(
        "en_US", "CoreString",
        {{"999_1", "en_US = en_US en \nge_GE = ge_GE de \nDefault it_IT \n"}, {"25_1", "x"}});
    struct Case {
        const char *lang;
        const char *expected;
    } cases[] = {{"de_AT.UTF-8", "it_IT"}, {"de", "ge_GE"}, {"C", "it_IT"}};
    for (const Case &c : cases) {
        ChildResult r = RunChild([&] {
            setenv("LANG", c.lang, 1);
            fputs(GetDesiredNLSLang(), stdout);
            // The handle opened for the table is the core database's.
            fputs(pDrvCoreDB != nullptr ? " open" : " closed", stdout);
        });
        EXPECT_EQ(r.out, std::string(c.expected) + " open") << c.lang;
    }
}

TEST(NlsLanguage, AnEnglishDatabaseWithoutTableMeansEnglish) {
    ToolRoot root;
    root.TransConf(""); // empty: as if missing
    root.Database("en_US", "CoreString", {{"25_1", "x"}});
    ChildResult r = RunChild([&] {
        setenv("LANG", "de", 1);
        fputs(GetDesiredNLSLang(), stdout);
    });
    EXPECT_EQ(r.out, "en_US");
}

TEST(NlsLanguage, IsChosenOnceAndAPresetLanguageStands) {
    ToolRoot root;
    root.TransConf(INSTALLER_TABLE);
    ChildResult r = RunChild([&] {
        setenv("LANG", "de", 1);
        char *first = GetDesiredNLSLang();
        setenv("LANG", "fr", 1);
        printf("%s %d", GetDesiredNLSLang(), GetDesiredNLSLang() == first);
    });
    EXPECT_EQ(r.out, "ge_GE 1");
    r = RunChild([&] {
        static char preset[] = "it_IT";
        pNLSLang = preset;
        setenv("LANG", "de", 1);
        printf("%s %d", GetDesiredNLSLang(), GetDesiredNLSLang() == preset);
    });
    EXPECT_EQ(r.out, "it_IT 1");
}

TEST(NlsTransFile, NormalisesWordsAndLines) {
    struct Case {
        const char *name;
        const char *file;
        const char *expected;
    } cases[] = {
        {"one blank behind each word, line ends kept", "a = b c\nd = e", "a = b c \nd = e "},
        {"runs of blanks and tabs", "a\t=   b\t\tc\n", "a = b c \n"},
        {"= glued to a word stays in it", "a=b c\n", "a=b c \n"},
        {"# and = inside a word", "x#y = z=\n", "x#y = z= \n"},
        {"comment lines dropped", "# head\na = b\n# tail\n", "a = b \n"},
        {"comment behind a line keeps the line end", "a = b # note\nc = d\n", "a = b \nc = d \n"},
        {"CR LF", "a = b\r\nc = d\r\n", "a = b \nc = d \n"},
        {"comment on the last line without a line end", "a = b\n# end", "a = b \n"},
        {"word after Default ends its line", "Default fr # x\na = b\n", "Default fr \na = b \n"},
        {"Default at a line end", "Default\na = b\n", "Default \na = b \n"},
        {"Default followed by more words", "Default fr it\n", "Default fr \nit \n"},
        {"blank lines", "\n\na = b\n\n\nc = d\n", "a = b \nc = d \n"},
        {"comments only", "# nothing\n# here\n", ""},
    };
    for (const Case &c : cases) {
        ToolRoot root;
        root.TransConf(c.file);
        char *table = ParseTransFile("trans.conf");
        ASSERT_NE(table, nullptr) << c.name;
        EXPECT_STREQ(table, c.expected) << c.name;
        PutMem(table);
    }
}

TEST(NlsTransFile, MissingOrEmptyFileGivesNull) {
    ToolRoot root;
    EXPECT_EQ(ParseTransFile("trans.conf"), nullptr);
    root.TransConf("");
    EXPECT_EQ(ParseTransFile("trans.conf"), nullptr);
    EXPECT_EQ(ParseTransFile(nullptr), nullptr);
}

TEST(NlsTransFile, ALargeTableIsReadWhole) {
    ToolRoot root;
    std::string file, expected;
    for (int i = 0; i < 2000; ++i) {
        file += "l" + std::to_string(i) + " = a" + std::to_string(i) + "\n";
        expected += "l" + std::to_string(i) + " = a" + std::to_string(i) + " \n";
    }
    root.TransConf(file);
    char *table = ParseTransFile("trans.conf");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(std::string(table), expected);
    PutMem(table);
}

// ---------------------------------------------------------------------------
// Lookups
// ---------------------------------------------------------------------------

class NlsFetch : public ::testing::Test {
  protected:
    ToolRoot root;
    DbT *db = nullptr;
    std::string longText;

    void SetUp() override {
        longText.assign(3000, 'x');
        longText.replace(0, 5, "start");
        root.Database("en_US", "CoreString",
                      {{"25_1011", "All names must be set"},
                       {"help", "a help text"},
                       {"25_77", longText},
                       {"25_0", "number zero"}});
        db = OpenDb("en_US", "CoreString");
    }
    void TearDown() override { DbTClose(db); }
};

TEST_F(NlsFetch, FindTextSaysWhetherTheEntryExists) {
    struct Case {
        const char *name;
        DbT *db;
        int number;
        const char *found;   // null: not found
        const char *orText;  // what NlsTextOr gives with the English "fallback"
    } cases[] = {
        {"found", db, 1011, "All names must be set", "All names must be set"},
        {"longer than the fetch buffer", db, 77, longText.c_str(), longText.c_str()},
        {"missing entry", db, 9999, nullptr, "fallback"},
        {"no database", nullptr, 1011, nullptr, "fallback"},
    };
    for (const Case &c : cases) {
        char *text = NlsFindText(c.db, 25, c.number);
        if (c.found == nullptr)
            EXPECT_EQ(text, nullptr) << c.name;
        else
            EXPECT_STREQ(text, c.found) << c.name;
        PutMem(text);
        text = NlsTextOr(c.db, 25, c.number, "fallback");
        EXPECT_STREQ(text, c.orText) << c.name;
        PutMem(text);
    }
}

TEST_F(NlsFetch, EveryModeWithAndWithoutOut) {
    struct Case {
        const char *name;
        int mode;
        bool numbered;
        int number;      // numbered modes, section 25
        const char *key; // key modes
        const char *expected;
        bool found;
    } cases[] = {
        {"mode 0 found", 0, true, 1011, nullptr, "All names must be set", true},
        {"mode 0 missing", 0, true, 9999, nullptr, "25_9999", false},
        {"mode 1 found", 1, false, 0, "help", "a help text", true},
        {"mode 1 missing", 1, false, 0, "nothing", "nothing", false},
        {"mode 2 found", 2, false, 0, "help", "a help text", true},
        {"mode 2 missing", 2, false, 0, "nothing", "nothing", false},
        {"mode 3 found", 3, true, 1011, nullptr, "All names must be set", true},
        {"mode 3 missing", 3, true, 9999, nullptr, "25_9999", false},
        {"number 0 with a handle", 0, true, 0, nullptr, "number zero", true},
    };
    for (const Case &c : cases) {
        for (bool withOut : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (withOut ? " with out" : " without out"));
            char out[NLS_STR_SIZE];
            strcpy(out, "untouched");
            char *r = c.numbered ? NlsFetchString(db, withOut ? out : nullptr, c.mode, 25, c.number)
                                 : NlsFetchString(db, withOut ? out : nullptr, c.mode, c.key);
            ASSERT_NE(r, nullptr);
            EXPECT_STREQ(r, c.expected);
            if (withOut && c.mode != 3) {
                // out receives the text, or the key text when there is none.
                EXPECT_STREQ(out, c.expected);
                if (c.found) {
                    EXPECT_EQ(r, out);
                }
            } else {
                EXPECT_STREQ(out, "untouched");
            }
            if (!c.found && !c.numbered) {
                EXPECT_EQ(r, c.key) << "the key text itself";
            }
            if (c.found && r != out) PutMem(r); // a new copy of the caller's
        }
    }
}

TEST_F(NlsFetch, NotFoundIsTheKeyTextUntilTheNextLookup) {
    char *first = NlsFetchString(db, nullptr, 0, 25, 4242);
    EXPECT_STREQ(first, "25_4242");
    char *second = NlsFetchString(db, nullptr, 0, -3, -2147483647 - 1);
    EXPECT_STREQ(second, "-3_-2147483648");
}

TEST_F(NlsFetch, CopiesAreTheCallersAndIndependent) {
    char *a = NlsFetchString(db, nullptr, 0, 25, 1011);
    char *b = NlsFetchString(db, nullptr, 0, 25, 1011);
    ASSERT_NE(a, b);
    a[0] = 'X';
    EXPECT_STREQ(b, "All names must be set");
    PutMem(a);
    PutMem(b);
}

TEST_F(NlsFetch, LongTextsComeWholeInTheirOwnBlock) {
    for (int mode : {0, 3}) {
        char *r = NlsFetchString(db, nullptr, mode, 25, 77);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(std::string(r), longText) << "mode " << mode;
        PutMem(r);
    }
}

TEST_F(NlsFetch, ALongTextIsCutToTheOutputBuffer) {
    struct Guarded {
        char out[NLS_STR_SIZE];
        char guard[64];
    } g;
    memset(g.guard, 'G', sizeof g.guard);
    char *r = NlsFetchString(db, g.out, 0, 25, 77);
    EXPECT_EQ(r, g.out);
    EXPECT_EQ(strlen(g.out), static_cast<size_t>(NLS_STR_SIZE - 1));
    EXPECT_EQ(std::string(g.out), longText.substr(0, NLS_STR_SIZE - 1));
    EXPECT_EQ(std::string(g.guard, sizeof g.guard), std::string(sizeof g.guard, 'G'));
}

TEST_F(NlsFetch, AnEmptyTextIsFoundAndCopied) {
    ToolRoot empty;
    empty.Database("en_US", "Empty", {{"25_1", ""}, {"25_2", std::string("\0tail", 5)}});
    DbT *edb = OpenDb("en_US", "Empty");
    for (int number : {1, 2}) {
        for (int mode : {0, 3}) {
            char *r = NlsFetchString(edb, nullptr, mode, 25, number);
            ASSERT_NE(r, nullptr) << number << " mode " << mode;
            EXPECT_STREQ(r, "") << number << " mode " << mode;
            PutMem(r);
        }
        char out[NLS_STR_SIZE] = "untouched";
        EXPECT_EQ(NlsFetchString(edb, out, 0, 25, number), out);
        EXPECT_STREQ(out, "");
    }
    DbTClose(edb);
}

TEST_F(NlsFetch, ATextStoredWithoutItsNulIsStillTerminated) {
    ToolRoot raw;
    raw.Database("en_US", "Raw", {{"25_1", "abc"}, {"25_2", std::string(NLS_STR_SIZE, 'r')}}, true);
    DbT *rdb = OpenDb("en_US", "Raw");
    char out[NLS_STR_SIZE];
    EXPECT_STREQ(NlsFetchString(rdb, out, 0, 25, 1), "abc");
    char *r = NlsFetchString(rdb, nullptr, 0, 25, 2);
    EXPECT_EQ(strlen(r), static_cast<size_t>(NLS_STR_SIZE));
    PutMem(r);
    DbTClose(rdb);
}

TEST(NlsFetchNoHandle, NumberedLookupsGiveTheKeyOthersError) {
    char out[64] = "untouched";
    EXPECT_STREQ(NlsFetchString(nullptr, out, 0, 25, 1011), "25_1011");
    EXPECT_STREQ(out, "25_1011");
    EXPECT_STREQ(NlsFetchString(nullptr, nullptr, 3, 25, 1011), "25_1011");
    strcpy(out, "untouched");
    EXPECT_STREQ(NlsFetchString(nullptr, out, 0, 25, 0), "Error");
    EXPECT_STREQ(NlsFetchString(nullptr, out, 1, "help"), "Error");
    EXPECT_STREQ(NlsFetchString(nullptr, out, 2, "help"), "Error");
    EXPECT_STREQ(out, "untouched");
    // Always the same shared text.
    EXPECT_EQ(NlsFetchString(nullptr, nullptr, 1, "a"), NlsFetchString(nullptr, nullptr, 1, "b"));
}

// ---------------------------------------------------------------------------
// Opening databases
// ---------------------------------------------------------------------------

TEST(NlsOpen, OpensTheDatabaseOfTheChosenLanguage) {
    ToolRoot root;
    root.Database("ge_GE", "CoreString", {{"25_1000", "Weiter mit <Eingabe>"}});
    ChildResult r = RunChild([&] {
        static char lang[] = "ge_GE";
        pNLSLang = lang;
        DbT *db = NlsOpenDB("CoreString", DBT_NOREFRESH);
        fputs(NlsFetchString(db, NlsBuf, 0, 25, 1000), stdout);
        // Another language's missing database is an empty handle.
        DbT *none = NlsOpenDB("Missing", 0);
        printf("|%d|%s", none != nullptr && none->DbType == DBT_EMPTY,
               NlsFetchString(none, NlsBuf, 0, 25, 1000));
    });
    EXPECT_EQ(r.out, "Weiter mit <Eingabe>|1|25_1000");
    EXPECT_EQ(r.err, "");
}

// A language that trans.conf lists but whose catalog was not shipped reads
// English, as a key missing from a translation does; the chosen language
// stays what LANG asked for.
TEST(NlsOpen, ALanguageWithoutItsCatalogReadsEnglish) {
    ToolRoot root;
    root.TransConf("en_US = en_US\ncs_CZ = cs_CZ\nge_GE = de_DE\n");
    root.Database("en_US", "CoreString", {{"25_5011", "Queue name"}});
    root.Database("ge_GE", "CoreString", {{"25_5011", "Warteschlange"}});
    struct Case {
        const char *lang;
        const char *text;
    } cases[] = {
        {"cs_CZ.UTF-8", "cs_CZ|Queue name"}, // listed, no catalog: English
        {"de_DE", "ge_GE|Warteschlange"},    // listed, with its catalog
        {"en_US", "en_US|Queue name"},       // English itself
        {"xx_XX", "en_US|Queue name"},       // not listed: English as before
    };
    for (const Case &c : cases) {
        ChildResult r = RunChild([&] {
            setenv("LANG", c.lang, 1);
            DbT *db = NlsOpenDB("CoreString", 0);
            printf("%s|%s", GetDesiredNLSLang(), NlsFetchString(db, NlsBuf, 0, 25, 5011));
        });
        EXPECT_EQ(r.out, c.text) << c.lang;
        EXPECT_EQ(r.err, "") << c.lang;
    }
}

TEST(NlsOpen, AMissingEnglishDatabaseIsAnError) {
    ToolRoot root;
    for (const char *lang : {"en_US", "en_US_special"}) {
        ChildResult r = RunChild([&] {
            pNLSLang = SaveStr("%s", lang);
            printf("%d", NlsOpenDB("CoreString", 0) == nullptr);
        });
        EXPECT_EQ(r.out, "1") << lang;
        EXPECT_EQ(r.err, "ERROR:  Could not open English database:  " + root.dir.path + "/db/" +
                             lang + "/CoreString.xdb\n")
            << lang;
    }
}

TEST(NlsOpen, AHostLookupPaysNoFileCheck) {
    // Whatever the flags, a lookup answers from the image loaded at the open:
    // a file replaced under the running program is not looked at.
    ToolRoot root;
    root.Database("en_US", "CoreString", {{"25_1", "before"}});
    ChildResult r = RunChild([&] {
        static char lang[] = "en_US";
        pNLSLang = lang;
        DbT *db = NlsOpenDB("CoreString", 0);
        root.Database("en_US", "CoreString", {{"25_1", "after, and longer"}});
        fputs(NlsFetchString(db, NlsBuf, 0, 25, 1), stdout);
    });
    EXPECT_EQ(r.out, "before");
}

// ---------------------------------------------------------------------------
// Redirects
// ---------------------------------------------------------------------------

namespace {

struct RedirectCase {
    const char *text;
    const char *name; // null: no marker
    const char *after;
};

// Runs find on a copy of c.text in a buffer of Size bytes: the name it
// returns and the text it leaves behind.
template <size_t Size> void ExpectRedirect(char *(*find)(char *), const RedirectCase &c) {
    char buf[Size];
    snprintf(buf, sizeof buf, "%s", c.text);
    char *r = find(buf);
    if (c.name == nullptr) {
        EXPECT_EQ(r, nullptr) << c.text;
    } else {
        ASSERT_NE(r, nullptr) << c.text;
        EXPECT_STREQ(r, c.name) << c.text;
    }
    EXPECT_STREQ(buf, c.after) << c.text;
}

} // namespace

TEST(NlsRedirect, FindRedirectCutsAtTheMarkersDot) {
    const RedirectCase cases[] = {
        {"see $$printers.Redirect here", "printers", "see $$printers"},
        {"$$a.redirect", "a", "$$a"},
        {"$$a.REDIRECT", "a", "$$a"},
        {"$$a.rEdIrEcTion", "a", "$$a"},
        {"x.redirect $$a", nullptr, "x.redirect $$a"},
        {"$$a.redir", nullptr, "$$a.redir"},
        {"$$a.b.redirect", nullptr, "$$a.b.redirect"},
        {"$$name", nullptr, "$$name"},
        {"no marker.redirect", nullptr, "no marker.redirect"},
        {"$$.redirect", "", "$$"},
        {"", nullptr, ""},
    };
    for (const RedirectCase &c : cases)
        ExpectRedirect<128>(FindRedirect, c);
    EXPECT_EQ(FindRedirect(nullptr), nullptr);
}

TEST(NlsRedirect, CheckForRedirectReplacesTheText) {
    ToolRoot root;
    root.Database("en_US", "PrtHelp", {{"printers", "How to add a printer"}});
    DbT *saved = pPrtHelpDB;
    pPrtHelpDB = OpenDb("en_US", "PrtHelp");
    const RedirectCase cases[] = {
        {"see $$printers.Redirect here", "printers", "How to add a printer"},
        {"$$unknown.redirect", "unknown", "unknown"},
        {"plain text", nullptr, "plain text"},
    };
    for (const RedirectCase &c : cases)
        ExpectRedirect<NLS_STR_SIZE>(CheckForRedirect, c);
    // A name longer than the name buffer is cut there.
    std::string longName(100, 'n');
    char buf[NLS_STR_SIZE];
    snprintf(buf, sizeof buf, "$$%s.redirect", longName.c_str());
    EXPECT_EQ(std::string(CheckForRedirect(buf)), longName.substr(0, 63));
    DbTClose(pPrtHelpDB);
    pPrtHelpDB = saved;
}

// ---------------------------------------------------------------------------
// String value
// ---------------------------------------------------------------------------

namespace {

// The value computed directly: 64-bit sums cut to 32 bits at the end.
std::string DirectStrVal(const std::string &text) {
    int64_t s = 0, w = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        int64_t c = static_cast<signed char>(text[i]);
        int64_t k = static_cast<int64_t>(i + 1);
        s += c;
        w += k * k * c;
    }
    char buf[32];
    snprintf(buf, sizeof buf, "%08X%08X", static_cast<uint32_t>(w), static_cast<uint32_t>(s));
    return buf;
}

} // namespace

TEST(NlsStrVal, Abc) {
    EXPECT_STREQ(NlsCalcStrVal("abc"), "0000056400000126");
}

TEST(NlsStrVal, AgreesWithADirectComputation) {
    std::vector<std::string> texts = {"",       "a", "Dorna", "\xff", "\x80\x7f", "naïve façade",
                                      "25_1011"};
    for (int n : {100, 1000, 5000}) {
        std::string t;
        for (int i = 0; i < n; ++i)
            t += static_cast<char>((i * 37 + 11) % 255 + 1);
        texts.push_back(t);
    }
    for (int c = 1; c < 256; ++c)
        texts.push_back(std::string(3, static_cast<char>(c)));
    for (const std::string &t : texts)
        EXPECT_EQ(NlsCalcStrVal(t.c_str()), DirectStrVal(t)) << t;
    char *first = NlsCalcStrVal("a");
    EXPECT_EQ(NlsCalcStrVal("b"), first) << "one static buffer";
}
