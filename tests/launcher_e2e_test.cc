// The whole launcher, run as a user would start it, in the test session's Wine prefix whose
// C: drive is laid out for each case. A recorder program stands in for DOSBox.exe.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "launch/config_templates.h"
#include "scratch_folder.h"

namespace launcher_test {
namespace {

const std::wstring kFirstFolder = L"C:\\Program Files\\DOSBox-0.74\\";
const std::wstring kSecondFolder = L"C:\\Program Files (x86)\\DOSBox-0.74\\";
const std::wstring kPbFolder = L"C:\\PB35\\";
const std::wstring kConfig = kPbFolder + L"dosbox.conf";
const std::wstring kParameters =
    L" \"C:\\PB35\\PB.exe\" -noconsole -exit -conf \"C:\\PB35\\dosbox.conf\" ";

const std::wstring kDosboxMissing = L"Unable to locate the DOSBox or it is not installed.";
const std::wstring kPbMissing = L"Unable to locate the PowerBasic folder, \"C:\\PB35\\\".";
const std::wstring kConfigNotWritten = L"Unable to write DOSBox configuration file to disk.";
// The stand-in DOSBox lingers until this event is set.
constexpr wchar_t kReleaseEvent[] = L"PBLaunchTestReleaseDosbox";

std::wstring BinFolder() {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  return path.substr(0, path.rfind(L'\\') + 1);
}

// One message box as the user saw it.
struct Box {
  std::wstring caption;
  std::wstring text;
  int buttons = 0;
  int icons = 0;
};

BOOL CALLBACK CountControls(HWND child, LPARAM parameter) {
  auto* box = reinterpret_cast<Box*>(parameter);
  wchar_t kind[64] = {};
  ::GetClassNameW(child, kind, 64);
  if (!::IsWindowVisible(child)) return TRUE;
  if (lstrcmpiW(kind, L"Button") == 0) ++box->buttons;
  const LONG style = ::GetWindowLongW(child, GWL_STYLE);
  // Wine keeps an icon control in every box; only one that holds an icon shows one.
  if (lstrcmpiW(kind, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
      ::SendMessageW(child, STM_GETICON, 0, 0) != 0) {
    ++box->icons;
  }
  return TRUE;
}

struct BoxSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<BoxSearch*>(parameter);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  wchar_t kind[64] = {};
  ::GetClassNameW(window, kind, 64);
  if (owner == search->processId && ::IsWindowVisible(window) && std::wstring(kind) == L"#32770") {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

struct LauncherRun {
  DWORD exitCode = 0xDEAD;
  std::vector<Box> boxes;
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
    BoxSearch search = {process.dwProcessId, nullptr};
    ::EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) continue;
    Box box;
    wchar_t text[512] = {};
    ::GetWindowTextW(search.found, text, 512);
    box.caption = text;
    ::GetDlgItemTextW(search.found, 0xFFFF, text, 512);  // the text control of a message box
    box.text = text;
    ::EnumChildWindows(search.found, CountControls, reinterpret_cast<LPARAM>(&box));
    run.boxes.push_back(box);
    ::PostMessageW(search.found, WM_COMMAND, IDOK, 0);
    while (::IsWindow(search.found)) ::Sleep(20);
  }
  if (::WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the launcher did not end";
    ::TerminateProcess(process.hProcess, 99);
  }
  ::GetExitCodeProcess(process.hProcess, &run.exitCode);
  ::CloseHandle(process.hProcess);
  return run;
}

using Report = std::map<std::wstring, std::wstring>;

// The reports of the DOSBox stand-ins started from `folder`, waiting for `count` of them.
std::vector<Report> Reports(const std::wstring& folder, size_t count) {
  std::vector<Report> reports;
  for (int tick = 0; tick < 200; ++tick) {
    reports.clear();
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW((folder + L"report-*.txt").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::string bytes = ReadBytes(folder + entry.cFileName);
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
        Report report;
        size_t start = 0;
        for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
          const std::wstring line = text.substr(start, end - start);
          const size_t equals = line.find(L'=');
          report[line.substr(0, equals)] = line.substr(equals + 1);
        }
        reports.push_back(report);
      } while (::FindNextFileW(search, &entry));
      ::FindClose(search);
    }
    if (reports.size() >= count) break;
    ::Sleep(50);
  }
  return reports;
}

bool StillRunning(const Report& report) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, std::stoul(report.at(L"pid")));
  if (process == nullptr) return false;
  const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  ::CloseHandle(process);
  return running;
}

std::string ExpectedConfig() {
  const launcher::ConfigTemplate& config =
      launcher::SelectTemplate(::GetSystemMetrics(SM_CYSCREEN));
  std::string text(static_cast<size_t>(config.length), '\0');
  launcher::RenderTemplate(config, text.data());
  return text;
}

class Launcher : public testing::Test {
 protected:
  void SetUp() override {
    ReleaseStandIns();  // any left from an earlier, interrupted run
    release_ = ::CreateEventW(nullptr, TRUE, FALSE, kReleaseEvent);
  }
  void TearDown() override {
    ReleaseStandIns();
    ::CloseHandle(release_);
  }
  // Lets every stand-in go and waits for it, then empties the C: drive of what a case laid out.
  static void ReleaseStandIns() {
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, kReleaseEvent);
    ::SetEvent(release);
    for (const auto* folder : {&kFirstFolder, &kSecondFolder}) {
      for (const Report& report : Reports(*folder, 0)) {
        HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, std::stoul(report.at(L"pid")));
        if (process != nullptr) {
          ::WaitForSingleObject(process, 10000);
          ::CloseHandle(process);
        }
      }
    }
    ::ResetEvent(release);
    ::CloseHandle(release);
    CleanUp();
  }
  static void CleanUp() {
    RemoveTree(kFirstFolder);
    RemoveTree(kSecondFolder);
    RemoveTree(kPbFolder);
  }
  static void StageDosbox(const std::wstring& folder) {
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW((BinFolder() + L"dosbox_recorder.exe").c_str(),
                            (folder + L"DOSBox.exe").c_str(), FALSE));
  }
  static void StagePbFolder() { ASSERT_TRUE(::CreateDirectoryW(kPbFolder.c_str(), nullptr)); }

  // The launcher ended with 0 before the stand-in DOSBox, which got the expected start.
  static void ExpectDosboxStarted(const std::wstring& folder, const LauncherRun& run) {
    EXPECT_EQ(run.exitCode, 0u);
    const std::vector<Report> reports = Reports(folder, 1);
    ASSERT_EQ(reports.size(), 1u);
    const Report& report = reports[0];
    EXPECT_EQ(report.at(L"commandline"), L"\"" + folder + L"DOSBox.exe\" " + kParameters);
    EXPECT_EQ(report.at(L"flags"), std::to_wstring(STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES));
    EXPECT_EQ(report.at(L"show"), std::to_wstring(SW_SHOWNORMAL));
    EXPECT_EQ(report.at(L"stdin"), L"pipe");
    EXPECT_TRUE(StillRunning(report)) << "the launcher should not wait for DOSBox";
  }

  HANDLE release_ = nullptr;
};

TEST_F(Launcher, FirstFolderWritesTheConfigAndStartsDosbox) {
  StageDosbox(kFirstFolder);
  StageDosbox(kSecondFolder);
  StagePbFolder();
  const LauncherRun run = RunLauncher();
  EXPECT_TRUE(run.boxes.empty());
  ExpectDosboxStarted(kFirstFolder, run);
  EXPECT_TRUE(Reports(kSecondFolder, 0).empty());
  EXPECT_EQ(ReadBytes(kConfig), ExpectedConfig());
  EXPECT_FALSE(Exists(kPbFolder + L"PB.exe")) << "PB.exe is DOSBox's to find";
}

TEST_F(Launcher, OnlyTheSecondFolderIsUsedWhenTheFirstIsMissing) {
  StageDosbox(kSecondFolder);
  StagePbFolder();
  const LauncherRun run = RunLauncher();
  EXPECT_TRUE(run.boxes.empty());
  ExpectDosboxStarted(kSecondFolder, run);
}

TEST_F(Launcher, ArgumentsChangeNothing) {
  StageDosbox(kFirstFolder);
  StagePbFolder();
  const LauncherRun run = RunLauncher(L" /x --help C:\\elsewhere \"two words\"");
  EXPECT_TRUE(run.boxes.empty());
  ExpectDosboxStarted(kFirstFolder, run);
  EXPECT_EQ(ReadBytes(kConfig), ExpectedConfig());
}

// Each failure is one plain OK box captioned "ERROR!", and nothing is written or started.
TEST_F(Launcher, MissingPiecesAreReportedInOneBox) {
  enum Staged { kNothing, kEmptyFolder, kDosbox };
  const struct {
    const char* name;
    Staged first, second;
    bool pbFolder, pbAsFile;
    std::wstring message;
  } cases[] = {
      {"neither folder", kNothing, kNothing, true, false, kDosboxMissing},
      {"first folder without DOSBox.exe", kEmptyFolder, kDosbox, true, false, kDosboxMissing},
      {"no PowerBasic folder", kDosbox, kNothing, false, false, kPbMissing},
      {"PowerBasic folder is a file", kDosbox, kNothing, false, true, kPbMissing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CleanUp();
    for (const auto& [staged, folder] :
         {std::pair{c.first, kFirstFolder}, {c.second, kSecondFolder}}) {
      if (staged == kDosbox) StageDosbox(folder);
      if (staged == kEmptyFolder) {
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
      }
    }
    if (c.pbFolder) StagePbFolder();
    if (c.pbAsFile) {
      ASSERT_TRUE(WriteBytes(L"C:\\PB35", "not a folder"));
    }
    const LauncherRun run = RunLauncher();
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].caption, L"ERROR!");
    EXPECT_EQ(run.boxes[0].text, c.message);
    EXPECT_EQ(run.boxes[0].buttons, 1);
    EXPECT_EQ(run.boxes[0].icons, 0);
    EXPECT_TRUE(Reports(kFirstFolder, 0).empty());
    EXPECT_TRUE(Reports(kSecondFolder, 0).empty());
    EXPECT_FALSE(Exists(kConfig));
  }
}

// A configuration the user already has is never read or rewritten, whatever its size.
TEST_F(Launcher, ExistingConfigIsLeftAlone) {
  StageDosbox(kFirstFolder);
  StagePbFolder();
  for (const std::string& content : {std::string(), std::string("[sdl]\r\nfullscreen=true\r\n")}) {
    ASSERT_TRUE(WriteBytes(kConfig, content));
    const LauncherRun run = RunLauncher();
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(ReadBytes(kConfig), content);
  }
  EXPECT_EQ(Reports(kFirstFolder, 2).size(), 2u);
}

// Held open by another program without sharing, the file is still there: left alone too.
TEST_F(Launcher, ConfigHeldOpenByAnotherProgramIsLeftAlone) {
  StageDosbox(kFirstFolder);
  StagePbFolder();
  ASSERT_TRUE(WriteBytes(kConfig, "mine"));
  HANDLE held = ::CreateFileW(kConfig.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const LauncherRun run = RunLauncher();
  ::CloseHandle(held);
  EXPECT_TRUE(run.boxes.empty());
  ExpectDosboxStarted(kFirstFolder, run);
  EXPECT_EQ(ReadBytes(kConfig), "mine");
}

TEST_F(Launcher, ConfigThatCannotBeWrittenIsReportedAndDosboxStillStarts) {
  StageDosbox(kFirstFolder);
  StagePbFolder();
  ASSERT_TRUE(::CreateDirectoryW(kConfig.c_str(), nullptr));
  const LauncherRun run = RunLauncher();
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, L"ERROR!");
  EXPECT_EQ(run.boxes[0].text, kConfigNotWritten);
  ExpectDosboxStarted(kFirstFolder, run);
}

// There is no single-instance guard: a second launcher starts a second DOSBox.
TEST_F(Launcher, SecondLauncherStartsAnotherDosbox) {
  StageDosbox(kFirstFolder);
  StagePbFolder();
  const LauncherRun first = RunLauncher();
  ASSERT_EQ(Reports(kFirstFolder, 1).size(), 1u);
  const LauncherRun second = RunLauncher();
  EXPECT_EQ(first.exitCode, 0u);
  EXPECT_EQ(second.exitCode, 0u);
  const std::vector<Report> reports = Reports(kFirstFolder, 2);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_TRUE(StillRunning(reports[0]));
  EXPECT_TRUE(StillRunning(reports[1]));
}

// Run once in each test session: the text follows the height of the session's X screen.
TEST_F(Launcher, ConfigFollowsTheScreenHeight) {
  StageDosbox(kFirstFolder);
  StagePbFolder();
  const LauncherRun run = RunLauncher();
  EXPECT_TRUE(run.boxes.empty());
  const std::string written = ReadBytes(kConfig);
  EXPECT_EQ(written, ExpectedConfig());
  // Each session names the screen size it was started with.
  wchar_t expected[32] = {};
  if (::GetEnvironmentVariableW(L"LAUNCHER_EXPECTED_RESOLUTION", expected, 32) > 0) {
    const std::string line =
        "\r\nfullresolution=" + std::string(expected, expected + lstrlenW(expected)) + "\r\n";
    EXPECT_NE(written.find(line), std::string::npos) << line;
  }
  std::printf("screen height %d: %s, %zu bytes\n", ::GetSystemMetrics(SM_CYSCREEN),
              launcher::SelectTemplate(::GetSystemMetrics(SM_CYSCREEN)).resolution, written.size());
}

}  // namespace
}  // namespace launcher_test
