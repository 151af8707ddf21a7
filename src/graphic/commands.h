// Single-frame graphic terminal commands: the routine behind the control and
// query exports.
#pragma once

#include <stdint.h>

namespace quib {

// Entry trace, channel check, refusal of missing out-parameters (outputs_given
// false: -2), one request of command/subcommand, and the reply's echo,
// continuation flag and sequence number. On 0, reply holds *payload_length
// bytes (at least the header) whose status byte is not yet examined. reply
// must hold kBufferSize bytes.
int16_t SendGraphicCommand(uint16_t handle, uint8_t command, uint8_t subcommand, bool outputs_given,
                           uint8_t *reply, uint16_t *payload_length);

}  // namespace quib
