// The two wire protocols as the fuzz harness knows them, written from the
// protocol rules and not from the library: request frames as they must look,
// replies a terminal sends, and what the library must make of a reply that
// reached it. The harness compares the library against these.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// A broken promise of the library: report and abort, so that the fuzzer keeps
// the input and a replay run fails.
[[noreturn]] inline void Fail(const char *file, int line, const std::string &what) {
  fprintf(stderr, "%s:%d: %s\n", file, line, what.c_str());
  fflush(stderr);
  abort();
}
#define FUZZ_CHECK(cond, what)                                        \
  do {                                                                \
    if (!(cond)) ::fuzz::Fail(__FILE__, __LINE__, std::string(what)); \
  } while (0)

inline std::string Hex(const Bytes &bytes) {
  std::string out;
  char two[4];
  for (uint8_t b : bytes) {
    snprintf(two, sizeof two, "%02X ", b);
    out += two;
  }
  return out;
}

// Result codes as numbers, so that the harness does not take them from the
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

constexpr int kRxBufferSize = 1100;

// How one attempt of an exchange ends, as the port worker must see it.
struct Attempt {
  int16_t status;  // 0 or a result code
  bool final;      // no further attempt follows (success or a probe's refusal)
  Bytes payload;   // on success
};

namespace classic {

constexpr uint8_t STX = 0x02, ETX = 0x03, ACK = 0x06, NAK = 0x15;

inline void PutHex(Bytes &out, uint32_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int i = digits - 1; i >= 0; --i) out.push_back(kDigits[(value >> (4 * i)) & 0xF]);
}

// A hex digit as the panel protocol counts it: from 'A' up, code - 0x37;
// anything else, code - 0x30. Nothing is refused.
inline uint32_t Digit(uint8_t c) {
  return c >= 'A' ? uint32_t(c) - 0x37 : uint32_t(c) - 0x30;
}
inline uint8_t HexByte(const uint8_t *two) {
  return static_cast<uint8_t>(Digit(two[0]) * 16 + Digit(two[1]));
}

// STX, text, ETX, checksum digits of text + ETX.
inline Bytes Framed(const Bytes &text) {
  Bytes f{STX};
  unsigned sum = ETX;
  for (uint8_t c : text) {
    f.push_back(c);
    sum += c;
  }
  f.push_back(ETX);
  PutHex(f, sum & 0xFF, 2);
  return f;
}

// Place k of a word panel's run of count carries the byte at this index.
inline unsigned Partner(unsigned k, unsigned count) {
  if (k % 2) return k - 1;
  return k + 1 < count ? k + 1 : k;
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
  Bytes text;
  if (model == 3) {
    text.push_back('0');
    PutHex(text, uint32_t(address) + 0x8080u, 4);
  } else {
    text.push_back('E');
    PutHex(text, uint32_t(address) + AreaOffset(model, area), 6);
  }
  PutHex(text, count, 2);
  return Framed(text);
}

inline Bytes WriteRequest(uint16_t model, int32_t address, const uint8_t *data, unsigned count) {
  Bytes text;
  text.push_back(model == 3 ? '1' : 'F');
  PutHex(text, model == 3 ? uint32_t(address) + 0x8080u : uint32_t(address), model == 3 ? 4 : 6);
  PutHex(text, count, 2);
  for (unsigned k = 0; k < count; ++k) PutHex(text, data[model == 3 ? Partner(k, count) : k], 2);
  return Framed(text);
}

// A read reply carrying memory bytes (pair-swapped for model 3).
inline Bytes ReadReply(uint16_t model, const Bytes &memory) {
  Bytes text;
  const unsigned n = static_cast<unsigned>(memory.size());
  for (unsigned k = 0; k < n; ++k) PutHex(text, memory[model == 3 ? Partner(k, n) : k], 2);
  return Framed(text);
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

// One chunk of a classic transfer: where it starts in the caller's buffer and
// the request that carries it.
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

inline Bytes Preamble() {
  const char text[] = "these are the screen data       ";
  Bytes b(text, text + 32);
  b.insert(b.end(), {0x00, 0x18, 0x10, 0x00});
  return b;
}

}  // namespace classic

namespace graphic {

inline void PutLe16(Bytes &out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline int16_t Le16(const uint8_t *p) {
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}
inline uint32_t Le32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// start, length field, command, subcommand, continuation, sequence, byte 7,
// data, and the low byte of the sum of everything after the start byte.
inline Bytes Frame(uint8_t start, uint32_t length_field, uint8_t command, uint8_t subcommand,
                   uint8_t continuation, uint8_t sequence, uint8_t byte7, const Bytes &data) {
  Bytes f{start};
  PutLe16(f, length_field);
  f.insert(f.end(), {command, subcommand, continuation, sequence, byte7});
  f.insert(f.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (size_t i = 1; i < f.size(); ++i) sum += f[i];
  f.push_back(static_cast<uint8_t>(sum));
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

enum ProbeKind { kFixed, kVariable };

// What one attempt makes of the bytes that reached the library, the reply
// being announced as `announced` bytes long.
inline Attempt ReplyAttempt(ProbeKind probe, size_t announced, const Bytes &got) {
  if (got.empty()) return {kNoResponse, false, {}};
  if (got[0] != 0xFF) return {kBadStart, true, {}};
  size_t expected = announced;
  if (probe == kVariable && got.size() >= 3) {
    const int field = Le16(&got[1]);
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
  if (expected < 9 || Le16(&reply[1]) + 3 != static_cast<int>(expected)) {
    return {kBadLength, false, {}};
  }
  unsigned sum = 0;
  for (size_t i = 1; i + 1 < expected; ++i) sum += reply[i];
  if (static_cast<uint8_t>(sum) != reply[expected - 1]) return {kChecksum, false, {}};
  return {kOk, true, Bytes(reply.begin() + 1, reply.end() - 1)};
}

// Reply payload offsets: the frame without its start byte and checksum.
constexpr int kLength = 0, kCommand = 2, kSubcommand = 3, kContinuation = 4, kSequence = 5,
              kStatus = 6, kData = 7;

}  // namespace graphic

}  // namespace fuzz
