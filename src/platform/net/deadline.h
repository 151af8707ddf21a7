// A time limit on the millisecond tick: what is left of it never wraps to a
// huge wait, also once the limit has passed or the tick counter has wrapped.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

namespace plat {

struct Deadline {
  uint32_t start;
  uint32_t ms;
};

inline uint32_t TimeLeftAt(const Deadline &deadline, uint32_t now) {
  const uint32_t spent = now - deadline.start;
  return spent >= deadline.ms ? 0 : deadline.ms - spent;
}
inline uint32_t TimeLeft(const Deadline &deadline) {
  return TimeLeftAt(deadline, TickCount());
}
inline Deadline DeadlineIn(uint32_t ms) {
  return Deadline{TickCount(), ms};
}

}  // namespace plat
