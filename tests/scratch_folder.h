// A folder of its own for one test under the Windows temp folder, removed with all it holds
// when the test ends, and the few file helpers the tests share.
#ifndef TESTS_SCRATCH_FOLDER_H_
#define TESTS_SCRATCH_FOLDER_H_

#include <windows.h>

#include <string>

namespace launcher_test {

// Removes the file or folder at the absolute `path` with all it holds, hidden, read-only and
// over-long names included. A program that has just ended may hold its folder a moment longer
// under Wine, so this tries for up to five seconds.
inline void RemoveTree(const std::wstring& path, int attempts = 50) {
  const std::wstring longForm = L"\\\\?\\" + path.substr(0, path.find_last_not_of(L'\\') + 1);
  for (int attempt = 0; attempt < attempts; ++attempt, ::Sleep(100)) {
    ::SetFileAttributesW(longForm.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (::DeleteFileW(longForm.c_str())) return;
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW((longForm + L"\\*").c_str(), &entry);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &entry)) {
      const std::wstring name = entry.cFileName;
      if (name != L"." && name != L"..") RemoveTree(longForm.substr(4) + L"\\" + name, 1);
    }
    ::FindClose(search);
    ::RemoveDirectoryW(longForm.c_str());
    if (::GetFileAttributesW(longForm.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  }
}

struct ScratchFolder {
  ScratchFolder() {
    static int serial = 0;
    wchar_t temp[MAX_PATH + 1];
    path = std::wstring(temp, ::GetTempPathW(MAX_PATH + 1, temp)) + L"pb-test-" +
           std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
    RemoveTree(path);  // left by an earlier test program that ended early under the same id
    ::CreateDirectoryW(path.c_str(), nullptr);
  }
  ~ScratchFolder() { RemoveTree(path); }
  std::wstring operator/(const std::wstring& name) const { return path + L"\\" + name; }
  std::wstring path;
};

// Creates (or replaces) a file holding `bytes`.
inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  const bool ok = ::WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  return ::CloseHandle(file) && ok && written == bytes.size();
}

// The whole content of a file; empty also when it cannot be opened.
inline std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  char chunk[65536];
  for (DWORD got = 0; ::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0;)
    bytes.append(chunk, got);
  ::CloseHandle(file);
  return bytes;
}

}  // namespace launcher_test

#endif  // TESTS_SCRATCH_FOLDER_H_
