// SysCmd.h - the system command layer: the table of known system commands,
// their resolution on the search path, their execution, and host queries.
//
// Lifecycle. Every external program runs through one row of `ComList`, named
// in code by its constant below (`CMD_RM_RF` is row 30, `rm -rf`), never by a
// bare number. Rows 0 and 1 name no command: the caller gives the whole
// command line. Before
// `InitSysCmdList` runs, each row is resolved lazily on first use;
// `InitSysCmdList` resolves every row it can, sets `SHELL`, switches on the
// logging of commands when the log is in use, and ends the lazy phase for
// good. After that the table never changes. A row left unresolved ends the
// program when something tries to run it (status 1, message on stderr).
//
// Ownership. Texts returned here are memory-manager blocks owned by the
// caller (`PutMem`); response lists are released with `FreeResponseList`.
// Row paths live until the process ends. `GetSysPsIdList` overwrites the
// shared line buffer `Line`. Nothing here disturbs the shared tokenizer:
// every function of this layer leaves its cursor, `szTokenIn`, `GetTokenBuf`
// and `chTokenDel` as it found them, so a command may run inside a caller's
// `GetToken` loop.
//
// Shell texts. The caller's formatted text is placed on a shell command line
// as it stands: it may carry redirections and quoting of its own, but it must
// not contain a double quote (SysCmd wraps the command in one) and it must not
// hold text from untrusted sources.
#ifndef DORNA_SYSCMD_H
#define DORNA_SYSCMD_H

#include <dirent.h>
#include <signal.h>
#include <stdint.h>

#include <string>

// ---------------------------------------------------------------------------
// Command table and path resolution
// ---------------------------------------------------------------------------

// One row of the command table.
struct ComListEntry {
    const char *name;  // file name of the command; "" in rows 0 and 1, null ends the table
    const char *flags; // default flags placed after the name; "" when none
    const char *path;  // directory the command was found in; null while unresolved
    int32_t delay;     // after running: 0 nothing, N>0 pause N s, -1 wait for the process
};

// The rows of `ComList` by name. A quiet call passes the negated name
// (`-CMD_CAT`). Rows that share a command are named after their flags.
constexpr int CMD_LINE_QUIET = 0;    // whole line given by the caller, quiet
constexpr int CMD_LINE = 1;          // whole line given by the caller
constexpr int CMD_CANCEL = 2;        // cancel
constexpr int CMD_CAT = 3;           // cat
constexpr int CMD_CHGRP = 4;         // chgrp
constexpr int CMD_CHMOD = 5;         // chmod
constexpr int CMD_CHOWN = 6;         // chown
constexpr int CMD_CLEAR = 7;         // clear
constexpr int CMD_COMPRESS = 8;      // compress
constexpr int CMD_CP = 9;            // cp -p
constexpr int CMD_CP_R = 10;         // cp -pr
constexpr int CMD_CUPSD = 11;        // cupsd
constexpr int CMD_ID = 12;           // id
constexpr int CMD_ECHO = 13;         // echo
constexpr int CMD_EJECT_F = 14;      // eject -f
constexpr int CMD_EJECT_Q = 15;      // eject -q
constexpr int CMD_FILE = 16;         // file
constexpr int CMD_LN = 17;           // ln
constexpr int CMD_LP = 18;           // lp
constexpr int CMD_LPC = 19;          // lpc
constexpr int CMD_LPR = 20;          // lpr
constexpr int CMD_LPRM = 21;         // lprm
constexpr int CMD_LPSTAT = 22;       // lpstat
constexpr int CMD_LS = 23;           // ls
constexpr int CMD_KILL = 24;         // kill -KILL
constexpr int CMD_MV = 25;           // mv -f
constexpr int CMD_MKDIR = 26;        // mkdir -p
constexpr int CMD_MORE = 27;         // more
constexpr int CMD_PING = 28;         // ping
constexpr int CMD_RM = 29;           // rm -f
constexpr int CMD_RM_RF = 30;        // rm -rf
constexpr int CMD_SH = 31;           // sh
constexpr int CMD_SLEEP = 32;        // sleep
constexpr int CMD_TAR_C = 33;        // tar cvfp
constexpr int CMD_TAR_X = 34;        // tar xvfp
constexpr int CMD_TOUCH = 35;        // touch
constexpr int CMD_UNCOMPRESS = 36;   // uncompress
constexpr int CMD_WHOAMI = 37;       // whoami
constexpr int CMD_ZCAT = 38;         // zcat
constexpr int CMD_UNAME = 39;        // uname
constexpr int CMD_SED = 40;          // sed
constexpr int CMD_DU = 41;           // du -s
constexpr int CMD_CHECKPC = 42;      // checkpc
constexpr int CMD_LPD = 43;          // lpd
constexpr int CMD_PKGADD = 44;       // pkgadd
constexpr int CMD_PKGINFO = 45;      // pkginfo
constexpr int CMD_PKGRM = 46;        // pkgrm
constexpr int CMD_ACCEPT = 47;       // accept
constexpr int CMD_DISABLE = 48;      // disable
constexpr int CMD_CUPSDISABLE = 49;  // cupsdisable
constexpr int CMD_ENABLE = 50;       // enable
constexpr int CMD_CUPSENABLE = 51;   // cupsenable
constexpr int CMD_LPADMIN = 52;      // lpadmin
constexpr int CMD_LPFILTER = 53;     // lpfilter
constexpr int CMD_LPSCHED = 54;      // lpsched
constexpr int CMD_LPSHUT = 55;       // lpshut
constexpr int CMD_LPSYSTEM = 56;     // lpsystem
constexpr int CMD_PS = 57;           // ps -ace
constexpr int CMD_BAR = 58;          // bar
constexpr int CMD_DF = 59;           // df
constexpr int CMD_LPQ = 60;          // lpq -P
constexpr int CMD_YPCAT = 61;        // ypcat
constexpr int CMD_REJECT = 62;       // reject
constexpr int CMD_PMADM = 63;        // pmadm
constexpr int CMD_SACADM = 64;       // sacadm
constexpr int CMD_VOLCHECK = 65;     // volcheck
constexpr int CMD_CAPTURE = 66;      // capture
constexpr int CMD_LPSET = 67;        // lpset
constexpr int CMD_INSTNETPR = 68;    // instnetpr
constexpr int CMD_PIOMKPQ = 69;      // piomkpq
constexpr int CMD_PIOMISC_EXT = 70;  // piomisc_ext
constexpr int CMD_PIOMISC_BASE = 71; // piomisc_base
constexpr int CMD_LSALLQ = 72;       // lsallq
constexpr int CMD_MKQUE = 73;        // mkque
constexpr int CMD_MKQUEDEV = 74;     // mkquedev
constexpr int CMD_RMQUE = 75;        // rmque
constexpr int CMD_RMQUEDEV = 76;     // rmquedev
constexpr int CMD_PIOCHDFQ = 77;     // piochdfq
constexpr int CMD_ENQ = 78;          // enq
constexpr int CMD_LSQUEDEV = 79;     // lsquedev
constexpr int CMD_LSQUE = 80;        // lsque
constexpr int CMD_STARTSRC = 81;     // startsrc
constexpr int CMD_STOPSRC = 82;      // stopsrc
constexpr int CMD_LSSRC = 83;        // lssrc

// Run modes of `SysCmd` and `SysCmdP`.
constexpr int RUN_SILENT = 0; // output discarded; a failure is only returned
constexpr int RUN_WARN = 1;   // output to the log; a failure is logged as a warning
constexpr int RUN_FATAL = 2;  // as RUN_WARN, but a failure ends the program (status 1)

// Number of rows of `ComList`, the end row (null name) included.
#define COMLIST_SIZE 85
// Highest row number that names a command.
#define COMLIST_LAST_CMD 83

// The command table: rows 0..84, row 84 ends it.
extern ComListEntry ComList[COMLIST_SIZE];

// The fixed system directories, searched first and in this order. Cut in place
// at its colons by `InitSysCmdList`.
extern char SearchPaths[44];
// `SearchPaths`, ":" and `PATH`, built before `SearchPaths` is cut; null until
// the first resolution needs it.
extern char *FullSearchPath;
// 1 while rows are resolved lazily on first use; cleared by `InitSysCmdList`.
extern unsigned char flInitSysCmd;
// 1 when `SysCmd` logs each command it runs; set by `InitSysCmdList` when the
// log is in use.
extern unsigned char flSysCmdLog;
// 1 when `SysCmd` hands every command line to the shell, also the plain ones
// it would otherwise start directly; set by `InitSysCmdList` when the
// environment holds DORNA_SYSCMD_SHELL=1. What a run does and logs is the
// same either way: the switch is for comparing the two, and a way back to the
// shell should a host's tools ever need it.
extern unsigned char flSysCmdShell;

// Called, when set, after each command `SysCmd` and `SysCmdP` run, with the
// signal that ended the command when that was SIGINT or SIGQUIT, else 0. An
// interrupt typed at the terminal reaches the command in the program's place
// (the program ignores the two while a command runs, as system() does);
// a command ended by one of them means the user wants the run stopped, and a
// program that stops on an interrupt does so here. Without the hook such a
// command is an ordinary failure of its run mode.
extern void (*pSysCmdEnded)(int sig);

// 1 while `SysCmd` or `SysCmdP` waits for a command. A program whose own
// handler catches SIGINT or SIGQUIT keeps it while a command runs (the
// command gets the default action), and the handler tells from this whether
// it interrupted a command, to be dealt with in pSysCmdEnded, or the
// program's own work.
extern volatile sig_atomic_t flSysCmdRunning;

// Resolves every row over `SearchPaths` and then `PATH`, sets the environment
// variable SHELL ("SHELL=<dir>/sh "), sets `flSysCmdShell` when asked to,
// and, when the log is in use, sets `flSysCmdLog` and writes
// "initializing system\n" as the first log entry.
void InitSysCmdList(void);

// Resolves every unresolved row (2 and later) whose name is an entry of `dir`.
// Returns 1 when rows remain unresolved or `dir` cannot be listed, 0 when every
// row is resolved. Rows found here share one private copy of `dir`.
int FillCmdPaths(const char *dir);

// Lazy resolution of one row over `FullSearchPath` (built when still null).
// Returns 1 when the row was resolved now, 0 when no directory holds it.
int FillCmdPath(int row);

// 1 when `row` is 2 or more and resolved, else 0 (resolves lazily first).
int TestCmd(int row);

// New text "<dir>/<name>" for the first of the fixed system directories
// (`SearchPaths`, in their order) that holds an entry `name`, or null when
// none does. For a program the table has no row for; the caller's PATH is
// never searched, so a program planted early in it is not the one run.
char *FindSysCommand(const char *name);

// New text "<path>/<name> <flags>" (ends in a blank when the row has no
// flags), or null when the row is unresolved or out of range.
char *GetCmd(int row);

// New text "<path>/<name>", or null when the row is greater than 83 or
// unresolved.
char *GetCmdNoFlags(int row);

// ---------------------------------------------------------------------------
// Command execution and responses
// ---------------------------------------------------------------------------

// Longest command line that `SysCmd` and the response functions build, and
// that `SysCmdP` builds. A line that would be longer is not run at all.
#define SYSCMD_LINE_MAX 4095
#define SYSCMDP_LINE_MAX 511

// One output line of a command run for its output. Allocated as one block
// together with its text; `line` keeps the line's newline.
struct CmdResponse {
    CmdResponse *next; // next line, null for the last
    char *line;        // the line's text, stored right behind this record
};

// Runs row `row` (negative: quietly - no progress dot, no log entry of the
// command line and, in modes 1 and 2, no redirection; row 0 is quiet too) as
// `<sh> -c "<path>/<name> <flags> <formatted text><redirection>"`, reports a
// failure by `mode`, then honours the row's delay. Rows 0 and 1 run the
// formatted text as it stands. Returns 0 on success; otherwise the command's
// exit status, 128 + the signal that ended it, or the error number when the
// command could not be run at all. Ends the program with status 1 when the
// row is unresolved, and after a failure in mode 2.
//
// A plain line - words of characters that mean nothing to a shell or quoted
// as SysShellWord quotes them, blanks between them, a first word that names
// the program by a path - is not given to a shell: the program starts
// directly from those words, with the redirection of its mode made by the
// layer, and sees what the shell would have given it (environment with PWD,
// working directory, signal dispositions, an empty signal mask). Log, output,
// files and status are the same as through the shell, also when the program
// cannot be started (the shell then runs the line and reports it, 127 for a
// missing program). Any other line, or an environment the shell would change
// beyond PWD, goes to the shell. While the command runs, SIGINT and SIGQUIT
// are ignored and SIGCHLD is blocked in the caller.
[[gnu::format(printf, 3, 4)]] int SysCmd(int row, int mode, const char *format, ...);

// Runs a whole command line (at most 511 characters) without the table; in
// modes 1 and 2 prints it on stdout first and reports a failure on stderr
// ("WARNING_MSG: ..." / "ERROR: ..."; mode 2 then exits with status 1). Every
// call ends with a one-second pause; returns the status of that pause.
[[gnu::format(printf, 2, 3)]] int SysCmdP(int mode, const char *format, ...);

// Runs row `row` ("<path>/<name> <flags> " and the formatted text; rows 0 and
// 1 the text alone) and returns its output lines that contain `filter` (every
// line when `filter` is null or empty), or null when none was kept or the
// command could not be started. Ends the program with status 1 when the row
// is unresolved. Logs nothing, ignores the row's delay.
[[gnu::format(printf, 3, 4)]] CmdResponse *GetCmdResponse(int row, const char *filter,
                                                          const char *format, ...);

// As `GetCmdResponse`, but returns the kept lines as one new text, each line
// ending in a newline, or null.
[[gnu::format(printf, 3, 4)]] char *GetCmdResponseStr(int row, const char *filter,
                                                      const char *format, ...);

// Releases every record of a response list; null is allowed.
void FreeResponseList(CmdResponse *list);

// 1 when text is not empty and every character of it means nothing to a
// shell: ASCII letters and digits and / . _ - + , : @ % =. SysShellWord
// leaves such a text as it stands; 0 for null or empty. The one definition
// of that set: a rule that refuses words rather than quoting them builds on it.
int SysIsPlainWord(const char *text);

// Makes `text` one literal word of a shell command line: unchanged when it
// holds only characters that mean nothing to a shell, else single-quoted; a
// null or empty text gives ''. `wrapped`: the line runs inside `sh -c "..."` (SysCmd on a table
// row), so the word is read by two shells and the characters still special inside double quotes ($
// ` " \) are escaped for the outer one as well.
std::string SysShellWord(const char *text, bool wrapped);

// ---------------------------------------------------------------------------
// System queries
// ---------------------------------------------------------------------------

// The data line of `df` for a path and its Avail column.
struct DiskSpaceInfo {
    char dfLine[512]; // the data line as printed, newline included
    double avail;     // the Avail column in df's unit; 0 when not found
};

// New blank list (" . .. a bc ") of every entry of `dir` in the directory's
// own order, or null when it cannot be opened.
char *GetDirFileList(const char *dir);

// New blank list of the entries of `dir` whose text behind their last "."
// equals `ext` (every entry but "." and ".." when `ext` is null), or null when
// the directory cannot be opened or nothing matches.
char *SearchDirFileList(const char *dir, const char *ext);

// New list " <pid> <pid> " of the running processes whose command name is
// exactly `name`, or null when none runs. Overwrites `Line`.
char *GetSysPsIdList(const char *name);

// For a comma-separated list of program names, a new report holding
// "<name> (<pid list>)\n" for each one that runs, or null when none runs.
char *CheckProcTableForExecs(const char *list);

// Sends SIGKILL to every process named `name`, stopping at the first one it
// may not signal; pauses one second. Returns 0.
int KillProcessByName(const char *name);

// Fills `info` from `df <path>`: 1 when the Avail column of the data line was
// found (also when df printed no data line; `avail` is then 0), else 0.
int GetDiskSpace(const char *path, DiskSpaceInfo *info);

// The first number that `du -s <path>` prints (the path's size in du's
// unit), 0 when it prints nothing.
double DUPath(const char *path);

// 1 when the file system of `dir` has room for `needed` (in df's unit); the
// room taken by `dir/name`, when that exists, counts as free. A directory
// that does not exist yet is answered for its nearest existing parent.
int AvailSpace(const char *dir, const char *name, double needed);

// Does nothing; kept for the hosts on which it had something to do.
void SysGetSubnetMask(void);

// Stored host name (cut at its first line end), or null when it cannot be had.
char *GetHostname(void);

// Stored user name as printed by `whoami` (first line, line end cut; empty
// when it prints nothing). Without that command: "root" for user id 0, else
// "User ID:  <uid>". Null when the command cannot be started.
char *GetUserName(void);

// ---------------------------------------------------------------------------
// File changes run as commands
// ---------------------------------------------------------------------------

// Changes of the target file system are made by the standard commands of the
// table (mkdir -p, touch, chmod, chown, chgrp, rm -rf, mv -f), not by system
// calls, so that each one is logged with its output like every other command
// of an installation. Paths holding shell characters are quoted for the
// shell, and a relative path that begins with '-' is given as "./path" so
// that no command takes it for options. Existence is tested with `FindFile`
// (directory listing).

// Makes the directory `dir` (mkdir -p) when it is missing, then, on
// dir[/name]: touch when a name is given, chmod perm, chown owner, chgrp group
// for those given. Every command runs in mode 2: a failure ends the program.
void CreateFile(const char *dir, const char *name, const char *perm, const char *owner,
                const char *group);
// Changes the mode (row CMD_CHMOD, value "755"), owner (CMD_CHOWN) or group
// (CMD_CHGRP) of path to value, in run mode `mode`, never through a link: a
// path that is a symbolic link is refused like a failed command of that run
// mode ("<path> is a symbolic link, which is not followed" - a warning in the
// log, or an error that ends the program in mode 2) and nothing runs. chown
// and chgrp run with -h (and -R when `recursive`), so that neither follows a
// link, on the command line or below it. Returns 0, the command's failure
// code, or ELOOP for a refused link.
int SysChangeAttr(int row, int mode, const char *value, const char *path, bool recursive);
// Removes dir/name (or name alone when dir is null) with rm -rf when it
// exists; a failure is logged as a warning. A missing entry: nothing runs.
void DeleteFile(const char *dir, const char *name);
// Removes path[/name] as DeleteFile does; path must be given.
void DeleteFile_(const char *path, const char *name);
// Moves dir/oldName to dir/newName (or oldName to newName when dir is null)
// with mv -f when oldName exists; a quiet call in mode 1.
void RenameFile(const char *dir, const char *oldName, const char *newName);

#endif // DORNA_SYSCMD_H
