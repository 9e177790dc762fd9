// A table of numbered records of one kind on LibraryHeap: static numbers 0 and up chosen by
// the caller, plus records made for NUMBER_DYNAMIC and named by an identity from then on.
// The output files are its only user. No lock: one thread uses it.
#ifndef PLATFORM_OBJECT_TABLE_H_
#define PLATFORM_OBJECT_TABLE_H_

#include <stdint.h>

#include "launch/platform_services.h"
#include "platform/record_list.h"

namespace launcher {

// Releases whatever object a number holds; for files, the close operation.
using FreeCallback = void (*)(FileNumber number);

struct ObjectTable {
  int32_t objectSize;         // bytes of one record
  int32_t growth;             // first slot count, and headroom added when slots grow
  int32_t capacity;           // slots now
  void** slots;               // each empty or owning one record, kept once given
  RecordList dynamicRecords;  // records made for NUMBER_DYNAMIC, newest first
  FreeCallback freeCallback;  // may be null
  int32_t cursor;             // position of the walk of ReleaseAllObjects
};

// A record's first field is pointer-sized; the record is in use while it is nonzero.
// Null when no memory can be had; the other operations take a null table as empty.
ObjectTable* CreateObjectTable(int32_t objectSize, int32_t growth, FreeCallback freeCallback);

// The zero-filled record for `number`; for NUMBER_DYNAMIC a new one (see IdentityOfRecord).
// A number beyond the slots grows them to the number plus `growth`. A slot's existing record
// is handed out again after the free callback has released it. Null when no memory could be
// had, for the record or for more slots.
void* AllocateObject(ObjectTable* table, FileNumber number);

// The live record (first field nonzero) for a static number or an identity, or null; a
// released identity, or any value no open handed out, names nothing.
void* FindObject(ObjectTable* table, FileNumber number);

// Zero-fills a static number's record (it stays in its slot) or frees a dynamic one.
void ReleaseObject(ObjectTable* table, FileNumber number);

// Calls the free callback for every live record: static numbers ascending, then dynamic
// records newest first. Does nothing without a callback.
void ReleaseAllObjects(ObjectTable* table);

// The identity that names a record made for NUMBER_DYNAMIC: below NUMBER_DYNAMIC, so never
// a static number.
FileNumber IdentityOfRecord(const void* record);

}  // namespace launcher

#endif  // PLATFORM_OBJECT_TABLE_H_
