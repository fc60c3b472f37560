// dbm_settoolroot - writes the installed package's tool root into installed
// copies of the library and of the programs linked with it.
//
//   dbm_settoolroot ROOT FILE...
//
// Every marked area (DbmPriv.h: the mark, a path, NULs up to the area's end)
// in each FILE gets ROOT as its path; the file keeps its size, so an archive
// or a program stays sound. A file without an area is left alone. Status 1
// when ROOT does not fit or a file cannot be read or written.
#include "DbmPriv.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// True when at holds a whole area: the mark, an absolute path, and nothing
// but NULs behind the path's end up to the area's end. A stray copy of the
// mark elsewhere in the file is not taken for one.
bool IsArea(const std::string &bytes, size_t at) {
    if (bytes.size() - at < static_cast<size_t>(DBM_ROOT_AREA_SIZE)) return false;
    size_t path = at + DBM_ROOT_MARK_LEN, end = at + DBM_ROOT_AREA_SIZE;
    if (bytes[path] != '/') return false;
    size_t nul = bytes.find('\0', path);
    if (nul == std::string::npos || nul >= end) return false;
    for (size_t i = nul; i < end; ++i)
        if (bytes[i] != '\0') return false;
    return true;
}

// Rewrites the areas of one file; false after a message.
bool Patch(const char *file, const std::string &root) {
    std::string bytes;
    {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            fprintf(stderr, "dbm_settoolroot: cannot read %s: %s\n", file, strerror(errno));
            return false;
        }
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
    for (size_t at = bytes.find(DBM_ROOT_MARK); at != std::string::npos;
         at = bytes.find(DBM_ROOT_MARK, at + 1)) {
        if (!IsArea(bytes, at)) continue;
        std::string area(DBM_ROOT_AREA_SIZE - DBM_ROOT_MARK_LEN, '\0');
        area.replace(0, root.size(), root);
        out.seekp(static_cast<std::streamoff>(at + DBM_ROOT_MARK_LEN));
        out.write(area.data(), static_cast<std::streamsize>(area.size()));
    }
    out.flush();
    if (!out) {
        fprintf(stderr, "dbm_settoolroot: cannot write %s: %s\n", file, strerror(errno));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || strcmp(argv[1], "--help") == 0) {
        fputs("usage: dbm_settoolroot ROOT FILE...\n", argc < 2 ? stderr : stdout);
        return argc < 2 ? 1 : 0;
    }
    std::string root = argv[1];
    // The path and at least one NUL must fit behind the mark.
    if (root.empty() || root[0] != '/' ||
        root.size() >= static_cast<size_t>(DBM_ROOT_AREA_SIZE - DBM_ROOT_MARK_LEN)) {
        fprintf(stderr,
                "dbm_settoolroot: the tool root must be an absolute path of at most %d "
                "characters: %s\n",
                DBM_ROOT_AREA_SIZE - DBM_ROOT_MARK_LEN - 1, argv[1]);
        return 1;
    }
    int status = 0;
    for (int i = 2; i < argc; ++i)
        if (!Patch(argv[i], root)) status = 1;
    return status;
}
