// Pager.cpp - long texts on a terminal: lines wider than the terminal wrapped
// for display, and a screenful at a time with "--More--" when someone sits at
// the keyboard.
//
// The text itself is never changed: wrapping only decides where the rows of
// the screen begin, and without a terminal the text is written as it stands.
// The terminal's size is read before every screenful, so that a window made
// larger or smaller between screenfuls is filled as it is now.
#include "utils.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace {

// Screen sizes below these are taken as these: nothing sensible can be
// shown in less, and a zero would stop the paging arithmetic.
constexpr int MIN_COLS = 10;
constexpr int MIN_ROWS = 3;
constexpr const char MORE[] = "--More--";

// The signals that end a program while the pager waits for a key; the
// terminal is given its settings back first.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

struct PagerState {
    termios saved;                         // standard input's settings before a key wait
    struct sigaction before[kSignalCount]; // the actions in force before a key wait
};
PagerState P;

void RestoreAndRaise(int sig) {
    tcsetattr(STDIN_FILENO, TCSANOW, &P.saved);
    for (int i = 0; i < kSignalCount; ++i)
        if (kSignals[i] == sig) sigaction(sig, &P.before[i], nullptr);
    raise(sig);
}

// Waits for one key at "--More--", with echo and line editing off so that
// the key acts at once. Returns the key, or EOF at the end of input.
int WaitForKey() {
    fflush(stdout);
    bool changed = false;
    if (tcgetattr(STDIN_FILENO, &P.saved) == 0) {
        termios raw = P.saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        struct sigaction sa;
        memset(&sa, 0, sizeof sa);
        sa.sa_handler = RestoreAndRaise;
        sigemptyset(&sa.sa_mask);
        for (int i = 0; i < kSignalCount; ++i)
            sigaction(kSignals[i], &sa, &P.before[i]);
        changed = true;
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    // Shown once the key acts at once: a key pressed as soon as it shows is
    // neither echoed nor held for a line end.
    fputs(MORE, stdout);
    fflush(stdout);
    // Through the stream, so that what the user typed ahead stays in order
    // for the reading that follows.
    int key = getchar();
    if (changed) {
        tcsetattr(STDIN_FILENO, TCSANOW, &P.saved);
        for (int i = 0; i < kSignalCount; ++i)
            sigaction(kSignals[i], &P.before[i], nullptr);
    }
    fputs("\r\033[K", stdout); // the prompt leaves no trace
    return key;
}

// Columns a character takes: UTF-8 continuation bytes and controls none,
// a tab up to the next multiple of 8.
int Advance(unsigned char c, int col) {
    if (c == '\t') return (col / 8 + 1) * 8 - col;
    if (c < 0x20 || c == 0x7F || (c & 0xC0) == 0x80) return 0;
    return 1;
}

// The part of [p, end) that fits `width` columns starting at column `col`.
const char *Fit(const char *p, const char *end, int width, int col) {
    while (p < end) {
        int next = col + Advance(static_cast<unsigned char>(*p), col);
        if (next > width) break;
        col = next;
        ++p;
        // A character's continuation bytes go with it.
        while (p < end && (static_cast<unsigned char>(*p) & 0xC0) == 0x80)
            ++p;
    }
    return p;
}

// A row of a framed table (its frame drawn with | + , and '): kept whole,
// or cut at the edge, never wrapped.
bool TableRow(const char *p, const char *end) {
    while (p < end && *p == ' ')
        ++p;
    return p < end && (*p == '|' || *p == '+' || *p == ',' || *p == '\'');
}

struct Screen {
    int cols = 80;
    int rows = 24;
    int used = 0;      // rows of the current screenful written
    bool page = false; // stop at "--More--" after each screenful
};

void ReadSize(Screen *s) {
    if (!GetTermSize(&s->cols, &s->rows)) return;
    if (s->cols < MIN_COLS) s->cols = MIN_COLS;
    if (s->rows < MIN_ROWS) s->rows = MIN_ROWS;
}

enum class Next { Go, Skip };

// Before a row is written: when the screenful is full, waits at "--More--".
// `ends` says whether the row ends with a line end (a last row without one,
// the prompt, still fits on the screen's last line).
Next MakeRoom(Screen *s, bool ends) {
    if (!s->page || s->used < s->rows - 1 || (!ends && s->used < s->rows)) return Next::Go;
    int key = WaitForKey();
    ReadSize(s);
    s->used = 0;
    if (key == EOF) {
        s->page = false; // no one to ask: the rest goes out at once
        return Next::Go;
    }
    return key == 'q' || key == 'Q' ? Next::Skip : Next::Go;
}

// Writes one row [p, q) with its line end (lineEnd 0 for none).
void PutRow(const char *indent, int indentLen, const char *p, const char *q, char lineEnd) {
    fwrite(indent, 1, static_cast<size_t>(indentLen), stdout);
    fwrite(p, 1, static_cast<size_t>(q - p), stdout);
    if (lineEnd) putchar(lineEnd);
}

} // namespace

int GetTermSize(int *cols, int *rows) {
    if (!isatty(STDOUT_FILENO)) return 0;
    winsize ws;
    memset(&ws, 0, sizeof ws);
    bool told = ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0;
    if (cols) *cols = told ? ws.ws_col : 80;
    if (rows) *rows = told ? ws.ws_row : 24;
    return 1;
}

int PagerWanted(void) {
    return isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
}

int PageText(const char *text, size_t skipTo, int used) {
    if (text == nullptr) return 0;
    if (!isatty(STDOUT_FILENO)) {
        fputs(text, stdout);
        return 0;
    }
    Screen s;
    s.page = PagerWanted();
    s.used = used;
    ReadSize(&s);
    const char *const mark = text + strnlen(text, skipTo);
    const char *p = text;
    while (*p != '\0') {
        // One line of the text: up to '\n' or '\f' (a form feed is a line
        // break on the terminal too).
        const char *end = p + strcspn(p, "\n\f");
        char lineEnd = *end;
        // Continuation rows keep the line's indent while it leaves room.
        int indentLen = static_cast<int>(strspn(p, " "));
        if (indentLen > static_cast<int>(end - p) || indentLen > s.cols / 2) indentLen = 0;
        bool table = TableRow(p, end);
        const char *row = p;
        bool skipped = false;
        // A line laid out for a wider screen whose text would fit without
        // its indent (a centred heading) is centred on this one instead.
        int blanks = static_cast<int>(strspn(p, " "));
        int recentre = -1;
        if (!table && blanks > 0 && Fit(p, end, s.cols, 0) < end &&
            Fit(p + blanks, end, s.cols, 0) >= end) {
            int content = 0;
            for (const char *c = p + blanks; c < end; ++c)
                content += Advance(static_cast<unsigned char>(*c), content);
            recentre = (s.cols - content) / 2;
            row = p + blanks;
        }
        for (bool first = true;; first = false) {
            int lead = first ? (recentre > 0 ? recentre : 0) : indentLen;
            const char *fit = Fit(row, end, s.cols - lead, 0);
            const char *stop = fit, *after = fit;
            if (fit < end && !table) {
                // The last blank that fits ends the row; a word wider than
                // the row is cut.
                const char *blank = fit;
                while (blank > row && *blank != ' ')
                    --blank;
                if (blank > row) stop = after = blank;
                while (stop > row && stop[-1] == ' ')
                    --stop;
                if (stop == row) stop = after = fit > row ? fit : row + 1;
                while (after < end && *after == ' ')
                    ++after;
            } else {
                after = end; // the whole line, or a table row cut at the edge
            }
            bool last = after >= end;
            char rowEnd = last ? lineEnd : '\n';
            Next n = MakeRoom(&s, rowEnd != 0);
            if (n == Next::Skip) {
                if (mark > row) {
                    p = mark;
                    skipped = true;
                    break;
                }
                s.page = false;
            }
            PutRow(p, lead, row, stop, rowEnd);
            ++s.used;
            if (last) break;
            row = after;
        }
        if (!skipped) p = *end ? end + 1 : end;
    }
    fflush(stdout);
    return s.used;
}
