// The library's own entry routine. The runtime's startup code has already set
// up its heap and tables when this runs; the library's state is static and
// zero at load, so there is nothing to do for any notification.
#if defined(_WIN32)
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
