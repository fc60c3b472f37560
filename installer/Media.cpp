// Install media and space check: the disks list of an install site, the
// joining of the archive pieces, the room in the work area and the install
// root, and the checks made after the copy (root user, old print daemon).
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>

#include "MemMgr.h"
#include "SysCmd.h"
#include "setup.h"
#include "utils.h"

namespace {

// Margin added to each size file's amount, in df's unit.
constexpr double SIZE_MARGIN = 40.0;
// An install side with this much room or less cannot take anything.
constexpr double MINIMUM_ROOM = 17.0;

const char *const END_OF_LIST = "end_of_list";

// The number at the start of <pPathToSetup>/<name> (0 when the text does not
// start with one); false when the file cannot be read.
bool readSizeFile(const char *name, double *amount) {
    char text[128];
    if (!GetFileContentR(pPathToSetup, name, text, sizeof text - 1)) return false;
    *amount = strtod(text, nullptr);
    return true;
}

// Measures path into info; false when df gives no Avail column.
bool measure(const char *path, DiskSpaceInfo *info) {
    memset(info, 0, sizeof *info);
    return GetDiskSpace(path, info) != 0;
}

// Prints the message on standard output, keeps it as the reason the run
// stopped (the report names it) and ends the run with status 1.
[[noreturn]] void stopForSpace(const char *message) {
    fputs(message, stdout);
    fflush(stdout);
    noteStopReason(STOP_LOG, "%s", message);
    exit_app(1);
    abort(); // not reached
}

// The room the installation needs, in df's unit, margin included: needI
// in the install root, needT in the work area. Stops the run after message
// 65 when a size file cannot be read.
void readSpaceNeeded(double *needI, double *needT) {
    if (!readSizeFile("isize", needI) || !readSizeFile("tsize", needT)) {
        char text[1024];
        nlsFormat(text, sizeof text, 65);
        stopForSpace(text);
    }
    *needI += SIZE_MARGIN;
    *needT += SIZE_MARGIN;
}

// Work side: the deepest existing directory on the way to the work
// directory, measured into W; an existing work directory is emptied before
// the copy, so its size counts as room. False when df cannot measure it.
bool measureWorkSide(const char *work, DiskSpaceInfo *W) {
    int workExists = 0;
    char *workSide = FindExistingPath(work, &workExists);
    bool measured = measure(workSide, W);
    PutMem(workSide);
    if (!measured) return false;
    if (workExists) W->avail += DUPath(work);
    return true;
}

// The install side as measured: the path (a stored string), its room as df
// gave it and with what will be replaced added, and whether the minimum
// check applies.
struct InstallSide {
    char *path = nullptr;     // the directory measured
    DiskSpaceInfo info = {};  // its df line; avail with the old application's size added
    double raw = 0;           // avail as df gave it
    bool minimumCheck = true; // false when an application directory is replaced
};

// Install side: an existing application directory will be replaced, so its
// size counts as room; otherwise the deepest existing directory on the way
// to the install root. False when df cannot measure it.
bool measureInstallSide(const char *root, const char *word, InstallSide *side) {
    char *app = SaveStr("%s/%s/%s", root, word, SETUP_APPNAME);
    char *suite = SaveStr("%s/%s", root, word);
    if (FindFile(app, nullptr)) {
        side->path = SaveStr_(app);
        side->minimumCheck = false;
    } else if (FindFile(suite, nullptr)) {
        side->path = SaveStr_(suite);
    } else if (FindFile(root, nullptr)) {
        side->path = SaveStr_(root);
    } else {
        // Nothing of the root exists yet: it will live on the file system of
        // its nearest existing ancestor ("/" at the latest).
        int unused = 0;
        side->path = FindExistingPath(root, &unused);
    }
    PutMem(app);
    PutMem(suite);

    if (!measure(side->path, &side->info)) {
        PutMem(side->path);
        side->path = nullptr;
        return false;
    }
    // The free room as df gave it, before anything is added: the minimum
    // check and the shared-file-system sum both start from it.
    side->raw = side->info.avail;
    if (!side->minimumCheck) side->info.avail += DUPath(side->path);
    return true;
}

// Stops the run (status 1, after the message that says where room is short)
// unless both sides have the room they need.
void requireRoom(const char *work, const char *root, const DiskSpaceInfo &W, const InstallSide &T,
                 double needI, double needT) {
    if (T.minimumCheck && T.raw <= MINIMUM_ROOM) {
        char text[SETUP_PATH_MAX + 256];
        snprintf(text, sizeof text,
                 "There isn't enough space in %s to perform the installation activities: "
                 "only %e bytes are free there.\n",
                 T.path, T.raw);
        stopForSpace(text);
    }

    if (strcmp(W.dfLine, T.info.dfLine) == 0) {
        // One file system for both: the raw room, plus what both sides free.
        double room = (T.raw < W.avail || T.raw < T.info.avail) ? T.info.avail - T.raw + W.avail
                                                                : MaxD(W.avail, T.info.avail);
        if (room < needI + needT) {
            char text[3 * SETUP_PATH_MAX];
            nlsFormat(text, sizeof text, 56, work, root, needI + needT);
            stopForSpace((std::string(text) + "\n").c_str());
        }
    } else {
        if (W.avail < needT) {
            char text[2 * SETUP_PATH_MAX];
            nlsFormat(text, sizeof text, 49, work, needT);
            stopForSpace(text);
        }
        if (T.info.avail < needI) {
            char text[2 * SETUP_PATH_MAX];
            nlsFormat(text, sizeof text, 55, root, needI);
            stopForSpace(text);
        }
    }
}

} // namespace

void UpperCaseDisksList(char *text) {
    const size_t endLen = strlen(END_OF_LIST);
    for (char *p = text; *p && strncmp(p, END_OF_LIST, endLen) != 0; ++p)
        *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
}

int GetDisksData(const char *dir) {
    if (GetFileContent(dir, "disks")) return 1;
    if (!GetFileContent(dir, "DISKS")) {
        char msg[512];
        nlsFormat(msg, sizeof msg, 21, SETUP_MAKER);
        ErrorMsg(2, 1, "%s", msg);
    }
    // An upper-case site names its pieces in upper case: the list is read
    // that way up to its end marker.
    UpperCaseDisksList(LineBuf);
    return 1;
}

std::vector<std::string> ParseDisksList(const char *text, DisksCut cut) {
    std::vector<std::string> names;
    if (text == nullptr) return names;
    std::string list(text);
    if (cut == DISKS_JOIN) {
        char *save = nullptr;
        for (char *word = strtok_r(list.data(), " \r\n", &save); word != nullptr;
             word = strtok_r(nullptr, " \r\n", &save)) {
            if (strcmp(word, END_OF_LIST) == 0) break;
            names.emplace_back(word);
        }
        return names;
    }
    // Lines at CR/LF (empty ones vanish), words with the tokenizer's escapes.
    for (size_t pos = 0; pos < list.size();) {
        size_t end = list.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = list.size();
        std::string line = list.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty()) continue;
        if (line == END_OF_LIST) break;
        // A private cursor: the caller may use the shared tokenizer (the
        // command layer resolving a command) between two names.
        char *cursor = nullptr;
        char word[TOKEN_BUF_SIZE];
        for (const char *in = line.c_str(); GetTokenD(in, " \t\r\n", &cursor, word) != nullptr;
             in = nullptr) {
            if (strcmp(word, END_OF_LIST) == 0) break;
            names.emplace_back(word);
        }
    }
    return names;
}

std::vector<std::string> ReadDisksList(const char *dir, DisksCut cut) {
    GetDisksData(dir);
    return ParseDisksList(LineBuf, cut);
}

void genZFile(void) {
    const char *work = pDornaInstallDir;
    if (chdir(work) != 0) SysError("cannot enter %s", work);
    for (const std::string &name : ReadDisksList(work, DISKS_JOIN)) {
        const char *word = name.c_str();
        if (strncmp(word, "pkg_tar.", 8) != 0 && strncmp(word, "PKG_TAR.", 8) != 0) continue;
        if (!isShellSafePath(word) || strchr(word, '/') != nullptr || !FindFile(work, word))
            continue;
        SysCmd(-CMD_CAT, RUN_FATAL, "%s/%s >> %s/%s.tar.Z", work, word, work, SETUP_ARCHIVE);
    }
}

void FreeSpaceForInstall(const char *work, const char *root, const char *word) {
    double needI = 0, needT = 0;
    readSpaceNeeded(&needI, &needT);
    DiskSpaceInfo W;
    if (!measureWorkSide(work, &W)) return;
    InstallSide T;
    if (!measureInstallSide(root, word, &T)) return;
    requireRoom(work, root, W, T, needI, needT);
    PutMem(T.path);
}

int readyForInstallation(void) {
    char *user = GetUserName();
    if (user == nullptr || strcmp(user, "root") != 0) {
        nlsPrint(stdout, 35, user != nullptr ? user : "?", my_name);
        fflush(stdout);
        flExitTextMenu = 1;
        if (user != nullptr) PutMem(user);
        return 0;
    }
    PutMem(user);

    if (!FindFile(pAppDir, "DPrintD") && !FindFile(pAppDir, "DPrintDStop")) return 1;

    if (flStopOldDaemon) {
        // The unattended "yes": the old daemon is stopped by its own stop
        // program (when it has one) and never started again at boot.
        printf("Stopping the old print daemon DPrintD in %s (--stop-old-daemon).\n", pAppDir);
        fflush(stdout);
        if (FindFile(pAppDir, "DPrintDStop")) SysCmd(CMD_SH, RUN_WARN, " %s/DPrintDStop", pAppDir);
        for (const char *link : {"KDornaPrintD", "SDornaPrintD"})
            DeleteFile("/etc/rc2.d", link);
        return 1;
    }
    if (flAcceptAgreement) {
        fflush(stdout);
        noteStopReason(STOP_PRINT | STOP_LOG,
                       "the print daemon DPrintD of an older release is installed in %s; "
                       "give --stop-old-daemon to stop it and go on",
                       pAppDir);
        exit_app(1);
    }
    nlsPrint(stdout, 62, SETUP_MAKER, SETUP_MAKER, SETUP_MAKER, SETUP_APPNAME);
    for (;;) {
        nlsPrint(stdout, 63);
        fflush(stdout);
        if (fgets(LineBuf, 511, stdin) == nullptr) stopForNoAnswer();
        char *save = nullptr;
        char *answer = strtok_r(LineBuf, " \t\r\n", &save);
        if (answer == nullptr) continue;
        switch (FindToken(answer, ",y,yes,n,no,")) {
        case 1:
        case 2:
            for (const char *link : {"KDornaPrintD", "SDornaPrintD"})
                DeleteFile("/etc/rc2.d", link);
            return 1;
        case 3:
        case 4:
            exit_app(0);
            break;
        default:
            break;
        }
    }
}
