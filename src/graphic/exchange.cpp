#include "graphic/exchange.h"

#include "engine/engine.h"
#include "graphic/codec.h"
#include "quiblink/quiblink.h"

namespace quib {

int16_t ExchangeGraphicFrame(Transfer *transfer, const uint8_t *frame, uint16_t frame_length,
                             uint16_t expected_length, GraphicReply reply_kind, uint8_t *reply,
                             uint16_t *payload_length) {
  const bool awaited = reply_kind != kReplyNone;
  const RequestDescriptor request{
      frame_length,
      awaited ? expected_length : uint16_t{0},
      ReplyTimeoutSeconds,
      DecodeGraphicReply,
      reply_kind == kReplySized ? ProbeGraphicLength : ProbeGraphicStart,
      reply};
  *payload_length = 0;
  return TransferCall(transfer, request, frame, payload_length);
}

int16_t ExchangeGraphicFrame(uint16_t handle, const uint8_t *frame, uint16_t frame_length,
                             uint16_t expected_length, GraphicReply reply_kind, uint8_t *reply,
                             uint16_t *payload_length) {
  Transfer single = BeginSingleExchange(handle);
  const int16_t rc = ExchangeGraphicFrame(&single, frame, frame_length, expected_length, reply_kind,
                                          reply, payload_length);
  EndTransfer(&single);
  return rc;
}

int16_t CheckSingleReply(const uint8_t *reply, uint16_t payload_length, uint8_t command,
                         uint8_t subcommand) {
  if (!PayloadCovers(payload_length, 0, kPayloadHeaderSize)) return RC_BAD_LENGTH;
  if (reply[kPayloadCommand] != command || reply[kPayloadSubcommand] != subcommand) {
    return RC_BAD_ECHO;
  }
  if (reply[kPayloadContinuation] != 0 || reply[kPayloadSequence] != 0) return RC_SEQUENCE;
  return RC_OK;
}

int16_t StoreTerminalStatus(const uint8_t *reply, uint16_t *status) {
  *status = reply[kPayloadStatus];
  return reply[kPayloadStatus] == 0 ? RC_OK : RC_TERMINAL_ERROR;
}

}  // namespace quib
