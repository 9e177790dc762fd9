#include "platform/path_probe.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>  // after windows.h, whose types it uses

#include <string>
#include <vector>

#include "tests/scratch_folder.h"

namespace launcher_test {
namespace {

using launcher::kProbePathLimit;
using launcher::PATH_ABSENT;
using launcher::PATH_DIRECTORY;
using launcher::ProbePath;

struct ProbeCase {
  std::wstring path;
  int64_t expected;
};

void ExpectProbes(const std::vector<ProbeCase>& cases) {
  for (const ProbeCase& c : cases) {
    std::wstring asked = c.path;
    EXPECT_EQ(ProbePath(asked.c_str()), c.expected) << c.path;
    EXPECT_EQ(asked, c.path) << "the caller's text is never changed";
  }
}

class PathProbe : public testing::Test {
 protected:
  ScratchFolder scratch;
};

TEST_F(PathProbe, ClassifiesFilesAndFolders) {
  ASSERT_TRUE(::CreateDirectoryW((scratch / L"PB35").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((scratch / L"DOSBox.exe").c_str(), nullptr));
  ASSERT_TRUE(MakeFile(scratch / L"twelve", "twelve bytes"));
  ASSERT_TRUE(MakeFile(scratch / L"dosbox.conf", ""));
  ExpectProbes({
      {scratch / L"PB35", PATH_DIRECTORY},
      {scratch / L"PB35\\", PATH_DIRECTORY},
      {scratch / L"PB35/", PATH_DIRECTORY},
      {scratch / L"PB35\\\\//", PATH_DIRECTORY},
      {scratch / L"twelve", 12},
      {scratch / L"twelve\\", 12},  // a file where a folder is expected
      {scratch / L"dosbox.conf", 0},
      {scratch / L"DOSBox.exe", PATH_DIRECTORY},
      {scratch / L"missing", PATH_ABSENT},
      {scratch / L"missing\\", PATH_ABSENT},
      {scratch / L"PB35\\missing.txt", PATH_ABSENT},
  });
}

// 5 GiB, sparse so that nothing is written: the size needs the high 32 bits.
TEST_F(PathProbe, ReportsSizesBeyondFourGigabytes) {
  const std::wstring path = scratch / L"large.bin";
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD returned = 0;
  EXPECT_TRUE(
      ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr));
  LARGE_INTEGER size;
  size.QuadPart = 5LL << 30;
  EXPECT_TRUE(::SetFilePointerEx(file, size, nullptr, FILE_BEGIN));
  EXPECT_TRUE(::SetEndOfFile(file));
  ::CloseHandle(file);
  EXPECT_EQ(ProbePath(path.c_str()), 5368709120LL);
}

TEST_F(PathProbe, AsksForDrivesByTheirType) {
  DWORD drives = ::GetLogicalDrives();
  wchar_t unassigned = 0;
  for (wchar_t letter = L'D'; letter <= L'Y' && unassigned == 0; ++letter) {
    if ((drives & (1u << (letter - L'A'))) == 0) unassigned = letter;
  }
  ASSERT_NE(unassigned, 0) << "every drive letter is in use";
  ExpectProbes({
      {L"C:", PATH_DIRECTORY},
      {L"C:\\", PATH_DIRECTORY},
      {std::wstring(1, unassigned) + L":", PATH_ABSENT},
      {std::wstring(1, unassigned) + L":\\", PATH_ABSENT},
  });
}

TEST_F(PathProbe, FindsNothingInNoPath) {
  EXPECT_EQ(ProbePath(nullptr), PATH_ABSENT);
  ExpectProbes({{L"", PATH_ABSENT},
                {L"\\", PATH_ABSENT},
                {L"/", PATH_ABSENT},
                {L"\\\\", PATH_ABSENT},
                {L"//", PATH_ABSENT},
                {L"\\/\\", PATH_ABSENT}});
}

// A pattern is classified by the first entry that matches it; "." comes first in a folder.
TEST_F(PathProbe, ClassifiesPatternsByTheirFirstMatch) {
  ASSERT_TRUE(::CreateDirectoryW((scratch / L"wild").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((scratch / L"wild\\sub").c_str(), nullptr));
  ASSERT_TRUE(MakeFile(scratch / L"wild\\a.txt", "abc"));
  ExpectProbes({
      {scratch / L"wild\\?.txt", 3},
      {scratch / L"wild\\*.txt", 3},
      {scratch / L"wild\\s*", PATH_DIRECTORY},
      {scratch / L"wild\\*", PATH_DIRECTORY},
      {scratch / L"wild\\*.none", PATH_ABSENT},
  });
}

// A path is probed whole or not at all: cut to its first 260 units it would name something
// else, here an existing file.
TEST_F(PathProbe, ProbesPathsUpToTheLimitOnly) {
  const std::wstring atLimit =
      (scratch / L"") + std::wstring(kProbePathLimit - scratch.path().size() - 1, L'x');
  ASSERT_EQ(atLimit.size(), 260u);
  ASSERT_TRUE(MakeFile(L"\\\\?\\" + atLimit, "five!"));
  ExpectProbes({
      // Windows without long-path support may refuse a name this long (its classic limit is
      // 259 units); Wine takes it, and the probe hands it over whole.
      {atLimit, 5},
      {atLimit + L"y", PATH_ABSENT},
      {atLimit + std::wstring(40, L'y'), PATH_ABSENT},
      {atLimit + std::wstring(40, L'\\'), PATH_ABSENT},
  });
}

}  // namespace
}  // namespace launcher_test
