// Transmission: modem lines, the port's silence, a quiet line, then the
// request frame in one write.
#include <string.h>

#include "engine/engine.h"
#include "engine/worker.h"

#include "core/trace.h"
#include "quiblink/quiblink.h"

namespace quib {

namespace {

constexpr uint32_t kBackOffMs = 2567;
constexpr int kMaxPurges = 3;
constexpr uint32_t kAnyModemLine = plat::kCtsOn | plat::kDsrOn | plat::kRingOn | plat::kRlsdOn;
constexpr uint32_t kHoldBits = 0x1F;

bool ModemLinesOff(plat::Handle dev) {
  uint32_t bits = 0;
  switch (plat::DeviceModemStatus(dev, &bits)) {
    case plat::kModemNotSupported:
      return false;  // a device without modem lines has nothing to check
    case plat::kModemOk:
      return (bits & kAnyModemLine) == 0;
    default:
      return true;
  }
}

// Waits until NextTxTick. A legitimate NextTxTick lies at most the back-off
// or the longest drain limit ahead; one further ahead is a stale value seen
// across the tick counter's wrap and costs no wait.
void WaitForNextTx(int16_t port) {
  const PortRecord &p = State.Ports[port];
  int32_t ahead = static_cast<int32_t>(p.NextTxTick - plat::TickCount());
  if (ahead <= 0) return;
  uint32_t longest = DrainLimit(port, kBufferSize);
  if (longest < kBackOffMs) longest = kBackOffMs;
  if (static_cast<uint32_t>(ahead) > longest) return;
  plat::SleepMs(static_cast<uint32_t>(ahead));
}

StepResult Fail(PortRecord &p, int16_t status, const char *trace) {
  Trace(trace);
  p.Status = status;
  return kStepFailed;
}

}  // namespace

LineState CheckLineQuiet(int16_t port) {
  const plat::Handle dev = State.Ports[port].CommHandle;
  plat::LineStatus line = {};
  if (!plat::DeviceLineStatus(dev, &line)) {
    Trace("ClearCommError\n");
    return kLineHeld;  // a line we cannot see is no line to send on
  }
  if ((line.HoldFlags & kHoldBits) != 0) return kLineHeld;
  if (line.InQueue == 0 && line.OutQueue == 0) return kLineQuiet;
  plat::DevicePurge(dev);
  return kLinePurged;
}

StepResult Transmit(int16_t port) {
  PortRecord &p = State.Ports[port];
  if (ModemLinesOff(p.CommHandle)) return Fail(p, RC_NO_RESPONSE, "DSR and CTS Failed\n");

  for (int purges = 0;;) {
    WaitForNextTx(port);
    const LineState line = CheckLineQuiet(port);
    if (line == kLineQuiet) break;
    if (line == kLineHeld) return Fail(p, RC_TX_FAILED, "TxFail\n");
    p.NextTxTick = plat::TickCount() + kBackOffMs;
    plat::SleepMs(kBackOffMs);
    Trace("RxBuff not Empty\n");
    // A line that keeps talking gets three back-offs, then the attempt fails.
    if (++purges == kMaxPurges) return Fail(p, RC_TX_FAILED, "TxFail\n");
  }

  memset(p.RxBuffer, 0, sizeof p.RxBuffer);
  const plat::Timeouts timeouts = WorkerTimeouts(port, p.TxLength);
  if (!plat::DeviceSetTimeouts(p.CommHandle, &timeouts)) {
    return Fail(p, RC_TX_FAILED, "TxFail\n");
  }
  WriteStartTick[port] = plat::TickCount();
  uint32_t written = 0;
  if (!plat::DeviceWrite(p.CommHandle, p.TxBuffer, p.TxLength, &written) || written != p.TxLength) {
    return Fail(p, RC_TX_FAILED, "TxFail\n");
  }
  p.TxDrained = 0;
  p.ReceivedLength = 0;
  p.LastActivityTick = plat::TickCount();
  return kStepDone;
}

}  // namespace quib
