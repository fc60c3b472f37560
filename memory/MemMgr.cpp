// Block memory manager.
//
// Algorithm. Memory comes from the system in blocks: a record (MemBlock) and a
// data area, each mapped separately from "/dev/zero" (or taken from the C heap
// when the device cannot be opened). A shared block's 65,536-byte data area is
// cut into 2,048 nodes of 32 bytes. An allocation is a run of consecutive nodes;
// its first node's directory entry (Nodes[i]) records its length and address,
// and its nodes are marked 'U' in the occupancy map MAT (' ' when free).
// GetMem is first fit: the earliest shared block in the chain that has a free
// run long enough, and the lowest node index of such a run in it. A request
// whose rounded size is over 65,536 bytes gets a dedicated block of its own
// whose MAT is all 'U' and whose free count is 0, so the search never uses it.
// A block left without allocations leaves the chain at once. Mapping and
// unmapping 64 KiB at a time cost more than everything else a release does,
// so PutMem parks up to 256 emptied shared blocks and 16 dedicated ones (at
// most 8 MiB of data areas) off the chain, where nothing sees them: not the
// search, not FindBlock, not DumpMem. A new block of the same kind takes a
// parked one before it maps anything. The first 16 parked shared blocks keep
// their pages (1 MiB in all): a page given back costs a fault when it is
// touched again, and that costs more than clearing the nodes it serves, which
// every allocation does anyway. A program that frees a large structure and
// builds the next one would pay that fault for every page of it, so the
// shared blocks parked beyond those 16 hand their used pages to the system as
// lazily free (MADV_FREE): the system takes them when it runs short of
// memory, and until then the block that reuses them finds them mapped. Either
// way a node below HighWater is cleared when it is handed out, and the
// directory pages of an emptied record are zero, so it does not matter which
// pages the system took. The pages a parked dedicated area has used are
// dropped when it is parked: that memory goes back to the system at once, only
// the address range is kept, and the pages read as zeros again. When the
// system refuses a mapping, the parked blocks go back and the mapping is
// tried once more. FreeBlock, called directly, always gives both mappings back.
//
// The first-fit search is kept fast with bookkeeping that never changes its
// answer:
//  - FreeBits mirrors MAT as a bitmap, so runs are found a 64-bit word at a
//    time;
//  - each word of FreeBits is summed up in three bytes: the longest free run
//    inside it and the free nodes at its two ends. A request of up to 64
//    nodes starts in the first word whose longest run holds it or whose high
//    end joins the next word's low end into a run that does; all 32 words are
//    compared at once, so the search costs the same wherever the run lies.
//    A longer request needs a run across words, which the sums show as the
//    free top of one word, wholly free words and the free bottom of the next;
//  - each block keeps a bound on its longest free run (Longest): no run is
//    longer, but it may be shorter. A release raises it to the run it makes;
//    an allocation, which only ever shortens runs, leaves it as it is, so
//    neither has to count runs. The search index lists these bounds for the
//    shared blocks in chain order, with the largest of every 64 of them on the
//    level above, and so on up to a level of at most 64 entries. The first
//    block that may hold the request is found from the top down, 64 entries
//    compared at a time, without touching the other blocks. The search tries the block it lands on,
//    and when the bound said too much, it sets the bound to the block's exact longest run (summed
//    up from the words of FreeBits) and searches again; a bound is set right once for every time it
//    fell behind;
//  - a hash table from each 64 KiB unit of the address space to the (at most
//    two) shared blocks whose data areas reach into it finds the block of a
//    pointer in one probe; pointers into dedicated blocks, and pointers the
//    table does not know, fall back to an address-sorted array of all blocks
//    and a binary search instead of a walk of the chain;
//  - StartBits marks the nodes at which an allocation starts: the length of
//    one is the distance to the next node that is free or starts another, so
//    a release finds it in the bitmaps it changes anyway, not in the 32 KiB
//    directory, which it then only writes;
//  - HighWater: nodes at and above it were never handed out and are still the
//    zeros of the fresh mapping, so clearing them on allocation is skipped.
//
// Invariants (CheckBlock verifies them in debug builds after every change):
//  1. shared block: MAT[i] is 'U' exactly for the nodes covered by some entry
//     (i to i + NodeCnt - 1 of every entry with a non-zero count); entries
//     do not overlap and end within the block; an entry has a count exactly
//     when its pAddr is pMemory + 32 * i, and exactly when bit i of StartBits
//     is set;
//  2. FreeNodeCount equals the number of blanks in MAT;
//  3. bit i of FreeBits is set exactly when MAT[i] is ' ';
//  4. nodes at and above HighWater are free and their bytes are zero;
//  5. no free run is longer than Longest, and the index's leaf of the block
//     equals Longest;
//  6. dedicated block (Size over 65,536): MAT all 'U', FreeNodeCount 0, no
//     entries, and the data bytes from DedicatedSize to Size are zero (a shrink
//     clears what it gives up, so a grow in place needs no clearing);
//  7. the chain holds the blocks in order of creation; the search index holds
//     its shared blocks in the same order, the address index all of them;
//  8. WordLongest, WordTop and WordBottom sum up each word of FreeBits as
//     they say, and the WordBottom entries past the last word are 0.
#include "MemMgr.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

MemBlock *pMemB = nullptr;
int MemId = -1;
const char OutOfMem[] = "Unable to allocate memory";

namespace {

constexpr int kWords = MEM_NODES / 64;
constexpr int kFan = 64;                // entries of a search index level summed up in one above
constexpr int kLevels = 4;              // search index levels: 64^4 shared blocks at most
constexpr int kKeepShared = 256;        // emptied shared blocks kept for reuse
constexpr int kKeepSharedResident = 16; // of them, the ones whose pages stay ours
constexpr int kKeepDedicated = 16;      // released dedicated blocks kept for reuse
constexpr long kKeepDedicatedBytes = 8L << 20; // cap on their mapped data areas
// Largest rounded request: its dedicated data area must still fit Size.
constexpr long kMaxRounded = (long)INT32_MAX / MEM_BLOCK_SIZE * MEM_BLOCK_SIZE;
#ifndef NDEBUG
constexpr unsigned char kFreedFill = 0xDB; // debug builds: released nodes read as this
#endif

constexpr int kUnitShift = 16; // 64 KiB units of the address space

// One slot of the unit table: the shared blocks whose data areas reach into
// the unit Unit (an address shifted right by kUnitShift). Unit 0, below the
// lowest address the system maps, marks an empty slot.
struct UnitSlot {
    uintptr_t Unit;
    MemBlock *Block[2];
};

struct MemState {
    MemBlock *pTail = nullptr;     // last block of the chain
    MemBlock **Shared = nullptr;   // shared blocks in chain order: the first-fit search order
    uint16_t *Level[kLevels] = {}; // search index: Level[0][k] is Shared[k]->Longest, Level[l][g]
                                   // the largest of Level[l - 1][64g] to [64g + 63]; zero behind
    int SharedCnt = 0;             // entries used in Shared
    int SharedCap = 0;             // entries allocated, a power of two, at least 64
    int Levels = 0;                // levels of the search index in use; the top one has at most 64
    int TopShift =
        0; // shared blocks under one entry of the top level: 1 << TopShift (64^(Levels - 1))
    char **Starts = nullptr;                // pMemory of every chained block, ascending
    MemBlock **ByAddr = nullptr;            // the block of each Starts entry
    int AllCnt = 0;                         // entries used in Starts and ByAddr
    int AllCap = 0;                         // entries allocated
    UnitSlot *Units = nullptr;              // the shared blocks by 64 KiB unit; open addressing
    size_t UnitMask = 0;                    // slots in Units - 1; the slots are a power of two
    MemBlock *KeptShared[kKeepShared] = {}; // emptied shared blocks, off the chain, last kept last
    int KeptSharedCnt = 0;                  // entries used in KeptShared
    MemBlock *KeptDedicated[kKeepDedicated] = {}; // released dedicated blocks, oldest first
    int KeptDedicatedCnt = 0;                     // entries used in KeptDedicated
    long KeptDedicatedBytes = 0;                  // sum of their DataBytes
    long PageSize = 0;                            // system page size, read on first mapping
    unsigned Colour = 0; // blocks made so far, to spread records over cache sets
};
MemState M;

void ReportOutOfMem() {
    fprintf(stderr, "ERROR: %s\n", OutOfMem);
}

bool IsDedicated(const MemBlock *b) {
    return b->Size > MEM_BLOCK_SIZE;
}

// Request size to allocation size: size + 1 rounded up to whole nodes.
// Fails for sizes whose dedicated block could not be recorded in Size.
bool RoundSize(long size, long *rounded) {
    if (size > kMaxRounded - MEM_NODE_SIZE) return false;
    *rounded = (size + 1 + MEM_NODE_SIZE - 1) / MEM_NODE_SIZE * MEM_NODE_SIZE;
    return true;
}

// ---- bitmap of free nodes -------------------------------------------------

[[maybe_unused]] bool BitFree(const uint64_t *bits, int i) {
    assert(i >= 0 && i < MEM_NODES);
    return (bits[i >> 6] >> (i & 63)) & 1;
}

// Sets (free) or clears (used) the bits of nodes [s, s + len).
void SetBits(uint64_t *bits, int s, int len, bool free) {
    assert(s >= 0 && len >= 0 && s + len <= MEM_NODES);
    while (len > 0) {
        int w = s >> 6, bit = s & 63, take = std::min(len, 64 - bit);
        uint64_t mask = (take == 64 ? ~0ULL : ((1ULL << take) - 1)) << bit;
        if (free)
            bits[w] |= mask;
        else
            bits[w] &= ~mask;
        s += take;
        len -= take;
    }
}

// Last used node at or before from; -1 when none.
int PrevUsed(const uint64_t *bits, int from) {
    if (from < 0) return -1;
    assert(from < MEM_NODES);
    int w = from >> 6, b = from & 63;
    uint64_t cur = ~bits[w] & (b == 63 ? ~0ULL : ((1ULL << (b + 1)) - 1));
    while (cur == 0) {
        if (--w < 0) return -1;
        cur = ~bits[w];
    }
    return (w << 6) + 63 - __builtin_clzll(cur);
}

// First used node at or after from, MEM_NODES when none. Nodes at and above
// HighWater are all free, so the scan stops there.
int UsedFrom(const MemBlock *b, int from) {
    int limit = b->HighWater;
    if (from >= limit) return MEM_NODES;
    int w = from >> 6, last = (limit - 1) >> 6;
    uint64_t cur = ~b->FreeBits[w] & (~0ULL << (from & 63));
    while (cur == 0) {
        if (++w > last) return MEM_NODES;
        cur = ~b->FreeBits[w];
    }
    return (w << 6) + __builtin_ctzll(cur);
}

bool RangeFree(const MemBlock *b, int s, int len) {
    assert(s >= 0 && len >= 0 && s + len <= MEM_NODES);
    return len == 0 || UsedFrom(b, s) >= s + len;
}

// True when an allocation starts at node i.
bool StartsAt(const MemBlock *b, int i) {
    return (b->StartBits[i >> 6] >> (i & 63)) & 1;
}

// Nodes of the allocation that starts at node i: up to the next node that is
// free or starts another allocation, or to the end of the block.
int AllocLen(const MemBlock *b, int i) {
    int from = i + 1;
    if (from == MEM_NODES) return 1;
    int w = from >> 6;
    uint64_t cur = (b->FreeBits[w] | b->StartBits[w]) & (~0ULL << (from & 63));
    while (cur == 0) {
        if (++w == kWords) return MEM_NODES - i;
        cur = b->FreeBits[w] | b->StartBits[w];
    }
    return (w << 6) + __builtin_ctzll(cur) - i;
}

// Mask of the bit positions of w at which n (1 to 64) set bits begin.
uint64_t RunStarts(uint64_t w, int n) {
    assert(n >= 1 && n <= 64);
    for (int len = 1; len < n && w;) {
        int sh = std::min(len, n - len);
        w &= w >> sh;
        len += sh;
    }
    return w;
}

// Longest run of set bits in w.
int LongestOnes(uint64_t w) {
    if (w == ~0ULL) return 64;
    int longest = 0;
    while (w) {
        w >>= __builtin_ctzll(w);
        // The top bits are clear now, so the run ends below bit 64.
        int run = __builtin_ctzll(~w);
        longest = std::max(longest, run);
        w >>= run;
    }
    return longest;
}

// Sums up FreeBits word w (see WordLongest and its neighbours).
void SumUpWord(MemBlock *b, int w) {
    uint64_t bits = b->FreeBits[w];
    b->WordLongest[w] = (uint8_t)LongestOnes(bits);
    b->WordTop[w] = (uint8_t)(bits == ~0ULL ? 64 : __builtin_clzll(~bits));
    b->WordBottom[w] = (uint8_t)(bits == ~0ULL ? 64 : __builtin_ctzll(~bits));
}

// Sets (free) or clears (used) the bits of nodes [s, s + len) and sums up
// the words they lie in again. The words between the first and the last are
// wholly free or wholly used.
void MarkNodes(MemBlock *b, int s, int len, bool free) {
    SetBits(b->FreeBits, s, len, free);
    int first = s >> 6, last = (s + len - 1) >> 6;
    SumUpWord(b, first);
    if (last == first) return;
    SumUpWord(b, last);
    if (last - first > 1) {
        uint8_t all = free ? 64 : 0;
        for (int w = first + 1; w < last; ++w)
            b->WordLongest[w] = b->WordTop[w] = b->WordBottom[w] = all;
    }
}

// The words in which a free run of n nodes (1 to 64) starts, as a mask: a
// run that fits inside a word, or one that begins at a word's high end and
// goes on at the next word's low end.
uint32_t WordsStartingRun(const MemBlock *b, int n) {
    assert(n >= 1 && n <= 64);
#ifdef __SSE2__
    const __m128i want = _mm_set1_epi8((char)n);
    uint32_t mask = 0;
    for (int half = 0; half < 2; ++half) {
        __m128i longest = _mm_loadu_si128((const __m128i *)(b->WordLongest + 16 * half));
        __m128i top = _mm_loadu_si128((const __m128i *)(b->WordTop + 16 * half));
        __m128i next = _mm_loadu_si128((const __m128i *)(b->WordBottom + 16 * half + 1));
        __m128i joined = _mm_adds_epu8(top, next); // at most 128
        // x >= n exactly when max(x, n) == x (unsigned bytes).
        __m128i fits = _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(longest, want), longest),
                                    _mm_cmpeq_epi8(_mm_max_epu8(joined, want), joined));
        mask |= (uint32_t)_mm_movemask_epi8(fits) << (16 * half);
    }
    return mask;
#else
    uint32_t mask = 0;
    for (int w = 0; w < kWords; ++w)
        if (b->WordLongest[w] >= n || b->WordTop[w] + b->WordBottom[w + 1] >= n) mask |= 1u << w;
    return mask;
#endif
}

// Lowest node of the first free run of n nodes (1 to 64), or -1.
int FindShortRun(const MemBlock *b, int n) {
    uint32_t words = WordsStartingRun(b, n);
    if (words == 0) return -1;
    int w = __builtin_ctz(words);
    uint64_t inside = RunStarts(b->FreeBits[w], n);
    // A run inside the word starts below one that crosses into the next.
    if (inside) return (w << 6) + __builtin_ctzll(inside);
    return (w << 6) + 64 - b->WordTop[w];
}

// Lowest node of the first free run of n nodes (over 64), or -1. Such a run
// spans words: it joins the free top of one word, wholly free words, and the
// free bottom of the next, so the word sums find it without the bitmap. carry
// counts the free nodes at the end of the words before w.
int FindLongRun(const MemBlock *b, int n) {
    assert(n > 64 && n <= MEM_NODES);
    int carry = 0;
    for (int w = 0; w < kWords; ++w) {
        int bottom = b->WordBottom[w];
        if (carry + bottom >= n) return (w << 6) - carry;
        carry = bottom == 64 ? carry + 64 : b->WordTop[w];
    }
    return -1;
}

// Lowest node of the first free run of at least n nodes, or -1.
int FindRun(const MemBlock *b, int n) {
    return n <= 64 ? FindShortRun(b, n) : FindLongRun(b, n);
}

// Length of the block's longest free run, from the sums of the FreeBits words:
// a run either lies inside a word or joins the free top of one word, wholly
// free words, and the free bottom of the next.
int LongestRun(const MemBlock *b) {
#ifdef __SSE2__
    // Without a wholly free word, which is the usual case once a search
    // failed, every run lies inside a word or joins two: all 32 words are
    // compared at once.
    const __m128i whole = _mm_set1_epi8(64);
    __m128i most = _mm_setzero_si128(), full = _mm_setzero_si128();
    for (int half = 0; half < 2; ++half) {
        __m128i inside = _mm_loadu_si128((const __m128i *)(b->WordLongest + 16 * half));
        __m128i top = _mm_loadu_si128((const __m128i *)(b->WordTop + 16 * half));
        __m128i bottom = _mm_loadu_si128((const __m128i *)(b->WordBottom + 16 * half));
        __m128i next = _mm_loadu_si128((const __m128i *)(b->WordBottom + 16 * half + 1));
        most = _mm_max_epu8(most, _mm_max_epu8(inside, _mm_adds_epu8(top, next)));
        full = _mm_or_si128(full, _mm_cmpeq_epi8(bottom, whole));
    }
    if (_mm_movemask_epi8(full) == 0) {
        most = _mm_max_epu8(most, _mm_srli_si128(most, 8));
        most = _mm_max_epu8(most, _mm_srli_si128(most, 4));
        most = _mm_max_epu8(most, _mm_srli_si128(most, 2));
        most = _mm_max_epu8(most, _mm_srli_si128(most, 1));
        return _mm_cvtsi128_si32(most) & 0xFF;
    }
#endif
    int longest = 0, carry = 0;
    for (int w = 0; w < kWords; ++w) {
        if (b->WordBottom[w] == 64) {
            carry += 64;
            continue;
        }
        longest = std::max({longest, carry + b->WordBottom[w], (int)b->WordLongest[w]});
        carry = b->WordTop[w];
    }
    return std::max(longest, carry);
}

// ---- invariants -------------------------------------------------------------

#ifndef NDEBUG
MemBlock *SharedBlockOf(const char *p);

// True when the bytes [p, p + n) are all zero.
bool IsZero(const char *p, long n) {
    static const char zeros[4096] = {};
    for (long k = 0; k < n; k += (long)sizeof zeros)
        if (memcmp(p + k, zeros, (size_t)std::min<long>((long)sizeof zeros, n - k)) != 0)
            return false;
    return true;
}

// Checks the invariants of one block (see the top of this file). It runs
// after every change, so each loop reads an array once and the zero areas are
// compared with memcmp.
void CheckBlock(const MemBlock *b) {
    if (IsDedicated(b) && b->DedicatedSize == 0) return; // a large block GetNewBlock made, unused
    if (IsDedicated(b)) {
        for (int i = 0; i < MEM_NODES; ++i)
            assert(b->MAT[i] == MEM_USED && b->Nodes[i].NodeCnt == 0);
        assert(b->FreeNodeCount == 0 && b->SharedPos == -1);
        for (uint64_t bits : b->StartBits)
            assert(bits == 0);
        long end = std::min<long>(b->Size, (long)b->DedicatedSize +
                                               MEM_BLOCK_SIZE); // bounded: blocks can be huge
        assert(IsZero(b->pMemory + b->DedicatedSize, end - b->DedicatedSize));
        return;
    }
    int covered = 0, blanks = 0;
    for (int i = 0; i < MEM_NODES; ++i) {
        const MemNode &e = b->Nodes[i];
        assert((e.NodeCnt != 0) == (e.pAddr != nullptr) && (e.NodeCnt != 0) == StartsAt(b, i));
        if (e.NodeCnt != 0) {
            assert(i >= covered && i + e.NodeCnt <= MEM_NODES);
            assert(e.pAddr == b->pMemory + (long)i * MEM_NODE_SIZE);
            covered = i + e.NodeCnt;
            assert(AllocLen(b, i) == e.NodeCnt);
        }
        bool used = i < covered;
        assert(b->MAT[i] == (used ? MEM_USED : MEM_FREE));
        assert(BitFree(b->FreeBits, i) == !used);
        blanks += !used;
        assert(!used || i < b->HighWater);
    }
    assert(b->MAT[MEM_NODES] == 0);
    for (int w = 0; w < kWords; ++w) {
        uint64_t bits = b->FreeBits[w];
        assert(b->WordLongest[w] == LongestOnes(bits));
        assert(b->WordTop[w] == (bits == ~0ULL ? 64 : __builtin_clzll(~bits)));
        assert(b->WordBottom[w] == (bits == ~0ULL ? 64 : __builtin_ctzll(~bits)));
    }
    for (size_t w = kWords; w < sizeof b->WordBottom; ++w)
        assert(b->WordBottom[w] == 0);
    assert(IsZero(b->pMemory + (long)b->HighWater * MEM_NODE_SIZE,
                  (long)(MEM_NODES - b->HighWater) * MEM_NODE_SIZE));
    int longest = 0;
    for (int pos = 0, run = 0; pos <= MEM_NODES; ++pos) {
        if (pos < MEM_NODES && BitFree(b->FreeBits, pos)) {
            ++run;
            continue;
        }
        longest = std::max(longest, run);
        run = 0;
    }
    assert(b->Longest >= longest && LongestRun(b) == longest);
    assert(blanks == b->FreeNodeCount);
    if (b->SharedPos >= 0) {
        assert(M.Shared[b->SharedPos] == b);
        assert(M.Level[0][b->SharedPos] == b->Longest);
        assert(SharedBlockOf(b->pMemory) == b &&
               SharedBlockOf(b->pMemory + MEM_BLOCK_SIZE - 1) == b);
    }
}
#define CHECK_BLOCK(b) CheckBlock(b)
#else
#define CHECK_BLOCK(b) ((void)0)
#endif

// ---- the indexes --------------------------------------------------------------

// Position of the first of the count entries from v (count a multiple of 8,
// or v zero behind it) that is at least n (1 to 2,048), or -1.
int FirstAtLeast(const uint16_t *v, int count, int n) {
#ifdef __SSE2__
    // The entries are at most 2,048, so signed 16-bit compares are exact.
    const __m128i below = _mm_set1_epi16((short)(n - 1));
    for (int i = 0; i < count; i += 8) {
        __m128i x = _mm_loadu_si128((const __m128i *)(v + i));
        unsigned mask = (unsigned)_mm_movemask_epi8(_mm_cmpgt_epi16(x, below));
        if (mask) return i + __builtin_ctz(mask) / 2;
    }
#else
    for (int i = 0; i < count; ++i)
        if (v[i] >= n) return i;
#endif
    return -1;
}

// The largest of the 64 entries from v.
uint16_t GroupMax(const uint16_t *v) {
#ifdef __SSE2__
    __m128i m = _mm_loadu_si128((const __m128i *)v);
    for (int i = 8; i < kFan; i += 8)
        m = _mm_max_epi16(m, _mm_loadu_si128((const __m128i *)(v + i)));
    m = _mm_max_epi16(m, _mm_srli_si128(m, 8));
    m = _mm_max_epi16(m, _mm_srli_si128(m, 4));
    m = _mm_max_epi16(m, _mm_srli_si128(m, 2));
    return (uint16_t)_mm_extract_epi16(m, 0);
#else
    return *std::max_element(v, v + kFan);
#endif
}

// Entries of search index level l for cap shared blocks: one per 64^l blocks,
// rounded up to whole groups of 64.
size_t LevelSize(int cap, int l) {
    size_t span = 1, entries;
    for (int k = 0; k < l; ++k)
        span *= kFan;
    entries = ((size_t)cap + span - 1) / span;
    return (entries + kFan - 1) / kFan * kFan;
}

// Sets the bound of the block at search index position pos and the maxima of
// the levels above it.
void SetLeaf(int pos, int longest) {
    bool raised = longest >= M.Level[0][pos];
    M.Shared[pos]->Longest = longest;
    M.Level[0][pos] = (uint16_t)longest;
    for (int l = 1, g = pos / kFan; l < M.Levels; ++l, g /= kFan) {
        // A raised entry is the new largest of its group, or changes nothing.
        uint16_t larger = raised ? std::max(M.Level[l][g], (uint16_t)longest)
                                 : GroupMax(M.Level[l - 1] + (size_t)g * kFan);
        if (M.Level[l][g] == larger) break; // nothing changes further up
        M.Level[l][g] = larger;
    }
}

void RebuildIndex() {
    for (int k = 0; k < M.SharedCap; ++k)
        M.Level[0][k] = (uint16_t)(k < M.SharedCnt ? M.Shared[k]->Longest : 0);
    for (int l = 1; l < M.Levels; ++l) {
        size_t below = LevelSize(M.SharedCap, l - 1);
        for (size_t g = 0; g < LevelSize(M.SharedCap, l); ++g)
            M.Level[l][g] = g * kFan < below ? GroupMax(M.Level[l - 1] + g * kFan) : 0;
    }
}

// First search index position whose block's bound admits a free run of n
// nodes, SharedCnt when none. From the top level down, each step looks into
// the 64 entries under the first entry that is large enough; every block
// before the one it reaches is too full.
int FirstBlockFor(int n) {
    if (M.SharedCnt == 0) return M.SharedCnt;
    int top = M.Levels - 1, used = ((M.SharedCnt - 1) >> M.TopShift) + 1;
    int at = FirstAtLeast(M.Level[top], (used + 7) / 8 * 8, n);
    if (at < 0) return M.SharedCnt;
    for (int l = top - 1; l >= 0; --l) {
        int k = FirstAtLeast(M.Level[l] + (size_t)at * kFan, kFan, n);
        assert(k >= 0); // the entry above is the largest of these
        at = at * kFan + k;
    }
    return at;
}

size_t UnitHash(uintptr_t unit) {
    return (size_t)((unit * 0x9E3779B97F4A7C15ULL) >> 24);
}

// The slot of unit u in the unit table, or the empty slot where it would go.
UnitSlot &UnitSlotOf(uintptr_t u) {
    size_t at = UnitHash(u) & M.UnitMask;
    while (M.Units[at].Unit != 0 && M.Units[at].Unit != u)
        at = (at + 1) & M.UnitMask;
    return M.Units[at];
}

// Enters a shared block under the units its data area reaches into. A unit
// that somehow has two blocks already keeps them: FindBlock then falls back
// to the binary search for it.
void AddUnits(MemBlock *b) {
    uintptr_t first = (uintptr_t)b->pMemory >> kUnitShift;
    uintptr_t last = ((uintptr_t)b->pMemory + MEM_BLOCK_SIZE - 1) >> kUnitShift;
    for (uintptr_t u = first; u <= last && u != 0; ++u) {
        UnitSlot &slot = UnitSlotOf(u);
        slot.Unit = u;
        if (!slot.Block[0])
            slot.Block[0] = b;
        else if (!slot.Block[1])
            slot.Block[1] = b;
    }
}

// Empties slot at of the unit table. Linear probing: the entries behind it
// that could not sit closer to their home slot while it was taken move up.
void EraseUnitSlot(size_t at) {
    size_t hole = at;
    for (size_t j = (hole + 1) & M.UnitMask; M.Units[j].Unit != 0; j = (j + 1) & M.UnitMask) {
        size_t home = UnitHash(M.Units[j].Unit) & M.UnitMask;
        // The entry may move to the hole when the hole lies between its home
        // and where it sits now.
        if (((j - home) & M.UnitMask) >= ((j - hole) & M.UnitMask)) {
            M.Units[hole] = M.Units[j];
            hole = j;
        }
    }
    M.Units[hole] = UnitSlot{};
}

// Takes a shared block out of the unit table.
void RemoveUnits(const MemBlock *b) {
    uintptr_t first = (uintptr_t)b->pMemory >> kUnitShift;
    uintptr_t last = ((uintptr_t)b->pMemory + MEM_BLOCK_SIZE - 1) >> kUnitShift;
    for (uintptr_t u = first; u <= last && u != 0; ++u) {
        UnitSlot &slot = UnitSlotOf(u);
        if (slot.Unit != u) continue;
        for (MemBlock *&held : slot.Block)
            if (held == b) held = nullptr;
        if (!slot.Block[0] && !slot.Block[1]) EraseUnitSlot((size_t)(&slot - M.Units));
    }
}

// Fills the unit table from the shared blocks again.
void RebuildUnits() {
    memset(M.Units, 0, (M.UnitMask + 1) * sizeof *M.Units);
    for (int k = 0; k < M.SharedCnt; ++k)
        AddUnits(M.Shared[k]);
}

// The shared block whose data area holds p, by the unit table; null when the
// table knows none (p in a dedicated block, or in no block at all).
MemBlock *SharedBlockOf(const char *p) {
    uintptr_t u = (uintptr_t)p >> kUnitShift;
    const UnitSlot &slot = UnitSlotOf(u);
    if (slot.Unit != u) return nullptr;
    for (MemBlock *b : slot.Block)
        if (b && p >= b->pMemory && p < b->pMemory + MEM_BLOCK_SIZE) return b;
    return nullptr;
}

// Makes room for one more block in both indexes.
bool ReserveIndex() {
    if (M.AllCnt == M.AllCap) {
        int cap = M.AllCap ? M.AllCap * 2 : 64;
        char **starts = (char **)realloc(M.Starts, cap * sizeof *starts);
        if (!starts) return false;
        M.Starts = starts;
        MemBlock **by = (MemBlock **)realloc(M.ByAddr, cap * sizeof *by);
        if (!by) return false;
        M.ByAddr = by;
        M.AllCap = cap;
    }
    if (M.SharedCnt == M.SharedCap) {
        int cap = M.SharedCap ? M.SharedCap * 2 : 64;
        MemBlock **shared = (MemBlock **)realloc(M.Shared, cap * sizeof *shared);
        if (!shared) return false;
        M.Shared = shared;
        int levels = 1;
        while (levels < kLevels && LevelSize(cap, levels - 1) > kFan)
            ++levels;
        if (LevelSize(cap, levels - 1) > kFan) return false;
        // Two units per block at most, in a table at most half full.
        size_t slots = 4 * (size_t)cap;
        UnitSlot *units = (UnitSlot *)calloc(slots, sizeof *units);
        uint16_t *level[kLevels] = {};
        bool made = units != nullptr;
        for (int l = 0; l < levels && made; ++l)
            made = (level[l] = (uint16_t *)calloc(LevelSize(cap, l), sizeof **level)) != nullptr;
        if (!made) {
            free(units);
            for (uint16_t *l : level)
                free(l);
            return false;
        }
        for (int l = 0; l < kLevels; ++l) {
            free(M.Level[l]);
            M.Level[l] = level[l];
        }
        free(M.Units);
        M.Units = units;
        M.UnitMask = slots - 1;
        M.Levels = levels;
        M.TopShift = 6 * (levels - 1); // kFan is 2^6
        M.SharedCap = cap;
        RebuildIndex();
        RebuildUnits();
    }
    return true;
}

// Index of the first Starts entry above p. Pointers come in no order the
// branch predictor could learn, so the halving steps compile to conditional
// moves instead of branches.
int UpperBound(const char *p) {
    const char *const *base = M.Starts;
    int len = M.AllCnt;
    if (len == 0) return 0;
    while (len > 1) {
        int half = len / 2;
        base = base[half] <= p ? base + half : base;
        len -= half;
    }
    return (int)(base - (const char *const *)M.Starts) + (*base <= p);
}

// Records a block that joins the tail of the chain (room reserved).
void Register(MemBlock *b) {
    int at = UpperBound(b->pMemory);
    memmove(M.Starts + at + 1, M.Starts + at, (M.AllCnt - at) * sizeof *M.Starts);
    memmove(M.ByAddr + at + 1, M.ByAddr + at, (M.AllCnt - at) * sizeof *M.ByAddr);
    M.Starts[at] = b->pMemory;
    M.ByAddr[at] = b;
    ++M.AllCnt;
    b->SharedPos = -1;
    if (b->Size == MEM_BLOCK_SIZE) {
        b->SharedPos = M.SharedCnt;
        M.Shared[M.SharedCnt] = b;
        ++M.SharedCnt;
        SetLeaf(b->SharedPos, LongestRun(b));
        AddUnits(b);
    }
}

void Deregister(MemBlock *b) {
    for (int at = UpperBound(b->pMemory) - 1; at >= 0 && M.Starts[at] == b->pMemory; --at) {
        if (M.ByAddr[at] != b) continue;
        memmove(M.Starts + at, M.Starts + at + 1, (M.AllCnt - at - 1) * sizeof *M.Starts);
        memmove(M.ByAddr + at, M.ByAddr + at + 1, (M.AllCnt - at - 1) * sizeof *M.ByAddr);
        --M.AllCnt;
        break;
    }
    int pos = b->SharedPos;
    if (pos >= 0 && pos < M.SharedCnt && M.Shared[pos] == b) {
        memmove(M.Shared + pos, M.Shared + pos + 1, (M.SharedCnt - pos - 1) * sizeof *M.Shared);
        --M.SharedCnt;
        for (int k = pos; k < M.SharedCnt; ++k)
            M.Shared[k]->SharedPos = k;
        RebuildIndex();
        RemoveUnits(b);
    }
    b->SharedPos = -1;
}

// The block is linked when it heads the chain or has a predecessor.
bool IsLinked(const MemBlock *b) {
    return b == pMemB || b->pPrev != nullptr;
}

// ---- system memory ------------------------------------------------------------

long PageSize() {
    if (M.PageSize == 0) {
        long page = sysconf(_SC_PAGESIZE);
        M.PageSize = page > 0 ? page : 4096;
    }
    return M.PageSize;
}

// Bytes taken from the system for a request: whole pages plus one.
size_t MappedBytes(long size) {
    return ((size_t)size / PageSize() + 1) * PageSize();
}

void *MapSystem(long size, bool *fromHeap) {
    if (size < 0 || size > LONG_MAX / 2) return nullptr;
    if (MemId < 0) MemId = open("/dev/zero", O_RDWR | O_CLOEXEC);
    size_t bytes = MappedBytes(size);
    if (MemId >= 0) {
        void *m = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE, MemId, 0);
        *fromHeap = false;
        return m == MAP_FAILED ? nullptr : m;
    }
    *fromHeap = true;
    return calloc(1, bytes);
}

// Gives back what MapSystem returned; bytes is the mapping's length.
void UnmapSystem(void *p, size_t bytes, bool fromHeap) {
    if (!p) return;
    if (fromHeap)
        free(p);
    else
        munmap(p, bytes);
}

// ---- node runs -----------------------------------------------------------------

// Keeps the block's bound at least the free run of len nodes a release made.
void RaiseBound(MemBlock *b, int len) {
    if (len <= b->Longest) return;
    if (b->SharedPos >= 0)
        SetLeaf(b->SharedPos, len);
    else
        b->Longest = len;
}

// Marks nodes [s, s + len) used and makes their bytes zero, but for the first
// kept nodes, which the caller fills at once.
void TakeNodes(MemBlock *b, int s, int len, int kept = 0) {
    assert(s >= 0 && len > 0 && s + len <= MEM_NODES && RangeFree(b, s, len));
    memset(b->MAT + s, MEM_USED, len);
    MarkNodes(b, s, len, false);
    b->FreeNodeCount -= len;
    int dirtyEnd = std::min(s + len, b->HighWater), from = s + kept;
    if (dirtyEnd > from)
        memset(b->pMemory + (long)from * MEM_NODE_SIZE, 0,
               (size_t)(dirtyEnd - from) * MEM_NODE_SIZE);
    b->HighWater = std::max(b->HighWater, s + len);
}

// Marks nodes [s, s + len) free. Their bytes become zero when clear is set
// (a shrink), else debug builds fill them with a pattern.
void ReleaseNodes(MemBlock *b, int s, int len, bool clear) {
    assert(s >= 0 && len > 0 && s + len <= MEM_NODES && s + len <= b->HighWater);
#ifndef NDEBUG
    for (int k = s; k < s + len; ++k)
        assert(!BitFree(b->FreeBits, k));
#endif
    // The free runs either side, if any, join the released nodes into one.
    int runStart = PrevUsed(b->FreeBits, s - 1) + 1;
    int runEnd = UsedFrom(b, s + len);
    RaiseBound(b, runEnd - runStart);
    memset(b->MAT + s, MEM_FREE, len);
    MarkNodes(b, s, len, true);
    b->FreeNodeCount += len;
    if (clear) memset(b->pMemory + (long)s * MEM_NODE_SIZE, 0, (size_t)len * MEM_NODE_SIZE);
#ifndef NDEBUG
    else
        memset(b->pMemory + (long)s * MEM_NODE_SIZE, kFreedFill, (size_t)len * MEM_NODE_SIZE);
#endif
}

// Records the allocation of n nodes from node i in the directory (n 0: none).
void SetEntry(MemBlock *b, int i, int n) {
    uint64_t bit = 1ULL << (i & 63);
    if (n)
        b->StartBits[i >> 6] |= bit;
    else
        b->StartBits[i >> 6] &= ~bit;
    b->Nodes[i].NodeCnt = (uint16_t)n;
    b->Nodes[i].pAddr = n ? b->pMemory + (long)i * MEM_NODE_SIZE : nullptr;
}

// The entry of the allocation that starts exactly at p in shared block b, or -1.
int EntryOf(const MemBlock *b, const void *p) {
    long off = (const char *)p - b->pMemory;
    if (off % MEM_NODE_SIZE != 0) return -1;
    int i = (int)(off / MEM_NODE_SIZE);
    return StartsAt(b, i) ? i : -1;
}

// Makes bytes [from, to) of a block's data area zero. Whole pages of a mapped
// area are dropped instead of written: they read as zeros again, and pages
// the caller never touched are not faulted in just to be cleared.
void ClearData(MemBlock *b, long from, long to) {
    if (to <= from) return;
    long page = PageSize();
    long head = (from + page - 1) / page * page, tail = to / page * page;
    if (!b->flHeapData && tail - head >= 4 * page &&
        madvise(b->pMemory + head, (size_t)(tail - head), MADV_DONTNEED) == 0) {
        memset(b->pMemory + from, 0, (size_t)(head - from));
        memset(b->pMemory + tail, 0, (size_t)(to - tail));
        return;
    }
    memset(b->pMemory + from, 0, (size_t)(to - from));
}

// ---- the reserve of released blocks ---------------------------------------------

// Gives the record and the data area of an unlinked block back to the system.
void ReleaseToSystem(MemBlock *b) {
    bool heapRecord = b->flHeapRecord;
    UnmapSystem(b->pMemory, b->DataBytes, b->flHeapData);
    char *record = (char *)b;
    if (!heapRecord) record -= (uintptr_t)record % (uintptr_t)PageSize(); // the mapping's start
    UnmapSystem(record, MappedBytes(sizeof(MemBlock)), heapRecord);
}

void DropKeptDedicated(int k) {
    assert(k >= 0 && k < M.KeptDedicatedCnt);
    MemBlock *b = M.KeptDedicated[k];
    M.KeptDedicatedBytes -= (long)b->DataBytes;
    memmove(M.KeptDedicated + k, M.KeptDedicated + k + 1,
            (M.KeptDedicatedCnt - k - 1) * sizeof *M.KeptDedicated);
    --M.KeptDedicatedCnt;
}

// Gives the pages of the first bytes of a mapped data area back to the
// system; a later touch maps a zero page. The rest of the last page is zero
// already. False when the system refused.
bool DropPages(MemBlock *b, long bytes) {
    long page = PageSize(), whole = (bytes + page - 1) / page * page;
    return whole == 0 || madvise(b->pMemory, (size_t)whole, MADV_DONTNEED) == 0;
}

// Hands the pages an emptied shared block has used to the system as lazily
// free: its data area below HighWater, and the record's directory, all zero
// now. False when the system refused (the block then goes back whole).
bool LendPages(MemBlock *b) {
    long page = PageSize();
    long used = ((long)b->HighWater * MEM_NODE_SIZE + page - 1) / page * page;
    if (used > 0 && madvise(b->pMemory, (size_t)used, MADV_FREE) != 0) return false;
    uintptr_t from = (uintptr_t)b->Nodes, to = (uintptr_t)(b->Nodes + MEM_NODES);
    from = (from + (uintptr_t)page - 1) / (uintptr_t)page * (uintptr_t)page;
    to = to / (uintptr_t)page * (uintptr_t)page;
    if (to > from) madvise((void *)from, to - from, MADV_FREE); // a refusal costs nothing
    return true;
}

// Takes an unlinked block into the reserve when it is in the state a fresh
// block of its kind starts from; false when it must go back to the system.
bool Keep(MemBlock *b) {
    if (b->flHeapRecord || b->flHeapData) return false;
    if (!IsDedicated(b)) {
        // All nodes free means no entries and one free run of 2,048: the record is
        // a fresh one's but for HighWater, below which allocations clear their
        // nodes anyway. The pages stay: see the top of this file.
        if (b->FreeNodeCount != MEM_NODES || M.KeptSharedCnt == kKeepShared) return false;
        if (M.KeptSharedCnt >= kKeepSharedResident && !LendPages(b)) return false;
        M.KeptShared[M.KeptSharedCnt++] = b;
        return true;
    }
    // A dedicated record never changes but for Size and DedicatedSize; a large
    // block that GetNewBlock made has a record of the shared kind and goes back.
    if (b->DedicatedSize <= 0 || b->FreeNodeCount != 0 ||
        (long)b->DataBytes > kKeepDedicatedBytes / 2)
        return false;
    // Only the bytes handed out can be non-zero.
    if (!DropPages(b, b->DedicatedSize)) ClearData(b, 0, b->DedicatedSize);
    while (M.KeptDedicatedCnt == kKeepDedicated ||
           M.KeptDedicatedBytes + (long)b->DataBytes > kKeepDedicatedBytes) {
        MemBlock *oldest = M.KeptDedicated[0];
        DropKeptDedicated(0);
        ReleaseToSystem(oldest);
    }
    M.KeptDedicated[M.KeptDedicatedCnt++] = b;
    M.KeptDedicatedBytes += (long)b->DataBytes;
    return true;
}

// A kept block for a new block of the data size (a shared one when inUse is
// 0), in the state NewBlock gives a fresh one; null when none fits. Dedicated
// areas: the smallest one that holds the size.
MemBlock *TakeKept(long size, long inUse) {
    if (inUse == 0)
        return size == MEM_BLOCK_SIZE && M.KeptSharedCnt > 0 ? M.KeptShared[--M.KeptSharedCnt]
                                                             : nullptr;
    size_t need = MappedBytes(size);
    int best = -1;
    for (int k = 0; k < M.KeptDedicatedCnt; ++k) {
        uint64_t bytes = M.KeptDedicated[k]->DataBytes;
        if (bytes >= need && (best < 0 || bytes < M.KeptDedicated[best]->DataBytes)) best = k;
    }
    if (best < 0) return nullptr;
    MemBlock *b = M.KeptDedicated[best];
    DropKeptDedicated(best);
    b->Size = (int32_t)size;
    b->DedicatedSize = (int32_t)inUse;
    return b;
}

// Takes a block whose last allocation was released off the chain: into the
// reserve when it fits there, else back to the system.
void RetireBlock(MemBlock *b) {
    PopBlock(b);
    if (!Keep(b)) ReleaseToSystem(b);
}

// Gives every kept block back to the system; false when none was kept.
bool ReleaseKept() {
    bool any = M.KeptSharedCnt > 0 || M.KeptDedicatedCnt > 0;
    while (M.KeptSharedCnt > 0)
        ReleaseToSystem(M.KeptShared[--M.KeptSharedCnt]);
    while (M.KeptDedicatedCnt > 0) {
        MemBlock *b = M.KeptDedicated[M.KeptDedicatedCnt - 1];
        DropKeptDedicated(M.KeptDedicatedCnt - 1);
        ReleaseToSystem(b);
    }
    return any;
}

// Makes a block with a data area of size bytes (raised to 65,536) and appends
// it to the chain: all nodes free, or, for a dedicated block (inUse > 0), all
// used with inUse bytes handed out. Null after the memory error.
MemBlock *NewBlock(long size, long inUse) {
    if (size < MEM_BLOCK_SIZE) size = MEM_BLOCK_SIZE;
    if (size > kMaxRounded || !ReserveIndex()) {
        ReportOutOfMem();
        return nullptr;
    }
    if (MemBlock *kept = TakeKept(size, inUse)) {
        PushBlock(kept);
        CHECK_BLOCK(kept);
        return kept;
    }
    bool heapRecord = false, heapData = false;
    char *record = nullptr, *data = nullptr;
    // The kept blocks hold address space: when the system has none left for a
    // new block, they go back and the mapping is tried once more.
    do {
        record = (char *)MapSystem(sizeof(MemBlock), &heapRecord);
        data = (char *)MapSystem(size, &heapData);
        if (record && data) break;
        UnmapSystem(record, MappedBytes(sizeof(MemBlock)), heapRecord);
        UnmapSystem(data, MappedBytes(size), heapData);
        record = data = nullptr;
    } while (ReleaseKept());
    if (!record || !data) {
        ReportOutOfMem();
        return nullptr;
    }
    // Both mappings are zero-filled: the record is already clear, and so is the
    // data a dedicated block hands out. Records sit at a different cache-line
    // offset in the spare end of their mapping: at the same offset, the search's
    // bitmaps of every block would fall into the same few cache sets and evict
    // each other. The offset stays below a page, so FreeBlock finds the start of
    // the mapping by rounding down.
    MemBlock *b = (MemBlock *)record;
    if (!heapRecord) {
        size_t colours = (MappedBytes(sizeof(MemBlock)) - sizeof(MemBlock)) / 64 + 1;
        colours = std::min(colours, (size_t)PageSize() / 64);
        b = (MemBlock *)(record + M.Colour++ % colours * 64);
    }
    b->MAT[MEM_NODES] = 0;
    b->Size = (int32_t)size;
    b->pMemory = data;
    b->DataBytes = heapData ? 0 : MappedBytes(size);
    b->SharedPos = -1;
    b->flHeapRecord = heapRecord;
    b->flHeapData = heapData;
    if (inUse > 0) {
        // FreeBits and Longest stay zero: nothing is free.
        memset(b->MAT, MEM_USED, MEM_NODES);
        b->HighWater = MEM_NODES;
        b->DedicatedSize = (int32_t)inUse;
    } else {
        memset(b->MAT, MEM_FREE, MEM_NODES);
        memset(b->FreeBits, 0xFF, sizeof b->FreeBits);
        memset(b->WordLongest, 64, sizeof b->WordLongest);
        memset(b->WordTop, 64, sizeof b->WordTop);
        memset(b->WordBottom, 64, kWords); // the entries behind stay 0
        b->Longest = MEM_NODES;
        b->FreeNodeCount = MEM_NODES;
    }
    PushBlock(b);
    CHECK_BLOCK(b);
    return b;
}

void *AllocDedicated(long rounded) {
    MemBlock *b =
        NewBlock((rounded + MEM_BLOCK_SIZE - 1) / MEM_BLOCK_SIZE * MEM_BLOCK_SIZE, rounded);
    return b ? b->pMemory : nullptr;
}

// First fit of a rounded size (a multiple of 32) among the shared blocks. The
// first kept bytes (a multiple of 32) are left for the caller to fill.
void *AllocRounded(long rounded, long kept = 0) {
    assert(rounded > 0 && rounded % MEM_NODE_SIZE == 0 && rounded <= kMaxRounded);
    if (rounded > MEM_BLOCK_SIZE) return AllocDedicated(rounded);
    int n = (int)(rounded / MEM_NODE_SIZE);
    MemBlock *b;
    int at;
    for (;;) {
        int k = FirstBlockFor(n);
        if (k == M.SharedCnt) {
            b = NewBlock(MEM_BLOCK_SIZE, 0);
            if (!b) return nullptr;
            at = FindRun(b, n);
            break;
        }
        b = M.Shared[k];
        at = FindRun(b, n);
        if (at >= 0) break;
        SetLeaf(k, LongestRun(b)); // the bound said too much
    }
    assert(at >= 0);
    if (at < 0) return nullptr;
    TakeNodes(b, at, n, (int)(kept / MEM_NODE_SIZE));
    SetEntry(b, at, n);
    CHECK_BLOCK(b);
    return b->pMemory + (long)at * MEM_NODE_SIZE;
}

// Copies the allocation into a new one of the rounded size and releases it.
// The bytes copied are not cleared first.
void *Relocate(void *p, long oldBytes, long rounded) {
    long copied = std::min(oldBytes, rounded);
    char *q = (char *)AllocRounded(rounded, copied);
    if (!q) return nullptr;
    memcpy(q, p, (size_t)copied);
    PutMem(p);
    return q;
}

void *AdjustDedicated(MemBlock *b, void *p, long size, long rounded) {
    if (b->Size < rounded) return Relocate(p, b->DedicatedSize, rounded);
    // The bytes from DedicatedSize to Size are always zero, so a grow in place
    // finds its new bytes clear; a shrink clears everything behind the new
    // size + 1 to keep it so.
    if (rounded < b->DedicatedSize) ClearData(b, size + 1, b->DedicatedSize);
    b->DedicatedSize = (int32_t)rounded;
    CHECK_BLOCK(b);
    return p;
}

void *AdjustShared(MemBlock *b, int i, long size, long rounded) {
    char *p = b->pMemory + (long)i * MEM_NODE_SIZE;
    int a = AllocLen(b, i);
    if (rounded > MEM_BLOCK_SIZE) return Relocate(p, (long)a * MEM_NODE_SIZE, rounded);
    int n = (int)(rounded / MEM_NODE_SIZE);
    if (n <= a) {
        // The bytes behind the new size + 1 in the nodes it keeps are cleared as
        // well: they held the old contents, and a later grow must read zeros there.
        if (n < a) ReleaseNodes(b, i + n, a - n, true);
        memset(p + size + 1, 0, (size_t)(rounded - size - 1));
        SetEntry(b, i, n);
        CHECK_BLOCK(b);
        return p;
    }
    int d = n - a;
    if (i + n <= MEM_NODES && RangeFree(b, i + a, d)) {
        TakeNodes(b, i + a, d);
        SetEntry(b, i, n);
        CHECK_BLOCK(b);
        return p;
    }
    // Downwards only when the free nodes before it exist: near node 0 it relocates.
    if (i >= d && RangeFree(b, i - d, d)) {
        int s = i - d;
        char *q = b->pMemory + (long)s * MEM_NODE_SIZE;
        TakeNodes(b, s, d);
        memmove(q, p, (size_t)a * MEM_NODE_SIZE);
        memset(q + (long)a * MEM_NODE_SIZE, 0, (size_t)d * MEM_NODE_SIZE);
        SetEntry(b, s, n);
        SetEntry(b, i, 0);
        CHECK_BLOCK(b);
        return q;
    }
    return Relocate(p, (long)a * MEM_NODE_SIZE, rounded);
}

void DumpShared(const MemBlock *b) {
    int blanks = 0;
    long counted = 0;
    for (int i = 0; i < MEM_NODES; ++i) {
        blanks += b->MAT[i] == MEM_FREE;
        counted += b->Nodes[i].NodeCnt;
    }
    printf("\n============ Block(%li) size(%li) Free(%i) Used(%i) FreeNodeCount(%i) SizeCnt(%i) "
           "<==(%li) (%li)==>\n\tBlock MAT:",
           (long)(intptr_t)b, (long)b->Size, blanks, MEM_NODES - blanks, (int)b->FreeNodeCount,
           (int)(MEM_NODES - counted), (long)(intptr_t)b->pPrev, (long)(intptr_t)b->pNext);
    char row[64 + 3];
    for (int r = 0; r < MEM_NODES / 64; ++r) {
        row[0] = '\n';
        row[1] = '\t';
        for (int c = 0; c < 64; ++c)
            row[2 + c] = b->MAT[r * 64 + c] == MEM_FREE ? '_' : 'U';
        row[66] = 0;
        fputs(row, stdout);
    }
    fputs("\n\n\tAllocated Nodes:\n", stdout);
    for (int i = 0; i < MEM_NODES; ++i) {
        const MemNode &e = b->Nodes[i];
        if (e.NodeCnt == 0 || !e.pAddr) continue;
        int bytes = e.NodeCnt * MEM_NODE_SIZE;
        // Bounded by the allocation: a text that fills it has no terminator inside.
        printf("\tMAT index(%6i) Memory Addr(%6li) nodes(%5i) size(%5i) Memory(%.*s)\n", i,
               (long)(intptr_t)e.pAddr, (int)e.NodeCnt, bytes, bytes, e.pAddr);
    }
    fputs("\n", stdout);
}

} // namespace

void *MapBlock(long size) {
    bool fromHeap;
    return MapSystem(size, &fromHeap);
}

MemBlock *GetNewBlock(long size) {
    return NewBlock(size, 0);
}

void PushBlock(MemBlock *pBlock) {
    if (!pBlock) return;
    if (IsLinked(pBlock)) PopBlock(pBlock);
    if (!ReserveIndex()) {
        ReportOutOfMem();
        return;
    }
    pBlock->pNext = nullptr;
    pBlock->pPrev = M.pTail;
    if (M.pTail)
        M.pTail->pNext = pBlock;
    else
        pMemB = pBlock;
    M.pTail = pBlock;
    Register(pBlock);
}

MemBlock *PopBlock(MemBlock *pBlock) {
    if (!pBlock) return nullptr;
    if (!IsLinked(pBlock)) return pBlock;
    MemBlock *result = pBlock;
    if (pBlock == pMemB) {
        pMemB = pBlock->pNext;
        if (pMemB) pMemB->pPrev = nullptr;
        result = pMemB;
    } else {
        pBlock->pPrev->pNext = pBlock->pNext;
        if (pBlock->pNext) pBlock->pNext->pPrev = pBlock->pPrev;
    }
    if (M.pTail == pBlock) M.pTail = pBlock->pPrev;
    pBlock->pNext = pBlock->pPrev = nullptr;
    Deregister(pBlock);
    return result;
}

void FreeBlock(MemBlock *pBlock) {
    if (!pBlock) return;
    PopBlock(pBlock);
    ReleaseToSystem(pBlock);
}

MemKeptCounts MemInternalKeptCounts(void) {
    return MemKeptCounts{M.KeptSharedCnt, M.KeptDedicatedCnt, M.KeptDedicatedBytes};
}

void MemInternalReleaseKept(void) {
    ReleaseKept();
}

MemBlock *FindBlock(const void *p) {
    if (!p) return nullptr;
    const char *c = (const char *)p;
    if (MemBlock *b = SharedBlockOf(c)) return b;
    int at = UpperBound(c) - 1;
    if (at < 0) return nullptr;
    MemBlock *b = M.ByAddr[at];
    // The end of the data area belongs to no block.
    return c < b->pMemory + b->Size ? b : nullptr;
}

int TestMAT(const char *pos, char mark, int count) {
    if (!pos || count < 0) return 0;
    for (int k = 0; k < count; ++k)
        if (pos[k] != mark) return 0;
    return 1;
}

void *GetMem(long size) {
    if (size <= 0) return nullptr;
    long rounded;
    if (!RoundSize(size, &rounded)) {
        ReportOutOfMem();
        return nullptr;
    }
    return AllocRounded(rounded);
}

void *MemInternalGetCopy(long size, const void *src, long n) {
    long rounded;
    if (size <= 0) return nullptr;
    if (!RoundSize(size, &rounded)) {
        ReportOutOfMem();
        return nullptr;
    }
    assert(n >= 0 && n <= rounded);
    void *p = AllocRounded(rounded, n / MEM_NODE_SIZE * MEM_NODE_SIZE);
    if (p) memcpy(p, src, (size_t)n);
    return p;
}

void PutMem(void *p) {
    MemBlock *b = FindBlock(p);
    if (!b) return;
    if (IsDedicated(b)) {
        if (p == b->pMemory) RetireBlock(b);
        return;
    }
    int i = EntryOf(b, p);
    if (i < 0) return;
    ReleaseNodes(b, i, AllocLen(b, i), false);
    SetEntry(b, i, 0);
    if (b->FreeNodeCount == MEM_NODES)
        RetireBlock(b);
    else
        CHECK_BLOCK(b);
}

void *AdjustMem(void *p, long size) {
    if (size <= 0) {
        PutMem(p);
        return nullptr;
    }
    MemBlock *b = FindBlock(p);
    if (!b) return GetMem(size);
    long rounded;
    if (!RoundSize(size, &rounded)) {
        ReportOutOfMem();
        return nullptr;
    }
    if (IsDedicated(b)) return p == b->pMemory ? AdjustDedicated(b, p, size, rounded) : nullptr;
    int i = EntryOf(b, p);
    return i < 0 ? nullptr : AdjustShared(b, i, size, rounded);
}

void DumpMem(void) {
    for (const MemBlock *b = pMemB; b; b = b->pNext) {
        if (IsDedicated(b))
            printf(
                "\n============ Dedicated Block(%li) size(%li) FreeNodeCount(%i) <==(%li) (%li)==>",
                (long)(intptr_t)b->pMemory, (long)b->Size, (int)b->FreeNodeCount,
                (long)(intptr_t)b->pPrev, (long)(intptr_t)b->pNext);
        else
            DumpShared(b);
    }
    fflush(stdout);
}
