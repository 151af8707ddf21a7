// Single-frame graphic terminal commands: the control commands, the password
// check and the start, and the routine that they and the queries share. Their
// exports have written the entry trace (TraceCommand) and checked the channel
// and their arguments before any of these runs.
#pragma once

#include <stdint.h>

#include "graphic/command_table.h"

namespace quib {

// The frame carries the password's length in one byte.
constexpr uint16_t kMaxPasswordLength = 255;

// The entry trace line of the command's row.
void TraceCommand(GraphicCommandId id);

// One header-only request of the row (with subcommand where the row takes
// any), and the single-reply checks. On RC_OK, reply holds *payload_length
// bytes (at least the header) whose status byte is not yet examined. reply
// must hold kBufferSize bytes.
int16_t SendGraphicCommand(uint16_t handle, GraphicCommandId id, uint8_t subcommand, uint8_t *reply,
                           uint16_t *payload_length);

// A control command of row id (offline, the resets, break, deletion of the
// user data, the baud-rate change with its code as subcommand): one request,
// whose reply's status byte goes to *status.
int16_t ControlCommand(uint16_t handle, GraphicCommandId id, uint8_t subcommand, uint16_t *status);

// Sends the password (length bytes, at most kMaxPasswordLength) for the
// terminal to check.
int16_t CheckPassword(uint16_t handle, const uint8_t *password, uint16_t length, uint16_t *status);

// Sends the offline command's frame and awaits no reply.
int16_t StartTerminal(uint16_t handle);

}  // namespace quib
