// Language choice, agreements and message tables.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "setup.h"
#include "TestSupport.h"

namespace {

// Forgets both cached choices and sets LANG (null: unset).
void chooseLang(const char *lang) {
    pNLSLang = nullptr;
    pCurLang = nullptr;
    if (lang == nullptr)
        unsetenv("LANG");
    else
        setenv("LANG", lang, 1);
}

// The printf conversions of a text, in order ("%s", "%e", "%i", ...);
// "%%" is no conversion.
std::vector<std::string> conversions(const char *text) {
    std::vector<std::string> out;
    for (const char *p = text; *p; ++p) {
        if (*p != '%') continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        const char *q = p + 1;
        while (*q && strchr("-+ #0123456789.*hlLqjzt", *q))
            ++q;
        out.push_back(std::string(p, q + (*q ? 1 : 0)));
        p = *q ? q : q - 1;
    }
    return out;
}

const char *const *const TABLES[] = {NLS_ENGLISH, NLS_SPANISH, NLS_ITALIAN,
                                     NLS_FRENCH,  NLS_GERMAN,  NLS_PORTUGUESE};
const char *const TABLE_NAMES[] = {"English", "Spanish", "Italian",
                                   "French",  "German",  "Portuguese"};

} // namespace

TEST(Nls, AgreementLanguageFollowsTheAliasTable) {
    struct Case {
        const char *lang;
        const char *key;
    } cases[] = {
        {nullptr, "en_US"},
        {"en_US", "en_US"},
        {"en_GB", "en_US"},
        {"en_ZW", "en_US"},
        {"fr_FR.UTF-8", "fr_FR"},
        {"fr_CA", "fr_FR"},
        {"français", "fr_FR"},
        {"de_DE", "ge_GE"},
        {"de_AT.ISO-8859-1", "ge_GE"},
        {"ge_GE", "ge_GE"},
        {"german", "ge_GE"},
        {"es", "es_ES"},
        {"es_ES", "es_ES"},
        {"es_MX", "es_ES"},
        {"español", "es_ES"},
        {"it_IT", "it_IT"},
        {"pt_BR", "pr_BR"},
        {"portuguese", "pr_BR"},
        {"cs_CZ", "cs_CZ"},
        {"fi_FI", "fi_FI"},
        {"sv_FI", "fi_FI"},
        {"sv_SE", "sv_SE"},
        {"hu_HU", "hu_HU"},
        {"nl_BE", "nl_NL"},
        {"nb_NO", "no_NO"},
        {"nynorsk", "no_NO"},
        {"pl_PL", "pl_PL"},
        {"ru_UA", "ru_RU"},
        {"tr_TR", "tr_TR"},
        {"da_DK", "da_DK"},
        {"dansk", "da_DK"},
        {"C", "en_US"},
        {"POSIX", "en_US"},
        {"xx_YY", "en_US"},
        {"", "en_US"},
        // Whole words only: a value found inside a longer word or across
        // words names no language, and the first line that lists it wins.
        {"sv", "en_US"},
        {"nn", "en_US"},
        {"pt_", "en_US"},
        {"portug", "en_US"},
        {"en_US en", "en_US"},
        {"=", "en_US"},
        {"es_ES =", "en_US"},
        {"pr", "en_US"},
        {"fi", "en_US"},
        {"se_NO", "no_NO"},
        {"fr", "fr_FR"},
        {"en_SE", "en_US"},
    };
    for (const Case &c : cases) {
        chooseLang(c.lang);
        EXPECT_STREQ(GetTargetNLSLang(), c.key) << "LANG=" << (c.lang ? c.lang : "(unset)");
    }
}

// The table is built in from the catalog's trans.conf: its alias lines, one
// language per line but for the continuation of English.
TEST(Nls, AliasTableIsGeneratedFromTheCatalogsTransConf) {
    std::ifstream in(SETUP_SOURCE_DIR "/../nls/catalog/trans.conf");
    ASSERT_TRUE(in) << "trans.conf";
    std::string conf, line;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '#') conf += line + "\n";
    EXPECT_EQ(pTransBuf, conf);

    std::vector<std::string> keys;
    std::istringstream lines(pTransBuf);
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        size_t eq = line.find(" = ");
        if (eq != std::string::npos) keys.push_back(line.substr(0, eq));
    }
    EXPECT_EQ(count, 17);
    EXPECT_EQ(keys, (std::vector<std::string>{"en_US", "pr_BR", "fr_FR", "it_IT", "ge_GE", "es_ES",
                                              "cs_CZ", "fi_FI", "hu_HU", "nl_NL", "no_NO", "pl_PL",
                                              "ru_RU", "sv_SE", "tr_TR", "da_DK"}));
}

TEST(Nls, ChoicesAreCachedAndLangLosesItsCodeset) {
    chooseLang("fr_FR.UTF-8");
    EXPECT_STREQ(GetTargetNLSLang(), "fr_FR");
    EXPECT_STREQ(getenv("LANG"), "fr_FR");
    EXPECT_STREQ(nlsSetupStrCvt(3), NLS_FRENCH[3]);
    setenv("LANG", "de_DE", 1); // later changes do not count
    EXPECT_STREQ(GetTargetNLSLang(), "fr_FR");
    EXPECT_STREQ(nlsSetupStrCvt(69), NLS_FRENCH[69]);
}

TEST(Nls, MessageLanguageUsesOnlyTheSixExactKeys) {
    struct Case {
        const char *lang;
        const char *const *table;
    } cases[] = {
        {nullptr, NLS_ENGLISH},       {"en_US", NLS_ENGLISH},    {"es_ES", NLS_SPANISH},
        {"es_ES.UTF-8", NLS_SPANISH}, {"it_IT", NLS_ITALIAN},    {"fr_FR", NLS_FRENCH},
        {"ge_GE", NLS_GERMAN},        {"pr_BR", NLS_PORTUGUESE}, {"de_DE", NLS_ENGLISH},
        {"es", NLS_ENGLISH},          {"pt_BR", NLS_ENGLISH},    {"C", NLS_ENGLISH},
        {"sv_FI", NLS_ENGLISH},       {"fr", NLS_ENGLISH},
    };
    for (const Case &c : cases) {
        chooseLang(c.lang);
        EXPECT_EQ(nlsSetupStrCvt(0), c.table[0]) << "LANG=" << (c.lang ? c.lang : "(unset)");
        EXPECT_EQ(pCurLang, c.table);
    }
    EXPECT_STREQ(nlsSetupStrCvt(-1), "");
    EXPECT_STREQ(nlsSetupStrCvt(NLS_MSG_COUNT), "");
}

TEST(Nls, EveryTranslationCarriesTheEnglishConversionsInOrder) {
    for (int t = 0; t < 6; ++t)
        for (int i = 0; i < NLS_MSG_COUNT; ++i) {
            ASSERT_NE(TABLES[t][i], nullptr);
            EXPECT_EQ(conversions(TABLES[t][i]), conversions(NLS_ENGLISH[i]))
                << TABLE_NAMES[t] << " entry " << i << ": " << TABLES[t][i];
        }
}

TEST(Nls, TranslationsAreTranslated) {
    // Entries that are words, not names or empty, differ from the English.
    for (int t = 1; t < 6; ++t)
        for (int i : {3, 10, 35, 49, 55, 56, 62, 63, 65, 66, 67, 68, 69, 70})
            EXPECT_STRNE(TABLES[t][i], NLS_ENGLISH[i]) << TABLE_NAMES[t] << " entry " << i;
}

TEST(Nls, EnglishEntriesOfTheInstallerAreExact) {
    struct Case {
        int index;
        const char *text;
    } cases[] = {
        {3, "ERROR: couldn't open %s"},
        {21, "can't open file, %sInstall/disks"},
        {35, "%s is logged in\nYou must become root to run %s\n"},
        {15, "\t\t\"wrong number of arguments to interface program\" \\\n"},
        {57, ""},
        {63, "\nDo You want to continue with the installation? [yn] "},
        {65, "Could not determine how much space needed for install, missing isize.\n"},
        {66, "\nThe following processes are running.\nThe installer can not continue until these "
             "terminate:\n"},
        {67, "Would you like to:\n"},
        {68, "1.  Wait 30 seconds for these processes to terminate\n"},
        {69, "2.  Quit the installation\n"},
        {70, "\nEnter a selection:  "},
        {49,
         "There isn't enough space in %s to perform the installation activities. The temporary "
         "work area should be at least %e bytes. Restart the installation procedure using a work "
         "area that has enough space. \nie: 1. Use /new_work_area_path in place of /tmp\n    2. "
         "Run `setup /new_work_area_path`\n"},
    };
    for (const Case &c : cases)
        EXPECT_STREQ(NLS_ENGLISH[c.index], c.text) << "entry " << c.index;
}

TEST(Nls, OldDaemonQuestionNamesEachLanguagesLetters) {
    EXPECT_NE(strstr(NLS_SPANISH[63], "[sn]"), nullptr);
    EXPECT_NE(strstr(NLS_FRENCH[63], "[on]"), nullptr);
    EXPECT_NE(strstr(NLS_GERMAN[63], "[jn]"), nullptr);
}

TEST(Nls, EveryAgreementIsWholeAndEndsWithItsQuestion) {
    const char *const eulas[] = {pEnglishEULA,   pSpanishEULA,    pItalianEULA,   pFrenchEULA,
                                 pGermanEULA,    pPortugueseEULA, pCzechEULA,     pFinnishEULA,
                                 pHungarianEULA, pDutchEULA,      pNorwegianEULA, pPolishEULA,
                                 pRussianEULA,   pSwedishEULA,    pTurkishEULA};
    for (size_t i = 0; i < sizeof eulas / sizeof eulas[0]; ++i) {
        std::string text(eulas[i]);
        EXPECT_GT(text.size(), 7000u) << "agreement " << i;
        std::string last = text.substr(text.rfind('\n') + 1);
        EXPECT_NE(last.find("(y)"), std::string::npos) << last;
        EXPECT_NE(last.find("(n)"), std::string::npos) << last;
        EXPECT_NE(text.find("4.30.09"), std::string::npos) << "agreement " << i;
        EXPECT_NE(text.back(), '\n');
        for (size_t j = 0; j < i; ++j)
            EXPECT_STRNE(eulas[i], eulas[j]);
    }
    EXPECT_NE(std::string(pEnglishEULA).rfind("Agree (y) / Disagree (n)?"), std::string::npos);
    EXPECT_EQ(std::string(pEnglishEULA).substr(strlen(pEnglishEULA) - 25),
              "Agree (y) / Disagree (n)?");
}

TEST(Nls, MessageFilesHoldSeventyOneNumberedEntries) {
    for (const char *lang : {"en", "es", "it", "fr", "de", "pt"}) {
        std::ifstream in(std::string(SETUP_SOURCE_DIR) + "/nls/" + lang + ".txt");
        ASSERT_TRUE(in) << lang;
        std::string line;
        int n = 0;
        while (std::getline(in, line)) {
            EXPECT_EQ(line.substr(0, line.find('\t')), std::to_string(n)) << lang;
            ++n;
        }
        EXPECT_EQ(n, NLS_MSG_COUNT) << lang;
    }
}

TEST(Nls, FormattedMessagesFollowTheChosenLanguage) {
    chooseLang("ge_GE");
    char buf[256];
    nlsFormat(buf, sizeof buf, 3, "/x");
    EXPECT_STREQ(buf, "FEHLER: /x konnte nicht geöffnet werden");
    chooseLang(nullptr);
    nlsFormat(buf, sizeof buf, 21, SETUP_MAKER);
    EXPECT_STREQ(buf, "can't open file, DornaInstall/disks");
    nlsFormat(buf, 8, 3, "/a/long/path"); // cut, never overrun
    EXPECT_STREQ(buf, "ERROR: ");
}

// Without a terminal the agreement goes out byte for byte as one piece,
// its question's blank behind it; the answer decides.
TEST(Nls, PipedAgreementIsPrintedWhole) {
    struct Case {
        const char *lang;
        const char *const *text;
        const char *answer;
        int accepted;
    } cases[] = {
        {"en_US", &pEnglishEULA, "y\n", 1},
        {"fr_FR", &pFrenchEULA, "n\n", 0},
        {"C", &pEnglishEULA, "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.lang);
        testsupport::ChildResult r = testsupport::RunChild(
            [&] {
                setenv("LANG", c.lang, 1);
                pNLSLang = nullptr;
                printf("|%d", UserAcceptedEULA(nullptr));
            },
            c.answer);
        EXPECT_EQ(r.out, std::string(*c.text) + " |" + std::to_string(c.accepted));
    }
}
