#include "platform/display_enumeration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/heap_check.h"

namespace launcher_test {
namespace {

using namespace launcher;

// Displays that cannot be made for real are staged. A staged display's letter names it and
// gives each of its values, so a value that lands in the wrong place shows.
DisplayInfo Staged(char letter) {
  DisplayInfo info = {letter, -letter, 10 * letter, 20 * letter, letter / 2, 8, L"\\\\.\\DISPLAY"};
  info.name[11] = static_cast<wchar_t>(letter);
  return info;
}

constexpr int kNoEntryPoint = 1, kNoScreen = 2;

// The devices in report order, a word each: the display's letter, then '*' for the primary,
// '-' for one not attached to the desktop, '?' for one whose settings cannot be read.
struct {
  std::vector<std::string> devices, later;  // `later`, when set, from the second pass on
  int failures, passes;
} staged;

const std::vector<std::string>& Devices() {
  return staged.passes > 1 && !staged.later.empty() ? staged.later : staged.devices;
}

BOOL WINAPI StagedEnumDisplayDevicesW(LPCWSTR device, DWORD index, DISPLAY_DEVICEW* out,
                                      DWORD flags) {
  staged.passes += index == 0;
  if (device || flags || out->cb != 840 || index >= Devices().size()) return FALSE;
  const std::string& word = Devices()[index];
  std::memcpy(out->DeviceName, Staged(word[0]).name, sizeof out->DeviceName);
  out->StateFlags = word.find('-') != std::string::npos ? 0
                    : word.find('*') != std::string::npos
                        ? DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | DISPLAY_DEVICE_PRIMARY_DEVICE
                        : DISPLAY_DEVICE_ATTACHED_TO_DESKTOP;
  return TRUE;
}

BOOL WINAPI StagedEnumDisplaySettingsW(LPCWSTR device, DWORD mode, DEVMODEW* out) {
  for (const std::string& word : Devices()) {
    const DisplayInfo d = Staged(word[0]);
    if (std::wcscmp(d.name, device) != 0 || word.find('?') != std::string::npos) continue;
    if (mode != ENUM_CURRENT_SETTINGS || out->dmSize != 220 || out->dmDriverExtra) return FALSE;
    out->dmPosition = {d.x, d.y};
    out->dmPelsWidth = d.width;
    out->dmPelsHeight = d.height;
    out->dmDisplayFrequency = d.frequency;
    out->dmBitsPerPel = d.depth;
    return TRUE;
  }
  return FALSE;
}

// The real module, but the staged entry point, or none.
FARPROC WINAPI StagedGetProcAddress(HMODULE module, LPCSTR name) {
  if ((staged.failures & kNoEntryPoint) || !module || std::strcmp(name, "EnumDisplayDevicesW"))
    return nullptr;
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(StagedEnumDisplayDevicesW));
}

// The whole-screen fallback is the real one, unless its device context is to fail.
HDC WINAPI StagedCreateDCW(LPCWSTR driver, LPCWSTR device, LPCWSTR output, const DEVMODEW* mode) {
  return (staged.failures & kNoScreen) ? nullptr : ::CreateDCW(driver, device, output, mode);
}

constexpr DisplayApi kStagedApi = {
    ::LoadLibraryW,     StagedGetProcAddress, ::FreeLibrary,   StagedEnumDisplaySettingsW,
    ::GetSystemMetrics, StagedCreateDCW,      ::GetDeviceCaps, ::DeleteDC,
};

// The table, a letter per slot: a staged display, S the whole screen, 0 unwritten, ? other.
// Read while the table is live, after the heaps are checked.
std::string Letters() {
  ExpectHeapsWhole();
  // Wine reports the refresh rate of the screen as 1, the hardware's default: stored as 0.
  const DisplayInfo screen = {
      0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN), 0, 32, L""};
  std::string letters;
  for (int32_t i = 0; i < DisplayCount; ++i) {
    const DisplayInfo& slot = DisplayTable[i];
    const DisplayInfo zero = {}, letter = Staged(static_cast<char>(slot.name[11]));
    letters += !std::memcmp(&slot, &zero, sizeof slot)     ? '0'
               : !std::memcmp(&slot, &screen, sizeof slot) ? 'S'
               : !std::memcmp(&slot, &letter, sizeof slot) ? static_cast<char>(slot.name[11])
                                                           : '?';
  }
  return letters;
}

// The primary in slot 0, the others in report order; the whole screen when the devices say
// nothing usable.
TEST(Displays, StagedTableOfTheAttachedDisplays) {
  const struct {
    std::vector<std::string> devices, later;
    int failures;
    const char* table;
  } cases[] = {
      {{"T", "M*"}, {}, 0, "MT"},                // the secondary reported first, taller
      {{"M*", "N-", "T"}, {}, 0, "MT"},          // a device not attached takes no slot
      {{"T", "M*?"}, {}, 0, "0T"},               // the primary's settings cannot be read
      {{"M*", "T?", "L"}, {}, 0, "ML0"},         // a secondary's: the next moves up
      {{"T", "L"}, {}, 0, "TL"},                 // no primary
      {{"T", "L"}, {"T", "M*", "L"}, 0, "TM"},   // a primary only for the filling pass
      {{"M*", "T"}, {"M*", "N", "T"}, 0, "MN"},  // a display attached between the passes
      {{"M-", "T-"}, {}, 0, "S"},                // none attached
      {{"M*"}, {}, kNoEntryPoint, "S"},
      {{}, {}, kNoScreen, ""},  // no table at all
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    staged = {c.devices, c.later, c.failures, 0};
    UseDisplayApiForTesting(&kStagedApi);
    EXPECT_EQ(ExamineDisplays(), static_cast<int32_t>(std::strlen(c.table)));
    EXPECT_EQ(Letters(), c.table);
    for (int i = 0; c.table[i]; ++i) EXPECT_EQ(DisplayHeight(i), DisplayTable[i].height);
    EXPECT_EQ(DisplayHeight(-1), 0);
    EXPECT_EQ(DisplayHeight(DisplayCount), 0);
    ReleaseDisplays();
  }
  UseDisplayApiForTesting(nullptr);
}

}  // namespace
}  // namespace launcher_test
