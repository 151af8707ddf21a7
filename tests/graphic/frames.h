// Graphic terminal frames laid out by hand for the tests, independently of
// the library's builders: start byte, length field (data + 6, low byte
// first), command, subcommand, continuation, sequence, status or reserved
// byte, data, and the low byte of the sum of everything after the start byte.
#pragma once

#include <stdint.h>

#include <initializer_list>
#include <vector>

namespace gt {

using Bytes = std::vector<uint8_t>;

inline Bytes Le16(uint32_t value) {
  return {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>((value >> 8) & 0xFF)};
}

inline Bytes Le32(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline uint8_t SumAfterStart(const Bytes &frame) {
  unsigned sum = 0;
  for (size_t i = 1; i < frame.size(); ++i) sum += frame[i];
  return static_cast<uint8_t>(sum);
}

// A frame with an explicit length field, for replies that lie about it.
inline Bytes RawFrame(uint8_t start, uint32_t length_field, uint8_t command, uint8_t subcommand,
                      uint8_t continuation, uint8_t sequence, uint8_t byte7, const Bytes &data) {
  Bytes f = Cat(
      {{start}, Le16(length_field), {command, subcommand, continuation, sequence, byte7}, data});
  f.push_back(SumAfterStart(f));
  return f;
}

inline Bytes Reply(uint8_t command, uint8_t subcommand, uint8_t continuation, uint8_t sequence,
                   uint8_t status, const Bytes &data = {}) {
  return RawFrame(0xFF, static_cast<uint32_t>(data.size() + 6), command, subcommand, continuation,
                  sequence, status, data);
}

inline Bytes Request(uint8_t command, uint8_t subcommand, uint8_t continuation, uint8_t sequence,
                     const Bytes &data = {}) {
  return RawFrame(0xFE, static_cast<uint32_t>(data.size() + 6), command, subcommand, continuation,
                  sequence, 0, data);
}

// Block read reply data: grouped area (group, count, data) or plain area.
inline Bytes GroupBlock(uint16_t group, const Bytes &data) {
  return Cat({Le16(group), Le16(static_cast<uint32_t>(data.size())), data});
}
inline Bytes AreaBlock(const Bytes &data) {
  return Cat({Le16(static_cast<uint32_t>(data.size())), data});
}

// n bytes of a pattern that differs from block to block.
inline Bytes Pattern(size_t n, uint8_t seed) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return out;
}

inline Bytes WithBadChecksum(Bytes frame) {
  frame.back() = static_cast<uint8_t>(frame.back() + 1);
  return frame;
}

}  // namespace gt
