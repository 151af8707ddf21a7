// The transaction engine: every exchange with a terminal passes through
// TransactionCall, which queues the channel on its port, hands the request to
// the port worker and returns the port's status.
#pragma once

#include <stdint.h>

#include "core/state.h"

namespace quib {

constexpr int16_t ReplyTimeoutSeconds = 10;

struct RequestDescriptor {
  uint16_t TxLength;
  uint16_t ExpectedLength;  // 0 = no reply expected
  int16_t ReplyTimeout;     // seconds
  ReplyDecoder Decoder;
  LengthProbe Probe;
  uint8_t *OutputBuffer;  // receives the payload; may be null when none comes
};

// The check every operation runs before its first exchange: RC_OK when handle
// names an open channel that an open function of family opened;
// RC_BAD_ARGUMENT for a handle above 31, RC_NOT_OPEN for a free slot,
// RC_BAD_ARGUMENT for a channel of the other family, whose terminal would stay
// silent through every attempt.
int16_t CheckChannel(uint16_t handle, ChannelFamily family);
// The same for a channel of either family.
int16_t CheckOpenChannel(uint16_t handle);

// Runs one exchange on the channel's port. The caller has refused handles
// above 31. On return OutputBuffer holds the payload; *payload_length (when
// given) receives its length, 0 on every failure.
int16_t TransactionCall(uint16_t handle, RequestDescriptor request, const uint8_t *frame,
                        uint16_t *payload_length = nullptr);

// A transfer of several frames. A terminal follows one block walk or chunked
// write at a time, so the transfer holds its port's turn from its first frame
// to its last: the first frame waits for the turn as any call does, and the
// channel's entry then stays at the head of the queue, with its Busy mark set,
// until EndTransfer. Other channels' calls on the port wait behind it, in
// queue order; another call or a close of the channel itself is refused as
// busy. Every path of the transfer must end it.
//
// A block transfer can be cancelled from any thread (QUIB_CancelTransfer):
// its next frame is then not sent and the transfer ends with RC_CANCELLED,
// also while its first frame waits for the turn; a frame whose exchange is
// failing ends at the next attempt's boundary. A single exchange cannot be.
struct Transfer {
  uint16_t Handle;
  bool Held;              // the turn is held: the first frame has been queued
  int16_t OuterHeldPort;  // the port this thread held before, restored at the end
  bool Cancellable;       // a block transfer, which a cancel stops
};
inline Transfer BeginTransfer(uint16_t handle) {
  return Transfer{handle, false, -1, true};
}
// A call that takes one exchange: a cancel leaves it alone.
inline Transfer BeginSingleExchange(uint16_t handle) {
  return Transfer{handle, false, -1, false};
}
// One frame of the transfer, with the results of TransactionCall.
int16_t TransferCall(Transfer *transfer, RequestDescriptor request, const uint8_t *frame,
                     uint16_t *payload_length = nullptr);
// Leaves the port's queue and clears the channel's Busy mark, if held.
void EndTransfer(Transfer *transfer);

// Milliseconds that count bytes need on the port's line, truncating.
uint32_t TransmitTime(int16_t port, uint32_t count);
// Time allowed for count bytes to leave the line: twice the transmit time
// plus 100 ms, truncating.
uint32_t DrainLimit(int16_t port, uint32_t count);

// The device time-outs of a port whose next write is count bytes long: reads
// return at once with what is buffered; a write that has not gone out within
// DrainLimit(count) ends short, so that a stalled adapter fails the attempt
// instead of holding the worker.
plat::Timeouts WorkerTimeouts(int16_t port, uint32_t count);

// Queue operations (under the process-local queue lock).
int16_t QueueAppend(uint16_t handle);
bool QueueIsAtHead(int16_t port, uint16_t handle);
int16_t QueueRemoveHead(int16_t port);
// Removes the channel's entry wherever it stands; the others keep their order.
int16_t QueueRemoveEntry(int16_t port, uint16_t handle);

// The last close of a port: queues the channel's stop request behind every
// earlier request of the port and wakes the worker with it, so that it ends.
// The caller holds the channel's Busy mark. limit_ms bounds the wait for the
// turn and for the worker's answer (plat::kInfinite: no bound). True when
// the worker has answered: it no longer touches the port's semaphores.
bool StopPortWorker(uint16_t handle, uint32_t limit_ms);

// Thread body of a port's worker; arg points at the port's PortIndex entry.
uint32_t RunWorker(void *arg);

}  // namespace quib
