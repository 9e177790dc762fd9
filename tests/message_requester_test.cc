#include "platform/message_requester.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace launcher_test {
namespace {

using launcher::AddRecord;
using launcher::FirstRecord;
using launcher::NextRecord;
using launcher::RemoveRecord;
using launcher::SavedWindow;
using launcher::SavedWindowList;
using launcher::ShowMessage;

// ---- Windows of the test -----------------------------------------------------------------

constexpr wchar_t kWindowClass[] = L"MessageRequesterTestWindow";

// What SetWindowPos asked of a test window when it moved it into or out of the topmost band.
struct BandChange {
  HWND window;
  HWND insertAfter;
  UINT flags;
};
std::vector<BandChange> bandChanges;  // of windows of the test's main thread only

LRESULT CALLBACK LoggingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_WINDOWPOSCHANGING) {
    auto* position = reinterpret_cast<const WINDOWPOS*>(lParam);
    if (position->hwndInsertAfter == HWND_TOPMOST || position->hwndInsertAfter == HWND_NOTOPMOST) {
      bandChanges.push_back({window, position->hwndInsertAfter, position->flags});
    }
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

void PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
}

// Wine (unmanaged windows, no window manager) may carry out a foreground change only once
// pending events are handled, so wait for it.
bool BringToForeground(HWND window) {
  ::SetForegroundWindow(window);
  for (int i = 0; i < 200 && ::GetForegroundWindow() != window; ++i) {
    PumpMessages();
    ::Sleep(10);
  }
  return ::GetForegroundWindow() == window;
}

// A top-level window of the calling thread, shown without activation when visible.
class TestWindow {
 public:
  explicit TestWindow(DWORD exStyle = 0, bool visible = true, bool enabled = true) {
    static const ATOM registered = [] {
      WNDCLASSW windowClass = {};
      windowClass.lpfnWndProc = LoggingWindowProc;
      windowClass.hInstance = ::GetModuleHandleW(nullptr);
      windowClass.lpszClassName = kWindowClass;
      return ::RegisterClassW(&windowClass);
    }();
    EXPECT_NE(registered, 0);
    handle_ = ::CreateWindowExW(exStyle, kWindowClass, L"test", WS_OVERLAPPEDWINDOW, 10, 10, 200,
                                100, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(handle_, nullptr);
    if (!enabled) ::EnableWindow(handle_, FALSE);
    if (visible) ::ShowWindow(handle_, SW_SHOWNOACTIVATE);
    PumpMessages();
  }
  ~TestWindow() {
    ::DestroyWindow(handle_);
    PumpMessages();
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  HWND get() const { return handle_; }

 private:
  HWND handle_ = nullptr;
};

// A visible, enabled, topmost window of a second thread, which pumps its messages.
class OtherThreadWindow {
 public:
  OtherThreadWindow() {
    std::promise<HWND> created;
    std::future<HWND> handle = created.get_future();
    thread_ = std::thread([this, &created] {
      HWND window =
          ::CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"other thread", WS_OVERLAPPEDWINDOW, 300, 10,
                            200, 100, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
      ::ShowWindow(window, SW_SHOWNOACTIVATE);
      threadId_ = ::GetCurrentThreadId();
      created.set_value(window);
      MSG message;
      while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
      ::DestroyWindow(window);
    });
    handle_ = handle.get();
  }
  ~OtherThreadWindow() {
    ::PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    thread_.join();
  }

  HWND get() const { return handle_; }
  DWORD threadId() const { return threadId_; }

 private:
  std::thread thread_;
  DWORD threadId_ = 0;
  HWND handle_ = nullptr;
};

struct WindowState {
  bool enabled;
  bool topmost;
  bool operator==(const WindowState& other) const {
    return enabled == other.enabled && topmost == other.topmost;
  }
};

std::ostream& operator<<(std::ostream& out, const WindowState& state) {
  return out << (state.enabled ? "enabled" : "disabled") << (state.topmost ? ", topmost" : "");
}

WindowState StateOf(HWND window) {
  return {::IsWindowEnabled(window) != 0,
          (::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0};
}

// SavedWindowList as it stands, newest first.
std::vector<SavedWindow> SavedWindows() {
  std::vector<SavedWindow> saved;
  for (void* record = FirstRecord(SavedWindowList); record != nullptr;
       record = NextRecord(record)) {
    saved.push_back(*static_cast<const SavedWindow*>(record));
  }
  return saved;
}

const SavedWindow* Find(const std::vector<SavedWindow>& saved, HWND window) {
  for (const SavedWindow& record : saved) {
    if (record.window == window) return &record;
  }
  return nullptr;
}

// ---- Message boxes -----------------------------------------------------------------------

// A message box as the test saw it while it was open.
struct BoxView {
  HWND box = nullptr;
  HWND owner = nullptr;
  std::wstring caption;
  std::wstring text;
  std::vector<int> buttons;  // ids of the visible buttons
  bool icon = false;
};

std::wstring TextOf(HWND window) {
  wchar_t text[256] = {};
  ::GetWindowTextW(window, text, 256);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

BoxView ViewOf(HWND box) {
  BoxView view;
  view.box = box;
  view.owner = ::GetWindow(box, GW_OWNER);
  view.caption = TextOf(box);
  view.text = TextOf(::GetDlgItem(box, 0xFFFF));  // the message text's control
  for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (!::IsWindowVisible(child)) continue;
    if (ClassOf(child) == L"Button") view.buttons.push_back(::GetDlgCtrlID(child));
    // Wine keeps an icon control in every box, empty when there is no icon.
    if (ClassOf(child) == L"Static" && ::SendMessageW(child, STM_GETICON, 0, 0) != 0) {
      view.icon = true;
    }
  }
  return view;
}

// What to do with one message box: look at it while it is open, then press a button.
struct BoxAnswer {
  std::function<void(HWND box)> look;
  int press = IDOK;
};

// Answers the message boxes of the calling thread in the order they appear. A timer of the
// thread is served by the box's own message loop; it finds each box once it is visible.
class BoxDriver {
 public:
  explicit BoxDriver(std::vector<BoxAnswer> answers) : answers_(std::move(answers)) {
    current_ = this;
    timer_ = ::SetTimer(nullptr, 0, 10, Tick);
  }
  ~BoxDriver() {
    ::KillTimer(nullptr, timer_);
    current_ = nullptr;
    EXPECT_EQ(boxes_.size(), answers_.size()) << "boxes answered";
  }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    BoxDriver* driver = current_;
    if (driver == nullptr) return;
    HWND box = driver->UnansweredBox();
    if (box == nullptr) return;
    driver->boxes_.push_back(box);
    size_t index = driver->boxes_.size() - 1;
    if (index >= driver->answers_.size()) {
      ADD_FAILURE() << "an unexpected message box";
      ::PostMessageW(box, WM_COMMAND, IDOK, 0);
      return;
    }
    const BoxAnswer& answer = driver->answers_[index];
    if (answer.look) answer.look(box);
    ::PostMessageW(box, WM_COMMAND, answer.press, 0);
  }

  HWND UnansweredBox() {
    Search search = {this, nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  struct Search {
    BoxDriver* driver;
    HWND found;
  };

  static BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    if (ClassOf(window) != L"#32770" || !::IsWindowVisible(window)) return TRUE;
    for (HWND answered : search->driver->boxes_) {
      if (answered == window) return TRUE;
    }
    search->found = window;
    return FALSE;
  }

  static BoxDriver* current_;
  std::vector<BoxAnswer> answers_;
  std::vector<HWND> boxes_;
  UINT_PTR timer_ = 0;
};

BoxDriver* BoxDriver::current_ = nullptr;

class MessageRequester : public testing::Test {
 protected:
  void SetUp() override {
    PumpMessages();
    bandChanges.clear();
  }
  void TearDown() override { EXPECT_EQ(SavedWindowList.head, nullptr) << "records left behind"; }
};

bool ForegroundIsOfThisProcess() {
  DWORD process = 0;
  HWND foreground = ::GetForegroundWindow();
  if (foreground != nullptr) ::GetWindowThreadProcessId(foreground, &process);
  return process == ::GetCurrentProcessId();
}

// The launcher's case: no window of its own, so only the box appears, owned by nothing.
// (With every test window gone Wine has no foreground window at all.)
TEST_F(MessageRequester, PlainBoxWithoutWindows) {
  ASSERT_FALSE(ForegroundIsOfThisProcess());
  BoxView seen;
  std::vector<SavedWindow> saved;
  int32_t result;
  {
    BoxDriver driver({{[&](HWND box) {
      seen = ViewOf(box);
      saved = SavedWindows();
    }}});
    result = ShowMessage(L"ERROR!", L"Unable to locate the DOSBox or it is not installed.", 0);
  }
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(seen.caption, L"ERROR!");
  EXPECT_EQ(seen.text, L"Unable to locate the DOSBox or it is not installed.");
  EXPECT_EQ(seen.buttons, std::vector<int>{IDOK});
  EXPECT_FALSE(seen.icon);
  EXPECT_EQ(seen.owner, nullptr);
  EXPECT_TRUE(saved.empty());
}

// The result is the button that closed the box.
TEST_F(MessageRequester, ReturnsTheButtonPressed) {
  struct {
    UINT style;
    std::vector<int> buttons;
    int press;
  } const cases[] = {
      {MB_OK, {IDOK}, IDOK},
      {MB_OKCANCEL, {IDOK, IDCANCEL}, IDCANCEL},
      {MB_YESNO, {IDYES, IDNO}, IDNO},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.style);
    BoxView seen;
    int32_t result;
    {
      BoxDriver driver({{[&](HWND box) { seen = ViewOf(box); }, c.press}});
      result = ShowMessage(L"caption", L"text", c.style);
    }
    EXPECT_EQ(result, c.press);
    EXPECT_EQ(seen.buttons, c.buttons);
  }
}

HWND watched;
bool enabledWhenTheBoxWasMade;

// Refuses every message box, noting whether `watched` was enabled at that moment.
LRESULT CALLBACK RefuseBoxes(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && ClassOf(reinterpret_cast<HWND>(wParam)) == L"#32770") {
    enabledWhenTheBoxWasMade = ::IsWindowEnabled(watched) != 0;
    return 1;
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// A box that cannot be made: the result is MessageBoxW's own, and the windows come back.
// Wine shows a box for style types that Windows refuses and answers a failed box with -1
// rather than 0, so the failure is staged by refusing the dialog's creation and the result
// is compared with MessageBoxW's under the same refusal.
TEST_F(MessageRequester, FailedBoxStillRestores) {
  TestWindow window;
  watched = window.get();
  enabledWhenTheBoxWasMade = true;
  HHOOK hook = ::SetWindowsHookExW(WH_CBT, RefuseBoxes, nullptr, ::GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  const int direct = ::MessageBoxW(nullptr, L"text", L"caption", 0);
  const int32_t result = ShowMessage(L"caption", L"text", 0);
  ::UnhookWindowsHookEx(hook);

  EXPECT_EQ(result, direct);
  EXPECT_LE(result, 0) << "a failure, not a button";
  EXPECT_FALSE(enabledWhenTheBoxWasMade);
  EXPECT_EQ(StateOf(window.get()), (WindowState{true, false}));
}

struct WindowCase {
  const char* what;
  DWORD exStyle;
  bool visible;
  bool enabled;
  bool foreground;
  // Expected: its record (if any) and its state while the box is open and after it.
  bool recorded;
  uint8_t disabledHere;
  uint8_t wasTopmost;
  WindowState during;
  WindowState after;
};

// One window of the thread around one box.
TEST_F(MessageRequester, WindowsOfTheThreadAroundTheBox) {
  constexpr WindowState kEnabled = {true, false};
  constexpr WindowState kDisabled = {false, false};
  constexpr WindowState kTopmost = {true, true};
  const WindowCase cases[] = {
      {"visible, enabled", 0, true, true, false, true, 1, 0, kDisabled, kEnabled},
      // The box disables its owner itself while it is open.
      {"foreground", 0, true, true, true, true, 0, 0, kDisabled, kEnabled},
      {"already disabled", 0, true, false, false, true, 0, 0, kDisabled, kDisabled},
      {"invisible", 0, false, true, false, false, 0, 0, kEnabled, kEnabled},
      {"topmost", WS_EX_TOPMOST, true, true, false, true, 1, 1, kDisabled, kTopmost},
      {"topmost foreground", WS_EX_TOPMOST, true, true, true, true, 0, 1, kDisabled, kTopmost},
  };
  for (const WindowCase& c : cases) {
    SCOPED_TRACE(c.what);
    TestWindow window(c.exStyle, c.visible, c.enabled);
    HWND subject = window.get();
    if (c.foreground) {
      ASSERT_TRUE(BringToForeground(subject));
    } else {
      ASSERT_NE(::GetForegroundWindow(), subject);
    }
    bandChanges.clear();

    BoxView seen;
    std::vector<SavedWindow> saved;
    WindowState during = {};
    {
      BoxDriver driver({{[&](HWND box) {
        seen = ViewOf(box);
        saved = SavedWindows();
        during = StateOf(subject);
      }}});
      EXPECT_EQ(ShowMessage(L"caption", L"text", 0), IDOK);
    }

    EXPECT_EQ(seen.owner, c.foreground ? subject : nullptr);
    EXPECT_EQ(saved.size(), c.recorded ? 1u : 0u);
    if (const SavedWindow* record = Find(saved, subject)) {
      EXPECT_EQ(record->threadId, ::GetCurrentThreadId());
      EXPECT_EQ(record->disabledHere, c.disabledHere);
      EXPECT_EQ(record->wasTopmost, c.wasTopmost);
    }
    EXPECT_EQ(during, c.during);
    EXPECT_EQ(StateOf(subject), c.after);

    // Only a topmost window is moved: out of the band before the box, back in after it,
    // keeping position and size and nothing else.
    std::vector<HWND> order;
    for (const BandChange& change : bandChanges) {
      if (change.window != subject) continue;
      order.push_back(change.insertAfter);
      EXPECT_EQ(change.flags, 3u);
    }
    const std::vector<HWND> expected =
        c.wasTopmost ? std::vector<HWND>{HWND_NOTOPMOST, HWND_TOPMOST} : std::vector<HWND>{};
    EXPECT_EQ(order, expected);
  }
}

// Another thread's windows are not the box's business, nor the records of its own box.
TEST_F(MessageRequester, WindowsOfOtherThreadsUntouched) {
  OtherThreadWindow other;
  TestWindow own;
  ASSERT_EQ(StateOf(other.get()), (WindowState{true, true}));
  // As if the other thread had a box open that disabled its window and took it off the band.
  ::EnableWindow(other.get(), FALSE);
  auto* theirs = static_cast<SavedWindow*>(
      AddRecord(SavedWindowList, launcher::RecordNodeSize(sizeof(SavedWindow))));
  *theirs = {other.threadId(), other.get(), 1, 1};
  constexpr WindowState kAsTheyLeftIt = {false, true};

  std::vector<SavedWindow> saved;
  WindowState during = {};
  {
    BoxDriver driver({{[&](HWND) {
      saved = SavedWindows();
      during = StateOf(other.get());
    }}});
    EXPECT_EQ(ShowMessage(L"caption", L"text", 0), IDOK);
  }
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0].window, own.get());
  EXPECT_EQ(saved[1].window, other.get());
  EXPECT_EQ(during, kAsTheyLeftIt);
  EXPECT_EQ(StateOf(other.get()), kAsTheyLeftIt);
  EXPECT_EQ(FirstRecord(SavedWindowList), theirs) << "their record stays";
  RemoveRecord(SavedWindowList, theirs);
}

// A second box opened while the first is open restores everything of the thread when it
// closes, the first box's windows included; the first then has nothing left to restore.
TEST_F(MessageRequester, NestedBoxRestoresTheFirstBoxsWindows) {
  TestWindow plain;
  TestWindow topmost(WS_EX_TOPMOST);
  TestWindow front;
  ASSERT_TRUE(BringToForeground(front.get()));

  WindowState plainInFirst = {}, topmostInFirst = {}, plainInSecond = {}, topmostInSecond = {};
  WindowState plainBetween = {}, topmostBetween = {};
  std::vector<SavedWindow> savedInFirst, savedInSecond, savedBetween;
  HWND firstBox = nullptr;
  BoxView second;
  int32_t nestedResult = 0;
  int32_t result;
  {
    BoxDriver driver({
        {[&](HWND box) {
          firstBox = box;
          plainInFirst = StateOf(plain.get());
          topmostInFirst = StateOf(topmost.get());
          savedInFirst = SavedWindows();
          nestedResult = ShowMessage(L"second", L"inner", MB_OKCANCEL);
          plainBetween = StateOf(plain.get());
          topmostBetween = StateOf(topmost.get());
          savedBetween = SavedWindows();
        }},
        {[&](HWND box) {
           second = ViewOf(box);
           plainInSecond = StateOf(plain.get());
           topmostInSecond = StateOf(topmost.get());
           savedInSecond = SavedWindows();
         },
         IDCANCEL},
    });
    result = ShowMessage(L"first", L"outer", 0);
  }

  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(nestedResult, IDCANCEL);
  EXPECT_EQ(second.caption, L"second");
  EXPECT_EQ(second.text, L"inner");
  EXPECT_EQ(second.owner, firstBox) << "the open box is the foreground window";

  EXPECT_EQ(savedInFirst.size(), 3u);
  EXPECT_EQ(plainInFirst, (WindowState{false, false}));
  EXPECT_EQ(topmostInFirst, (WindowState{false, false}));

  // The second box records the first box too, and the already disabled windows again.
  EXPECT_EQ(savedInSecond.size(), 7u);
  ASSERT_NE(Find(savedInSecond, firstBox), nullptr);
  EXPECT_EQ(plainInSecond, (WindowState{false, false}));
  EXPECT_EQ(topmostInSecond, (WindowState{false, false}));

  EXPECT_TRUE(savedBetween.empty());
  EXPECT_EQ(plainBetween, (WindowState{true, false}));
  EXPECT_EQ(topmostBetween, (WindowState{true, true}));

  EXPECT_EQ(StateOf(plain.get()), (WindowState{true, false}));
  EXPECT_EQ(StateOf(topmost.get()), (WindowState{true, true}));
  EXPECT_EQ(StateOf(front.get()), (WindowState{true, false}));
}

}  // namespace
}  // namespace launcher_test
