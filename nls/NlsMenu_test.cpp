// Tests of catalog texts in menus, composed strings and formatted output.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "MemMgr.h"
#include "NlsTestSupport.h"
#include "NlsUtils.h"

using namespace nls_testing;

namespace {

// A core database with a few section 25 and 30 entries, in pDrvCoreDB for
// the test's duration.
class NlsMenu : public ::testing::Test {
  protected:
    ToolRoot root;
    DbT *saved = nullptr;
    std::string longText;

    void SetUp() override {
        // 126 ASCII characters and a two-byte character: 128 bytes.
        longText = std::string(126, 'm') + "é";
        root.Database("en_US", "CoreString",
                      {{"25_201", "s=Save"},
                       {"25_202", "c=Cancel"},
                       {"25_203", "Current selection: %s"},
                       {"25_300", longText},
                       {"25_301", std::string(500, 'z')},
                       {"25_1023", "Names: %d of menu"},
                       {"30_1", "printers"},
                       {"30_2", "queues"},
                       {"30_3", std::string(2000, 'q')}});
        saved = pDrvCoreDB;
        pDrvCoreDB = OpenDb("en_US", "CoreString");
    }
    void TearDown() override {
        DbTClose(pDrvCoreDB);
        pDrvCoreDB = saved;
    }
};

// An item array of n items and the null-text item that ends it.
struct Items {
    TextMenuItem item[5];
    static char keep[];
    Items() {
        memset(item, 0, sizeof item);
        for (auto &i : item)
            i.pText = i.pStates = i.pPrompt = keep;
        item[4].pText = nullptr;
    }
    ~Items() {
        for (auto &i : item)
            for (char *p : {i.pText, i.pStates, i.pPrompt})
                if (p != nullptr && p != keep) PutMem(p);
    }
};
char Items::keep[] = "keep";

} // namespace

TEST_F(NlsMenu, ItemConversionsFillOneFieldOfConsecutiveItems) {
    using Cvt = int (*)(TextMenuItem *, int, int);
    struct Case {
        const char *name;
        Cvt cvt;
        char *TextMenuItem::*field;
    } cases[] = {
        {"texts", NlsTtyMenuItemCvt, &TextMenuItem::pText},
        {"states", NlsTtyMenuItemStateCvt, &TextMenuItem::pStates},
        {"prompts", NlsTtyMenuItemPromptCvt, &TextMenuItem::pPrompt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Items items;
        EXPECT_EQ(c.cvt(items.item, 201, 3), 3);
        EXPECT_STREQ(items.item[0].*c.field, "s=Save");
        EXPECT_STREQ(items.item[1].*c.field, "c=Cancel");
        EXPECT_STREQ(items.item[2].*c.field, "Current selection: %s");
        EXPECT_EQ(items.item[3].*c.field, Items::keep) << "past count: untouched";
        // The other text fields stay as they were.
        for (char *TextMenuItem::*other :
             {&TextMenuItem::pText, &TextMenuItem::pStates, &TextMenuItem::pPrompt})
            if (other != c.field) {
                EXPECT_EQ(items.item[0].*other, Items::keep);
            }
    }
}

TEST_F(NlsMenu, MissingEntriesShowTheirKeyAndLongTextsAreCut) {
    Items items;
    EXPECT_EQ(NlsTtyMenuItemCvt(items.item, 299, 3), 3);
    EXPECT_STREQ(items.item[0].pText, "25_299");
    // 127 bytes would split the two-byte character: it is left out whole.
    EXPECT_EQ(std::string(items.item[1].pText), std::string(126, 'm'));
    EXPECT_EQ(std::string(items.item[2].pText), std::string(127, 'z'));
    EXPECT_EQ(NlsTtyMenuItemCvt(items.item, 201, 0), 0);
    EXPECT_EQ(NlsTtyMenuItemCvt(nullptr, 201, 2), 2);
}

TEST_F(NlsMenu, SingleTextConversion) {
    char *text = nullptr;
    char *r = NlsTtyMenuCvt(&text, 202);
    EXPECT_EQ(r, text);
    EXPECT_STREQ(text, "c=Cancel");
    PutMem(text);
    r = NlsTtyMenuCvt(&text, 7);
    EXPECT_STREQ(text, "25_7");
    PutMem(text);
}

TEST_F(NlsMenu, WithoutCoreDatabaseMenusShowKeys) {
    DbT *db = pDrvCoreDB;
    pDrvCoreDB = nullptr;
    Items items;
    NlsTtyMenuItemCvt(items.item, 201, 2);
    EXPECT_STREQ(items.item[0].pText, "25_201");
    EXPECT_STREQ(items.item[1].pText, "25_202");
    pDrvCoreDB = db;
}

TEST_F(NlsMenu, GuiStrCvtFillsTheSlotsInOrder) {
    struct Case {
        const char *format;
        int section;
        const char *expected;
    } cases[] = {
        {"%s and %s", 30, "printers and queues"},
        {"100% sure: %s", 30, "100% sure: printers"},
        {"%d items in %s", 30, "%d items in printers"},
        {"%", 30, "%"},
        {"end %", 30, "end %"},
        {"%%s", 30, "%printers"},
        {"%s %s %s %s", 30, "printers queues " /* 30_3 below */},
        {"no slots", 30, "no slots"},
        {"%s", 31, "31_1"},
        {"", 30, ""},
    };
    for (const Case &c : cases) {
        char buf[4096];
        memset(buf, 'X', sizeof buf);
        EXPECT_EQ(NlsGuiStrCvt(c.format, c.section, buf, sizeof buf), buf);
        if (strcmp(c.format, "%s %s %s %s") == 0) {
            // 30_3 is cut to a slot's 1023 characters; 30_4 is missing.
            EXPECT_EQ(std::string(buf), "printers queues " + std::string(1023, 'q') + " 30_4");
        } else {
            EXPECT_STREQ(buf, c.expected) << c.format;
        }
        // The whole buffer was cleared behind the result.
        EXPECT_EQ(buf[sizeof buf - 1], '\0') << c.format;
    }
}

TEST_F(NlsMenu, GuiStrCvtStaysInsideItsBuffer) {
    struct Guarded {
        char buf[12];
        char guard[32];
    } g;
    memset(g.guard, 'G', sizeof g.guard);
    EXPECT_STREQ(NlsGuiStrCvt("%s and %s", 30, g.buf, sizeof g.buf), "printers an");
    EXPECT_STREQ(NlsGuiStrCvt("ab%s", 30, g.buf, 4), "abp");
    EXPECT_EQ(std::string(g.guard, sizeof g.guard), std::string(sizeof g.guard, 'G'));
    EXPECT_EQ(NlsGuiStrCvt("x", 30, nullptr, 10), nullptr);
    char one[1] = {'X'};
    EXPECT_STREQ(NlsGuiStrCvt("%s", 30, one, 1), "");
}

TEST_F(NlsMenu, FprintfFormatsTheEntryOrWritesError) {
    struct Case {
        const char *name;
        DbT *db;
        int section, number;
        const char *expected;
    } cases[] = {
        {"found", pDrvCoreDB, 25, 1023, "Names: 3 of menu"},
        {"missing entry", pDrvCoreDB, 25, 4711, "Error"},
        {"no handle", nullptr, 25, 1023, "Error"},
    };
    for (const Case &c : cases) {
        char *text = nullptr;
        size_t size = 0;
        FILE *f = open_memstream(&text, &size);
        Nlsfprintf(f, c.db, c.section, c.number, 3, "menu");
        fclose(f);
        EXPECT_EQ(std::string(text, size), c.expected) << c.name;
        free(text);
    }
}

TEST_F(NlsMenu, SprintfFormatsTheEntryOrWritesError) {
    Nlssprintf(NlsBuf, pDrvCoreDB, 25, 1023, 3, "menu");
    EXPECT_STREQ(NlsBuf, "Names: 3 of menu");
    Nlssprintf(NlsBuf, pDrvCoreDB, 25, 4711, 3, "menu");
    EXPECT_STREQ(NlsBuf, "Error");
    Nlssprintf(NlsBuf, nullptr, 25, 1023, 3, "menu");
    EXPECT_STREQ(NlsBuf, "Error");
    Nlssprintf(nullptr, pDrvCoreDB, 25, 1023, 3, "menu"); // nothing to write into
}

TEST_F(NlsMenu, SprintfIsCutAtTheMessageBuffersSize) {
    static struct {
        char buf[NLS_BUF_SIZE];
        char guard[64];
    } g;
    memset(g.guard, 'G', sizeof g.guard);
    std::string huge(100000, 'h');
    Nlssprintf(g.buf, pDrvCoreDB, 25, 203, huge.c_str());
    EXPECT_EQ(strlen(g.buf), static_cast<size_t>(NLS_BUF_SIZE - 1));
    EXPECT_EQ(std::string(g.buf, 19), "Current selection: ");
    EXPECT_EQ(std::string(g.guard, sizeof g.guard), std::string(sizeof g.guard, 'G'));
    EXPECT_EQ(sizeof NlsBuf, 65535u);
}

// A catalog anyone could write is data, never a format of its own choosing:
// a text is used as a format only when its conversions are those of the
// English text built into the program; otherwise the English text is used,
// with a warning once per key.
TEST(NlsCheckedFormat, HostileCatalogTextsGiveTheEnglishText) {
    struct Case {
        const char *name;
        const char *key;
        const char *text;
        bool used; // the catalog text, else the English one
    } cases[] = {
        {"a translation with the same conversions", "25_5005",
         "\nEinstellungen der Warteschlange %s in %s geschrieben", true},
        {"%% and flags change nothing", "25_1003", "Zwischen %-3i und %05i (100%%)", true},
        {"a conversion that writes", "25_5005", "%s%s%s%n", false},
        {"more conversions", "25_5006", "%s %s", false},
        {"fewer conversions", "25_5005", "only %s", false},
        {"another conversion", "25_1023", "Choice %s", false},
        {"the same conversions in another order", "30_42", "%i %s", false},
        {"conversions where the English has none", "25_201", "s=%s", false},
        {"a directive cut by the end", "25_5006", "Could not write %", false},
        {"a key the program has no English text of", "99_1", "%s", false},
        {"no conversions at all", "99_2", "plain", true},
    };
    for (const Case &c : cases) {
        const char *english = NlsEnglishFor(c.key);
        const char *want = c.used ? c.text : (english != nullptr ? english : c.key);
        EXPECT_STREQ(NlsCheckedFormat(c.key, c.text), want) << c.name;
    }
    EXPECT_STREQ(NlsEnglishFor("25_5005"), "\nSettings of queue %s written to %s");
    EXPECT_STREQ(NlsCheckedFormat("25_5005", nullptr), "\nSettings of queue %s written to %s");

    // The warning, once per key (keys not refused above: the child inherits
    // which keys were reported).
    testsupport::ChildResult r = testsupport::RunChild([] {
        NlsCheckedFormat("25_1014", "%n");
        NlsCheckedFormat("25_1014", "%s%s");
        NlsCheckedFormat("25_1015", "%n");
    });
    EXPECT_EQ(r.err,
              "WARNING: the catalog text of 25_1014 does not take the arguments of its English "
              "text; the English text is used\n"
              "WARNING: the catalog text of 25_1015 does not take the arguments of its English "
              "text; the English text is used\n");
}

// Every formatted lookup of the catalog checks its text.
TEST(NlsCheckedFormat, FormattedLookupsNeverUseAHostileText) {
    ToolRoot root;
    root.Database("en_US", "CoreString",
                  {{"25_5005", "%s%s%s%s%s%n"}, {"25_1023", "%s%s%s%s%n"}});
    testsupport::ChildResult r = testsupport::RunChild([&] {
        DbT *saved = pDrvCoreDB;
        pDrvCoreDB = OpenDb("en_US", "CoreString");
        char *text = nullptr;
        size_t size = 0;
        FILE *f = open_memstream(&text, &size);
        Nlsfprintf(f, pDrvCoreDB, 25, 5005, "lp0", "/x");
        fclose(f);
        printf("[%s]", text);
        free(text);
        Nlssprintf(NlsBuf, pDrvCoreDB, 25, 1023, 7);
        printf("[%s]", NlsBuf);
        DbTClose(pDrvCoreDB);
        pDrvCoreDB = saved;
    });
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "[\nSettings of queue lp0 written to /x][There is no choice 7 in this list.\n]");
}
