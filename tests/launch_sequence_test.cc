#include "launch/launch_sequence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"

namespace launcher_test {
namespace {

using launcher::PATH_ABSENT;
using launcher::PATH_DIRECTORY;

const std::wstring kFirst = L"C:\\Program Files\\DOSBox-0.74\\";
const std::wstring kSecond = L"C:\\Program Files (x86)\\DOSBox-0.74\\";
const std::wstring kPb = L"C:\\PB35\\";
const std::wstring kConf = L"C:\\PB35\\dosbox.conf";

const std::wstring kProbeFirst = L"ProbePath " + kFirst;
const std::wstring kProbeFirstExe = L"ProbePath " + kFirst + L"DOSBox.exe";
const std::wstring kProbeSecondExe = L"ProbePath " + kSecond + L"DOSBox.exe";
const std::wstring kProbePb = L"ProbePath " + kPb;
const std::wstring kProbeConf = L"ProbePath " + kConf;
const std::wstring kDisplays[] = {L"ExamineDisplays", L"DisplayHeight 0"};
const std::wstring kCreate = L"CreateOutputFile 0 " + kConf;
const std::wstring kClose = L"CloseOutputFile 0";
const std::wstring kRemove = L"RemoveFile " + kConf;
const std::wstring kParameters =
    L" \"C:\\PB35\\PB.exe\" -noconsole -exit -conf \"C:\\PB35\\dosbox.conf\" ";
const std::wstring kStartFirst =
    L"StartProgram [" + kFirst + L"DOSBox.exe] [" + kParameters + L"] [] 20";
const std::wstring kStartSecond =
    L"StartProgram [" + kSecond + L"DOSBox.exe] [" + kParameters + L"] [] 20";
const std::wstring kDosboxMessage =
    L"ShowMessage [ERROR!] [Unable to locate the DOSBox or it is not installed.] 0";
const std::wstring kPbMessage =
    L"ShowMessage [ERROR!] [Unable to locate the PowerBasic folder, \"C:\\PB35\\\".] 0";
const std::wstring kWriteMessage =
    L"ShowMessage [ERROR!] [Unable to write DOSBox configuration file to disk.] 0";

struct Scenario {
  const char* name;
  std::vector<std::pair<std::wstring, int64_t>> probes;
  intptr_t createResult;
  int32_t writeResult;  // negative: the whole text
  std::vector<std::wstring> expected;
};

std::vector<std::wstring> Join(std::initializer_list<std::vector<std::wstring>> parts) {
  std::vector<std::wstring> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const std::vector<std::wstring> kWrite = {kCreate, L"WriteOutputData 0 10969", kClose};
const std::vector<std::wstring> kFoundFirst = {kProbeFirst,  kProbeFirstExe, kProbePb,
                                               kDisplays[0], kDisplays[1],   kProbeConf};

const Scenario kScenarios[] = {
    {"FirstFolderWithNoConfigWritesAndStarts",
     {{kFirst, PATH_DIRECTORY}, {kFirst + L"DOSBox.exe", 1000}, {kPb, PATH_DIRECTORY}},
     1,
     -1,
     Join({kFoundFirst, kWrite, {kStartFirst}})},
    {"OnlySecondFolderIsTakenWithoutProbingIt",
     {{kSecond, PATH_DIRECTORY}, {kSecond + L"DOSBox.exe", 1000}, {kPb, PATH_DIRECTORY}},
     1,
     -1,
     Join({{kProbeFirst, kProbeSecondExe, kProbePb, kDisplays[0], kDisplays[1], kProbeConf},
           kWrite,
           {kStartSecond}})},
    {"FirstFolderAsAFileCountsAsMissing",
     {{kFirst, 0}, {kSecond + L"DOSBox.exe", 1000}, {kPb, PATH_DIRECTORY}, {kConf, 10}},
     1,
     -1,
     {kProbeFirst, kProbeSecondExe, kProbePb, kDisplays[0], kDisplays[1], kProbeConf,
      kStartSecond}},
    {"FirstFolderWithoutDosboxIsNotRetried",
     {{kFirst, PATH_DIRECTORY}, {kSecond + L"DOSBox.exe", 1000}, {kPb, PATH_DIRECTORY}},
     1,
     -1,
     {kProbeFirst, kProbeFirstExe, kDosboxMessage}},
    {"NeitherFolderStopsBeforeThePowerBasicFolder",
     {{kPb, PATH_DIRECTORY}},
     1,
     -1,
     {kProbeFirst, kProbeSecondExe, kDosboxMessage}},
    {"FolderNamedDosboxExeIsMissing",
     {{kFirst, PATH_DIRECTORY}, {kFirst + L"DOSBox.exe", PATH_DIRECTORY}, {kPb, PATH_DIRECTORY}},
     1,
     -1,
     {kProbeFirst, kProbeFirstExe, kDosboxMessage}},
    {"EmptyDosboxExeIsAFile",
     {{kFirst, PATH_DIRECTORY}, {kFirst + L"DOSBox.exe", 0}, {kPb, PATH_DIRECTORY}, {kConf, 0}},
     1,
     -1,
     Join({kFoundFirst, {kStartFirst}})},
    {"PowerBasicFolderMissing",
     {{kFirst, PATH_DIRECTORY}, {kFirst + L"DOSBox.exe", 1000}},
     1,
     -1,
     {kProbeFirst, kProbeFirstExe, kProbePb, kPbMessage}},
    {"PowerBasicFolderIsAFile",
     {{kFirst, PATH_DIRECTORY}, {kFirst + L"DOSBox.exe", 1000}, {kPb, 12}},
     1,
     -1,
     {kProbeFirst, kProbeFirstExe, kProbePb, kPbMessage}},
    {"ExistingConfigOfAnySizeIsLeftAlone",
     {{kFirst, PATH_DIRECTORY},
      {kFirst + L"DOSBox.exe", 1000},
      {kPb, PATH_DIRECTORY},
      {kConf, 5368709120}},
     1,
     -1,
     Join({kFoundFirst, {kStartFirst}})},
    {"ConfigThatCannotBeCreatedIsReportedAndDosboxStillStarts",
     {{kFirst, PATH_DIRECTORY},
      {kFirst + L"DOSBox.exe", 1000},
      {kPb, PATH_DIRECTORY},
      {kConf, PATH_DIRECTORY}},
     0,
     -1,
     Join({kFoundFirst, {kCreate, kWriteMessage, kStartFirst}})},
    {"ShortWriteRemovesTheBrokenConfig",
     {{kFirst, PATH_DIRECTORY}, {kFirst + L"DOSBox.exe", 1000}, {kPb, PATH_DIRECTORY}},
     1,
     4096,
     Join({kFoundFirst, kWrite, {kRemove, kWriteMessage, kStartFirst}})},
    {"FailedWriteRemovesTheEmptyConfig",
     {{kFirst, PATH_DIRECTORY}, {kFirst + L"DOSBox.exe", 1000}, {kPb, PATH_DIRECTORY}},
     1,
     0,
     Join({kFoundFirst, kWrite, {kRemove, kWriteMessage, kStartFirst}})},
};

class LaunchSequenceTest : public testing::TestWithParam<Scenario> {};

TEST_P(LaunchSequenceTest, CallsServicesInOrder) {
  const Scenario& scenario = GetParam();
  FakePlatform platform;
  for (const auto& [path, result] : scenario.probes) platform.probes[path] = result;
  platform.createResult = scenario.createResult;
  platform.writeResult = scenario.writeResult;

  launcher::RunLaunchSequence(platform);

  EXPECT_EQ(platform.calls, scenario.expected);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, LaunchSequenceTest, testing::ValuesIn(kScenarios),
                         [](const testing::TestParamInfo<Scenario>& row) {
                           return std::string(row.param.name);
                         });

// The text written is the whole template for the primary display's height, in one write.
TEST(LaunchSequenceConfig, DisplayHeightChoosesTheText) {
  const struct {
    int32_t height;
    const char* resolution;
    size_t length;
  } cases[] = {{799, "640x480", 10967},    {800, "1280x800", 10969},  {1599, "1280x800", 10969},
               {1600, "2560x1600", 10971}, {0, "640x480", 10967},     {-5, "640x480", 10967},
               {768, "640x480", 10967},    {2160, "2560x1600", 10971}};
  for (const auto& c : cases) {
    FakePlatform platform;
    platform.probes = {
        {kFirst, PATH_DIRECTORY}, {kFirst + L"DOSBox.exe", 1000}, {kPb, PATH_DIRECTORY}};
    platform.displayHeight = c.height;
    launcher::RunLaunchSequence(platform);

    SCOPED_TRACE(c.height);
    EXPECT_EQ(platform.written.size(), c.length);
    EXPECT_NE(platform.written.find(std::string("\r\nfullresolution=") + c.resolution +
                                    "\r\nwindowresolution=" + c.resolution + "\r\n"),
              std::string::npos);
    EXPECT_EQ(platform.calls[7], L"WriteOutputData 0 " + std::to_wstring(c.length));
  }
}

// Without memory for its texts the sequence cannot name any path: it ends in a message box,
// never a crash, and neither writes nor starts anything.
TEST(LaunchSequenceMemory, NoTextMemoryEndsInAMessage) {
  FakePlatform platform;
  platform.probes = {{kFirst, PATH_DIRECTORY}, {kFirst + L"DOSBox.exe", 1000}};
  platform.memory.refuse = true;
  launcher::RunLaunchSequence(platform);
  ASSERT_FALSE(platform.calls.empty());
  EXPECT_EQ(platform.calls.back().rfind(L"ShowMessage ", 0), 0u);
  for (const std::wstring& call : platform.calls) {
    EXPECT_EQ(call.find(L"StartProgram"), std::wstring::npos);
    EXPECT_EQ(call.find(L"CreateOutputFile"), std::wstring::npos);
  }
}

}  // namespace
}  // namespace launcher_test
