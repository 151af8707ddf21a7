// Classic panel codec under arbitrary input: the request builders with any
// arguments, and the length probes and reply decoders fed any reply bytes in
// any pieces, the way the port worker feeds them. Every buffer handed to the
// codec is exactly as large as its contract grants, so AddressSanitizer sees
// a single byte read or written past it.
#include <string.h>

#include <algorithm>

#include "classic/codec.h"
#include "core/state.h"
#include "core/trace_handler.h"
#include "fuzz_input.h"
#include "support/wire/classic.h"

namespace {

using fuzz::Input;
using wire::Bytes;
namespace cw = wire::classic;

constexpr uint8_t kSentinel = 0xA5;

void DropTrace(const char *, void *) {}

uint16_t PickModel(Input &in) {
  const uint8_t pick = in.Byte();
  return pick < 200 ? pick % 4 : static_cast<uint16_t>(in.U16());
}

Bytes Padded(Input &in, size_t n) {
  Bytes b = in.Bytes(n);
  while (b.size() < n) b.push_back(static_cast<uint8_t>(b.size() * 13 + 1));
  return b;
}

void Builders(Input &in, uint16_t model) {
  const uint16_t area = in.Byte() < 230 ? in.Range(0, 4) : in.U16();
  const int32_t address = static_cast<int32_t>(in.U32());
  const uint16_t count = static_cast<uint16_t>(in.Range(0, 70));

  const size_t read_room = quib::ClassicReadFrameSize(model);
  std::vector<uint8_t> frame(read_room, kSentinel);
  uint16_t expected = 0x7777;
  uint16_t length = quib::BuildClassicRead(model, area, address, count, frame.data(), &expected);
  if (count > 64 || (model != 3 && area > 3)) {
    FUZZ_CHECK(length == 0, "refused read built a frame");
    FUZZ_CHECK(frame == std::vector<uint8_t>(read_room, kSentinel),
               "refused read wrote its buffer");
    FUZZ_CHECK(expected == 0x7777, "refused read wrote the expected length");
  } else {
    const Bytes want = cw::ReadRequest(model, area, address, count);
    FUZZ_CHECK(length == want.size() && Bytes(frame.begin(), frame.begin() + length) == want,
               "read request " + wire::Dump(Bytes(frame.begin(), frame.begin() + length)) +
                   "wanted " + wire::Dump(want));
    FUZZ_CHECK(frame[length] == 0, "no zero byte behind the read request");
    FUZZ_CHECK(expected == 2 * count + 4, "read expected length");
  }

  const Bytes data = Padded(in, count);
  const size_t room = quib::ClassicWriteFrameSize(model, count <= 64 ? count : 64);
  std::vector<uint8_t> wframe(room, kSentinel);
  expected = 0x7777;
  length = quib::BuildClassicWrite(model, address, count, data.data(), wframe.data(), &expected);
  if (count > 64) {
    FUZZ_CHECK(length == 0 && expected == 0x7777, "refused write built a frame");
    FUZZ_CHECK(wframe == std::vector<uint8_t>(room, kSentinel), "refused write wrote its buffer");
  } else {
    const Bytes want = cw::WriteRequest(model, address, data.data(), count);
    FUZZ_CHECK(length == want.size() && Bytes(wframe.begin(), wframe.begin() + length) == want,
               "write request " + wire::Dump(Bytes(wframe.begin(), wframe.begin() + length)) +
                   "wanted " + wire::Dump(want));
    FUZZ_CHECK(wframe[length] == 0, "no zero byte behind the write request");
    FUZZ_CHECK(expected == 1, "write expected length");
    for (uint16_t i = 0; i < length; ++i) FUZZ_CHECK(wframe[i] < 0x80, "request byte above 0x7F");
  }
}

void HexDigits(Input &in) {
  const Bytes text = Padded(in, 10);
  const int16_t digits = static_cast<int16_t>(in.Range(0, 12)) - 2;
  uint32_t want = 0;
  for (int i = 0; i < digits; ++i) want = want * 16 + cw::Digit(text[i]);
  FUZZ_CHECK(quib::GetHex(text.data(), digits) == static_cast<int32_t>(want), "GetHex");

  const uint32_t value = in.U32();
  const int16_t put = static_cast<int16_t>(in.Range(0, 10)) - 2;
  uint8_t out[16];
  memset(out, kSentinel, sizeof out);
  quib::PutHex(value, out, put);
  // Digits beyond the eighth have nothing left to show: they are zeros.
  Bytes expect(put > 8 ? put - 8 : 0, '0');
  if (put > 0) {
    uint8_t digits[8];
    cw::PutHexDigits(digits, value, put > 8 ? 8 : put);
    expect.insert(expect.end(), digits, digits + (put > 8 ? 8 : put));
  }
  FUZZ_CHECK(Bytes(out, out + (put > 0 ? put : 0)) == expect, "PutHex");
  FUZZ_CHECK(out[put > 0 ? put : 0] == kSentinel, "PutHex wrote past its digits");
}

// The port worker's reception, step by step: reads that bring pieces of the
// reply, the probe after each, the decoder once the expected length is in.
void Reply(Input &in, uint16_t model) {
  const bool read = in.Bool();
  const uint16_t area = in.Range(0, 3);
  const int32_t address = static_cast<int32_t>(in.U16());
  Bytes reply = in.Bytes(in.Range(0, 160));
  uint16_t count = static_cast<uint16_t>(in.Range(1, 64));
  if (in.Bool() && reply.size() >= 6)
    count = static_cast<uint16_t>((reply.size() - 4) / 2 % 64 + 1);

  uint16_t expected = 0;
  if (read) {
    quib::BuildClassicRead(model, area, address, count, quib::State.Ports[0].TxBuffer, &expected);
  } else {
    expected = 1;
  }
  const uint16_t start = read ? cw::STX : cw::ACK;

  Bytes got;
  bool decoded = false;
  int16_t status = 0;
  uint16_t payload_length = 0;
  Bytes payload;
  while (fuzz::NextPiece(in, reply, std::min<size_t>(expected, wire::kRxBufferSize), 40, &got)) {
    const std::vector<uint8_t> seen(got);  // exactly what has arrived
    uint16_t now_expected = expected;
    const auto probe = read ? quib::ProbeClassicRead : quib::ProbeClassicWrite;
    const int16_t rc = probe(0, static_cast<uint16_t>(seen.size()), seen.data(), &now_expected);
    const bool refused = got[0] != start && got[0] != cw::NAK;
    FUZZ_CHECK(rc == (refused ? wire::kBadStart : 0), "probe result " + std::to_string(rc));
    if (rc != 0) {
      FUZZ_CHECK(now_expected == expected, "refusing probe changed the length");
      return;
    }
    FUZZ_CHECK(now_expected == (got[0] == cw::NAK ? 1 : expected), "probe length");
    expected = now_expected;
    if (got.size() >= expected) {
      const std::vector<uint8_t> rx(got.begin(), got.begin() + expected);
      std::vector<uint8_t> out(read ? count : 1, kSentinel);
      const auto decode = read ? quib::DecodeClassicRead : quib::DecodeClassicWrite;
      payload_length = 0xBEEF;
      status = decode(0, expected, rx.data(), out.data(), &payload_length);
      payload.assign(out.begin(),
                     out.begin() + (payload_length <= out.size() ? payload_length : 0));
      if (payload_length == 0) {
        FUZZ_CHECK(out == std::vector<uint8_t>(out.size(), kSentinel),
                   "decoder wrote a payload it did not report");
      }
      decoded = true;
      break;
    }
  }

  const wire::Attempt want = read ? cw::ReadAttempt(model, count, got) : cw::WriteAttempt(got);
  if (!decoded) {
    FUZZ_CHECK(want.status == wire::kIncomplete || want.status == wire::kNoResponse,
               "a complete reply was never decoded");
    return;
  }
  FUZZ_CHECK(status == want.status, "decoder status " + std::to_string(status) + " wanted " +
                                        std::to_string(want.status) + " for " + wire::Dump(got));
  FUZZ_CHECK(payload_length == (status == 0 && read ? count : 0), "payload length");
  if (status == 0 && read) FUZZ_CHECK(payload == want.payload, "decoded bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  quib::SetTraceHandler(DropTrace, nullptr);
  Input in(data, size);
  const uint16_t model = PickModel(in);
  switch (in.Byte() % 3) {
    case 0:
      Reply(in, model);
      break;
    case 1:
      Builders(in, model);
      break;
    default:
      HexDigits(in);
      break;
  }
  return 0;
}
