// NlsLang.h - the language part of the translation catalog: the alias table
// of trans.conf and the choice of a language code by alias. It needs nothing
// but the support utilities, so that programs without the catalog's record
// store (the installer) choose languages by the same table and rules.
//
// Alias tables are kept in a normalised form: one line per language, "code =
// alias alias ... \n", every word followed by one blank, a line's last word
// by " \n"; a line without "=" continues the alias list of the line above; a
// line "Default code \n" names the language of an unknown LANG. Every table
// and code returned here is a new memory-manager block (PutMem).
#pragma once

// The chosen language code ("en_US", "ge_GE", ...); null until chosen. A host
// program may set it beforehand to impose a language.
extern char *pNLSLang;

// New normalised alias table read from "<dir>/<name>" (dir null: the
// working directory); null when the file is missing or empty.
char *NlsReadTransFile(const char *dir, const char *name);

// The normalised form of a trans.conf text (comments dropped, blanks folded,
// CR LF line ends accepted). Null only for a null text.
char *NlsNormaliseTrans(const char *text);

// The code of the first line of the normalised table that lists alias as a
// whole word among its aliases (the words behind "="), "en_US" for an alias
// listed before any language, or null when no line lists it, for an empty
// alias, and for one holding a blank or being "=" (no alias is).
char *NlsAliasCode(const char *table, const char *alias);

// The code of the table's Default line, or null when it has none.
char *NlsDefaultCode(const char *table);
