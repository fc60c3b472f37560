// Tests of the in-place editors on real files.

#include "utils.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>

namespace {

using namespace testsupport;

class EditTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string base = dir.path + "/cfg";
    std::string file = base + ".conf";

    // Writes `before` to cfg.conf, runs the edit, and returns what the file
    // holds afterwards; no temporary may be left behind.
    template <typename Fn> std::string Edit(const std::string &before, Fn edit, int expectRc = 0) {
        WriteFile(file, before);
        EXPECT_EQ(edit(), expectRc);
        EXPECT_FALSE(std::filesystem::exists(file + "out"));
        return ReadFile(file);
    }
    const char *B() const { return base.c_str(); }
};

TEST_F(EditTest, FileChangeReplacesTheFirstOccurrencePerLine) {
    EXPECT_EQ(Edit("old old\nnone\nx old\n", [&] { return FileChange(B(), "conf", "old", "new"); }),
              "new old\nnone\nx new\n");
    // The replacement may be longer, shorter or empty, and keeps the line end.
    EXPECT_EQ(Edit("a=1\r\n", [&] { return FileChange(B(), "conf", "=1", "=100"); }), "a=100\r\n");
    EXPECT_EQ(Edit("keep\n", [&] { return FileChange(B(), "conf", "ee", ""); }), "kp\n");
    // A pattern never spans lines.
    EXPECT_EQ(Edit("a\nb\n", [&] { return FileChange(B(), "conf", "a\nb", "X"); }), "a\nb\n");
}

TEST_F(EditTest, EmptyExtensionEditsTheBaseThroughBaseDotOut) {
    std::string plain = dir.path + "/plain";
    std::string victim = dir.path + "/victim";
    WriteFile(plain, "old\n");
    WriteFile(victim, "untouched\n");
    // Something planted under the temporary's name must not be written to.
    ASSERT_EQ(symlink(victim.c_str(), (plain + ".out").c_str()), 0);
    EXPECT_EQ(FileChange(plain.c_str(), "", "old", "new"), 0);
    EXPECT_EQ(ReadFile(plain), "new\n");
    EXPECT_EQ(ReadFile(victim), "untouched\n");
    EXPECT_FALSE(std::filesystem::exists(plain + ".out"));
    EXPECT_FALSE(std::filesystem::is_symlink(plain + ".out"));
    EXPECT_EQ(FileChange(plain.c_str(), nullptr, "new", "newer"), 0);
    EXPECT_EQ(ReadFile(plain), "newer\n");
}

TEST_F(EditTest, LongLinesAreEditedWhole) {
    std::string head(505, 'h');
    std::string line = head + "PATTERN" + std::string(700, 't') + "\n";
    std::string expect = head + "X" + std::string(700, 't') + "\n";
    EXPECT_EQ(Edit(line, [&] { return FileChange(B(), "conf", "PATTERN", "X"); }), expect);
    EXPECT_EQ(Edit(line, [&] { return FileInsert(B(), "conf", "> "); }), "> " + line);
}

TEST_F(EditTest, FileChangeCharReplacesOrDeletesACharacter) {
    EXPECT_EQ(Edit("a\r\nb\r\n", [&] { return FileChangeChar(B(), "conf", "13", nullptr); }),
              "a\nb\n");
    EXPECT_EQ(Edit("\tx\ty\n", [&] { return FileChangeChar(B(), "conf", "0x09", "32,32"); }),
              "  x  y\n");
    EXPECT_EQ(Edit("a;b\n", [&] { return FileChangeChar(B(), "conf", "073", "0x2d,062"); }),
              "a-2b\n");
    // More codes than fit are cut at 127 bytes.
    std::string many;
    for (int i = 0; i < 300; ++i)
        many += i ? ",65" : "65";
    EXPECT_EQ(Edit("|\n", [&] { return FileChangeChar(B(), "conf", "124", many.c_str()); }),
              std::string(127, 'A') + "\n");
    // A code that cannot be read changes nothing.
    EXPECT_EQ(Edit("abc\n", [&] { return FileChangeChar(B(), "conf", "x", "65"); }), "abc\n");
}

TEST_F(EditTest, FileDelKeepsTheFirstNMatches) {
    const char *text = "k=1 x\nother\nk=2 x\nk=3 x\n";
    EXPECT_EQ(Edit(text, [&] { return FileDel(B(), "conf", 1, " x"); }),
              "k=1 x\nother\nk=2\nk=3\n");
    EXPECT_EQ(Edit(text, [&] { return FileDel(B(), "conf", 0, "k="); }), "1 x\nother\n2 x\n3 x\n");
    EXPECT_EQ(Edit(text, [&] { return FileDel(B(), "conf", 5, "k="); }), text);
}

TEST_F(EditTest, FileDelLineKeepsTheFirstNMatchingLines) {
    const char *text = "#a\nb\n#c\n#d\n";
    EXPECT_EQ(Edit(text, [&] { return FileDelLine(B(), "conf", 0, "#"); }), "b\n");
    EXPECT_EQ(Edit(text, [&] { return FileDelLine(B(), "conf", 1, "#"); }), "#a\nb\n");
    EXPECT_EQ(Edit(text, [&] { return FileDelLine(B(), "conf", 9, "#"); }), text);
}

TEST_F(EditTest, FileDelLinePairDeletesOpeningAndClosingLines) {
    EXPECT_EQ(
        Edit("BEGIN\nx\nEND\ny\n", [&] { return FileDelLinePair(B(), "conf", 0, "BEGIN", "END"); }),
        "x\ny\n");
    // The first pair is kept; a closing line without a pending pair stays.
    EXPECT_EQ(Edit("END\nBEGIN 1\nEND\nBEGIN 2\na\nEND\nEND\n",
                   [&] { return FileDelLinePair(B(), "conf", 1, "BEGIN", "END"); }),
              "END\nBEGIN 1\nEND\na\nEND\n");
    // Pairs nest by count: two openings close with the next two closings.
    EXPECT_EQ(Edit("<\n<\n>\n>\n>\n", [&] { return FileDelLinePair(B(), "conf", 0, "<", ">"); }),
              ">\n");
}

TEST_F(EditTest, FileDelFormatModes) {
    struct Case {
        const char *mode;
        const char *pattern;
        const char *before;
        const char *after;
    } cases[] = {
        {"", "=", "k=v\nplain\n", "kv\nplain\n"},
        {"a", "=", "k=v\nplain\n", "k=\nplain\n"},
        {"after", "=", "k=v", "k=\n"},
        {"b", "=", "k=v\nplain\n", "=v\nplain\n"},
        {"c", "9", "\ta\tb\n\n", "ab\n\n"},
        {"c", "0x3d", "k=v=w\n", "kvw\n"},
        {"l", "#", "#x\ny\n#z\n", "y\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.pattern);
        EXPECT_EQ(Edit(c.before, [&] { return FileDelFormat(B(), "conf", c.mode, c.pattern); }),
                  c.after);
    }
    EXPECT_EQ(Edit("k=v\n", [&] { return FileDelFormat(B(), "conf", nullptr, "="); }), "kv\n");
}

TEST_F(EditTest, FileDelFormatUnknownModeLeavesEverythingAsItWas) {
    WriteFile(file, "k=v\n");
    struct stat before;
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    EXPECT_EQ(FileDelFormat(B(), "conf", "z", "="), 1);
    EXPECT_EQ(FileDelFormat(B(), "conf", "L", "="), 1);
    struct stat after;
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(ReadFile(file), "k=v\n");
    EXPECT_FALSE(std::filesystem::exists(file + "out"));
}

TEST_F(EditTest, FileInsertNumberedTemplates) {
    const std::string five = "1\n2\n3\n4\n5\n";
    struct Case {
        const char *tmpl;
        std::string after;
    } cases[] = {
        {"%s1#%#3 entry\n", "1\n2\n#00000 entry\n3\n#00001 entry\n4\n#00002 entry\n5\n"},
        {"n%#0 ", "n00000 1\nn00001 2\nn00002 3\nn00003 4\nn00004 5\n"},
        {"%s100%#95\n", "00005\n1\n00006\n2\n00007\n3\n00008\n4\n00009\n5\n"},
        {"> ", "> 1\n> 2\n> 3\n> 4\n> 5\n"},
        {"%s7x", "x1\nx2\nx3\nx4\nx5\n"},
        // Not numbered: written as it stands, printf marks included.
        {"%d%n%s ", "%d%n%s 1\n%d%n%s 2\n%d%n%s 3\n%d%n%s 4\n%d%n%s 5\n"},
        {"%# ", "%# 1\n%# 2\n%# 3\n%# 4\n%# 5\n"},
        {"", five},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tmpl);
        EXPECT_EQ(Edit(five, [&] { return FileInsert(B(), "conf", c.tmpl); }), c.after);
    }
}

TEST_F(EditTest, FileSearchInsertCountsOnlyMatchingLines) {
    EXPECT_EQ(Edit("x1\ny\nx2\ny\nx3\n",
                   [&] { return FileSearchInsert(B(), "conf", "%s1[%#2]\n", "x"); }),
              "x1\ny\n[00000]\nx2\ny\n[00001]\nx3\n");
    EXPECT_EQ(Edit("a\nb\n", [&] { return FileSearchInsert(B(), "conf", "#", "zz"); }), "a\nb\n");
}

TEST_F(EditTest, EmptyFileStaysEmpty) {
    EXPECT_EQ(Edit("", [&] { return FileInsert(B(), "conf", "x\n"); }), "");
    EXPECT_EQ(Edit("", [&] { return FileChange(B(), "conf", "a", "b"); }), "");
}

TEST_F(EditTest, EditedFileKeepsItsPermissionBits) {
    WriteFile(file, "#!/bin/sh\necho old\n");
    chmod(file.c_str(), 0750);
    EXPECT_EQ(FileChange(B(), "conf", "old", "new"), 0);
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    EXPECT_EQ(ReadFile(file), "#!/bin/sh\necho new\n");
}

TEST_F(EditTest, MissingFileOrUnwritableDirectoryEndsTheProgram) {
    ChildResult r = RunChild([&] {
        my_name = SaveStr("setup");
        FileChange((dir.path + "/missing").c_str(), "conf", "a", "b");
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\nsetup: can't open file, " + dir.path +
                         "/missing.conf : No such file or directory\n");

    std::string ro = dir.path + "/ro";
    ASSERT_EQ(mkdir(ro.c_str(), 0755), 0);
    WriteFile(ro + "/f.conf", "a\n");
    chmod(ro.c_str(), 0555);
    chmod(dir.path.c_str(), 0755);
    r = RunChild([&] {
        if (geteuid() == 0 && setuid(65534) != 0) _exit(9);
        my_name = SaveStr("setup");
        FileChange((ro + "/f").c_str(), "conf", "a", "b");
    });
    chmod(ro.c_str(), 0755);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\nsetup: can't open file, " + ro + "/f.confout : Permission denied\n");
    EXPECT_EQ(ReadFile(ro + "/f.conf"), "a\n");
}

TEST_F(EditTest, NamesThatDoNotFitAreRefused) {
    std::string longBase = dir.path + "/" + std::string(150, 'n');
    ChildResult r = RunChild([&] {
        my_name = SaveStr("setup");
        FileChange(longBase.c_str(), "conf", "a", "b");
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("can't open file, "), std::string::npos);
    EXPECT_NE(r.err.find("File name too long"), std::string::npos);
    r = RunChild([&] { OpenIOFiles(longBase.c_str(), ""); });
    EXPECT_EQ(r.status, 1);
}

TEST_F(EditTest, OwnEditingLoopThroughTheStreamPair) {
    WriteFile(file, "one\n// note\ntwo\n");
    ASSERT_NE(OpenIOFiles(B(), "conf"), nullptr);
    EXPECT_EQ(std::string(Fn), file);
    EXPECT_EQ(std::string(FnOut), file + "out");
    ASSERT_NE(pIn, nullptr);
    while (GetLine()) {
        if (Line[0]) fprintf(pOut, "[%s]\n", Line);
    }
    EXPECT_EQ(ReplaceInputFile(), 0);
    EXPECT_EQ(pIn, nullptr);
    EXPECT_EQ(pOut, nullptr);
    EXPECT_EQ(ReadFile(file), "[one]\n[two]\n");
    EXPECT_FALSE(std::filesystem::exists(file + "out"));
    // Nothing open: nothing to replace.
    EXPECT_NE(ReplaceInputFile(), 0);

    // Without an extension the temporary is the name followed by "out".
    std::string plain = dir.path + "/plain";
    WriteFile(plain, "x\n");
    ASSERT_NE(OpenIOFiles(plain.c_str(), ""), nullptr);
    EXPECT_EQ(std::string(FnOut), plain + "out");
    fputs("y\n", pOut);
    EXPECT_EQ(ReplaceInputFile(), 0);
    EXPECT_EQ(ReadFile(plain), "y\n");
}

TEST_F(EditTest, EditingLoopThatReadsToTheEndKeepsThePermissionBits) {
    // GetFileLine closes pIn at the end of the file: the replaced file still
    // keeps its mode.
    WriteFile(file, "#!/bin/sh\necho a\n");
    chmod(file.c_str(), 0751);
    ASSERT_NE(OpenIOFiles(B(), "conf"), nullptr);
    while (GetFileLine())
        fputs(strcmp(LineBuf, "echo a\n") == 0 ? "echo b\n" : LineBuf, pOut);
    EXPECT_EQ(pIn, nullptr);
    EXPECT_EQ(ReplaceInputFile(), 0);
    EXPECT_EQ(ReadFile(file), "#!/bin/sh\necho b\n");
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_FALSE(std::filesystem::exists(file + "out"));
}

TEST(GenName, CapitalisedRunsOfLettersAndDigits) {
    struct Case {
        const char *text;
        const char *name;
    } cases[] = {
        {"printer queue-name 2", "PrinterQueueName2"},
        {"  12 abc", "Abc"},
        {"HELLO wORLD", "HelloWorld"},
        {"a_b_c", "ABC"},
        {"x2y z", "X2yZ"},
        {"", ""},
        {"123 -- ", ""},
        {nullptr, ""},
    };
    for (const Case &c : cases)
        EXPECT_STREQ(GenName(c.text), c.name) << (c.text ? c.text : "null");

    std::string longText;
    for (int i = 0; i < 200; ++i)
        longText += "word ";
    EXPECT_EQ(strlen(GenName(longText.c_str())), 254u);
}

} // namespace
