// The shipped 32-bit image, checked without running it: mapped as an image resource, so its
// headers and imports are read where they lie, and its resources through Windows' own resource
// and version functions.
#include <gtest/gtest.h>
#include <windows.h>
#include <winver.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace launcher_test {
namespace {

class ShippedImage : public testing::Test {
 protected:
  void SetUp() override {
    module_ = ::LoadLibraryExW(SHIPPED_LAUNCHER, nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << "build the i686 launcher first (cmake --preset i686)";
    // The low bits of the handle mark how it was loaded; the rest is where it lies.
    base_ = reinterpret_cast<const char*>(reinterpret_cast<ULONG_PTR>(module_) & ~ULONG_PTR{3});
    nt_ = At<IMAGE_NT_HEADERS32>(At<IMAGE_DOS_HEADER>(0)->e_lfanew);
    ASSERT_EQ(nt_->Signature, IMAGE_NT_SIGNATURE);
    ASSERT_EQ(nt_->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
  }
  void TearDown() override { ::FreeLibrary(module_); }

  template <typename T>
  const T* At(DWORD rva) const {
    return reinterpret_cast<const T*>(base_ + rva);
  }
  std::string Resource(LPCWSTR type, int id) const {
    HRSRC found = ::FindResourceExW(module_, type, MAKEINTRESOURCEW(id),
                                    MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (found == nullptr) return {};
    const char* data = static_cast<const char*>(::LockResource(::LoadResource(module_, found)));
    return std::string(data, ::SizeofResource(module_, found));
  }

  HMODULE module_ = nullptr;
  const char* base_ = nullptr;
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
  EXPECT_LT(optional.AddressOfEntryPoint - optional.BaseOfCode, optional.SizeOfCode)
      << "the entry point lies in our code";
}

// Only the system functions the launcher's services use, all by name; no C runtime, and the
// display device enumeration (EnumDisplayDevicesW) is looked up at run time, not imported.
TEST_F(ShippedImage, ImportsOnlyTheSystemFunctionsItUses) {
  std::map<std::string, std::string> allowed = {
      {"KERNEL32.DLL",
       " CloseHandle CreateFileW CreatePipe CreateProcessW DeleteFileW DuplicateHandle"
       " EnterCriticalSection ExitProcess FindClose FindFirstFileW FreeLibrary GetCurrentProcess"
       " GetCurrentProcessId GetCurrentThreadId GetDriveTypeW GetFileAttributesW GetProcAddress"
       " GetStdHandle HeapAlloc HeapCreate HeapDestroy HeapFree HeapReAlloc"
       " InitializeCriticalSection LeaveCriticalSection LoadLibraryW SetFilePointer"
       " WaitForSingleObject WriteFile "},
      {"USER32.DLL",
       " EnableWindow EnumDisplaySettingsW EnumWindows GetForegroundWindow GetSystemMetrics"
       " GetWindowLongW GetWindowThreadProcessId IsWindowEnabled IsWindowVisible MessageBoxW"
       " SetWindowPos "},
      {"GDI32.DLL", " CreateDCW DeleteDC GetDeviceCaps "},
      {"SHELL32.DLL", " ShellExecuteExW "},
      {"COMCTL32.DLL", " InitCommonControlsEx "},
      {"OLE32.DLL", " CoInitialize "}};
  const DWORD directory =
      nt_->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  ASSERT_NE(directory, 0u);
  std::set<std::string> imported;
  for (auto* module = At<IMAGE_IMPORT_DESCRIPTOR>(directory); module->Name != 0; ++module) {
    std::string dll = At<char>(module->Name);
    ::CharUpperA(dll.data());
    for (auto* thunk = At<IMAGE_THUNK_DATA32>(module->OriginalFirstThunk);
         thunk->u1.AddressOfData != 0; ++thunk) {
      ASSERT_FALSE(thunk->u1.Ordinal & IMAGE_ORDINAL_FLAG32) << dll << " by ordinal";
      const std::string name = At<IMAGE_IMPORT_BY_NAME>(thunk->u1.AddressOfData)->Name;
      EXPECT_NE(allowed[dll].find(" " + name + " "), std::string::npos) << dll << "!" << name;
      imported.insert(name);
    }
  }
  EXPECT_TRUE(imported.count("ExitProcess") && imported.count("MessageBoxW"));
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::set<WORD>*>(languages)->insert(language);
  return TRUE;
}
BOOL CALLBACK CollectNames(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR languages) {
  return ::EnumResourceLanguagesW(module, type, name, CollectLanguage, languages);
}
BOOL CALLBACK CollectTypes(HMODULE module, LPWSTR type, LONG_PTR languages) {
  return ::EnumResourceNamesW(module, type, CollectNames, languages);
}

TEST_F(ShippedImage, ResourcesAreAllInUsEnglish) {
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
TEST_F(ShippedImage, IconHasFourSixteenColourBitmaps) {
  const std::string group = Resource(RT_GROUP_ICON, 1);
  ASSERT_EQ(group.size(), 6u + 4 * sizeof(GroupIconEntry));
  const auto* entries = reinterpret_cast<const GroupIconEntry*>(group.data() + 6);
  const struct {
    size_t size;
    DWORD bytes;
  } expected[] = {{128, 10344}, {64, 2664}, {48, 1640}, {32, 744}};
  for (int i = 0; i < 4; ++i) {
    const size_t size = expected[i].size;
    SCOPED_TRACE(size);
    EXPECT_EQ(entries[i].width, size);
    EXPECT_EQ(entries[i].colours, 16);
    EXPECT_EQ(entries[i].bitsPerPixel, 4);
    EXPECT_EQ(entries[i].bytes, expected[i].bytes);
    const std::string icon = Resource(RT_ICON, entries[i].id);
    ASSERT_EQ(icon.size(), expected[i].bytes);
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(icon.data());
    EXPECT_EQ(header->biHeight, 2 * static_cast<LONG>(size));
    EXPECT_EQ(header->biBitCount, 4);
    // Black, red, grey and white, the rest black.
    std::string palette(64, '\0');
    palette.replace(4, 12, "\0\0\xff\0\x80\x80\x80\0\xff\xff\xff\0", 12);
    EXPECT_EQ(icon.substr(header->biSize, 64), palette);
    const char* pixels = icon.data() + header->biSize + 64;  // bottom-up rows, two pixels a byte
    auto at = [&](size_t x, size_t y) {
      const auto two = static_cast<unsigned char>(pixels[(size - 1 - y) * size / 2 + x / 2]);
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
    const std::string mask = icon.substr(header->biSize + 64 + size * size / 2);
    EXPECT_EQ(mask, std::string(mask.size(), '\0')) << "every pixel opaque";
  }
}

TEST_F(ShippedImage, VersionRecordNamesTheProduct) {
  DWORD ignored = 0;
  std::vector<char> block(::GetFileVersionInfoSizeW(SHIPPED_LAUNCHER, &ignored));
  ASSERT_TRUE(
      ::GetFileVersionInfoW(SHIPPED_LAUNCHER, 0, static_cast<DWORD>(block.size()), block.data()));
  auto query = [&](const wchar_t* path) {
    void* value = nullptr;
    UINT length = 0;
    ::VerQueryValueW(block.data(), path, &value, &length);
    return length > 0 ? value : nullptr;
  };
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(L"\\"));
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);  // 1.0
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00010000u);  // .1.0
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileFlagsMask | fixed->dwFileFlags | fixed->dwFileSubtype, 0u);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed->dwFileDateMS | fixed->dwFileDateLS, 0u);
  const auto* translation = static_cast<const DWORD*>(query(L"\\VarFileInfo\\Translation"));
  ASSERT_NE(translation, nullptr);
  EXPECT_EQ(*translation, 0x04B00000u);  // language 0x0000, code page 0x04B0

  // Every key of the string table is there, stored in this order.
  const std::string raw = Resource(RT_VERSION, 1);
  auto find = [&](const std::wstring& key, size_t from) {  // the key with its terminator
    return raw.find(std::string(reinterpret_cast<const char*>(key.c_str()), key.size() * 2 + 2),
                    from);
  };
  size_t at = find(L"000004b0", 0);
  for (const wchar_t* key :
       {L"CompanyName", L"ProductName", L"ProductVersion", L"FileVersion", L"FileDescription",
        L"InternalName", L"OriginalFilename", L"LegalCopyright", L"Website"}) {
    EXPECT_NE(at = find(key, at), std::string::npos) << "missing or out of order: " << key;
  }
  for (const auto& [key, value] : {std::pair{L"FileDescription", L"Launches PowerBasic (DOS) v3.5"},
                                   {L"ProductVersion", L"1.0.1"},
                                   {L"FileVersion", L"1.0.1"}}) {
    const std::wstring path = L"\\StringFileInfo\\000004b0\\" + std::wstring(key);
    EXPECT_STREQ(static_cast<const wchar_t*>(query(path.c_str())), value);
  }
}

// Asks for version 6 of the common controls and nothing else.
TEST_F(ShippedImage, ManifestAsksForCommonControlsSix) {
  const std::string manifest = Resource(RT_MANIFEST, 1);
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
