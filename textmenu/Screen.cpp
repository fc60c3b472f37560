// Screen.cpp - the screen image: the terminal's cells composed in memory
// and sent at once, so that a page appears whole, and the few ANSI
// sequences that place the cursor and clear the terminal.
//
// Every write into the image is clipped to it, whatever position, size or
// text it is given.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "MemMgr.h"
#include "TextMenu.h"
#include "utils.h"

// Only noted: the position may lie outside the image, and each write clips it
// when it writes.
void SetPosition(TermImage *img, int col, int row) {
    if (!img) return;
    img->CurCol = col;
    img->CurRow = row;
}

void WriteString(TermImage *img, const char *format, ...) {
    if (!img || !img->pCells || !format || img->Cols <= 0 || img->Rows <= 0) return;
    char text[512];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    // Rows count from 1; a position outside falls back to the first row or
    // column rather than being dropped, so that nothing vanishes silently. A
    // text runs on into the next row, as on a terminal.
    long row = (img->CurRow < 1 || img->CurRow > img->Rows) ? 1 : img->CurRow;
    long col = (img->CurCol < 1 || img->CurCol > img->Cols) ? 0 : img->CurCol;
    long cells = static_cast<long>(img->Cols) * img->Rows;
    long at = (row - 1) * img->Cols + col;
    for (const char *p = text; *p && at < cells; ++p)
        img->pCells[at++] = *p;
}

// Clipped on every side, so callers may give areas that reach past the image.
void FillArea(TermImage *img, int col, int row, int width, int height, char c) {
    if (!img || !img->pCells) return;
    int c0 = std::max(col, 0), r0 = std::max(row, 0);
    long c1 = std::min(static_cast<long>(col) + width, static_cast<long>(img->Cols));
    long r1 = std::min(static_cast<long>(row) + height, static_cast<long>(img->Rows));
    for (long r = r0; r < r1; ++r)
        for (long k = c0; k < c1; ++k)
            img->pCells[r * img->Cols + k] = c;
}

TermImage *SetOvlInfo(TermImage *img, int col, int row, int width, int height) {
    if (!img) return img;
    img->OvlCol = col;
    img->OvlRow = row;
    img->OvlWidth = width;
    img->OvlHeight = height;
    return img;
}

// Drawn straight to the terminal, over the page, without changing the image:
// the next Refresh gives back what the box covered.
void Overlay(TermImage *img, const char *text, int wait) {
    if (!img) return;
    if (!text) text = "";
    // The box keeps to the terminal: its text width shrinks to what fits
    // beside its left edge, and lines below the last row are not drawn.
    int col = std::clamp(img->OvlCol, 0, std::max(img->Cols - 1, 0));
    int row = std::max(img->OvlRow, 0);
    int width = std::clamp(img->OvlWidth, 0, std::max(img->Cols - col - 4, 0));
    int maxLines = std::min(std::max(img->OvlHeight, 0) + 4, img->Rows - row);
    // Wide enough for the "Press enter" line when the box waits for it.
    if (wait) width = std::max(width, std::min(9, std::max(img->Cols - col - 4, 0)));
    int line = 0;
    auto place = [&](const std::string &s) {
        if (line >= maxLines) return false;
        MoveCursor(img, col, row + line++);
        fputs(s.c_str(), stdout);
        return true;
    };
    std::string stars(static_cast<size_t>(width) + 4, '*');
    place(stars);
    const char *p = text;
    bool ended = false;
    for (int textLines = 0; !ended && line < maxLines - 1; ++textLines) {
        std::string s = "* ";
        for (int k = 0; k < width; ++k) {
            if (*p == '\n') { // blanks the rest of this line
                s.append(static_cast<size_t>(width - k), ' ');
                break;
            }
            s += *p ? *p++ : ' ';
        }
        if (*p == '\n') ++p;
        ended = *p == 0 || textLines + 1 >= std::max(img->OvlHeight, 1);
        s += " *";
        place(s);
    }
    if (wait) {
        std::string press = "* Press enter";
        press.append(static_cast<size_t>(std::max(width + 3 - static_cast<int>(press.size()), 0)),
                     ' ');
        press += '*';
        place(press);
    }
    place(stars);
    fflush(stdout);
    if (wait) getchar();
    // The cursor goes back to where the image had it, so that the page's own
    // prompt keeps its place.
    MoveCursor(img, img->CurCol, img->CurRow - 1);
    fflush(stdout);
}

// Rows are written back to back without cursor moves: a full row makes the
// terminal wrap to the next one.
int Refresh(TermImage *img) {
    if (!img || !img->pCells || img->Cols <= 0 || img->Rows <= 0) return 0;
    const char *p = img->pCells;
    // The very last cell is left out: writing it would scroll the terminal.
    const char *end = img->pCells + static_cast<long>(img->Cols) * img->Rows - 1;
    std::string row;
    row.reserve(static_cast<size_t>(img->Cols));
    for (int r = 0; r < img->Rows && p < end; ++r) {
        row.clear();
        for (int n = 0; n < img->Cols && p < end; ++n) {
            char c = *p++;
            if (c == '\n') break;
            row += c;
        }
        fwrite(row.data(), 1, row.size(), stdout);
    }
    fflush(stdout);
    return 0;
}

// A test pattern: each cell shows the last digit of its place, so a
// misplaced write stands out. At most 24 by 80 cells are numbered.
void NumberScreen(TermImage *img) {
    if (!img || !img->pCells) return;
    long cells = std::min(static_cast<long>(img->Cols) * img->Rows, 24L * 80);
    for (long i = 0; i < cells; ++i)
        img->pCells[i] = static_cast<char>('0' + i % 10);
}

TermImage *GetTermInfo(TermImage *img) {
    int cols = 0, rows = 0;
    winsize ws;
    // The terminal's own size first; LINES and COLUMNS only when standard
    // output is no terminal, and then only when sane, so that a hostile
    // environment cannot make the image huge.
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
        cols = ws.ws_col;
        rows = ws.ws_row;
    } else {
        const char *l = getenv("LINES"), *c = getenv("COLUMNS");
        rows = l ? atoi(l) : 0;
        cols = c ? atoi(c) : 0;
        if (rows <= 0 || cols <= 0 || rows > 1000 || cols > 1000) {
            cols = 80;
            rows = 24;
        }
    }
    // The same size keeps the image and what it holds; a new size starts a
    // blank one.
    if (img && img->Cols == cols && img->Rows == rows && img->pCells) return img;
    TermImage *fresh = static_cast<TermImage *>(GetMem(sizeof(TermImage)));
    char *cells = static_cast<char *>(GetMem(static_cast<long>(cols) * rows));
    if (!fresh || !cells) {
        if (fresh) PutMem(fresh);
        return img;
    }
    memset(cells, ' ', static_cast<size_t>(cols) * rows);
    fresh->Cols = cols;
    fresh->Rows = rows;
    fresh->CurRow = 1;
    fresh->pCells = cells;
    if (img) {
        // The caller holds only the image returned: the old one goes.
        PutMem(img->pCells);
        PutMem(img);
    }
    return fresh;
}

void MoveCursor(TermImage *, int col, int row) {
    printf("\x1b[%d;%dH", std::max(row, 0) + 1, std::max(col, 0) + 1);
}

// The one way a page clears the terminal, for the picker and the menu page
// alike. The sequence is written rather than the `clear` program run: it
// needs no `clear` on PATH and no terminfo entry for TERM, costs no process
// start, and goes out through stdout's buffer behind what the page printed
// before it, where a program of its own would write straight to the terminal
// and could overtake text still in that buffer.
void ClearScreen(TermImage *img) {
    fputs("\x1b[H\x1b[2J", stdout);
    if (img && img->pCells) memset(img->pCells, ' ', static_cast<size_t>(img->Cols) * img->Rows);
}

