// Files that the launch sequence names by a small number: created or emptied, filled with
// blocks of bytes through a write buffer, and closed. Nothing here shows anything; every
// operation reports through its result.
#ifndef PLATFORM_OUTPUT_FILE_WRITER_H_
#define PLATFORM_OUTPUT_FILE_WRITER_H_

#include <stdint.h>
#include <windows.h>

#include "launch/platform_services.h"
#include "platform/object_table.h"

namespace launcher {

// Bytes of the write buffer each newly opened file receives.
constexpr int32_t FILE_BUFFER_SIZE = 4096;

// What the buffer of a file holds.
constexpr uint32_t BUFFER_WRITE = 0;  // bytes waiting to be written
constexpr uint32_t BUFFER_READ = 1;   // bytes read ahead (nothing reads; every file starts here)

// One open file; zero-filled (free) while no file uses it.
struct FileRecord {
  HANDLE handle;        // nonzero exactly while the record is in use; owned
  char* buffer;         // FILE_BUFFER_SIZE bytes from LibraryHeap, or null: write straight
  int32_t bufferSize;   // FILE_BUFFER_SIZE, also when no buffer was had
  int32_t bufferCount;  // BUFFER_WRITE: free bytes left; BUFFER_READ: bytes read ahead
  uint32_t bufferMode;  // BUFFER_READ or BUFFER_WRITE
};

// The table of open files; made by CreateFileTable at start-up.
extern ObjectTable* FileTable;

using WriteFileFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
#ifdef LAUNCHER_TEST_SEAMS
// Test builds only: when set, called in place of WriteFile, to count the calls or make one fail.
extern WriteFileFunction WriteFileForTesting;
#endif

// Makes FileTable: 16 slots to begin with, CloseOutputFile as its free callback. When no
// memory can be had, FileTable stays null and every open fails.
void CreateFileTable();

// Creates the file at `path`, or empties an existing one, under `number` (a static number or
// NUMBER_DYNAMIC). A file still open under that number is written out and closed first.
// Returns the file handle for a static number, the new identity for NUMBER_DYNAMIC, 0 on
// failure.
intptr_t CreateOutputFile(FileNumber number, const wchar_t* path);

// Takes `length` bytes for the file. Returns the length when the block went into the buffer,
// the count Windows reports when it was written straight, and 0 when refused (not open, null
// bytes, a length of 0 or less) or when the pending bytes could not all be written out before
// it; those bytes are lost then, and the block is not taken.
int32_t WriteOutputData(FileNumber number, const void* bytes, int32_t length);

// Writes the pending bytes of a file in BUFFER_WRITE mode and empties the buffer, whether
// or not Windows took them all; returns the count Windows reports, 0 in BUFFER_READ mode or
// when nothing was pending (then no call is made).
int32_t FlushOutputFile(FileRecord* record);

// Writes what is pending and closes the file; NUMBER_DYNAMIC closes every open file. A
// number that is not open is left alone.
void CloseOutputFile(FileNumber number);

// Closes every open file, as CloseOutputFile(NUMBER_DYNAMIC).
void CloseAllOutputFiles();

// Deletes the file at `path`; nonzero on success.
int32_t RemoveFile(const wchar_t* path);

}  // namespace launcher

#endif  // PLATFORM_OUTPUT_FILE_WRITER_H_
