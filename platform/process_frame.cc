#include "platform/process_frame.h"

#include <windows.h>
// After windows.h, which they build on.
#include <commctrl.h>
#include <objbase.h>

#include <new>

#include "launch/text.h"
#include "platform/display_enumeration.h"
#include "platform/heaps.h"
#include "platform/message_requester.h"
#include "platform/output_file_writer.h"
#include "platform/path_probe.h"
#include "platform/program_runner.h"

namespace launcher {

namespace {

// The common-control classes the launcher registers: tabs, hot keys, dates, extended combo
// boxes and internet addresses.
constexpr DWORD kCommonControlClasses = ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES |
                                        ICC_USEREX_CLASSES | ICC_INTERNET_CLASSES;
static_assert(kCommonControlClasses == 0xB48, "the classes registered at start-up");

class WindowsPlatformServices final : public PlatformServices {
 public:
  constexpr WindowsPlatformServices() = default;

  int64_t ProbePath(const wchar_t* path) override { return launcher::ProbePath(path); }
  int32_t ExamineDisplays() override { return launcher::ExamineDisplays(); }
  int32_t DisplayHeight(int32_t index) override { return launcher::DisplayHeight(index); }
  intptr_t CreateOutputFile(FileNumber number, const wchar_t* path) override {
    return launcher::CreateOutputFile(number, path);
  }
  int32_t WriteOutputData(FileNumber number, const void* bytes, int32_t length) override {
    return launcher::WriteOutputData(number, bytes, length);
  }
  void CloseOutputFile(FileNumber number) override { launcher::CloseOutputFile(number); }
  int32_t RemoveFile(const wchar_t* path) override { return launcher::RemoveFile(path); }
  uintptr_t StartProgram(const wchar_t* program, const wchar_t* parameters,
                         const wchar_t* workingDirectory, RunFlags flags) override {
    return launcher::StartProgram(program, parameters, workingDirectory, flags);
  }
  int32_t ShowMessage(const wchar_t* caption, const wchar_t* text, uint32_t style) override {
    return launcher::ShowMessage(caption, text, style);
  }
  TextWorkArea& Texts() override { return workArea_; }

  HeapTextMemory& textMemory() { return textMemory_; }

 private:
  HeapTextMemory textMemory_;
  TextWorkArea workArea_;
};

// Made by start-up in storage of its own: the image runs no static constructors and, this
// way, carries no initialised data section either.
alignas(WindowsPlatformServices) unsigned char servicesStorage[sizeof(WindowsPlatformServices)];
WindowsPlatformServices* services = nullptr;

}  // namespace

// Windows looks for a DLL named without a path in the program's own folder first, and the
// system DLLs the launcher calls load further DLLs by name. The launcher is run from wherever
// it was downloaded, where anyone may have left a file. Both functions are looked up rather
// than imported, so that the image still starts on systems that lack them: Windows 7 without
// update KB2533623 has only the second, which at least drops the current folder.
void RestrictDllSearch() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCWSTR);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  // Through a generic function type: FARPROC is a placeholder for the real signature.
  auto systemOnly = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void (*)()>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (systemOnly != nullptr && systemOnly(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  auto noCurrentFolder = reinterpret_cast<SetDllDirectoryFunction>(
      reinterpret_cast<void (*)()>(::GetProcAddress(kernel, "SetDllDirectoryW")));
  if (noCurrentFolder != nullptr) noCurrentFolder(L"");
}

void StartUpServices() {
  CreateHeaps();
  services = new (servicesStorage) WindowsPlatformServices;
  services->textMemory().UseHeap(TextHeap);
  services->Texts().Start(services->textMemory());
  CreateFileTable();
  InitProgramRunner();

  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof(controls);
  controls.dwICC = kCommonControlClasses;
  ::InitCommonControlsEx(&controls);
  // The shell start of the program runner expects COM on this thread.
  ::CoInitialize(nullptr);
}

void ShutDownServices() {
  CloseAllOutputFiles();
  ReleaseDisplays();
  services->Texts().Release();
  DestroyHeaps();
}

PlatformServices& WindowsServices() { return *services; }

}  // namespace launcher
