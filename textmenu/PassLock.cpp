// PassLock.cpp - pass-phrase locks: the value a lock file holds for a pass
// phrase, the check of a phrase against it, and the non-blocking read of a
// lock file.
//
// A lock value is the C library's crypt of the phrase with a fresh random
// salt of the library's strongest method (yescrypt, "$y$..."): salted, so
// equal phrases give different values, and slow, so a stolen value is not
// searched quickly. Locks made before hold the 16 hexadecimal digits of
// NlsCalcStrVal, a linear checksum that many phrases share ("tbfqet12" opens
// the lock of "secret12"); they are still accepted until they are made anew.
#include "TextMenu.h"

#include "MemMgr.h"
#include "NlsUtils.h"
#include "utils.h"

#include <cerrno>
#include <cstring>
#include <crypt.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Length of a lock value of the older form: "%08X%08X".
constexpr size_t OLD_VALUE_LEN = 16;

// crypt's work area is large (some 32 KiB): one per call, on the heap.
std::unique_ptr<crypt_data> NewCryptData() {
    auto data = std::make_unique<crypt_data>();
    memset(data.get(), 0, sizeof(crypt_data));
    return data;
}

// Compares two texts in a time that does not tell where they first differ.
bool SameText(const char *a, const char *b) {
    size_t la = strlen(a), lb = strlen(b);
    unsigned char diff = la == lb ? 0 : 1;
    for (size_t i = 0; i < la && i < lb; ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

// Closes a descriptor on every way out.
struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

} // namespace

char *PassLockValue(const char *phrase) {
    if (phrase == nullptr) return nullptr;
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    // No prefix: the library's default, its strongest method; no random
    // bytes given: it takes them from the system.
    if (crypt_gensalt_rn(nullptr, 0, nullptr, 0, salt, sizeof salt) == nullptr) return nullptr;
    auto data = NewCryptData();
    const char *value = crypt_rn(phrase, salt, data.get(), sizeof(crypt_data));
    // A failing method answers with a short text such as "*0" rather than null:
    // only a salted form is a value.
    if (value == nullptr || value[0] != '$') return nullptr;
    return SaveStr_(value);
}

// Told apart by form alone: the older values are exactly 16 capital hexadecimal
// digits, which no salted form begins like.
int PassLockIsOld(const char *value) {
    if (value == nullptr || strlen(value) != OLD_VALUE_LEN) return 0;
    for (const char *p = value; *p; ++p)
        if (!((*p >= '0' && *p <= '9') || (*p >= 'A' && *p <= 'F'))) return 0;
    return 1;
}

int PassLockOpens(const char *phrase, const char *value) {
    if (phrase == nullptr || value == nullptr) return 0;
    if (PassLockIsOld(value)) return SameText(NlsCalcStrVal(phrase), value) ? 1 : 0;
    // Only the salted forms ("$id$..."): the traditional two-character
    // salts are too weak to stand for a lock.
    if (value[0] != '$') return 0;
    auto data = NewCryptData();
    const char *made = crypt_rn(phrase, value, data.get(), sizeof(crypt_data));
    return made != nullptr && SameText(made, value) ? 1 : 0;
}

int PassLockRead(const char *path, char *value, size_t size) {
    if (path == nullptr || value == nullptr || size == 0) return PASSLOCK_UNREADABLE;
    value[0] = '\0';
    struct stat st;
    if (stat(path, &st) != 0) {
        // Nothing there at all is no lock; a link that leads nowhere, or a
        // path that cannot be looked at, is something the user cannot read.
        int err = errno;
        struct stat link;
        if ((err == ENOENT || err == ENOTDIR) && lstat(path, &link) != 0 &&
            (errno == ENOENT || errno == ENOTDIR))
            return PASSLOCK_NONE;
        return PASSLOCK_UNREADABLE;
    }
    // A FIFO, device or directory is not a lock file: never opened, since
    // opening a FIFO waits for a writer and a device may act on an open.
    if (!S_ISREG(st.st_mode)) return PASSLOCK_UNREADABLE;
    // Non-blocking all the same: the name may have been swapped since.
    Fd f{open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (f.fd < 0 || fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return PASSLOCK_UNREADABLE;
    size_t got = 0;
    while (got + 1 < size) {
        ssize_t n = read(f.fd, value + got, size - 1 - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            value[0] = '\0';
            return PASSLOCK_UNREADABLE;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    value[got] = '\0';
    // The first line only: the line end an editor adds is no part of the value.
    value[strcspn(value, "\r\n")] = '\0';
    return PASSLOCK_READ;
}
