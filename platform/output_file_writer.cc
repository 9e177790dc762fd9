#include "platform/output_file_writer.h"

#include "platform/heaps.h"
#include "platform/test_seams.h"

namespace launcher {

ObjectTable* FileTable = nullptr;
#ifdef LAUNCHER_TEST_SEAMS
WriteFileFunction WriteFileForTesting = nullptr;
#endif

namespace {

constexpr int32_t kFileTableGrowth = 16;

// One WriteFile call; the count Windows reports, 0 when the call fails.
int32_t WriteBytes(HANDLE handle, const void* bytes, int32_t length) {
  WriteFileFunction write = LAUNCHER_SEAM(WriteFileForTesting, ::WriteFile);
  DWORD written = 0;
  if (!write(handle, bytes, static_cast<DWORD>(length), &written, nullptr)) return 0;
  return static_cast<int32_t>(written);
}

// Blocks of 1, 2 or 4 bytes, the common small writes, go in with one store of that width.
void CopyBlock(char* to, const void* from, int32_t length) {
  switch (length) {
    case 1:
      __builtin_memcpy(to, from, 1);
      break;
    case 2:
      __builtin_memcpy(to, from, 2);
      break;
    case 4:
      __builtin_memcpy(to, from, 4);
      break;
    default:
      __builtin_memcpy(to, from, static_cast<size_t>(length));
      break;
  }
}

}  // namespace

void CreateFileTable() {
  FileTable = CreateObjectTable(sizeof(FileRecord), kFileTableGrowth, CloseOutputFile);
}

intptr_t CreateOutputFile(FileNumber number, const wchar_t* path) {
  auto* record = static_cast<FileRecord*>(AllocateObject(FileTable, number));
  if (record == nullptr) return 0;

  HANDLE handle = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  // A hidden or system file refuses CREATE_ALWAYS with normal attributes; emptying it in
  // place keeps its attributes.
  if (handle == INVALID_HANDLE_VALUE) {
    handle = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
  }
  FileNumber name = number == NUMBER_DYNAMIC ? IdentityOfRecord(record) : number;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
    ReleaseObject(FileTable, name);
    return 0;
  }

  // Without a buffer the file still works, writing every block straight through.
  record->buffer = static_cast<char*>(::HeapAlloc(LibraryHeap, 0, FILE_BUFFER_SIZE));
  record->handle = handle;
  record->bufferSize = FILE_BUFFER_SIZE;
  record->bufferCount = 0;
  record->bufferMode = BUFFER_READ;
  return number == NUMBER_DYNAMIC ? name : reinterpret_cast<intptr_t>(handle);
}

int32_t WriteOutputData(FileNumber number, const void* bytes, int32_t length) {
  if (bytes == nullptr || length <= 0) return 0;
  auto* record = static_cast<FileRecord*>(FindObject(FileTable, number));
  if (record == nullptr) return 0;
  if (record->buffer == nullptr) return WriteBytes(record->handle, bytes, length);

  if (record->bufferMode == BUFFER_READ) {
    // Bytes read ahead were never consumed: step back over them before writing.
    int64_t distance = -static_cast<int64_t>(record->bufferCount);
    LONG high = static_cast<LONG>(distance >> 32);
    ::SetFilePointer(record->handle, static_cast<LONG>(distance), &high, FILE_CURRENT);
    record->bufferMode = BUFFER_WRITE;
    record->bufferCount = record->bufferSize;
  }

  if (record->bufferCount > length) {
    CopyBlock(record->buffer + (record->bufferSize - record->bufferCount), bytes, length);
    record->bufferCount -= length;
    return length;
  }

  // The buffer never fills up completely: what is pending goes out first. If it cannot, the
  // file has lost bytes, and taking more would hide that from the caller.
  int32_t pending = record->bufferSize - record->bufferCount;
  if (FlushOutputFile(record) != pending) return 0;
  if (length >= record->bufferSize) return WriteBytes(record->handle, bytes, length);
  CopyBlock(record->buffer, bytes, length);
  record->bufferCount = record->bufferSize - length;
  return length;
}

int32_t FlushOutputFile(FileRecord* record) {
  if (record->bufferMode != BUFFER_WRITE) return 0;
  int32_t pending = record->bufferSize - record->bufferCount;
  // Dropped whether or not Windows takes them all: the buffer is free again either way.
  record->bufferCount = record->bufferSize;
  if (pending <= 0) return 0;
  return WriteBytes(record->handle, record->buffer, pending);
}

void CloseOutputFile(FileNumber number) {
  if (number == NUMBER_DYNAMIC) {
    ReleaseAllObjects(FileTable);
    return;
  }
  auto* record = static_cast<FileRecord*>(FindObject(FileTable, number));
  if (record == nullptr) return;
  if (record->buffer != nullptr) {
    FlushOutputFile(record);
    ::HeapFree(LibraryHeap, 0, record->buffer);
  }
  ::CloseHandle(record->handle);
  ReleaseObject(FileTable, number);
}

void CloseAllOutputFiles() { ReleaseAllObjects(FileTable); }

int32_t RemoveFile(const wchar_t* path) {
  if (path == nullptr) return 0;
  return ::DeleteFileW(path) ? 1 : 0;
}

}  // namespace launcher
