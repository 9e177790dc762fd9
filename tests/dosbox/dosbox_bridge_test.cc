// The DOSBox start as the launcher makes it: the bridge, placed as DOSBox.exe, runs the host's
// DOSBox 0.74 on the rendered dosbox.conf, which runs the stand-in PB.exe and closes by itself.
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

std::string ReadFile(const fs::path& path) {
  std::ostringstream contents;
  contents << std::ifstream(path, std::ios::binary).rdbuf();
  return contents.str();
}

TEST(DosboxBridgeTest, RunsHostDosboxWhichRunsPbAndClosesByItself) {
  // A user's machine in miniature, in the Wine prefix's temporary folder.
  wchar_t path[MAX_PATH];
  const fs::path bin = fs::path(path, path + ::GetModuleFileNameW(nullptr, path, MAX_PATH));
  const fs::path root = fs::path(path, path + ::GetTempPathW(MAX_PATH, path)) / L"dosbox-bridge";
  const fs::path dosbox = root / L"Program Files" / L"DOSBox-0.74";
  const fs::path pb = root / L"PB35";
  fs::remove_all(root);
  fs::create_directories(dosbox);
  fs::create_directories(pb);
  fs::copy_file(bin.parent_path() / L"dosbox_bridge.exe", dosbox / L"DOSBox.exe");
  fs::copy_file(bin.parent_path() / L"stand_in_pb.com", pb / L"PB.exe");
  const launcher::ConfigTemplate& config = launcher::SelectTemplate(1080);
  std::string text(static_cast<size_t>(config.length), '\0');
  launcher::RenderTemplate(config, text.data());
  std::ofstream(pb / L"dosbox.conf", std::ios::binary) << text;

  // As the launcher starts DOSBox: its command line, standard input from a pipe whose write
  // end closes at once (as when the launcher exits), handles inherited.
  std::wstring commandLine = L"\"" + (dosbox / L"DOSBox.exe").wstring() + L"\"  \"" +
                             (pb / L"PB.exe").wstring() + L"\" -noconsole -exit -conf \"" +
                             (pb / L"dosbox.conf").wstring() + L"\" ";
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE pipeRead = nullptr;
  HANDLE pipeWrite = nullptr;
  ASSERT_TRUE(::CreatePipe(&pipeRead, &pipeWrite, &inheritable, 0));
  ::SetHandleInformation(pipeWrite, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_SHOWNORMAL;
  startup.hStdInput = pipeRead;
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION bridge = {};
  const BOOL started = ::CreateProcessW(nullptr, std::wstring(commandLine).data(), nullptr, nullptr,
                                        TRUE, 0, nullptr, nullptr, &startup, &bridge);
  ::CloseHandle(pipeRead);
  ::CloseHandle(pipeWrite);
  ASSERT_TRUE(started) << "error " << ::GetLastError();
  ::CloseHandle(bridge.hThread);
  // Generous: the bridge itself stops DOSBox at its time limit.
  ASSERT_EQ(::WaitForSingleObject(bridge.hProcess, 6 * 60 * 1000), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  ::GetExitCodeProcess(bridge.hProcess, &exitCode);
  ::CloseHandle(bridge.hProcess);

  const std::string log = ReadFile(dosbox / L"DOSBox.log");
  EXPECT_EQ(exitCode, 0u) << log;
  EXPECT_EQ(ReadFile(pb / L"PB_RAN.TXT"), "stand-in PB.EXE ran\r\n") << log;
  // DOSBox names the host file it loaded: the bridge mapped the -conf path to the right one.
  const std::string sent =
      "command line: [" + std::string(commandLine.begin(), commandLine.end()) + "]\n";
  for (const char* part :
       {sent.c_str(), "standard input: pipe\n", "/PB35/PB.exe' '-noconsole' '-exit' '-conf' '",
        "CONFIG:Loading primary settings from config file /", "/PB35/dosbox.conf",
        "dosbox exit code: 0\n"}) {
    EXPECT_NE(log.find(part), std::string::npos) << part << " not in\n" << log;
  }
}

}  // namespace
}  // namespace launcher_test
