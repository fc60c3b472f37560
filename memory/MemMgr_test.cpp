#include "MemMgr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

// Every test starts and ends with an empty chain: leftovers of a failed test
// are given back block by block.
class Mem : public ::testing::Test {
  protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        while (pMemB)
            FreeBlock(pMemB);
    }
};

int BlockCount() {
    int n = 0;
    for (MemBlock *b = pMemB; b; b = b->pNext)
        ++n;
    return n;
}

// Node index of an allocation in its shared block.
int NodeIndex(const void *p) {
    MemBlock *b = FindBlock(p);
    return b ? (int)(((const char *)p - b->pMemory) / MEM_NODE_SIZE) : -1;
}

int NodeCount(const void *p) {
    MemBlock *b = FindBlock(p);
    return b ? b->Nodes[NodeIndex(p)].NodeCnt : -1;
}

bool AllZero(const void *p, long n) {
    const unsigned char *c = (const unsigned char *)p;
    for (long k = 0; k < n; ++k)
        if (c[k] != 0) return false;
    return true;
}

// Checks the invariants of the data model on every block of the chain and
// returns the number of allocations found in it.
int CheckChain() {
    int allocations = 0;
    const MemBlock *prev = nullptr;
    for (const MemBlock *b = pMemB; b; prev = b, b = b->pNext) {
        EXPECT_EQ(b->pPrev, prev);
        EXPECT_EQ(b->MAT[MEM_NODES], 0);
        if (b->Size > MEM_BLOCK_SIZE) {
            EXPECT_EQ(b->Size % MEM_BLOCK_SIZE, 0);
            EXPECT_EQ(b->FreeNodeCount, 0);
            EXPECT_EQ(std::string_view(b->MAT, MEM_NODES), std::string(MEM_NODES, 'U'));
            EXPECT_GT(b->DedicatedSize, 0);
            EXPECT_LE(b->DedicatedSize, b->Size);
            ++allocations;
            continue;
        }
        EXPECT_EQ(b->Size, MEM_BLOCK_SIZE);
        EXPECT_EQ(b->DedicatedSize, 0);
        std::string expected(MEM_NODES, ' ');
        int inBlock = 0;
        for (int i = 0; i < MEM_NODES; ++i) {
            const MemNode &e = b->Nodes[i];
            if (e.NodeCnt == 0) {
                EXPECT_EQ(e.pAddr, nullptr) << "entry " << i;
                continue;
            }
            ++inBlock;
            EXPECT_EQ(e.pAddr, b->pMemory + i * MEM_NODE_SIZE) << "entry " << i;
            EXPECT_LE(i + e.NodeCnt, MEM_NODES);
            for (int k = i; k < i + e.NodeCnt && k < MEM_NODES; ++k) {
                EXPECT_EQ(expected[k], ' ') << "node " << k << " covered twice";
                expected[k] = 'U';
            }
        }
        EXPECT_EQ(std::string_view(b->MAT, MEM_NODES), expected);
        EXPECT_EQ(b->FreeNodeCount, (int)std::count(expected.begin(), expected.end(), ' '));
        EXPECT_GT(inBlock, 0) << "an empty shared block stayed in the chain";
        allocations += inBlock;
    }
    return allocations;
}

// First fit as the data model defines it: the earliest shared block with n
// consecutive blanks in its MAT and the lowest such index; null block when a
// new block must be made.
std::pair<const MemBlock *, int> ExpectedFirstFit(int n) {
    std::string probe(n, ' ');
    for (const MemBlock *b = pMemB; b; b = b->pNext) {
        if (b->Size != MEM_BLOCK_SIZE || b->FreeNodeCount < n) continue;
        size_t at = std::string_view(b->MAT, MEM_NODES).find(probe);
        if (at != std::string_view::npos) return {b, (int)at};
    }
    return {nullptr, 0};
}

// ---- sizes and rounding ------------------------------------------------------

TEST_F(Mem, RoundsEveryRequestUpToWholeNodesWithOneSpareByte) {
    struct {
        long size;
        int nodes;
    } table[] = {{1, 1},   {30, 1},     {31, 1},     {32, 2},       {63, 2},      {64, 3},
                 {100, 4}, {4095, 128}, {4096, 129}, {65503, 2047}, {65535, 2048}};
    for (auto &t : table) {
        void *p = GetMem(t.size);
        ASSERT_NE(p, nullptr) << t.size;
        EXPECT_EQ(NodeCount(p), t.nodes) << t.size;
        EXPECT_EQ(pMemB->FreeNodeCount, MEM_NODES - t.nodes) << t.size;
        PutMem(p);
        EXPECT_EQ(pMemB, nullptr) << t.size;
    }
}

TEST_F(Mem, LargeRequestsGetADedicatedBlockInWholeMultiplesOf64KiB) {
    struct {
        long size;
        int dataSize;
        int inUse;
    } table[] = {{65536, 131072, 65568},
                 {100000, 131072, 100032},
                 {131071, 131072, 131072},
                 {131072, 196608, 131104},
                 {1000000, 1048576, 1000032}};
    for (auto &t : table) {
        char *p = (char *)GetMem(t.size);
        ASSERT_NE(p, nullptr) << t.size;
        MemBlock *b = FindBlock(p);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->pMemory, p);
        EXPECT_EQ(b->Size, t.dataSize) << t.size;
        EXPECT_EQ(b->DedicatedSize, t.inUse) << t.size;
        EXPECT_EQ(b->FreeNodeCount, 0);
        EXPECT_EQ(std::string_view(b->MAT), std::string(MEM_NODES, 'U'));
        EXPECT_TRUE(AllZero(p, t.inUse));
        p[t.size] = 1; // the spare byte is ours too
        EXPECT_EQ(FindBlock(p + t.dataSize - 1), b);
        PutMem(p);
        EXPECT_EQ(pMemB, nullptr);
    }
}

TEST_F(Mem, ZeroAndNegativeSizesGiveNullAndTakeNothing) {
    for (long size : {0L, -1L, -65536L, LONG_MIN}) {
        EXPECT_EQ(GetMem(size), nullptr) << size;
        EXPECT_EQ(pMemB, nullptr) << size;
    }
}

TEST_F(Mem, SizesBeyondWhatABlockCanRecordFailWithTheMessage) {
    for (long size : {LONG_MAX, (long)INT32_MAX, 3L << 30}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(GetMem(size), nullptr) << size;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: Unable to allocate memory\n");
        EXPECT_EQ(pMemB, nullptr);
    }
}

// ---- first fit and release ---------------------------------------------------

TEST_F(Mem, GetMemIsFirstFitAndReusesTheLowestFreeNode) {
    char *a = (char *)GetMem(10);
    char *b = (char *)GetMem(10);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b - a, 32);
    EXPECT_EQ(FindBlock(a), FindBlock(b));
    PutMem(a);
    EXPECT_EQ(GetMem(10), a);
    // A run of three is found behind b, not in the one-node hole before it.
    PutMem(a);
    char *c = (char *)GetMem(70);
    EXPECT_EQ(c, b + 32);
    EXPECT_EQ(GetMem(1), a);
}

// First fit across many shared blocks: 300 full blocks, and holes of
// different lengths opened in some of them. Each request must land in the
// earliest block whose hole holds it, wherever that block sits in the pool.
TEST_F(Mem, FirstFitHoldsAcrossHundredsOfBlocks) {
    MemInternalReleaseKept();
    constexpr int kBlocks = 300;
    struct Hole {
        int block, node, len;
    } const holes[] = {{290, 5, 40}, {200, 0, 3}, {70, 100, 2}, {64, 7, 1}, {63, 2047, 1}};
    // Blocks fill in order, in chunks of 32 nodes; a chunk that holds a hole
    // is taken node by node, so that the hole can be freed.
    auto holds = [&](int block, int chunk) {
        for (const Hole &h : holes)
            if (h.block == block && h.node / 32 <= chunk && chunk <= (h.node + h.len - 1) / 32)
                return true;
        return false;
    };
    std::vector<char *> data;
    int live = 0;
    for (int b = 0; b < kBlocks; ++b)
        for (int chunk = 0; chunk < MEM_NODES / 32; ++chunk) {
            int pieces = holds(b, chunk) ? 32 : 1;
            for (int k = 0; k < pieces; ++k, ++live) {
                char *p = (char *)GetMem(32 * 32 / pieces - 1);
                if (chunk == 0 && k == 0) data.push_back(p);
            }
        }
    ASSERT_EQ(BlockCount(), kBlocks);
    auto node = [&](int block, int i) { return data[block] + (long)i * MEM_NODE_SIZE; };
    for (const Hole &h : holes)
        for (int k = 0; k < h.len; ++k, --live)
            PutMem(node(h.block, h.node + k));
    struct {
        long size;       // bytes asked
        int block, node; // where the allocation must start
    } const rows[] = {
        {31, 63, 2047},        // one node: the earliest hole of all
        {31, 64, 7},           // then the next block's
        {63, 70, 100},         // two nodes: block 64 has no run of two left
        {95, 200, 0},          // three
        {32 * 40 - 1, 290, 5}, // forty: only the last hole holds it
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.size);
        EXPECT_EQ(GetMem(r.size), node(r.block, r.node));
        ++live;
    }
    // Every hole is used up: the next request opens a new block.
    char *fresh = (char *)GetMem(31);
    ++live;
    EXPECT_EQ(FindBlock(fresh)->pPrev, FindBlock(node(kBlocks - 1, 0)));
    EXPECT_EQ(CheckChain(), live);
}

// Blocks leave the pool in an order unlike the one they came in: every
// pointer into a block still there keeps finding it, and none into a block
// that left finds anything.
TEST_F(Mem, BlocksAreFoundAfterOthersLeftInAnyOrder) {
    MemInternalReleaseKept();
    std::vector<char *> whole; // one allocation filling each block
    for (int k = 0; k < 200; ++k)
        whole.push_back((char *)GetMem(MEM_BLOCK_SIZE - 1));
    std::vector<bool> gone(whole.size());
    for (size_t k = 0; k < whole.size(); k += 3)
        gone[k] = true;
    for (size_t k = whole.size(); k-- > 0;)
        if (k % 2 == 1) gone[k] = true;
    for (size_t k = 0; k < whole.size(); ++k)
        if (gone[k]) PutMem(whole[k]);
    for (size_t k = 0; k < whole.size(); ++k) {
        SCOPED_TRACE(k);
        for (long off : {0L, 100L, (long)MEM_BLOCK_SIZE - 1}) {
            MemBlock *b = FindBlock(whole[k] + off);
            if (gone[k])
                EXPECT_EQ(b, nullptr);
            else
                EXPECT_TRUE(b && b->pMemory == whole[k]);
        }
    }
    EXPECT_EQ(CheckChain(), (int)std::count(gone.begin(), gone.end(), false));
}

TEST_F(Mem, ReturnedMemoryIsZeroEvenWhenReused) {
    std::vector<char *> ps;
    for (int k = 0; k < 50; ++k) {
        char *p = (char *)GetMem(k * 37 + 1);
        ASSERT_TRUE(AllZero(p, k * 37 + 2));
        memset(p, 0xA5, k * 37 + 2);
        ps.push_back(p);
    }
    GetMem(1); // keeps the block alive while everything else goes
    for (char *p : ps)
        PutMem(p);
    for (int k = 49; k >= 0; --k) {
        char *p = (char *)GetMem(k * 37 + 1);
        EXPECT_TRUE(AllZero(p, NodeCount(p) * MEM_NODE_SIZE)) << k;
    }
}

TEST_F(Mem, PutMemOfAPointerThatStartsNoAllocationChangesNothing) {
    char *p = (char *)GetMem(100);
    char *q = (char *)GetMem(10);
    memcpy(p, "kept", 5);
    std::string mat(pMemB->MAT);
    int local = 0;
    for (void *bad : {(void *)nullptr, (void *)(p + 8), (void *)(p + 32), (void *)(p + 1),
                      (void *)&local, (void *)(q + 31)}) {
        PutMem(bad);
        EXPECT_EQ(std::string(pMemB->MAT), mat);
        EXPECT_EQ(NodeCount(p), 4);
        EXPECT_STREQ(p, "kept");
    }
}

TEST_F(Mem, ReleasingTheLastAllocationOfABlockRemovesTheBlock) {
    std::vector<void *> first;
    for (int k = 0; k < MEM_NODES; ++k)
        first.push_back(GetMem(1));
    EXPECT_EQ(BlockCount(), 1);
    EXPECT_EQ(pMemB->FreeNodeCount, 0);
    void *next = GetMem(1);
    ASSERT_EQ(BlockCount(), 2);
    MemBlock *second = pMemB->pNext;
    EXPECT_EQ(FindBlock(next), second);
    EXPECT_EQ(second->pPrev, pMemB);
    EXPECT_EQ(NodeIndex(next), 0);
    for (void *p : first)
        PutMem(p);
    EXPECT_EQ(pMemB, second);
    EXPECT_EQ(second->pPrev, nullptr);
    testing::internal::CaptureStdout();
    DumpMem();
    std::string dump = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(dump.begin(), dump.end(), '='), 16) << "one block header only";
    PutMem(next);
    EXPECT_EQ(pMemB, nullptr);
}

TEST_F(Mem, TheEndOfADataAreaBelongsToNoBlock) {
    char *full = (char *)GetMem(65535); // all 2,048 nodes from node 0
    ASSERT_EQ(NodeCount(full), MEM_NODES);
    MemBlock *b = FindBlock(full);
    char *end = b->pMemory + MEM_BLOCK_SIZE;
    EXPECT_EQ(FindBlock(end - 1), b);
    EXPECT_NE(FindBlock(end), b);
    PutMem(end); // must not reach a directory entry past the last one
    EXPECT_EQ(NodeCount(full), MEM_NODES);
    char *fresh = (char *)AdjustMem(end, 10); // unknown pointer: a new allocation
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(FindBlock(fresh), b);
    EXPECT_EQ(CheckChain(), 2);

    char *big = (char *)GetMem(100000);
    MemBlock *d = FindBlock(big);
    EXPECT_EQ(FindBlock(big + d->Size - 1), d);
    EXPECT_NE(FindBlock(big + d->Size), d);
}

// ---- resize ------------------------------------------------------------------

TEST_F(Mem, GrowInPlaceWhenTheNodesBehindAreFree) {
    char *p = (char *)GetMem(10);
    memcpy(p, "abc", 4);
    char *q = (char *)AdjustMem(p, 100);
    EXPECT_EQ(q, p);
    EXPECT_EQ(NodeCount(q), 4);
    EXPECT_STREQ(q, "abc");
    EXPECT_TRUE(AllZero(q + 4, 4 * 32 - 4));
    EXPECT_EQ(pMemB->FreeNodeCount, MEM_NODES - 4);
}

TEST_F(Mem, GrowDownwardsWhenOnlyTheNodesBeforeAreFree) {
    char *before = (char *)GetMem(70); // nodes 0-2
    char *p = (char *)GetMem(10);      // node 3
    char *after = (char *)GetMem(10);  // node 4
    ASSERT_EQ(NodeIndex(p), 3);
    memset(p, 'x', 31);
    PutMem(before);
    char *q = (char *)AdjustMem(p, 100);
    EXPECT_EQ(q, before);
    EXPECT_EQ(NodeIndex(q), 0);
    EXPECT_EQ(NodeCount(q), 4);
    EXPECT_EQ(std::string(q, 31), std::string(31, 'x'));
    EXPECT_TRUE(AllZero(q + 31, 4 * 32 - 31));
    EXPECT_EQ(pMemB->Nodes[3].NodeCnt, 0);
    EXPECT_EQ(pMemB->Nodes[3].pAddr, nullptr);
    EXPECT_EQ(std::string_view(pMemB->MAT, 6), "UUUUU ");
    EXPECT_EQ(CheckChain(), 2);
    (void)after;
}

TEST_F(Mem, GrowNearNodeZeroRelocatesInsteadOfLookingBeforeTheMap) {
    // Node 0 free, p at node 1, node 2 used: three nodes more fit neither behind
    // nor before, because there is only one node before it.
    char *zero = (char *)GetMem(1);
    char *p = (char *)GetMem(1);
    char *wall = (char *)GetMem(1);
    PutMem(zero);
    memcpy(p, "moved", 6);
    char *q = (char *)AdjustMem(p, 100);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(NodeIndex(q), 3) << "first fit behind the wall";
    EXPECT_STREQ(q, "moved");
    EXPECT_EQ(pMemB->Nodes[1].NodeCnt, 0);
    EXPECT_EQ(std::string_view(pMemB->MAT, 8), "  UUUUU ");
    // At node 0 itself, with node 1 used: nothing can be before it.
    char *first = (char *)GetMem(1);
    char *second = (char *)GetMem(1);
    ASSERT_EQ(NodeIndex(first), 0);
    ASSERT_EQ(NodeIndex(second), 1);
    char *r = (char *)AdjustMem(first, 40);
    EXPECT_EQ(NodeIndex(r), 7);
    EXPECT_EQ(CheckChain(), 4);
    (void)wall;
}

TEST_F(Mem, ShrinkKeepsThePointerAndClearsWhatItGivesUp) {
    char *p = (char *)GetMem(300); // 10 nodes
    char *wall = (char *)GetMem(1);
    memset(p, 0xAA, 301);
    char *q = (char *)AdjustMem(p, 40);
    EXPECT_EQ(q, p);
    EXPECT_EQ(NodeCount(p), 2);
    EXPECT_EQ(std::string_view(pMemB->MAT, 12), "UU        U ");
    EXPECT_TRUE(AllZero(p + 64, 8 * 32));
    EXPECT_EQ((unsigned char)p[40], 0xAA);
    // Grown back in place, the old bytes past the shrink read as zeros.
    EXPECT_EQ(AdjustMem(p, 300), p);
    EXPECT_TRUE(AllZero(p + 64, 300 - 64));
    // Same node count: nothing moves, nothing is cleared.
    p[310] = 7;
    EXPECT_EQ(AdjustMem(p, 315), p);
    EXPECT_EQ(p[310], 7);
    (void)wall;
}

TEST_F(Mem, EveryByteAResizeAddsReadsZeroWhateverTheSizesBefore) {
    // Sizes chosen to shrink and grow within one node, across nodes, in place,
    // into and out of a dedicated block.
    long sizes[] = {40, 5, 30, 100, 33, 64, 2000, 10, 70000, 100, 131071, 66000, 200000, 3, 31};
    char *wall = (char *)GetMem(1);
    char *p = (char *)GetMem(1);
    long size = 1;
    for (long next : sizes) {
        memset(p, 'q', size + 1); // the caller uses all size + 1 bytes it owns
        p = (char *)AdjustMem(p, next);
        ASSERT_NE(p, nullptr) << next;
        long kept = std::min(size, next) + 1;
        EXPECT_EQ(std::string(p, kept), std::string(kept, 'q')) << size << " -> " << next;
        if (next > size) {
            EXPECT_TRUE(AllZero(p + size + 1, next - size)) << size << " -> " << next;
        }
        size = next;
    }
    EXPECT_EQ(CheckChain(), 2);
    (void)wall;
}

TEST_F(Mem, AdjustMemWithoutAKnownAllocationOrWithSizeZero) {
    char *p = (char *)AdjustMem(nullptr, 50);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(NodeCount(p), 2);
    char local[8] = "stack";
    char *q = (char *)AdjustMem(local, 20);
    EXPECT_NE(q, local);
    EXPECT_STREQ(local, "stack");
    EXPECT_TRUE(AllZero(q, 32));
    EXPECT_EQ(AdjustMem(nullptr, 0), nullptr);
    EXPECT_EQ(AdjustMem(q, 0), nullptr);
    EXPECT_EQ(AdjustMem(p, -3), nullptr);
    EXPECT_EQ(pMemB, nullptr);
}

TEST_F(Mem, AdjustMemOfAnInnerPointerFailsAndLeavesTheBlockAlone) {
    char *p = (char *)GetMem(200);
    memcpy(p, "data", 5);
    std::string mat(pMemB->MAT);
    int free = pMemB->FreeNodeCount;
    for (long size : {10L, 500L, 100000L}) {
        EXPECT_EQ(AdjustMem(p + 8, size), nullptr);
        EXPECT_EQ(AdjustMem(p + 32, size), nullptr);
        EXPECT_EQ(std::string(pMemB->MAT), mat);
        EXPECT_EQ(pMemB->FreeNodeCount, free);
        EXPECT_STREQ(p, "data");
    }
    char *big = (char *)GetMem(100000);
    EXPECT_EQ(AdjustMem(big + 64, 10), nullptr);
    PutMem(big + 64);
    EXPECT_EQ(FindBlock(big)->DedicatedSize, 100032);
    EXPECT_EQ(CheckChain(), 2);
}

TEST_F(Mem, DedicatedBlockResizesInPlaceWhileItsDataAreaIsLargeEnough) {
    char *p = (char *)GetMem(100000);
    MemBlock *b = FindBlock(p);
    memset(p, 'd', 100001);
    EXPECT_EQ(AdjustMem(p, 70000), p);
    EXPECT_EQ(b->DedicatedSize, 70016);
    EXPECT_EQ(p[69999], 'd');
    EXPECT_TRUE(AllZero(p + 70016, 131072 - 70016));
    EXPECT_EQ(AdjustMem(p, 120000), p);
    EXPECT_EQ(b->DedicatedSize, 120032);
    EXPECT_TRUE(AllZero(p + 70016, 120032 - 70016));
    // A small size keeps the dedicated block.
    EXPECT_EQ(AdjustMem(p, 10), p);
    EXPECT_EQ(b->DedicatedSize, 32);
    EXPECT_EQ(p[9], 'd');
    EXPECT_TRUE(AllZero(p + 32, 131072 - 32));
    // Beyond the data area it moves, with its contents.
    memset(p, 'e', 32);
    char *q = (char *)AdjustMem(p, 200000);
    ASSERT_NE(q, p);
    EXPECT_EQ(std::string(q, 32), std::string(32, 'e'));
    EXPECT_TRUE(AllZero(q + 32, 200001 - 32));
    EXPECT_EQ(FindBlock(q)->Size, 262144);
    EXPECT_EQ(BlockCount(), 1) << "the old dedicated block was given back";
}

TEST_F(Mem, DedicatedResizeToExactlyItsDataAreaKeepsLaterShrinksHonest) {
    char *p = (char *)GetMem(70000); // in use 70,016 of 131,072
    EXPECT_EQ(AdjustMem(p, 131071), p);
    EXPECT_EQ(FindBlock(p)->DedicatedSize, 131072);
    p[100000] = 'k';
    p[131071] = 'z';
    EXPECT_EQ(AdjustMem(p, 120000), p);
    EXPECT_EQ(p[100000], 'k') << "a shrink must not clear bytes it keeps";
    EXPECT_EQ(p[131071], 0);
}

TEST_F(Mem, SharedAllocationGrownPastABlockMovesToADedicatedBlock) {
    char *keep = (char *)GetMem(10);
    char *p = (char *)GetMem(1000);
    memset(p, 's', 1001);
    char *q = (char *)AdjustMem(p, 70000);
    ASSERT_NE(q, nullptr);
    MemBlock *d = FindBlock(q);
    EXPECT_EQ(d->Size, 131072);
    EXPECT_EQ(d->DedicatedSize, 70016);
    EXPECT_EQ(std::string(q, 1001), std::string(1001, 's'));
    EXPECT_TRUE(AllZero(q + 1001, 70016 - 1001));
    EXPECT_EQ(pMemB->FreeNodeCount, MEM_NODES - 1);
    PutMem(keep);
    EXPECT_EQ(pMemB, d) << "the emptied shared block left the chain";
    EXPECT_EQ(BlockCount(), 1);
}

// ---- chain operations --------------------------------------------------------

TEST_F(Mem, PushAndPopKeepTheChainDoublyLinked) {
    MemBlock *a = GetNewBlock(0), *b = GetNewBlock(1000), *c = GetNewBlock(MEM_BLOCK_SIZE);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(b->Size, MEM_BLOCK_SIZE) << "raised to the minimum";
    EXPECT_EQ(b->FreeNodeCount, MEM_NODES);
    EXPECT_EQ(std::string_view(b->MAT), std::string(MEM_NODES, ' '));
    EXPECT_EQ(pMemB, a);
    EXPECT_EQ(PopBlock(b), b);
    EXPECT_EQ(a->pNext, c);
    EXPECT_EQ(c->pPrev, a);
    EXPECT_EQ(FindBlock(b->pMemory), nullptr) << "out of the chain, out of reach";
    PushBlock(b);
    EXPECT_EQ(c->pNext, b);
    EXPECT_EQ(b->pPrev, c);
    EXPECT_EQ(FindBlock(b->pMemory + 5), b);
    EXPECT_EQ(PopBlock(a), c) << "removing the head gives the new head";
    EXPECT_EQ(pMemB, c);
    EXPECT_EQ(c->pPrev, nullptr);
    FreeBlock(a);
    // The search follows the chain order: c first, then b.
    void *p = GetMem(1);
    EXPECT_EQ(FindBlock(p), c);
    FreeBlock(b);
    EXPECT_EQ(PopBlock(c), nullptr) << "the chain is empty now";
    FreeBlock(c);
    EXPECT_EQ(pMemB, nullptr);
    EXPECT_EQ(PopBlock(nullptr), nullptr);
    PushBlock(nullptr);
    FreeBlock(nullptr);
    EXPECT_EQ(FindBlock(nullptr), nullptr);
}

// ---- the reserve of emptied blocks ---------------------------------------------

// True while [p, p + bytes) is mapped in this process.
bool Mapped(const void *p, size_t bytes) {
    uintptr_t page = (uintptr_t)sysconf(_SC_PAGESIZE);
    uintptr_t start = (uintptr_t)p / page * page;
    return msync((void *)start, (uintptr_t)p + bytes - start, MS_ASYNC) == 0;
}

// Number of pages of [p, p + bytes) that hold memory of their own now.
int ResidentPages(const void *p, size_t bytes) {
    size_t page = (size_t)sysconf(_SC_PAGESIZE);
    std::vector<unsigned char> vec((bytes + page - 1) / page);
    if (mincore(const_cast<void *>(p), bytes, vec.data()) != 0) return -1;
    return (int)std::count_if(vec.begin(), vec.end(), [](unsigned char v) { return v & 1; });
}

TEST_F(Mem, AnEmptiedSharedBlockIsParkedOutOfSightAndComesBackAsZeros) {
    MemInternalReleaseKept();
    char *p = (char *)GetMem(65535); // every node of the block
    MemBlock *b = FindBlock(p);
    memset(p, 0xA5, 65536);
    PutMem(p);
    EXPECT_EQ(pMemB, nullptr);
    EXPECT_EQ(FindBlock(p), nullptr) << "a parked block is nobody's";
    testing::internal::CaptureStdout();
    DumpMem();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(MemInternalKeptCounts().Shared, 1);
    EXPECT_EQ(ResidentPages(p, 65536), 16) << "a parked shared block keeps its pages for the next";
    // The next block is the parked one, and hands out zeros only.
    char *q = (char *)GetMem(65535);
    EXPECT_EQ(FindBlock(q), b);
    EXPECT_EQ(MemInternalKeptCounts().Shared, 0);
    EXPECT_TRUE(AllZero(q, 65536));
    EXPECT_EQ(CheckChain(), 1);
    PutMem(q);
}

TEST_F(Mem, SharedBlocksParkedBeyondTheFirstSixteenComeBackAsZeros) {
    MemInternalReleaseKept();
    // Forty blocks written all over, then emptied: the ones parked after the
    // first sixteen lend their pages to the system, and every one still hands
    // out zeros when it serves the next structure.
    std::vector<char *> first;
    for (int k = 0; k < 40; ++k) {
        first.push_back((char *)GetMem(65535));
        memset(first.back(), 0xA5, 65536);
    }
    for (char *p : first)
        PutMem(p);
    EXPECT_EQ(MemInternalKeptCounts().Shared, 40);
    std::vector<char *> second;
    for (int k = 0; k < 40; ++k) {
        char *p = (char *)GetMem(65535);
        ASSERT_NE(p, nullptr);
        EXPECT_NE(std::find(first.begin(), first.end(), p), first.end()) << "a parked area serves";
        EXPECT_TRUE(AllZero(p, 65536)) << "block " << k;
        second.push_back(p);
    }
    EXPECT_EQ(MemInternalKeptCounts().Shared, 0);
    EXPECT_EQ(CheckChain(), 40);
    for (char *p : second)
        PutMem(p);
}

TEST_F(Mem, AParkedDedicatedAreaDropsItsBytesAndServesASmallerRequest) {
    MemInternalReleaseKept();
    char *big = (char *)GetMem(300000); // 327,680-byte data area
    memset(big, 0x5A, 300001);
    PutMem(big);
    MemKeptCounts kept = MemInternalKeptCounts();
    EXPECT_EQ(kept.Dedicated, 1);
    EXPECT_GE(kept.DedicatedBytes, 327680);
    // The bytes handed out; the debug checks read the zeros behind them, which
    // maps the system's shared zero page there.
    EXPECT_EQ(ResidentPages(big, 300032), 0) << "its memory went back to the system";
    char *small = (char *)GetMem(100000);
    MemBlock *b = FindBlock(small);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(small, big) << "the parked area is reused";
    EXPECT_EQ(b->Size, 131072) << "the block shows the size it was asked for";
    EXPECT_EQ(FindBlock(small + 131072), nullptr);
    EXPECT_TRUE(AllZero(small, 131072));
    // A grow within the recorded size stays in place and still reads zeros.
    char *grown = (char *)AdjustMem(small, 120000);
    EXPECT_EQ(grown, small);
    EXPECT_TRUE(AllZero(grown, 120001));
    EXPECT_EQ(MemInternalKeptCounts().Dedicated, 0);
    PutMem(grown);
}

TEST_F(Mem, TheReserveIsBoundedAndFreeBlockAlwaysUnmaps) {
    MemInternalReleaseKept();
    // 260 emptied shared blocks: 256 are parked, the rest unmapped.
    std::vector<char *> full;
    for (int k = 0; k < 260; ++k)
        full.push_back((char *)GetMem(65535));
    for (char *p : full)
        PutMem(p);
    EXPECT_EQ(MemInternalKeptCounts().Shared, 256);
    int mapped = 0;
    for (char *p : full)
        mapped += Mapped(p, 65536);
    EXPECT_EQ(mapped, 256);
    // Dedicated areas over 4 MiB are never parked; the rest within 8 MiB.
    PutMem(GetMem(5L << 20));
    EXPECT_EQ(MemInternalKeptCounts().Dedicated, 0);
    std::vector<void *> large;
    for (int k = 0; k < 4; ++k)
        large.push_back(GetMem(3L << 20));
    for (void *p : large)
        PutMem(p);
    MemKeptCounts kept = MemInternalKeptCounts();
    EXPECT_LE(kept.DedicatedBytes, 8L << 20);
    EXPECT_EQ(kept.Dedicated, 2);
    // A block given back through FreeBlock does not go to the reserve.
    MemBlock *b = GetNewBlock(0);
    char *data = b->pMemory;
    FreeBlock(b);
    EXPECT_FALSE(Mapped(data, 65536));
    MemInternalReleaseKept();
    for (char *p : full)
        EXPECT_FALSE(Mapped(p, 65536));
    EXPECT_EQ(MemInternalKeptCounts().Shared, 0);
    EXPECT_EQ(MemInternalKeptCounts().DedicatedBytes, 0);
}

TEST_F(Mem, ALargeBlockMadeDirectlyIsNeverSearchedAndGoesWithItsStart) {
    MemBlock *big = GetNewBlock(200000);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big->Size, 200000);
    EXPECT_EQ(big->FreeNodeCount, MEM_NODES);
    char *p = (char *)GetMem(10);
    EXPECT_NE(FindBlock(p), big) << "small requests go to a shared block";
    EXPECT_EQ(big->pNext, FindBlock(p));
    PutMem(big->pMemory + 32);
    EXPECT_EQ(pMemB, big);
    PutMem(big->pMemory);
    EXPECT_EQ(pMemB, FindBlock(p));
    EXPECT_EQ(BlockCount(), 1);
}

TEST_F(Mem, MapBlockGivesZeroedWritablePages) {
    for (long size : {0L, 1L, 4096L, 65536L, 70000L}) {
        char *m = (char *)MapBlock(size);
        ASSERT_NE(m, nullptr);
        long pages = sysconf(_SC_PAGESIZE);
        long bytes = (size / pages + 1) * pages;
        EXPECT_TRUE(AllZero(m, bytes));
        m[bytes - 1] = 1;
    }
    EXPECT_EQ(MapBlock(-1), nullptr);
    EXPECT_GE(MemId, 0);
}

TEST(MemTestMAT, ComparesCountMarksFromThePosition) {
    struct {
        const char *pos;
        char mark;
        int count;
        int result;
    } table[] = {{"   U", ' ', 3, 1},  {"   U", ' ', 4, 0}, {"UU", 'U', 2, 1}, {"U U", 'U', 2, 0},
                 {"x", ' ', 0, 1},     {"", ' ', 0, 1},     {"  ", ' ', 1, 1}, {nullptr, ' ', 1, 0},
                 {nullptr, ' ', 0, 0}, {"  ", ' ', -1, 0}};
    for (auto &t : table)
        EXPECT_EQ(TestMAT(t.pos, t.mark, t.count), t.result)
            << (t.pos ? t.pos : "(null)") << " " << t.count;
}

// ---- dump --------------------------------------------------------------------

[[gnu::format(printf, 1, 2)]] std::string Fmt(const char *format, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    return buf;
}

TEST_F(Mem, DumpMemPrintsEveryBlockInItsFormat) {
    testing::internal::CaptureStdout();
    DumpMem();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    char *hello = (char *)GetMem(5);
    memcpy(hello, "hello", 6);
    char *full = (char *)GetMem(31); // a full node: no terminator inside
    memset(full, 'f', 32);
    char *big = (char *)GetMem(70000);
    MemBlock *s = pMemB, *d = FindBlock(big);

    std::string want =
        Fmt("\n============ Block(%li) size(%li) Free(%i) Used(%i) FreeNodeCount(%i) SizeCnt(%i) "
            "<==(%li) (%li)==>\n\tBlock MAT:",
            (long)s, 65536L, 2046, 2, 2046, 2046, 0L, (long)d);
    for (int r = 0; r < 32; ++r)
        want += "\n\t" + (r == 0 ? "UU" + std::string(62, '_') : std::string(64, '_'));
    want += "\n\n\tAllocated Nodes:\n";
    want += Fmt("\tMAT index(%6i) Memory Addr(%6li) nodes(%5i) size(%5i) Memory(%s)\n", 0,
                (long)hello, 1, 32, "hello");
    want += Fmt("\tMAT index(%6i) Memory Addr(%6li) nodes(%5i) size(%5i) Memory(%s)\n", 1,
                (long)full, 1, 32, std::string(32, 'f').c_str());
    want += "\n";
    want += Fmt("\n============ Dedicated Block(%li) size(%li) FreeNodeCount(%i) <==(%li) (%li)==>",
                (long)big, 131072L, 0, (long)s, 0L);
    testing::internal::CaptureStdout();
    DumpMem();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), want);
}

// ---- exhaustion and fallback, each in a process of its own -------------------

TEST(MemExhaustion, RunningOutOfAddressSpaceGivesNullAndKeepsWhatIsHeld) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than any limit leaves";
#else
    EXPECT_EXIT(
        {
            std::vector<char *> held;
            char *first = (char *)GetMem(100);
            memcpy(first, "first", 6);
            rlimit lim{};
            getrlimit(RLIMIT_AS, &lim);
            // Room for a few megabytes more than the process uses now.
            FILE *f = fopen("/proc/self/statm", "r");
            long pages = 0;
            if (!f || fscanf(f, "%ld", &pages) != 1) _exit(10);
            fclose(f);
            lim.rlim_cur = (rlim_t)pages * sysconf(_SC_PAGESIZE) + (16 << 20);
            if (setrlimit(RLIMIT_AS, &lim) != 0) _exit(11);
            if (GetMem(64L << 20) != nullptr) _exit(12);
            for (int k = 0; k < 100000; ++k) {
                char *p = (char *)GetMem(60000);
                if (!p) break;
                memset(p, k & 0x7f, 60001);
                held.push_back(p);
            }
            if (held.empty() || held.size() >= 100000) _exit(13);
            if (AdjustMem(first, 1 << 20) != nullptr || strcmp(first, "first") != 0) _exit(14);
            for (size_t k = 0; k < held.size(); ++k)
                if (held[k][0] != (char)(k & 0x7f) || held[k][60000] != (char)(k & 0x7f)) _exit(15);
            for (char *p : held)
                PutMem(p);
            // Released memory can be had again.
            if (!GetMem(60000)) _exit(16);
            _exit(0);
        },
        testing::ExitedWithCode(0), "ERROR: Unable to allocate memory\n");
#endif
}

// Takes blocks while the zero device cannot be opened, then with it again.
[[noreturn]] void HeapFallbackRun() {
    MemInternalReleaseKept(); // blocks kept by earlier tests would be reused first
    if (MemId >= 0) close(MemId);
    MemId = -1;
    rlimit lim{}, none{};
    getrlimit(RLIMIT_NOFILE, &lim);
    none.rlim_max = lim.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &none) != 0) _exit(10);
    char *p = (char *)GetMem(100);
    char *big = (char *)GetMem(100000);
    if (!p || !big || MemId != -1) _exit(11);
    if (!pMemB->flHeapData || !pMemB->flHeapRecord || !AllZero(big, 100032)) _exit(12);
    memcpy(p, "heap", 5);
    p = (char *)AdjustMem(p, 5000);
    if (strcmp(p, "heap") != 0) _exit(13);
    PutMem(big);
    if (setrlimit(RLIMIT_NOFILE, &lim) != 0) _exit(14);
    // The device is tried again for the next block.
    char *mapped = (char *)GetMem(100000);
    if (MemId < 0 || FindBlock(mapped)->flHeapData) _exit(15);
    PutMem(mapped);
    PutMem(p);
    _exit(pMemB == nullptr ? 0 : 16);
}

TEST(MemFallback, WithoutTheZeroDeviceBlocksComeFromTheHeap) {
    EXPECT_EXIT(HeapFallbackRun(), testing::ExitedWithCode(0), "");
}

// ---- randomized run against a model -----------------------------------------

struct Live {
    char *p;
    long size;          // requested size; size + 1 bytes are usable
    unsigned char seed; // content pattern
};

unsigned char Pattern(unsigned char seed, long k) {
    return (unsigned char)(seed + k * 7 + 1);
}

void Fill(Live &l) {
    for (long k = 0; k <= l.size; ++k)
        l.p[k] = (char)Pattern(l.seed, k);
}

bool Intact(const Live &l, long upTo) {
    for (long k = 0; k < upTo; ++k)
        if ((unsigned char)l.p[k] != Pattern(l.seed, k)) return false;
    return true;
}

long RandomSize(std::mt19937 &rng) {
    int pick = (int)(rng() % 1000);
    if (pick < 700) return 1 + rng() % 200;
    if (pick < 950) return 1 + rng() % 4000;
    if (pick < 995) return 1 + rng() % 65535;
    return 65536 + rng() % 200000;
}

void RandomRun(unsigned seed, int steps) {
    std::mt19937 rng(seed);
    std::vector<Live> live;
    for (int step = 0; step < steps; ++step) {
        int op = (int)(rng() % 10);
        if (live.empty() || (op < 4 && live.size() < 300)) {
            long size = RandomSize(rng);
            long rounded = (size + 1 + 31) / 32 * 32;
            auto expect = ExpectedFirstFit((int)(rounded / 32));
            Live l{(char *)GetMem(size), size, (unsigned char)rng()};
            ASSERT_NE(l.p, nullptr);
            ASSERT_TRUE(AllZero(l.p, rounded)) << "step " << step;
            if (rounded <= MEM_BLOCK_SIZE) {
                MemBlock *b = FindBlock(l.p);
                if (expect.first) {
                    EXPECT_EQ(b, expect.first) << "step " << step;
                    EXPECT_EQ(NodeIndex(l.p), expect.second) << "step " << step;
                } else {
                    EXPECT_EQ(b->pNext, nullptr) << "a new block goes to the tail";
                    EXPECT_EQ(NodeIndex(l.p), 0);
                }
            }
            Fill(l);
            live.push_back(l);
        } else if (op < 7) {
            size_t at = rng() % live.size();
            Live &l = live[at];
            long size =
                rng() % 5 == 0 ? RandomSize(rng) : std::max(1L, l.size + (long)(rng() % 400) - 150);
            long oldRounded = (l.size + 1 + 31) / 32 * 32, newRounded = (size + 1 + 31) / 32 * 32;
            MemBlock *b = FindBlock(l.p);
            bool sharedBoth = b->Size == MEM_BLOCK_SIZE && newRounded <= MEM_BLOCK_SIZE;
            int i = NodeIndex(l.p), a = (int)(oldRounded / 32), n = (int)(newRounded / 32);
            bool behindFree =
                sharedBoth && n > a && i + n <= MEM_NODES && TestMAT(b->MAT + i + a, ' ', n - a);
            char *q = (char *)AdjustMem(l.p, size);
            ASSERT_NE(q, nullptr) << "step " << step;
            if (sharedBoth && (n <= a || behindFree)) {
                EXPECT_EQ(q, l.p) << "step " << step;
            }
            l.p = q;
            ASSERT_TRUE(Intact(l, std::min(l.size, size) + 1)) << "step " << step;
            if (size > l.size) {
                ASSERT_TRUE(AllZero(q + l.size + 1, size - l.size)) << "step " << step;
            }
            l.size = size;
            Fill(l);
        } else {
            size_t at = rng() % live.size();
            ASSERT_TRUE(Intact(live[at], live[at].size + 1));
            PutMem(live[at].p);
            live[at] = live.back();
            live.pop_back();
        }
        ASSERT_EQ(CheckChain(), (int)live.size()) << "step " << step;
        if (::testing::Test::HasFailure()) return;
        if (step % 256 == 0) {
            for (const Live &l : live)
                ASSERT_TRUE(Intact(l, l.size + 1)) << "step " << step;
        }
    }
    for (const Live &l : live) {
        ASSERT_TRUE(Intact(l, l.size + 1));
        PutMem(l.p);
    }
    EXPECT_EQ(pMemB, nullptr);
}

// First fit where free runs meet the 64-node words the search sums up: a
// block filled with one-node allocations, the holes opened, then one request.
TEST_F(Mem, FirstFitFindsRunsAcrossAndInsideTheSearchWords) {
    struct Hole {
        int from, len;
    };
    struct Case {
        const char *name;
        std::vector<Hole> holes;
        int nodes;    // nodes asked for
        int expected; // node index of the answer, -1: a new block
    } cases[] = {
        {"a run inside a word", {{10, 3}}, 3, 10},
        {"too short everywhere", {{10, 3}, {100, 2}}, 4, -1},
        {"a run across one boundary", {{60, 8}}, 8, 60},
        {"the crossing run comes before a later one inside", {{62, 4}, {70, 10}}, 4, 62},
        {"an earlier run inside the word wins over the crossing one", {{40, 5}, {61, 9}}, 5, 40},
        {"the crossing run too short, the next word's run fits", {{63, 2}, {65 + 5, 6}}, 6, 70},
        {"a run that ends a block", {{2040, 8}}, 8, 2040},
        {"sixty-four nodes across a boundary", {{32, 64}}, 64, 32},
        {"sixty-four nodes, one short before", {{0, 63}, {200, 64}}, 64, 200},
        {"a whole free word after a short tail", {{127, 1}, {128, 64}, {300, 64}}, 64, 127},
        {"a long run over three words", {{100, 150}}, 130, 100},
        {"one node at the very end", {{2047, 1}}, 1, 2047},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<void *> one(MEM_NODES);
        for (int i = 0; i < MEM_NODES; ++i)
            one[i] = GetMem(1);
        MemBlock *b = FindBlock(one[0]);
        ASSERT_EQ(b->FreeNodeCount, 0);
        for (const Hole &h : c.holes)
            for (int i = h.from; i < h.from + h.len; ++i) {
                PutMem(one[i]);
                one[i] = nullptr;
            }
        char *p = (char *)GetMem((long)c.nodes * MEM_NODE_SIZE - 1);
        ASSERT_NE(p, nullptr);
        if (c.expected < 0) {
            EXPECT_NE(FindBlock(p), b);
        } else {
            EXPECT_EQ(FindBlock(p), b);
            EXPECT_EQ(NodeIndex(p), c.expected);
        }
        EXPECT_EQ(NodeCount(p), c.nodes);
        EXPECT_EQ(CheckChain(), MEM_NODES + 1 - (int)std::count(one.begin(), one.end(), nullptr));
        PutMem(p);
        for (void *q : one)
            PutMem(q);
        EXPECT_EQ(pMemB, nullptr);
    }
}

TEST_F(Mem, RandomGetAdjustPutKeepsTheDataModelAndTheContents) {
    for (unsigned seed : {1u, 2u, 3u, 20261207u}) {
        SCOPED_TRACE(seed);
        RandomRun(seed, 4000);
        if (HasFailure()) return;
    }
}

} // namespace
