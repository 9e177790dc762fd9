#include "platform/program_runner.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "platform/heaps.h"
#include "tests/scratch_folder.h"

namespace launcher_test {
namespace {

using namespace launcher;
using Report = std::map<std::wstring, std::wstring>;

// A child is this test program started again with "mode|report file" in this variable. It
// reports what it was given; mode "e" also writes to its output and error, "r" reads its input.
constexpr wchar_t kChildVariable[] = L"PROGRAM_RUNNER_TEST_CHILD";

std::wstring Child() {
  wchar_t self[MAX_PATH];
  return std::wstring(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
}
std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::string ReadToEnd(HANDLE from) {
  std::string data;
  char buffer[256];
  DWORD got = 0;
  while (::ReadFile(from, buffer, sizeof(buffer), &got, nullptr) && got > 0)
    data.append(buffer, got);
  return data;
}

// Runs before main, so that a child never runs the tests.
const bool kIsChild = [] {
  const wchar_t* setting = _wgetenv(kChildVariable);
  if (setting == nullptr) return false;
  std::wstring mode(setting, wcscspn(setting, L"|"));
  STARTUPINFOW startup = {};
  ::GetStartupInfoW(&startup);
  wchar_t cwd[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, cwd);
  std::wstring report = std::wstring(L"cmd=") + ::GetCommandLineW() + L"\nflags=" +
                        std::to_wstring(startup.dwFlags) + L"\nshow=" +
                        std::to_wstring(startup.wShowWindow) + L"\ncwd=" + cwd + L"\n";
  DWORD written = 0;
  if (mode == L"e") {
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), "to stdout", 9, &written, nullptr);
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), "to stderr", 9, &written, nullptr);
  }
  // Reaching the end proves that no one else holds the pipe's write end, this child included.
  if (mode == L"r") {
    std::string data = ReadToEnd(::GetStdHandle(STD_INPUT_HANDLE));
    report += L"input=" + std::wstring(data.begin(), data.end()) + L"\n";
  }
  WriteBytes(setting + mode.size() + 1,
             std::string(reinterpret_cast<const char*>(report.data()), report.size() * 2));
  ::ExitProcess(0);
}();

// Read once the child has ended.
Report ReadReport(const std::wstring& path) {
  std::string bytes = ReadBytes(path);
  std::wistringstream lines(
      std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2));
  Report report;
  for (std::wstring line; std::getline(lines, line);)
    report[line.substr(0, line.find(L'='))] = line.substr(line.find(L'=') + 1);
  return report;
}

// This process's open handles (GetProcessHandleCount gives 0 under Wine); Windows and Wine hand
// out the lowest free handle values.
size_t OpenHandles() {
  size_t open = 0;
  DWORD flags = 0;
  for (uintptr_t value = 4; value < 0x1000; value += 4)
    open += ::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != FALSE;
  return open;
}

// 0 for an open handle that children do not inherit; all bits set for one that is not open.
DWORD HandleFlags(HANDLE handle) {
  DWORD flags = 0;
  return ::GetHandleInformation(handle, &flags) ? flags : ~DWORD{0};
}

ProgramRecord* Kept(uintptr_t result) {
  return result > 1 ? reinterpret_cast<ProgramRecord*>(result) : nullptr;
}

// What the runner last handed to CreateProcessW. The stand-in starts the child under that
// command line, since the programs it names need not exist here.
struct ProcessStart {
  bool refuse;       // fails as for a file that is not a program
  bool exhaustHeap;  // leaves no room for the record
  std::wstring commandLine;
  SIZE_T bufferBytes;
  BOOL inheritHandles;
  DWORD creationFlags;
  const wchar_t* directory;
  STARTUPINFOW startup;
} seen;

BOOL WINAPI RecordingCreateProcess(LPCWSTR application, LPWSTR commandLine,
                                   LPSECURITY_ATTRIBUTES processAttributes,
                                   LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                   DWORD creationFlags, LPVOID environment, LPCWSTR directory,
                                   LPSTARTUPINFOW startup, LPPROCESS_INFORMATION started) {
  EXPECT_EQ(application, nullptr) << "the command line names the program";
  seen = {seen.refuse,    seen.exhaustHeap, commandLine, ::HeapSize(LibraryHeap, 0, commandLine),
          inheritHandles, creationFlags,    directory,   *startup};
  if (seen.refuse) return FALSE;
  while (seen.exhaustHeap && ::HeapAlloc(LibraryHeap, 0, 8) != nullptr) {
  }
  return ::CreateProcessW(Child().c_str(), commandLine, processAttributes, threadAttributes,
                          inheritHandles, creationFlags, environment, directory, startup, started);
}

struct ShellStart {
  SHELLEXECUTEINFOW info;
  std::wstring directory;  // held in the runner's buffer only during the call
} shell;

BOOL WINAPI RecordingShellExecute(SHELLEXECUTEINFOW* info) {
  shell = {*info, info->lpDirectory != nullptr ? info->lpDirectory : L"(none)"};
  info->hProcess = nullptr;  // the shell may start nothing it can name
  return TRUE;
}

class ProgramRunner : public testing::Test {
 protected:
  static void SetUpTestSuite() { InitProgramRunner(); }
  void TearDown() override {
    CreateProcessForTesting = nullptr;
    ShellExecuteExForTesting = nullptr;
    seen = {};
    shell = {};
    // Wine lets go of an ended child's working folder a moment later.
    for (int attempt = 0; attempt < 50 && Exists(scratch_.path); ++attempt, ::Sleep(100))
      RemoveTree(scratch_.path);
  }

  // The next program started reports as a child in `mode`.
  void ExpectChild(const std::wstring& mode) {
    reportPath_ = scratch_ / (L"report" + std::to_wstring(++reports_));
    ::SetEnvironmentVariableW(kChildVariable, (mode + L"|" + reportPath_).c_str());
  }
  Report WaitForChild(HANDLE process) {
    EXPECT_EQ(::WaitForSingleObject(process, 20000), WAIT_OBJECT_0);  // only guards a hang
    ::TerminateProcess(process, 1);
    ::CloseHandle(process);
    return ReadReport(reportPath_);
  }

  ScratchFolder scratch_;
  int reports_ = 0;
  std::wstring reportPath_;
};

// CreateProcessW refuses each: the shell gets the program, unless a stream was asked for.
TEST_F(ProgramRunner, ComposesTheCommandLineAndFallsBackToTheShell) {
  struct {
    const wchar_t *program, *parameters, *workingDirectory;
    RunFlags flags;
    const wchar_t *commandLine, *directory;  // the shell's directory; null: the shell is not asked
  } cases[] = {
      {L"C:\\Apps\\a.exe", L"-f \"two words\"", nullptr, RUN_KEEP,
       L"\"C:\\Apps\\a.exe\" -f \"two words\"", L"C:\\Apps\\"},
      {L"a.exe", L"", nullptr, 0, L"\"a.exe\"", L"(none)"},
      {L"\\a.exe", nullptr, L"", RUN_KEEP | RUN_HIDE, L"\"\\a.exe\"", L"(none)"},
      {L"\"C:\\Apps\\a.exe\"", L" spaced ", nullptr, RUN_KEEP, L"\"C:\\Apps\\a.exe\"  spaced ",
       L"\"C:\\Apps\\"},
      {L"C:\\Apps\\a.exe", L"-x", L"D:\\Work", RUN_HIDE, L"\"C:\\Apps\\a.exe\" -x", L"D:\\Work"},
      {nullptr, L"-x", nullptr, RUN_KEEP, L"\"\" -x", L"(none)"},
      {L"\"C:\\Apps\\a.exe", L"-x", nullptr, RUN_STDIN_PIPE, L"\"C:\\Apps\\a.exe -x", nullptr},
      {L"a.exe", nullptr, nullptr, RUN_STDOUT_PIPE, L"\"a.exe\"", nullptr},
      {L"a.exe", nullptr, nullptr, RUN_STDERR_PIPE, L"\"a.exe\"", nullptr},
      {L"a.exe", nullptr, nullptr, RUN_STDIN_FROM, L"\"a.exe\"", nullptr},
      {L"a.exe", nullptr, nullptr, RUN_KEEP | RUN_STREAM_MASK, L"\"a.exe\"", nullptr},
  };
  CreateProcessForTesting = RecordingCreateProcess;
  ShellExecuteExForTesting = RecordingShellExecute;
  seen.refuse = true;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.commandLine << " flags " << c.flags);
    shell = {};
    size_t handles = OpenHandles();
    uintptr_t result = StartProgram(c.program, c.parameters, c.workingDirectory, c.flags);
    EXPECT_EQ(OpenHandles(), handles) << "every pipe end is closed again";
    EXPECT_EQ(seen.commandLine, c.commandLine);
    std::wstring program = c.program ? c.program : L"",
                 parameters = c.parameters ? c.parameters : L"";
    EXPECT_EQ(seen.bufferBytes, 2 * (program.size() + parameters.size()) + 8);
    EXPECT_EQ(shell.info.cbSize, c.directory != nullptr ? sizeof(SHELLEXECUTEINFOW) : 0u);
    if (c.directory == nullptr) {
      EXPECT_EQ(result, 0u);
      continue;
    }
    EXPECT_EQ(shell.info.fMask, 0x540u);
    EXPECT_EQ(shell.info.lpFile, program);
    EXPECT_EQ(shell.info.lpParameters, parameters);
    EXPECT_EQ(shell.directory, c.directory);
    EXPECT_EQ(shell.info.nShow, (c.flags & RUN_HIDE) != 0 ? SW_HIDE : SW_SHOWNORMAL);
    if ((c.flags & RUN_KEEP) == 0) {
      EXPECT_EQ(result, 1u);
      continue;
    }
    ASSERT_NE(Kept(result), nullptr);
    EXPECT_EQ(Kept(result)->flags, c.flags) << "as passed";
  }
}

// The launcher's one start; the child runs under DOSBox's command line.
TEST_F(ProgramRunner, StartsDosBoxAsTheLauncherDoes) {
  const wchar_t* parameters =
      L" \"C:\\PB35\\PB.exe\" -noconsole -exit -conf \"C:\\PB35\\dosbox.conf\" ";
  for (auto [program, units] :
       {std::pair{L"C:\\Program Files\\DOSBox-0.74\\DOSBox.exe", 105u},
        std::pair{L"C:\\Program Files (x86)\\DOSBox-0.74\\DOSBox.exe", 111u}}) {
    CreateProcessForTesting = RecordingCreateProcess;
    ExpectChild(L"r");
    size_t handles = OpenHandles();
    ProgramRecord* record = Kept(StartProgram(program, parameters, L"", RUN_KEEP | RUN_STDIN_PIPE));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(OpenHandles(), handles + 2) << "only the process and our pipe end stay open";
    EXPECT_EQ(seen.commandLine, Quoted(program) + L" " + parameters);
    EXPECT_EQ(seen.commandLine.size(), units);
    EXPECT_EQ(seen.directory, nullptr);
    EXPECT_EQ(seen.startup.hStdOutput, ::GetStdHandle(STD_OUTPUT_HANDLE));
    EXPECT_EQ(seen.startup.hStdError, ::GetStdHandle(STD_ERROR_HANDLE));
    EXPECT_EQ(FirstRecord(ProgramRegistry), record);
    EXPECT_EQ(HandleFlags(record->stdinWrite), 0u);
    DWORD written = 0;
    ::WriteFile(record->stdinWrite, "PB.EXE", 6, &written, nullptr);
    ::CloseHandle(record->stdinWrite);  // the child sees the end only if it holds no copy
    EXPECT_EQ(record->processId, ::GetProcessId(record->process));
    EXPECT_EQ(WaitForChild(record->process)[L"input"], L"PB.EXE");
  }
}

// One program's output into the next one's input, its error into a pipe of its own.
TEST_F(ProgramRunner, ChainsOutputIntoTheNextProgram) {
  ExpectChild(L"e");
  size_t handles = OpenHandles();
  ProgramRecord* source = Kept(StartProgram(Child().c_str(), nullptr, nullptr,
                                            RUN_KEEP | RUN_STDOUT_PIPE | RUN_STDERR_PIPE));
  ASSERT_NE(source, nullptr);
  ASSERT_EQ(OpenHandles(), handles + 3) << "no write end stays open here";
  WaitForChild(source->process);
  EXPECT_EQ(HandleFlags(source->stderrRead), 0u);
  EXPECT_EQ(ReadToEnd(source->stderrRead), "to stderr");

  ExpectChild(L"r");
  handles = OpenHandles();
  ProgramRecord* reader = Kept(StartProgramFrom(
      Child().c_str(), nullptr, nullptr, RUN_KEEP | RUN_STDIN_FROM | RUN_STDIN_PIPE, source));
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(OpenHandles(), handles + 1) << "the handed-on end is closed again";
  EXPECT_EQ(reader->stdinWrite, nullptr) << "no pipe of its own";
  EXPECT_EQ(HandleFlags(source->stdoutRead), 0u) << "the source keeps its end";
  EXPECT_EQ(WaitForChild(reader->process)[L"input"], L"to stdout");
}

// Show state and console, stream bits that connect nothing without RUN_KEEP, an input source with
// no output, and the wait that every case asks for: the child has ended when the call returns.
TEST_F(ProgramRunner, HidesConnectsAndWaitsAsTheFlagsAsk) {
  struct {
    RunFlags flags;
    DWORD creationFlags;
    BOOL inheritHandles;
    const wchar_t *startupFlags, *show;
  } cases[] = {
      {RUN_KEEP | RUN_HIDE, 0x30, FALSE, L"1", L"0"},
      {RUN_KEEP | RUN_HIDE | RUN_STDIN_PIPE, 0x20, TRUE, L"257", L"0"},
      {RUN_KEEP | RUN_HIDE | RUN_STDOUT_PIPE, 0x20, TRUE, L"257", L"0"},
      {RUN_KEEP | RUN_STDIN_FROM | RUN_STDIN_PIPE, 0x20, TRUE, L"257", L"1"},  // a pipe instead
      {RUN_HIDE | RUN_STDIN_PIPE, 0x30, FALSE, L"1", L"0"},
      {RUN_STDOUT_PIPE | RUN_STDERR_PIPE, 0x20, FALSE, L"1", L"1"},
  };
  const ProgramRecord noOutput = {};
  CreateProcessForTesting = RecordingCreateProcess;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags " << c.flags);
    ExpectChild(L"");
    size_t handles = OpenHandles();
    uintptr_t result =
        StartProgramFrom(Child().c_str(), nullptr, nullptr, c.flags | RUN_WAIT, &noOutput);
    Report report = ReadReport(reportPath_);
    if ((c.flags & RUN_KEEP) != 0) {
      ASSERT_NE(Kept(result), nullptr);
      EXPECT_EQ(::WaitForSingleObject(Kept(result)->process, 0), WAIT_OBJECT_0) << "open, ended";
    } else {
      EXPECT_EQ(result, 1u);
      EXPECT_EQ(OpenHandles(), handles);
    }
    EXPECT_EQ(seen.creationFlags, c.creationFlags);
    EXPECT_EQ(seen.inheritHandles, c.inheritHandles);
    EXPECT_EQ(report[L"flags"], c.startupFlags);
    EXPECT_EQ(report[L"show"], c.show);
  }
}

// A document of a type whose open command is this test program: the shell starts it in the
// document's folder. (Wine 8 has no .txt type, so a text file does not open there.)
TEST_F(ProgramRunner, OpensADocumentThroughTheShell) {
  std::wstring command = Quoted(Child()) + L" \"%1\"", document = scratch_ / L"a b.pbtest";
  ::RegSetValueW(HKEY_CLASSES_ROOT, L".pbtest", REG_SZ, L"PbRunnerTest.Document", 0);
  ::RegSetValueW(HKEY_CLASSES_ROOT, L"PbRunnerTest.Document\\shell\\open\\command", REG_SZ,
                 command.c_str(), 0);
  WriteBytes(document, "");
  ExpectChild(L"");
  ProgramRecord* record =
      Kept(StartProgram(document.c_str(), nullptr, nullptr, RUN_KEEP | RUN_WAIT));
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"PbRunnerTest.Document");
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L".pbtest");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->processId, 0xFFFFFFFFu);
  EXPECT_EQ(::WaitForSingleObject(record->process, 0), WAIT_OBJECT_0) << "waited for";
  Report report = WaitForChild(record->process);
  EXPECT_EQ(report[L"cmd"], Quoted(Child()) + L" " + Quoted(document));
  EXPECT_EQ(report[L"cwd"], scratch_.path);
}

// Out of memory for the command line, then for the record (the program then runs on): 0, and
// none of the start's handles open.
TEST_F(ProgramRunner, GivesUpCleanlyWithoutMemory) {
  HANDLE ownHeap = LibraryHeap;
  CreateProcessForTesting = RecordingCreateProcess;
  for (bool recordFails : {false, true}) {
    LibraryHeap = ::HeapCreate(0, 0x10000, 0x10000);
    while (!recordFails && ::HeapAlloc(LibraryHeap, 0, 8) != nullptr) {
    }
    seen.exhaustHeap = recordFails;
    ::SetEnvironmentVariableW(kChildVariable, L"|NUL");  // it may outlive the test
    size_t handles = OpenHandles();
    EXPECT_EQ(StartProgram(Child().c_str(), nullptr, nullptr,
                           RUN_KEEP | RUN_STDIN_PIPE | RUN_STDOUT_PIPE | RUN_STDERR_PIPE),
              0u);
    EXPECT_EQ(OpenHandles(), handles);
    EXPECT_EQ(seen.commandLine.empty(), !recordFails);
    ::HeapDestroy(LibraryHeap);
  }
  LibraryHeap = ownHeap;
}

}  // namespace
}  // namespace launcher_test
