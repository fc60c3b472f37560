// The installer's shared state and its checks: the process-wide paths and
// flags every step reads, the rules a path must pass before it is used (safe
// on a shell command line, not changeable by another user, short enough for
// the buffers it is built into), the record of steps that failed without
// stopping the run, and the stop for a question nobody answers.
//
// The steps (setup.cpp, Media.cpp, PkgList.cpp, ...) all build on this file
// and it on none of them, so the installer's sources depend on each other in
// one direction only.
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "MemMgr.h"
#include "SysCmd.h"
#include "setup.h"
#include "utils.h"

char *pDornaInstallDir = nullptr;
char *pPathToSetup = nullptr;
char *pCmdLineInstallDir = nullptr;
char *pCurrentInstallDir = nullptr;
char *pTargetInstallDir = nullptr;
char *pAppDir = nullptr;
unsigned char flCreatedTmpDir = 0;
const char *InstallInfo[6] = {};
const char *InstallSiteInfo[5] = {};
const char *pBinaryInstanceCheckList = ",dpadmin,dpqadmin,dprint,dprdpxxtty,DPQ,DPRM,dsf,";
unsigned char flInstallStopped = 0;

// The text-menu engine owns this flag; the weak definition serves while the
// engine is not linked into the program.
[[gnu::weak]] unsigned char flExitTextMenu = 0;

namespace {

// Why someone other than root and the running user could change the entry
// st describes (rename, remove or add entries in it), or null. A directory
// that others may write is safe only when it is sticky and root's, as /tmp
// is: there nobody may rename or remove what he does not own. A group of
// root's writing is root writing.
const char *untrustedBecause(const struct stat &st) {
    if (st.st_uid != 0 && st.st_uid != geteuid()) return "owned by another user";
    if (S_ISLNK(st.st_mode)) return nullptr;
    bool othersWrite =
        (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && st.st_gid != 0);
    if (othersWrite && !((st.st_mode & S_ISVTX) != 0 && st.st_uid == 0))
        return "writable by other users";
    return nullptr;
}

// Steps that failed without stopping the run, in the order they failed.
struct FailedSteps {
    std::vector<std::string> steps;   // what failed, as the summary names it
    std::vector<std::string> paths;   // the path each one should have made
    std::vector<std::string> reasons; // why the run stopped early (noteStopReason)
};
FailedSteps g_failed;

} // namespace

namespace {

// Checks `examined` and refuses `path` (the name the user gave) for it.
void requireTrusted(const char *what, const char *path, const char *examined, int status) {
    char *bad = nullptr;
    const char *why = nullptr;
    if (!findUntrustedDirectory(examined, &bad, &why)) return;
    fflush(stdout);
    fprintf(stderr,
            "ERROR: the %s %s cannot be used: %s is %s, so another user could change it "
            "under the installation; name %s %s that only root can change\n",
            what, path, bad, why, strchr("aeiou", what[0]) != nullptr ? "an" : "a", what);
    noteStopReason(0, "the %s %s cannot be used: %s is %s", what, path, bad, why);
    exit_app(status);
}

} // namespace

void requireTrustedPath(const char *what, const char *path, int status) {
    requireTrusted(what, path, path, status);
}

void requireTrustedInstallRoot(const char *root, int status) {
    if (root == nullptr) return;
    // The suite's own directories below the root are examined too, as far as
    // they exist: a Dorna of someone else's would let him swap what root is
    // about to make set-user-ID.
    char *app = SaveStr("%s/%s/%s", strcmp(root, "/") == 0 ? "" : root, SETUP_MAKER, SETUP_APPNAME);
    requireTrusted("install root", root, app, status);
    PutMem(app);
}

int isShellSafePath(const char *text) {
    // The command layer's plain words less "%" and "=": a path here is not
    // quoted but refused, by the rule the refusal message states (letters,
    // digits and / . _ - + , @ :). "%" and "=" would stand safely on a
    // command line; a path is just not taken with them.
    return SysIsPlainWord(text) && strpbrk(text, "%=") == nullptr;
}

void requireShellSafePath(const char *what, const char *path, int status) {
    if (path == nullptr || isShellSafePath(path)) return;
    fprintf(stderr,
            "ERROR: the %s \"%s\" may hold only letters, digits and the characters "
            "/ . _ - + , @ :\n",
            what, path);
    noteStopReason(0, "the %s \"%s\" may hold only letters, digits and the characters "
                      "/ . _ - + , @ :",
                   what, path);
    exit_app(status);
}

int findUntrustedDirectory(const char *path, char **bad, const char **why) {
    if (path == nullptr || path[0] != '/') return 0;
    // Every prefix as written, from "/" down, as far as it exists; then the
    // same for where it really leads, in case a link on the way leads
    // through other directories.
    std::string walked;
    std::string existing = "/";
    const std::string text(path);
    for (size_t pos = 0;;) {
        const std::string current = walked.empty() ? "/" : walked;
        struct stat st;
        if (lstat(current.c_str(), &st) != 0) break;
        const char *reason = untrustedBecause(st);
        if (reason != nullptr) {
            *bad = SaveStr_(current.c_str());
            *why = reason;
            return 1;
        }
        existing = current;
        pos = text.find_first_not_of('/', pos);
        if (pos == std::string::npos) break;
        size_t end = text.find('/', pos);
        if (end == std::string::npos) end = text.size();
        walked += "/" + text.substr(pos, end - pos);
        pos = end;
    }
    char real[PATH_MAX];
    if (realpath(existing.c_str(), real) != nullptr && existing != real)
        return findUntrustedDirectory(real, bad, why);
    return 0;
}

int isPrivateDirectory(const char *path) {
    struct stat st;
    if (path == nullptr || lstat(path, &st) != 0) return 0;
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

void requireBuildablePaths(void) {
    // The longest names written below the application directory, and the
    // package list below the work directory (read through a 512-byte path).
    const size_t appNeed = strlen(pAppDir) + strlen("/DornaPrintdpxx") + 1;
    const size_t workNeed = strlen(pDornaInstallDir) + strlen("/" SETUP_PKGDIR "/pkg.list") + 1;
    const char *what = nullptr;
    if (appNeed > SETUP_PATH_MAX)
        what = "install root";
    else if (workNeed > 512)
        what = "work area";
    if (what == nullptr) return;
    fprintf(stderr,
            "ERROR: the %s is too long: the paths built below it would not fit; "
            "nothing was installed\n",
            what);
    PutLogMsg("ERROR: the %s is too long: the paths built below it would not fit\n", what);
    exit_app(1);
}

void noteFailedStep(const char *path, const char *format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_failed.steps.emplace_back(text);
    g_failed.paths.emplace_back(path != nullptr ? path : "");
}

int isFailedPath(const char *path) {
    for (const std::string &p : g_failed.paths)
        if (path != nullptr && p == path) return 1;
    return 0;
}

std::vector<std::string> failedStepPaths(void) {
    return g_failed.paths;
}

int reportFailedSteps(void) {
    if (g_failed.steps.empty()) return 0;
    fflush(stdout);
    const char *head =
        "ERROR: the installation is incomplete; these steps failed (the log says why):\n";
    fputs(head, stderr);
    PutLogMsg("%s", head);
    for (const std::string &step : g_failed.steps) {
        fprintf(stderr, "  %s\n", step.c_str());
        PutLogMsg("  %s\n", step.c_str());
    }
    return static_cast<int>(g_failed.steps.size());
}

void stopForNoAnswer(void) {
    printf("\n");
    fflush(stdout);
    fprintf(stderr, "ERROR: no answer: standard input ended at the question\n");
    PutLogMsg("ERROR: no answer: standard input ended at the question\n");
    exit_app(1);
}

void noteStopReason(int how, const char *format, ...) {
    char text[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::string reason(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    while (!reason.empty() && reason.front() == '\n')
        reason.erase(0, 1);
    g_failed.reasons.push_back(reason);
    if (how & STOP_PRINT) {
        fflush(stdout);
        fprintf(stderr, "ERROR: %s\n", reason.c_str());
    }
    if (how & STOP_LOG) PutLogMsg("ERROR: %s\n", reason.c_str());
}

std::vector<std::string> failedStepTexts(void) {
    std::vector<std::string> all = g_failed.steps;
    all.insert(all.end(), g_failed.reasons.begin(), g_failed.reasons.end());
    return all;
}
