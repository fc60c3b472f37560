// Agreement and language choice.
//
// Two choices are made from LANG, once per run, and cached: the agreement's
// language through the alias table pTransBuf (16 keys, 15 agreements: da_DK
// has none and falls back to English), and the message language through the
// six exact keys of the message tables. Both cut LANG at its "." in the
// process environment, so every command started later sees LANG without a
// codeset suffix.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "MemMgr.h"
#include "setup.h"
#include "utils.h"

const char *pTransBuf = "en_US = en_US en english en_AU en_BW en_CA\n"
                        "en_DK en_GB en_IE en_NZ en_SE en_ZA en_ZW\n"
                        "pr_BR = pr_BR pt portuguese pt_BR pt_PT\n"
                        "fr_FR = fr_FR fr français french fr_BE fr_CA fr_CH fr\n"
                        "it_IT = it_IT it italian\n"
                        "ge_GE = ge_GE ge german de de_AT de_CH De_DE de_DE\n"
                        "es_ES = es_ES es spanish español es_AR es_BO es_CL es_CO es_CR "
                        "es_EC es_GT es_MX es_NI es_PA es_PE es_PY es_SV es_UY es_VE\n"
                        "cs_CZ = cs_CZ\n"
                        "fi_FI = fi_FI finnish sv_FI\n"
                        "hu_HU = hu_HU hungarian\n"
                        "nl_NL = nl_NL nl_BE\n"
                        "no_NO = nb_NO nn_NO no_NO norwegian nynorsk se_NO\n"
                        "pl_PL = pl_PL\n"
                        "ru_RU = ru_RU russian ru_UA\n"
                        "sv_SE = sv_FI sv_SE\n"
                        "tr_TR = tr_TR\n"
                        "da_DK = da_DK danish dansk\n";

const char *const *pCurLang = nullptr;
char *pNLSLang = nullptr;

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
// its aliases (the words behind "="; a line without "=" continues the line
// before it), or null when no line does. Whole words only: a part of a longer
// word ("es" inside "portuguese") names no language.
char *keyOfAlias(const char *value) {
    if (*value == 0) return nullptr;
    const size_t want = strlen(value);
    std::string key;
    for (const char *line = pTransBuf; *line != 0;) {
        const char *end = strchr(line, '\n');
        if (end == nullptr) end = line + strlen(line);
        const char *words = line;
        const char *eq =
            static_cast<const char *>(memchr(line, '=', static_cast<size_t>(end - line)));
        if (eq != nullptr) {
            key.assign(line, strcspn(line, " ="));
            words = eq + 1;
        }
        for (const char *w = words; w < end;) {
            w += strspn(w, " ");
            size_t len = strcspn(w, " \n");
            if (len == want && strncmp(w, value, len) == 0) return SaveStr_(key.c_str());
            w += len;
        }
        line = *end != 0 ? end + 1 : end;
    }
    return nullptr;
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
    printf("%s ", text);
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
