// What every graphic terminal operation shares: the channel check, one
// exchange of a request frame through the transaction call, and the handing
// back of the terminal's status byte.
#pragma once

#include <stdint.h>

#include "core/state.h"
#include "engine/engine.h"

namespace quib {

// 0, or -2 for a handle above 31, -3 for a free slot, -2 for a channel that
// QUIB_Open opened.
int16_t CheckGraphicChannel(uint16_t handle);

// One TransactionCall with the graphic reply decoder and the given probe. On
// 0, reply holds *payload_length bytes of reply payload (reply must hold the
// largest payload the probe admits).
int16_t ExchangeGraphicFrame(uint16_t handle, const uint8_t *frame, uint16_t frame_length,
                             uint16_t expected_length, LengthProbe probe, uint8_t *reply,
                             uint16_t *payload_length);
// The same, as one frame of a block transfer that holds its port's turn.
int16_t ExchangeGraphicFrame(Transfer *transfer, const uint8_t *frame, uint16_t frame_length,
                             uint16_t expected_length, LengthProbe probe, uint8_t *reply,
                             uint16_t *payload_length);

// Hands the reply's status byte to the caller: 0, or -36 when the terminal
// refused the request.
int16_t StoreTerminalStatus(const uint8_t *reply, uint16_t *status);

}  // namespace quib
