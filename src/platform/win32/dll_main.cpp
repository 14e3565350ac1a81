// The load notification of psrl.dll. The library keeps no per-process or per-thread state
// that needs setting up or tearing down, so it accepts every notification and does nothing.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}
