// Reads and writes of a classic panel's memory, behind QUIB_Read and
// QUIB_Write.
#pragma once

#include <stdint.h>

namespace quib {

// The caller has checked that handle names an open channel of the classic
// family and that count is above 0 with a buffer given (and, for a write,
// that area is 0). These refuse what the channel's model cannot carry
// (RC_BAD_ARGUMENT), then move count bytes at address of area chunk by chunk.
int16_t ReadPanelMemory(uint16_t handle, uint16_t area, int32_t address, uint8_t *buffer,
                        uint16_t count);
int16_t WritePanelMemory(uint16_t handle, uint16_t area, int32_t address, uint16_t count,
                         const uint8_t *data);

}  // namespace quib
