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

int16_t SendGraphicCommand(uint16_t handle, GraphicCommandId id, uint8_t subcommand,
                           bool outputs_given, uint8_t *reply, uint16_t *payload_length) {
  const GraphicCommand &row = GraphicCommandOf(id);
  Trace(row.Trace);
  int16_t rc = CheckChannel(handle, kFamilyGraphic);
  if (rc != RC_OK) return rc;
  if (!outputs_given) return RC_BAD_ARGUMENT;

  const uint8_t carried = SubcommandOf(row, subcommand);
  uint8_t frame[kGraphicFrameSize];
  uint16_t expected = 0;
  const uint16_t length = BuildGraphicRequest(row.Code, carried, 0, frame, &expected, 0);
  if (length == 0) return RC_BAD_ARGUMENT;
  rc = ExchangeGraphicFrame(handle, frame, length, expected, row.Reply, reply, payload_length);
  if (rc != RC_OK) return rc;
  return CheckSingleReply(reply, *payload_length, row.Code, carried);
}

namespace {

constexpr uint16_t kMaxPasswordLength = 255;

int16_t ControlCommand(uint16_t handle, GraphicCommandId id, uint16_t *status,
                       uint8_t subcommand = 0) {
  uint8_t reply[kBufferSize];
  uint16_t payload_length = 0;
  const int16_t rc =
      SendGraphicCommand(handle, id, subcommand, status != nullptr, reply, &payload_length);
  if (rc != RC_OK) return rc;
  return StoreTerminalStatus(reply, status);
}

}  // namespace

int16_t GoOffline(uint16_t handle, uint16_t *status) {
  return ControlCommand(handle, kCmdOffline, status);
}

int16_t SoftwareReset(uint16_t handle, uint16_t *status) {
  return ControlCommand(handle, kCmdSoftwareReset, status);
}

int16_t ResetTerminal(uint16_t handle, uint16_t *status) {
  return ControlCommand(handle, kCmdReset, status);
}

int16_t SendBreak(uint16_t handle, uint16_t *status) {
  return ControlCommand(handle, kCmdBreak, status);
}

int16_t DeleteUserData(uint16_t handle, uint16_t *status) {
  return ControlCommand(handle, kCmdDeleteUserData, status);
}

int16_t ChangeBaudRate(uint16_t handle, uint8_t rate, uint16_t *status) {
  return ControlCommand(handle, kCmdBaudRateChange, status, rate);
}

int16_t CheckPassword(uint16_t handle, const uint8_t *password, uint16_t length, uint16_t *status) {
  const GraphicCommand &row = GraphicCommandOf(kCmdPassword);
  Trace(row.Trace);
  int16_t rc = CheckChannel(handle, kFamilyGraphic);
  if (rc != RC_OK) return rc;
  // The frame has one byte for the length: a longer password cannot travel,
  // and cutting it would check another one.
  if (length > kMaxPasswordLength) return RC_BAD_ARGUMENT;
  const uint8_t count = static_cast<uint8_t>(length);
  if (status == nullptr || (count > 0 && password == nullptr)) return RC_BAD_ARGUMENT;

  uint8_t frame[kGraphicFrameSize];
  uint8_t reply[kBufferSize];
  uint16_t expected = 0;
  uint16_t payload_length = 0;
  const uint16_t frame_length = BuildPasswordRequest(count, password, frame, &expected);
  rc = ExchangeGraphicFrame(handle, frame, frame_length, expected, row.Reply, reply,
                            &payload_length);
  if (rc != RC_OK) return rc;
  rc = CheckSingleReply(reply, payload_length, row.Code, SubcommandOf(row, 0));
  if (rc != RC_OK) return rc;
  return StoreTerminalStatus(reply, status);
}

int16_t StartTerminal(uint16_t handle) {
  const GraphicCommand &row = GraphicCommandOf(kCmdStart);
  Trace(row.Trace);
  int16_t rc = CheckChannel(handle, kFamilyGraphic);
  if (rc != RC_OK) return rc;

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
