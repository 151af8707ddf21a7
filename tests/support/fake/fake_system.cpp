// Fake backend: clock, threads, semaphores and diagnostics.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <map>
#include <memory>
#include <thread>

#include "support/fake/fake_internal.h"

namespace fake {

namespace {

using Steady = std::chrono::steady_clock;

std::atomic<bool> g_virtual{true};
std::atomic<uint32_t> g_vnow{1000};
std::atomic<uint32_t> g_speedup{1};
uint32_t g_scaled_start = 1000;
Steady::time_point g_real_start = Steady::now();

thread_local bool t_platform_thread = false;

// Deadlines of the test's own threads (see SetWaitLimit). Pauses less than
// kPauseGap apart belong to one run: a caller polling for its turn.
std::atomic<uint32_t> g_wait_limit_ms{5000};
constexpr auto kPauseGap = std::chrono::milliseconds(50);
struct PauseRun {
  bool on = false;
  Steady::time_point since, last;
};
thread_local PauseRun t_pauses;
thread_local char t_last_trace[64] = "";

std::vector<std::string> g_debug;
std::vector<std::pair<std::string, std::string>> g_boxes;
std::atomic<int> g_fine_timer{0};

struct Semaphore {
  std::mutex mu;
  std::condition_variable cv;
  int32_t count = 0;
  int32_t maximum = 1;
  std::string name;
  bool closed = false;
};
std::mutex g_sem_mu;
// Kept for good, never destroyed: a waiter may still hold one, even as the
// process ends with a worker that a test left behind.
std::list<std::unique_ptr<Semaphore>> &g_sems = *new std::list<std::unique_ptr<Semaphore>>;
std::map<std::string, Semaphore *> g_named;
std::string g_fail_sem_prefix;
bool g_fail_sem = false;
// The semaphore each blocked thread waits on.
std::mutex g_blocked_mu;
std::map<std::thread::id, const Semaphore *> &g_blocked =
    *new std::map<std::thread::id, const Semaphore *>;

struct Thread {
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  uint32_t exit_code = plat::kStillActive;
  std::thread thread;
};
std::mutex g_thr_mu;
std::list<std::unique_ptr<Thread>> &g_threads = *new std::list<std::unique_ptr<Thread>>;
std::atomic<int> g_fail_threads{0};
std::atomic<int> g_live_threads{0};

void RealSleepMicros(uint64_t us) {
  std::this_thread::sleep_for(std::chrono::microseconds(us));
}

Steady::duration WaitLimit() {
  uint64_t ms = g_wait_limit_ms.load();
  if (!g_virtual) ms = std::max<uint64_t>(ms, 60000 / g_speedup.load());
  return std::chrono::milliseconds(ms);
}

long MsOf(Steady::duration d) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

[[noreturn]] void WaitedTooLong(const std::string &what, Steady::duration waited) {
  fprintf(stderr,
          "fake platform: a thread of the test %s for %ld ms (its last trace: \"%s\"); "
          "the test cannot go on\n",
          what.c_str(), MsOf(waited), t_last_trace);
  fflush(stderr);
  abort();
}

std::string Label(const Semaphore *sem) {
  return sem->name.empty() ? std::string("an unnamed semaphore") : "semaphore " + sem->name;
}

// A pause of a test's thread that began at `began` has ended.
void NotePause(Steady::time_point began) {
  PauseRun &run = t_pauses;
  const Steady::time_point now = Steady::now();
  if (!run.on || began - run.last > kPauseGap) {
    run.on = true;
    run.since = began;
  }
  run.last = now;
  if (now - run.since > WaitLimit()) {
    WaitedTooLong("paused again and again (a turn on a port that never comes?)", now - run.since);
  }
}

void NoteBlocked(const Semaphore *sem) {
  std::lock_guard<std::mutex> lock(g_blocked_mu);
  if (sem != nullptr) {
    g_blocked[std::this_thread::get_id()] = sem;
  } else {
    g_blocked.erase(std::this_thread::get_id());
  }
}

}  // namespace

std::mutex &Lock() {
  static std::mutex mu;
  return mu;
}

bool OnPlatformThread() {
  return t_platform_thread;
}

void UseVirtualClock(uint32_t start_tick) {
  g_vnow = start_tick;
  g_virtual = true;
}

void UseScaledClock(uint32_t speedup) {
  g_scaled_start = Now();
  g_real_start = Steady::now();
  g_speedup = speedup == 0 ? 1 : speedup;
  g_virtual = false;
}

uint32_t Now() {
  if (g_virtual) return g_vnow.load();
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(Steady::now() - g_real_start);
  return g_scaled_start + static_cast<uint32_t>(us.count() * g_speedup.load() / 1000);
}

void Advance(uint32_t ms) {
  if (g_virtual) g_vnow += ms;
}

uint32_t RealMicrosFor(uint32_t ms) {
  if (g_virtual) return ms * 10u;  // finite waits: a hundredth of the clock time
  return static_cast<uint32_t>(uint64_t(ms) * 1000 / g_speedup.load());
}

void AdvanceTo(uint32_t until) {
  if (g_virtual) {
    if (t_platform_thread) {
      uint32_t now = g_vnow.load();
      if (static_cast<int32_t>(until - now) > 0) g_vnow.compare_exchange_strong(now, until);
      std::this_thread::yield();
    } else {
      RealSleepMicros(200);
    }
    return;
  }
  int32_t ms = static_cast<int32_t>(until - Now());
  if (ms > 0) RealSleepMicros(uint64_t(ms) * 1000 / g_speedup.load());
}

std::vector<std::string> DebugTexts() {
  std::lock_guard<std::mutex> lock(Lock());
  return g_debug;
}

std::string DebugJoined() {
  std::string all;
  for (const std::string &text : DebugTexts()) all += text;
  return all;
}

void ClearDebug() {
  std::lock_guard<std::mutex> lock(Lock());
  g_debug.clear();
  g_boxes.clear();
}

std::vector<std::pair<std::string, std::string>> MessageBoxes() {
  std::lock_guard<std::mutex> lock(Lock());
  return g_boxes;
}

bool SemaphoreExists(const std::string &name) {
  std::lock_guard<std::mutex> lock(g_sem_mu);
  return g_named.count(name) != 0;
}

bool IsBlockedOn(std::thread::id thread, plat::Handle semaphore) {
  std::lock_guard<std::mutex> lock(g_blocked_mu);
  auto found = g_blocked.find(thread);
  return found != g_blocked.end() &&
         (semaphore == 0 || found->second == reinterpret_cast<const Semaphore *>(semaphore));
}

void SetWaitLimit(uint32_t real_ms) {
  g_wait_limit_ms = real_ms;
}

void FailSemaphoreCreate(const std::string &prefix) {
  std::lock_guard<std::mutex> lock(g_sem_mu);
  g_fail_sem = true;
  g_fail_sem_prefix = prefix;
}

void FailThreadCreate(int count) {
  g_fail_threads = count;
}

int LiveThreads() {
  return g_live_threads.load();
}

void ResetThreadsAndSemaphores() {
  {
    std::lock_guard<std::mutex> lock(g_sem_mu);
    g_named.clear();
    g_fail_sem = false;
    // Objects of earlier tests stay allocated: a stray thread may still wait.
  }
  g_fail_threads = 0;
}

int FineTimerHolders() {
  return g_fine_timer.load();
}

void Reset() {
  g_fine_timer = 0;
  g_wait_limit_ms = 5000;
  ResetLines();
  ResetThreadsAndSemaphores();
  ClearDebug();
  UseVirtualClock(1000);
}

}  // namespace fake

namespace plat {

using fake::Lock;
using fake::Steady;

// The fake line has no processes to fork: the hook is only kept.
void SetForkChildHook(void (*)()) {}

Handle ThreadCreate(ThreadBody body, void *arg, uint32_t *thread_id) {
  if (fake::g_fail_threads > 0) {
    --fake::g_fail_threads;
    return 0;
  }
  auto owned = std::make_unique<fake::Thread>();
  fake::Thread *thread = owned.get();
  {
    std::lock_guard<std::mutex> lock(fake::g_thr_mu);
    fake::g_threads.push_back(std::move(owned));
  }
  ++fake::g_live_threads;
  thread->thread = std::thread([thread, body, arg] {
    fake::t_platform_thread = true;
    uint32_t code = body(arg);
    std::lock_guard<std::mutex> lock(thread->mu);
    thread->exit_code = code;
    thread->done = true;
    --fake::g_live_threads;
    thread->cv.notify_all();
  });
  thread->thread.detach();
  static std::atomic<uint32_t> next_id{100};
  if (thread_id != nullptr) *thread_id = next_id++;
  return reinterpret_cast<Handle>(thread);
}

bool ThreadExitCode(Handle handle, uint32_t *code) {
  auto *thread = reinterpret_cast<fake::Thread *>(handle);
  if (thread == nullptr) return false;
  std::lock_guard<std::mutex> lock(thread->mu);
  *code = thread->exit_code;
  return true;
}

WaitResult ThreadWait(Handle handle, uint32_t ms) {
  auto *thread = reinterpret_cast<fake::Thread *>(handle);
  if (thread == nullptr) return kWaitFailed;
  std::unique_lock<std::mutex> lock(thread->mu);
  if (ms == kInfinite) {
    const Steady::time_point start = Steady::now();
    if (fake::t_platform_thread) {
      thread->cv.wait(lock, [&] { return thread->done; });
    } else if (!thread->cv.wait_until(lock, start + fake::WaitLimit(),
                                      [&] { return thread->done; })) {
      lock.unlock();
      fake::WaitedTooLong("waited for the end of a platform thread", Steady::now() - start);
    }
    return kWaitSignaled;
  }
  bool done = thread->cv.wait_for(lock, std::chrono::microseconds(fake::RealMicrosFor(ms)),
                                  [&] { return thread->done; });
  return done ? kWaitSignaled : kWaitTimeout;
}

void ThreadClose(Handle) {
  // The record stays until the process ends: the thread may still be running.
}

bool ThreadEndNeedsLoader() {
  return false;
}

Handle SemaphoreCreate(const char *name, int32_t initial, int32_t maximum) {
  std::lock_guard<std::mutex> lock(fake::g_sem_mu);
  if (name != nullptr) {
    std::string text(name);
    if (fake::g_fail_sem && text.rfind(fake::g_fail_sem_prefix, 0) == 0) {
      fake::g_fail_sem = false;
      return 0;
    }
    auto found = fake::g_named.find(text);
    if (found != fake::g_named.end()) return reinterpret_cast<Handle>(found->second);
  }
  auto sem = std::make_unique<fake::Semaphore>();
  sem->count = initial;
  sem->maximum = maximum;
  if (name != nullptr) {
    sem->name = name;
    fake::g_named[sem->name] = sem.get();
  }
  Handle handle = reinterpret_cast<Handle>(sem.get());
  fake::g_sems.push_back(std::move(sem));
  return handle;
}

bool SemaphoreRelease(Handle handle) {
  auto *sem = reinterpret_cast<fake::Semaphore *>(handle);
  if (sem == nullptr) return false;
  std::lock_guard<std::mutex> lock(sem->mu);
  if (sem->closed || sem->count >= sem->maximum) return false;
  ++sem->count;
  sem->cv.notify_one();
  return true;
}

WaitResult SemaphoreWait(Handle handle, uint32_t ms) {
  auto *sem = reinterpret_cast<fake::Semaphore *>(handle);
  if (sem == nullptr) return kWaitFailed;
  std::unique_lock<std::mutex> lock(sem->mu);
  if (sem->closed) return kWaitFailed;
  auto ready = [&] { return sem->count > 0 || sem->closed; };
  // Only a wait that blocks counts: a free lock is taken at once.
  const bool blocks = !ready();
  const bool tests_thread = !fake::t_platform_thread;
  const Steady::time_point start = Steady::now();
  if (blocks) fake::NoteBlocked(sem);
  bool came = true;
  if (ms != kInfinite) {
    came = sem->cv.wait_for(lock, std::chrono::microseconds(fake::RealMicrosFor(ms)), ready);
  } else if (!tests_thread) {
    sem->cv.wait(lock, ready);
  } else if (!sem->cv.wait_until(lock, start + fake::WaitLimit(), ready)) {
    const std::string what = "waited on " + fake::Label(sem);
    lock.unlock();
    fake::WaitedTooLong(what, Steady::now() - start);
  }
  if (blocks) fake::NoteBlocked(nullptr);
  if (tests_thread && ms != kInfinite) {
    // A signal that came ends a run of pauses; a wait that timed out is one.
    if (!came) fake::NotePause(start);
    if (came && blocks) fake::t_pauses.on = false;
  }
  if (!came) return kWaitTimeout;
  if (sem->closed) return kWaitFailed;
  --sem->count;
  return kWaitSignaled;
}

void SemaphoreClose(Handle handle) {
  auto *sem = reinterpret_cast<fake::Semaphore *>(handle);
  if (sem == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(fake::g_sem_mu);
    if (!sem->name.empty()) {
      auto found = fake::g_named.find(sem->name);
      if (found != fake::g_named.end() && found->second == sem) fake::g_named.erase(found);
    }
  }
  std::lock_guard<std::mutex> lock(sem->mu);
  sem->closed = true;
  sem->cv.notify_all();
}

uint32_t TickCount() {
  return fake::Now();
}

void SleepMs(uint32_t ms) {
  if (!fake::t_platform_thread) {
    const Steady::time_point start = Steady::now();
    if (fake::g_virtual) {
      // Callers polling the queue: little real time, and the clock stays put.
      fake::RealSleepMicros(ms == 0 ? 0 : 200);
    } else {
      fake::RealSleepMicros(uint64_t(ms) * 1000 / fake::g_speedup.load());
    }
    fake::NotePause(start);
    return;
  }
  if (fake::g_virtual) {
    fake::g_vnow += ms;
    std::this_thread::yield();
    return;
  }
  fake::RealSleepMicros(uint64_t(ms) * 1000 / fake::g_speedup.load());
}

uint32_t CurrentProcessId() {
  return 4242;
}

uint32_t CurrentThread() {
  return static_cast<uint32_t>(std::hash<std::thread::id>()(std::this_thread::get_id()));
}

bool EnvironmentValue(const char *name, char *buffer, size_t size) {
  const char *value = getenv(name);
  if (value == nullptr || size == 0 || strlen(value) >= size) return false;
  memcpy(buffer, value, strlen(value) + 1);
  return true;
}

void DebugOutput(const char *text) {
  // A thread that traces is under way: its pauses start a new run.
  fake::t_pauses.on = false;
  size_t n = 0;
  for (; text[n] != '\0' && text[n] != '\n' && n + 1 < sizeof fake::t_last_trace; ++n) {
    fake::t_last_trace[n] = text[n];
  }
  fake::t_last_trace[n] = '\0';
  std::lock_guard<std::mutex> lock(Lock());
  fake::g_debug.emplace_back(text);
}

void FineTimerAcquire() {
  ++fake::g_fine_timer;
}

void FineTimerRelease() {
  --fake::g_fine_timer;
}

void ShowMessageBox(const char *text, const char *caption) {
  std::lock_guard<std::mutex> lock(Lock());
  fake::g_boxes.emplace_back(text, caption);
}

int FormatText(char *buffer, size_t size, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buffer, size, format, args);
  va_end(args);
  return n;
}

}  // namespace plat
