// The shipped 32-bit image, checked without running it: its headers and imports are read from
// the file, its resources through Windows' own resource and version functions.
#include <windows.h>
// After windows.h, which it builds on.
#include <gtest/gtest.h>
#include <winver.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#ifndef SHIPPED_LAUNCHER
#error "SHIPPED_LAUNCHER names the i686 image"
#endif

namespace launcher_test {
namespace {

std::string ReadImage() {
  std::string bytes;
  HANDLE file = ::CreateFileW(SHIPPED_LAUNCHER, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(::GetFileSize(file, nullptr));
  DWORD got = 0;
  ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  ::CloseHandle(file);
  return bytes;
}

class ShippedImage : public testing::Test {
 protected:
  void SetUp() override {
    image_ = ReadImage();
    ASSERT_GT(image_.size(), 1024u) << "build the i686 launcher first (cmake --preset i686)";
    const auto* dos = At<IMAGE_DOS_HEADER>(0);
    ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
    nt_ = At<IMAGE_NT_HEADERS32>(static_cast<size_t>(dos->e_lfanew));
    ASSERT_EQ(nt_->Signature, IMAGE_NT_SIGNATURE);
    ASSERT_EQ(nt_->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
  }

  template <typename T>
  const T* At(size_t offset) const {
    return reinterpret_cast<const T*>(image_.data() + offset);
  }
  const IMAGE_SECTION_HEADER* Sections() const { return IMAGE_FIRST_SECTION(nt_); }
  const IMAGE_SECTION_HEADER* SectionOf(DWORD rva) const {
    for (int i = 0; i < nt_->FileHeader.NumberOfSections; ++i) {
      const IMAGE_SECTION_HEADER& s = Sections()[i];
      if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.Misc.VirtualSize) return &s;
    }
    return nullptr;
  }
  size_t Offset(DWORD rva) const {
    const IMAGE_SECTION_HEADER* s = SectionOf(rva);
    return s == nullptr ? 0 : rva - s->VirtualAddress + s->PointerToRawData;
  }

  std::string image_;
  const IMAGE_NT_HEADERS32* nt_ = nullptr;
};

TEST_F(ShippedImage, HeadersDescribeA32BitGuiProgram) {
  const IMAGE_FILE_HEADER& file = nt_->FileHeader;
  const IMAGE_OPTIONAL_HEADER32& optional = nt_->OptionalHeader;
  EXPECT_EQ(file.Machine, IMAGE_FILE_MACHINE_I386);
  EXPECT_NE(file.TimeDateStamp, 0u) << "a zero stamp trips some virus scanners";
  EXPECT_EQ(optional.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  EXPECT_EQ(optional.MajorSubsystemVersion, 4);
  EXPECT_EQ(optional.MinorSubsystemVersion, 0);
  EXPECT_EQ(optional.MajorOperatingSystemVersion, 4);
  EXPECT_EQ(optional.MinorOperatingSystemVersion, 0);
  EXPECT_EQ(optional.SizeOfStackReserve, 1048576u);
  EXPECT_EQ(optional.SizeOfStackCommit, 4096u);
  EXPECT_EQ(optional.SizeOfHeapReserve, 1048576u);
  EXPECT_EQ(optional.SizeOfHeapCommit, 4096u);
  // Kept on purpose: they make the image safer.
  EXPECT_TRUE(optional.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
  EXPECT_TRUE(optional.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
  // The entry point is in the code section: our own entry, not a runtime's.
  const IMAGE_SECTION_HEADER* entry = SectionOf(optional.AddressOfEntryPoint);
  ASSERT_NE(entry, nullptr);
  EXPECT_TRUE(entry->Characteristics & IMAGE_SCN_MEM_EXECUTE);
  std::printf("image: %zu bytes\n", image_.size());
}

// Only the system functions the launcher's services use; no C runtime, and the display
// device enumeration is looked up at run time rather than imported.
TEST_F(ShippedImage, ImportsOnlyTheSystemFunctionsItUses) {
  const std::set<std::string> allowed = {
      // kernel32: files, processes, modules, heaps
      "KERNEL32.DLL!CloseHandle", "KERNEL32.DLL!CreateFileW", "KERNEL32.DLL!CreatePipe",
      "KERNEL32.DLL!CreateProcessW", "KERNEL32.DLL!DeleteFileW", "KERNEL32.DLL!DuplicateHandle",
      "KERNEL32.DLL!EnterCriticalSection", "KERNEL32.DLL!ExitProcess", "KERNEL32.DLL!FindClose",
      "KERNEL32.DLL!FindFirstFileW", "KERNEL32.DLL!FreeLibrary", "KERNEL32.DLL!GetCurrentProcess",
      "KERNEL32.DLL!GetCurrentProcessId", "KERNEL32.DLL!GetCurrentThreadId",
      "KERNEL32.DLL!GetDriveTypeW", "KERNEL32.DLL!GetFileAttributesW",
      "KERNEL32.DLL!GetProcAddress", "KERNEL32.DLL!GetStdHandle", "KERNEL32.DLL!HeapAlloc",
      "KERNEL32.DLL!HeapCreate", "KERNEL32.DLL!HeapDestroy", "KERNEL32.DLL!HeapFree",
      "KERNEL32.DLL!HeapReAlloc", "KERNEL32.DLL!InitializeCriticalSection",
      "KERNEL32.DLL!LeaveCriticalSection", "KERNEL32.DLL!LoadLibraryW",
      "KERNEL32.DLL!SetFilePointer", "KERNEL32.DLL!WaitForSingleObject", "KERNEL32.DLL!WriteFile",
      // user32: displays and message boxes
      "USER32.DLL!EnableWindow", "USER32.DLL!EnumDisplaySettingsW", "USER32.DLL!EnumWindows",
      "USER32.DLL!GetForegroundWindow", "USER32.DLL!GetSystemMetrics", "USER32.DLL!GetWindowLongW",
      "USER32.DLL!GetWindowThreadProcessId", "USER32.DLL!IsWindowEnabled",
      "USER32.DLL!IsWindowVisible", "USER32.DLL!MessageBoxW", "USER32.DLL!SetWindowPos",
      // gdi32, shell32, comctl32, ole32
      "GDI32.DLL!CreateDCW", "GDI32.DLL!DeleteDC", "GDI32.DLL!GetDeviceCaps",
      "SHELL32.DLL!ShellExecuteExW", "COMCTL32.DLL!InitCommonControlsEx", "OLE32.DLL!CoInitialize"};
  const IMAGE_DATA_DIRECTORY& directory =
      nt_->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  ASSERT_NE(directory.VirtualAddress, 0u);
  std::set<std::string> imported;
  for (auto* module = At<IMAGE_IMPORT_DESCRIPTOR>(Offset(directory.VirtualAddress));
       module->Name != 0; ++module) {
    std::string dll = At<char>(Offset(module->Name));
    for (char& c : dll) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const DWORD thunks =
        module->OriginalFirstThunk ? module->OriginalFirstThunk : module->FirstThunk;
    for (auto* thunk = At<IMAGE_THUNK_DATA32>(Offset(thunks)); thunk->u1.AddressOfData != 0;
         ++thunk) {
      ASSERT_FALSE(thunk->u1.Ordinal & IMAGE_ORDINAL_FLAG32) << dll << " by ordinal";
      const auto* byName = At<IMAGE_IMPORT_BY_NAME>(Offset(thunk->u1.AddressOfData));
      imported.insert(dll + "!" + reinterpret_cast<const char*>(byName->Name));
    }
  }
  for (const std::string& name : imported) EXPECT_TRUE(allowed.count(name)) << name;
  EXPECT_TRUE(imported.count("KERNEL32.DLL!ExitProcess"));
  EXPECT_TRUE(imported.count("USER32.DLL!MessageBoxW"));
}

class ShippedResources : public testing::Test {
 protected:
  void SetUp() override {
    module_ = ::LoadLibraryExW(SHIPPED_LAUNCHER, nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << "build the i686 launcher first (cmake --preset i686)";
  }
  void TearDown() override { ::FreeLibrary(module_); }

  std::string Resource(LPCWSTR type, LPCWSTR name) const {
    HRSRC found =
        ::FindResourceExW(module_, type, name, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (found == nullptr) return {};
    const char* data = static_cast<const char*>(::LockResource(::LoadResource(module_, found)));
    return std::string(data, ::SizeofResource(module_, found));
  }

  HMODULE module_ = nullptr;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::set<WORD>*>(languages)->insert(language);
  return TRUE;
}
BOOL CALLBACK CollectNames(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR languages) {
  ::EnumResourceLanguagesW(module, type, name, CollectLanguage, languages);
  return TRUE;
}
BOOL CALLBACK CollectTypes(HMODULE module, LPWSTR type, LONG_PTR languages) {
  ::EnumResourceNamesW(module, type, CollectNames, languages);
  return TRUE;
}

TEST_F(ShippedResources, AreAllInUsEnglish) {
  std::set<WORD> languages;
  ::EnumResourceTypesW(module_, CollectTypes, reinterpret_cast<LONG_PTR>(&languages));
  EXPECT_EQ(languages, std::set<WORD>{0x0409});
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bitsPerPixel;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

// Four opaque 16-colour bitmaps, largest first, drawing red PB over white DOS in a grey frame.
TEST_F(ShippedResources, IconHasFourSixteenColourBitmaps) {
  const std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(1));
  ASSERT_EQ(group.size(), 6u + 4 * sizeof(GroupIconEntry));
  const auto* entries = reinterpret_cast<const GroupIconEntry*>(group.data() + 6);
  const struct {
    int size;
    DWORD bytes;
  } expected[] = {{128, 10344}, {64, 2664}, {48, 1640}, {32, 744}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(expected[i].size);
    const GroupIconEntry& entry = entries[i];
    EXPECT_EQ(entry.width, expected[i].size);
    EXPECT_EQ(entry.colours, 16);
    EXPECT_EQ(entry.planes, 1);
    EXPECT_EQ(entry.bitsPerPixel, 4);
    EXPECT_EQ(entry.bytes, expected[i].bytes);
    EXPECT_EQ(entry.id, i + 1);
    const std::string icon = Resource(RT_ICON, MAKEINTRESOURCEW(entry.id));
    ASSERT_EQ(icon.size(), expected[i].bytes);
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(icon.data());
    EXPECT_EQ(header->biSize, 40u);
    EXPECT_EQ(header->biHeight, 2 * expected[i].size);
    EXPECT_EQ(header->biBitCount, 4);
    EXPECT_EQ(header->biCompression, static_cast<DWORD>(BI_RGB));
    const auto* palette = reinterpret_cast<const RGBQUAD*>(icon.data() + 40);
    const RGBQUAD colours[4] = {
        {0, 0, 0, 0}, {0, 0, 255, 0}, {128, 128, 128, 0}, {255, 255, 255, 0}};
    for (int c = 0; c < 16; ++c) {
      const RGBQUAD want = c < 4 ? colours[c] : RGBQUAD{0, 0, 0, 0};
      EXPECT_EQ(std::memcmp(&palette[c], &want, sizeof(want)), 0) << "palette entry " << c;
    }
    const size_t size = static_cast<size_t>(expected[i].size);
    const size_t stride = size / 2;
    const char* pixels = icon.data() + 40 + 64;  // bottom-up rows, two pixels a byte
    auto at = [&](size_t x, size_t y) {
      const unsigned char two = static_cast<unsigned char>(pixels[(size - 1 - y) * stride + x / 2]);
      return x % 2 == 0 ? two >> 4 : two & 0xF;
    };
    std::set<int> top, bottom;
    for (size_t y = 2; y < size - 2; ++y) {
      for (size_t x = 2; x < size - 2; ++x) (y < size / 2 ? top : bottom).insert(at(x, y));
    }
    EXPECT_EQ(at(0, 0), 2) << "grey frame";
    EXPECT_EQ(at(size - 1, size - 1), 2) << "grey frame";
    EXPECT_TRUE(top.count(1) && !top.count(3)) << "red PB above";
    EXPECT_TRUE(bottom.count(3) && !bottom.count(1)) << "white DOS below";
    const std::string mask = icon.substr(40 + 64 + stride * size);
    EXPECT_EQ(mask, std::string(mask.size(), '\0')) << "every pixel opaque";
  }
}

std::wstring VersionString(const std::vector<char>& block, const std::wstring& key) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = L"\\StringFileInfo\\000004b0\\" + key;
  if (!::VerQueryValueW(block.data(), path.c_str(), &value, &length) || length == 0) return L"?";
  return std::wstring(static_cast<const wchar_t*>(value));
}

// The raw string table, to see its keys in the order they are stored.
std::vector<std::wstring> StringKeys(const std::string& resource) {
  std::vector<std::wstring> keys;
  auto align = [](size_t at) { return (at + 3) & ~size_t{3}; };
  auto key_end = [&](size_t at) {
    const auto* text = reinterpret_cast<const wchar_t*>(resource.data() + at + 6);
    return at + 6 + (std::wcslen(text) + 1) * 2;
  };
  const std::wstring tableKey = L"000004b0";
  const size_t table = resource.find(
      std::string(reinterpret_cast<const char*>(tableKey.c_str()), tableKey.size() * 2));
  if (table == std::string::npos) return keys;
  size_t at = table - 6;  // the table's own header precedes its key
  const size_t table_end = at + *reinterpret_cast<const WORD*>(resource.data() + at);
  at = align(key_end(at));
  while (at < table_end) {
    const WORD length = *reinterpret_cast<const WORD*>(resource.data() + at);
    if (length == 0) break;
    keys.push_back(reinterpret_cast<const wchar_t*>(resource.data() + at + 6));
    at = align(at + length);
  }
  return keys;
}

TEST_F(ShippedResources, VersionRecordNamesTheProduct) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(SHIPPED_LAUNCHER, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(::GetFileVersionInfoW(SHIPPED_LAUNCHER, 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);  // 1.0
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00010000u);  // .1.0
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileFlagsMask, 0u);
  EXPECT_EQ(fixed->dwFileFlags, 0u);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed->dwFileSubtype, 0u);
  EXPECT_EQ(fixed->dwFileDateMS | fixed->dwFileDateLS, 0u);

  EXPECT_EQ(VersionString(block, L"FileDescription"), L"Launches PowerBasic (DOS) v3.5");
  EXPECT_EQ(VersionString(block, L"ProductVersion"), L"1.0.1");
  EXPECT_EQ(VersionString(block, L"FileVersion"), L"1.0.1");
  EXPECT_EQ(StringKeys(Resource(RT_VERSION, MAKEINTRESOURCEW(1))),
            (std::vector<std::wstring>{L"CompanyName", L"ProductName", L"ProductVersion",
                                       L"FileVersion", L"FileDescription", L"InternalName",
                                       L"OriginalFilename", L"LegalCopyright", L"Website"}));

  DWORD* translation = nullptr;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(*translation, 0x04B00000u);  // language 0x0000, code page 0x04B0
}

// Asks for version 6 of the common controls and nothing else.
TEST_F(ShippedResources, ManifestAsksForCommonControlsSix) {
  const std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
  EXPECT_EQ(manifest.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>", 0), 0u)
      << "no byte-order mark";
  for (const char* part :
       {"<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">",
        "<assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"X86\" "
        "name=\"CompanyName.ProductName.YourApp\" type=\"win32\"/>",
        "<description></description>", "name=\"Microsoft.Windows.Common-Controls\"",
        "version=\"6.0.0.0\"", "publicKeyToken=\"6595b64144ccf1df\"", "language=\"*\""}) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
  for (const char* absent : {"trustInfo", "compatibility", "dpiAware", "dpiAwareness"}) {
    EXPECT_EQ(manifest.find(absent), std::string::npos) << absent;
  }
}

}  // namespace
}  // namespace launcher_test
