// NlsPriv.h - helpers the two sources of the catalog share; not for callers.
#pragma once

#include <cstddef>

#include "Dbm.h"

// "section_number" in the lookups' key buffer (valid until the next call).
char *NlsFormatKey(int section, int number);

// The text of key in db, or null when db, key or the record is missing. The
// text lives in the shared fetch buffer until the next lookup; a text longer
// than that buffer comes in a new block that is also stored in *owned (the
// caller frees it with PutMem). *owned is null otherwise.
const char *NlsLookup(DbT *db, const char *key, char **owned);

// Forgets the chosen language and the alias table, so that the next
// GetDesiredNLSLang chooses again (for tests and fuzzing; a program chooses
// once).
void NlsForgetLanguage(void);
