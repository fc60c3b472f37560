// The manifest: what an installation put on the host, written at the end of
// every installation and read by --verify and --uninstall.
//
// The file is plain text. Header lines are "key value"; lines that begin
// with "#" are comments; every other line begins with "/" and describes one
// path:
//
//   <path> <kind> <mode> <owner> <group> <size> <data>
//
// kind is file, dir, link, other or failed; mode four octal digits; size
// the bytes of a file or the length of a link's target; data the SHA-256 of
// a file or the target of a link; "-" stands for a field that does not apply.
// Paths, targets and names are escaped (escapeManifestText) so that a line
// holds no blank and no control character whatever bytes a name has, and
// the lines are sorted by their escaped path, each path once.
//
// What the installation made is the tree under the application directory,
// the suite's directories around it, the spool directories, and the paths
// the steps note on the way (launchers, links, tree copies elsewhere).
// Only real paths are listed: a path that reaches its place through a link
// is listed where it really is, or not at all when that lies in the tree.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <map>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "MemMgr.h"
#include "SysCmd.h"
#include "setup.h"
#include "utils.h"

namespace {

// Paths the steps noted outside the application directory, in the order
// they were noted, and whether the manifest is to be written at the exit.
struct ManifestState {
    std::vector<std::string> noted; // launchers, links, tree copies
    bool armed = false;             // write at the exit of the process
};
ManifestState g_manifest;

// The largest manifest read: a few hundred thousand paths.
constexpr off_t kMaxManifestSize = 64L * 1024 * 1024;

const char *const kKindNames[] = {"file", "dir", "link", "other", "failed"};

} // namespace

std::string manifestOwnerName(unsigned id, bool group) {
    static std::map<unsigned, std::string> users, groups;
    std::map<unsigned, std::string> &cache = group ? groups : users;
    auto it = cache.find(id);
    if (it != cache.end()) return it->second;
    std::string name;
    if (group) {
        struct group *gr = getgrgid(id);
        if (gr != nullptr) name = gr->gr_name;
    } else {
        struct passwd *pw = getpwuid(id);
        if (pw != nullptr) name = pw->pw_name;
    }
    if (name.empty()) name = std::to_string(id);
    name = escapeManifestText(name.c_str(), name.size());
    cache[id] = name;
    return name;
}

namespace {

bool IsHex(const std::string &text) {
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

bool ParseNumber(const std::string &text, int base, unsigned long long max,
                 unsigned long long *value) {
    if (text.empty() || text.size() > 20) return false;
    unsigned long long v = 0;
    for (char c : text) {
        int d = c >= '0' && c <= '9' ? c - '0' : 99;
        if (d >= base) return false;
        if (v > (max - static_cast<unsigned long long>(d)) / static_cast<unsigned>(base))
            return false;
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    }
    *value = v;
    return true;
}

// Splits a line at single blanks; false when it has other white space, an
// empty field, or not exactly `want` fields.
bool SplitFields(const std::string &line, size_t want, std::vector<std::string> *fields) {
    fields->clear();
    size_t at = 0;
    while (at <= line.size()) {
        size_t end = line.find(' ', at);
        if (end == std::string::npos) end = line.size();
        if (end == at) return false;
        fields->push_back(line.substr(at, end - at));
        at = end + 1;
    }
    return fields->size() == want;
}

std::string Describe(const ManifestEntry &e) {
    char mode[8] = "-";
    if (e.kind != MANIFEST_FAILED) snprintf(mode, sizeof mode, "%04o", e.mode & 07777u);
    std::string size = e.size < 0 ? "-" : std::to_string(e.size);
    std::string data = e.data.empty() ? "-" : e.data;
    if (e.kind == MANIFEST_LINK) data = escapeManifestText(e.data.c_str(), e.data.size());
    std::string owner = e.kind == MANIFEST_FAILED ? "-" : e.owner;
    std::string group = e.kind == MANIFEST_FAILED ? "-" : e.group;
    return escapeManifestText(e.path.c_str(), e.path.size()) + " " + kKindNames[e.kind] + " " +
           mode + " " + owner + " " + group + " " + size + " " + data;
}

// The path with every link on the way to its last component resolved; the
// last component itself is kept. Empty when the parent cannot be resolved.
std::string RealParentPath(const std::string &path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    char real[PATH_MAX];
    if (realpath(parent.c_str(), real) == nullptr) return "";
    std::string base = path.substr(slash + 1);
    return strcmp(real, "/") == 0 ? "/" + base : std::string(real) + "/" + base;
}

bool IsUnder(const std::string &path, const std::string &dir) {
    if (dir == "/") return path.size() > 1 && path[0] == '/';
    return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
           path[dir.size()] == '/';
}

// Adds path and, for a real directory, everything below it.
void AddTree(const std::string &path, std::map<std::string, ManifestEntry> *entries) {
    ManifestEntry e;
    if (!describeInstalledPath(path.c_str(), &e)) return;
    (*entries)[path] = e;
    if (e.kind != MANIFEST_DIR) return;
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> names;
    while (struct dirent *d = readdir(dir)) {
        if (strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0) continue;
        names.emplace_back(d->d_name);
    }
    closedir(dir);
    for (const std::string &name : names)
        AddTree(path == "/" ? "/" + name : path + "/" + name, entries);
}

// The print system the flags file of the application directory names.
std::string PrintSystemOf(const char *appDir) {
    char *path = SaveStr("%s/.dp_cfg", appDir);
    FILE *f = fopen(path, "re");
    PutMem(path);
    std::string word;
    if (f != nullptr) {
        char buf[64];
        size_t n = fread(buf, 1, sizeof buf - 1, f);
        fclose(f);
        buf[n] = 0;
        for (char *w = strtok(buf, " \t\r\n"); w != nullptr; w = strtok(nullptr, " \t\r\n"))
            word = w;
    }
    if (word.empty() || !isShellSafePath(word.c_str())) word = "unknown";
    return word;
}

void WriteManifestAtExit(void) {
    if (!g_manifest.armed || flInstallStopped) return;
    g_manifest.armed = false;
    writeManifest();
}

} // namespace

std::string escapeManifestText(const char *text, size_t size) {
    std::string out;
    out.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c <= ' ' || c >= 0x7f || c == '\\') {
            char esc[5];
            snprintf(esc, sizeof esc, "\\%03o", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int unescapeManifestText(const std::string &text, std::string *out) {
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c <= ' ' || c >= 0x7f) return 0;
        if (c != '\\') {
            *out += static_cast<char>(c);
            continue;
        }
        if (i + 3 >= text.size()) return 0;
        int v = 0;
        for (int k = 1; k <= 3; ++k) {
            char d = text[i + k];
            if (d < '0' || d > '7') return 0;
            v = v * 8 + (d - '0');
        }
        if (v > 255) return 0;
        // Only the bytes the writer escapes may come escaped: one text,
        // one spelling, so that sorted and unique mean what they say.
        if (!(v <= ' ' || v >= 0x7f || v == '\\')) return 0;
        *out += static_cast<char>(v);
        i += 3;
    }
    return 1;
}

int describeInstalledPath(const char *path, ManifestEntry *e) {
    struct stat st;
    if (lstat(path, &st) != 0) return 0;
    e->path = path;
    e->mode = st.st_mode & 07777u;
    e->owner = manifestOwnerName(st.st_uid, false);
    e->group = manifestOwnerName(st.st_gid, true);
    e->size = -1;
    e->data.clear();
    if (S_ISDIR(st.st_mode)) {
        e->kind = MANIFEST_DIR;
    } else if (S_ISLNK(st.st_mode)) {
        e->kind = MANIFEST_LINK;
        char target[PATH_MAX];
        ssize_t n = readlink(path, target, sizeof target);
        if (n < 0 || static_cast<size_t>(n) >= sizeof target) return 0;
        e->data.assign(target, static_cast<size_t>(n));
        e->size = n;
    } else if (S_ISREG(st.st_mode)) {
        e->kind = MANIFEST_FILE;
        e->size = st.st_size;
        // The digest of what is there now; O_NOFOLLOW and the identity
        // check make sure it is the file just looked at.
        int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        struct stat fst;
        char hex[SHA256_HEX_SIZE];
        bool ok = fd >= 0 && fstat(fd, &fst) == 0 && fst.st_ino == st.st_ino &&
                  fst.st_dev == st.st_dev && Sha256Fd(fd, hex);
        if (fd >= 0) close(fd);
        if (!ok) return 0;
        e->data = hex;
    } else {
        e->kind = MANIFEST_OTHER;
    }
    return 1;
}

void noteInstalledPath(const char *path) {
    if (path != nullptr && path[0] == '/') g_manifest.noted.emplace_back(path);
}

void armManifest(void) {
    static bool registered = false;
    g_manifest.armed = true;
    if (!registered) registered = atexit(WriteManifestAtExit) == 0;
}

int collectManifest(Manifest *m) {
    m->format = MANIFEST_FORMAT;
    m->suite = SETUP_VERSION;
    m->root = pTargetInstallDir;
    m->appDir = pAppDir;
    m->printSystem = PrintSystemOf(pAppDir);
    char date[32];
    time_t now = time(nullptr);
    struct tm tm;
    gmtime_r(&now, &tm);
    strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", &tm);
    m->date = date;

    std::map<std::string, ManifestEntry> entries;
    const std::string app = pAppDir;
    AddTree(app, &entries);
    // The suite's directories and the spool directories: listed as they
    // are, their contents (other products, print jobs) are not ours.
    std::vector<std::string> fixed;
    fixed.push_back(std::string(strcmp(pTargetInstallDir, "/") == 0 ? "" : pTargetInstallDir) +
                    "/" SETUP_MAKER);
    if (app != SETUP_WELLKNOWN) {
        fixed.push_back("/usr/" SETUP_MAKER);
        fixed.push_back(SETUP_WELLKNOWN);
    }
    fixed.push_back("/var/spool/" SETUP_MAKER);
    fixed.push_back("/var/spool/" SETUP_MAKER "/" SETUP_APPNAME);
    fixed.push_back("/var/spool/" SETUP_MAKER "/" SETUP_APPNAME "/__dpa_download__");
    for (const std::string &path : fixed) {
        ManifestEntry e;
        if (RealParentPath(path) == path && describeInstalledPath(path.c_str(), &e))
            entries[path] = e;
    }
    // What the steps made elsewhere, where it really is; what that puts in
    // the application directory's tree is listed already.
    char realApp[PATH_MAX];
    const std::string appReal = realpath(app.c_str(), realApp) != nullptr ? realApp : app;
    for (const std::string &noted : g_manifest.noted) {
        std::string path = RealParentPath(noted);
        if (path.empty() || path == appReal || IsUnder(path, appReal)) continue;
        AddTree(path, &entries);
    }
    // What an earlier installation made elsewhere and this one did not make
    // again (an upgrade skips the lines of directories that exist, and their
    // links with them) is still the suite's while it is as recorded.
    Manifest old;
    std::string why;
    if (readManifest(SETUP_MANIFEST, &old, &why)) {
        const std::string oldApp = old.appDir;
        for (const ManifestEntry &was : old.entries) {
            const std::string &path = was.path;
            if (entries.count(path) || path == app || IsUnder(path, app) || path == oldApp ||
                IsUnder(path, oldApp) || RealParentPath(path) != path)
                continue;
            ManifestEntry is;
            if (!describeInstalledPath(path.c_str(), &is) || is.kind != was.kind) continue;
            bool ours = false;
            if (is.kind == MANIFEST_LINK)
                ours = is.data == app || IsUnder(is.data, app) || is.data == SETUP_WELLKNOWN ||
                       IsUnder(is.data, SETUP_WELLKNOWN);
            else if (is.kind == MANIFEST_FILE)
                ours = is.data == was.data;
            else
                ours = is.kind == MANIFEST_DIR;
            if (ours) entries[path] = is;
        }
    }
    for (const std::string &failed : failedStepPaths()) {
        std::string path = RealParentPath(failed);
        if (path.empty()) path = failed;
        ManifestEntry e;
        e.path = path;
        e.kind = MANIFEST_FAILED;
        entries[path] = e;
    }
    // Sorted by the escaped text, the order a reader checks.
    std::map<std::string, ManifestEntry> byText;
    for (auto &entry : entries)
        byText[escapeManifestText(entry.first.c_str(), entry.first.size())] = entry.second;
    m->entries.clear();
    for (auto &entry : byText)
        m->entries.push_back(entry.second);
    return 1;
}

std::string formatManifest(const Manifest &m) {
    std::string text = "# What the installation of the Dorna print suite made on this host.\n"
                       "# Written by setup; read by setup --verify and setup --uninstall.\n";
    text += "format " + std::to_string(m.format) + "\n";
    text += "suite " + escapeManifestText(m.suite.c_str(), m.suite.size()) + "\n";
    text += "root " + escapeManifestText(m.root.c_str(), m.root.size()) + "\n";
    text += "appdir " + escapeManifestText(m.appDir.c_str(), m.appDir.size()) + "\n";
    text += "printsystem " + escapeManifestText(m.printSystem.c_str(), m.printSystem.size()) + "\n";
    text += "date " + escapeManifestText(m.date.c_str(), m.date.size()) + "\n";
    for (const ManifestEntry &e : m.entries)
        text += Describe(e) + "\n";
    return text;
}

int parseManifest(const char *text, size_t size, Manifest *m, std::string *why) {
    *m = Manifest();
    std::map<std::string, std::string *> header = {
        {"suite", &m->suite},   {"root", &m->root},
        {"appdir", &m->appDir}, {"printsystem", &m->printSystem},
        {"date", &m->date},
    };
    std::map<std::string, bool> seen;
    bool haveFormat = false;
    std::string previous;
    std::vector<std::string> f;
    size_t lineNo = 0;
    for (size_t at = 0; at < size;) {
        const char *nl = static_cast<const char *>(memchr(text + at, '\n', size - at));
        if (nl == nullptr) {
            *why = "line " + std::to_string(lineNo + 1) + " has no line end (the file is cut)";
            return 0;
        }
        std::string line(text + at, static_cast<size_t>(nl - (text + at)));
        at = static_cast<size_t>(nl - text) + 1;
        ++lineNo;
        const std::string where = "line " + std::to_string(lineNo) + ": ";
        if (line.find('\0') != std::string::npos) {
            *why = where + "a NUL byte";
            return 0;
        }
        if (!line.empty() && line[0] == '#') continue;
        if (!haveFormat) {
            if (line != "format " + std::to_string(MANIFEST_FORMAT)) {
                *why = where + "not \"format " + std::to_string(MANIFEST_FORMAT) +
                       "\" (not a manifest, or of another version)";
                return 0;
            }
            haveFormat = true;
            m->format = MANIFEST_FORMAT;
            continue;
        }
        if (line.empty() || line[0] != '/') {
            if (!m->entries.empty()) {
                *why = where + "a header line after the paths";
                return 0;
            }
            if (!SplitFields(line, 2, &f) || header.count(f[0]) == 0 || seen[f[0]]) {
                *why = where + "not a header line (suite, root, appdir, printsystem, date, each once)";
                return 0;
            }
            seen[f[0]] = true;
            if (!unescapeManifestText(f[1], header[f[0]])) {
                *why = where + "a bad escape in " + f[0];
                return 0;
            }
            continue;
        }
        if (seen.size() != header.size()) {
            *why = where + "a path before the whole header";
            return 0;
        }
        if (!SplitFields(line, 7, &f)) {
            *why = where + "not seven blank-separated fields";
            return 0;
        }
        if (!previous.empty() && f[0] <= previous) {
            *why = where + "paths out of order or listed twice";
            return 0;
        }
        previous = f[0];
        ManifestEntry e;
        if (!unescapeManifestText(f[0], &e.path) || e.path.empty() || e.path[0] != '/') {
            *why = where + "a bad path";
            return 0;
        }
        int kind = -1;
        for (int k = 0; k < 5; ++k)
            if (f[1] == kKindNames[k]) kind = k;
        if (kind < 0) {
            *why = where + "an unknown kind \"" + escapeManifestText(f[1].c_str(), f[1].size()) +
                   "\"";
            return 0;
        }
        e.kind = static_cast<ManifestKind>(kind);
        unsigned long long v = 0;
        if (e.kind == MANIFEST_FAILED) {
            if (f[2] != "-" || f[3] != "-" || f[4] != "-" || f[5] != "-" || f[6] != "-") {
                *why = where + "a failed path with attributes";
                return 0;
            }
            m->entries.push_back(e);
            continue;
        }
        if (f[2].size() != 4 || !ParseNumber(f[2], 8, 07777, &v)) {
            *why = where + "a bad mode";
            return 0;
        }
        e.mode = static_cast<unsigned>(v);
        std::string name;
        if (!unescapeManifestText(f[3], &name) || !unescapeManifestText(f[4], &name)) {
            *why = where + "a bad owner or group";
            return 0;
        }
        e.owner = f[3];
        e.group = f[4];
        bool sized = e.kind == MANIFEST_FILE || e.kind == MANIFEST_LINK;
        if (sized ? !ParseNumber(f[5], 10, LLONG_MAX, &v) : f[5] != "-") {
            *why = where + "a bad size";
            return 0;
        }
        e.size = sized ? static_cast<long long>(v) : -1;
        bool good = true;
        if (e.kind == MANIFEST_FILE)
            good = IsHex(f[6]) && (e.data = f[6], true);
        else if (e.kind == MANIFEST_LINK)
            good = unescapeManifestText(f[6], &e.data) && !e.data.empty() &&
                   e.data.size() == static_cast<size_t>(e.size);
        else
            good = f[6] == "-";
        if (!good) {
            *why = where + "a bad digest or link target";
            return 0;
        }
        m->entries.push_back(e);
    }
    if (!haveFormat || seen.size() != header.size()) {
        *why = "the header is incomplete";
        return 0;
    }
    const std::string wantApp =
        (m->root == "/" ? "" : m->root) + "/" SETUP_MAKER "/" SETUP_APPNAME;
    if (m->root.empty() || m->root[0] != '/' || m->appDir != wantApp) {
        *why = "the application directory is not <root>/" SETUP_MAKER "/" SETUP_APPNAME;
        return 0;
    }
    return 1;
}

int readManifest(const char *path, Manifest *m, std::string *why) {
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = errno == ENOENT ? "is missing (no installation is recorded)" : strerror(errno);
        return 0;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxManifestSize) {
        close(fd);
        *why = "is not a regular file of a manifest's size";
        return 0;
    }
    std::string text(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < text.size()) {
        ssize_t n = read(fd, &text[got], text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    text.resize(got);
    if (!parseManifest(text.data(), text.size(), m, why)) {
        *why = "is damaged: " + *why;
        return 0;
    }
    return 1;
}

int writeManifest(void) {
    Manifest m;
    collectManifest(&m);
    const std::string text = formatManifest(m);
    SysCmd(CMD_MKDIR, RUN_WARN, " %s", SETUP_MANIFEST_DIR);
    SysCmd(CMD_CHMOD, RUN_WARN, "755 %s", SETUP_MANIFEST_DIR);
    // Root writes here: the directory must be a real one that only root
    // can change, or the new file could be swapped under it.
    char *bad = nullptr;
    const char *reason = nullptr;
    struct stat st;
    const char *fault = nullptr;
    if (lstat(SETUP_MANIFEST_DIR, &st) != 0 || !S_ISDIR(st.st_mode))
        fault = "is not a directory";
    else if (findUntrustedDirectory(SETUP_MANIFEST_DIR, &bad, &reason))
        fault = reason;
    if (fault != nullptr) {
        fflush(stdout);
        fprintf(stderr, "ERROR: the manifest %s was not written: %s %s\n", SETUP_MANIFEST,
                bad != nullptr ? bad : SETUP_MANIFEST_DIR, fault);
        PutLogMsg("ERROR: the manifest %s was not written: %s\n", SETUP_MANIFEST, fault);
        if (bad != nullptr) PutMem(bad);
        return 0;
    }
    FileReplacement r;
    bool ok = ReplaceOpen(&r, SETUP_MANIFEST, SETUP_MANIFEST ".new", 0644, REPLACE_DROP_LEFTOVER);
    if (ok) {
        ok = fwrite(text.data(), 1, text.size(), r.pOut) == text.size();
        if (!ok) {
            r.Errno = errno;
            ReplaceAbort(&r);
        } else {
            ok = ReplaceCommit(&r, nullptr);
        }
    }
    if (!ok) {
        fflush(stdout);
        fprintf(stderr, "ERROR: the manifest %s was not written: %s\n", SETUP_MANIFEST,
                strerror(r.Errno));
        PutLogMsg("ERROR: the manifest %s was not written: %s\n", SETUP_MANIFEST,
                  strerror(r.Errno));
        return 0;
    }
    PutLogMsg("manifest %s written: %zu paths\n", SETUP_MANIFEST, m.entries.size());
    return 1;
}
