// The launcher as a whole: the shipped 32-bit image, read where it lies, and this build's launcher
// run as a user starts it, on a C: drive laid out for each case, with this test program copied as
// DOSBox.exe standing in for DOSBox (child_process.h).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
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
  // functions are looked up at run time.
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
  for (const char* looked : {"EnumDisplayDevicesW", "SetDefaultDllDirectories", "SetDllDirectoryW"})
    EXPECT_EQ(imported.count(looked), 0u) << looked;
}

// Four 16-colour icon bitmaps, largest first; every resource in US English.
TEST(ShippedImage, IconVersionRecordAndManifest) {
  const std::string group = Resource(RT_GROUP_ICON, 1);
  ASSERT_EQ(group.size(), 6u + 4 * 14);  // a header, then 14 bytes for each image
  const DWORD sizes[] = {128, 64, 48, 32}, bytes[] = {10344, 2664, 1640, 744};
  std::string palette(64, '\0');  // black, red, grey and white, the rest black
  palette.replace(4, 12, "\0\0\xff\0\x80\x80\x80\0\xff\xff\xff\0", 12);
  for (int i = 0; i < 4; ++i) {
    const char* entry = group.data() + 6 + 14 * i;
    EXPECT_EQ(std::vector<BYTE>(entry, entry + 3),
              (std::vector<BYTE>{BYTE(sizes[i]), BYTE(sizes[i]), 16}));  // width, height, colours
    const std::string icon = Resource(RT_ICON, *reinterpret_cast<const WORD*>(entry + 12));
    ASSERT_EQ(icon.size(), bytes[i]) << sizes[i];
    EXPECT_EQ(reinterpret_cast<const BITMAPINFOHEADER*>(icon.data())->biBitCount, 4);
    EXPECT_EQ(icon.substr(40, 64), palette);
  }

  // Version 1.0.1 of the launcher of PowerBasic, in one language-neutral Unicode table.
  const std::string version = Resource(RT_VERSION, 1);
  const std::wstring strings(reinterpret_cast<const wchar_t*>(version.data()), version.size() / 2);
  for (const std::wstring text :
       {L"000004b0", L"FileDescription", L"Launches PowerBasic (DOS) v3.5", L"FileVersion",
        L"1.0.1", L"Website", L"Translation"})
    EXPECT_NE(strings.find(text + L'\0'), std::wstring::npos) << text;

  // Version 6 of the common controls for the 32-bit image, and no other request.
  const std::string manifest = Resource(RT_MANIFEST, 1);
  EXPECT_EQ(manifest.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>", 0), 0u);
  for (const char* part :
       {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
        "processorArchitecture=\"X86\"",
        "processorArchitecture=\"X86\" name=\"CompanyName.ProductName.YourApp\""})
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  EXPECT_EQ(manifest.find("trustInfo"), std::string::npos);
}

// Anyone may leave a DLL beside the launcher, named like one that system DLLs load by name. A
// program that restricts the DLL search as the launcher does loads the system's; without the
// restriction it loads the stranger's, so this test can tell.
TEST(Launcher, TakesNoDllFromItsOwnFolder) {
  ScratchFolder scratch;
  const std::wstring program = scratch / L"program.exe";
  ASSERT_TRUE(::CopyFileW(SelfPath().c_str(), program.c_str(), FALSE));
  ASSERT_TRUE(::CopyFileW(PLANTED_DLL, (scratch / L"dwmapi.dll").c_str(), FALSE));
  for (const auto& [modes, loaded] : {std::pair{L"d", " planted"}, {L"rd", " system"}}) {
    ExpectChildren(modes, scratch.path);
    HANDLE child = StartChild(program);
    const std::string report = WaitForReport(scratch.path, child);
    EXPECT_EQ(report.substr(report.rfind(' ')), loaded) << "modes " << modes;
    EXPECT_EQ(::WaitForSingleObject(child, kPatienceMs), WAIT_OBJECT_0) << "the child did not end";
    ::CloseHandle(child);
  }
}

const std::wstring kFirst = L"C:\\Program Files\\DOSBox-0.74\\";
const std::wstring kSecond = L"C:\\Program Files (x86)\\DOSBox-0.74\\";
const std::wstring kPbFolder = L"C:\\PB35\\";
const std::wstring kConfig = kPbFolder + L"dosbox.conf";
const std::wstring kReports = L"C:\\launcher-test-reports";

std::wstring BinFolder() { return SelfPath().substr(0, SelfPath().rfind(L'\\') + 1); }

// A visible message box (class #32770) of process `processId` not among `seen`, or null.
inline HWND FindBox(DWORD processId, const std::vector<HWND>& seen = {}) {
  for (HWND box = nullptr; (box = ::FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr;) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(box, &owner);
    if (owner == processId && ::IsWindowVisible(box) &&
        std::find(seen.begin(), seen.end(), box) == seen.end())
      return box;
  }
  return nullptr;
}

// "caption|text|buttons N|icons N", counting the visible buttons and the icons shown.
inline std::wstring DescribeBox(HWND box) {
  wchar_t caption[256] = {}, text[512] = {};
  ::GetWindowTextW(box, caption, 256);
  ::GetDlgItemTextW(box, 0xFFFF, text, 512);  // the text control of a message box
  int buttons = 0, icons = 0;
  for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    wchar_t kind[64] = {};
    ::GetClassNameW(child, kind, 64);
    buttons += ::IsWindowVisible(child) && lstrcmpiW(kind, L"Button") == 0;
    // Wine keeps an icon control in every box; only one that holds an icon answers.
    icons += ::IsWindowVisible(child) && ::SendMessageW(child, STM_GETICON, 0, 0) != 0;
  }
  return std::wstring(caption) + L"|" + text + L"|buttons " + std::to_wstring(buttons) +
         L"|icons " + std::to_wstring(icons);
}

// What one launcher run did: the boxes it showed, its exit code and what it started (a line
// such as "started 1, running DOSBox.exe"); the programs it started that still run.
struct LauncherRun {
  std::vector<std::wstring> shown;
  std::vector<HANDLE> started;
};

// Runs the launcher in `folder`, as Explorer runs a program in its own folder, inside a job
// that every program it starts joins.
LauncherRun RunLauncher(const std::wstring& folder, const std::wstring& arguments = L"") {
  std::wstring commandLine = L"\"" + BinFolder() + L"PBLaunch.exe\"" + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  const HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
  // Held until it is in the job, so that nothing it starts can escape the job.
  EXPECT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                               CREATE_SUSPENDED, nullptr, folder.c_str(), &startup, &process));
  EXPECT_TRUE(::AssignProcessToJobObject(job, process.hProcess));
  ::ResumeThread(process.hThread);
  LauncherRun run;
  std::vector<HWND> seen;
  const ULONGLONG deadline = ::GetTickCount64() + kPatienceMs;
  while (::WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT) {
    if (::GetTickCount64() > deadline) {
      ADD_FAILURE() << "the launcher did not end within " << kPatienceMs / 1000 << " s";
      ::TerminateProcess(process.hProcess, 99);
    } else if (const HWND box = FindBox(process.dwProcessId, seen)) {
      seen.push_back(box);
      run.shown.push_back(DescribeBox(box));
      ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
  }
  DWORD exitCode = STILL_ACTIVE;
  ::GetExitCodeProcess(process.hProcess, &exitCode);
  run.shown.push_back(L"exit code " + std::to_wstring(exitCode));
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
  std::wstring started = L"started " + std::to_wstring(count.TotalProcesses - 1) + L", running";
  for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; ++i) {
    HANDLE child = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                 static_cast<DWORD>(ids.list.ProcessIdList[i]));
    if (child == nullptr) continue;
    wchar_t path[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    ::QueryFullProcessImageNameW(child, 0, path, &length);
    started += L" " + std::wstring(path).substr(std::wstring(path).rfind(L'\\') + 1);
    run.started.push_back(child);
  }
  run.shown.push_back(started);
  ::CloseHandle(job);
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  return run;
}

// The text for the session's screen, which names its size when it is not the default.
std::string ExpectedConfig() {
  const launcher::ConfigTemplate& config =
      launcher::SelectTemplate(::GetSystemMetrics(SM_CYSCREEN));
  std::string text(static_cast<size_t>(config.length), '\0');
  launcher::RenderTemplate(config, text.data());
  const char* named = std::getenv("LAUNCHER_EXPECTED_RESOLUTION");
  EXPECT_NE(text.find("\r\nfullresolution=" + std::string(named ? named : "1280x800") + "\r\n"),
            std::string::npos);
  return text;
}

// Lets the DOSBox stand-ins go, waits for them to end, and empties the C: drive of a case.
void Clear(std::vector<HANDLE>& started) {
  ASSERT_TRUE(ReleaseChildren(started)) << "a DOSBox stand-in did not end once released";
  for (const std::wstring& folder : {kFirst, kSecond, kPbFolder, kReports})
    ASSERT_TRUE(RemoveTree(folder)) << "cannot remove " << folder;
  ASSERT_TRUE(::CreateDirectoryW(kReports.c_str(), nullptr));
}

enum Dosbox { kNone, kEmptyFolder, kDosbox };
enum Pb { kNoPb, kPbEmpty, kConfigMine, kConfigFolder };  // C:\PB35, and dosbox.conf in it
const char kMine[] = "[sdl]\r\nfullscreen=true\r\n";

// Every path, staged for real: the launcher ends with 0; a DOSBox it started works in C:\PB35,
// is shown normally, reads a pipe the launcher let go of, and outlives it; no other path starts
// anything. Each test session runs this with its own screen, whose height chooses the text.
TEST(Launcher, EveryPathShowsStartsAndWritesWhatItShould) {
  const struct {
    Dosbox first, second;
    Pb pb;
    const wchar_t* arguments;
    const wchar_t* box;                     // the one message shown, if any
    const std::wstring* started = nullptr;  // the folder of the DOSBox started, if any
    const char* config = nullptr;           // dosbox.conf afterwards: "" for the written text
  } cases[] = {
      {kDosbox, kDosbox, kPbEmpty, L"", nullptr, &kFirst, ""},
      {kNone, kDosbox, kPbEmpty, L"", nullptr, &kSecond, ""},
      {kEmptyFolder, kDosbox, kPbEmpty, L"",
       L"Unable to locate the DOSBox or it is not installed."},
      {kDosbox, kNone, kNoPb, L"", L"Unable to locate the PowerBasic folder, \"C:\\PB35\\\"."},
      {kDosbox, kNone, kConfigMine, L"", nullptr, &kFirst, kMine},
      {kDosbox, kNone, kConfigFolder, L"", L"Unable to write DOSBox configuration file to disk.",
       &kFirst},
      {kDosbox, kNone, kPbEmpty, L" /x C:\\x \"two words\"", nullptr, &kFirst, ""},  // ignored
  };
  // The launcher's own folder stands for Downloads: someone else's dosbox.conf and stdout.txt lie
  // there, which DOSBox would run and empty if it worked in that folder as the stand-in does.
  ScratchFolder downloads;
  const std::string strangers = "[autoexec]\r\nmount d c:\\\r\n", output = "their output\r\n";
  ASSERT_TRUE(WriteBytes(downloads / L"dosbox.conf", strangers) &&
              WriteBytes(downloads / L"stdout.txt", output));
  ExpectChildren(L"oih", kReports);
  // A started DOSBox runs PB.exe with the configuration, in C:\PB35, on a pipe as its input.
  const auto expectReport = [](HANDLE dosbox, const std::wstring& folder) {
    const std::wstring line = L"\"" + folder +
                              L"DOSBox.exe\"  \"C:\\PB35\\PB.exe\" -noconsole -exit -conf "
                              L"\"C:\\PB35\\dosbox.conf\" |C:\\PB35|257 1 pipe";
    EXPECT_EQ(WaitForReport(kReports, dosbox), std::string(line.begin(), line.end()));
  };
  // DOSBox holds until the case is cleared, so it still runs once the launcher has ended.
  const wchar_t kDosboxRuns[] = L"started 1, running DOSBox.exe";
  std::vector<HANDLE> started;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    ASSERT_NO_FATAL_FAILURE(Clear(started));
    bool staged = true;
    for (const auto& [dosbox, folder] : {std::pair{c.first, kFirst}, {c.second, kSecond}}) {
      if (dosbox != kNone) staged &= ::CreateDirectoryW(folder.c_str(), nullptr) != 0;
      if (dosbox == kDosbox)
        staged &= ::CopyFileW(SelfPath().c_str(), (folder + L"DOSBox.exe").c_str(), FALSE) != 0;
    }
    if (c.pb != kNoPb) staged &= ::CreateDirectoryW(kPbFolder.c_str(), nullptr) != 0;
    if (c.pb == kConfigMine) staged &= WriteBytes(kConfig, kMine);
    if (c.pb == kConfigFolder) staged &= ::CreateDirectoryW(kConfig.c_str(), nullptr) != 0;
    ASSERT_TRUE(staged);

    std::vector<std::wstring> expected = {L"exit code 0",
                                          c.started ? kDosboxRuns : L"started 0, running"};
    if (c.box)
      expected.insert(expected.begin(), L"ERROR!|" + std::wstring(c.box) + L"|buttons 1|icons 0");
    LauncherRun run = RunLauncher(downloads.path, c.arguments);
    started = std::move(run.started);
    EXPECT_EQ(run.shown, expected);
    if (c.started && started.size() == 1) expectReport(started[0], *c.started);
    // No file, or a folder, reads as empty.
    EXPECT_EQ(ReadBytes(kConfig), c.config == nullptr ? ""
                                  : *c.config         ? c.config
                                                      : ExpectedConfig());
    EXPECT_EQ(ReadBytes(downloads / L"dosbox.conf") + ReadBytes(downloads / L"stdout.txt"),
              strangers + output);
  }
  // There is no single-instance guard: a second launcher starts a second DOSBox.
  LauncherRun second = RunLauncher(downloads.path);
  EXPECT_EQ(second.shown, (std::vector<std::wstring>{L"exit code 0", kDosboxRuns}));
  if (second.started.size() == 1) expectReport(second.started[0], kFirst);
  started.insert(started.end(), second.started.begin(), second.started.end());
  Clear(started);
}

}  // namespace
}  // namespace launcher_test
