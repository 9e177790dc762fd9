// The operations through which the launch sequence reaches the operating system. The
// launcher's own implementation sits over Win32 (platform/); tests script a fake one.
#ifndef LAUNCH_PLATFORM_SERVICES_H_
#define LAUNCH_PLATFORM_SERVICES_H_

#include <stdint.h>

namespace launcher {

class TextWorkArea;

// Results of ProbePath. Any value of 0 or more is a file and its size in bytes.
constexpr int64_t PATH_ABSENT = -1;     // nothing usable at the path
constexpr int64_t PATH_DIRECTORY = -2;  // a folder, or the root of a known drive

// RunFlags for StartProgram. Only the low eight bits steer a start.
using RunFlags = uint32_t;
constexpr RunFlags RUN_WAIT = 0x01;         // wait until the program has ended
constexpr RunFlags RUN_HIDE = 0x02;         // start it hidden
constexpr RunFlags RUN_KEEP = 0x04;         // register it and return its ProgramRecord
constexpr RunFlags RUN_STDOUT_PIPE = 0x08;  // with RUN_KEEP: pipe from its standard output
constexpr RunFlags RUN_STDIN_PIPE = 0x10;   // with RUN_KEEP: pipe to its standard input
constexpr RunFlags RUN_STDERR_PIPE = 0x20;  // with RUN_KEEP: pipe from its standard error
constexpr RunFlags RUN_STDIN_FROM = 0x40;   // standard input from an earlier program's output
// Any of these rules out the shell fallback of a failed start.
constexpr RunFlags RUN_STREAM_MASK =
    RUN_STDOUT_PIPE | RUN_STDIN_PIPE | RUN_STDERR_PIPE | RUN_STDIN_FROM;

// A file number: 0 and up are chosen by the caller, NUMBER_DYNAMIC asks for a new identity.
using FileNumber = intptr_t;
constexpr FileNumber NUMBER_DYNAMIC = -1;

// None of the operations throws; each reports through its result. Every text is a
// zero-terminated UTF-16 string that stays owned by the caller.
class PlatformServices {
 public:
  // A file's size (0 or more), PATH_DIRECTORY or PATH_ABSENT.
  virtual int64_t ProbePath(const wchar_t* path) = 0;

  // Rebuilds the display table with the primary display in slot 0; returns the count.
  virtual int32_t ExamineDisplays() = 0;
  // Height in pixels of display `index` of the last examination; 0 outside the table.
  virtual int32_t DisplayHeight(int32_t index) = 0;

  // Creates or empties the file at `path` under `number`; 0 on failure.
  virtual intptr_t CreateOutputFile(FileNumber number, const wchar_t* path) = 0;
  // Bytes taken for the file; 0 when refused or when nothing could be written.
  virtual int32_t WriteOutputData(FileNumber number, const void* bytes, int32_t length) = 0;
  // Writes what is pending and closes the file; NUMBER_DYNAMIC closes every file.
  virtual void CloseOutputFile(FileNumber number) = 0;
  // Deletes the file at `path`; nonzero on success.
  virtual int32_t RemoveFile(const wchar_t* path) = 0;

  // Starts `program` with `parameters`; 0 when nothing was started (see the runner).
  virtual uintptr_t StartProgram(const wchar_t* program, const wchar_t* parameters,
                                 const wchar_t* workingDirectory, RunFlags flags) = 0;

  // Shows a message box and returns the button that closed it (0 when none could be shown).
  virtual int32_t ShowMessage(const wchar_t* caption, const wchar_t* text, uint32_t style) = 0;

  // Where the sequence composes and keeps its texts for the whole run.
  virtual TextWorkArea& Texts() = 0;

 protected:
  ~PlatformServices() = default;
};

}  // namespace launcher

#endif  // LAUNCH_PLATFORM_SERVICES_H_
