// Doubly linked lists over memory-manager blocks. Every node and every item is
// its own block; the header keeps the count and the byte total exact on every
// link and unlink, which the tests check against an independent model.
#include "List.h"

#include "MemMgr.h"

#include <cstdio>
#include <cstring>

namespace {

// The first node holding item, or null.
ListNode *FindNode(const List *l, const void *item) {
    for (ListNode *n = l->pHead; n; n = n->pNext)
        if (n->pData == item) return n;
    return nullptr;
}

// Unlinks the node and gives back the node block; returns the item, or null
// after releasing it as well when release is set.
void *PopNode(List *l, ListNode *n, int release) {
    ListPopLink(l, n);
    void *item = n->pData;
    PutMem(n);
    if (release) {
        PutMem(item);
        return nullptr;
    }
    return item;
}

} // namespace

List *ListCreate(void) {
    return static_cast<List *>(GetMem(sizeof(List)));
}

void *ListPushItem(List *l, const void *src, int size) {
    if (!l || size <= 0) return nullptr;
    // GetMem hands out at least size + 1 bytes: asking for one byte less than
    // a node keeps each node in a single 32-byte unit of the memory manager.
    auto *n = static_cast<ListNode *>(GetMem(sizeof(ListNode) - 1));
    void *item = GetMem(size);
    if (!n || !item) {
        PutMem(n);
        PutMem(item);
        return nullptr;
    }
    if (src) memcpy(item, src, static_cast<size_t>(size));
    n->pData = item;
    n->DataSize = size;
    ListPushLink(l, n);
    return item;
}

void ListPushLink(List *l, ListNode *n) {
    if (!l || !n) return;
    if (l->Count == 0 || !l->pHead || !l->pTail) {
        n->pPrev = n->pNext = nullptr;
        l->pHead = l->pTail = n;
        l->Count = 1;
    } else if (l->flPushFront) {
        n->pPrev = nullptr;
        n->pNext = l->pHead;
        l->pHead->pPrev = n;
        l->pHead = n;
        ++l->Count;
    } else {
        n->pNext = nullptr;
        n->pPrev = l->pTail;
        l->pTail->pNext = n;
        l->pTail = n;
        ++l->Count;
    }
    l->TotalSize += n->DataSize;
}

void ListPopLink(List *l, ListNode *n) {
    if (!l || l->Count == 0 || !l->pHead) return;
    if (!n) n = l->pHead;
    // A node whose ends the header does not confirm belongs to no list or to
    // another one; unlinking it would corrupt both.
    if ((!n->pPrev && n != l->pHead) || (!n->pNext && n != l->pTail)) return;
    // The cursor must never be left on a node that may be released next.
    if (l->pWalk == n) l->pWalk = n->pNext;
    --l->Count;
    l->TotalSize -= n->DataSize;
    if (l->Count == 0) {
        l->pHead = l->pTail = l->pWalk = nullptr;
        return;
    }
    if (n == l->pHead) {
        l->pHead = n->pNext;
        if (l->pHead) l->pHead->pPrev = nullptr;
    } else if (n == l->pTail) {
        l->pTail = n->pPrev;
        l->pTail->pNext = nullptr;
    } else {
        n->pPrev->pNext = n->pNext;
        n->pNext->pPrev = n->pPrev;
    }
}

void *ListPopItem(List *l, void *item, int release) {
    if (!l || l->Count == 0 || !l->pHead) return nullptr;
    ListNode *n = item ? FindNode(l, item) : l->pHead;
    return n ? PopNode(l, n, release) : nullptr;
}

void *ListPopFirstItem(List *l, int release) {
    if (!l || l->Count == 0 || !l->pHead) return nullptr;
    return PopNode(l, l->pHead, release);
}

void *ListPopLastItem(List *l, int release) {
    if (!l || l->Count == 0 || !l->pTail) return nullptr;
    return PopNode(l, l->pTail, release);
}

void ListMoveItem(void *item, List *from, List *to) {
    if (!from || !to || from->Count == 0) return;
    ListNode *n = FindNode(from, item);
    if (!n) return;
    ListPopLink(from, n);
    ListPushLink(to, n);
}

void ListCopy(List *from, List *to) {
    if (!from || !to) return;
    // Counted, so that copying a list onto itself stops after the originals.
    int left = from->Count;
    for (ListNode *n = from->pHead; n && left > 0; n = n->pNext, --left)
        ListPushItem(to, n->pData, n->DataSize);
}

void *ListFindItemN(List *l, int n) {
    if (!l || n < 1) return nullptr;
    ListNode *node = l->pHead;
    for (int i = 1; node && i < n; ++i)
        node = node->pNext;
    return node ? node->pData : nullptr;
}

int ListGetItemPos(List *l, void *item) {
    if (!l) return 0;
    int pos = 1;
    for (ListNode *n = l->pHead; n; n = n->pNext, ++pos)
        if (n->pData == item) return pos;
    return 0;
}

void *ListWalk(List *l, int cont) {
    if (!l) return nullptr;
    if (!cont) l->pWalk = l->pHead;
    ListNode *n = l->pWalk;
    if (!n) return nullptr;
    l->pWalk = n->pNext;
    return n->pData;
}

void *ListWalkBackward(List *l, int cont) {
    if (!l) return nullptr;
    if (!cont) l->pWalk = l->pTail;
    ListNode *n = l->pWalk;
    if (!n) return nullptr;
    l->pWalk = n->pPrev;
    return n->pData;
}

void ListDelAllItems(List *l) {
    if (!l) return;
    ListNode *n = l->pHead;
    while (n) {
        ListNode *next = n->pNext; // read before the node goes back
        PutMem(n->pData);
        PutMem(n);
        n = next;
    }
    l->pHead = l->pTail = l->pWalk = nullptr;
    l->Count = 0;
    l->TotalSize = 0;
}

void ListDel(List *l) {
    if (!l) return;
    ListDelAllItems(l);
    PutMem(l);
}

void ListDump(List *l) {
    if (!l) return;
    int pos = 1;
    for (ListNode *n = l->pHead; n; n = n->pNext, ++pos) {
        int32_t first = 0;
        if (n->pData && n->DataSize > 0)
            memcpy(&first, n->pData,
                   n->DataSize < static_cast<int32_t>(sizeof first)
                       ? static_cast<size_t>(n->DataSize)
                       : sizeof first);
        printf("%3i) %li\n", pos, static_cast<long>(first));
    }
}
