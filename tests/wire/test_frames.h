// Frames built on the test side, with checksums computed here, so a mistake in the tools' own
// frame code cannot hide behind the same mistake in the test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quiblink::wire::test {

using Bytes = std::vector<uint8_t>;

// "02 45 30" -> bytes; spaces ignored.
inline Bytes Hex(const std::string &text) {
  Bytes out;
  std::string digits;
  for (char c : text) {
    if (c != ' ') digits.push_back(c);
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// Classic request: STX, the text, ETX, then the two checksum digits of text + ETX.
inline Bytes ClassicRequest(const std::string &text) {
  std::string frame = "\x02" + text + "\x03";
  unsigned sum = 0;
  for (size_t i = 1; i < frame.size(); ++i) sum += static_cast<uint8_t>(frame[i]);
  const char *digits = "0123456789ABCDEF";
  frame += digits[(sum >> 4) & 0xF];
  frame += digits[sum & 0xF];
  return Bytes(frame.begin(), frame.end());
}

// Graphic frame with the given start byte; length field = data + 6; checksum over 1..end-1.
inline Bytes GraphicFrame(uint8_t start, uint8_t command, uint8_t sub, uint8_t flag, uint8_t seq,
                          uint8_t status, const Bytes &data = {}) {
  size_t length = data.size() + 6;
  Bytes frame;
  frame.reserve(length + 3);
  for (uint8_t b : {start, static_cast<uint8_t>(length & 0xFF), static_cast<uint8_t>(length >> 8),
                    command, sub, flag, seq, status}) {
    frame.push_back(b);
  }
  for (uint8_t b : data) frame.push_back(b);
  unsigned sum = 0;
  for (size_t i = 1; i < frame.size(); ++i) sum += frame[i];
  frame.push_back(static_cast<uint8_t>(sum));
  return frame;
}

inline Bytes GraphicRequest(uint8_t command, uint8_t sub, uint8_t flag = 0, uint8_t seq = 0,
                            const Bytes &data = {}) {
  return GraphicFrame(0xFE, command, sub, flag, seq, 0, data);
}

inline Bytes Le16(unsigned value) {
  return {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>((value >> 8) & 0xFF)};
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Pattern(size_t size, unsigned seed) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>((i * 31 + seed * 17 + i / 256));
  return out;
}

// Fields of a graphic reply frame, after checking its start, length field and checksum.
struct ParsedReply {
  bool well_formed = false;
  uint8_t command = 0, sub = 0, flag = 0, seq = 0, status = 0;
  Bytes data;
};

inline ParsedReply ParseReply(const Bytes &frame) {
  ParsedReply r;
  if (frame.size() < 9 || frame[0] != 0xFF) return r;
  if (static_cast<size_t>(frame[1] | (frame[2] << 8)) + 3 != frame.size()) return r;
  unsigned sum = 0;
  for (size_t i = 1; i + 1 < frame.size(); ++i) sum += frame[i];
  if (static_cast<uint8_t>(sum) != frame.back()) return r;
  r.well_formed = true;
  r.command = frame[3];
  r.sub = frame[4];
  r.flag = frame[5];
  r.seq = frame[6];
  r.status = frame[7];
  r.data.assign(frame.begin() + 8, frame.end() - 1);
  return r;
}

}  // namespace quiblink::wire::test
