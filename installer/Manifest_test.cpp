// The manifest's text: escaping of any bytes, the written form read back,
// every kind of damage named, and paths described as they are on disk.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "TestSupport.h"
#include "setup.h"
#include "utils.h"

namespace {

const char *const kHeader = "format 1\nsuite 4.30.09\nroot /opt\nappdir /opt/Dorna/dpxx\n"
                            "printsystem CUPS\ndate 2026-12-08T00:00:00Z\n";
const char *const kDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::string WithHeader(const std::string &lines) {
    return kHeader + lines;
}

bool Parses(const std::string &text, std::string *why = nullptr) {
    Manifest m;
    std::string reason;
    int ok = parseManifest(text.data(), text.size(), &m, &reason);
    if (why != nullptr) *why = reason;
    return ok == 1;
}

} // namespace

TEST(Manifest, EveryByteEscapesToPrintableTextAndBack) {
    for (int c = 0; c < 256; ++c) {
        const char byte = static_cast<char>(c);
        std::string escaped = escapeManifestText(&byte, 1);
        for (char e : escaped)
            EXPECT_TRUE(e > ' ' && e < 0x7f) << "byte " << c;
        std::string back;
        ASSERT_EQ(unescapeManifestText(escaped, &back), 1) << "byte " << c;
        EXPECT_EQ(back, std::string(1, byte)) << "byte " << c;
    }
    std::string name("a b\\c\n\x01\xff", 8);
    EXPECT_EQ(escapeManifestText(name.data(), name.size()), "a\\040b\\134c\\012\\001\\377");
}

TEST(Manifest, BadEscapesAreRefused) {
    const struct {
        const char *name, *text;
    } kCases[] = {
        {"blank", "a b"},
        {"cut escape", "a\\01"},
        {"not octal", "a\\089"},
        {"above a byte", "\\400"},
        {"needless escape of a letter", "\\141"},
        {"tab", "a\tb"},
    };
    for (const auto &c : kCases) {
        std::string out;
        EXPECT_EQ(unescapeManifestText(c.text, &out), 0) << c.name;
    }
}

TEST(Manifest, WrittenTextReadsBackTheSame) {
    Manifest m;
    m.format = MANIFEST_FORMAT;
    m.suite = "4.30.09";
    m.root = "/my root";
    m.appDir = "/my root/Dorna/dpxx";
    m.printSystem = "BSD";
    m.date = "2026-12-08T00:00:00Z";
    ManifestEntry dir, file, link, failed;
    dir.path = "/my root/Dorna/dpxx";
    dir.kind = MANIFEST_DIR;
    dir.mode = 0775;
    dir.owner = dir.group = "root";
    file.path = "/my root/Dorna/dpxx/d\nsf";
    file.kind = MANIFEST_FILE;
    file.mode = 04755;
    file.owner = "root";
    file.group = "lp";
    file.size = 0;
    file.data = kDigest;
    link.path = "/usr/Dorna/dpxx";
    link.kind = MANIFEST_LINK;
    link.mode = 0777;
    link.owner = link.group = "root";
    link.data = "/my root/Dorna/dpxx";
    link.size = static_cast<long long>(link.data.size());
    failed.path = "/my root/Dorna/dpxx/missing";
    failed.kind = MANIFEST_FAILED;
    m.entries = {dir, file, failed, link};
    const std::string text = formatManifest(m);
    EXPECT_TRUE(testsupport::Contains(text, "/my\\040root/Dorna/dpxx/d\\012sf file 4755 root lp 0 "))
        << text;
    Manifest back;
    std::string why;
    ASSERT_EQ(parseManifest(text.data(), text.size(), &back, &why), 1) << why << "\n" << text;
    EXPECT_EQ(back.root, m.root);
    EXPECT_EQ(back.appDir, m.appDir);
    ASSERT_EQ(back.entries.size(), 4u);
    EXPECT_EQ(back.entries[1].path, file.path);
    EXPECT_EQ(back.entries[1].mode, 04755u);
    EXPECT_EQ(back.entries[1].data, kDigest);
    EXPECT_EQ(back.entries[2].kind, MANIFEST_FAILED);
    EXPECT_EQ(back.entries[3].data, link.data);
}

TEST(Manifest, DamageIsNamedWithItsLine) {
    const std::string file = std::string("/opt/Dorna/dpxx/a file 0644 root root 0 ") + kDigest;
    const struct {
        const char *name;
        std::string text;
        const char *why;
    } kCases[] = {
        {"empty", "", "incomplete"},
        {"another format", "format 2\n", "line 1: not \"format 1\""},
        {"cut last line", WithHeader(file), "no line end"},
        {"header key twice", WithHeader("root /opt\n"), "line 7: not a header line"},
        {"unknown header key", "format 1\ncolour red\n", "line 2: not a header line"},
        {"path before the header ends", "format 1\nsuite 1\n" + file + "\n", "before the whole"},
        {"six fields", WithHeader("/opt/Dorna/dpxx/a file 0644 root root 0\n"), "seven"},
        {"two blanks", WithHeader("/opt/Dorna/dpxx  file 0644 root root 0 -\n"), "seven"},
        {"unknown kind", WithHeader("/opt/Dorna/dpxx/a pipe 0644 root root - -\n"), "unknown kind"},
        {"mode not octal", WithHeader("/opt/Dorna/dpxx/a dir 0985 root root - -\n"), "bad mode"},
        {"mode too wide", WithHeader("/opt/Dorna/dpxx/a dir 17777 root root - -\n"), "bad mode"},
        {"short digest", WithHeader("/opt/Dorna/dpxx/a file 0644 root root 0 abc\n"), "digest"},
        {"size not a number", WithHeader("/opt/Dorna/dpxx/a file 0644 root root x " +
                                         std::string(kDigest) + "\n"),
         "bad size"},
        {"link length differs", WithHeader("/usr/Dorna/dpxx link 0777 root root 3 /opt\n"),
         "link target"},
        {"relative path", WithHeader("opt/x dir 0755 root root - -\n"), "not a header line"},
        {"unsorted", WithHeader(file + "\n/opt/Dorna dir 0755 root root - -\n"), "out of order"},
        {"twice", WithHeader(file + "\n" + file + "\n"), "out of order"},
        {"failed with attributes", WithHeader("/opt/x failed 0644 - - - -\n"), "failed path"},
        {"header after paths", WithHeader(file + "\nsuite 2\n"), "header line after"},
        {"NUL byte", WithHeader(std::string("/opt/\0 dir 0755 root root - -\n", 30)), "NUL"},
        {"root and appdir disagree",
         "format 1\nsuite 1\nroot /opt\nappdir /srv/Dorna/dpxx\nprintsystem BSD\ndate x\n",
         "application directory"},
    };
    for (const auto &c : kCases) {
        std::string why;
        EXPECT_FALSE(Parses(c.text, &why)) << c.name;
        EXPECT_TRUE(testsupport::Contains(why, c.why)) << c.name << ": " << why;
    }
    EXPECT_TRUE(Parses(WithHeader("# a comment\n" + file + "\n")));
}

TEST(Manifest, PathsAreDescribedAsTheyAreWithoutFollowingLinks) {
    testsupport::TempDir tmp("manifest");
    ASSERT_TRUE(testsupport::WriteFile(tmp / "f", "", 0640));
    ASSERT_EQ(symlink("f", (tmp / "l").c_str()), 0);
    ASSERT_EQ(mkdir((tmp / "d").c_str(), 0750), 0);
    ASSERT_EQ(chmod((tmp / "d").c_str(), 0750), 0);
    ManifestEntry e;
    ASSERT_EQ(describeInstalledPath((tmp / "f").c_str(), &e), 1);
    EXPECT_EQ(e.kind, MANIFEST_FILE);
    EXPECT_EQ(e.mode, 0640u);
    EXPECT_EQ(e.size, 0);
    EXPECT_EQ(e.data, kDigest);
    ASSERT_EQ(describeInstalledPath((tmp / "l").c_str(), &e), 1);
    EXPECT_EQ(e.kind, MANIFEST_LINK);
    EXPECT_EQ(e.data, "f");
    EXPECT_EQ(e.size, 1);
    ASSERT_EQ(describeInstalledPath((tmp / "d").c_str(), &e), 1);
    EXPECT_EQ(e.kind, MANIFEST_DIR);
    EXPECT_EQ(e.mode, 0750u);
    EXPECT_EQ(describeInstalledPath((tmp / "missing").c_str(), &e), 0);
}
