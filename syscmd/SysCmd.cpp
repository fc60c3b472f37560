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
// Execution. SysCmd wraps the row's command in an explicit `<sh> -c "..."`
// and appends the run mode's redirection; that line is what the log shows and
// what the shell runs. Most lines, though, are plain: a program's path and
// words that SysShellWord left bare or single-quoted. Two shells would only
// cut such a line into words and start the program; the runner does that
// itself (a strict reader that says no to anything else), opens the
// redirections as the shell would, and starts the program directly - one
// process per command instead of three, which is most of an installation's
// time. Whatever the reader does not accept goes to the shell, and so does a
// program that cannot be started, so that its failure is reported by the
// shell as before. The command succeeds only when it exits with status 0;
// anything else is a failure that the run mode reports (log, stdout) or makes
// fatal.

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
#include <vector>

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
unsigned char flSysCmdShell = 0;
void (*pSysCmdEnded)(int sig) = nullptr;
volatile sig_atomic_t flSysCmdRunning = 0;

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

// Whether the entry st (the directory itself when `self`, else one above it)
// leaves the commands found below it to root and the running user alone:
// owned by one of them and writable by nobody else. Above the directory a
// sticky directory of root's (/tmp) will do, as nobody may rename what he
// does not own there; the directory itself must not take new names from
// others at all.
bool ControlledEntry(const struct stat &st, bool self) {
    if (st.st_uid != 0 && st.st_uid != geteuid()) return false;
    if (S_ISLNK(st.st_mode)) return true; // its directory decides; the target is walked too
    bool othersWrite =
        (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && st.st_gid != 0);
    if (!othersWrite) return true;
    return !self && (st.st_mode & S_ISVTX) != 0 && st.st_uid == 0;
}

// Whether every directory of the absolute path, from "/" down, is a
// controlled entry (a relative path never is: it names a different place
// for every working directory).
bool ControlledPath(const char *path) {
    if (path == nullptr || path[0] != '/') return false;
    std::string walked;
    const std::string text(path);
    for (size_t pos = 0;;) {
        pos = text.find_first_not_of('/', pos);
        size_t end = pos == std::string::npos ? pos : text.find('/', pos);
        struct stat st;
        if (lstat(walked.empty() ? "/" : walked.c_str(), &st) != 0 ||
            !ControlledEntry(st, pos == std::string::npos))
            return false;
        if (pos == std::string::npos) return true;
        if (end == std::string::npos) end = text.size();
        walked += "/" + text.substr(pos, end - pos);
        pos = end;
    }
}

// A directory may supply commands to this program when it and every
// directory above it are controlled entries, as written and where links on
// the way really lead: a directory another user controls never does.
bool TrustedCommandDir(const char *dir) {
    if (!ControlledPath(dir)) return false;
    char real[PATH_MAX];
    return realpath(dir, real) != nullptr && ControlledPath(real);
}

// Walks a colon-separated text, cut in place, until every row is resolved.
// Only directories root controls are read (TrustedCommandDir).
void FillFromDirs(char *dirs) {
    TokenizerKeeper keep;
    for (char *dir = GetTokenParse(dirs, ":"); dir != nullptr; dir = GetTokenParse(nullptr, ":"))
        if (TrustedCommandDir(dir) && FillCmdPaths(dir) == 0) return;
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

// The layer's own redirection of a command's two output streams, as the
// shell makes it from " 1>/dev/null 2>/dev/null" or " 1>>LOG 2>>LOG".
enum class Redirect : unsigned char {
    None,     // quiet call in mode 1 or 2: the caller's streams
    Truncate, // mode 0: /dev/null, opened as ">" opens it
    Append,   // modes 1 and 2: the log (or /dev/null), opened as ">>" opens it
};

// The longest argument list a line of SYSCMD_LINE_MAX characters can hold:
// one-character words and a blank between each two, and the closing null.
constexpr int DIRECT_ARGS_MAX = SYSCMD_LINE_MAX / 2 + 2;

// What the child of RunCommand needs until it execs, and the stack it runs
// on. There is one child at a time: RunCommand returns only once its child
// has ended, so the next one may use the same area.
struct SpawnArea {
    // The child's stack (it only makes a few system calls on it).
    alignas(64) char stack[16 * 1024];
    // sh -c LINE, for execve.
    const char *argv[4];
    // Whether the child puts SIGINT and SIGQUIT back to their default action:
    // not when the caller had them ignored, which a command inherits.
    bool defaultInt, defaultQuit;
    // The caller's signal mask (before SIGCHLD was blocked), for the shell.
    sigset_t callerMask;

    // Set when the line is started directly instead of through the shell.
    bool direct;
    // The shell gives a command SIGCHLD at its default action even when its
    // own caller ignored it.
    bool defaultChld;
    Redirect redirect;
    // Where the redirection goes (Append, Truncate).
    const char *target;
    // The program's words: argument list (argv[0] names the program) and
    // the decoded texts it points into.
    const char *args[DIRECT_ARGS_MAX];
    char words[SYSCMD_LINE_MAX + 1];
    // The environment the shell would give the program.
    char *const *envp;
};

// State of command execution.
struct ExecState {
    // The child of RunCommand: its arguments and its stack.
    SpawnArea spawn;
    // The program name the log redirections below were made for.
    std::string logName;
    // " 1>>LOG 2>>LOG" for that name: [0] on a plain line, [1] inside sh -c "...".
    std::string logRedirection[2];
    // The log's path itself, for a program started directly.
    std::string logPath;

    // The environment as last examined: its entries, whether the shell would
    // pass it on unchanged but for PWD, and where PWD stands in it (-1: not).
    std::vector<char *> envSeen;
    bool envPlain = false;
    int envPwd = -1;
    // The environment handed to a program whose PWD had to be set, and the
    // "PWD=..." entry it holds.
    std::vector<char *> envMade;
    std::string pwdEntry;

    // The shell of row 31 as last checked, and whether it is a program whose
    // path is a plain word (only then does the shell path run it as such).
    const char *shellChecked = nullptr;
    bool shellPlain = false;
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
        g_exec.logPath = "/tmp/" + g_exec.logName + ".log";
        for (int w = 0; w < 2; ++w) {
            std::string word = SysShellWord(g_exec.logPath.c_str(), w != 0);
            g_exec.logRedirection[w] = " 1>>" + word + " 2>>" + word;
        }
    }
    return AppendS(out, size, len, g_exec.logRedirection[wrapped ? 1 : 0].c_str());
}

// ---------------------------------------------------------------------------
// Plain lines, started without a shell
// ---------------------------------------------------------------------------

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// A character SysShellWord leaves as it stands (SysIsPlainWord's set).
bool IsBareChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && strchr("/._-+,:@%=", c) != nullptr);
}

bool IsNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// Length of the variable name that starts entry ("NAME=value"), or 0 when
// the entry is not of that form.
size_t EnvNameLength(const char *entry) {
    if (!IsNameStart(entry[0])) return 0;
    size_t n = 1;
    while (IsNameStart(entry[n]) || (entry[n] >= '0' && entry[n] <= '9'))
        ++n;
    return entry[n] == '=' ? n : 0;
}

// Looks at the environment when it changed since the last look: the shell
// passes every entry on unchanged, except PWD, when each is NAME=value with a
// name of its own, and none is one the shell sets for itself (IFS, OPTIND,
// PPID, LINENO). Other environments go to the shell.
void ExamineEnvironment() {
    size_t n = 0;
    while (environ != nullptr && environ[n] != nullptr)
        ++n;
    if (n == g_exec.envSeen.size() &&
        (n == 0 || memcmp(g_exec.envSeen.data(), environ, n * sizeof(char *)) == 0))
        return;
    g_exec.envSeen.assign(environ, environ + n);
    g_exec.envPlain = true;
    g_exec.envPwd = -1;
    for (size_t i = 0; i < n && g_exec.envPlain; ++i) {
        const char *e = environ[i];
        size_t len = EnvNameLength(e);
        if (len == 0) {
            g_exec.envPlain = false;
            break;
        }
        for (const char *own : {"IFS", "OPTIND", "PPID", "LINENO"})
            if (strlen(own) == len && strncmp(e, own, len) == 0) g_exec.envPlain = false;
        for (size_t j = 0; j < i; ++j)
            if (strncmp(environ[j], e, len + 1) == 0) g_exec.envPlain = false; // twice
        if (len == 3 && strncmp(e, "PWD", 3) == 0) g_exec.envPwd = static_cast<int>(i);
    }
}

// The environment the shell would give a program it starts: the caller's,
// with PWD kept when it is an absolute name of the working directory and
// otherwise set to the directory's real path. Null when only the shell
// should start the program.
char *const *EnvironmentForProgram() {
    ExamineEnvironment();
    if (!g_exec.envPlain) return nullptr;
    struct stat named, here;
    if (stat(".", &here) != 0) return nullptr;
    if (g_exec.envPwd >= 0) {
        const char *pwd = environ[g_exec.envPwd] + 4;
        if (pwd[0] == '/' && stat(pwd, &named) == 0 && named.st_dev == here.st_dev &&
            named.st_ino == here.st_ino)
            return environ;
    }
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return nullptr;
    g_exec.pwdEntry = std::string("PWD=") + cwd;
    g_exec.envMade.assign(g_exec.envSeen.begin(), g_exec.envSeen.end());
    char *entry = g_exec.pwdEntry.data();
    if (g_exec.envPwd >= 0)
        g_exec.envMade[static_cast<size_t>(g_exec.envPwd)] = entry;
    else
        g_exec.envMade.push_back(entry);
    g_exec.envMade.push_back(nullptr);
    return g_exec.envMade.data();
}

// True when the shell that runs a table row's line is a program named by a
// plain path, so that the line means to the outer shell what it seems to.
bool ShellIsPlain() {
    const char *dir = ComList[CMD_SH].path;
    if (dir != g_exec.shellChecked) {
        g_exec.shellChecked = dir;
        std::string sh = std::string(dir != nullptr ? dir : "") + "/" + ComList[CMD_SH].name;
        g_exec.shellPlain = SysIsPlainWord(sh.c_str()) && access(sh.c_str(), X_OK) == 0;
    }
    return g_exec.shellPlain;
}

// Prepares g_exec.spawn to start the command text[0, len) directly, with the
// given redirection. False when the line needs the shell.
bool PlanDirect(const char *text, size_t len, bool wrapped, Redirect redirect, const char *target) {
    SpawnArea &s = g_exec.spawn;
    if (flSysCmdShell) return false;
    if (wrapped && !ShellIsPlain()) return false;
    if (!SysReadPlainWords(text, len, wrapped, s.args, s.words)) return false;
    s.envp = EnvironmentForProgram();
    if (s.envp == nullptr) return false;
    s.redirect = redirect;
    s.target = target;
    return true;
}

// ---------------------------------------------------------------------------
// The child
// ---------------------------------------------------------------------------
//
// The child shares our memory until it execs (CLONE_VM), so it runs
// uninstrumented and makes raw system calls only: the C library's wrappers
// may touch memory we use too (and so may a sanitizer's).

#define SYSCMD_CHILD __attribute__((no_sanitize("address", "undefined")))

// Sets the action of sig to SIG_DFL or SIG_IGN.
SYSCMD_CHILD void SetActionInChild(int sig, bool ignore) {
    struct {
        void *handler;
        unsigned long flags;
        void *restorer;
        unsigned long mask;
    } act = {ignore ? reinterpret_cast<void *>(1) : nullptr, 0, nullptr, 0};
    syscall(SYS_rt_sigaction, sig, &act, nullptr, sizeof act.mask);
}

SYSCMD_CHILD void SetMaskInChild(const sigset_t *mask) {
    syscall(SYS_rt_sigprocmask, SIG_SETMASK, mask, nullptr, sizeof(unsigned long));
}

// Opens target onto fd as the shell's redirection does. False on failure.
SYSCMD_CHILD bool OpenOnto(int fd, const char *target, int flags) {
    long got = syscall(SYS_openat, AT_FDCWD, target, flags, 0666);
    if (got < 0) return false;
    if (got != fd) {
        if (syscall(SYS_dup3, got, fd, 0) < 0) return false;
        syscall(SYS_close, got);
    }
    return true;
}

// Puts fd back as it was saved (closed when it was).
SYSCMD_CHILD void PutBack(int fd, long saved) {
    if (saved >= 0)
        syscall(SYS_dup3, saved, fd, 0);
    else
        syscall(SYS_close, fd);
}

// Starts the program with its words; returns only when that failed, with the
// descriptors and signals as the shell path expects them.
SYSCMD_CHILD void StartDirect(const SpawnArea &s) {
    long saved1 = -1, saved2 = -1;
    bool ok = true;
    if (s.redirect != Redirect::None) {
        // Copies that vanish at exec, to put the streams back should it fail.
        saved1 = syscall(SYS_fcntl, 1, F_DUPFD_CLOEXEC, 10);
        saved2 = syscall(SYS_fcntl, 2, F_DUPFD_CLOEXEC, 10);
        int flags = O_WRONLY | O_CREAT | (s.redirect == Redirect::Append ? O_APPEND : O_TRUNC);
        ok = OpenOnto(1, s.target, flags) && OpenOnto(2, s.target, flags);
    }
    if (ok) {
        static const sigset_t none{};
        if (s.defaultChld) SetActionInChild(SIGCHLD, false);
        SetMaskInChild(&none);
        syscall(SYS_execve, s.args[0], s.args, s.envp);
        if (s.defaultChld) SetActionInChild(SIGCHLD, true);
    }
    if (s.redirect != Redirect::None) {
        PutBack(1, saved1);
        PutBack(2, saved2);
        if (saved1 >= 0) syscall(SYS_close, saved1);
        if (saved2 >= 0) syscall(SYS_close, saved2);
    }
}

// The child of RunCommand: gives the two signals their default action back
// and starts the program, or becomes the shell - also when the program could
// not be started, so that the shell makes the same attempt and reports its
// failure (a missing program, a script without #!) as it always has.
SYSCMD_CHILD int CommandChild(void *) {
    const SpawnArea &s = g_exec.spawn;
    if (s.defaultInt) SetActionInChild(SIGINT, false);
    if (s.defaultQuit) SetActionInChild(SIGQUIT, false);
    if (s.direct) StartDirect(s);
    SetMaskInChild(&s.callerMask);
    syscall(SYS_execve, "/bin/sh", s.argv, environ);
    syscall(SYS_exit, 127);
    return 127;
}

// The wait status the shell would have ended with after its command, started
// directly, ended with `status`; it also writes what the shell would have
// written then. The shell waits for its command; when the command is ended by
// a signal, the shell exits with 128 + the signal's number, after writing the
// signal's description ("Terminated", "Killed (core dumped)") to its standard
// error as the command's redirection left it - but for an interrupt or a
// broken pipe. An interrupt or quit from the terminal reaches the whole
// process group, the shell as well, and ends the shell itself by that signal.
int AsTheShellReports(int status, const SpawnArea &s);

// Whether an action is a handler function (not the default, not ignoring).
bool HasHandler(const struct sigaction &act) {
    if (act.sa_flags & SA_SIGINFO) return true;
    return act.sa_handler != SIG_DFL && act.sa_handler != SIG_IGN;
}

int AsTheShellReports(int status, const SpawnArea &s) {
    if (!WIFSIGNALED(status)) return status;
    int sig = WTERMSIG(status);
    if (sig == SIGINT || sig == SIGQUIT) return status;
    if (sig != SIGPIPE && s.redirect != Redirect::Truncate) {
        const char *what = sigdescr_np(sig);
        std::string note = what != nullptr ? what : "Signal " + std::to_string(sig);
        if (WCOREDUMP(status)) note += " (core dumped)";
        note += "\n";
        int fd = 2;
        if (s.redirect == Redirect::Append)
            fd = open(s.target, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fflush(stderr);
            ssize_t ignored = write(fd, note.data(), note.size());
            (void)ignored; // as the shell, which does not look either
            if (fd != 2) close(fd);
        }
    }
    return ((128 + sig) & 0xff) << 8;
}

// Runs line as system() does, with /bin/sh -c - or, when `direct` is set,
// the program g_exec.spawn was prepared for (PlanDirect) - and returns the
// wait status, or -1 with errno set when no child could be made. SIGINT and
// SIGQUIT are ignored here while the command runs (an interrupt typed at the
// terminal reaches the command, not the installer), and SIGCHLD is blocked.
//
// The child shares our memory until it execs (CLONE_VM): no address space is
// copied and no stack is mapped for it. Unlike vfork, we do not sleep until
// it has exec'd, which cost every command a second sleep and wake-up on our
// side, about a quarter of our own time per command. We go straight on to
// waitpid, which touches nothing the child reads (the line, g_exec.spawn,
// environ). A failed exec leaves its errno in our thread's errno before the
// child exits; nothing reads it, since the wait status tells the outcome.
int RunCommand(const char *line, bool direct) {
    struct sigaction ignore {
    }, oldInt{}, oldQuit{}, oldChld{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGINT, nullptr, &oldInt);
    sigaction(SIGQUIT, nullptr, &oldQuit);
    // A handler of the caller's own stays: it learns of the interrupt.
    if (!HasHandler(oldInt)) sigaction(SIGINT, &ignore, nullptr);
    if (!HasHandler(oldQuit)) sigaction(SIGQUIT, &ignore, nullptr);
    sigset_t chld;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    sigprocmask(SIG_BLOCK, &chld, &g_exec.spawn.callerMask);
    g_exec.spawn.argv[0] = "sh";
    g_exec.spawn.argv[1] = "-c";
    g_exec.spawn.argv[2] = line;
    g_exec.spawn.argv[3] = nullptr;
    g_exec.spawn.defaultInt = oldInt.sa_handler != SIG_IGN;
    g_exec.spawn.defaultQuit = oldQuit.sa_handler != SIG_IGN;
    g_exec.spawn.direct = direct;
    if (direct) {
        sigaction(SIGCHLD, nullptr, &oldChld);
        g_exec.spawn.defaultChld = oldChld.sa_handler == SIG_IGN;
    }
    flSysCmdRunning = 1;
    pid_t pid = clone(CommandChild, g_exec.spawn.stack + sizeof g_exec.spawn.stack,
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
    flSysCmdRunning = 0;
    if (direct && status != -1) status = AsTheShellReports(status, g_exec.spawn);
    sigprocmask(SIG_SETMASK, &g_exec.spawn.callerMask, nullptr);
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGQUIT, &oldQuit, nullptr);
    errno = err;
    return status;
}

// The outcome of a command: 0, or a failure code and its reason.
struct Outcome {
    int status = 0;
    char reason[128] = "";
    int interrupt = 0; // SIGINT or SIGQUIT when one of them ended the command
};

// Tells the program of a finished command (pSysCmdEnded).
void TellCommandEnded(const Outcome &o) {
    if (pSysCmdEnded != nullptr) pSysCmdEnded(o.interrupt);
}

Outcome RunLine(const char *line, bool direct = false) {
    Outcome o;
    fflush(stdout);
    errno = 0;
    int st = RunCommand(line, direct);
    if (st == -1) {
        o.status = errno != 0 ? errno : ECHILD;
        snprintf(o.reason, sizeof o.reason, "%s", strerror(o.status));
    } else if (WIFEXITED(st)) {
        o.status = WEXITSTATUS(st);
        if (o.status != 0) snprintf(o.reason, sizeof o.reason, "exit status %d", o.status);
    } else if (WIFSIGNALED(st)) {
        o.status = 128 + WTERMSIG(st);
        // Both the shell and a program started directly end this way when
        // the terminal's interrupt or quit reached them.
        if (WTERMSIG(st) == SIGINT || WTERMSIG(st) == SIGQUIT) o.interrupt = WTERMSIG(st);
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

// A text holds nothing but what SysShellWord writes - blanks between words,
// bare characters, single-quoted segments and \' for a quote - or it is no
// plain line. `wrapped`: the text stands inside sh -c "...", so an outer
// shell reads it first; within single quotes it then holds \$ \` \" \\ for
// those characters, and a bare one of them would mean something to that
// shell. Any other character outside single quotes (operators, globs, $,
// newline, ...) is shell syntax, and the answer is no.
bool SysReadPlainWords(const char *text, size_t len, bool wrapped, const char **args, char *words) {
    // A command line is a C text: a NUL in it would end it early.
    if (memchr(text, '\0', len) != nullptr) return false;
    int argc = 0;
    size_t out = 0, i = 0;
    for (;;) {
        while (i < len && IsBlank(text[i]))
            ++i;
        if (i == len) break;
        args[argc++] = words + out;
        while (i < len && !IsBlank(text[i])) {
            char c = text[i++];
            if (IsBareChar(c)) {
                words[out++] = c;
            } else if (c == '\\' && i < len && text[i] == '\'') {
                words[out++] = text[i++];
            } else if (c == '\'') {
                for (;;) {
                    if (i == len) return false; // unclosed quote
                    c = text[i++];
                    if (c == '\'') break;
                    if (wrapped && c == '\\') {
                        if (i == len || strchr("$`\"\\", text[i]) == nullptr) return false;
                        c = text[i++];
                    } else if (wrapped && strchr("$`\"", c) != nullptr) {
                        return false;
                    }
                    words[out++] = c;
                }
            } else {
                return false;
            }
        }
        words[out++] = '\0';
    }
    args[argc] = nullptr;
    if (argc == 0) return false;
    // The first word names the program by a path, as a table row does: never
    // a shell keyword or built-in (those are looked up by bare names only) nor
    // a variable assignment (NAME=... has no slash before its '=').
    const char *first = args[0];
    const char *slash = strchr(first, '/');
    const char *eq = strchr(first, '=');
    return slash != nullptr && (eq == nullptr || slash < eq);
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

    const char *shellOnly = getenv("DORNA_SYSCMD_SHELL");
    if (shellOnly != nullptr && strcmp(shellOnly, "1") == 0) flSysCmdShell = 1;

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
        if (TrustedCommandDir(dir) && FindFile(dir, ComList[row].name)) {
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

    // The layer's own redirection, which a program started directly gets
    // from the runner instead of the shell.
    Redirect redirect = Redirect::None;
    const char *target = "/dev/null";
    if (mode == 0) {
        redirect = Redirect::Truncate;
    } else if (!quiet) {
        redirect = Redirect::Append;
        if (flUseLog && my_name != nullptr) target = g_exec.logPath.c_str();
    }
    bool direct = PlanDirect(line + cmdStart, static_cast<size_t>(logLen - cmdStart),
                             row >= ROW_FIRST_CMD, redirect, target);
    Outcome o = RunLine(line, direct);
    TellCommandEnded(o);
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
        TellCommandEnded(o);
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
