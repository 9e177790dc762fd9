// A folder of its own for one test under the Windows temp folder, removed with all it holds
// when the test ends; plus small helpers for staging and reading files on disk.
#ifndef TESTS_SCRATCH_FOLDER_H_
#define TESTS_SCRATCH_FOLDER_H_

#include <windows.h>

#include <string>

namespace launcher_test {

// Removes the file or folder at the absolute `path` (a trailing backslash is fine) and all
// it holds, hidden, read-only and over-long names included.
inline void RemoveTree(std::wstring path) {
  if (!path.empty() && path.back() == L'\\') path.pop_back();
  const std::wstring longForm = L"\\\\?\\" + path;
  ::SetFileAttributesW(longForm.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (::DeleteFileW(longForm.c_str())) return;
  WIN32_FIND_DATAW entry;
  HANDLE search = ::FindFirstFileW((longForm + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
  }
  ::RemoveDirectoryW(longForm.c_str());
}

struct ScratchFolder {
  ScratchFolder() {
    static int serial = 0;
    wchar_t temp[MAX_PATH + 1];
    DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    path = std::wstring(temp, length) + L"pb-test-" + std::to_wstring(::GetCurrentProcessId()) +
           L"-" + std::to_wstring(++serial);
    ::CreateDirectoryW(path.c_str(), nullptr);
  }
  ~ScratchFolder() { RemoveTree(path); }
  ScratchFolder(const ScratchFolder&) = delete;
  std::wstring operator/(const std::wstring& name) const { return path + L"\\" + name; }
  std::wstring path;
};

// Creates (or replaces) a file holding `bytes`, then sets `attributes` when given.
inline bool WriteBytes(const std::wstring& path, const std::string& bytes, DWORD attributes = 0) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  ::CloseHandle(file);
  return ok && (attributes == 0 || ::SetFileAttributesW(path.c_str(), attributes));
}

// The whole content of a file; empty also when it cannot be opened, as while another handle
// holds it without sharing.
inline std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char chunk[65536];
  DWORD got = 0;
  while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  ::CloseHandle(file);
  return bytes;
}

inline bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace launcher_test

#endif  // TESTS_SCRATCH_FOLDER_H_
