// Running-process guard: before an existing installation is touched, none of
// the suite's programs may run. The guard only watches and asks; it never
// stops a process itself.
#include <cstdio>
#include <unistd.h>

#include "MemMgr.h"
#include "SysCmd.h"
#include "setup.h"

namespace {

// Selection 1 waits this many times this many seconds before asking again.
constexpr int WAIT_LOOKS = 6;
constexpr unsigned WAIT_SECONDS = 5;

// True when any program of the list still runs.
bool anyRunning(const char *list) {
    char *report = CheckProcTableForExecs(list);
    if (report == nullptr) return false;
    PutMem(report);
    return true;
}

} // namespace

int QuitForRunningProcesses(const char *list) {
    const char *menu[5] = {};
    for (;;) {
        char *report = CheckProcTableForExecs(list);
        if (report == nullptr) return 0;
        if (menu[0] == nullptr)
            for (int i = 0; i < 5; ++i)
                menu[i] = nlsSetupStrCvt(66 + i);
        fputs(menu[0], stdout);
        printf("%s\n", report);
        PutMem(report);
        for (int i = 1; i < 5; ++i)
            fputs(menu[i], stdout);
        fflush(stdout);

        // One character, then one more (the newline) skipped.
        int selection = getchar();
        if (selection == EOF) stopForNoAnswer();
        (void)getchar();

        if (selection == '2') return 1;
        if (selection != '1') continue;
        for (int look = 0; look < WAIT_LOOKS; ++look) {
            sleep(WAIT_SECONDS);
            if (!anyRunning(list)) return 0;
        }
    }
}
