#include "platform/heaps.h"

namespace launcher {

HANDLE LibraryHeap = nullptr;
HANDLE TextHeap = nullptr;

namespace {

constexpr SIZE_T kInitialHeapSize = 4096;

}  // namespace

void CreateHeaps() {
  LibraryHeap = ::HeapCreate(0, kInitialHeapSize, 0);
  TextHeap = ::HeapCreate(0, kInitialHeapSize, 0);
}

void DestroyHeaps() {
  if (TextHeap != nullptr) ::HeapDestroy(TextHeap);
  if (LibraryHeap != nullptr) ::HeapDestroy(LibraryHeap);
  TextHeap = nullptr;
  LibraryHeap = nullptr;
}

void* HeapTextMemory::Allocate(size_t bytes) { return ::HeapAlloc(heap_, 0, bytes); }

void* HeapTextMemory::Reallocate(void* block, size_t bytes) {
  if (block == nullptr) return ::HeapAlloc(heap_, 0, bytes);
  return ::HeapReAlloc(heap_, 0, block, bytes);
}

void HeapTextMemory::Free(void* block) { ::HeapFree(heap_, 0, block); }

}  // namespace launcher
