// DbmT.cpp - the tagged record store: a whole database file held in memory as
// an image, changed in place and written back as a whole.
//
// Image layouts (kept in the format they were loaded in; the image holds the
// file's bytes, scrambled runs and all):
//   tagged: "TXDBAA<count>\0<filler>" (16 bytes), then per record
//           [L:2][K:2][key NUL: run of K][data: run of L-K-2]
//   plain:  per record [L:2][body: one run of L] with body [K:2][key NUL][data]
// Lengths are read through flSwap: big-endian in tagged images on this host,
// host order in plain ones.
//
// Which records an image holds is decided by one test, SoundRecord: a record
// counts only when it lies wholly inside the image, its key lies inside its
// body and ends with its NUL (and holds no other NUL), and a plain body stays
// within what the plain reader takes back. Every walk stops at the first
// record that fails it and cuts the image there, so no length field can make
// a reader leave the image or the walk buffer, and every reader sees the same
// records. The file itself is never rewritten by a handle that met such a
// record: its copy would lose every record behind it.
//
// Loading is one read of the whole file into the image block plus a look at
// the first record; nothing else. A lookup on a fresh image scans it, the
// keys compared in their stored (scrambled) form, and stops at the first
// match. From the second lookup on, an index maps each key to the FIRST
// record the walk meets with it: built by one walk, extended when a record
// is appended, dropped when records are taken out (their offsets move).
// Without an index (no memory for it) lookups stay scans. Data runs are
// unscrambled only for the record asked for, by a word-wise loop. Why not
// more at load: building the index costs about as much again as walking the
// image, and restoring every byte several times the read itself, while a
// program that asks one question needs neither; and an image kept as the
// file's bytes is written back as it stands.
//
// The bookkeeping of a handle beyond its documented fields (the loaded
// file's identity, the block sizes, the index) lives in a record of this
// file, found through the handle's address.
#include "Dbm.h"
#include "DbmPriv.h"

#include "MemMgr.h"
#include "utils.h"

#include <bit>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int HEADER_SIZE = 16;
constexpr int KEY_BUF = 4096;         // a key with its NUL, unscrambled
constexpr int WALK_BUF = 65535;       // pMem: the body of a plain record
constexpr int COPY_BUF = 65536;       // DbmTCopyRecord's record buffer
constexpr int LOAD_TRIES = 10;        // reads of a busy file, a second apart
constexpr long SPARE_MAX = 64L << 20; // largest image block kept for the next load

// A record met by the walk.
struct DbTRec {
    uint16_t Len;    // body length L
    uint16_t KeyLen; // key length K, NUL included
    char *pKey;      // plain images: the key inside pMem, data behind it
};

// One record in the index: the hash of its key, where it starts, and the
// entry of the record before it in the same bucket (entry number + 1, 0 at
// the end of the chain).
struct IndexEntry {
    uint32_t Hash;
    int32_t Pos;
    int32_t Prev;
};

// What the store keeps of a handle beside its documented fields.
struct DbTPriv {
    DbT *pHandle;            // the handle this record belongs to
    long MTimeNs;            // nanoseconds of MTime
    uint64_t FileIno;        // inode of the loaded file: a replaced file differs
    int64_t FileSize;        // size of the loaded file
    int32_t ImageRoom;       // bytes the image block holds (at least ImageSize + 1)
    unsigned char flRefused; // the file is not empty but nothing in it is readable:
                             // no change and no write-back, the file stays as it is
    int32_t Damage;          // 1 + file offset of the first damaged record a walk met
                             // (0: none met): no change and no write-back either
    int32_t Removed;         // bytes of records taken out of the image since it was
                             // loaded (all before any damage: walks stop there)
    unsigned char flScanned; // a lookup scanned this image: the next one builds the index
    int32_t Buckets;         // index buckets, a power of two; 0: no index
    int32_t *pHeads;         // per bucket: its latest entry + 1, 0 when empty
    IndexEntry *pEntries;    // one per record, in image order
    int32_t Used;            // entries in use
    int32_t Room;            // entries allocated
    FileReplacement *pHeld;  // the writers' lock: the temporary copy this handle
                             // holds until its next write-back or close; null
    unsigned char flPath;    // opened by DbTOpenPath: pName is the file itself,
                             // whatever the process-wide full-path mode says
};

struct TaggedState {
    // TLBuf: read as one host-order integer it equals 0x01020304 only on a
    // big-endian host, where the tagged lengths need no swap.
    unsigned char TLBuf[5] = {1, 2, 3, 4, 0};
    // pMem: the unscrambled body of the current record of a plain image.
    unsigned char *pMem = nullptr;
    // A tagged key, unscrambled.
    unsigned char KeyBuf[KEY_BUF];
    // The probe key of a lookup in stored form (scrambled for tagged images).
    unsigned char Probe[KEY_BUF];
    // The private records of the open handles; pLast is the one asked for last.
    DbTPriv **pAll = nullptr;
    int AllCount = 0;
    int AllRoom = 0;
    DbTPriv *pLast = nullptr;
    // An image block given back by a closed or reloaded handle, kept for the
    // next load so that a large file is read into memory that is already
    // mapped; SpareRoom bytes.
    char *pSpare = nullptr;
    int32_t SpareRoom = 0;
    // The arrays of an index given up the same way, kept for the next index:
    // a fresh page costs a fault at its first touch, and for a large index
    // those faults took longer than the whole build.
    int32_t *pSpareHeads = nullptr;
    int32_t SpareBuckets = 0;
    IndexEntry *pSpareEntries = nullptr;
    int32_t SpareEntries = 0;
} T;

bool HostNeedsSwap() {
    uint32_t v;
    memcpy(&v, T.TLBuf, 4);
    return v != 0x01020304;
}

// ---------------------------------------------------------------------------
// Private records
// ---------------------------------------------------------------------------

// The private record of a handle DbTOpen made; null for any other handle
// (one a caller built itself gets the documented behaviour without an index).
DbTPriv *Priv(const DbT *db) {
    if (T.pLast && T.pLast->pHandle == db) return T.pLast;
    for (int i = 0; i < T.AllCount; ++i) {
        if (T.pAll[i]->pHandle == db) return T.pLast = T.pAll[i];
    }
    return nullptr;
}

DbTPriv *AddPriv(DbT *db) {
    if (T.AllCount == T.AllRoom) {
        int room = T.AllRoom ? T.AllRoom * 2 : 8;
        auto *all =
            static_cast<DbTPriv **>(AdjustMem(T.pAll, static_cast<long>(room) * sizeof *T.pAll));
        if (!all) return nullptr;
        T.pAll = all;
        T.AllRoom = room;
    }
    auto *p = static_cast<DbTPriv *>(GetMem(sizeof(DbTPriv)));
    if (!p) return nullptr;
    p->pHandle = db;
    T.pAll[T.AllCount++] = p;
    return T.pLast = p;
}

void IndexFree(DbTPriv *p);

void DropPriv(DbTPriv *p) {
    for (int i = 0; i < T.AllCount; ++i) {
        if (T.pAll[i] != p) continue;
        T.pAll[i] = T.pAll[--T.AllCount];
        break;
    }
    if (T.pLast == p) T.pLast = nullptr;
    IndexFree(p);
    PutMem(p);
}

// ---------------------------------------------------------------------------
// Image blocks
// ---------------------------------------------------------------------------

// A block for an image of size bytes and one zero byte behind them (it ends
// the header's count text of a short file); *room gets its size.
char *TakeImageBlock(int32_t size, int32_t *room) {
    if (T.pSpare && T.SpareRoom > size) {
        char *img = T.pSpare;
        *room = T.SpareRoom;
        T.pSpare = nullptr;
        T.SpareRoom = 0;
        img[size] = 0;
        return img;
    }
    *room = size + 1;
    return static_cast<char *>(GetMem(size + 1L));
}

// Gives an array of n elements back (an image block, or an index's), keeping
// the larger of it and the spare one of its kind for the next use.
template <class E> void ReturnToSpare(E *a, int32_t n, E **spare, int32_t *spareN) {
    if (!a) return;
    if (n > *spareN && static_cast<long>(n) * sizeof(E) <= SPARE_MAX) {
        PutMem(*spare);
        *spare = a;
        *spareN = n;
        return;
    }
    PutMem(a);
}

// Gives an image block back, keeping the largest one for the next load.
void ReturnImageBlock(char *img, int32_t room) {
    ReturnToSpare(img, room, &T.pSpare, &T.SpareRoom);
}

// ---------------------------------------------------------------------------
// Lengths, keys and the soundness test
// ---------------------------------------------------------------------------

// A 16-bit length field of the image in host order (byte-reversed when the
// handle swaps, as SetVarContent with its reverse flag would copy it; done
// inline because every record of every walk reads two).
inline int Read16(const DbT *db, int off) {
    uint16_t v;
    memcpy(&v, db->pImage + off, 2);
    return db->flSwap ? static_cast<uint16_t>((v >> 8) | (v << 8)) : v;
}

void Write16(DbT *db, int off, int value) {
    uint16_t v = static_cast<uint16_t>(value);
    SetVarContent(db->pImage + off, &v, 2, db->flSwap);
}

bool IsPlain(const DbT *db) {
    return db->DbType == DBT_PLAIN;
}
int FirstRecord(const DbT *db) {
    return IsPlain(db) ? 0 : HEADER_SIZE;
}

constexpr uint64_t ONES = 0x0101010101010101ull;

// The first n (at most 8) bytes at p as a word, the rest zero; byte i of the
// text is byte i of the word counted from its low end.
inline uint64_t LoadWord(const unsigned char *p, int n) {
    uint64_t w = 0;
    memcpy(&w, p, n);
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    return w;
}

inline void StoreWord(unsigned char *p, uint64_t w, int n) {
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    memcpy(p, &w, n);
}

// A word of 8 stored bytes e[0..7] turned into x[i] = e[i] ^ ... ^ e[7]: the
// run restored within the word, as if nothing followed it.
inline uint64_t SuffixXor(uint64_t w) {
    w ^= w >> 8;
    w ^= w >> 16;
    w ^= w >> 32;
    return w;
}

// Whether one of the low n bytes of w is zero.
inline bool HasZeroByte(uint64_t w, int n) {
    if (n <= 0) return false;
    uint64_t high = n >= 8 ? 0 : ~0ull << (8 * n);
    uint64_t x = w | high; // bytes beyond n count as non-zero
    return ((x - ONES) & ~x & (ONES << 7)) != 0;
}

// The key hash: the same for a key however it is found (unscrambled into a
// buffer, or restored word by word from a tagged run).
// A product only carries low bits upwards, so each step folds the high half
// back down: every byte of the key reaches the low bits that pick a bucket.
struct KeyHasher {
    uint64_t h = 0x9E3779B97F4A7C15ull;
    void Add(uint64_t w) {
        h = (h ^ w) * 0xD6E8FEB86659FD93ull;
        h ^= h >> 32;
    }
    uint32_t Done(int n) const {
        uint64_t x = (h ^ static_cast<uint64_t>(n)) * 0x9E3779B97F4A7C15ull;
        x ^= x >> 29;
        x *= 0xBF58476D1CE4E5B9ull;
        return static_cast<uint32_t>(x ^ (x >> 32));
    }
};

uint32_t HashKey(const unsigned char *key, int n) {
    KeyHasher hs;
    int i = 0;
    for (; i + 8 <= n; i += 8)
        hs.Add(LoadWord(key + i, 8));
    if (i < n) hs.Add(LoadWord(key + i, n - i));
    return hs.Done(n);
}

// Restores the tagged key run at p (klen bytes, its NUL last) into KeyBuf,
// word by word from the end: each word is restored within itself, then
// XORed with the first restored byte of the word behind it.
void RestoreTaggedKey(const unsigned char *p, int klen) {
    int i = klen - 1; // the run's last byte is the NUL, stored as it is
    uint8_t carry = 0;
    for (; i >= 8; i -= 8) {
        uint64_t local = SuffixXor(LoadWord(p + i - 8, 8));
        StoreWord(T.KeyBuf + i - 8, local ^ (ONES * carry), 8);
        carry ^= static_cast<uint8_t>(local);
    }
    if (i > 0) StoreWord(T.KeyBuf, SuffixXor(LoadWord(p, i)) ^ (ONES * carry), i);
    T.KeyBuf[klen - 1] = 0;
}

// Whether the tagged key run at p (klen bytes, ending with its NUL) holds no
// other NUL. end: the end of the image, for reading whole words.
inline bool TaggedKeyNulFree(const unsigned char *p, int klen, const unsigned char *end) {
    int n = klen - 1;
    if (n <= 8) {
        // The usual short key: one word, restored in a register.
        uint64_t w;
        if (end - p >= 8) {
            memcpy(&w, p, 8);
            if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
            w &= n == 8 ? ~0ull : ~(~0ull << (8 * n));
        } else {
            w = LoadWord(p, n);
        }
        return !HasZeroByte(SuffixXor(w), n);
    }
    RestoreTaggedKey(p, klen);
    return memchr(T.KeyBuf, 0, n) == nullptr;
}

// The soundness test of a tagged record at start of an image of size bytes
// (lengths byte-reversed when swap); fills len and klen. The key run's last
// byte is stored as it is: the key's NUL.
[[gnu::always_inline]] inline bool SoundTagged(const unsigned char *img, int size, int start,
                                               bool swap, int *len, int *klen) {
    if (start + 2 > size) return false;
    uint16_t l16, k16;
    memcpy(&l16, img + start, 2);
    if (swap) l16 = __builtin_bswap16(l16);
    int l = l16;
    // Every body holds at least a key length field or a key, and a NUL.
    if (l < 3 || l > size - start - 2) return false;
    memcpy(&k16, img + start + 2, 2);
    if (swap) k16 = __builtin_bswap16(k16);
    int k = k16;
    if (k < 1 || k > KEY_BUF || k + 2 > l || img[start + 4 + k - 1] != 0) return false;
    if (!TaggedKeyNulFree(img + start + 4, k, img + size)) return false;
    *len = l;
    *klen = k;
    return true;
}

// Whether the record at start is sound (see the top of the file); fills len
// and klen. Plain images: its body is left unscrambled in pMem.
[[gnu::always_inline]] inline bool SoundRecord(DbT *db, int start, int *len, int *klen) {
    const auto *img = reinterpret_cast<const unsigned char *>(db->pImage);
    if (!IsPlain(db)) return SoundTagged(img, db->ImageSize, start, db->flSwap, len, klen);
    if (start + 2 > db->ImageSize) return false;
    int l = Read16(db, start);
    if (l < 3 || l > db->ImageSize - start - 2) return false;
    if (l > DBM_MAX_PLAIN_BODY) return false; // the plain reader's limit
    DbmUnscramble(T.pMem, img + start + 2, l);
    uint16_t k16;
    memcpy(&k16, T.pMem, 2);
    int k = k16;
    if (k < 1 || k + 2 > l || T.pMem[2 + k - 1] != 0) return false;
    if (memchr(T.pMem + 2, 0, k - 1)) return false;
    *len = l;
    *klen = k;
    return true;
}

// Whether the buffer that plain records are unscrambled into is there
// (allocated on the first need; tagged images need none).
bool HaveWalkBuf(const DbT *db) {
    if (IsPlain(db) && !T.pMem) T.pMem = static_cast<unsigned char *>(GetMem(WALK_BUF));
    return !IsPlain(db) || T.pMem;
}

// ---------------------------------------------------------------------------
// The walk
// ---------------------------------------------------------------------------

// Ends the walk at the record starting at start: the rest of the image is
// lost to this handle, and the file, which holds it, is never written back
// by it. Where the record lies in the file is noted for the refusal.
DbTRec *CutImage(DbT *db, int start) {
    DbTPriv *p = Priv(db);
    if (p && !p->Damage) p->Damage = start + p->Removed + 1;
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
    int len, klen;
    if (!SoundRecord(db, start, &len, &klen)) return CutImage(db, start);
    rec->Len = static_cast<uint16_t>(len);
    rec->KeyLen = static_cast<uint16_t>(klen);
    rec->pKey = IsPlain(db) ? reinterpret_cast<char *>(T.pMem + 2) : nullptr;
    db->Cur = start + (IsPlain(db) ? 2 : 4);
    db->Next = start + 2 + len;
    return rec;
}

// Start of the record the walk stands on.
int WalkStart(const DbT *db) {
    return db->Cur - (IsPlain(db) ? 2 : 4);
}

// The key of the record the walk stands on (tagged: unscrambled into
// KeyBuf, leaving Cur at the data run).
const char *WalkKey(DbT *db, const DbTRec *rec) {
    if (IsPlain(db)) return rec->pKey;
    DbmUnscramble(T.KeyBuf, reinterpret_cast<unsigned char *>(db->pImage) + db->Cur, rec->KeyLen);
    db->Cur += rec->KeyLen;
    return reinterpret_cast<const char *>(T.KeyBuf);
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

// The header's count follows the records the image really holds (a damaged
// tail may have been cut, or the header may be wrong).
void NoteRecordCount(DbT *db, int records) {
    if (db->DbType == DBT_TAGGED) db->Count = records;
}

// Walks the whole image: cuts a damaged tail and sets the header's count to
// the records it holds. True when it cut one.
bool WalkAll(DbT *db) {
    if (!db->pImage || db->DbType == DBT_EMPTY || !HaveWalkBuf(db)) return false;
    int start = FirstRecord(db), records = 0, len, klen;
    while (start < db->ImageSize && SoundRecord(db, start, &len, &klen)) {
        start += 2 + len;
        ++records;
    }
    bool cut = start < db->ImageSize;
    if (cut) CutImage(db, start);
    NoteRecordCount(db, records);
    return cut;
}

// The bytes below bit 8n of a word (n 0 to 8).
constexpr uint64_t LowBytes[9] = {0,
                                  0xFFull,
                                  0xFFFFull,
                                  0xFFFFFFull,
                                  0xFFFFFFFFull,
                                  0xFFFFFFFFFFull,
                                  0xFFFFFFFFFFFFull,
                                  0xFFFFFFFFFFFFFFull,
                                  ~0ull};

// The two length fields at p, read as one word: *len gets L, *klen K.
template <bool Swap>
inline void ReadLengths(const unsigned char *p, uint32_t *len, uint32_t *klen) {
    uint32_t v;
    memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::little) {
        if constexpr (Swap) {
            v = __builtin_bswap32(v); // [L:2][K:2] big-endian: L in the high half
            *len = v >> 16;
            *klen = v & 0xFFFF;
        } else {
            *len = v & 0xFFFF;
            *klen = v >> 16;
        }
    } else {
        *len = v >> 16;
        *klen = v & 0xFFFF;
        if constexpr (Swap) {
            *len = __builtin_bswap16(static_cast<uint16_t>(*len));
            *klen = __builtin_bswap16(static_cast<uint16_t>(*klen));
        }
    }
}

// For a key run of k bytes (2 to 8), read as the word that ends with its NUL
// (byte 7): the bytes that are not key bytes before the NUL, set to all ones.
constexpr uint64_t NotKeyBytes(int k) {
    return (k >= 2 ? LowBytes[8 - k] : ~0ull) | (0xFFull << 56);
}
constexpr uint64_t NotKey[9] = {~0ull,          ~0ull,          NotKeyBytes(2),
                                NotKeyBytes(3), NotKeyBytes(4), NotKeyBytes(5),
                                NotKeyBytes(6), NotKeyBytes(7), NotKeyBytes(8)};

// ---------------------------------------------------------------------------
// The index
// ---------------------------------------------------------------------------

// Whether an array of have elements may serve where want are asked for:
// enough, and not so many more that a small index sits on a large block.
bool SpareFits(int have, int want) {
    return have >= want && have / 2 <= want;
}

// Bucket heads for buckets buckets, all empty. Written here even when they
// come fresh: the first access of the build would otherwise read each page
// (mapping the zero page) and then fault again to write it.
int32_t *TakeHeads(int buckets) {
    int32_t *heads;
    if (T.pSpareHeads && T.SpareBuckets == buckets) {
        heads = T.pSpareHeads;
        T.pSpareHeads = nullptr;
        T.SpareBuckets = 0;
    } else {
        heads = static_cast<int32_t *>(GetMem(static_cast<long>(buckets) * sizeof(int32_t)));
        if (!heads) return nullptr;
    }
    memset(heads, 0, static_cast<size_t>(buckets) * sizeof(int32_t));
    return heads;
}

void IndexFree(DbTPriv *p) {
    if (!p) return;
    ReturnToSpare(p->pHeads, p->Buckets, &T.pSpareHeads, &T.SpareBuckets);
    ReturnToSpare(p->pEntries, p->Room, &T.pSpareEntries, &T.SpareEntries);
    p->pHeads = nullptr;
    p->pEntries = nullptr;
    p->Buckets = p->Used = p->Room = 0;
}

// Forgets the index and the scan (the image changed under it).
void IndexDrop(DbT *db) {
    DbTPriv *p = Priv(db);
    if (!p) return;
    IndexFree(p);
    p->flScanned = 0;
}

// Room for want entries and buckets for them. False when no memory.
bool IndexReserve(DbTPriv *p, int want) {
    if (want > p->Room) {
        // The first block holds what the header counts, exactly; an index
        // that outgrows it doubles.
        int room = p->Room ? p->Room : want > 64 ? want : 64;
        while (room < want && room < (1 << 29))
            room *= 2;
        IndexEntry *e;
        if (!p->pEntries && T.pSpareEntries && SpareFits(T.SpareEntries, room)) {
            e = T.pSpareEntries;
            room = T.SpareEntries;
            T.pSpareEntries = nullptr;
            T.SpareEntries = 0;
        } else {
            e = static_cast<IndexEntry *>(
                AdjustMem(p->pEntries, static_cast<long>(room) * sizeof(IndexEntry)));
        }
        if (!e) return false;
        p->pEntries = e;
        p->Room = room;
    }
    if (want <= p->Buckets) return true;
    int buckets = p->Buckets ? p->Buckets : 64;
    while (buckets < want && buckets < (1 << 29))
        buckets *= 2;
    int32_t *heads = TakeHeads(buckets);
    if (!heads) return false;
    // The chains are laid anew, oldest entry first, so each bucket's chain
    // still runs from the latest record to the earliest.
    uint32_t mask = static_cast<uint32_t>(buckets) - 1;
    for (int i = 0; i < p->Used; ++i) {
        uint32_t b = p->pEntries[i].Hash & mask;
        p->pEntries[i].Prev = heads[b];
        heads[b] = i + 1;
    }
    ReturnToSpare(p->pHeads, p->Buckets, &T.pSpareHeads, &T.SpareBuckets);
    p->pHeads = heads;
    p->Buckets = buckets;
    return true;
}

inline void IndexAdd(DbTPriv *p, uint32_t hash, int start) {
    uint32_t b = hash & (static_cast<uint32_t>(p->Buckets) - 1);
    IndexEntry &e = p->pEntries[p->Used];
    e.Hash = hash;
    e.Pos = start;
    e.Prev = p->pHeads[b];
    p->pHeads[b] = ++p->Used;
}

// Indexes the records of a tagged image from start on while they are the
// usual kind: a key of 1 to 7 bytes, and the next record at least 12 bytes
// before the end. The soundness test is the scan's (see ScanTaggedBody); the
// key is restored in a register and hashed from there, the same hash HashKey
// gives its text. Returns where it stopped (the walk goes on there record by
// record), or -1 when memory ran out (the index is then freed).
template <bool Swap> int IndexTaggedRun(DbT *db, DbTPriv *p, int start) {
    const auto *img = reinterpret_cast<const unsigned char *>(db->pImage);
    const unsigned char *at = img + start;
    const unsigned char *last = img + db->ImageSize - 12;
    if (start < HEADER_SIZE) return start;
    while (at <= last) {
        __builtin_prefetch(at + 2048);
        uint32_t l, k;
        ReadLengths<Swap>(at, &l, &k);
        const unsigned char *next = at + 2 + l;
        if (k - 2 > 6u || k + 2 > l || next > last || at[3 + k] != 0) break;
        uint64_t x = SuffixXor(LoadWord(at + k - 4, 8));
        if (((x | NotKey[k]) - ONES) & ~(x | NotKey[k]) & (ONES << 7)) break;
        // The key's bytes to the low end of the word, its NUL and zeros above:
        // what HashKey reads from the key's text.
        KeyHasher hs;
        hs.Add(x >> (8 * (8 - k)));
        if ((p->Used >= p->Room || p->Used >= p->Buckets) && !IndexReserve(p, p->Used + 1)) {
            IndexFree(p);
            return -1;
        }
        IndexAdd(p, hs.Done(static_cast<int>(k) - 1), static_cast<int>(at - img));
        at = next;
    }
    return static_cast<int>(at - img);
}

// Builds the index by one full walk (which also cuts a damaged tail). Leaves
// the handle without an index when memory runs out.
void IndexBuild(DbT *db, DbTPriv *p) {
    IndexFree(p);
    if (!db->pImage || db->DbType == DBT_EMPTY || !HaveWalkBuf(db)) return;
    int hint = db->DbType == DBT_TAGGED && db->Count > 0 && db->Count <= db->ImageSize / 7
                   ? db->Count
                   : db->ImageSize / 64 + 16;
    if (!IndexReserve(p, hint)) {
        IndexFree(p);
        return;
    }
    const auto *img = reinterpret_cast<const unsigned char *>(db->pImage);
    int start = FirstRecord(db);
    while (start < db->ImageSize) {
        if (!IsPlain(db)) {
            start = db->flSwap ? IndexTaggedRun<true>(db, p, start)
                               : IndexTaggedRun<false>(db, p, start);
            if (start < 0) return;
            if (start >= db->ImageSize) break;
        }
        int len, klen;
        if (!SoundRecord(db, start, &len, &klen)) {
            CutImage(db, start);
            break;
        }
        if (!IsPlain(db)) RestoreTaggedKey(img + start + 4, klen);
        uint32_t hash = HashKey(IsPlain(db) ? T.pMem + 2 : T.KeyBuf, klen - 1);
        if ((p->Used >= p->Room || p->Used >= p->Buckets) && !IndexReserve(p, p->Used + 1)) {
            IndexFree(p);
            return;
        }
        IndexAdd(p, hash, start);
        start += 2 + len;
    }
    NoteRecordCount(db, p->Used);
}

// The probe key in the stored form of the image's records; false when no
// record can hold it.
bool MakeProbe(const DbT *db, const char *key, int klen) {
    if (klen + 1 > KEY_BUF) return false;
    const auto *k = reinterpret_cast<const unsigned char *>(key);
    if (IsPlain(db)) {
        memcpy(T.Probe, k, klen + 1);
    } else {
        for (int i = 0; i < klen; ++i)
            T.Probe[i] = k[i] ^ k[i + 1];
        T.Probe[klen] = 0;
    }
    return true;
}

// Whether the record at start (sound) holds the probe key of klen + 1 bytes.
// Plain images: its body is left in pMem.
bool HoldsProbe(DbT *db, int start, int klen) {
    if (IsPlain(db)) {
        int len = Read16(db, start);
        DbmUnscramble(T.pMem, reinterpret_cast<unsigned char *>(db->pImage) + start + 2, len);
        uint16_t k;
        memcpy(&k, T.pMem, 2);
        return k == klen + 1 && memcmp(T.pMem + 2, T.Probe, klen + 1) == 0;
    }
    return Read16(db, start + 2) == klen + 1 &&
           memcmp(db->pImage + start + 4, T.Probe, klen + 1) == 0;
}

// Offset of the first record with the probe key through the index, or -1.
// *dup tells whether a later record holds the same key.
int IndexFind(DbT *db, DbTPriv *p, const char *key, int klen, bool *dup) {
    uint32_t hash = HashKey(reinterpret_cast<const unsigned char *>(key), klen);
    int found = -1, matches = 0;
    // The chain runs from the latest record to the earliest: the last match
    // met is the first record.
    for (int e = p->pHeads[hash & (static_cast<uint32_t>(p->Buckets) - 1)]; e;
         e = p->pEntries[e - 1].Prev) {
        const IndexEntry &entry = p->pEntries[e - 1];
        if (entry.Hash != hash || !HoldsProbe(db, entry.Pos, klen)) continue;
        found = entry.Pos;
        ++matches;
    }
    *dup = matches > 1;
    if (found >= 0 && IsPlain(db)) HoldsProbe(db, found, klen); // its body back in pMem
    return found;
}

// The scan of a tagged image over the records whose successor starts at least
// 12 bytes before the end of the image: their word loads need no bounds test.
// Returns the start of the first record with the probe key, or -1 with *at at
// the first record it did not take (unsound, or too close to the end): the
// careful loop goes on there. The same soundness test as SoundTagged, in fewer
// steps: every record before the one asked for passes through here, and the
// walk waits on each length in turn, so each step is kept to what the
// processor can do while the next length is on its way:
//  - both lengths come from one word;
//  - a key of up to 7 bytes is restored from the one word that ends with its
//    NUL (the bytes before the key fall out, since a run restores from its
//    end), and the bytes that are not key bytes are masked to ones;
//  - the probe compares the stored key length and the first 6 bytes of the
//    stored key as one word, the rest only when they agree.
// probe: the 8 bytes a matching record holds from its key length field on,
// mask: which of them count.
template <bool Swap>
int ScanTaggedBody(const unsigned char *img, int size, int want, uint64_t probe, uint64_t mask,
                   int *at, int *records) {
    // Tagged records start at 16 or later: the word that ends with the NUL of
    // a short key may begin up to 3 bytes before its record.
    static_assert(HEADER_SIZE >= 4);
    const unsigned char *p = img + *at;
    const unsigned char *last = img + size - 12;
    int counted = *records;
    if (*at < HEADER_SIZE || p > last) return -1;
    for (;;) {
        __builtin_prefetch(p + 2048); // the next lines arrive before the walk needs them
        uint32_t l, k;
        ReadLengths<Swap>(p, &l, &k);
        const unsigned char *next = p + 2 + l;
        // 1 <= K <= KEY_BUF, K + 2 <= L (so L >= 3), the record inside the image
        // with 12 bytes behind it, and the run's last byte the key's NUL.
        if (k - 1 >= static_cast<uint32_t>(KEY_BUF) || k + 2 > l || next > last || p[3 + k] != 0)
            break;
        if (k <= 8) {
            uint64_t x = SuffixXor(LoadWord(p + k - 4, 8)) | NotKey[k];
            if ((x - ONES) & ~x & (ONES << 7)) break; // a NUL inside the key
        } else if (!TaggedKeyNulFree(p + 4, static_cast<int>(k), img + size)) {
            break;
        }
        if ((LoadWord(p + 2, 8) & mask) == probe &&
            (want <= 6 || memcmp(p + 10, T.Probe + 6, want - 6) == 0)) {
            *records = counted;
            return static_cast<int>(p - img);
        }
        ++counted;
        p = next;
    }
    *at = static_cast<int>(p - img);
    *records = counted;
    return -1;
}

// Scans the image from the start for the first record with the probe key
// (cutting a damaged tail when it gets there); -1 if none. Keys are compared
// in their stored form: tagged runs scrambled, plain keys as restored.
int ScanFind(DbT *db, int klen) {
    const auto *img = reinterpret_cast<const unsigned char *>(db->pImage);
    const int size = db->ImageSize;
    const bool swap = db->flSwap;
    const int want = klen + 1;
    int start = FirstRecord(db);
    int records = 0;
    if (!IsPlain(db)) {
        // What a matching record holds from its key length field on: the
        // field as stored, then the start of the stored key.
        unsigned char head[8] = {};
        uint16_t field = static_cast<uint16_t>(want);
        if (swap) field = __builtin_bswap16(field);
        memcpy(head, &field, 2);
        int keyHead = want < 6 ? want : 6;
        memcpy(head + 2, T.Probe, keyHead);
        const uint64_t mask = LowBytes[2 + keyHead];
        const uint64_t probe = LoadWord(head, 8) & mask;
        int found = swap ? ScanTaggedBody<true>(img, size, want, probe, mask, &start, &records)
                         : ScanTaggedBody<false>(img, size, want, probe, mask, &start, &records);
        if (found >= 0) return found;
        // The last records, or the one the fast loop stopped at: tested with
        // every bound.
        while (start < size) {
            int len, k;
            if (!SoundTagged(img, size, start, swap, &len, &k)) break;
            if (k == want && memcmp(img + start + 4, T.Probe, k) == 0) return start;
            ++records;
            start += 2 + len;
        }
    } else {
        while (start < size) {
            int len, k;
            if (!SoundRecord(db, start, &len, &k)) break;
            if (k == want && memcmp(T.pMem + 2, T.Probe, k) == 0) return start;
            ++records;
            start += 2 + len;
        }
    }
    if (start < size) CutImage(db, start);
    NoteRecordCount(db, records);
    return -1;
}

// ---------------------------------------------------------------------------
// Loading
// ---------------------------------------------------------------------------

// True when the handle's name is the path of its file: opened by path, or
// full-path mode is on.
bool ByPath(const DbT *db) {
    const DbTPriv *p = Priv(db);
    return DbmV4DriverPathHandling || (p != nullptr && p->flPath);
}

// The file a handle reads. By path: the name itself, the same file the
// write-back replaces.
std::string LoadPath(const DbT *db) {
    const char *name = db->pName;
    if (ByPath(db) || name[0] == '.') return name;
    if (name[0] == '/') return strchr(name, '.') ? std::string(name) : std::string(name) + ".xdb";
    return std::string(pToolPath ? pToolPath : ".") + "/db/" + name + ".xdb";
}

bool SameFile(const DbT *db, const DbTPriv *p, const struct stat &st) {
    if (db->MTime != st.st_mtim.tv_sec) return false;
    return !p || (p->MTimeNs == st.st_mtim.tv_nsec && p->FileIno == st.st_ino &&
                  p->FileSize == st.st_size);
}

void NoteFile(DbT *db, const struct stat &st) {
    db->MTime = st.st_mtim.tv_sec;
    if (DbTPriv *p = Priv(db)) {
        p->MTimeNs = st.st_mtim.tv_nsec;
        p->FileIno = st.st_ino;
        p->FileSize = st.st_size;
    }
}

// Opens the file for a load; *st describes what was opened. -1 when nothing
// can be opened there; -2 when what is there is no regular file (a directory
// or a device holds no records: as if missing). O_NONBLOCK: a FIFO under the
// name must not hold the load up; reads of a regular file ignore it.
int OpenImageFile(const char *path, struct stat *st) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return -1;
    if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        close(fd);
        return -2;
    }
    return fd;
}

// Reads the whole file open at fd (a regular file, *st its status) in one
// call into an image block and closes fd. Null for an empty file or a failed
// read.
char *ReadImage(int fd, const struct stat &st, int32_t *size, int32_t *room) {
    char *img = nullptr;
    if (st.st_size > 0 && st.st_size <= INT32_MAX - 64) {
        int32_t n = static_cast<int32_t>(st.st_size);
        img = TakeImageBlock(n, room);
        int32_t got = 0;
        while (img && got < n) {
            ssize_t r = read(fd, img + got, n - got); // one call, unless interrupted
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += static_cast<int32_t>(r);
        }
        if (img && got != n) {
            ReturnImageBlock(img, *room);
            img = nullptr;
        }
        *size = n;
    }
    close(fd);
    return img;
}

void ClearImage(DbT *db) {
    DbTPriv *p = Priv(db);
    if (p)
        ReturnImageBlock(db->pImage, p->ImageRoom);
    else
        PutMem(db->pImage);
    IndexDrop(db);
    db->pImage = nullptr;
    db->ImageSize = 0;
    db->MTime = 0;
    db->Cur = db->Next = db->Count = 0;
    db->DbType = DBT_EMPTY;
    if (p) {
        p->MTimeNs = 0;
        p->FileIno = 0;
        p->FileSize = 0;
        p->ImageRoom = 0;
        p->flRefused = 0;
        p->Damage = 0;
        p->Removed = 0;
    }
}

// Whether a loaded image holds no readable record although its file is not
// empty: neither format, a damaged header, or damage before the first record.
bool NothingReadable(DbT *db) {
    if (db->DbType == DBT_TAGGED) {
        if (db->ImageSize < HEADER_SIZE) return true;
        if (db->ImageSize == HEADER_SIZE) return db->Count != 0; // its records are gone
    }
    int len, klen;
    return !HaveWalkBuf(db) || !SoundRecord(db, FirstRecord(db), &len, &klen);
}

// Refreshes the image unless the handle says never to.
void Refresh(DbT *db) {
    if (!(db->Flags & DBT_NOREFRESH)) DbTUpDate(db);
}

// Whether changes of the handle must be refused (printing why): its file
// holds nothing readable, or a damaged record a walk met. A copy of the
// records before the damage would lose every one behind it.
bool Refused(const DbT *db) {
    DbTPriv *p = Priv(db);
    if (p && p->flRefused) {
        fprintf(stderr, "ERROR: no readable record in %s; it is left as it is\n", db->pName);
        return true;
    }
    if (p && p->Damage) {
        fprintf(stderr, "ERROR: damaged record at offset %ld in %s; it is left as it is\n",
                static_cast<long>(p->Damage - 1), db->pName);
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// The writers' lock
// ---------------------------------------------------------------------------
// Writers of one file take turns on its temporary copy (OpenNewDataBase). A
// change must read the file under that lock, or two writers that read the
// same file each write back their own change alone and one of them is lost.
// So a change that is written back at once takes the lock before it looks
// at the file, and a caller that defers its write-back takes it with
// DbTLock before it reads.

// Lets the handle's lock go; an unwritten temporary is removed.
void ReleaseLock(DbTPriv *p) {
    if (!p || !p->pHeld) return;
    AbortNewDataBase(p->pHeld);
    PutMem(p->pHeld);
    p->pHeld = nullptr;
}

// Lets a handle's lock go on every path out of a scope.
struct LockGuard {
    DbTPriv *p;
    explicit LockGuard(DbTPriv *priv) : p(priv) {}
    ~LockGuard() { ReleaseLock(p); }
    LockGuard(const LockGuard &) = delete;
    LockGuard &operator=(const LockGuard &) = delete;
};

// Takes the writers' lock for the handle unless it holds it. False when
// another writer keeps it (OpenNewDataBase says so) or memory runs out.
bool TakeLock(DbT *db, DbTPriv *p) {
    if (p->pHeld) return true;
    auto *rep = static_cast<FileReplacement *>(GetMem(sizeof(FileReplacement)));
    if (!rep) return false;
    if (!OpenNewDataBase(db->pName, rep, ByPath(db))) {
        PutMem(rep);
        return false;
    }
    p->pHeld = rep;
    return true;
}

// Under the lock the file stays as it is until this handle writes it back:
// an image of an older state (or of a file since removed or made) is loaded
// anew, whatever the handle's flags. A file refused as unreadable is not
// tried again.
void ReloadIfChanged(DbT *db, DbTPriv *p) {
    if (p->flRefused) return;
    struct stat st;
    std::string path = LoadPath(db);
    bool there = stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    bool loaded = p->FileIno != 0;
    if (there ? loaded && SameFile(db, p, st) : !loaded) return;
    ClearImage(db);
    DbTUpDate(db);
}

// The lock of one change that is written back at once: taken before the
// change reads the file, let go when it is over (its write-back lets it go
// earlier). A handle that defers its write-back, holds the lock already or
// has no bookkeeping takes none here. A change whose lock cannot be had is
// made in the image and not written back, as after a failed write-back.
class ChangeLock {
  public:
    explicit ChangeLock(DbT *db) : p_(Priv(db)) {
        if (!p_ || (db->Flags & DBT_NOARCHIVE) || p_->pHeld) {
            p_ = nullptr;
            return;
        }
        ok_ = TakeLock(db, p_);
        if (!ok_) p_ = nullptr;
    }
    ~ChangeLock() { ReleaseLock(p_); }
    ChangeLock(const ChangeLock &) = delete;
    ChangeLock &operator=(const ChangeLock &) = delete;
    bool ok() const { return ok_; }

  private:
    DbTPriv *p_;
    bool ok_ = true;
};

// Grows the image block to hold size bytes (and a spare one). False when no
// memory: the image is left as it was.
bool ImageRoomFor(DbT *db, int32_t size) {
    DbTPriv *p = Priv(db);
    if (p && size < p->ImageRoom) return true;
    long room = size + 1L;
    if (p) room += room / 2; // appends come in runs
    if (room > INT32_MAX) room = size + 1L;
    char *img = static_cast<char *>(AdjustMem(db->pImage, room));
    if (!img) return false;
    db->pImage = img;
    if (p) p->ImageRoom = static_cast<int32_t>(room);
    return true;
}

// Takes the record at start (L + 2 bytes) out of the image.
void RemoveAt(DbT *db, int start) {
    int end = start + 2 + Read16(db, start);
    memmove(db->pImage + start, db->pImage + end, db->ImageSize - end);
    db->ImageSize -= end - start;
    if (DbTPriv *p = Priv(db)) p->Removed += end - start;
    if (db->Count > 0) --db->Count;
}

// Finds the first record with key: offset of its start, -1 if none. *dup
// tells whether another record holds the key too (only known through the
// index; true otherwise). Tagged: Cur is left at the data run; plain: the
// body is in pMem.
int FindTRecord(DbT *db, const char *key, DbTRec *rec, bool *dup) {
    *dup = true;
    if (!db || !key || !*key || !db->pImage || db->DbType == DBT_EMPTY) return -1;
    int klen = static_cast<int>(strlen(key));
    if (!MakeProbe(db, key, klen) || !HaveWalkBuf(db)) return -1;
    DbTPriv *p = Priv(db);
    if (p && !p->pHeads && p->flScanned) IndexBuild(db, p);
    int start;
    if (p && p->pHeads) {
        start = IndexFind(db, p, key, klen, dup);
    } else {
        if (p) p->flScanned = 1;
        start = ScanFind(db, klen);
    }
    if (start < 0) return -1;
    rec->Len = static_cast<uint16_t>(Read16(db, start));
    if (IsPlain(db)) {
        rec->KeyLen = static_cast<uint16_t>(klen + 1);
        rec->pKey = reinterpret_cast<char *>(T.pMem + 2);
        db->Cur = start + 2;
    } else {
        rec->KeyLen = static_cast<uint16_t>(klen + 1);
        rec->pKey = nullptr;
        db->Cur = start + 4 + rec->KeyLen;
    }
    db->Next = start + 2 + rec->Len;
    return start;
}

// PurgeTRecord without the refresh.
int PurgeImage(DbT *db, const char *key, int prefixlen) {
    if (!db || !db->pImage || !key || !*key) return 0;
    int klen = static_cast<int>(strlen(key));
    int removed = 0;
    if (prefixlen == 0) {
        DbTRec rec;
        bool dup;
        int start = FindTRecord(db, key, &rec, &dup);
        if (start < 0) return 0; // the common case of a store: a new key
        if (!dup) {
            RemoveAt(db, start);
            removed = 1;
        }
    }
    if (!removed) {
        DbTRec rec;
        for (DbTRec *r = WalkDbTRecords(db, &rec, 0); r; r = WalkDbTRecords(db, &rec, 1)) {
            int start = WalkStart(db);
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
        int32_t size = db->ImageSize > 0 ? db->ImageSize : 1;
        char *img = static_cast<char *>(AdjustMem(db->pImage, size));
        if (img) {
            db->pImage = img;
            if (DbTPriv *p = Priv(db)) p->ImageRoom = size + 1;
        }
        IndexDrop(db); // the records behind the removed ones moved
    }
    return removed;
}

int PurgeTRecord(DbT *db, const char *key, int prefixlen) {
    if (!db || !key || !*key) return 0;
    Refresh(db);
    return PurgeImage(db, key, prefixlen);
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
    int len = 0, records = 0;
    DbTRec rec;
    for (DbTRec *r = WalkDbTRecords(db, &rec, 0); r; r = WalkDbTRecords(db, &rec, 1)) {
        ++records;
        const char *key = WalkKey(db, r);
        if (names && !TestKeyName(key, *names)) continue;
        if (!DbmAppendText(&res, &len, sep) || !DbmAppendText(&res, &len, key)) {
            PutMem(res);
            return nullptr;
        }
    }
    NoteRecordCount(db, records);
    if (res && !DbmAppendText(&res, &len, end)) {
        PutMem(res);
        return nullptr;
    }
    return res;
}

} // namespace

// ---------------------------------------------------------------------------
// Shared steps
// ---------------------------------------------------------------------------

void DbmScramble(unsigned char *p, int n) {
    for (int i = 0; i + 1 < n; ++i)
        p[i] ^= p[i + 1];
}

void DbmUnscramble(unsigned char *dst, const unsigned char *src, int n) {
    if (n <= 0) return;
    // From the end, a word at a time: each word is restored within itself
    // (independent of every other word), then XORed with the first restored
    // byte of the word behind it. Only that one byte carries from word to
    // word, so the words overlap in the processor.
    uint8_t carry = 0;
    int i = n;
    for (; i >= 8; i -= 8) {
        uint64_t local = SuffixXor(LoadWord(src + i - 8, 8));
        StoreWord(dst + i - 8, local ^ (ONES * carry), 8);
        carry ^= static_cast<uint8_t>(local);
    }
    if (i > 0) StoreWord(dst, SuffixXor(LoadWord(src, i)) ^ (ONES * carry), i);
}

// ---------------------------------------------------------------------------
// Public operations
// ---------------------------------------------------------------------------

namespace {

// A new handle of name with its image loaded; byPath: name is the file.
DbT *OpenHandle(const char *name, uint32_t flags, bool byPath) {
    auto *db = static_cast<DbT *>(GetMem(sizeof(DbT)));
    if (!db) return nullptr;
    DbTPriv *p = AddPriv(db);
    if (!p) {
        PutMem(db);
        return nullptr;
    }
    p->flPath = byPath ? 1 : 0;
    db->pName = SaveStr("%s", name);
    db->Flags = flags & (DBT_NOREFRESH | DBT_NOARCHIVE);
    DbTUpDate(db);
    return db;
}

} // namespace

DbT *DbTOpen(const char *name, uint32_t flags) {
    if (!name) return nullptr;
    return OpenHandle(name, flags, false);
}

DbT *DbTOpenPath(const char *path, uint32_t flags) {
    if (!path || !*path) return nullptr;
    return OpenHandle(path, flags, true);
}

void DbTClose(DbT *db) {
    DbmV4DriverPathHandling = 0;
    if (!db) return;
    DbTPriv *p = Priv(db);
    if (p) {
        ReleaseLock(p);
        ReturnImageBlock(db->pImage, p->ImageRoom);
        DropPriv(p);
    } else {
        PutMem(db->pImage);
    }
    PutMem(db->pName);
    PutMem(db);
}

void DbTUpDate(DbT *db) {
    if (!db || !db->pName) return;
    std::string path = LoadPath(db);
    struct stat st;
    DbTPriv *p = Priv(db);
    int fd = -1;
    if (db->pImage) {
        // One look at the file tells whether the image is still current.
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
        if (SameFile(db, p, st)) return;
    } else {
        // Nothing loaded yet: the descriptor's status is the look. Only when
        // the file cannot be opened does a stat tell a missing file (nothing
        // happens) from a busy or unreadable one (tried again below).
        fd = OpenImageFile(path.c_str(), &st);
        if (fd == -2) return;
        if (fd == -1 && (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) return;
    }

    int32_t size = 0, room = 0;
    char *img = nullptr;
    for (int attempt = 1; attempt <= LOAD_TRIES; ++attempt) {
        if (fd < 0) fd = OpenImageFile(path.c_str(), &st);
        if (fd == -2) return; // no longer a regular file: as if missing
        if (fd >= 0) img = ReadImage(fd, st, &size, &room);
        fd = -1;
        if (img || st.st_size == 0 || attempt == LOAD_TRIES) break;
        sleep(1); // busy or unreadable: try again
        if (stat(path.c_str(), &st) != 0) break;
    }
    ClearImage(db);
    if (!img) {
        // Empty or unreadable: an empty tagged-to-be image with its header.
        // An empty file is remembered, so that changes deferred on it are not
        // thrown away by the next refresh; an unreadable one is tried again,
        // and never replaced by what the handle holds.
        if (st.st_size == 0)
            NoteFile(db, st);
        else if (p)
            p->flRefused = 1;
        db->pImage = TakeImageBlock(HEADER_SIZE, &room);
        if (!db->pImage) return;
        if (p) p->ImageRoom = room;
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
    if (p) p->ImageRoom = room;
    NoteFile(db, st);
    if (size >= 5 && memcmp(img, "TXDBAA", 5) == 0) {
        long count = size > 6 ? strtol(img + 6, nullptr, 10) : 0; // a zero byte ends the image
        db->Count = count < 0 ? 0 : count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count);
        db->DbType = DBT_TAGGED;
    } else {
        db->DbType = DBT_PLAIN;
    }
    db->flSwap = db->DbType != DBT_PLAIN && HostNeedsSwap() ? 1 : 0;
    if (p) p->flRefused = NothingReadable(db) ? 1 : 0;
    if (db->DbType == DBT_TAGGED && size < HEADER_SIZE && ImageRoomFor(db, HEADER_SIZE)) {
        // A header cut short: room for a whole one, the missing bytes zero.
        memset(db->pImage + size, 0, HEADER_SIZE - size);
        db->ImageSize = HEADER_SIZE;
    }
}

int DbTLock(DbT *db) {
    if (!db || !db->pName) return 0;
    DbTPriv *p = Priv(db);
    if (!p || !TakeLock(db, p)) return 0;
    ReloadIfChanged(db, p);
    return 1;
}

void DbTSetDbType(DbT *db, int type) {
    if (!db) return;
    db->DbType = type;
    db->flSwap = type != DBT_PLAIN && HostNeedsSwap() ? 1 : 0;
    IndexDrop(db); // the records read differently now
}

void DbTClear(DbT *db, int type) {
    if (!db) return;
    // The image no longer follows the file, but it still stands for the file
    // it was loaded from: only a change of that file makes a refresh reload.
    // A file with nothing readable in it stays refused.
    DbTPriv *p = Priv(db);
    DbTPriv saved{};
    if (p) saved = *p;
    time_t mtime = db->MTime;
    ClearImage(db);
    db->MTime = mtime;
    if (p) {
        p->MTimeNs = saved.MTimeNs;
        p->FileIno = saved.FileIno;
        p->FileSize = saved.FileSize;
        p->flRefused = saved.flRefused;
        p->Damage = saved.Damage;
    }
    int32_t room = 0;
    db->pImage = TakeImageBlock(HEADER_SIZE, &room);
    if (p) p->ImageRoom = room;
    if (db->pImage && type == DBT_TAGGED) db->ImageSize = HEADER_SIZE;
    DbTSetDbType(db, type);
    if (type == DBT_TAGGED) UpdateHeader(db);
}

int DbTWritable(DbT *db) {
    if (!db) return 0;
    DbTPriv *p = Priv(db);
    return p && p->flRefused ? 0 : 1;
}

long DbTDamageOffset(DbT *db) {
    if (!db) return -1;
    WalkAll(db);
    DbTPriv *p = Priv(db);
    return p && p->Damage ? p->Damage - 1L : -1;
}

void UpdateHeader(DbT *db) {
    if (!db || !db->pImage || db->ImageSize < HEADER_SIZE) return;
    char num[32];
    snprintf(num, sizeof num, "%li", static_cast<long>(db->Count));
    num[9] = 0; // at most nine characters fit the header
    int n = snprintf(db->pImage, HEADER_SIZE, "TXDBAA%s", num);
    for (int i = n + 1; i < HEADER_SIZE; ++i)
        db->pImage[i] = static_cast<char>(rand() & 0xff);
}

int DbmTArchiveDb(DbT *db) {
    if (!db || !db->pName) return 0;
    // What goes back is every record of the file and a header that counts
    // them: a file with a damaged record is not written at all.
    bool cut = WalkAll(db);
    if (Refused(db)) return 0;
    if (cut) {
        // A handle without bookkeeping (Refused cannot know its damage).
        fprintf(stderr, "ERROR: damaged record in %s; it is left as it is\n", db->pName);
        return 0;
    }
    if (db->DbType == DBT_TAGGED) UpdateHeader(db);
    // A file opened by path lives where its path says: no "db" beside it.
    if (!ByPath(db)) DbmMakeWorkDb();
    // The temporary copy is the writers' lock: the one this handle holds, or
    // one taken now. Either way the write-back ends it.
    DbTPriv *p = Priv(db);
    FileReplacement own;
    FileReplacement *rep = p && p->pHeld ? p->pHeld : &own;
    if (rep == &own && !OpenNewDataBase(db->pName, &own, ByPath(db))) return 0;
    LockGuard done(p); // the held record is let go on every path out
    if (db->ImageSize > 0 &&
        fwrite(db->pImage, 1, db->ImageSize, rep->pOut) != static_cast<size_t>(db->ImageSize)) {
        fprintf(stderr, "ERROR: Can't write to %s", db->pName);
        AbortNewDataBase(rep);
        return 0;
    }
    struct stat st;
    if (!CommitNewDataBase(rep, db->pName, &st)) return 0;
    // The file now holds this image: no reload is needed until it changes.
    if (db->pImage && db->DbType != DBT_EMPTY) NoteFile(db, st);
    return 1;
}

int DbmTPutRecord(DbT *db, const char *key, const void *data, int len) {
    if (!db || !key || !data || len <= 0) return 0;
    long long klen = strlen(key);
    if (klen > DBM_MAX_KEY) return 0;
    ChangeLock lock(db);
    Refresh(db);
    if (Refused(db)) return 0;
    if (db->DbType == DBT_EMPTY) DbTSetDbType(db, DBT_TAGGED);
    long long body = klen + 1 + len + 2;
    if (body > (IsPlain(db) ? DBM_MAX_PLAIN_BODY : DBM_MAX_TAGGED_BODY)) return 0;

    PurgeImage(db, key, 0);
    int base = db->ImageSize;
    if (base == 0 && !IsPlain(db)) base = HEADER_SIZE;
    int total = base + static_cast<int>(body) + 2;
    if (total < base || !ImageRoomFor(db, total)) return 0;
    int k = static_cast<int>(klen) + 1;
    auto *p = reinterpret_cast<unsigned char *>(db->pImage);
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
    // The new record is the last one and its key is no other's (the purge
    // saw to that): an index takes it as it is.
    DbTPriv *priv = Priv(db);
    if (priv && priv->pHeads) {
        if (IndexReserve(priv, priv->Used + 1))
            IndexAdd(priv, HashKey(reinterpret_cast<const unsigned char *>(key), k - 1), base);
        else
            IndexFree(priv);
    }
    if (db->Flags & DBT_NOARCHIVE) return 1;
    // Without the lock the change stays in the image, as after a failed write.
    return lock.ok() ? DbmTArchiveDb(db) : 0;
}

int DbmTDeleteRecord(DbT *db, const char *key) {
    if (!db || !key || !*key) return 0;
    ChangeLock lock(db);
    int removed = PurgeTRecord(db, key, 0);
    if (!removed || (db->Flags & DBT_NOARCHIVE)) return removed;
    return lock.ok() ? DbmTArchiveDb(db) : 0;
}

int DbmTDeleteRecords(DbT *db, const char *prefix) {
    if (!db || !prefix || !*prefix) return 0;
    ChangeLock lock(db);
    int removed = PurgeTRecord(db, prefix, static_cast<int>(strlen(prefix)));
    if (removed && !(db->Flags & DBT_NOARCHIVE) && lock.ok()) DbmTArchiveDb(db);
    return 1;
}

int DbmTGetRecord(DbT *db, const char *key, void *dst) {
    if (!db || !key || !dst) return 0;
    Refresh(db);
    DbTRec rec;
    bool dup;
    if (FindTRecord(db, key, &rec, &dup) < 0) return 0;
    RecordData(db, &rec, dst);
    return rec.Len - rec.KeyLen - 2;
}

int DbmTGetRecordV(DbT *db, const char *key, char **buf, int bufsize) {
    if (!db || !key || !buf) return 0;
    Refresh(db);
    DbTRec rec;
    bool dup;
    if (FindTRecord(db, key, &rec, &dup) < 0) return 0;
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
    bool dup;
    if (FindTRecord(db, key, &rec, &dup) < 0) return 0;
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
    for (char *t = GetTokenD(names, ",", &cursor, tok); t;
         t = GetTokenD(nullptr, ",", &cursor, tok))
        list.emplace_back(t);
    return KeyList(db, &list, sep, end);
}

DbmLink *DbmTGetDbLinkList(DbT *db, const char *pattern) {
    if (!db || !pattern) return nullptr;
    Refresh(db);
    DbmLink *head = nullptr, *tail = nullptr;
    DbTRec rec;
    int records = 0;
    for (DbTRec *r = WalkDbTRecords(db, &rec, 0); r; r = WalkDbTRecords(db, &rec, 1)) {
        ++records;
        const char *key = WalkKey(db, r);
        if (!strstr(key, pattern)) continue;
        DbmLink *node = DbmAppendLink(&head, &tail, r->KeyLen, r->Len - r->KeyLen - 2);
        if (!node) continue; // a node that cannot be had is left out
        memcpy(node->pKey, key, r->KeyLen);
        RecordData(db, r, node->pData);
    }
    NoteRecordCount(db, records);
    return head;
}

int DbmTCopyRecord(DbT *db, const char *from_key, const char *to_key) {
    if (!db || !from_key || !to_key) return 0;
    static unsigned char buf[COPY_BUF];
    ChangeLock lock(db);      // the record is read under the lock it is stored under
    if (!lock.ok()) return 0; // the store would only wait for it again
    int n = DbmTGetRecord(db, from_key, buf);
    return n ? DbmTPutRecord(db, to_key, buf, n) : 0;
}
