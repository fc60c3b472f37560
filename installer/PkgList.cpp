// Package list processing: carries out <work>/<pkg>/pkg.list, the list that
// comes with the archive and says what goes where.
//
// Each line is a directive word D, an argument A and attribute pairs
// KEY VALUE. Words are cut at blanks, carriage returns and newlines only (a
// tab belongs to its word). Directives and attributes are dispatched through
// the two tables below; a directive word that is in neither copies like "c",
// an unknown attribute key is skipped with its value. Every attribute acts on
// APP/A, whatever the directive did with A.
//
// Each line is cut into its parts (ParsePkgLine) before any of it runs, with
// GetTokenD on a private copy of the line: the process guard of "checkps",
// the log and the process queries all use the shared tokenizer and the
// shared line buffers, and must not move our position.
//
// The list comes with the vendor's archive and is carried out as root: every
// word of it that reaches a command line goes there as one literal word
// through the command layer's shell-word quoter, so that no character of a
// name, mode or value is read by a shell.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "MemMgr.h"
#include "SysCmd.h"
#include "setup.h"
#include "utils.h"

namespace {

// Longest physical line the line reader hands over whole.
constexpr int kMaxLine = 510;

constexpr const char *kWordDelims = " \r\n";

// What a directive leaves to do on its line.
enum class Next {
    Attributes, // read and apply the attribute pairs
    EndLine,    // ignore the rest of the line
    Redispatch, // the next word is a new directive (a "v" condition held)
    Quit,       // the user chose to quit at a "checkps" guard
};

// The line being carried out. One instance: the list is processed strictly
// line after line.
struct PkgState {
    const char *pkgDir;            // P: package directory inside the work directory
    int lineNo;                    // number of the line's first physical line in pkg.list
    int nextLineNo;                // number of the physical line after this one
    char text[LINE_BUF_SIZE];      // private copy of the line, backslash-newlines blanked
    PkgLine parsed;                // text cut into its parts
    size_t next;                   // index of the part NextWord takes next
    char directive[LINE_BUF_SIZE]; // D
    char arg[LINE_BUF_SIZE];       // A (empty when the line has none)
    char key[LINE_BUF_SIZE];       // KEY of the current attribute pair
    char value[LINE_BUF_SIZE];     // VALUE of the current attribute pair
};

PkgState g;

// Ends the program like a failed attribute command: "ERROR: ..." in the log
// and on standard output, status 1.
[[noreturn, gnu::format(printf, 1, 2)]] void StopList(const char *format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    PutLogMsg("ERROR: %s\n", text);
    printf("ERROR: %s\n", text);
    fflush(stdout);
    exit_app(1);
}

// Takes the next word of the line into out; 0 when the line has no more. A
// word longer than the tokenizer keeps stops the list when it is reached:
// cut, it would name another file than the one the list means.
int NextWord(char *out) {
    out[0] = '\0';
    if (g.next < g.parsed.words.size()) {
        const std::string &word = g.parsed.words[g.next++].text;
        size_t len = word.size() < LINE_BUF_SIZE - 1 ? word.size() : LINE_BUF_SIZE - 1;
        memcpy(out, word.data(), len);
        out[len] = '\0';
        return 1;
    }
    if (!g.parsed.tooLong.empty())
        StopList("pkg.list line %d: the word \"%.40s...\" is longer than %d characters", g.lineNo,
                 g.parsed.tooLong.c_str(), TOKEN_BUF_SIZE - 1);
    return 0;
}

// text as one literal word of a SysCmd command line.
std::string Word(const std::string &text) {
    return SysShellWord(text.c_str(), true);
}

// Each blank-separated word of a "sed" value as a literal word, joined by
// blanks: the words reach sed as they stand in the list (backslashes
// included, which sed's expressions need), and none is read by a shell.
std::string Words(const char *value) {
    std::string out;
    for (const char *p = value; *p;) {
        size_t len = strcspn(p, " ");
        if (len > 0) {
            if (!out.empty()) out += ' ';
            out += Word(std::string(p, len));
        }
        p += len;
        p += strspn(p, " ");
    }
    return out;
}

// dir/name as one string.
std::string Join(const char *dir, const char *name) {
    return std::string(dir) + "/" + name;
}

// W/P/A, the source of every copy.
std::string PkgArgPath(void) {
    return Join(pDornaInstallDir, g.pkgDir) + "/" + g.arg;
}

// APP/A, the path every attribute names.
const char *AppArgPath(void) {
    static char path[2 * LINE_BUF_SIZE];
    if (FormatBounded(path, sizeof path, "%s/%s", pAppDir, g.arg) < 0)
        StopList("pkg.list line %d: path too long: %s", g.lineNo, g.arg);
    return path;
}

// ---------------------------------------------------------------------------
// Directives
// ---------------------------------------------------------------------------

// What a copy, touch or tree copy leaves to do: the attributes when it
// succeeded. A failure has been logged as a warning by the command layer; it
// is recorded for the summary at the end of the run, and nothing is applied
// to the path it should have made (a copy cut short by a full disk must not
// become set-user-ID, nor be linked or renamed into place).
Next AfterStep(int status, const std::string &made) {
    if (status == 0) return Next::Attributes;
    noteFailedStep(made.c_str(), "pkg.list line %d: %s %s (%s)", g.lineNo, g.directive, g.arg,
                   made.c_str());
    return Next::EndLine;
}

// Where "cp" puts W/P/A when told to copy it into dir.
std::string CopiedInto(const char *dir) {
    const char *slash = strrchr(g.arg, '/');
    return Join(dir, slash != nullptr ? slash + 1 : g.arg);
}

Next RunCopy(void) {
    int status =
        SysCmd(CMD_CP, RUN_WARN, "%s %s", Word(PkgArgPath()).c_str(), Word(pAppDir).c_str());
    return AfterStep(status, CopiedInto(pAppDir));
}

Next RunDir(void) {
    int status =
        SysCmd(CMD_CP_R, RUN_WARN, "%s %s", Word(PkgArgPath()).c_str(), Word(pAppDir).c_str());
    return AfterStep(status, CopiedInto(pAppDir));
}

Next RunDirTo(void) {
    char *to = g.value; // free until the attribute pairs are read
    NextWord(to);
    // cp makes the destination itself when it is missing, else a copy in it.
    const bool into = FindFile_(to, nullptr);
    int status = SysCmd(CMD_CP_R, RUN_WARN, "%s %s", Word(PkgArgPath()).c_str(), Word(to).c_str());
    noteInstalledPath(into ? CopiedInto(to).c_str() : to);
    return AfterStep(status, CopiedInto(to));
}

Next RunTouch(void) {
    const std::string path = Join(pAppDir, g.arg);
    return AfterStep(SysCmd(CMD_TOUCH, RUN_WARN, "%s", Word(path).c_str()), path);
}

Next RunIfExists(void) {
    return FindFile(pAppDir, g.arg) ? Next::Attributes : Next::EndLine;
}

Next RunComment(void) {
    return Next::EndLine;
}

Next RunNewDir(void) {
    if (FindFile(pAppDir, g.arg)) return Next::EndLine;
    CreateFile(AppArgPath(), nullptr, "775", nullptr, nullptr);
    return Next::Attributes;
}

Next RunCheckPs(void) {
    return QuitForRunningProcesses(g.arg) ? Next::Quit : Next::Attributes;
}

// "v OP VERSION rest": the rest of the line runs as a line of its own when
// the kernel release compares to VERSION as OP says. The comparison is on
// the texts (strcmp), as the lists are written for it.
Next RunVersion(void) {
    struct utsname host;
    if (uname(&host) != 0) {
        int err = errno;
        PutLogMsg("WARNING_MSG: pkg.list line %d: %s: %s; line skipped\n", g.lineNo,
                  nlsSetupStrCvt(60), strerror(err));
        ErrorMsg(1, 0, "pkg.list line %d: %s: %s; line skipped", g.lineNo, nlsSetupStrCvt(60),
                 strerror(err));
        return Next::EndLine;
    }

    char *version = g.value; // free until the attribute pairs are read
    NextWord(version);
    int cmp = strcmp(host.release, version);

    int holds = 0;
    switch (FindToken(g.arg, ",<,<=,=,>,>=,")) {
    case 1:
        holds = cmp < 0;
        break;
    case 2:
        holds = cmp <= 0;
        break;
    case 3:
        holds = cmp == 0;
        break;
    case 4:
        holds = cmp > 0;
        break;
    case 5:
        holds = cmp >= 0;
        break;
    default:
        holds = 0;
        break;
    }
    if (holds && NextWord(g.directive)) return Next::Redispatch;
    return Next::EndLine;
}

struct Directive {
    const char *name; // directive word, exact and case-sensitive
    Next (*run)(void);
};

const Directive kDirectives[] = {
    {"dir", RunDir},       {"dirto", RunDirTo},     {"t", RunTouch},    {"c", RunCopy},
    {"m", RunIfExists},    {"#", RunComment},       {"v", RunVersion},  {"s", RunIfExists},
    {"newdir", RunNewDir}, {"checkps", RunCheckPs}, {nullptr, nullptr},
};

// ---------------------------------------------------------------------------
// Attributes
// ---------------------------------------------------------------------------

// Modes, owners and groups are changed on the entry itself, never through a
// link to somewhere else (SysChangeAttr).
void SetMode(const char *value) {
    SysChangeAttr(CMD_CHMOD, RUN_FATAL, value, Join(pAppDir, g.arg).c_str(), false);
}

void SetOwner(const char *value) {
    SysChangeAttr(CMD_CHOWN, RUN_FATAL, value, Join(pAppDir, g.arg).c_str(), true);
}

void SetGroup(const char *value) {
    SysChangeAttr(CMD_CHGRP, RUN_FATAL, value, Join(pAppDir, g.arg).c_str(), true);
}

void MakeLink(const char *value) {
    SysCmd(CMD_LN, RUN_FATAL, "-s %s %s", Word(Join(pAppDir, g.arg)).c_str(), Word(value).c_str());
    noteInstalledPath(value);
}

void Rename(const char *value) {
    SysCmd(CMD_MV, RUN_FATAL, "%s %s", Word(Join(pAppDir, g.arg)).c_str(),
           Word(Join(pAppDir, value)).c_str());
}

// The launcher is /usr/bin/<value>: the value must name a file right there,
// never a path that climbs out of /usr/bin or into a directory below it. The
// directory and the program's name stand on the launcher's own command lines,
// which one shell reads.
void MakeLauncher(const char *value) {
    if (strchr(value, '/') != nullptr || strcmp(value, ".") == 0 || strcmp(value, "..") == 0)
        StopList("pkg.list line %d: the launcher name \"%s\" is not a plain file name", g.lineNo,
                 value);
    std::string path = Join("/usr/bin", value);
    std::string dir = SysShellWord(pAppDir, false);
    std::string prog = SysShellWord(g.arg, false);
    if (!GenSimpleScript(path.c_str(), ScriptShShell, SimpleScript, dir.c_str(), dir.c_str(),
                         prog.c_str()))
        noteFailedStep(path.c_str(), "pkg.list line %d: %s %s bat %s (%s)", g.lineNo, g.directive,
                       g.arg, value, path.c_str());
    noteInstalledPath(path.c_str());
}

// Puts a fresh regular file of ours at the temporary name, so that the
// shell's "> name" of the sed edit writes into it and into nothing else:
// whatever stood there (a planted link, a file of another user) is removed
// first, and O_EXCL|O_NOFOLLOW refuse anything that appears in between. In
// the sticky /tmp nobody else can then rename or remove our file. It gets the
// permission bits of the file being edited, which "cp -p" carries back.
void PrepareSedTemp(const char *tmpPath, const char *target) {
    mode_t bits = 0600;
    struct stat st;
    if (stat(target, &st) == 0) bits = st.st_mode & 0777;

    for (int attempt = 0; attempt < 5; ++attempt) {
        if (unlink(tmpPath) != 0 && errno != ENOENT) {
            if (errno != EISDIR && errno != EPERM) break;
            if (rmdir(tmpPath) != 0) break;
        }
        int fd = open(tmpPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            break;
        }
        int failed = fchmod(fd, bits);
        failed |= close(fd);
        if (failed == 0) return;
        break;
    }
    StopList("pkg.list line %d: cannot make the temporary file %s: %s", g.lineNo, tmpPath,
             strerror(errno));
}

void EditWithSed(const char *value) {
    char tmpPath[512];
    if (FormatBounded(tmpPath, sizeof tmpPath, "/tmp/%s.tmp", my_name) < 0)
        StopList("pkg.list line %d: temporary file name too long", g.lineNo);
    const char *target = AppArgPath();
    PrepareSedTemp(tmpPath, target);

    // A quiet call: the caller's own redirection catches sed's output, so
    // the line is logged here. --sandbox: the script comes from the package
    // list, and GNU sed's e, r and w commands would let it run commands or
    // read and write other files as root.
    const std::string targetWord = Word(target);
    const std::string tmpWord = Word(tmpPath);
    const std::string script = Words(value);
    if (char *sed = GetCmdNoFlags(CMD_SED)) {
        PutLogMsg("%s --sandbox %s %s > %s\n", sed, script.c_str(), targetWord.c_str(),
                  tmpWord.c_str());
        PutMem(sed);
    }
    SysCmd(-CMD_SED, RUN_FATAL, "--sandbox %s %s > %s", script.c_str(), targetWord.c_str(),
           tmpWord.c_str());
    SysCmd(CMD_CP, RUN_SILENT, "%s %s", tmpWord.c_str(), targetWord.c_str());
    SysCmd(CMD_RM, RUN_SILENT, "%s", tmpWord.c_str());
}

struct Attribute {
    const char *name; // key word, exact and case-sensitive
    void (*apply)(const char *value);
};

const Attribute kAttributes[] = {
    {"mode", SetMode},  {"bat", MakeLauncher}, {"owner", SetOwner},  {"group", SetGroup},
    {"link", MakeLink}, {"name", Rename},      {"sed", EditWithSed}, {nullptr, nullptr},
};

// Reads KEY VALUE pairs until a key or its value is missing.
void RunAttributes(void) {
    while (NextWord(g.key)) {
        if (!NextWord(g.value)) return;
        for (const Attribute *a = kAttributes; a->name; ++a) {
            if (strcmp(a->name, g.key) == 0) {
                a->apply(g.value);
                break;
            }
        }
    }
}

// Runs the directive in g.directive and whatever it leaves to do. Returns
// 1 when the user chose to quit.
int RunLine(void) {
    for (;;) {
        NextWord(g.arg);
        Next (*run)(void) = RunCopy; // an unknown word copies like "c"
        for (const Directive *d = kDirectives; d->name; ++d) {
            if (strcmp(d->name, g.directive) == 0) {
                run = d->run;
                break;
            }
        }
        switch (run()) {
        case Next::Attributes:
            RunAttributes();
            return 0;
        case Next::EndLine:
            return 0;
        case Next::Quit:
            return 1;
        case Next::Redispatch:
            break;
        }
    }
}

// Copies the line just read from LineBuf, which the reader took from the
// list's offset `start` on, and counts its physical lines. A line longer than
// the reader takes whole would come back cut, its tail read as a line of its
// own, and a NUL would hide the rest of its line: both stop the list instead.
// Returns the offset the next line starts at (-1 when unknown).
//
// A line the reader ended at its newline holds no NUL: the reader stops at
// the first newline, so a NUL in front of it would leave a text that does not
// end in one. Such a line ends start + len bytes into the list, and only the
// others (a NUL, an overlong line, the last line without a newline) cost a
// look at the file position.
long TakeLine(long start) {
    size_t len = strlen(LineBuf);
    long end = -1;
    if (start >= 0 && len > 0 && LineBuf[len - 1] == '\n')
        end = start + static_cast<long>(len);
    else if (pIn != nullptr)
        end = ftell(pIn);
    if (start >= 0 && end >= 0 && static_cast<size_t>(end - start) != len)
        StopList("pkg.list line %d holds a NUL character", g.nextLineNo);
    if (len > 0 && LineBuf[len - 1] != '\n' && pIn != nullptr && !feof(pIn)) {
        int c = getc(pIn);
        if (c != EOF && c != '\n')
            StopList("pkg.list line %d is longer than %d characters", g.nextLineNo, kMaxLine);
        if (c == '\n' && end >= 0) ++end;
    }

    g.lineNo = g.nextLineNo;
    size_t out = 0;
    for (size_t i = 0; i < len && out + 1 < sizeof g.text; ++i) {
        if (LineBuf[i] == '\n') ++g.nextLineNo;
        // A continued line reads as one line: the backslash-newline pair
        // separates words like a blank.
        if (LineBuf[i] == '\\' && LineBuf[i + 1] == '\n') {
            g.text[out++] = ' ';
            g.text[out++] = ' ';
            ++g.nextLineNo;
            ++i;
            continue;
        }
        g.text[out++] = LineBuf[i];
    }
    g.text[out] = '\0';
    if (len > 0 && LineBuf[len - 1] != '\n') ++g.nextLineNo;
    g.parsed = ParsePkgLine(g.text);
    g.next = 0;
    return end;
}

} // namespace

namespace {

// Length of the word at p as the tokenizer takes it (a backslash pair is one
// character), after the delimiters in front of it.
size_t WordLength(const char *p) {
    p += strspn(p, kWordDelims);
    size_t n = 0;
    for (; *p != '\0' && strchr(kWordDelims, *p) == nullptr; ++n)
        p += (p[0] == '\\' && p[1] != '\0') ? 2 : 1;
    return n;
}

// Reads a line's words one by one, as ParsePkgLine takes them.
struct LineCursor {
    char *pos;     // GetTokenD position inside the line
    PkgLine *line; // where the parts go
};

// Takes the next word as the given part; false when the line has no more,
// or when the next word is longer than the tokenizer keeps (then tooLong
// holds the line from that word on, and the parts end before it).
bool TakePart(LineCursor &c, PkgPart part) {
    if (WordLength(c.pos) > static_cast<size_t>(TOKEN_BUF_SIZE - 1)) {
        c.line->tooLong = c.pos + strspn(c.pos, kWordDelims);
        return false;
    }
    char word[TOKEN_BUF_SIZE];
    if (GetTokenD(nullptr, kWordDelims, &c.pos, word) == nullptr) return false;
    c.line->words.push_back({part, word});
    return true;
}

// The rest of the line from the cursor, without leading blanks, the line
// end and what follows it, and trailing blanks: the value of a "sed" that is
// the line's first key. False when nothing is left.
bool TakeRestOfLine(LineCursor &c) {
    const char *p = c.pos;
    while (*p == ' ')
        ++p;
    size_t len = strcspn(p, "\r\n");
    while (len > 0 && p[len - 1] == ' ')
        --len;
    c.pos += strlen(c.pos);
    if (len == 0) return false;
    c.line->words.push_back({PKG_VALUE, std::string(p, len)});
    return true;
}

} // namespace

PkgLine ParsePkgLine(const char *text) {
    PkgLine line;
    std::string copy(text != nullptr ? text : "");
    LineCursor c{copy.data(), &line};
    if (!TakePart(c, PKG_DIRECTIVE)) return line;
    for (;;) {
        const std::string directive = line.words.back().text;
        if (!TakePart(c, PKG_ARG)) return line;
        if (directive == "dirto") {
            if (!TakePart(c, PKG_EXTRA)) return line;
            break;
        }
        if (directive != "v") break;
        // "v OP VERSION rest": the rest is a line of its own.
        if (!TakePart(c, PKG_EXTRA) || !TakePart(c, PKG_DIRECTIVE)) return line;
    }
    for (bool first = true; TakePart(c, PKG_KEY); first = false) {
        // Only when "sed" is the line's first key does its value run to the
        // end of the line.
        if (first && line.words.back().text == "sed") {
            TakeRestOfLine(c);
            return line;
        }
        if (!TakePart(c, PKG_VALUE)) return line;
    }
    return line;
}

int ProcessPkgList(const char *pkgDir) {
    g.pkgDir = pkgDir;
    g.nextLineNo = 1;

    // The reader is opened silently and the failure reported here: without
    // its list the package installs nothing, which is a failed run.
    if (!OpenInputFileF(0, "%s/%s/pkg.list", pDornaInstallDir, pkgDir)) {
        fprintf(stderr, "ERROR: can't open file, %s/%s/pkg.list\n", pDornaInstallDir, pkgDir);
        exit_app(1);
    }

    for (long start = ftell(pIn); GetFileLine();) {
        start = TakeLine(start);
        if (!NextWord(g.directive)) continue;
        if (RunLine()) {
            CloseInputFile();
            return 1;
        }
    }
    return 0;
}
