// --verify and --uninstall: the two readers of the manifest.
//
// --verify compares every path of the manifest with the host and changes
// nothing; it needs no write access and runs no command.
//
// --uninstall removes what the manifest lists and nothing else. The manifest
// is a file on disk and may have been damaged or written by someone else, so
// a path is removed only when it passes every rule below, whatever the file
// says: it is written in one plain way (absolute, no "." or ".." or empty
// component), no link stands on the way to it, it lies in the suite's own
// places (the application directory's tree, the suite and spool
// directories; elsewhere only a link into the application directory or a
// launcher that starts a program of it), it is still of the kind the
// manifest names, and a file still has its digest (unless --force). Every
// removal runs through the command table and is logged.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "MemMgr.h"
#include "SysCmd.h"
#include "setup.h"
#include "utils.h"

namespace {

// Reads the manifest and checks it against the install root of the command
// line (null: any). Returns 1, or prints why and returns 0.
int LoadManifest(const char *root, Manifest *m) {
    std::string why;
    if (!readManifest(SETUP_MANIFEST, m, &why)) {
        fflush(stdout);
        fprintf(stderr, "ERROR: the manifest %s %s\n", SETUP_MANIFEST, why.c_str());
        return 0;
    }
    if (root != nullptr && m->root != root) {
        const std::string want = escapeManifestText(root, strlen(root));
        const std::string have = escapeManifestText(m->root.c_str(), m->root.size());
        fflush(stdout);
        fprintf(stderr,
                "ERROR: the manifest %s records the installation under %s, not under %s\n",
                SETUP_MANIFEST, have.c_str(), want.c_str());
        return 0;
    }
    return 1;
}

std::string Shown(const std::string &path) {
    return escapeManifestText(path.c_str(), path.size());
}

// The nine columns administrators know: S size, M mode (type included),
// 5 digest, D device, L link target, U user, G group, T time, P
// capabilities. D, T and P are not recorded and always show ".".
enum { COL_S, COL_M, COL_5, COL_D, COL_L, COL_U, COL_G, COL_T, COL_P, COL_COUNT };

// What differs for one entry: "" when nothing, else the columns (or
// "missing"/"failed") to print before the path.
std::string Differences(const ManifestEntry &want) {
    if (want.kind == MANIFEST_FAILED) return "failed";
    struct stat st;
    if (lstat(want.path.c_str(), &st) != 0) return errno == ENOENT ? "missing" : "?????????";
    char cols[COL_COUNT + 1];
    memset(cols, '.', COL_COUNT);
    cols[COL_COUNT] = 0;
    bool differs = false;
    auto mark = [&](int col, char c) {
        cols[col] = c;
        differs = true;
    };
    ManifestKind kind = S_ISDIR(st.st_mode)   ? MANIFEST_DIR
                        : S_ISLNK(st.st_mode) ? MANIFEST_LINK
                        : S_ISREG(st.st_mode) ? MANIFEST_FILE
                                              : MANIFEST_OTHER;
    if (kind != want.kind || (st.st_mode & 07777u) != want.mode) mark(COL_M, 'M');
    ManifestEntry now;
    now.kind = kind;
    if (want.kind == MANIFEST_FILE) {
        if (kind != MANIFEST_FILE || st.st_size != want.size) {
            mark(COL_S, 'S');
            mark(COL_5, '5');
        } else {
            int fd = open(want.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK |
                                                 O_CLOEXEC);
            char hex[SHA256_HEX_SIZE];
            if (fd < 0 || !Sha256Fd(fd, hex))
                mark(COL_5, '?');
            else if (want.data != hex)
                mark(COL_5, '5');
            if (fd >= 0) close(fd);
        }
    } else if (want.kind == MANIFEST_LINK) {
        char target[4096];
        ssize_t n = kind == MANIFEST_LINK ? readlink(want.path.c_str(), target, sizeof target) : -1;
        if (n < 0 || std::string(target, static_cast<size_t>(n)) != want.data) mark(COL_L, 'L');
    }
    if (manifestOwnerName(st.st_uid, false) != want.owner) mark(COL_U, 'U');
    if (manifestOwnerName(st.st_gid, true) != want.group) mark(COL_G, 'G');
    return differs ? cols : "";
}

// --- uninstall -------------------------------------------------------------

// Written in one plain way: absolute, no empty, "." or ".." component, no
// trailing "/".
bool IsPlainAbsolute(const std::string &path) {
    if (path.size() < 2 || path[0] != '/' || path.back() == '/') return false;
    for (size_t at = 1; at <= path.size();) {
        size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(at, end - at);
        if (part.empty() || part == "." || part == "..") return false;
        at = end + 1;
    }
    return true;
}

bool IsUnder(const std::string &path, const std::string &dir) {
    return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
           path[dir.size()] == '/';
}

// No link on the way: the parent directory is where its name says.
bool ParentIsReal(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    char real[4096];
    return realpath(parent.c_str(), real) != nullptr && parent == real;
}

// The suite's directories around the application directory: removed only
// when empty, and left without complaint when something else is in them.
std::vector<std::string> SuiteDirectories(const Manifest &m) {
    std::vector<std::string> dirs = {(m.root == "/" ? "" : m.root) + "/" SETUP_MAKER,
                                     "/var/spool/" SETUP_MAKER,
                                     "/var/spool/" SETUP_MAKER "/" SETUP_APPNAME,
                                     "/var/spool/" SETUP_MAKER "/" SETUP_APPNAME "/__dpa_download__"};
    if (m.appDir != SETUP_WELLKNOWN) dirs.push_back("/usr/" SETUP_MAKER);
    return dirs;
}

bool Contains(const std::vector<std::string> &list, const std::string &item) {
    for (const std::string &s : list)
        if (s == item) return true;
    return false;
}

// A launcher of ours in /usr/bin: a shell script that enters the
// application directory and starts one of its programs.
bool IsOurLauncher(const std::string &path, const Manifest &m) {
    if (path.compare(0, 9, "/usr/bin/") != 0 || path.find('/', 9) != std::string::npos)
        return false;
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[8192];
    ssize_t n = read(fd, buf, sizeof buf);
    close(fd);
    if (n <= 0) return false;
    const std::string text(buf, static_cast<size_t>(n));
    const std::string exec = "\nexec " + SysShellWord(m.appDir.c_str(), false) + "/";
    return text.compare(0, 10, "#!/bin/sh\n") == 0 && text.find(exec) != std::string::npos;
}

std::string LinkTarget(const std::string &path) {
    char target[4096];
    ssize_t n = readlink(path.c_str(), target, sizeof target);
    return n < 0 ? "" : std::string(target, static_cast<size_t>(n));
}

// Why path may not be removed under these rules, or null.
const char *Refusal(const ManifestEntry &e, const Manifest &m) {
    if (!IsPlainAbsolute(e.path)) return "its name is not a plain absolute path";
    if (!ParentIsReal(e.path)) return "a link or a missing directory stands on the way to it";
    if (e.path == m.appDir || IsUnder(e.path, m.appDir)) return nullptr;
    if (e.kind == MANIFEST_DIR && Contains(SuiteDirectories(m), e.path)) return nullptr;
    const std::string target = LinkTarget(e.path);
    // A link into the installation, by its own path or through the
    // well-known location (which leads to it), is one the package list made.
    if (e.kind == MANIFEST_LINK && (target == m.appDir || IsUnder(target, m.appDir) ||
                                    IsUnder(target, SETUP_WELLKNOWN)))
        return nullptr;
    if (e.kind == MANIFEST_FILE && IsOurLauncher(e.path, m)) return nullptr;
    return "it lies outside the installation's own places";
}

// Why the path as it is now is not what the installation left, or null.
const char *Changed(const ManifestEntry &e) {
    struct stat st;
    if (lstat(e.path.c_str(), &st) != 0) return nullptr;
    switch (e.kind) {
    case MANIFEST_FILE: {
        if (!S_ISREG(st.st_mode)) return "it is no longer a regular file";
        std::string d = Differences(e);
        return d.size() == COL_COUNT && (d[COL_S] != '.' || d[COL_5] != '.')
                   ? "its content changed since the installation"
                   : nullptr;
    }
    case MANIFEST_LINK:
        if (!S_ISLNK(st.st_mode)) return "it is no longer a link";
        return LinkTarget(e.path) != e.data ? "it points elsewhere since the installation"
                                            : nullptr;
    case MANIFEST_DIR:
        return S_ISDIR(st.st_mode) ? nullptr : "it is no longer a directory";
    case MANIFEST_OTHER:
        return S_ISDIR(st.st_mode) || S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)
                   ? "it is of another kind since the installation"
                   : nullptr;
    case MANIFEST_FAILED:
        return nullptr; // whatever the failed step left goes
    }
    return nullptr;
}

bool IsEmptyDirectory(const std::string &path) {
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr) return false;
    bool empty = true;
    while (struct dirent *d = readdir(dir))
        if (strcmp(d->d_name, ".") != 0 && strcmp(d->d_name, "..") != 0) empty = false;
    closedir(dir);
    return empty;
}

bool Exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Asks whether to go on. 1 yes, 0 no; end of input ends the run.
int AskToRemove(const Manifest &m) {
    printf("The Dorna print suite installed under %s (%zu paths of the manifest) will be "
           "removed.\nRemove it (y/n)? ",
           Shown(m.root).c_str(), m.entries.size());
    fflush(stdout);
    char answer[64];
    if (Gets(answer, sizeof answer) == nullptr) stopForNoAnswer();
    return answer[0] == 'y' || answer[0] == 'Y';
}

} // namespace

int verifyInstallation(const char *root) {
    Manifest m;
    if (!LoadManifest(root, &m)) return 2;
    int differing = 0;
    for (const ManifestEntry &e : m.entries) {
        const std::string d = Differences(e);
        if (d.empty()) continue;
        ++differing;
        printf("%-9s    %s\n", d.c_str(), Shown(e.path).c_str());
    }
    fflush(stdout);
    return differing > 0 ? 1 : 0;
}

int uninstallInstallation(const char *root) {
    Manifest m;
    if (!LoadManifest(root, &m)) return 2;
    if (geteuid() != 0) {
        fprintf(stderr, "ERROR: only root can remove the suite; nothing was removed\n");
        return 1;
    }

    flUseLog = 1;
    InitSysCmdList();
    PutLogMsg("uninstall: %zu paths of %s under %s\n", m.entries.size(), SETUP_MANIFEST,
              Shown(m.root).c_str());
    if (QuitForRunningProcesses(pBinaryInstanceCheckList)) {
        printf("Nothing was removed.\n");
        return 0;
    }
    if (!flAcceptAgreement && !AskToRemove(m)) {
        printf("Nothing was removed.\n");
        return 0;
    }

    std::vector<std::string> kept;   // what stays, with the reason
    std::vector<std::string> failed; // what should have gone and did not
    std::vector<const ManifestEntry *> dirs;
    int removed = 0;
    auto keep = [&](std::vector<std::string> &list, const ManifestEntry &e, const char *why) {
        list.push_back(Shown(e.path) + ": " + why);
        PutLogMsg("uninstall: kept %s: %s\n", Shown(e.path).c_str(), why);
    };
    // Files, links and the like first; directories afterwards, deepest
    // first, when they are empty.
    for (const ManifestEntry &e : m.entries) {
        const char *why = Refusal(e, m);
        if (why != nullptr) {
            if (Exists(e.path)) keep(failed, e, why);
            continue;
        }
        if (!Exists(e.path)) continue;
        if (e.kind == MANIFEST_LINK && e.path == SETUP_WELLKNOWN && LinkTarget(e.path) != m.appDir) {
            keep(kept, e, "it points to another installation now");
            continue;
        }
        const char *change = Changed(e);
        if (change != nullptr && !(flForce && e.kind != MANIFEST_DIR && e.kind != MANIFEST_FAILED &&
                                   strstr(change, "no longer") == nullptr)) {
            keep(failed, e, change);
            continue;
        }
        struct stat st;
        if (lstat(e.path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            dirs.push_back(&e);
            continue;
        }
        SysCmd(CMD_RM, RUN_WARN, "%s", SysShellWord(e.path.c_str(), true).c_str());
        if (Exists(e.path))
            keep(failed, e, "it could not be removed (the log says why)");
        else
            ++removed;
    }
    const std::vector<std::string> suiteDirs = SuiteDirectories(m);
    for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
        const ManifestEntry &e = **it;
        if (!IsEmptyDirectory(e.path)) {
            // Other products, print jobs or files of the administrator's:
            // the suite's shared directories simply stay.
            keep(Contains(suiteDirs, e.path) ? kept : failed, e,
                 "the directory holds files the installation did not make");
            continue;
        }
        SysCmd(CMD_RM, RUN_WARN, "-d %s", SysShellWord(e.path.c_str(), true).c_str());
        if (Exists(e.path))
            keep(failed, e, "it could not be removed (the log says why)");
        else
            ++removed;
    }

    printf("\n%d paths removed.\n", removed);
    for (const std::string &line : kept)
        printf("kept: %s\n", line.c_str());
    fflush(stdout);
    if (!failed.empty()) {
        fprintf(stderr, "ERROR: %zu paths of the installation were not removed%s:\n",
                failed.size(), flForce ? "" : " (a changed file goes with --force)");
        for (const std::string &line : failed)
            fprintf(stderr, "  %s\n", line.c_str());
        PutLogMsg("uninstall: %zu paths were not removed; the manifest stays\n", failed.size());
        return 1;
    }
    SysCmd(CMD_RM, RUN_WARN, "%s", SETUP_MANIFEST);
    if (Exists(SETUP_MANIFEST)) {
        fprintf(stderr, "ERROR: the manifest %s could not be removed (the log says why)\n",
                SETUP_MANIFEST);
        return 1;
    }
    printf("The Dorna print suite was removed.\n");
    return 0;
}
