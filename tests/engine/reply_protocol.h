// A small made-up reply protocol for the engine tests, so that they depend on
// no terminal codec: a reply is AA, n, n payload bytes, and the XOR of the
// payload. A lone 0x15 is a refusal.
#pragma once

#include <stdint.h>

#include <vector>

namespace enginetest {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kStart = 0xAA;
constexpr uint8_t kRefusal = 0x15;
constexpr int16_t kRefusedStatus = -19;

inline Bytes Reply(const Bytes &payload) {
  Bytes reply{kStart, static_cast<uint8_t>(payload.size())};
  uint8_t check = 0;
  for (uint8_t b : payload) {
    reply.push_back(b);
    check ^= b;
  }
  reply.push_back(check);
  return reply;
}

}  // namespace enginetest
