// Package list processing: placeholder until the real reader lands.
#include "setup.h"

int ProcessPkgList(const char *pkgDir)
{
    (void)pkgDir;
    return 0;
}
