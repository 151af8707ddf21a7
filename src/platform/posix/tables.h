// The POSIX backend's fixed tables (serial devices, network connections,
// threads, semaphores) and what they share: how a handle names a slot, and
// what each table does around a fork(), called by the fork handlers of
// entry.cpp.
#pragma once

#include "platform/platform.h"

namespace plat {
namespace posix {

// A table hands out its slot i as the handle base + i. Each table has a base
// of its own, so that a handle of one kind never names a slot of another.
// The slot a handle names, or nullptr.
template <typename Slot, int N>
Slot *SlotOf(Slot (&table)[N], Handle base, Handle handle) {
  return handle >= base && handle < base + N ? &table[handle - base] : nullptr;
}

// Before a fork(), the forking thread takes the table's lock, so that the
// child gets the table in a settled state; after it, the parent gives the
// lock back and the child resets what belonged to its parent's threads and
// descriptors.
void LockDevicesForFork();
void UnlockDevicesInParent();
void ForgetDevicesInChild();  // closes the inherited descriptors

void LockThreadsForFork();
void UnlockThreadsInParent();
void ForgetThreadsInChild();  // no thread of the parent runs in the child

}  // namespace posix
}  // namespace plat
