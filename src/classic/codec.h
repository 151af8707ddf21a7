// Classic panel frames: ASCII requests (STX, command character, hex address
// and count, hex data, ETX, two checksum digits) and the length probes and
// reply decoders the port worker runs on the replies.
#pragma once

#include <stdint.h>

namespace quib {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;

constexpr uint16_t kClassicMaxCount = 64;  // data bytes a frame carries at most
constexpr uint16_t kClassicModelWord = 3;  // the word-addressed panels: pair swap, 0x8080
constexpr uint16_t kClassicMaxArea = 3;

// Writes digits upper-case hex digits of value, most significant first;
// digits beyond the eighth are zeros.
void PutHex(uint32_t value, uint8_t *destination, int16_t digits);
// Reads digits characters as hex. Characters from 'A' up count as code - 0x37,
// all others as code - 0x30; nothing is refused, so 'a' counts as 42.
int32_t GetHex(const uint8_t *text, int16_t digits);

// What a request's address field carries: the wire address is the address
// the builder is given plus this offset (the area's place for a read, 0x8080
// with model 3, nothing for a write otherwise), and it has room up to the
// limit (four digits with model 3, six otherwise). Area above 3 on models
// other than 3: 0.
uint32_t ClassicWireOffset(uint16_t model, uint16_t area, bool read);
uint32_t ClassicWireLimit(uint16_t model);

// Stores ETX at position, the checksum of bytes 1..position behind it and a
// zero byte after that. Returns the frame length, position + 3.
uint16_t TerminateClassicFrame(uint8_t *frame, uint16_t position);

// Bytes a request frame takes with the zero byte behind it, by model code:
// STX, command, address digits (four with model 3, six otherwise), two count
// digits, two digits per data byte, ETX and two checksum digits.
constexpr uint16_t ClassicFrameSize(uint16_t model, uint16_t data_count) {
  return static_cast<uint16_t>((model == kClassicModelWord ? 12 : 14) + 2 * data_count);
}
constexpr uint16_t ClassicReadFrameSize(uint16_t model) {
  return ClassicFrameSize(model, 0);
}
constexpr uint16_t ClassicWriteFrameSize(uint16_t model, uint16_t count) {
  return ClassicFrameSize(model, count);
}

// Request builders for a panel of the given model code. The frame buffer must
// hold ClassicReadFrameSize(model) or ClassicWriteFrameSize(model, count)
// bytes. They return the frame length, or 0 when count is above 64 (or, for a
// read on a panel other than model 3, the area is above 3); nothing is
// written then.
uint16_t BuildClassicRead(uint16_t model, uint16_t area, int32_t address, uint16_t count,
                          uint8_t *frame, uint16_t *expected);
uint16_t BuildClassicWrite(uint16_t model, int32_t address, uint16_t count, const uint8_t *data,
                           uint8_t *frame, uint16_t *expected);

// RC_OK when the first reply byte is NAK or expected, else RC_BAD_START.
int16_t CheckClassicStart(const uint8_t *reply, uint8_t expected);
// RC_OK when the byte before the two checksum digits is ETX (RC_NO_ETX
// otherwise) and the checksum matches (RC_CHECKSUM otherwise).
int16_t CheckClassicTrailer(const uint8_t *reply, uint16_t length);

// Length probes and reply decoders, as the port worker calls them. The read
// decoder takes the count and the byte order from the request in the port's
// transmit buffer: the word-read command marks a model-3 panel.
int16_t ProbeClassicRead(int16_t port, uint16_t received, const uint8_t *rx, uint16_t *expected);
int16_t ProbeClassicWrite(int16_t port, uint16_t received, const uint8_t *rx, uint16_t *expected);
int16_t DecodeClassicRead(int16_t port, uint16_t length, const uint8_t *rx, uint8_t *payload,
                          uint16_t *payload_length);
int16_t DecodeClassicWrite(int16_t port, uint16_t length, const uint8_t *rx, uint8_t *payload,
                           uint16_t *payload_length);

}  // namespace quib
