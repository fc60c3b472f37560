// The default tool root: where a program finds the catalog and the record
// files when its host code names no place.
#include "Dbm.h"
#include "DbmPriv.h"

#include "MemMgr.h"
#include "utils.h"

#include <cstdlib>
#include <sys/stat.h>

// Set by the build: the tool root of this build tree, and the one under the
// prefix the build was configured for (the install step writes the prefix it
// really installs to over it in the installed copies).
#ifndef DORNA_BUILD_TOOL_ROOT
#define DORNA_BUILD_TOOL_ROOT "."
#endif
#ifndef DORNA_INSTALLED_TOOL_ROOT
#define DORNA_INSTALLED_TOOL_ROOT "/usr/local/share/dorna"
#endif

// Not const: the compiler must read the area from memory, as the installed
// file holds it, rather than fold the configured text into its callers.
char DbmInstalledRootArea[DBM_ROOT_AREA_SIZE] = DBM_ROOT_MARK DORNA_INSTALLED_TOOL_ROOT;

namespace {

bool HoldsDatabases(const char *root) {
    struct stat st;
    char *db = SaveStr("%s/db", root);
    bool yes = db != nullptr && stat(db, &st) == 0 && S_ISDIR(st.st_mode);
    PutMem(db);
    return yes;
}

} // namespace

const char *DbmInstalledToolRoot(void) {
    return DbmInstalledRootArea + DBM_ROOT_MARK_LEN;
}

char *DbmDefaultToolRoot(const char *buildRoot) {
    // secure_getenv: a set-user-ID program takes no root from its caller.
    if (const char *env = secure_getenv("DORNA_TOOL_ROOT"); env != nullptr && *env != '\0')
        return SaveStr_(env);
    const char *installed = DbmInstalledToolRoot();
    if (HoldsDatabases(installed)) return SaveStr_(installed);
    const char *build = buildRoot != nullptr ? buildRoot : DORNA_BUILD_TOOL_ROOT;
    if (HoldsDatabases(build)) return SaveStr_(build);
    return SaveStr_(installed);
}
