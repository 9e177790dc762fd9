#include "platform/path_probe.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/scratch_folder.h"

namespace launcher_test {
namespace {

using namespace launcher;

TEST(PathProbe, ClassifiesWhatIsThere) {
  ScratchFolder scratch;
  ASSERT_TRUE(::CreateDirectoryW((scratch / L"PB35").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((scratch / L"PB35\\sub").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(scratch / L"twelve", "twelve bytes"));
  ASSERT_TRUE(WriteBytes(scratch / L"PB35\\a.txt", "abc"));
  ASSERT_TRUE(WriteBytes(scratch / L"empty", ""));
  // A path is probed whole or not at all: cut to its first 260 units it would name this file.
  const std::wstring atLimit =
      (scratch / L"") + std::wstring(kProbePathLimit - scratch.path.size() - 1, L'x');
  ASSERT_TRUE(WriteBytes(L"\\\\?\\" + atLimit, "five!"));
  ASSERT_TRUE(::SetCurrentDirectoryW(scratch.path.c_str()));
  std::wstring aboveRoot = L"..";
  for (int i = 0; i < 30; ++i) aboveRoot += L"\\..";
  wchar_t letter = L'Y';
  while (letter > L'C' && (::GetLogicalDrives() & (1u << (letter - L'A')))) --letter;
  ASSERT_GT(letter, L'C') << "every drive letter is in use";

  const struct {
    std::wstring path;
    int64_t expected;
  } cases[] = {
      {scratch / L"PB35", PATH_DIRECTORY},
      {scratch / L"PB35\\//", PATH_DIRECTORY},
      {scratch / L"twelve", 12},
      {scratch / L"twelve\\", 12},  // a file where a folder is expected
      {scratch / L"empty", 0},
      {scratch / L"missing", PATH_ABSENT},
      {scratch / L"PB35\\?.txt", 3},  // patterns answer for their first match
      {scratch / L"PB35\\s*", PATH_DIRECTORY},
      // Wine takes 260 units whole; Windows without long-path support may refuse them.
      {atLimit, 5},
      {atLimit + L"\\/", 5},  // what is searched counts, not the separators after it
      {atLimit + L"y", PATH_ABSENT},
      // Above the drive's root, where no entry can be found: only ".." asks for attributes.
      {aboveRoot, PATH_DIRECTORY},
      {L".\\" + aboveRoot, PATH_ABSENT},
      {L"C:", PATH_DIRECTORY},
      {L"C:\\", PATH_DIRECTORY},
      {std::wstring(1, letter) + L":", PATH_ABSENT},
      {L"", PATH_ABSENT},
      {L"\\\\//", PATH_ABSENT},
  };
  for (const auto& c : cases) EXPECT_EQ(ProbePath(c.path.c_str()), c.expected) << c.path;
  EXPECT_EQ(ProbePath(nullptr), PATH_ABSENT);
  ::SetCurrentDirectoryW(L"C:\\");
}

}  // namespace
}  // namespace launcher_test
