// The process's life as the library sees it on Win32.
//
// The loader's entry point: the library's attach and detach work is in
// plat::LibraryEntry. A process detach with a non-null lpReserved is the
// process ending: its other threads are already gone, so the library only
// releases its handles and waits for nothing.
//
// The network device's reference to Winsock is given back as its port
// closes, never here: WSACleanup may wait for Winsock's own threads, and
// nothing may wait under the loader lock. A port still open when the library
// is unloaded keeps its reference for the rest of the process.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/platform.h"

namespace {

// The thread in DllMain; the loader runs one DllMain at a time.
volatile DWORD loader_thread = 0;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  loader_thread = GetCurrentThreadId();
  // The loader's reasons are EntryReason's values.
  plat::LibraryEntry(reinterpret_cast<uintptr_t>(instance), static_cast<plat::EntryReason>(reason),
                     reserved != nullptr);
  loader_thread = 0;
  return TRUE;
}

namespace plat {

bool InLoaderEntry() {
  return loader_thread == GetCurrentThreadId();
}

// Windows has no fork(): a child process never inherits the library's state.
void SetForkChildHook(void (*)()) {}

}  // namespace plat
