#include "platform/record_list.h"

#include <windows.h>

#include "platform/heaps.h"

namespace launcher {

namespace {

RecordNode* NodeOf(const void* record) {
  return reinterpret_cast<RecordNode*>(const_cast<char*>(static_cast<const char*>(record)) -
                                       sizeof(RecordNode));
}

void* RecordOf(RecordNode* node) { return node == nullptr ? nullptr : node + 1; }

}  // namespace

void* AddRecord(RecordList& list, size_t nodeSize) {
  auto* node = static_cast<RecordNode*>(::HeapAlloc(LibraryHeap, HEAP_ZERO_MEMORY, nodeSize));
  if (node == nullptr) return nullptr;
  node->next = list.head;
  if (list.head != nullptr) list.head->previous = node;
  list.head = node;
  return RecordOf(node);
}

void RemoveRecord(RecordList& list, void* record) {
  RecordNode* node = NodeOf(record);
  if (node->previous != nullptr) {
    node->previous->next = node->next;
  } else {
    list.head = node->next;
  }
  if (node->next != nullptr) node->next->previous = node->previous;
  ::HeapFree(LibraryHeap, 0, node);
}

void* FirstRecord(const RecordList& list) { return RecordOf(list.head); }

void* NextRecord(const void* record) { return RecordOf(NodeOf(record)->next); }

}  // namespace launcher
