// SysPriv.h - steps shared by the command layer's own files; not part of the
// public interface.
#ifndef DORNA_SYSPRIV_H
#define DORNA_SYSPRIV_H

#include <string>

// Makes `text` one literal word of a shell command line: unchanged when it
// holds only characters that mean nothing to a shell, else single-quoted.
// `wrapped`: the line runs inside `sh -c "..."` (SysCmd on a table row), so
// the word is read by two shells and the characters still special inside
// double quotes ($ ` " \) are escaped for the outer one as well.
std::string SysShellWord(const char *text, bool wrapped);

#endif  // DORNA_SYSPRIV_H
