// Tests of the pass-phrase prompt on a real pseudo-terminal: the prompt runs
// in a child whose controlling terminal is the pty's slave side; the test
// types on the master side, reads what the terminal shows there, and looks at
// the slave's settings while the child reads and after it has gone.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "MemMgr.h"
#include "PassPhraseInternal.h"
#include "TestSupport.h"
#include "TextMenu.h"

namespace {

constexpr const char *kPrompt = "Pass phrase: ";

// Everything the master side has shown, with a wait for expected text.
struct Screen {
    int master = -1;
    std::string shown;

    // Reads until `text` has been shown (true) or `ms` have passed.
    bool WaitFor(const std::string &text, int ms = 5000) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (shown.find(text) == std::string::npos) {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            until - std::chrono::steady_clock::now())
                                            .count());
            if (left <= 0) return false;
            pollfd p = {master, POLLIN, 0};
            if (poll(&p, 1, left) <= 0) continue;
            char buf[512];
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) return shown.find(text) != std::string::npos;
            shown.append(buf, static_cast<size_t>(n));
        }
        return true;
    }
    void Type(const std::string &keys) const {
        ASSERT_EQ(write(master, keys.data(), keys.size()), (ssize_t)keys.size());
    }
};

// A prompt running in a child on a fresh pseudo-terminal. The child writes
// the answer it got to `answers` as "<answer>\n", then runs `after`.
struct PromptChild {
    Screen screen;
    pid_t pid = -1;
    int slave = -1;   // the test's own handle on the slave side, for its settings
    int answers = -1; // read side of the child's answer pipe

    void Start(int seconds, void (*before)() = nullptr, void (*after)(int fd) = nullptr) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        winsize ws = {24, 80, 0, 0};
        pid = forkpty(&screen.master, nullptr, nullptr, &ws);
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(pipeFds[0]);
            if (before) before();
            char *answer = GetPassPhraseWithin(kPrompt, seconds);
            std::string line = std::string(answer) + "\n";
            PutMem(answer);
            if (write(pipeFds[1], line.data(), line.size()) < 0) _exit(3);
            if (after) after(pipeFds[1]);
            _exit(0);
        }
        close(pipeFds[1]);
        answers = pipeFds[0];
        slave = open(ptsname(screen.master), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave, 0);
    }

    // Waits until the prompt has turned echo off: keys typed before that
    // are dropped by the terminal when the prompt changes its settings.
    bool Ready() {
        if (!screen.WaitFor(kPrompt)) return false;
        for (int i = 0; i < 500; ++i) {
            if ((LocalModes() & ECHO) == 0) return true;
            usleep(10 * 1000);
        }
        return false;
    }

    tcflag_t LocalModes() const {
        termios t;
        return tcgetattr(slave, &t) == 0 ? t.c_lflag : 0;
    }

    // The child's answer line (without its newline), read to the end.
    std::string Answer() {
        std::string all;
        char buf[1024];
        ssize_t n;
        while ((n = read(answers, buf, sizeof buf)) > 0)
            all.append(buf, static_cast<size_t>(n));
        return all.empty() ? all : all.substr(0, all.find('\n'));
    }
    // Exit status, or 128 + the signal that ended the child.
    int Wait() {
        int ws = 0;
        waitpid(pid, &ws, 0);
        pid = -1;
        return WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    }

    ~PromptChild() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (slave >= 0) close(slave);
        if (answers >= 0) close(answers);
        if (screen.master >= 0) close(screen.master);
    }
};

TEST(PassPhrase, EchoIsOffWhileReadingAndOnAgainAfterwards) {
    PromptChild c;
    c.Start(30);
    ASSERT_TRUE(c.Ready()) << "echo is still on while the pass phrase is read";
    c.screen.Type("s3cret word\r");
    EXPECT_EQ(c.Answer(), "s3cret word");
    EXPECT_EQ(c.Wait(), 0);
    c.screen.WaitFor("\n", 500);
    EXPECT_EQ(c.screen.shown.find("s3cret"), std::string::npos)
        << "the answer was shown: " << c.screen.shown;
    EXPECT_NE(c.LocalModes() & ECHO, 0u) << "echo stays off after the prompt";
    EXPECT_NE(c.LocalModes() & ICANON, 0u) << "line editing stays off after the prompt";
}

struct TypedCase {
    const char *name;
    std::string keys;     // typed after the prompt
    int seconds;          // time limit of the prompt
    std::string expected; // the answer
};

TEST(PassPhrase, AnswerIsWhatWasTypedUpToTheLineEndTheLimitOrTheTime) {
    const TypedCase cases[] = {
        {"newline ends the line", "abc\n", 30, "abc"},
        {"carriage return ends the line", "abc\rdef\n", 30, "abc"},
        {"empty line", "\r", 30, ""},
        {"300 characters give their first 256", std::string(300, 'x') + "\r", 30,
         std::string(256, 'x')},
        {"time-out returns what was typed", "half", 1, "half"},
        {"time-out with nothing typed", "", 1, ""},
        {"erase key removes the last character",
         "abd\x7f"
         "c\r",
         30, "abc"},
        {"kill key clears the line", "wrong\x15right\r", 30, "right"},
        {"end of file on an empty line ends the input", "\x04", 30, ""},
        {"blanks and shell characters are kept", " a $(b) ; `c` \r", 30, " a $(b) ; `c` "},
    };
    for (const TypedCase &tc : cases) {
        SCOPED_TRACE(tc.name);
        PromptChild c;
        c.Start(tc.seconds);
        ASSERT_TRUE(c.Ready());
        if (!tc.keys.empty()) c.screen.Type(tc.keys);
        EXPECT_EQ(c.Answer(), tc.expected);
        EXPECT_EQ(c.Wait(), 0);
        EXPECT_NE(c.LocalModes() & ECHO, 0u) << "echo not restored";
    }
}

// Distinct actions for the seven signals, to see them come back.
void MarkerHandler(int) {}
void InstallMarkers() {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = MarkerHandler;
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGHUP, SIGQUIT, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU})
        sigaction(sig, &sa, nullptr);
    signal(SIGINT, SIG_IGN);
}
// Reports "restored" when every action is the one set before the prompt.
void ReportActions(int fd) {
    bool same = true;
    for (int sig : {SIGHUP, SIGQUIT, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU}) {
        struct sigaction now;
        sigaction(sig, nullptr, &now);
        same = same && now.sa_handler == MarkerHandler && (now.sa_flags & SA_RESTART);
    }
    struct sigaction intr;
    sigaction(SIGINT, nullptr, &intr);
    same = same && intr.sa_handler == SIG_IGN;
    const char *word = same ? "restored\n" : "changed\n";
    if (write(fd, word, strlen(word)) < 0) _exit(4);
}

TEST(PassPhrase, SignalActionsComeBackAndAnIgnoredInterruptEndsOnlyTheLine) {
    PromptChild c;
    c.Start(30, InstallMarkers, ReportActions);
    ASSERT_TRUE(c.Ready());
    c.screen.Type("part");
    // The terminal drops unread input on an interrupt: let "part" be read.
    usleep(300 * 1000);
    c.screen.Type("\x03"); // Ctrl-C, ignored by the caller
    std::string all;
    char buf[256];
    ssize_t n;
    while ((n = read(c.answers, buf, sizeof buf)) > 0)
        all.append(buf, static_cast<size_t>(n));
    EXPECT_EQ(all, "part\nrestored\n");
    EXPECT_EQ(c.Wait(), 0);
    EXPECT_NE(c.LocalModes() & ECHO, 0u);
}

TEST(PassPhrase, CtrlCEndsTheProgramWithEchoOn) {
    PromptChild c;
    c.Start(30);
    ASSERT_TRUE(c.Ready());
    c.screen.Type("abc\x03");
    EXPECT_EQ(c.Wait(), 128 + SIGINT);
    EXPECT_EQ(c.Answer(), "") << "no answer after an interrupt";
    EXPECT_NE(c.LocalModes() & ECHO, 0u) << "echo left off by an interrupted prompt";
}

TEST(PassPhrase, HangUpAndTerminateEndTheProgramWithEchoOn) {
    for (int sig : {SIGHUP, SIGTERM, SIGQUIT}) {
        SCOPED_TRACE(strsignal(sig));
        PromptChild c;
        c.Start(30);
        ASSERT_TRUE(c.Ready());
        kill(c.pid, sig);
        int status = c.Wait();
        EXPECT_EQ(status, 128 + sig);
        EXPECT_NE(c.LocalModes() & ECHO, 0u);
    }
}

// Ctrl-Z needs a process group that a shell would stop: the child on the pty
// acts as a small job-control shell (session leader, waits with WUNTRACED)
// and runs the prompt in a foreground group of its own. It reports "stopped
// echo=on|off" when the prompt stops, continues it, and passes the answer on.
TEST(PassPhrase, CtrlZStopsWithEchoOnAndTheContinuedPromptAsksAgain) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    Screen screen;
    winsize ws = {24, 80, 0, 0};
    pid_t shell = forkpty(&screen.master, nullptr, nullptr, &ws);
    ASSERT_GE(shell, 0);
    if (shell == 0) {
        close(pipeFds[0]);
        signal(SIGTTOU, SIG_IGN); // the shell hands the terminal back and forth
        pid_t job = fork();
        if (job == 0) {
            setpgid(0, 0);
            tcsetpgrp(0, getpgrp());
            signal(SIGTTOU, SIG_DFL);
            char *answer = GetPassPhraseWithin(kPrompt, 30);
            std::string line = std::string("answer=") + answer + "\n";
            if (write(pipeFds[1], line.data(), line.size()) < 0) _exit(3);
            _exit(0);
        }
        setpgid(job, job);
        for (;;) {
            int st = 0;
            if (waitpid(job, &st, WUNTRACED) < 0) _exit(5);
            if (WIFSTOPPED(st)) {
                termios t;
                tcsetpgrp(0, getpgrp());
                tcgetattr(0, &t);
                std::string line =
                    std::string("stopped echo=") + ((t.c_lflag & ECHO) ? "on" : "off") + "\n";
                if (write(pipeFds[1], line.data(), line.size()) < 0) _exit(3);
                tcsetpgrp(0, job);
                kill(-job, SIGCONT);
                continue;
            }
            _exit(WIFEXITED(st) ? WEXITSTATUS(st) : 9);
        }
    }
    close(pipeFds[1]);
    int slave = open(ptsname(screen.master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    auto echoOff = [slave] {
        for (int i = 0; i < 500; ++i) {
            termios t;
            if (tcgetattr(slave, &t) == 0 && (t.c_lflag & ECHO) == 0) return true;
            usleep(10 * 1000);
        }
        return false;
    };
    ASSERT_TRUE(screen.WaitFor(kPrompt));
    ASSERT_TRUE(echoOff());
    screen.Type("first\x1a"); // Ctrl-Z
    ASSERT_TRUE(screen.WaitFor(std::string(kPrompt) + "\r\n" + kPrompt))
        << "the prompt was not shown again: " << screen.shown;
    ASSERT_TRUE(echoOff());
    screen.Type("second\r");
    std::string all;
    char buf[256];
    ssize_t n;
    while ((n = read(pipeFds[0], buf, sizeof buf)) > 0)
        all.append(buf, static_cast<size_t>(n));
    close(pipeFds[0]);
    EXPECT_EQ(all, "stopped echo=on\nanswer=second\n");
    int st = 0;
    waitpid(shell, &st, 0);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    close(slave);
    close(screen.master);
}

TEST(PassPhrase, WithoutATerminalTheAnswerComesFromStandardInput) {
    const struct {
        const char *name;
        const char *input;
        const char *answer;
        bool promptOnStderr; // else standard error is not looked at
    } rows[] = {
        {"the prompt goes to standard error and the answer is the first line",
         "from a pipe\nnext\n", "from a pipe", true},
        {"the end of standard input gives what was read", "no line end", "no line end", false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        testsupport::ChildResult r = testsupport::RunChild(
            [] {
                setsid(); // no controlling terminal: /dev/tty cannot be opened
                printf("[%s]", GetPassPhraseWithin(kPrompt, 30));
            },
            row.input);
        EXPECT_CHILD_OK(r);
        EXPECT_EQ(r.out, std::string("[") + row.answer + "]");
        if (row.promptOnStderr) {
            EXPECT_EQ(r.err, std::string(kPrompt) + "\n");
        }
    }
}

} // namespace
