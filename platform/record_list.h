// An untyped, doubly linked list of records on LibraryHeap, newest first. It serves the
// saved windows of the message requester, the program registry and the dynamically numbered
// files. A caller holds a record by its own address, just past the node's two links; the
// list has no lock of its own.
#ifndef PLATFORM_RECORD_LIST_H_
#define PLATFORM_RECORD_LIST_H_

#include <stddef.h>

namespace launcher {

struct RecordNode {
  RecordNode* next;      // towards older nodes; null at the tail
  RecordNode* previous;  // towards newer nodes; null at the head
};

// The whole list is its head; null when empty.
struct RecordList {
  RecordNode* head = nullptr;
};

// Bytes of a node that carries a record of `recordSize` bytes.
constexpr size_t RecordNodeSize(size_t recordSize) { return sizeof(RecordNode) + recordSize; }

// Allocates a zero-filled node of `nodeSize` bytes (links included), links it in at the
// head and returns its record; null, with the list unchanged, when no memory can be had.
void* AddRecord(RecordList& list, size_t nodeSize);

// Unlinks the node of `record` and frees it; the other records keep their order.
void RemoveRecord(RecordList& list, void* record);

// The newest record, or null for an empty list.
void* FirstRecord(const RecordList& list);
// The next older record, or null after the oldest. Take it before removing `record`.
void* NextRecord(const void* record);

}  // namespace launcher

#endif  // PLATFORM_RECORD_LIST_H_
