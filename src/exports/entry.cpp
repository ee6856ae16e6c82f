// The library's own entry routine. The runtime's startup code has already set
// up its heap and tables when this runs, and the library's shared state is
// static and zero at load, so attaching needs nothing. What threads keep
// between calls (PtrGetString's text, a held screen) goes when they end, and
// everyone's goes when a host unloads the library with FreeLibrary. At process
// exit (a non-null reserved argument) other threads were stopped wherever
// they were, perhaps inside the library, so nothing is touched then: the
// system takes the whole process back.
#if defined(_WIN32)
#include <windows.h>

#include "platform/platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_THREAD_DETACH) zadized::platform::ReleaseThreadValues();
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) zadized::platform::ReleaseAllThreadValues();
  return TRUE;
}
#endif
