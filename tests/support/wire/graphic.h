// The graphic terminals' binary protocol: start byte (FE request, FF reply),
// length field (data + 6, low byte first), command, subcommand, continuation,
// sequence, status or reserved byte, data, and the low byte of the sum of every
// byte after the start byte.
#pragma once

#include "support/wire/wire.h"

namespace wire::graphic {

// A frame of n data bytes at out, with an explicit length field so that a
// reply can lie about it; returns its length, n + 9.
inline size_t PutFrame(uint8_t *out, uint8_t start, uint32_t length_field, uint8_t command,
                       uint8_t subcommand, uint8_t continuation, uint8_t sequence, uint8_t byte7,
                       const uint8_t *data, size_t n) {
  for (size_t i = n; i-- > 0;) out[8 + i] = data[i];  // from the end: data may sit at out + 8
  const uint8_t head[8] = {start,
                           static_cast<uint8_t>(length_field),
                           static_cast<uint8_t>(length_field >> 8),
                           command,
                           subcommand,
                           continuation,
                           sequence,
                           byte7};
  for (size_t i = 0; i < 8; ++i) out[i] = head[i];
  unsigned sum = 0;
  for (size_t i = 1; i < n + 8; ++i) sum += out[i];
  out[n + 8] = static_cast<uint8_t>(sum);
  return n + 9;
}
inline Bytes Frame(uint8_t start, uint32_t length_field, uint8_t command, uint8_t subcommand,
                   uint8_t continuation, uint8_t sequence, uint8_t byte7, const Bytes &data) {
  Bytes f(data.size() + 9);
  PutFrame(f.data(), start, length_field, command, subcommand, continuation, sequence, byte7,
           data.data(), data.size());
  return f;
}
inline Bytes Request(uint8_t command, uint8_t subcommand, uint8_t continuation, uint8_t sequence,
                     const Bytes &data = {}) {
  return Frame(0xFE, uint32_t(data.size() + 6), command, subcommand, continuation, sequence, 0,
               data);
}
inline Bytes Reply(uint8_t command, uint8_t subcommand, uint8_t continuation, uint8_t sequence,
                   uint8_t status, const Bytes &data = {}) {
  return Frame(0xFF, uint32_t(data.size() + 6), command, subcommand, continuation, sequence, status,
               data);
}

inline uint8_t SumAfterStart(const Bytes &frame) {
  unsigned sum = 0;
  for (size_t i = 1; i < frame.size(); ++i) sum += frame[i];
  return static_cast<uint8_t>(sum);
}
inline Bytes WithBadChecksum(Bytes frame) {
  frame.back() = static_cast<uint8_t>(frame.back() + 1);
  return frame;
}

// Block read reply data: grouped (group, count, data) or of an area (count, data).
inline Bytes GroupBlock(uint16_t group, const Bytes &data) {
  return Cat({Le16(group), Le16(static_cast<uint32_t>(data.size())), data});
}
inline Bytes AreaBlock(const Bytes &data) {
  return Cat({Le16(static_cast<uint32_t>(data.size())), data});
}

// Length of the frame at the start of bytes, by its length field; 0 while it
// is incomplete.
inline size_t FrameLength(const uint8_t *bytes, size_t have) {
  if (have < 3) return 0;
  const size_t total = size_t(bytes[1] | (bytes[2] << 8)) + 3;
  return have >= total ? total : 0;
}

enum ProbeKind { kFixed, kVariable };

// What one attempt makes of the bytes that reached the library, the reply
// being announced as `announced` bytes long.
inline Attempt ReplyAttempt(ProbeKind probe, size_t announced, const Bytes &got) {
  if (got.empty()) return {kNoResponse, false, {}};
  if (got[0] != 0xFF) return {kBadStart, true, {}};
  size_t expected = announced;
  if (probe == kVariable && got.size() >= 3) {
    const int field = ReadLe16(&got[1]);
    // A length that is no frame, that is longer than the request announced
    // or that cannot fit the receive buffer is refused as soon as it is seen.
    // A fixed-length reply is read to its announced end and judged whole.
    if (field < 6 || field + 3 > static_cast<int>(announced) || field + 3 > kRxBufferSize) {
      return {kBadLength, true, {}};
    }
    expected = static_cast<size_t>(field + 3);
  }
  if (got.size() < expected || expected > kRxBufferSize) return {kIncomplete, false, {}};
  const Bytes reply(got.begin(), got.begin() + static_cast<long>(expected));
  if (expected < 9 || ReadLe16(&reply[1]) + 3 != static_cast<int>(expected)) {
    return {kBadLength, false, {}};
  }
  if (SumAfterStart(Bytes(reply.begin(), reply.end() - 1)) != reply[expected - 1]) {
    return {kChecksum, false, {}};
  }
  return {kOk, true, Bytes(reply.begin() + 1, reply.end() - 1)};
}

// Reply payload offsets: the frame without its start byte and checksum.
constexpr int kLength = 0, kCommand = 2, kSubcommand = 3, kContinuation = 4, kSequence = 5,
              kStatus = 6, kData = 7;

}  // namespace wire::graphic
