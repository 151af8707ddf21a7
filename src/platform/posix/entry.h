// What each table of the POSIX backend does around a fork(), called by the
// fork handlers of entry.cpp: before it, the forking thread takes the table's
// lock, so that the child gets the table in a settled state; after it, the
// parent gives the lock back and the child resets what belonged to its
// parent's threads and descriptors.
#pragma once

namespace plat {
namespace posix {

void LockDevicesForFork();
void UnlockDevicesInParent();
void ForgetDevicesInChild();  // closes the inherited descriptors

void LockThreadsForFork();
void UnlockThreadsInParent();
void ForgetThreadsInChild();  // no thread of the parent runs in the child

}  // namespace posix
}  // namespace plat
