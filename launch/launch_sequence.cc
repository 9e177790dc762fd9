#include "launch/launch_sequence.h"

#include "launch/config_templates.h"
#include "launch/text.h"

namespace launcher {

namespace {

// The fixed texts are ASCII in the image, half the size of UTF-16; they are widened as they
// are assigned or composed, so every text the services see is UTF-16.
constexpr char kFirstDosboxFolder[] = "C:\\Program Files\\DOSBox-0.74\\";
constexpr char kSecondDosboxFolder[] = "C:\\Program Files (x86)\\DOSBox-0.74\\";
constexpr char kDosboxProgram[] = "DOSBox.exe";
constexpr char kPbFolder[] = "C:\\PB35\\";
constexpr char kConfigName[] = "dosbox.conf";
constexpr char kPbProgram[] = "PB.exe";
constexpr char kOptionPrefix[] = "-noconsole -exit -conf \"";
constexpr char kQuote[] = "\"";
constexpr char kSpace[] = " ";

constexpr char kCaption[] = "ERROR!";
constexpr char kDosboxMissing[] = "Unable to locate the DOSBox or it is not installed.";
constexpr char kPbFolderMissing[] = "Unable to locate the PowerBasic folder, \"";
constexpr char kPbFolderMissingEnd[] = "\".";
constexpr char kConfigNotWritten[] = "Unable to write DOSBox configuration file to disk.";

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

// Shows the message composed in `message`. The caption gets a block of its own, so that no
// further composition can move the message while it is in use.
void ShowError(PlatformServices& platform, Composition& message) {
  Text caption;
  caption.Assign(platform.Texts().memory(), kCaption);
  platform.ShowMessage(caption.get(), message.Use(), kMessageStyle);
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
    Composition message(texts);
    ShowError(platform, message.Add(kDosboxMissing));
    return;
  }

  v.pbFolder.Assign(memory, kPbFolder);
  if (platform.ProbePath(v.pbFolder.get()) != PATH_DIRECTORY) {
    Composition message(texts);
    ShowError(platform, message.Add(kPbFolderMissing).Add(v.pbFolder).Add(kPbFolderMissingEnd));
    return;
  }

  platform.ExamineDisplays();
  v.displayHeight = platform.DisplayHeight(0);

  // An existing file of any size, even empty, is the user's and stays untouched.
  Composition(texts).Add(v.pbFolder).Add(kConfigName).MoveTo(v.configPath);
  if (platform.ProbePath(v.configPath.get()) < 0) {
    if (platform.CreateOutputFile(kConfigFile, v.configPath.get()) == 0 ||
        !WriteConfig(platform, v.displayHeight, v.configPath.get())) {
      Composition message(texts);
      ShowError(platform, message.Add(kConfigNotWritten));
    }
  }

  // DOSBox starts even without a fresh configuration; PB.exe is DOSBox's to find.
  Composition(texts).Add(v.pbFolder).Add(kPbProgram).MoveTo(v.pbExecutable);
  Composition(texts).Add(kOptionPrefix).Add(v.configPath).Add(kQuote).MoveTo(v.dosboxOptions);
  Composition parameters(texts);
  parameters.Add(kSpace).Add(kQuote).Add(v.pbExecutable).Add(kQuote).Add(kSpace);
  parameters.Add(v.dosboxOptions).Add(kSpace);
  // DOSBox works in the PowerBasic folder, never in the launcher's, which may be Downloads:
  // there it empties its stdout.txt and stderr.txt each start, and when the configuration
  // cannot be read it runs the dosbox.conf of its current folder, autoexec section and all.
  platform.StartProgram(v.dosboxExecutable.get(), parameters.Use(), v.pbFolder.get(),
                        kDosboxRunFlags);
}

}  // namespace launcher
