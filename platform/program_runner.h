// Starts an outside program: one command line from a program path and a parameter text,
// CreateProcessW with the standard streams and show state that RunFlags ask for, and the
// shell as a fallback when no stream was asked for. Shows nothing; 0 is its only failure.
#ifndef PLATFORM_PROGRAM_RUNNER_H_
#define PLATFORM_PROGRAM_RUNNER_H_

#include <stdint.h>
#include <windows.h>
// windows.h leaves the shell's declarations out under WIN32_LEAN_AND_MEAN.
#include <shellapi.h>

#include "launch/platform_services.h"
#include "platform/record_list.h"

namespace launcher {

// A program started with RUN_KEEP. The registry owns the record and its handles; they stay
// open on purpose until the process ends, so that the caller can still use them and the
// started program keeps running independently of the launcher.
struct ProgramRecord {
  HANDLE process;     // the program's process handle (may be null on the shell path)
  DWORD processId;    // 0xFFFFFFFF when started through the shell
  HANDLE stdinWrite;  // the caller's end of the program's standard-input pipe, or null
  HANDLE stdoutRead;  // the caller's end of its standard-output pipe, or null
  HANDLE stderrRead;  // the caller's end of its standard-error pipe, or null
  RunFlags flags;     // exactly as passed
};

// Records of programs started with RUN_KEEP, newest first. Nothing removes them.
extern RecordList ProgramRegistry;

// Initialises the registry lock; once, before the first start.
void InitProgramRunner();

// 0 when nothing was started; 1 when started and not kept; otherwise the address of the new
// ProgramRecord. Null `program` or `parameters` count as empty; a null or empty
// `workingDirectory` means the caller's own.
uintptr_t StartProgram(const wchar_t* program, const wchar_t* parameters,
                       const wchar_t* workingDirectory, RunFlags flags);

// The same; with RUN_STDIN_FROM the program reads the standard output of `inputSource`
// through a duplicate of its stdoutRead that only the start holds; the source keeps its own.
// Without memory for the command line or the record the result is 0 and none of the start's
// handles stays open; a program already started then runs on unregistered.
// With RUN_WAIT and an output pipe, a program that fills the pipe blocks the wait: the
// caller reads the pipe only after the call has returned.
uintptr_t StartProgramFrom(const wchar_t* program, const wchar_t* parameters,
                           const wchar_t* workingDirectory, RunFlags flags,
                           const ProgramRecord* inputSource);

using CreateProcessFunction = decltype(&::CreateProcessW);
using ShellExecuteExFunction = decltype(&::ShellExecuteExW);
#ifdef LAUNCHER_TEST_SEAMS
// Test builds only: a stand-in that sees exactly what a start hands to Windows, or starts a
// program at a path that cannot exist on the test machine; null means the real function.
extern CreateProcessFunction CreateProcessForTesting;
extern ShellExecuteExFunction ShellExecuteExForTesting;
#endif

// Replaces `handle` by a duplicate that child processes do not inherit; on failure the
// handle stays as it was.
void MakeNonInheritable(HANDLE& handle);

}  // namespace launcher

#endif  // PLATFORM_PROGRAM_RUNNER_H_
