// Diagnostics and the run log.
//
// Everything the system tells the operator outside its menus goes through
// here: fatal system errors (SysError), warnings and errors with an exit
// status (ErrorMsg), plain error lines (errormsg) and the run log in /tmp
// (PutLogMsg). The command layer logs every command it runs through here;
// the log itself runs no command and creates its file with system calls.

#include "utils.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

char *my_name = nullptr;
unsigned char flUseLog = 0;
const char *pLogPath = "/tmp";
FILE *pLog = nullptr;

namespace {

struct LogState {
    // Set until the first message of the run has been written: that message
    // truncates the log, every later one appends.
    unsigned char flFirstMsg = 1;
    // ErrorMsg formats here first and copies the message into Line after:
    // an argument may be the text of Line itself (the line just read).
    char errorText[LINE_SIZE];
    // The log file as last opened and checked, kept open between messages
    // (close-on-exec): a message then costs a look at the name, a look at
    // the descriptor and one write instead of a full open and close.
    int fd = -1;
    // The file fd was opened on, to recognise it at the name again.
    dev_t dev = 0;
    ino_t ino = 0;
    // The name fd was opened under ("/tmp/<my_name>.log").
    char path[256] = "";
};
LogState g_log;

// Permission bits of a log file the log writer creates: its owner's alone.
// The log of a run as root holds every command line and its output; a log
// others may write lets them put lines of their own into root's record,
// and the log writer of another user's run never writes a file it does not
// own anyway.
constexpr mode_t LOG_FILE_MODE = 0600;

// True when the entry at fd/st is a file this process may write the log
// into: a regular file with one name only, owned by us or by root. Anything
// else in a world-writable /tmp may have been planted to make a privileged
// run write where it should not (a link, a FIFO, a hard link to a system
// file, a file another user keeps open to rewrite later).
bool IsTrustedLogFile(const struct stat &st) {
    if (!S_ISREG(st.st_mode)) return false;
    if (st.st_nlink != 1) return false;
    return st.st_uid == 0 || st.st_uid == geteuid();
}

// Creates the log file afresh: exclusive creation refuses to follow a link
// or to reuse an entry someone planted between our check and the create.
// The mode is set on the open file, so the umask does not narrow it. Opened
// for appending like an existing log: the descriptor is kept for later
// messages, and the commands append their output to the file meanwhile.
int CreateLogFile(const char *path) {
    int fd =
        open(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, LOG_FILE_MODE);
    if (fd < 0) return -1;
    // A failure leaves the file ours and usable, only shared more narrowly.
    int ignored = fchmod(fd, LOG_FILE_MODE);
    (void)ignored;
    return fd;
}

// Opens the log for appending, never through a symbolic link and never into
// a file that is not ours to write. An untrusted entry is removed (its
// target stays untouched) and the log is created anew. Returns the file
// descriptor and fills *opened with what it refers to, or returns -1.
int OpenLogFd(const char *path, struct stat *opened) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct stat st;
        if (lstat(path, &st) != 0) {
            if (errno != ENOENT) return -1;
            int fd = CreateLogFile(path);
            if (fd >= 0 && fstat(fd, opened) == 0) return fd;
            if (fd >= 0) {
                close(fd);
                return -1;
            }
            if (errno == EEXIST) continue; // someone was quicker: look again
            return -1;
        }
        if (!IsTrustedLogFile(st)) {
            // An empty directory goes as well; anything with contents stays
            // and the log is lost rather than someone's files.
            int rc = S_ISDIR(st.st_mode) ? rmdir(path) : unlink(path);
            if (rc != 0 && errno != ENOENT) return -1;
            continue;
        }
        int fd = open(path, O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ELOOP || errno == ENOENT) continue; // swapped under us
            return -1;
        }
        // Check what was really opened: the name may have been replaced
        // between lstat and open.
        if (fstat(fd, opened) != 0 || !IsTrustedLogFile(*opened) || opened->st_ino != st.st_ino ||
            opened->st_dev != st.st_dev) {
            close(fd);
            continue;
        }
        return fd;
    }
    return -1;
}

// True when the held descriptor still refers to the file it was opened on:
// a caller may have closed it and got the number back for another file.
bool HeldFdIsOurs() {
    struct stat st;
    return g_log.fd >= 0 && fstat(g_log.fd, &st) == 0 && st.st_dev == g_log.dev &&
           st.st_ino == g_log.ino;
}

// Lets go of the held descriptor; closes it only while it is still ours.
void DropHeldLog() {
    if (HeldFdIsOurs()) close(g_log.fd);
    g_log.fd = -1;
    g_log.path[0] = '\0';
}

// The held descriptor when it may take the next message: the log's name
// still names the file it was opened on, that file still passes the checks
// of a fresh open (a hard link made since, or a change of owner, fails
// them), and the descriptor still refers to it. Else -1.
int HeldLogFd(const char *path) {
    if (g_log.fd < 0 || strcmp(path, g_log.path) != 0) return -1;
    struct stat st;
    if (lstat(path, &st) != 0 || st.st_dev != g_log.dev || st.st_ino != g_log.ino ||
        !IsTrustedLogFile(st) || !HeldFdIsOurs())
        return -1;
    return g_log.fd;
}

// True when the held log was opened under "<dir>/<name>.log".
bool IsHeldLogPath(const char *dir, const char *name) {
    if (g_log.fd < 0 || name == nullptr) return false;
    size_t d = strlen(dir), n = strlen(name);
    return strncmp(g_log.path, dir, d) == 0 && g_log.path[d] == '/' &&
           strncmp(g_log.path + d + 1, name, n) == 0 && strcmp(g_log.path + d + 1 + n, ".log") == 0;
}

// The log file at path, opened for appending (emptied first when truncate
// is set) and held for the next message; -1 when it cannot be had.
int LogFd(const char *path, bool truncate) {
    int fd = truncate ? -1 : HeldLogFd(path);
    if (fd >= 0) return fd;
    DropHeldLog();
    struct stat st;
    fd = OpenLogFd(path, &st);
    if (fd >= 0 && truncate && ftruncate(fd, 0) != 0) {
        close(fd);
        fd = -1;
    }
    if (fd < 0) return -1;
    g_log.fd = fd;
    g_log.dev = st.st_dev;
    g_log.ino = st.st_ino;
    snprintf(g_log.path, sizeof g_log.path, "%s", path);
    return fd;
}

// Writes the formatted text to fd in full. Most messages fit the stack
// buffer; a longer one is formatted again into a buffer of its size.
[[gnu::format(printf, 2, 0)]] void WriteFormatted(int fd, const char *format, va_list ap) {
    char small[1024];
    va_list again;
    va_copy(again, ap);
    int n = vsnprintf(small, sizeof small, format, ap);
    std::string large;
    const char *text = small;
    if (n >= static_cast<int>(sizeof small)) {
        large.resize(static_cast<size_t>(n) + 1);
        vsnprintf(large.data(), large.size(), format, again);
        text = large.data();
    }
    va_end(again);
    for (size_t done = 0, len = n > 0 ? static_cast<size_t>(n) : 0; done < len;) {
        ssize_t w = write(fd, text + done, len - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break; // a full disk costs the rest of the message only
        done += static_cast<size_t>(w);
    }
}

} // namespace

void PutLogMsg(const char *format, ...) {
    if (!flUseLog) return;

    pLogPath = "/tmp";
    bool truncate = g_log.flFirstMsg != 0;
    g_log.flFirstMsg = 0;

    // The name of the held log is reused while the program's name stays the
    // same: most messages then format only their own text.
    char path[256];
    if (!IsHeldLogPath(pLogPath, my_name)) {
        int n = FormatBounded(path, sizeof path, "%s/%s.log", pLogPath, my_name ? my_name : "");
        if (my_name == nullptr || n < 0) {
            fprintf(stderr, "ERROR: couldn't open %s\n", path);
            return;
        }
    } else {
        memcpy(path, g_log.path, sizeof path);
    }

    int fd = LogFd(path, truncate);
    if (fd < 0) {
        fprintf(stderr, "ERROR: couldn't open %s\n", path);
        return;
    }

    // One write of the whole message straight to the file (opened for
    // appending): a log line costs no stream set-up, and the message is on
    // disk, after whatever the commands appended, when this returns. A
    // descriptor opened on an existing log is non-blocking (the open must not
    // hang on a planted FIFO), which writes to a regular file ignore.
    va_list ap;
    va_start(ap, format);
    WriteFormatted(fd, format, ap);
    va_end(ap);
}

void SysError(const char *format, ...) {
    int err = errno; // the reason must survive the output calls below
    fflush(stdout);
    fprintf(stderr, "\n%s: ", my_name ? my_name : "");
    va_list ap;
    va_start(ap, format);
    vfprintf(stderr, format, ap);
    va_end(ap);
    fprintf(stderr, " : %s\n", strerror(err));
    exit_app(1);
}

void ErrorMsg(int level, int status, const char *format, ...) {
    // The message ends up in the shared line buffer, where the caller may
    // read it back. It is formatted apart first: a message about the line
    // just read passes Line (or a pointer into it) as an argument, and
    // formatting straight into Line would overwrite that text while reading it.
    g_log.errorText[0] = '\0';
    if (format != nullptr) {
        va_list ap;
        va_start(ap, format);
        if (vsnprintf(g_log.errorText, sizeof g_log.errorText, format, ap) < 0)
            g_log.errorText[0] = '\0';
        va_end(ap);
    }
    size_t len = strnlen(g_log.errorText, sizeof g_log.errorText - 1);
    memcpy(Line, g_log.errorText, len);
    Line[len] = '\0';

    if (level == 1) {
        fprintf(stderr, "WARNING: %s\n", Line);
    } else if (level == 2) {
        fflush(stdout);
        fprintf(stderr, "ERROR: %s\n", Line);
        exit_app(status);
    }
}

void errormsg(const char *format, ...) {
    fprintf(stderr, "%s: ", my_name ? my_name : "");
    va_list ap;
    va_start(ap, format);
    vfprintf(stderr, format, ap);
    va_end(ap);
    fputc('\n', stderr);
}

void exit_app(int status) {
    exit(status);
}
