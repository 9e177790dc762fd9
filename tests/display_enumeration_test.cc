#include "platform/display_enumeration.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "platform/heaps.h"

namespace launcher_test {
namespace {

using launcher::DisplayApi;
using launcher::DisplayCount;
using launcher::DisplayHeight;
using launcher::DisplayInfo;
using launcher::DisplayTable;
using launcher::ExamineDisplays;
using launcher::ReleaseDisplays;
using launcher::UseDisplayApiForTesting;

// Blocks in use on LibraryHeap: a table that is not freed shows up here.
int BusyBlocks() {
  int busy = 0;
  PROCESS_HEAP_ENTRY entry = {};
  while (::HeapWalk(launcher::LibraryHeap, &entry)) {
    if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) ++busy;
  }
  return busy;
}

std::vector<DisplayInfo> Table() { return {DisplayTable, DisplayTable + DisplayCount}; }

}  // namespace
}  // namespace launcher_test

namespace launcher {

bool operator==(const DisplayInfo& a, const DisplayInfo& b) {
  return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height &&
         a.frequency == b.frequency && a.depth == b.depth && std::wcscmp(a.name, b.name) == 0;
}

void PrintTo(const DisplayInfo& d, std::ostream* out) {
  *out << "{" << d.x << "," << d.y << " " << d.width << "x" << d.height << " " << d.frequency
       << "Hz " << d.depth << "bpp " << testing::PrintToString(std::wstring(d.name)) << "}";
}

}  // namespace launcher

namespace launcher_test {
namespace {

// ---- The real display of the test session ------------------------------------------------

// The X screen the Wine session runs on: WINE_SESSION_SCREEN (WxHxD) or its default.
void SessionScreen(int& width, int& height) {
  width = 1920;
  height = 1080;
  if (const char* screen = std::getenv("WINE_SESSION_SCREEN")) {
    std::sscanf(screen, "%dx%d", &width, &height);
  }
}

// The names this image imports, by walking its own import directory.
std::set<std::string> ImportedNames() {
  auto* base = reinterpret_cast<const BYTE*>(::GetModuleHandleW(nullptr));
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::set<std::string> names;
  auto* module = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
  for (; module->Name != 0; ++module) {
    DWORD thunks =
        module->OriginalFirstThunk != 0 ? module->OriginalFirstThunk : module->FirstThunk;
    for (auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + thunks);
         thunk->u1.AddressOfData != 0; ++thunk) {
      if (IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)) continue;
      names.insert(
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData)->Name);
    }
  }
  return names;
}

class RealDisplay : public testing::Test {
 protected:
  void SetUp() override { UseDisplayApiForTesting(nullptr); }
  void TearDown() override { UseDisplayApiForTesting(nullptr); }
};

TEST_F(RealDisplay, PrimaryIsTheSessionScreen) {
  int width = 0;
  int height = 0;
  SessionScreen(width, height);
  ASSERT_GE(ExamineDisplays(), 1);
  EXPECT_EQ(DisplayHeight(0), height);
  const DisplayInfo first = DisplayTable[0];
  EXPECT_EQ(first.width, width);
  EXPECT_EQ(first.x, 0);
  EXPECT_EQ(first.y, 0);
  EXPECT_GT(first.depth, 0);
  EXPECT_NE(first.name[0], L'\0') << "the record comes from the device enumeration";

  const int count = DisplayCount;
  EXPECT_EQ(ExamineDisplays(), count);
  EXPECT_EQ(DisplayTable[0], first);
  ReleaseDisplays();
}

// The enumeration entry point is found at run time, never imported, while its neighbours are.
TEST_F(RealDisplay, EnumDisplayDevicesIsNotImported) {
  const std::set<std::string> names = ImportedNames();
  EXPECT_EQ(names.count("EnumDisplaySettingsW"), 1u) << "the import walk found nothing";
  EXPECT_EQ(names.count("EnumDisplayDevicesW"), 0u);
}

// ---- Staged displays ---------------------------------------------------------------------

struct FakeDevice {
  DisplayInfo mode;  // its name and what EnumDisplaySettingsW reports
  DWORD flags;
  bool readable = true;  // false: EnumDisplaySettingsW fails for it
};

constexpr DWORD kAttached = DISPLAY_DEVICE_ATTACHED_TO_DESKTOP;
constexpr DWORD kPrimary = DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | DISPLAY_DEVICE_PRIMARY_DEVICE;

// A Windows whose displays the test chooses. The fake functions check their arguments and
// note every misuse in `faults`.
struct FakeWindows {
  std::vector<FakeDevice> devices;       // reported by every enumeration pass...
  std::vector<FakeDevice> laterDevices;  // ...or, when not empty, from the second pass on
  bool moduleLoads = true;
  bool hasEntryPoint = true;
  bool screenOpens = true;
  int screenWidth = 1280, screenHeight = 1024, refresh = 75, bitsPerPixel = 16;

  int loads = 0, lookups = 0, frees = 0, screensOpened = 0, screensDeleted = 0, passes = 0;
  std::vector<std::string> faults;
};

FakeWindows* fake = nullptr;
const auto kModule = reinterpret_cast<HMODULE>(0x5150000);
const auto kScreen = reinterpret_cast<HDC>(0x0DC0);

void Fault(const std::string& what) { fake->faults.push_back(what); }

const std::vector<FakeDevice>& Reported() {
  return fake->passes > 1 && !fake->laterDevices.empty() ? fake->laterDevices : fake->devices;
}

BOOL WINAPI FakeEnumDisplayDevicesW(LPCWSTR device, DWORD index, DISPLAY_DEVICEW* out,
                                    DWORD flags) {
  if (device != nullptr || flags != 0) Fault("EnumDisplayDevicesW with a device name or flags");
  if (out->cb != 840) Fault("DISPLAY_DEVICEW.cb " + std::to_string(out->cb));
  if (index == 0) ++fake->passes;
  if (index >= Reported().size()) return FALSE;
  const FakeDevice& d = Reported()[index];
  std::wcsncpy(out->DeviceName, d.mode.name, 32);
  out->StateFlags = d.flags;
  return TRUE;
}

HMODULE WINAPI FakeLoadLibraryW(LPCWSTR name) {
  ++fake->loads;
  if (std::wcscmp(name, L"User32.DLL") != 0) Fault("loaded another module");
  return fake->moduleLoads ? kModule : nullptr;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
  ++fake->lookups;
  if (module != kModule || std::strcmp(name, "EnumDisplayDevicesW") != 0) Fault("looked up");
  if (!fake->hasEntryPoint) return nullptr;
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(FakeEnumDisplayDevicesW));
}

BOOL WINAPI FakeFreeLibrary(HMODULE module) {
  ++fake->frees;
  if (module != kModule) Fault("freed another module");
  return TRUE;
}

BOOL WINAPI FakeEnumDisplaySettingsW(LPCWSTR device, DWORD mode, DEVMODEW* out) {
  if (mode != ENUM_CURRENT_SETTINGS) Fault("not the current settings");
  if (out->dmSize != 220 || out->dmDriverExtra != 0) Fault("DEVMODEW sizes");
  for (const FakeDevice& d : Reported()) {
    if (std::wcscmp(d.mode.name, device) != 0) continue;
    if (!d.readable) return FALSE;
    out->dmPosition.x = d.mode.x;
    out->dmPosition.y = d.mode.y;
    out->dmPelsWidth = d.mode.width;
    out->dmPelsHeight = d.mode.height;
    out->dmDisplayFrequency = d.mode.frequency;
    out->dmBitsPerPel = d.mode.depth;
    return TRUE;
  }
  Fault("settings of an unknown device");
  return FALSE;
}

int WINAPI FakeGetSystemMetrics(int index) {
  if (index == SM_CXSCREEN) return fake->screenWidth;
  if (index == SM_CYSCREEN) return fake->screenHeight;
  Fault("GetSystemMetrics " + std::to_string(index));
  return 0;
}

HDC WINAPI FakeCreateDCW(LPCWSTR driver, LPCWSTR device, LPCWSTR output, const DEVMODEW* mode) {
  if (std::wcscmp(driver, L"DISPLAY") != 0 || device != nullptr || output != nullptr ||
      mode != nullptr) {
    Fault("CreateDCW arguments");
  }
  if (!fake->screenOpens) return nullptr;
  ++fake->screensOpened;
  return kScreen;
}

int WINAPI FakeGetDeviceCaps(HDC screen, int index) {
  if (screen != kScreen) Fault("GetDeviceCaps on another DC");
  if (index == VREFRESH) return fake->refresh;
  if (index == BITSPIXEL) return fake->bitsPerPixel;
  Fault("GetDeviceCaps " + std::to_string(index));
  return 0;
}

BOOL WINAPI FakeDeleteDC(HDC screen) {
  if (screen != kScreen) Fault("deleted another DC");
  ++fake->screensDeleted;
  return TRUE;
}

constexpr DisplayApi kFakeApi = {
    FakeLoadLibraryW,     FakeGetProcAddress, FakeFreeLibrary,   FakeEnumDisplaySettingsW,
    FakeGetSystemMetrics, FakeCreateDCW,      FakeGetDeviceCaps, FakeDeleteDC,
};

class StagedDisplays : public testing::Test {
 protected:
  void SetUp() override {
    fake = &windows_;
    UseDisplayApiForTesting(&kFakeApi);
  }
  void TearDown() override {
    UseDisplayApiForTesting(nullptr);
    fake = nullptr;
    for (const std::string& fault : windows_.faults) ADD_FAILURE() << fault;
  }

  // The table must be exactly `expected`, and DisplayHeight must read it and nothing beyond.
  void ExpectTable(const std::vector<DisplayInfo>& expected) {
    ASSERT_EQ(DisplayCount, static_cast<int32_t>(expected.size()));
    EXPECT_EQ(Table(), expected);
    for (int32_t i = 0; i < DisplayCount; ++i) EXPECT_EQ(DisplayHeight(i), expected[i].height);
    EXPECT_EQ(DisplayHeight(-1), 0);
    EXPECT_EQ(DisplayHeight(DisplayCount), 0);
    EXPECT_TRUE(::HeapValidate(launcher::LibraryHeap, 0, nullptr)) << "written past the table";
  }

  FakeWindows windows_;
};

const DisplayInfo kMain = {0, 0, 1920, 1080, 60, 32, L"\\\\.\\DISPLAY1"};
const DisplayInfo kTall = {1920, -360, 2560, 1440, 144, 32, L"\\\\.\\DISPLAY2"};
const DisplayInfo kLeft = {-1280, 0, 1280, 1024, 75, 16, L"\\\\.\\DISPLAY3"};
const DisplayInfo kNew = {0, 1080, 800, 600, 59, 24, L"\\\\.\\DISPLAY4"};
const DisplayInfo kUnwritten = {};

struct EnumerationCase {
  const char* what;
  std::vector<FakeDevice> devices;
  std::vector<FakeDevice> laterDevices;  // from the filling pass on, when not empty
  std::vector<DisplayInfo> table;
};

TEST_F(StagedDisplays, PrimaryFirstThenOthersInReportOrder) {
  const EnumerationCase cases[] = {
      {"one display", {{kMain, kPrimary}}, {}, {kMain}},
      {"secondary reported first and taller",
       {{kTall, kAttached}, {kMain, kPrimary}},
       {},
       {kMain, kTall}},
      {"primary reported last",
       {{kTall, kAttached}, {kLeft, kAttached}, {kMain, kPrimary}},
       {},
       {kMain, kTall, kLeft}},
      {"a device not attached takes no slot",
       {{kMain, kPrimary}, {kNew, 0}, {kTall, kAttached}},
       {},
       {kMain, kTall}},
      {"unreadable primary leaves slot 0 zero",
       {{kTall, kAttached}, {kMain, kPrimary, false}},
       {},
       {kUnwritten, kTall}},
      {"unreadable secondary moves the next one up",
       {{kMain, kPrimary}, {kTall, kAttached, false}, {kLeft, kAttached}},
       {},
       {kMain, kLeft, kUnwritten}},
      {"no primary: report order from slot 0",
       {{kTall, kAttached}, {kLeft, kAttached}},
       {},
       {kTall, kLeft}},
      {"no primary counted, one appears for the filling",
       {{kTall, kAttached}, {kLeft, kAttached}},
       {{kTall, kAttached}, {kMain, kPrimary}, {kLeft, kAttached}},
       {kTall, kMain}},
      {"display attached between the passes, before the primary",
       {{kMain, kPrimary}},
       {{kNew, kAttached}, {kMain, kPrimary}},
       {kMain}},
      {"display attached between the passes, among the others",
       {{kMain, kPrimary}, {kTall, kAttached}},
       {{kMain, kPrimary}, {kNew, kAttached}, {kTall, kAttached}},
       {kMain, kNew}},
      {"display detached between the passes",
       {{kMain, kPrimary}, {kTall, kAttached}},
       {{kMain, kPrimary}},
       {kMain, kUnwritten}},
  };
  for (const EnumerationCase& c : cases) {
    SCOPED_TRACE(c.what);
    windows_.devices = c.devices;
    windows_.laterDevices = c.laterDevices;
    windows_.passes = 0;
    EXPECT_EQ(ExamineDisplays(), static_cast<int32_t>(c.table.size()));
    ExpectTable(c.table);
    EXPECT_EQ(windows_.passes, 2);
    EXPECT_EQ(windows_.screensOpened, 0) << "no fallback when a display is attached";
  }
  EXPECT_EQ(windows_.loads, 1);
  EXPECT_EQ(windows_.lookups, 1);
}

struct FallbackCase {
  const char* what;
  std::vector<FakeDevice> devices;
  bool hasEntryPoint;
  bool moduleLoads;
  int refresh;
  int frequency;  // stored
};

// The whole screen's device context stands in whenever the devices say nothing usable.
TEST_F(StagedDisplays, FallbackIsTheWholeScreen) {
  const FallbackCase cases[] = {
      {"no device reported", {}, true, true, 60, 60},
      {"none attached", {{kMain, 0}, {kTall, 0}}, true, true, 60, 60},
      {"no entry point", {{kMain, kPrimary}}, false, true, 60, 60},
      {"module cannot be loaded", {{kMain, kPrimary}}, true, false, 60, 60},
      {"refresh 1 is the default", {}, true, true, 1, 0},
      {"refresh 0", {}, true, true, 0, 0},
  };
  for (const FallbackCase& c : cases) {
    SCOPED_TRACE(c.what);
    UseDisplayApiForTesting(&kFakeApi);
    windows_ = FakeWindows();
    windows_.devices = c.devices;
    windows_.hasEntryPoint = c.hasEntryPoint;
    windows_.moduleLoads = c.moduleLoads;
    windows_.refresh = c.refresh;
    for (int call = 1; call <= 2; ++call) {
      EXPECT_EQ(ExamineDisplays(), 1);
      ExpectTable({{0, 0, 1280, 1024, c.frequency, 16, L""}});
      EXPECT_EQ(windows_.screensOpened, call);
      EXPECT_EQ(windows_.screensDeleted, call);
    }
    // A module that loads is kept, with or without the entry point; a failed load is retried.
    EXPECT_EQ(windows_.loads, c.moduleLoads ? 1 : 2);
    EXPECT_EQ(windows_.lookups, c.moduleLoads ? 1 : 0);
    ReleaseDisplays();
    EXPECT_EQ(windows_.frees, c.moduleLoads ? 1 : 0);
  }
}

TEST_F(StagedDisplays, NoScreenMeansNoTable) {
  windows_.devices = {{kMain, 0}};
  windows_.screenOpens = false;
  EXPECT_EQ(ExamineDisplays(), 0);
  EXPECT_EQ(DisplayTable, nullptr);
  EXPECT_EQ(DisplayHeight(0), 0);
  EXPECT_EQ(windows_.screensDeleted, 0);
}

// As at process start: nothing loaded, nothing to read.
TEST_F(StagedDisplays, BeforeAnyExamination) {
  EXPECT_EQ(DisplayCount, 0);
  EXPECT_EQ(DisplayHeight(0), 0);
  ReleaseDisplays();
  EXPECT_EQ(windows_.loads, 0);
  EXPECT_EQ(windows_.frees, 0);
}

// Each examination replaces the last table, and the module is loaded and freed once.
TEST_F(StagedDisplays, ExaminingAgainReplacesTheTable) {
  windows_.devices = {{kTall, kAttached}, {kMain, kPrimary}};
  ASSERT_EQ(ExamineDisplays(), 2);
  const int busy = BusyBlocks();
  for (int again = 0; again < 3; ++again) {
    EXPECT_EQ(ExamineDisplays(), 2);
    ExpectTable({kMain, kTall});
    EXPECT_EQ(BusyBlocks(), busy) << "the previous table was not freed";
  }
  EXPECT_EQ(windows_.loads, 1);
  EXPECT_EQ(windows_.lookups, 1);
  ReleaseDisplays();
  EXPECT_EQ(windows_.frees, 1);
}

}  // namespace
}  // namespace launcher_test
