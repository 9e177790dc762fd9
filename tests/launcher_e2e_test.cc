// The whole launcher, run as a user would start it, in the test session's Wine prefix whose
// C: drive is laid out for each case. A recorder program stands in for DOSBox.exe: it writes
// report-<pid>.txt beside itself and lingers until the test releases it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "launch/config_templates.h"
#include "scratch_folder.h"

namespace launcher_test {
namespace {

const std::wstring kFirst = L"C:\\Program Files\\DOSBox-0.74\\";
const std::wstring kSecond = L"C:\\Program Files (x86)\\DOSBox-0.74\\";
const std::wstring kPbFolder = L"C:\\PB35\\";
const std::wstring kConfig = kPbFolder + L"dosbox.conf";
const wchar_t kDosboxMissing[] = L"Unable to locate the DOSBox or it is not installed.";
const wchar_t kPbMissing[] = L"Unable to locate the PowerBasic folder, \"C:\\PB35\\\".";
const wchar_t kConfigNotWritten[] = L"Unable to write DOSBox configuration file to disk.";

std::wstring BinFolder() {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring path = self;
  return path.substr(0, path.rfind(L'\\') + 1);
}

// One message box as the user saw it: caption, text, visible buttons, shown icons.
std::wstring ReadBox(HWND box) {
  wchar_t caption[256] = {}, text[512] = {};
  ::GetWindowTextW(box, caption, 256);
  ::GetDlgItemTextW(box, 0xFFFF, text, 512);  // the text control of a message box
  int buttons = 0, icons = 0;
  for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    wchar_t kind[64] = {};
    ::GetClassNameW(child, kind, 64);
    if (!::IsWindowVisible(child)) continue;
    buttons += lstrcmpiW(kind, L"Button") == 0;
    // Wine keeps an icon control in every box; only one that holds an icon answers.
    icons += ::SendMessageW(child, STM_GETICON, 0, 0) != 0;
  }
  return std::wstring(caption) + L"|" + text + L"|buttons " + std::to_wstring(buttons) +
         L"|icons " + std::to_wstring(icons);
}

struct LauncherRun {
  DWORD exitCode = 0xDEAD;
  std::vector<std::wstring> boxes;
};

// Starts the launcher, reads and closes every box it shows, and waits for it to end.
LauncherRun RunLauncher(const std::wstring& arguments = L"") {
  LauncherRun run;
  std::wstring commandLine = L"\"" + BinFolder() + L"PBLaunch.exe\"" + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    ADD_FAILURE() << "the launcher did not start";
    return run;
  }
  ::CloseHandle(process.hThread);
  for (int tick = 0; tick < 600; ++tick) {
    if (::WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) break;
    HWND box = nullptr;
    DWORD owner = 0;
    while ((box = ::FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
      ::GetWindowThreadProcessId(box, &owner);
      if (owner == process.dwProcessId && ::IsWindowVisible(box)) break;
    }
    if (box == nullptr) continue;
    run.boxes.push_back(ReadBox(box));
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    while (::IsWindow(box)) ::Sleep(20);
  }
  if (::WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the launcher did not end";
    ::TerminateProcess(process.hProcess, 99);
  }
  ::GetExitCodeProcess(process.hProcess, &run.exitCode);
  ::CloseHandle(process.hProcess);
  return run;
}

// The reports of the stand-ins started from `folder`, waiting for `count` of them.
std::vector<std::wstring> Reports(const std::wstring& folder, size_t count) {
  std::vector<std::wstring> reports;
  for (int tick = 0; tick < 200; ++tick) {
    reports.clear();
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW((folder + L"report-*.txt").c_str(), &entry);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &entry)) {
      const std::string bytes = ReadBytes(folder + entry.cFileName);
      reports.emplace_back(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    }
    if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
    if (reports.size() >= count) break;
    ::Sleep(50);
  }
  return reports;
}

// Waits up to `milliseconds` for the stand-in that wrote `report` to end.
DWORD WaitForStandIn(const std::wstring& report, DWORD milliseconds) {
  const DWORD pid = std::stoul(report.substr(report.find(L"\npid=") + 5));
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
  const DWORD result = process ? ::WaitForSingleObject(process, milliseconds) : WAIT_FAILED;
  if (process) ::CloseHandle(process);
  return result;
}

std::string ExpectedConfig() {
  const launcher::ConfigTemplate& config =
      launcher::SelectTemplate(::GetSystemMetrics(SM_CYSCREEN));
  std::string text(static_cast<size_t>(config.length), '\0');
  launcher::RenderTemplate(config, text.data());
  return text;
}

enum Dosbox { kNone, kEmptyFolder, kDosbox };
// What C:\PB35 is, and what dosbox.conf in it is.
enum Pb { kNoPb, kPbFile, kPbEmpty, kConfigEmpty, kConfigMine, kConfigHeld, kConfigFolder };
const char kMine[] = "[sdl]\r\nfullscreen=true\r\n";
const char kRendered[] = "the text for this screen";

class Launcher : public testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  // Lets every stand-in go and waits for it, then empties the C: drive of what a case laid out.
  static void Clear() {
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, L"PBLaunchTestReleaseDosbox");
    ::SetEvent(release);
    for (const std::wstring& folder : {kFirst, kSecond}) {
      for (const std::wstring& report : Reports(folder, 0)) WaitForStandIn(report, 10000);
      RemoveTree(folder);
    }
    ::ResetEvent(release);
    ::CloseHandle(release);
    RemoveTree(kPbFolder);
  }
  // Lays out the two DOSBox folders and C:\PB35 as a case asks.
  static void Stage(Dosbox first, Dosbox second, Pb pb) {
    bool ok = true;
    for (const auto& [staged, folder] : {std::pair{first, kFirst}, {second, kSecond}}) {
      if (staged != kNone) ok &= ::CreateDirectoryW(folder.c_str(), nullptr) != 0;
      if (staged == kDosbox) {
        ok &= ::CopyFileW((BinFolder() + L"dosbox_recorder.exe").c_str(),
                          (folder + L"DOSBox.exe").c_str(), FALSE) != 0;
      }
    }
    if (pb == kPbFile) ok &= WriteBytes(L"C:\\PB35", "not a folder");
    if (pb >= kPbEmpty) ok &= ::CreateDirectoryW(kPbFolder.c_str(), nullptr) != 0;
    if (pb == kConfigEmpty) ok &= WriteBytes(kConfig, "");
    if (pb == kConfigMine || pb == kConfigHeld) ok &= WriteBytes(kConfig, kMine);
    if (pb == kConfigFolder) ok &= ::CreateDirectoryW(kConfig.c_str(), nullptr) != 0;
    ASSERT_TRUE(ok) << "could not lay out the case";
  }
};

// Every path of the launch sequence, staged for real. Whatever happens, the launcher ends with
// 0, and a DOSBox it started is still running: it does not wait for it.
TEST_F(Launcher, EveryPathOfTheLaunchSequence) {
  const struct {
    const char* name;
    Dosbox first, second;
    Pb pb;
    const wchar_t* arguments;
    const wchar_t* box;           // the one message shown, if any
    const std::wstring* started;  // the folder DOSBox started from, if any
    const char* config;           // dosbox.conf afterwards, if a file
  } cases[] = {
      {"first folder, no PB.exe", kDosbox, kDosbox, kPbEmpty, L"", nullptr, &kFirst, kRendered},
      {"only the (x86) folder", kNone, kDosbox, kPbEmpty, L"", nullptr, &kSecond, kRendered},
      {"first folder without DOSBox.exe", kEmptyFolder, kDosbox, kPbEmpty, L"", kDosboxMissing,
       nullptr, nullptr},
      {"neither folder", kNone, kNone, kPbEmpty, L"", kDosboxMissing, nullptr, nullptr},
      {"no C:\\PB35", kDosbox, kNone, kNoPb, L"", kPbMissing, nullptr, nullptr},
      {"C:\\PB35 a file", kDosbox, kNone, kPbFile, L"", kPbMissing, nullptr, nullptr},
      {"dosbox.conf empty", kDosbox, kNone, kConfigEmpty, L"", nullptr, &kFirst, ""},
      {"dosbox.conf the user's", kDosbox, kNone, kConfigMine, L"", nullptr, &kFirst, kMine},
      {"dosbox.conf held open", kDosbox, kNone, kConfigHeld, L"", nullptr, &kFirst, kMine},
      {"dosbox.conf a folder", kDosbox, kNone, kConfigFolder, L"", kConfigNotWritten, &kFirst,
       nullptr},
      {"arguments change nothing", kDosbox, kNone, kPbEmpty, L" /x --help C:\\x \"two words\"",
       nullptr, &kFirst, kRendered},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Clear();
    Stage(c.first, c.second, c.pb);
    // Held by this process without sharing: creating the file fails, but it is there.
    HANDLE held = c.pb != kConfigHeld ? INVALID_HANDLE_VALUE
                                      : ::CreateFileW(kConfig.c_str(), GENERIC_READ, 0, nullptr,
                                                      OPEN_EXISTING, 0, nullptr);
    const LauncherRun run = RunLauncher(c.arguments);
    if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.boxes, c.box
                             ? std::vector{L"ERROR!|" + std::wstring(c.box) + L"|buttons 1|icons 0"}
                             : std::vector<std::wstring>{});
    const std::vector<std::wstring> first = Reports(kFirst, c.started == &kFirst);
    const std::vector<std::wstring> second = Reports(kSecond, c.started == &kSecond);
    ASSERT_EQ(first.size() + second.size(), c.started ? 1u : 0u);
    if (c.started) {
      const std::wstring& report = first.empty() ? second[0] : first[0];
      // Shown normally, its standard input a pipe (the flags are those two).
      EXPECT_EQ(report.substr(0, report.find(L"\ncwd=")),
                L"commandline=\"" + *c.started +
                    L"DOSBox.exe\"  \"C:\\PB35\\PB.exe\" -noconsole -exit -conf "
                    L"\"C:\\PB35\\dosbox.conf\" \nflags=" +
                    std::to_wstring(STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES) + L"\nshow=" +
                    std::to_wstring(SW_SHOWNORMAL) + L"\nstdin=pipe");
      EXPECT_EQ(WaitForStandIn(report, 0), WAIT_TIMEOUT)
          << "the launcher should not wait for DOSBox";
    }
    const DWORD attributes = ::GetFileAttributesW(kConfig.c_str());
    if (c.config == nullptr) {
      EXPECT_TRUE(attributes == INVALID_FILE_ATTRIBUTES || attributes & FILE_ATTRIBUTE_DIRECTORY);
    } else {
      EXPECT_EQ(ReadBytes(kConfig), c.config == kRendered ? ExpectedConfig() : c.config);
    }
  }
}

// There is no single-instance guard: a second launcher starts a second DOSBox.
TEST_F(Launcher, SecondLauncherStartsAnotherDosbox) {
  Stage(kDosbox, kNone, kPbEmpty);
  EXPECT_EQ(RunLauncher().exitCode, 0u);
  EXPECT_EQ(RunLauncher().exitCode, 0u);
  const std::vector<std::wstring> reports = Reports(kFirst, 2);
  ASSERT_EQ(reports.size(), 2u);
  for (const std::wstring& report : reports) EXPECT_EQ(WaitForStandIn(report, 0), WAIT_TIMEOUT);
}

// Run once in each test session: the text follows the height of the session's X screen, which
// the session also names.
TEST_F(Launcher, ConfigFollowsTheScreenHeight) {
  Stage(kDosbox, kNone, kPbEmpty);
  EXPECT_TRUE(RunLauncher().boxes.empty());
  const std::string written = ReadBytes(kConfig);
  EXPECT_EQ(written, ExpectedConfig());
  char expected[32] = {};
  if (::GetEnvironmentVariableA("LAUNCHER_EXPECTED_RESOLUTION", expected, 32) > 0) {
    const std::string line = std::string("\r\nfullresolution=") + expected + "\r\n";
    EXPECT_NE(written.find(line), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace launcher_test
