#include "platform/program_runner.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>

#include "tests/child_process.h"
#include "tests/heap_check.h"

namespace launcher_test {
namespace {

using namespace launcher;

// 0 for an open handle that children do not inherit; all bits set for one that is not open.
DWORD HandleFlags(HANDLE handle) {
  DWORD flags = 0;
  return ::GetHandleInformation(handle, &flags) ? flags : ~0u;
}

// This process's open handles: Windows and Wine hand out the lowest free values, and Wine's
// GetProcessHandleCount gives 0.
size_t OpenHandles() {
  size_t open = 0;
  for (uintptr_t value = 4; value < 0x1000; value += 4)
    open += HandleFlags(reinterpret_cast<HANDLE>(value)) != ~0u;
  return open;
}

ProgramRecord* Kept(uintptr_t result) {
  return result > 1 ? reinterpret_cast<ProgramRecord*>(result) : nullptr;
}

// What the runner last handed to CreateProcessW. The stand-in fails, or starts this test
// program under that command line.
struct {
  bool refuse;
  std::wstring commandLine;
  BOOL inheritHandles;
  DWORD creationFlags;
  const wchar_t* directory;
  STARTUPINFOW startup;
} seen;

BOOL WINAPI RecordingCreateProcess(LPCWSTR application, LPWSTR commandLine,
                                   LPSECURITY_ATTRIBUTES process, LPSECURITY_ATTRIBUTES thread,
                                   BOOL inheritHandles, DWORD creationFlags, LPVOID environment,
                                   LPCWSTR directory, LPSTARTUPINFOW startup,
                                   LPPROCESS_INFORMATION started) {
  EXPECT_EQ(application, nullptr) << "the command line names the program";
  seen = {seen.refuse, commandLine, inheritHandles, creationFlags, directory, *startup};
  return !seen.refuse &&
         ::CreateProcessW(SelfPath().c_str(), commandLine, process, thread, inheritHandles,
                          creationFlags, environment, directory, startup, started);
}

SHELLEXECUTEINFOW shell;
std::wstring shellDirectory;  // held in the runner's buffer only during the call

BOOL WINAPI RecordingShellExecute(SHELLEXECUTEINFOW* info) {
  shell = *info;
  shellDirectory = info->lpDirectory != nullptr ? info->lpDirectory : L"(none)";
  info->hProcess = nullptr;  // the shell may start nothing it can name
  return TRUE;
}

class ProgramRunner : public testing::Test {
 protected:
  static void SetUpTestSuite() { InitProgramRunner(); }
  void SetUp() override {
    CreateProcessForTesting = RecordingCreateProcess;
    ExpectChildren(L"", scratch_.path);
  }
  void TearDown() override {
    CreateProcessForTesting = nullptr;
    seen = {};
  }
  ScratchFolder scratch_;
};

// CreateProcessW refuses each: the shell gets the program, unless a stream was asked for.
TEST_F(ProgramRunner, ComposesTheCommandLineAndFallsBackToTheShell) {
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
  ShellExecuteExForTesting = RecordingShellExecute;
  seen.refuse = true;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.commandLine << " flags " << c.flags);
    shell = {};
    const size_t handles = OpenHandles();
    const uintptr_t result = StartProgram(c.program, c.parameters, c.workingDirectory, c.flags);
    EXPECT_EQ(OpenHandles(), handles) << "every pipe end is closed again";
    EXPECT_EQ(seen.commandLine, c.commandLine);
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
  ShellExecuteExForTesting = nullptr;
}

// Show state, console, inheritance and streams (only for a kept program) as the flags ask, and
// the wait. A kept program leaves its process handle and the caller's pipe ends open, no more.
TEST_F(ProgramRunner, HidesConnectsAndWaitsAsTheFlagsAsk) {
  // Creation flags, inheritance, the child's report, and the handles left open.
  const std::pair<RunFlags, const char*> cases[] = {
      {RUN_KEEP | RUN_HIDE, "30 0 1 0 other 1"},
      {RUN_KEEP | RUN_STDIN_FROM | RUN_STDIN_PIPE, "20 1 257 1 pipe 2"},  // a pipe instead
      {RUN_STDOUT_PIPE | RUN_STDERR_PIPE, "20 0 1 1 other 0"},
  };
  const ProgramRecord noOutput = {};
  for (const auto& [flags, expected] : cases) {
    SCOPED_TRACE(testing::Message() << "flags " << flags);
    const size_t handles = OpenHandles();
    const uintptr_t result =
        StartProgramFrom(SelfPath().c_str(), nullptr, L"", flags | RUN_WAIT, &noOutput);
    const std::vector<std::string> report = TakeReports(scratch_.path);
    ASSERT_EQ(report.size(), 1u) << "the child has ended";
    std::ostringstream seenAs;
    seenAs << std::hex << seen.creationFlags << " " << seen.inheritHandles << " "
           << report[0].substr(report[0].find('|') + 1) << " " << OpenHandles() - handles;
    EXPECT_EQ(seenAs.str(), expected);
    EXPECT_EQ(seen.directory, nullptr) << "an empty working folder is the caller's";
    EXPECT_EQ(seen.startup.hStdError,
              seen.inheritHandles ? ::GetStdHandle(STD_ERROR_HANDLE) : nullptr);
    if (const ProgramRecord* kept = Kept(result)) {
      EXPECT_EQ(::WaitForSingleObject(kept->process, 0), WAIT_OBJECT_0) << "open, ended";
      EXPECT_EQ(FirstRecord(ProgramRegistry), kept);
      EXPECT_EQ(kept->processId, ::GetProcessId(kept->process));
      EXPECT_EQ(HandleFlags(kept->stdinWrite), flags & RUN_STDIN_PIPE ? 0u : ~0u);
    } else {
      EXPECT_EQ(result, 1u);
    }
  }
}

}  // namespace
}  // namespace launcher_test
