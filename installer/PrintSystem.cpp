// Print-system detection and site layout.
//
// The suite's print scripts behave differently under each print system, so
// the installer records once, in APP/.dp_cfg, which one the host runs: CUPS
// when a cupsd process is running, else LPRng when the host's lpd says it is
// LPRng, else BSD spooling. A fresh installation also gets its application
// directory here and, for an install root other than /usr, the link at the
// well-known location.
#include <cstdio>
#include <cstring>

#include "MemMgr.h"
#include "SysCmd.h"
#include "setup.h"
#include "utils.h"

int SniffLprng(void) {
    if (!TestCmd(CMD_LPD)) return 0;
    // LPRng's lpd prints its version for -V and ends; other lpds either
    // refuse the flag or print something without the word.
    CmdResponse *lines = GetCmdResponse(CMD_LPD, "LPRng", " -V 2>&1");
    int found = lines != nullptr;
    FreeResponseList(lines);
    return found;
}

int SniffCUPS(void) {
    char *report = CheckProcTableForExecs("cupsd");
    int found = report != nullptr;
    if (report) PutMem(report);
    return found;
}

int createPrintingSubsystemFile(const char *dir) {
    // Both detections run every time, in this order; CUPS wins over LPRng.
    const char *content = " BSD ";
    if (SniffLprng()) content = " LPRng ";
    if (SniffCUPS()) content = " CUPS ";

    char path[SETUP_PATH_MAX];
    if (FormatBounded(path, sizeof path, "%s/.dp_cfg", dir) < 0) {
        fprintf(stderr, "ERROR: couldn't open %s\n", path);
        return 0;
    }
    return CreateTextFile(path, "wt", 0644, "%s", content);
}

void createInstallationDirectories(const char *root) {
    if (strcmp(root, "/usr") == 0) {
        CreateFile(pAppDir, nullptr, "755", nullptr, nullptr);
        return;
    }

    char dir[SETUP_PATH_MAX];
    if (FormatBounded(dir, sizeof dir, "%s/%s/%s", root, SETUP_MAKER, SETUP_APPNAME) < 0) {
        printf("ERROR: install root too long: %.60s...\n", root);
        exit_app(1);
    }
    CreateFile(dir, nullptr, "775", nullptr, nullptr);
    if (GetFileType("/usr/" SETUP_MAKER) == FILE_TYPE_NONE)
        CreateFile("/usr/" SETUP_MAKER, nullptr, "775", nullptr, nullptr);
    SysCmd(CMD_LN, RUN_FATAL, "-s %s/%s/%s %s/%s/%s", root, SETUP_MAKER, SETUP_APPNAME, "/usr",
           SETUP_MAKER, SETUP_APPNAME);
}
