// The port worker's steps, shared by its files: transmission, reception and
// the per-port data that only the engine uses.
#pragma once

#include <stdint.h>

#include "core/state.h"

namespace quib {

// Set by the transaction call when the request it hands over is the stop
// request of the port's last close; the worker ends on this request only.
extern bool StopRequest[kPortCount];
// Tick at the start of the last write: the transmit time counts from there.
extern uint32_t WriteStartTick[kPortCount];

// 0 sent, -1 failed (the reason is in Status).
int16_t Transmit(int16_t port);
// 0 quiet, 1 bytes were pending and have been discarded, 2 the line is held.
int16_t CheckLineQuiet(int16_t port);
// 0 the request is finished (Status says how), 1 the attempt failed.
int16_t Receive(int16_t port);

// Milliseconds from tick `since` to now; the counter's wrap is harmless.
inline uint32_t TicksSince(uint32_t since) {
  return plat::TickCount() - since;
}

}  // namespace quib
