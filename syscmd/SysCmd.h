// SysCmd.h - the system command layer: the table of known system commands,
// their resolution on the search path, their execution, and host queries.
//
// Lifecycle. Every external program runs through one row of `ComList`, named
// in code by its row number (30 is `rm -rf`, 57 is `ps -ace`, ...). Rows 0
// and 1 name no command: the caller gives the whole command line. Before
// `InitSysCmdList` runs, each row is resolved lazily on first use;
// `InitSysCmdList` resolves every row it can, sets `SHELL`, switches on the
// logging of commands when the log is in use, and ends the lazy phase for
// good. After that the table never changes. A row left unresolved ends the
// program when something tries to run it (status 1, message on stderr).
//
// Ownership. Texts returned here are memory-manager blocks owned by the
// caller (`PutMem`); response lists are released with `FreeResponseList`.
// Row paths live until the process ends. `GetSysPsIdList` overwrites the
// shared line buffer `Line`, and the process queries move the shared
// tokenizer cursor: callers finish their own scan before calling them.
//
// Shell texts. The caller's formatted text is placed on a shell command line
// as it stands: it may carry redirections and quoting of its own, but it must
// not contain a double quote (SysCmd wraps the command in one) and it must not
// hold text from untrusted sources.
#ifndef DORNA_SYSCMD_H
#define DORNA_SYSCMD_H

#include <dirent.h>
#include <stdint.h>

#include <string>

// ---------------------------------------------------------------------------
// Command table and path resolution
// ---------------------------------------------------------------------------

// One row of the command table.
struct ComListEntry {
  const char *name;   // file name of the command; "" in rows 0 and 1, null ends the table
  const char *flags;  // default flags placed after the name; "" when none
  const char *path;   // directory the command was found in; null while unresolved
  int32_t delay;      // after running: 0 nothing, N>0 pause N s, -1 wait for the process
};

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

// Resolves every row over `SearchPaths` and then `PATH`, sets the environment
// variable SHELL ("SHELL=<dir>/sh "), and, when the log is in use, sets
// `flSysCmdLog` and writes "initializing system\n" as the first log entry.
void InitSysCmdList(void);

// Resolves every unresolved row (2 and later) whose name is an entry of `dir`.
// Returns 1 when rows remain unresolved or `dir` cannot be listed, 0 when every
// row is resolved. Rows found here share one private copy of `dir`.
int FillCmdPaths(const char *dir);

// Lazy resolution of one row over `FullSearchPath` (built when still null).
// Returns 1 when the row was resolved now, 0 when no directory holds it.
// Moves the shared tokenizer cursor.
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
  CmdResponse *next;  // next line, null for the last
  char *line;         // the line's text, stored right behind this record
};

// Runs row `row` (negative: quietly - no progress dot, no log entry of the
// command line and, in modes 1 and 2, no redirection; row 0 is quiet too) as
// `<sh> -c "<path>/<name> <flags> <formatted text><redirection>"`, reports a
// failure by `mode`, then honours the row's delay. Rows 0 and 1 run the
// formatted text as it stands. Returns 0 on success; otherwise the command's
// exit status, 128 + the signal that ended it, or the error number when the
// command could not be run at all. Ends the program with status 1 when the
// row is unresolved, and after a failure in mode 2.
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

// Makes `text` one literal word of a shell command line: unchanged when it
// holds only characters that mean nothing to a shell, else single-quoted.
// `wrapped`: the line runs inside `sh -c "..."` (SysCmd on a table row), so
// the word is read by two shells and the characters still special inside
// double quotes ($ ` " \) are escaped for the outer one as well.
std::string SysShellWord(const char *text, bool wrapped);

// ---------------------------------------------------------------------------
// System queries
// ---------------------------------------------------------------------------

// The data line of `df` for a path and its Avail column.
struct DiskSpaceInfo {
  char dfLine[512];  // the data line as printed, newline included
  double avail;      // the Avail column in df's unit; 0 when not found
};

// Name of the next entry of an open directory stream, or null at its end.
char *ReadDir(DIR *dir);

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

#endif  // DORNA_SYSCMD_H
