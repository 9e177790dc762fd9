// The one harness for programs that tests start. A test program that includes this header is a
// child when kChildVariable holds "<modes>|<folder>": before main it writes how it was started
// to <folder>\report-<pid>.txt, as "<command line>|<start-up flags> <show state> <kind of
// input>", and exits instead of testing. Mode 'i' first reads its input to the end, which it
// reaches only once no one else holds the pipe's write end; mode 'h' then holds until
// kReleaseEvent is set. The setting passes on to what the test starts, so the launcher's
// DOSBox.exe can be such a child too.
#ifndef TESTS_CHILD_PROCESS_H_
#define TESTS_CHILD_PROCESS_H_

#include <windows.h>

#include <string>
#include <vector>

#include "tests/scratch_folder.h"

namespace launcher_test {

constexpr wchar_t kChildVariable[] = L"PB_TEST_CHILD";
constexpr wchar_t kReleaseEvent[] = L"PBTestReleaseChildren";

inline void ExpectChildren(const std::wstring& modes, const std::wstring& folder) {
  ::SetEnvironmentVariableW(kChildVariable, (modes + L"|" + folder).c_str());
}

// The reports in `folder` once there are `count` (ten seconds at most), each removed as read.
inline std::vector<std::string> TakeReports(const std::wstring& folder, size_t count) {
  std::vector<std::string> reports;
  for (int tick = 0; tick == 0 || (reports.size() < count && tick < 200); ++tick, ::Sleep(50)) {
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW((folder + L"\\report-*.txt").c_str(), &entry);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &entry)) {
      reports.push_back(ReadBytes(folder + L"\\" + entry.cFileName));
      ::DeleteFileW((folder + L"\\" + entry.cFileName).c_str());
    }
    ::FindClose(search);
  }
  return reports;
}

inline const bool kIsChild = [] {
  const wchar_t* setting = _wgetenv(kChildVariable);
  if (setting == nullptr) return false;
  const std::wstring modes(setting, wcscspn(setting, L"|"));
  STARTUPINFOW startup = {};
  ::GetStartupInfoW(&startup);
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  char buffer[256];
  for (DWORD got = 0; modes.find(L'i') != std::wstring::npos &&
                      ::ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0;) {
  }
  const std::wstring line = ::GetCommandLineW();
  const std::string report = std::string(line.begin(), line.end()) + "|" +
                             std::to_string(startup.dwFlags) + " " +
                             std::to_string(startup.wShowWindow) +
                             (::GetFileType(input) == FILE_TYPE_PIPE ? " pipe" : " other");
  // Renamed once whole, so that no one reads half a report.
  const std::wstring name = std::wstring(setting + modes.size() + 1) + L"\\report-" +
                            std::to_wstring(::GetCurrentProcessId());
  WriteBytes(name, report);
  ::MoveFileW(name.c_str(), (name + L".txt").c_str());
  if (modes.find(L'h') != std::wstring::npos)
    ::WaitForSingleObject(::CreateEventW(nullptr, TRUE, FALSE, kReleaseEvent), 60000);
  ::ExitProcess(0);
}();

}  // namespace launcher_test

#endif  // TESTS_CHILD_PROCESS_H_
