#include "platform/message_requester.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/child_process.h"
#include "tests/heap_check.h"

namespace launcher_test {
namespace {

using namespace launcher;

// What was seen of the test's windows and of each box as it became active.
struct {
  HHOOK hook;
  std::vector<HWND> windows, boxes, owners;
  std::vector<std::string> states;
  bool nest;  // the next box opens a second one from a window procedure
} seen;

// Of the dialog class (#32770), as message boxes are.
bool IsBox(HWND window) { return ::GetClassLongW(window, GCW_ATOM) == 32770; }

// What a box may change of each window: "E"nabled or "D"isabled, then "T" when topmost.
void NoteStates() {
  std::string states;
  for (HWND window : seen.windows) {
    states += std::string(::IsWindowEnabled(window) ? " E" : " D") +
              ((::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) ? "T" : "");
  }
  seen.states.push_back(states.substr(1));
}

BOOL CALLBACK CloseIfBox(HWND window, LPARAM) {
  if (IsBox(window)) ::PostMessageW(window, WM_COMMAND, IDOK, 0);
  return TRUE;
}

void CALLBACK CloseBoxesInTime(HWND, UINT, UINT_PTR, DWORD) {
  ADD_FAILURE() << "no message box was seen within the time limit";
  ::EnumThreadWindows(::GetCurrentThreadId(), CloseIfBox, 0);
}

// ShowMessage, whose box is closed (failing the test) if the hook has not closed it in time.
int32_t ShowBoundedMessage(const wchar_t* text) {
  const UINT_PTR limit = ::SetTimer(nullptr, 0, kPatienceMs, CloseBoxesInTime);
  const int32_t result = ShowMessage(L"ERROR!", text, MB_OK);
  ::KillTimer(nullptr, limit);
  return result;
}

LRESULT CALLBACK SeeTheBox(int code, WPARAM wParam, LPARAM lParam) {
  const HWND activated = reinterpret_cast<HWND>(wParam);
  if (code == HCBT_ACTIVATE && IsBox(activated) &&
      std::find(seen.boxes.begin(), seen.boxes.end(), activated) == seen.boxes.end()) {
    seen.boxes.push_back(activated);
    seen.owners.push_back(::GetWindow(activated, GW_OWNER));
    NoteStates();
    const bool nest = std::exchange(seen.nest, false);
    ::PostMessageW(nest ? seen.windows[0] : activated, nest ? WM_APP : WM_COMMAND, IDOK, 0);
  }
  return ::CallNextHookEx(seen.hook, code, wParam, lParam);
}

// The test's own windows count the position changes they are told of in their user data, and
// open a second box on WM_APP, closing the first after it.
LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_WINDOWPOSCHANGING)
    ::SetWindowLongPtrW(window, GWLP_USERDATA, ::GetWindowLongPtrW(window, GWLP_USERDATA) + 1);
  if (message == WM_APP) {
    EXPECT_EQ(ShowBoundedMessage(L"second"), IDOK);
    NoteStates();
    ::PostMessageW(seen.boxes.front(), WM_COMMAND, IDOK, 0);
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

// Another process's window comes to the front once that process has taken the request in, so
// a message sent after it returns when it has.
bool BringToFront(HWND window) {
  DWORD_PTR ignored = 0;
  return ::SetForegroundWindow(window) &&
         ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, kPatienceMs, &ignored) &&
         ::GetForegroundWindow() == window;
}

HWND MakeWindow(DWORD exStyle, DWORD style, int show) {
  static const ATOM kind = [] {
    WNDCLASSW test = {};
    test.lpfnWndProc = TestWindowProc;
    test.lpszClassName = L"PB test window";
    return ::RegisterClassW(&test);
  }();
  HWND window = ::CreateWindowExW(exStyle, MAKEINTATOM(kind), L"", WS_POPUP | style, 0, 0, 100, 100,
                                  nullptr, nullptr, nullptr, nullptr);
  ::ShowWindow(window, show);
  return window;
}

// While a box is open, this thread's visible windows are disabled (but the foreground one, which
// owns the box) and out of the topmost band; afterwards exactly what was changed is restored,
// a second box's restore taking the first box's records too. Windows that were not topmost are
// never moved; invisible and disabled windows, and other threads' and processes' windows, are
// never changed. A box has no owner when the foreground window is another process's.
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
  EXPECT_EQ(::WaitForSingleObject(ready, kPatienceMs), WAIT_OBJECT_0) << "no other thread's window";

  seen.windows = {
      MakeWindow(0, 0, SW_SHOWNOACTIVATE),
      MakeWindow(0, WS_DISABLED, SW_SHOWNOACTIVATE),
      MakeWindow(WS_EX_TOPMOST, 0, SW_SHOWNOACTIVATE),
      MakeWindow(WS_EX_TOPMOST, 0, SW_HIDE),
      MakeWindow(WS_EX_TOPMOST, 0, SW_SHOW),
      otherThreads,
      ::FindWindowW(nullptr, kChildWindow),
  };
  HWND& foreground = seen.windows[4];
  for (HWND window : seen.windows) ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  EXPECT_TRUE(::SetForegroundWindow(foreground));
  SuspendWindows(true);
  NoteStates();
  SuspendWindows(false);
  NoteStates();

  seen.hook = ::SetWindowsHookExW(WH_CBT, SeeTheBox, nullptr, ::GetCurrentThreadId());
  seen.nest = true;
  EXPECT_TRUE(::SetForegroundWindow(foreground));
  EXPECT_EQ(ShowBoundedMessage(L"first"), IDOK);
  NoteStates();
  EXPECT_TRUE(BringToFront(seen.windows[6])) << "another process's window in front";
  EXPECT_EQ(ShowBoundedMessage(L"another process's window in front"), IDOK);
  NoteStates();
  ::UnhookWindowsHookEx(seen.hook);

  EXPECT_EQ(seen.states, (std::vector<std::string>{
                             // plain, disabled, topmost, invisible, foreground, others' windows
                             "D D D ET E ET ET",    // suspended without a box
                             "E D ET ET ET ET ET",  // restored
                             "D D D ET D ET ET",    // the first box, owned by the foreground
                             "D D D ET D ET ET",    // a second box over it
                             "E D ET ET DT ET ET",  // the second closed: all restored
                             "E D ET ET ET ET ET",  // the first closed
                             "D D D ET D ET ET",    // another process's window in front
                             "E D ET ET ET ET ET",
                         }));
  EXPECT_EQ(seen.owners, (std::vector<HWND>{foreground, seen.boxes[0], nullptr}));
  for (HWND notTopmost : {seen.windows[0], seen.windows[1]})
    EXPECT_EQ(::GetWindowLongPtrW(notTopmost, GWLP_USERDATA), 0) << "moved in the z-order";
  EXPECT_EQ(FirstRecord(SavedWindowList), nullptr) << "every record is given back";

  for (int i = 0; i < 5; ++i) ::DestroyWindow(seen.windows[i]);
  ::PostThreadMessageW(otherThread, WM_QUIT, 0, 0);
  other.join();
  ::CloseHandle(ready);
  EXPECT_TRUE(ReleaseChildren(children)) << "the other process did not end once released";
}

}  // namespace
}  // namespace launcher_test
