// The loader's entry point: the library's attach and detach work is in
// quib::LibraryEntry. A process detach with a non-null lpReserved is the
// process ending: its other threads are already gone, so the library only
// releases its handles and waits for nothing.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "core/state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  quib::LibraryEntry(reinterpret_cast<uintptr_t>(instance), reason, reserved != nullptr);
  return TRUE;
}
