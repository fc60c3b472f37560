// SHA-256 (FIPS 180-4): the digest the installer's manifest keeps for every
// regular file it installs, so that a later check can tell whether a file is
// still the one installed.
//
// The state is the eight working words and a 64-byte block buffer; input is
// taken whole blocks at a time straight from the caller's memory, and only a
// tail shorter than a block is copied. Finishing pads with 0x80, zeros and the
// message length in bits (big-endian) as the standard prescribes.
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "utils.h"

namespace {

const uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t LoadBig(const unsigned char *p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

// Runs the compression function over `count` whole blocks at data.
void Compress(uint32_t state[8], const unsigned char *data, size_t count) {
    uint32_t w[64];
    for (; count > 0; --count, data += 64) {
        for (int i = 0; i < 16; ++i)
            w[i] = LoadBig(data + 4 * i);
        for (int i = 16; i < 64; ++i) {
            uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int i = 0; i < 64; ++i) {
            uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                          K[i] + w[i];
            uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

} // namespace

void Sha256Init(Sha256 *s) {
    static const uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    memcpy(s->State, initial, sizeof initial);
    s->Length = 0;
    s->Used = 0;
}

void Sha256Update(Sha256 *s, const void *data, size_t size) {
    const unsigned char *p = static_cast<const unsigned char *>(data);
    s->Length += size;
    if (s->Used > 0) {
        size_t take = 64 - s->Used < size ? 64 - s->Used : size;
        memcpy(s->Block + s->Used, p, take);
        s->Used += take;
        p += take;
        size -= take;
        if (s->Used < 64) return;
        Compress(s->State, s->Block, 1);
        s->Used = 0;
    }
    if (size >= 64) {
        Compress(s->State, p, size / 64);
        p += size / 64 * 64;
        size %= 64;
    }
    memcpy(s->Block, p, size);
    s->Used = size;
}

void Sha256Final(Sha256 *s, unsigned char digest[SHA256_SIZE]) {
    const uint64_t bits = s->Length * 8;
    s->Block[s->Used++] = 0x80;
    if (s->Used > 56) {
        memset(s->Block + s->Used, 0, 64 - s->Used);
        Compress(s->State, s->Block, 1);
        s->Used = 0;
    }
    memset(s->Block + s->Used, 0, 56 - s->Used);
    for (int i = 0; i < 8; ++i)
        s->Block[56 + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    Compress(s->State, s->Block, 1);
    for (int i = 0; i < 8; ++i) {
        digest[4 * i] = static_cast<unsigned char>(s->State[i] >> 24);
        digest[4 * i + 1] = static_cast<unsigned char>(s->State[i] >> 16);
        digest[4 * i + 2] = static_cast<unsigned char>(s->State[i] >> 8);
        digest[4 * i + 3] = static_cast<unsigned char>(s->State[i]);
    }
    s->Used = 0;
}

void Sha256Hex(const unsigned char digest[SHA256_SIZE], char hex[SHA256_HEX_SIZE]) {
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < SHA256_SIZE; ++i) {
        hex[2 * i] = digits[digest[i] >> 4];
        hex[2 * i + 1] = digits[digest[i] & 15];
    }
    hex[2 * SHA256_SIZE] = 0;
}

int Sha256Fd(int fd, char hex[SHA256_HEX_SIZE]) {
    Sha256 s;
    Sha256Init(&s);
    unsigned char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return 0;
        if (n == 0) break;
        Sha256Update(&s, buf, static_cast<size_t>(n));
    }
    unsigned char digest[SHA256_SIZE];
    Sha256Final(&s, digest);
    Sha256Hex(digest, hex);
    return 1;
}
