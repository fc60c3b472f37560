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

#include <cstddef>
#include <cstdint>
#include <cstdio>

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
// token goes into the caller's out buffer (which must hold the longest token
// plus its terminator). in: a text (starts there), null or TOKEN_LINE_MODE
// (continue from *cursor). Sets chTokenDel only. Returns out, or null.
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
// their order, a missing delimiter between items is added. Null: no effect.
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
// Copies len bytes from src to dst, in reverse order when reverse is non-zero
// (byte-order conversion). The areas must not overlap.
void SetVarContent(void *dst, const void *src, int len, int reverse);
// Converts value from unit `from` to unit `to` (CVT_INCH, CVT_CM, CVT_POINT);
// any other pair gives value unchanged.
float CvtFloatFormat(float value, int from, int to);
// The larger of a and b; b when they are equal or either is not a number.
double MaxD(double a, double b);

// ---------------------------------------------------------------------------
// Diagnostics and log (Log.cpp)
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// File helpers (File.cpp)
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Line input (Input.cpp)
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// In-place editing (Edit.cpp)
// ---------------------------------------------------------------------------
