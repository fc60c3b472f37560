// Tests of the SHA-256 digest: the published test vectors, and sha256sum as
// an independent oracle over every length around the block and padding
// boundaries and over every way of cutting the input into pieces.

#include "utils.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

std::string HexOf(const std::string &data) {
    Sha256 s;
    Sha256Init(&s);
    Sha256Update(&s, data.data(), data.size());
    unsigned char digest[SHA256_SIZE];
    Sha256Final(&s, digest);
    char hex[SHA256_HEX_SIZE];
    Sha256Hex(digest, hex);
    return hex;
}

// Bytes that are not a repeat of one character, so that a block taken from
// the wrong place shows.
std::string Pattern(size_t n) {
    std::string data(n, 0);
    for (size_t i = 0; i < n; ++i)
        data[i] = static_cast<char>((i * 131 + i / 7) & 0xff);
    return data;
}

// The digests sha256sum prints for files of the given sizes of Pattern.
std::vector<std::string> OracleDigests(const std::string &dir, const std::vector<size_t> &sizes) {
    std::string cmd = "sha256sum";
    for (size_t n : sizes) {
        std::string name = "p" + std::to_string(n);
        testsupport::WriteFile(dir + "/" + name, Pattern(n));
        cmd += " " + name;
    }
    testsupport::ChildResult r = testsupport::Shell(cmd, dir);
    std::vector<std::string> digests;
    for (const std::string &line : testsupport::Lines(r.out))
        digests.push_back(line.substr(0, 64));
    return digests;
}

} // namespace

TEST(Sha256, PublishedVectors) {
    const struct {
        const char *name;
        std::string data;
        const char *want;
    } kCases[] = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"a million a", std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto &c : kCases)
        EXPECT_EQ(HexOf(c.data), c.want) << c.name;
}

TEST(Sha256, AgreesWithSha256sumAroundEveryBoundary) {
    testsupport::TempDir tmp("sha256");
    ASSERT_FALSE(tmp.path.empty());
    const std::string &dir = tmp.path;
    // Every length up to three blocks (the padding's 55/56 and 63/64 edges
    // of each), then larger sizes across the reader's 64 KiB buffer.
    std::vector<size_t> sizes;
    for (size_t n = 0; n <= 192; ++n)
        sizes.push_back(n);
    for (size_t n : {65535u, 65536u, 65537u, 200000u})
        sizes.push_back(n);
    std::vector<std::string> want = OracleDigests(dir, sizes);
    ASSERT_EQ(want.size(), sizes.size()) << "sha256sum did not answer for every file";
    for (size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_EQ(HexOf(Pattern(sizes[i])), want[i]) << "length " << sizes[i];
        int fd = open((dir + "/p" + std::to_string(sizes[i])).c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        char hex[SHA256_HEX_SIZE];
        EXPECT_EQ(Sha256Fd(fd, hex), 1);
        close(fd);
        EXPECT_EQ(std::string(hex), want[i]) << "file of length " << sizes[i];
    }
}

TEST(Sha256, PiecesOfAnySizeGiveTheDigestOfTheWhole) {
    const std::string data = Pattern(300);
    const std::string whole = HexOf(data);
    for (size_t piece = 1; piece <= 130; ++piece) {
        Sha256 s;
        Sha256Init(&s);
        for (size_t at = 0; at < data.size(); at += piece)
            Sha256Update(&s, data.data() + at, std::min(piece, data.size() - at));
        Sha256Update(&s, "", 0);
        unsigned char digest[SHA256_SIZE];
        Sha256Final(&s, digest);
        char hex[SHA256_HEX_SIZE];
        Sha256Hex(digest, hex);
        EXPECT_EQ(std::string(hex), whole) << "pieces of " << piece;
    }
}

TEST(Sha256, UnreadableDescriptorIsAFailure) {
    char hex[SHA256_HEX_SIZE] = "unchanged";
    EXPECT_EQ(Sha256Fd(-1, hex), 0);
    EXPECT_STREQ(hex, "unchanged");
}
