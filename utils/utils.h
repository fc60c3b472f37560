// utils.h - support utilities of the Dorna suite: tokenizer and keyword lists,
// stored strings and paths, diagnostics and the run log, file helpers, line
// input and in-place editing of text files.
//
// Lifecycle and ownership
// - The tokenizer keeps ONE cursor for the whole process. GetToken (or
//   SetTokenBuf) with a text starts a scan; calls with a null input pull the
//   next tokens; the scan ends when a call returns null, and later null-input
//   calls keep returning null until a new text is given. The scanned text must
//   stay alive (and writable, for GetTokenParse) while tokens are pulled.
//   Starting a scan anywhere abandons the previous one: code that tokenizes
//   inside another caller's scan uses GetTokenD (caller-owned cursor) instead.
// - GetToken returns GetTokenBuf, which the next GetToken call overwrites.
// - Stored strings (SaveStr, SaveStr_, SaveStr__) are memory-manager blocks of
//   exactly length + 1 bytes, owned by the caller and released with PutMem.
//   They never come back null for a real format or text: exhausted memory
//   stops the program through SysError ("Unable to allocate memory").
// - The path splitters (StripPath, StripFn, StripExt, StripPathExt,
//   StripPathName) return a static buffer private to each function, valid
//   until the next call of the same function. Paths longer than the buffer
//   (127 characters, StripFn 255) are cut at the buffer's limit.
// - Nothing here is thread-safe; the program has one thread.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <dirent.h>

struct stat;

// ---------------------------------------------------------------------------
// Tokenizer and keyword lists (Token.cpp)
// ---------------------------------------------------------------------------

// Size of GetTokenBuf: a token holds at most TOKEN_BUF_SIZE - 1 characters;
// longer tokens are cut there (the rest of the token is skipped).
constexpr int TOKEN_BUF_SIZE = 255;

// The reserved tokenizer input "continue where the last call stopped, in line
// mode": a token that ends at a newline is refused (null) when it is not the
// first token of its line.
#define TOKEN_LINE_MODE (reinterpret_cast<char *>(static_cast<intptr_t>(-1)))

// Where the last successful GetToken/GetTokenParse scan stopped: just behind
// the delimiter that ended the token. Unchanged by a line-mode refusal.
extern char *szTokenIn;
// The token returned by GetToken (at most TOKEN_BUF_SIZE - 1 characters).
extern char GetTokenBuf[TOKEN_BUF_SIZE];
// The delimiter that ended the most recent token; 0 at the end of the text.
// Cleared at the start of every GetToken, GetTokenD and GetTokenParse call.
extern char chTokenDel;

// Reads one line from standard input into buf (at most size - 1 characters,
// newline not stored). Returns buf, or null at end of input with nothing read.
// A full buffer returns what was read; the rest of the line stays unread.
char *Gets(char *buf, int size);

// Starts a scan over text without taking a token (sets cursor and szTokenIn).
void SetTokenBuf(const char *text);

// Returns the shared cursor: the next character the tokenizer will examine.
char *GetTokenBufInput(void);

// Copies the next token (cut at any character of delims, runs of delimiters
// skipped, backslash escapes \n \r \t and \<any> translated) into GetTokenBuf.
// in: a text (new scan), null (continue) or TOKEN_LINE_MODE.
// Returns GetTokenBuf, or null when no token is left.
char *GetToken(const char *in, const char *delims);

// As GetToken, but without copying: the delimiter ending the token (and each
// skipped delimiter) is overwritten with 0 in the text itself; backslash pairs
// stay untranslated. Returns the token inside the text, or null.
char *GetTokenParse(char *in, const char *delims);

// Re-entrant GetToken: the position lives in the caller's *cursor and the
// token goes into the caller's out buffer, which must hold TOKEN_BUF_SIZE
// bytes (longer tokens are cut as in GetToken). in: a text (starts there),
// null or TOKEN_LINE_MODE (continue from *cursor; a line-mode refusal leaves
// *cursor where it was). Sets chTokenDel only. Returns out, or null.
char *GetTokenD(const char *in, const char *delims, char **cursor, char *out);

// Cuts text in place at runs of delimiter characters (no escapes) and stores
// up to size piece starts in array (all entries nulled first). Returns the
// number of pieces stored; text behind the last stored piece is untouched.
int ParseStr(char *text, const char *delims, char **array, int size);

// Returns the n-th token (1-based; n <= 1 gives the first) of a scan started
// with in (null continues the current scan), or null when there are fewer.
char *GetTokenN(const char *in, const char *delims, int n);

// Counts the tokens of in (null: of the rest of the current scan) without
// disturbing a scan in progress (chTokenDel is not restored).
int GetTokenCount(const char *in, const char *delims);

// Keyword lists: the first character of the list is its delimiter
// (",yes,no,"). Returns the 1-based number of the first item equal to word,
// 0 when none or when word or list is null. Words longer than 509
// characters never match.
int FindToken(const char *word, const char *list);
// As FindToken, ignoring letter case.
int FindTokenC(const char *word, const char *list);
// Lookup with an explicit delimiter; the list need not begin with it.
// Returns the 1-based item number, 0 when absent or on a null argument.
int FindTokenWithDelim(const char *list, const char *word, char delim);

// Sorts the items of a delimited list in place (byte order, or ignoring case
// when ignoreCase is non-zero); leading delimiters stay, equal items keep
// their order, a missing delimiter between items is added. The list never
// grows: without a closing delimiter it ends without one. Null: no effect.
void SortTokens(char *list, char delim, int ignoreCase);

// ---------------------------------------------------------------------------
// Strings and paths (Str.cpp)
// ---------------------------------------------------------------------------

// Unit codes of CvtFloatFormat.
constexpr int CVT_INCH = 0;
constexpr int CVT_CM = 1;
constexpr int CVT_POINT = 2;

// Stores the printf-formatted text in a new block of exactly length + 1
// bytes. A null format gives a stored empty text. Never null: exhausted
// memory stops the program through SysError.
[[gnu::format(printf, 1, 2)]] char *SaveStr(const char *fmt, ...);
// As SaveStr, formatting in a private scratch area; null when fmt is null.
[[gnu::format(printf, 1, 2)]] char *SaveStr__(const char *fmt, ...);
// Stores an exact copy of text (no formatting). Null text: a stored empty text.
char *SaveStr_(const char *text);

// Last path component ("/a/b/" gives "b"); a path without components ("",
// "/") comes back unchanged; null gives "". Static buffer of 128 bytes.
char *StripPath(const char *path);
// Directory part ("/usr/lib/x.so" gives "/usr/lib", "/x" gives "/", "x" or
// "" or null gives "."). Static buffer of 256 bytes.
char *StripFn(const char *path);
// Name cut at its first dot behind any leading dots ("a.tar.gz" gives "a",
// ".profile" stays). Null gives "". Static buffer of 128 bytes.
char *StripExt(const char *name);
// Last component cut at its first dot ("/tmp/setup.log" gives "setup"); null
// gives ""; a path without components gives null. Static buffer of 128 bytes.
char *StripPathExt(const char *path);
// First component when no later piece qualifies, else the last dot-piece of
// the rest before one that starts a directory ("dir/name.txt" gives "txt",
// "a/b/c" gives "a"); null, "." and ".." give "". Static buffer of 128 bytes.
char *StripPathName(const char *path);

// First non-white-space character of text (possibly its terminator); null
// for null.
char *SkipSpace(const char *text);
// Number of characters before the terminator; 0 for null.
int StrLen(const char *text);
// First occurrence of ch not preceded by an escaping backslash (a backslash
// and the character after it never match); null when none or text is null.
char *StrChr(const char *text, char ch);
// The n-th occurrence (1-based) of ch, or null.
char *StrNChr(const char *text, char ch, int n);
// The n-th occurrence (1-based, overlapping ones counted) of pattern, or null.
char *StrNStr(const char *text, const char *pattern, int n);
// First exact occurrence of pattern; null when absent, for an empty pattern
// or a null argument.
char *StrStr(const char *text, const char *pattern);
// As StrStr, ignoring letter case.
char *StrCaseStr(const char *text, const char *pattern);
// Removes every backslash from text in place; returns text.
char *StripAllBackslashes(char *text);
// Keeps only printable characters of text in place (and \n, \r when
// keepLineEnds is non-zero); returns text, or null for null.
char *StripNonPrint(char *text, int keepLineEnds);
// Copies text into out (size bytes, always terminated when size > 0; cut
// before an escape that would not fit) with every byte that would steer a
// terminal written as a three-digit octal backslash escape ("\033"): C0
// controls (newline and tab too), DEL, and C1 controls both as bare bytes
// 0x80 to 0x9F and in their UTF-8 form (U+0080 to U+009F, "\302\233"); a
// backslash itself is written "\\". Other UTF-8 sequences and other bytes
// stay as they are. For messages that quote a file's or a user's text.
// Returns out; null text gives "".
char *EscapeControls(char *out, size_t size, const char *text);
// Copies len bytes from src to dst, in reverse order when reverse is non-zero
// (byte-order conversion). The areas must not overlap.
void SetVarContent(void *dst, const void *src, int len, int reverse);
// Converts value from unit `from` to unit `to` (CVT_INCH, CVT_CM, CVT_POINT);
// any other pair gives value unchanged.
float CvtFloatFormat(float value, int from, int to);
// The larger of a and b; b when they are equal or either is not a number.
double MaxD(double a, double b);

// UTF-8 character boundaries. Texts are cut and walked only where a
// character begins, so that no terminal or file is handed half a character.
// 1 when byte c continues a UTF-8 character (10xxxxxx), so none begins there.
int Utf8IsContinuation(unsigned char c);
// Length of text cut to at most max bytes without splitting a UTF-8
// character; the text's own length when it is shorter.
size_t Utf8CutLen(const char *text, size_t max);
// Offset of the character after the one at offset at of text[0..size): at
// plus one and every continuation byte behind it, at most size.
size_t Utf8NextChar(const char *text, size_t size, size_t at);
// Length (1 to 4) of the valid UTF-8 character at text[0..size), or 0 when
// the bytes there are none: a stray continuation byte, a cut sequence, an
// overlong form, a surrogate or a code point above U+10FFFF.
size_t Utf8ValidLen(const char *text, size_t size);
// The character at text[0..size) (size > 0) as a terminal takes it: returns
// its length, a whole UTF-8 sequence (lead byte and all its continuation
// bytes) or else one byte, and sets *control to the code of the control it
// is, or -1. Controls are those that steer a terminal: C0 controls (newline
// and tab too), DEL, C1 controls in their UTF-8 form (U+0080 to U+009F, the
// code being 0x80 to 0x9F) and bytes 0x80 to 0x9F in no sequence, which an
// 8-bit terminal takes for C1. The one classification behind every escape
// and refusal of control characters.
size_t TerminalCharAt(const char *text, size_t size, int *control);

// ---------------------------------------------------------------------------
// Bounded formatting (Format.cpp)
// ---------------------------------------------------------------------------

// Formats into buf, which holds size bytes, only when the whole text fits:
// returns its length (without the terminator), or -1 when it would be cut
// (or cannot be formatted, or size is 0). After -1, buf holds as much of the
// text as fits, always terminated (empty when it cannot be formatted), for a
// message that names what was refused - never as the result: a cut name
// would name another file, a cut command line run another command.
[[gnu::format(printf, 3, 4)]] int FormatBounded(char *buf, size_t size, const char *fmt, ...);
// As FormatBounded, with the arguments in ap (which it uses up).
[[gnu::format(printf, 3, 0)]] int VFormatBounded(char *buf, size_t size, const char *fmt,
                                                 va_list ap);

// ---------------------------------------------------------------------------
// Terminal pager (Pager.cpp)
// ---------------------------------------------------------------------------

// The size of the terminal standard output writes to: 1 with *cols and
// *rows set (80 x 24 when the terminal does not tell; either may be null),
// 0 when standard output is not a terminal (nothing is changed then).
int GetTermSize(int *cols, int *rows);

// 1 when long output is shown a screenful at a time: standard input and
// standard output are both terminals.
int PagerWanted(void);

// Writes text to standard output. When standard output is not a terminal,
// the text goes out as it stands and 0 is returned. On a terminal, a line
// wider than the terminal is shown on several rows, broken at the last blank
// that fits (a word wider than the terminal is cut; continuation rows keep
// the line's indent; a line whose text fits without its indent is centred
// instead); a row of a framed table (first non-blank one of | + , ') is
// never broken: cut at the edge when it does not fit. When PagerWanted,
// output stops after each screenful at "--More--": Space, Return or any
// other key shows the next screenful, 'q' goes straight on at text + skipTo
// (when that lies ahead; else the rest is shown without stopping), end of
// input shows the rest without stopping. `used` rows of the first screenful
// are taken already. The terminal's size is read again before every
// screenful. Returns the rows of the last screenful written.
int PageText(const char *text, size_t skipTo, int used);

// ---------------------------------------------------------------------------
// Diagnostics and log (Log.cpp)
// ---------------------------------------------------------------------------

// The run log is "/tmp/<my_name>.log". It is off until flUseLog is set; the
// first message of the process truncates it, later ones append. Each message
// is written straight to the file, so the log is complete on disk after every
// call; the file stays open (close-on-exec) between messages, and each message
// first checks that the name still names that file and opens it afresh when
// not (removed, replaced, renamed away, linked, given to another owner).
// The log is never written through a symbolic link nor into a file that is
// not a regular, singly linked file of this user or root: such an entry is
// removed and the log created afresh with mode 0666.

// The program's own name (last component of argv[0], stored with SaveStr);
// prefixes SysError and errormsg and names the log file.
extern char *my_name;
// 0: PutLogMsg does nothing. Set by the installer once the log is wanted.
extern unsigned char flUseLog;
// Directory of the log file; PutLogMsg sets it to "/tmp" on every call.
extern const char *pLogPath;
// The log stream while PutLogMsg writes; null otherwise.
extern FILE *pLog;

// Appends the formatted message to the run log as it stands (no time stamp,
// no line end of its own). A log that cannot be opened costs the message
// only: "ERROR: couldn't open <path>" goes to stderr.
[[gnu::format(printf, 1, 2)]] void PutLogMsg(const char *format, ...);

// Prints "\n<my_name>: <message> : <system error text>\n" on stderr and ends
// the process with status 1.
[[noreturn, gnu::format(printf, 1, 2)]] void SysError(const char *format, ...);

// Formats the message into the shared buffer Line (overwriting it, cut at its
// size), then: level 1 prints "WARNING: <message>\n" on stderr and returns;
// level 2 prints "ERROR: <message>\n" and ends the process with `status`;
// any other level prints nothing and returns.
[[gnu::format(printf, 3, 4)]] void ErrorMsg(int level, int status, const char *format, ...);

// Prints "<my_name>: <message>\n" on stderr.
[[gnu::format(printf, 1, 2)]] void errormsg(const char *format, ...);

// Ends the process with `status` (streams are flushed by exit).
[[noreturn]] void exit_app(int status);

// ---------------------------------------------------------------------------
// File helpers (File.cpp)
// ---------------------------------------------------------------------------

// Report modes of the open operations.
constexpr int REPORT_SILENT = 0; // return null, print nothing
constexpr int REPORT_ERROR = 1;  // print an error line, return null
constexpr int REPORT_FATAL = 2;  // SysError: the program ends with status 1

// Type codes of GetFileType.
constexpr int FILE_TYPE_NONE = 0;
constexpr int FILE_TYPE_DIR = 1;
constexpr int FILE_TYPE_LINK = 2;
constexpr int FILE_TYPE_OTHER = 3;

// The changes of the file system (CreateFile, DeleteFile, RenameFile) run as
// commands and live in the command layer (SysCmd.h).

// Closes pClose when given, then opens path with the fopen mode. On failure
// returns null after: REPORT_FATAL "can't open file, <path>" via SysError;
// REPORT_ERROR "ERROR: can't open file, <path>\n" on stderr; else nothing.
FILE *OpenFile(FILE *pClose, const char *path, const char *mode, int report);
// As OpenFile with the path formatted (at most 511 characters; a longer path
// counts as a failed open).
[[gnu::format(printf, 4, 5)]] FILE *OpenFileF(FILE *pClose, const char *mode, int report,
                                              const char *format, ...);
// open(2) with flags (new files get mode 0666 less the umask). On failure
// prints "ERROR: can't open file, <path>" (no line end) on stdout and returns
// the negative result.
int OpenRawFile(const char *path, int flags);
// Writes the formatted content to path (fopen mode `mode`) and sets its
// permission bits when perm is non-zero. Returns 1, or 0 after printing
// "ERROR: couldn't open <path>\n" (or "ERROR: couldn't write <path>\n" when
// the content did not reach the file) on stderr.
[[gnu::format(printf, 4, 5)]] int CreateTextFile(const char *path, const char *mode, int perm,
                                                 const char *format, ...);
// Name of the next entry of an open directory stream, or null at its end.
char *ReadDir(DIR *dir);
// 1 when the entry exists as a name in its parent's listing (any kind of
// entry, dangling links included; names are compared whole, blanks and all),
// else 0; an unreadable parent gives 0. dir null: name is the whole path;
// name null or empty: dir is the whole path, trailing slashes naming the
// directory itself; a name with slashes is joined to dir and split again at
// its last slash. "/" and "." always exist.
int FindFile(const char *dir, const char *name);
// 1 when stat(2) succeeds on dir/name (or whichever is given), else 0.
int FindFile_(const char *dir, const char *name);
// FILE_TYPE_* of path as lstat(2) sees it (a link is not followed).
int GetFileType(const char *path);
// Size of path in bytes, 0 when it cannot be examined.
long GetFileSize(const char *path);
// Last-modification time of path, 0 when it cannot be examined.
long GetFileTime(const char *path);
// The first line of path containing pattern (the first line at all when
// pattern is null), newline included, at most 511 characters, in a static
// buffer valid until the next call; null when none matches or the file
// cannot be opened (reported as OpenFile does with `report`).
char *FileSearch(const char *path, const char *pattern, int report);
// Stored copy of the environment variable's value, or null when unset.
char *GetEnv(const char *name);
// Stored directory of the running program worked out from its invocation
// name and the working directory only ("./bin/setup" in /home/u gives
// "/home/u/bin"); no PATH search, links are not resolved.
char *GetToolPath(const char *argv0);
// Stored path itself, or its nearest existing ancestor ("/" or "." at the
// latest). *flExists is set to 1 when the path itself exists, else left.
char *FindExistingPath(const char *path, int *flExists);

// Atomic replacement of a file. The new content goes to a temporary beside
// the file, made anew (O_CREAT|O_EXCL|O_NOFOLLOW: never through a link nor
// into a file someone else put under its name). The file itself is examined
// without following links: a symbolic link at its name is refused
// (REPLACE_FAILED_LINK), as the owner and mode it would lend the new file are
// those of whatever it points to. ReplaceCommit flushes and
// syncs it, renames it over the file and syncs the directory, so that a
// crash or a full disk leaves the old file or the new one, never a part.
// The functions print nothing: a failure records its step and errno in the
// record, and each caller's message names the file (the temporary for
// REPLACE_FAILED_CREATE, the file for the others, as the caller chooses).
//     FileReplacement r;
//     if (!ReplaceOpen(&r, "x.conf", "x.confout", -1, REPLACE_KEEP_MODE)) ...
//     fputs(text, r.pOut);
//     if (!ReplaceCommit(&r, nullptr)) ... // the old file is left as it was
constexpr int REPLACE_KEEP_MODE = 1;     // an existing file's mode and owner go to the new one
constexpr int REPLACE_DROP_LEFTOVER = 2; // remove a leftover temporary first
// Steps a replacement fails in (FileReplacement::Failed).
constexpr int REPLACE_FAILED_NONE = 0;
constexpr int REPLACE_FAILED_CREATE = 1; // the temporary could not be made
constexpr int REPLACE_FAILED_WRITE = 2;  // writing, flushing or syncing it failed
constexpr int REPLACE_FAILED_RENAME = 3; // it could not take the file's name
constexpr int REPLACE_FAILED_LINK = 4;   // the file is a symbolic link (Errno ELOOP)

struct FileReplacement {
    FILE *pOut;      // the temporary, open for writing; null when none is open
    char Path[4096]; // the file being replaced
    char Temp[4096]; // the temporary beside it
    int Mode;        // permission bits of a new file; -1: 0666 less the umask
    int Flags;       // REPLACE_KEEP_MODE, REPLACE_DROP_LEFTOVER
    int Failed;      // REPLACE_FAILED_* of the last failure
    int Errno;       // errno of that failure
};

// Creates temp for writing and fills *r. Until the commit the temporary has
// the permission bits the file will have (without set-id bits), less the
// umask: 0666 when no mode is given. 0 on failure (Failed REPLACE_FAILED_CREATE; Errno EEXIST when
// something is already there and REPLACE_DROP_LEFTOVER is not given, or
// ENAMETOOLONG for a name longer than the record holds), or
// REPLACE_FAILED_LINK when the file is a symbolic link; nothing is left.
int ReplaceOpen(FileReplacement *r, const char *path, const char *temp, int mode, int flags);
// Flushes the temporary, gives it the existing file's mode and owner (when
// asked and the file exists) or Mode, syncs it, renames it over the file,
// syncs the directory and closes it. When written is given it receives the
// new file's status. 1 on success; 0 on failure, with the temporary removed
// and the file left as it was.
int ReplaceCommit(FileReplacement *r, struct stat *written);
// Closes and removes the temporary (after a failure of the caller's own).
void ReplaceAbort(FileReplacement *r);

// ---------------------------------------------------------------------------
// SHA-256 digests (Sha256.cpp)
// ---------------------------------------------------------------------------

// A running digest: Sha256Init, any number of Sha256Update calls, then
// Sha256Final, after which the record must be initialised again for reuse.
constexpr int SHA256_SIZE = 32;     // bytes of a digest
constexpr int SHA256_HEX_SIZE = 65; // its lower-case hex text, terminator included

struct Sha256 {
    uint32_t State[8];        // the working words
    uint64_t Length;          // bytes taken so far
    unsigned char Block[64];  // a block not yet full
    size_t Used;              // bytes of Block in use
};

void Sha256Init(Sha256 *s);
// Takes size bytes of data (any size, 0 included).
void Sha256Update(Sha256 *s, const void *data, size_t size);
// Pads, finishes and writes the 32-byte digest.
void Sha256Final(Sha256 *s, unsigned char digest[SHA256_SIZE]);
// The digest as 64 lower-case hex digits and a terminator.
void Sha256Hex(const unsigned char digest[SHA256_SIZE], char hex[SHA256_HEX_SIZE]);
// Reads fd to its end and writes the hex digest of what it read. 1 on
// success; 0 when a read fails (errno says why; hex is then unchanged).
int Sha256Fd(int fd, char hex[SHA256_HEX_SIZE]);

// ---------------------------------------------------------------------------
// Line input (Input.cpp)
// ---------------------------------------------------------------------------

// One input file at a time: OpenInputFile closes the previous one, and
// GetFileLine closes the file by itself at its end, so a reader loop is
//     if (OpenInputFile(path, 1)) while (GetFileLine()) use(LineBuf);
// LineBuf and Line keep their contents until the next read or until another
// user of these shared buffers (ErrorMsg, GetSysPsIdList, ...) overwrites them.

constexpr int INPUT_NAME_SIZE = 256;
constexpr int LINE_BUF_SIZE = 4096;
constexpr int LINE_SIZE = 262143;

// The current input file, null when none is open.
extern FILE *pIn;
// The name last given to OpenInputFile (cut at 255 characters).
extern char InputFileName[INPUT_NAME_SIZE];
// 0 the current file is open, 1 it was closed (explicitly or at its end),
// 2 the last open failed.
extern int32_t FileStatus;
// The (joined) line of GetFileLine, or the content of GetFileContent.
extern char LineBuf[LINE_BUF_SIZE];
// After GetFileLine: characters of the joined line before its last physical
// line (0 without continuation).
extern int32_t LineLen;
// The line of GetLine (first 512 bytes) and ErrorMsg's formatting buffer.
extern char Line[LINE_SIZE];
// Start of Line, set by every GetLine call.
extern char *pLine;
// Physical lines consumed by the last GetLine call.
extern int32_t LineCnt;
// File offset at which the line returned by GetLine begins.
extern int32_t InPos;
// Non-zero (the default): GetLine strips comments, leading white space and
// the line end.
extern unsigned char flInputFilterState;
// Size of the file last read by GetSavedFileContent.
extern int32_t SavedFileSize;

// Opens path as the current input file. Returns 1, or 0 after reporting
// "can't open file, <path>" through ErrorMsg at `level` (2 ends the program
// with status 1), with FileStatus 2 and LineBuf empty.
int OpenInputFile(const char *path, int level);
// As OpenInputFile with the path formatted (at most 511 characters).
[[gnu::format(printf, 2, 3)]] int OpenInputFileF(int level, const char *format, ...);
// Closes the current input file, if any (FileStatus 1).
void CloseInputFile(void);
// Reads the next line (at most 510 characters) into LineBuf, joining
// physical lines that end in backslash-newline (kept in the text) up to the
// size of LineBuf. Returns 1, or 0 at the end (the file is then closed) or
// when no file is open.
int GetFileLine(void);
// Moves the first token (cut at delims) of the next line that neither starts
// with '#' nor is blank to the start of LineBuf. Returns 1, or 0 at the end.
int GetFileTextLine(const char *delims);
// Reads the next line of pIn into Line (at most 510 characters). With
// flInputFilterState set, removes "//" and "/* */" comments (lines inside a
// block comment are skipped), leading white space and the line end. Returns
// the number of physical lines consumed, 0 at end of file.
int GetLine(void);
// The result of the n-th consecutive GetLine call (0 for n <= 0).
int GetLineN(int n);
// Positions pIn at offset `pos`, then as GetLine.
int GetLinePos(long pos);
// fgets on stream from offset `pos`; its result (null for a null stream).
char *fgetsp(char *buf, int size, FILE *stream, long pos);
// Reads at most 4095 bytes of dir/name (or dir alone when name is null) into
// LineBuf, terminated. Returns 1, or 0 when the file cannot be opened.
int GetFileContent(const char *dir, const char *name);
// As GetFileContent into buf: at most size bytes, terminated behind them
// (buf must hold size + 1 bytes).
int GetFileContentR(const char *dir, const char *name, char *buf, int size);
// New block (GetMem, owned by the caller) holding all of dir[/name] as a
// terminated text; SavedFileSize gets the size. Null for an empty, missing or
// unreadable file. A file of one byte gives an empty text.
char *GetSavedFileContent(const char *dir, const char *name);

// ---------------------------------------------------------------------------
// In-place editing (Edit.cpp)
// ---------------------------------------------------------------------------

// The file edited is base.ext (base alone when ext is empty or null), at most
// 127 characters. The one-call editors write the new text to "base.extout"
// beside it and rename that over the file (keeping its permission bits); a
// file or temporary that cannot be opened ends the program through SysError
// ("can't open file, <name>"). They return 0 when the file was replaced,
// non-zero when the rename failed. Patterns match by exact substring within
// one line; the line end is part of the line.
//
// Own editing loop: OpenIOFiles(base, ext) opens pIn on the file and pOut on
// "<file>out"; the caller reads pIn and writes pOut; ReplaceInputFile closes
// both and puts the new text in place.

constexpr int EDIT_NAME_SIZE = 128;

// The output stream of the editing loop.
extern FILE *pOut;
// The file of the editing loop and its temporary.
extern char Fn[EDIT_NAME_SIZE];
extern char FnOut[EDIT_NAME_SIZE];

// Replaces the first occurrence of pattern in each line by replacement.
int FileChange(const char *base, const char *ext, const char *pattern, const char *replacement);
// Replaces every character `code` ("%i": "13", "0x09", "011") by the bytes
// of the comma-separated list `bytes` (each "%i", at most 127); a null list
// deletes the character.
int FileChangeChar(const char *base, const char *ext, const char *code, const char *bytes);
// Keeps the first n lines holding pattern; removes the first occurrence of
// pattern from every later one.
int FileDel(const char *base, const char *ext, int n, const char *pattern);
// By the first character of mode: "" removes the first occurrence of pattern
// from each line holding it; 'a' cuts what follows the pattern (the line ends
// in pattern and a newline); 'b' cuts what precedes it; 'c' removes the
// character with code pattern ("%i") from every line; 'l' deletes each line
// holding it. Returns 0, or 1 for any other mode (the file is not touched).
int FileDelFormat(const char *base, const char *ext, const char *mode, const char *pattern);
// Writes the template before every line. "%s<digits>" in the template sets
// the start of the line counter (and is removed); "%#<digits>" is replaced by
// the counter minus that offset ("%05i"), nothing being written while the
// counter is below the offset. No newline is added.
int FileInsert(const char *base, const char *ext, const char *tmpl);
// As FileInsert, only before lines holding pattern (the counter counts them).
int FileSearchInsert(const char *base, const char *ext, const char *tmpl, const char *pattern);
// Keeps the first n lines holding pattern and deletes every later one.
int FileDelLine(const char *base, const char *ext, int n, const char *pattern);
// Keeps the first n lines holding open; deletes each later one together with
// the next line holding close (and not open) for each such pending pair.
int FileDelLinePair(const char *base, const char *ext, int n, const char *open, const char *close);
// Closes pIn and pOut, opens base.ext into pIn ("rt") and its temporary into
// pOut ("wt"), fatally on failure. Returns pOut.
FILE *OpenIOFiles(const char *base, const char *ext);
// Closes pIn and pOut (both null afterwards) and renames FnOut over Fn.
// Returns 0 when replaced, non-zero otherwise.
int ReplaceInputFile(void);
// Capitalised name built from the runs of letters and digits of text, from
// its first letter on ("printer queue-name 2" gives "PrinterQueueName2"), in
// a static buffer of 255 bytes valid until the next call.
char *GenName(const char *text);
