// The launch sequence against a scripted stand-in for the Windows services.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "launch/launch_sequence.h"
#include "launch/text.h"

namespace launcher_test {
namespace {

using namespace launcher;

// Text memory over malloc.
struct FakeTextMemory final : launcher::TextMemory {
  void* Allocate(size_t bytes) override { return std::malloc(bytes); }
  void* Reallocate(void* block, size_t bytes) override { return std::realloc(block, bytes); }
  void Free(void* block) override { std::free(block); }
};

struct FakePlatform final : launcher::PlatformServices {
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
  // Recorded with the screen size the text names, or "?" when it names none.
  int32_t WriteOutputData(launcher::FileNumber number, const void* bytes, int32_t length) override {
    const std::string text(static_cast<const char*>(bytes), static_cast<size_t>(length));
    const size_t start = text.find("\nfullresolution=");
    const size_t end = start == std::string::npos ? start : text.find('\r', start);
    const std::string size =
        end == std::string::npos ? "?" : text.substr(start + 16, end - start - 16);
    return Record(writeResult < 0 ? length : writeResult, L"WriteOutputData", number, length,
                  std::wstring(size.begin(), size.end()).c_str());
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

  FakeTextMemory memory;
  std::map<std::wstring, int64_t> probes;  // paths not listed are absent
  int32_t displayHeight = 1080;
  intptr_t createResult = 1;
  int32_t writeResult = -1;  // negative: everything asked for is written
  std::vector<std::wstring> calls;
  launcher::TextWorkArea area_;

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
};

using Calls = std::vector<std::wstring>;

Calls operator+(Calls calls, const Calls& more) {
  calls.insert(calls.end(), more.begin(), more.end());
  return calls;
}

const std::wstring kFirst = L"C:\\Program Files\\DOSBox-0.74\\";
const std::wstring kSecond = L"C:\\Program Files (x86)\\DOSBox-0.74\\";
const std::wstring kFirstExe = kFirst + L"DOSBox.exe";
const std::wstring kSecondExe = kSecond + L"DOSBox.exe";
const std::wstring kPb = L"C:\\PB35\\";
const std::wstring kConf = L"C:\\PB35\\dosbox.conf";
// A complete installation without a dosbox.conf.
const std::map<std::wstring, int64_t> kInstalled = {
    {kFirst, PATH_DIRECTORY}, {kFirstExe, 1000}, {kPb, PATH_DIRECTORY}};

Calls Message(const std::wstring& text) { return {L"ShowMessage [ERROR!] [" + text + L"] 0"}; }

Calls Probe(const std::wstring& path) { return {L"ProbePath [" + path + L"]"}; }

const Calls kFirstFound = Probe(kFirst) + Probe(kFirstExe);
const Calls kSecondFound = Probe(kFirst) + Probe(kSecondExe);
const Calls kChecked = Probe(kPb) + Calls{L"ExamineDisplays", L"DisplayHeight 0"} + Probe(kConf);
const Calls kCreated = {L"CreateOutputFile 0 [" + kConf + L"]"};
// The text for the display's height, its length and the screen size it names, written whole.
Calls Written(const std::wstring& text = L"10969 [1280x800]") {
  return kCreated + Calls{L"WriteOutputData 0 " + text, L"CloseOutputFile 0"};
}
// The exact parameter text, the PowerBasic folder to work in and RunFlags 20.
Calls Start(const std::wstring& program) {
  return {L"StartProgram [" + program +
          L"] [ \"C:\\PB35\\PB.exe\" -noconsole -exit -conf \"C:\\PB35\\dosbox.conf\" ] "
          L"[C:\\PB35\\] 20"};
}
const Calls kNoDosbox = Message(L"Unable to locate the DOSBox or it is not installed.");
const Calls kNoPb = Message(L"Unable to locate the PowerBasic folder, \"C:\\PB35\\\".");
const Calls kNotWritten = Message(L"Unable to write DOSBox configuration file to disk.");
// A broken file would be trusted by every later run: it is removed.
const Calls kBrokenConfig = kFirstFound + kChecked + Written() +
                            Calls{L"RemoveFile [" + kConf + L"]"} + kNotWritten + Start(kFirstExe);

// A complete run that writes the text named by `text` and starts DOSBox.
Calls Launched(const std::wstring& text) {
  return kFirstFound + kChecked + Written(text) + Start(kFirstExe);
}

// Every path: the probe answers that differ from kInstalled, and the calls expected.
const struct {
  std::map<std::wstring, int64_t> changes;
  Calls expected;
  int32_t displayHeight = 1080;
  intptr_t createResult = 1;
  int32_t writeResult = -1;  // negative: the whole text
} kScenarios[] = {
    {{}, Launched(L"10969 [1280x800]")},
    {{{kFirst, PATH_ABSENT}, {kSecondExe, 1000}},
     kSecondFound + kChecked + Written() + Start(kSecondExe)},
    {{{kFirst, 0}, {kSecondExe, 1000}, {kConf, 10}}, kSecondFound + kChecked + Start(kSecondExe)},
    {{{kFirstExe, PATH_ABSENT}, {kSecondExe, 1000}}, kFirstFound + kNoDosbox},  // not retried
    {{{kFirst, PATH_ABSENT}}, kSecondFound + kNoDosbox},
    {{{kFirstExe, PATH_DIRECTORY}}, kFirstFound + kNoDosbox},
    {{{kFirstExe, 0}, {kConf, 0}}, kFirstFound + kChecked + Start(kFirstExe)},
    {{{kPb, PATH_ABSENT}}, kFirstFound + Probe(kPb) + kNoPb},
    {{{kPb, 12}}, kFirstFound + Probe(kPb) + kNoPb},
    {{{kConf, 6442450944}}, kFirstFound + kChecked + Start(kFirstExe)},
    {{{kConf, PATH_DIRECTORY}},
     kFirstFound + kChecked + kCreated + kNotWritten + Start(kFirstExe),
     1080,
     0},
    {{}, kBrokenConfig, 1080, 1, 4096},
    {{}, kBrokenConfig, 1080, 1, 0},
    // The primary display's height chooses the text.
    {{}, Launched(L"10967 [640x480]"), 799},
    {{}, Launched(L"10969 [1280x800]"), 800},
    {{}, Launched(L"10969 [1280x800]"), 1599},
    {{}, Launched(L"10971 [2560x1600]"), 1600},
    {{}, Launched(L"10967 [640x480]"), 0},
    {{}, Launched(L"10967 [640x480]"), INT_MIN},
};

// Each scenario's exact calls: probes, the text for the display written whole (a short one
// removed), the message shown, and DOSBox's command line.
TEST(LaunchSequence, ProbesWritesStartsAndReportsAsEachScenarioNeeds) {
  for (const auto& scenario : kScenarios) {
    SCOPED_TRACE(testing::Message() << "scenario " << &scenario - kScenarios);
    FakePlatform platform;
    platform.probes = kInstalled;
    for (const auto& [path, result] : scenario.changes) platform.probes[path] = result;
    platform.displayHeight = scenario.displayHeight;
    platform.createResult = scenario.createResult;
    platform.writeResult = scenario.writeResult;
    launcher::RunLaunchSequence(platform);
    EXPECT_EQ(platform.calls, scenario.expected);
  }
}

}  // namespace
}  // namespace launcher_test
