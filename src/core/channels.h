// Channel open and close: the first open of a port opens the device, programs
// the line, creates the port's semaphores and starts its worker; the last close
// stops the worker and releases them.
#pragma once

#include <stdint.h>

namespace quib {

// Opens a channel with the given line settings (used only when this open
// opens the port). Returns the channel handle or a negative result code.
int16_t OpenChannel(uint16_t port, uint32_t baud, uint16_t data_bits, uint16_t model);

// Closes a channel of either family: 0, -1 (not open) or -2 (busy).
int16_t CloseChannel(uint16_t handle);

// Detach: closes every channel the current process still holds, without
// waiting without end for a worker that cannot answer.
void CloseProcessChannels();

// Detach of an ending process: its other threads are gone, perhaps in the
// middle of a call, holding a lock or the port's turn. Frees every channel of
// the process and closes the devices, worker and semaphore handles behind
// them; asks nothing of a worker and waits for nothing (the system restores
// an ending process's timer resolution itself).
void ReleaseProcessChannels();

}  // namespace quib
