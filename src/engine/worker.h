// The port worker's steps, shared by its files: transmission, reception and
// the per-port data that only the engine uses.
#pragma once

#include <stdint.h>

#include "core/state.h"

namespace quib {

// Set by the transaction call when the request it hands over is the stop
// request of the port's last close; the worker ends on this request only.
extern bool StopRequest[kPortCount];
// The channel of the request handed over when it is a frame of a block
// transfer, which a cancel ends between attempts; -1 for any other request.
extern int16_t CancelChannel[kPortCount];
// Tick at the start of the last write: the transmit time counts from there.
extern uint32_t WriteStartTick[kPortCount];

// The outcome of a worker step. The request's result code goes to the port
// record's Status, where the transaction call takes it.
enum StepResult : uint8_t {
  kStepDone,    // Transmit: the frame is sent; Receive: the request is finished
  kStepFailed,  // the attempt failed; Status says why
};
StepResult Transmit(int16_t port);
StepResult Receive(int16_t port);

enum LineState : uint8_t {
  kLineQuiet,   // nothing pending either way
  kLinePurged,  // bytes were pending and have been discarded
  kLineHeld,    // the line is held, or cannot be seen
};
LineState CheckLineQuiet(int16_t port);

// Milliseconds from tick `since` to now; the counter's wrap is harmless.
inline uint32_t TicksSince(uint32_t since) {
  return plat::TickCount() - since;
}

}  // namespace quib
