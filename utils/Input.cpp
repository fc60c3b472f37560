// Line input: one shared input file and shared line buffers, so that a
// reader loop is just "open, then get lines and look at LineBuf".
//
// GetFileLine joins backslash-continued lines for the package list and
// similar files; GetLine strips C and C++ comments for configuration texts;
// the whole-file readers load a small file into LineBuf, a caller's buffer
// or a new block.

#include "utils.h"

#include "MemMgr.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>

FILE *pIn = nullptr;
char InputFileName[INPUT_NAME_SIZE];
int32_t FileStatus = 0;
char LineBuf[LINE_BUF_SIZE];
int32_t LineLen = 0;
char Line[LINE_SIZE];
char *pLine = Line;
int32_t LineCnt = 0;
int32_t InPos = 0;
unsigned char flInputFilterState = 1;
int32_t SavedFileSize = 0;

namespace {

// A physical line is read in pieces of at most this many characters.
constexpr int PIECE_CHARS = 510;
// GetLine hands out the first bytes of Line only; the rest is cleared.
constexpr int GETLINE_SPAN = 512;

// Exit status when an input file that must be read cannot be opened: the
// run has failed and must not look like a success.
constexpr int STATUS_OPEN_FAILED = 1;

// Current offset of pIn for InPos; 0 when it cannot be told.
int32_t TellIn() {
    long pos = ftell(pIn);
    if (pos < 0) return 0;
    return pos > INT32_MAX ? INT32_MAX : static_cast<int32_t>(pos);
}

// Removes text[0, n) by moving the rest of the text down.
void DropFront(char *text, size_t n) {
    memmove(text, text + n, strlen(text + n) + 1);
}

// Reads dir/name (or dir alone) into buf: at most `size` bytes, terminated
// behind them. Returns the number of bytes read, or -1 when the file cannot
// be opened.
long ReadFileInto(const char *dir, const char *name, char *buf, long size) {
    if (dir == nullptr) return -1;
    char path[LINE_BUF_SIZE];
    int n = name ? FormatBounded(path, sizeof path, "%s/%s", dir, name)
                 : FormatBounded(path, sizeof path, "%s", dir);
    if (n < 0) return -1;
    FILE *f = fopen(path, "rb");
    if (f == nullptr) return -1;
    size_t got = size > 0 ? fread(buf, 1, static_cast<size_t>(size), f) : 0;
    buf[got] = '\0';
    fclose(f);
    return static_cast<long>(got);
}

// Closes the current input file and records path as the name of the next
// one (cut at the size of InputFileName).
void StartInput(const char *path) {
    // The name may be InputFileName itself (a reopen); copy through a
    // temporary so the copy never reads what it is overwriting.
    char name[INPUT_NAME_SIZE];
    snprintf(name, sizeof name, "%s", path);
    memcpy(InputFileName, name, sizeof name);
    CloseInputFile();
}

// Reports that path cannot be opened (level 2 ends the program) and leaves
// the state of a failed open. Returns 0.
int OpenFailed(const char *path, int level) {
    ErrorMsg(level, STATUS_OPEN_FAILED, "can't open file, %s", path);
    FileStatus = 2;
    LineBuf[0] = '\0';
    LineLen = 0;
    return 0;
}

} // namespace

int OpenInputFile(const char *path, int level) {
    if (path == nullptr) path = "";
    StartInput(path);
    pIn = *path ? fopen(path, "rt") : nullptr;
    if (pIn != nullptr) {
        FileStatus = 0;
        return 1;
    }
    if (*path == '\0') errno = ENOENT;
    return OpenFailed(path, level);
}

int OpenInputFileF(int level, const char *format, ...) {
    char path[512];
    va_list ap;
    va_start(ap, format);
    int n = VFormatBounded(path, sizeof path, format, ap);
    va_end(ap);
    if (n < 0) {
        // A cut name would open another file: fail as a missing one does.
        StartInput(path);
        return OpenFailed(path, level);
    }
    return OpenInputFile(path, level);
}

void CloseInputFile() {
    if (pIn == nullptr) return;
    fclose(pIn);
    pIn = nullptr;
    FileStatus = 1;
}

int GetFileLine() {
    if (pIn == nullptr) return 0;
    if (fgets(LineBuf, PIECE_CHARS + 1, pIn) == nullptr) {
        CloseInputFile();
        return 0;
    }

    // A line of exactly PIECE_CHARS characters leaves its line end unread;
    // take it along, so that such a line reads as one line and its final
    // backslash still continues it.
    size_t first = strlen(LineBuf);
    if (first == static_cast<size_t>(PIECE_CHARS) && LineBuf[first - 1] != '\n') {
        int c = getc(pIn);
        if (c == '\n') {
            LineBuf[first] = '\n';
            LineBuf[first + 1] = '\0';
        } else if (c != EOF) {
            ungetc(c, pIn);
        }
    }

    LineLen = 0;
    char *piece = LineBuf;
    while (strstr(piece, "\\\n") != nullptr) {
        size_t len = strlen(piece);
        char *next = piece + len;
        size_t used = static_cast<size_t>(next - LineBuf);
        // Room for at least one character and the terminator; what does not
        // fit stays in the file and comes back as the next line.
        if (used + 2 > sizeof LineBuf) break;
        LineLen += static_cast<int32_t>(len);
        if (fgets(next, static_cast<int>(sizeof LineBuf - used), pIn) == nullptr) {
            *next = '\0';
            break;
        }
        piece = next;
    }
    return 1;
}

int GetFileTextLine(const char *delims) {
    if (delims == nullptr) return 0;
    while (GetFileLine()) {
        if (LineBuf[0] == '#') continue;
        size_t start = strspn(LineBuf, delims);
        size_t len = strcspn(LineBuf + start, delims);
        if (len == 0) continue;
        memmove(LineBuf, LineBuf + start, len);
        LineBuf[len] = '\0';
        return 1;
    }
    return 0;
}

int GetLine() {
    LineCnt = 0;
    pLine = Line;
    if (pIn == nullptr) {
        Line[0] = '\0';
        return 0;
    }
    InPos = TellIn();
    bool inComment = false;

    for (;;) {
        if (fgets(Line, PIECE_CHARS + 1, pIn) == nullptr) {
            Line[0] = '\0';
            return 0;
        }
        ++LineCnt;
        if (!flInputFilterState) break;

        if (inComment) {
            char *end = strstr(Line, "*/");
            if (end == nullptr) {
                // Still inside the block comment: the line is skipped and
                // the text returned begins no earlier than the next one.
                InPos = TellIn();
                continue;
            }
            DropFront(Line, static_cast<size_t>(end + 2 - Line));
            inComment = false;
        }

        if (char *slashes = strstr(Line, "//")) *slashes = '\0';

        size_t blanks = 0;
        while (Line[blanks] && isspace(static_cast<unsigned char>(Line[blanks])))
            ++blanks;
        if (blanks) DropFront(Line, blanks);

        // Remove every complete /* */ pair; an unclosed one opens a block
        // comment, and the text before it is not kept.
        char *open = Line[0] ? strstr(Line, "/*") : nullptr;
        while (open != nullptr) {
            char *close = strstr(open + 2, "*/");
            if (close == nullptr) {
                inComment = true;
                break;
            }
            DropFront(open, static_cast<size_t>(close + 2 - open));
            open = strstr(open, "/*");
        }
        if (inComment) {
            InPos = TellIn();
            continue;
        }

        if (Line[0]) Line[strcspn(Line, "\r\n")] = '\0';
        break;
    }

    size_t len = strlen(Line);
    if (len < GETLINE_SPAN) memset(Line + len, 0, GETLINE_SPAN - len);
    return LineCnt;
}

int GetLineN(int n) {
    int result = 0;
    for (int i = 0; i < n; ++i) {
        result = GetLine();
        if (result == 0) break;
    }
    return result;
}

int GetLinePos(long pos) {
    if (pIn == nullptr) return 0;
    if (fseek(pIn, pos, SEEK_SET) != 0) return 0;
    return GetLine();
}

char *fgetsp(char *buf, int size, FILE *stream, long pos) {
    if (stream == nullptr || buf == nullptr) return nullptr;
    if (fseek(stream, pos, SEEK_SET) != 0) return nullptr;
    return fgets(buf, size, stream);
}

int GetFileContent(const char *dir, const char *name) {
    // The caller may pass text that lives in LineBuf itself: the path is
    // built elsewhere before LineBuf is filled.
    return ReadFileInto(dir, name, LineBuf, LINE_BUF_SIZE - 1) >= 0;
}

int GetFileContentR(const char *dir, const char *name, char *buf, int size) {
    if (buf == nullptr) return 0;
    return ReadFileInto(dir, name, buf, size < 0 ? 0 : size) >= 0;
}

char *GetSavedFileContent(const char *dir, const char *name) {
    char path[256];
    int n = FormatBounded(path, sizeof path, "%s%s%s", dir ? dir : "", name ? "/" : "",
                          name ? name : "");
    SavedFileSize = 0;
    if (dir == nullptr || n < 0) return nullptr;

    long size = GetFileSize(path);
    if (size <= 0 || size >= INT32_MAX) return nullptr;
    SavedFileSize = static_cast<int32_t>(size);

    char *block = static_cast<char *>(GetMem(size + 1));
    if (block == nullptr) {
        ErrorMsg(1, 0, "Unable to allocate memory");
        return nullptr;
    }
    if (size > 1) {
        FILE *f = fopen(path, "rb");
        if (f == nullptr) {
            PutMem(block);
            return nullptr;
        }
        size_t got = fread(block, 1, static_cast<size_t>(size), f);
        block[got] = '\0';
        fclose(f);
        SavedFileSize = static_cast<int32_t>(got);
    }
    return block;
}
