// The engine's pauses, sleeping or waking (see waiting.h).
#include "engine/waiting.h"

#include <string.h>

#include "engine/engine.h"
#include "platform/platform.h"

namespace quib {

std::atomic<uint8_t> EngineWaitStyle{kWaitWaking};

namespace {

plat::Handle TurnSignal[kChannelCount];

}  // namespace

void LoadWaitStyleFromEnvironment() {
  char value[8];
  if (!plat::EnvironmentValue("QUIBLINK_ENGINE", value, sizeof value)) return;
  if (strcmp(value, "poll") == 0) EngineWaitStyle.store(kWaitSleeping);
  if (strcmp(value, "wake") == 0) EngineWaitStyle.store(kWaitWaking);
}

void CreateTurnSignals() {
  for (plat::Handle &signal : TurnSignal) {
    if (signal == 0) signal = plat::SemaphoreCreate(nullptr, 0, 1);
  }
}

void CloseTurnSignals() {
  for (plat::Handle &signal : TurnSignal) {
    if (signal != 0) plat::SemaphoreClose(signal);
    signal = 0;
  }
}

void SignalTurn(int16_t handle) {
  // A signal nobody takes stays pending and costs its channel one extra
  // look at the queue later; it can never let a caller past the head test.
  if (handle >= 0 && handle < kChannelCount && TurnSignal[handle] != 0) {
    plat::SemaphoreRelease(TurnSignal[handle]);
  }
}

bool AwaitTurnSignal(uint16_t handle, uint32_t ms, uint32_t *counted) {
  const plat::Handle signal = handle < kChannelCount ? TurnSignal[handle] : 0;
  *counted = ms;
  if (!EngineWakes() || signal == 0) {
    plat::SleepMs(ms);
    return false;
  }
  const uint32_t start = plat::TickCount();
  switch (plat::SemaphoreWait(signal, ms)) {
    case plat::kWaitSignaled:
      *counted = plat::TickCount() - start;
      return true;
    case plat::kWaitTimeout:
      return false;
    default:
      plat::SleepMs(ms);
      return false;
  }
}

void AwaitReplyBytes(int16_t port, uint32_t ms, uint32_t missing, bool arrived, bool readable) {
  if (!EngineWakes() || !readable) {
    plat::SleepMs(ms);
    return;
  }
  // The rest of a reply that is coming in needs its time on the line; waking
  // for each byte of it would only cost processor time.
  uint32_t slept = 0;
  if (arrived) {
    slept = TransmitTime(port, missing);
    if (slept > ms) slept = ms;
    if (slept > 0) plat::SleepMs(slept);
  }
  if (slept < ms && !plat::DeviceWaitInput(State.Ports[port].CommHandle, ms - slept)) {
    plat::SleepMs(ms - slept);
  }
}

}  // namespace quib
