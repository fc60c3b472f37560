// Running-process guard: before an existing installation is touched, none of
// the suite's programs may run. The guard only watches and asks; it never
// stops a process itself.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

#include "MemMgr.h"
#include "SysCmd.h"
#include "setup.h"
#include "utils.h"

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

double monotonicSeconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The unattended answer: look again every second until none of the programs
// runs (0) or nWaitSeconds have passed, then end the run with status 1
// naming the programs that still run. Nothing is read from standard input.
int waitUnattended(const char *list) {
    const double deadline = monotonicSeconds() + static_cast<double>(nWaitSeconds);
    bool told = false;
    for (;;) {
        char *report = CheckProcTableForExecs(list);
        if (report == nullptr) return 0;
        double left = deadline - monotonicSeconds();
        if (left <= 0) {
            // "dprint ( 12 40 )\n..." on one line: "dprint ( 12 40 ), dsf ( 7 )".
            std::string running(report);
            PutMem(report);
            while (!running.empty() && running.back() == '\n')
                running.pop_back();
            for (size_t at; (at = running.find('\n')) != std::string::npos;)
                running.replace(at, 1, ", ");
            fflush(stdout);
            noteStopReason(STOP_PRINT | STOP_LOG,
                           "programs of the suite still run after %ld seconds: %s", nWaitSeconds,
                           running.c_str());
            exit_app(1);
        }
        PutMem(report);
        if (!told) {
            printf("Waiting up to %ld seconds for the suite's programs to end.\n", nWaitSeconds);
            fflush(stdout);
            told = true;
        }
        // Whole seconds, but never past the deadline.
        struct timespec pause = {1, 0};
        if (left < 1) pause = {0, static_cast<long>(left * 1e9)};
        nanosleep(&pause, nullptr);
    }
}

} // namespace

int QuitForRunningProcesses(const char *list) {
    if (flAcceptAgreement || flWaitGiven) return waitUnattended(list);
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
