// The process's life as the library sees it on Win32.
//
// The loader's entry point: the library's attach and detach work is in
// plat::LibraryEntry. A process detach with a non-null lpReserved is the
// process ending: its other threads are already gone, so the library only
// releases its handles and waits for nothing.
//
// Winsock, which the first network open started, is given back here and only
// here, on the detach of a FreeLibrary (lpReserved NULL) in a process that
// goes on: left started, it would keep its providers and their state for the
// rest of a process that loads and unloads the library (a plug-in host, a
// test runner). By then the library has closed every socket of its own, and
// none of its threads is inside Winsock: a worker's answer to the stop
// request is the last thing it does with its port, and a name lookup that is
// still running holds a reference to this module, so the unload cannot come
// before it ends. WSACleanup then only drops the library's reference to
// Winsock, and where that was the last one it releases the providers, which
// waits for no other thread. A detach with a call still under way on a
// network port keeps Winsock for it. At the end of a process (lpReserved set)
// nothing is given back: other threads were stopped wherever they were,
// perhaps inside Winsock holding its locks, and the process's end releases it
// all anyway.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/net/device.h"
#include "platform/platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  // The loader's reasons are EntryReason's values.
  plat::LibraryEntry(reinterpret_cast<uintptr_t>(instance), static_cast<plat::EntryReason>(reason),
                     reserved != nullptr);
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) plat::net::NetUnload();
  return TRUE;
}

namespace plat {

// Windows has no fork(): a child process never inherits the library's state.
void SetForkChildHook(void (*)()) {}

}  // namespace plat
