#include "launch/launch_sequence.h"

#include "launch/config_templates.h"
#include "launch/text.h"

namespace launcher {

namespace {

constexpr wchar_t kFirstDosboxFolder[] = L"C:\\Program Files\\DOSBox-0.74\\";
constexpr wchar_t kSecondDosboxFolder[] = L"C:\\Program Files (x86)\\DOSBox-0.74\\";
constexpr wchar_t kDosboxProgram[] = L"DOSBox.exe";
constexpr wchar_t kPbFolder[] = L"C:\\PB35\\";
constexpr wchar_t kConfigName[] = L"dosbox.conf";
constexpr wchar_t kPbProgram[] = L"PB.exe";
constexpr wchar_t kOptionPrefix[] = L"-noconsole -exit -conf \"";
constexpr wchar_t kQuote[] = L"\"";
constexpr wchar_t kSpace[] = L" ";

constexpr wchar_t kCaption[] = L"ERROR!";
constexpr wchar_t kDosboxMissing[] = L"Unable to locate the DOSBox or it is not installed.";
constexpr wchar_t kPbFolderMissing[] = L"Unable to locate the PowerBasic folder, \"";
constexpr wchar_t kPbFolderMissingEnd[] = L"\".";
constexpr wchar_t kConfigNotWritten[] = L"Unable to write DOSBox configuration file to disk.";

constexpr uint32_t kMessageStyle = 0;  // a plain OK box without an icon
constexpr FileNumber kConfigFile = 0;
constexpr RunFlags kDosboxRunFlags = RUN_KEEP | RUN_STDIN_PIPE;

// The values the sequence derives, in the order it derives them.
struct LaunchValues {
  Text dosboxFolder;
  Text dosboxExecutable;
  Text pbFolder;
  int32_t displayHeight = 0;
  Text configPath;
  Text pbExecutable;
  Text dosboxOptions;
};

void ShowError(PlatformServices& platform, const wchar_t* text) {
  platform.ShowMessage(kCaption, text, kMessageStyle);
}

// Writes the configuration text for `displayHeight` to the open file. A short write would
// leave a broken file that every later run trusts, so it is removed and reported instead.
bool WriteConfig(PlatformServices& platform, int32_t displayHeight, const wchar_t* path) {
  const ConfigTemplate& config = SelectTemplate(displayHeight);
  TextMemory& memory = platform.Texts().memory();
  char* text = static_cast<char*>(memory.Allocate(static_cast<size_t>(config.length)));
  int32_t written = 0;
  if (text != nullptr) {
    RenderTemplate(config, text);
    written = platform.WriteOutputData(kConfigFile, text, config.length);
    memory.Free(text);
  }
  platform.CloseOutputFile(kConfigFile);
  if (written == config.length) return true;
  platform.RemoveFile(path);
  return false;
}

}  // namespace

void RunLaunchSequence(PlatformServices& platform) {
  TextWorkArea& texts = platform.Texts();
  TextMemory& memory = texts.memory();
  LaunchValues v;

  // The first folder stays chosen only when it is really a folder; the second is not probed.
  v.dosboxFolder.Assign(memory, kFirstDosboxFolder);
  if (platform.ProbePath(v.dosboxFolder.get()) != PATH_DIRECTORY) {
    v.dosboxFolder.Assign(memory, kSecondDosboxFolder);
  }

  Composition(texts).Add(v.dosboxFolder).Add(kDosboxProgram).MoveTo(v.dosboxExecutable);
  if (platform.ProbePath(v.dosboxExecutable.get()) < 0) {
    ShowError(platform, kDosboxMissing);
    return;
  }

  v.pbFolder.Assign(memory, kPbFolder);
  if (platform.ProbePath(v.pbFolder.get()) != PATH_DIRECTORY) {
    Composition message(texts);
    ShowError(platform,
              message.Add(kPbFolderMissing).Add(v.pbFolder).Add(kPbFolderMissingEnd).Use());
    return;
  }

  platform.ExamineDisplays();
  v.displayHeight = platform.DisplayHeight(0);

  // An existing file of any size, even empty, is the user's and stays untouched.
  Composition(texts).Add(v.pbFolder).Add(kConfigName).MoveTo(v.configPath);
  if (platform.ProbePath(v.configPath.get()) < 0) {
    if (platform.CreateOutputFile(kConfigFile, v.configPath.get()) == 0 ||
        !WriteConfig(platform, v.displayHeight, v.configPath.get())) {
      ShowError(platform, kConfigNotWritten);
    }
  }

  // DOSBox starts even without a fresh configuration; PB.exe is DOSBox's to find.
  Composition(texts).Add(v.pbFolder).Add(kPbProgram).MoveTo(v.pbExecutable);
  Composition(texts).Add(kOptionPrefix).Add(v.configPath).Add(kQuote).MoveTo(v.dosboxOptions);
  Composition parameters(texts);
  parameters.Add(kSpace).Add(kQuote).Add(v.pbExecutable).Add(kQuote).Add(kSpace);
  parameters.Add(v.dosboxOptions).Add(kSpace);
  platform.StartProgram(v.dosboxExecutable.get(), parameters.Use(), L"", kDosboxRunFlags);
}

}  // namespace launcher
