// Graphic terminal frame codec: request builders, the checksum, little-endian
// field readers, and the reply decoder and length probes that the port worker
// calls. No state, no trace lines.
//
// Request: FE, length lo, length hi, command, subcommand, continuation,
// sequence, 0, data, checksum. Reply: the same with FF and the status byte in
// place of the reserved byte. Length field = data bytes + 6; the checksum is
// the low byte of the sum of every byte after the start byte.
#pragma once

#include <stdint.h>

namespace quib {

constexpr uint8_t kGraphicRequestStart = 0xFE;
constexpr uint8_t kGraphicReplyStart = 0xFF;

// Every graphic operation builds its request in a frame buffer of this size:
// the longest frame, 1037 bytes, plus the zero byte behind it.
constexpr int kGraphicFrameSize = 1040;
constexpr uint16_t kGraphicMaxData = 1024;
constexpr uint16_t kGraphicShortestFrame = 9;

// Field offsets in a reply payload (the reply frame without its start byte
// and checksum, as the transaction call hands it over).
constexpr int kPayloadLength = 0;
constexpr int kPayloadCommand = 2;
constexpr int kPayloadSubcommand = 3;
constexpr int kPayloadContinuation = 4;
constexpr int kPayloadSequence = 5;
constexpr int kPayloadStatus = 6;
constexpr int kPayloadData = 7;
constexpr uint16_t kPayloadHeaderSize = 7;

// Builds a header-only request of a command code in the command table and
// reports the reply length it expects (ExpectedReplyLength). Returns the
// frame length, or 0 (frame and *expected untouched) for any other code.
uint16_t BuildGraphicRequest(uint8_t command, uint8_t subcommand, uint16_t group, uint8_t *frame,
                             uint16_t *expected, uint8_t continuation);

// Command 81: the password bytes as they are, behind their length.
uint16_t BuildPasswordRequest(uint8_t length, const uint8_t *password, uint8_t *frame,
                              uint16_t *expected);

// Block write frames: install (command 18: option byte, count, data), grouped
// block (subcommand 1: group, count, data) or plain block (count, data).
// Returns 0 without writing anything when count exceeds 1024.
uint16_t BuildDataRequest(uint8_t command, uint8_t subcommand, uint16_t field, uint16_t count,
                          const uint8_t *data, uint8_t *frame, uint16_t *expected, uint8_t sequence,
                          uint8_t continuation);

// Stores the checksum over offsets 1 .. length_field + 1 and a zero byte
// behind it; returns the frame length, length_field + 3.
uint16_t GraphicChecksum(uint16_t length_field, uint8_t *frame);

int16_t ReadLe16(const uint8_t *bytes);
uint32_t ReadLe32(const uint8_t *bytes);

// RC_OK when the first byte is the expected one, else RC_BAD_START.
int16_t CheckStartByte(uint8_t expected, const uint8_t *rx);
// RC_OK when the last byte of the length-byte frame is its checksum, else
// RC_CHECKSUM.
int16_t CheckReplyChecksum(const uint8_t *rx, int16_t length);

// Reply decoder: start byte, frame length, length field, checksum, in that
// order. Copies the payload, length - 2 bytes, and returns 0, or returns the
// first check's result code.
int16_t DecodeGraphicReply(int16_t port, uint16_t length, const uint8_t *rx, uint8_t *payload,
                           uint16_t *payload_length);

// Variable-length probe: once the length field is in, the reply is length
// field + 3 bytes long. A length field below 6, one beyond the length the
// request announced (whose buffer it would overrun), or a reply that would not
// fit the port's 1100-byte receive buffer, is refused with RC_BAD_LENGTH at
// once rather than left to run into the reply time-out.
int16_t ProbeGraphicLength(int16_t port, uint16_t received, const uint8_t *rx, uint16_t *expected);

// Fixed-length probe: checks the start byte only; the length field is the
// decoder's to judge, so a reply that disagrees with it is repeated.
int16_t ProbeGraphicStart(int16_t port, uint16_t received, const uint8_t *rx, uint16_t *expected);

// True when a payload of payload_length bytes holds size bytes at offset.
inline bool PayloadCovers(uint16_t payload_length, int offset, int size) {
  return offset >= 0 && size >= 0 && offset + size <= payload_length;
}

}  // namespace quib
