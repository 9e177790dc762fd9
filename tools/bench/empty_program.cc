// The smallest Windows program: it only ends. The benchmark starts it beside the launcher to
// see what the launcher costs above starting any process under Wine.
#include <windows.h>

extern "C" [[noreturn]] void WINAPI EmptyEntry() { ::ExitProcess(0); }
