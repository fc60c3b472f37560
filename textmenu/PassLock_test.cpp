// Tests of pass-phrase locks: the values, which phrases open them, and what
// reading a lock file makes of each kind of thing at its path.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "MemMgr.h"
#include "NlsUtils.h"
#include "TestSupport.h"
#include "TextMenu.h"

using testsupport::ChildResult;
using testsupport::RunChild;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string Value(const char *phrase) {
    char *v = PassLockValue(phrase);
    std::string s = v ? v : "";
    PutMem(v);
    return s;
}

} // namespace

TEST(PassLock, AValueIsASaltedCryptOfTheStrongestMethod) {
    std::string a = Value("secret12"), b = Value("secret12");
    ASSERT_EQ(a.rfind("$y$", 0), 0u) << a;
    EXPECT_NE(a, b) << "two locks of one phrase share their salt";
    EXPECT_EQ(PassLockIsOld(a.c_str()), 0);
    // The C library's own check agrees.
    EXPECT_STREQ(crypt("secret12", a.c_str()), a.c_str());
}

TEST(PassLock, OnlyThePhraseOfAValueOpensIt) {
    const std::string made = Value("secret12");
    const std::string empty = Value("");
    // The older form: NlsCalcStrVal of the phrase. It is linear, so a phrase
    // with the same sums opens it too; the new form does not share that.
    const std::string old = NlsCalcStrVal("secret12");
    ASSERT_EQ(old, "00003CB0000002E9");
    ASSERT_EQ(std::string(NlsCalcStrVal("tbfqet12")), old);
    struct Case {
        const char *name;
        const char *phrase;
        std::string value;
        int opens;
    } cases[] = {
        {"its phrase", "secret12", made, 1},
        {"same sums, new form", "tbfqet12", made, 0},
        {"another phrase", "secret13", made, 0},
        {"a prefix", "secret1", made, 0},
        {"a longer phrase", "secret123", made, 0},
        {"empty phrase of a value", "", made, 0},
        {"empty phrase of its own", "", empty, 1},
        {"old form, its phrase", "secret12", old, 1},
        {"old form, same sums", "tbfqet12", old, 1},
        {"old form, another phrase", "secret13", old, 0},
        {"old form in lower case", "secret12", "00003cb0000002e9", 0},
        {"empty value", "secret12", "", 0},
        {"a star", "secret12", "*", 0},
        {"a traditional two-character salt", "secret12", crypt("secret12", "ab"), 0},
        {"a cut value", "secret12", made.substr(0, made.size() - 4), 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(PassLockOpens(c.phrase, c.value.c_str()), c.opens) << c.name;
    EXPECT_EQ(PassLockIsOld(old.c_str()), 1);
    EXPECT_EQ(PassLockIsOld("00003CB0000002E"), 0);
    EXPECT_EQ(PassLockIsOld("00003CB0000002EG"), 0);
}

// Whatever stands at the lock's path, reading it answers at once: nothing
// there is no lock, a regular file gives its first line, and anything else
// counts as a lock that no phrase opens.
TEST(PassLock, ReadingALockNeverWaitsAndTrustsOnlyRegularFiles) {
    TempDir dir;
    chmod(dir.path.c_str(), 0755);
    const std::string d = dir.path;
    WriteFile(d + "/plain.lock", "$y$j9T$abc$def\n");
    WriteFile(d + "/crlf.lock", "00003CB0000002E9\r\nsecond line\n");
    WriteFile(d + "/bare.lock", "00003CB0000002E9");
    WriteFile(d + "/empty.lock", "");
    WriteFile(d + "/private.lock", "00003CB0000002E9\n", 0);
    mkdir((d + "/dir.lock").c_str(), 0755);
    mkfifo((d + "/fifo.lock").c_str(), 0644);
    symlink((d + "/plain.lock").c_str(), (d + "/link.lock").c_str());
    symlink((d + "/missing").c_str(), (d + "/dangling.lock").c_str());
    symlink("/dev/zero", (d + "/device.lock").c_str());
    WriteFile(d + "/file", "x");
    struct Case {
        const char *name;
        std::string path;
        int result;
        const char *value;
    } cases[] = {
        {"missing", d + "/none.lock", PASSLOCK_NONE, ""},
        {"under a file", d + "/file/x.lock", PASSLOCK_NONE, ""},
        {"plain", d + "/plain.lock", PASSLOCK_READ, "$y$j9T$abc$def"},
        {"CR LF and a second line", d + "/crlf.lock", PASSLOCK_READ, "00003CB0000002E9"},
        {"no line end", d + "/bare.lock", PASSLOCK_READ, "00003CB0000002E9"},
        {"empty", d + "/empty.lock", PASSLOCK_READ, ""},
        {"link to a file", d + "/link.lock", PASSLOCK_READ, "$y$j9T$abc$def"},
        {"directory", d + "/dir.lock", PASSLOCK_UNREADABLE, ""},
        {"FIFO", d + "/fifo.lock", PASSLOCK_UNREADABLE, ""},
        {"dangling link", d + "/dangling.lock", PASSLOCK_UNREADABLE, ""},
        {"link to a device", d + "/device.lock", PASSLOCK_UNREADABLE, ""},
        {"device", "/dev/null", PASSLOCK_UNREADABLE, ""},
    };
    for (const Case &c : cases) {
        char value[256] = "left over";
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(PassLockRead(c.path.c_str(), value, sizeof value), c.result) << c.name;
        EXPECT_STREQ(value, c.value) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.name;
    }
    // A value longer than the buffer is cut, never written past it.
    WriteFile(d + "/long.lock", std::string(300, 'A'));
    char small[8];
    EXPECT_EQ(PassLockRead((d + "/long.lock").c_str(), small, sizeof small), PASSLOCK_READ);
    EXPECT_STREQ(small, "AAAAAAA");

    // A file its reader may not read is a lock all the same (as root the
    // reader becomes nobody first).
    ChildResult r = RunChild([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        char value[64];
        printf("%d", PassLockRead((d + "/private.lock").c_str(), value, sizeof value));
    });
    EXPECT_EQ(r.out, std::to_string(PASSLOCK_UNREADABLE)) << r.err;
}
