// FuzzSupport.cpp - scratch files and input splitting for the fuzz targets.
#include "FuzzSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <sys/stat.h>

#include "Dbm.h"
#include "MemMgr.h"
#include "utils.h"

namespace fuzz {

namespace {

// Removes the scratch directory when the process ends normally.
struct Scratch {
    std::string dir; // absolute path, empty until made
    ~Scratch() {
        if (!dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    }
};

Scratch scratch;

} // namespace

const std::string &ScratchDir() {
    if (scratch.dir.empty()) {
        // Memory-backed when the host has it: the record writers sync every
        // file they replace, which on a disk would cost most of each run.
        char shm[] = "/dev/shm/dorna-fuzz.XXXXXX";
        char tmp[] = "/tmp/dorna-fuzz.XXXXXX";
        const char *made = mkdtemp(shm);
        if (!made) made = mkdtemp(tmp);
        if (!made) Broken("cannot make a scratch directory under /dev/shm or /tmp");
        scratch.dir = made;
    }
    return scratch.dir;
}

std::string WriteScratchFile(const char *name, const uint8_t *data, size_t size) {
    std::string path = ScratchDir() + "/" + name;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) Broken("cannot write a scratch file");
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) {
            close(fd);
            Broken("short write of a scratch file");
        }
        done += static_cast<size_t>(n);
    }
    close(fd);
    return path;
}

Split SplitAtNul(const uint8_t *data, size_t size, size_t maxHead, std::string_view fallback) {
    std::string_view all(reinterpret_cast<const char *>(data), size);
    size_t nul = all.find('\0');
    if (nul == std::string_view::npos) return {std::string(fallback), std::string(all)};
    return {std::string(all.substr(0, nul < maxHead ? nul : maxHead)),
            std::string(all.substr(nul + 1))};
}

void UseScratchAsToolRoot() {
    static bool ready = false;
    if (ready) return;
    std::string db = ScratchDir() + "/db";
    mkdir(db.c_str(), 0700);
    pToolPath = SaveStr_(ScratchDir().c_str());
    ready = true;
}

std::vector<std::string> TakeKeyList(char *list, size_t max) {
    std::vector<std::string> keys;
    if (!list) return keys;
    for (char *p = list + 1; *p && keys.size() < max;) {
        char *end = strchr(p, '\x1f');
        if (!end) break;
        keys.emplace_back(p, end);
        p = end + 1;
    }
    PutMem(list);
    return keys;
}

void Broken(const char *what) {
    fprintf(stderr, "fuzz: broken promise: %s\n", what);
    abort();
}

} // namespace fuzz
