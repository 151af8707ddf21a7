// Single-frame graphic terminal commands: the control commands, the password
// check and the start, and the routine that they and the queries share.
#pragma once

#include <stdint.h>

#include "graphic/command_table.h"

namespace quib {

// The row's entry trace, the channel check, refusal of missing out-parameters
// (outputs_given false: -2), one header-only request of the row (with
// subcommand where the row takes any), and the single-reply checks. On 0,
// reply holds *payload_length bytes (at least the header) whose status byte
// is not yet examined. reply must hold kBufferSize bytes.
int16_t SendGraphicCommand(uint16_t handle, GraphicCommandId id, uint8_t subcommand,
                           bool outputs_given, uint8_t *reply, uint16_t *payload_length);

// The control commands: one request each, whose reply's status byte goes to
// *status. ChangeBaudRate's rate is the code 0x81..0x83, checked by the
// caller.
int16_t GoOffline(uint16_t handle, uint16_t *status);
int16_t SoftwareReset(uint16_t handle, uint16_t *status);
int16_t ResetTerminal(uint16_t handle, uint16_t *status);
int16_t SendBreak(uint16_t handle, uint16_t *status);
int16_t DeleteUserData(uint16_t handle, uint16_t *status);
int16_t ChangeBaudRate(uint16_t handle, uint8_t rate, uint16_t *status);

// Sends the password (length bytes, at most 255) for the terminal to check.
int16_t CheckPassword(uint16_t handle, const uint8_t *password, uint16_t length, uint16_t *status);

// Sends the offline command's frame and awaits no reply.
int16_t StartTerminal(uint16_t handle);

}  // namespace quib
