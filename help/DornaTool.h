// DornaTool.h - what a terminal tool built on the library sets up, in one
// call, and every global the library reads from its host program.
//
// A host program includes this header (it brings the library's chief
// headers with it), calls DornaToolInit first thing in main and links
// Dorna::dorna (or Dorna::help, which carries the rest; `pkg-config --libs
// dorna` without CMake). examples/queue-menu is the shortest complete tool.
//
// Globals a host program may set, and what goes wrong without them
// (DornaToolInit sets the first five):
//   my_name        (utils.h)    the program's name: prefixes its messages
//                               ("<my_name>: ..."), names the run log
//                               /tmp/<my_name>.log and the leave question;
//                               unset, messages begin with an empty name.
//   pToolPath      (Dbm.h)      the tool root holding trans.conf and db/:
//                               the catalog and record files opened by name
//                               live under it; unset, the working directory
//                               is taken, where the catalog is not found.
//   pNLSLang       (NlsLang.h)  the language code ("ge_GE"); unset, LANG
//                               chooses at the first catalog lookup.
//   pDrvCoreDB     (NlsUtils.h) the catalog the engine and the help take
//                               their texts from; unset, pages show catalog
//                               keys ("25_1001") or "Error" instead of texts.
//   pTtyHtmlTitle  (HelpTty.h)  the title handed to TtyHtmlHelp; unset,
//                               "<my_name> Help" (the help opens either way).
//   pTtyHtmlName   (HelpTty.h)  the help file 'h' opens (pTtyHtmlData: its
//                               text, already in memory); unset, 'h' says
//                               "No help is available for this menu."
//   pPrtHelpDB     (NlsUtils.h) the help texts CheckForRedirect follows;
//                               unset, a redirect shows its name.
//   flUseLog       (utils.h)    1: PutLogMsg writes the run log; 0 (the
//                               default): nothing is logged.
//   flExitTextMenu (TextMenu.h) 1: every running menu leaves after its
//                               current answer.
//   pOut           (utils.h)    the stream StoreMenu writes (StoreMenuFile
//                               sets it for its call).
// Not for host programs: DbmV4DriverPathHandling (DbmSetV4DriverPathHandling)
// makes every record-file name a path for the whole process and is switched
// off by any DbTClose, the catalog's included; open a file of the program's
// own with DbTOpenPath instead.
#pragma once

#include "Dbm.h"
#include "HelpTty.h"
#include "MemMgr.h"
#include "NlsUtils.h"
#include "TextMenu.h"
#include "utils.h"

// Sets up the library for the host program argv0 names:
// - my_name: the last part of argv0 (unchanged when argv0 is null);
// - pToolPath: toolRoot when given (the program was told a root, by its own
//   option for instance); otherwise DbmDefaultToolRoot: DORNA_TOOL_ROOT from
//   the environment, then the installed package's tool root
//   (<prefix>/share/dorna), then the tool root of the build the library
//   came from;
// - pNLSLang: the language lang names when given (a code or an alias, as
//   LANG would hold it), else the one pNLSLang already holds, else the one
//   LANG names, looked up in the tool root's trans.conf (NlsLangFor), so
//   that the engine's texts and the program's come in one language;
// - pDrvCoreDB: the catalog "CoreString" of that language (NlsOpenDB), a
//   handle opened before being closed first;
// - pTtyHtmlTitle, when unset: TtyHelpDefaultTitle(), "<my_name> Help".
// Returns 1; 0 when the catalog cannot be opened, after "<my_name>: the
// catalog under <root> cannot be read" on standard error (everything else is
// set; the engine then shows catalog keys). Values it replaces are given
// back (PutMem) only where the library made them.
int DornaToolInit(const char *argv0, const char *toolRoot, const char *lang);
