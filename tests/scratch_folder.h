// A folder of its own for one test under the Windows temp folder, removed with everything in
// it (hidden, read-only and over-long names included) when the test ends; plus small file
// helpers for staging and checking what the platform units do on disk.
#ifndef TESTS_SCRATCH_FOLDER_H_
#define TESTS_SCRATCH_FOLDER_H_

#include <windows.h>

#include <string>

namespace launcher_test {

// Removes `path` and all it holds. The \\?\ form lifts the length limit for deep names.
inline void RemoveTree(const std::wstring& path) {
  const std::wstring longForm = L"\\\\?\\" + path;
  WIN32_FIND_DATAW entry;
  HANDLE search = ::FindFirstFileW((longForm + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      ::SetFileAttributesW((L"\\\\?\\" + child).c_str(), FILE_ATTRIBUTE_NORMAL);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        ::DeleteFileW((L"\\\\?\\" + child).c_str());
      }
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
  }
  ::RemoveDirectoryW(longForm.c_str());
}

class ScratchFolder {
 public:
  ScratchFolder() {
    static int serial = 0;
    wchar_t temp[MAX_PATH + 1];
    DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    path_ = std::wstring(temp, length) + L"pb-test-" + std::to_wstring(::GetCurrentProcessId()) +
            L"-" + std::to_wstring(++serial);
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~ScratchFolder() { RemoveTree(path_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Creates (or replaces) a file holding `bytes`, with `attributes` set once it is written.
inline bool MakeFile(const std::wstring& path, const std::string& bytes, DWORD attributes = 0) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  ::CloseHandle(file);
  return ok && (attributes == 0 || ::SetFileAttributesW(path.c_str(), attributes));
}

// The whole content of a file, or "<unreadable>" when it cannot be opened, which is also
// the case while the writer holds it open without sharing.
inline std::string ReadWhole(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<unreadable>";
  std::string content;
  char chunk[65536];
  DWORD got = 0;
  while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
    content.append(chunk, got);
  ::CloseHandle(file);
  return content;
}

inline bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace launcher_test

#endif  // TESTS_SCRATCH_FOLDER_H_
