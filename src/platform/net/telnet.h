// Telnet with the com port control option (RFC 854, 855, 856, 858, 2217) as
// bytes in and bytes out: a decoder that separates data from negotiation one
// received byte at a time (so an IAC split across two reads costs nothing),
// an encoder that doubles 0xFF, builders of the client's requests and the
// client's side of option negotiation. No I/O here: the network device feeds
// it and sends what it builds.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace plat::telnet {

constexpr uint8_t kIac = 0xFF;
constexpr uint8_t kDont = 0xFE;
constexpr uint8_t kDo = 0xFD;
constexpr uint8_t kWont = 0xFC;
constexpr uint8_t kWill = 0xFB;
constexpr uint8_t kSb = 0xFA;
constexpr uint8_t kSe = 0xF0;

constexpr uint8_t kOptBinary = 0;
constexpr uint8_t kOptEcho = 1;
constexpr uint8_t kOptSuppressGoAhead = 3;
constexpr uint8_t kOptComPort = 44;

// Com port control commands as the client sends them; the server answers
// with the command + kServerOffset.
enum ComPortCommand : uint8_t {
  kSetBaudRate = 1,
  kSetDataSize = 2,
  kSetParity = 3,
  kSetStopSize = 4,
  kSetControl = 5,
  kNotifyLineState = 6,
  kNotifyModemState = 7,
  kSetLineStateMask = 10,
  kSetModemStateMask = 11,
  kPurgeData = 12,
};
constexpr uint8_t kServerOffset = 100;

enum { kParityNone = 1, kParityOdd = 2, kParityEven = 3, kParityMark = 4, kParitySpace = 5 };
enum { kStopOne = 1, kStopTwo = 2, kStopOneAndHalf = 3 };
enum {
  kControlNoFlow = 1,
  kControlXonXoff = 2,
  kControlHardware = 3,
  kControlDtrOn = 8,
  kControlDtrOff = 9,
  kControlRtsOn = 11,
  kControlRtsOff = 12,
};
enum { kPurgeReceive = 1, kPurgeTransmit = 2, kPurgeBoth = 3 };

// Longest subnegotiation kept; a longer one is dropped whole. The com port
// option's longest (a baud rate) has 5 value bytes.
constexpr size_t kMaxSubnegotiation = 32;

struct Decoder {
  uint8_t state;
  uint8_t verb;
  bool overflow;
  uint8_t length;
  uint8_t sub[kMaxSubnegotiation];
};

enum EventKind : uint8_t {
  kEventNone,            // the byte was part of a sequence still open
  kEventData,            // one data byte, in Event::data
  kEventNegotiation,     // WILL/WONT/DO/DONT in verb, the option in option
  kEventSubnegotiation,  // IAC SB ... IAC SE: Decoder::sub[0..length), 0xFF undoubled
};

struct Event {
  EventKind kind;
  uint8_t data;
  uint8_t verb;
  uint8_t option;
};

void DecoderReset(Decoder *decoder);
// Takes one received byte.
Event DecodeByte(Decoder *decoder, uint8_t byte);

// Copies data into out with each 0xFF doubled, as far as out has room for
// whole bytes. Returns how many bytes of data went; *produced is the count
// written to out.
size_t EncodeData(const uint8_t *data, size_t length, uint8_t *out, size_t room, size_t *produced);

// IAC verb option. out has room for 3 bytes; returns 3.
size_t BuildNegotiation(uint8_t verb, uint8_t option, uint8_t *out);
// IAC SB 44 command value... IAC SE, with 0xFF in the value doubled. out has
// room for kMaxComPortRequest bytes; returns the length.
constexpr size_t kMaxComPortRequest = 16;
size_t BuildComPort(uint8_t command, const uint8_t *value, size_t length, uint8_t *out);
// SET-BAUDRATE with the rate big-endian in four bytes.
size_t BuildSetBaudRate(uint32_t baud, uint8_t *out);

// A server's com port answer, from a subnegotiation's bytes.
struct ComPortReply {
  uint8_t command;  // the client command it answers (server code - 100)
  uint32_t value;   // 4 bytes big-endian for a baud rate, else the first byte
};
bool ParseComPortReply(const uint8_t *sub, size_t length, ComPortReply *reply);

// The client's side of option negotiation, without loops (RFC 854: a party
// answers only a request that changes an option's state). The client wants
// BINARY and SUPPRESS-GO-AHEAD in both directions and COM-PORT-OPTION on its
// own side, and refuses everything else.
enum : uint8_t {
  kLocal = 1,          // we perform the option
  kRemote = 2,         // the server performs it
  kLocalPending = 4,   // WILL sent, answer awaited
  kRemotePending = 8,  // DO sent, answer awaited
  kAnswered = 16,      // the server has said anything about the option
};
struct Options {
  uint8_t flags[256];
};

void OptionsReset(Options *options);
// The requests the client opens with. out has room for kOpeningLength bytes;
// marks what it asked for. Returns the length.
constexpr size_t kOpeningLength = 15;
size_t BuildOpening(Options *options, uint8_t *out);
// Takes the server's WILL/WONT/DO/DONT and writes the answer, if one is due,
// into out (3 bytes of room). Returns the answer's length, 0 or 3.
size_t AnswerNegotiation(Options *options, uint8_t verb, uint8_t option, uint8_t *out);

}  // namespace plat::telnet
