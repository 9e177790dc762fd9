// Stands in for DOSBox.exe in the end-to-end tests. It records what the launcher handed it
// (command line, start-up flags, show state, the kind of standard input, working folder) in
// report-<pid>.txt beside itself, then lingers until the test releases it, so the test can
// see that the launcher did not wait.
#include <windows.h>

#include <string>

namespace {

std::wstring StdinKind() {
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return L"none";
  switch (::GetFileType(input)) {
    case FILE_TYPE_PIPE:
      return L"pipe";
    case FILE_TYPE_DISK:
      return L"disk";
    case FILE_TYPE_CHAR:
      return L"char";
    default:
      return L"unknown";
  }
}

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.rfind(L'\\') + 1); }

}  // namespace

int wmain() {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  ::GetStartupInfoW(&startup);
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  wchar_t cwd[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, cwd);

  const DWORD pid = ::GetCurrentProcessId();
  const std::wstring report = L"commandline=" + std::wstring(::GetCommandLineW()) + L"\nflags=" +
                              std::to_wstring(startup.dwFlags) + L"\nshow=" +
                              std::to_wstring(startup.wShowWindow) + L"\nstdin=" + StdinKind() +
                              L"\ncwd=" + cwd + L"\npid=" + std::to_wstring(pid) + L"\n";
  const std::wstring name = Folder(self) + L"report-" + std::to_wstring(pid) + L".txt";
  // Written under a temporary name and renamed, so a reader never sees half a report.
  const std::wstring partial = name + L".partial";
  HANDLE file = ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  ::WriteFile(file, report.data(), static_cast<DWORD>(report.size() * sizeof(wchar_t)), &written,
              nullptr);
  ::CloseHandle(file);
  ::MoveFileW(partial.c_str(), name.c_str());

  HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, L"PBLaunchTestReleaseDosbox");
  ::WaitForSingleObject(release, 60000);
  ::CloseHandle(release);
  return 0;
}
