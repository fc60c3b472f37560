// List.h - doubly linked lists that own copies of their items.
//
// Lifecycle: a header comes from ListCreate or is a zero-filled member of the
// caller's record; either way it starts empty. ListPushItem copies the caller's
// bytes into a new memory-manager block that the list owns. An item lives until
// it is popped with the release flag, popped without it (the caller then owns
// it and gives it back with PutMem), or deleted with ListDelAllItems/ListDel.
//
// Items are identified by their data pointer: every operation that takes an
// item compares pointers, never contents.
//
// Walking: each header carries one cursor. ListWalk(l, 0) starts at the head,
// ListWalk(l, 1) continues; ListWalkBackward mirrors it from the tail. A walk
// nested over the same list restarts the outer one. Popping the item the
// cursor stands on moves the cursor to that item's successor.
//
// Null lists and null nodes are ignored everywhere. Single-threaded.
#pragma once

#include <cstdint>

struct ListNode {
    ListNode *pPrev;  // previous node, null at the head
    ListNode *pNext;  // next node, null at the tail
    void *pData;      // the item: a memory-manager block owned by the list
    int32_t DataSize; // size of the item in bytes
};

struct List {
    ListNode *pHead;           // first node, null when empty
    ListNode *pTail;           // last node, null when empty
    ListNode *pWalk;           // the node the next walk step returns
    int32_t Count;             // number of nodes
    int32_t TotalSize;         // sum of DataSize over all nodes
    unsigned char flPushFront; // 0: new nodes go to the tail; else to the head
};

// A new empty header (zero-filled memory-manager block); null when memory is
// exhausted.
List *ListCreate(void);

// Copies size bytes of src (zeros when src is null) into a new item and links
// it at the tail, or at the head when flPushFront is set. Returns the list's
// copy; null for a null list, a size of 0 or below, or exhausted memory (the
// list is then unchanged).
void *ListPushItem(List *l, const void *src, int size);

// Links an existing node at the tail (head when flPushFront is set) and adds
// its DataSize to TotalSize. Null list or node: nothing.
void ListPushLink(List *l, ListNode *n);

// Unlinks the node (null: the head) without releasing it; its own links are
// left as they were. An empty list, or a node that is plainly not linked into
// this list (a head or tail end that the header does not name), changes nothing.
void ListPopLink(List *l, ListNode *n);

// Unlinks the first node holding item (null: the head) and releases the node.
// With release set the item is released too and null comes back; otherwise
// the item is returned and the caller owns it. Null when the list is null or
// empty or no node holds the item.
void *ListPopItem(List *l, void *item, int release);
// As ListPopItem for the head node.
void *ListPopFirstItem(List *l, int release);
// As ListPopItem for the tail node.
void *ListPopLastItem(List *l, int release);

// Moves the node holding item from one list to the other (its tail, or head
// when the destination's flPushFront is set); nothing is copied. Nothing
// happens when either list is null, the source is empty or holds no such item.
void ListMoveItem(void *item, List *from, List *to);

// Pushes a copy of every item of from (head to tail, DataSize bytes each) onto
// to; from and to may be the same list, which then doubles once. Null: nothing.
void ListCopy(List *from, List *to);

// The n-th item from the head (from 1); null when n < 1 or past the end.
void *ListFindItemN(List *l, int n);

// Position of item from the head (from 1); 0 when absent.
int ListGetItemPos(List *l, void *item);

// Next item forwards (cont 0: start at the head); null at the end.
void *ListWalk(List *l, int cont);
// Next item backwards (cont 0: start at the tail); null at the start.
void *ListWalkBackward(List *l, int cont);

// Releases every item, every node and the header itself.
void ListDel(List *l);
// Releases every item and node; the header stays, empty and reusable.
void ListDelAllItems(List *l);

// Prints "%3i) %li\n" per item on standard output: the position from 1 and
// the first 32-bit signed integer of the item (0 for a missing item; the
// bytes of a shorter item, zero-extended).
void ListDump(List *l);
