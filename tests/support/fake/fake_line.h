// The fake backend's control panel, for tests: in-memory serial lines whose far
// end a test scripts, a controllable clock, captured trace texts and message
// boxes, and switches that make operating-system services fail.
//
// Clock modes:
//  - virtual (default after Reset): the tick moves only when a thread created
//    through the platform (a port worker) sleeps or waits for input, or when a
//    test calls Advance. Other threads' sleeps take a little real time and do
//    not move the clock. Exact and repeatable while one port is busy at a time.
//  - scaled: the tick is real time multiplied by a speed-up; every sleep takes
//    ms / speed-up of real time. For tests with several busy ports or callers.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace fake {

using Bytes = std::vector<uint8_t>;

// Forgets every line and capture, closes nothing (the library must have been
// detached), restores defaults and the virtual clock at tick 1000.
void Reset();

void UseVirtualClock(uint32_t start_tick = 1000);
void UseScaledClock(uint32_t speedup);
uint32_t Now();
void Advance(uint32_t ms);

class Line;
// The line behind a device name ("COM1".."COM9", "\\\\.\\COM10"), or a port
// index 0..9. Created on first use; survives opens and closes until Reset.
Line &LineNamed(const std::string &name);
Line &LineOfPort(int port);

class Line {
 public:
  Line() = default;
  Line(const Line &) = delete;
  Line &operator=(const Line &) = delete;
  ~Line();

  // Called for every write the library makes, with the bytes written, on the
  // writer's thread. The responder usually calls Send.
  using Responder = std::function<void(Line &, const Bytes &frame)>;
  void OnFrame(Responder responder);

  // Bytes from the far end, readable by the library delay_ms after now.
  void Send(const Bytes &bytes, uint32_t delay_ms = 0);
  // One byte every interval_ms, the first after first_ms.
  void SendDrip(const Bytes &bytes, uint32_t first_ms, uint32_t interval_ms);
  // Bytes scheduled but not yet read by the library (arrived or not).
  size_t PendingInput();

  // What the library did.
  std::vector<Bytes> Frames();         // every write, in order
  std::vector<uint32_t> FrameTicks();  // tick at the start of each write
  bool IsOpen();
  int OpenCalls();  // successful opens so far
  int PurgeCalls();
  plat::LineSettings Settings();  // as last programmed
  plat::Timeouts TimeoutsSet();   // as last programmed
  uint32_t InBufferSize();        // as SetupComm gave them
  uint32_t OutBufferSize();

  // The line's conditions, settable at any time.
  void SetModem(plat::ModemResult result, uint32_t bits);  // default: OK, CTS|DSR
  void SetHoldFlags(uint32_t flags);                       // default 0
  // The output queue drains at the programmed line rate after each write
  // (default); off: it is empty at once.
  void SetDrainAtLineRate(bool on);
  // Output queue stuck: never drains (a line held by the far end).
  void SetOutputStuck(bool on);
  // Writes return only once the bytes have left the line.
  void SetWriteWaitsForLine(bool on);
  // A stalled adapter: writes move nothing and return short once the total
  // write time-out programmed with DeviceSetTimeouts has run out.
  void SetWriteStalls(bool on);
  int StalledWrites();  // writes that returned short so far

  // Failures of the device calls, each until switched off (count -1) or for
  // the next count calls.
  void FailOpen(int count = -1);
  void FailSetup(int count = -1);
  void FailGetLine(int count = -1);      // GetCommState
  void FailSetLine(int count = -1);      // SetCommState
  void FailSetTimeouts(int count = -1);  // SetCommTimeouts
  void FailWrite(int count = -1);
  void FailRead(int count = -1);
  void FailLineStatus(int count = -1);

  struct State;
  State *state_ = nullptr;
};

// Diagnostics the library wrote through the platform.
std::vector<std::string> DebugTexts();  // every DebugOutput text, in order
std::string DebugJoined();              // the same, concatenated
void ClearDebug();
std::vector<std::pair<std::string, std::string>> MessageBoxes();  // (text, caption)

// Holders of the fine system timer (FineTimerAcquire less FineTimerRelease).
int FineTimerHolders();

// Named semaphores that currently exist (created and not yet closed).
bool SemaphoreExists(const std::string &name);
// True while the thread is blocked in a wait on the semaphore (on any
// semaphore: 0): lets a race test hold one thread until another has reached
// the exact wait where it must stay.
bool IsBlockedOn(std::thread::id thread, plat::Handle semaphore = 0);

// Every wait of the test's own threads (all but the port workers) has a
// deadline: an infinite wait on a semaphore or a thread, or a run of pauses
// (a caller polling for a turn that never comes), that lasts longer than the
// limit ends the process with a line naming the wait, so that a lost release
// fails its test in seconds instead of at ctest's time-out. The limit is real
// time, 5 s by default; with the scaled clock, at least 60 s of the clock.
void SetWaitLimit(uint32_t real_ms);
// The next creation of a semaphore whose name starts with prefix fails.
void FailSemaphoreCreate(const std::string &prefix);
// The next count thread creations fail.
void FailThreadCreate(int count = 1);
// Threads created through the platform that have not yet ended.
int LiveThreads();

}  // namespace fake
