// Tests of the line input: the shared input file, the continuation and
// comment-stripping readers, and the whole-file readers.

#include "utils.h"

#include "MemMgr.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace testsupport;

class InputTest : public ::testing::Test {
  protected:
    void TearDown() override {
        CloseInputFile();
        flInputFilterState = 1;
    }
    // Writes text to a scratch file and opens it as the input file.
    void Open(const std::string &text) {
        WriteFile(file, text);
        ASSERT_EQ(OpenInputFile(file.c_str(), 1), 1);
    }
    // Every line GetFileLine returns, with LineLen, until the end.
    std::vector<std::pair<std::string, int>> FileLines() {
        std::vector<std::pair<std::string, int>> lines;
        while (GetFileLine())
            lines.emplace_back(LineBuf, LineLen);
        return lines;
    }
    TempDir dir;
    std::string file = dir.path + "/in";
};

TEST_F(InputTest, OpenInputFileFailureByLevel) {
    std::string missing = dir.path + "/missing";
    ChildResult r = RunChild([&] {
        snprintf(LineBuf, sizeof LineBuf, "stale");
        LineLen = 9;
        int ok = OpenInputFile(missing.c_str(), 0);
        printf("%d %d [%s] %d %s", ok, FileStatus, LineBuf, LineLen, InputFileName);
    });
    EXPECT_EQ(r.out, "0 2 [] 0 " + missing);
    EXPECT_EQ(r.err, "");

    r = RunChild([&] { OpenInputFile(missing.c_str(), 1); });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "WARNING: can't open file, " + missing + "\n");

    // A file that must be read and cannot be is a failed run, not a success.
    r = RunChild([&] { OpenInputFile(missing.c_str(), 2); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: can't open file, " + missing + "\n");

    r = RunChild([&] { OpenInputFileF(2, "%s/%s", dir.path.c_str(), "missing"); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: can't open file, " + missing + "\n");
}

TEST_F(InputTest, OpenInputFileClosesThePreviousOne) {
    Open("one\n");
    FILE *first = pIn;
    std::string second = dir.path + "/second";
    WriteFile(second, "two\n");
    ASSERT_EQ(OpenInputFileF(0, "%s", second.c_str()), 1);
    EXPECT_NE(pIn, nullptr);
    EXPECT_EQ(FileStatus, 0);
    EXPECT_STREQ(InputFileName, second.c_str());
    (void)first;
    ASSERT_EQ(GetFileLine(), 1);
    EXPECT_STREQ(LineBuf, "two\n");
    // A failed open leaves no file open.
    EXPECT_EQ(OpenInputFile((dir.path + "/missing").c_str(), 0), 0);
    EXPECT_EQ(pIn, nullptr);
    EXPECT_EQ(GetFileLine(), 0);
}

TEST_F(InputTest, OpenInputFileFRefusesAPathThatDoesNotFit) {
    std::string name(600, 'x');
    ChildResult r = RunChild([&] {
        int ok = OpenInputFileF(1, "/%s", name.c_str());
        printf("%d %d", ok, FileStatus);
    });
    EXPECT_EQ(r.out, "0 2");
    EXPECT_EQ(r.err.rfind("WARNING: can't open file, /xxx", 0), 0u);
}

TEST_F(InputTest, GetFileLineJoinsBackslashContinuations) {
    Open("a \\\nb\nplain\nx\\\ny\\\nz\nlast");
    auto lines = FileLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].first, "a \\\nb\n");
    EXPECT_EQ(lines[0].second, 4); // the first physical line "a \<newline>"
    EXPECT_EQ(lines[1].first, "plain\n");
    EXPECT_EQ(lines[1].second, 0);
    EXPECT_EQ(lines[2].first, "x\\\ny\\\nz\n");
    EXPECT_EQ(lines[2].second, 6);
    EXPECT_EQ(lines[3].first, "last"); // no line end added
    EXPECT_EQ(pIn, nullptr);
    EXPECT_EQ(FileStatus, 1);
    EXPECT_EQ(GetFileLine(), 0);
}

TEST_F(InputTest, GetFileLineReadsLongLinesInPiecesOf510) {
    std::string longLine(1200, 'q');
    Open(longLine + "\n");
    auto lines = FileLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].first.size(), 510u);
    EXPECT_EQ(lines[1].first.size(), 510u);
    EXPECT_EQ(lines[2].first, std::string(180, 'q') + "\n");
}

TEST_F(InputTest, GetFileLineTakesTheLineEndOfAFullPieceAlong) {
    // 510 characters and a line end are one line; its final backslash joins
    // the next line as at any shorter length.
    std::string full(510, 'f');
    std::string continued = std::string(509, 'c') + "\\";
    Open(full + "\n" + continued + "\nnext\nlast\n");
    auto lines = FileLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].first, full + "\n");
    EXPECT_EQ(lines[1].first, continued + "\nnext\n");
    EXPECT_EQ(lines[1].second, 511);
    EXPECT_EQ(lines[2].first, "last\n");
}

TEST_F(InputTest, GetFileLineNeverOverrunsLineBufWithEndlessContinuations) {
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += std::string(200, 'a' + i % 26) + "\\\n";
    text += "end\n";
    Open(text);
    auto lines = FileLines();
    ASSERT_GE(lines.size(), 2u);
    size_t total = 0;
    for (auto &l : lines) {
        EXPECT_LT(l.first.size(), static_cast<size_t>(LINE_BUF_SIZE));
        total += l.first.size();
    }
    EXPECT_EQ(total, text.size()); // nothing lost, nothing doubled
    EXPECT_EQ(lines.back().first.substr(lines.back().first.size() - 4), "end\n");
}

TEST_F(InputTest, GetFileLineWithoutAFileIsZero) {
    EXPECT_EQ(GetFileLine(), 0);
}

TEST_F(InputTest, GetFileTextLineSkipsCommentsAndBlankLines) {
    Open("# comment\n\n   \t\n  first word\n#x\nsecond\n   # not a comment line\n");
    std::vector<std::string> words;
    while (GetFileTextLine(" \t\n"))
        words.emplace_back(LineBuf);
    EXPECT_EQ(words, (std::vector<std::string>{"first", "second", "#"}));
    EXPECT_EQ(GetFileTextLine(nullptr), 0);
}

struct GetLineCase {
    const char *text; // the file
    int filter;       // flInputFilterState
    const char *line; // Line after the call
    int count;        // result and LineCnt
    int inPos;        // InPos
};

TEST_F(InputTest, GetLineStripsCommentsLeadingSpaceAndLineEnd) {
    const GetLineCase cases[] = {
        {"   x = 1;// note\n", 1, "x = 1;", 1, 0},
        {"x = 1; // note\n", 1, "x = 1; ", 1, 0},
        {"a /* b */ c\n", 1, "a  c", 1, 0},
        {"a /* b */ c /* d */ e\n", 1, "a  c  e", 1, 0},
        {"a /* b\nc */ d\n", 1, "d", 2, 7},
        {"a /* b\nstill\ninside\n*/ out\n", 1, "out", 4, 20},
        {"\n", 1, "", 1, 0},
        {"   \t\n", 1, "", 1, 0},
        {"crlf\r\n", 1, "crlf", 1, 0},
        {"// only a comment\n", 1, "", 1, 0},
        {"   x = 1;// note\n", 0, "   x = 1;// note\n", 1, 0},
        {"no line end", 1, "no line end", 1, 0},
        {"", 1, "", 0, 0},
        {"/* never closed\nmore\n", 1, "", 0, 16},
    };
    for (const GetLineCase &c : cases) {
        SCOPED_TRACE(c.text);
        Open(c.text);
        flInputFilterState = static_cast<unsigned char>(c.filter);
        snprintf(Line, LINE_SIZE, "%s", std::string(600, '#').c_str());
        EXPECT_EQ(GetLine(), c.count);
        EXPECT_STREQ(Line, c.line);
        EXPECT_EQ(pLine, Line);
        // The rest of the first 512 bytes is cleared.
        if (c.count) {
            EXPECT_EQ(LineCnt, c.count);
            EXPECT_EQ(InPos, c.inPos);
            size_t len = strlen(Line);
            for (size_t i = len; i < 512; ++i)
                ASSERT_EQ(Line[i], '\0') << i;
        }
    }
}

TEST_F(InputTest, GetLineNAndGetLinePos) {
    Open("one\ntwo\n  three\nfour\n");
    EXPECT_EQ(GetLineN(0), 0);
    EXPECT_EQ(GetLineN(3), 1);
    EXPECT_STREQ(Line, "three");
    EXPECT_EQ(InPos, 8);
    EXPECT_EQ(GetLinePos(4), 1);
    EXPECT_STREQ(Line, "two");
    EXPECT_EQ(GetLineN(5), 0); // runs out: three, four, end
    EXPECT_EQ(GetLinePos(0), 1);
    EXPECT_STREQ(Line, "one");

    char buf[16];
    ASSERT_NE(fgetsp(buf, sizeof buf, pIn, 10), nullptr);
    EXPECT_STREQ(buf, "three\n");
    EXPECT_EQ(fgetsp(buf, sizeof buf, nullptr, 0), nullptr);
}

TEST_F(InputTest, WholeFileReadersIntoLineBufAndCallerBuffer) {
    std::string big;
    for (int i = 0; i < 5000; ++i)
        big += static_cast<char>('a' + i % 26);
    WriteFile(dir.path + "/big", big);
    ASSERT_EQ(GetFileContent(dir.path.c_str(), "big"), 1);
    EXPECT_EQ(std::string(LineBuf), big.substr(0, 4095));
    ASSERT_EQ(GetFileContent((dir.path + "/big").c_str(), nullptr), 1);
    EXPECT_EQ(strlen(LineBuf), 4095u);
    EXPECT_EQ(GetFileContent(dir.path.c_str(), "missing"), 0);
    EXPECT_EQ(GetFileContent(nullptr, nullptr), 0);

    // The path may itself live in LineBuf.
    snprintf(LineBuf, sizeof LineBuf, "%s/big", dir.path.c_str());
    ASSERT_EQ(GetFileContent(LineBuf, nullptr), 1);
    EXPECT_EQ(std::string(LineBuf), big.substr(0, 4095));

    char buf[11];
    memset(buf, '#', sizeof buf);
    ASSERT_EQ(GetFileContentR(dir.path.c_str(), "big", buf, 10), 1);
    EXPECT_STREQ(buf, "abcdefghij");
    EXPECT_EQ(GetFileContentR(dir.path.c_str(), "missing", buf, 10), 0);
}

TEST_F(InputTest, GetSavedFileContentLoadsTheWholeFile) {
    struct Case {
        const char *name;
        std::string content; // written when the name is not "missing"
        const char *text;    // expected result, null for none
        int size;            // SavedFileSize
    } cases[] = {
        {"empty", "", nullptr, 0},
        {"ten", "0123456789", "0123456789", 10},
        {"one", "\n", "", 1},
        {"missing", "", nullptr, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (strcmp(c.name, "missing") != 0) WriteFile(dir.path + "/" + c.name, c.content);
        SavedFileSize = -1;
        char *text = GetSavedFileContent(dir.path.c_str(), c.name);
        EXPECT_EQ(SavedFileSize, c.size);
        if (c.text == nullptr) {
            EXPECT_EQ(text, nullptr);
        } else {
            ASSERT_NE(text, nullptr);
            EXPECT_STREQ(text, c.text);
            PutMem(text);
        }
    }
    std::string large(100000, 'L');
    WriteFile(dir.path + "/large", large);
    char *text = GetSavedFileContent((dir.path + "/large").c_str(), nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), large);
    EXPECT_EQ(SavedFileSize, 100000);
    PutMem(text);
}

} // namespace
