#include "platform/path_probe.h"

#include <windows.h>

#include "launch/text.h"

namespace launcher {

namespace {

bool IsSeparator(wchar_t unit) { return unit == L'\\' || unit == L'/'; }

// Drive types 0 (unknown) and 1 (no root folder) mean there is no such drive.
int64_t DriveResult(const wchar_t* root) {
  return ::GetDriveTypeW(root) > DRIVE_NO_ROOT_DIR ? PATH_DIRECTORY : PATH_ABSENT;
}

}  // namespace

int64_t ProbePath(const wchar_t* path) {
  if (path == nullptr || path[0] == 0) return PATH_ABSENT;

  size_t n = TextLength(path);
  // "C:" and "C:\" ask whether the drive exists; "C:" needs its backslash to name the root.
  if ((n == 2 || n == 3) && path[1] == L':') {
    const wchar_t root[] = {path[0], L':', n == 3 ? path[2] : L'\\', 0};
    return DriveResult(root);
  }

  // A folder is found by its own directory entry, which a trailing separator would hide.
  // The limit applies to what is searched, so "folder\" and "folder" read alike.
  while (n > 0 && IsSeparator(path[n - 1])) --n;
  // A shortened path would name something else; nothing that long is looked at.
  if (n > kProbePathLimit) return PATH_ABSENT;
  wchar_t copy[kProbePathLimit + 1];
  for (size_t i = 0; i < n; ++i) copy[i] = path[i];
  copy[n] = 0;

  WIN32_FIND_DATAW entry;
  HANDLE search = ::FindFirstFileW(copy, &entry);
  if (search != INVALID_HANDLE_VALUE) {
    int64_t result = PATH_DIRECTORY;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      result = static_cast<int64_t>((static_cast<uint64_t>(entry.nFileSizeHigh) << 32) |
                                    entry.nFileSizeLow);
    }
    ::FindClose(search);
    return result;
  }

  // A share root ("\\server\share") or a parent-relative path has no entry to find; ask
  // for its attributes instead. A file reached this way has no size to report.
  bool twoBackslashes = copy[0] == L'\\' && copy[1] == L'\\';
  bool twoDots = copy[0] == L'.' && copy[1] == L'.';
  if (!twoBackslashes && !twoDots) return PATH_ABSENT;
  DWORD attributes = ::GetFileAttributesW(copy);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PATH_DIRECTORY : PATH_ABSENT;
  }
  return DriveResult(copy);
}

}  // namespace launcher
