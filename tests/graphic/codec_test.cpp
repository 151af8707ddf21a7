// The frame codec as pure functions: golden vectors, every builder's frame,
// and the probes and decoder against hostile bytes.
#include <gtest/gtest.h>

#include <random>
#include <string.h>

#include "support/wire/graphic.h"
#include "graphic/codec.h"
#include "quiblink/quiblink.h"

namespace {

namespace graphic = wire::graphic;
using wire::Cat;
using wire::Le16;
using wire::Pattern;

using wire::Bytes;
using namespace quib;

constexpr uint8_t kFill = 0xAA;

struct Frame {
  uint8_t bytes[kGraphicFrameSize];
  Frame() { memset(bytes, kFill, sizeof bytes); }
  Bytes First(size_t n) const { return Bytes(bytes, bytes + n); }
};

// ---- Golden vectors -------------------------------------------------------

TEST(GraphicCodecGolden, OfflineRequestIsTheNineBytesOfTheWorkedExample) {
  Frame f;
  uint16_t expected = 0;
  ASSERT_EQ(BuildGraphicRequest(1, 1, 0, f.bytes, &expected, 0), 9);
  EXPECT_EQ(f.First(9), (Bytes{0xFE, 0x06, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x08}));
  EXPECT_EQ(expected, 9);
  EXPECT_EQ(f.bytes[9], 0);
}

// The accepted offline reply, and the refusing one with status 5, whose
// checksum is 0D: each decodes to its seven-byte payload.
TEST(GraphicCodecGolden, OfflineRepliesDecodeToTheirSevenBytePayloads) {
  const struct {
    Bytes reply;
    Bytes payload;
  } rows[] = {
      {{0xFF, 0x06, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x08},
       {0x06, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00}},
      {{0xFF, 0x06, 0x00, 0x01, 0x01, 0x00, 0x00, 0x05, 0x0D},
       {0x06, 0x00, 0x01, 0x01, 0x00, 0x00, 0x05}},
  };
  for (const auto &row : rows) {
    uint8_t payload[16];
    uint16_t length = 0;
    ASSERT_EQ(DecodeGraphicReply(0, 9, row.reply.data(), payload, &length), 0);
    ASSERT_EQ(length, 7);
    EXPECT_EQ(Bytes(payload, payload + 7), row.payload);
  }
}

TEST(GraphicCodecGolden, GroupReadRequestCarriesGroupAndContinuation) {
  Frame f;
  uint16_t expected = 0;
  ASSERT_EQ(BuildGraphicRequest(33, 1, 0x0102, f.bytes, &expected, 1), 11);
  EXPECT_EQ(f.First(11), (Bytes{0xFE, 0x08, 0x00, 0x21, 0x01, 0x01, 0x00, 0x00, 0x02, 0x01, 0x2E}));
  EXPECT_EQ(expected, 1037);
}

TEST(GraphicCodecGolden, PlainBlockWriteOfTwoBytes) {
  Frame f;
  uint16_t expected = 0;
  const uint8_t data[] = {0x12, 0x34};
  ASSERT_EQ(BuildDataRequest(17, 3, 0, 2, data, f.bytes, &expected, 0, 2), 13);
  EXPECT_EQ(f.First(13),
            (Bytes{0xFE, 0x0A, 0x00, 0x11, 0x03, 0x02, 0x00, 0x00, 0x02, 0x00, 0x12, 0x34, 0x68}));
  EXPECT_EQ(expected, 9);
}

// ---- Builders --------------------------------------------------------------

struct CommandRow {
  const char *name;
  uint8_t command, subcommand;
  uint16_t expected_reply;
  Bytes data;  // request data: the group number for command 33/1
};

const CommandRow kCommands[] = {
    {"offline", 1, 1, 9, {}},
    {"software reset", 2, 1, 9, {}},
    {"reset", 3, 1, 9, {}},
    {"break", 4, 0, 9, {}},
    {"grouped read", 33, 1, 1037, {0x34, 0x12}},
    {"area read 3", 33, 3, 1035, {}},
    {"area read 242", 33, 242, 1035, {}},
    {"memory data", 49, 0x41, 15, {}},
    {"os information", 49, 0x42, 22, {}},
    {"project information", 49, 0x43, 1037, {}},
    {"other query subcommand", 49, 0x44, 1037, {}},
    {"delete user data", 50, 0x21, 9, {}},
    {"terminal type", 82, 1, 10, {}},
    {"baud rate 0x81", 113, 0x81, 9, {}},
    {"baud rate 0x83", 113, 0x83, 9, {}},
};

TEST(GraphicCodecBuilders, EveryCommandOfTheTableBuildsItsFrame) {
  for (const CommandRow &row : kCommands) {
    SCOPED_TRACE(row.name);
    for (uint8_t continuation : {0, 1}) {
      Frame f;
      uint16_t expected = 0;
      const uint16_t length = BuildGraphicRequest(row.command, row.subcommand, 0x1234, f.bytes,
                                                  &expected, continuation);
      const Bytes want = graphic::Request(row.command, row.subcommand, continuation, 0, row.data);
      ASSERT_EQ(length, want.size());
      EXPECT_EQ(f.First(length), want);
      EXPECT_EQ(expected, row.expected_reply);
      EXPECT_EQ(f.bytes[length], 0) << "zero byte after the checksum";
      for (int i = length + 1; i <= 1036; ++i) ASSERT_EQ(f.bytes[i], 0) << "offset " << i;
      EXPECT_EQ(f.bytes[1037], kFill) << "nothing written past the cleared span";
    }
  }
}

TEST(GraphicCodecBuilders, CommandsOutsideTheTableAreRefusedWithoutWriting) {
  for (int command : {0, 5, 16, 17, 18, 32, 34, 48, 51, 80, 81, 83, 112, 114, 255}) {
    SCOPED_TRACE(command);
    Frame f;
    uint16_t expected = 0x5A5A;
    EXPECT_EQ(BuildGraphicRequest(static_cast<uint8_t>(command), 1, 7, f.bytes, &expected, 0), 0);
    EXPECT_EQ(expected, 0x5A5A);
    for (uint8_t b : f.bytes) ASSERT_EQ(b, kFill);
  }
}

TEST(GraphicCodecBuilders, PasswordFramesCarryTheirLengthAndBytesAsGiven) {
  struct Row {
    const char *name;
    Bytes password;
  } rows[] = {{"empty", {}},
              {"three bytes", {'a', 'b', 'c'}},
              {"zero byte inside", {'x', 0x00, 'y'}},
              {"248 bytes", Pattern(248, 3)},
              {"249 bytes", Pattern(249, 4)},
              {"255 bytes", Pattern(255, 5)}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Frame f;
    uint16_t expected = 0;
    const uint8_t n = static_cast<uint8_t>(row.password.size());
    const uint16_t length = BuildPasswordRequest(n, row.password.data(), f.bytes, &expected);
    const Bytes want = graphic::Request(81, 0, 0, 0, Cat({{n}, row.password}));
    ASSERT_EQ(length, n + 10);
    EXPECT_EQ(f.First(length), want);
    EXPECT_EQ(expected, 9);
    EXPECT_EQ(f.bytes[length], 0);
  }
  Frame f;
  uint16_t expected = 0;
  const Bytes long_password = Pattern(249, 1);
  BuildPasswordRequest(249, long_password.data(), f.bytes, &expected);
  EXPECT_EQ(f.bytes[1], 0x00);
  EXPECT_EQ(f.bytes[2], 0x01) << "length field 256";
}

struct DataRow {
  const char *name;
  uint8_t command, subcommand;
  uint16_t field;
  Bytes header;  // request data in front of the count
};

const DataRow kDataForms[] = {
    {"plain block", 17, 3, 0x0102, {}},
    {"plain block ignores the field", 17, 6, 0xFFFF, {}},
    {"grouped block", 17, 1, 0x0102, {0x02, 0x01}},
    {"install", 18, 0x61, 0x0180, {0x80}},
    {"install b", 18, 0x62, 0x0000, {0x00}},
};

TEST(GraphicCodecBuilders, DataFramesLayOutTheirForms) {
  for (const DataRow &row : kDataForms) {
    for (uint16_t count : {0, 1, 300, 1024}) {
      SCOPED_TRACE(std::string(row.name) + " count " + std::to_string(count));
      const Bytes data = Pattern(count, static_cast<uint8_t>(count));
      Frame f;
      uint16_t expected = 0;
      const uint16_t length = BuildDataRequest(row.command, row.subcommand, row.field, count,
                                               data.data(), f.bytes, &expected, 7, 1);
      const Bytes want =
          graphic::Request(row.command, row.subcommand, 1, 7, Cat({row.header, Le16(count), data}));
      ASSERT_EQ(length, want.size());
      EXPECT_EQ(f.First(length), want);
      EXPECT_EQ(expected, 9);
      EXPECT_EQ(f.bytes[length], 0) << "zero byte after the checksum";
      if (length + 1 < kGraphicFrameSize) {
        EXPECT_EQ(f.bytes[kGraphicFrameSize - 1], kFill);
      }
    }
  }
}

TEST(GraphicCodecBuilders, FullChunksEndWhereTheFrameBufferAllows) {
  const Bytes data = Pattern(1024, 9);
  struct Row {
    uint8_t command, subcommand;
    uint16_t total;
  } rows[] = {{17, 3, 1035}, {18, 0x61, 1036}, {17, 1, 1037}};
  for (const Row &row : rows) {
    Frame f;
    uint16_t expected = 0;
    EXPECT_EQ(BuildDataRequest(row.command, row.subcommand, 5, 1024, data.data(), f.bytes,
                               &expected, 0, 2),
              row.total);
    EXPECT_EQ(f.bytes[row.total], 0);
    EXPECT_EQ(f.bytes[1038], kFill);
    EXPECT_EQ(f.bytes[1039], kFill);
  }
}

TEST(GraphicCodecBuilders, DataCountAbove1024IsRefusedWithoutWriting) {
  const Bytes data(1025, 0x11);
  Frame f;
  uint16_t expected = 0x5A5A;
  EXPECT_EQ(BuildDataRequest(17, 3, 0, 1025, data.data(), f.bytes, &expected, 0, 2), 0);
  EXPECT_EQ(expected, 0x5A5A);
  for (uint8_t b : f.bytes) ASSERT_EQ(b, kFill);
}

TEST(GraphicCodecBuilders, GraphicChecksumSumsFromTheLengthField) {
  uint8_t frame[16] = {0xFE, 0x06, 0x00, 0xF0, 0x20, 0x01, 0x00, 0x00};
  EXPECT_EQ(GraphicChecksum(6, frame), 9);
  EXPECT_EQ(frame[8], static_cast<uint8_t>(0x06 + 0xF0 + 0x20 + 0x01));
  EXPECT_EQ(frame[9], 0);
}

// ---- Field readers ---------------------------------------------------------

TEST(GraphicCodecReaders, LittleEndianFields) {
  const uint8_t a[] = {0x34, 0x12}, b[] = {0x00, 0x80}, c[] = {0xFF, 0xFF};
  EXPECT_EQ(ReadLe16(a), 0x1234);
  EXPECT_EQ(ReadLe16(b), -32768);
  EXPECT_EQ(ReadLe16(c), -1);
  const uint8_t d[] = {0x78, 0x56, 0x34, 0x12}, e[] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(ReadLe32(d), 0x12345678u);
  EXPECT_EQ(ReadLe32(e), 0xFFFFFFFFu);
}

// ---- Probes ----------------------------------------------------------------

struct ProbeRow {
  const char *name;
  Bytes received;
  uint16_t announced;        // the expected total the request announced
  int16_t length_result;     // ProbeGraphicLength
  uint16_t length_expected;  // expected total after it
  int16_t start_result;      // ProbeGraphicStart (never changes the total)
};

const ProbeRow kProbeRows[] = {
    {"request start byte", {0xFE}, 1037, RC_BAD_START, 1037, RC_BAD_START},
    {"zero start byte", {0x00, 0x07, 0x00}, 1037, RC_BAD_START, 1037, RC_BAD_START},
    {"start byte only", {0xFF}, 1037, 0, 1037, 0},
    {"half a length field", {0xFF, 0x07}, 1037, 0, 1037, 0},
    {"length field 7", {0xFF, 0x07, 0x00}, 1037, 0, 10, 0},
    {"length field 6, the shortest", {0xFF, 0x06, 0x00, 0x21}, 1037, 0, 9, 0},
    {"length field 5", {0xFF, 0x05, 0x00}, 1037, RC_BAD_LENGTH, 1037, 0},
    {"length field 0", {0xFF, 0x00, 0x00}, 1037, RC_BAD_LENGTH, 1037, 0},
    {"length field negative", {0xFF, 0xFF, 0xFF}, 1037, RC_BAD_LENGTH, 1037, 0},
    {"length field 0x8000", {0xFF, 0x00, 0x80}, 1037, RC_BAD_LENGTH, 1037, 0},
    {"longest well-formed reply", {0xFF, 0x0A, 0x04, 0x21}, 1037, 0, 1037, 0},
    {"block reply as announced", {0xFF, 0x08, 0x04}, 1035, 0, 1035, 0},
    // The fixed probe leaves every length to the decoder, so that its refusal is repeated.
    {"block reply one byte longer than announced",
     {0xFF, 0x09, 0x04},
     1035,
     RC_BAD_LENGTH,
     1035,
     0},
    {"reply filling the receive buffer, longer than announced",
     {0xFF, 0x49, 0x04},
     1037,
     RC_BAD_LENGTH,
     1037,
     0},
    {"reply one past the receive buffer", {0xFF, 0x4A, 0x04}, 1037, RC_BAD_LENGTH, 1037, 0},
    {"fixed reply as announced", {0xFF, 0x07, 0x00}, 10, 0, 10, 0},
    {"fixed reply one byte longer", {0xFF, 0x08, 0x00}, 10, RC_BAD_LENGTH, 10, 0},
    {"fixed reply whose length field says 2048", {0xFF, 0x00, 0x08}, 9, RC_BAD_LENGTH, 9, 0},
    {"refusal shorter than announced", {0xFF, 0x06, 0x00}, 15, 0, 9, 0},
};

TEST(GraphicCodecProbes, HostileBytes) {
  for (const ProbeRow &row : kProbeRows) {
    SCOPED_TRACE(row.name);
    uint8_t rx[1100] = {};
    memcpy(rx, row.received.data(), row.received.size());
    const uint16_t k = static_cast<uint16_t>(row.received.size());
    uint16_t expected = row.announced;
    EXPECT_EQ(ProbeGraphicLength(0, k, rx, &expected), row.length_result);
    EXPECT_EQ(expected, row.length_expected);
    expected = row.announced;
    EXPECT_EQ(ProbeGraphicStart(0, k, rx, &expected), row.start_result);
    EXPECT_EQ(expected, row.announced);
  }
}

TEST(GraphicCodecProbes, LengthProbeGivesTheSameAnswerOnEveryLaterCall) {
  const Bytes reply = graphic::Reply(49, 0x43, 0, 0, 0, Pattern(20, 1));
  uint16_t expected = 1037;
  for (uint16_t k = 1; k <= reply.size(); ++k) {
    ASSERT_EQ(ProbeGraphicLength(0, k, reply.data(), &expected), 0);
    EXPECT_EQ(expected, k < 3 ? 1037 : reply.size());
  }
}

// ---- Decoder ---------------------------------------------------------------

struct DecodeRow {
  const char *name;
  Bytes frame;
  int16_t status;
};

Bytes Offline() {
  return graphic::Reply(1, 1, 0, 0, 0);
}
Bytes StartByte(Bytes f, uint8_t b) {
  f[0] = b;
  return f;
}

const DecodeRow kDecodeRows[] = {
    {"good", Offline(), 0},
    {"good with data", graphic::Reply(82, 1, 0, 0, 0, {0xC3}), 0},
    {"request start byte", StartByte(Offline(), 0xFE), RC_BAD_START},
    {"bad start before bad checksum", StartByte(graphic::WithBadChecksum(Offline()), 0x00),
     RC_BAD_START},
    {"length field 7 in 9 bytes", graphic::Frame(0xFF, 7, 1, 1, 0, 0, 0, {}), RC_BAD_LENGTH},
    {"length field 5 in 9 bytes", graphic::Frame(0xFF, 5, 1, 1, 0, 0, 0, {0x00}), RC_BAD_LENGTH},
    {"bad length before bad checksum",
     graphic::WithBadChecksum(graphic::Frame(0xFF, 7, 1, 1, 0, 0, 0, {})), RC_BAD_LENGTH},
    {"checksum plus one", graphic::WithBadChecksum(Offline()), RC_CHECKSUM},
    {"eight bytes, length field consistent",
     {0xFF, 0x05, 0x00, 0x01, 0x01, 0x00, 0x00, 0x07},
     RC_BAD_LENGTH},
    {"three bytes", {0xFF, 0x00, 0x00}, RC_BAD_LENGTH},
    {"one byte", {0xFF}, RC_BAD_LENGTH},
    {"empty", {}, RC_BAD_LENGTH},
    {"longest the receive buffer holds", graphic::Reply(33, 1, 0, 0, 0, Pattern(1091, 2)), 0},
};

TEST(GraphicCodecDecoder, ChecksRunInOrderAndFailuresDeliverNothing) {
  for (const DecodeRow &row : kDecodeRows) {
    SCOPED_TRACE(row.name);
    uint8_t rx[1100] = {};
    if (!row.frame.empty()) memcpy(rx, row.frame.data(), row.frame.size());
    uint8_t payload[1100];
    memset(payload, kFill, sizeof payload);
    const uint16_t n = static_cast<uint16_t>(row.frame.size());
    uint16_t got = 0xBEEF;
    const int16_t status = DecodeGraphicReply(0, n, rx, payload, &got);
    EXPECT_EQ(status, row.status);
    if (row.status == 0) {
      ASSERT_EQ(got, n - 2);
      EXPECT_EQ(Bytes(payload, payload + got), Bytes(row.frame.begin() + 1, row.frame.end() - 1));
      EXPECT_EQ(payload[got], kFill);
    } else {
      EXPECT_EQ(got, 0);
      for (uint8_t b : payload) ASSERT_EQ(b, kFill);
    }
  }
}

TEST(GraphicCodecDecoder, ARefusedReplyReportsNoPayload) {
  Bytes reply = Offline();
  reply[8] ^= 1;
  uint8_t payload[16];
  uint16_t length = 77;
  EXPECT_EQ(DecodeGraphicReply(0, 9, reply.data(), payload, &length), RC_CHECKSUM);
  EXPECT_EQ(length, 0);
}

TEST(GraphicCodecDecoder, ALengthBeyondTheReceiveBufferIsRefused) {
  std::vector<uint8_t> rx(1200, 0);
  rx[0] = 0xFF;
  rx[1] = static_cast<uint8_t>((1101 - 3) & 0xFF);
  rx[2] = static_cast<uint8_t>((1101 - 3) >> 8);
  unsigned sum = 0;
  for (int i = 1; i <= 1099; ++i) sum += rx[i];
  rx[1100] = static_cast<uint8_t>(sum);
  std::vector<uint8_t> payload(1200, kFill);
  uint16_t length = 77;
  EXPECT_EQ(DecodeGraphicReply(0, 1101, rx.data(), payload.data(), &length), RC_BAD_LENGTH);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(payload[0], kFill);
}

// Random bytes, with a valid start byte and length field most of the time,
// never make the decoder hand over more than the frame holds, and whatever it
// accepts is a frame whose length field and checksum agree.
TEST(GraphicCodecDecoder, RandomFramesNeverOverrunOrPassUnchecked) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 20000; ++round) {
    uint8_t rx[1100];
    for (uint8_t &b : rx) b = static_cast<uint8_t>(rng());
    const uint16_t n = static_cast<uint16_t>(rng() % 1101);
    if (rng() % 4 != 0 && n >= 3) {
      rx[0] = 0xFF;
      rx[1] = static_cast<uint8_t>((n - 3) & 0xFF);
      rx[2] = static_cast<uint8_t>((n - 3) >> 8);
      if (rng() % 2 == 0 && n >= 2) {
        unsigned sum = 0;
        for (int i = 1; i <= n - 2; ++i) sum += rx[i];
        rx[n - 1] = static_cast<uint8_t>(sum);
      }
    }
    uint8_t payload[1100 + 1];
    payload[1100] = kFill;
    uint16_t got = 0;
    const int16_t status = DecodeGraphicReply(0, n, rx, payload, &got);
    ASSERT_EQ(payload[1100], kFill);
    if (status == 0) {
      ASSERT_GE(n, 9);
      ASSERT_EQ(got, n - 2);
      ASSERT_EQ(rx[0], 0xFF);
      ASSERT_EQ(ReadLe16(rx + 1) + 3, n);
      ASSERT_EQ(memcmp(payload, rx + 1, got), 0);
    } else {
      ASSERT_EQ(got, 0);
    }

    uint16_t expected = 1037;
    const uint16_t k = static_cast<uint16_t>(1 + rng() % 1100);
    const int16_t rc = ProbeGraphicLength(0, k, rx, &expected);
    if (rc == 0) {
      ASSERT_GE(expected, 9);
      ASSERT_LE(expected, 1037);
    } else {
      ASSERT_EQ(expected, 1037);
    }
  }
}

}  // namespace
