#include "dll_fixture.h"

#include <algorithm>

namespace wintest {

Quib Lib;
const char *DllPath = kDllName;
int ClassicPort = -1;
int GraphicPort = -1;
int FaultPort = -1;
int MissingPort = -1;
TraceLog Log;

TraceLog::TraceLog() {
  InitializeCriticalSection(&lock_);
}

void TraceLog::Start() {
  EnterCriticalSection(&lock_);
  texts_.clear();
  LeaveCriticalSection(&lock_);
  Lib.QUIB_SetTraceHandler(Collect, this);
}

void TraceLog::Stop() {
  Lib.QUIB_SetTraceHandler(nullptr, nullptr);
}

int TraceLog::Count(const std::string &text) {
  EnterCriticalSection(&lock_);
  int n = static_cast<int>(std::count(texts_.begin(), texts_.end(), text));
  LeaveCriticalSection(&lock_);
  return n;
}

void QUIB_CALL TraceLog::Collect(const char *text, void *user) {
  TraceLog *log = static_cast<TraceLog *>(user);
  EnterCriticalSection(&log->lock_);
  log->texts_.push_back(text);
  LeaveCriticalSection(&log->lock_);
}

bool Reload() {
  UnloadQuib(&Lib);
  std::vector<std::string> missing;
  return LoadQuib(DllPath, &Lib, &missing);
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed + (i >> 8));
  return bytes;
}

}  // namespace wintest
