// Language choice and catalog lookups.
#include "NlsUtils.h"

#include <cstdarg>

char *pNLSLang = nullptr;
DbT *pDrvCoreDB = nullptr;
DbT *pPrtHelpDB = nullptr;
char NlsBuf[NLS_BUF_SIZE];

namespace {
char EnglishCode[] = "en_US";
char ErrorText[] = "Error";
} // namespace

char *GetDesiredNLSLang(void) { return pNLSLang ? pNLSLang : EnglishCode; }

char *ParseTransFile(const char *) { return nullptr; }

DbT *NlsOpenDB(const char *, uint32_t) { return nullptr; }

char *NlsFetchString(DbT *, char *, int, ...) { return ErrorText; }

char *FindRedirect(char *) { return nullptr; }

char *CheckForRedirect(char *) { return nullptr; }

char *NlsCalcStrVal(const char *) { return ErrorText; }
