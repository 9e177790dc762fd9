// The frame of the launcher's process: the state every service needs is made once before
// the launch sequence runs and released in a fixed order after it, whichever way it ended.
#ifndef PLATFORM_PROCESS_FRAME_H_
#define PLATFORM_PROCESS_FRAME_H_

#include "launch/platform_services.h"

namespace launcher {

// Keeps the DLL search to the system folder, so that no DLL lying beside the launcher is ever
// loaded by name. The first thing the process does, before anything that can load a DLL.
void RestrictDllSearch();

// Creates, in this order: the library heap, the text heap and its work area, the file table,
// the program runner's lock; then registers the common-control classes and initialises COM.
void StartUpServices();

// Closes every file still open, frees the display module, releases the texts and destroys
// both heaps. Programs the runner kept stay registered: their handles close with the process.
void ShutDownServices();

// The Windows implementation of every service, valid between start-up and shutdown.
PlatformServices& WindowsServices();

}  // namespace launcher

#endif  // PLATFORM_PROCESS_FRAME_H_
