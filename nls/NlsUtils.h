// NlsUtils.h - the translation catalog: the user's language, texts fetched by
// key from per-language databases, and those texts filled into menus,
// composed strings and formatted output.
//
// Where things live: "<pToolPath>/trans.conf" maps language codes to their
// aliases; "<pToolPath>/db/<language>/<name>.xdb" are the tagged stores of a
// language. A text is found by its key, normally "<section>_<number>" such as
// "25_1011".
//
// Lifecycle and ownership
// - The language is chosen once per process (GetDesiredNLSLang) and kept in
//   pNLSLang; a host program may set pNLSLang beforehand to impose one.
//   trans.conf is read once and kept.
// - The host opens pDrvCoreDB (normally NlsOpenDB("CoreString", 0)) and
//   pPrtHelpDB; the handles live for the process. A catalog does not change
//   under a running program: NlsOpenDB loads the file once, and its lookups
//   never look at the file again.
// - NlsFetchString without an output buffer returns a new memory-manager block
//   (free it with PutMem) when the key is found, and the key text - a static
//   buffer valid until the next lookup - when it is not. Callers recognise
//   "not found" by comparing the result with the key.
// - FindRedirect and CheckForRedirect edit the text they are given;
//   CheckForRedirect's result and NlsCalcStrVal's result are static buffers
//   overwritten by the next call.
// - Nothing here is thread-safe; the buffers are process-wide.
#pragma once

#include <cstdint>
#include <cstdio>

#include "Dbm.h"
#include "MenuRecords.h"
#include "NlsLang.h"

// Size of NlsBuf, the message buffer of Nlssprintf's callers.
constexpr int NLS_BUF_SIZE = 65535;
// Longest fetched text, its NUL included, that the copying lookups return
// whole in their buffer (mode 3 hands out larger texts in their own block).
constexpr int NLS_STR_SIZE = 2048;

// Lookup modes of NlsFetchString: how the key is given and how the text
// comes back.
// Mode 2 is a second name of NLS_KEY and behaves the same.
constexpr int NLS_NUMBER = 0;      // section, number; copied into out or a new block
constexpr int NLS_KEY = 1;         // key text; copied into out or a new block
constexpr int NLS_NUMBER_LONG = 3; // section, number; a new block of any length

// The core string database, through which the library modules fetch texts.
extern DbT *pDrvCoreDB;
// The help-text database that CheckForRedirect reads.
extern DbT *pPrtHelpDB;
// Message buffer for Nlssprintf's callers.
extern char NlsBuf[NLS_BUF_SIZE];

// ---------------------------------------------------------------------------
// Language choice and lookups (NlsUtils.cpp)
// ---------------------------------------------------------------------------

// The language code: pNLSLang when set; otherwise chosen from LANG (its
// codeset cut off) through the alias table of trans.conf, or of record 999_1
// of the English core database when there is no trans.conf, then kept in
// pNLSLang. An unknown LANG takes the table's Default line, else "en_US".
// Never null.
char *GetDesiredNLSLang(void);

// The language code for a value as LANG holds it ("de_DE.UTF-8", "de",
// "ge_GE"), by the rules above, as a new stored text (PutMem); null is taken
// as an unset LANG. pNLSLang is neither read nor set.
char *NlsLangFor(const char *lang);

// New normalised alias table (PutMem) read from "<pToolPath>/<name>": each
// word followed by one blank, a word at a line end by " \n", the word after
// "Default" always by " \n". Null when the file is missing or empty. A table
// longer than 8191 characters is cut at a whole word.
char *ParseTransFile(const char *name);

// Opens "<pToolPath>/db/<language>/<name>.xdb" with DbTOpen flags, always
// with DBT_NOREFRESH added: the image is loaded once and lookups never check
// the file again. A missing or empty English database prints "ERROR:  Could
// not open English database:  <path>" on standard error and gives null;
// another language's missing database gives the English database of that
// name instead, or, when that is missing too, an empty handle (lookups then
// fall back to the key).
DbT *NlsOpenDB(const char *name, uint32_t flags);

// Fetches a text by key. Modes NLS_NUMBER and NLS_NUMBER_LONG take two ints
// (section, number), NLS_KEY (and 2) a const char * key.
// Found: with out, the text is copied into out (at most NLS_STR_SIZE bytes
// with the NUL) and out is returned; without out, a new block (PutMem) holding
// the text. Mode NLS_NUMBER_LONG returns texts of any length this way.
// Not found: the key text, also copied into out when given. Without a handle a
// key lookup, or a numbered one with number 0, returns the shared "Error".
char *NlsFetchString(DbT *db, char *out, int mode, ...);

// The text of entry section/number of db as a new block (PutMem), or null
// when db or the entry is missing. Unlike NlsFetchString, "not found" is said
// by the result itself: a caller never compares a text with its key.
char *NlsFindText(DbT *db, int section, int number);

// The text of entry section/number of db, or english when db or the entry is
// missing (a catalog older than the program lacks the entries added since).
// A new block (PutMem) either way; null only when memory runs out.
char *NlsTextOr(DbT *db, int section, int number, const char *english);

// Finds a "$$name.redirect" marker (suffix in any case): cuts text at the "."
// and returns the name behind "$$". Null, text unchanged, without a marker.
char *FindRedirect(char *text);

// Follows a redirect marker in text: the name (at most 63 characters) goes to
// a static buffer that is returned, and text is replaced by that name's record
// of pPrtHelpDB, or by the name when it has none. text must be a writable
// buffer of NLS_STR_SIZE bytes. Null, text unchanged, without a marker.
char *CheckForRedirect(char *text);

// 16 hexadecimal digits "%08X%08X" of W = sum i*i*c[i] and S = sum c[i] over
// the text's characters as signed bytes (i from 1), both in 32-bit two's
// complement. Static buffer, overwritten by the next call.
char *NlsCalcStrVal(const char *text);

// ---------------------------------------------------------------------------
// Menus, composed strings and formatted output (NlsMenu.cpp)
// ---------------------------------------------------------------------------

// Stores a new copy (PutMem) of entry 25/number of pDrvCoreDB in *out and
// returns it; a missing entry gives its key text. Texts are cut at 127
// characters.
char *NlsTtyMenuCvt(char **out, int number);

// Fill pText, pStates or pPrompt of items[0 .. count-1] with new copies of
// entries 25/first, 25/first+1, ... of pDrvCoreDB (key text when missing, cut
// at 127 characters). Old field values are overwritten, not freed. Return
// count.
int NlsTtyMenuItemCvt(TextMenuItem *items, int first, int count);
int NlsTtyMenuItemStateCvt(TextMenuItem *items, int first, int count);
int NlsTtyMenuItemPromptCvt(TextMenuItem *items, int first, int count);

// Copies format into buf, each "%s" replaced by entry section/k of
// pDrvCoreDB for the k-th "%s" (key text when missing, at most 1023
// characters each); any other "%" is copied as it stands. The result is cut
// to len - 1 characters and always terminated. Returns buf.
char *NlsGuiStrCvt(const char *format, int section, char *buf, int len);

// Catalog texts used as printf formats. A catalog on disk is data that
// whoever may write it can change: a text with other conversions than the
// program's arguments ("%s%s%n") would read or write memory it must not.
// So a catalog text is used as a format only when its conversions are those
// of the English text of the same key, built into the program from
// catalog/en_US.po: the same conversions in the same order, and no %n.
struct NlsEnglishText {
    const char *key;  // "section_number"
    const char *text; // the English text
};
// Sorted by key, ended by a null row; generated at build time.
extern const NlsEnglishText NlsEnglishTexts[];

// The English text of key, or null when the program has none.
const char *NlsEnglishFor(const char *key);

// text, when it may be used as the format of key (see above); otherwise the
// English text of key (or, for a key the program has no English text of,
// the key itself), after "WARNING: the catalog text of <key> does not take
// the arguments of its English text; the English text is used" on standard
// error, once per key. A null text gives the English text without warning.
const char *NlsCheckedFormat(const char *key, const char *text);

// Writes entry section/number of db as a printf format with the remaining
// arguments to stream; exactly "Error" when the entry is missing. The format
// is checked with NlsCheckedFormat.
void Nlsfprintf(FILE *stream, DbT *db, int section, int number, ...);

// As Nlsfprintf into buf, which must hold NLS_BUF_SIZE bytes (NlsBuf does);
// longer output is cut there. "Error" when the entry is missing.
void Nlssprintf(char *buf, DbT *db, int section, int number, ...);
