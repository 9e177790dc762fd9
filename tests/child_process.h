// The launcher's DOSBox in the end-to-end tests: a test program including this is that child when
// kChildVariable holds "<folder>|<test's process id>" (inherited from the test through the
// launcher). Before main it reads its input to the end, which comes once no one else holds the
// pipe's write end, writes "<command line>|<current folder>|<start-up flags> <show state> <kind of
// input>" to ReportOf(<folder>, <pid>), sets its "reported" TestEvent, and holds (pumping
// messages) until the "release" TestEvent is set or the test ends.
#ifndef TESTS_CHILD_PROCESS_H_
#define TESTS_CHILD_PROCESS_H_

#include <windows.h>

#include <string>
#include <vector>

#include "tests/scratch_folder.h"

namespace launcher_test {

constexpr wchar_t kChildVariable[] = L"PB_TEST_CHILD";

// This test program, which stands in for DOSBox.
inline std::wstring SelfPath() {
  wchar_t self[MAX_PATH];
  return std::wstring(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
}

inline void ExpectChildren(const std::wstring& folder) {
  const std::wstring self = std::to_wstring(::GetCurrentProcessId());
  ::SetEnvironmentVariableW(kChildVariable, (folder + L"|" + self).c_str());
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
  const std::wstring all = setting, folder = all.substr(0, all.rfind(L'|'));
  const DWORD test = wcstoul(all.c_str() + folder.size() + 1, nullptr, 10);
  STARTUPINFOW startup = {};
  ::GetStartupInfoW(&startup);
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  char buffer[256];
  for (DWORD got = 0; ::ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got;) {
  }
  wchar_t current[MAX_PATH] = {};
  const std::wstring line = std::wstring(::GetCommandLineW()) + L"|" +
                            std::wstring(current, ::GetCurrentDirectoryW(MAX_PATH, current));
  std::string report = std::string(line.begin(), line.end()) + "|" +
                       std::to_string(startup.dwFlags) + " " + std::to_string(startup.wShowWindow) +
                       (::GetFileType(input) == FILE_TYPE_PIPE ? " pipe" : " other");
  WriteBytes(ReportOf(folder, ::GetCurrentProcessId()), report);
  ::SetEvent(TestEvent(L"reported-" + std::to_wstring(::GetCurrentProcessId()), test));
  const HANDLE waits[] = {TestEvent(L"release", test), ::OpenProcess(SYNCHRONIZE, FALSE, test)};
  while (::MsgWaitForMultipleObjects(2, waits, FALSE, INFINITE, QS_ALLINPUT) == 2) {
    for (MSG message; ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);)
      ::DispatchMessageW(&message);
  }
  ::ExitProcess(0);
}();

}  // namespace launcher_test

#endif  // TESTS_CHILD_PROCESS_H_
