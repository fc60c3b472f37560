// PassPhrase.cpp - the pass-phrase prompt: one line read from the terminal
// with echo off and a time limit.
//
// Echo is off only while the line is read, and every way out of the read (a
// newline, a full buffer, end of input, a read error, the time limit, a
// signal) passes the one place that puts the terminal settings and the seven
// signal actions back. A signal that arrives meanwhile is only recorded; it
// is raised again once the terminal is sane, so Ctrl-C ends the program with
// echo on, and Ctrl-Z stops it with echo on and asks again after `fg`.
#include <fcntl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "PassPhraseInternal.h"
#include "TextMenu.h"
#include "utils.h"

namespace {

constexpr int kMaxAnswer = 256;       // characters kept of the line
constexpr int kTimeLimitSeconds = 60; // for the whole line, not per key

// The signals caught while echo is off, in the order their actions are kept.
constexpr int kSignals[] = {SIGINT, SIGHUP, SIGQUIT, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

struct State {
    char buf[kMaxAnswer + 1];             // the answer of the last prompt
    volatile sig_atomic_t signo;          // last signal caught by handler, 0 for none
    struct sigaction saved[kSignalCount]; // the actions in force before the prompt
};

State state;

// Where the prompt talks: the terminal device when there is one, else
// standard input and standard error.
// The terminal device itself when there is one: the phrase is typed by the
// person there even when standard input is a pipe, and the prompt never lands
// in a file standard output goes to.
struct Channel {
    int in = STDIN_FILENO;
    int out = STDERR_FILENO;
    int tty = -1; // opened here, closed by Close

    Channel() {
        tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (tty >= 0) in = out = tty;
    }
    void Close() {
        if (tty >= 0) close(tty);
        tty = -1;
    }
};

// A short or interrupted write is taken up again, so that the prompt is never
// cut.
void WriteAll(int fd, const char *text, size_t len) {
    while (len > 0) {
        ssize_t n = write(fd, text, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        len -= static_cast<size_t>(n);
    }
}

void CatchSignals() {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: a signal must end the wait for input
    for (int i = 0; i < kSignalCount; ++i)
        sigaction(kSignals[i], &sa, &state.saved[i]);
}

void RestoreSignals() {
    for (int i = 0; i < kSignalCount; ++i)
        sigaction(kSignals[i], &state.saved[i], nullptr);
}

// Seconds left of the line's time limit, 0 when it has run out.
// On the monotonic clock, so that setting the system clock neither stretches
// nor cuts the limit. Rounded up, so that select never waits 0 seconds while
// time remains.
long SecondsLeft(const timespec &deadline) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long left = deadline.tv_sec - now.tv_sec;
    if (left < 0 || (left == 0 && now.tv_nsec >= deadline.tv_nsec)) return 0;
    return left == 0 ? 1 : left;
}

// The line-editing keys of the terminal while it reads byte by byte; all
// zero (none) when input is not a terminal.
struct Editing {
    cc_t erase = 0; // deletes the last character
    cc_t kill = 0;  // deletes the whole line so far
    cc_t eof = 0;   // ends the input when nothing is typed
};

// True when standard input's stream holds bytes it has read ahead and not
// handed out yet (glibc's stream fields): a menu that read its answers
// through the stream may have taken the pass phrase's line from a pipe
// already, and select on the descriptor would not see it.
bool StdinHasBuffered() {
    return stdin->_IO_read_ptr < stdin->_IO_read_end;
}

// The next byte of the answer: through standard input's stream when the
// prompt has no terminal of its own, so that what the stream has read ahead
// comes first, else straight from the descriptor. -1 at the end, on an
// error, or when the time limit ran out before a byte came.
int NextByte(int fd, bool viaStdin, const timespec &deadline) {
    if (viaStdin && StdinHasBuffered()) return getc(stdin);
    for (;;) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(fd, &ready);
        long left = SecondsLeft(deadline);
        if (left == 0) return -1;
        timeval wait = {left, 0};
        int n = select(fd + 1, &ready, nullptr, nullptr, &wait);
        if (n < 0 && errno == EAGAIN) continue;
        if (n <= 0) return -1; // time-out, or a signal (EINTR), or an error
        break;
    }
    if (viaStdin) return getc(stdin);
    unsigned char c;
    return read(fd, &c, 1) == 1 ? c : -1;
}

// Reads one line, one byte at a time, into state.buf. Stops at a newline or
// carriage return (not stored), a full buffer, end of input, a read error, a
// caught signal or the end of the time limit.
void ReadLine(int fd, bool viaStdin, int seconds, const Editing &keys) {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += seconds;
    int len = 0;
    while (len < kMaxAnswer && state.signo == 0) {
        int got = NextByte(fd, viaStdin, deadline);
        if (got < 0) break;
        char c = static_cast<char>(got);
        if (c == '\n' || c == '\r') break;
        // Outside line mode the terminal no longer edits the line: its own
        // erase, kill and end-of-file keys are honoured here.
        cc_t key = static_cast<cc_t>(c);
        if (key != 0 && key == keys.erase) {
            if (len > 0) --len;
            continue;
        }
        if (key != 0 && key == keys.kill) {
            len = 0;
            continue;
        }
        if (key != 0 && key == keys.eof) {
            if (len == 0) break;
            continue;
        }
        state.buf[len++] = c;
    }
    state.buf[len] = 0;
}

} // namespace

// Only records the signal: nothing else is safe here, and the terminal is put
// right outside the handler.
void handler(int sig) {
    state.signo = sig;
}

char *GetPassPhraseWithin(const char *prompt, int seconds) {
    for (;;) {
        Channel ch;
        state.signo = 0;
        CatchSignals();

        // Echo off, and the terminal hands over every byte as it is typed
        // (not only whole lines), so that the time limit returns what was
        // typed so far; erase, kill and end-of-file keep their meaning here.
        termios saved, quiet;
        bool changed = false;
        Editing keys;
        if (tcgetattr(ch.in, &saved) == 0) {
            quiet = saved;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON);
            quiet.c_cc[VMIN] = 1;
            quiet.c_cc[VTIME] = 0;
            changed = tcsetattr(ch.in, TCSAFLUSH, &quiet) == 0;
            if (changed) {
                keys.erase = saved.c_cc[VERASE];
                keys.kill = saved.c_cc[VKILL];
                keys.eof = saved.c_cc[VEOF];
            }
        }

        // The prompt comes once echo is off: what is typed as soon as it
        // shows is then neither echoed nor dropped by the flush above.
        if (prompt) WriteAll(ch.out, prompt, strlen(prompt));
        ReadLine(ch.in, ch.tty < 0 && ch.in == STDIN_FILENO, seconds, keys);

        // Kept across the clean-up, so that a caller can tell a read error from
        // the end of input.
        int kept = errno;
        WriteAll(ch.out, "\n", 1); // the user's line end was not echoed
        if (changed) tcsetattr(ch.in, TCSAFLUSH, &saved);
        RestoreSignals();
        ch.Close();

        int sig = state.signo;
        if (sig != 0) {
            state.signo = 0;
            // Now that the terminal is sane, the signal does what it would
            // have done: end the program, stop it, or whatever the caller set.
            kill(getpid(), sig);
            if (sig == SIGTSTP || sig == SIGTTIN || sig == SIGTTOU)
                continue; // continued: ask again
        }
        errno = kept;
        return SaveStr("%s", state.buf);
    }
}

char *GetPassPhrase(const char *prompt) {
    return GetPassPhraseWithin(prompt, kTimeLimitSeconds);
}
