#include "platform/output_file_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launch/config_templates.h"
#include "tests/scratch_folder.h"

namespace launcher_test {
namespace {

using launcher::CloseAllOutputFiles;
using launcher::CloseOutputFile;
using launcher::CreateFileTable;
using launcher::CreateOutputFile;
using launcher::FileNumber;
using launcher::FileTable;
using launcher::FindObject;
using launcher::NUMBER_DYNAMIC;
using launcher::RemoveFile;
using launcher::WriteOutputData;

// What reaches Windows: the length of every WriteFile call, in order. One call can be made
// to fail outright or to write only half of what it was given.
enum class Trouble { kNone, kFail, kShort };
std::vector<DWORD> writeCalls;
size_t troubledCall = 0;
Trouble trouble = Trouble::kNone;

BOOL WINAPI RecordingWriteFile(HANDLE file, LPCVOID bytes, DWORD length, LPDWORD written,
                               LPOVERLAPPED overlapped) {
  writeCalls.push_back(length);
  if (writeCalls.size() - 1 == troubledCall && trouble == Trouble::kFail) {
    *written = 0;
    ::SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  if (writeCalls.size() - 1 == troubledCall && trouble == Trouble::kShort) length /= 2;
  return ::WriteFile(file, bytes, length, written, overlapped);
}

// Distinct bytes, so that a misplaced or repeated block shows in the file.
std::string Bytes(size_t count, int seed = 0) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((i * 31 + seed) % 251);
  return bytes;
}

// Closed files can be opened without sharing; the writer's own handles share nothing.
bool IsClosed(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(file);
  return true;
}

class OutputFileWriter : public testing::Test {
 protected:
  void SetUp() override {
    CreateFileTable();  // a fresh table for every test
    writeCalls.clear();
    trouble = Trouble::kNone;
    launcher::WriteFileForTesting = RecordingWriteFile;
  }
  void TearDown() override {
    CloseAllOutputFiles();
    launcher::WriteFileForTesting = nullptr;
  }
  int32_t Write(FileNumber number, const std::string& bytes) {
    return WriteOutputData(number, bytes.data(), static_cast<int32_t>(bytes.size()));
  }
  ScratchFolder scratch;
};

// Small blocks gather in the 4096-byte buffer, which is written out before it would fill
// up; blocks as large as the buffer go straight to Windows.
TEST_F(OutputFileWriter, GathersSmallBlocksAndPassesLargeOnes) {
  struct Case {
    const char* name;
    std::vector<int> blocks;
    std::vector<DWORD> whileOpen;  // WriteFile lengths before the close
    std::vector<DWORD> atClose;
  } cases[] = {
      {"4095 then 1", {4095, 1}, {4095}, {1}},
      {"exactly the buffer", {4096}, {4096}, {}},
      {"three of 1000", {1000, 1000, 1000}, {}, {3000}},
      {"1, 2 and 4 bytes", {1, 2, 4, 3}, {}, {10}},
      {"a block overflowing the rest", {4000, 200}, {4000}, {200}},
      {"pending bytes, then a large block", {100, 5000}, {100, 5000}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = scratch / L"blocks.bin";
    ASSERT_NE(CreateOutputFile(0, path.c_str()), 0);
    writeCalls.clear();
    std::string expected;
    int seed = 0;
    for (int length : c.blocks) {
      const std::string block = Bytes(length, ++seed);
      EXPECT_EQ(Write(0, block), length);
      expected += block;
    }
    EXPECT_EQ(writeCalls, c.whileOpen);
    writeCalls.clear();
    CloseOutputFile(0);
    EXPECT_EQ(writeCalls, c.atClose);
    EXPECT_EQ(ReadWhole(path), expected);
  }
}

TEST_F(OutputFileWriter, WritesTheLaunchersConfigurationInOneCall) {
  const launcher::ConfigTemplate& config = launcher::SelectTemplate(1080);
  std::string text(config.length, '\0');
  launcher::RenderTemplate(config, text.data());
  const std::wstring path = scratch / L"dosbox.conf";
  ASSERT_NE(CreateOutputFile(0, path.c_str()), 0);
  EXPECT_EQ(Write(0, text), config.length);
  CloseOutputFile(0);
  EXPECT_EQ(writeCalls, std::vector<DWORD>{static_cast<DWORD>(config.length)});
  EXPECT_EQ(ReadWhole(path), text);
}

// Opening a number that holds a file writes that file out and closes it first, even when
// the new file cannot be created.
TEST_F(OutputFileWriter, ReopeningANumberClosesItsFileFirst) {
  const std::wstring first = scratch / L"first.txt", second = scratch / L"second.txt";
  ASSERT_TRUE(MakeFile(second, "old content"));
  ASSERT_NE(CreateOutputFile(0, first.c_str()), 0);
  void* record = FileTable->slots[0];
  ASSERT_EQ(Write(0, "pending"), 7);

  ASSERT_NE(CreateOutputFile(0, second.c_str()), 0);
  EXPECT_TRUE(IsClosed(first));
  EXPECT_EQ(ReadWhole(first), "pending");
  EXPECT_EQ(FileTable->slots[0], record) << "a number keeps its record";
  ASSERT_EQ(Write(0, "new"), 3);

  EXPECT_EQ(CreateOutputFile(0, scratch.path().c_str()), 0);  // a folder
  EXPECT_TRUE(IsClosed(second));
  EXPECT_EQ(ReadWhole(second), "new");
  EXPECT_EQ(Write(0, "lost"), 0);
}

// The slots grow to the number used plus 16, keeping the files they hold.
TEST_F(OutputFileWriter, GrowsTheSlotsForLargeNumbers) {
  EXPECT_EQ(FileTable->capacity, 16);
  ASSERT_NE(CreateOutputFile(20, (scratch / L"twenty").c_str()), 0);
  EXPECT_EQ(FileTable->capacity, 36);
  for (int n = 0; n < 36; ++n) {
    if (n != 20) {
      EXPECT_EQ(FileTable->slots[n], nullptr) << n;
    }
  }
  ASSERT_EQ(Write(20, "20"), 2);
  ASSERT_NE(CreateOutputFile(40, (scratch / L"forty").c_str()), 0);
  EXPECT_EQ(FileTable->capacity, 56);
  ASSERT_EQ(Write(20, "+"), 1);
  CloseAllOutputFiles();
  EXPECT_EQ(ReadWhole(scratch / L"twenty"), "20+");
}

TEST_F(OutputFileWriter, ClosesEverythingStaticAscendingThenDynamicNewestFirst) {
  std::vector<std::wstring> paths;
  for (const wchar_t* name : {L"three", L"one", L"older", L"newer", L"single"}) {
    paths.push_back(scratch / name);
  }
  ASSERT_NE(CreateOutputFile(3, paths[0].c_str()), 0);
  ASSERT_NE(CreateOutputFile(1, paths[1].c_str()), 0);
  const intptr_t older = CreateOutputFile(NUMBER_DYNAMIC, paths[2].c_str());
  const intptr_t newer = CreateOutputFile(NUMBER_DYNAMIC, paths[3].c_str());
  const intptr_t single = CreateOutputFile(NUMBER_DYNAMIC, paths[4].c_str());
  for (intptr_t identity : {older, newer, single}) {
    EXPECT_NE(identity, 0);
    EXPECT_LT(identity, NUMBER_DYNAMIC) << "never -1, never a static number";
  }
  EXPECT_NE(older, newer);

  // Each file has pending bytes of a length of its own, so the flushes show the close order.
  ASSERT_EQ(Write(3, Bytes(3)), 3);
  ASSERT_EQ(Write(1, Bytes(1)), 1);
  ASSERT_EQ(Write(older, Bytes(10)), 10);
  ASSERT_EQ(Write(newer, Bytes(20)), 20);
  ASSERT_EQ(Write(single, Bytes(5)), 5);
  CloseOutputFile(single);
  EXPECT_EQ(writeCalls, std::vector<DWORD>{5});
  EXPECT_EQ(Write(single, "x"), 0) << "a closed identity names nothing";

  writeCalls.clear();
  CloseOutputFile(NUMBER_DYNAMIC);
  EXPECT_EQ(writeCalls, (std::vector<DWORD>{1, 3, 20, 10}));
  EXPECT_EQ(FileTable->dynamicRecords.head, nullptr);
  const int lengths[] = {3, 1, 10, 20, 5};
  for (size_t i = 0; i < paths.size(); ++i) {
    EXPECT_TRUE(IsClosed(paths[i])) << paths[i];
    EXPECT_EQ(ReadWhole(paths[i]), Bytes(lengths[i])) << paths[i];
  }
}

// Nothing is created or emptied, and the number (or the dynamic record) is free again.
TEST_F(OutputFileWriter, RefusesPathsItCannotCreate) {
  const std::wstring held = scratch / L"held.txt";
  ASSERT_TRUE(MakeFile(held, "kept"));
  HANDLE holder = ::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  const std::wstring refused[] = {scratch.path(), scratch / L"missing\\new.txt", held};
  for (const std::wstring& path : refused) {
    for (FileNumber number : {FileNumber{0}, NUMBER_DYNAMIC}) {
      EXPECT_EQ(CreateOutputFile(number, path.c_str()), 0) << path << " as " << number;
    }
  }
  EXPECT_EQ(CreateOutputFile(0, nullptr), 0);
  EXPECT_EQ(FindObject(FileTable, 0), nullptr);
  EXPECT_EQ(FileTable->dynamicRecords.head, nullptr);
  EXPECT_FALSE(Exists(scratch / L"missing"));
  ::CloseHandle(holder);
  EXPECT_EQ(ReadWhole(held), "kept");
}

// Numbers outside the table's reach, or no table at all (start-up had no memory for it),
// fail the open instead of the process.
TEST_F(OutputFileWriter, FailsOpensItHasNoRoomFor) {
  const std::wstring path = scratch / L"never.txt";
  EXPECT_EQ(CreateOutputFile(INT32_MAX, path.c_str()), 0);
  EXPECT_EQ(CreateOutputFile(-5, path.c_str()), 0);
  EXPECT_EQ(FileTable->capacity, 16);
  launcher::ObjectTable* table = FileTable;
  FileTable = nullptr;
  EXPECT_EQ(CreateOutputFile(0, path.c_str()), 0);
  EXPECT_EQ(CreateOutputFile(NUMBER_DYNAMIC, path.c_str()), 0);
  EXPECT_EQ(Write(0, "x"), 0);
  CloseOutputFile(0);
  CloseAllOutputFiles();
  FileTable = table;
  EXPECT_FALSE(Exists(path));
}

TEST_F(OutputFileWriter, RefusesAReadOnlyFile) {
  const std::wstring path = scratch / L"read-only.txt";
  ASSERT_TRUE(MakeFile(path, "kept", FILE_ATTRIBUTE_READONLY));
  HANDLE probe = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    ::CloseHandle(probe);
    GTEST_SKIP() << "this system writes read-only files (Wine run as root does)";
  }
  EXPECT_EQ(CreateOutputFile(0, path.c_str()), 0);
  EXPECT_EQ(ReadWhole(path), "kept");
}

// Windows refuses to replace a hidden or system file with a normal one; the second attempt
// empties it in place, and it keeps its attributes.
TEST_F(OutputFileWriter, EmptiesHiddenAndSystemFilesKeepingTheirAttributes) {
  for (DWORD attributes : {DWORD{FILE_ATTRIBUTE_HIDDEN}, DWORD{FILE_ATTRIBUTE_SYSTEM},
                           DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}}) {
    SCOPED_TRACE(attributes);
    const std::wstring path = scratch / L"marked.txt", twin = scratch / L"twin.txt";
    ASSERT_TRUE(MakeFile(path, "old content", attributes));
    ASSERT_TRUE(MakeFile(twin, "old content", attributes));
    HANDLE replaced = ::CreateFileW(twin.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool firstAttemptRefused = replaced == INVALID_HANDLE_VALUE;
    if (!firstAttemptRefused) ::CloseHandle(replaced);

    auto handle = reinterpret_cast<HANDLE>(CreateOutputFile(0, path.c_str()));
    ASSERT_NE(handle, nullptr);
    // Only the second attempt's handle is write-only. Wine lets the first attempt through.
    char byte;
    DWORD got;
    EXPECT_EQ(::ReadFile(handle, &byte, 1, &got, nullptr) == 0, firstAttemptRefused);
    ASSERT_EQ(Write(0, "new"), 3);
    CloseOutputFile(0);
    EXPECT_EQ(ReadWhole(path), "new");
    EXPECT_EQ(::GetFileAttributesW(path.c_str()) & attributes, attributes);
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::SetFileAttributesW(twin.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

TEST_F(OutputFileWriter, RefusesWritesItCannotTake) {
  const std::wstring path = scratch / L"untouched.txt";
  ASSERT_NE(CreateOutputFile(0, path.c_str()), 0);
  const struct {
    FileNumber number;
    const char* bytes;
    int32_t length;
  } refused[] = {
      {5, "abc", 3},    // never opened
      {100, "abc", 3},  // beyond the slots
      {NUMBER_DYNAMIC, "abc", 3},
      {-1000, "abc", 3},  // no open handed out this identity
      {0, nullptr, 3},
      {0, "abc", 0},
      {0, "abc", -3},
  };
  for (const auto& r : refused) {
    EXPECT_EQ(WriteOutputData(r.number, r.bytes, r.length), 0) << r.number << ", " << r.length;
  }
  CloseOutputFile(0);
  CloseOutputFile(0);  // closing what is not open does nothing
  CloseOutputFile(5);
  EXPECT_EQ(Write(0, "abc"), 0);
  EXPECT_TRUE(writeCalls.empty());
  EXPECT_EQ(ReadWhole(path), "");
}

// When Windows does not take all it is given, the caller learns it from the result. Pending
// bytes that could not be written are dropped and the block behind them is not taken; the
// file goes on with the next block.
TEST_F(OutputFileWriter, ReportsWhatWindowsDidNotTake) {
  struct Case {
    const char* name;
    std::vector<int> blocks;
    size_t call;  // the troubled WriteFile call
    Trouble trouble;
    std::vector<int32_t> results;
    size_t kept;  // leading bytes of all blocks that reach the file
  } cases[] = {
      {"flush fails", {100, 4000}, 0, Trouble::kFail, {100, 0}, 0},
      {"flush writes half", {100, 4000}, 0, Trouble::kShort, {100, 0}, 50},
      {"direct write fails", {5000}, 0, Trouble::kFail, {0}, 0},
      {"direct write takes half", {5000}, 0, Trouble::kShort, {2500}, 2500},
      {"direct write after a flush fails", {100, 5000}, 1, Trouble::kFail, {100, 0}, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = scratch / L"troubled.bin";
    ASSERT_NE(CreateOutputFile(0, path.c_str()), 0);
    writeCalls.clear();
    troubledCall = c.call;
    trouble = c.trouble;
    std::string all;
    std::vector<int32_t> results;
    for (int length : c.blocks) {
      all += Bytes(length, length);
      results.push_back(Write(0, Bytes(length, length)));
    }
    trouble = Trouble::kNone;
    EXPECT_EQ(results, c.results);
    EXPECT_EQ(Write(0, "tail"), 4);
    CloseOutputFile(0);
    EXPECT_EQ(ReadWhole(path), all.substr(0, c.kept) + "tail");
  }
}

TEST_F(OutputFileWriter, RemovesFiles) {
  const std::wstring path = scratch / L"doomed.txt";
  ASSERT_TRUE(MakeFile(path, "x"));
  EXPECT_NE(RemoveFile(path.c_str()), 0);
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(RemoveFile(path.c_str()), 0);
  EXPECT_EQ(RemoveFile(nullptr), 0);
}

}  // namespace
}  // namespace launcher_test
