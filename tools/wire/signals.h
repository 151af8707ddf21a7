// SIGINT, SIGTERM and SIGHUP as a descriptor a tool's loop polls beside its lines, so that a
// signal is seen between two steps and never stops a write half-way.
#pragma once

#include <signal.h>

namespace quiblink::wire {

class StopSignals {
 public:
  // Blocks the three signals in this thread and opens the descriptor.
  StopSignals();
  // Closes the descriptor and restores the mask the thread had before.
  ~StopSignals();
  StopSignals(const StopSignals &) = delete;
  StopSignals &operator=(const StopSignals &) = delete;

  // -1 when the descriptor could not be opened.
  int fd() const { return fd_; }
  // The number of the signals that have arrived, the last one's; 0 when none has. They are taken
  // off the queue, so that none strikes once the mask is restored.
  int Take();

 private:
  sigset_t set_, old_;
  int fd_ = -1;
};

}  // namespace quiblink::wire
