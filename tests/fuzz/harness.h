// What the two export harnesses share around their calls: a fresh library on
// a fresh fake every so often, the state every call must leave, the codes of
// an exchange that failed, and the checks of a call refused before it sent
// anything.
#pragma once

#include <stdlib.h>

#include <string>
#include <vector>

#include "core/state.h"
#include "core/trace_handler.h"
#include "fuzz_input.h"
#include "fuzz_terminal.h"
#include "support/fake/fake_line.h"
#include "support/wire/wire.h"

namespace fuzz {

// The fake keeps every frame it saw; a fresh library and fake every so often
// keep a long run's memory flat.
constexpr int kInputsPerCycle = 2048;
// The virtual clock starts just short of the 32-bit wrap, so long runs cross it.
constexpr uint32_t kClockStart = 0xFFF00000u;

inline void DropTrace(const char *, void *) {}

// At exit the library unloads with its channels still open, as a process
// that ends without closing them: the workers must end before the fake's
// objects go.
inline void UnloadAtExit() {
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessDetach);
}

// Counts one input. The first of a cycle closes the channels of the last one,
// unloads the library and starts a fresh fake and library; true then, and the
// harness opens its channels anew.
inline bool StartInput(int *inputs, const std::vector<int16_t> &handles) {
  if (*inputs == 0) atexit(UnloadAtExit);
  const bool fresh = *inputs % kInputsPerCycle == 0;
  if (fresh) {
    if (*inputs > 0) {
      for (int16_t h : handles) FUZZ_CHECK(QUIB_Close(static_cast<uint16_t>(h)) == 0, "close");
      plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessDetach);
    }
    fake::Reset();
    fake::UseVirtualClock(kClockStart);
    plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessAttach);
    quib::SetTraceHandler(DropTrace, nullptr);
  }
  ++*inputs;
  return fresh;
}

// After a call: no channel of the port left busy, the port's queue empty.
inline void CheckIdle(int port, const int16_t *handles, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    FUZZ_CHECK(quib::State.Handles[handles[i]].Busy.load() == 0, "channel left busy");
  }
  const quib::PortQueue &q = quib::State.Queues[port];
  FUZZ_CHECK(q.Head == q.Tail, "port queue not empty after the call");
}

// The codes with which an exchange of either family may fail, and the
// argument and channel checks before it.
inline bool ExchangeFailure(int16_t rc) {
  switch (rc) {
    case wire::kBadArgument:
    case wire::kNotOpen:
    case wire::kTxFailed:
    case wire::kNoResponse:
    case wire::kChecksum:
    case wire::kIncomplete:
    case wire::kBadStart:
      return true;
    default:
      return false;
  }
}

// A call that had to be refused before any exchange (refusal not 0): its
// code, and nothing on the line. False when the call was not to be refused.
inline bool CheckRefusal(const char *call, int16_t rc, int16_t refusal,
                         const std::vector<Exchange> &log) {
  if (refusal == 0) return false;
  Stats::Note(call, true, rc);
  FUZZ_CHECK(rc == refusal, std::string(call) + " refused with " + std::to_string(rc) + " wanted " +
                                std::to_string(refusal));
  FUZZ_CHECK(log.empty(), std::string("a refused ") + call + " sent a frame");
  return true;
}

}  // namespace fuzz
