// The last open failure of each thread, in a small fixed table keyed by
// thread id (the library allocates nothing, so no thread-local storage that
// the runtime would allocate). When more threads have failed opens than the
// table holds, the oldest record gives way.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "platform/platform.h"
#include "platform/win32/open_failure.h"

namespace plat {

namespace {

constexpr int kRecords = 32;

struct OpenFailure {
  DWORD thread;  // 0: free
  uint32_t stamp;
  int32_t error;
  char text[320];
};

OpenFailure records[kRecords];
uint32_t next_stamp = 1;
SRWLOCK records_lock = SRWLOCK_INIT;

// The calling thread's record, taken over from the oldest when it has none.
OpenFailure *RecordOfThisThread() {
  DWORD self = GetCurrentThreadId();
  OpenFailure *oldest = &records[0];
  for (OpenFailure &r : records) {
    if (r.thread == self) return &r;
    if (r.stamp < oldest->stamp) oldest = &r;
  }
  oldest->thread = self;
  return oldest;
}

void Store(const char *device, const char *reason, int32_t error) {
  // "\\.\COM10" is the device path of COM10; the user knows it as COM10.
  if (strncmp(device, "\\\\.\\", 4) == 0) device += 4;
  AcquireSRWLockExclusive(&records_lock);
  OpenFailure *r = RecordOfThisThread();
  r->stamp = next_stamp++;
  r->error = error;
  if (error != 0) {
    snprintf(r->text, sizeof r->text, "%s: %s (error %ld)", device, reason,
             static_cast<long>(error));
  } else {
    snprintf(r->text, sizeof r->text, "%s: %s", device, reason);
  }
  ReleaseSRWLockExclusive(&records_lock);
}

}  // namespace

void NoteOpenFailure(const char *device, const char *reason) {
  Store(device, reason, 0);
}

void NoteOpenFailureWithError(const char *device, const char *reason, int error) {
  Store(device, reason, error);
}

void SystemMessage(DWORD error, char *text, size_t size) {
  if (size == 0) return;
  char message[256];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, message, sizeof message, nullptr);
  while (length > 0 && (message[length - 1] == '\r' || message[length - 1] == '\n' ||
                        message[length - 1] == ' ')) {
    --length;
  }
  if (length == 0) {
    snprintf(text, size, "system error");
    return;
  }
  message[length] = '\0';
  snprintf(text, size, "%s", message);
}

void NoteSystemOpenFailure(const char *device, DWORD error) {
  char message[256];
  SystemMessage(error, message, sizeof message);
  Store(device, message, static_cast<int32_t>(error));
}

int32_t LastOpenFailure(char *text, size_t size) {
  DWORD self = GetCurrentThreadId();
  int32_t error = 0;
  const char *source = "no failed open on this thread";
  AcquireSRWLockShared(&records_lock);
  for (const OpenFailure &r : records) {
    if (r.thread == self && r.stamp != 0) {
      source = r.text;
      error = r.error;
      break;
    }
  }
  if (text != nullptr && size != 0) snprintf(text, size, "%s", source);
  ReleaseSRWLockShared(&records_lock);
  return error;
}

}  // namespace plat
