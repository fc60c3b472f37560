#include "List.h"

#include "MemMgr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace {

// Pushes the 32-bit value v and returns the list's copy.
int32_t *PushInt(List *l, int32_t v) {
    return static_cast<int32_t *>(ListPushItem(l, &v, sizeof v));
}

// Pushes the 32-bit values one after the other; the list's copies in that order.
std::vector<int32_t *> PushInts(List *l, std::initializer_list<int32_t> values) {
    std::vector<int32_t *> items;
    for (int32_t v : values)
        items.push_back(PushInt(l, v));
    return items;
}

// A new list holding the 32-bit values, pushed one after the other.
List *IntList(std::initializer_list<int32_t> values) {
    List *l = ListCreate();
    PushInts(l, values);
    return l;
}

// The first 32-bit value of every item, walking from the head.
std::vector<int32_t> Values(List *l) {
    std::vector<int32_t> out;
    for (void *p = ListWalk(l, 0); p; p = ListWalk(l, 1))
        out.push_back(*static_cast<int32_t *>(p));
    return out;
}

// The links of the header agree with each other and with Count and TotalSize.
void ExpectConsistent(const List *l) {
    int count = 0;
    long total = 0;
    const ListNode *prev = nullptr;
    for (const ListNode *n = l->pHead; n; prev = n, n = n->pNext) {
        ASSERT_EQ(n->pPrev, prev);
        ++count;
        total += n->DataSize;
        ASSERT_LE(count, l->Count) << "more nodes than counted";
    }
    EXPECT_EQ(l->pTail, prev);
    EXPECT_EQ(l->Count, count);
    EXPECT_EQ(l->TotalSize, total);
}

TEST(List, PushOrderFollowsThePushFrontFlag) {
    const struct {
        const char *name;
        unsigned char front;
        std::vector<int32_t> expected;
    } rows[] = {
        {"append at the tail", 0, {1, 2, 3}},
        {"insert at the head", 1, {3, 2, 1}},
    };
    for (const auto &row : rows) {
        List *l = ListCreate();
        l->flPushFront = row.front;
        PushInts(l, {1, 2, 3});
        EXPECT_EQ(Values(l), row.expected) << row.name;
        ExpectConsistent(l);
        ListDel(l);
    }
}

TEST(List, PushWithSizeZeroOrNullSource) {
    List *l = ListCreate();
    int32_t v = 7;
    EXPECT_EQ(ListPushItem(l, &v, 0), nullptr);
    EXPECT_EQ(ListPushItem(l, &v, -4), nullptr);
    EXPECT_EQ(ListPushItem(nullptr, &v, 4), nullptr);
    EXPECT_EQ(l->Count, 0);
    EXPECT_EQ(l->pHead, nullptr);

    auto *zeroed = static_cast<unsigned char *>(ListPushItem(l, nullptr, 24));
    ASSERT_NE(zeroed, nullptr);
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(zeroed[i], 0) << "byte " << i;
    EXPECT_EQ(l->Count, 1);
    EXPECT_EQ(l->TotalSize, 24);
    ListDel(l);
}

TEST(List, PushCopiesTheCallersBytes) {
    List *l = ListCreate();
    char text[] = "hello";
    auto *copy = static_cast<char *>(ListPushItem(l, text, sizeof text));
    text[0] = 'j';
    EXPECT_NE(copy, text);
    EXPECT_STREQ(copy, "hello");
    ListDel(l);
}

TEST(List, TotalSizeFollowsPushesAndPops) {
    List *l = ListCreate();
    char bytes[16] = {};
    ListPushItem(l, bytes, 4);
    void *eight = ListPushItem(l, bytes, 8);
    ListPushItem(l, bytes, 16);
    EXPECT_EQ(l->TotalSize, 28);
    EXPECT_EQ(ListPopItem(l, eight, 1), nullptr);
    EXPECT_EQ(l->TotalSize, 20);
    EXPECT_EQ(l->Count, 2);
    ExpectConsistent(l);
    ListDel(l);
}

TEST(List, PopItemWithNullTakesTheHead) {
    List *l = IntList({10, 20, 30});
    auto *head = static_cast<int32_t *>(ListPopItem(l, nullptr, 0));
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(*head, 10); // still readable: the caller owns it now
    PutMem(head);
    EXPECT_EQ(Values(l), (std::vector<int32_t>{20, 30}));
    ExpectConsistent(l);
    ListDel(l);
}

TEST(List, PopFirstAndLast) {
    List *l = IntList({1, 2, 3, 4});
    auto *last = static_cast<int32_t *>(ListPopLastItem(l, 0));
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(*last, 4);
    PutMem(last);
    EXPECT_EQ(ListPopFirstItem(l, 1), nullptr);
    EXPECT_EQ(Values(l), (std::vector<int32_t>{2, 3}));
    ExpectConsistent(l);
    ListDel(l);
}

TEST(List, PopOfAnAbsentItemOrAnEmptyListGivesNull) {
    List *l = ListCreate();
    EXPECT_EQ(ListPopItem(l, nullptr, 0), nullptr);
    EXPECT_EQ(ListPopFirstItem(l, 0), nullptr);
    EXPECT_EQ(ListPopLastItem(l, 0), nullptr);
    PushInt(l, 5);
    int32_t outside = 5;
    EXPECT_EQ(ListPopItem(l, &outside, 1), nullptr);
    EXPECT_EQ(l->Count, 1);
    EXPECT_EQ(ListPopItem(nullptr, nullptr, 1), nullptr);
    ListDel(l);
}

TEST(List, FindItemNAndGetItemPos) {
    List *l = ListCreate();
    std::vector<int32_t *> items = PushInts(l, {1, 2, 3});
    const struct {
        int n;
        int32_t *expected;
    } rows[] = {{-1, nullptr}, {0, nullptr},  {1, items[0]},
                {2, items[1]}, {3, items[2]}, {4, nullptr}};
    for (const auto &row : rows)
        EXPECT_EQ(ListFindItemN(l, row.n), row.expected) << "n " << row.n;
    EXPECT_EQ(ListGetItemPos(l, items[2]), l->Count);
    EXPECT_EQ(ListGetItemPos(l, items[0]), 1);
    int32_t outside = 1;
    EXPECT_EQ(ListGetItemPos(l, &outside), 0);
    EXPECT_EQ(ListGetItemPos(nullptr, items[0]), 0);
    EXPECT_EQ(ListFindItemN(nullptr, 1), nullptr);
    ListDel(l);
}

TEST(List, WalkForwardsAndBackwards) {
    List *l = ListCreate();
    EXPECT_EQ(ListWalk(l, 0), nullptr);
    EXPECT_EQ(ListWalkBackward(l, 0), nullptr);
    PushInts(l, {1, 2, 3});
    EXPECT_EQ(Values(l), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(ListWalk(l, 1), nullptr); // stays at the end
    std::vector<int32_t> back;
    for (void *p = ListWalkBackward(l, 0); p; p = ListWalkBackward(l, 1))
        back.push_back(*static_cast<int32_t *>(p));
    EXPECT_EQ(back, (std::vector<int32_t>{3, 2, 1}));
    ListDel(l);
}

TEST(List, NestedWalkRestartsTheOuterOne) {
    List *l = IntList({1, 2, 3});
    EXPECT_EQ(*static_cast<int32_t *>(ListWalk(l, 0)), 1);
    EXPECT_EQ(*static_cast<int32_t *>(ListWalk(l, 1)), 2);
    Values(l); // an inner walk over the same list runs to its end
    EXPECT_EQ(ListWalk(l, 1), nullptr);
    ListDel(l);
}

TEST(List, PoppingTheItemUnderTheCursorKeepsTheWalkGoing) {
    List *l = ListCreate();
    std::vector<int32_t *> items = PushInts(l, {1, 2, 3});
    EXPECT_EQ(ListWalk(l, 0), items[0]); // the cursor now stands on 2
    ListPopItem(l, items[1], 1);
    EXPECT_EQ(ListWalk(l, 1), items[2]);
    EXPECT_EQ(ListWalk(l, 1), nullptr);
    ListDel(l);
}

TEST(List, CopyMakesNewCopiesOfEveryItem) {
    List *from = ListCreate();
    List *to = ListCreate();
    char bytes[] = "abcdefghijklmnop";
    for (int size : {3, 5, 9})
        ListPushItem(from, bytes, size);
    ListCopy(from, to);
    ASSERT_EQ(to->Count, 3);
    EXPECT_EQ(to->TotalSize, from->TotalSize);
    for (ListNode *a = from->pHead, *b = to->pHead; a && b; a = a->pNext, b = b->pNext) {
        EXPECT_NE(a->pData, b->pData);
        EXPECT_EQ(a->DataSize, b->DataSize);
        EXPECT_EQ(memcmp(a->pData, b->pData, static_cast<size_t>(a->DataSize)), 0);
    }
    ListCopy(nullptr, to);
    ListCopy(from, nullptr);
    EXPECT_EQ(to->Count, 3);
    ListDel(from);
    ListDel(to);
}

TEST(List, CopyOntoItselfDoublesOnce) {
    for (unsigned char front : {0, 1}) {
        List *l = ListCreate();
        l->flPushFront = front;
        PushInts(l, {1, 2});
        ListCopy(l, l);
        EXPECT_EQ(l->Count, 4) << "front " << int(front);
        ExpectConsistent(l);
        ListDel(l);
    }
}

TEST(List, MoveItemRelinksTheSameNode) {
    List *a = ListCreate();
    List *b = ListCreate();
    std::vector<int32_t *> items = PushInts(a, {1, 2, 3});
    PushInt(b, 9);
    b->flPushFront = 1;
    ListMoveItem(items[1], a, b);
    EXPECT_EQ(Values(a), (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(Values(b), (std::vector<int32_t>{2, 9}));
    EXPECT_EQ(ListFindItemN(b, 1), items[1]); // not a copy
    int32_t outside = 0;
    ListMoveItem(&outside, a, b);
    ListMoveItem(items[0], a, nullptr);
    ListMoveItem(items[0], nullptr, b);
    EXPECT_EQ(a->Count, 2);
    EXPECT_EQ(b->Count, 2);
    ExpectConsistent(a);
    ExpectConsistent(b);
    ListDel(a);
    ListDel(b);
}

TEST(List, PushLinkAndPopLinkWorkOnCallersNodes) {
    List l = {}; // a zero-filled member of a caller's record is an empty list
    ListNode n1 = {}, n2 = {};
    n1.DataSize = 3;
    n2.DataSize = 4;
    ListPushLink(&l, &n1);
    ListPushLink(&l, &n2);
    ListPushLink(&l, nullptr);
    ListPushLink(nullptr, &n1);
    EXPECT_EQ(l.Count, 2);
    EXPECT_EQ(l.TotalSize, 7);
    ListPopLink(&l, nullptr); // the head
    EXPECT_EQ(l.pHead, &n2);
    EXPECT_EQ(n1.pNext, &n2); // its own links are left as they were
    EXPECT_EQ(l.TotalSize, 4);
    ListPopLink(&l, &n2);
    EXPECT_EQ(l.Count, 0);
    EXPECT_EQ(l.pHead, nullptr);
    EXPECT_EQ(l.pTail, nullptr);
    ListPopLink(&l, &n2); // empty: nothing
    EXPECT_EQ(l.Count, 0);
}

TEST(List, PopLinkRefusesANodeOfNoListOrAnotherList) {
    List *a = IntList({1, 2});
    List *b = IntList({3, 4});
    ListNode loose = {};
    ListPopLink(a, &loose);
    ListPopLink(a, b->pHead);
    ListPopLink(a, b->pTail);
    EXPECT_EQ(a->Count, 2);
    EXPECT_EQ(b->Count, 2);
    ExpectConsistent(a);
    ExpectConsistent(b);
    ListDel(a);
    ListDel(b);
}

TEST(List, DelAllItemsLeavesAReusableHeader) {
    List *l = IntList({1, 2, 3});
    ListWalk(l, 0);
    ListDelAllItems(l);
    EXPECT_EQ(l->Count, 0);
    EXPECT_EQ(l->TotalSize, 0);
    EXPECT_EQ(l->pHead, nullptr);
    EXPECT_EQ(l->pTail, nullptr);
    EXPECT_EQ(ListWalk(l, 1), nullptr);
    PushInt(l, 8);
    EXPECT_EQ(Values(l), (std::vector<int32_t>{8}));
    ListDel(l);
    ListDel(nullptr);
    ListDelAllItems(nullptr);
}

TEST(List, DumpPrintsPositionAndFirstInteger) {
    List *l = IntList({5, -12, 70000});
    char one = 9;
    ListPushItem(l, &one, 1);
    testing::internal::CaptureStdout();
    ListDump(l);
    ListDump(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "  1) 5\n  2) -12\n  3) 70000\n  4) 9\n");
    ListDel(l);
}

// Two lists driven by random operations, checked after every step against a
// model of plain vectors of (item pointer, item bytes).
TEST(List, RandomOperationsAgreeWithAModel) {
    struct Item {
        void *p;
        std::string bytes;
    };
    const bool startedEmpty = pMemB == nullptr;
    std::mt19937 rng(12345);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    List *lists[2] = {ListCreate(), ListCreate()};
    std::vector<Item> model[2];

    auto check = [&](int k) {
        List *l = lists[k];
        ExpectConsistent(l);
        ASSERT_EQ(l->Count, static_cast<int>(model[k].size()));
        int i = 0;
        for (const ListNode *n = l->pHead; n; n = n->pNext, ++i) {
            ASSERT_EQ(n->pData, model[k][i].p);
            ASSERT_EQ(n->DataSize, static_cast<int>(model[k][i].bytes.size()));
            ASSERT_EQ(std::string(static_cast<char *>(n->pData), model[k][i].bytes.size()),
                      model[k][i].bytes);
        }
    };

    for (int step = 0; step < 20000; ++step) {
        int k = pick(2);
        List *l = lists[k];
        auto &m = model[k];
        int op = pick(11);
        if (m.size() > 60 && op < 3) op = 5; // keep the lists short
        switch (op) {
        case 0:
        case 1:
        case 2: { // push
            int size = 1 + pick(40);
            std::string bytes(static_cast<size_t>(size), '\0');
            bool withSource = pick(4) != 0;
            if (withSource)
                for (auto &c : bytes)
                    c = static_cast<char>(rng());
            l->flPushFront = static_cast<unsigned char>(pick(2));
            void *p = ListPushItem(l, withSource ? bytes.data() : nullptr, size);
            ASSERT_NE(p, nullptr);
            if (l->flPushFront)
                m.insert(m.begin(), {p, bytes});
            else
                m.push_back({p, bytes});
            break;
        }
        case 3:
        case 4: { // pop a chosen item, the head (null) or an item of no list
            int release = pick(2);
            int which = m.empty() ? -1 : pick(static_cast<int>(m.size()) + 2) - 1;
            int32_t outside = 0;
            void *item = which < 0                             ? nullptr
                         : which >= static_cast<int>(m.size()) ? &outside
                                                               : m[which].p;
            if (!item && !m.empty()) which = 0;
            void *got = ListPopItem(l, item, release);
            if (item == &outside || m.empty()) {
                ASSERT_EQ(got, nullptr);
                break;
            }
            if (release) {
                ASSERT_EQ(got, nullptr);
            } else {
                ASSERT_EQ(got, m[which].p);
                ASSERT_EQ(memcmp(got, m[which].bytes.data(), m[which].bytes.size()), 0);
                PutMem(got);
            }
            m.erase(m.begin() + which);
            break;
        }
        case 5: { // pop first or last
            int release = pick(2);
            bool first = pick(2);
            void *got = first ? ListPopFirstItem(l, release) : ListPopLastItem(l, release);
            if (m.empty()) {
                ASSERT_EQ(got, nullptr);
                break;
            }
            auto it = first ? m.begin() : m.end() - 1;
            if (release) {
                ASSERT_EQ(got, nullptr);
            } else {
                ASSERT_EQ(got, it->p);
                PutMem(got);
            }
            m.erase(it);
            break;
        }
        case 6: { // move to the other list
            if (m.empty()) break;
            int which = pick(static_cast<int>(m.size()));
            List *to = lists[1 - k];
            to->flPushFront = static_cast<unsigned char>(pick(2));
            ListMoveItem(m[which].p, l, to);
            auto &dest = model[1 - k];
            if (to->flPushFront)
                dest.insert(dest.begin(), m[which]);
            else
                dest.push_back(m[which]);
            m.erase(m.begin() + which);
            break;
        }
        case 7: { // find by position and position of an item
            int n = pick(static_cast<int>(m.size()) + 3) - 1;
            void *expected = n >= 1 && n <= static_cast<int>(m.size()) ? m[n - 1].p : nullptr;
            ASSERT_EQ(ListFindItemN(l, n), expected);
            if (!m.empty()) {
                int which = pick(static_cast<int>(m.size()));
                ASSERT_EQ(ListGetItemPos(l, m[which].p), which + 1);
            }
            break;
        }
        case 8: { // walks in both directions
            size_t i = 0;
            for (void *p = ListWalk(l, 0); p; p = ListWalk(l, 1), ++i)
                ASSERT_EQ(p, m.at(i).p);
            ASSERT_EQ(i, m.size());
            i = m.size();
            for (void *p = ListWalkBackward(l, 0); p; p = ListWalkBackward(l, 1))
                ASSERT_EQ(p, m.at(--i).p);
            ASSERT_EQ(i, 0u);
            break;
        }
        case 9: { // copy onto the other list
            if (m.size() > 10) break;
            List *to = lists[1 - k];
            to->flPushFront = 0;
            ListCopy(l, to);
            auto &dest = model[1 - k];
            ListNode *n = to->pTail;
            for (size_t j = 1; j < m.size(); ++j)
                n = n->pPrev;
            for (const Item &it : m) {
                ASSERT_NE(n->pData, it.p);
                dest.push_back({n->pData, it.bytes});
                n = n->pNext;
            }
            break;
        }
        case 10: // empty it now and then
            if (pick(20) == 0) {
                ListDelAllItems(l);
                m.clear();
            }
            break;
        }
        check(0);
        check(1);
        if (HasFatalFailure()) return;
    }
    ListDel(lists[0]);
    ListDel(lists[1]);
    if (startedEmpty) {
        EXPECT_EQ(pMemB, nullptr) << "every node, item and header went back";
    }
}

} // namespace
