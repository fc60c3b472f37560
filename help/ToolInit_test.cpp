// The set-up of a host program: name, tool root, language, catalog and help
// title from one call, each case in a process of its own. Included as a
// program outside the tree includes it.
#include <dorna/DornaTool.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const std::string CATALOG = DORNA_CATALOG_ROOT;

// What a host program sees after DornaToolInit, one "name=value" per line.
struct Seen {
    int result;
    std::string name, root, lang, title, text; // text: the catalog's 25/1000
};

std::string Describe(const Seen &s) {
    return "result=" + std::to_string(s.result) + "\nname=" + s.name + "\nroot=" + s.root +
           "\nlang=" + s.lang + "\ntitle=" + s.title + "\ntext=" + s.text + "\n";
}

TEST(DornaToolInit, SetsTheNameRootLanguageCatalogAndHelpTitle) {
    testsupport::TempDir empty("toolinit");
    struct Row {
        const char *name;
        const char *envRoot;  // DORNA_TOOL_ROOT; null: unset
        const char *envLang;  // LANG; null: unset
        const char *toolRoot; // the call's arguments
        const char *lang;
        const char *imposed; // pNLSLang set by the host before the call
        Seen expected;
    } rows[] = {
        {"the root the program was told, the language of LANG",
         nullptr,
         "de_DE.UTF-8",
         CATALOG.c_str(),
         nullptr,
         nullptr,
         {1, "queue-menu", CATALOG, "ge_GE", "queue-menu-Hilfe", "Weiter mit <Eingabe>"}},
        {"the environment's root",
         CATALOG.c_str(),
         "C",
         nullptr,
         nullptr,
         nullptr,
         {1, "queue-menu", CATALOG, "en_US", "queue-menu Help", "Press <Return> to continue"}},
        {"the told root over the environment's",
         "/nowhere",
         "C",
         CATALOG.c_str(),
         nullptr,
         nullptr,
         {1, "queue-menu", CATALOG, "en_US", "queue-menu Help", "Press <Return> to continue"}},
        {"the call's language over LANG",
         CATALOG.c_str(),
         "de_DE",
         nullptr,
         "fr",
         nullptr,
         {1, "queue-menu", CATALOG, "fr_FR", "Aide de queue-menu",
          "Appuyez sur <Entrée> pour continuer"}},
        {"a language the host imposed stays",
         CATALOG.c_str(),
         "fr_FR",
         nullptr,
         nullptr,
         "ge_GE",
         {1, "queue-menu", CATALOG, "ge_GE", "queue-menu-Hilfe", "Weiter mit <Eingabe>"}},
        {"an unknown LANG takes English",
         CATALOG.c_str(),
         "xx_YY",
         nullptr,
         nullptr,
         nullptr,
         {1, "queue-menu", CATALOG, "en_US", "queue-menu Help", "Press <Return> to continue"}},
        {"no catalog under the root",
         nullptr,
         "C",
         empty.path.c_str(),
         nullptr,
         nullptr,
         {0, "queue-menu", empty.path, "en_US", "queue-menu Help", ""}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        auto run = testsupport::RunChild([&] {
            if (r.envRoot)
                setenv("DORNA_TOOL_ROOT", r.envRoot, 1);
            else
                unsetenv("DORNA_TOOL_ROOT");
            if (r.envLang)
                setenv("LANG", r.envLang, 1);
            else
                unsetenv("LANG");
            if (r.imposed) pNLSLang = const_cast<char *>(r.imposed);
            Seen s;
            s.result = DornaToolInit("/opt/tools/bin/queue-menu", r.toolRoot, r.lang);
            s.name = my_name ? my_name : "(null)";
            s.root = pToolPath ? pToolPath : "(null)";
            s.lang = pNLSLang ? pNLSLang : "(null)";
            s.title = pTtyHtmlTitle ? pTtyHtmlTitle : "(null)";
            if (char *text = NlsFindText(pDrvCoreDB, 25, 1000)) {
                s.text = text;
                PutMem(text);
            }
            printf("%s", Describe(s).c_str());
        });
        EXPECT_EQ(run.out, Describe(r.expected)) << run.err;
        if (r.expected.result == 0) {
            std::string said = "queue-menu: the catalog under " + empty.path + " cannot be read";
            EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
        }
    }
}

// The Italian text of 25/1000, from the catalog source.
std::string ItalianContinue() {
    std::string po = testsupport::ReadFile(DORNA_SOURCE_ROOT "/nls/catalog/it_IT.po");
    size_t at = po.find("msgctxt \"25_1000\"");
    at = po.find("msgstr \"", at) + 8;
    return po.substr(at, po.find('"', at) - at);
}

TEST(DornaToolInit, ASecondCallReplacesWhatTheFirstSet) {
    auto run = testsupport::RunChild([] {
        unsetenv("DORNA_TOOL_ROOT");
        setenv("LANG", "C", 1);
        DornaToolInit("first", CATALOG.c_str(), "de");
        DornaToolInit("second", CATALOG.c_str(), "it");
        char *text = NlsFindText(pDrvCoreDB, 25, 1000);
        printf("%s %s %s|%s", my_name, pNLSLang, pTtyHtmlTitle, text ? text : "");
        PutMem(text);
    });
    // The Italian catalog: neither the German nor the English text.
    EXPECT_EQ(run.out, "second it_IT Guida di second|" + ItalianContinue()) << run.err;
}

} // namespace
