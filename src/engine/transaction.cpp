// The transaction call: every exchange with a terminal passes through here.
// The channel waits its turn in the port's queue, hands its request to the
// port worker through the port record, and takes the status and payload
// back once the worker has finished.
#include <string.h>

#include "engine/cancel.h"
#include "engine/engine.h"
#include "engine/waiting.h"
#include "engine/worker.h"

#include "core/trace.h"
#include "platform/platform.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"

namespace quib {

namespace {

constexpr uint32_t kHeadPollMs = 10;

// The port whose turn this thread holds, -1 for none. A call that the thread
// makes on that port meanwhile (from a progress callback or a trace handler)
// would wait for its own turn without end: it is refused as busy instead.
thread_local int16_t HeldPortOfThread = -1;

int16_t NotOpen(uint16_t handle) {
  char text[32];
  plat::FormatText(text, sizeof text, "Handle = %d", handle);
  MessageBox(text, "QUIBLINK.DLL");
  return RC_NOT_OPEN;
}

enum TurnResult { kTurnCame, kTurnTimedOut, kTurnCancelled };

// Waits until the channel's entry is the head of the port's queue, at most
// limit_ms, and for a cancellable transfer only until it is cancelled.
TurnResult AwaitTurn(int16_t port, uint16_t handle, uint32_t limit_ms, bool cancellable) {
  uint32_t waited = 0;
  while (!QueueIsAtHead(port, handle)) {
    if (cancellable && CancelRequested(handle)) return kTurnCancelled;
    if (limit_ms != plat::kInfinite && waited >= limit_ms) return kTurnTimedOut;
    uint32_t counted = 0;
    AwaitTurnSignal(handle, kHeadPollMs, &counted);
    waited += counted;
  }
  return kTurnCame;
}

void FillRecord(int16_t port, uint16_t handle, const RequestDescriptor &request,
                const uint8_t *frame, bool stop, bool cancellable) {
  PortRecord &p = State.Ports[port];
  p.CurrentHandle = static_cast<int16_t>(handle);
  p.Decoder = request.Decoder;
  p.Probe = request.Probe;
  p.PayloadLength = 0;
  memset(p.RxBuffer, 0, sizeof p.RxBuffer);
  if (request.TxLength > 0) memcpy(p.TxBuffer, frame, request.TxLength);
  p.TxLength = request.TxLength;
  p.ReplyTimeout = request.ReplyTimeout;
  p.ExpectedLength = request.ExpectedLength;
  p.TxTime = TransmitTime(port, request.TxLength);
  StopRequest[port] = stop;
  CancelChannel[port] = cancellable ? static_cast<int16_t>(handle) : int16_t{-1};
}

enum HandOverResult { kNotWoken, kNoAnswer, kAnswered };

// Hands the filled record to the worker and waits for its answer.
HandOverResult HandOver(int16_t port, uint32_t limit_ms) {
  if (!plat::SemaphoreRelease(PortSemaphore[port])) {
    Trace("ReleaseSemaphore Failed\n");
    return kNotWoken;
  }
  if (plat::SemaphoreWait(ReplySemaphore[port], limit_ms) != plat::kWaitSignaled) {
    return kNoAnswer;
  }
  return kAnswered;
}

}  // namespace

int16_t TransferCall(Transfer *transfer, RequestDescriptor request, const uint8_t *frame,
                     uint16_t *payload_length) {
  const uint16_t handle = transfer->Handle;
  if (payload_length != nullptr) *payload_length = 0;
  Trace("Send Command\n");
  HandleEntry &entry = State.Handles[handle];
  // While the transfer holds the turn, its Busy mark keeps every close of the
  // channel out: the channel stays open and at the head of its port's queue.
  if (!transfer->Held && entry.Port.load() == -1) return NotOpen(handle);
  if (request.TxLength > kBufferSize || (request.TxLength > 0 && frame == nullptr)) {
    return RC_BAD_ARGUMENT;
  }

  if (!transfer->Held) {
    // One mark, tested and set at once, admits one call per channel: a second
    // call never joins the queue, so it cannot disturb the first.
    if (HeldPortOfThread == PortOfChannel(handle) || entry.Busy.exchange(1) != 0) {
      Trace("Frame of Same Handle is Communicating\n");
      return RC_CHANNEL_BUSY;
    }
    // The channel may have been closed between the look above and the mark.
    if (entry.Port.load() == -1 || QueueAppend(handle) == 0) {
      entry.Busy.store(0);
      return NotOpen(handle);
    }
    if (transfer->Cancellable) OpenCancelWindow(handle);
    if (AwaitTurn(PortOfChannel(handle), handle, plat::kInfinite, transfer->Cancellable) ==
        kTurnCancelled) {
      // Out of the queue before the mark goes, as a transfer that ends does.
      QueueRemoveEntry(PortOfChannel(handle), handle);
      CloseCancelWindow(handle);
      entry.Busy.store(0);
      return RC_CANCELLED;
    }
    transfer->Held = true;
    transfer->OuterHeldPort = HeldPortOfThread;
    HeldPortOfThread = PortOfChannel(handle);
  }

  if (transfer->Cancellable && CancelRequested(handle)) return RC_CANCELLED;
  const int16_t port = PortOfChannel(handle);
  FillRecord(port, handle, request, frame, false, transfer->Cancellable);
  // Without the worker's answer the port record may be mid-exchange: its
  // Status is no result of this call.
  int16_t result = RC_TX_FAILED;
  if (HandOver(port, plat::kInfinite) == kAnswered) {
    const PortRecord &p = State.Ports[port];
    result = p.Status;
    uint16_t length = p.PayloadLength > 0 ? static_cast<uint16_t>(p.PayloadLength) : 0;
    if (length > kBufferSize || result != RC_OK) length = 0;
    if (length > 0 && request.OutputBuffer != nullptr) {
      memcpy(request.OutputBuffer, p.PayloadBuffer, length);
    }
    if (payload_length != nullptr) *payload_length = length;
  }
  return result;
}

void EndTransfer(Transfer *transfer) {
  if (!transfer->Held) return;
  transfer->Held = false;
  HeldPortOfThread = transfer->OuterHeldPort;
  if (transfer->Cancellable) CloseCancelWindow(transfer->Handle);
  QueueRemoveHead(PortOfChannel(transfer->Handle));
  State.Handles[transfer->Handle].Busy.store(0);
}

int16_t TransactionCall(uint16_t handle, RequestDescriptor request, const uint8_t *frame,
                        uint16_t *payload_length) {
  Transfer single = BeginSingleExchange(handle);
  const int16_t result = TransferCall(&single, request, frame, payload_length);
  EndTransfer(&single);
  return result;
}

bool StopPortWorker(uint16_t handle, uint32_t limit_ms) {
  Trace("Send Command\n");
  if (QueueAppend(handle) == 0) return false;
  const int16_t port = PortOfChannel(handle);
  if (AwaitTurn(port, handle, limit_ms, false) != kTurnCame) {
    QueueRemoveEntry(port, handle);
    return false;
  }
  const RequestDescriptor stop = {0, 0, ReplyTimeoutSeconds, nullptr, nullptr, nullptr};
  FillRecord(port, handle, stop, nullptr, true, false);
  bool answered = HandOver(port, limit_ms) == kAnswered;
  QueueRemoveHead(port);
  return answered;
}

}  // namespace quib
