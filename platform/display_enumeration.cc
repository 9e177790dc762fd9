#include "platform/display_enumeration.h"

#include "platform/heaps.h"
#include "platform/test_seams.h"

namespace launcher {

DisplayInfo* DisplayTable = nullptr;
int32_t DisplayCount = 0;

namespace {

// The wide-character structures as Windows publishes them, the same on both targets.
static_assert(sizeof(DISPLAY_DEVICEW) == 840, "DISPLAY_DEVICEW.cb");
static_assert(sizeof(DEVMODEW) == 220, "DEVMODEW.dmSize");
static_assert(sizeof(DisplayInfo::name) == sizeof(DISPLAY_DEVICEW::DeviceName),
              "a device name is copied whole");

using EnumDisplayDevicesFunction = BOOL(WINAPI*)(LPCWSTR, DWORD, DISPLAY_DEVICEW*, DWORD);

constexpr DisplayApi kWindowsDisplayApi = {
    &::LoadLibraryW,     &::GetProcAddress, &::FreeLibrary,   &::EnumDisplaySettingsW,
    &::GetSystemMetrics, &::CreateDCW,      &::GetDeviceCaps, &::DeleteDC,
};

#ifdef LAUNCHER_TEST_SEAMS
// Null means Windows itself.
const DisplayApi* DisplayApiForTesting = nullptr;
#endif

const DisplayApi* Api() { return LAUNCHER_SEAM(DisplayApiForTesting, &kWindowsDisplayApi); }

// EnumDisplayDevicesW is looked up at run time rather than imported, so that the image
// starts on systems whose User32.DLL lacks it; those get the whole-screen fallback.
HMODULE DisplayModule = nullptr;
EnumDisplayDevicesFunction EnumDevices = nullptr;

DisplayInfo* AllocateTable(int32_t slots) {
  return static_cast<DisplayInfo*>(
      ::HeapAlloc(LibraryHeap, HEAP_ZERO_MEMORY, sizeof(DisplayInfo) * static_cast<SIZE_T>(slots)));
}

bool Attached(const DISPLAY_DEVICEW& device) {
  return (device.StateFlags & DISPLAY_DEVICE_ATTACHED_TO_DESKTOP) != 0;
}

bool Primary(const DISPLAY_DEVICEW& device) {
  return (device.StateFlags & DISPLAY_DEVICE_PRIMARY_DEVICE) != 0;
}

void FillFromMode(DisplayInfo& info, const DISPLAY_DEVICEW& device, const DEVMODEW& mode) {
  info.x = mode.dmPosition.x;
  info.y = mode.dmPosition.y;
  info.width = static_cast<int32_t>(mode.dmPelsWidth);
  info.height = static_cast<int32_t>(mode.dmPelsHeight);
  info.frequency = static_cast<int32_t>(mode.dmDisplayFrequency);
  info.depth = static_cast<int32_t>(mode.dmBitsPerPel);
  for (int i = 0; i < 32; ++i) info.name[i] = device.DeviceName[i];
  info.name[31] = L'\0';
}

// Builds the table from the devices attached to the desktop. False when none is attached,
// so that the caller falls back to the whole screen.
bool ExamineDevices() {
  DISPLAY_DEVICEW device = {};
  device.cb = sizeof(device);
  DEVMODEW mode = {};
  mode.dmSize = sizeof(mode);
  mode.dmDriverExtra = 0;

  int32_t attached = 0;
  bool primaryAttached = false;
  for (DWORD i = 0; EnumDevices(nullptr, i, &device, 0); ++i) {
    if (!Attached(device)) continue;
    ++attached;
    if (Primary(device)) primaryAttached = true;
  }
  if (attached == 0) return false;

  DisplayTable = AllocateTable(attached);
  if (DisplayTable == nullptr) return true;
  DisplayCount = attached;

  // Without a primary display in the count, every display takes the next slot from 0, so a
  // primary that appears only now cannot land on a slot already written. A display attached
  // between the two passes finds no slot left and is dropped.
  int32_t nextSlot = primaryAttached ? 1 : 0;
  for (DWORD i = 0; EnumDevices(nullptr, i, &device, 0); ++i) {
    if (!Attached(device)) continue;
    if (!Api()->EnumDisplaySettingsW(device.DeviceName, ENUM_CURRENT_SETTINGS, &mode)) continue;
    int32_t slot = (primaryAttached && Primary(device)) ? 0 : nextSlot++;
    if (slot < DisplayCount) FillFromMode(DisplayTable[slot], device, mode);
  }
  return true;
}

// One record for the whole screen, from its device context.
void ExamineScreen() {
  HDC screen = Api()->CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
  if (screen == nullptr) return;
  DisplayTable = AllocateTable(1);
  if (DisplayTable != nullptr) {
    DisplayCount = 1;
    DisplayInfo& info = DisplayTable[0];
    info.width = Api()->GetSystemMetrics(SM_CXSCREEN);
    info.height = Api()->GetSystemMetrics(SM_CYSCREEN);
    int refresh = Api()->GetDeviceCaps(screen, VREFRESH);
    info.frequency = refresh == 1 ? 0 : refresh;  // 1 is the hardware's default rate
    info.depth = Api()->GetDeviceCaps(screen, BITSPIXEL);
  }
  Api()->DeleteDC(screen);
}

}  // namespace

int32_t ExamineDisplays() {
  if (DisplayTable != nullptr) ::HeapFree(LibraryHeap, 0, DisplayTable);
  if (DisplayModule == nullptr) {
    DisplayModule = Api()->LoadLibraryW(L"User32.DLL");
    if (DisplayModule != nullptr) {
      // Through a generic function type: FARPROC is a placeholder for the real signature.
      EnumDevices = reinterpret_cast<EnumDisplayDevicesFunction>(reinterpret_cast<void (*)()>(
          Api()->GetProcAddress(DisplayModule, "EnumDisplayDevicesW")));
    }
  }
  DisplayTable = nullptr;
  DisplayCount = 0;
  if (EnumDevices == nullptr || !ExamineDevices()) ExamineScreen();
  return DisplayCount;
}

int32_t DisplayHeight(int32_t index) {
  if (index < 0 || index >= DisplayCount) return 0;
  return DisplayTable[index].height;
}

void ReleaseDisplays() {
  if (DisplayModule != nullptr) Api()->FreeLibrary(DisplayModule);
}

#ifdef LAUNCHER_TEST_SEAMS
void UseDisplayApiForTesting(const DisplayApi* api) {
  DisplayApiForTesting = api;
  if (DisplayTable != nullptr) ::HeapFree(LibraryHeap, 0, DisplayTable);
  DisplayTable = nullptr;
  DisplayCount = 0;
  DisplayModule = nullptr;
  EnumDevices = nullptr;
}
#endif

}  // namespace launcher
