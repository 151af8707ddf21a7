// The POSIX backend's fixed tables (serial devices, network connections,
// threads, semaphores) and what they share: how a handle names a slot, and
// what each table does around a fork(), called by the fork handlers of
// entry.cpp.
#pragma once

#include "platform/platform.h"

namespace plat {
namespace posix {

// A fixed table of Count slots, each with a member `used`, that hands out its
// slot i as the handle Base + i. Each table has a base of its own, so that a
// handle of one kind never names a slot of another. Its owner holds the
// table's lock around every use.
template <typename Slot, int Count, Handle Base>
struct SlotTable {
  Slot slots[Count];

  // The slot a handle names, in use or not; nullptr for a handle of no slot.
  Slot *Named(Handle handle) {
    return handle >= Base && handle < Base + Count ? &slots[handle - Base] : nullptr;
  }
  // The lowest slot not in use, or nullptr.
  Slot *Free() {
    for (Slot &slot : slots) {
      if (!slot.used) return &slot;
    }
    return nullptr;
  }
  Handle HandleOf(const Slot *slot) const { return Base + (slot - slots); }
  Slot *begin() { return slots; }
  Slot *end() { return slots + Count; }
};

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
