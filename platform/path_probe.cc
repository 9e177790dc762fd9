#include "platform/path_probe.h"

#include <windows.h>

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

  // Every query works on this copy, which has room for one appended backslash.
  wchar_t copy[kProbePathLimit + 1];
  int n = 0;
  while (n < kProbePathLimit && path[n] != 0) {
    copy[n] = path[n];
    ++n;
  }
  // A shortened path would name something else; nothing that long is looked at.
  if (path[n] != 0) return PATH_ABSENT;
  copy[n] = 0;

  // "C:" and "C:\" ask whether the drive exists; "C:" needs its backslash to name the root.
  if ((n == 2 || n == 3) && copy[1] == L':') {
    if (n == 2) {
      copy[2] = L'\\';
      copy[3] = 0;
    }
    return DriveResult(copy);
  }

  // A folder is found by its own directory entry, which a trailing separator would hide.
  for (int i = n - 1; i >= 0 && IsSeparator(copy[i]); --i) copy[i] = 0;

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
