// Port request queues: a ring of channel handles per port, served from the
// head. Each operation holds the process-local queue lock for its own work
// only, never across a wait.
#include "engine/engine.h"
#include "engine/waiting.h"

namespace quib {

namespace {

// Without the lock (its creation failed at attach) the operations still run;
// the ring is then only as safe as the callers' timing.
bool LockQueues() {
  return QueueLock != 0 && plat::SemaphoreWait(QueueLock, plat::kInfinite) == plat::kWaitSignaled;
}

void UnlockQueues(bool locked) {
  if (locked) plat::SemaphoreRelease(QueueLock);
}

int16_t Next(int16_t position) {
  return static_cast<int16_t>((position + 1) % kRingSize);
}

}  // namespace

int16_t QueueAppend(uint16_t handle) {
  int16_t added = 0;
  bool locked = LockQueues();
  if (State.Handles[handle].Port.load() != -1) {
    PortQueue &q = State.Queues[PortOfChannel(handle)];
    // A channel holds at most one entry, so 32 entries is the most a ring
    // ever sees; a full ring refuses rather than overwrite its head.
    if (Next(q.Tail) != q.Head) {
      q.Ring[q.Tail] = static_cast<int16_t>(handle);
      q.Tail = Next(q.Tail);
      added = 1;
    }
  }
  UnlockQueues(locked);
  return added;
}

bool QueueIsAtHead(int16_t port, uint16_t handle) {
  bool locked = LockQueues();
  const PortQueue &q = State.Queues[port];
  bool at_head = q.Head != q.Tail && q.Ring[q.Head] == static_cast<int16_t>(handle);
  UnlockQueues(locked);
  return at_head;
}

int16_t QueueRemoveHead(int16_t port) {
  int16_t removed = 0;
  bool locked = LockQueues();
  PortQueue &q = State.Queues[port];
  if (q.Head != q.Tail) {
    q.Head = Next(q.Head);
    removed = 1;
    if (q.Head != q.Tail) SignalTurn(q.Ring[q.Head]);
  }
  UnlockQueues(locked);
  return removed;
}

int16_t QueueRemoveEntry(int16_t port, uint16_t handle) {
  int16_t removed = 0;
  bool locked = LockQueues();
  PortQueue &q = State.Queues[port];
  // Close the gap by moving every later entry one place forward, so the
  // order of the others stays as it was.
  for (int16_t at = q.Head; at != q.Tail; at = Next(at)) {
    if (q.Ring[at] != static_cast<int16_t>(handle)) continue;
    const bool was_head = at == q.Head;
    for (int16_t from = Next(at); from != q.Tail; from = Next(from)) {
      q.Ring[at] = q.Ring[from];
      at = from;
    }
    q.Tail = at;
    removed = 1;
    if (was_head && q.Head != q.Tail) SignalTurn(q.Ring[q.Head]);
    break;
  }
  UnlockQueues(locked);
  return removed;
}

}  // namespace quib
