// The process's life as the library sees it on Win32.
//
// The loader's entry point: the library's attach and detach work is in
// plat::LibraryEntry. A process detach with a non-null lpReserved is the
// process ending: its other threads are already gone, so the library only
// releases its handles and waits for nothing.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  // The loader's reasons are EntryReason's values.
  plat::LibraryEntry(reinterpret_cast<uintptr_t>(instance), static_cast<plat::EntryReason>(reason),
                     reserved != nullptr);
  return TRUE;
}

namespace plat {

// Windows has no fork(): a child process never inherits the library's state.
void SetForkChildHook(void (*)()) {}

}  // namespace plat
