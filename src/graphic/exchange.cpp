#include "graphic/exchange.h"

#include "engine/engine.h"
#include "graphic/codec.h"
#include "quiblink/quiblink.h"

namespace quib {

int16_t CheckGraphicChannel(uint16_t handle) {
  if (handle >= kChannelCount) return RC_BAD_ARGUMENT;
  if (State.Handles[handle].Port.load() == -1) return RC_NOT_OPEN;
  // A classic panel cannot understand a graphic frame: it would stay silent
  // through every attempt.
  if (!ChannelIsOfFamily(handle, kFamilyGraphic)) return RC_BAD_ARGUMENT;
  return RC_OK;
}

int16_t ExchangeGraphicFrame(Transfer *transfer, const uint8_t *frame, uint16_t frame_length,
                             uint16_t expected_length, LengthProbe probe, uint8_t *reply,
                             uint16_t *payload_length) {
  const RequestDescriptor request{frame_length,       expected_length, ReplyTimeoutSeconds,
                                  DecodeGraphicReply, probe,           reply};
  *payload_length = 0;
  return TransferCall(transfer, request, frame, payload_length);
}

int16_t ExchangeGraphicFrame(uint16_t handle, const uint8_t *frame, uint16_t frame_length,
                             uint16_t expected_length, LengthProbe probe, uint8_t *reply,
                             uint16_t *payload_length) {
  Transfer single = BeginTransfer(handle);
  const int16_t rc = ExchangeGraphicFrame(&single, frame, frame_length, expected_length, probe,
                                          reply, payload_length);
  EndTransfer(&single);
  return rc;
}

int16_t StoreTerminalStatus(const uint8_t *reply, uint16_t *status) {
  *status = reply[kPayloadStatus];
  return reply[kPayloadStatus] == 0 ? RC_OK : RC_TERMINAL_ERROR;
}

}  // namespace quib
