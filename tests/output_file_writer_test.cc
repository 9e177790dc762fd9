#include "platform/output_file_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launch/config_templates.h"
#include "tests/scratch_folder.h"

namespace launcher_test {
namespace {

using namespace launcher;

// What reaches Windows: the length of every WriteFile call, in order; one call can fail.
std::vector<DWORD> writeCalls;
size_t failingCall = SIZE_MAX;

BOOL WINAPI RecordingWriteFile(HANDLE file, LPCVOID bytes, DWORD length, LPDWORD written,
                               LPOVERLAPPED overlapped) {
  writeCalls.push_back(length);
  if (writeCalls.size() - 1 != failingCall)
    return ::WriteFile(file, bytes, length, written, overlapped);
  *written = 0;
  return FALSE;
}

// Distinct bytes, so that a misplaced or repeated block shows in the file.
std::string Bytes(size_t count, int seed = 0) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((i * 31 + seed) % 251);
  return bytes;
}

class OutputFileWriter : public testing::Test {
 protected:
  void SetUp() override {
    CreateFileTable();  // a fresh table for every test
    writeCalls.clear();
    failingCall = SIZE_MAX;
    WriteFileForTesting = RecordingWriteFile;
  }
  void TearDown() override {
    CloseAllOutputFiles();
    WriteFileForTesting = nullptr;
  }
  int32_t Write(FileNumber number, const std::string& bytes) {
    return WriteOutputData(number, bytes.data(), static_cast<int32_t>(bytes.size()));
  }
  ScratchFolder scratch;
};

// Small blocks gather in the 4096-byte buffer, which is written out before it would fill
// up; blocks as large as the buffer go straight to Windows, after what is pending.
TEST_F(OutputFileWriter, GathersSmallBlocksAndPassesLargeOnes) {
  const DWORD config = SelectTemplate(1080).length;  // the launcher's one write
  const struct {
    std::vector<DWORD> blocks, whileOpen, atClose;  // lengths
  } cases[] = {
      {{4095, 1}, {4095}, {1}}, {{4096}, {4096}, {}},           {{1000, 1000, 1000}, {}, {3000}},
      {{1, 2, 4, 3}, {}, {10}}, {{100, 5000}, {100, 5000}, {}}, {{config}, {config}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.blocks));
    const std::wstring path = scratch / L"blocks.bin";
    ASSERT_NE(CreateOutputFile(0, path.c_str()), 0);
    writeCalls.clear();
    std::string expected;
    for (DWORD length : c.blocks) {
      expected += Bytes(length, static_cast<int>(expected.size()));
      EXPECT_EQ(Write(0, expected.substr(expected.size() - length)), static_cast<int32_t>(length));
    }
    EXPECT_EQ(writeCalls, c.whileOpen);
    writeCalls.clear();
    CloseOutputFile(0);
    EXPECT_EQ(writeCalls, c.atClose);
    EXPECT_EQ(ReadBytes(path), expected);
  }
}

// Opening a number that holds a file writes that file out and closes it first, even when
// the new file cannot be created. (ReadBytes cannot open a file the writer holds.)
TEST_F(OutputFileWriter, ReopeningANumberClosesItsFileFirst) {
  const std::wstring first = scratch / L"first.txt", second = scratch / L"second.txt";
  ASSERT_TRUE(WriteBytes(second, "old content"));
  ASSERT_NE(CreateOutputFile(0, first.c_str()), 0);
  ASSERT_EQ(Write(0, "pending"), 7);
  ASSERT_NE(CreateOutputFile(0, second.c_str()), 0);
  EXPECT_EQ(ReadBytes(first), "pending");
  ASSERT_EQ(Write(0, "new"), 3);
  EXPECT_EQ(CreateOutputFile(0, scratch.path.c_str()), 0);  // a folder
  EXPECT_EQ(ReadBytes(second), "new");
  EXPECT_EQ(Write(0, "lost"), 0);
}

// The slots grow to the number used plus 16, keeping the files they hold.
TEST_F(OutputFileWriter, GrowsTheSlotsForLargeNumbers) {
  ASSERT_NE(CreateOutputFile(0, (scratch / L"zero").c_str()), 0);
  ASSERT_EQ(Write(0, "0"), 1);
  ASSERT_NE(CreateOutputFile(20, (scratch / L"twenty").c_str()), 0);
  EXPECT_EQ(FileTable->capacity, 36);
  ASSERT_EQ(Write(0, "+"), 1);
  CloseAllOutputFiles();
  EXPECT_EQ(ReadBytes(scratch / L"zero"), "0+");
}

// Each file gets pending bytes of a length of its own, so the flushes show the close order.
TEST_F(OutputFileWriter, ClosesEverythingStaticAscendingThenDynamicNewestFirst) {
  const std::wstring paths[] = {scratch / L"3", scratch / L"1", scratch / L"older",
                                scratch / L"newer", scratch / L"single"};
  const size_t lengths[] = {3, 1, 10, 20, 5};
  ASSERT_NE(CreateOutputFile(3, paths[0].c_str()), 0);
  ASSERT_NE(CreateOutputFile(1, paths[1].c_str()), 0);
  FileNumber numbers[] = {3, 1, 0, 0, 0};
  for (int i = 2; i < 5; ++i) {
    numbers[i] = static_cast<FileNumber>(CreateOutputFile(NUMBER_DYNAMIC, paths[i].c_str()));
    EXPECT_LT(numbers[i], NUMBER_DYNAMIC) << "never -1, never a static number";
  }
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Write(numbers[i], Bytes(lengths[i])), lengths[i]);
  CloseOutputFile(numbers[4]);
  EXPECT_EQ(writeCalls, std::vector<DWORD>{5});
  EXPECT_EQ(Write(numbers[4], "x"), 0) << "a closed identity names nothing";
  writeCalls.clear();
  CloseOutputFile(NUMBER_DYNAMIC);
  EXPECT_EQ(writeCalls, (std::vector<DWORD>{1, 3, 20, 10}));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ReadBytes(paths[i]), Bytes(lengths[i])) << paths[i];
}

// Nothing is created or emptied, and the number (or the dynamic record) is free again.
TEST_F(OutputFileWriter, RefusesWhatItCannotTake) {
  const std::wstring held = scratch / L"held.txt", path = scratch / L"untouched.txt";
  ASSERT_TRUE(WriteBytes(held, "kept"));
  HANDLE holder = ::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  for (const std::wstring& refused : {scratch.path, scratch / L"missing\\new.txt", held}) {
    for (FileNumber number : {FileNumber{0}, NUMBER_DYNAMIC}) {
      EXPECT_EQ(CreateOutputFile(number, refused.c_str()), 0) << refused << " as " << number;
    }
  }
  EXPECT_EQ(FindObject(FileTable, 0), nullptr);
  EXPECT_EQ(FileTable->dynamicRecords.head, nullptr);
  EXPECT_FALSE(Exists(scratch / L"missing"));
  ::CloseHandle(holder);
  EXPECT_EQ(ReadBytes(held), "kept");
  EXPECT_EQ(CreateOutputFile(INT32_MAX, path.c_str()), 0);  // no room for the slots
  EXPECT_EQ(CreateOutputFile(-5, path.c_str()), 0);
  EXPECT_EQ(CreateOutputFile(0, nullptr), 0);

  ASSERT_NE(CreateOutputFile(0, path.c_str()), 0);
  const FileNumber unopened[] = {5, 100, NUMBER_DYNAMIC, -1000};
  for (FileNumber number : unopened) EXPECT_EQ(Write(number, "abc"), 0) << number;
  EXPECT_EQ(WriteOutputData(0, nullptr, 3), 0);
  EXPECT_EQ(WriteOutputData(0, "abc", 0), 0);
  EXPECT_EQ(WriteOutputData(0, "abc", -3), 0);
  CloseOutputFile(0);
  CloseOutputFile(0);  // closing what is not open does nothing
  EXPECT_EQ(Write(0, "abc"), 0);
  EXPECT_TRUE(writeCalls.empty());
}

// Windows refuses to replace a hidden file with a normal one (Wine does not): the second
// attempt empties it in place, and it stays hidden. Removing it needs no attribute change.
TEST_F(OutputFileWriter, EmptiesAndRemovesAHiddenFile) {
  const std::wstring path = scratch / L"hidden.txt";
  ASSERT_TRUE(WriteBytes(path, "old content", FILE_ATTRIBUTE_HIDDEN));
  ASSERT_NE(CreateOutputFile(0, path.c_str()), 0);
  ASSERT_EQ(Write(0, "new"), 3);
  CloseOutputFile(0);
  EXPECT_EQ(ReadBytes(path), "new");
  EXPECT_NE(::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_NE(RemoveFile(path.c_str()), 0);
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(RemoveFile(path.c_str()), 0);
}

// Pending bytes that Windows would not take (call 0) are lost, and the block behind them is
// refused so that the caller learns of it; then the block itself fails (call 1). Either way
// the file goes on with the next block.
TEST_F(OutputFileWriter, RefusesTheBlockBehindAFailedFlush) {
  const std::string all = Bytes(100) + Bytes(5000, 1);
  for (size_t failing : {0, 1}) {
    const std::wstring path = scratch / L"troubled.bin";
    ASSERT_NE(CreateOutputFile(0, path.c_str()), 0);
    writeCalls.clear();
    failingCall = failing;
    EXPECT_EQ(Write(0, all.substr(0, 100)), 100);
    EXPECT_EQ(Write(0, all.substr(100)), 0) << failing;
    failingCall = SIZE_MAX;
    EXPECT_EQ(Write(0, "tail"), 4);
    CloseOutputFile(0);
    EXPECT_EQ(ReadBytes(path), all.substr(0, failing * 100) + "tail");
  }
}

}  // namespace
}  // namespace launcher_test
