#include "launch/launch_sequence.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "fake_platform.h"

namespace launcher_test {
namespace {

using launcher::PATH_ABSENT;
using launcher::PATH_DIRECTORY;
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
const Calls kWritten = {L"CreateOutputFile 0 [" + kConf + L"]", L"WriteOutputData 0 10969",
                        L"CloseOutputFile 0"};
// The exact parameter text, an empty working folder and RunFlags 20.
Calls Start(const std::wstring& program) {
  return {L"StartProgram [" + program +
          L"] [ \"C:\\PB35\\PB.exe\" -noconsole -exit -conf \"C:\\PB35\\dosbox.conf\" ] [] 20"};
}
const Calls kNoDosbox = Message(L"Unable to locate the DOSBox or it is not installed.");
const Calls kNoPb = Message(L"Unable to locate the PowerBasic folder, \"C:\\PB35\\\".");
const Calls kNotWritten = Message(L"Unable to write DOSBox configuration file to disk.");
// A broken file would be trusted by every later run: it is removed.
const Calls kBrokenConfig = kFirstFound + kChecked + kWritten +
                            Calls{L"RemoveFile [" + kConf + L"]"} + kNotWritten + Start(kFirstExe);

struct Scenario {
  const char* name;
  std::map<std::wstring, int64_t> changes;  // to the probe answers of kInstalled
  Calls expected;
  intptr_t createResult = 1;
  int32_t writeResult = -1;  // negative: the whole text
};

const Scenario kScenarios[] = {
    {"NoConfigIsWrittenThenDosboxStarts", {}, kFirstFound + kChecked + kWritten + Start(kFirstExe)},
    {"SecondFolderIsTakenWithoutProbingIt",
     {{kFirst, PATH_ABSENT}, {kSecondExe, 1000}},
     kSecondFound + kChecked + kWritten + Start(kSecondExe)},
    {"FirstFolderAsAFileCountsAsMissing",
     {{kFirst, 0}, {kSecondExe, 1000}, {kConf, 10}},
     kSecondFound + kChecked + Start(kSecondExe)},
    {"FirstFolderWithoutDosboxIsNotRetried",
     {{kFirstExe, PATH_ABSENT}, {kSecondExe, 1000}},
     kFirstFound + kNoDosbox},
    {"NeitherFolder", {{kFirst, PATH_ABSENT}}, kSecondFound + kNoDosbox},
    {"FolderNamedDosboxExe", {{kFirstExe, PATH_DIRECTORY}}, kFirstFound + kNoDosbox},
    {"EmptyFilesCount", {{kFirstExe, 0}, {kConf, 0}}, kFirstFound + kChecked + Start(kFirstExe)},
    {"PowerBasicFolderMissing", {{kPb, PATH_ABSENT}}, kFirstFound + Probe(kPb) + kNoPb},
    {"PowerBasicFolderIsAFile", {{kPb, 12}}, kFirstFound + Probe(kPb) + kNoPb},
    {"HugeConfigIsLeftAlone", {{kConf, 6442450944}}, kFirstFound + kChecked + Start(kFirstExe)},
    {"ConfigNotCreated",
     {{kConf, PATH_DIRECTORY}},
     kFirstFound + kChecked + Calls{kWritten[0]} + kNotWritten + Start(kFirstExe),
     0},
    {"ShortWrite", {}, kBrokenConfig, 1, 4096},
    {"FailedWrite", {}, kBrokenConfig, 1, 0},
};

class LaunchSequenceTest : public testing::TestWithParam<Scenario> {};

TEST_P(LaunchSequenceTest, CallsServicesInOrder) {
  FakePlatform platform;
  platform.probes = kInstalled;
  for (const auto& [path, result] : GetParam().changes) platform.probes[path] = result;
  platform.createResult = GetParam().createResult;
  platform.writeResult = GetParam().writeResult;
  launcher::RunLaunchSequence(platform);
  EXPECT_EQ(platform.calls, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, LaunchSequenceTest, testing::ValuesIn(kScenarios),
                         [](const auto& row) { return std::string(row.param.name); });

// The primary display's height chooses the text, which is written whole.
TEST(LaunchSequence, DisplayHeightChoosesTheText) {
  const std::tuple<int32_t, std::string, size_t> cases[] = {
      {799, "640x480", 10967},     {800, "1280x800", 10969},     {1599, "1280x800", 10969},
      {1600, "2560x1600", 10971},  {0, "640x480", 10967},        {-1, "640x480", 10967},
      {INT_MIN, "640x480", 10967}, {INT_MAX, "2560x1600", 10971}};
  for (const auto& [height, resolution, length] : cases) {
    FakePlatform platform;
    platform.probes = kInstalled;
    platform.displayHeight = height;
    launcher::RunLaunchSequence(platform);
    EXPECT_EQ(platform.written.size(), length) << height;
    EXPECT_NE(platform.written.find("\r\nfullresolution=" + resolution +
                                    "\r\nwindowresolution=" + resolution + "\r\n"),
              std::string::npos)
        << height;
  }
}

// Without memory for texts no path can be named: the probes end in a message, never a crash.
TEST(LaunchSequence, NoTextMemoryEndsInAMessage) {
  FakePlatform platform;
  platform.probes = kInstalled;
  platform.memory.refuse = true;
  launcher::RunLaunchSequence(platform);
  ASSERT_FALSE(platform.calls.empty());
  EXPECT_EQ(platform.calls.back().rfind(L"ShowMessage ", 0), 0u);
  platform.calls.pop_back();
  for (const auto& call : platform.calls) EXPECT_EQ(call.rfind(L"ProbePath ", 0), 0u) << call;
}

}  // namespace
}  // namespace launcher_test
