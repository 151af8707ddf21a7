// Channel open and close: the first open of a port opens the device, programs
// the line, creates the port's semaphores and starts its worker; the last close
// stops the worker and releases them.
#pragma once

#include <stdint.h>

#include "core/state.h"

namespace quib {

// Opens a channel of a family with the given line settings (used only when
// this open opens the port). Returns the channel handle or a negative result
// code.
int16_t OpenChannel(uint16_t port, uint32_t baud, uint16_t data_bits, uint16_t model,
                    ChannelFamily family);

// Closes a channel of either family: RC_OK, RC_CLOSE_NOT_OPEN or RC_CLOSE_BUSY.
int16_t CloseChannel(uint16_t handle);

// Detach: closes every channel the current process still holds, without
// waiting without end for a worker that cannot answer.
void CloseProcessChannels();

// In the child of a fork(): the open and close locks made anew, no slot kept,
// since a thread of the parent may have held them at the fork.
void RenewChannelLocksInChild();

// Why the calling thread's last failed open failed: the device and the
// system's reason into text, the system's error number as the result.
int32_t LastOpenFailure(char *text, uint16_t size);

// Detach of an ending process: its other threads are gone, perhaps in the
// middle of a call, holding a lock or the port's turn. Frees every channel of
// the process and closes the devices, worker and semaphore handles behind
// them; asks nothing of a worker and waits for nothing (the system restores
// an ending process's timer resolution itself).
void ReleaseProcessChannels();

}  // namespace quib
