// The classic frame codec as pure functions over a port record: request
// bytes, reply checks and the payload they yield.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "classic/codec.h"
#include "support/wire/panel.h"
#include "support/library_fixture.h"

namespace {

namespace classic = wire::classic;

using classic::Framed;
using fake::Bytes;

constexpr int16_t kPort = 2;

class ClassicCodec : public LibraryTest {
 protected:
  Bytes Read(uint16_t model, uint16_t area, int32_t address, uint16_t count,
             uint16_t *expected = nullptr) {
    // Exactly the room the model's read frame needs, so that a frame built
    // for another model's layout shows as a short or overlong frame.
    std::vector<uint8_t> frame(quib::ClassicReadFrameSize(model), 0xEE);
    uint16_t want = expected != nullptr ? *expected : 0;
    const uint16_t length =
        quib::BuildClassicRead(model, area, address, count, frame.data(), &want);
    if (expected != nullptr) *expected = want;
    if (length == 0) return {};
    EXPECT_EQ(frame.size(), length + 1u) << "frame and zero byte fill the model's room";
    EXPECT_EQ(0, frame[length]) << "zero byte behind the frame";
    return Bytes(frame.begin(), frame.begin() + length);
  }

  Bytes Write(uint16_t model, int32_t address, const Bytes &data, uint16_t *expected = nullptr) {
    const uint16_t count = static_cast<uint16_t>(data.size());
    std::vector<uint8_t> frame(quib::ClassicWriteFrameSize(model, count), 0xEE);
    uint16_t want = expected != nullptr ? *expected : 0;
    const uint16_t length =
        quib::BuildClassicWrite(model, address, count, data.data(), frame.data(), &want);
    if (expected != nullptr) *expected = want;
    if (length == 0) return {};
    EXPECT_EQ(frame.size(), length + 1u) << "frame and zero byte fill the model's room";
    EXPECT_EQ(0, frame[length]) << "zero byte behind the frame";
    return Bytes(frame.begin(), frame.begin() + length);
  }

  // Runs the read decoder on reply as the answer to a read of count bytes
  // from a panel of the given model, whose request the port holds.
  struct Decoded {
    int16_t Status;
    std::vector<uint8_t> Payload;
  };
  Decoded DecodeRead(uint16_t model, uint16_t count, const Bytes &reply) {
    uint16_t expected = 0;
    quib::BuildClassicRead(model, 0, 0, count, quib::State.Ports[kPort].TxBuffer, &expected);
    std::vector<uint8_t> payload(80, 0xEE);
    uint16_t n = 0xBEEF;
    const int16_t status = quib::DecodeClassicRead(kPort, static_cast<uint16_t>(reply.size()),
                                                   reply.data(), payload.data(), &n);
    EXPECT_TRUE(status == 0 || n == 0) << "a refused reply yields no payload";
    for (size_t i = n; i < payload.size(); ++i) {
      EXPECT_EQ(0xEE, payload[i]) << "payload byte " << i << " beyond the decoded length";
    }
    payload.resize(n);
    return {status, payload};
  }
};

TEST_F(ClassicCodec, WorkedExamplesAreBuiltByteForByte) {
  uint16_t expected = 0;
  EXPECT_EQ(Bytes({0x02, 0x45, 0x30, 0x30, 0x30, 0x31, 0x30, 0x30, 0x30, 0x34, 0x03, 0x43, 0x44}),
            Read(0, 0, 0x100, 4, &expected));
  EXPECT_EQ(12, expected);
  EXPECT_EQ(Bytes({0x02, 0x30, 0x38, 0x30, 0x39, 0x30, 0x30, 0x34, 0x03, 0x36, 0x38}),
            Read(3, 0, 0x10, 4, &expected));
  EXPECT_EQ(12, expected);
  EXPECT_EQ(Bytes({0x02, 0x46, 0x30, 0x30, 0x30, 0x32, 0x30, 0x30, 0x30, 0x32, 0x41, 0x42, 0x43,
                   0x44, 0x03, 0x44, 0x37}),
            Write(0, 0x200, {0xAB, 0xCD}, &expected));
  EXPECT_EQ(1, expected);
  EXPECT_EQ(Bytes({0x02, 0x31, 0x38, 0x32, 0x38, 0x30, 0x30, 0x32, 0x43, 0x44, 0x41, 0x42, 0x03,
                   0x37, 0x32}),
            Write(3, 0x200, {0xAB, 0xCD}, &expected));
  EXPECT_EQ(1, expected);
}

TEST_F(ClassicCodec, WorkedExampleRepliesDecode) {
  const Bytes reply =
      Bytes({0x02, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x03, 0x41, 0x37});
  EXPECT_EQ((std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}), DecodeRead(0, 4, reply).Payload);
  EXPECT_EQ((std::vector<uint8_t>{0x34, 0x12, 0x78, 0x56}), DecodeRead(3, 4, reply).Payload);
  EXPECT_EQ(0, DecodeRead(3, 4, reply).Status);
}

// Command character and address field of every request kind, model code and
// area type; the whole frame is compared, so the checksum is checked too.
TEST_F(ClassicCodec, CommandAndWireAddressFollowModelCodeAndArea) {
  struct Row {
    const char *name;
    bool write;
    uint16_t model, area;
    int32_t address;
    const char *text;  // between STX and ETX
  } rows[] = {
      {"model 0 area 0", false, 0, 0, 0x100, "E00010004"},
      {"model 0 area 1", false, 0, 1, 0x100, "E02010004"},
      {"model 0 area 2", false, 0, 2, 0x100, "E02210004"},
      {"model 0 area 3 sits at 2232A", false, 0, 3, 0x100, "E02242A04"},
      {"model 1 area 0", false, 1, 0, 0x100, "E00010004"},
      {"model 1 area 1", false, 1, 1, 0x100, "E01010004"},
      {"model 1 area 2", false, 1, 2, 0x100, "E01210004"},
      {"model 1 area 3", false, 1, 3, 0x100, "E01290004"},
      {"model 2 area 0", false, 2, 0, 0x100, "E00010004"},
      {"model 2 area 1", false, 2, 1, 0x100, "E02010004"},
      {"model 2 area 2", false, 2, 2, 0x100, "E02210004"},
      {"model 2 area 3", false, 2, 3, 0x100, "E02290004"},
      {"model 9 reads like model 2", false, 9, 3, 0x100, "E02290004"},
      {"model 0 keeps six digits", false, 0, 0, 0x1234567, "E23456704"},
      {"model 0 offset wraps at six digits", false, 0, 3, 0xFFFFFF, "E02232904"},
      {"model 3 ignores the area", false, 3, 3, 0x100, "0818004"},
      {"model 3 address -36", false, 3, 0, -36, "0805C04"},
      {"model 3 address 3959", false, 3, 0, 3959, "08FF704"},
      {"model 3 address 3960 moved by 8", false, 3, 0, 3968, "0900004"},
      {"model 3 keeps four digits", false, 3, 0, 0x12345, "0A3C504"},
      {"model 0 write has no area offset", true, 0, 0, 0x100, "F00010004"},
      {"model 1 write", true, 1, 0, 0x100, "F00010004"},
      {"model 2 write", true, 2, 0, 0x100, "F00010004"},
      {"model 3 write", true, 3, 0, 0x100, "1818004"},
      {"model 3 write at -36", true, 3, 0, -36, "1805C04"},
  };
  const Bytes data{0x11, 0x22, 0x33, 0x44};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes frame =
        row.write ? Write(row.model, row.address, data) : Read(row.model, row.area, row.address, 4);
    std::string text = row.text;
    if (row.write) text += row.model == 3 ? "22114433" : "11223344";
    EXPECT_EQ(Framed(text), frame);
  }
}

TEST_F(ClassicCodec, CountsAboveSixtyFourAreRefusedWithoutWriting) {
  uint16_t expected = 0;
  EXPECT_EQ(Framed("E00000040"), Read(0, 0, 0, 64, &expected));
  EXPECT_EQ(132, expected);
  for (uint16_t model : {0, 3}) {
    uint8_t frame[160];
    std::memset(frame, 0xEE, sizeof frame);
    const std::vector<uint8_t> data(65, 0x5A);
    expected = 777;
    EXPECT_EQ(0, quib::BuildClassicRead(model, 0, 0, 65, frame, &expected));
    EXPECT_EQ(0, quib::BuildClassicWrite(model, 0, 65, data.data(), frame, &expected));
    EXPECT_EQ(777, expected);
    for (uint8_t b : frame) ASSERT_EQ(0xEE, b);
  }
}

TEST_F(ClassicCodec, AreaAboveThreeIsRefusedExceptOnModelThree) {
  uint16_t expected = 777;
  EXPECT_EQ(Bytes{}, Read(0, 4, 0x100, 4, &expected));
  EXPECT_EQ(777, expected);
  EXPECT_EQ(Bytes{}, Read(2, 0xFFFF, 0x100, 4));
  EXPECT_EQ(Framed("0818004"), Read(3, 4, 0x100, 4));
}

// An odd run on a word panel: the last byte has no partner and travels at its
// own place; nothing past the caller's data is read.
TEST_F(ClassicCodec, OddRunOnModelThreeStaysWithinTheData) {
  EXPECT_EQ(Framed("18080032211C3"), Write(3, 0, {0x11, 0x22, 0xC3}));
  EXPECT_EQ(Framed("18080017E"), Write(3, 0, {0x7E}));
  EXPECT_EQ((std::vector<uint8_t>{0x22, 0x11, 0x33}), DecodeRead(3, 3, Framed("112233")).Payload);
}

TEST_F(ClassicCodec, HexDigitsFollowThePanelRules) {
  struct Row {
    const char *text;
    int16_t digits;
    int32_t value;
  } rows[] = {
      {"1A", 2, 0x1A},  {"1a", 2, 0x3A},  // lower case counts 32 more
      {"a0", 2, 0x2A0},                   // ... which the first digit pushes above the low byte
      {"FF", 2, 0xFF},  {"0", 1, 0},     {"G", 1, 16},
      {":", 1, 10},     {" ", 1, -16},   {"12345678", 8, 0x12345678},
      {"FF", 0, 0},     {"FF", -1, 0},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(row.value, quib::GetHex(reinterpret_cast<const uint8_t *>(row.text), row.digits))
        << row.text << " with " << row.digits << " digits";
  }

  uint8_t out[9] = "........";
  quib::PutHex(0xABCD, out, 6);
  EXPECT_STREQ("00ABCD..", reinterpret_cast<char *>(out));
  quib::PutHex(0x12345678, out, 8);
  EXPECT_STREQ("12345678", reinterpret_cast<char *>(out));
  quib::PutHex(0x12345678, out, 3);
  EXPECT_STREQ("67845678", reinterpret_cast<char *>(out));
  quib::PutHex(0x1, out, 0);
  EXPECT_STREQ("67845678", reinterpret_cast<char *>(out));
}

TEST_F(ClassicCodec, ProbesAcceptOnlyTheirStartByteOrNak) {
  struct Row {
    const char *name;
    bool write;
    uint8_t first;
    int16_t result;
    uint16_t expected_after;
  } rows[] = {
      {"read, STX", false, classic::STX, 0, 12},   {"read, NAK", false, classic::NAK, 0, 1},
      {"read, ACK", false, classic::ACK, -20, 12}, {"read, X", false, 'X', -20, 12},
      {"write, ACK", true, classic::ACK, 0, 12},   {"write, NAK", true, classic::NAK, 0, 1},
      {"write, STX", true, classic::STX, -20, 12},
  };
  for (const Row &row : rows) {
    const uint8_t rx[4] = {row.first, '1', '2', '3'};
    uint16_t expected = 12;
    const int16_t result = row.write ? quib::ProbeClassicWrite(kPort, 1, rx, &expected)
                                     : quib::ProbeClassicRead(kPort, 1, rx, &expected);
    EXPECT_EQ(row.result, result) << row.name;
    EXPECT_EQ(row.expected_after, expected) << row.name;
  }
}

TEST_F(ClassicCodec, ReadDecoderChecksInOrder) {
  Bytes no_etx = Framed("12345678");
  no_etx[9] = 'X';
  Bytes bad_sum = Framed("12345678");
  bad_sum[11] = bad_sum[11] == '0' ? '1' : '0';
  struct Row {
    const char *name;
    Bytes reply;
    int16_t status;
  } rows[] = {
      {"NAK", {classic::NAK}, -19},
      {"ACK", {classic::ACK, '1', '2', '3', '4', '5', '6', '7', '8', 3, 'A', '7'}, -20},
      {"ETX missing", no_etx, -21},
      {"checksum wrong", bad_sum, -17},
      {"ACK before a missing ETX", {classic::ACK, '1', '2', 'X', 'A', '7'}, -20},
      {"too short for an ETX", {classic::STX, '1', '2'}, -21},
  };
  for (const Row &row : rows) {
    const Decoded d = DecodeRead(0, 4, row.reply);
    EXPECT_EQ(row.status, d.Status) << row.name;
    EXPECT_TRUE(d.Payload.empty()) << row.name;
  }
}

// The checksum digits are read with the panel's hex rule: a lower-case first
// digit keeps its low byte, a lower-case second digit does not.
TEST_F(ClassicCodec, LowerCaseChecksumDigits) {
  Bytes reply = Framed("ABCDEF12");
  ASSERT_EQ(Bytes({'F', 'B'}), Bytes(reply.end() - 2, reply.end()));
  reply[10] = 'f';
  EXPECT_EQ(0, DecodeRead(0, 4, reply).Status);
  reply[10] = 'F';
  reply[11] = 'b';
  EXPECT_EQ(-17, DecodeRead(0, 4, reply).Status);
  // Data digits are not validated beyond the checksum: "1a" is 0x3A.
  EXPECT_EQ((std::vector<uint8_t>{0x3A}), DecodeRead(0, 1, Framed("1a")).Payload);
}

TEST_F(ClassicCodec, ReadReplyMustCarryTheRequestedCount) {
  // Well-formed replies whose length disagrees with the request's count.
  EXPECT_EQ(-21, DecodeRead(0, 4, Framed("123456")).Status);
  EXPECT_EQ(-21, DecodeRead(0, 2, Framed("12345678")).Status);
  EXPECT_EQ(-21, DecodeRead(3, 4, Framed("1234567890")).Status);
}

TEST_F(ClassicCodec, WriteDecoderTracesWhatCameBack) {
  struct Row {
    uint8_t reply;
    int16_t status;
    const char *trace;
  } rows[] = {
      {classic::ACK, 0, "ACK RECEIVED!\n"},
      {classic::NAK, -19, "NAK RECEIVED!\n"},
      {classic::STX, -20, "OTHER RECEIVED!\n"},
  };
  for (const Row &row : rows) {
    fake::ClearDebug();
    uint16_t length = 0xBEEF;
    uint8_t payload[4] = {};
    EXPECT_EQ(row.status, quib::DecodeClassicWrite(kPort, 1, &row.reply, payload, &length))
        << row.trace;
    EXPECT_EQ(0, length) << row.trace;
    EXPECT_EQ(std::vector<std::string>{row.trace}, fake::DebugTexts());
  }
}

}  // namespace
