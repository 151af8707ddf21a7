// A scripted classic panel for the tests: builds replies and parses requests
// on its own, so that a wrong byte in the library's codec cannot hide behind
// the same mistake on the panel's side.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace panel {

using Frame = std::vector<uint8_t>;

inline constexpr uint8_t STX = 0x02, ETX = 0x03, ACK = 0x06, NAK = 0x15;

inline std::string HexOf(const std::vector<uint8_t> &bytes) {
  std::string text;
  char digits[3];
  for (uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", b);
    text += digits;
  }
  return text;
}

// STX, text, ETX, and the two checksum digits of text plus ETX.
inline Frame Framed(const std::string &text) {
  Frame frame{STX};
  unsigned sum = ETX;
  for (char c : text) {
    frame.push_back(static_cast<uint8_t>(c));
    sum += static_cast<uint8_t>(c);
  }
  frame.push_back(ETX);
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02X", sum & 0xFF);
  frame.push_back(static_cast<uint8_t>(digits[0]));
  frame.push_back(static_cast<uint8_t>(digits[1]));
  return frame;
}

inline Frame Bytes(std::initializer_list<int> values) {
  Frame out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

inline std::string Text(const Frame &bytes, size_t from, size_t count) {
  return std::string(bytes.begin() + from, bytes.begin() + from + count);
}

inline unsigned HexValue(const std::string &text) {
  return std::stoul(text, nullptr, 16);
}

// Index of the byte that travels at place k of a word panel's run of count.
inline unsigned Partner(unsigned k, unsigned count) {
  if (k % 2) return k - 1;
  return k + 1 < count ? k + 1 : k;
}

// One request as the panel understood it.
struct Request {
  bool Write;
  unsigned Address;  // wire address
  unsigned Count;
  std::vector<uint8_t> Data;  // write data in memory order
};

// Parses a request frame of either addressing scheme; records a test failure
// for anything malformed, including a wrong checksum.
inline Request Parse(const Frame &frame) {
  Request r{};
  if (frame.size() < 11 || frame[0] != STX) {
    ADD_FAILURE() << "not a classic request, " << frame.size() << " bytes";
    return r;
  }
  const uint8_t command = frame[1];
  const bool word = command == '0' || command == '1';
  if (!word && command != 'E' && command != 'F') ADD_FAILURE() << "command " << command;
  r.Write = command == '1' || command == 'F';
  const size_t digits = word ? 4 : 6;
  r.Address = HexValue(Text(frame, 2, digits));
  r.Count = HexValue(Text(frame, 2 + digits, 2));
  const size_t data_at = 4 + digits;
  const size_t etx_at = data_at + (r.Write ? 2 * r.Count : 0);
  if (frame.size() != etx_at + 3 || frame[etx_at] != ETX) {
    ADD_FAILURE() << "request length " << frame.size() << " for count " << r.Count;
    return r;
  }
  unsigned sum = 0;
  for (size_t i = 1; i <= etx_at; ++i) sum += frame[i];
  EXPECT_EQ(sum & 0xFF, HexValue(Text(frame, etx_at + 1, 2))) << "request checksum";
  for (unsigned k = 0; k < r.Count && r.Write; ++k) {
    // Word panels carry each pair with its two bytes exchanged.
    const unsigned from = word ? Partner(k, r.Count) : k;
    r.Data.push_back(static_cast<uint8_t>(HexValue(Text(frame, data_at + 2 * from, 2))));
  }
  return r;
}

// Panel memory by wire address; unwritten bytes hold a pattern of their
// address, so every read brings recognisable data.
struct Memory {
  std::map<unsigned, uint8_t> Bytes;
  std::vector<Request> Requests;

  static uint8_t Pattern(unsigned address) { return static_cast<uint8_t>(address * 7 + 3); }
  uint8_t At(unsigned address) const {
    auto it = Bytes.find(address);
    return it == Bytes.end() ? Pattern(address) : it->second;
  }

  // The reply of a healthy panel to one request frame.
  Frame Answer(const Frame &frame) {
    Request r = Parse(frame);
    Requests.push_back(r);
    const bool word = frame.size() > 1 && (frame[1] == '0' || frame[1] == '1');
    if (r.Write) {
      for (unsigned k = 0; k < r.Data.size(); ++k) Bytes[r.Address + k] = r.Data[k];
      return {ACK};
    }
    std::vector<uint8_t> wire;
    for (unsigned k = 0; k < r.Count; ++k) {
      const unsigned from = word ? Partner(k, r.Count) : k;
      wire.push_back(At(r.Address + from));
    }
    return Framed(HexOf(wire));
  }
};

}  // namespace panel
