// The launcher's process entry. The image is built without any C or C++ runtime: its entry
// point is this function, not a runtime's start-up code, and it links only the system DLLs
// the services use. That keeps the program a few kilobytes large and free of runtime
// initialisation it does not need. Code that goes into it must therefore avoid exceptions,
// RTTI, static constructors and runtime calls. The compiler's own helpers are not needed
// either: with these options it inlines every block copy and fill, and should it ever call
// memcpy or memset, the link fails instead of taking them from a runtime.
#include <windows.h>

#include "launch/launch_sequence.h"
#include "platform/process_frame.h"

extern "C" {

// The instance handle, command line and show state Windows offers are not used: the launcher
// takes no arguments and has no window of its own.
[[noreturn]] void WINAPI Entry() {
  launcher::RestrictDllSearch();
  launcher::StartUpServices();
  launcher::RunLaunchSequence(launcher::WindowsServices());
  launcher::ShutDownServices();
  ::ExitProcess(0);
}

}  // extern "C"
