// The smallest Windows programs: they only end. The benchmark starts them beside the launcher
// to see what the launcher costs above starting any process under Wine. The second one also
// loads user32, as every program with a window or a message box must; under Wine that alone
// costs more than the whole empty program.
#include <windows.h>

extern "C" [[noreturn]] void WINAPI EmptyEntry() {
#ifdef WITH_USER32
  ::GetSystemMetrics(SM_CYSCREEN);
#endif
  ::ExitProcess(0);
}
