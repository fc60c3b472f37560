// Queue script generation: the shell scripts through which the host's print
// systems call the suite's print programs, and the launchers in /usr/bin.
//
// Every script is the first line, the maker's banner with the current year
// and one template of installer/templates (turned into code by the build).
// Templates hold "%s" and "%d" placeholders, filled in order from the values
// the generator passes, and "%%" for a literal percent sign. They are filled
// by FillTemplate below rather than by printf: a template is data, and a
// stray conversion in it must not read arguments that were never passed.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "SysCmd.h"
#include "setup.h"
#include "utils.h"

namespace {

// Closes a stream on every path out of a generator.
struct FileCloser {
    FILE *fp;
    ~FileCloser() {
        if (fp) fclose(fp);
    }
};

// Writes tmpl to fp with each "%s" or "%d" replaced by the next of the count
// values (the empty text once they run out) and "%%" by "%". Any other "%"
// is written as it stands. Extra values are not used.
void FillTemplate(FILE *fp, const char *tmpl, const char *const *values, int count) {
    int next = 0;
    for (const char *p = tmpl; *p; ++p) {
        if (p[0] != '%' || (p[1] != 's' && p[1] != 'd' && p[1] != '%')) {
            fputc(*p, fp);
            continue;
        }
        ++p;
        if (*p == '%') {
            fputc('%', fp);
        } else if (next < count) {
            const char *value = values[next++];
            fputs(value ? value : "", fp);
        }
    }
}

// The local calendar year, for the banner.
int CurrentYear(void) {
    time_t now = time(nullptr);
    struct tm parts;
    if (localtime_r(&now, &parts) == nullptr) return 1900;
    return parts.tm_year + 1900;
}

// Year of WriteScript: read the clock once the file is open.
constexpr int YEAR_AFTER_OPEN = -1;

// Writes one script: first line, banner with `year`, filled template; then
// makes it executable. Returns 1, or 0 when the file cannot be opened or
// written in full (a cut script is not made executable).
int WriteScript(const char *path, const char *firstLine, int year, const char *tmpl,
                const char *const *values, int count) {
    FileCloser file{OpenFile(nullptr, path, "w+", REPORT_ERROR)};
    if (file.fp == nullptr) return 0;
    if (year == YEAR_AFTER_OPEN) year = CurrentYear();

    char yearText[16];
    snprintf(yearText, sizeof yearText, "%d", year);
    const char *bannerValues[] = {yearText};

    fprintf(file.fp, "%s\n", firstLine ? firstLine : "");
    FillTemplate(file.fp, ScriptBanner, bannerValues, 1);
    FillTemplate(file.fp, tmpl ? tmpl : "", values, count);
    int failed = ferror(file.fp);
    failed |= fclose(file.fp);
    file.fp = nullptr;
    if (failed) {
        fprintf(stderr, "ERROR: couldn't write %s\n", path);
        return 0;
    }

    // Mode 0: the script is written; a failing chmod is not worth a stop.
    // A launcher's name comes from the package list: one literal word.
    SysChangeAttr(CMD_CHMOD, RUN_SILENT, "755", path, false);
    return 1;
}

// Joins a path into buf; 0 (after an error line) when it does not fit, so
// that a cut path never names a file we did not mean.
[[gnu::format(printf, 3, 4)]] int JoinPath(char *buf, size_t size, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int n = VFormatBounded(buf, size, format, args);
    va_end(args);
    if (n < 0) {
        fprintf(stderr, "ERROR: path too long: %.60s...\n", buf);
        return 0;
    }
    return 1;
}

} // namespace

int generateDornaPrintdpxxScript(const char *path, const char *firstLine, const char *tmpl) {
    // The seventh value is passed for the template's sake but no placeholder
    // of the shipped template takes it.
    const char *values[] = {pAppDir,       SETUP_APPNAME, "dprintdpxx", "dprintdpxx",
                            SETUP_APPNAME, SETUP_APPNAME, SETUP_APPNAME};
    return WriteScript(path, firstLine, YEAR_AFTER_OPEN, tmpl, values, 7);
}

int generatev4DriverScript(const char *path, const char *firstLine, const char *tmpl) {
    const char *values[] = {pAppDir};
    return WriteScript(path, firstLine, YEAR_AFTER_OPEN, tmpl, values, 1);
}

int generateDornaDSFScript(const char *path, const char *firstLine, const char *tmpl,
                           const char *spoolDir) {
    const char *values[] = {pAppDir, spoolDir};
    return WriteScript(path, firstLine, YEAR_AFTER_OPEN, tmpl, values, 2);
}

int GenSimpleScript(const char *path, const char *firstLine, const char *tmpl, const char *dir,
                    const char *progDir, const char *progName) {
    // The launcher reads the clock before it opens its file.
    int year = CurrentYear();
    const char *values[] = {dir, progDir, progName};
    return WriteScript(path, firstLine, year, tmpl, values, 3);
}

void createQueueScripts(const char *spoolRoot) {
    char path[SETUP_PATH_MAX];
    char spoolDir[SETUP_PATH_MAX];

    // A script that is not written is a failed step: the print system would
    // run a cut script, or an old one that does not fit this installation.
    // The others are still written.
    if (!JoinPath(path, sizeof path, "%s/DornaPrintdpxx", pAppDir) ||
        !generateDornaPrintdpxxScript(path, ScriptShShell, DornaPrintdpxxScript))
        noteFailedStep(path, "queue interface script (%s)", path);

    if (!JoinPath(path, sizeof path, "%s/v4DriverScript", pAppDir) ||
        !generatev4DriverScript(path, ScriptShShell, pv4DriverScript))
        noteFailedStep(path, "driver interface script (%s)", path);

    if (!JoinPath(path, sizeof path, "%s/%s%s", pAppDir, SETUP_MAKER, "DSF") ||
        !JoinPath(spoolDir, sizeof spoolDir, "%s/%s", spoolRoot, SETUP_APPNAME) ||
        !generateDornaDSFScript(path, ScriptShShell, DornaDSFScript, spoolDir))
        noteFailedStep(path, "filter wrapper script (%s)", path);

    // printconf (the LPRng set-up tool of some hosts) lists the queue
    // interfaces found in its util directory. The link points into the
    // install root itself, not through the well-known location.
    if (SniffLprng() && FindFile("/usr/share/printconf", "util") &&
        !FindFile("/usr/share/printconf/util", "DornaPrintdpxx")) {
        SysCmd(CMD_LN, RUN_WARN,
               "-s %s/%s/%s/DornaPrintdpxx /usr/share/printconf/util/DornaPrintdpxx",
               pTargetInstallDir, SETUP_MAKER, SETUP_APPNAME);
        noteInstalledPath("/usr/share/printconf/util/DornaPrintdpxx");
    }
}
