// Changes of the file system run as commands of the table: mkdir -p, touch,
// chmod, chown, chgrp, rm -rf and mv -f. Going through SysCmd rather than
// system calls puts each change in the run log with its output, like every
// other command of an installation.

#include "SysCmd.h"
#include "SysPriv.h"

#include "utils.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace {

// A path as one word of the `sh -c "..."` line that SysCmd builds.
std::string PathWord(const char *path) {
    return SysPathWord(path, true);
}
std::string Word(const char *text) {
    return SysShellWord(text, true);
}

// dir, "/" and name when a name is given, else dir alone.
std::string JoinPath(const char *dir, const char *name) {
    std::string path = dir ? dir : "";
    if (name != nullptr) {
        path += '/';
        path += name;
    }
    return path;
}

// Removes `target` with rm -rf when `dir`/`name` names an existing entry.
void RemoveIfFound(const char *dir, const char *name, const std::string &target) {
    if (!FindFile(dir, name)) return;
    SysCmd(CMD_RM_RF, RUN_WARN, "%s", PathWord(target.c_str()).c_str());
}

} // namespace

void CreateFile(const char *dir, const char *name, const char *perm, const char *owner,
                const char *group) {
    if (dir == nullptr) return;
    if (!FindFile(dir, nullptr)) SysCmd(CMD_MKDIR, RUN_FATAL, "%s", PathWord(dir).c_str());

    std::string target = JoinPath(dir, name);
    std::string word = PathWord(target.c_str());
    if (name != nullptr) SysCmd(CMD_TOUCH, RUN_FATAL, "%s", word.c_str());
    const char *path = target.c_str();
    if (perm != nullptr) SysChangeAttr(CMD_CHMOD, RUN_FATAL, perm, path, false);
    if (owner != nullptr) SysChangeAttr(CMD_CHOWN, RUN_FATAL, owner, path, false);
    if (group != nullptr) SysChangeAttr(CMD_CHGRP, RUN_FATAL, group, path, false);
}

int SysChangeAttr(int row, int mode, const char *value, const char *path, bool recursive) {
    // chmod has no way to leave a link alone: it changes whatever the link
    // points to, which is how a link planted at a name root is about to make
    // set-user-ID would hand a program of someone else's choice root's rights.
    // So the name is examined first, as it stands.
    struct stat st;
    if (path != nullptr && lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        if (mode == RUN_WARN) {
            PutLogMsg("WARNING_MSG: %s is a symbolic link, which is not followed\n", path);
        } else if (mode == RUN_FATAL) {
            PutLogMsg("ERROR: %s is a symbolic link, which is not followed\n", path);
            fflush(stdout);
            printf("ERROR: %s is a symbolic link, which is not followed\n", path);
            exit_app(1);
        }
        return ELOOP;
    }
    const char *flags = row == CMD_CHMOD ? "" : recursive ? "-h -R " : "-h ";
    return SysCmd(row, mode, "%s%s %s", flags, Word(value).c_str(), PathWord(path).c_str());
}

void DeleteFile(const char *dir, const char *name) {
    if (dir == nullptr) {
        if (name == nullptr || *name == '\0') return;
        RemoveIfFound(nullptr, name, name);
        return;
    }
    RemoveIfFound(dir, name, JoinPath(dir, name));
}

void DeleteFile_(const char *path, const char *name) {
    if (path == nullptr) return;
    RemoveIfFound(path, name, JoinPath(path, name));
}

void RenameFile(const char *dir, const char *oldName, const char *newName) {
    if (oldName == nullptr || newName == nullptr) return;
    if (dir != nullptr) {
        if (!FindFile(dir, oldName)) return;
        std::string from = JoinPath(dir, oldName), to = JoinPath(dir, newName);
        SysCmd(-CMD_MV, RUN_WARN, "%s %s", PathWord(from.c_str()).c_str(),
               PathWord(to.c_str()).c_str());
        return;
    }
    if (!FindFile(nullptr, oldName)) return;
    SysCmd(-CMD_MV, RUN_WARN, "%s %s", PathWord(oldName).c_str(), PathWord(newName).c_str());
}
