// PageText on a pseudo-terminal of a chosen size: the rows it writes, its
// "--More--" stops and the keys that answer them; and through a pipe, where
// the text goes out unchanged.
#include "utils.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

// Runs PageText(text, skipTo, 0) on a terminal cols x rows; answers each
// "--More--" with the next key of `keys` (Space when none is left).
// Returns what the terminal received, line ends as "\n".
std::string OnTerminal(int cols, int rows, const std::string &text, size_t skipTo,
                       const std::string &keys) {
    winsize ws = {};
    ws.ws_col = static_cast<unsigned short>(cols);
    ws.ws_row = static_cast<unsigned short>(rows);
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
    if (pid < 0) return "forkpty failed";
    if (pid == 0) {
        termios t;
        tcgetattr(STDOUT_FILENO, &t);
        t.c_oflag &= ~static_cast<tcflag_t>(ONLCR); // rows as written
        tcsetattr(STDOUT_FILENO, TCSANOW, &t);
        PageText(text.c_str(), skipTo, 0);
        _exit(0);
    }
    std::string out;
    size_t nextKey = 0, stops = 0;
    for (;;) {
        pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) break;
        char buf[4096];
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
        // One answer for each "--More--" shown.
        size_t shown = 0;
        for (size_t at = out.find("--More--"); at != std::string::npos;
             at = out.find("--More--", at + 1))
            ++shown;
        while (stops < shown) {
            ++stops;
            if (nextKey < keys.size()) {
                char k = keys[nextKey++];
                if (write(master, &k, 1) != 1) break;
            } else if (write(master, " ", 1) != 1) {
                break;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    return out;
}

std::string Lines(int from, int to) {
    std::string s;
    for (int i = from; i <= to; ++i)
        s += "line " + std::to_string(i) + "\n";
    return s;
}

const std::string kMore = "--More--\r\033[K";

TEST(PageText, RowsOnATerminal) {
    const std::string word500(500, 'w');
    struct Case {
        const char *name;
        int cols, rows;
        std::string text;
        std::string shown;
    } cases[] = {
        {"a line that fits goes out as it is", 20, 5, "alpha beta\n", "alpha beta\n"},
        {"a line that ends in the last column", 10, 5, "0123456789\nx", "0123456789\nx"},
        {"a wide line breaks at the last blank that fits", 20, 5,
         "alpha beta gamma delta epsilon\n", "alpha beta gamma\ndelta epsilon\n"},
        {"blanks at a break are dropped", 10, 5, "aaaa     bbbb\n", "aaaa\nbbbb\n"},
        {"a word wider than the terminal is cut", 10, 9, "xx " + std::string(25, 'w') + "\n",
         "xx\nwwwwwwwwww\nwwwwwwwwww\nwwwww\n"},
        {"continuation rows keep the indent", 16, 5, "   one two three four\n",
         "   one two three\n   four\n"},
        {"a centred heading is centred anew", 20, 5, std::string(30, ' ') + "Heading\n",
         "      Heading\n"},
        {"a table row is cut at the edge", 12, 5, "|cell one|cell two|\n+--------+--------+\n",
         "|cell one|ce\n+--------+--\n"},
        {"a form feed breaks a line", 20, 5, "\fa\n", "\fa\n"},
        {"UTF-8 letters take one column each", 10, 5,
         "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9 "
         "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\n",
         "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\n\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3"
         "\xa9\n"},
        {"a text without a final line end keeps it so", 20, 5, "prompt: ", "prompt: "},
        {"the last row may take the last line of the screen", 20, 3,
         "a\nb\nprompt: ", "a\nb\nprompt: "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(OnTerminal(c.cols, c.rows, c.text, 0, ""), c.shown);
    }
}

TEST(PageText, AScreenfulAtATime) {
    const std::string text = Lines(1, 10) + "MARK\n" + Lines(11, 14) + "prompt: ";
    struct Case {
        const char *name;
        std::string keys;
        std::string shown;
    } cases[] = {
        {"space and return show the next screenful", "  \n",
         Lines(1, 3) + kMore + Lines(4, 6) + kMore + Lines(7, 9) + kMore + Lines(10, 10) +
             "MARK\n" + Lines(11, 11) + kMore + Lines(12, 14) + "prompt: "},
        {"q goes on at the mark", "q ",
         Lines(1, 3) + kMore + "MARK\n" + Lines(11, 12) + kMore + Lines(13, 14) + "prompt: "},
        {"q past the mark shows the rest at once", "   q",
         Lines(1, 3) + kMore + Lines(4, 6) + kMore + Lines(7, 9) + kMore + Lines(10, 10) +
             "MARK\n" + Lines(11, 11) + kMore + Lines(12, 14) + "prompt: "},
        {"any other key is a space", "x\x04",
         Lines(1, 3) + kMore + Lines(4, 6) + kMore + Lines(7, 9) + kMore + Lines(10, 10) +
             "MARK\n" + Lines(11, 11) + kMore + Lines(12, 14) + "prompt: "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(OnTerminal(20, 4, text, text.find("MARK"), c.keys), c.shown);
    }
}

TEST(PageText, WithoutATerminalTheTextGoesOutUnchanged) {
    std::string text = std::string(500, 'w') + "\n" + Lines(1, 100) + "|" + std::string(200, '-') +
                       "|\n" + std::string(40, ' ') + "x\nprompt: ";
    testsupport::ChildResult r = testsupport::RunChild([&] { PageText(text.c_str(), 10, 0); });
    EXPECT_EQ(r.out, text);
    int cols = 1, rows = 1;
    testsupport::ChildResult size =
        testsupport::RunChild([&] { printf("%d %d %d", GetTermSize(&cols, &rows), cols, rows); });
    EXPECT_EQ(size.out, "0 1 1");
}

} // namespace
