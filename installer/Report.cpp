// The report of --report: one JSON object that a configuration-management
// engine reads back after the run. It is written at every exit after the
// options were read - success, failure or refusal - by an exit handler, so
// that no stop of the run, wherever it happens, goes unreported; the file
// is replaced whole (ReplaceOpen/ReplaceCommit), so a reader never sees half
// a report or the report of an earlier run under a new status.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "MemMgr.h"
#include "setup.h"
#include "utils.h"

unsigned char flChangedHost = 0;
char *pMovedFrom = nullptr;

namespace {

// The run's clock and whether the exit handler is in place.
struct ReportState {
    double started = 0;      // monotonic seconds at startReport
    bool registered = false; // the exit handler is registered
};
ReportState g_report;

double monotonicNow(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The print system the installation's flags file names ("CUPS", "LPRng",
// "BSD"), or empty when there is none.
std::string printSystem(void) {
    if (pAppDir == nullptr) return "";
    std::string path = std::string(pAppDir) + "/.dp_cfg";
    FILE *f = fopen(path.c_str(), "re");
    if (f == nullptr) return "";
    char text[64] = {0};
    size_t n = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    text[n] = 0;
    std::string word;
    for (const char *p = text; *p; ++p)
        if (*p != ' ' && *p != '\n') word += *p;
    for (const char *known : {"CUPS", "LPRng", "BSD"})
        if (word == known) return word;
    return "";
}

// The last line of the run log that begins with "ERROR" (the command layer's
// report of a command that stopped the run), or empty.
std::string lastLoggedError(const std::string &log) {
    FILE *f = fopen(log.c_str(), "re");
    if (f == nullptr) return "";
    std::string last;
    char line[1024];
    while (fgets(line, sizeof line, f) != nullptr) {
        if (strncmp(line, "ERROR", 5) != 0) continue;
        last = line;
        while (!last.empty() && last.back() == '\n')
            last.pop_back();
    }
    fclose(f);
    return last;
}

void reportAtExit(int status, void *) {
    writeReport(status);
}

[[noreturn]] void refuseReport(const char *why) {
    fprintf(stderr, "ERROR: the report %s cannot be used: %s\n", jsonQuote(pReportPath).c_str(),
            why);
    exit_app(2);
}

} // namespace

std::string jsonQuote(const char *text) {
    if (text == nullptr) return "null";
    std::string out = "\"";
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    size_t n = strlen(text);
    for (size_t i = 0; i < n;) {
        unsigned c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7f) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
            ++i;
        } else {
            size_t len = Utf8ValidLen(text + i, n - i);
            if (len == 0) {
                out += "\\ufffd";
                ++i;
            } else {
                out.append(text + i, len);
                i += len;
            }
        }
    }
    return out + "\"";
}

void requireReportPath(void) {
    if (pReportPath == nullptr) return;
    struct stat st;
    if (lstat(pReportPath, &st) == 0) {
        if (S_ISLNK(st.st_mode)) refuseReport("it is a symbolic link");
        if (!S_ISREG(st.st_mode)) refuseReport("it is not a plain file");
    }
    std::string dir(pReportPath);
    size_t slash = dir.find_last_of('/');
    dir = slash == 0 ? "/" : dir.substr(0, slash);
    if (slash + 1 >= strlen(pReportPath)) refuseReport("it names a directory, not a file");
    if (lstat(dir.c_str(), &st) != 0) refuseReport("its directory does not exist");
    if (!S_ISDIR(st.st_mode)) refuseReport("its directory is not a real directory");
    // Not even a sticky directory will do: another user could put his own
    // file or link under the name between two runs for the reader to trust.
    bool othersWrite =
        (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && st.st_gid != 0);
    if (othersWrite || (st.st_uid != 0 && st.st_uid != geteuid()))
        refuseReport("its directory may be written by other users");
    char *bad = nullptr;
    const char *why = nullptr;
    if (findUntrustedDirectory(dir.c_str(), &bad, &why)) {
        std::string text = std::string("the directory ") + jsonQuote(bad) + " above it is " + why;
        PutMem(bad);
        refuseReport(text.c_str());
    }
}

void startReport(void) {
    if (pReportPath == nullptr || g_report.registered) return;
    g_report.started = monotonicNow();
    g_report.registered = on_exit(reportAtExit, nullptr) == 0;
}

int writeReport(int status) {
    if (pReportPath == nullptr) return 0;
    std::string log = std::string("/tmp/") + (my_name != nullptr ? my_name : "setup") + ".log";
    std::vector<std::string> failed = failedStepTexts();
    if (status != 0 && failed.empty()) {
        std::string error = lastLoggedError(log);
        failed.push_back(!error.empty() ? error
                                        : "setup ended with status " + std::to_string(status));
    }
    const char *root = pTargetInstallDir != nullptr ? pTargetInstallDir : pCmdLineInstallDir;
    std::string printer = printSystem();

    std::string json = "{";
    json += "\"status\": " + std::to_string(status);
    json += ", \"version\": " + jsonQuote(SETUP_VERSION);
    json += ", \"install_root\": " + jsonQuote(root);
    json += ", \"app_dir\": " + jsonQuote(pAppDir);
    json += ", \"print_system\": " + jsonQuote(printer.empty() ? nullptr : printer.c_str());
    json += ", \"previous_install\": " + jsonQuote(pCurrentInstallDir);
    json += ", \"moved_from\": " + jsonQuote(pMovedFrom);
    json += ", \"failed_steps\": [";
    for (size_t i = 0; i < failed.size(); ++i)
        json += (i > 0 ? ", " : "") + jsonQuote(failed[i].c_str());
    json += "]";
    json += std::string(", \"changed\": ") + (flChangedHost ? "true" : "false");
    json += ", \"log\": " + jsonQuote(log.c_str());
    char seconds[32];
    snprintf(seconds, sizeof seconds, "%.3f", monotonicNow() - g_report.started);
    json += std::string(", \"seconds\": ") + seconds;
    json += "}\n";

    std::string temp = std::string(pReportPath) + ".new";
    FileReplacement r;
    if (!ReplaceOpen(&r, pReportPath, temp.c_str(), -1, REPLACE_DROP_LEFTOVER)) {
        fprintf(stderr, "ERROR: the report %s cannot be written: %s\n",
                jsonQuote(temp.c_str()).c_str(), strerror(r.Errno));
        return 0;
    }
    fputs(json.c_str(), r.pOut);
    if (!ReplaceCommit(&r, nullptr)) {
        fprintf(stderr, "ERROR: the report %s cannot be written: %s\n",
                jsonQuote(pReportPath).c_str(), strerror(r.Errno));
        return 0;
    }
    return 1;
}
