// Tests of the print-system flags file on the host as it is: the word it
// holds must agree with what the host's own tools say, and the file must be
// replaced whole with mode 0644. The detections under each print system, and
// the directories of a fresh installation, are tested in the sandbox
// (e2e/pkg_e2e_test.cpp), where cupsd and lpd can be started and removed.
#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "setup.h"
#include "utils.h"

using testsupport::Mode;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// What the host's own tools say, independently of the installer's code.
std::string ExpectedWord() {
    if (testsupport::Shell("ps -e -o comm= | grep -qx cupsd").status == 0) return " CUPS ";
    if (testsupport::Shell("lpd=$(command -v lpd || ls /usr/sbin/lpd 2>/dev/null) && "
                           "\"$lpd\" -V 2>&1 | grep -q LPRng")
            .status == 0)
        return " LPRng ";
    return " BSD ";
}

} // namespace

TEST(PrintSystem, FlagsFileHoldsTheHostsPrintSystemWordWithMode0644) {
    TempDir dir("dpcfg");
    my_name = SaveStr("pkg_printsystem_test");
    std::string path = dir / ".dp_cfg";
    // An earlier, longer file with other bits is replaced whole.
    WriteFile(path, " LPRng CUPS BSD something longer\n", 0600);
    mode_t old = umask(077);
    int written = createPrintingSubsystemFile(dir.path.c_str());
    umask(old);
    EXPECT_EQ(written, 1);
    EXPECT_EQ(ReadFile(path), ExpectedWord());
    EXPECT_EQ(Mode(path), 0644);
    EXPECT_EQ(SniffCUPS(), ExpectedWord() == " CUPS " ? 1 : 0);
}

TEST(PrintSystem, UnwritableFlagsFileIsReportedAndTheRunGoesOn) {
    testing::internal::CaptureStderr();
    int written = createPrintingSubsystemFile("/nonexistent-dir");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(written, 0);
    EXPECT_EQ(err, "ERROR: couldn't open /nonexistent-dir/.dp_cfg\n");
}
