// Programs that tests start. A test program including this is a child when kChildVariable holds
// "<modes>|<folder>|<test's process id>" (inherited, so the launcher's DOSBox.exe is one too):
// before main it does what its modes ask, writes "<command line>|<current folder>|<start-up
// flags> <show state> <kind of input>" to ReportOf(<folder>, <pid>), sets its "reported"
// TestEvent, and exits. Modes:
//   o  first empty stdout.txt in its current folder, as DOSBox does with its console hidden;
//   i  first read its input to the end, which comes once no one else holds the pipe's write end;
//   w  first show a topmost window titled kChildWindow, without activating it;
//   h  after the report, hold (pumping messages) until the "release" TestEvent is set or the
//      test ends;
//   r  first restrict the DLL search, as the launcher does;
//   d  load dwmapi.dll by name and end the report with " planted" when the one that came is
//      planted_dll.cc, else " system".
#ifndef TESTS_CHILD_PROCESS_H_
#define TESTS_CHILD_PROCESS_H_

#include <windows.h>

#include <string>
#include <vector>

#include "platform/process_frame.h"
#include "tests/scratch_folder.h"

namespace launcher_test {

constexpr wchar_t kChildVariable[] = L"PB_TEST_CHILD";
constexpr wchar_t kChildWindow[] = L"PB test child window";

// This test program, which tests start as a child.
inline std::wstring SelfPath() {
  wchar_t self[MAX_PATH];
  return std::wstring(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
}

// Starts `program`, this test program or a copy of it; its process handle, null if it failed.
inline HANDLE StartChild(const std::wstring& program) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  if (!::CreateProcessW(program.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child))
    return nullptr;
  ::CloseHandle(child.hThread);
  return child.hProcess;
}

inline void ExpectChildren(const std::wstring& modes, const std::wstring& folder) {
  const std::wstring self = std::to_wstring(::GetCurrentProcessId());
  ::SetEnvironmentVariableW(kChildVariable, (modes + L"|" + folder + L"|" + self).c_str());
}

inline std::wstring ReportOf(const std::wstring& folder, DWORD processId) {
  return folder + L"\\report-" + std::to_wstring(processId) + L".txt";
}

// A named event of the test program run `test` (its process id), so that test programs that run
// at once never share one. "release" lets holding children go; "reported-<child's id>" is set by
// a child once its report is whole (32-bit Wine under qemu loses change notifications).
inline HANDLE TestEvent(const std::wstring& name, DWORD test = ::GetCurrentProcessId()) {
  return ::CreateEventW(nullptr, TRUE, FALSE,
                        (L"PBTest-" + std::to_wstring(test) + L"-" + name).c_str());
}

// The report of the child `process`, removed as read; empty, with a failure saying why, when
// the child ends without one or kPatienceMs pass first.
inline std::string WaitForReport(const std::wstring& folder, HANDLE process) {
  const HANDLE waits[] = {TestEvent(L"reported-" + std::to_wstring(::GetProcessId(process))),
                          process};
  const DWORD woken = ::WaitForMultipleObjects(2, waits, FALSE, kPatienceMs);
  ::CloseHandle(waits[0]);
  const std::wstring name = ReportOf(folder, ::GetProcessId(process));
  const std::string report = ReadBytes(name);
  ::DeleteFileW(name.c_str());
  if (report.empty())
    ADD_FAILURE() << "child process " << ::GetProcessId(process) << " wrote no report "
                  << (woken == WAIT_TIMEOUT ? "within the time limit" : "before it ended");
  return report;
}

// Lets every holding child go; whether `children` all ended within kPatienceMs. Closes them.
inline bool ReleaseChildren(std::vector<HANDLE>& children) {
  HANDLE release = TestEvent(L"release");
  ::SetEvent(release);
  const bool ended =
      children.empty() || ::WaitForMultipleObjects(DWORD(children.size()), children.data(), TRUE,
                                                   kPatienceMs) == WAIT_OBJECT_0;
  for (HANDLE child : children) ::CloseHandle(child);
  children.clear();
  ::ResetEvent(release);
  ::CloseHandle(release);
  return ended;
}

inline const bool kIsChild = [] {
  const wchar_t* setting = _wgetenv(kChildVariable);
  if (setting == nullptr) return false;
  const std::wstring all = setting, modes = all.substr(0, all.find(L'|'));
  const std::wstring folder = all.substr(modes.size() + 1, all.rfind(L'|') - modes.size() - 1);
  const auto has = [&modes](wchar_t mode) { return modes.find(mode) != std::wstring::npos; };
  const DWORD test = wcstoul(all.c_str() + all.rfind(L'|') + 1, nullptr, 10);
  if (has(L'r')) launcher::RestrictDllSearch();
  if (has(L'o'))
    ::CloseHandle(
        ::CreateFileW(L"stdout.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  STARTUPINFOW startup = {};
  ::GetStartupInfoW(&startup);
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  char buffer[256];
  for (DWORD got = 0;
       has(L'i') && ::ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got;) {
  }
  if (has(L'w')) {
    ::ShowWindow(::CreateWindowExW(WS_EX_TOPMOST, L"Static", kChildWindow, WS_POPUP, 0, 0, 200, 100,
                                   nullptr, nullptr, nullptr, nullptr),
                 SW_SHOWNOACTIVATE);
  }
  wchar_t current[MAX_PATH] = {};
  const std::wstring line = std::wstring(::GetCommandLineW()) + L"|" +
                            std::wstring(current, ::GetCurrentDirectoryW(MAX_PATH, current));
  std::string report = std::string(line.begin(), line.end()) + "|" +
                       std::to_string(startup.dwFlags) + " " + std::to_string(startup.wShowWindow) +
                       (::GetFileType(input) == FILE_TYPE_PIPE ? " pipe" : " other");
  if (has(L'd')) {
    HMODULE dll = ::LoadLibraryW(L"dwmapi.dll");
    report += ::GetProcAddress(dll, "PlantedBesideTheProgram") ? " planted" : " system";
  }
  WriteBytes(ReportOf(folder, ::GetCurrentProcessId()), report);
  ::SetEvent(TestEvent(L"reported-" + std::to_wstring(::GetCurrentProcessId()), test));
  const HANDLE waits[] = {TestEvent(L"release", test), ::OpenProcess(SYNCHRONIZE, FALSE, test)};
  while (has(L'h') && ::MsgWaitForMultipleObjects(2, waits, FALSE, INFINITE, QS_ALLINPUT) == 2) {
    for (MSG message; ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);)
      ::DispatchMessageW(&message);
  }
  ::ExitProcess(0);
}();

}  // namespace launcher_test

#endif  // TESTS_CHILD_PROCESS_H_
