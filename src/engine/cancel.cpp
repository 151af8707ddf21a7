#include "engine/cancel.h"

#include <atomic>

#include "core/state.h"

namespace quib {

namespace {

enum : uint8_t { kWindowOpen = 1, kCancelAsked = 2 };

std::atomic<uint8_t> Window[kChannelCount];
// A cancel may come from a signal handler: nothing here may take a lock.
static_assert(std::atomic<uint8_t>::is_always_lock_free &&
              std::atomic<int16_t>::is_always_lock_free);

}  // namespace

void OpenCancelWindow(uint16_t handle) {
  if (handle < kChannelCount) Window[handle].store(kWindowOpen);
}

void CloseCancelWindow(uint16_t handle) {
  if (handle < kChannelCount) Window[handle].store(0);
}

bool CancelRequested(uint16_t handle) {
  return handle < kChannelCount && (Window[handle].load() & kCancelAsked) != 0;
}

bool RequestCancel(uint16_t handle) {
  if (handle >= kChannelCount) return false;
  // Only an open window takes the mark: a closed one stays closed, so that
  // nothing is left behind for the channel's next transfer.
  uint8_t seen = Window[handle].load();
  while ((seen & kWindowOpen) != 0) {
    if (Window[handle].compare_exchange_weak(seen, kWindowOpen | kCancelAsked)) return true;
  }
  return false;
}

void ForgetCancelWindows() {
  for (std::atomic<uint8_t> &window : Window) window.store(0);
}

}  // namespace quib
