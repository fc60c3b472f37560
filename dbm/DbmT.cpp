// DbmT.cpp - the tagged record store: a whole database file held in memory as
// an image, looked up through a hash index, changed in place and written back
// as a whole.
//
// Image layouts (kept in the format they were loaded in):
//   tagged: "TXDBAA<count>\0<filler>" (16 bytes), then per record
//           [L:2][K:2][key NUL: run of K][data: run of L-K-2]
//   plain:  per record [L:2][body: one run of L] with body [K:2][key NUL][data]
// Lengths are read through flSwap: big-endian in tagged images on this host,
// host order in plain ones.
//
// The walk (WalkDbTRecords) is the one definition of which records an image
// holds: it stops at the first record that does not lie wholly inside the
// image or whose key does not lie inside its body and end with its NUL, and
// cuts the image there, so no length field can make a reader leave the image
// or the walk buffer.
//
// The index maps a key to the FIRST record the walk meets with that key (a
// later record with the same key is only flagged as a duplicate). It is built
// by one full walk whenever an image is loaded, retyped or has records taken
// out, and extended when a record is appended, so a lookup through it finds
// exactly the record a walk from the start would find. Slots hash the key as
// stored: the scrambled key run of a tagged record (which depends on the key
// alone), the unscrambled key of a plain record. Without an index (no memory
// for it) the store falls back to the walk.
#include "Dbm.h"
#include "DbmPriv.h"

#include "MemMgr.h"
#include "utils.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// One slot of the index: the key's hash and the record's offset + 1 (0: empty
// slot; negative: the key occurs again later in the image).
struct DbTSlot {
    uint32_t Hash;
    int32_t Pos;
};

struct DbTIndex {
    int32_t Cap;      // number of slots, a power of two
    int32_t Used;     // slots in use
    DbTSlot *pSlots;  // the table (memory-manager block)
};

namespace {

constexpr int HEADER_SIZE = 16;
constexpr int KEY_BUF = 4096;      // a key with its NUL, unscrambled
constexpr int WALK_BUF = 65535;    // pMem: the body of a plain record
constexpr int COPY_BUF = 65536;    // DbmTCopyRecord's record buffer
constexpr int LOAD_TRIES = 10;     // reads of a busy file, a second apart

// A record met by the walk.
struct DbTRec {
    uint16_t Len;    // body length L
    uint16_t KeyLen; // key length K, NUL included
    char *pKey;      // plain images: the key inside pMem, data behind it
};

struct TaggedState {
    // TLBuf: read as one host-order integer it equals 0x01020304 only on a
    // big-endian host, where the tagged lengths need no swap.
    unsigned char TLBuf[5] = {1, 2, 3, 4, 0};
    // pMem: the unscrambled body of the current record of a plain image.
    unsigned char *pMem = nullptr;
    // A second body buffer, for comparing two plain records' keys.
    unsigned char Alt[WALK_BUF];
    // A tagged key, unscrambled.
    char KeyBuf[KEY_BUF];
    // The probe key of a lookup in stored form (scrambled for tagged images).
    unsigned char Probe[KEY_BUF];
} T;

bool HostNeedsSwap() {
    uint32_t v;
    memcpy(&v, T.TLBuf, 4);
    return v != 0x01020304;
}

// A 16-bit length field of the image in host order (byte-reversed when the
// handle swaps, as SetVarContent with its reverse flag would copy it; done
// inline because every record of every walk and lookup reads two).
int Read16(const DbT *db, int off) {
    const auto *p = reinterpret_cast<const unsigned char *>(db->pImage) + off;
    uint16_t v;
    memcpy(&v, p, 2);
    return db->flSwap ? static_cast<uint16_t>((v >> 8) | (v << 8)) : v;
}

void Write16(DbT *db, int off, int value) {
    uint16_t v = static_cast<uint16_t>(value);
    SetVarContent(db->pImage + off, &v, 2, db->flSwap);
}

bool IsPlain(const DbT *db) { return db->DbType == DBT_PLAIN; }
int FirstRecord(const DbT *db) { return IsPlain(db) ? 0 : HEADER_SIZE; }

uint32_t HashBytes(const unsigned char *p, int n) {
    uint32_t h = 2166136261u; // FNV-1a
    for (int i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
    return h ^ (h >> 15);
}

// ---------------------------------------------------------------------------
// The walk
// ---------------------------------------------------------------------------

// Whether the buffer that plain records are unscrambled into is there
// (allocated on the first need; tagged images need none).
bool HaveWalkBuf(const DbT *db) {
    if (IsPlain(db) && !T.pMem) T.pMem = static_cast<unsigned char *>(GetMem(WALK_BUF));
    return !IsPlain(db) || T.pMem;
}

// Ends the walk at the record starting at start: the rest of the image is
// lost.
DbTRec *CutImage(DbT *db, int start) {
    db->ImageSize = start;
    db->Next = start;
    return nullptr;
}

// Steps the walk: index 0 starts it. Fills rec and returns it, or null at the
// end. Afterwards Cur addresses the key run (tagged) and Next the next record.
DbTRec *WalkDbTRecords(DbT *db, DbTRec *rec, int index) {
    if (!db || !db->pImage || !rec) return nullptr;
    if (index == 0) db->Next = FirstRecord(db);
    if (!HaveWalkBuf(db)) return nullptr;
    int start = db->Next;
    if (start >= db->ImageSize) return nullptr;
    db->Cur = start;
    if (start + 2 > db->ImageSize) return CutImage(db, start);
    int len = Read16(db, start);
    // Every body holds at least a key length field or a key, and a NUL.
    if (len < 3 || len > db->ImageSize - start - 2) return CutImage(db, start);
    db->Cur = start + 2;
    int klen;
    if (IsPlain(db)) {
        DbmUnscramble(T.pMem, reinterpret_cast<unsigned char *>(db->pImage) + db->Cur, len);
        uint16_t k;
        memcpy(&k, T.pMem, 2);
        klen = k;
        if (klen < 1 || klen + 2 > len || T.pMem[2 + klen - 1] != 0) return CutImage(db, start);
        rec->pKey = reinterpret_cast<char *>(T.pMem + 2);
    } else {
        klen = Read16(db, db->Cur);
        db->Cur += 2;
        // The key run's last byte is stored as it is: the key's NUL.
        if (klen < 1 || klen > KEY_BUF || klen + 2 > len || db->pImage[db->Cur + klen - 1] != 0)
            return CutImage(db, start);
        rec->pKey = nullptr;
    }
    rec->Len = static_cast<uint16_t>(len);
    rec->KeyLen = static_cast<uint16_t>(klen);
    db->Next = start + 2 + len;
    return rec;
}

// The key of the record the walk stands on (tagged: unscrambled into KeyBuf,
// leaving Cur at the data run).
const char *WalkKey(DbT *db, const DbTRec *rec) {
    if (IsPlain(db)) return rec->pKey;
    DbmUnscramble(reinterpret_cast<unsigned char *>(T.KeyBuf),
                  reinterpret_cast<unsigned char *>(db->pImage) + db->Cur, rec->KeyLen);
    db->Cur += rec->KeyLen;
    return T.KeyBuf;
}

// Copies the data of the record the walk stands on (after WalkKey) or that
// FindTRecord found: plain, from behind the key in pMem; tagged, the data run
// at Cur.
void RecordData(const DbT *db, const DbTRec *rec, void *dst) {
    int n = rec->Len - rec->KeyLen - 2;
    if (IsPlain(db)) {
        memcpy(dst, rec->pKey + rec->KeyLen, n);
    } else {
        DbmUnscramble(static_cast<unsigned char *>(dst),
                      reinterpret_cast<unsigned char *>(db->pImage) + db->Cur, n);
    }
}

// ---------------------------------------------------------------------------
// The index
// ---------------------------------------------------------------------------

void IndexFree(DbT *db) {
    if (!db->pIndex) return;
    PutMem(db->pIndex->pSlots);
    PutMem(db->pIndex);
    db->pIndex = nullptr;
}

// A table of at least cap slots (a power of two), empty.
bool IndexAlloc(DbT *db, int want) {
    int cap = 16;
    while (cap < want && cap < (1 << 29)) cap <<= 1;
    if (!db->pIndex) db->pIndex = static_cast<DbTIndex *>(GetMem(sizeof(DbTIndex)));
    if (!db->pIndex) return false;
    auto *slots = static_cast<DbTSlot *>(GetMem(static_cast<long>(cap) * sizeof(DbTSlot)));
    if (!slots) {
        IndexFree(db);
        return false;
    }
    PutMem(db->pIndex->pSlots);
    db->pIndex->pSlots = slots;
    db->pIndex->Cap = cap;
    db->pIndex->Used = 0;
    return true;
}

// The key of the record at start in stored form, for comparing two records:
// tagged, the scrambled run; plain, the key unscrambled into buf.
const unsigned char *StoredKey(DbT *db, int start, int *klen, unsigned char *buf) {
    if (IsPlain(db)) {
        int len = Read16(db, start);
        DbmUnscramble(buf, reinterpret_cast<unsigned char *>(db->pImage) + start + 2, len);
        uint16_t k;
        memcpy(&k, buf, 2);
        *klen = k;
        return buf + 2;
    }
    *klen = Read16(db, start + 2);
    return reinterpret_cast<unsigned char *>(db->pImage) + start + 4;
}

// Adds the record at start with the stored key (key, klen) unless an earlier
// record holds the same key, which is then flagged. Grows the table as
// needed. False when no memory: the caller drops the index.
bool IndexInsert(DbT *db, int start, const unsigned char *key, int klen) {
    DbTIndex *ix = db->pIndex;
    if ((ix->Used + 1) * 2 > ix->Cap) {
        DbTSlot *old = ix->pSlots;
        int oldCap = ix->Cap;
        auto *slots = static_cast<DbTSlot *>(GetMem(static_cast<long>(oldCap) * 2 * sizeof(DbTSlot)));
        if (!slots) return false;
        ix->pSlots = slots;
        ix->Cap = oldCap * 2;
        for (int i = 0; i < oldCap; ++i) {
            if (!old[i].Pos) continue;
            uint32_t j = old[i].Hash & (ix->Cap - 1);
            while (slots[j].Pos) j = (j + 1) & (ix->Cap - 1);
            slots[j] = old[i];
        }
        PutMem(old);
    }
    uint32_t h = HashBytes(key, klen - 1);
    uint32_t mask = ix->Cap - 1;
    for (uint32_t j = h & mask;; j = (j + 1) & mask) {
        DbTSlot &s = ix->pSlots[j];
        if (!s.Pos) {
            s.Hash = h;
            s.Pos = start + 1;
            ++ix->Used;
            return true;
        }
        if (s.Hash != h) continue;
        int other = (s.Pos < 0 ? -s.Pos : s.Pos) - 1;
        int oklen;
        const unsigned char *okey = StoredKey(db, other, &oklen, T.Alt);
        if (oklen == klen && memcmp(okey, key, klen) == 0) {
            if (s.Pos > 0) s.Pos = -s.Pos; // the first record keeps the slot
            return true;
        }
    }
}

// Rebuilds the index by one full walk (which also cuts a damaged tail).
void IndexRebuild(DbT *db) {
    if (!db->pImage || db->DbType == DBT_EMPTY) {
        IndexFree(db);
        return;
    }
    int hint = db->DbType == DBT_TAGGED && db->Count > 0 && db->Count <= db->ImageSize / 7
                   ? db->Count * 2
                   : 64;
    if (!IndexAlloc(db, hint)) return;
    DbTRec rec;
    int records = 0;
    for (DbTRec *r = WalkDbTRecords(db, &rec, 0); r; r = WalkDbTRecords(db, &rec, 1)) {
        int start = db->Cur - (IsPlain(db) ? 2 : 4);
        const unsigned char *key = IsPlain(db) ? reinterpret_cast<unsigned char *>(r->pKey)
                                               : reinterpret_cast<unsigned char *>(db->pImage) +
                                                     db->Cur;
        if (!IndexInsert(db, start, key, r->KeyLen)) {
            IndexFree(db);
            return;
        }
        ++records;
    }
    // The header's count follows the records the image really holds (a
    // damaged tail may have been cut, or the header may be wrong).
    if (db->DbType == DBT_TAGGED) db->Count = records;
}

// The probe key in the stored form of the image's records; its hash.
uint32_t MakeProbe(const DbT *db, const char *key, int klen) {
    const auto *k = reinterpret_cast<const unsigned char *>(key);
    if (IsPlain(db)) {
        memcpy(T.Probe, k, klen + 1);
    } else {
        for (int i = 0; i < klen; ++i) T.Probe[i] = k[i] ^ k[i + 1];
        T.Probe[klen] = 0;
    }
    return HashBytes(T.Probe, klen);
}

// Offset of the first record with key, or -1. *dup tells whether a later
// record holds the same key. Plain images: the record's body is left in pMem.
int IndexFind(DbT *db, const char *key, int klen, bool *dup) {
    DbTIndex *ix = db->pIndex;
    uint32_t h = MakeProbe(db, key, klen);
    uint32_t mask = ix->Cap - 1;
    for (uint32_t j = h & mask;; j = (j + 1) & mask) {
        const DbTSlot &s = ix->pSlots[j];
        if (!s.Pos) return -1;
        if (s.Hash != h) continue;
        int start = (s.Pos < 0 ? -s.Pos : s.Pos) - 1;
        int oklen;
        const unsigned char *okey = StoredKey(db, start, &oklen, T.pMem);
        if (oklen == klen + 1 && memcmp(okey, T.Probe, klen + 1) == 0) {
            *dup = s.Pos < 0;
            return start;
        }
    }
}

// ---------------------------------------------------------------------------
// Loading
// ---------------------------------------------------------------------------

// The file a handle reads. Full-path mode: the name itself, the same file
// the write-back replaces.
std::string LoadPath(const char *name) {
    if (DbmV4DriverPathHandling || name[0] == '.') return name;
    if (name[0] == '/') return strchr(name, '.') ? std::string(name) : std::string(name) + ".xdb";
    return std::string(pToolPath ? pToolPath : ".") + "/db/" + name + ".xdb";
}

bool SameFile(const DbT *db, const struct stat &st) {
    return db->MTime == st.st_mtim.tv_sec && db->MTimeNs == st.st_mtim.tv_nsec &&
           db->FileIno == st.st_ino && db->FileSize == st.st_size;
}

void NoteFile(DbT *db, const struct stat &st) {
    db->MTime = st.st_mtim.tv_sec;
    db->MTimeNs = st.st_mtim.tv_nsec;
    db->FileIno = st.st_ino;
    db->FileSize = st.st_size;
}

// Reads the whole file into a new block; *st describes the very file read.
// Null for an empty or unreadable file.
char *ReadImage(const char *path, struct stat *st, int32_t *size) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    char *img = nullptr;
    if (fstat(fd, st) == 0 && S_ISREG(st->st_mode) && st->st_size > 0 &&
        st->st_size <= INT32_MAX - 64) {
        long n = static_cast<long>(st->st_size);
        img = static_cast<char *>(GetMem(n)); // one spare zero byte ends the count text
        long got = 0;
        while (img && got < n) {
            ssize_t r = read(fd, img + got, n - got);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += r;
        }
        if (img && got != n) {
            PutMem(img);
            img = nullptr;
        }
        *size = static_cast<int32_t>(n);
    }
    close(fd);
    return img;
}

void ClearImage(DbT *db) {
    PutMem(db->pImage);
    IndexFree(db);
    db->pImage = nullptr;
    db->ImageSize = 0;
    db->MTime = 0;
    db->Cur = db->Next = db->Count = 0;
    db->DbType = DBT_EMPTY;
    db->MTimeNs = 0;
    db->FileIno = 0;
    db->FileSize = 0;
}

// Refreshes the image unless the handle says never to.
void Refresh(DbT *db) {
    if (!(db->Flags & DBT_NOREFRESH)) DbTUpDate(db);
}

// Takes the record at start (L + 2 bytes) out of the image.
void RemoveAt(DbT *db, int start) {
    int end = start + 2 + Read16(db, start);
    memmove(db->pImage + start, db->pImage + end, db->ImageSize - end);
    db->ImageSize -= end - start;
    if (db->Count > 0) --db->Count;
}

// PurgeTRecord without the refresh.
int PurgeImage(DbT *db, const char *key, int prefixlen) {
    if (!db || !db->pImage || !key || !*key) return 0;
    int klen = static_cast<int>(strlen(key));
    int removed = 0;
    bool dup = false;
    if (prefixlen == 0 && db->pIndex && klen < KEY_BUF) {
        int start = IndexFind(db, key, klen, &dup);
        if (start < 0) return 0;
        if (!dup) {
            RemoveAt(db, start);
            removed = 1;
        }
    }
    if (!removed) {
        DbTRec rec;
        for (DbTRec *r = WalkDbTRecords(db, &rec, 0); r; r = WalkDbTRecords(db, &rec, 1)) {
            int start = db->Cur - (IsPlain(db) ? 2 : 4);
            bool candidate = prefixlen ? r->KeyLen >= prefixlen : r->KeyLen == klen + 1;
            if (!candidate) continue;
            if (memcmp(WalkKey(db, r), key, prefixlen ? prefixlen : r->KeyLen) != 0) continue;
            RemoveAt(db, start);
            db->Next = start; // the next record moved into this one's place
            removed = 1;
        }
    }
    if (removed) {
        // A plain image keeps a block even when it holds no record.
        char *img = static_cast<char *>(AdjustMem(db->pImage, db->ImageSize > 0 ? db->ImageSize : 1));
        if (img) db->pImage = img;
        IndexRebuild(db);
    }
    return removed;
}

int PurgeTRecord(DbT *db, const char *key, int prefixlen) {
    if (!db || !key || !*key) return 0;
    Refresh(db);
    return PurgeImage(db, key, prefixlen);
}

// Finds the first record with key: offset of its start, -1 if none. Tagged:
// Cur is left at the data run; plain: the body is in pMem.
int FindTRecord(DbT *db, const char *key, DbTRec *rec) {
    if (!db || !key || !*key || !db->pImage) return -1;
    int klen = static_cast<int>(strlen(key));
    if (klen >= KEY_BUF) return -1;
    if (!HaveWalkBuf(db)) return -1;
    if (db->pIndex) {
        bool dup;
        int start = IndexFind(db, key, klen, &dup);
        if (start < 0) return -1;
        rec->Len = static_cast<uint16_t>(Read16(db, start));
        if (IsPlain(db)) {
            uint16_t k;
            memcpy(&k, T.pMem, 2);
            rec->KeyLen = k;
            rec->pKey = reinterpret_cast<char *>(T.pMem + 2);
            db->Cur = start + 2;
        } else {
            rec->KeyLen = static_cast<uint16_t>(Read16(db, start + 2));
            rec->pKey = nullptr;
            db->Cur = start + 4 + rec->KeyLen;
        }
        db->Next = start + 2 + rec->Len;
        return start;
    }
    for (DbTRec *r = WalkDbTRecords(db, rec, 0); r; r = WalkDbTRecords(db, rec, 1)) {
        if (r->KeyLen != klen + 1) continue;
        int start = db->Cur - (IsPlain(db) ? 2 : 4);
        if (memcmp(WalkKey(db, r), key, r->KeyLen) == 0) return start;
    }
    return -1;
}

// Whether key begins with one of the prefixes.
bool TestKeyName(const char *key, const std::vector<std::string> &names) {
    for (const std::string &n : names)
        if (strncmp(key, n.c_str(), n.size()) == 0) return true;
    return false;
}

// Key list over all records, or those passing the prefixes when given.
char *KeyList(DbT *db, const std::vector<std::string> *names, const char *sep, const char *end) {
    Refresh(db);
    char *res = nullptr;
    int len = 0;
    DbTRec rec;
    for (DbTRec *r = WalkDbTRecords(db, &rec, 0); r; r = WalkDbTRecords(db, &rec, 1)) {
        const char *key = WalkKey(db, r);
        if (names && !TestKeyName(key, *names)) continue;
        if (!DbmAppendText(&res, &len, sep) || !DbmAppendText(&res, &len, key)) {
            PutMem(res);
            return nullptr;
        }
    }
    if (res && !DbmAppendText(&res, &len, end)) {
        PutMem(res);
        return nullptr;
    }
    return res;
}

} // namespace

// ---------------------------------------------------------------------------
// Public operations
// ---------------------------------------------------------------------------

DbT *DbTOpen(const char *name, uint32_t flags) {
    if (!name) return nullptr;
    auto *db = static_cast<DbT *>(GetMem(sizeof(DbT)));
    if (!db) return nullptr;
    db->pName = SaveStr("%s", name);
    db->Flags = flags & (DBT_NOREFRESH | DBT_NOARCHIVE);
    DbTUpDate(db);
    return db;
}

void DbTClose(DbT *db) {
    DbmV4DriverPathHandling = 0;
    if (!db) return;
    IndexFree(db);
    PutMem(db->pImage);
    PutMem(db->pName);
    PutMem(db);
}

void DbTUpDate(DbT *db) {
    if (!db || !db->pName) return;
    std::string path = LoadPath(db->pName);
    struct stat st;
    // A directory or device under the name holds no records: as if missing.
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    if (db->pImage && SameFile(db, st)) return; // the image is current

    int32_t size = 0;
    char *img = nullptr;
    for (int attempt = 1; attempt <= LOAD_TRIES; ++attempt) {
        img = ReadImage(path.c_str(), &st, &size);
        if (img || st.st_size == 0 || attempt == LOAD_TRIES) break;
        sleep(1); // busy or unreadable: try again
        if (stat(path.c_str(), &st) != 0) break;
    }
    ClearImage(db);
    if (!img) {
        // Empty or unreadable: an empty tagged-to-be image with its header.
        // An empty file is remembered, so that changes deferred on it are not
        // thrown away by the next refresh; an unreadable one is tried again.
        if (st.st_size == 0) NoteFile(db, st);
        db->pImage = static_cast<char *>(GetMem(HEADER_SIZE));
        if (!db->pImage) return;
        db->flSwap = HostNeedsSwap() ? 1 : 0;
        // The size first: UpdateHeader writes only into an image that has
        // room for the header, and a write-back of this image must give a
        // valid empty database, not sixteen zero bytes.
        db->ImageSize = HEADER_SIZE;
        UpdateHeader(db);
        db->DbType = DBT_EMPTY;
        return;
    }
    db->pImage = img;
    db->ImageSize = size;
    NoteFile(db, st);
    if (size >= 5 && memcmp(img, "TXDBAA", 5) == 0) {
        long count = strtol(img + 6 < img + size ? img + 6 : "", nullptr, 10);
        db->Count = count < 0 ? 0 : count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count);
        if (size < HEADER_SIZE) {
            // A header cut short: make room for a whole one.
            char *grown = static_cast<char *>(AdjustMem(db->pImage, HEADER_SIZE));
            if (grown) {
                db->pImage = grown;
                db->ImageSize = HEADER_SIZE;
            }
        }
        db->DbType = DBT_TAGGED;
    } else {
        db->DbType = DBT_PLAIN;
    }
    DbTSetDbType(db, db->DbType);
}

void DbTSetDbType(DbT *db, int type) {
    if (!db) return;
    db->DbType = type;
    db->flSwap = type != DBT_PLAIN && HostNeedsSwap() ? 1 : 0;
    IndexRebuild(db);
}

void DbTClear(DbT *db, int type) {
    if (!db) return;
    // The image no longer follows the file, but it still stands for the file
    // it was loaded from: only a change of that file makes a refresh reload.
    DbT saved = *db;
    ClearImage(db);
    db->MTime = saved.MTime;
    db->MTimeNs = saved.MTimeNs;
    db->FileIno = saved.FileIno;
    db->FileSize = saved.FileSize;
    db->pImage = static_cast<char *>(GetMem(HEADER_SIZE));
    if (db->pImage && type == DBT_TAGGED) db->ImageSize = HEADER_SIZE;
    DbTSetDbType(db, type);
    if (type == DBT_TAGGED) UpdateHeader(db);
}

void UpdateHeader(DbT *db) {
    if (!db || !db->pImage || db->ImageSize < HEADER_SIZE) return;
    char num[32];
    snprintf(num, sizeof num, "%li", static_cast<long>(db->Count));
    num[9] = 0; // at most nine characters fit the header
    int n = snprintf(db->pImage, HEADER_SIZE, "TXDBAA%s", num);
    for (int i = n + 1; i < HEADER_SIZE; ++i) db->pImage[i] = static_cast<char>(rand() & 0xff);
}

int DbmTArchiveDb(DbT *db) {
    if (!db || !db->pName) return 0;
    if (db->DbType == DBT_TAGGED) UpdateHeader(db);
    DbmMakeWorkDb();
    FileReplacement rep;
    if (!OpenNewDataBase(db->pName, &rep)) return 0;
    if (db->ImageSize > 0 &&
        fwrite(db->pImage, 1, db->ImageSize, rep.pOut) != static_cast<size_t>(db->ImageSize)) {
        fprintf(stderr, "ERROR: Can't write to %s", db->pName);
        AbortNewDataBase(&rep);
        return 0;
    }
    struct stat st;
    if (!CommitNewDataBase(&rep, db->pName, &st)) return 0;
    // The file now holds this image: no reload is needed until it changes.
    if (db->pImage && db->DbType != DBT_EMPTY) NoteFile(db, st);
    return 1;
}

int DbmTPutRecord(DbT *db, const char *key, const void *data, int len) {
    if (!db || !key || !data || len <= 0) return 0;
    long long klen = strlen(key);
    if (klen > DBM_MAX_KEY) return 0;
    Refresh(db);
    if (db->DbType == DBT_EMPTY) DbTSetDbType(db, DBT_TAGGED);
    long long body = klen + 1 + len + 2;
    if (body > (IsPlain(db) ? DBM_MAX_PLAIN_BODY : DBM_MAX_TAGGED_BODY)) return 0;

    PurgeImage(db, key, 0);
    int base = db->ImageSize;
    if (base == 0 && !IsPlain(db)) base = HEADER_SIZE;
    int total = base + static_cast<int>(body) + 2;
    if (total < base) return 0;
    char *img = static_cast<char *>(AdjustMem(db->pImage, total));
    if (!img) return 0;
    db->pImage = img;
    int k = static_cast<int>(klen) + 1;
    auto *p = reinterpret_cast<unsigned char *>(img);
    Write16(db, base, static_cast<int>(body));
    if (IsPlain(db)) {
        uint16_t k16 = static_cast<uint16_t>(k);
        memcpy(p + base + 2, &k16, 2);
        memcpy(p + base + 4, key, k);
        memcpy(p + base + 4 + k, data, len);
        DbmScramble(p + base + 2, static_cast<int>(body));
    } else {
        Write16(db, base + 2, k);
        memcpy(p + base + 4, key, k);
        DbmScramble(p + base + 4, k);
        memcpy(p + base + 4 + k, data, len);
        DbmScramble(p + base + 4 + k, len);
        ++db->Count;
    }
    db->ImageSize = total;
    if (db->pIndex) {
        const unsigned char *stored = IsPlain(db) ? reinterpret_cast<const unsigned char *>(key)
                                                  : p + base + 4;
        if (!IndexInsert(db, base, stored, k)) IndexFree(db);
    } else {
        IndexRebuild(db);
    }
    if (db->Flags & DBT_NOARCHIVE) return 1;
    return DbmTArchiveDb(db);
}

int DbmTDeleteRecord(DbT *db, const char *key) {
    if (!db || !key || !*key) return 0;
    int removed = PurgeTRecord(db, key, 0);
    if (!removed || (db->Flags & DBT_NOARCHIVE)) return removed;
    return DbmTArchiveDb(db);
}

int DbmTDeleteRecords(DbT *db, const char *prefix) {
    if (!db || !prefix || !*prefix) return 0;
    int removed = PurgeTRecord(db, prefix, static_cast<int>(strlen(prefix)));
    if (removed && !(db->Flags & DBT_NOARCHIVE)) DbmTArchiveDb(db);
    return 1;
}

int DbmTGetRecord(DbT *db, const char *key, void *dst) {
    if (!db || !key || !dst) return 0;
    Refresh(db);
    DbTRec rec;
    if (FindTRecord(db, key, &rec) < 0) return 0;
    RecordData(db, &rec, dst);
    return rec.Len - rec.KeyLen - 2;
}

int DbmTGetRecordV(DbT *db, const char *key, char **buf, int bufsize) {
    if (!db || !key || !buf) return 0;
    Refresh(db);
    DbTRec rec;
    if (FindTRecord(db, key, &rec) < 0) return 0;
    int n = rec.Len - rec.KeyLen - 2;
    if (n > bufsize || !*buf) {
        char *fresh = static_cast<char *>(GetMem(n > 0 ? n : 1));
        if (!fresh) return 0;
        *buf = fresh;
    }
    RecordData(db, &rec, *buf);
    return n;
}

int DbmTGetRecordSize(DbT *db, const char *key) {
    if (!db || !key) return 0;
    Refresh(db);
    DbTRec rec;
    if (FindTRecord(db, key, &rec) < 0) return 0;
    return rec.Len - rec.KeyLen - 2;
}

char *DbmTGetRecordList(DbT *db, const char *sep, const char *end) {
    if (!db || !sep || !end) return nullptr;
    return KeyList(db, nullptr, sep, end);
}

char *DbmTGetRecordListS(DbT *db, const char *names, const char *sep, const char *end) {
    if (!db || !names || !*names || !sep || !end) return nullptr;
    // Split the names once, with a private cursor: a caller in the middle of
    // its own scan of the shared tokenizer keeps its position and token.
    std::vector<std::string> list;
    char tok[TOKEN_BUF_SIZE];
    char *cursor = nullptr;
    for (char *t = GetTokenD(names, ",", &cursor, tok); t; t = GetTokenD(nullptr, ",", &cursor, tok))
        list.emplace_back(t);
    return KeyList(db, &list, sep, end);
}

DbmLink *DbmTGetDbLinkList(DbT *db, const char *pattern) {
    if (!db || !pattern) return nullptr;
    Refresh(db);
    DbmLink *head = nullptr, *tail = nullptr;
    DbTRec rec;
    for (DbTRec *r = WalkDbTRecords(db, &rec, 0); r; r = WalkDbTRecords(db, &rec, 1)) {
        const char *key = WalkKey(db, r);
        if (!strstr(key, pattern)) continue;
        DbmLink *node = DbmAppendLink(&head, &tail, r->KeyLen, r->Len - r->KeyLen - 2);
        if (!node) continue; // a node that cannot be had is left out
        memcpy(node->pKey, key, r->KeyLen);
        RecordData(db, r, node->pData);
    }
    return head;
}

int DbmTCopyRecord(DbT *db, const char *from_key, const char *to_key) {
    if (!db || !from_key || !to_key) return 0;
    static unsigned char buf[COPY_BUF];
    int n = DbmTGetRecord(db, from_key, buf);
    return n ? DbmTPutRecord(db, to_key, buf, n) : 0;
}
