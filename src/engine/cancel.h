// Cancelling a channel's block transfer from any thread. The transfer opens
// its channel's cancel window once it holds the channel's Busy mark and
// closes it when it ends; a cancel marks an open window only. The transfer
// looks at the mark before each exchange and while it waits for its turn, the
// port worker between the attempts of the transfer's exchange.
#pragma once

#include <stdint.h>

namespace quib {

// The channel's block transfer starts: a cancel of an earlier one is
// forgotten. Only the holder of the channel's Busy mark opens and closes it.
void OpenCancelWindow(uint16_t handle);
// The transfer ends: later cancels find nothing to stop.
void CloseCancelWindow(uint16_t handle);
// True when the channel's transfer under way has been asked to stop.
bool CancelRequested(uint16_t handle);
// Asks the channel's transfer under way to stop; false when none is.
bool RequestCancel(uint16_t handle);
// In the child of a fork(): no transfer of the parent goes on there.
void ForgetCancelWindows();

}  // namespace quib
