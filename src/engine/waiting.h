// How the engine spends its pauses: between reads while reply bytes are
// awaited, and while a caller waits for its turn on the port. Both styles keep
// every timing rule (no pause longer than 10 ms, the time-outs, the quiet
// time, the attempts, the order of the queue):
//  - sleeping pauses the full 10 ms each time;
//  - waking returns as soon as reply bytes arrive, or as soon as the caller
//    ahead leaves the port's queue.
// Waking is the default. Set the style only while no exchange runs.
#pragma once

#include <atomic>
#include <stdint.h>

namespace quib {

enum WaitStyle : uint8_t { kWaitSleeping = 0, kWaitWaking = 1 };

extern std::atomic<uint8_t> EngineWaitStyle;

// The style QUIBLINK_ENGINE names ("poll" or "wake"), read once as the
// library loads; any other value leaves the default.
void LoadWaitStyleFromEnvironment();

inline bool EngineWakes() {
  return EngineWaitStyle.load(std::memory_order_relaxed) == kWaitWaking;
}

// One signal per channel, telling it that it has become the head of its
// port's queue. Created at attach and closed at detach; without them a caller
// sleeps between its looks at the queue.
void CreateTurnSignals();
void CloseTurnSignals();
// Called under the queue lock whenever the head of a queue changes.
void SignalTurn(int16_t handle);
// One pause of a caller that is not yet at the head: up to ms milliseconds.
// True when the channel's signal came; *counted receives the milliseconds to
// count against the caller's limit.
bool AwaitTurnSignal(uint16_t handle, uint32_t ms, uint32_t *counted);

// One pause of the receive loop, at most ms milliseconds. missing is the
// count of reply bytes still due, arrived whether the last read brought any,
// readable whether a read could take any (a reply announced longer than the
// receive buffer cannot).
void AwaitReplyBytes(int16_t port, uint32_t ms, uint32_t missing, bool arrived, bool readable);

}  // namespace quib
