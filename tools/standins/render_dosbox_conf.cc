// Writes the dosbox.conf text that the launcher would write for a display height, so that host
// tests can hand the very same bytes to the real DOSBox.
//
//   render_dosbox_conf HEIGHT FILE [HEIGHT FILE]...
//
// A FILE that starts with "/" is a host path (taken through Wine's mapping of host names).
// Each text written is reported as "HEIGHT RESOLUTION LENGTH" on standard output.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "launch/config_templates.h"

namespace {

using DosNameOf = wchar_t*(__cdecl*)(const char*);

std::wstring WindowsPath(const char* path) {
  if (path[0] == '/') {
    // Wine's own export, reached through the generic function type.
    const auto dosNameOf = reinterpret_cast<DosNameOf>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (dosNameOf == nullptr) return {};
    wchar_t* name = dosNameOf(path);
    if (name == nullptr) return {};
    std::wstring result(name);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
  }
  std::wstring result;
  for (const char* c = path; *c != 0; ++c) result += static_cast<wchar_t>(*c);
  return result;
}

bool Write(const std::wstring& path, const std::string& text) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool whole =
      ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size();
  return ::CloseHandle(file) && whole;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: render_dosbox_conf HEIGHT FILE [HEIGHT FILE]...\n");
    return 2;
  }
  for (int i = 1; i + 1 < argc; i += 2) {
    const int32_t height = static_cast<int32_t>(std::atoi(argv[i]));
    const launcher::ConfigTemplate& config = launcher::SelectTemplate(height);
    std::string text(static_cast<size_t>(config.length), '\0');
    launcher::RenderTemplate(config, text.data());
    const std::wstring path = WindowsPath(argv[i + 1]);
    if (path.empty() || !Write(path, text)) {
      std::fprintf(stderr, "render_dosbox_conf: cannot write %s\n", argv[i + 1]);
      return 1;
    }
    std::printf("%d %s %d\n", static_cast<int>(height), config.resolution,
                static_cast<int>(config.length));
  }
  return 0;
}
