// Reception: collect the reply with reads that never block, ask the length
// probe how long it will be, decode it once it is complete. The reply
// time-out counts silence: it starts again with every read that brings bytes.
#include "engine/engine.h"
#include "engine/waiting.h"
#include "engine/worker.h"

#include "core/trace.h"
#include "platform/platform.h"
#include "quiblink/quiblink.h"

namespace quib {

namespace {

constexpr uint32_t kReceivePollMs = 10;
constexpr uint32_t kDrainPollMs = 1;
// Silence kept after a request that expects no reply: long enough for a
// short reply that comes after all to arrive and be purged before the next
// transmission.
constexpr uint32_t kLateReplyLength = 9;

// The pause between looks at the output queue while the frame leaves the line.
void AwaitDrain() {
  plat::SleepMs(kDrainPollMs);
}

StepResult Finish(PortRecord &p, uint32_t silence_ms) {
  p.CurrentHandle = -1;
  p.NextTxTick = plat::TickCount() + silence_ms;
  return kStepDone;
}

StepResult Fail(PortRecord &p, int16_t status) {
  p.Status = status;
  return kStepFailed;
}

StepResult TimeOut(PortRecord &p, int16_t status) {
  p.Status = status;
  Trace("Time out\n");
  return kStepFailed;
}

StepResult Decode(int16_t port, uint16_t expected) {
  PortRecord &p = State.Ports[port];
  Trace("Data Size is Ok, Now decoding ...\n");
  uint16_t length = 0;
  const int16_t status =
      p.Decoder != nullptr ? p.Decoder(port, expected, p.RxBuffer, p.PayloadBuffer, &length) : 0;
  if (length > kBufferSize) length = kBufferSize;
  if (status != 0) length = 0;  // a refused reply delivers nothing
  p.PayloadLength = static_cast<int16_t>(length);
  p.Status = status;
  if (status != 0) {
    Trace("Data Size is Bad, Return with 1\n");
    return kStepFailed;
  }
  return Finish(p, p.QuietTime);
}

// A request that expects no reply ends once the frame has left the line.
StepResult AwaitFrameGone(int16_t port) {
  PortRecord &p = State.Ports[port];
  for (;;) {
    plat::LineStatus line = {};
    if (plat::DeviceLineStatus(p.CommHandle, &line) && line.OutQueue == 0) {
      p.Status = RC_OK;
      return Finish(p, DrainLimit(port, kLateReplyLength));
    }
    if (TicksSince(p.LastActivityTick) >= DrainLimit(port, p.TxLength)) {
      return TimeOut(p, RC_NO_RESPONSE);
    }
    AwaitDrain();
  }
}

}  // namespace

StepResult Receive(int16_t port) {
  PortRecord &p = State.Ports[port];
  uint16_t expected = p.ExpectedLength;

  // The frame needs TxTime on the line, counted from the start of the write.
  uint32_t spent = TicksSince(WriteStartTick[port]);
  if (spent < p.TxTime) plat::SleepMs(p.TxTime - spent);

  if (p.ExpectedLength == 0) return AwaitFrameGone(port);

  const uint32_t reply_timeout_ms = p.ReplyTimeout > 0 ? p.ReplyTimeout * 1000u : 0u;
  for (;;) {
    // Never past RxBuffer, never a negative count: a probe may announce more
    // than fits, or less than has already arrived.
    uint32_t room = expected < kBufferSize ? expected : kBufferSize;
    uint32_t want = p.ReceivedLength < room ? room - p.ReceivedLength : 0;
    uint32_t got = 0;
    if (want > 0) {
      if (!plat::DeviceRead(p.CommHandle, p.RxBuffer + p.ReceivedLength, want, &got)) {
        Trace("Read File Fail\n");
        return Fail(p, p.ReceivedLength == 0 ? RC_NO_RESPONSE : RC_INCOMPLETE);
      }
      if (got > want) got = want;
    }

    plat::LineStatus line = {};
    if (plat::DeviceLineStatus(p.CommHandle, &line) && p.TxDrained == 0 && line.OutQueue == 0) {
      p.TxDrained = -1;
      p.LastActivityTick = plat::TickCount();
    }
    p.ReceivedLength = static_cast<uint16_t>(p.ReceivedLength + got);

    if (got > 0) {
      p.LastActivityTick = plat::TickCount();
      int16_t code =
          p.Probe != nullptr ? p.Probe(port, p.ReceivedLength, p.RxBuffer, &expected) : 0;
      if (code != 0) {
        // A refused reply finishes the request: a repeat would meet the
        // same terminal.
        p.Status = code;
        p.NextTxTick = plat::TickCount() + DrainLimit(port, want);
        return kStepDone;
      }
      char text[48];
      Trace("Before Decoding\n");
      plat::FormatText(text, sizeof text, "psp->ReceivedLength=%x\n", p.ReceivedLength);
      Trace(text);
      plat::FormatText(text, sizeof text, "cplength=%x\n", expected);
      Trace(text);
      // Whatever arrived beyond the expected length is not part of the reply.
      if (p.ReceivedLength >= expected) return Decode(port, expected);
      AwaitReplyBytes(port, kReceivePollMs, expected - p.ReceivedLength, true, true);
      continue;
    }

    uint32_t silence = TicksSince(p.LastActivityTick);
    if (p.TxDrained == 0) {
      Trace("Still Tx\n");
      if (silence >= DrainLimit(port, p.TxLength)) return TimeOut(p, RC_NO_RESPONSE);
      AwaitDrain();
      continue;
    }
    if (silence >= reply_timeout_ms) {
      return TimeOut(p, p.ReceivedLength == 0 ? RC_NO_RESPONSE : RC_INCOMPLETE);
    }
    AwaitReplyBytes(port, kReceivePollMs, want, false, want > 0);
  }
}

}  // namespace quib
