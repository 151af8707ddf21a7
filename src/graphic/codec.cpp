#include "graphic/codec.h"

#include <string.h>

#include "core/state.h"
#include "graphic/command_table.h"
#include "quiblink/quiblink.h"

namespace quib {

namespace {

// Bytes from offset 1 up to the longest frame's checksum; builders clear them
// so that a frame never carries a previous call's bytes.
constexpr int kClearedSpan = 1036;

void PutLe16(uint8_t *at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value & 0xFF);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void StartFrame(uint8_t *frame, uint16_t length_field, uint8_t command, uint8_t subcommand,
                uint8_t continuation, uint8_t sequence) {
  memset(frame + 1, 0, kClearedSpan);
  frame[0] = kGraphicRequestStart;
  PutLe16(frame + 1, length_field);
  frame[3] = command;
  frame[4] = subcommand;
  frame[5] = continuation;
  frame[6] = sequence;
  frame[7] = 0;
}

}  // namespace

uint16_t BuildGraphicRequest(uint8_t command, uint8_t subcommand, uint16_t group, uint8_t *frame,
                             uint16_t *expected, uint8_t continuation) {
  const uint16_t reply_length = ExpectedReplyLength(command, subcommand);
  if (reply_length == 0) return 0;
  *expected = reply_length;
  const GraphicCommand &grouped_read = GraphicCommandOf(kCmdReadOneGroup);
  const bool grouped = command == grouped_read.Code && subcommand == grouped_read.Subcommand;
  const uint16_t length_field = grouped ? 8 : 6;
  StartFrame(frame, length_field, command, subcommand, continuation, 0);
  if (grouped) PutLe16(frame + 8, group);
  return GraphicChecksum(length_field, frame);
}

uint16_t BuildPasswordRequest(uint8_t length, const uint8_t *password, uint8_t *frame,
                              uint16_t *expected) {
  const GraphicCommand &row = GraphicCommandOf(kCmdPassword);
  *expected = row.ReplyLength;
  const uint16_t length_field = static_cast<uint16_t>(length + 7);
  StartFrame(frame, length_field, row.Code, static_cast<uint8_t>(row.Subcommand), 0, 0);
  frame[8] = length;
  if (length > 0) memcpy(frame + 9, password, length);
  return GraphicChecksum(length_field, frame);
}

uint16_t BuildDataRequest(uint8_t command, uint8_t subcommand, uint16_t field, uint16_t count,
                          const uint8_t *data, uint8_t *frame, uint16_t *expected, uint8_t sequence,
                          uint8_t continuation) {
  if (count > kGraphicMaxData) return 0;
  const GraphicCommand &install = GraphicCommandOf(kCmdInstall);
  *expected = install.ReplyLength;
  uint16_t header;  // data bytes in front of the count
  if (command == install.Code) {
    header = 1;
  } else if (subcommand == 1) {
    header = 2;
  } else {
    header = 0;
  }
  const uint16_t length_field = static_cast<uint16_t>(count + header + 8);
  StartFrame(frame, length_field, command, subcommand, continuation, sequence);
  uint8_t *at = frame + 8;
  if (header == 1) {
    *at = static_cast<uint8_t>(field & 0xFF);
  } else if (header == 2) {
    PutLe16(at, field);
  }
  at += header;
  PutLe16(at, count);
  if (count > 0) memcpy(at + 2, data, count);
  return GraphicChecksum(length_field, frame);
}

uint16_t GraphicChecksum(uint16_t length_field, uint8_t *frame) {
  uint8_t sum = 0;
  for (int i = 1; i <= length_field + 1; ++i) sum = static_cast<uint8_t>(sum + frame[i]);
  frame[length_field + 2] = sum;
  frame[length_field + 3] = 0;
  return static_cast<uint16_t>(length_field + 3);
}

int16_t ReadLe16(const uint8_t *bytes) {
  return static_cast<int16_t>(static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)));
}

uint32_t ReadLe32(const uint8_t *bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

int16_t CheckStartByte(uint8_t expected, const uint8_t *rx) {
  return rx[0] == expected ? RC_OK : RC_BAD_START;
}

int16_t CheckReplyChecksum(const uint8_t *rx, int16_t length) {
  if (length < 2) return RC_CHECKSUM;
  uint8_t sum = 0;
  for (int i = 1; i <= length - 2; ++i) sum = static_cast<uint8_t>(sum + rx[i]);
  return sum == rx[length - 1] ? RC_OK : RC_CHECKSUM;
}

int16_t DecodeGraphicReply(int16_t /*port*/, uint16_t length, const uint8_t *rx, uint8_t *payload,
                           uint16_t *payload_length) {
  *payload_length = 0;
  if (length == 0) return RC_BAD_LENGTH;
  const int16_t start = CheckStartByte(kGraphicReplyStart, rx);
  if (start != RC_OK) return start;
  // Shorter than a header and checksum, or longer than the payload buffer can
  // take: nothing in it can be trusted.
  if (length < kGraphicShortestFrame || length > kBufferSize ||
      ReadLe16(rx + 1) + 3 != static_cast<int>(length)) {
    return RC_BAD_LENGTH;
  }
  const int16_t checksum = CheckReplyChecksum(rx, static_cast<int16_t>(length));
  if (checksum != RC_OK) return checksum;
  memcpy(payload, rx + 1, length - 2);
  *payload_length = static_cast<uint16_t>(length - 2);
  return RC_OK;
}

// *expected holds the length the request announced until a probe replaces it
// with the reply's own; a reply may be shorter than announced (a refusal, a
// last block) but never longer: its payload would not fit the buffer that the
// announced length sized. Later calls see the replaced length, which the same
// length field matches again.
int16_t ProbeGraphicLength(int16_t /*port*/, uint16_t received, const uint8_t *rx,
                           uint16_t *expected) {
  const int16_t status = CheckStartByte(kGraphicReplyStart, rx);
  if (status != RC_OK) return status;
  if (received < 3) return 0;
  const int field = ReadLe16(rx + 1);
  if (field < kGraphicShortestFrame - 3 || field + 3 > kBufferSize || field + 3 > *expected) {
    return RC_BAD_LENGTH;
  }
  *expected = static_cast<uint16_t>(field + 3);
  return 0;
}

// The total stays the announced one, whatever the length field says: a
// fixed-length reply whose field disagrees is the decoder's RC_BAD_LENGTH, repeated
// like every refusal of a reply that arrived whole (one flipped bit in a
// length byte is line noise, not a terminal that means something else).
int16_t ProbeGraphicStart(int16_t /*port*/, uint16_t /*received*/, const uint8_t *rx,
                          uint16_t * /*expected*/) {
  return CheckStartByte(kGraphicReplyStart, rx);
}

}  // namespace quib
