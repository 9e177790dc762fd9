// The process's two private heaps. Start-up creates them and shutdown destroys each one
// whole, so nothing allocated from them is freed piece by piece at the end of a run.
#ifndef PLATFORM_HEAPS_H_
#define PLATFORM_HEAPS_H_

#include <windows.h>

#include "launch/text.h"

namespace launcher {

// Tables, records and buffers of the platform services.
extern HANDLE LibraryHeap;
// Every text of the launch sequence, and the work area they are composed in.
extern HANDLE TextHeap;

// Both heaps: serialised, 4096 bytes to begin with, growable.
void CreateHeaps();
void DestroyHeaps();

// TextMemory over a private heap; blocks are not zero-filled.
class HeapTextMemory final : public TextMemory {
 public:
  constexpr HeapTextMemory() = default;
  void UseHeap(HANDLE heap) { heap_ = heap; }

  void* Allocate(size_t bytes) override;
  void* Reallocate(void* block, size_t bytes) override;
  void Free(void* block) override;

 private:
  HANDLE heap_ = nullptr;
};

}  // namespace launcher

#endif  // PLATFORM_HEAPS_H_
