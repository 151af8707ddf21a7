// What every graphic terminal operation shares: one exchange of a request
// frame through the transaction call, the checks of a single-frame reply, and
// the handing back of the terminal's status byte.
#pragma once

#include <stdint.h>

#include "core/state.h"
#include "engine/engine.h"
#include "graphic/command_table.h"

namespace quib {

// One TransactionCall with the graphic reply decoder, the length probe of
// the reply kind, and expected_length as the announced reply length (none
// for kReplyNone). On 0, reply holds *payload_length bytes of reply payload
// (reply must hold the largest payload the announced length admits).
int16_t ExchangeGraphicFrame(uint16_t handle, const uint8_t *frame, uint16_t frame_length,
                             uint16_t expected_length, GraphicReply reply_kind, uint8_t *reply,
                             uint16_t *payload_length);
// The same, as one frame of a block transfer that holds its port's turn.
int16_t ExchangeGraphicFrame(Transfer *transfer, const uint8_t *frame, uint16_t frame_length,
                             uint16_t expected_length, GraphicReply reply_kind, uint8_t *reply,
                             uint16_t *payload_length);

// The reply payload of a request that takes one frame: a whole header that
// echoes command and subcommand, with no continuation and sequence number 0.
// RC_OK, or RC_BAD_LENGTH for a short payload, RC_BAD_ECHO, RC_SEQUENCE.
int16_t CheckSingleReply(const uint8_t *reply, uint16_t payload_length, uint8_t command,
                         uint8_t subcommand);

// Hands the reply's status byte to the caller: RC_OK, or RC_TERMINAL_ERROR
// when the terminal refused the request.
int16_t StoreTerminalStatus(const uint8_t *reply, uint16_t *status);

}  // namespace quib
