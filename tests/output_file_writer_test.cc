#include "platform/output_file_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launch/config_templates.h"
#include "tests/heap_check.h"
#include "tests/scratch_folder.h"

namespace launcher_test {
namespace {

using namespace launcher;

// The length of every WriteFile call, in order; one call can be made to fail.
std::vector<DWORD> writeCalls;
size_t failingCall = SIZE_MAX;

BOOL WINAPI RecordingWriteFile(HANDLE file, LPCVOID bytes, DWORD length, LPDWORD written,
                               LPOVERLAPPED overlapped) {
  writeCalls.push_back(length);
  *written = 0;
  return writeCalls.size() - 1 != failingCall &&
         ::WriteFile(file, bytes, length, written, overlapped);
}

// Distinct bytes, so that a misplaced or repeated block shows in the file.
std::string Bytes(size_t count, size_t seed = 0) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((i * 31 + seed) % 251);
  return bytes;
}

class OutputFileWriter : public testing::Test {
 protected:
  void SetUp() override {
    CreateFileTable();  // a fresh table for every test
    WriteFileForTesting = RecordingWriteFile;
  }
  void TearDown() override {
    CloseAllOutputFiles();
    WriteFileForTesting = nullptr;
  }
  static int32_t Write(FileNumber number, const std::string& bytes) {
    return WriteOutputData(number, bytes.data(), static_cast<int32_t>(bytes.size()));
  }
  ScratchFolder scratch;
};

// Small blocks gather in the 4096-byte buffer, written out before it would fill up; blocks as
// large as the buffer go straight to Windows, after what is pending.
TEST_F(OutputFileWriter, GathersSmallBlocksAndPassesLargeOnes) {
  const DWORD config = SelectTemplate(1080).length;  // the launcher's one write
  const struct {
    std::vector<DWORD> blocks, whileOpen, atClose;  // lengths
  } cases[] = {
      {{4095, 1}, {4095}, {1}},
      {{4096}, {4096}, {}},
      {{1, 2, 4, 3}, {}, {10}},
      {{config}, {config}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.blocks));
    const std::wstring path = scratch / L"blocks.bin";
    ASSERT_NE(CreateOutputFile(0, path.c_str()), 0);
    writeCalls.clear();
    std::string expected;
    for (DWORD length : c.blocks) {
      expected += Bytes(length, expected.size());
      EXPECT_EQ(Write(0, expected.substr(expected.size() - length)), static_cast<int32_t>(length));
    }
    EXPECT_EQ(writeCalls, c.whileOpen);
    writeCalls.clear();
    CloseOutputFile(0);
    EXPECT_EQ(writeCalls, c.atClose);
    EXPECT_EQ(ReadBytes(path), expected);
  }
}

// A block that Windows refuses is not taken, as the launcher's write of dosbox.conf is not on a
// full disk.
TEST_F(OutputFileWriter, ReportsARefusedBlock) {
  ASSERT_NE(CreateOutputFile(0, (scratch / L"full.bin").c_str()), 0);
  failingCall = 0;
  EXPECT_EQ(Write(0, Bytes(SelectTemplate(1080).length)), 0);
  failingCall = SIZE_MAX;
}

// Nothing is created or emptied, and the number is free again; nothing is written for a number
// that is not open; a file is removed once.
TEST_F(OutputFileWriter, RefusesWhatItCannotTake) {
  const std::wstring held = scratch / L"held.txt", path = scratch / L"untouched.txt";
  ASSERT_TRUE(WriteBytes(held, "kept"));
  HANDLE holder = ::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  for (const std::wstring& refused : {scratch.path, scratch / L"missing\\new.txt", held})
    EXPECT_EQ(CreateOutputFile(0, refused.c_str()), 0) << refused;
  EXPECT_EQ(FindObject(FileTable, 0), nullptr);
  EXPECT_EQ(::GetFileAttributesW((scratch / L"missing").c_str()), INVALID_FILE_ATTRIBUTES);
  ::CloseHandle(holder);
  EXPECT_EQ(ReadBytes(held), "kept");

  writeCalls.clear();
  ASSERT_NE(CreateOutputFile(0, path.c_str()), 0);
  for (FileNumber number : {5, 100, -1000}) EXPECT_EQ(Write(number, "abc"), 0) << number;
  EXPECT_EQ(WriteOutputData(0, nullptr, 3), 0);
  EXPECT_EQ(WriteOutputData(0, "abc", 0), 0);
  EXPECT_EQ(WriteOutputData(0, "abc", -3), 0);
  CloseOutputFile(0);
  CloseOutputFile(0);  // closing what is not open does nothing
  EXPECT_EQ(Write(0, "abc"), 0);
  EXPECT_TRUE(writeCalls.empty());
  EXPECT_NE(RemoveFile(path.c_str()), 0);
  EXPECT_EQ(RemoveFile(path.c_str()), 0);
  EXPECT_EQ(RemoveFile(nullptr), 0);
}

}  // namespace
}  // namespace launcher_test
