// SysPriv.h - steps shared by the command layer's own files; not part of the
// public interface.
#ifndef DORNA_SYSPRIV_H
#define DORNA_SYSPRIV_H

#include "SysCmd.h"

#endif  // DORNA_SYSPRIV_H
