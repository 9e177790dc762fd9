#include "platform/program_runner.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/heap_check.h"

namespace launcher_test {
namespace {

using namespace launcher;

// This process's open handles: Windows and Wine hand out the lowest free values, and Wine's
// GetProcessHandleCount gives 0.
size_t OpenHandles() {
  size_t open = 0;
  for (uintptr_t value = 4; value < 0x1000; value += 4) {
    DWORD flags = 0;
    open += ::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != FALSE;
  }
  return open;
}

ProgramRecord* Kept(uintptr_t result) {
  return result > 1 ? reinterpret_cast<ProgramRecord*>(result) : nullptr;
}

// What the runner last handed to CreateProcessW, which refuses every start here.
std::wstring commandLine;

BOOL WINAPI RefusingCreateProcess(LPCWSTR application, LPWSTR line, LPSECURITY_ATTRIBUTES,
                                  LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR,
                                  LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
  EXPECT_EQ(application, nullptr) << "the command line names the program";
  commandLine = line;
  return FALSE;
}

SHELLEXECUTEINFOW shell;
std::wstring shellDirectory;  // held in the runner's buffer only during the call

BOOL WINAPI RecordingShellExecute(SHELLEXECUTEINFOW* info) {
  shell = *info;
  shellDirectory = info->lpDirectory != nullptr ? info->lpDirectory : L"(none)";
  info->hProcess = nullptr;  // the shell may start nothing it can name
  return TRUE;
}

// CreateProcessW refuses each: the shell gets the program, unless a stream was asked for.
TEST(ProgramRunner, ComposesTheCommandLineAndFallsBackToTheShell) {
  const struct {
    const wchar_t *program, *parameters, *workingDirectory;
    RunFlags flags;
    const wchar_t *commandLine, *directory;  // the shell's directory; null: the shell is not asked
  } cases[] = {
      {L"C:\\Apps\\a.exe", L"-f \"two words\"", nullptr, RUN_KEEP,
       L"\"C:\\Apps\\a.exe\" -f \"two words\"", L"C:\\Apps\\"},
      {L"\\a.exe", nullptr, L"", RUN_KEEP | RUN_HIDE, L"\"\\a.exe\"", L"(none)"},
      {L"\"C:\\Apps\\a.exe\"", L" spaced ", nullptr, RUN_KEEP, L"\"C:\\Apps\\a.exe\"  spaced ",
       L"\"C:\\Apps\\"},  // quoted already
      {L"C:\\Apps\\a.exe", L"-x", L"D:\\Work", RUN_HIDE, L"\"C:\\Apps\\a.exe\" -x", L"D:\\Work"},
      {nullptr, L"-x", nullptr, RUN_KEEP, L"\"\" -x", L"(none)"},
      {L"a.exe", nullptr, nullptr, RUN_KEEP | RUN_STREAM_MASK, L"\"a.exe\"", nullptr},
  };
  InitProgramRunner();
  CreateProcessForTesting = RefusingCreateProcess;
  ShellExecuteExForTesting = RecordingShellExecute;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.commandLine << " flags " << c.flags);
    shell = {};
    const size_t handles = OpenHandles();
    const uintptr_t result = StartProgram(c.program, c.parameters, c.workingDirectory, c.flags);
    EXPECT_EQ(OpenHandles(), handles) << "every pipe end is closed again";
    EXPECT_EQ(commandLine, c.commandLine);
    EXPECT_EQ(shell.cbSize, c.directory != nullptr ? sizeof shell : 0u);
    if (c.directory == nullptr) {
      EXPECT_EQ(result, 0u);
      continue;
    }
    EXPECT_EQ(shell.fMask, 0x540u);  // keep the process handle, wait for DDE, show no box
    EXPECT_STREQ(shell.lpFile, c.program ? c.program : L"");
    EXPECT_STREQ(shell.lpParameters, c.parameters ? c.parameters : L"");
    EXPECT_EQ(shellDirectory, c.directory);
    EXPECT_EQ(shell.nShow, (c.flags & RUN_HIDE) != 0 ? SW_HIDE : SW_SHOWNORMAL);
    const ProgramRecord* kept = Kept(result);
    EXPECT_EQ(kept ? kept->flags : result, c.flags & RUN_KEEP ? c.flags : 1u);
  }
  CreateProcessForTesting = nullptr;
  ShellExecuteExForTesting = nullptr;
}

}  // namespace
}  // namespace launcher_test
