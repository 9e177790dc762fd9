#include "platform/program_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/heaps.h"

namespace launcher_test {
namespace {

using launcher::CreateProcessForTesting;
using launcher::FirstRecord;
using launcher::LibraryHeap;
using launcher::ProgramRecord;
using launcher::ProgramRegistry;
using launcher::RunFlags;
using launcher::ShellExecuteExForTesting;
using launcher::StartProgram;
using launcher::StartProgramFrom;
using Report = std::map<std::wstring, std::wstring>;
namespace fs = std::filesystem;

// A child is this test program started again with "mode|report file" in this variable.
constexpr wchar_t kChildVariable[] = L"PROGRAM_RUNNER_TEST_CHILD";
constexpr DWORD kPatience = 20000;  // only guards against a hang

std::wstring Widen(const std::string& bytes) { return std::wstring(bytes.begin(), bytes.end()); }

std::string ReadToEnd(HANDLE from) {
  std::string data;
  char buffer[256];
  DWORD got = 0;
  while (::ReadFile(from, buffer, sizeof(buffer), &got, nullptr) && got > 0)
    data.append(buffer, got);
  return data;
}

// Child side: reports what it was given, then does what its mode asks.
void RunChild(const std::wstring& mode, const std::wstring& reportPath) {
  STARTUPINFOW startup = {};
  ::GetStartupInfoW(&startup);
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  bool pipe = ::GetFileType(input) == FILE_TYPE_PIPE;
  wchar_t folder[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, folder);
  std::wstring report = std::wstring(L"cmd=") + ::GetCommandLineW() + L"\npid=" +
                        std::to_wstring(::GetCurrentProcessId()) + L"\nflags=" +
                        std::to_wstring(startup.dwFlags) + L"\nshow=" +
                        std::to_wstring(startup.wShowWindow) + L"\nstdin=" +
                        (pipe ? L"pipe" : L"other") + L"\ncwd=" + folder + L"\n";
  DWORD written = 0;
  if (mode.rfind(L"echo", 0) == 0) {
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), "to stdout", 9, &written, nullptr);
  }
  if (mode == L"echo both") {
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), "to stderr", 9, &written, nullptr);
  }
  // Reaching the end proves that no one else holds the pipe's write end, this child included.
  if (mode == L"read" && pipe) report += L"input=" + Widen(ReadToEnd(input)) + L"\neof=yes\n";
  if (mode == L"linger") ::Sleep(300);
  // Written aside and renamed, so a report that exists is whole.
  std::wstring part = reportPath + L".part";
  HANDLE file = ::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ::WriteFile(file, report.data(), static_cast<DWORD>(report.size() * 2), &written, nullptr);
  ::CloseHandle(file);
  ::MoveFileW(part.c_str(), reportPath.c_str());
}

// Runs before main, so that a child never runs the tests.
const bool kIsChild = [] {
  wchar_t value[1024];
  DWORD length = ::GetEnvironmentVariableW(kChildVariable, value, 1024);
  if (length == 0 || length >= 1024) return false;
  std::wstring setting(value, length);
  size_t bar = setting.find(L'|');
  RunChild(setting.substr(0, bar), setting.substr(bar + 1));
  ::ExitProcess(0);
}();

// What a pipe holds once its writer has ended; empty unless no write end is open anywhere.
std::string DrainEnded(HANDLE pipe) {
  std::string data;
  DWORD available = 0;
  while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
    if (available == 0) return "(a write end is still open)";
    std::string chunk(available, '\0');
    ::ReadFile(pipe, chunk.data(), available, &available, nullptr);
    data += chunk.substr(0, available);
  }
  return data;
}

Report ReadReport(const std::wstring& path) {
  Report report;
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return report;
  std::string bytes = ReadToEnd(file);
  ::CloseHandle(file);
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
  for (size_t start = 0, end; (end = text.find(L'\n', start)) != std::wstring::npos;
       start = end + 1) {
    size_t equals = text.find(L'=', start);
    report[text.substr(start, equals - start)] = text.substr(equals + 1, end - equals - 1);
  }
  return report;
}

// What the runner last handed to CreateProcessW, and how the stand-in treats the call.
struct ProcessStart {
  bool applicationNamed = false;
  std::wstring commandLine;
  SIZE_T bufferBytes = 0;
  BOOL inheritHandles = FALSE;
  DWORD creationFlags = 0;
  const wchar_t* directory = nullptr;
  STARTUPINFOW startup = {};
  const wchar_t* startInstead = nullptr;  // the program to start under the composed line
  bool refuse = false;
  bool exhaustHeap = false;  // leaves no room for the record
} seenStart;

BOOL WINAPI RecordingCreateProcess(LPCWSTR application, LPWSTR commandLine,
                                   LPSECURITY_ATTRIBUTES processAttributes,
                                   LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                   DWORD creationFlags, LPVOID environment, LPCWSTR directory,
                                   LPSTARTUPINFOW startup, LPPROCESS_INFORMATION started) {
  seenStart.applicationNamed = application != nullptr;
  seenStart.commandLine = commandLine;
  seenStart.bufferBytes = ::HeapSize(LibraryHeap, 0, commandLine);
  seenStart.inheritHandles = inheritHandles;
  seenStart.creationFlags = creationFlags;
  seenStart.directory = directory;
  seenStart.startup = *startup;
  if (seenStart.refuse) return FALSE;
  while (seenStart.exhaustHeap && ::HeapAlloc(LibraryHeap, 0, 8) != nullptr) {
  }
  return ::CreateProcessW(seenStart.startInstead, commandLine, processAttributes, threadAttributes,
                          inheritHandles, creationFlags, environment, directory, startup, started);
}

struct ShellStart {
  int calls = 0;
  SHELLEXECUTEINFOW info = {};
  std::wstring file, parameters, directory;
} seenShell;

BOOL WINAPI RecordingShellExecute(SHELLEXECUTEINFOW* info) {
  ++seenShell.calls;
  seenShell.info = *info;
  seenShell.file = info->lpFile;
  seenShell.parameters = info->lpParameters;
  seenShell.directory = info->lpDirectory != nullptr ? info->lpDirectory : L"(none)";
  info->hProcess = nullptr;  // the shell may start nothing it can name
  return TRUE;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

class ProgramRunner : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    static bool initialised = false;
    if (!initialised) launcher::InitProgramRunner();
    initialised = true;
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    folder_ =
        fs::temp_directory_path() / ("program runner " + std::to_string(::GetCurrentProcessId()));
    fs::create_directories(folder_ / "docs");
    fs::copy_file(self, Child());  // a path with spaces, which only quoting keeps whole
  }
  // Children that were not kept may still be ending, holding the program file a moment.
  static void TearDownTestSuite() {
    std::error_code ignored;
    for (int attempt = 0; attempt < 50 && fs::exists(folder_); ++attempt, ::Sleep(100)) {
      std::vector<fs::path> paths(fs::recursive_directory_iterator(folder_, ignored), {});
      std::sort(paths.rbegin(), paths.rend());  // contents before their folder
      for (const fs::path& path : paths) fs::remove(path, ignored);
      fs::remove(folder_, ignored);
    }
  }
  void TearDown() override {
    CreateProcessForTesting = nullptr;
    ShellExecuteExForTesting = nullptr;
    ::SetEnvironmentVariableW(kChildVariable, nullptr);
    seenStart = {};
    seenShell = {};
  }

  static std::wstring Child() { return (folder_ / "child program.exe").wstring(); }

  // The next program started reports as a child in `mode`.
  void ExpectChild(const std::wstring& mode) {
    reportPath_ = (folder_ / ("report" + std::to_string(++reports_))).wstring();
    ::SetEnvironmentVariableW(kChildVariable, (mode + L"|" + reportPath_).c_str());
  }
  Report WaitForChild(HANDLE process) {
    EXPECT_EQ(::WaitForSingleObject(process, kPatience), WAIT_OBJECT_0);
    ::TerminateProcess(process, 1);
    return ReadReport(reportPath_);
  }
  // For a child whose process handle was not kept.
  Report AwaitReport() {
    for (DWORD waited = 0; waited < kPatience && !fs::exists(reportPath_); waited += 50) {
      ::Sleep(50);
    }
    return ReadReport(reportPath_);
  }

  static fs::path folder_;
  static int reports_;
  std::wstring reportPath_;
};

fs::path ProgramRunner::folder_;
int ProgramRunner::reports_ = 0;

// This process's open handles. GetProcessHandleCount gives 0 under Wine; the system's handle
// table is right on both.
size_t OpenHandles() {
  using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  constexpr ULONG kSystemHandleInformation = 16;
  struct Entry {
    ULONG processId;
    UCHAR type, flags;
    USHORT handle;
    void* object;
    ULONG access;
  };
  auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<ULONG_PTR> table(1 << 20);
  ULONG got = 0;
  if (query(kSystemHandleInformation, table.data(), table.size() * sizeof(ULONG_PTR), &got) != 0) {
    ADD_FAILURE() << "no handle table";
    return 0;
  }
  auto* entries = reinterpret_cast<const Entry*>(table.data() + 1);
  size_t open = 0;
  for (ULONG_PTR i = 0; i < table[0]; ++i) open += entries[i].processId == ::GetCurrentProcessId();
  return open;
}

bool Inheritable(HANDLE handle) {
  DWORD info = 0;
  return ::GetHandleInformation(handle, &info) && (info & HANDLE_FLAG_INHERIT) != 0;
}

bool Open(HANDLE handle) {
  DWORD info = 0;
  return ::GetHandleInformation(handle, &info) != FALSE;
}

TEST_F(ProgramRunner, ComposesTheCommandLine) {
  std::wstring child = Child();
  std::wstring quoted = Quoted(child);
  std::wstring unclosed = L"\"" + child;
  struct Case {
    const wchar_t* program;
    const wchar_t* parameters;
    bool startInstead;  // the program cannot start as named
    std::wstring expected;
  } cases[] = {
      {child.c_str(), L"--first \"two words\"", false, Quoted(child) + L" --first \"two words\""},
      {child.c_str(), L"", false, Quoted(child)},
      {child.c_str(), nullptr, false, Quoted(child)},
      {quoted.c_str(), L" spaced ", false, quoted + L"  spaced "},
      {unclosed.c_str(), L"open", true, unclosed + L" open"},
      {nullptr, L"-x", true, L"\"\" -x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.expected.size() << " units");
    CreateProcessForTesting = RecordingCreateProcess;
    seenStart.startInstead = c.startInstead ? child.c_str() : nullptr;
    ExpectChild(L"report");
    uintptr_t result = StartProgram(c.program, c.parameters, nullptr, launcher::RUN_KEEP);
    ASSERT_GT(result, 1u);
    auto* record = reinterpret_cast<ProgramRecord*>(result);
    EXPECT_EQ(WaitForChild(record->process)[L"cmd"], c.expected);
    EXPECT_EQ(seenStart.commandLine, c.expected);
    size_t units = (c.program ? wcslen(c.program) : 0) + (c.parameters ? wcslen(c.parameters) : 0);
    EXPECT_EQ(seenStart.bufferBytes, 2 * units + 8);
  }
}

// The launcher's one start: DOSBox cannot exist here, so the child runs under its command line.
TEST_F(ProgramRunner, StartsDosBoxAsTheLauncherDoes) {
  const wchar_t* parameters =
      L" \"C:\\PB35\\PB.exe\" -noconsole -exit -conf \"C:\\PB35\\dosbox.conf\" ";
  struct Case {
    const wchar_t* program;
    size_t units;
  } cases[] = {{L"C:\\Program Files\\DOSBox-0.74\\DOSBox.exe", 105},
               {L"C:\\Program Files (x86)\\DOSBox-0.74\\DOSBox.exe", 111}};
  std::wstring child = Child();
  wchar_t ownFolder[MAX_PATH];
  ::GetCurrentDirectoryW(MAX_PATH, ownFolder);
  for (const Case& c : cases) {
    std::wstring expected = Quoted(c.program) + L" " + parameters;
    CreateProcessForTesting = RecordingCreateProcess;
    seenStart.startInstead = child.c_str();
    ExpectChild(L"read");
    size_t handles = OpenHandles();
    uintptr_t result =
        StartProgram(c.program, parameters, L"", launcher::RUN_KEEP | launcher::RUN_STDIN_PIPE);
    ASSERT_GT(result, 1u);
    auto* record = reinterpret_cast<ProgramRecord*>(result);
    EXPECT_EQ(OpenHandles(), handles + 2) << "only the process and our pipe end stay open";

    EXPECT_EQ(seenStart.commandLine, expected);
    EXPECT_EQ(seenStart.commandLine.size(), c.units);
    EXPECT_EQ(seenStart.bufferBytes, 2 * c.units + 2);
    EXPECT_FALSE(seenStart.applicationNamed);
    EXPECT_EQ(seenStart.directory, nullptr);
    EXPECT_EQ(seenStart.creationFlags, DWORD{NORMAL_PRIORITY_CLASS});
    EXPECT_TRUE(seenStart.inheritHandles);
    EXPECT_EQ(seenStart.startup.dwFlags, DWORD{STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES});
    EXPECT_EQ(seenStart.startup.hStdOutput, ::GetStdHandle(STD_OUTPUT_HANDLE));
    EXPECT_EQ(seenStart.startup.hStdError, ::GetStdHandle(STD_ERROR_HANDLE));

    EXPECT_EQ(FirstRecord(ProgramRegistry), record);
    EXPECT_EQ(record->flags, RunFlags{0x14});
    EXPECT_EQ(record->stdoutRead, nullptr);
    EXPECT_EQ(record->stderrRead, nullptr);
    ASSERT_NE(record->stdinWrite, nullptr);
    EXPECT_FALSE(Inheritable(record->stdinWrite));
    DWORD written = 0;
    ::WriteFile(record->stdinWrite, "PB.EXE", 6, &written, nullptr);
    ::CloseHandle(record->stdinWrite);  // the child sees the end only if it holds no copy
    Report report = WaitForChild(record->process);
    EXPECT_EQ(report[L"cmd"], expected);
    EXPECT_EQ(report[L"pid"], std::to_wstring(record->processId));
    EXPECT_EQ(report[L"flags"], L"257");
    EXPECT_EQ(report[L"show"], L"1");
    EXPECT_EQ(report[L"stdin"], L"pipe");
    EXPECT_EQ(report[L"input"], L"PB.EXE");
    EXPECT_EQ(report[L"eof"], L"yes");
    EXPECT_EQ(report[L"cwd"], ownFolder);
    ::CloseHandle(record->process);
  }
}

TEST_F(ProgramRunner, ReadsStandardOutputAndErrorThroughPipes) {
  ExpectChild(L"echo both");
  size_t handles = OpenHandles();
  uintptr_t result =
      StartProgram(Child().c_str(), nullptr, nullptr,
                   launcher::RUN_KEEP | launcher::RUN_STDOUT_PIPE | launcher::RUN_STDERR_PIPE);
  ASSERT_GT(result, 1u);
  auto* record = reinterpret_cast<ProgramRecord*>(result);
  EXPECT_EQ(OpenHandles(), handles + 3);
  EXPECT_EQ(record->stdinWrite, nullptr);
  EXPECT_FALSE(Inheritable(record->stdoutRead));
  EXPECT_FALSE(Inheritable(record->stderrRead));
  EXPECT_EQ(WaitForChild(record->process)[L"flags"], L"257");
  EXPECT_EQ(DrainEnded(record->stdoutRead), "to stdout");
  EXPECT_EQ(DrainEnded(record->stderrRead), "to stderr");
  for (HANDLE handle : {record->process, record->stdoutRead, record->stderrRead}) {
    ::CloseHandle(handle);
  }
}

TEST_F(ProgramRunner, ChainsOneProgramsOutputIntoTheNextOnesInput) {
  const RunFlags from = launcher::RUN_KEEP | launcher::RUN_STDIN_FROM | launcher::RUN_STDIN_PIPE;
  ExpectChild(L"echo");
  uintptr_t first = StartProgram(Child().c_str(), nullptr, nullptr,
                                 launcher::RUN_KEEP | launcher::RUN_STDOUT_PIPE);
  ASSERT_GT(first, 1u);
  auto* source = reinterpret_cast<ProgramRecord*>(first);
  std::wstring firstReport = reportPath_;
  ExpectChild(L"read");
  size_t handles = OpenHandles();
  uintptr_t second = StartProgramFrom(Child().c_str(), nullptr, nullptr, from, source);
  ASSERT_GT(second, 1u);
  auto* reader = reinterpret_cast<ProgramRecord*>(second);
  EXPECT_EQ(OpenHandles(), handles + 1) << "the handed-on end is closed again";
  EXPECT_EQ(reader->stdinWrite, nullptr) << "no pipe of its own";
  EXPECT_TRUE(Open(source->stdoutRead));
  EXPECT_FALSE(Inheritable(source->stdoutRead));
  Report report = WaitForChild(reader->process);
  EXPECT_EQ(report[L"input"], L"to stdout");
  EXPECT_EQ(report[L"eof"], L"yes");
  EXPECT_EQ(report[L"flags"], L"257");
  reportPath_ = firstReport;
  WaitForChild(source->process);

  // Without a usable source the program gets a pipe of its own.
  for (const ProgramRecord* unusable : {static_cast<ProgramRecord*>(nullptr), reader}) {
    ExpectChild(L"read");
    uintptr_t result = StartProgramFrom(Child().c_str(), nullptr, nullptr, from, unusable);
    ASSERT_GT(result, 1u);
    auto* record = reinterpret_cast<ProgramRecord*>(result);
    ASSERT_NE(record->stdinWrite, nullptr);
    ::CloseHandle(record->stdinWrite);
    EXPECT_EQ(WaitForChild(record->process)[L"eof"], L"yes");
  }
}

TEST_F(ProgramRunner, WaitsForTheProgramToEnd) {
  ExpectChild(L"linger");
  uintptr_t result =
      StartProgram(Child().c_str(), nullptr, nullptr, launcher::RUN_KEEP | launcher::RUN_WAIT);
  ASSERT_GT(result, 1u);
  auto* record = reinterpret_cast<ProgramRecord*>(result);
  EXPECT_EQ(::WaitForSingleObject(record->process, 0), WAIT_OBJECT_0) << "ended before registering";
  DWORD exitCode = 1;
  EXPECT_TRUE(::GetExitCodeProcess(record->process, &exitCode)) << "its handle is still open";
  EXPECT_EQ(exitCode, 0u);
  ::CloseHandle(record->process);

  ExpectChild(L"linger");
  size_t handles = OpenHandles();
  EXPECT_EQ(StartProgram(Child().c_str(), nullptr, nullptr, launcher::RUN_WAIT), 1u);
  EXPECT_TRUE(fs::exists(reportPath_));
  EXPECT_EQ(OpenHandles(), handles);
}

// Show state and console, and stream bits that connect nothing without RUN_KEEP.
TEST_F(ProgramRunner, HidesAndConnectsAsTheFlagsAsk) {
  using namespace launcher;
  struct Case {
    RunFlags flags;
    DWORD creationFlags;
    BOOL inheritHandles;
    const wchar_t* startupFlags;
    const wchar_t* show;
  } cases[] = {
      {RUN_KEEP | RUN_HIDE, 0x30, FALSE, L"1", L"0"},
      {RUN_KEEP, 0x20, FALSE, L"1", L"1"},
      {RUN_KEEP | RUN_HIDE | RUN_STDIN_PIPE, 0x20, TRUE, L"257", L"0"},
      {RUN_KEEP | RUN_HIDE | RUN_STDOUT_PIPE, 0x20, TRUE, L"257", L"0"},
      {RUN_HIDE | RUN_STDIN_PIPE, 0x30, FALSE, L"1", L"0"},
      {RUN_STDOUT_PIPE | RUN_STDERR_PIPE, 0x20, FALSE, L"1", L"1"},
      {0, 0x20, FALSE, L"1", L"1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags " << c.flags);
    CreateProcessForTesting = RecordingCreateProcess;
    ExpectChild(L"report");
    size_t handles = OpenHandles();
    uintptr_t result = StartProgram(Child().c_str(), nullptr, nullptr, c.flags);
    Report report;
    if ((c.flags & RUN_KEEP) != 0) {
      ASSERT_GT(result, 1u);
      auto* record = reinterpret_cast<ProgramRecord*>(result);
      report = WaitForChild(record->process);
      for (HANDLE handle : {record->process, record->stdinWrite, record->stdoutRead}) {
        if (handle != nullptr) ::CloseHandle(handle);
      }
    } else {
      EXPECT_EQ(result, 1u);
      EXPECT_EQ(OpenHandles(), handles);
      report = AwaitReport();
    }
    EXPECT_EQ(seenStart.creationFlags, c.creationFlags);
    EXPECT_EQ(seenStart.inheritHandles, c.inheritHandles);
    EXPECT_EQ(report[L"flags"], c.startupFlags);
    EXPECT_EQ(report[L"show"], c.show);
  }
}

// When CreateProcessW refuses, the shell gets the program unless a stream was asked for.
TEST_F(ProgramRunner, FallsBackToTheShell) {
  using namespace launcher;
  struct Case {
    const wchar_t* program;
    const wchar_t* workingDirectory;
    RunFlags flags;
    const wchar_t* directory;  // null: the shell is not asked
    int show;
  } cases[] = {
      {L"C:\\Apps\\tool.exe", nullptr, RUN_KEEP, L"C:\\Apps\\", SW_SHOWNORMAL},
      {L"tool.exe", nullptr, 0, L"(none)", SW_SHOWNORMAL},
      {L"\\tool.exe", L"", RUN_KEEP | RUN_HIDE, L"(none)", SW_HIDE},
      {L"\"C:\\Apps\\tool.exe\"", nullptr, RUN_KEEP, L"\"C:\\Apps\\", SW_SHOWNORMAL},
      {L"C:\\Apps\\tool.exe", L"D:\\Work", RUN_HIDE, L"D:\\Work", SW_HIDE},
      {nullptr, nullptr, RUN_KEEP, L"(none)", SW_SHOWNORMAL},
      {L"C:\\Apps\\tool.exe", nullptr, RUN_STDIN_PIPE, nullptr, 0},
      {L"C:\\Apps\\tool.exe", nullptr, RUN_STDOUT_PIPE, nullptr, 0},
      {L"C:\\Apps\\tool.exe", nullptr, RUN_STDERR_PIPE, nullptr, 0},
      {L"C:\\Apps\\tool.exe", nullptr, RUN_STDIN_FROM, nullptr, 0},
      {L"C:\\Apps\\tool.exe", nullptr, RUN_KEEP | RUN_STREAM_MASK, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags " << c.flags);
    CreateProcessForTesting = RecordingCreateProcess;
    seenStart.refuse = true;
    ShellExecuteExForTesting = RecordingShellExecute;
    seenShell = {};
    size_t handles = OpenHandles();
    uintptr_t result = StartProgram(c.program, L"-p", c.workingDirectory, c.flags);
    EXPECT_EQ(OpenHandles(), handles) << "every pipe end is closed again";
    if (c.directory == nullptr) {
      EXPECT_EQ(seenShell.calls, 0);
      EXPECT_EQ(result, 0u);
      continue;
    }
    ASSERT_EQ(seenShell.calls, 1);
    EXPECT_EQ(seenShell.info.cbSize, sizeof(SHELLEXECUTEINFOW));
    EXPECT_EQ(seenShell.info.fMask, 0x540u);
    EXPECT_EQ(seenShell.file, c.program != nullptr ? c.program : L"");
    EXPECT_EQ(seenShell.parameters, L"-p");
    EXPECT_EQ(seenShell.directory, c.directory);
    EXPECT_EQ(seenShell.info.nShow, c.show);
    if ((c.flags & RUN_KEEP) == 0) {
      EXPECT_EQ(result, 1u);
      continue;
    }
    ASSERT_GT(result, 1u);
    auto* record = reinterpret_cast<ProgramRecord*>(result);
    EXPECT_EQ(record->process, nullptr);
    EXPECT_EQ(record->processId, 0xFFFFFFFFu);
    EXPECT_EQ(record->stdinWrite, nullptr);
    EXPECT_EQ(record->stdoutRead, nullptr);
    EXPECT_EQ(record->stderrRead, nullptr);
    EXPECT_EQ(record->flags, c.flags);
  }
}

// A document of a type whose open command is this test program: the shell starts it in the
// document's folder. (Wine 8 has no .txt type, so a text file does not open there.)
TEST_F(ProgramRunner, OpensADocumentThroughTheShell) {
  std::wstring command = Quoted(Child()) + L" \"%1\"";
  struct Key {
    const wchar_t* path;
    std::wstring value;
  } keys[] = {{L".pbrunnertest", L"PbRunnerTest.Document"},
              {L"PbRunnerTest.Document\\shell\\open\\command", command}};
  for (const Key& key : keys) {
    ::RegSetKeyValueW(HKEY_CLASSES_ROOT, key.path, nullptr, REG_SZ, key.value.c_str(),
                      static_cast<DWORD>((key.value.size() + 1) * sizeof(wchar_t)));
  }
  fs::path document = folder_ / "docs" / "some text.pbrunnertest";
  ::CloseHandle(
      ::CreateFileW(document.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ExpectChild(L"report");
  uintptr_t result =
      StartProgram(document.c_str(), nullptr, nullptr, launcher::RUN_KEEP | launcher::RUN_WAIT);
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"PbRunnerTest.Document");
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L".pbrunnertest");
  ASSERT_GT(result, 1u);
  auto* record = reinterpret_cast<ProgramRecord*>(result);
  EXPECT_EQ(record->processId, 0xFFFFFFFFu);
  ASSERT_NE(record->process, nullptr);
  EXPECT_EQ(::WaitForSingleObject(record->process, 0), WAIT_OBJECT_0);
  Report report = ReadReport(reportPath_);
  EXPECT_EQ(report[L"cmd"], Quoted(Child()) + L" " + Quoted(document.wstring()));
  EXPECT_EQ(report[L"cwd"], (folder_ / "docs").wstring());
  ::CloseHandle(record->process);
}

// Out of memory for the command line or the record: 0, and none of the start's handles open.
TEST_F(ProgramRunner, GivesUpCleanlyWithoutMemory) {
  const RunFlags flags = launcher::RUN_KEEP | launcher::RUN_STDIN_PIPE | launcher::RUN_STDOUT_PIPE |
                         launcher::RUN_STDERR_PIPE;
  HANDLE ownHeap = LibraryHeap;
  LibraryHeap = ::HeapCreate(0, 0x10000, 0x10000);
  CreateProcessForTesting = RecordingCreateProcess;

  while (::HeapAlloc(LibraryHeap, 0, 8) != nullptr) {
  }
  size_t handles = OpenHandles();
  EXPECT_EQ(StartProgram(Child().c_str(), nullptr, nullptr, flags), 0u);
  EXPECT_EQ(OpenHandles(), handles);
  EXPECT_TRUE(seenStart.commandLine.empty()) << "nothing was started";

  // The record is what fails: the program runs on, but sees its input end.
  ::HeapDestroy(LibraryHeap);
  LibraryHeap = ::HeapCreate(0, 0x10000, 0x10000);
  seenStart.exhaustHeap = true;
  ExpectChild(L"read");
  EXPECT_EQ(StartProgram(Child().c_str(), nullptr, nullptr, flags), 0u);
  EXPECT_EQ(OpenHandles(), handles);
  EXPECT_EQ(AwaitReport()[L"eof"], L"yes");

  ::HeapDestroy(LibraryHeap);
  LibraryHeap = ownHeap;
}

}  // namespace
}  // namespace launcher_test
