// The classic panels' ASCII protocol: STX, command character, address and
// count in hexadecimal text, data as hexadecimal text, ETX and two checksum
// digits; a write is answered with ACK or NAK, a read with a framed text or NAK.
#pragma once

#include <string>
#include <vector>

#include "support/wire/wire.h"

namespace wire::classic {

constexpr uint8_t STX = 0x02, ETX = 0x03, ACK = 0x06, NAK = 0x15;

// digits upper-case hexadecimal digits of value, most significant first.
inline void PutHexDigits(uint8_t *out, uint32_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int i = digits - 1; i >= 0; --i) *out++ = kDigits[(value >> (4 * i)) & 0xF];
}
inline void PutHex(std::string &out, uint32_t value, int digits) {
  uint8_t text[8];
  PutHexDigits(text, value, digits);
  out.append(reinterpret_cast<const char *>(text), static_cast<size_t>(digits));
}

// A hex digit as the panel protocol counts it: from 'A' up, code - 0x37;
// anything else, code - 0x30. Nothing is refused.
inline uint32_t Digit(uint8_t c) {
  return c >= 'A' ? uint32_t(c) - 0x37 : uint32_t(c) - 0x30;
}
inline uint8_t HexByte(const uint8_t *two) {
  return static_cast<uint8_t>(Digit(two[0]) * 16 + Digit(two[1]));
}

// STX, text, ETX and the two checksum digits of text and ETX at out; returns
// the frame's length, text + 4.
inline size_t PutFramed(uint8_t *out, const uint8_t *text, size_t n) {
  unsigned sum = ETX;
  for (size_t i = n; i-- > 0;) {  // from the end: text may sit where the frame goes
    sum += text[i];
    out[i + 1] = text[i];
  }
  out[0] = STX;
  out[n + 1] = ETX;
  PutHexDigits(out + n + 2, sum & 0xFF, 2);
  return n + 4;
}
inline Bytes Framed(const std::string &text) {
  Bytes frame(text.size() + 4);
  PutFramed(frame.data(), reinterpret_cast<const uint8_t *>(text.data()), text.size());
  return frame;
}

// A word panel (model 3) carries each pair of bytes exchanged: place k of a
// run of count carries the byte at this index.
inline unsigned Partner(unsigned k, unsigned count) {
  if (k % 2) return k - 1;
  return k + 1 < count ? k + 1 : k;
}

inline bool IsWordCommand(uint8_t command) {
  return command == '0' || command == '1';
}

// Length of the request at the start of bytes, which ends two checksum digits
// after its ETX; 0 while it is incomplete.
inline size_t RequestLength(const uint8_t *bytes, size_t have) {
  for (size_t i = 1; i + 2 < have; ++i) {
    if (bytes[i] == ETX) return i + 3;
  }
  return 0;
}

// The byte count of a request frame.
inline unsigned RequestCount(const uint8_t *frame) {
  return HexByte(frame + (IsWordCommand(frame[1]) ? 6 : 8));
}

inline uint32_t AreaOffset(uint16_t model, uint16_t area) {
  static const uint32_t kModel1[4] = {0, 0x10000, 0x12000, 0x12800};
  static const uint32_t kModel0[4] = {0, 0x20000, 0x22000, 0x2232A};
  static const uint32_t kOther[4] = {0, 0x20000, 0x22000, 0x22800};
  if (model == 1) return kModel1[area];
  if (model == 0) return kModel0[area];
  return kOther[area];
}

inline Bytes ReadRequest(uint16_t model, uint16_t area, int32_t address, unsigned count) {
  std::string text;
  if (model == 3) {
    text += '0';
    PutHex(text, uint32_t(address) + 0x8080u, 4);
  } else {
    text += 'E';
    PutHex(text, uint32_t(address) + AreaOffset(model, area), 6);
  }
  PutHex(text, count, 2);
  return Framed(text);
}

inline Bytes WriteRequest(uint16_t model, int32_t address, const uint8_t *data, unsigned count) {
  std::string text(1, model == 3 ? '1' : 'F');
  PutHex(text, model == 3 ? uint32_t(address) + 0x8080u : uint32_t(address), model == 3 ? 4 : 6);
  PutHex(text, count, 2);
  for (unsigned k = 0; k < count; ++k) PutHex(text, data[model == 3 ? Partner(k, count) : k], 2);
  return Framed(text);
}

// A read reply carrying memory bytes (pair-swapped for model 3).
inline Bytes ReadReply(uint16_t model, const Bytes &memory) {
  std::string text;
  const unsigned n = static_cast<unsigned>(memory.size());
  for (unsigned k = 0; k < n; ++k) PutHex(text, memory[model == 3 ? Partner(k, n) : k], 2);
  return Framed(text);
}

// One request as a panel understands it, read back from the frame.
struct Request {
  bool Write;
  unsigned Address;  // wire address
  unsigned Count;
  Bytes Data;         // write data in memory order
  std::string Fault;  // what is wrong with the frame; empty when nothing is
};

inline Request Parse(const Bytes &frame) {
  Request r{};
  if (frame.size() < 11 || frame[0] != STX) {
    r.Fault = "not a classic request, " + std::to_string(frame.size()) + " bytes";
    return r;
  }
  const uint8_t command = frame[1];
  const bool word = IsWordCommand(command);
  if (!word && command != 'E' && command != 'F') r.Fault = "command " + std::to_string(command);
  r.Write = command == '1' || command == 'F';
  const size_t digits = word ? 4 : 6;
  for (size_t i = 0; i < digits; ++i) r.Address = r.Address * 16 + Digit(frame[2 + i]);
  r.Count = HexByte(&frame[2 + digits]);
  const size_t data_at = 4 + digits;
  const size_t etx_at = data_at + (r.Write ? 2 * r.Count : 0);
  if (frame.size() != etx_at + 3 || frame[etx_at] != ETX) {
    r.Fault =
        "request length " + std::to_string(frame.size()) + " for count " + std::to_string(r.Count);
    return r;
  }
  unsigned sum = 0;
  for (size_t i = 1; i <= etx_at; ++i) sum += frame[i];
  if ((sum & 0xFF) != HexByte(&frame[etx_at + 1])) r.Fault = "request checksum";
  for (unsigned k = 0; k < r.Count && r.Write; ++k) {
    const unsigned from = word ? Partner(k, r.Count) : k;
    r.Data.push_back(HexByte(&frame[data_at + 2 * from]));
  }
  return r;
}

// What a read attempt of count bytes makes of the bytes that reached the
// library before the line fell silent.
inline Attempt ReadAttempt(uint16_t model, unsigned count, const Bytes &got) {
  const size_t expected = 2 * count + 4;
  if (got.empty()) return {kNoResponse, false, {}};
  if (got[0] != STX && got[0] != NAK) return {kBadStart, true, {}};
  if (got[0] == NAK) return {kNak, false, {}};
  if (got.size() < expected) return {kIncomplete, false, {}};
  if (got[expected - 3] != ETX) return {kNoEtx, false, {}};
  unsigned sum = 0;
  for (size_t i = 1; i <= expected - 3; ++i) sum += got[i];
  if ((sum & 0xFF) != HexByte(&got[expected - 2])) return {kChecksum, false, {}};
  Bytes memory(count);
  for (unsigned k = 0; k < count; ++k) {
    memory[model == 3 ? Partner(k, count) : k] = HexByte(&got[1 + 2 * k]);
  }
  return {kOk, true, memory};
}

inline Attempt WriteAttempt(const Bytes &got) {
  if (got.empty()) return {kNoResponse, false, {}};
  if (got[0] == ACK) return {kOk, true, {}};
  if (got[0] == NAK) return {kNak, false, {}};
  return {kBadStart, true, {}};
}

// One chunk of a transfer: where it starts in the caller's buffer and the
// request that carries it.
struct Chunk {
  unsigned offset;
  unsigned count;
  int32_t request_address;
};

// The chunks of a transfer: at most limit bytes each, and on word panels
// never across the hole after logical address 3959.
inline std::vector<Chunk> Chunks(uint16_t model, int32_t address, unsigned count, unsigned limit) {
  std::vector<Chunk> out;
  int64_t logical = address;
  unsigned offset = 0;
  while (offset < count) {
    unsigned n = count - offset < limit ? count - offset : limit;
    int64_t request = logical;
    if (model == 3) {
      if (logical >= 3960) {
        request = logical + 8;
      } else if (logical + n >= 3960) {
        n = static_cast<unsigned>(3960 - logical);
      }
    }
    out.push_back({offset, n, static_cast<int32_t>(static_cast<uint32_t>(request))});
    offset += n;
    logical += n;
  }
  return out;
}

// The wire address of a logical address of area 0.
inline unsigned WireAddress(uint16_t model, int64_t logical) {
  if (model != 3) return static_cast<unsigned>(logical);
  return static_cast<unsigned>(0x8080 + logical + (logical >= 3960 ? 8 : 0));
}

// Word panels move whole words: a transfer that would send an odd chunk is
// refused before anything is sent.
inline bool SplitsWord(uint16_t model, int32_t address, unsigned count) {
  if (model != 3) return false;
  if (count % 2) return true;
  const int64_t start = address;
  return start < 3960 && start + count > 3960 && (3960 - start) % 2 != 0;
}

// True when the wire address of every byte of a transfer fits the request's
// address digits (four with model 3, six otherwise), none of them below 0;
// else the transfer is refused before anything is sent.
inline bool FitsTheWire(uint16_t model, uint16_t area, int32_t address, unsigned count, bool read) {
  const int64_t limit = model == 3 ? 0xFFFF : 0xFFFFFF;
  const int64_t offset = model == 3 ? 0x8080 : read ? AreaOffset(model, area) : 0;
  for (unsigned k = 0; k < count; ++k) {
    const int64_t logical = int64_t(address) + k;
    const int64_t request = model == 3 && logical >= 3960 ? logical + 8 : logical;
    if (request + offset < 0 || request + offset > limit) return false;
  }
  return true;
}

// The block a word panel's write at address 0 sends first, at 0x805C.
inline Bytes Preamble() {
  const char text[] = "these are the screen data       ";
  Bytes b(text, text + 32);
  b.insert(b.end(), {0x00, 0x18, 0x10, 0x00});
  return b;
}

}  // namespace wire::classic
