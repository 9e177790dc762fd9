#include "platform/message_requester.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace launcher_test {
namespace {

using launcher::FirstRecord;
using launcher::SavedWindow;
using launcher::SavedWindowList;
using launcher::ShowMessage;

// A window's state as far as the box changes it; with kVisible and kForeground, how a test
// window is made.
constexpr int kEnabled = 1, kTopmost = 2, kVisible = 4, kForeground = 8;

int StateOf(HWND window) {
  return (::IsWindowEnabled(window) ? kEnabled : 0) |
         ((::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0 ? kTopmost : 0);
}

std::wstring TextOf(HWND window) {
  wchar_t text[256] = {};
  ::GetWindowTextW(window, text, 256);
  return text;
}

void PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
}

// Moves of the test's windows into or out of the topmost band: window, insert-after, flags.
using BandChange = std::tuple<HWND, HWND, UINT>;
std::vector<BandChange> bandChanges;

LRESULT CALLBACK LoggingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* position = reinterpret_cast<const WINDOWPOS*>(lParam);
  if (message == WM_WINDOWPOSCHANGING &&
      (position->hwndInsertAfter == HWND_TOPMOST || position->hwndInsertAfter == HWND_NOTOPMOST)) {
    bandChanges.emplace_back(window, position->hwndInsertAfter, position->flags);
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

// A top-level window of the calling thread, shown without activation unless it is to be the
// foreground window.
struct TestWindow {
  explicit TestWindow(int made = kVisible | kEnabled) {
    handle = ::CreateWindowExW((made & kTopmost) ? WS_EX_TOPMOST : 0, L"STATIC", L"test",
                               WS_OVERLAPPEDWINDOW | ((made & kEnabled) ? 0 : WS_DISABLED), 10, 10,
                               200, 100, nullptr, nullptr, nullptr, nullptr);
    ::SetWindowLongPtrW(handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LoggingWindowProc));
    if (made & kVisible) ::ShowWindow(handle, SW_SHOWNOACTIVATE);
    PumpMessages();
    // Wine (no window manager) may carry out a foreground change only once pending events
    // are handled, so wait for it.
    for (int i = 0; i < 200 && (made & kForeground) && ::GetForegroundWindow() != handle; ++i) {
      ::SetForegroundWindow(handle);
      PumpMessages();
      ::Sleep(10);
    }
    EXPECT_EQ(::GetForegroundWindow() == handle, (made & kForeground) != 0);
  }
  ~TestWindow() {
    ::DestroyWindow(handle);
    PumpMessages();
  }
  HWND handle;
};

// A record of SavedWindowList: thread, window, wasTopmost, disabledHere.
using Record = std::tuple<DWORD, HWND, int, int>;

std::vector<HWND> watched;  // the windows whose states a BoxView notes

// A message box as the test saw it while it was open.
struct BoxView {
  HWND box, owner;
  std::wstring caption, text;
  bool cancel = false;               // shows a Cancel button
  std::vector<Record> records = {};  // SavedWindowList, newest first
  std::vector<int> states = {};      // of the watched windows
};

BoxView ViewOf(HWND box) {
  BoxView view = {box, ::GetWindow(box, GW_OWNER), TextOf(box), TextOf(::GetDlgItem(box, 0xFFFF))};
  view.cancel = ::IsWindowVisible(::GetDlgItem(box, IDCANCEL));
  for (void* record = FirstRecord(SavedWindowList); record; record = launcher::NextRecord(record)) {
    const auto* saved = static_cast<const SavedWindow*>(record);
    view.records.emplace_back(saved->threadId, saved->window, saved->wasTopmost,
                              saved->disabledHere);
  }
  for (HWND window : watched) view.states.push_back(StateOf(window));
  return view;
}

std::vector<BoxView> boxes;  // the thread's boxes, in the order they appeared
// What to do in each box once it is seen, returning the button to press; without one, OK.
std::vector<std::function<int(HWND box)>> actions;

BOOL CALLBACK FindNewBox(HWND window, LPARAM found) {
  // A message box is a dialog, of the class #32770.
  if (::GetClassLongW(window, GCW_ATOM) != 32770 || !::IsWindowVisible(window)) return TRUE;
  for (const BoxView& seen : boxes) {
    if (seen.box == window) return TRUE;
  }
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// A timer of the thread, which the box's own message loop serves, answers each new box.
void CALLBACK AnswerNewBox(HWND, UINT, UINT_PTR, DWORD) {
  HWND box = nullptr;
  ::EnumThreadWindows(::GetCurrentThreadId(), FindNewBox, reinterpret_cast<LPARAM>(&box));
  if (box == nullptr) return;
  boxes.push_back(ViewOf(box));
  const size_t index = boxes.size() - 1;
  ::PostMessageW(box, WM_COMMAND, index < actions.size() ? actions[index](box) : IDOK, 0);
}

// ShowMessage with a plain box, which the timer answers, and `count` boxes expected in all.
int32_t ShowAnswered(const wchar_t* caption, const wchar_t* text, size_t count = 1) {
  boxes.clear();
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 10, AnswerNewBox);
  const int32_t result = ShowMessage(caption, text, 0);
  ::KillTimer(nullptr, timer);
  EXPECT_EQ(boxes.size(), count) << "message boxes";
  boxes.resize(count);
  return result;
}

class MessageRequester : public testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(SavedWindowList.head, nullptr) << "records left behind"; }
};

// The thread's windows around one box: what is recorded, their states while it is open, and
// afterwards their states as before. Without a window, as in the launcher, only the box shows.
TEST_F(MessageRequester, WindowsOfTheThreadAroundTheBox) {
  const struct {
    const char* what;
    int made;          // 0: no window
    int disabledHere;  // in its record; -1: not recorded
    int during;
  } cases[] = {
      {"no window", 0, -1, 0},
      {"visible, enabled", kVisible | kEnabled, 1, 0},
      // The box disables its owner itself while it is open.
      {"foreground", kVisible | kEnabled | kForeground, 0, 0},
      {"already disabled", kVisible, 0, 0},
      {"invisible", kEnabled, -1, kEnabled},
      {"topmost", kVisible | kEnabled | kTopmost, 1, 0},
      {"topmost foreground", kVisible | kEnabled | kTopmost | kForeground, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<TestWindow> window;
    if (c.made != 0) window.emplace(c.made);
    const HWND subject = window ? window->handle : nullptr;
    const int before = StateOf(subject);
    watched = {subject};
    bandChanges.clear();
    EXPECT_EQ(ShowAnswered(L"ERROR!", L"Unable to locate the DOSBox or it is not installed."),
              IDOK);

    const BoxView& seen = boxes[0];
    EXPECT_EQ(seen.caption, L"ERROR!");
    EXPECT_EQ(seen.text, L"Unable to locate the DOSBox or it is not installed.");
    EXPECT_EQ(seen.owner, (c.made & kForeground) ? subject : nullptr);
    const int topmost = (c.made & kTopmost) ? 1 : 0;
    std::vector<Record> records;
    if (c.disabledHere >= 0) records = {{::GetCurrentThreadId(), subject, topmost, c.disabledHere}};
    EXPECT_EQ(seen.records, records);
    EXPECT_EQ(seen.states, std::vector<int>{c.during});
    EXPECT_EQ(StateOf(subject), before);
    // Only a topmost window moves: out of the band before the box, back in after it, keeping
    // its position and size and holding nothing else back.
    std::vector<BandChange> moves;
    if (topmost) moves = {{subject, HWND_NOTOPMOST, 3u}, {subject, HWND_TOPMOST, 3u}};
    EXPECT_EQ(bandChanges, moves);
  }
}

LRESULT CALLBACK RefuseWindows(int code, WPARAM wParam, LPARAM lParam) {
  return code == HCBT_CREATEWND ? 1 : ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// A box that cannot be made: the result is MessageBoxW's own, and the window comes back.
// Wine answers a failed box with -1 rather than 0, and shows one for style types that Windows
// refuses, so the failure is staged by refusing the box's creation.
TEST_F(MessageRequester, FailedBoxStillRestores) {
  TestWindow window;
  HHOOK hook = ::SetWindowsHookExW(WH_CBT, RefuseWindows, nullptr, ::GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  const int direct = ::MessageBoxW(nullptr, L"text", L"caption", 0);
  const int32_t result = ShowMessage(L"caption", L"text", 0);
  ::UnhookWindowsHookEx(hook);
  EXPECT_EQ(result, direct);
  EXPECT_LE(result, 0) << "a failure, not a button";
  EXPECT_EQ(StateOf(window.handle), kEnabled);
}

// Another thread's windows are not the box's business, nor the records of its own box.
TEST_F(MessageRequester, WindowsOfOtherThreadsUntouched) {
  // As if the other thread had a box open that disabled its topmost window.
  std::promise<HWND> created;
  std::thread other([&created] {
    TestWindow window(kVisible | kTopmost);
    created.set_value(window.handle);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
  });
  const HWND theirs = created.get_future().get();
  const DWORD theirThread = ::GetWindowThreadProcessId(theirs, nullptr);
  auto* record = static_cast<SavedWindow*>(
      launcher::AddRecord(SavedWindowList, launcher::RecordNodeSize(sizeof(SavedWindow))));
  *record = {theirThread, theirs, 1, 1};
  TestWindow own;

  EXPECT_EQ(ShowAnswered(L"caption", L"text"), IDOK);
  EXPECT_EQ(boxes[0].records.size(), 2u) << "their record and that of the own window";
  EXPECT_EQ(StateOf(theirs), kTopmost);
  EXPECT_EQ(FirstRecord(SavedWindowList), record) << "their record stays";
  launcher::RemoveRecord(SavedWindowList, record);
  ::PostThreadMessageW(theirThread, WM_QUIT, 0, 0);
  other.join();
}

// A box opened while another is open restores every window of the thread when it closes,
// those the first box changed included; the first box then has nothing left to restore.
TEST_F(MessageRequester, NestedBoxRestoresTheFirstBoxsWindows) {
  TestWindow plain, topmost(kVisible | kEnabled | kTopmost);
  TestWindow front(kVisible | kEnabled | kForeground);
  watched = {plain.handle, topmost.handle};
  int32_t nestedResult = 0;
  BoxView between = {};
  actions = {[&](HWND box) {
               nestedResult = ShowMessage(L"second", L"inner", MB_OKCANCEL);
               between = ViewOf(box);
               return IDOK;
             },
             [](HWND) { return IDCANCEL; }};
  EXPECT_EQ(ShowAnswered(L"first", L"outer", 2), IDOK);
  actions.clear();

  EXPECT_EQ(nestedResult, IDCANCEL);
  EXPECT_TRUE(boxes[1].cancel);
  EXPECT_EQ(boxes[1].owner, boxes[0].box) << "the open box is the foreground window";
  EXPECT_TRUE(between.records.empty());
  EXPECT_EQ(between.states, (std::vector<int>{kEnabled, kEnabled | kTopmost}));
  EXPECT_EQ(StateOf(plain.handle), kEnabled);
  EXPECT_EQ(StateOf(topmost.handle), kEnabled | kTopmost);
}

}  // namespace
}  // namespace launcher_test
