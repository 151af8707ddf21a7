// The tests' one model of the wire, written from the protocol rules and never
// from the library or the tools: what a request must look like, what a
// terminal answers, and what the library must make of a reply. classic.h and
// graphic.h hold the two families; this file what both share. Every helper
// that builds a frame has a form that writes into a caller's buffer, so that a
// terminal that must not allocate (tests/hardening) builds with the same code.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace wire {

using Bytes = std::vector<uint8_t>;

// The bytes as "02 45 ...", for messages.
inline std::string Dump(const Bytes &bytes) {
  std::string out;
  char two[4];
  for (uint8_t b : bytes) {
    snprintf(two, sizeof two, "%02X ", b);
    out += two;
  }
  return out;
}

// The bytes as upper-case hexadecimal text, two digits each: "0245...".
inline std::string HexText(const Bytes &bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Little-endian fields, low byte first.
inline Bytes Le16(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
}
inline Bytes Le32(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}
inline void PutLe16(Bytes &out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}
// Read as the callers compare lengths and counts: signed 16 bits.
inline int16_t ReadLe16(const uint8_t *p) {
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}
inline uint32_t ReadLe32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Byte k of a pattern that differs from seed to seed and from block to block.
inline uint8_t PatternByte(size_t k, uint8_t seed) {
  return static_cast<uint8_t>(seed + k * 7 + (k >> 8));
}
inline Bytes Pattern(size_t n, uint8_t seed) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = PatternByte(i, seed);
  return out;
}

// Result codes as numbers, so that a model does not take them from the
// library's header.
enum Rc : int16_t {
  kOk = 0,
  kPortOpenFailed = -1,
  kBadArgument = -2,
  kNotOpen = -3,
  kBusy = -4,
  kTxFailed = -7,
  kNoResponse = -13,
  kChecksum = -17,
  kIncomplete = -18,
  kNak = -19,
  kBadStart = -20,
  kNoEtx = -21,
  kBadLength = -30,
  kBadEcho = -31,
  kSequence = -32,
  kBadPort = -33,  // open: port above 9; graphic: malformed operating-system information
  kBadProjectInfo = -34,
  kBadGroup = -35,
  kTerminalError = -36,
  kBufferTooSmall = -40,  // extension: a sized read stopped at the buffer's end
};

// The port worker's receive buffer: no reply it reads is longer.
constexpr int kRxBufferSize = 1100;

// How one attempt of an exchange ends, as the port worker must see it.
struct Attempt {
  int16_t status;  // 0 or a result code
  bool final;      // no further attempt follows (success or a probe's refusal)
  Bytes payload;   // on success
};

}  // namespace wire
