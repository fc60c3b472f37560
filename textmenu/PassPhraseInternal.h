// PassPhraseInternal.h - the pass-phrase prompt with a time limit of the
// caller's choice. GetPassPhrase is this with its fixed 60 seconds; the tests
// use a shorter limit so that a time-out can be watched without waiting.
#pragma once

// As GetPassPhrase, with `seconds` for the whole line.
char *GetPassPhraseWithin(const char *prompt, int seconds);
