// SysPriv.h - steps shared by the command layer's own files; not part of the
// public interface.
#ifndef DORNA_SYSPRIV_H
#define DORNA_SYSPRIV_H

#include "SysCmd.h"

#include <string>

// A path as one word of a command line (SysShellWord). A relative path that
// begins with a dash would be read by rm, mv, touch, mkdir, df or du as
// options ("-rf", "--help"), so it is given as "./" and the path, which names
// the same entry.
std::string SysPathWord(const char *path, bool wrapped);

#endif // DORNA_SYSPRIV_H
