// Agreement and language choice.
//
// Two choices are made from LANG, once per run, and cached: the agreement's
// language through the alias table pTransBuf (the catalog's trans.conf, built
// in; 16 keys, 15 agreements: da_DK has none and falls back to English) and
// the catalog's own alias lookup, and the message language through the
// six exact keys of the message tables. Both cut LANG at its "." in the
// process environment, so every command started later sees LANG without a
// codeset suffix.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "MemMgr.h"
#include "NlsLang.h"
#include "setup.h"
#include "utils.h"

const char *const *pCurLang = nullptr;

namespace {

// Agreement languages by their position in the keyword list below.
const char *const EULA_KEYS =
    ",en_US,es_ES,it_IT,fr_FR,ge_GE,pr_BR,cs_CZ,fi_FI,hu_HU,nl_NL,no_NO,pl_PL,ru_RU,sv_SE,tr_TR,";

// Message languages: position 1 and no match mean English.
const char *const NLS_KEYS = ",en_US,es_ES,it_IT,fr_FR,ge_GE,pr_BR";

// LANG without its codeset suffix, the cut made in the environment itself;
// null when LANG is unset.
const char *langWithoutCodeset(void) {
    const char *value = getenv("LANG");
    if (value == nullptr) return nullptr;
    const char *dot = strchr(value, '.');
    if (dot != nullptr) {
        char *cut = SaveStr("%.*s", static_cast<int>(dot - value), value);
        setenv("LANG", cut, 1);
        PutMem(cut);
        value = getenv("LANG");
    }
    return value;
}

// The agreement text at a 1-based position of EULA_KEYS, English otherwise.
const char *eulaAt(int position) {
    const char *const texts[] = {pEnglishEULA,   pSpanishEULA,    pItalianEULA,   pFrenchEULA,
                                 pGermanEULA,    pPortugueseEULA, pCzechEULA,     pFinnishEULA,
                                 pHungarianEULA, pDutchEULA,      pNorwegianEULA, pPolishEULA,
                                 pRussianEULA,   pSwedishEULA,    pTurkishEULA};
    if (position < 1 || position > static_cast<int>(sizeof texts / sizeof texts[0]))
        return pEnglishEULA;
    return texts[position - 1];
}

// The key of the first line of the alias table that lists value as one of
// its aliases, by the catalog's whole-word lookup; null when no line does.
char *keyOfAlias(const char *value) {
    char *table = NlsNormaliseTrans(pTransBuf);
    char *key = NlsAliasCode(table, value);
    PutMem(table);
    return key;
}

} // namespace

const char *GetTargetNLSLang(void) {
    if (pNLSLang != nullptr) return pNLSLang;

    const char *value = langWithoutCodeset();
    pNLSLang = keyOfAlias(value != nullptr ? value : "en_US");
    if (pNLSLang == nullptr) pNLSLang = SaveStr_("en_US");
    return pNLSLang;
}

int UserAcceptedEULA(const char *arg) {
    (void)arg;
    const char *text = eulaAt(FindToken(GetTargetNLSLang(), EULA_KEYS));
    if (GetTermSize(nullptr, nullptr)) {
        // On a terminal the agreement is read a screenful at a time; 'q'
        // goes straight to its question, the last line.
        const char *question = strrchr(text, '\n');
        PageText(text, question ? static_cast<size_t>(question + 1 - text) : 0, 0);
        fputs(" ", stdout);
    } else {
        printf("%s ", text);
    }
    fflush(stdout);

    char answer[4] = {0};
    if (Gets(answer, sizeof answer) == nullptr) return 0;
    // An answer longer than the buffer ("yes") leaves the rest of its line
    // unread; drop it so that the next prompt does not read it as an answer.
    if (strlen(answer) == sizeof answer - 1) {
        int c;
        while ((c = getchar()) != EOF && c != '\n') {
        }
    }
    return answer[0] == 'y' || answer[0] == 'Y';
}

const char *nlsSetupStrCvt(int index) {
    if (pCurLang == nullptr) {
        const char *value = langWithoutCodeset();
        switch (value == nullptr ? 0 : FindToken(value, NLS_KEYS)) {
        case 2:
            pCurLang = NLS_SPANISH;
            break;
        case 3:
            pCurLang = NLS_ITALIAN;
            break;
        case 4:
            pCurLang = NLS_FRENCH;
            break;
        case 5:
            pCurLang = NLS_GERMAN;
            break;
        case 6:
            pCurLang = NLS_PORTUGUESE;
            break;
        default:
            pCurLang = NLS_ENGLISH;
            break;
        }
    }
    if (index < 0 || index >= NLS_MSG_COUNT) return "";
    return pCurLang[index];
}

int nlsPrint(FILE *out, int index, ...) {
    va_list ap;
    va_start(ap, index);
    // The format is a message of the tables; the unit tests hold every
    // translation to the English entry's conversions.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int n = vfprintf(out, nlsSetupStrCvt(index), ap);
#pragma GCC diagnostic pop
    va_end(ap);
    return n;
}

int nlsFormat(char *buf, size_t size, int index, ...) {
    va_list ap;
    va_start(ap, index);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int n = vsnprintf(buf, size, nlsSetupStrCvt(index), ap);
#pragma GCC diagnostic pop
    va_end(ap);
    return n;
}
