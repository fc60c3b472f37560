// Block memory manager: every dynamic allocation of the system comes from here.
//
// Lifecycle: there is nothing to initialise. The first GetMem creates the first
// shared block; blocks are taken from the system in whole pages on demand,
// appended at the tail of the chain pMemB, and given back as soon as their last
// allocation is released, so the chain can become empty again. The descriptor
// of the zero device (MemId) stays open until the process ends. There is no
// global teardown: memory still held at exit goes back with the process.
//
// Use: GetMem hands out zero-filled memory of at least size + 1 bytes (the size
// is rounded up to whole 32-byte nodes after adding one spare byte), AdjustMem
// resizes it (the new bytes read as zeros, the old contents are kept up to the
// smaller size, the allocation may move), PutMem releases it. Requests whose
// rounded size is over 65,536 bytes get a dedicated block of their own. The
// allocation a pointer refers to is found by its start address only: a pointer
// into the middle of an allocation is never mistaken for the allocation.
//
// Addresses are observable and stable: within the shared blocks GetMem is first
// fit (earliest block in the chain, lowest node index).
//
// Single-threaded: the chain and the block records are unprotected global state.
#pragma once

#include <cstdint>

inline constexpr int MEM_NODE_SIZE = 32;     // unit of allocation in a shared block
inline constexpr int MEM_NODES = 2048;       // nodes per shared block
inline constexpr int MEM_BLOCK_SIZE = 65536; // data size of a shared block, minimum of any block
inline constexpr char MEM_FREE = ' ';        // MAT mark of a free node
inline constexpr char MEM_USED = 'U';        // MAT mark of a used node

// One entry of a block's allocation directory: entry i describes the
// allocation that starts at node i.
struct MemNode {
    uint16_t NodeCnt; // nodes of the allocation starting here, 0 when none starts here
    char *pAddr;      // pMemory + 32 * i while an allocation starts here, else null
};

// One block. The record lives in its own mapping, apart from the data area.
struct MemBlock {
    MemBlock *pNext;       // next block in the chain, null at the tail
    MemBlock *pPrev;       // previous block, null at the head
    int32_t Size;          // data area in bytes: 65,536 shared, a larger multiple of it dedicated
    int32_t DedicatedSize; // dedicated block: rounded size in use; 0 in a shared block
    int32_t FreeNodeCount; // blanks in MAT; 0 in a dedicated block
    char *pMemory;         // start of the data area
    MemNode Nodes[MEM_NODES]; // allocation directory
    char MAT[MEM_NODES + 1];  // occupancy map, ' ' free, 'U' used, 0-terminated

    // Bookkeeping of the manager (kept exact alongside MAT; not for callers).
    // Everything a change reads or writes sits together behind MAT.
    uint64_t FreeBits[MEM_NODES / 64];       // bit i set exactly when MAT[i] is ' '
    uint64_t StartBits[MEM_NODES / 64];      // bit i set exactly when Nodes[i].NodeCnt is not 0
    uint8_t WordLongest[MEM_NODES / 64];     // per FreeBits word: longest free run inside it
    uint8_t WordTop[MEM_NODES / 64];         // per FreeBits word: free nodes at its high end
    uint8_t WordBottom[MEM_NODES / 64 + 16]; // per FreeBits word: free nodes at its low end;
                                             // the entries past the last word stay 0
    int32_t Longest;    // no free run is longer (it may be shorter); the search index's leaf
    int32_t HighWater;  // nodes at and above this index were never handed out (still zero)
    int32_t SharedPos;  // position in the manager's search index, -1 when not indexed
    uint64_t DataBytes; // bytes mapped for the data area (at least Size); 0 from the heap
    unsigned char flHeapRecord; // record came from the C heap, not from a mapping
    unsigned char flHeapData;   // data area came from the C heap, not from a mapping
};

extern MemBlock *pMemB;       // head of the block chain, null before the first allocation
extern int MemId;             // descriptor of "/dev/zero", -1 until it is opened
extern const char OutOfMem[]; // "Unable to allocate memory"

// Returns zero-filled memory of at least size + 1 bytes. Returns null for a
// size of 0 or below, and when no memory can be had (after printing
// "ERROR: Unable to allocate memory\n" on the error stream). Never exits.
void *GetMem(long size);

// Releases the allocation that starts at p. A null pointer, a pointer the
// manager does not know or one that is not the start of an allocation changes
// nothing. A block left without allocations is given back to the system.
void PutMem(void *p);

// Resizes the allocation that starts at p to hold size + 1 bytes; returns the
// (possibly moved) allocation with the old contents up to the smaller size and
// zeros in every added byte. Size 0 (or below) releases p and returns null. A null
// or unknown p behaves as GetMem(size). A p inside a block that is not the start
// of an allocation returns null and changes nothing. On exhaustion returns null
// and leaves p allocated and unchanged.
void *AdjustMem(void *p, long size);

// Prints every block of the chain, head first, on the standard output.
void DumpMem(void);

// Creates a block with a data area of size bytes (raised to 65,536), all nodes
// free, and appends it to the chain. Returns null after printing
// "ERROR: Unable to allocate memory\n" on the error stream when it cannot.
MemBlock *GetNewBlock(long size);

// Returns size bytes (rounded up to whole pages, plus one page) of zero-filled
// memory mapped from "/dev/zero", or from the C heap when the device cannot be
// opened; null when neither gives memory. Nothing else changes.
void *MapBlock(long size);

// Returns the block whose data area holds p (from pMemory up to, not including,
// pMemory + Size), or null.
MemBlock *FindBlock(const void *p);

// Unlinks the block from the chain and gives its record and data area back to
// the system. A null block does nothing.
void FreeBlock(MemBlock *pBlock);

// Appends the block at the tail of the chain (it becomes pMemB when the chain
// is empty). A null block does nothing.
void PushBlock(MemBlock *pBlock);

// Unlinks the block from the chain. Returns the new head when the head was
// removed, else the block itself; null for a null block.
MemBlock *PopBlock(MemBlock *pBlock);

// Internal to the manager and the string store: as GetMem(size), but the first
// n bytes (n at most size + 1) are copied from src instead of being cleared
// and then overwritten by the caller.
void *MemInternalGetCopy(long size, const void *src, long n);

// Internal to the manager and its tests: the released blocks it keeps off the
// chain for reuse instead of unmapping them at once.
struct MemKeptCounts {
    int Shared;          // emptied shared blocks kept
    int Dedicated;       // released dedicated blocks kept
    long DedicatedBytes; // bytes mapped for the kept dedicated data areas
};
MemKeptCounts MemInternalKeptCounts(void);
// Gives every kept block back to the system. The chain does not change.
void MemInternalReleaseKept(void);

// Returns 1 when the count characters from pos all equal mark (a count of 0
// gives 1), else 0; 0 for a null pos or a negative count.
int TestMAT(const char *pos, char mark, int count);
