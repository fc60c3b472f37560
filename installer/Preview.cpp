// --preview: the whole installation, run for real on copy-on-write layers,
// and the list of what it would change on the host.
//
// The process enters private mount and PID namespaces (unshare(2)), so that
// no mount made here is seen outside and every process the installation
// leaves behind ends with it. There:
//   - every mount of the host becomes read-only, so that nothing the
//     installation does outside its layers can reach the host;
//   - a private tmpfs on /tmp takes the layers: for each overlaid directory
//     D (/usr, /var, /etc, the top directory of the install root, of the
//     previous installation and of the work area) a read-only bind of the
//     host's D as the lower layer, and an upper and a work directory;
//   - an overlay on D: whatever the installation writes lands in the upper
//     layer, the host's D is never written;
//   - a fresh tmpfs over /tmp (the layers out of the installation's sight),
//     with the install site carried in when it lies in the host's /tmp.
// The installation runs as the setup of the install site, a child of a small
// first process of the PID namespace that reaps orphans. When it has ended,
// the fresh /tmp is taken away again and the upper layers are compared with
// the lower ones: an entry there that the host lacks is created (+), one that
// differs in kind, content, mode, owner or link target is changed (~), and a
// whiteout (or what an opaque directory hides) is removed (-). The layers
// live in memory and vanish with the namespace when this process ends.
#include <cerrno>
#include <cstdarg>
#include <csignal>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "MemMgr.h"
#include "setup.h"
#include "utils.h"

namespace {

// Where the layers tmpfs keeps the lower binds, the upper layers and the
// overlays' work directories, while it is mounted on /tmp.
const char *const kLayers = "/tmp";

// Refuses the preview with status 2 and the reason.
[[noreturn, gnu::format(printf, 1, 2)]] void Refuse(const char *format, ...) {
    va_list args;
    va_start(args, format);
    fflush(stdout);
    fputs("ERROR: no preview can be made here: ", stderr);
    vfprintf(stderr, format, args);
    fputs("\n", stderr);
    va_end(args);
    _exit(2);
}

// mkdir -p, each directory made with mode.
bool MakeDirs(const std::string &path, mode_t mode) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
    return true;
}

// The first directory of the absolute path as the system resolves it (links
// on the way followed as far as the path exists): "/opt" for
// /opt/Dorna/dpxx, "/data" for /home/x when /home links to /data/home.
std::string TopDirectory(const std::string &path) {
    std::string existing = path, rest;
    char real[PATH_MAX];
    while (realpath(existing.c_str(), real) == nullptr) {
        size_t slash = existing.find_last_of('/');
        if (slash == std::string::npos || existing == "/") return "";
        rest = existing.substr(slash) + rest;
        existing = slash == 0 ? "/" : existing.substr(0, slash);
    }
    std::string full = std::string(strcmp(real, "/") == 0 ? "" : real) + rest;
    size_t end = full.find('/', 1);
    return end == std::string::npos ? full : full.substr(0, end);
}

// Mount flags that a read-only bind remount must keep.
unsigned long KeptFlags(const char *target) {
    struct statvfs sv;
    if (statvfs(target, &sv) != 0) return 0;
    unsigned long flags = 0;
    if (sv.f_flag & ST_NOSUID) flags |= MS_NOSUID;
    if (sv.f_flag & ST_NODEV) flags |= MS_NODEV;
    if (sv.f_flag & ST_NOEXEC) flags |= MS_NOEXEC;
    if (sv.f_flag & ST_NOATIME) flags |= MS_NOATIME;
    if (sv.f_flag & ST_NODIRATIME) flags |= MS_NODIRATIME;
    if (sv.f_flag & ST_RELATIME) flags |= MS_RELATIME;
    return flags;
}

// A mount point of /proc/self/mountinfo, its octal escapes undone.
std::string MountInfoPath(const char *field) {
    std::string out;
    for (const char *p = field; *p; ++p) {
        if (p[0] == '\\' && p[1] >= '0' && p[1] <= '3' && p[2] && p[3]) {
            out += static_cast<char>((p[1] - '0') * 64 + (p[2] - '0') * 8 + (p[3] - '0'));
            p += 3;
        } else {
            out += *p;
        }
    }
    return out;
}

bool IsAtOrUnder(const std::string &path, const std::string &dir) {
    return path == dir || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
                           (dir == "/" || path[dir.size()] == '/'));
}

// Every mount of this (private) namespace read-only, but the kernel's own.
void RemountHostReadOnly(void) {
    FILE *f = fopen("/proc/self/mountinfo", "re");
    if (f == nullptr) Refuse("cannot read /proc/self/mountinfo: %s", strerror(errno));
    std::vector<std::string> targets;
    char line[8192];
    while (fgets(line, sizeof line, f) != nullptr) {
        char *fields[6] = {};
        int n = ParseStr(line, " ", fields, 6);
        if (n < 6) continue;
        const std::string target = MountInfoPath(fields[4]);
        if (strstr(fields[5], "ro") == fields[5] && (fields[5][2] == ',' || !fields[5][2]))
            continue;
        if (IsAtOrUnder(target, "/proc") || IsAtOrUnder(target, "/sys") ||
            IsAtOrUnder(target, "/dev"))
            continue;
        targets.push_back(target);
    }
    fclose(f);
    for (const std::string &t : targets) {
        // A mount hidden under another one is not reachable by its path any
        // more and needs nothing: what hides it is read-only itself.
        mount(nullptr, t.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY | KeptFlags(t.c_str()),
              nullptr);
    }
}

// Lays the copy-on-write layer over dir.
void Overlay(const std::string &dir) {
    const std::string lower = std::string(kLayers) + "/lower" + dir;
    const std::string upper = std::string(kLayers) + "/upper" + dir;
    const std::string work = std::string(kLayers) + "/work" + dir;
    if (!MakeDirs(lower, 0755) || !MakeDirs(upper, 0755) || !MakeDirs(work, 0755))
        Refuse("cannot make the layers of %s: %s", dir.c_str(), strerror(errno));
    if (mount(dir.c_str(), lower.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        mount(nullptr, lower.c_str(), nullptr,
              MS_REMOUNT | MS_BIND | MS_RDONLY | KeptFlags(dir.c_str()), nullptr) != 0)
        Refuse("cannot bind %s: %s", dir.c_str(), strerror(errno));
    // Renamed directories and changed modes are copied up whole (no
    // redirects, no metadata-only copies), so that each upper layer holds
    // the whole of what changed; older kernels know neither option.
    const std::string base = "lowerdir=" + lower + ",upperdir=" + upper + ",workdir=" + work;
    const std::string strict = base + ",redirect_dir=off,metacopy=off";
    if (mount("overlay", dir.c_str(), "overlay", 0, strict.c_str()) != 0 &&
        mount("overlay", dir.c_str(), "overlay", 0, base.c_str()) != 0)
        Refuse("cannot lay a copy-on-write layer (overlay) over %s: %s", dir.c_str(),
               strerror(errno));
}

// --- the changes ------------------------------------------------------------

struct Change {
    char sign;        // '+', '~' or '-'
    std::string what; // for '~': "content, mode, ..."
};
using Changes = std::map<std::string, Change>;

bool IsWhiteout(const struct stat &st) {
    return S_ISCHR(st.st_mode) && st.st_rdev == makedev(0, 0);
}

bool IsOpaque(const std::string &path) {
    char value[4] = {};
    ssize_t n = lgetxattr(path.c_str(), "trusted.overlay.opaque", value, sizeof value - 1);
    return n == 1 && value[0] == 'y';
}

bool SameContent(const std::string &a, const std::string &b) {
    int fa = open(a.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    int fb = open(b.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    bool same = fa >= 0 && fb >= 0;
    static char ba[65536], bb[65536];
    while (same) {
        ssize_t na = read(fa, ba, sizeof ba);
        ssize_t nb = na > 0 ? read(fb, bb, static_cast<size_t>(na)) : read(fb, bb, 1);
        if (na < 0 || nb != na || memcmp(ba, bb, static_cast<size_t>(na > 0 ? na : 0)) != 0)
            same = false;
        if (na <= 0) break;
    }
    if (fa >= 0) close(fa);
    if (fb >= 0) close(fb);
    return same;
}

std::string LinkText(const std::string &path) {
    char buf[PATH_MAX];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf);
    return n < 0 ? "" : std::string(buf, static_cast<size_t>(n));
}

// The names in a directory but "." and "..", read before the caller walks
// them so that no directory stays open through the recursion; none when it
// cannot be opened.
std::vector<std::string> EntryNames(const std::string &dir) {
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (struct dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
    return names;
}

// Every entry below a host directory (of the lower layer) as removed.
void AllRemoved(const std::string &lowerDir, const std::string &shown, Changes *out) {
    for (const std::string &name : EntryNames(lowerDir)) {
        (*out)[shown + "/" + name] = {'-', ""};
        struct stat st;
        if (lstat((lowerDir + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            AllRemoved(lowerDir + "/" + name, shown + "/" + name, out);
    }
}

// Compares the upper layer's directory with the lower one; shown is the
// path the host knows them by.
void Compare(const std::string &upperDir, const std::string &lowerDir, const std::string &shown,
             Changes *out) {
    for (const std::string &name : EntryNames(upperDir)) {
        const std::string up = upperDir + "/" + name, low = lowerDir + "/" + name;
        const std::string path = shown + "/" + name;
        struct stat us, ls;
        if (lstat(up.c_str(), &us) != 0) continue;
        const bool onHost = lstat(low.c_str(), &ls) == 0;
        if (IsWhiteout(us)) {
            if (!onHost) continue;
            (*out)[path] = {'-', ""};
            if (S_ISDIR(ls.st_mode)) AllRemoved(low, path, out);
            continue;
        }
        if (!onHost) {
            (*out)[path] = {'+', ""};
        } else {
            std::string what;
            auto add = [&](const char *word) { what += (what.empty() ? "" : ", ") + std::string(word); };
            if ((us.st_mode & S_IFMT) != (ls.st_mode & S_IFMT)) {
                add("kind");
            } else if (S_ISREG(us.st_mode)) {
                if (us.st_size != ls.st_size || !SameContent(up, low)) add("content");
            } else if (S_ISLNK(us.st_mode)) {
                if (LinkText(up) != LinkText(low)) add("link target");
            }
            if ((us.st_mode & 07777) != (ls.st_mode & 07777) && !S_ISLNK(us.st_mode)) add("mode");
            if (us.st_uid != ls.st_uid || us.st_gid != ls.st_gid) add("owner");
            if (!what.empty()) (*out)[path] = {'~', what};
            // What the host has in a directory that replaced it is gone.
            if (S_ISDIR(us.st_mode) && S_ISDIR(ls.st_mode) && IsOpaque(up)) {
                Changes hidden;
                AllRemoved(low, path, &hidden);
                for (auto &h : hidden) {
                    struct stat hs;
                    if (lstat((upperDir + h.first.substr(shown.size())).c_str(), &hs) != 0)
                        (*out)[h.first] = h.second;
                }
            }
        }
        // Below a directory the host lacks (or has as something else) the
        // lower paths do not resolve, and everything counts as created.
        if (S_ISDIR(us.st_mode)) Compare(up, low, path, out);
    }
}

// The first process of the PID namespace: starts the installation, reaps
// every orphan, and ends with the installation's status, taking whatever it
// left running with it.
[[noreturn]] void RunFirstProcess(const std::vector<std::string> &args, const std::string &cwd) {
    for (int sig : {SIGINT, SIGQUIT, SIGTERM, SIGHUP})
        signal(sig, SIG_IGN);
    // The host's /proc knows none of this namespace's process IDs, so
    // /proc/self would name nothing for the installation's programs (ps,
    // which the running-process guard uses, ends with "lookup self"). A
    // /proc of the namespace's own is mounted, in a mount namespace of this
    // process's own, so that the preview outside keeps the host's. Where
    // that is not allowed the installation runs with the host's, as before.
    if (unshare(CLONE_NEWNS) == 0)
        (void)mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr);
    pid_t child = fork();
    if (child < 0) _exit(2);
    if (child == 0) {
        for (int sig : {SIGINT, SIGQUIT, SIGTERM, SIGHUP})
            signal(sig, SIG_DFL);
        if (chdir(cwd.c_str()) != 0 && chdir("/") != 0) _exit(126);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        fprintf(stderr, "ERROR: cannot run %s: %s\n", argv[0], strerror(errno));
        _exit(127);
    }
    for (;;) {
        int status = 0;
        pid_t pid = wait(&status);
        if (pid < 0 && errno == EINTR) continue;
        if (pid < 0) _exit(2);
        if (pid != child) continue;
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    }
}

} // namespace

int previewInstallation(int argc, char **argv) {
    if (geteuid() != 0)
        Refuse("only root can lay the copy-on-write layers (this user is not root)");

    // The places the installation writes: the system's directories, the
    // install root (the new one and that of the installation it may move)
    // and the work area, each by its top directory.
    std::string workArea, root;
    commandLinePlaces(argc, argv, &workArea, &root);
    char *previous = findPreviousInstallationRoot();
    const std::string appDir =
        (root.empty() ? (previous != nullptr ? previous : "/usr") : root) + "/" SETUP_MAKER "/" SETUP_APPNAME;
    std::vector<std::string> layers = {"/usr", "/var", "/etc"};
    std::vector<std::string> wanted = {appDir};
    if (previous != nullptr) wanted.push_back(std::string(previous) + "/" SETUP_MAKER "/" SETUP_APPNAME);
    if (!workArea.empty()) wanted.push_back(workArea + "/" SETUP_MAKER "Install");
    for (const std::string &path : wanted) {
        const std::string top = TopDirectory(path);
        if (top.empty()) Refuse("the place of %s cannot be worked out", path.c_str());
        if (top == "/tmp") continue; // fresh for the preview
        bool known = false;
        for (const std::string &l : layers)
            known = known || l == top;
        if (known) continue;
        if (top == "/" || top == "/proc" || top == "/sys" || top == "/dev")
            Refuse("no copy-on-write layer can be laid over %s", top.c_str());
        struct stat st;
        if (stat(top.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            Refuse("%s, the top directory of %s, does not exist: the installation would make it "
                   "on the host's root file system, where no layer can be laid",
                   top.c_str(), path.c_str());
        if (strpbrk(top.c_str(), ",:\\") != nullptr)
            Refuse("the directory %s has a name no overlay takes", top.c_str());
        layers.push_back(top);
    }

    // The install site's setup runs inside, by its full path.
    char *site = GetToolPath(argv[0]);
    const std::string program = std::string(site) + "/" + my_name;
    const bool siteInTmp = IsAtOrUnder(site, "/tmp");
    char cwdBuf[PATH_MAX];
    const std::string cwd = getcwd(cwdBuf, sizeof cwdBuf) != nullptr && !IsAtOrUnder(cwdBuf, "/tmp")
                                ? cwdBuf
                                : "/";

    std::vector<std::string> inner = {program, "--"};
    if (flAcceptAgreement) inner.insert(inner.begin() + 1, "--accept-agreement");
    if (!workArea.empty()) inner.push_back(workArea);
    if (!root.empty()) {
        if (workArea.empty()) inner.push_back("install");
        inner.push_back(root);
    }

    // The PID namespace of this process's own children, to go back to once
    // the installation has ended: after unshare, every child would go into
    // the new namespace, where none can start once its first process is
    // gone (fork fails), and whatever this process starts afterwards (the
    // leak check of a sanitized build, for one) must start.
    const int ownPidNs = open("/proc/self/ns/pid", O_RDONLY | O_CLOEXEC);
    if (ownPidNs < 0) Refuse("cannot open this process's PID namespace: %s", strerror(errno));
    if (unshare(CLONE_NEWNS | CLONE_NEWPID) != 0)
        Refuse("cannot make private mount and PID namespaces: %s (a kernel or container without "
               "them, or without the rights)",
               strerror(errno));
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        Refuse("cannot make the mounts private: %s", strerror(errno));
    RemountHostReadOnly();
    // Held open from inside the new namespace (a mount of another namespace
    // cannot be bound), before the layers hide it.
    int siteFd = siteInTmp ? open(site, O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
    if (siteInTmp && siteFd < 0) Refuse("cannot open the install site %s: %s", site, strerror(errno));
    if (mount("dorna-preview", kLayers, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0700") != 0)
        Refuse("cannot mount a tmpfs for the layers: %s", strerror(errno));
    for (const std::string &dir : layers)
        Overlay(dir);
    if (mount("tmpfs", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0)
        Refuse("cannot mount a fresh /tmp: %s", strerror(errno));
    if (siteInTmp) {
        char from[64];
        snprintf(from, sizeof from, "/proc/self/fd/%d", siteFd);
        if (!MakeDirs(site, 0755) || mount(from, site, nullptr, MS_BIND, nullptr) != 0 ||
            mount(nullptr, site, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            Refuse("cannot carry the install site %s into the fresh /tmp: %s", site,
                   strerror(errno));
        close(siteFd);
    }

    fflush(stdout);
    fflush(stderr);
    pid_t first = fork();
    if (first < 0) Refuse("cannot start the installation: %s", strerror(errno));
    if (first == 0) RunFirstProcess(inner, cwd);
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
    int status = 0;
    while (waitpid(first, &status, 0) < 0 && errno == EINTR) {
    }
    const int result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (setns(ownPidNs, CLONE_NEWPID) != 0)
        Refuse("cannot return to this process's PID namespace: %s", strerror(errno));
    close(ownPidNs);

    // The fresh /tmp (and what the installation mounted in it) goes; the
    // layers are in sight again.
    if (umount2("/tmp", MNT_DETACH) != 0)
        Refuse("cannot reach the layers again: %s", strerror(errno));
    Changes changes;
    for (const std::string &dir : layers)
        Compare(std::string(kLayers) + "/upper" + dir, std::string(kLayers) + "/lower" + dir, dir,
                &changes);

    printf("\nWhat the installation would change on this host:\n");
    for (const auto &c : changes) {
        const std::string shown = escapeManifestText(c.first.c_str(), c.first.size());
        if (c.second.sign == '~')
            printf("~ %s (%s)\n", shown.c_str(), c.second.what.c_str());
        else
            printf("%c %s\n", c.second.sign, shown.c_str());
    }
    if (changes.empty()) printf("(nothing)\n");
    printf("The installation would end with status %d.\n", result);
    fflush(stdout);
    return result;
}
