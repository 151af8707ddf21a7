// Threads, semaphores and process identity on pthreads, in fixed tables.
//
// A thread slot lives until its handle is closed and its body has returned,
// in either order. Semaphores, named or not, are objects of this process: a
// name only lets a second create in the process open the same object, as
// CreateSemaphoreA does. Nothing is shared with other processes, so no other
// process can stall this one through a semaphore.
#include "platform/platform.h"
#include "platform/posix/tables.h"

#include <errno.h>
#include <pthread.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace plat {

namespace {

// A condition variable on the monotonic clock, so that waits with a time
// limit do not stretch or shrink when the wall clock is set.
void InitMonotonicCond(pthread_cond_t *cond) {
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(cond, &attr);
  pthread_condattr_destroy(&attr);
}

timespec DeadlineAfter(uint32_t ms) {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  t.tv_sec += ms / 1000;
  t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    t.tv_sec += 1;
    t.tv_nsec -= 1000000000L;
  }
  return t;
}

// Waits on cond until *ready or the time is up; mutex held on entry and exit.
bool WaitUntil(pthread_cond_t *cond, pthread_mutex_t *mutex, uint32_t ms, bool (*ready)(void *),
               void *arg) {
  if (ms == kInfinite) {
    while (!ready(arg)) pthread_cond_wait(cond, mutex);
    return true;
  }
  timespec deadline = DeadlineAfter(ms);
  while (!ready(arg)) {
    if (pthread_cond_timedwait(cond, mutex, &deadline) == ETIMEDOUT) return ready(arg);
  }
  return true;
}

// ---- Threads ---------------------------------------------------------------

struct ThreadSlot {
  bool used;
  bool handle_open;
  bool started;  // the body published its thread id
  bool done;
  pthread_t thread;
  ThreadBody body;
  void *arg;
  uint32_t id;
  uint32_t exit_code;
  pthread_cond_t changed;
};

// Ten port workers and room for the tools and tests.
posix::SlotTable<ThreadSlot, 32, 0x7100> threads;
pthread_mutex_t threads_lock = PTHREAD_MUTEX_INITIALIZER;

ThreadSlot *FindThread(Handle thread) {
  ThreadSlot *slot = threads.Named(thread);
  return slot != nullptr && slot->used && slot->handle_open ? slot : nullptr;
}

void *ThreadStart(void *param) {
  ThreadSlot *slot = static_cast<ThreadSlot *>(param);
  pthread_mutex_lock(&threads_lock);
  slot->id = CurrentThread();
  slot->started = true;
  ThreadBody body = slot->body;
  void *arg = slot->arg;
  pthread_cond_broadcast(&slot->changed);
  pthread_mutex_unlock(&threads_lock);

  uint32_t code = body(arg);

  pthread_mutex_lock(&threads_lock);
  slot->exit_code = code;
  slot->done = true;
  pthread_cond_broadcast(&slot->changed);
  // The handle was closed while the body ran: the thread was detached then,
  // and frees its own slot.
  if (!slot->handle_open) slot->used = false;
  pthread_mutex_unlock(&threads_lock);
  return nullptr;
}

bool ThreadStarted(void *slot) {
  return static_cast<ThreadSlot *>(slot)->started;
}
bool ThreadDone(void *slot) {
  return static_cast<ThreadSlot *>(slot)->done;
}

// ---- Semaphores ------------------------------------------------------------

constexpr size_t kNameSize = 32;

struct SemaphoreSlot {
  bool used;
  int32_t refs;     // handles open on the object
  int32_t waiters;  // threads inside a wait
  int32_t count;
  int32_t maximum;
  char name[kNameSize];  // empty: unnamed, or no longer reachable by name
  pthread_cond_t changed;
};

// "QsemaI", "PLCmodel", the queue lock, two per port, a turn signal per
// channel, and spare.
posix::SlotTable<SemaphoreSlot, 72, 0x3100> semaphores;
pthread_mutex_t semaphores_lock = PTHREAD_MUTEX_INITIALIZER;

// Caller holds semaphores_lock.
SemaphoreSlot *FindSemaphore(Handle sem) {
  SemaphoreSlot *slot = semaphores.Named(sem);
  return slot != nullptr && slot->used && slot->refs > 0 ? slot : nullptr;
}

// The waits of both tables run on the monotonic clock (made once, before the
// first thread or semaphore, and anew in the child of a fork()).
pthread_once_t tables_once = PTHREAD_ONCE_INIT;
void InitTables() {
  for (ThreadSlot &slot : threads) InitMonotonicCond(&slot.changed);
  for (SemaphoreSlot &slot : semaphores) InitMonotonicCond(&slot.changed);
}

bool SemaphoreAvailable(void *slot) {
  return static_cast<SemaphoreSlot *>(slot)->count > 0;
}

}  // namespace

namespace posix {

void LockThreadsForFork() {
  pthread_mutex_lock(&threads_lock);
  pthread_mutex_lock(&semaphores_lock);
}

void UnlockThreadsInParent() {
  pthread_mutex_unlock(&semaphores_lock);
  pthread_mutex_unlock(&threads_lock);
}

// Only the forking thread lives on in the child: every other thread's slot is
// free, and no thread waits on a semaphore. The semaphores keep their counts;
// the library makes anew those that a thread of the parent may have held.
void ForgetThreadsInChild() {
  for (ThreadSlot &slot : threads) {
    slot.used = false;
    slot.handle_open = false;
  }
  for (SemaphoreSlot &slot : semaphores) {
    slot.waiters = 0;
    if (slot.used && slot.refs == 0) slot.used = false;
  }
  InitTables();
  pthread_mutex_init(&threads_lock, nullptr);
  pthread_mutex_init(&semaphores_lock, nullptr);
}

}  // namespace posix

Handle ThreadCreate(ThreadBody body, void *arg, uint32_t *thread_id) {
  if (body == nullptr) return 0;
  pthread_once(&tables_once, InitTables);
  pthread_mutex_lock(&threads_lock);
  ThreadSlot *slot = threads.Free();
  if (slot == nullptr) {
    pthread_mutex_unlock(&threads_lock);
    return 0;
  }
  slot->used = true;
  slot->handle_open = true;
  slot->started = false;
  slot->done = false;
  slot->body = body;
  slot->arg = arg;
  slot->id = 0;
  slot->exit_code = kStillActive;
  if (pthread_create(&slot->thread, nullptr, ThreadStart, slot) != 0) {
    slot->used = false;
    pthread_mutex_unlock(&threads_lock);
    return 0;
  }
  // The id is the kernel's thread id, known once the thread runs.
  WaitUntil(&slot->changed, &threads_lock, kInfinite, ThreadStarted, slot);
  if (thread_id != nullptr) *thread_id = slot->id;
  pthread_mutex_unlock(&threads_lock);
  return threads.HandleOf(slot);
}

bool ThreadExitCode(Handle thread, uint32_t *code) {
  pthread_mutex_lock(&threads_lock);
  ThreadSlot *slot = FindThread(thread);
  if (slot != nullptr && code != nullptr) *code = slot->exit_code;
  pthread_mutex_unlock(&threads_lock);
  return slot != nullptr && code != nullptr;
}

WaitResult ThreadWait(Handle thread, uint32_t ms) {
  pthread_mutex_lock(&threads_lock);
  ThreadSlot *slot = FindThread(thread);
  WaitResult result = kWaitFailed;
  if (slot != nullptr) {
    result = WaitUntil(&slot->changed, &threads_lock, ms, ThreadDone, slot) ? kWaitSignaled
                                                                            : kWaitTimeout;
  }
  pthread_mutex_unlock(&threads_lock);
  return result;
}

void ThreadClose(Handle thread) {
  pthread_mutex_lock(&threads_lock);
  ThreadSlot *slot = FindThread(thread);
  if (slot == nullptr) {
    pthread_mutex_unlock(&threads_lock);
    return;
  }
  slot->handle_open = false;
  pthread_t id = slot->thread;
  bool done = slot->done;
  if (!done) pthread_detach(id);
  pthread_mutex_unlock(&threads_lock);
  if (done) {
    // The body has returned; joining waits out only the last few
    // instructions, so that no thread is left inside the library when it is
    // unloaded after the last close.
    pthread_join(id, nullptr);
    pthread_mutex_lock(&threads_lock);
    slot->used = false;
    pthread_mutex_unlock(&threads_lock);
  }
}

// A thread ends without the lock that dlclose holds while the unload runs.
bool ThreadEndNeedsLoader() {
  return false;
}

Handle SemaphoreCreate(const char *name, int32_t initial, int32_t maximum) {
  if (maximum <= 0 || initial < 0 || initial > maximum) return 0;
  if (name != nullptr && strlen(name) >= kNameSize) return 0;
  pthread_once(&tables_once, InitTables);
  pthread_mutex_lock(&semaphores_lock);
  SemaphoreSlot *found = nullptr;
  if (name != nullptr && name[0] != '\0') {
    for (SemaphoreSlot &slot : semaphores) {
      if (slot.used && slot.refs > 0 && strcmp(slot.name, name) == 0) {
        ++slot.refs;  // the existing object; initial and maximum are not used
        found = &slot;
        break;
      }
    }
  }
  if (found == nullptr) {
    found = semaphores.Free();
    if (found != nullptr) {
      found->used = true;
      found->refs = 1;
      found->waiters = 0;
      found->count = initial;
      found->maximum = maximum;
      found->name[0] = '\0';
      if (name != nullptr) strcpy(found->name, name);
    }
  }
  pthread_mutex_unlock(&semaphores_lock);
  return found != nullptr ? semaphores.HandleOf(found) : 0;
}

bool SemaphoreRelease(Handle sem) {
  pthread_mutex_lock(&semaphores_lock);
  SemaphoreSlot *slot = FindSemaphore(sem);
  bool ok = slot != nullptr && slot->count < slot->maximum;
  if (ok) {
    ++slot->count;
    pthread_cond_signal(&slot->changed);
  }
  pthread_mutex_unlock(&semaphores_lock);
  return ok;
}

WaitResult SemaphoreWait(Handle sem, uint32_t ms) {
  pthread_mutex_lock(&semaphores_lock);
  SemaphoreSlot *slot = FindSemaphore(sem);
  WaitResult result = kWaitFailed;
  if (slot != nullptr) {
    ++slot->waiters;
    result = WaitUntil(&slot->changed, &semaphores_lock, ms, SemaphoreAvailable, slot)
                 ? kWaitSignaled
                 : kWaitTimeout;
    if (result == kWaitSignaled) --slot->count;
    // The last handle may have been closed meanwhile; the last waiter out
    // frees the object.
    if (--slot->waiters == 0 && slot->refs == 0) slot->used = false;
  }
  pthread_mutex_unlock(&semaphores_lock);
  return result;
}

void SemaphoreClose(Handle sem) {
  pthread_mutex_lock(&semaphores_lock);
  SemaphoreSlot *slot = FindSemaphore(sem);
  if (slot != nullptr && --slot->refs == 0) {
    slot->name[0] = '\0';  // a later create of the name makes a new object
    if (slot->waiters == 0) slot->used = false;
  }
  pthread_mutex_unlock(&semaphores_lock);
}

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(getpid());
}

uint32_t CurrentThread() {
  return static_cast<uint32_t>(syscall(SYS_gettid));
}

}  // namespace plat
