// fork() without exec: the child must not keep the parent's ports. A process
// that forks while it holds a port (a pool of worker processes, Python's
// multiprocessing) would otherwise hold the device's lock in every child, and
// the parent could not open the port again after closing it until they all
// ended. The handlers run for every fork() of the process, from the load of
// the library on; they are removed with it when it is unloaded.
#include <pthread.h>

#include "platform/platform.h"
#include "platform/posix/entry.h"

namespace plat {

namespace {

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

}  // namespace plat
