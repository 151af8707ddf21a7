// The process's life as the library sees it on POSIX.
//
// The shared library's load and unload hooks stand in for the loader entry
// point: process attach when the library is loaded, process detach when it is
// unloaded (or the process exits). Thread attach and detach are not reported
// on this platform.
//
// fork() without exec: the child must not keep the parent's ports. A process
// that forks while it holds a port (a pool of worker processes, Python's
// multiprocessing) would otherwise hold the device's lock in every child, and
// the parent could not open the port again after closing it until they all
// ended. The handlers run for every fork() of the process, from the load of
// the library on; they are removed with it when it is unloaded.
#include "platform/platform.h"

#include <dlfcn.h>
#include <pthread.h>
#include <stdint.h>

#include "platform/net/device.h"
#include "platform/posix/tables.h"

namespace plat {

namespace {

// The module value of the traces: the library's load address.
uintptr_t ModuleAddress() {
  static const char marker = 0;
  Dl_info info;
  if (dladdr(&marker, &info) != 0 && info.dli_fbase != nullptr) {
    return reinterpret_cast<uintptr_t>(info.dli_fbase);
  }
  return reinterpret_cast<uintptr_t>(&marker);
}

thread_local bool in_entry = false;

__attribute__((constructor)) void LibraryLoaded() {
  in_entry = true;
  LibraryEntry(ModuleAddress(), EntryReason::kProcessAttach);
  in_entry = false;
}

__attribute__((destructor)) void LibraryUnloaded() {
  in_entry = true;
  LibraryEntry(ModuleAddress(), EntryReason::kProcessDetach);
  in_entry = false;
}

void (*ChildHook)() = nullptr;
pthread_once_t handlers_once = PTHREAD_ONCE_INIT;

void Prepare() {
  posix::LockThreadsForFork();
  posix::LockDevicesForFork();
}

void Parent() {
  posix::UnlockDevicesInParent();
  posix::UnlockThreadsInParent();
}

void Child() {
  posix::ForgetDevicesInChild();
  posix::ForgetThreadsInChild();
  if (ChildHook != nullptr) ChildHook();
}

void InstallHandlers() {
  pthread_atfork(Prepare, Parent, Child);
}

}  // namespace

void SetForkChildHook(void (*hook)()) {
  ChildHook = hook;
  pthread_once(&handlers_once, InstallHandlers);
}

bool InLoaderEntry() {
  return in_entry;
}

}  // namespace plat
