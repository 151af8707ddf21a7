// The millisecond tick and sleeping on Win32, and the system timer's
// resolution while ports are open.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <timeapi.h>

#include "platform/platform.h"

namespace plat {

uint32_t TickCount() {
  return GetTickCount();
}

void SleepMs(uint32_t ms) {
  Sleep(ms);
}

namespace {

SRWLOCK FineTimerLock = SRWLOCK_INIT;
int FineTimerHolders = 0;

}  // namespace

void FineTimerAcquire() {
  AcquireSRWLockExclusive(&FineTimerLock);
  if (FineTimerHolders++ == 0) timeBeginPeriod(1);
  ReleaseSRWLockExclusive(&FineTimerLock);
}

void FineTimerRelease() {
  AcquireSRWLockExclusive(&FineTimerLock);
  if (FineTimerHolders > 0 && --FineTimerHolders == 0) timeEndPeriod(1);
  ReleaseSRWLockExclusive(&FineTimerLock);
}

}  // namespace plat
