// The loader's entry point: the library's attach and detach work is in
// quib::LibraryEntry.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "core/state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  quib::LibraryEntry(reinterpret_cast<uintptr_t>(instance), reason);
  return TRUE;
}
