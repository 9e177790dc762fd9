// The displays attached to the desktop, one DisplayInfo each in a process-wide table with the
// primary display in slot 0. Never reports an error: a failure gives a smaller table, at worst
// an empty one, and an empty table reads as height 0.
#ifndef PLATFORM_DISPLAY_ENUMERATION_H_
#define PLATFORM_DISPLAY_ENUMERATION_H_

#include <stdint.h>
#include <windows.h>

namespace launcher {

struct DisplayInfo {
  int32_t x;          // left edge on the desktop, in pixels
  int32_t y;          // top edge on the desktop, in pixels
  int32_t width;      // horizontal resolution in pixels
  int32_t height;     // vertical resolution in pixels
  int32_t frequency;  // refresh rate in hertz as Windows reports it; 0 for "default"
  int32_t depth;      // bits per pixel
  wchar_t name[32];   // device name, zero-terminated; empty for the fallback record
};

// The table of the last examination, on LibraryHeap, and its number of slots. Slot 0 is the
// primary display. A slot the examination could not fill (a display whose settings could not
// be read) is all zero. Null and 0 before the first examination and when it found nothing.
extern DisplayInfo* DisplayTable;
extern int32_t DisplayCount;

// Rebuilds the table (freeing the previous one) and returns the number of displays.
int32_t ExamineDisplays();

// Height of slot `index` of the last examination; 0 outside the table.
int32_t DisplayHeight(int32_t index);

// Frees the module that ExamineDisplays loaded, if any. Once, at the end of the process.
void ReleaseDisplays();

// The Windows functions the examination calls, so that tests can stage displays that cannot
// be made for real. EnumDisplayDevicesW is not among them: it is always the address that
// GetProcAddress gives for it.
struct DisplayApi {
  decltype(&::LoadLibraryW) LoadLibraryW;
  decltype(&::GetProcAddress) GetProcAddress;
  decltype(&::FreeLibrary) FreeLibrary;
  decltype(&::EnumDisplaySettingsW) EnumDisplaySettingsW;
  decltype(&::GetSystemMetrics) GetSystemMetrics;
  decltype(&::CreateDCW) CreateDCW;
  decltype(&::GetDeviceCaps) GetDeviceCaps;
  decltype(&::DeleteDC) DeleteDC;
};

#ifdef LAUNCHER_TEST_SEAMS
// Test builds only: makes the examination call `api` (null: Windows itself) and returns it
// to its state at process start: no module, no table. The module is dropped without
// FreeLibrary.
void UseDisplayApiForTesting(const DisplayApi* api);
#endif

}  // namespace launcher

#endif  // PLATFORM_DISPLAY_ENUMERATION_H_
