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
void StartInstaller(const std::string &work)
{
    my_name = SaveStr_("media_unit");
    flUseLog = 1;
    pDornaInstallDir = SaveStr_(work.c_str());
    InitSysCmdList();
}

} // namespace

TEST(Media, DisksListIsReadFromLowerOrUpperCaseFile)
{
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

TEST(Media, PiecesAreJoinedInListOrderUpToTheEndOfTheList)
{
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
