// Print-system detection and site layout: placeholder until the real code lands.
#include "setup.h"

int createPrintingSubsystemFile(const char *dir)
{
    (void)dir;
    return 0;
}

void createInstallationDirectories(const char *root)
{
    (void)root;
}

int SniffLprng(void)
{
    return 0;
}

int SniffCUPS(void)
{
    return 0;
}
