// A scratch folder for one test, removed with all it holds, and the tests' file helpers.
#ifndef TESTS_SCRATCH_FOLDER_H_
#define TESTS_SCRATCH_FOLDER_H_

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace launcher_test {

// The longest any one wait of the tests may take: only a fault runs into it, even on a loaded
// machine or under emulation.
constexpr DWORD kPatienceMs = 120 * 1000;

// One pass over the file or folder at `longForm` (a \\?\ path) and all it holds, hidden,
// read-only and over-long names included.
inline void RemoveOnce(const std::wstring& longForm) {
  ::SetFileAttributesW(longForm.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (::DeleteFileW(longForm.c_str())) return;
  WIN32_FIND_DATAW entry;
  HANDLE search = ::FindFirstFileW((longForm + L"\\*").c_str(), &entry);
  for (bool more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &entry)) {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") RemoveOnce(longForm + L"\\" + name);
  }
  ::FindClose(search);
  ::RemoveDirectoryW(longForm.c_str());
}

// Whether `done` came true within kPatienceMs, checking every 100 ms.
template <typename Check>
bool WaitUntil(Check done) {
  for (const ULONGLONG deadline = ::GetTickCount64() + kPatienceMs; !done(); ::Sleep(100))
    if (::GetTickCount64() > deadline) return false;
  return true;
}

// Removes `path` (absolute) with all it holds; whether it is gone. Under Wine a program that
// has just ended may hold its folder a moment longer, so this tries again for kPatienceMs.
inline bool RemoveTree(const std::wstring& path) {
  const std::wstring longForm = L"\\\\?\\" + path.substr(0, path.find_last_not_of(L'\\') + 1);
  return WaitUntil([&] {
    RemoveOnce(longForm);
    return ::GetFileAttributesW(longForm.c_str()) == INVALID_FILE_ATTRIBUTES;
  });
}

struct ScratchFolder {
  ScratchFolder() {
    static int serial = 0;
    wchar_t temp[MAX_PATH + 1];
    path = std::wstring(temp, ::GetTempPathW(MAX_PATH + 1, temp)) + L"pb-test-" +
           std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
    // One may be left by an earlier test program that ended early under the same id.
    if (!RemoveTree(path) || !::CreateDirectoryW(path.c_str(), nullptr))
      ADD_FAILURE() << "cannot make the scratch folder " << path;
  }
  ~ScratchFolder() { EXPECT_TRUE(RemoveTree(path)) << "cannot remove " << path; }
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
