// The whole DOSBox start as the launcher makes it, minus the launcher: the bridge, placed as
// DOSBox.exe in a "Program Files" folder, is started with the launcher's command line and a
// standard-input pipe; it runs the host's DOSBox 0.74 on the rendered dosbox.conf, which runs
// the stand-in PB.exe and closes by itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "launch/config_templates.h"

namespace launcher_test {
namespace {

namespace fs = std::filesystem;

// Generous: the bridge itself gives DOSBox five minutes.
constexpr DWORD kBridgeTimeLimitMs = 6 * 60 * 1000;

fs::path OwnFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(std::wstring(path, length)).parent_path();
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

void WriteFile(const fs::path& path, const std::string& contents) {
  std::ofstream file(path, std::ios::binary);
  file << contents;
}

// A user's machine in miniature, below the temporary folder of the Wine prefix: the DOSBox
// folder with the bridge as DOSBox.exe and the PowerBasic folder with the stand-in PB.exe and
// the dosbox.conf the launcher writes for a 1080-pixel display.
struct Machine {
  fs::path dosboxFolder;
  fs::path pbFolder;

  Machine() {
    wchar_t temp[MAX_PATH];
    const fs::path root =
        fs::path(std::wstring(temp, ::GetTempPathW(MAX_PATH, temp))) / L"dosbox-bridge-test";
    std::error_code ignored;
    fs::remove_all(root, ignored);
    dosboxFolder = root / L"Program Files" / L"DOSBox-0.74";
    pbFolder = root / L"PB35";
    fs::create_directories(dosboxFolder);
    fs::create_directories(pbFolder);
    fs::copy_file(OwnFolder() / L"dosbox_bridge.exe", dosboxFolder / L"DOSBox.exe");
    fs::copy_file(OwnFolder() / L"stand_in_pb.com", pbFolder / L"PB.exe");
    const launcher::ConfigTemplate& config = launcher::SelectTemplate(1080);
    std::string text(static_cast<size_t>(config.length), '\0');
    launcher::RenderTemplate(config, text.data());
    WriteFile(pbFolder / L"dosbox.conf", text);
  }

  // Quoted program, two spaces, the parameters, one trailing space: as the launcher composes it.
  std::wstring LauncherCommandLine() const {
    return L"\"" + (dosboxFolder / L"DOSBox.exe").wstring() + L"\"  \"" +
           (pbFolder / L"PB.exe").wstring() + L"\" -noconsole -exit -conf \"" +
           (pbFolder / L"dosbox.conf").wstring() + L"\" ";
  }
};

// Starts `commandLine` as the launcher starts DOSBox: standard input from a new pipe whose
// write end stays here (and is closed at once, as when the launcher exits), the other streams
// its own, handles inherited, no wait. The result is the process handle, or null.
HANDLE StartAsLauncher(std::wstring commandLine) {
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE pipeRead = nullptr;
  HANDLE pipeWrite = nullptr;
  if (!::CreatePipe(&pipeRead, &pipeWrite, &inheritable, 0)) return nullptr;
  ::SetHandleInformation(pipeWrite, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_SHOWNORMAL;
  startup.hStdInput = pipeRead;
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started = {};
  const BOOL ok = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                   NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &started);
  ::CloseHandle(pipeRead);
  ::CloseHandle(pipeWrite);
  if (!ok) return nullptr;
  ::CloseHandle(started.hThread);
  return started.hProcess;
}

TEST(DosboxBridgeTest, RunsHostDosboxWhichRunsPbAndClosesByItself) {
  const Machine machine;
  const std::wstring commandLine = machine.LauncherCommandLine();
  const HANDLE bridge = StartAsLauncher(commandLine);
  ASSERT_NE(bridge, nullptr) << "error " << ::GetLastError();
  ASSERT_EQ(::WaitForSingleObject(bridge, kBridgeTimeLimitMs), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  ::GetExitCodeProcess(bridge, &exitCode);
  ::CloseHandle(bridge);

  const std::string log = ReadFile(machine.dosboxFolder / L"DOSBox.log");
  EXPECT_EQ(exitCode, 0u) << log;
  std::string sent;
  for (const wchar_t c : commandLine) sent += static_cast<char>(c);
  EXPECT_NE(log.find("command line: [" + sent + "]\n"), std::string::npos) << log;
  EXPECT_NE(log.find("standard input: pipe\n"), std::string::npos) << log;
  EXPECT_NE(log.find("/PB35/PB.exe' '-noconsole' '-exit' '-conf' '"), std::string::npos) << log;
  EXPECT_NE(log.find("dosbox exit code: 0\n"), std::string::npos) << log;
  // DOSBox names the host file it loaded: the bridge mapped the -conf path to the right one.
  EXPECT_NE(log.find("CONFIG:Loading primary settings from config file /"), std::string::npos)
      << log;
  EXPECT_NE(log.find("/PB35/dosbox.conf"), std::string::npos) << log;
  EXPECT_EQ(ReadFile(machine.pbFolder / L"PB_RAN.TXT"), "stand-in PB.EXE ran\r\n") << log;
  // The bridge's work files are gone; only the log stays beside it.
  EXPECT_FALSE(fs::exists(machine.dosboxFolder / L"DOSBox.out"));
  EXPECT_FALSE(fs::exists(machine.dosboxFolder / L"DOSBox.status"));
}

}  // namespace
}  // namespace launcher_test
