// The port worker: one thread per open port, the only one that touches the
// serial device while the port is open. It sleeps until the transaction call
// hands it a request, tries it up to three times and hands the result back.
#include "engine/cancel.h"
#include "engine/engine.h"
#include "engine/worker.h"

#include "core/trace.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"

namespace quib {

bool StopRequest[kPortCount];
int16_t CancelChannel[kPortCount];
uint32_t WriteStartTick[kPortCount];

namespace {

constexpr int kAttempts = 3;
constexpr uint32_t kPauseAfterFailureMs = 140;
constexpr uint32_t kRetryWaitMs = 10;

void ServeRequest(int16_t port) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    // A cancelled transfer takes no further attempt; the one on the line
    // was let finish.
    if (attempt > 0 && CancelChannel[port] >= 0 && CancelRequested(CancelChannel[port])) {
      State.Ports[port].Status = RC_CANCELLED;
      return;
    }
    if (Transmit(port) != kStepDone) {
      Trace("Tx Failed\n");
    } else if (Receive(port) == kStepDone) {
      return;
    } else {
      Trace("Rx Failed\n");
    }
    plat::SleepMs(kPauseAfterFailureMs);
  }
}

}  // namespace

uint32_t RunWorker(void *arg) {
  const int16_t port = static_cast<int16_t>(*static_cast<const uint32_t *>(arg));
  // The open has programmed the device's time-outs (WorkerTimeouts).

  for (;;) {
    if (plat::SemaphoreWait(PortSemaphore[port], plat::kInfinite) != plat::kWaitSignaled) {
      // A failed wait is no request. Once the port is closing, answer the
      // close so that it does not wait for a request that cannot come.
      if (WorkerRun[port].load() == 0) {
        plat::SemaphoreRelease(ReplySemaphore[port]);
        return 0;
      }
      plat::SleepMs(kRetryWaitMs);
      continue;
    }
    if (StopRequest[port]) {
      plat::SemaphoreRelease(ReplySemaphore[port]);
      return 0;
    }
    ServeRequest(port);
    plat::SemaphoreRelease(ReplySemaphore[port]);
  }
}

}  // namespace quib
