// The option table reader and the tool root of the suite's tools.
#include "ToolOptions.h"

#include <cstdlib>

#include "MemMgr.h"
#include "utils.h"

int ToolParseOptions(const ToolOption *table, size_t rows, std::vector<std::string> *args,
                     unsigned *given, std::string *bad) {
    size_t i = 0;
    for (; i < args->size(); ++i) {
        const std::string &w = (*args)[i];
        if (w == "--") {
            ++i;
            break;
        }
        if (w.size() < 3 || w.compare(0, 2, "--") != 0) break;
        const ToolOption *opt = table;
        while (opt != table + rows && w != opt->name)
            ++opt;
        if (opt == table + rows) {
            *bad = w;
            return TOOLOPT_UNKNOWN;
        }
        if (opt->value != nullptr) {
            if (i + 1 == args->size()) {
                *bad = w;
                return TOOLOPT_NO_VALUE;
            }
            *opt->value = (*args)[++i];
        }
        *given |= opt->bit;
    }
    args->erase(args->begin(), args->begin() + static_cast<long>(i));
    return TOOLOPT_OK;
}

char *ToolRoot(const char *argv0, const char *buildRoot) {
    if (const char *root = getenv("DORNA_TOOL_ROOT"); root != nullptr && *root != '\0')
        return SaveStr_(root);
    char *dir = GetToolPath(argv0);
    if (FindFile_(dir, "db")) return dir;
    PutMem(dir);
    return SaveStr_(buildRoot);
}
