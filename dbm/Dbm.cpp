// Dbm.cpp - plain record files: a headerless run of scrambled records, read and
// written through standard I/O streams. Every operation opens the file, walks
// it from the start and closes it; every change writes a whole new copy.
//
// Record: [L:2 host order][body: L bytes scrambled as one run]
// Body:   [K:2 host order][key][NUL][data]      L = K + data length + 2
//
// A record is only taken when it is whole and sound (L fits the reader's
// limit, the key lies inside the body and ends with its only NUL); the first one
// that is not ends a reader's walk as if the file ended there, instead of
// being misread; a change refuses to rewrite such a file, whose copy would
// lose every record behind the damaged one.
#include "Dbm.h"
#include "DbmPriv.h"

#include "MemMgr.h"
#include "SysCmd.h"
#include "utils.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

char *pToolPath = nullptr;
unsigned char DbmV4DriverPathHandling = 0;
int32_t Ent2Get = 0;

namespace {

constexpr int REC_SIZE = 65536; // the record buffer: length field and body
constexpr int PATH_SIZE = 4096; // room for any database or temporary path

struct PlainState {
    // DbmRecord: the record being read or written, laid out as in the file.
    unsigned char Rec[REC_SIZE];
} S;

// Closes a stream on every path out of a function.
struct StreamHolder {
    FILE *f;
    explicit StreamHolder(FILE *file) : f(file) {}
    ~StreamHolder() {
        if (f) fclose(f);
    }
    StreamHolder(const StreamHolder &) = delete;
    StreamHolder &operator=(const StreamHolder &) = delete;
};

int Get16(const unsigned char *p) {
    uint16_t v;
    memcpy(&v, p, 2);
    return v;
}

void Put16(unsigned char *p, int v) {
    uint16_t x = static_cast<uint16_t>(v);
    memcpy(p, &x, 2);
}

int RecLen(const unsigned char *rec) {
    return Get16(rec);
}
int RecKeyLen(const unsigned char *rec) {
    return Get16(rec + 2);
}
const char *RecKey(const unsigned char *rec) {
    return reinterpret_cast<const char *>(rec + 4);
}
const unsigned char *RecData(const unsigned char *rec) {
    return rec + 4 + RecKeyLen(rec);
}
int RecDataLen(const unsigned char *rec) {
    return RecLen(rec) - RecKeyLen(rec) - 2;
}

// Scrambles the body of rec in place and writes length field and body with
// one write. The caller's buffer is left scrambled.
int PutData(FILE *f, unsigned char *rec) {
    int len = RecLen(rec);
    DbmScramble(rec + 2, len);
    return fwrite(rec, 1, len + 2, f) == static_cast<size_t>(len + 2) ? 1 : 0;
}

// Reads and unscrambles the next record into rec. 0 at the end of the file or
// at the first record that is short or unsound.
int GetData(FILE *f, unsigned char *rec) {
    if (fread(rec, 1, 2, f) != 2) return 0;
    int len = RecLen(rec);
    // A body must hold the key length field and at least the key's NUL; a
    // longer body than the writers produce is damage, not a record.
    if (len < 3 || len > DBM_MAX_PLAIN_BODY) return 0;
    if (fread(rec + 2, 1, len, f) != static_cast<size_t>(len)) return 0;
    DbmUnscramble(rec + 2, rec + 2, len);
    int klen = RecKeyLen(rec);
    if (klen < 1 || klen + 2 > len || rec[4 + klen - 1] != 0) return 0;
    // A key with a NUL inside would be listed as the text before it but
    // found by no lookup: damage, like any other key that is not one.
    if (memchr(rec + 4, 0, klen - 1)) return 0;
    return 1;
}

// Whether the record's key equals key exactly (keylen 0) or begins with its
// first keylen bytes.
bool KeyMatches(const unsigned char *rec, const char *key, int keylen) {
    int klen = RecKeyLen(rec);
    if (keylen == 0) {
        return klen == static_cast<int>(strlen(key)) + 1 && memcmp(RecKey(rec), key, klen) == 0;
    }
    return klen >= keylen && memcmp(RecKey(rec), key, keylen) == 0;
}

// Whether the open database holds records this layer can take back: not a
// tagged file (another format), and when not empty, a sound first record.
// A file that fails this is never rewritten: a copy of it would hold
// nothing of what it held. The stream is left at its start.
bool Readable(FILE *in) {
    struct stat st;
    if (fstat(fileno(in), &st) != 0) return false;
    if (st.st_size == 0) return true;
    unsigned char magic[5];
    if (pread(fileno(in), magic, sizeof magic, 0) == sizeof magic && memcmp(magic, "TXDBA", 5) == 0)
        return false;
    bool sound = GetData(in, S.Rec) == 1;
    rewind(in);
    return sound;
}

// Copies every record of in to out except the matching ones. 1 at the end
// of in, 0 when a write or a read fails or in holds no readable record.
int PurgeRecord(const char *name, FILE *in, FILE *out, const char *key, int keylen) {
    if (!Readable(in)) {
        fprintf(stderr, "ERROR: no readable record in %s; it is left as it is\n", name);
        return 0;
    }
    long at = 0; // where the record being read starts
    while (GetData(in, S.Rec)) {
        at += 2 + RecLen(S.Rec);
        if (KeyMatches(S.Rec, key, keylen)) continue;
        if (!PutData(out, S.Rec)) {
            fprintf(stderr, "ERROR: Can't write to %s", name);
            return 0;
        }
    }
    if (ferror(in)) {
        // A read error is not the end of the file: a copy made now would
        // silently drop the records behind it.
        fprintf(stderr, "ERROR: Can't read %s\n", name);
        return 0;
    }
    // Neither is a record the walk could not take.
    struct stat st;
    if (fstat(fileno(in), &st) != 0 || st.st_size != at) {
        fprintf(stderr, "ERROR: damaged record at offset %ld in %s; it is left as it is\n", at,
                name);
        return 0;
    }
    return 1;
}

// Whether a database file is there. Only a regular file counts: opening a
// pipe or a device under the name could block or read garbage.
bool FileExists(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// Opens the database for reading. *missing tells a missing file (no error for
// a store) from one that exists but cannot be opened.
FILE *OpenExisting(const char *name, bool *missing) {
    FILE *f = OpenDataBase(name, "xdb", "rb", 0);
    char path[PATH_SIZE];
    // Only a failure needs the second look.
    *missing = !f && DbmBuildPath(path, sizeof path, name, "xdb") && !FileExists(path);
    return f;
}

// Walks the database and returns the first record with key in S.Rec.
int FindRecord(const char *name, const char *key) {
    FILE *f = OpenDataBase(name, "xdb", "rb", 0);
    if (!f) return 0;
    StreamHolder hold(f);
    while (GetData(f, S.Rec)) {
        if (KeyMatches(S.Rec, key, 0)) return 1;
    }
    return 0;
}

// Rewrites the database without the records matching key (exact or prefix).
// *opened tells whether the database could be opened at all.
int RewriteWithout(const char *name, const char *key, int keylen, bool *opened) {
    char path[PATH_SIZE];
    *opened = false;
    if (!DbmBuildPath(path, sizeof path, name, "xdb") || !FileExists(path)) return 0;
    // Lock the temporary copy before reading, so that a writer waiting for
    // another one reads the file that one leaves behind.
    FileReplacement rep;
    if (!OpenNewDataBase(name, &rep)) return 0;
    bool missing;
    FILE *in = OpenExisting(name, &missing);
    if (!in) {
        AbortNewDataBase(&rep);
        return 0;
    }
    *opened = true;
    StreamHolder hold(in);
    if (!PurgeRecord(name, in, rep.pOut, key, keylen)) {
        AbortNewDataBase(&rep);
        return 0;
    }
    return CommitNewDataBase(&rep, name);
}

// Byte as DumpDbm shows it: printable in the POSIX locale, else ".".
int DumpChar(unsigned char c) {
    return c >= 0x20 && c < 0x7f ? c : '.';
}

} // namespace

// ---------------------------------------------------------------------------
// Shared steps
// ---------------------------------------------------------------------------

bool DbmAppendText(char **res, int *len, const char *text) {
    int add = static_cast<int>(strlen(text));
    char *grown = static_cast<char *>(AdjustMem(*res, *len + add + 1));
    if (!grown) return false;
    memcpy(grown + *len, text, add + 1);
    *res = grown;
    *len += add;
    return true;
}

DbmLink *DbmAppendLink(DbmLink **head, DbmLink **tail, int klen, int n) {
    auto *node = static_cast<DbmLink *>(GetMem(sizeof(DbmLink)));
    char *block = node ? static_cast<char *>(GetMem(klen + n)) : nullptr;
    if (!block) {
        PutMem(node);
        return nullptr;
    }
    node->pKey = block;
    node->pData = block + klen;
    node->DataLen = n;
    if (*tail)
        (*tail)->pNext = node;
    else
        *head = node;
    *tail = node;
    return node;
}

int DbmBuildPath(char *buf, int size, const char *name, const char *ext) {
    return DbmBuildPath(buf, size, name, ext, DbmV4DriverPathHandling != 0);
}

int DbmBuildPath(char *buf, int size, const char *name, const char *ext, bool byPath) {
    const size_t room = size > 0 ? static_cast<size_t>(size) : 0;
    int n;
    if (byPath) {
        // Full-path mode: the name is the database file itself; every other
        // extension addresses its temporary copy beside it.
        n = strcmp(ext, "xdb") == 0 ? FormatBounded(buf, room, "%s", name)
                                    : FormatBounded(buf, room, "%s_new", name);
    } else {
        n = FormatBounded(buf, room, "%s/db/%s.%s", pToolPath ? pToolPath : ".", name, ext);
    }
    return n > 0 ? 1 : 0;
}

FILE *OpenDataBase(const char *name, const char *ext, const char *mode, int report) {
    char path[PATH_SIZE];
    if (!DbmBuildPath(path, sizeof path, name, ext)) return nullptr;
    if (!FileExists(path)) return nullptr;
    for (int attempt = 1;; ++attempt) {
        FILE *f = OpenFile(nullptr, path, mode, report);
        if (f || attempt == 10) return f;
        sleep(1); // a busy file gets ten chances, a second apart
    }
}

namespace {

// mkdir -p: creates dir and its missing parents.
bool MakeDirs(const char *dir) {
    char path[PATH_SIZE];
    if (FormatBounded(path, sizeof path, "%s", dir) <= 0) return false;
    for (char *p = path + 1; *p; ++p) {
        if (*p != '/') continue;
        *p = 0;
        if (mkdir(path, 0777) != 0 && errno != EEXIST) return false;
        *p = '/';
    }
    return mkdir(path, 0777) == 0 || errno == EEXIST;
}

} // namespace

namespace {

// Whether the temporary's name still refers to the file open as fd.
bool StillNamed(const char *temp, int fd) {
    struct stat byFd, byName;
    return fstat(fd, &byFd) == 0 && lstat(temp, &byName) == 0 && byName.st_ino == byFd.st_ino &&
           byName.st_dev == byFd.st_dev;
}

// How long a writer waits for the writers' lock of a database, and the
// longest pause between two looks. Another writer holds the lock only while
// it reads, changes and writes the file; one that holds it longer than this
// hangs, and the waiting writer gives up rather than hang with it.
constexpr long LOCK_WAIT_MS = 10000;
constexpr long LOCK_PAUSE_MAX_MS = 20;
// Tries that find the temporary gone again at once (taken by a third writer
// meanwhile) before the waiting writer gives up: a bound against spinning.
constexpr int LOCK_QUICK_TRIES = 1000;

// What a look at the temporary found under a database's name tells.
enum class TempState {
    Gone, // nobody holds it (removed as a leftover, or renamed meanwhile)
    Held, // another writer holds it
};

// Looks at the temporary found under temp without waiting. One whose lock
// nobody holds is left over from a writer that died: it is removed.
TempState LookAtTemporary(const char *temp) {
    int fd = open(temp, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    // One we may not open belongs to another user's writer: held, as far as
    // we can tell.
    if (fd < 0) return errno == ENOENT ? TempState::Gone : TempState::Held;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return TempState::Held;
    }
    // Holding the lock on the file still under the name, we are the only
    // writer that may touch that name.
    if (StillNamed(temp, fd)) unlink(temp);
    close(fd);
    return TempState::Gone;
}

void PauseMs(long ms) {
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

} // namespace

int OpenNewDataBase(const char *name, FileReplacement *rep) {
    return OpenNewDataBase(name, rep, DbmV4DriverPathHandling != 0);
}

int OpenNewDataBase(const char *name, FileReplacement *rep, bool byPath) {
    char path[PATH_SIZE], temp[PATH_SIZE];
    rep->pOut = nullptr;
    if (!DbmBuildPath(path, sizeof path, name, "xdb", byPath) ||
        !DbmBuildPath(temp, sizeof temp, name, "xdb_new", byPath)) {
        fprintf(stderr, "ERROR: can't open file, %s\n", name);
        return 0;
    }
    if (!byPath) {
        char dir[PATH_SIZE];
        snprintf(dir, sizeof dir, "%s/db", pToolPath ? pToolPath : ".");
        MakeDirs(dir);
    }
    // Writers of one database take turns on its temporary file: each makes it
    // anew and holds a lock on it until it has been renamed into place. One
    // that finds the temporary there waits for that lock, a bounded time; a
    // temporary whose name went to another writer's file before we held the
    // lock is not ours.
    long waited = 0, pause = 1;
    for (int quick = 0; quick < LOCK_QUICK_TRIES;) {
        // A new database gets 0666 less the umask (mode -1): never more
        // than the user's umask allows others.
        if (ReplaceOpen(rep, path, temp, -1, REPLACE_KEEP_MODE)) {
            int fd = fileno(rep->pOut);
            if (flock(fd, LOCK_EX) == 0 && StillNamed(temp, fd)) return 1;
            // Another writer took our file for a leftover and removed it.
            fclose(rep->pOut);
            rep->pOut = nullptr;
            ++quick;
            continue;
        }
        if (rep->Errno != EEXIST) break;
        if (LookAtTemporary(temp) == TempState::Gone) {
            ++quick;
            continue;
        }
        if (waited >= LOCK_WAIT_MS) {
            fprintf(stderr, "ERROR: another writer keeps %s busy; it is left as it is\n", path);
            return 0;
        }
        PauseMs(pause);
        waited += pause;
        pause = pause * 2 > LOCK_PAUSE_MAX_MS ? LOCK_PAUSE_MAX_MS : pause * 2;
    }
    if (rep->Failed == REPLACE_FAILED_LINK)
        fprintf(stderr, "ERROR: %s is a symbolic link, which is not replaced\n", path);
    else
        fprintf(stderr, "ERROR: can't open file, %s\n", temp);
    return 0;
}

void AbortNewDataBase(FileReplacement *rep) {
    ReplaceAbort(rep);
}

int CommitNewDataBase(FileReplacement *rep, const char *name, struct stat *written) {
    if (ReplaceCommit(rep, written)) return 1; // the writers' lock goes with the temporary's close
    fprintf(stderr, "ERROR: Can't write to %s", name);
    return 0;
}

void DbmMakeWorkDb(void) {
    if (DbmV4DriverPathHandling) return;
    struct stat st;
    if (lstat("db", &st) == 0 || errno != ENOENT) return;
    // 0777 less the umask, as every directory made here: a store others may
    // write into is one they may fill with records (and catalog texts) of
    // their own.
    mkdir("db", 0777);
}

// ---------------------------------------------------------------------------
// Public operations
// ---------------------------------------------------------------------------

void DbmSetV4DriverPathHandling(void) {
    DbmV4DriverPathHandling = 1;
}

int DbmPutRecord(const char *name, const char *key, const void *data, int len) {
    if (!name || !key || !data || len <= 0) return 0;
    long long klen = static_cast<long long>(strlen(key)) + 1;
    long long body = klen + len + 2;
    if (body > DBM_MAX_PLAIN_BODY) return 0; // the readers could not take it back

    DbmMakeWorkDb();
    // Lock the temporary copy before reading (see RewriteWithout).
    FileReplacement rep;
    if (!OpenNewDataBase(name, &rep)) return 0;
    bool missing;
    FILE *in = OpenExisting(name, &missing);
    // A file that is there but cannot be read must not be replaced by a
    // copy holding only the new record.
    if (!in && !missing) {
        AbortNewDataBase(&rep);
        return 0;
    }
    StreamHolder hold(in);

    if (in && !PurgeRecord(name, in, rep.pOut, key, 0)) {
        AbortNewDataBase(&rep);
        return 0;
    }
    // Build the record only now: the purge used the same buffer.
    Put16(S.Rec, static_cast<int>(body));
    Put16(S.Rec + 2, static_cast<int>(klen));
    memcpy(S.Rec + 4, key, klen);
    memcpy(S.Rec + 4 + klen, data, len);
    if (!PutData(rep.pOut, S.Rec)) {
        fprintf(stderr, "ERROR: Can't write to %s", name);
        AbortNewDataBase(&rep);
        return 0;
    }
    return CommitNewDataBase(&rep, name);
}

int DbmDeleteRecord(const char *name, const char *key) {
    if (!name || !key) return 0;
    bool opened;
    return RewriteWithout(name, key, 0, &opened);
}

int DbmDeleteRecords(const char *name, const char *prefix) {
    if (!name || !prefix || !*prefix) return 0;
    bool opened;
    RewriteWithout(name, prefix, static_cast<int>(strlen(prefix)), &opened);
    return opened ? 1 : 0;
}

int DbmGetRecord(const char *name, const char *key, void *dst) {
    if (!name || !key || !dst) return 0;
    if (!FindRecord(name, key)) return 0;
    int n = RecDataLen(S.Rec);
    memcpy(dst, RecData(S.Rec), n);
    return n;
}

int DbmGetRecordSize(const char *name, const char *key) {
    if (!name || !key) return 0;
    return FindRecord(name, key) ? RecDataLen(S.Rec) : 0;
}

int DbmGetNextRecord(const char *name, void *dst) {
    if (!name || !dst) return 0;
    FILE *f = OpenDataBase(name, "xdb", "rb", 0);
    if (!f) return 0;
    StreamHolder hold(f);
    for (int32_t index = 0; GetData(f, S.Rec); ++index) {
        if (index != Ent2Get) continue;
        int n = RecDataLen(S.Rec);
        memcpy(dst, RecData(S.Rec), n);
        ++Ent2Get;
        return n;
    }
    return 0;
}

char *DbmGetRecordList(const char *name, const char *sep, const char *end) {
    if (!name || !sep || !end) return nullptr;
    FILE *f = OpenDataBase(name, "xdb", "rb", 0);
    if (!f) return nullptr;
    StreamHolder hold(f);
    char *res = nullptr;
    int len = 0;
    while (GetData(f, S.Rec)) {
        if (!DbmAppendText(&res, &len, sep) || !DbmAppendText(&res, &len, RecKey(S.Rec))) {
            PutMem(res);
            return nullptr;
        }
    }
    if (!res) return nullptr; // no records: no terminator alone either
    if (!DbmAppendText(&res, &len, end)) {
        PutMem(res);
        return nullptr;
    }
    return res;
}

DbmLink *DbmGetDbLinkList(const char *name, const char *pattern) {
    if (!name || !pattern) return nullptr;
    FILE *f = OpenDataBase(name, "xdb", "rb", 0);
    if (!f) return nullptr;
    StreamHolder hold(f);
    DbmLink *head = nullptr, *tail = nullptr;
    while (GetData(f, S.Rec)) {
        if (!strstr(RecKey(S.Rec), pattern)) continue;
        int klen = RecKeyLen(S.Rec), n = RecDataLen(S.Rec);
        DbmLink *node = DbmAppendLink(&head, &tail, klen, n);
        if (!node) continue; // a node that cannot be had is left out
        memcpy(node->pKey, RecKey(S.Rec), klen + n);
    }
    return head;
}

void DbmFreeDbLinkList(DbmLink *list) {
    while (list) {
        DbmLink *next = list->pNext;
        PutMem(list->pKey);
        PutMem(list);
        list = next;
    }
}

int DbmCopyRecord(const char *name, const char *from_key, const char *to_key) {
    if (!name || !from_key || !to_key) return 0;
    static unsigned char buf[REC_SIZE];
    int n = DbmGetRecord(name, from_key, buf);
    return n ? DbmPutRecord(name, to_key, buf, n) : 0;
}

char *DbmGetDbList(int flag) {
    char *list = GetDirFileList("db");
    if (!list) return nullptr;
    std::string out = flag ? " " : "";
    bool first = true;
    // A private cursor: a caller in the middle of its own scan keeps it.
    char tok[TOKEN_BUF_SIZE];
    char *cursor = nullptr;
    for (char *t = GetTokenD(list, " ", &cursor, tok); t;
         t = GetTokenD(nullptr, " ", &cursor, tok)) {
        const char *dot = strchr(tok, '.');
        if (!dot || strcmp(dot, ".xdb") != 0 || dot == tok) continue;
        if (!first) out += flag ? ' ' : ',';
        out.append(tok, dot - tok);
        first = false;
    }
    // The result is never longer than the listing it came from: each name
    // loses its ".xdb" and keeps one separator.
    memcpy(list, out.c_str(), out.size() + 1);
    return list;
}

void DumpDbm(const char *name) {
    if (!name) return;
    char path[PATH_SIZE];
    if (FormatBounded(path, sizeof path, "%s.db", name) < 0) return;
    FILE *f = OpenFile(nullptr, path, "rb", REPORT_ERROR);
    if (!f) return;
    StreamHolder hold(f);
    while (GetData(f, S.Rec)) {
        int len = RecLen(S.Rec);
        printf("%i %i ==>{", len, RecKeyLen(S.Rec));
        for (int i = 0; i < len - 2; ++i)
            putchar(DumpChar(S.Rec[4 + i]));
        printf("}\n");
    }
}

void DbmCreate(void) {}
void DbmDelete(void) {}
