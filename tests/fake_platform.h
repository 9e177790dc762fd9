// A scripted stand-in for the Windows services: the test sets probe answers, the display
// height and file results; every call is recorded as one line, texts in brackets.
#ifndef TESTS_FAKE_PLATFORM_H_
#define TESTS_FAKE_PLATFORM_H_

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "launch/platform_services.h"
#include "launch/text.h"

namespace launcher_test {

// Text memory over malloc that records the sizes asked for and can be told to refuse.
struct TrackingTextMemory final : launcher::TextMemory {
  void* Allocate(size_t bytes) override { return Reallocate(nullptr, bytes); }
  void* Reallocate(void* block, size_t bytes) override {
    requests.push_back(bytes);
    return refuse ? nullptr : std::realloc(block, bytes);
  }
  void Free(void* block) override { std::free(block); }

  std::vector<size_t> requests;
  bool refuse = false;
};

class FakePlatform final : public launcher::PlatformServices {
 public:
  FakePlatform() { area_.Start(memory); }
  ~FakePlatform() { area_.Release(); }

  int64_t ProbePath(const wchar_t* path) override {
    auto found = probes.find(path != nullptr ? path : L"");
    return Record(found == probes.end() ? launcher::PATH_ABSENT : found->second, L"ProbePath",
                  path);
  }
  int32_t ExamineDisplays() override { return Record(1, L"ExamineDisplays"); }
  int32_t DisplayHeight(int32_t index) override {
    return Record(index == 0 ? displayHeight : 0, L"DisplayHeight", index);
  }
  intptr_t CreateOutputFile(launcher::FileNumber number, const wchar_t* path) override {
    return Record(createResult, L"CreateOutputFile", number, path);
  }
  int32_t WriteOutputData(launcher::FileNumber number, const void* bytes, int32_t length) override {
    written.assign(static_cast<const char*>(bytes), static_cast<size_t>(length));
    return Record(writeResult < 0 ? length : writeResult, L"WriteOutputData", number, length);
  }
  void CloseOutputFile(launcher::FileNumber number) override {
    Record(0, L"CloseOutputFile", number);
  }
  int32_t RemoveFile(const wchar_t* path) override { return Record(1, L"RemoveFile", path); }
  uintptr_t StartProgram(const wchar_t* program, const wchar_t* parameters,
                         const wchar_t* workingDirectory, launcher::RunFlags flags) override {
    return Record(uintptr_t{0}, L"StartProgram", program, parameters, workingDirectory, flags);
  }
  int32_t ShowMessage(const wchar_t* caption, const wchar_t* text, uint32_t style) override {
    return Record(1, L"ShowMessage", caption, text, style);
  }
  launcher::TextWorkArea& Texts() override { return area_; }

  TrackingTextMemory memory;
  std::map<std::wstring, int64_t> probes;  // paths not listed are absent
  int32_t displayHeight = 1080;
  intptr_t createResult = 1;
  int32_t writeResult = -1;  // negative: everything asked for is written
  std::vector<std::wstring> calls;
  std::string written;

 private:
  static std::wstring Part(const wchar_t* text) {
    return text != nullptr ? L" [" + std::wstring(text) + L"]" : L" (null)";
  }
  static std::wstring Part(int64_t number) { return L" " + std::to_wstring(number); }
  // Records the call as one line and answers `result`.
  template <typename Result, typename... Parts>
  Result Record(Result result, const wchar_t* name, Parts... parts) {
    calls.push_back((std::wstring(name) + ... + Part(parts)));
    return result;
  }

  launcher::TextWorkArea area_;
};

}  // namespace launcher_test

#endif  // TESTS_FAKE_PLATFORM_H_
