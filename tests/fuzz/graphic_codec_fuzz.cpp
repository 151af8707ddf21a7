// Graphic terminal codec under arbitrary input: the three request builders
// with any arguments, and both length probes and the reply decoder fed any
// reply bytes in any pieces, the way the port worker feeds them. Buffers are
// exactly as large as the contracts grant.
#include <string.h>

#include <algorithm>

#include "core/trace_handler.h"
#include "fuzz_input.h"
#include "graphic/codec.h"
#include "support/wire/graphic.h"

namespace {

using fuzz::Input;
using wire::Bytes;
namespace gw = wire::graphic;

constexpr uint8_t kSentinel = 0xA5;
constexpr size_t kFrameBuffer = 1040;

uint16_t ExpectedFor(uint8_t command, uint8_t subcommand) {
  switch (command) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 50:
    case 113:
      return 9;
    case 33:
      return subcommand == 1 ? 1037 : 1035;
    case 49:
      return subcommand == 0x41 ? 15 : subcommand == 0x42 ? 22 : 1037;
    case 82:
      return 10;
    default:
      return 0;
  }
}

// The frame in its buffer, the zero byte behind it, the cleared span up to
// offset 1036 and nothing touched beyond.
void CheckFrame(const std::vector<uint8_t> &buffer, uint16_t length, const Bytes &want,
                const char *what) {
  FUZZ_CHECK(length == want.size() && Bytes(buffer.begin(), buffer.begin() + length) == want,
             std::string(what) + " " + wire::Dump(Bytes(buffer.begin(), buffer.begin() + length)) +
                 "wanted " + wire::Dump(want));
  for (size_t i = length; i <= 1036; ++i) FUZZ_CHECK(buffer[i] == 0, "builder left old bytes");
  for (size_t i = 1037; i < kFrameBuffer; ++i) {
    FUZZ_CHECK(buffer[i] == kSentinel || i == length, "builder wrote past the longest frame");
  }
}

void Builders(Input &in) {
  std::vector<uint8_t> frame(kFrameBuffer, kSentinel);
  uint16_t expected = 0x7777;
  const uint8_t kind = in.Byte() % 3;
  if (kind == 0) {
    const uint8_t command = in.Byte(), subcommand = in.Byte(), continuation = in.Byte();
    const uint16_t group = in.U16();
    const uint16_t length = quib::BuildGraphicRequest(command, subcommand, group, frame.data(),
                                                      &expected, continuation);
    const uint16_t want_expected = ExpectedFor(command, subcommand);
    if (want_expected == 0) {
      FUZZ_CHECK(length == 0 && expected == 0x7777, "unknown command built");
      FUZZ_CHECK(frame == std::vector<uint8_t>(kFrameBuffer, kSentinel), "unknown command wrote");
      return;
    }
    Bytes data;
    if (command == 33 && subcommand == 1) wire::PutLe16(data, group);
    CheckFrame(frame, length, gw::Request(command, subcommand, continuation, 0, data), "request");
    FUZZ_CHECK(expected == want_expected, "expected reply length");
  } else if (kind == 1) {
    const uint8_t count = in.Byte();
    Bytes password = in.Bytes(count);
    password.resize(count, 'x');
    const uint16_t length = quib::BuildPasswordRequest(count, count ? password.data() : nullptr,
                                                       frame.data(), &expected);
    Bytes data{count};
    data.insert(data.end(), password.begin(), password.end());
    CheckFrame(frame, length, gw::Request(81, 0, 0, 0, data), "password request");
    FUZZ_CHECK(expected == 9, "password expected length");
  } else {
    const uint8_t command = in.Byte(), subcommand = in.Byte();
    const uint16_t field = in.U16();
    const uint8_t sequence = in.Byte(), continuation = in.Byte();
    const uint16_t count = static_cast<uint16_t>(in.Byte() < 200 ? in.Range(0, 1030) : in.U16());
    Bytes data = in.Bytes(count);
    data.resize(count, 0x5A);
    const uint16_t length =
        quib::BuildDataRequest(command, subcommand, field, count, count ? data.data() : nullptr,
                               frame.data(), &expected, sequence, continuation);
    if (count > 1024) {
      FUZZ_CHECK(length == 0 && expected == 0x7777, "oversized data request built");
      FUZZ_CHECK(frame == std::vector<uint8_t>(kFrameBuffer, kSentinel), "oversized data wrote");
      return;
    }
    Bytes form;
    if (command == 18) {
      form.push_back(static_cast<uint8_t>(field));
    } else if (subcommand == 1) {
      wire::PutLe16(form, field);
    }
    wire::PutLe16(form, count);
    form.insert(form.end(), data.begin(), data.end());
    CheckFrame(frame, length, gw::Request(command, subcommand, continuation, sequence, form),
               "data request");
    FUZZ_CHECK(expected == 9, "data request expected length");
  }
}

// The port worker's reception with either probe: pieces of the reply, the
// probe after each read, the decoder once the expected length is in.
void Reply(Input &in) {
  const gw::ProbeKind kind = in.Bool() ? gw::kVariable : gw::kFixed;
  static const uint16_t kAnnounced[] = {9, 10, 15, 22, 1035, 1037};
  const uint8_t pick = in.Byte();
  const uint16_t announced = pick < 240 ? kAnnounced[pick % 6] : in.Range(1, 1200);
  const Bytes reply = in.Bytes(in.Range(0, 1200));

  uint16_t expected = announced;
  Bytes got;
  bool decoded = false;
  int16_t status = 0;
  Bytes payload;
  while (fuzz::NextPiece(in, reply, std::min<size_t>(expected, wire::kRxBufferSize), 600, &got)) {
    const std::vector<uint8_t> seen(got);
    uint16_t now_expected = expected;
    const auto probe = kind == gw::kVariable ? quib::ProbeGraphicLength : quib::ProbeGraphicStart;
    const int16_t rc = probe(0, static_cast<uint16_t>(seen.size()), seen.data(), &now_expected);
    if (got[0] != 0xFF) {
      FUZZ_CHECK(rc == wire::kBadStart, "probe let a wrong start byte pass");
      return;
    }
    if (kind == gw::kVariable && got.size() >= 3) {
      const int field = wire::ReadLe16(&got[1]);
      if (field < 6 || field + 3 > wire::kRxBufferSize || field + 3 > expected) {
        FUZZ_CHECK(rc == wire::kBadLength,
                   "probe took an impossible length " + std::to_string(field));
        return;
      }
      FUZZ_CHECK(rc == 0 && now_expected == field + 3, "probe length");
    } else {
      FUZZ_CHECK(rc == 0 && now_expected == expected, "probe changed the length");
    }
    expected = now_expected;
    if (got.size() >= expected) {
      const std::vector<uint8_t> rx(got.begin(), got.begin() + expected);
      std::vector<uint8_t> out(expected > 2 ? expected - 2 : 1, kSentinel);
      uint16_t length = 0xBEEF;
      status = quib::DecodeGraphicReply(0, expected, rx.data(), out.data(), &length);
      FUZZ_CHECK(length == (status == 0 ? expected - 2 : 0), "decoded length");
      if (status == 0) {
        payload.assign(out.begin(), out.begin() + length);
      } else {
        FUZZ_CHECK(out == std::vector<uint8_t>(out.size(), kSentinel), "refused reply was copied");
      }
      decoded = true;
      break;
    }
  }

  const wire::Attempt want = gw::ReplyAttempt(kind, announced, got);
  if (!decoded) {
    FUZZ_CHECK(want.status == wire::kIncomplete || want.status == wire::kNoResponse,
               "a complete reply was never decoded: " + std::to_string(want.status));
    return;
  }
  FUZZ_CHECK(status == want.status, "decoder status " + std::to_string(status) + " wanted " +
                                        std::to_string(want.status) + " for " + wire::Dump(got));
  if (status == 0) FUZZ_CHECK(payload == want.payload, "decoded payload");
}

void Fields(Input &in) {
  const Bytes b = in.Bytes(4);
  if (b.size() < 4) return;
  FUZZ_CHECK(quib::ReadLe16(b.data()) == wire::ReadLe16(b.data()), "ReadLe16");
  FUZZ_CHECK(quib::ReadLe32(b.data()) == wire::ReadLe32(b.data()), "ReadLe32");
}

void DropTrace(const char *, void *) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  quib::SetTraceHandler(DropTrace, nullptr);
  Input in(data, size);
  switch (in.Byte() % 3) {
    case 0:
      Reply(in);
      break;
    case 1:
      Builders(in);
      break;
    default:
      Fields(in);
      break;
  }
  return 0;
}
