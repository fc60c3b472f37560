// Fuzz target: the line readers on arbitrary files (continuation lines, NULs,
// CR/LF mixes, no final newline, over-long lines). The first byte picks the
// comment filter of GetLine and the delimiters of GetFileTextLine; the rest
// is the file.
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "MemMgr.h"
#include "utils.h"

namespace {

// The line readers must never hand out more than their buffers hold, and a
// file of n bytes ends after at most n + 1 lines.
void ReadFileLines(const std::string &path, size_t size) {
    size_t limit = size + 2, n = 0;
    if (OpenInputFile(path.c_str(), 0)) {
        while (GetFileLine()) {
            fuzz::Expect(strnlen(LineBuf, LINE_BUF_SIZE) < LINE_BUF_SIZE,
                         "GetFileLine overran LineBuf");
            fuzz::Expect(LineLen >= 0 && LineLen < LINE_BUF_SIZE, "LineLen out of range");
            fuzz::Expect(++n <= limit, "GetFileLine does not end");
        }
    }
    CloseInputFile();
}

void ReadTextLines(const std::string &path, size_t size, const char *delims) {
    size_t limit = size + 2, n = 0;
    if (OpenInputFile(path.c_str(), 0)) {
        while (GetFileTextLine(delims))
            fuzz::Expect(++n <= limit, "GetFileTextLine does not end");
    }
    CloseInputFile();
}

void ReadFilteredLines(const std::string &path, size_t size, unsigned char filter) {
    size_t limit = size + 2, n = 0;
    unsigned char saved = flInputFilterState;
    flInputFilterState = filter;
    if (OpenInputFile(path.c_str(), 0)) {
        int got;
        while ((got = GetLine()) > 0) {
            fuzz::Expect(strnlen(Line, LINE_SIZE) < LINE_SIZE, "GetLine overran Line");
            fuzz::Expect(++n <= limit, "GetLine does not end");
        }
        GetLinePos(static_cast<long>(size / 2));
    }
    CloseInputFile();
    flInputFilterState = saved;
}

void ReadWhole(const std::string &path, size_t size) {
    if (GetFileContent(path.c_str(), nullptr))
        fuzz::Expect(strnlen(LineBuf, LINE_BUF_SIZE) < LINE_BUF_SIZE,
                     "GetFileContent overran LineBuf");
    char buf[65];
    if (GetFileContentR(path.c_str(), nullptr, buf, 64))
        fuzz::Expect(strnlen(buf, sizeof buf) < sizeof buf, "GetFileContentR overran its buffer");
    if (char *all = GetSavedFileContent(path.c_str(), nullptr)) {
        fuzz::Expect(static_cast<size_t>(SavedFileSize) == size, "GetSavedFileContent lost bytes");
        PutMem(all);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    unsigned char mode = size ? data[0] : 0;
    const uint8_t *file = size ? data + 1 : data;
    size_t fileSize = size ? size - 1 : 0;
    std::string path = fuzz::WriteScratchFile("input.txt", file, fileSize);
    static const char *const kDelims[] = {" \t", ",", "=", " \t=,"};
    ReadFileLines(path, fileSize);
    ReadTextLines(path, fileSize, kDelims[mode & 3]);
    ReadFilteredLines(path, fileSize, (mode & 4) ? 1 : 0);
    ReadWhole(path, fileSize);
    return 0;
}
