// The option table reader and the tool root of the suite's tools.
#include "ToolOptions.h"

#include <cstdlib>

#include "Dbm.h"
#include "MemMgr.h"
#include "utils.h"

namespace {

// Whether the word is an option rather than an operand. Read in front, a lone
// "-" or "-x" is an operand, so that such a file name needs no "--" before it.
bool IsOptionWord(const std::string &w, bool anywhere) {
    if (anywhere) return w.size() >= 2 && w[0] == '-';
    return w.size() >= 3 && w.compare(0, 2, "--") == 0;
}

} // namespace

int ToolParseOptions(const ToolOption *table, size_t rows, std::vector<std::string> *args,
                     unsigned *given, std::string *bad, const ToolOptionRules *rules) {
    static const ToolOptionRules inFront;
    const ToolOptionRules &r = rules ? *rules : inFront;
    // Operands met between options; args changes only when the reading ends well.
    std::vector<std::string> operands;
    unsigned met = 0;
    size_t i = 0;
    for (; i < args->size(); ++i) {
        const std::string &w = (*args)[i];
        if (!r.anywhere && w == "--") {
            ++i;
            break;
        }
        if (!IsOptionWord(w, r.anywhere)) {
            if (!r.anywhere) break;
            if (operands.size() >= r.maxOperands) {
                *bad = w;
                return TOOLOPT_EXTRA;
            }
            operands.push_back(w);
            continue;
        }
        const ToolOption *opt = table;
        while (opt != table + rows && w != opt->name)
            ++opt;
        if (opt == table + rows) {
            *bad = w;
            return TOOLOPT_UNKNOWN;
        }
        if (r.once && (met & opt->bit)) {
            *bad = w;
            return TOOLOPT_TWICE;
        }
        if (opt->value != nullptr) {
            if (i + 1 == args->size()) {
                *bad = w;
                return TOOLOPT_NO_VALUE;
            }
            *opt->value = (*args)[++i];
        }
        met |= opt->bit;
        *given |= opt->bit;
        if (opt->bit & r.stop) {
            *bad = w;
            return TOOLOPT_STOP;
        }
    }
    if (r.anywhere) {
        *args = std::move(operands);
        return TOOLOPT_OK;
    }
    if (args->size() - i > r.maxOperands) {
        *bad = (*args)[i + r.maxOperands];
        return TOOLOPT_EXTRA;
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
    return DbmDefaultToolRoot(buildRoot);
}
