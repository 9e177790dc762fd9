#include "platform/message_requester.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "tests/heap_check.h"
#include "tests/scratch_folder.h"

namespace launcher_test {
namespace {

using namespace launcher;

// What was seen of the test's windows and of each box as it became active.
struct {
  HHOOK hook;
  std::vector<HWND> windows, boxes, owners;
  std::vector<std::string> states;
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
    ::PostMessageW(activated, WM_COMMAND, IDOK, 0);
  }
  return ::CallNextHookEx(seen.hook, code, wParam, lParam);
}

// The test's own windows count the position changes they are told of in their user data.
LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_WINDOWPOSCHANGING)
    ::SetWindowLongPtrW(window, GWLP_USERDATA, ::GetWindowLongPtrW(window, GWLP_USERDATA) + 1);
  return ::DefWindowProcW(window, message, wParam, lParam);
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
// owns the box) and out of the topmost band; afterwards exactly what was changed is restored.
// Windows that were not topmost are never moved; invisible and disabled windows, and other
// threads' windows, are never changed. (With another process's window in front, as the launcher's
// boxes have it, a box has no owner: the end-to-end tests show that.)
TEST(MessageRequester, HoldsOnlyThisThreadsWindowsAndRestoresWhatItChanged) {
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
  };
  HWND& foreground = seen.windows[4];
  for (HWND window : seen.windows) ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  EXPECT_TRUE(::SetForegroundWindow(foreground));
  SuspendWindows(true);
  NoteStates();
  SuspendWindows(false);
  NoteStates();

  seen.hook = ::SetWindowsHookExW(WH_CBT, SeeTheBox, nullptr, ::GetCurrentThreadId());
  EXPECT_TRUE(::SetForegroundWindow(foreground));
  EXPECT_EQ(ShowBoundedMessage(L"the foreground window's"), IDOK);
  NoteStates();
  ::UnhookWindowsHookEx(seen.hook);

  EXPECT_EQ(seen.states, (std::vector<std::string>{
                             // plain, disabled, topmost, invisible, foreground, other thread's
                             "D D D ET E ET",    // suspended without a box
                             "E D ET ET ET ET",  // restored
                             "D D D ET D ET",    // a box, owned by the foreground
                             "E D ET ET ET ET",  // closed: all restored
                         }));
  EXPECT_EQ(seen.owners, (std::vector<HWND>{foreground}));
  for (HWND notTopmost : {seen.windows[0], seen.windows[1]})
    EXPECT_EQ(::GetWindowLongPtrW(notTopmost, GWLP_USERDATA), 0) << "moved in the z-order";
  EXPECT_EQ(FirstRecord(SavedWindowList), nullptr) << "every record is given back";

  for (int i = 0; i < 5; ++i) ::DestroyWindow(seen.windows[i]);
  ::PostThreadMessageW(otherThread, WM_QUIT, 0, 0);
  other.join();
  ::CloseHandle(ready);
}

}  // namespace
}  // namespace launcher_test
