// Questions to the host: directory listings, running processes, disk space,
// the host's and the user's names.
//
// The answers are blank lists (" . .. lpd lpc ", " 310 412 "): with the blank
// as their first character they are keyword lists, so that "is this name in
// the directory" or "does this program run" is one FindToken call. Process,
// disk-space and tree-size questions run `ps -ace`, `df` and `du -s` from the
// command table and read their text output.

#include "SysCmd.h"
#include "SysPriv.h"

#include "MemMgr.h"
#include "utils.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// Column of the command name in the output of `ps -ace`
// (PID CLS PRI TTY TIME CMD).
constexpr int PS_CMD_COLUMN = 6;
constexpr const char *WORD_DELIMS = " \t\n";

// Closes a directory stream on every way out.
struct DirCloser {
    DIR *d;
    ~DirCloser() {
        if (d != nullptr) closedir(d);
    }
};

bool AllDigits(const char *s) {
    if (s == nullptr || *s == '\0') return false;
    for (; *s; ++s)
        if (*s < '0' || *s > '9') return false;
    return true;
}

// The path as one word of a df or du command line (run without sh -c).
std::string PathWord(const char *path) {
    return SysPathWord(path, false);
}

// The n-th word (1-based) of a line into out (TOKEN_BUF_SIZE bytes), read
// with a private cursor; null when the line has fewer words.
char *NthWord(const char *line, int n, char *out) {
    char *cursor = nullptr;
    char *word = GetTokenD(line, WORD_DELIMS, &cursor, out);
    for (int i = 1; i < n && word != nullptr; ++i)
        word = GetTokenD(nullptr, WORD_DELIMS, &cursor, out);
    return word;
}

// The first number that `du -s` prints for the path, or 0.
double FirstNumberOfDu(const char *path) {
    CmdResponse *r = GetCmdResponse(CMD_DU, nullptr, "%s", PathWord(path).c_str());
    double size = r != nullptr ? strtod(r->line, nullptr) : 0;
    FreeResponseList(r);
    return size;
}

} // namespace

char *GetDirFileList(const char *dir) {
    if (dir == nullptr) return nullptr;
    DirCloser d{opendir(dir)};
    if (d.d == nullptr) return nullptr;
    // One pass into a growing text: a directory that changes while it is read
    // can then never overrun the result.
    std::string list;
    while (const char *name = ReadDir(d.d)) {
        list += ' ';
        list += name;
    }
    list += ' ';
    return SaveStr_(list.c_str());
}

char *SearchDirFileList(const char *dir, const char *ext) {
    if (dir == nullptr) return nullptr;
    DirCloser d{opendir(dir)};
    if (d.d == nullptr) return nullptr;
    std::string list;
    while (const char *name = ReadDir(d.d)) {
        bool match;
        if (ext == nullptr) {
            match = strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
        } else {
            const char *dot = strrchr(name, '.');
            match = dot != nullptr && strcmp(dot + 1, ext) == 0;
        }
        if (!match) continue;
        list += ' ';
        list += name;
    }
    if (list.empty()) return nullptr;
    list += ' ';
    return SaveStr_(list.c_str());
}

char *GetSysPsIdList(const char *name) {
    Line[0] = '\0';
    if (name == nullptr || name[0] == '\0') return nullptr;

    TokenizerKeeper keep;
    size_t used = 0;
    char cmd[TOKEN_BUF_SIZE], pid[TOKEN_BUF_SIZE];
    CmdResponse *lines = GetCmdResponse(CMD_PS, name, "%s", "");
    for (CmdResponse *r = lines; r != nullptr; r = r->next) {
        if (NthWord(r->line, PS_CMD_COLUMN, cmd) == nullptr || strcmp(cmd, name) != 0) continue;
        if (NthWord(r->line, 1, pid) == nullptr) continue;
        if (!AllDigits(pid)) continue; // the header, or a line not of a process
        int n =
            FormatBounded(Line + used, sizeof Line - used - 1, " %s", pid); // room for the blank
        if (n < 0) break;
        used += static_cast<size_t>(n);
    }
    FreeResponseList(lines);
    if (used == 0) {
        Line[0] = '\0';
        return nullptr;
    }
    Line[used] = ' ';
    Line[used + 1] = '\0';
    return SaveStr_(Line);
}

char *CheckProcTableForExecs(const char *list) {
    if (list == nullptr) return nullptr;
    // Cut a private copy at commas with a private position: GetSysPsIdList
    // itself uses the shared tokenizer.
    std::string copy = list;
    std::string report;
    size_t pos = 0;
    while (pos <= copy.size()) {
        size_t end = copy.find(',', pos);
        if (end == std::string::npos) end = copy.size();
        std::string name = copy.substr(pos, end - pos);
        pos = end + 1;
        if (name.empty()) continue;
        if (char *ids = GetSysPsIdList(name.c_str())) {
            report += name;
            report += " (";
            report += ids;
            report += ")\n";
            PutMem(ids);
        }
    }
    if (report.empty()) return nullptr;
    return SaveStr_(report.c_str());
}

int KillProcessByName(const char *name) {
    char *ids = GetSysPsIdList(name);
    if (ids != nullptr) {
        const pid_t self = getpid();
        const char *p = ids;
        while (*p) {
            char *end;
            errno = 0;
            long pid = strtol(p, &end, 10);
            if (end == p) {
                ++p;
                continue;
            }
            p = end;
            // Never signal a process group (0, negatives) or this program itself.
            if (errno != 0 || pid <= 0 || pid == self) continue;
            if (kill(static_cast<pid_t>(pid), SIGKILL) != 0 && errno == EPERM) break;
        }
        PutMem(ids);
    }
    sleep(1);
    return 0;
}

int GetDiskSpace(const char *path, DiskSpaceInfo *info) {
    if (info == nullptr) return 0;
    info->avail = 0;
    if (path == nullptr) return 0;

    TokenizerKeeper keep;
    CmdResponse *lines = GetCmdResponse(CMD_DF, nullptr, "%s", PathWord(path).c_str());
    if (lines == nullptr) return 0;

    // Which column is Avail (or Available), counted from 0.
    int column = -1;
    char word[TOKEN_BUF_SIZE];
    char *cursor = nullptr;
    GetTokenD(lines->line, WORD_DELIMS, &cursor, word);
    for (int i = 0; word[0] != '\0'; ++i) {
        if (strncasecmp(word, "avail", 5) == 0) {
            column = i;
            break;
        }
        if (GetTokenD(nullptr, WORD_DELIMS, &cursor, word) == nullptr) break;
    }
    if (column < 0) {
        FreeResponseList(lines);
        return 0;
    }

    int found = 1; // no data line at all: nothing to read, not a failure
    if (CmdResponse *data = lines->next) {
        snprintf(info->dfLine, sizeof info->dfLine, "%s", data->line);
        found = NthWord(data->line, column + 1, word) != nullptr;
        if (found) info->avail = strtod(word, nullptr);
    }
    FreeResponseList(lines);
    return found;
}

double DUPath(const char *path) {
    if (path == nullptr) return 0;
    return FirstNumberOfDu(path);
}

int AvailSpace(const char *dir, const char *name, double needed) {
    if (dir == nullptr) return 0;
    DiskSpaceInfo info;
    if (name != nullptr && FindFile(dir, name)) {
        // The entry is about to be replaced: the room it takes counts as free.
        GetDiskSpace(dir, &info);
        std::string full = std::string(dir) + "/" + name;
        return info.avail + FirstNumberOfDu(full.c_str()) >= needed;
    }
    if (GetDiskSpace(dir, &info)) return info.avail >= needed;

    // The directory does not exist yet: answer for the nearest parent that does.
    std::string parent = StripFn(dir);
    if (parent == dir) return 0; // nothing left to climb: the room is unknown
    return AvailSpace(parent.c_str(), nullptr, needed);
}

void SysGetSubnetMask(void) {}

char *GetHostname() {
    char name[256];
    if (gethostname(name, sizeof name) != 0) return nullptr;
    name[sizeof name - 1] = '\0'; // a truncated name need not be terminated
    char *stored = SaveStr("%s", name);
    stored[strcspn(stored, "\r\n")] = '\0';
    return stored;
}

char *GetUserName() {
    char *cmd = GetCmd(CMD_WHOAMI);
    if (cmd == nullptr) {
        uid_t uid = getuid();
        if (uid == 0) return SaveStr("root");
        return SaveStr("User ID:  %d", static_cast<int>(uid));
    }

    FILE *pipe = popen(cmd, "r");
    PutMem(cmd);
    if (pipe == nullptr) return nullptr;
    char line[256] = "";
    if (fgets(line, sizeof line, pipe) == nullptr) line[0] = '\0';
    pclose(pipe);
    line[strcspn(line, "\r\n")] = '\0';
    return SaveStr("%s", line);
}
