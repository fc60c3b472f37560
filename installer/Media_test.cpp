// The install site's disks list and the joining of the archive pieces, with
// the real shell and cat. Each case runs in a child: the installer's globals,
// the log and the command table are process-wide.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "TestSupport.h"
#include "SysCmd.h"
#include "setup.h"
#include "utils.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// Sets the globals a step of the installer needs, as setup does.
void StartInstaller(const std::string &work) {
    my_name = SaveStr_("media_unit");
    flUseLog = 1;
    pDornaInstallDir = SaveStr_(work.c_str());
    InitSysCmdList();
}

} // namespace

TEST(Media, DisksListIsReadFromLowerOrUpperCaseFile) {
    TempDir dir("disks");
    const std::string lower = "disks\npkg_tar.aa pkg_tar.ab\nend_of_list\n";
    WriteFile(dir / "disks", lower);
    EXPECT_EXIT(
        {
            GetDisksData(dir.path.c_str());
            _exit(strcmp(LineBuf, lower.c_str()) == 0 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");

    // A DISKS file is upper-cased up to its end marker, not behind it.
    unlink((dir / "disks").c_str());
    WriteFile(dir / "DISKS", "disks\nPkg_tar.aa\nend_of_list pkg_tar.zz\n");
    EXPECT_EXIT(
        {
            GetDisksData(dir.path.c_str());
            fprintf(stderr, "[%s]", LineBuf);
            _exit(strcmp(LineBuf, "DISKS\nPKG_TAR.AA\nend_of_list pkg_tar.zz\n") == 0 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");

    // Neither file: message 21 behind "ERROR: " on standard error, status 1.
    unlink((dir / "DISKS").c_str());
    EXPECT_EXIT(
        {
            unsetenv("LANG");
            GetDisksData(dir.path.c_str());
        },
        testing::ExitedWithCode(1), "^ERROR: can't open file, DornaInstall/disks\n$");
}

TEST(Media, PiecesAreJoinedInListOrderUpToTheEndOfTheList) {
    TempDir dir("join");
    const std::string work = dir.path;
    for (const char *piece : {"pkg_tar.aa", "pkg_tar.ab", "PKG_TAR.AC", "pkg_tar.ad", "other"})
        WriteFile(dir / piece, std::string(piece) + "|");
    // Blanks and line ends separate the words, a tab does not; a named piece
    // that is missing is skipped; nothing behind end_of_list is joined.
    WriteFile(dir / "disks", "disks\npkg_tar.ab\r\npkg_tar.aa pkg_tar.zz other\n"
                             "x\tpkg_tar.ad\nPKG_TAR.AC\nend_of_list\npkg_tar.ad\n");
    EXPECT_EXIT(
        {
            StartInstaller(work);
            genZFile();
            _exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadFile(dir / "DornaLinuxi386Dpxx.tar.Z"), "pkg_tar.ab|pkg_tar.aa|PKG_TAR.AC|");

    // A list that does not name the disks file itself: the work directory
    // holds no list, and the join stops the program with status 1.
    unlink((dir / "disks").c_str());
    EXPECT_EXIT(
        {
            StartInstaller(work);
            genZFile();
            _exit(0);
        },
        testing::ExitedWithCode(1), "ERROR: can't open file, DornaInstall/disks");
    unlink("/tmp/media_unit.log");
}

TEST(Media, DisksListIsCutTheWayEachReaderNeedsIt) {
    // The copy cuts lines, then words with escapes, and a marker word ends
    // only its line; the join cuts words at blank and line ends only and
    // stops at the first marker word.
    const struct {
        const char *name;
        const char *text;
        const char *copy; // names joined by "|"
        const char *join;
    } kCases[] = {
        {"empty", "", "", ""},
        {"one name a line", "disks\npkg_tar.aa\npkg_tar.ab\nend_of_list\n",
         "disks|pkg_tar.aa|pkg_tar.ab", "disks|pkg_tar.aa|pkg_tar.ab"},
        {"no final newline", "disks\npkg_tar.aa", "disks|pkg_tar.aa", "disks|pkg_tar.aa"},
        {"CR LF and empty lines", "disks\r\n\r\npkg_tar.aa\r\nend_of_list\r\nx\r\n",
         "disks|pkg_tar.aa", "disks|pkg_tar.aa"},
        {"tab separates only for the copy", "a\tb\nend_of_list\n", "a|b", "a\tb"},
        {"marker word ends a copy line, the join list", "a end_of_list b\nc\nend_of_list\n", "a|c",
         "a"},
        {"marker line ends both", "a\nend_of_list\nb\n", "a", "a"},
        {"marker inside a word is a name", "xend_of_list\n", "xend_of_list", "xend_of_list"},
        {"escapes only for the copy", "pkg\\ tar a\\tb\n", "pkg tar|a\tb", "pkg\\|tar|a\\tb"},
        {"lone backslash ends a copy line", "a \\\nb\n", "a|b", "a|\\|b"},
    };
    auto joined = [](const std::vector<std::string> &names) {
        std::string out;
        for (const std::string &n : names)
            out += (out.empty() ? "" : "|") + n;
        return out;
    };
    for (const auto &c : kCases) {
        EXPECT_EQ(joined(ParseDisksList(c.text, DISKS_COPY)), c.copy) << c.name;
        EXPECT_EQ(joined(ParseDisksList(c.text, DISKS_JOIN)), c.join) << c.name;
    }
    EXPECT_TRUE(ParseDisksList(nullptr, DISKS_COPY).empty());

    // A copy word is kept to what the tokenizer holds.
    const std::string longName(300, 'n');
    std::vector<std::string> names = ParseDisksList(longName.c_str(), DISKS_COPY);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], longName.substr(0, TOKEN_BUF_SIZE - 1));
    EXPECT_EQ(ParseDisksList(longName.c_str(), DISKS_JOIN)[0], longName);
}

TEST(Media, UpperCaseStopsWhereTheMarkerBegins) {
    const struct {
        const char *text;
        const char *upper;
    } kCases[] = {
        {"", ""},
        {"disks\npkg_tar.aa\n", "DISKS\nPKG_TAR.AA\n"},
        {"a\nend_of_list b\n", "A\nend_of_list b\n"},
        {"xend_of_list y", "Xend_of_list y"},
        {"\xc3\xa4 1-b", "\xc3\xa4 1-B"},
    };
    for (const auto &c : kCases) {
        std::string text = c.text;
        UpperCaseDisksList(text.data());
        EXPECT_EQ(text, c.upper) << c.text;
    }
}
