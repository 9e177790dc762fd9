// The floor under the launcher's run time: the Windows calls the launcher makes when everything
// is in place and dosbox.conf already exists, made straight in one function, with nothing of
// its own around them. It carries the launcher's manifest, so Windows sets up the same common
// controls for it. What the launcher costs above this program is the launcher's own doing.
// Everything lives in static storage, which starts zeroed, so no memset is needed.
#include <windows.h>
// After windows.h, which they build on.
#include <commctrl.h>
#include <objbase.h>

namespace {

using EnumDisplayDevicesFunction = BOOL(WINAPI*)(LPCWSTR, DWORD, DISPLAY_DEVICEW*, DWORD);
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

wchar_t commandLine[] =
    L"\"C:\\Program Files\\DOSBox-0.74\\DOSBox.exe\"  \"C:\\PB35\\PB.exe\" -noconsole -exit "
    L"-conf \"C:\\PB35\\dosbox.conf\" ";
CRITICAL_SECTION lock;
INITCOMMONCONTROLSEX controls;
WIN32_FIND_DATAW entry;
DISPLAY_DEVICEW device;
DEVMODEW mode;
SECURITY_ATTRIBUTES inheritable;
STARTUPINFOW startup;
PROCESS_INFORMATION started;

}  // namespace

extern "C" [[noreturn]] void WINAPI FloorEntry() {
  // The DLL search kept to the system folder, found the way the launcher finds it.
  reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")))(
      LOAD_LIBRARY_SEARCH_SYSTEM32);

  // Start-up: two heaps, the text area, the file table and its slots, the registry lock,
  // common controls and COM.
  HANDLE libraryHeap = ::HeapCreate(0, 4096, 0);
  HANDLE textHeap = ::HeapCreate(0, 4096, 0);
  ::HeapAlloc(textHeap, 0, 16);
  ::HeapAlloc(libraryHeap, HEAP_ZERO_MEMORY, 48);
  ::HeapAlloc(libraryHeap, HEAP_ZERO_MEMORY, 16 * sizeof(void*));
  ::InitializeCriticalSection(&lock);
  controls.dwSize = sizeof controls;
  controls.dwICC = 0xB48;
  ::InitCommonControlsEx(&controls);
  ::CoInitialize(nullptr);

  // The DOSBox folder, DOSBox.exe and the PowerBasic folder; the displays; dosbox.conf.
  const auto probe = [](const wchar_t* path) {
    HANDLE search = ::FindFirstFileW(path, &entry);
    if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
  };
  probe(L"C:\\Program Files\\DOSBox-0.74");
  probe(L"C:\\Program Files\\DOSBox-0.74\\DOSBox.exe");
  probe(L"C:\\PB35");
  HMODULE user32 = ::LoadLibraryW(L"User32.DLL");
  auto enumDevices = reinterpret_cast<EnumDisplayDevicesFunction>(
      reinterpret_cast<void (*)()>(::GetProcAddress(user32, "EnumDisplayDevicesW")));
  device.cb = sizeof device;
  mode.dmSize = sizeof mode;
  for (DWORD d = 0; enumDevices(nullptr, d, &device, 0); ++d) {
  }
  ::HeapAlloc(libraryHeap, HEAP_ZERO_MEMORY, 56);
  for (DWORD d = 0; enumDevices(nullptr, d, &device, 0); ++d) {
    if ((device.StateFlags & DISPLAY_DEVICE_ATTACHED_TO_DESKTOP) != 0)
      ::EnumDisplaySettingsW(device.DeviceName, ENUM_CURRENT_SETTINGS, &mode);
  }
  probe(L"C:\\PB35\\dosbox.conf");

  // DOSBox with a standard-input pipe whose write end stays here, not inherited.
  inheritable.nLength = sizeof inheritable;
  inheritable.bInheritHandle = TRUE;
  HANDLE stdinRead = nullptr, stdinWrite = nullptr, ours = nullptr;
  ::CreatePipe(&stdinRead, &stdinWrite, &inheritable, 0);
  HANDLE self = ::GetCurrentProcess();
  ::DuplicateHandle(self, stdinWrite, self, &ours, 0, FALSE, DUPLICATE_SAME_ACCESS);
  ::CloseHandle(stdinWrite);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_SHOWNORMAL;
  startup.hStdInput = stdinRead;
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  void* buffer = ::HeapAlloc(libraryHeap, 0, sizeof commandLine);
  ::CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                   L"C:\\PB35\\", &startup, &started);
  ::CloseHandle(stdinRead);
  ::CloseHandle(started.hThread);
  ::EnterCriticalSection(&lock);
  ::HeapAlloc(libraryHeap, HEAP_ZERO_MEMORY, 64);
  ::LeaveCriticalSection(&lock);
  ::HeapFree(libraryHeap, 0, buffer);

  // Shutdown.
  ::FreeLibrary(user32);
  ::HeapDestroy(textHeap);
  ::HeapDestroy(libraryHeap);
  ::ExitProcess(0);
}
