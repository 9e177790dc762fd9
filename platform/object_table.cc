#include "platform/object_table.h"

#include <windows.h>

#include "platform/heaps.h"

namespace launcher {

namespace {

// A record is in use while its first field, a handle or pointer, is nonzero.
bool IsLive(const void* record) {
  return record != nullptr && *static_cast<void* const*>(record) != nullptr;
}

void ZeroBytes(void* block, int32_t size) {
  auto* bytes = static_cast<char*>(block);
  for (int32_t i = 0; i < size; ++i) bytes[i] = 0;
}

// Only identities that an open handed out and that are still listed name a record; any other
// value, a closed file's identity among them, names nothing.
void* DynamicRecord(const ObjectTable* table, FileNumber identity) {
  for (void* record = FirstRecord(table->dynamicRecords); record != nullptr;
       record = NextRecord(record)) {
    if (IdentityOfRecord(record) == identity) return record;
  }
  return nullptr;
}

// Grows the slots to `number` plus `growth`, keeping the records and adding empty slots.
bool GrowSlots(ObjectTable* table, FileNumber number) {
  if (number > INT32_MAX - table->growth) return false;
  auto count = static_cast<int32_t>(number + table->growth);
  if (static_cast<uint64_t>(count) > SIZE_MAX / sizeof(void*)) return false;
  SIZE_T bytes = static_cast<SIZE_T>(count) * sizeof(void*);
  void* slots = table->slots == nullptr
                    ? ::HeapAlloc(LibraryHeap, HEAP_ZERO_MEMORY, bytes)
                    : ::HeapReAlloc(LibraryHeap, HEAP_ZERO_MEMORY, table->slots, bytes);
  if (slots == nullptr) return false;
  table->slots = static_cast<void**>(slots);
  table->capacity = count;
  return true;
}

}  // namespace

ObjectTable* CreateObjectTable(int32_t objectSize, int32_t growth, FreeCallback freeCallback) {
  auto* table =
      static_cast<ObjectTable*>(::HeapAlloc(LibraryHeap, HEAP_ZERO_MEMORY, sizeof(ObjectTable)));
  if (table == nullptr) return nullptr;
  table->objectSize = objectSize;
  table->growth = growth;
  table->freeCallback = freeCallback;
  // Without slots the table starts empty; the first static number tries again to get them.
  table->slots = static_cast<void**>(
      ::HeapAlloc(LibraryHeap, HEAP_ZERO_MEMORY, static_cast<SIZE_T>(growth) * sizeof(void*)));
  table->capacity = table->slots != nullptr ? growth : 0;
  return table;
}

void* AllocateObject(ObjectTable* table, FileNumber number) {
  if (table == nullptr) return nullptr;
  if (number == NUMBER_DYNAMIC) {
    return AddRecord(table->dynamicRecords, RecordNodeSize(static_cast<size_t>(table->objectSize)));
  }
  if (number < 0) return nullptr;
  if (number >= table->capacity && !GrowSlots(table, number)) return nullptr;

  if (table->slots[number] != nullptr) {
    // The number is reused: whatever it still holds is released first.
    if (table->freeCallback != nullptr) table->freeCallback(number);
    return table->slots[number];
  }
  table->slots[number] =
      ::HeapAlloc(LibraryHeap, HEAP_ZERO_MEMORY, static_cast<SIZE_T>(table->objectSize));
  return table->slots[number];
}

void* FindObject(ObjectTable* table, FileNumber number) {
  if (table == nullptr || number == NUMBER_DYNAMIC) return nullptr;
  void* record = nullptr;
  if (number >= 0) {
    if (number < table->capacity) record = table->slots[number];
  } else {
    record = DynamicRecord(table, number);
  }
  return IsLive(record) ? record : nullptr;
}

void ReleaseObject(ObjectTable* table, FileNumber number) {
  if (table == nullptr || number == NUMBER_DYNAMIC) return;
  if (number >= 0) {
    // The record stays with its number for the next use.
    if (number < table->capacity && table->slots[number] != nullptr) {
      ZeroBytes(table->slots[number], table->objectSize);
    }
    return;
  }
  void* record = DynamicRecord(table, number);
  if (record != nullptr) RemoveRecord(table->dynamicRecords, record);
}

void ReleaseAllObjects(ObjectTable* table) {
  if (table == nullptr || table->freeCallback == nullptr) return;
  table->cursor = 0;
  for (;;) {
    FileNumber next = NUMBER_DYNAMIC;
    while (table->cursor < table->capacity && next == NUMBER_DYNAMIC) {
      int32_t number = table->cursor++;
      if (IsLive(table->slots[number])) next = number;
    }
    // Past the slots, the newest dynamic record is next each time: the callback releases it.
    if (next == NUMBER_DYNAMIC) {
      void* newest = FirstRecord(table->dynamicRecords);
      if (newest == nullptr) return;
      next = IdentityOfRecord(newest);
    }
    table->freeCallback(next);
  }
}

// The complement of the record's address. User addresses of a 32-bit process lie below 2 GiB
// as long as its image is not large-address-aware (the image tests check that it is not), and
// those of a 64-bit one far below 2^63; so an identity is negative and never meets a static
// number however far the slots grow. It is never -1, since no record lies at 0.
FileNumber IdentityOfRecord(const void* record) { return ~reinterpret_cast<FileNumber>(record); }

}  // namespace launcher
