#include "classic/codec.h"

#include "core/state.h"
#include "core/trace.h"
#include "quiblink/quiblink.h"

namespace quib {

namespace {

constexpr uint8_t kReadCommand = 'E';
constexpr uint8_t kWriteCommand = 'F';
constexpr uint8_t kWordReadCommand = '0';
constexpr uint8_t kWordWriteCommand = '1';
constexpr uint32_t kWordAddressBase = 0x8080;

// Read offsets of the memory areas by area type; columns: model code 1,
// model code 0, every other model code. Area 3 of model 0 really does sit at
// 0x2232A, not 0x22800.
constexpr uint32_t kAreaOffset[kClassicMaxArea + 1][3] = {
    {0x00000, 0x00000, 0x00000},
    {0x10000, 0x20000, 0x20000},
    {0x12000, 0x22000, 0x22000},
    {0x12800, 0x2232A, 0x22800},
};

int AreaColumn(uint16_t model) {
  if (model == 1) return 0;
  if (model == 0) return 1;
  return 2;
}

// Model-3 panels keep 16-bit words high byte first: byte k of a run travels
// at the place of its pair partner. An unpaired last byte of an odd run has no
// partner and travels at its own place.
uint16_t PairPartner(uint16_t k, uint16_t count) {
  if (k % 2 == 1) return k - 1;
  return k + 1 < count ? k + 1 : k;
}

uint8_t Checksum(const uint8_t *bytes, uint16_t from, uint16_t through) {
  uint8_t sum = 0;
  for (uint16_t i = from; i <= through; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum;
}

}  // namespace

void PutHex(uint32_t value, uint8_t *destination, int16_t digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int16_t i = digits - 1; i >= 0; --i) {
    destination[i] = static_cast<uint8_t>(kDigits[value & 0xF]);
    value >>= 4;
  }
}

int32_t GetHex(const uint8_t *text, int16_t digits) {
  uint32_t value = 0;
  for (int16_t i = 0; i < digits; ++i) {
    const int32_t digit = text[i] >= 'A' ? text[i] - 0x37 : text[i] - 0x30;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return static_cast<int32_t>(value);
}

uint32_t ClassicWireOffset(uint16_t model, uint16_t area, bool read) {
  if (model == kClassicModelWord) return kWordAddressBase;
  if (!read || area > kClassicMaxArea) return 0;
  return kAreaOffset[area][AreaColumn(model)];
}

uint32_t ClassicWireLimit(uint16_t model) {
  return model == kClassicModelWord ? 0xFFFFu : 0xFFFFFFu;
}

uint16_t TerminateClassicFrame(uint8_t *frame, uint16_t position) {
  frame[position] = kEtx;
  PutHex(Checksum(frame, 1, position), frame + position + 1, 2);
  frame[position + 3] = 0;
  return static_cast<uint16_t>(position + 3);
}

uint16_t BuildClassicRead(uint16_t model, uint16_t area, int32_t address, uint16_t count,
                          uint8_t *frame, uint16_t *expected) {
  if (count > kClassicMaxCount) return 0;
  if (model != kClassicModelWord && area > kClassicMaxArea) return 0;
  *expected = static_cast<uint16_t>(2 * count + 4);
  frame[0] = kStx;
  if (model == kClassicModelWord) {
    frame[1] = kWordReadCommand;
    PutHex(static_cast<uint32_t>(address) + ClassicWireOffset(model, area, true), frame + 2, 4);
    PutHex(count, frame + 6, 2);
    return TerminateClassicFrame(frame, 8);
  }
  frame[1] = kReadCommand;
  PutHex(static_cast<uint32_t>(address) + ClassicWireOffset(model, area, true), frame + 2, 6);
  PutHex(count, frame + 8, 2);
  return TerminateClassicFrame(frame, 10);
}

uint16_t BuildClassicWrite(uint16_t model, int32_t address, uint16_t count, const uint8_t *data,
                           uint8_t *frame, uint16_t *expected) {
  if (count > kClassicMaxCount) return 0;
  *expected = 1;
  frame[0] = kStx;
  if (model == kClassicModelWord) {
    frame[1] = kWordWriteCommand;
    PutHex(static_cast<uint32_t>(address) + kWordAddressBase, frame + 2, 4);
    PutHex(count, frame + 6, 2);
    for (uint16_t k = 0; k < count; ++k) PutHex(data[PairPartner(k, count)], frame + 8 + 2 * k, 2);
    return TerminateClassicFrame(frame, static_cast<uint16_t>(8 + 2 * count));
  }
  frame[1] = kWriteCommand;
  PutHex(static_cast<uint32_t>(address), frame + 2, 6);
  PutHex(count, frame + 8, 2);
  for (uint16_t k = 0; k < count; ++k) PutHex(data[k], frame + 10 + 2 * k, 2);
  return TerminateClassicFrame(frame, static_cast<uint16_t>(10 + 2 * count));
}

int16_t CheckClassicStart(const uint8_t *reply, uint8_t expected) {
  return reply[0] == kNak || reply[0] == expected ? RC_OK : RC_BAD_START;
}

int16_t CheckClassicTrailer(const uint8_t *reply, uint16_t length) {
  // STX, ETX and two checksum digits at the least; anything shorter has no
  // place for an ETX in front of a checksum.
  if (length < 4 || reply[length - 3] != kEtx) return RC_NO_ETX;
  if (Checksum(reply, 1, static_cast<uint16_t>(length - 3)) !=
      static_cast<uint8_t>(GetHex(reply + length - 2, 2))) {
    return RC_CHECKSUM;
  }
  return RC_OK;
}

namespace {

int16_t ProbeClassic(uint16_t received, const uint8_t *rx, uint8_t start, uint16_t *expected) {
  if (received == 0) return 0;
  const int16_t status = CheckClassicStart(rx, start);
  if (status != RC_OK) return status;
  if (rx[0] == kNak) *expected = 1;
  return 0;
}

}  // namespace

int16_t ProbeClassicRead(int16_t, uint16_t received, const uint8_t *rx, uint16_t *expected) {
  return ProbeClassic(received, rx, kStx, expected);
}

int16_t ProbeClassicWrite(int16_t, uint16_t received, const uint8_t *rx, uint16_t *expected) {
  return ProbeClassic(received, rx, kAck, expected);
}

int16_t DecodeClassicRead(int16_t port, uint16_t length, const uint8_t *rx, uint8_t *payload,
                          uint16_t *payload_length) {
  *payload_length = 0;
  if (length == 0) return RC_INCOMPLETE;
  const int16_t start = CheckClassicStart(rx, kStx);
  if (start != RC_OK) return start;
  if (rx[0] != kStx) return RC_NAK;
  const int16_t trailer = CheckClassicTrailer(rx, length);
  if (trailer != RC_OK) return trailer;
  // The request this reply answers: its command tells the panel's byte
  // order, its count digits the bytes the reply must carry.
  const uint8_t *request = State.Ports[port].TxBuffer;
  const bool word_model = request[1] == kWordReadCommand;
  const int32_t count = GetHex(request + (word_model ? 6 : 8), 2);
  if (count <= 0) return RC_OK;
  // The reply carries exactly the bytes the request asked for; an ETX in any
  // other place means the digits cannot be matched to the request.
  if (2 * count + 4 != length) return RC_NO_ETX;
  const uint16_t n = static_cast<uint16_t>(count);
  for (uint16_t i = 0; i < n; ++i) {
    const uint16_t source = word_model ? PairPartner(i, n) : i;
    payload[i] = static_cast<uint8_t>(GetHex(rx + 1 + 2 * source, 2));
  }
  *payload_length = n;
  return RC_OK;
}

int16_t DecodeClassicWrite(int16_t, uint16_t length, const uint8_t *rx, uint8_t *,
                           uint16_t *payload_length) {
  *payload_length = 0;
  if (length == 0) return RC_INCOMPLETE;
  const int16_t start = CheckClassicStart(rx, kAck);
  if (start != RC_OK) {
    Trace("OTHER RECEIVED!\n");
    return start;
  }
  if (rx[0] == kAck) {
    Trace("ACK RECEIVED!\n");
    return RC_OK;
  }
  Trace("NAK RECEIVED!\n");
  return RC_NAK;
}

}  // namespace quib
