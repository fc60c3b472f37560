// The installer's options: one static table of every option that may come
// before the work area and the install root, read by one parser, and listed
// by the usage text from the same table.
//
// Options come first; "--" ends them, and every word behind it is a word of
// the positional grammar ("install", "-v", a work area, an install root).
// "-h" and "--help" anywhere before "--" print the usage and end the run
// before anything is asked.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>

#include "MemMgr.h"
#include "setup.h"
#include "utils.h"

unsigned char flAcceptAgreement = 0;
unsigned char flStopOldDaemon = 0;
long nWaitSeconds = SETUP_DEFAULT_WAIT;
unsigned char flWaitGiven = 0;
char *pReportPath = nullptr;
unsigned char flVerify = 0;
unsigned char flUninstall = 0;
unsigned char flPreview = 0;
unsigned char flForce = 0;

namespace {

// The longest wait --wait takes: a week is more than any upgrade window.
constexpr long MAX_WAIT_SECONDS = 7L * 24 * 3600;

void takeWait(const char *arg) {
    char *end = nullptr;
    errno = 0;
    long value = strtol(arg, &end, 10);
    if (arg[0] < '0' || arg[0] > '9' || *end != 0 || errno != 0 || value > MAX_WAIT_SECONDS)
        refuseCommandLine("--wait takes a whole number of seconds from 0 to %ld, not \"%s\"",
                          MAX_WAIT_SECONDS, arg);
    nWaitSeconds = value;
    flWaitGiven = 1;
}

// The report is written after the installer has changed its working
// directory, so a relative path is made full from where it was started.
void takeReport(const char *arg) {
    if (arg[0] == 0) refuseCommandLine("--report takes a file name, not an empty word");
    if (pReportPath != nullptr) PutMem(pReportPath);
    if (arg[0] == '/') {
        pReportPath = SaveStr_(arg);
        return;
    }
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr)
        refuseCommandLine("the report \"%s\" is not a full path and the working directory "
                          "cannot be determined",
                          arg);
    pReportPath = strcmp(cwd, "/") == 0 ? SaveStr("/%s", arg) : SaveStr("%s/%s", cwd, arg);
}

const SetupOption OPTIONS[] = {
    {"--accept-agreement", nullptr, &flAcceptAgreement, nullptr,
     "accept the licence agreement without showing it or asking; the\n"
     "run log records the acceptance and the agreement's language. Nothing\n"
     "is then read from standard input: every question takes the answer\n"
     "given below or ends the run"},
    {"--wait", "SECONDS", nullptr, takeWait,
     "when programs of the suite still run, wait at most SECONDS (default\n"
     "300) for them to end, then end with status 1 naming them; 0 ends at\n"
     "once. Without --accept-agreement only when given"},
    {"--stop-old-daemon", nullptr, &flStopOldDaemon, nullptr,
     "when the print daemon DPrintD of an older release is installed,\n"
     "stop it and go on; without this option an unattended run ends with\n"
     "status 1 naming the daemon"},
    {"--report", "FILE", nullptr, takeReport,
     "at every end of the run write FILE, replaced whole, as one JSON\n"
     "object: status, version, install_root, app_dir, print_system,\n"
     "previous_install, moved_from, failed_steps, changed, log, seconds.\n"
     "FILE must not be a link nor lie in a directory others may write"},
    {"--verify", nullptr, &flVerify, nullptr,
     "compare every path the manifest " SETUP_MANIFEST " lists with\n"
     "the host and print one line per path that differs (S size, M mode, 5\n"
     "digest, L link target, U user, G group, or missing); changes nothing.\n"
     "Takes at most an INSTALL-ROOT, which must be the manifest's"},
    {"--uninstall", nullptr, &flUninstall, nullptr,
     "remove what the manifest lists, after the process guard and one\n"
     "question (none with --accept-agreement): files first, then the\n"
     "directories left empty; a file changed since the installation stays\n"
     "unless --force. Takes at most an INSTALL-ROOT, which must be the\n"
     "manifest's"},
    {"--force", nullptr, &flForce, nullptr,
     "with --uninstall: remove changed files too"},
    {"--preview", nullptr, &flPreview, nullptr,
     "run the installation on copy-on-write layers over /usr, /var, /etc\n"
     "and the install root in private namespaces, then list what it would\n"
     "create (+), change (~) and remove (-) and end with the status it\n"
     "would have had; the host stays as it is. Needs root"},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const SetupOption *findOption(const char *word, size_t len) {
    for (const SetupOption *o = OPTIONS; o->name != nullptr; ++o)
        if (strlen(o->name) == len && strncmp(o->name, word, len) == 0) return o;
    return nullptr;
}

// Reads the option at argv[*i] (and its argument), moving *i past them.
void takeOption(int argc, char **argv, int *i) {
    const char *word = argv[*i];
    const char *eq = strchr(word, '=');
    size_t len = eq != nullptr ? static_cast<size_t>(eq - word) : strlen(word);
    const SetupOption *o = findOption(word, len);
    if (o == nullptr)
        refuseCommandLine("unknown option \"%s\" (a work area or install root that "
                          "begins with \"-\" is given as ./%s)",
                          word, word);
    const char *arg = nullptr;
    if (o->argName != nullptr) {
        if (eq != nullptr)
            arg = eq + 1;
        else if (*i + 1 < argc)
            arg = argv[++*i];
        else
            refuseCommandLine("%s needs %s", o->name, o->argName);
    } else if (eq != nullptr) {
        refuseCommandLine("%s takes no value", o->name);
    }
    if (o->flag != nullptr) *o->flag = 1;
    if (o->take != nullptr) o->take(arg);
}

} // namespace

const SetupOption *SetupOptions(void) {
    return OPTIONS;
}

void printOptionHelp(FILE *out) {
    for (const SetupOption *o = OPTIONS; o->name != nullptr; ++o) {
        std::string head = std::string("  ") + o->name;
        if (o->argName != nullptr) head += std::string(" ") + o->argName;
        fprintf(out, "%s\n", head.c_str());
        for (const char *line = o->help; *line != 0;) {
            const char *end = strchr(line, '\n');
            size_t n = end != nullptr ? static_cast<size_t>(end - line) : strlen(line);
            fprintf(out, "      %.*s\n", static_cast<int>(n), line);
            line += n + (end != nullptr ? 1 : 0);
        }
    }
}

std::vector<char *> parseSetupOptions(int argc, char **argv) {
    // The program's name stays in front, so that the positional grammar
    // counts the first word behind the options as position 1.
    std::vector<char *> words{argv[0]};
    int i = 1;
    bool ended = false; // "--" was met: every later word is positional
    while (i < argc && !ended) {
        const char *word = argv[i];
        if (strcmp(word, "--") == 0) {
            ended = true;
        } else if (strncmp(word, "--", 2) == 0) {
            takeOption(argc, argv, &i);
        } else {
            break; // the first positional word ("-v" and "-x" included)
        }
        ++i;
    }
    for (; i < argc; ++i) {
        char *word = argv[i];
        if (!ended && strcmp(word, "--") == 0) {
            ended = true; // behind a positional word "--" still ends the options
            continue;
        }
        // Before "--" a word that begins with "-" is refused as before, "-v"
        // apart; an option there is named as one that came too late.
        if (!ended && word[0] == '-' && strcmp(word, "-v") != 0) {
            if (findOption(word, strcspn(word, "=")) != nullptr)
                refuseCommandLine("the option \"%s\" comes after a work area, an install root "
                                  "or \"install\"; options come first",
                                  word);
            refuseCommandLine("unknown option \"%s\" (a work area or install root that "
                              "begins with \"-\" is given as ./%s)",
                              word, word);
        }
        words.push_back(word);
    }
    words.push_back(nullptr);
    return words;
}

void checkOperationWords(int argc) {
    const char *operation = nullptr;
    for (const SetupOption *o = OPTIONS; o->name != nullptr; ++o) {
        if (o->flag == nullptr || !*o->flag ||
            (o->flag != &flVerify && o->flag != &flUninstall && o->flag != &flPreview))
            continue;
        if (operation != nullptr)
            refuseCommandLine("%s and %s cannot be given together", operation, o->name);
        operation = o->name;
    }
    if (flForce && !flUninstall) refuseCommandLine("--force goes only with --uninstall");
    if ((flVerify || flUninstall) && argc > 2)
        refuseCommandLine("%s takes at most an install root", operation);
}
