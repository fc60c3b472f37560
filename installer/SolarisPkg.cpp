// Solaris package upgrade: replaces the files of the installed system
// package (TSLNdpxx) in place with those of a newer package image, registers
// each replaced file with the host's package database through installf, and
// raises the version recorded in the package's pkginfo.
//
// The package map lists the files: "part type class path mode owner group
// ...". Only plain files (type "f") are replaced; a path beginning with "/"
// comes from the image's root/ tree and is installed as it stands, any other
// from its reloc/ tree and is installed below <install root>/Dorna.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "MemMgr.h"
#include "SysCmd.h"
#include "setup.h"
#include "utils.h"

const char *pPathToInstallf = "/usr/sbin/installf";

namespace {

// Module directories of the driver's GTK and Pango libraries below APP, in
// the order they are made.
const char *const kGtkDirs[] = {
    "lib/gtk",
    "lib/gtk/modules",
    "lib/gtk/modules/2.2.0",
    "lib/gtk/modules/2.2.0/engines",
    "lib/gtk/modules/2.2.0/immodules",
    "lib/gtk/modules/2.2.0/loaders",
    "lib/gtk/modules/etc",
    "lib/gtk/modules/etc/gtk-2.0",
    "lib/gtk/modules/etc/pango",
    "lib/gtk/modules/include",
    "lib/gtk/modules/modules",
    "lib/gtk/modules/pango",
    "lib/gtk/modules/pango/1.2.0",
    "lib/gtk/modules/pango/1.2.0/modules",
    nullptr,
};

// Words of a map line that are read.
enum { kPart, kType, kClass, kPath, kMode, kOwner, kGroup, kWords };

// Runs a command line built by the caller through the shell; the result is
// not used (a file that fails to copy keeps the old one in place).
[[gnu::format(printf, 1, 2)]] void RunShell(const char *format, ...) {
    char line[4096];
    va_list args;
    va_start(args, format);
    int n = VFormatBounded(line, sizeof line, format, args);
    va_end(args);
    if (n < 0) {
        fprintf(stderr, "ERROR: command line too long, not run: %.60s...\n", line);
        return;
    }
    if (system(line) == -1) fprintf(stderr, "ERROR: cannot run %s\n", line);
}

void Dot(void) {
    fputc('.', stdout);
    fflush(stdout);
}

void MakeGtkDirectories(void) {
    // A stored string: a path cut to a buffer would make another directory.
    char *lib = SaveStr("%s/lib", pAppDir);
    if (!FindFile(lib, nullptr)) {
        CreateFile(lib, nullptr, "755", nullptr, nullptr);
        for (const char *const *dir = kGtkDirs; *dir; ++dir)
            SysCmd(CMD_MKDIR, RUN_FATAL, "%s/%s", pAppDir, *dir);
    }
    PutMem(lib);
}

// Registers and copies the file of one map line.
void ReplaceFile(const char *pkg, char *const *w) {
    if (w[kPath][0] == '/') {
        RunShell("%s -c %s %s %s %s %s %s %s 1>/dev/null 2>/dev/null", pPathToInstallf, w[kClass],
                 pkg, w[kPath], w[kType], w[kMode], w[kOwner], w[kGroup]);
        RunShell("cp %s/%s/root%s %s", pDornaInstallDir, pkg, w[kPath], w[kPath]);
    } else {
        RunShell("%s -c %s %s %s/%s/%s %s %s %s %s 1>/dev/null 2>/dev/null", pPathToInstallf,
                 w[kClass], pkg, pTargetInstallDir, SETUP_MAKER, w[kPath], w[kType], w[kMode],
                 w[kOwner], w[kGroup]);
        RunShell("cp %s/%s/reloc/%s %s/%s/%s", pDornaInstallDir, pkg, w[kPath], pTargetInstallDir,
                 SETUP_MAKER, w[kPath]);
    }
    Dot();
}

} // namespace

int upgradeSolarisPackage(const char *pkg, const char *mapDir) {
    if (!SysIsPlainWord(pkg) || strchr(pkg, '/')) {
        fprintf(stderr, "ERROR: not a package name: %s\n", pkg);
        return 0;
    }

    MakeGtkDirectories();

    if (!OpenInputFileF(0, "%s/TSLNdpxx/pkgmap", mapDir)) {
        fprintf(stderr, "ERROR: can't open file, %s/TSLNdpxx/pkgmap\n", mapDir);
        exit_app(0);
    }

    int lineNo = 0;
    while (GetFileLine()) {
        ++lineNo;
        char *w[kWords];
        // ParseStr cuts LineBuf in place; the rest of the line stays unread.
        if (ParseStr(LineBuf, " \r\n", w, kWords) < kWords) continue;
        if (FindToken(w[kType], ",f,d,i,") != 1) continue;
        // The map's words go onto shell command lines as they stand: a line
        // with a word the shell would read (one SysShellWord would quote) is
        // not run but reported, so that a hostile map cannot reach the shell.
        int plain = 1;
        for (int i = 0; i < kWords; ++i)
            plain &= SysIsPlainWord(w[i]);
        if (!plain) {
            fprintf(stderr, "WARNING: %s/TSLNdpxx/pkgmap line %d: unsafe characters, skipped\n",
                    mapDir, lineNo);
            PutLogMsg("WARNING_MSG: %s/TSLNdpxx/pkgmap line %d: unsafe characters, skipped\n",
                      mapDir, lineNo);
            continue;
        }
        ReplaceFile(pkg, w);
    }

    RunShell("%s -f %s 1>/dev/null 2>/dev/null", pPathToInstallf, pkg);
    SysCmd(CMD_RM, RUN_WARN, "/var/sadm/pkg/%s/pkginfo.tmp", pkg);
    RunShell("sed -e\"s/VERSION=[0-9.].*/VERSION=%s/\" /var/sadm/pkg/%s/pkginfo >> "
             "/var/sadm/pkg/%s/pkginfo.tmp",
             SETUP_VERSION, pkg, pkg);
    Dot();
    SysCmd(CMD_MV, RUN_WARN, "/var/sadm/pkg/%s/pkginfo.tmp /var/sadm/pkg/%s/pkginfo", pkg, pkg);
    return 1;
}
