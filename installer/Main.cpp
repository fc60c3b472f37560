// main of the installer: the whole installation as one straight run.
// Every stop is an exit: 0 for a normal end or the user's own choice, 1 for a
// failure that stopped the installation, 2 for a bad command-line argument.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

#include "MemMgr.h"
#include "SysCmd.h"
#include "setup.h"
#include "utils.h"

namespace {

// Moves the previous installation to the new install root and renews the
// link at the well-known location.
void relocatePreviousInstallation(void) {
    flChangedHost = 1;
    pMovedFrom = pCurrentInstallDir;
    SysCmd(CMD_RM_RF, RUN_WARN, " %s", pAppDir);
    char *suite = SaveStr("%s/%s", pTargetInstallDir, SETUP_MAKER);
    CreateFile(suite, nullptr, "755", nullptr, nullptr);
    PutMem(suite);
    SysCmd(CMD_MV, RUN_FATAL, "-f %s/%s/%s %s/%s", pCurrentInstallDir, SETUP_MAKER, SETUP_APPNAME,
           pTargetInstallDir, SETUP_MAKER);
    if (strcmp(SETUP_WELLKNOWN, pAppDir) != 0) {
        SysCmd(CMD_RM, RUN_WARN, " %s", SETUP_WELLKNOWN);
        SysCmd(CMD_LN, RUN_FATAL, "-s %s/%s/%s %s/%s/%s", pTargetInstallDir, SETUP_MAKER,
               SETUP_APPNAME, "/usr", SETUP_MAKER, SETUP_APPNAME);
    }
}

// Puts /dev/null in place of standard input (also when it was closed).
void readNothingFromStandardInput(void) {
    int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0) SysError("cannot open /dev/null");
    if (fd != STDIN_FILENO) {
        if (dup2(fd, STDIN_FILENO) < 0) SysError("cannot replace standard input");
        close(fd);
    } else {
        fcntl(fd, F_SETFD, 0); // it is standard input itself: keep it for the commands
    }
    clearerr(stdin);
}

} // namespace

int main(int argc, char **argv) {
    // The usage text names the program; help and unknown options are
    // answered before the agreement, so that nothing is asked for them.
    my_name = SaveStr_(StripPath(argv[0]));
    // From here on the positional words alone, the options read.
    std::vector<char *> words = checkCommandLineOptions(argc, argv);
    argc = static_cast<int>(words.size()) - 1;
    argv = words.data();
    checkOperationWords(argc);
    // Looking needs neither the agreement nor write access.
    if (flVerify) exit_app(verifyInstallation(argc > 1 ? commandLineRoot(argv[1]) : nullptr));
    requireReportPath();
    startReport();
    // Unattended: nothing, not even a command the installation runs, may
    // read a question's answer from the terminal or the caller's pipe.
    if (flAcceptAgreement) readNothingFromStandardInput();
    checkWorkAreaBeforeAsking(argc, argv);
    checkInstallRootBeforeAsking(argc, argv);
    // The preview changes nothing on the host, the lock file included; the
    // installation it runs finds /run read-only and goes on without one.
    if (flPreview) exit_app(previewInstallation(argc, argv));
    takeInstallLock();
    checkRunLogBeforeAsking();

    if (flUninstall)
        exit_app(uninstallInstallation(argc > 1 ? commandLineRoot(argv[1]) : nullptr));
    if (!flAcceptAgreement && !UserAcceptedEULA(argc > 1 ? argv[1] : nullptr)) exit_app(0);

    flUseLog = 1;
    pDornaInstallDir = SaveStr("/tmp/%sInstall", SETUP_MAKER);
    LineBuf[0] = 0;
    pPathToSetup = GetToolPath(argv[0]);
    // The program's name names the run log, and every system command's
    // redirection names the log on a root shell's command line.
    requireShellSafePath("program name", my_name, 2);
    // The install site stands on the command lines of every copy.
    requireShellSafePath("install site", pPathToSetup, 2);

    InitSysCmdList();
    catchStopSignals();
    if (flAcceptAgreement)
        PutLogMsg("the agreement (%s) was accepted by --accept-agreement\n", GetTargetNLSLang());

    for (int i = 0; i < 5; ++i)
        InstallInfo[i] = nlsSetupStrCvt(10 + i);
    InstallSiteInfo[0] = nlsSetupStrCvt(10);
    InstallSiteInfo[1] = nlsSetupStrCvt(11);
    InstallSiteInfo[2] = nlsSetupStrCvt(17);
    InstallSiteInfo[3] = nlsSetupStrCvt(18);

    parseCommandLineOptions(argc, argv);

    pCurrentInstallDir = locatePreviousInstallation();
    requireShellSafePath("existing installation", pCurrentInstallDir, 1);
    if (pCmdLineInstallDir != nullptr)
        pTargetInstallDir = pCmdLineInstallDir;
    else if (pCurrentInstallDir != nullptr)
        pTargetInstallDir = pCurrentInstallDir;
    else
        pTargetInstallDir = SaveStr_("/usr");
    pAppDir = SaveStr("%s/%s/%s", pTargetInstallDir, SETUP_MAKER, SETUP_APPNAME);
    // The root in use, also one found at the well-known location, and the
    // one an installation moves away from, as they are now.
    requireTrustedInstallRoot(pTargetInstallDir, 2);
    requireTrustedInstallRoot(pCurrentInstallDir, 2);
    requireBuildablePaths();

    FreeSpaceForInstall(pDornaInstallDir, pTargetInstallDir, SETUP_MAKER);

    if (pCurrentInstallDir != nullptr) {
        if (QuitForRunningProcesses(pBinaryInstanceCheckList)) exit_app(0);
        armManifest(); // the relocation below already changes the host
        if (strcmp(pTargetInstallDir, pCurrentInstallDir) != 0) relocatePreviousInstallation();
    }

    // From here on the installation changes the host: whatever the end, the
    // manifest records what is there.
    armManifest();
    installFromSite(pDornaInstallDir);
    DornaClean(pDornaInstallDir);
    int failedSteps = reportFailedSteps();
    exit_app(flInstallStopped || failedSteps > 0 ? 1 : 0);
}
