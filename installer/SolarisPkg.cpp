// Solaris package upgrade: placeholder until the real code lands.
#include "setup.h"

const char *pPathToInstallf = "/usr/sbin/installf";

int upgradeSolarisPackage(const char *pkg, const char *mapDir)
{
    (void)pkg, (void)mapDir;
    return 1;
}
