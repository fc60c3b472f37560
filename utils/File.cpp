// File helpers: opening streams with a chosen reaction to failure, small text
// files in one call, directory entries, existence and type tests, and path
// arithmetic. The changes of the file system that run as commands live in the
// command layer (syscmd/SysFile.cpp).

#include "utils.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileState {
    char searchLine[512]; // FileSearch's result: the line found, valid until its next call
};
FileState g_file;

// 1 when `name` is one of the entries that the listing of `dir` holds. The
// names are compared one by one as the directory is read rather than looked
// up in the blank-separated listing text: there a name with a blank would
// also match two neighbouring entries ("a b" for a and b), and a plain name
// would match one word of an entry with a blank ("two" in "two words").
int FindInListing(const char *dir, const char *name) {
    DIR *d = opendir(dir);
    if (d == nullptr) return 0;
    // Asking the directory for the name gives the listing's answer without
    // reading every entry: a package list checks its target directory once a
    // line, and that directory grows with every file copied into it. Only a
    // directory that may be read but not searched needs the walk.
    struct stat st;
    int rc = fstatat(dirfd(d), name, &st, AT_SYMLINK_NOFOLLOW);
    if (rc == 0 || errno != EACCES) {
        closedir(d);
        return rc == 0;
    }
    int found = 0;
    while (const char *entry = ReadDir(d)) {
        if (strcmp(entry, name) == 0) {
            found = 1;
            break;
        }
    }
    closedir(d);
    return found;
}

// Directory part of a path by StripFn's rule ("/a/b" gives "/a", "/a" gives
// "/", "a" and "" give "."), at any length: StripFn keeps at most 255
// characters, and a cut path would name some other directory.
std::string DirPart(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// What follows the last slash of a path (the whole path when it has none).
// StripPath would cut a long name at 127 characters and so test another one.
std::string NamePart(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

FILE *ReportOpenFailure(const char *path, int report) {
    if (report == REPORT_FATAL) SysError("can't open file, %s", path);
    if (report == REPORT_ERROR) fprintf(stderr, "ERROR: can't open file, %s\n", path);
    return nullptr;
}

} // namespace

FILE *OpenFile(FILE *pClose, const char *path, const char *mode, int report) {
    if (pClose != nullptr) fclose(pClose);
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return ReportOpenFailure(path ? path : "", report);
    }
    FILE *f = fopen(path, mode);
    if (f == nullptr) return ReportOpenFailure(path, report);
    return f;
}

FILE *OpenFileF(FILE *pClose, const char *mode, int report, const char *format, ...) {
    char path[512];
    va_list ap;
    va_start(ap, format);
    int n = VFormatBounded(path, sizeof path, format, ap);
    va_end(ap);
    if (n < 0) {
        // A cut path would name another file: refuse it like a failed open.
        if (pClose != nullptr) fclose(pClose);
        errno = ENAMETOOLONG;
        return ReportOpenFailure(path, report);
    }
    return OpenFile(pClose, path, mode, report);
}

int OpenRawFile(const char *path, int flags) {
    int fd = path ? open(path, flags, 0666) : -1;
    if (fd < 0) {
        printf("ERROR: can't open file, %s", path ? path : "");
        fflush(stdout);
    }
    return fd;
}

int CreateTextFile(const char *path, const char *mode, int perm, const char *format, ...) {
    FILE *f = (path && mode) ? fopen(path, mode) : nullptr;
    if (f == nullptr) {
        fprintf(stderr, "ERROR: couldn't open %s\n", path ? path : "");
        return 0;
    }
    va_list ap;
    va_start(ap, format);
    vfprintf(f, format, ap);
    va_end(ap);
    bool ok = true;
    if (perm != 0 && fchmod(fileno(f), static_cast<mode_t>(perm)) != 0) ok = false;
    // A full disk shows only when the buffer is written out: check the close
    // too, so a cut file is not reported as written.
    if (ferror(f)) ok = false;
    if (fclose(f) != 0) ok = false;
    if (!ok) {
        fprintf(stderr, "ERROR: couldn't write %s\n", path);
        return 0;
    }
    return 1;
}

char *ReadDir(DIR *dir) {
    if (dir == nullptr) return nullptr;
    struct dirent *e = readdir(dir);
    return e != nullptr ? e->d_name : nullptr;
}

int FindFile(const char *dir, const char *name) {
    if (dir == nullptr) {
        if (name == nullptr || *name == '\0') return 0;
        dir = name;
        name = nullptr;
    }

    // Split the entry into the directory to list and the name to look for.
    std::string parent, entry;
    if (name != nullptr && *name != '\0' && strchr(name, '/') != nullptr) {
        std::string joined = std::string(dir) + "/" + name;
        parent = DirPart(joined);
        entry = NamePart(joined);
        if (entry.empty()) {
            // A trailing slash names the directory itself.
            return FindFile(parent.c_str(), nullptr);
        }
    } else if (name == nullptr || *name == '\0') {
        // Trailing slashes name the directory itself: "/usr/bin/" is the
        // entry bin of /usr, not an entry bin inside /usr/bin.
        std::string whole = dir;
        while (whole.size() > 1 && whole.back() == '/')
            whole.pop_back();
        // The root has no parent to list it; it always exists.
        if (whole == "/") return 1;
        parent = DirPart(whole);
        entry = NamePart(whole);
    } else {
        parent = dir;
        entry = name;
    }
    // An empty name would match the empty item behind the listing's last blank.
    if (entry.empty()) return 0;
    return FindInListing(parent.c_str(), entry.c_str());
}

int FindFile_(const char *dir, const char *name) {
    if (dir == nullptr && (name == nullptr || *name == '\0')) return 0;
    std::string path;
    if (dir != nullptr && name != nullptr && *name != '\0')
        path = std::string(dir) + "/" + name;
    else
        path = dir ? dir : name;
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

int GetFileType(const char *path) {
    struct stat st;
    if (path == nullptr || lstat(path, &st) != 0) return FILE_TYPE_NONE;
    if (S_ISDIR(st.st_mode)) return FILE_TYPE_DIR;
    if (S_ISLNK(st.st_mode)) return FILE_TYPE_LINK;
    return FILE_TYPE_OTHER;
}

long GetFileSize(const char *path) {
    struct stat st;
    if (path == nullptr || stat(path, &st) != 0) return 0;
    return static_cast<long>(st.st_size);
}

long GetFileTime(const char *path) {
    struct stat st;
    if (path == nullptr || stat(path, &st) != 0) return 0;
    return static_cast<long>(st.st_mtime);
}

char *FileSearch(const char *path, const char *pattern, int report) {
    char *buf = g_file.searchLine;
    FILE *f = OpenFile(nullptr, path, "rt", report);
    if (f == nullptr) return nullptr;
    char *hit = nullptr;
    while (fgets(buf, sizeof g_file.searchLine, f) != nullptr) {
        if (pattern == nullptr || strstr(buf, pattern) != nullptr) {
            hit = buf;
            break;
        }
    }
    fclose(f);
    return hit;
}

char *GetEnv(const char *name) {
    if (name == nullptr) return nullptr;
    const char *value = getenv(name);
    return value ? SaveStr("%s", value) : nullptr;
}

char *GetToolPath(const char *argv0) {
    if (argv0 == nullptr) argv0 = "";
    std::string dirPart = DirPart(argv0);
    if (argv0[0] == '/') return SaveStr("%s", dirPart.c_str());

    // The working directory may be deeper than any fixed buffer would hold;
    // the C library sizes it, so a deep start directory still gives an
    // absolute path rather than a relative one.
    char *wd = getcwd(nullptr, 0);
    if (wd == nullptr) return SaveStr("%s", dirPart.c_str());
    std::string cwd = wd;
    free(wd);

    if (dirPart.compare(0, 2, "./") == 0 && dirPart.size() > 2)
        return SaveStr("%s/%s", cwd.c_str(), dirPart.c_str() + 2);

    if (dirPart.compare(0, 3, "../") == 0) {
        std::string base = cwd;
        const char *rest = dirPart.c_str();
        while (strncmp(rest, "../", 3) == 0) {
            rest += 3;
            base = DirPart(base);
        }
        if (*rest == '\0') return SaveStr("%s", base.c_str());
        return SaveStr("%s/%s", base.c_str(), rest);
    }

    std::string full = cwd + "/" + argv0;
    return SaveStr("%s", DirPart(full).c_str());
}

char *FindExistingPath(const char *path, int *flExists) {
    if (path == nullptr) path = "";
    // Not cut to a fixed buffer: a path cut inside a name could end in the
    // name of an existing sibling, which is no ancestor of the path.
    std::string found = path;
    while (!FindFile(found.c_str(), nullptr)) {
        std::string up = DirPart(found);
        if (up == found) break; // "/" or "." : nowhere higher to go
        found = up;
    }
    if (flExists != nullptr && found == path) *flExists = 1;
    return SaveStr("%s", found.c_str());
}

// ---------------------------------------------------------------------------
// Atomic replacement
// ---------------------------------------------------------------------------

namespace {

// Records a failure; the record's temporary is gone by then.
int ReplaceFailed(FileReplacement *r, int step, int err) {
    r->Failed = step;
    r->Errno = err;
    return 0;
}

// Copies text into a record buffer; false when it does not fit.
bool CopyName(char (&buf)[4096], const char *text) {
    return FormatBounded(buf, sizeof buf, "%s", text) >= 0;
}

// The directory that holds path, for syncing the rename ("." for a bare name).
std::string ParentOf(const char *path) {
    const char *slash = strrchr(path, '/');
    if (slash == nullptr) return ".";
    if (slash == path) return "/";
    return std::string(path, static_cast<size_t>(slash - path));
}

// A file system that cannot sync says so; that is no failure of ours.
bool SyncFailed(int fd) {
    return fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP;
}

// The file whose mode and owner the new one keeps: the file itself, never
// what a link put at its name since the replacement began points to.
bool KeptFile(const FileReplacement *r, struct stat *st) {
    return lstat(r->Path, st) == 0 && S_ISREG(st->st_mode);
}

// Gives the temporary its permission bits (and owner) before it takes the
// file's name, so the file is never seen with other ones.
void SetReplacementMode(FileReplacement *r, int fd) {
    struct stat old;
    if ((r->Flags & REPLACE_KEEP_MODE) && KeptFile(r, &old)) {
        // Owner first: chown clears the set-id bits that chmod then restores.
        // An owner we may not give (we are not root) leaves ours: keeping the
        // text matters, keeping the owner is a courtesy.
        struct stat now;
        if (fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
            int ignored = fchown(fd, old.st_uid, old.st_gid);
            (void)ignored;
        }
        int ignored = fchmod(fd, old.st_mode & 07777);
        (void)ignored;
    } else if (r->Mode >= 0) {
        int ignored = fchmod(fd, static_cast<mode_t>(r->Mode));
        (void)ignored;
    }
}

// The permission bits the temporary is made with: those the file will have
// (the set-id bits apart, which the commit gives), so that a private file's
// records are never readable by others through its copy while it is written.
// The umask narrows them further until the commit.
mode_t TemporaryMode(const FileReplacement *r) {
    struct stat old;
    if ((r->Flags & REPLACE_KEEP_MODE) && KeptFile(r, &old)) return old.st_mode & 0777;
    return r->Mode >= 0 ? static_cast<mode_t>(r->Mode) & 0777 : 0666;
}

} // namespace

int ReplaceOpen(FileReplacement *r, const char *path, const char *temp, int mode, int flags) {
    r->pOut = nullptr;
    r->Mode = mode;
    r->Flags = flags;
    r->Failed = REPLACE_FAILED_NONE;
    r->Errno = 0;
    if (path == nullptr || temp == nullptr || !CopyName(r->Path, path) || !CopyName(r->Temp, temp))
        return ReplaceFailed(r, REPLACE_FAILED_CREATE, ENAMETOOLONG);
    // A link at the file's name would lend the new file the owner and mode
    // of whatever it points to (someone else's file, or a set-user-ID one).
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode))
        return ReplaceFailed(r, REPLACE_FAILED_LINK, ELOOP);
    if ((flags & REPLACE_DROP_LEFTOVER) && unlink(temp) != 0 && errno != ENOENT)
        return ReplaceFailed(r, REPLACE_FAILED_CREATE, errno);
    // A new file of our own: a link or a file planted under the temporary's
    // name (in /tmp, say) must not redirect what we write.
    int fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, TemporaryMode(r));
    if (fd < 0) return ReplaceFailed(r, REPLACE_FAILED_CREATE, errno);
    r->pOut = fdopen(fd, "w");
    if (r->pOut == nullptr) {
        int err = errno;
        close(fd);
        unlink(temp);
        return ReplaceFailed(r, REPLACE_FAILED_CREATE, err);
    }
    return 1;
}

int ReplaceCommit(FileReplacement *r, struct stat *written) {
    if (r->pOut == nullptr) return ReplaceFailed(r, REPLACE_FAILED_WRITE, EBADF);
    int fd = fileno(r->pOut);
    // The copy must be on the disk before it takes the file's name, or a
    // crash could leave an empty or partial file under that name.
    if (fflush(r->pOut) != 0 || ferror(r->pOut)) {
        int err = errno ? errno : EIO;
        ReplaceAbort(r);
        return ReplaceFailed(r, REPLACE_FAILED_WRITE, err);
    }
    SetReplacementMode(r, fd);
    if (SyncFailed(fd) || (written != nullptr && fstat(fd, written) != 0)) {
        int err = errno;
        ReplaceAbort(r);
        return ReplaceFailed(r, REPLACE_FAILED_WRITE, err);
    }
    if (rename(r->Temp, r->Path) != 0) {
        int err = errno;
        ReplaceAbort(r);
        return ReplaceFailed(r, REPLACE_FAILED_RENAME, err);
    }
    // The new name itself must survive a crash.
    int dfd = open(ParentOf(r->Path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    // Closed only now: a lock a caller holds on the temporary lasts until the
    // new file is in place.
    fclose(r->pOut);
    r->pOut = nullptr;
    return 1;
}

void ReplaceAbort(FileReplacement *r) {
    if (r->pOut == nullptr) return;
    unlink(r->Temp);
    fclose(r->pOut);
    r->pOut = nullptr;
}
