// ToolInit.cpp - the set-up of a host program of the library (DornaTool.h).
#include "DornaTool.h"

#include <cstdio>
#include <cstdlib>

namespace {

// What the last DornaToolInit made, so that a second call gives it back
// instead of leaking it; a value the host set itself is never freed.
struct Made {
    char *name = nullptr;  // my_name
    char *root = nullptr;  // pToolPath
    char *lang = nullptr;  // pNLSLang
    char *title = nullptr; // pTtyHtmlTitle
} M;

// Sets *global to value; the former value is freed when this file made it.
void Replace(char **global, char **made, char *value) {
    if (*global == *made) PutMem(*made);
    *global = value;
    *made = value;
}

} // namespace

int DornaToolInit(const char *argv0, const char *toolRoot, const char *lang) {
    if (argv0 != nullptr) Replace(&my_name, &M.name, SaveStr_(StripPath(argv0)));
    Replace(&pToolPath, &M.root,
            toolRoot != nullptr ? SaveStr_(toolRoot) : DbmDefaultToolRoot(nullptr));
    if (lang != nullptr)
        Replace(&pNLSLang, &M.lang, NlsLangFor(lang));
    else if (pNLSLang == nullptr)
        Replace(&pNLSLang, &M.lang, NlsLangFor(getenv("LANG")));
    if (pDrvCoreDB != nullptr) DbTClose(pDrvCoreDB);
    pDrvCoreDB = NlsOpenDB("CoreString", DBT_NOREFRESH);
    if (pTtyHtmlTitle == nullptr || pTtyHtmlTitle == M.title)
        Replace(&pTtyHtmlTitle, &M.title, TtyHelpDefaultTitle());
    if (pDrvCoreDB == nullptr) {
        fprintf(stderr, "%s: the catalog under %s cannot be read\n", my_name ? my_name : "",
                pToolPath ? pToolPath : ".");
        return 0;
    }
    return 1;
}
