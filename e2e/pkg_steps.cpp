// pkg_steps: runs single installer steps of the package side, so that the
// end-to-end tests can call them as root in the sandbox on their own.
//
//   pkg_steps dpcfg <dir>                       createPrintingSubsystemFile
//   pkg_steps dirs <root>                       createInstallationDirectories
//   pkg_steps scripts <root> <spool root>       createQueueScripts
//   pkg_steps solaris <pkg> <map dir> <work> <root>   upgradeSolarisPackage
//
// The installer's globals are set as setup sets them for <root>; the log is
// /tmp/pkg_steps.log. Prints the step's result and exits 0.
#include <cstdio>
#include <cstring>

#include "SysCmd.h"
#include "setup.h"
#include "utils.h"

namespace {

void SetRoot(const char *root) {
    pTargetInstallDir = SaveStr("%s", root);
    pAppDir = SaveStr("%s/%s/%s", root, SETUP_MAKER, SETUP_APPNAME);
}

int Usage(void) {
    fprintf(stderr, "usage: pkg_steps dpcfg DIR | dirs ROOT | scripts ROOT SPOOL-ROOT |"
                    " solaris PKG MAP-DIR WORK ROOT\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) return Usage();
    my_name = SaveStr("pkg_steps");
    flUseLog = 1;
    pDornaInstallDir = SaveStr("/tmp/DornaInstall");
    InitSysCmdList();

    const char *step = argv[1];
    if (strcmp(step, "dpcfg") == 0) {
        printf("%d\n", createPrintingSubsystemFile(argv[2]));
    } else if (strcmp(step, "dirs") == 0) {
        SetRoot(argv[2]);
        createInstallationDirectories(argv[2]);
    } else if (strcmp(step, "scripts") == 0 && argc == 4) {
        SetRoot(argv[2]);
        createQueueScripts(argv[3]);
    } else if (strcmp(step, "solaris") == 0 && argc == 6) {
        pDornaInstallDir = SaveStr("%s", argv[4]);
        SetRoot(argv[5]);
        int r = upgradeSolarisPackage(argv[2], argv[3]);
        printf("\n%d\n", r);
    } else {
        return Usage();
    }
    return 0;
}
