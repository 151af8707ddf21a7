// Control commands of the graphic terminals, and the single-frame routine
// that the control and query exports share.
#include "graphic/commands.h"

#include "core/state.h"
#include "core/trace.h"
#include "engine/engine.h"
#include "graphic/codec.h"
#include "graphic/exchange.h"
#include "quiblink/quiblink.h"

namespace quib {

void TraceCommand(GraphicCommandId id) {
  Trace(GraphicCommandOf(id).Trace);
}

int16_t SendGraphicCommand(uint16_t handle, GraphicCommandId id, uint8_t subcommand, uint8_t *reply,
                           uint16_t *payload_length) {
  const GraphicCommand &row = GraphicCommandOf(id);
  const uint8_t carried = SubcommandOf(row, subcommand);
  uint8_t frame[kGraphicFrameSize];
  uint16_t expected = 0;
  const uint16_t length = BuildGraphicRequest(row.Code, carried, 0, frame, &expected, 0);
  if (length == 0) return RC_BAD_ARGUMENT;
  const int16_t rc =
      ExchangeGraphicFrame(handle, frame, length, expected, row.Reply, reply, payload_length);
  if (rc != RC_OK) return rc;
  return CheckSingleReply(reply, *payload_length, row.Code, carried);
}

int16_t ControlCommand(uint16_t handle, GraphicCommandId id, uint8_t subcommand, uint16_t *status) {
  uint8_t reply[kBufferSize];
  uint16_t payload_length = 0;
  const int16_t rc = SendGraphicCommand(handle, id, subcommand, reply, &payload_length);
  if (rc != RC_OK) return rc;
  return StoreTerminalStatus(reply, status);
}

int16_t CheckPassword(uint16_t handle, const uint8_t *password, uint16_t length, uint16_t *status) {
  const GraphicCommand &row = GraphicCommandOf(kCmdPassword);
  const uint8_t count = static_cast<uint8_t>(length);
  uint8_t frame[kGraphicFrameSize];
  uint8_t reply[kBufferSize];
  uint16_t expected = 0;
  uint16_t payload_length = 0;
  const uint16_t frame_length = BuildPasswordRequest(count, password, frame, &expected);
  int16_t rc = ExchangeGraphicFrame(handle, frame, frame_length, expected, row.Reply, reply,
                                    &payload_length);
  if (rc != RC_OK) return rc;
  rc = CheckSingleReply(reply, payload_length, row.Code, SubcommandOf(row, 0));
  if (rc != RC_OK) return rc;
  return StoreTerminalStatus(reply, status);
}

int16_t StartTerminal(uint16_t handle) {
  const GraphicCommand &row = GraphicCommandOf(kCmdStart);
  uint8_t frame[kGraphicFrameSize];
  uint8_t reply[kBufferSize];
  uint16_t expected = 0;
  uint16_t payload_length = 0;
  const uint16_t length =
      BuildGraphicRequest(row.Code, SubcommandOf(row, 0), 0, frame, &expected, 0);
  if (length == 0) return RC_BAD_ARGUMENT;
  DumpFrame(frame);
  // Same frame as the offline command, but nothing is awaited: the exchange
  // ends once the frame has left the line.
  return ExchangeGraphicFrame(handle, frame, length, expected, row.Reply, reply, &payload_length);
}

}  // namespace quib
