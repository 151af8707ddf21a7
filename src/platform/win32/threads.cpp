// Threads, semaphores and process identity on Win32.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>

#include "platform/platform.h"

namespace plat {

namespace {

HANDLE Native(Handle h) {
  return reinterpret_cast<HANDLE>(h);
}

// A thread body has the platform's own calling convention, not the one
// CreateThread calls, so each new thread starts in Launch, which finds its
// body and argument in a fixed table of start records. A record is taken by
// ThreadCreate and given back by the new thread as soon as it has read it.
struct StartRecord {
  std::atomic<int> Taken;
  ThreadBody Body;
  void *Arg;
};
constexpr int kStartRecords = 32;
StartRecord Starts[kStartRecords];

DWORD WINAPI Launch(LPVOID param) {
  StartRecord *record = static_cast<StartRecord *>(param);
  ThreadBody body = record->Body;
  void *arg = record->Arg;
  record->Taken.store(0, std::memory_order_release);
  return body(arg);
}

StartRecord *TakeStartRecord() {
  for (StartRecord &record : Starts) {
    int expected = 0;
    if (record.Taken.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
      return &record;
    }
  }
  return nullptr;
}

WaitResult Wait(Handle h, uint32_t ms) {
  switch (WaitForSingleObject(Native(h), ms)) {
    case WAIT_OBJECT_0:
      return kWaitSignaled;
    case WAIT_TIMEOUT:
      return kWaitTimeout;
    default:
      return kWaitFailed;
  }
}

}  // namespace

Handle ThreadCreate(ThreadBody body, void *arg, uint32_t *thread_id) {
  StartRecord *record = TakeStartRecord();
  if (record == nullptr) return 0;
  record->Body = body;
  record->Arg = arg;
  DWORD id = 0;
  HANDLE h = CreateThread(nullptr, 0, Launch, record, 0, &id);
  if (h == nullptr) {
    record->Taken.store(0, std::memory_order_release);
    return 0;
  }
  if (thread_id != nullptr) *thread_id = id;
  return reinterpret_cast<Handle>(h);
}

bool ThreadExitCode(Handle thread, uint32_t *code) {
  DWORD c = 0;
  if (!GetExitCodeThread(Native(thread), &c)) return false;
  *code = c;
  return true;
}

WaitResult ThreadWait(Handle thread, uint32_t ms) {
  return Wait(thread, ms);
}

void ThreadClose(Handle thread) {
  if (thread != 0) CloseHandle(Native(thread));
}

// A thread's end calls every DLL's entry point under the loader lock, which
// the process detach holds.
bool ThreadEndNeedsLoader() {
  return true;
}

Handle SemaphoreCreate(const char *name, int32_t initial, int32_t maximum) {
  return reinterpret_cast<Handle>(CreateSemaphoreA(nullptr, initial, maximum, name));
}

bool SemaphoreRelease(Handle sem) {
  return ReleaseSemaphore(Native(sem), 1, nullptr) != 0;
}

WaitResult SemaphoreWait(Handle sem, uint32_t ms) {
  return Wait(sem, ms);
}

void SemaphoreClose(Handle sem) {
  if (sem != 0) CloseHandle(Native(sem));
}

uint32_t CurrentProcessId() {
  return GetCurrentProcessId();
}

uint32_t CurrentThread() {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetCurrentThread()));
}

}  // namespace plat
