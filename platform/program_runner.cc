#include "platform/program_runner.h"

#include "launch/text.h"
#include "platform/heaps.h"
#include "platform/test_seams.h"

namespace launcher {

RecordList ProgramRegistry;
#ifdef LAUNCHER_TEST_SEAMS
CreateProcessFunction CreateProcessForTesting = nullptr;
ShellExecuteExFunction ShellExecuteExForTesting = nullptr;
#endif

namespace {

#ifndef _WIN64
// The shipped 32-bit image hands Windows records of exactly these sizes.
static_assert(sizeof(STARTUPINFOW) == 68, "STARTUPINFOW");
static_assert(sizeof(SECURITY_ATTRIBUTES) == 12, "SECURITY_ATTRIBUTES");
static_assert(sizeof(SHELLEXECUTEINFOW) == 60, "SHELLEXECUTEINFOW");
static_assert(sizeof(ProgramRecord) == 24, "ProgramRecord");
#endif

// Guards the registry's links; held only while a node is linked in.
CRITICAL_SECTION ProgramRegistryLock;

// Keep the process handle, let a DDE conversation finish, and let the shell show no box.
constexpr DWORD kShellMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_FLAG_NO_UI;
constexpr DWORD kShellProcessId = 0xFFFFFFFF;

wchar_t* Append(wchar_t* to, const wchar_t* text, size_t length) {
  for (size_t i = 0; i < length; ++i) *to++ = text[i];
  return to;
}

void CloseIfOpen(HANDLE handle) {
  if (handle != nullptr) ::CloseHandle(handle);
}

// The six pipe ends of one start. The program's ends (stdinRead, stdoutWrite, stderrWrite)
// are closed once it has them; the caller's ends go into the record or are closed.
struct PipeEnds {
  HANDLE stdinRead = nullptr;
  HANDLE stdinWrite = nullptr;
  HANDLE stdoutRead = nullptr;
  HANDLE stdoutWrite = nullptr;
  HANDLE stderrRead = nullptr;
  HANDLE stderrWrite = nullptr;

  void CloseProgramEnds() {
    CloseIfOpen(stdoutWrite);
    CloseIfOpen(stdinRead);
    CloseIfOpen(stderrWrite);
  }
  void CloseCallerEnds() {
    CloseIfOpen(stdinWrite);
    CloseIfOpen(stdoutRead);
    CloseIfOpen(stderrRead);
  }
  void CloseAll() {
    CloseIfOpen(stdoutWrite);
    CloseIfOpen(stdoutRead);
    CloseIfOpen(stdinWrite);
    CloseIfOpen(stdinRead);
    CloseIfOpen(stderrWrite);
    CloseIfOpen(stderrRead);
  }
};

// Registers a started program; null when no node can be had.
ProgramRecord* Register(HANDLE process, DWORD processId, const PipeEnds& ends, RunFlags flags) {
  ::EnterCriticalSection(&ProgramRegistryLock);
  auto* record = static_cast<ProgramRecord*>(
      AddRecord(ProgramRegistry, RecordNodeSize(sizeof(ProgramRecord))));
  ::LeaveCriticalSection(&ProgramRegistryLock);
  if (record == nullptr) return nullptr;
  record->process = process;
  record->processId = processId;
  record->stdinWrite = ends.stdinWrite;
  record->stdoutRead = ends.stdoutRead;
  record->stderrRead = ends.stderrRead;
  record->flags = flags;
  return record;
}

// What the caller gets for a started program: its record with RUN_KEEP, else 1. When the
// record cannot be made, the program runs on unregistered and the caller learns 0, with no
// handle of it left open here.
uintptr_t Finish(HANDLE process, DWORD processId, PipeEnds& ends, RunFlags flags) {
  if ((flags & RUN_WAIT) != 0) ::WaitForSingleObject(process, INFINITE);
  if ((flags & RUN_KEEP) == 0) {
    CloseIfOpen(process);
    return 1;
  }
  ProgramRecord* record = Register(process, processId, ends, flags);
  if (record != nullptr) return reinterpret_cast<uintptr_t>(record);
  ends.CloseCallerEnds();
  CloseIfOpen(process);
  return 0;
}

// Hands `program` to the shell, which can open documents as well as programs. `scratch` has
// room for the program text and its terminating null.
uintptr_t StartThroughShell(const wchar_t* program, const wchar_t* parameters,
                            const wchar_t* directory, WORD showState, RunFlags flags,
                            wchar_t* scratch) {
  if (directory == nullptr) {
    // The program's own folder, up to and including its last backslash; the first
    // character is never taken as that backslash.
    for (size_t i = TextLength(program); i > 1; --i) {
      if (program[i - 1] == L'\\') {
        *Append(scratch, program, i) = L'\0';
        directory = scratch;
        break;
      }
    }
  }
  SHELLEXECUTEINFOW shell = {};
  shell.cbSize = sizeof(shell);
  shell.fMask = kShellMask;
  shell.lpFile = program;
  shell.lpParameters = parameters;
  shell.lpDirectory = directory;
  shell.nShow = showState;
  ShellExecuteExFunction shellExecute = LAUNCHER_SEAM(ShellExecuteExForTesting, ::ShellExecuteExW);
  if (!shellExecute(&shell)) return 0;
  PipeEnds none;
  return Finish(shell.hProcess, kShellProcessId, none, flags);
}

// A new anonymous pipe whose two ends children may inherit; false leaves both null.
bool MakePipe(HANDLE& read, HANDLE& write, SECURITY_ATTRIBUTES& inheritable) {
  if (::CreatePipe(&read, &write, &inheritable, 0)) return true;
  read = nullptr;
  write = nullptr;
  return false;
}

}  // namespace

void InitProgramRunner() { ::InitializeCriticalSection(&ProgramRegistryLock); }

void MakeNonInheritable(HANDLE& handle) {
  HANDLE duplicate = nullptr;
  HANDLE self = ::GetCurrentProcess();
  if (::DuplicateHandle(self, handle, self, &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    ::CloseHandle(handle);
    handle = duplicate;
  }
}

uintptr_t StartProgram(const wchar_t* program, const wchar_t* parameters,
                       const wchar_t* workingDirectory, RunFlags flags) {
  return StartProgramFrom(program, parameters, workingDirectory, flags, nullptr);
}

uintptr_t StartProgramFrom(const wchar_t* program, const wchar_t* parameters,
                           const wchar_t* workingDirectory, RunFlags flags,
                           const ProgramRecord* inputSource) {
  SECURITY_ATTRIBUTES inheritable = {};
  inheritable.nLength = sizeof(inheritable);
  inheritable.lpSecurityDescriptor = nullptr;
  inheritable.bInheritHandle = TRUE;

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  DWORD creationFlags = NORMAL_PRIORITY_CLASS;
  BOOL inheritHandles = FALSE;
  PipeEnds ends;

  // A hidden program gets a console of its own, unless it talks to us through a pipe.
  if ((flags & RUN_HIDE) != 0) {
    startup.wShowWindow = SW_HIDE;
    creationFlags |= CREATE_NEW_CONSOLE;
  } else {
    startup.wShowWindow = SW_SHOWNORMAL;
  }

  // Standard input. The earlier program's output end is ours and not inheritable, so the new
  // program gets an inheritable duplicate, which is then closed like a pipe's read end.
  bool inputFromSource = false;
  if ((flags & RUN_STDIN_FROM) != 0 && inputSource != nullptr &&
      inputSource->stdoutRead != nullptr) {
    HANDLE self = ::GetCurrentProcess();
    inputFromSource = ::DuplicateHandle(self, inputSource->stdoutRead, self, &ends.stdinRead, 0,
                                        TRUE, DUPLICATE_SAME_ACCESS) != FALSE;
    if (inputFromSource) {
      startup.hStdInput = ends.stdinRead;
      startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    } else {
      ends.stdinRead = nullptr;
    }
  }
  if (!inputFromSource && (flags & RUN_KEEP) != 0 && (flags & RUN_STDIN_PIPE) != 0 &&
      MakePipe(ends.stdinRead, ends.stdinWrite, inheritable)) {
    startup.hStdInput = ends.stdinRead;
    startup.dwFlags |= STARTF_USESTDHANDLES;
    MakeNonInheritable(ends.stdinWrite);
  }

  // Standard output and error go to pipes only for a program the caller keeps.
  if ((flags & RUN_KEEP) != 0) {
    if ((flags & RUN_STDOUT_PIPE) != 0 &&
        MakePipe(ends.stdoutRead, ends.stdoutWrite, inheritable)) {
      startup.hStdOutput = ends.stdoutWrite;
      startup.dwFlags |= STARTF_USESTDHANDLES;
      MakeNonInheritable(ends.stdoutRead);
    }
    if ((flags & RUN_STDERR_PIPE) != 0 &&
        MakePipe(ends.stderrRead, ends.stderrWrite, inheritable)) {
      startup.hStdError = ends.stderrWrite;
      startup.dwFlags |= STARTF_USESTDHANDLES;
      MakeNonInheritable(ends.stderrRead);
    }
  }

  // Once any stream is given, the program inherits its ends, needs no console of its own even
  // when hidden, and gets all three streams: ours where no pipe was made.
  if ((startup.dwFlags & STARTF_USESTDHANDLES) != 0) {
    inheritHandles = TRUE;
    creationFlags &= ~CREATE_NEW_CONSOLE;
    if (startup.hStdInput == nullptr) startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    if (startup.hStdOutput == nullptr) startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (startup.hStdError == nullptr) startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  }

  if (program == nullptr) program = L"";
  if (parameters == nullptr) parameters = L"";
  size_t programLength = TextLength(program);
  size_t parametersLength = TextLength(parameters);

  // Room for the program in quotes, a space, the parameters and the terminating null.
  auto* commandLine = static_cast<wchar_t*>(
      ::HeapAlloc(LibraryHeap, 0, 2 * (programLength + parametersLength) + 8));
  if (commandLine == nullptr) {
    ends.CloseAll();
    return 0;
  }
  wchar_t* end = commandLine;
  if (program[0] == L'"') {
    end = Append(end, program, programLength);
  } else {
    *end++ = L'"';
    end = Append(end, program, programLength);
    *end++ = L'"';
  }
  if (parametersLength != 0) {
    *end++ = L' ';
    end = Append(end, parameters, parametersLength);
  }
  *end = L'\0';

  const wchar_t* directory =
      workingDirectory != nullptr && workingDirectory[0] != L'\0' ? workingDirectory : nullptr;

  PROCESS_INFORMATION started = {};
  CreateProcessFunction createProcess = LAUNCHER_SEAM(CreateProcessForTesting, ::CreateProcessW);
  uintptr_t result = 0;
  if (createProcess(nullptr, commandLine, nullptr, nullptr, inheritHandles, creationFlags, nullptr,
                    directory, &startup, &started)) {
    ends.CloseProgramEnds();
    ::CloseHandle(started.hThread);
    result = Finish(started.hProcess, started.dwProcessId, ends, flags);
  } else {
    ends.CloseAll();
    // A document or anything else the shell knows how to open; not when streams were asked
    // for, since the shell cannot connect them.
    if ((flags & RUN_STREAM_MASK) == 0) {
      result = StartThroughShell(program, parameters, directory, startup.wShowWindow, flags,
                                 commandLine);
    }
  }
  ::HeapFree(LibraryHeap, 0, commandLine);
  return result;
}

}  // namespace launcher
