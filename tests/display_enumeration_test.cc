#include "platform/display_enumeration.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/heaps.h"

namespace launcher_test {
namespace {

using launcher::DisplayCount;
using launcher::DisplayHeight;
using launcher::DisplayInfo;
using launcher::DisplayTable;
using launcher::ExamineDisplays;

// The session's X screen (WINE_SESSION_SCREEN, WxHxD, or its default) is the primary display,
// found through the device enumeration (the fallback has no name), the same each time.
TEST(RealDisplay, PrimaryIsTheSessionScreen) {
  int width = 1920, height = 1080;
  if (const char* screen = std::getenv("WINE_SESSION_SCREEN")) {
    std::sscanf(screen, "%dx%d", &width, &height);
  }
  EXPECT_EQ(DisplayHeight(0), 0) << "before any examination";
  const int32_t count = ExamineDisplays();
  ASSERT_GE(count, 1);
  EXPECT_EQ(DisplayHeight(0), height);
  EXPECT_EQ(DisplayTable[0].width, width);
  EXPECT_NE(DisplayTable[0].name[0], L'\0');
  const DisplayInfo first = DisplayTable[0];
  EXPECT_EQ(ExamineDisplays(), count);
  EXPECT_EQ(std::memcmp(&first, DisplayTable, sizeof first), 0);
}

// ---- Staged displays, through the test seam ----------------------------------------------

// Records by letter: displays as EnumDisplaySettingsW reports them, the whole-screen fallback
// (S, and D with the default refresh rate) and an unwritten slot (0).
const std::map<char, DisplayInfo> kRecords = {
    {'M', {0, 0, 1920, 1080, 60, 32, L"\\\\.\\DISPLAY1"}},
    {'T', {1920, -360, 2560, 1440, 144, 32, L"\\\\.\\DISPLAY2"}},
    {'L', {-1280, 0, 1280, 1024, 75, 16, L"\\\\.\\DISPLAY3"}},
    {'N', {0, 1080, 800, 600, 59, 24, L"\\\\.\\DISPLAY4"}},
    {'S', {0, 0, 1280, 1024, 60, 24, L""}},
    {'D', {0, 0, 1280, 1024, 0, 24, L""}},
    {'0', {}},
};

// The table of the last examination, a letter per slot ('?' for an unknown record).
std::string Letters() {
  std::string letters;
  for (int32_t i = 0; i < DisplayCount; ++i) {
    letters += '?';
    for (const auto& [letter, record] : kRecords) {
      if (std::memcmp(&record, &DisplayTable[i], sizeof record) == 0) letters.back() = letter;
    }
  }
  return letters;
}

// Failures to stage.
constexpr int kNoModule = 1, kNoEntryPoint = 2, kNoScreen = 4, kRefreshOne = 8;

// A Windows whose displays the test chooses. Its functions fail when misused, which shows in
// the table or the counts.
struct FakeWindows {
  // The devices in report order, a word each: the display's letter, then '*' for the primary,
  // '-' for one not attached to the desktop, '?' for one whose settings cannot be read.
  const char* devices = "";
  const char* laterDevices = "";  // when not empty, reported from the second pass on
  int staged = 0;                 // failures to stage
  int loads = 0, lookups = 0, frees = 0, passes = 0, openScreens = 0;
};

FakeWindows* fake = nullptr;
const auto kModule = reinterpret_cast<HMODULE>(0x5150000);
const auto kScreen = reinterpret_cast<HDC>(0x0DC0);

bool Has(const std::string& word, char mark) { return word.find(mark) != std::string::npos; }

std::vector<std::string> Reported() {
  std::istringstream words(fake->passes > 1 && *fake->laterDevices ? fake->laterDevices
                                                                   : fake->devices);
  return {std::istream_iterator<std::string>(words), {}};
}

BOOL WINAPI FakeEnumDisplayDevicesW(LPCWSTR device, DWORD index, DISPLAY_DEVICEW* out,
                                    DWORD flags) {
  if (index == 0) ++fake->passes;
  if (device || flags || out->cb != 840 || index >= Reported().size()) return FALSE;
  const std::string word = Reported()[index];
  std::wcsncpy(out->DeviceName, kRecords.at(word[0]).name, 32);
  out->StateFlags = Has(word, '-') ? 0
                                   : DISPLAY_DEVICE_ATTACHED_TO_DESKTOP |
                                         (Has(word, '*') ? DISPLAY_DEVICE_PRIMARY_DEVICE : 0);
  return TRUE;
}

HMODULE WINAPI FakeLoadLibraryW(LPCWSTR name) {
  ++fake->loads;
  return (fake->staged & kNoModule) || std::wcscmp(name, L"User32.DLL") ? nullptr : kModule;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
  ++fake->lookups;
  if ((fake->staged & kNoEntryPoint) || module != kModule) return nullptr;
  if (std::strcmp(name, "EnumDisplayDevicesW") != 0) return nullptr;
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(FakeEnumDisplayDevicesW));
}

BOOL WINAPI FakeFreeLibrary(HMODULE module) { return module == kModule && ++fake->frees; }

BOOL WINAPI FakeEnumDisplaySettingsW(LPCWSTR device, DWORD mode, DEVMODEW* out) {
  if (mode != ENUM_CURRENT_SETTINGS || out->dmSize != 220 || out->dmDriverExtra) return FALSE;
  for (const std::string& word : Reported()) {
    const DisplayInfo& d = kRecords.at(word[0]);
    if (std::wcscmp(d.name, device) != 0 || Has(word, '?')) continue;
    out->dmPosition = {d.x, d.y};
    out->dmPelsWidth = d.width;
    out->dmPelsHeight = d.height;
    out->dmDisplayFrequency = d.frequency;
    out->dmBitsPerPel = d.depth;
    return TRUE;
  }
  return FALSE;
}

int WINAPI FakeGetSystemMetrics(int index) {
  return index == SM_CXSCREEN ? 1280 : index == SM_CYSCREEN ? 1024 : 0;
}

HDC WINAPI FakeCreateDCW(LPCWSTR driver, LPCWSTR device, LPCWSTR output, const DEVMODEW* mode) {
  if ((fake->staged & kNoScreen) || std::wcscmp(driver, L"DISPLAY") != 0) return nullptr;
  if (device || output || mode) return nullptr;
  ++fake->openScreens;
  return kScreen;
}

int WINAPI FakeGetDeviceCaps(HDC screen, int index) {
  if (screen == kScreen && index == VREFRESH) return (fake->staged & kRefreshOne) ? 1 : 60;
  return screen == kScreen && index == BITSPIXEL ? 24 : 0;
}

BOOL WINAPI FakeDeleteDC(HDC screen) { return screen == kScreen && fake->openScreens--; }

constexpr launcher::DisplayApi kFakeApi = {
    FakeLoadLibraryW,     FakeGetProcAddress, FakeFreeLibrary,   FakeEnumDisplaySettingsW,
    FakeGetSystemMetrics, FakeCreateDCW,      FakeGetDeviceCaps, FakeDeleteDC,
};

// Blocks in use on LibraryHeap: a table that is not freed shows up here.
int BusyBlocks() {
  int busy = 0;
  for (PROCESS_HEAP_ENTRY e = {}; ::HeapWalk(launcher::LibraryHeap, &e);) {
    busy += (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0;
  }
  return busy;
}

// The primary in slot 0, the others in report order; the whole screen when the devices say
// nothing usable. Examining again frees the last table and does not load the module again.
TEST(StagedDisplays, TableOfTheAttachedDisplays) {
  const struct {
    const char* what;
    const char* devices;
    const char* laterDevices;  // from the filling pass on, when not empty
    int staged;
    const char* table;
  } cases[] = {
      {"secondary reported first, taller", "T M*", "", 0, "MT"},
      {"primary reported last", "T L M*", "", 0, "MTL"},
      {"a device not attached takes no slot", "M* N- T", "", 0, "MT"},
      {"unreadable primary", "T M*?", "", 0, "0T"},
      {"unreadable secondary: the next moves up", "M* T? L", "", 0, "ML0"},
      {"no primary", "T L", "", 0, "TL"},
      {"no primary counted, one appears for the filling", "T L", "T M* L", 0, "TM"},
      {"display attached between the passes", "M* T", "M* N T", 0, "MN"},
      {"display detached between the passes", "M* T", "M*", 0, "M0"},
      {"none attached", "M- T-", "", 0, "S"},
      {"no entry point", "M*", "", kNoEntryPoint, "S"},
      {"module cannot be loaded", "M*", "", kNoModule, "S"},
      {"fallback with refresh 1, the default rate", "", "", kRefreshOne, "D"},
      {"no screen DC, no table", "", "", kNoScreen, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeWindows windows = {c.devices, c.laterDevices, c.staged};
    fake = &windows;
    launcher::UseDisplayApiForTesting(&kFakeApi);
    int busy = -1;
    for (int examination = 0; examination < 2; ++examination) {
      windows.passes = 0;
      EXPECT_EQ(ExamineDisplays(), static_cast<int32_t>(std::strlen(c.table)));
      EXPECT_EQ(Letters(), c.table);
      for (int i = 0; c.table[i]; ++i) EXPECT_EQ(DisplayHeight(i), kRecords.at(c.table[i]).height);
      EXPECT_EQ(DisplayHeight(-1), 0);
      EXPECT_EQ(DisplayHeight(DisplayCount), 0);
      EXPECT_TRUE(::HeapValidate(launcher::LibraryHeap, 0, nullptr)) << "written past the table";
      EXPECT_EQ(windows.openScreens, 0);
      if (busy < 0) busy = BusyBlocks();
      EXPECT_EQ(BusyBlocks(), busy) << "the first table was not freed";
    }
    // A module that loads is kept, with or without the entry point; a failed load is retried.
    const bool loads = (c.staged & kNoModule) == 0;
    EXPECT_EQ(windows.loads, loads ? 1 : 2);
    EXPECT_EQ(windows.lookups, loads ? 1 : 0);
    launcher::ReleaseDisplays();
    EXPECT_EQ(windows.frees, loads ? 1 : 0);
  }
  launcher::UseDisplayApiForTesting(nullptr);
}

}  // namespace
}  // namespace launcher_test
