// The command table, its resolution on the search path, and the execution of
// its commands.
//
// Resolution. Each row of ComList is resolved once to the first directory of
// the search order (SearchPaths, then PATH) that holds an entry of that name;
// later directories never override it. InitSysCmdList walks the directories
// and matches every still unresolved row against each one, and stops as soon
// as nothing is left. How a directory is examined is chosen per directory:
// a small one is read whole and its names are matched through a hash of the
// row names; a large one (a PATH entry with thousands of files) is asked for
// the remaining names one by one, which costs a few lookups instead of a scan
// of every entry. Both answer the same question - is there an entry of that
// name, of any kind - and a directory seen before in the same walk (PATH
// repeating /usr/bin, /bin being a link to /usr/bin) is not examined again.
//
// Execution. SysCmd wraps the row's command in an explicit `<sh> -c "..."`,
// appends the run mode's redirection and hands the line to system(). The
// command succeeds only when it exits with status 0; anything else is a
// failure that the run mode reports (log, stdout) or makes fatal.

#include "SysCmd.h"
#include "SysPriv.h"

#include "MemMgr.h"
#include "utils.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sched.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// clang-format off
ComListEntry ComList[COMLIST_SIZE] = {
    {"", "", nullptr, 0},                 //  0 whole line given by the caller
    {"", "", nullptr, 0},                 //  1 whole line given by the caller
    {"cancel", "", nullptr, 2},           //  2
    {"cat", "", nullptr, 0},              //  3
    {"chgrp", "", nullptr, 0},            //  4
    {"chmod", "", nullptr, 0},            //  5
    {"chown", "", nullptr, 0},            //  6
    {"clear", "", nullptr, 0},            //  7
    {"compress", "", nullptr, 0},         //  8
    {"cp", "-p", nullptr, 0},             //  9
    {"cp", "-pr", nullptr, 0},            // 10
    {"cupsd", "", nullptr, 0},            // 11
    {"id", "", nullptr, 0},               // 12
    {"echo", "", nullptr, 0},             // 13
    {"eject", "-f", nullptr, 1},          // 14
    {"eject", "-q", nullptr, 1},          // 15
    {"file", "", nullptr, 0},             // 16
    {"ln", "", nullptr, 0},               // 17
    {"lp", "", nullptr, 0},               // 18
    {"lpc", "", nullptr, 1},              // 19
    {"lpr", "", nullptr, 0},              // 20
    {"lprm", "", nullptr, 1},             // 21
    {"lpstat", "", nullptr, 1},           // 22
    {"ls", "", nullptr, 0},               // 23
    {"kill", "-KILL", nullptr, 0},        // 24
    {"mv", "-f", nullptr, 0},             // 25
    {"mkdir", "-p", nullptr, 0},          // 26
    {"more", "", nullptr, 0},             // 27
    {"ping", "", nullptr, 0},             // 28
    {"rm", "-f", nullptr, 0},             // 29
    {"rm", "-rf", nullptr, 0},            // 30
    {"sh", "", nullptr, 0},               // 31
    {"sleep", "", nullptr, 0},            // 32
    {"tar", "cvfp", nullptr, 0},          // 33
    {"tar", "xvfp", nullptr, 0},          // 34
    {"touch", "", nullptr, 0},            // 35
    {"uncompress", "", nullptr, 0},       // 36
    {"whoami", "", nullptr, 0},           // 37
    {"zcat", "", nullptr, 0},             // 38
    {"uname", "", nullptr, 0},            // 39
    {"sed", "", nullptr, 0},              // 40
    {"du", "-s", nullptr, 0},             // 41
    {"checkpc", "", nullptr, 0},          // 42
    {"lpd", "", nullptr, 0},              // 43
    {"pkgadd", "", nullptr, 1},           // 44
    {"pkginfo", "", nullptr, 0},          // 45
    {"pkgrm", "", nullptr, 1},            // 46
    {"accept", "", nullptr, 1},           // 47
    {"disable", "", nullptr, 1},          // 48
    {"cupsdisable", "", nullptr, 1},      // 49
    {"enable", "", nullptr, 1},           // 50
    {"cupsenable", "", nullptr, 1},       // 51
    {"lpadmin", "", nullptr, 1},          // 52
    {"lpfilter", "", nullptr, 1},         // 53
    {"lpsched", "", nullptr, 1},          // 54
    {"lpshut", "", nullptr, 1},           // 55
    {"lpsystem", "", nullptr, 1},         // 56
    {"ps", "-ace", nullptr, 0},           // 57
    {"bar", "", nullptr, 0},              // 58
    {"df", "", nullptr, 0},               // 59
    {"lpq", "-P", nullptr, 0},            // 60
    {"ypcat", "", nullptr, 0},            // 61
    {"reject", "", nullptr, 1},           // 62
    {"pmadm", "", nullptr, 1},            // 63
    {"sacadm", "", nullptr, 1},           // 64
    {"volcheck", "", nullptr, 0},         // 65
    {"capture", "", nullptr, 0},          // 66
    {"lpset", "", nullptr, 1},            // 67
    {"instnetpr", "", nullptr, 1},        // 68
    {"piomkpq", "", nullptr, 0},          // 69
    {"piomisc_ext", "", nullptr, 0},      // 70
    {"piomisc_base", "", nullptr, 0},     // 71
    {"lsallq", "", nullptr, 0},           // 72
    {"mkque", "", nullptr, 0},            // 73
    {"mkquedev", "", nullptr, 0},         // 74
    {"rmque", "", nullptr, 0},            // 75
    {"rmquedev", "", nullptr, 0},         // 76
    {"piochdfq", "", nullptr, 0},         // 77
    {"enq", "", nullptr, 0},              // 78
    {"lsquedev", "", nullptr, 0},         // 79
    {"lsque", "", nullptr, 0},            // 80
    {"startsrc", "", nullptr, 1},         // 81
    {"stopsrc", "", nullptr, 0},          // 82
    {"lssrc", "", nullptr, 0},            // 83
    {nullptr, nullptr, nullptr, 0},       // 84 end of table
};
// clang-format on

char SearchPaths[44] = "/usr/sbin:/usr/bin:/bin:/sbin:/etc:/usr/etc";
char *FullSearchPath = nullptr;
unsigned char flInitSysCmd = 1;
unsigned char flSysCmdLog = 0;

namespace {

constexpr int ROW_FIRST_CMD = CMD_LINE + 1; // rows below name no command
constexpr int PROCESS_WAIT_TRIES = 10;

// A directory larger than this (st_size, in bytes) may be probed name by name
// instead of being read whole; smaller ones are always read.
constexpr off_t PROBE_MIN_DIR_SIZE = 8192;
// Probing beats reading when the directory is larger than this many bytes per
// name still to find: reading costs about 0.25 us per entry of ~24 bytes,
// a probe about 0.6 us (measured on ext4 and tmpfs).
constexpr off_t PROBE_BYTES_PER_NAME = 60;

// Hash of the row names, so that reading a directory costs one lookup per
// entry whatever the number of rows.
constexpr unsigned NAME_HASH_SLOTS = 256; // power of two, well above 83 names

struct ResolveState {
    // First row of each name by hash slot (open addressing); -1 when empty.
    int slot[NAME_HASH_SLOTS];
    // Next row with the same name (cp, eject, rm, tar), -1 at the last.
    int sameName[COMLIST_SIZE];
    // Set once slot[] and sameName[] are filled.
    bool hashReady = false;
    // Directories already examined by the current InitSysCmdList walk,
    // by device and inode; nothing new can come from a second look.
    struct DirId {
        dev_t dev;
        ino_t ino;
    } seen[64];
    int seenCount = 0;
    // True while InitSysCmdList walks its directories.
    bool walking = false;
};
ResolveState g_res;

unsigned HashName(const char *s, size_t len) {
    unsigned h = 2166136261u;
    for (size_t i = 0; i < len; ++i)
        h = (h ^ static_cast<unsigned char>(s[i])) * 16777619u;
    return h & (NAME_HASH_SLOTS - 1);
}

void BuildNameHash() {
    if (g_res.hashReady) return;
    for (int &s : g_res.slot)
        s = -1;
    for (int &s : g_res.sameName)
        s = -1;
    for (int row = ROW_FIRST_CMD; ComList[row].name != nullptr && ComList[row].name[0]; ++row) {
        const char *name = ComList[row].name;
        unsigned h = HashName(name, strlen(name));
        while (g_res.slot[h] >= 0 && strcmp(ComList[g_res.slot[h]].name, name) != 0)
            h = (h + 1) & (NAME_HASH_SLOTS - 1);
        if (g_res.slot[h] < 0) {
            g_res.slot[h] = row;
        } else {
            int last = g_res.slot[h];
            while (g_res.sameName[last] >= 0)
                last = g_res.sameName[last];
            g_res.sameName[last] = row;
        }
    }
    g_res.hashReady = true;
}

// First row named `name` (length len), or -1.
int FindRowByName(const char *name, size_t len) {
    unsigned h = HashName(name, len);
    while (g_res.slot[h] >= 0) {
        const char *rn = ComList[g_res.slot[h]].name;
        if (strncmp(rn, name, len) == 0 && rn[len] == '\0') return g_res.slot[h];
        h = (h + 1) & (NAME_HASH_SLOTS - 1);
    }
    return -1;
}

bool ValidCmdRow(int row) {
    return row >= ROW_FIRST_CMD && row <= COMLIST_LAST_CMD;
}

int CountUnresolved() {
    int n = 0;
    for (int row = ROW_FIRST_CMD; ComList[row].name != nullptr && ComList[row].name[0]; ++row)
        if (ComList[row].path == nullptr) ++n;
    return n;
}

// Holds the directory text that rows found in one directory share; the copy
// is made at the first hit only.
struct DirText {
    const char *dir;
    const char *copy = nullptr;
    const char *Get() {
        if (copy == nullptr) copy = SaveStr_(dir);
        return copy;
    }
};

// Resolves every unresolved row named `name` to `dir`.
void ResolveName(const char *name, size_t len, DirText &dir) {
    for (int row = FindRowByName(name, len); row >= 0; row = g_res.sameName[row])
        if (ComList[row].path == nullptr) ComList[row].path = dir.Get();
}

// Reads the open directory whole and matches its names against the rows.
// Returns false when it cannot be read.
bool MatchListing(int fd, DirText &dir) {
    int dupFd = dup(fd);
    if (dupFd < 0) return false;
    DIR *d = fdopendir(dupFd);
    if (d == nullptr) {
        close(dupFd);
        return false;
    }
    while (struct dirent *e = readdir(d))
        ResolveName(e->d_name, strlen(e->d_name), dir);
    closedir(d);
    return true;
}

// Asks the open directory for each unresolved row name. Returns false when a
// lookup fails for another reason than absence (the directory must then be
// read instead, as a search-only or read-only directory answers differently).
bool MatchProbes(int fd, DirText &dir) {
    for (int row = ROW_FIRST_CMD; ComList[row].name != nullptr && ComList[row].name[0]; ++row) {
        if (ComList[row].path != nullptr) continue;
        struct stat st;
        if (fstatat(fd, ComList[row].name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            ResolveName(ComList[row].name, strlen(ComList[row].name), dir);
        } else if (errno != ENOENT) {
            return false;
        }
    }
    return true;
}

bool AlreadySeen(const struct stat &st) {
    for (int i = 0; i < g_res.seenCount; ++i)
        if (g_res.seen[i].dev == st.st_dev && g_res.seen[i].ino == st.st_ino) return true;
    if (g_res.seenCount < static_cast<int>(sizeof g_res.seen / sizeof g_res.seen[0]))
        g_res.seen[g_res.seenCount++] = {st.st_dev, st.st_ino};
    return false;
}

// Builds FullSearchPath from SearchPaths (still whole) and the given PATH.
void BuildFullSearchPath(const char *pathEnv) {
    if (FullSearchPath != nullptr) return;
    FullSearchPath = SaveStr("%s:%s", SearchPaths, pathEnv ? pathEnv : "");
}

// Walks a colon-separated text, cut in place, until every row is resolved.
void FillFromDirs(char *dirs) {
    TokenizerKeeper keep;
    for (char *dir = GetTokenParse(dirs, ":"); dir != nullptr; dir = GetTokenParse(nullptr, ":"))
        if (FillCmdPaths(dir) == 0) return;
}

// Appends the formatted caller's text at out+len. Returns the new length, or
// -1 when it does not fit.
[[gnu::format(printf, 4, 0)]] int AppendV(char *out, size_t size, int len, const char *format,
                                          va_list ap) {
    if (len < 0) return -1;
    if (format == nullptr) return len;
    int n = VFormatBounded(out + len, size - static_cast<size_t>(len), format, ap);
    return n < 0 ? -1 : len + n;
}

int AppendS(char *out, size_t size, int len, const char *text) {
    if (len < 0) return -1;
    size_t t = strlen(text);
    if (t >= size - static_cast<size_t>(len)) return -1;
    memcpy(out + len, text, t + 1);
    return len + static_cast<int>(t);
}

// Builds the <sh> -c "<cmd> <flags> " prefix of a table row into out: plain
// copies of the texts, as every command pays for it. Returns the length, or
// -1 when it does not fit.
int PutRowPrefix(char *out, size_t size, int row, bool wrapInShell) {
    const ComListEntry &c = ComList[row];
    int len = 0;
    out[0] = '\0';
    if (wrapInShell) {
        const ComListEntry &sh = ComList[CMD_SH];
        for (const char *piece : {sh.path, "/", sh.name, " -c \""})
            len = AppendS(out, size, len, piece);
    }
    for (const char *piece : {c.path, "/", c.name, " ", c.flags, " "})
        len = AppendS(out, size, len, piece);
    return len;
}

// What the child of RunShell needs until it execs the shell, and the stack
// it runs on. There is one child at a time: RunShell returns only once its
// child has ended, so the next one may use the same stack.
struct SpawnArea {
    // The child's stack (it only makes a few system calls on it).
    alignas(64) char stack[16 * 1024];
    // sh -c LINE, for execve.
    const char *argv[4];
    // Whether the child puts SIGINT and SIGQUIT back to their default action:
    // not when the caller had them ignored, which a command inherits.
    bool defaultInt, defaultQuit;
};

// State of command execution.
struct ExecState {
    // The child of RunShell: its arguments and its stack.
    SpawnArea spawn;
    // The program name the log redirections below were made for.
    std::string logName;
    // " 1>>LOG 2>>LOG" for that name: [0] on a plain line, [1] inside sh -c "...".
    std::string logRedirection[2];
};
ExecState g_exec;

// Appends the redirection of modes 1 and 2: to the log when it is in use,
// else to /dev/null. The log's name comes from the program's name, which may
// hold blanks or shell characters, so the path goes in as one word. Returns
// the new length, or -1 when it does not fit.
int AppendLogRedirection(char *out, size_t size, int len, bool wrapped) {
    if (!flUseLog || my_name == nullptr)
        return AppendS(out, size, len, " 1>>/dev/null 2>>/dev/null");
    // Made once per program name: every command of a run names the same log.
    if (g_exec.logName != my_name) {
        g_exec.logName = my_name;
        for (int w = 0; w < 2; ++w) {
            std::string word = SysShellWord(("/tmp/" + g_exec.logName + ".log").c_str(), w != 0);
            g_exec.logRedirection[w] = " 1>>" + word + " 2>>" + word;
        }
    }
    return AppendS(out, size, len, g_exec.logRedirection[wrapped ? 1 : 0].c_str());
}

// The outcome of a system() call: 0, or a failure code and its reason.
struct Outcome {
    int status = 0;
    char reason[128] = "";
};

// Puts signal sig back to its default action in the child: through the raw
// system call, which touches nothing of the memory the child shares with
// the parent (the C library's sigaction may, and so may a sanitizer's).
__attribute__((no_sanitize("address", "undefined"))) void DefaultInChild(int sig) {
    struct {
        void *handler;
        unsigned long flags;
        void *restorer;
        unsigned long mask;
    } act = {nullptr, 0, nullptr, 0}; // SIG_DFL, nothing blocked
    syscall(SYS_rt_sigaction, sig, &act, nullptr, sizeof act.mask);
}

// The child of RunShell: gives the two signals their default action back
// and becomes the shell. Uninstrumented, as it shares the parent's memory
// and runs beside it.
__attribute__((no_sanitize("address", "undefined"))) int ShellChild(void *) {
    if (g_exec.spawn.defaultInt) DefaultInChild(SIGINT);
    if (g_exec.spawn.defaultQuit) DefaultInChild(SIGQUIT);
    execve("/bin/sh", const_cast<char *const *>(g_exec.spawn.argv), environ);
    _exit(127);
}

// Runs line as system() does, with /bin/sh -c, and returns the wait status,
// or -1 with errno set when no child could be made. SIGINT and SIGQUIT are
// ignored here while the command runs (an interrupt typed at the terminal
// reaches the command, not the installer).
//
// The child shares our memory until it execs the shell (CLONE_VM): no
// address space is copied and no stack is mapped for it. Unlike vfork, we
// do not sleep until it has exec'd, which cost every command a second sleep
// and wake-up on our side, about a quarter of our own time per command. We
// go straight on to waitpid, which touches nothing the child reads (the
// line, g_exec.spawn, environ). A failed exec leaves its errno in our
// thread's errno before the child exits; nothing reads it, since the wait
// status tells the outcome.
int RunShell(const char *line) {
    struct sigaction ignore {
    }, oldInt{}, oldQuit{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGINT, &ignore, &oldInt);
    sigaction(SIGQUIT, &ignore, &oldQuit);
    g_exec.spawn.argv[0] = "sh";
    g_exec.spawn.argv[1] = "-c";
    g_exec.spawn.argv[2] = line;
    g_exec.spawn.argv[3] = nullptr;
    g_exec.spawn.defaultInt = oldInt.sa_handler != SIG_IGN;
    g_exec.spawn.defaultQuit = oldQuit.sa_handler != SIG_IGN;
    pid_t pid = clone(ShellChild, g_exec.spawn.stack + sizeof g_exec.spawn.stack,
                      CLONE_VM | SIGCHLD, nullptr);
    int status = -1;
    // Ends only once the child has ended: a child still running would use
    // g_exec.spawn while the next call fills it.
    while (pid > 0 && waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            status = -1;
            break;
        }
    }
    int err = errno;
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGQUIT, &oldQuit, nullptr);
    errno = err;
    return status;
}

Outcome RunLine(const char *line) {
    Outcome o;
    fflush(stdout);
    errno = 0;
    int st = RunShell(line);
    if (st == -1) {
        o.status = errno != 0 ? errno : ECHILD;
        snprintf(o.reason, sizeof o.reason, "%s", strerror(o.status));
    } else if (WIFEXITED(st)) {
        o.status = WEXITSTATUS(st);
        if (o.status != 0) snprintf(o.reason, sizeof o.reason, "exit status %d", o.status);
    } else if (WIFSIGNALED(st)) {
        o.status = 128 + WTERMSIG(st);
        snprintf(o.reason, sizeof o.reason, "killed by signal %d (%s)", WTERMSIG(st),
                 strsignal(WTERMSIG(st)));
    } else {
        o.status = st;
        snprintf(o.reason, sizeof o.reason, "wait status %d", st);
    }
    return o;
}

// Reports a failed SysCmd in its run mode; mode 2 ends the program.
// A warning follows the logged command line, so it gives the reason alone; a
// fatal failure ends the run, and its message names the command that failed.
void ReportFailure(int mode, const char *command, const char *reason) {
    if (mode == 1) {
        PutLogMsg("%s: %s\n", "WARNING_MSG", reason);
    } else if (mode == 2) {
        PutLogMsg("%s: %s: %s\n", "ERROR", command, reason);
        printf("%s: %s: %s\n", "ERROR", command, reason);
        exit_app(1);
    }
}

[[noreturn]] void ExitUnlocated(const char *name) {
    fflush(stdout);
    fprintf(stderr, "ERROR: unable to locate system command '%s'\n", name ? name : "");
    exit_app(1);
    abort(); // exit_app does not return
}

// A row number outside the table names no command either.
void ExitIfNoRow(int row) {
    if (row >= 0 && row <= COMLIST_LAST_CMD) return;
    char name[32];
    snprintf(name, sizeof name, "row %d", row);
    ExitUnlocated(name);
}

// Lazy resolution of a row on first use, while the lazy phase lasts.
void ResolveLazily(int row) {
    if (flInitSysCmd && ValidCmdRow(row) && ComList[row].path == nullptr) FillCmdPath(row);
}

// Waits for a process named after the row to show up (delay -1), or pauses.
void HonourDelay(int row) {
    int delay = ComList[row].delay;
    if (delay > 0) {
        sleep(static_cast<unsigned>(delay));
    } else if (delay == -1) {
        for (int i = 0; i < PROCESS_WAIT_TRIES; ++i) {
            if (char *ids = GetSysPsIdList(ComList[row].name)) {
                PutMem(ids);
                return;
            }
            sleep(1);
        }
        PutLogMsg("ERROR: Time out for command %s\n", ComList[row].name);
    }
}

// Shared start of the two response functions: the command line, or an empty
// string when the row cannot run (after ending the program for an unresolved
// row) or the line does not fit.
[[gnu::format(printf, 2, 0)]] std::string ResponseLine(int row, const char *format, va_list ap) {
    char line[SYSCMD_LINE_MAX + 1];
    int len = 0;
    line[0] = '\0';
    ExitIfNoRow(row);
    ResolveLazily(row);
    if (row >= ROW_FIRST_CMD) {
        if (ComList[row].path == nullptr) ExitUnlocated(ComList[row].name);
        len = PutRowPrefix(line, sizeof line, row, false);
    }
    len = AppendV(line, sizeof line, len, format, ap);
    if (len < 0) {
        fprintf(stderr, "ERROR: command line too long (more than %d characters)\n",
                SYSCMD_LINE_MAX);
        return std::string();
    }
    return std::string(line, static_cast<size_t>(len));
}

// Reads the command's output whole lines at a time and hands each line that
// contains the filter to `keep`.
template <typename Keep> void ReadResponse(const std::string &line, const char *filter, Keep keep) {
    if (line.empty()) return;
    fflush(stdout);
    FILE *p = popen(line.c_str(), "r");
    if (p == nullptr) return;
    char *buf = nullptr;
    size_t cap = 0;
    ssize_t n;
    while ((n = getline(&buf, &cap, p)) > 0) {
        if (filter != nullptr && filter[0] != '\0' && strstr(buf, filter) == nullptr) continue;
        keep(buf, static_cast<size_t>(n));
    }
    free(buf);
    pclose(p);
}

} // namespace

int SysIsPlainWord(const char *text) {
    if (text == nullptr || *text == '\0') return 0;
    for (const char *p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && strchr("/._-+,:@%=", c) == nullptr) return 0;
    }
    return 1;
}

std::string SysShellWord(const char *text, bool wrapped) {
    if (text == nullptr) return "''";
    if (SysIsPlainWord(text)) return text;
    std::string word = "'";
    for (const char *c = text; *c; ++c) {
        if (*c == '\'')
            word += "'\\''";
        else if (wrapped && strchr("$`\"\\", *c) != nullptr)
            word += std::string("\\") + *c;
        else
            word += *c;
    }
    return word + "'";
}

std::string SysPathWord(const char *path, bool wrapped) {
    if (path != nullptr && path[0] == '-')
        return SysShellWord((std::string("./") + path).c_str(), wrapped);
    return SysShellWord(path, wrapped);
}

// ---------------------------------------------------------------------------
// Resolution
// ---------------------------------------------------------------------------

void InitSysCmdList(void) {
    flInitSysCmd = 0;

    char *pathEnv = GetEnv("PATH");
    BuildFullSearchPath(pathEnv);

    g_res.walking = true;
    g_res.seenCount = 0;
    FillFromDirs(SearchPaths);
    if (pathEnv != nullptr && CountUnresolved() > 0) FillFromDirs(pathEnv);
    g_res.walking = false;

    // Rows found in PATH keep copies of their directories: the cut copy of
    // PATH itself is no longer needed.
    PutMem(pathEnv);

    // The text handed to the environment must outlive the process's use of it.
    const ComListEntry &sh = ComList[CMD_SH];
    putenv(SaveStr("SHELL=%s/%s ", sh.path ? sh.path : "", sh.name));

    if (flUseLog) {
        flSysCmdLog = 1;
        PutLogMsg("initializing system\n");
    }
}

int FillCmdPaths(const char *dir) {
    if (dir == nullptr) return 1;
    BuildNameHash();
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 1;

    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return 1;
    }
    if (g_res.walking && AlreadySeen(st)) {
        close(fd);
        return CountUnresolved() > 0 ? 1 : 0;
    }

    DirText text{dir};
    int unresolved = CountUnresolved();
    bool ok = true;
    if (unresolved > 0) {
        bool probe =
            st.st_size > PROBE_MIN_DIR_SIZE && st.st_size > PROBE_BYTES_PER_NAME * unresolved;
        if (!probe || !MatchProbes(fd, text)) ok = MatchListing(fd, text);
    }
    close(fd);
    if (!ok) return 1;
    return CountUnresolved() > 0 ? 1 : 0;
}

int FillCmdPath(int row) {
    if (!ValidCmdRow(row)) return 0;
    if (FullSearchPath == nullptr) {
        char *pathEnv = GetEnv("PATH");
        BuildFullSearchPath(pathEnv);
        PutMem(pathEnv);
    }
    TokenizerKeeper keep;
    char dir[TOKEN_BUF_SIZE];
    char *cursor = nullptr;
    for (const char *in = FullSearchPath; GetTokenD(in, ":", &cursor, dir) != nullptr;
         in = nullptr) {
        if (FindFile(dir, ComList[row].name)) {
            ComList[row].path = SaveStr_(dir);
            return 1;
        }
    }
    return 0;
}

char *FindSysCommand(const char *name) {
    if (name == nullptr || *name == '\0') return nullptr;
    // InitSysCmdList cuts SearchPaths in place: a colon and a NUL both end a
    // directory, and the array's size ends the list.
    for (size_t i = 0; i < sizeof SearchPaths;) {
        size_t len = 0;
        while (i + len < sizeof SearchPaths && SearchPaths[i + len] != ':' &&
               SearchPaths[i + len] != '\0')
            ++len;
        std::string dir(SearchPaths + i, len);
        if (!dir.empty() && FindFile(dir.c_str(), name)) return SaveStr("%s/%s", dir.c_str(), name);
        i += len + 1;
    }
    return nullptr;
}

int TestCmd(int row) {
    ResolveLazily(row);
    return ValidCmdRow(row) && ComList[row].path != nullptr;
}

char *GetCmd(int row) {
    ResolveLazily(row);
    if (row < 0 || row > COMLIST_LAST_CMD || ComList[row].path == nullptr) return nullptr;
    return SaveStr("%s/%s %s", ComList[row].path, ComList[row].name, ComList[row].flags);
}

char *GetCmdNoFlags(int row) {
    ResolveLazily(row);
    if (row < 0 || row > COMLIST_LAST_CMD || ComList[row].path == nullptr) return nullptr;
    return SaveStr("%s/%s", ComList[row].path, ComList[row].name);
}

// ---------------------------------------------------------------------------
// Execution
// ---------------------------------------------------------------------------

int SysCmd(int row, int mode, const char *format, ...) {
    bool quiet = row <= 0;
    if (row == INT_MIN) ExitIfNoRow(row); // it has no positive counterpart
    if (row < 0) row = -row;
    if (mode != 1 && mode != 2) mode = 0;
    ExitIfNoRow(row);

    ResolveLazily(row);
    if (row >= ROW_FIRST_CMD) {
        ResolveLazily(CMD_SH);
        if (ComList[row].path == nullptr) ExitUnlocated(ComList[row].name);
        // Without a shell the line cannot be run at all.
        if (ComList[CMD_SH].path == nullptr) ExitUnlocated(ComList[CMD_SH].name);
    }

    char line[SYSCMD_LINE_MAX + 1];
    line[0] = '\0';
    int len = row >= ROW_FIRST_CMD ? PutRowPrefix(line, sizeof line, row, true) : 0;
    // Where the command itself starts, behind the shell and its "-c \"".
    int cmdStart = 0;
    if (row >= ROW_FIRST_CMD && len >= 0) {
        const ComListEntry &c = ComList[row];
        // "<path>/<name> <flags> " ends the prefix.
        size_t cmdLen = strlen(c.path) + strlen(c.name) + strlen(c.flags) + 3;
        cmdStart = static_cast<size_t>(len) > cmdLen ? len - static_cast<int>(cmdLen) : 0;
    }
    va_list ap;
    va_start(ap, format);
    len = AppendV(line, sizeof line, len, format, ap);
    va_end(ap);
    int logLen = len; // the log shows the line without redirection and closing quote

    if (mode == 0) {
        len = AppendS(line, sizeof line, len, " 1>/dev/null 2>/dev/null");
    } else if (!quiet) {
        len = AppendLogRedirection(line, sizeof line, len, row >= ROW_FIRST_CMD);
    }
    if (row >= ROW_FIRST_CMD) len = AppendS(line, sizeof line, len, "\"");

    // A cut command line could name another file than the caller meant (think
    // of `rm -rf` on a shortened path): such a line is never run.
    if (len < 0) {
        char reason[96];
        snprintf(reason, sizeof reason, "command line too long (more than %d characters)",
                 SYSCMD_LINE_MAX);
        ReportFailure(mode, ComList[row].name, reason);
        return E2BIG;
    }

    if (!quiet && flSysCmdLog && mode != 0) {
        fputs(".", stdout);
        fflush(stdout);
        PutLogMsg("%.*s\n", logLen, line);
    }

    Outcome o = RunLine(line);
    if (o.status != 0) {
        std::string command(line + cmdStart, static_cast<size_t>(logLen - cmdStart));
        ReportFailure(mode, command.c_str(), o.reason);
    }
    HonourDelay(row);
    return o.status;
}

int SysCmdP(int mode, const char *format, ...) {
    char line[SYSCMDP_LINE_MAX + 1];
    va_list ap;
    va_start(ap, format);
    int len = AppendV(line, sizeof line, 0, format, ap);
    va_end(ap);

    const char *prefix = mode == 2 ? "ERROR" : "WARNING_MSG";
    if (len < 0) {
        if (mode == 1 || mode == 2) {
            fflush(stdout);
            fprintf(stderr, "%s: command line too long (more than %d characters)\n", prefix,
                    SYSCMDP_LINE_MAX);
            if (mode == 2) exit_app(1);
        }
    } else {
        if (mode == 1 || mode == 2) printf("%s\n", line);
        Outcome o = RunLine(line);
        if (o.status != 0 && (mode == 1 || mode == 2)) {
            fflush(stdout);
            if (mode == 2) {
                fprintf(stderr, "%s: %s: %s\n", prefix, line, o.reason);
                exit_app(1);
            }
            fprintf(stderr, "%s: %s\n", prefix, o.reason);
        }
    }
    fflush(stdout);
    return system("/usr/bin/sleep 1");
}

CmdResponse *GetCmdResponse(int row, const char *filter, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string line = ResponseLine(row, format, ap);
    va_end(ap);

    CmdResponse *head = nullptr;
    CmdResponse **tail = &head;
    // Records hold at most this many characters; a longer line is kept as
    // several records in a row.
    constexpr size_t PIECE = SYSCMD_LINE_MAX;
    ReadResponse(line, filter, [&](const char *text, size_t n) {
        for (size_t off = 0; off < n; off += PIECE) {
            size_t len = n - off < PIECE ? n - off : PIECE;
            auto *r = static_cast<CmdResponse *>(
                GetMem(static_cast<long>(sizeof(CmdResponse) + len + 1)));
            if (r == nullptr) continue; // a line that cannot be stored is skipped
            r->next = nullptr;
            r->line = reinterpret_cast<char *>(r + 1);
            memcpy(r->line, text + off, len);
            r->line[len] = '\0';
            *tail = r;
            tail = &r->next;
        }
    });
    return head;
}

char *GetCmdResponseStr(int row, const char *filter, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string line = ResponseLine(row, format, ap);
    va_end(ap);

    char *text = nullptr;
    size_t used = 0;
    ReadResponse(line, filter, [&](const char *piece, size_t n) {
        bool hasNl = piece[n - 1] == '\n';
        size_t need = used + n + (hasNl ? 0 : 1);
        char *grown = static_cast<char *>(AdjustMem(text, static_cast<long>(need + 1)));
        if (grown == nullptr) return; // a line that cannot be stored is skipped
        text = grown;
        memcpy(text + used, piece, n);
        used += n;
        if (!hasNl) text[used++] = '\n';
        text[used] = '\0';
    });
    return text;
}

void FreeResponseList(CmdResponse *list) {
    while (list != nullptr) {
        CmdResponse *next = list->next;
        PutMem(list);
        list = next;
    }
}
