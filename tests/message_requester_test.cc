#include "platform/message_requester.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/child_process.h"
#include "tests/heap_check.h"

namespace launcher_test {
namespace {

using namespace launcher;

// What the box may change of a window: "E"nabled or "D"isabled, then "T" when topmost.
std::string StateOf(HWND window) {
  return std::string(::IsWindowEnabled(window) ? "E" : "D") +
         ((::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) ? "T" : "");
}

HWND MakeWindow(DWORD exStyle, DWORD style, int show) {
  HWND window = ::CreateWindowExW(exStyle, L"Static", L"", WS_POPUP | style, 0, 0, 100, 100,
                                  nullptr, nullptr, nullptr, nullptr);
  ::ShowWindow(window, show);
  return window;
}

// What was seen as the box became active, from inside its thread; the box is then closed.
struct {
  HHOOK hook;
  std::vector<HWND> windows;
  std::vector<std::string> states;
  HWND owner;
} box;

LRESULT CALLBACK SeeTheBox(int code, WPARAM wParam, LPARAM lParam) {
  const HWND activated = reinterpret_cast<HWND>(wParam);
  wchar_t kind[16] = {};
  ::GetClassNameW(activated, kind, 16);
  if (code == HCBT_ACTIVATE && std::wstring(kind) == L"#32770" && box.states.empty()) {
    for (HWND window : box.windows) box.states.push_back(StateOf(window));
    box.owner = ::GetWindow(activated, GW_OWNER);
    ::PostMessageW(activated, WM_COMMAND, IDOK, 0);
  }
  return ::CallNextHookEx(box.hook, code, wParam, lParam);
}

// While the box is open, this thread's visible windows are disabled and out of the topmost band;
// the foreground one owns the box. Afterwards exactly what was changed is restored; an invisible
// or disabled window, and other threads' and processes' windows, are never touched.
TEST(MessageRequester, HoldsOnlyThisThreadsWindowsAndRestoresWhatItChanged) {
  ScratchFolder scratch;
  ExpectChildren(L"wh", scratch.path);
  std::vector<HANDLE> children = {StartChild(SelfPath())};
  ASSERT_NE(children[0], nullptr);
  ASSERT_FALSE(WaitForReport(scratch.path, children[0]).empty()) << "its window is shown";

  HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HWND otherThreads = nullptr;
  DWORD otherThread = 0;
  std::thread other([&] {
    otherThread = ::GetCurrentThreadId();
    otherThreads = MakeWindow(WS_EX_TOPMOST, 0, SW_SHOWNOACTIVATE);
    ::SetEvent(ready);
    for (MSG message; ::GetMessageW(&message, nullptr, 0, 0) > 0;) ::DispatchMessageW(&message);
    ::DestroyWindow(otherThreads);
  });
  // From here on no assertion returns early: the other thread must be ended first.
  EXPECT_EQ(::WaitForSingleObject(ready, kPatienceMs), WAIT_OBJECT_0);

  box.windows = {
      MakeWindow(0, 0, SW_SHOWNOACTIVATE),
      MakeWindow(0, WS_DISABLED, SW_SHOWNOACTIVATE),
      MakeWindow(WS_EX_TOPMOST, 0, SW_SHOWNOACTIVATE),
      MakeWindow(WS_EX_TOPMOST, 0, SW_HIDE),
      MakeWindow(WS_EX_TOPMOST, 0, SW_SHOW),  // in the foreground
      otherThreads,
      ::FindWindowW(L"Static", kChildWindow),
  };
  EXPECT_TRUE(::SetForegroundWindow(box.windows[4]));
  box.hook = ::SetWindowsHookExW(WH_CBT, SeeTheBox, nullptr, ::GetCurrentThreadId());
  EXPECT_EQ(ShowMessage(L"ERROR!", L"text", MB_OK), IDOK);
  ::UnhookWindowsHookEx(box.hook);

  EXPECT_EQ(box.states, (std::vector<std::string>{"D", "D", "D", "ET", "D", "ET", "ET"}));
  EXPECT_EQ(box.owner, box.windows[4]);
  std::vector<std::string> after;
  for (HWND window : box.windows) after.push_back(StateOf(window));
  EXPECT_EQ(after, (std::vector<std::string>{"E", "D", "ET", "ET", "ET", "ET", "ET"}));
  EXPECT_EQ(FirstRecord(SavedWindowList), nullptr) << "every record is given back";

  for (int i = 0; i < 5; ++i) ::DestroyWindow(box.windows[i]);
  ::PostThreadMessageW(otherThread, WM_QUIT, 0, 0);
  other.join();
  ::CloseHandle(ready);
  EXPECT_TRUE(ReleaseChildren(children)) << "the other process did not end once released";
}

}  // namespace
}  // namespace launcher_test
