#include "platform/message_requester.h"

namespace launcher {

RecordList SavedWindowList;

namespace {

// Into or out of the topmost band, keeping position and size; nothing else is held back.
constexpr UINT kBandChange = SWP_NOSIZE | SWP_NOMOVE;
static_assert(kBandChange == 3, "SetWindowPos flags of the band change");

bool OfThisThread(const SavedWindow& saved) { return saved.threadId == ::GetCurrentThreadId(); }

}  // namespace

HWND MessageOwner() {
  HWND foreground = ::GetForegroundWindow();
  if (foreground == nullptr) return nullptr;
  DWORD process = 0;
  ::GetWindowThreadProcessId(foreground, &process);
  return process == ::GetCurrentProcessId() ? foreground : nullptr;
}

BOOL CALLBACK RecordWindow(HWND candidate, LPARAM /*parameter*/) {
  if (::GetWindowThreadProcessId(candidate, nullptr) != ::GetCurrentThreadId()) return TRUE;
  if (!::IsWindowVisible(candidate)) return TRUE;
  // Without a record nothing could restore the window, so it is left as it is.
  auto* saved =
      static_cast<SavedWindow*>(AddRecord(SavedWindowList, RecordNodeSize(sizeof(SavedWindow))));
  if (saved == nullptr) return TRUE;
  saved->threadId = ::GetCurrentThreadId();
  saved->window = candidate;
  if ((::GetWindowLongW(candidate, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0) saved->wasTopmost = 1;
  // The foreground window becomes the box's owner, which the box disables itself.
  if (candidate != ::GetForegroundWindow() && ::IsWindowEnabled(candidate)) {
    saved->disabledHere = 1;
    ::EnableWindow(candidate, FALSE);
  }
  return TRUE;
}

void SuspendWindows(bool suspend) {
  if (suspend) {
    ::EnumWindows(RecordWindow, 0);
    for (void* record = FirstRecord(SavedWindowList); record != nullptr;
         record = NextRecord(record)) {
      auto* saved = static_cast<SavedWindow*>(record);
      if (OfThisThread(*saved) && saved->wasTopmost != 0) {
        ::SetWindowPos(saved->window, HWND_NOTOPMOST, 0, 0, 0, 0, kBandChange);
      }
    }
    return;
  }
  for (void* record = FirstRecord(SavedWindowList); record != nullptr;) {
    void* next = NextRecord(record);
    auto* saved = static_cast<SavedWindow*>(record);
    if (OfThisThread(*saved)) {
      if (saved->disabledHere != 0) ::EnableWindow(saved->window, TRUE);
      if (saved->wasTopmost != 0) {
        ::SetWindowPos(saved->window, HWND_TOPMOST, 0, 0, 0, 0, kBandChange);
      }
      RemoveRecord(SavedWindowList, record);
    }
    record = next;
  }
}

int32_t ShowMessage(const wchar_t* caption, const wchar_t* text, uint32_t style) {
  HWND owner = MessageOwner();  // before any window is disabled
  SuspendWindows(true);
  int32_t result = ::MessageBoxW(owner, text, caption, style);
  SuspendWindows(false);
  return result;
}

}  // namespace launcher
