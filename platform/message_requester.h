// A standard message box that is modal for all of the calling thread's top-level windows:
// before the box they are disabled (all but the foreground window) and taken out of the
// topmost band; afterwards exactly the windows changed are restored.
#ifndef PLATFORM_MESSAGE_REQUESTER_H_
#define PLATFORM_MESSAGE_REQUESTER_H_

#include <stdint.h>
#include <windows.h>

#include "platform/record_list.h"

namespace launcher {

// A window that SuspendWindows changed or looked at, to be restored after the box.
struct SavedWindow {
  DWORD threadId;        // the thread showing the box
  HWND window;           // the top-level window
  uint8_t wasTopmost;    // 1 when it had WS_EX_TOPMOST when recorded
  uint8_t disabledHere;  // 1 when SuspendWindows disabled it
};

// Saved windows of every thread that has a box open, newest first.
extern RecordList SavedWindowList;

// Shows the box (caption first, then text, unlike MessageBoxW) and returns what MessageBoxW
// returned: the button that closed it, or 0 when it failed.
int32_t ShowMessage(const wchar_t* caption, const wchar_t* text, uint32_t style);

// The foreground window when it belongs to this process, else null.
HWND MessageOwner();

// true before the box: records, disables and un-tops the thread's windows; false after it:
// restores and forgets them.
void SuspendWindows(bool suspend);

// The EnumWindows callback of SuspendWindows(true); always continues the enumeration.
BOOL CALLBACK RecordWindow(HWND candidate, LPARAM parameter);

}  // namespace launcher

#endif  // PLATFORM_MESSAGE_REQUESTER_H_
