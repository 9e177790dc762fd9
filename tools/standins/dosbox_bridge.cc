// A stand-in DOSBox.exe that lets the launcher, running under Wine, start the host's real
// DOSBox. Placed where the launcher looks for DOSBox.exe, it takes the launcher's command line,
// turns every Windows path on it ("C:\PB35\PB.exe") into the host path Wine maps it to, runs
// the host dosbox with the same options, waits for it and records the run in a log named after
// itself (DOSBox.log beside DOSBox.exe). Its exit code is DOSBox's, or 1 when DOSBox could not
// be run.
//
// Wine starts a Unix program named in CreateProcessW, but gives back no process handle for it
// (hProcess and dwProcessId are 0), cannot hand it a Windows pipe (pipes have no Unix
// descriptor; the program gets /dev/null) and connects only its standard input and output. So
// the bridge runs dosbox through /bin/sh, which sends DOSBox's output into a file and, when
// DOSBox has ended, writes its exit code into a status file; the bridge waits for that file.
// DOSBox itself reads no standard input on the host, so the launcher's pipe ends here: the log
// records what kind of standard input the bridge was given.
//
// DOSBox gets a time limit (DOSBOX_BRIDGE_TIME_LIMIT seconds, 300 when unset), after which the
// shell stops it: a DOSBox that does not close by itself is recorded with exit code 124 instead
// of being left running.
#include <windows.h>
// After windows.h.
#include <shellapi.h>

#include <cstdlib>
#include <string>
#include <vector>

#ifndef DOSBOX_HOST_PROGRAM
#define DOSBOX_HOST_PROGRAM "/usr/bin/dosbox"
#endif

namespace {

constexpr unsigned kDefaultTimeLimitSeconds = 300;
// What `timeout` exits with when it had to stop the program.
constexpr int kStoppedAtTimeLimit = 124;
// How much longer than DOSBox's limit the bridge waits for the shell to report.
constexpr ULONGLONG kReportMarginMs = 30 * 1000;

// Runs "$@" for at most $3 seconds with no standard input, its output in $1 and its exit code
// written to $2 at the end (through a second name, so that the status file appears whole).
constexpr wchar_t kRunScript[] =
    L"out=$1; status=$2; limit=$3; shift 3; "
    L"timeout -k 10 \"$limit\" \"$@\" </dev/null >\"$out\" 2>&1; "
    L"echo $? >\"$status.part\"; mv -f \"$status.part\" \"$status\"";

using UnixNameOf = char*(__cdecl*)(const wchar_t*);
using DosNameOf = wchar_t*(__cdecl*)(const char*);

struct WineNames {
  UnixNameOf unixNameOf = nullptr;
  DosNameOf dosNameOf = nullptr;
};

// Wine's own kernel32 exports; on Windows they are absent.
template <typename Function>
Function WineExport(const char* name) {
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return nullptr;
  // Through the generic function type, which converts to any other without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(kernel, name)));
}

WineNames FindWineNames() {
  WineNames names;
  names.unixNameOf = WineExport<UnixNameOf>("wine_get_unix_file_name");
  names.dosNameOf = WineExport<DosNameOf>("wine_get_dos_file_name");
  return names;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                        nullptr, nullptr);
  return result;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                        size);
  return result;
}

// The host path Wine maps `path` to; empty when it maps to none. Wine allocates the answer
// from the process heap, and it goes back there.
std::string UnixName(const WineNames& wine, const std::wstring& path) {
  if (wine.unixNameOf == nullptr) return {};
  char* name = wine.unixNameOf(path.c_str());
  if (name == nullptr) return {};
  std::string result(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
}

std::wstring DosName(const WineNames& wine, const char* path) {
  if (wine.dosNameOf == nullptr) return {};
  wchar_t* name = wine.dosNameOf(path);
  if (name == nullptr) return {};
  std::wstring result(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
}

// "X:\..." names a file on a Windows drive.
bool IsDrivePath(const std::wstring& argument) {
  return argument.size() >= 3 && argument[1] == L':' && argument[2] == L'\\' &&
         ((argument[0] >= L'A' && argument[0] <= L'Z') ||
          (argument[0] >= L'a' && argument[0] <= L'z'));
}

// Quotes one argument so that the Windows rules of splitting a command line (which Wine also
// applies when it builds a Unix program's argv) give it back unchanged.
std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count double only before a quote.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  quoted += L'"';
  return quoted;
}

// For the log: one argument as the host shell would read it back.
std::string ShellQuote(const std::string& argument) {
  std::string quoted = "'";
  for (const char c : argument) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

const char* StandardInputKind() {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return "none";
  switch (::GetFileType(input)) {
    case FILE_TYPE_PIPE:
      return "pipe";
    case FILE_TYPE_DISK:
      return "file";
    case FILE_TYPE_CHAR:
      return "console";
    default:
      return "unknown";
  }
}

bool ReadWholeFile(const std::wstring& path, std::string& contents) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  contents.clear();
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    contents.append(buffer, got);
  }
  ::CloseHandle(file);
  return true;
}

bool WriteWholeFile(const std::wstring& path, const std::string& contents) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool whole =
      ::WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr) &&
      written == contents.size();
  ::CloseHandle(file);
  return whole;
}

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Waits until the status file is there or the time limit has passed. Wine reports changes
// that host programs make to a folder (inotify), so this sleeps between them; the bounded
// waits keep it going should a notice be missed.
bool WaitForFile(const std::wstring& folder, const std::wstring& path, ULONGLONG limitMs) {
  const ULONGLONG deadline = ::GetTickCount64() + limitMs;
  const HANDLE change =
      ::FindFirstChangeNotificationW(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
  bool found = false;
  while (!(found = Exists(path)) && ::GetTickCount64() < deadline) {
    if (change == INVALID_HANDLE_VALUE) {
      ::Sleep(100);
    } else if (::WaitForSingleObject(change, 500) == WAIT_OBJECT_0) {
      ::FindNextChangeNotification(change);
    }
  }
  if (change != INVALID_HANDLE_VALUE) ::FindCloseChangeNotification(change);
  return found;
}

unsigned TimeLimitSeconds() {
  wchar_t value[16];
  const DWORD length = ::GetEnvironmentVariableW(L"DOSBOX_BRIDGE_TIME_LIMIT", value, 16);
  if (length == 0 || length >= 16) return kDefaultTimeLimitSeconds;
  const long seconds = std::wcstol(value, nullptr, 10);
  return seconds > 0 ? static_cast<unsigned>(seconds) : kDefaultTimeLimitSeconds;
}

// The bridge's own path without ".exe": its log and work files are named after it.
std::wstring OwnStem() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  if (path.size() > 4 && ::lstrcmpiW(path.c_str() + path.size() - 4, L".exe") == 0) {
    path.resize(path.size() - 4);
  }
  return path;
}

// What one run did, written to the log in this order.
struct Record {
  std::string commandLine;
  std::string workingFolder;
  std::string standardInput;
  std::string hostCommand;
  std::string outcome;
  std::string dosboxOutput;

  std::string Text() const {
    std::string text = "command line: [" + commandLine + "]\n";
    text += "working folder: " + workingFolder + "\n";
    text += "standard input: " + standardInput + "\n";
    text += "host command: " + hostCommand + "\n";
    text += outcome + "\n";
    text += "dosbox output:\n" + dosboxOutput;
    return text;
  }
};

// Runs DOSBox as the command line asks and fills `record`; the result is the exit code.
int Bridge(const std::wstring& stem, Record& record) {
  const WineNames wine = FindWineNames();
  if (wine.unixNameOf == nullptr || wine.dosNameOf == nullptr) {
    record.outcome = "failed: not running under Wine";
    return 1;
  }

  const std::wstring folder = stem.substr(0, stem.find_last_of(L'\\') + 1);
  const std::wstring outputPath = stem + L".out";
  const std::wstring statusPath = stem + L".status";
  ::DeleteFileW(outputPath.c_str());
  ::DeleteFileW(statusPath.c_str());

  int count = 0;
  wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (arguments == nullptr) {
    record.outcome = "failed: the command line could not be split";
    return 1;
  }
  std::vector<std::string> hostArguments = {DOSBOX_HOST_PROGRAM};
  bool mapped = true;
  for (int i = 1; i < count; ++i) {
    const std::wstring argument = arguments[i];
    if (!IsDrivePath(argument)) {
      hostArguments.push_back(Utf8(argument));
      continue;
    }
    const std::string unixName = UnixName(wine, argument);
    if (unixName.empty()) mapped = false;
    hostArguments.push_back(unixName);
  }
  ::LocalFree(arguments);
  for (const std::string& argument : hostArguments) {
    if (!record.hostCommand.empty()) record.hostCommand += ' ';
    record.hostCommand += ShellQuote(argument);
  }
  if (!mapped) {
    record.outcome = "failed: a path on the command line maps to no host file";
    return 1;
  }

  const unsigned limitSeconds = TimeLimitSeconds();
  const std::wstring shell = DosName(wine, "/bin/sh");
  std::wstring commandLine = QuoteArgument(shell) + L" -c " + QuoteArgument(kRunScript) +
                             L" dosbox-bridge " + QuoteArgument(Wide(UnixName(wine, outputPath))) +
                             L" " + QuoteArgument(Wide(UnixName(wine, statusPath))) + L" " +
                             std::to_wstring(limitSeconds);
  for (const std::string& argument : hostArguments) {
    commandLine += L" " + QuoteArgument(Wide(argument));
  }

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  if (!::CreateProcessW(shell.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &started)) {
    record.outcome =
        "failed: /bin/sh could not be started (error " + std::to_string(::GetLastError()) + ")";
    return 1;
  }
  // Wine gives no handles for a Unix program (and leaves hThread undefined then); should a
  // later version give them, they are closed here, as nothing waits on them.
  if (started.hProcess != nullptr) {
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
  }

  const bool ended = WaitForFile(folder, statusPath, limitSeconds * 1000ULL + kReportMarginMs);
  ReadWholeFile(outputPath, record.dosboxOutput);
  ::DeleteFileW(outputPath.c_str());
  if (!ended) {
    record.outcome = "failed: the shell never reported the end of dosbox";
    return 1;
  }
  std::string status;
  const bool read = ReadWholeFile(statusPath, status);
  ::DeleteFileW(statusPath.c_str());
  if (!read || status.empty() || status[0] < '0' || status[0] > '9') {
    record.outcome = "failed: the shell reported no exit code";
    return 1;
  }
  const int exitCode = std::atoi(status.c_str());
  record.outcome = "dosbox exit code: " + std::to_string(exitCode);
  if (exitCode == kStoppedAtTimeLimit) {
    record.outcome += " (stopped after " + std::to_string(limitSeconds) + " seconds)";
  }
  return exitCode;
}

}  // namespace

int main() {
  Record record;
  record.commandLine = Utf8(::GetCommandLineW());
  wchar_t folder[MAX_PATH] = {};
  record.workingFolder = Utf8(std::wstring(folder, ::GetCurrentDirectoryW(MAX_PATH, folder)));
  record.standardInput = StandardInputKind();
  const std::wstring stem = OwnStem();
  const int exitCode = Bridge(stem, record);
  WriteWholeFile(stem + L".log", record.Text());
  return exitCode;
}
