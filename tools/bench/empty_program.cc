// The smallest Windows program: it only ends. The benchmark places it as DOSBox.exe, so that
// the DOSBox the launcher starts does nothing.
#include <windows.h>

extern "C" [[noreturn]] void WINAPI EmptyEntry() { ::ExitProcess(0); }
