// A scripted stand-in for the Windows services: probe answers, a display height and file
// results are set by the test, and every call is recorded as one readable line.
#ifndef TESTS_FAKE_PLATFORM_H_
#define TESTS_FAKE_PLATFORM_H_

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "launch/platform_services.h"
#include "launch/text.h"

namespace launcher_test {

// Text memory that, like the text heap, is released whole when it goes away. It can be
// told to refuse requests to test running out of memory.
class TrackingTextMemory final : public launcher::TextMemory {
 public:
  ~TrackingTextMemory() {
    for (void* block : live_) std::free(block);
  }
  void* Allocate(size_t bytes) override { return Reallocate(nullptr, bytes); }
  void* Reallocate(void* block, size_t bytes) override {
    requests.push_back(bytes);
    if (refuse) return nullptr;
    void* moved = std::realloc(block, bytes);
    live_.erase(block);
    live_.insert(moved);
    return moved;
  }
  void Free(void* block) override {
    live_.erase(block);
    std::free(block);
  }
  size_t live_blocks() const { return live_.size(); }

  std::vector<size_t> requests;  // sizes asked for, in order
  bool refuse = false;

 private:
  std::set<void*> live_;
};

// A text as a log line shows it; null texts must not crash the log.
inline std::wstring Shown(const wchar_t* text) { return text == nullptr ? L"(null)" : text; }

class FakePlatform final : public launcher::PlatformServices {
 public:
  FakePlatform() { area_.Start(memory); }
  ~FakePlatform() { area_.Release(); }

  int64_t ProbePath(const wchar_t* path) override {
    calls.push_back(L"ProbePath " + Shown(path));
    auto found = probes.find(Shown(path));
    return found == probes.end() ? launcher::PATH_ABSENT : found->second;
  }
  int32_t ExamineDisplays() override {
    calls.push_back(L"ExamineDisplays");
    return 1;
  }
  int32_t DisplayHeight(int32_t index) override {
    calls.push_back(L"DisplayHeight " + std::to_wstring(index));
    return index == 0 ? displayHeight : 0;
  }
  intptr_t CreateOutputFile(launcher::FileNumber number, const wchar_t* path) override {
    calls.push_back(L"CreateOutputFile " + std::to_wstring(number) + L" " + Shown(path));
    return createResult;
  }
  int32_t WriteOutputData(launcher::FileNumber number, const void* bytes, int32_t length) override {
    calls.push_back(L"WriteOutputData " + std::to_wstring(number) + L" " + std::to_wstring(length));
    written.assign(static_cast<const char*>(bytes), static_cast<size_t>(length));
    return writeResult < 0 ? length : writeResult;
  }
  void CloseOutputFile(launcher::FileNumber number) override {
    calls.push_back(L"CloseOutputFile " + std::to_wstring(number));
  }
  int32_t RemoveFile(const wchar_t* path) override {
    calls.push_back(L"RemoveFile " + Shown(path));
    return 1;
  }
  uintptr_t StartProgram(const wchar_t* program, const wchar_t* parameters,
                         const wchar_t* workingDirectory, launcher::RunFlags flags) override {
    calls.push_back(L"StartProgram [" + Shown(program) + L"] [" + Shown(parameters) + L"] [" +
                    Shown(workingDirectory) + L"] " + std::to_wstring(flags));
    return 0;
  }
  int32_t ShowMessage(const wchar_t* caption, const wchar_t* text, uint32_t style) override {
    calls.push_back(L"ShowMessage [" + Shown(caption) + L"] [" + Shown(text) + L"] " +
                    std::to_wstring(style));
    return 1;
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
  launcher::TextWorkArea area_;
};

}  // namespace launcher_test

#endif  // TESTS_FAKE_PLATFORM_H_
