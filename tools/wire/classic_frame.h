// Classic panel frames on the wire: STX, a command character, an address and a count in
// upper-case hex digits, data digits for a write, ETX and two checksum digits. Replies are STX,
// data digits, ETX and the checksum, or the single byte ACK or NAK.
#pragma once

#include <cstdint>
#include <string>

#include "wire/common.h"

namespace quiblink::wire::classic {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr unsigned kMaxCount = 64;

struct Request {
  bool read = false;
  uint8_t command = 0;  // the command character
  uint32_t address = 0;
  unsigned count = 0;
  Bytes data;  // memory order (pair swap undone)
};

// Whether a command character is one of the short-address set ("0" read, "1" write), whose
// addresses have four digits and whose data travels pair-swapped.
inline bool ShortAddress(uint8_t command) {
  return command == '0' || command == '1';
}

// Reads a request of the short-address set (four-digit addresses, data pair-swapped, even
// counts) or of the long one (six digits). Returns an empty text and fills the request, or says
// why the frame is no request of that set.
std::string ParseRequest(const Bytes &frame, bool short_address, Request *request);

// Low 8 bits of the sum of the bytes after STX up to the ETX (included); frame holds at least
// STX, ETX and two digits. Whether the two digits after the ETX state that sum.
bool ChecksumGood(const Bytes &frame);

// "ACK", "NAK", "data, N bytes", "?".
std::string DescribeReply(const Bytes &reply);

// Value of count upper-case hex digits at p; -1 if one is not such a digit.
long ReadDigits(const uint8_t *p, int count);

void SwapPairs(Bytes &data);

}  // namespace quiblink::wire::classic
