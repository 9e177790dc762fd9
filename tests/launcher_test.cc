// The launcher as a whole: the shipped 32-bit image, read where it lies, and this build's launcher
// run as a user starts it, on a C: drive laid out for each case, with this test program copied as
// DOSBox.exe standing in for DOSBox (child_process.h).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "launch/config_templates.h"
#include "tests/child_process.h"

namespace launcher_test {
namespace {

const HMODULE kImage = ::LoadLibraryExW(SHIPPED_LAUNCHER, nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);

// What lies at `rva`. The low bits of the module handle mark how it was loaded.
template <typename T>
const T* At(DWORD rva) {
  return reinterpret_cast<const T*>((reinterpret_cast<ULONG_PTR>(kImage) & ~ULONG_PTR{3}) + rva);
}

std::string Resource(LPCWSTR type, int id) {
  HRSRC found = ::FindResourceExW(kImage, type, MAKEINTRESOURCEW(id),
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  if (found == nullptr) return {};
  return std::string(static_cast<const char*>(::LockResource(::LoadResource(kImage, found))),
                     ::SizeofResource(kImage, found));
}

// A 32-bit GUI program within its size budget, which imports only system functions.
TEST(ShippedImage, HeadersAndImports) {
  ASSERT_NE(kImage, nullptr) << "build the i686 launcher first (cmake --preset i686)";
  const IMAGE_NT_HEADERS32& nt = *At<IMAGE_NT_HEADERS32>(At<IMAGE_DOS_HEADER>(0)->e_lfanew);
  const IMAGE_OPTIONAL_HEADER32& optional = nt.OptionalHeader;
  ASSERT_EQ(optional.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
  EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
  EXPECT_NE(nt.FileHeader.TimeDateStamp, 0u) << "a zero stamp trips some virus scanners";
  EXPECT_EQ(nt.FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE, 0);  // file identities
  EXPECT_EQ(optional.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  EXPECT_EQ(
      std::vector<WORD>(&optional.MajorOperatingSystemVersion, &optional.MinorSubsystemVersion + 1),
      (std::vector<WORD>{4, 0, 0, 0, 4, 0}));  // system, image, subsystem versions
  EXPECT_EQ(std::vector<DWORD>(&optional.SizeOfStackReserve, &optional.SizeOfHeapCommit + 1),
            (std::vector<DWORD>{1048576, 4096, 1048576, 4096}));
  // Loaded at a random address, data that cannot run, no exception handlers to steer into.
  const WORD safer = IMAGE_DLLCHARACTERISTICS_NX_COMPAT | IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE |
                     IMAGE_DLLCHARACTERISTICS_NO_SEH |
                     IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE;
  EXPECT_EQ(optional.DllCharacteristics & safer, safer);
  const IMAGE_DATA_DIRECTORY* directory = optional.DataDirectory;
  EXPECT_NE(directory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u) << "it can be moved";
  // Nothing runs or is loaded before the entry point but what the import table names.
  EXPECT_EQ(directory[IMAGE_DIRECTORY_ENTRY_TLS].Size, 0u);
  EXPECT_EQ(directory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].Size, 0u);
  EXPECT_LT(optional.AddressOfEntryPoint - optional.BaseOfCode, optional.SizeOfCode);
  EXPECT_LT(ReadBytes(SHIPPED_LAUNCHER).size() - 1, 40960u) << "1 to 40960 bytes";

  // Only these system DLLs, by name, and no C runtime; EnumDisplayDevicesW and the DLL search
  // functions are looked up at run time. Nothing reads the command line, which it ignores.
  std::set<std::string> dlls, imported;
  for (auto* module =
           At<IMAGE_IMPORT_DESCRIPTOR>(directory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
       module->Name != 0; ++module) {
    std::string dll = At<char>(module->Name);
    std::transform(dll.begin(), dll.end(), dll.begin(), ::toupper);
    dlls.insert(dll);
    for (auto* thunk = At<IMAGE_THUNK_DATA32>(module->OriginalFirstThunk);
         thunk->u1.AddressOfData != 0; ++thunk) {
      ASSERT_FALSE(thunk->u1.Ordinal & IMAGE_ORDINAL_FLAG32) << dll << " by ordinal";
      imported.insert(At<IMAGE_IMPORT_BY_NAME>(thunk->u1.AddressOfData)->Name);
    }
  }
  EXPECT_EQ(dlls, (std::set<std::string>{"COMCTL32.DLL", "GDI32.DLL", "KERNEL32.DLL", "OLE32.DLL",
                                         "SHELL32.DLL", "USER32.DLL"}));
  EXPECT_TRUE(imported.count("ExitProcess") && imported.count("MessageBoxW"));
  for (const char* absent : {"EnumDisplayDevicesW", "SetDefaultDllDirectories", "SetDllDirectoryW",
                             "GetCommandLineW", "GetCommandLineA", "CommandLineToArgvW"})
    EXPECT_EQ(imported.count(absent), 0u) << absent;
}

// The icon, the version record and the manifest are in, in US English: four 16-colour icon
// images, version 1.0.1, and the common controls of version 6 with no other request (no
// elevation either).
TEST(ShippedImage, IconVersionRecordAndManifest) {
  const std::string group = Resource(RT_GROUP_ICON, 1), version = Resource(RT_VERSION, 1),
                    manifest = Resource(RT_MANIFEST, 1);
  ASSERT_EQ(group.size(), 6u + 4 * 14);  // a header, then 14 bytes for each image
  for (int i = 0; i < 4; ++i) EXPECT_EQ(group[6 + 14 * i + 2], 16) << "colours of image " << i;
  const std::wstring strings(reinterpret_cast<const wchar_t*>(version.data()), version.size() / 2);
  for (const std::wstring text : {L"FileVersion", L"1.0.1"})
    EXPECT_NE(strings.find(text + L'\0'), std::wstring::npos) << text;
  EXPECT_NE(manifest.find("\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);
  EXPECT_EQ(manifest.find("trustInfo"), std::string::npos);
}

const std::wstring kFirst = L"C:\\Program Files\\DOSBox-0.74\\";
const std::wstring kSecond = L"C:\\Program Files (x86)\\DOSBox-0.74\\";
const std::wstring kPbFolder = L"C:\\PB35\\";
const std::wstring kConfig = kPbFolder + L"dosbox.conf";
const std::wstring kReports = L"C:\\launcher-test-reports";
const std::wstring kStrangersTrace = L"C:\\STRANGER.TXT";  // left by someone else's dosbox.conf

std::wstring BinFolder() { return SelfPath().substr(0, SelfPath().rfind(L'\\') + 1); }

// A visible window of class `kind` (#32770 for a message box) of process `processId` not among
// `seen`, or null.
inline HWND FindShown(const wchar_t* kind, DWORD processId, const std::vector<HWND>& seen = {}) {
  for (HWND box = nullptr; (box = ::FindWindowExW(nullptr, box, kind, nullptr)) != nullptr;) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(box, &owner);
    if (owner == processId && ::IsWindowVisible(box) &&
        std::find(seen.begin(), seen.end(), box) == seen.end())
      return box;
  }
  return nullptr;
}

// "caption|text" of a message box, and "|owned" when it has an owner.
inline std::wstring DescribeBox(HWND box) {
  wchar_t caption[256] = {}, text[512] = {};
  ::GetWindowTextW(box, caption, 256);
  ::GetDlgItemTextW(box, 0xFFFF, text, 512);  // the text control of a message box
  return std::wstring(caption) + L"|" + text + (::GetWindow(box, GW_OWNER) ? L"|owned" : L"");
}

// The programs one launcher run started that still run, and the job every program it started
// joined. Closing the job ends whatever is left in it, so a test that stops early, or dies,
// leaves no DOSBox working in C:\PB35 while the next test lays that folder out.
struct Started {
  HANDLE job = nullptr;
  std::vector<HANDLE> running;

  Started() = default;
  Started(Started&& other) noexcept { *this = std::move(other); }
  Started& operator=(Started&& other) noexcept {
    End();
    std::swap(job, other.job);
    std::swap(running, other.running);
    return *this;
  }
  ~Started() { End(); }
  void End() {
    if (job != nullptr) ::CloseHandle(job);
    job = nullptr;
    for (HANDLE process : running) {
      EXPECT_EQ(::WaitForSingleObject(process, kPatienceMs), WAIT_OBJECT_0) << "not ended";
      ::CloseHandle(process);
    }
    running.clear();
  }
};

// Runs the launcher in `folder`, as Explorer runs a program in its own folder, inside a job
// that every program it starts joins, and expects it to show `message` in a box (if any), to end
// with 0 and to have started a DOSBox or nothing; what it started.
Started RunLauncher(const std::wstring& folder, const wchar_t* message, bool startsDosbox) {
  // Wine's desktop is a program of its own (explorer.exe /desktop), started by the first program
  // that needs it, as that program's child, and closed a second after its last user has ended.
  // Brought up here, it is this test program's child, kept while this program runs, and not one
  // the launcher starts inside its job: Windows' desktop is always there.
  ::GetDesktopWindow();
  std::wstring commandLine = L"\"" + BinFolder() + L"PBLaunch.exe\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  Started started;
  started.job = ::CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  EXPECT_TRUE(::SetInformationJobObject(started.job, JobObjectExtendedLimitInformation, &limits,
                                        sizeof limits));
  const HANDLE job = started.job;
  // Held until it is in the job, so that nothing it starts can escape the job.
  EXPECT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                               CREATE_SUSPENDED, nullptr, folder.c_str(), &startup, &process));
  EXPECT_TRUE(::AssignProcessToJobObject(job, process.hProcess));
  ::ResumeThread(process.hThread);
  std::vector<std::wstring> shown;
  std::vector<HWND> seen;
  const ULONGLONG deadline = ::GetTickCount64() + kPatienceMs;
  // The test's own windows go on taking messages meanwhile, as Explorer's do.
  while (::MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 20, QS_ALLINPUT) != 0) {
    for (MSG queued; ::PeekMessageW(&queued, nullptr, 0, 0, PM_REMOVE);)
      ::DispatchMessageW(&queued);
    if (::GetTickCount64() > deadline) {
      ADD_FAILURE() << "the launcher did not end within " << kPatienceMs / 1000 << " s";
      ::TerminateProcess(process.hProcess, 99);
    } else if (const HWND box = FindShown(L"#32770", process.dwProcessId, seen)) {
      seen.push_back(box);
      shown.push_back(DescribeBox(box));
      ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
  }
  DWORD exitCode = STILL_ACTIVE;
  ::GetExitCodeProcess(process.hProcess, &exitCode);
  shown.push_back(L"exit code " + std::to_wstring(exitCode));
  // Wine counts a program in its creator's job as it creates it, so the count holds every start
  // that the launcher made, even one that has ended since, and no program of another can be
  // taken for it by a process id that Wine handed out again.
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION count = {};
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more[7];
  } ids = {};
  EXPECT_TRUE(
      ::QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr) &&
      ::QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &count, sizeof count,
                                  nullptr));
  std::wstring line = L"started " + std::to_wstring(count.TotalProcesses - 1) + L", running";
  for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; ++i) {
    HANDLE child = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                 static_cast<DWORD>(ids.list.ProcessIdList[i]));
    if (child == nullptr) continue;
    wchar_t path[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    ::QueryFullProcessImageNameW(child, 0, path, &length);
    line += L" " + std::wstring(path).substr(std::wstring(path).rfind(L'\\') + 1);
    started.running.push_back(child);
  }
  shown.push_back(line);
  std::vector<std::wstring> expected = {
      L"exit code 0", startsDosbox ? L"started 1, running DOSBox.exe" : L"started 0, running"};
  if (message != nullptr) expected.insert(expected.begin(), L"ERROR!|" + std::wstring(message));
  EXPECT_EQ(shown, expected);
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  return started;
}

// What the session expects, from its environment, else `otherwise`.
std::string Expected(const char* variable, const char* otherwise) {
  const char* named = std::getenv(variable);
  return named ? named : otherwise;
}

// The text for the session's screen.
std::string ExpectedConfig() {
  const launcher::ConfigTemplate& config =
      launcher::SelectTemplate(::GetSystemMetrics(SM_CYSCREEN));
  std::string text(static_cast<size_t>(config.length), '\0');
  launcher::RenderTemplate(config, text.data());
  EXPECT_NE(text.find("\r\nfullresolution=" + Expected("LAUNCHER_EXPECTED_RESOLUTION", "1280x800")),
            std::string::npos);
  return text;
}

// Lets the DOSBox stand-ins go, waits for them to end, and empties the C: drive of a case.
void Clear(Started& started) {
  ASSERT_TRUE(ReleaseChildren(started.running)) << "a DOSBox stand-in did not end once released";
  started = Started();
  for (const std::wstring& folder : {kFirst, kSecond, kPbFolder, kReports, kStrangersTrace})
    ASSERT_TRUE(RemoveTree(folder)) << "cannot remove " << folder;
  ASSERT_TRUE(::CreateDirectoryW(kReports.c_str(), nullptr));
}

enum Dosbox { kNone, kEmptyFolder, kDosbox };
// What C:\PB35 holds: a bit each for the folder, the user's dosbox.conf, a folder in its place
// and the stand-in PB.exe.
enum Pb { kNoPb = 0, kPbEmpty = 1, kConfigMine = 3, kConfigFolder = 5, kPbExe = 9 };
bool Has(int pb, Pb what) { return (pb & what) == what; }
const char kMine[] = "[sdl]\r\nfullscreen=true\r\n";

// Lays out a case's C: drive, with `dosbox` as DOSBox.exe in the DOSBox folders that have one.
bool Stage(Dosbox first, Dosbox second, int pb, const std::wstring& dosbox = SelfPath()) {
  bool staged = true;
  for (const auto& [what, folder] : {std::pair{first, kFirst}, {second, kSecond}}) {
    if (what != kNone) staged &= ::CreateDirectoryW(folder.c_str(), nullptr) != 0;
    if (what == kDosbox)
      staged &= ::CopyFileW(dosbox.c_str(), (folder + L"DOSBox.exe").c_str(), FALSE) != 0;
  }
  if (Has(pb, kPbEmpty)) staged &= ::CreateDirectoryW(kPbFolder.c_str(), nullptr) != 0;
  if (Has(pb, kConfigMine)) staged &= WriteBytes(kConfig, kMine);
  if (Has(pb, kConfigFolder)) staged &= ::CreateDirectoryW(kConfig.c_str(), nullptr) != 0;
  if (Has(pb, kPbExe))
    staged &= ::CopyFileW(STAND_IN_PB, (kPbFolder + L"PB.exe").c_str(), FALSE) != 0;
  return staged;
}

// Every path, staged for real: the launcher ends with 0; a DOSBox it started works in C:\PB35,
// is shown normally, reads a pipe the launcher let go of, and outlives it; no other path starts
// anything. Each test session runs this with its own screen, whose height chooses the text.
TEST(Launcher, EveryPathShowsStartsAndWritesWhatItShould) {
  const struct {
    Dosbox first, second;
    Pb pb;
    const wchar_t* box;                     // the one message shown, if any
    const std::wstring* started = nullptr;  // the folder of the DOSBox started, if any
    const char* config = nullptr;           // dosbox.conf afterwards: "" for the written text
  } cases[] = {
      {kDosbox, kDosbox, kPbEmpty, nullptr, &kFirst, ""},
      {kNone, kDosbox, kPbEmpty, nullptr, &kSecond, ""},
      {kEmptyFolder, kDosbox, kPbEmpty, L"Unable to locate the DOSBox or it is not installed."},
      {kDosbox, kNone, kNoPb, L"Unable to locate the PowerBasic folder, \"C:\\PB35\\\"."},
      {kDosbox, kNone, kConfigFolder, L"Unable to write DOSBox configuration file to disk.",
       &kFirst},
      {kDosbox, kNone, kConfigMine, nullptr, &kFirst, kMine},
  };
  ScratchFolder downloads;  // the launcher's own folder
  ExpectChildren(kReports);
  // Another program's window in front, as Explorer's is when a user starts the launcher: the
  // launcher's boxes then have no owner.
  const HWND front = ::CreateWindowExW(0, L"Static", L"", WS_POPUP | WS_VISIBLE, 0, 0, 99, 99,
                                       nullptr, nullptr, nullptr, nullptr);
  // A started DOSBox runs PB.exe with the configuration, in C:\PB35, on a pipe as its input.
  const auto expectReport = [](HANDLE dosbox, const std::wstring& folder) {
    const std::wstring line = L"\"" + folder +
                              L"DOSBox.exe\"  \"C:\\PB35\\PB.exe\" -noconsole -exit -conf "
                              L"\"C:\\PB35\\dosbox.conf\" |C:\\PB35|257 1 pipe";
    EXPECT_EQ(WaitForReport(kReports, dosbox), std::string(line.begin(), line.end()));
  };
  // DOSBox holds until the case is cleared, so it still runs once the launcher has ended.
  Started started;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    ASSERT_NO_FATAL_FAILURE(Clear(started));
    ASSERT_TRUE(Stage(c.first, c.second, c.pb));
    EXPECT_TRUE(::SetForegroundWindow(front)) << "the test's window did not come to the front";
    started = RunLauncher(downloads.path, c.box, c.started != nullptr);
    if (c.started && started.running.size() == 1) expectReport(started.running[0], *c.started);
    // No file, or a folder, reads as empty.
    EXPECT_EQ(ReadBytes(kConfig), c.config == nullptr ? ""
                                  : *c.config         ? c.config
                                                      : ExpectedConfig());
  }
  // There is no single-instance guard: a second launcher starts a second DOSBox.
  Started second = RunLauncher(downloads.path, nullptr, true);
  if (second.running.size() == 1) expectReport(second.running[0], kFirst);
  second.running.insert(second.running.end(), started.running.begin(), started.running.end());
  started.running.clear();
  Clear(second);
  ::DestroyWindow(front);
}

// Types `text` into `window`, a key at a time: DOS keeps only 15 that it has not read.
void Type(HWND window, const char* text) {
  for (; *text != 0; ++text, ::Sleep(50)) {
    const UINT key = *text == '-' ? VK_OEM_MINUS : ::toupper(*text);  // as are space and Enter
    const LPARAM scanCode = LPARAM(::MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
    ::PostMessageW(window, WM_KEYDOWN, key, scanCode | 1);
    ::PostMessageW(window, WM_KEYUP, key, scanCode | 0xC0000001);
  }
}

// DOSBox 0.74-3 for Windows, the users' build, started by the shipped launcher from Downloads,
// beside someone else's dosbox.conf (DOSBox would leave C:\STRANGER.TXT if it ran that) and
// stdout.txt: it runs PB.exe with the written text and closes by itself; with dosbox.conf a
// folder, on its own settings file; without PB.exe it waits at its prompt, with every setting of
// the written text, until "exit" is typed. Each test session runs this with its own screen.
TEST(WindowsDosbox, RunsPbOrWaitsAtItsPrompt) {
  const struct {
    int pb;
    const wchar_t* box;
    const char* loaded;  // the configuration that DOSBox's stdout.txt says it loaded
  } cases[] = {
      {kPbExe, nullptr, "config file C:\\PB35\\dosbox.conf"},
      {kConfigFolder | kPbExe, L"Unable to write DOSBox configuration file to disk.",
       "\\AppData\\Local\\DOSBox\\dosbox-0.74-3.conf"},  // its own, in the user's profile
      {kPbEmpty, nullptr, "config file C:\\PB35\\dosbox.conf"},
  };
  ScratchFolder downloads;
  const std::string strangers = "[autoexec]\r\nmount d c:\\\r\necho ran>d:\\STRANGER.TXT\r\n",
                    theirs = "their output\r\n";
  ASSERT_TRUE(WriteBytes(downloads / L"dosbox.conf", strangers) &&
              WriteBytes(downloads / L"stdout.txt", theirs));
  Started started;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    ASSERT_NO_FATAL_FAILURE(Clear(started));
    ASSERT_TRUE(Stage(kDosbox, kNone, c.pb, WINDOWS_DOSBOX));
    started = RunLauncher(downloads.path, c.box, true);
    ASSERT_EQ(started.running.size(), 1u);
    const HANDLE dosbox = started.running[0];
    if (!Has(c.pb, kPbExe)) {
      // Its splash image, which drops key presses, is over once the window's title names its
      // speed. It reads what is typed only after its own start-up commands, so a file written by
      // a typed command shows that it went on waiting at its prompt: "config -wc" writes out the
      // settings it took. "exit" then closes it.
      HWND window = nullptr;
      wchar_t title[128] = {};
      ASSERT_TRUE(WaitUntil([&] {
        window = FindShown(L"SDL_app", ::GetProcessId(dosbox));
        return ::GetWindowTextW(window, title, 128) && wcsstr(title, L"Cpu speed") != nullptr;
      })) << "DOSBox showed no window that names its speed";
      Type(window, "config -wc p\r");
      std::string taken;
      EXPECT_TRUE(WaitUntil([&] {
        return (taken = ReadBytes(kPbFolder + L"p")).find("[autoexec]") != std::string::npos;
      })) << "DOSBox took no command at its prompt";
      RECT area = {};
      ::GetClientRect(window, &area);
      EXPECT_EQ(std::to_string(area.right) + "x" + std::to_string(area.bottom),
                Expected("LAUNCHER_EXPECTED_TEXT_WINDOW", "1280x800"));
      Type(window, "exit\r");
      // Every setting line of the text, but ipx=false: this DOSBox has no IPX (the archive it
      // is built from lacks SDL_net's source).
      const std::string text = ExpectedConfig();
      for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const std::string line = text.substr(at, end - at);
        if (line.find('=') == std::string::npos || line[0] == '#' || line == "ipx=false") continue;
        EXPECT_NE(taken.find("\r\n" + line + "\r\n"), std::string::npos) << line;
      }
    }
    ASSERT_EQ(::WaitForSingleObject(dosbox, kPatienceMs), WAIT_OBJECT_0) << "it did not end";
    DWORD exitCode = STILL_ACTIVE;
    EXPECT_TRUE(::GetExitCodeProcess(dosbox, &exitCode) && exitCode == 0) << exitCode;
    EXPECT_EQ(ReadBytes(kPbFolder + L"PB_RAN.TXT"),
              Has(c.pb, kPbExe) ? "stand-in PB.EXE ran\r\n" : "");
    EXPECT_NE(ReadBytes(kPbFolder + L"stdout.txt").find(c.loaded), std::string::npos) << c.loaded;
    EXPECT_EQ(ReadBytes(downloads / L"dosbox.conf") + ReadBytes(downloads / L"stdout.txt") +
                  ReadBytes(kStrangersTrace),
              strangers + theirs);
  }
  Clear(started);
}

}  // namespace
}  // namespace launcher_test
