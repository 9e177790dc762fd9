// The launcher's process entry. The image is built without any C or C++ runtime: its entry
// point is this function, not a runtime's start-up code, and it links only the system DLLs
// the services use. That keeps the program a few kilobytes large and free of runtime
// initialisation it does not need. Code that goes into it must therefore avoid exceptions,
// RTTI, static constructors and runtime calls; the few helpers the compiler itself may call
// are defined here.
#include <windows.h>

#include "launch/launch_sequence.h"
#include "platform/process_frame.h"

extern "C" {

// The instance handle, command line and show state Windows offers are not used: the launcher
// takes no arguments and has no window of its own.
[[noreturn]] void WINAPI Entry() {
  launcher::StartUpServices();
  launcher::RunLaunchSequence(launcher::WindowsServices());
  launcher::ShutDownServices();
  ::ExitProcess(0);
}

// The compiler turns block copies and fills into calls to these.
void* memcpy(void* destination, const void* source, size_t count) {
  auto* to = static_cast<unsigned char*>(destination);
  const auto* from = static_cast<const unsigned char*>(source);
  while (count-- != 0) *to++ = *from++;
  return destination;
}

void* memset(void* destination, int value, size_t count) {
  auto* to = static_cast<volatile unsigned char*>(destination);
  while (count-- != 0) *to++ = static_cast<unsigned char>(value);
  return destination;
}

// Reached only if a pure virtual function were called during construction or destruction.
void __cxa_pure_virtual() { ::ExitProcess(0); }

}  // extern "C"
