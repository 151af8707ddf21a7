#include "sim/classic_panel.h"

#include <gtest/gtest.h>

#include "test_frames.h"

namespace quiblink::sim {
namespace {

using namespace wire::test;  // the frames a PC program sends

constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;

TEST(ClassicPanel, ReadModel0AnswersTheWorkedExample) {
  ClassicPanel panel(0);
  ASSERT_TRUE(panel.Poke(0x100, Hex("12 34 56 78")));
  Reply reply = panel.Handle(Hex("02 45 30 30 30 31 30 30 30 34 03 43 44"));
  EXPECT_EQ(reply.bytes, Hex("02 31 32 33 34 35 36 37 38 03 41 37"));
  EXPECT_EQ(reply.shape, ReplyShape::kClassicData);
}

TEST(ClassicPanel, ReadModel3SwapsPairsOnTheWire) {
  ClassicPanel panel(3);
  // Logical 0x10 is wire 0x8090; memory 34 12 78 56 travels as the digits 12345678.
  ASSERT_TRUE(panel.Poke(0x8090, Hex("34 12 78 56")));
  Reply reply = panel.Handle(Hex("02 30 38 30 39 30 30 34 03 36 38"));
  EXPECT_EQ(reply.bytes, Hex("02 31 32 33 34 35 36 37 38 03 41 37"));
}

TEST(ClassicPanel, WritesOfTheWorkedExamplesReachMemoryInMemoryOrder) {
  struct Case {
    int model;
    const char *request;
    uint32_t address;
  };
  const Case cases[] = {
      {0, "02 46 30 30 30 32 30 30 30 32 41 42 43 44 03 44 37", 0x200},
      {3, "02 31 38 32 38 30 30 32 43 44 41 42 03 37 32", 0x8280},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.model);
    ClassicPanel panel(c.model);
    Reply reply = panel.Handle(Hex(c.request));
    EXPECT_EQ(reply.bytes, Bytes{kAck});
    Bytes memory;
    ASSERT_TRUE(panel.Peek(c.address, 2, &memory));
    EXPECT_EQ(memory, Hex("AB CD"));
    EXPECT_EQ(panel.counters().writes, 1u);
  }
}

TEST(ClassicPanel, AcceptsThePreambleBlockAt805C) {
  const std::string digits =
      "6874736520657261206568742065637365726E6564207461206120202020202018000010";
  Bytes frame = ClassicRequest("1805C24" + digits);
  ASSERT_EQ(frame.size(), 83u);
  EXPECT_EQ(frame[frame.size() - 2], '0');
  EXPECT_EQ(frame[frame.size() - 1], '2');
  ClassicPanel panel(3);
  EXPECT_EQ(panel.Handle(frame).bytes, Bytes{kAck});
  Bytes memory;
  ASSERT_TRUE(panel.Peek(0x805C, 36, &memory));
  std::string text(memory.begin(), memory.begin() + 32);
  EXPECT_EQ(text, "these are the screen data       ");
  EXPECT_EQ(Bytes(memory.begin() + 32, memory.end()), Hex("00 18 10 00"));
  EXPECT_EQ(panel.counters().preamble_writes, 1u);
}

TEST(ClassicPanel, WriteThenReadBackAtAnOddModel3AddressKeepsThePairSwap) {
  ClassicPanel panel(3);
  ASSERT_EQ(panel.Handle(ClassicRequest("1808104AABBCCDD")).bytes, Bytes{kAck});
  Bytes memory;
  ASSERT_TRUE(panel.Peek(0x8081, 4, &memory));
  EXPECT_EQ(memory, Hex("BB AA DD CC"));
  Reply reply = panel.Handle(ClassicRequest("0808104"));
  // A read reply has the shape of a request: STX, the digits, ETX, checksum.
  EXPECT_EQ(reply.bytes, ClassicRequest("AABBCCDD"));
}

// One row per address rule: whether the panel answers with data/ACK or refuses with NAK.
TEST(ClassicPanel, AnswersOnlyInsideItsMemory) {
  struct Case {
    const char *name;
    int model;
    std::string text;  // between STX and ETX
    bool accepted;
  };
  const Case cases[] = {
      {"model 3, last pair before the gap", 3, "08FF602", true},
      {"model 3, first never-used address", 3, "08FF802", false},
      {"model 3, last never-used address", 3, "08FFE02", false},
      {"model 3, read running into the gap", 3, "08FF604", false},
      {"model 3, first address after the gap", 3, "0900002", true},
      {"model 3, top of memory", 3, "0FFFE02", true},
      {"model 3, below the preamble block", 3, "0805A02", false},
      {"model 3, preamble block readable", 3, "0805C24", true},
      {"model 3, write into the gap", 3, "18FF8020000", false},
      {"model 3, odd byte count", 3, "0900003", false},
      {"model 0, end of area 0", 0, "E00FFC040", true},
      {"model 0, past area 0", 0, "E00FFF020", false},
      {"model 0, area 3 start", 0, "E02232A04", true},
      {"model 0, area 3 end", 0, "E022B2604", true},
      {"model 0, past area 3", 0, "E022B2804", false},
      {"model 0, between area 0 and area 1", 0, "E01FFFE02", false},
      {"model 1, area 0 runs into area 1", 1, "E00FFFE04", true},
      {"model 1, area 3 end", 1, "E012FFC04", true},
      {"model 1, past area 3", 1, "E012FFE04", false},
      {"model 2, area 3 start", 2, "E02280004", true},
      {"model 2, past area 3", 2, "E022FFE04", false},
      {"model 0, write to area 0", 0, "F00010002ABCD", true},
      {"model 0, write to area 1 is refused", 0, "F02000002ABCD", false},
      {"model 0, write past area 0", 0, "F00FFFF02ABCD", false},
      {"model 0, largest count", 0, "E00000040", true},
      {"model 0, count 0", 0, "E00000000", false},
      {"model 0, count 65", 0, "E00000041", false},
      {"model 0, lower-case digit", 0, "E0000a004", false},
      {"model 0, model 3 command", 0, "0808004", false},
      {"model 3, model 0 command", 3, "E00808004", false},
      {"model 0, write shorter than its count", 0, "F00010002AB", false},
      {"model 0, read with data", 0, "E00010002AB", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ClassicPanel panel(c.model);
    Reply reply = panel.Handle(ClassicRequest(c.text));
    if (c.accepted) {
      ASSERT_FALSE(reply.bytes.empty());
      EXPECT_NE(reply.bytes[0], kNak) << reply.note;
    } else {
      EXPECT_EQ(reply.bytes, Bytes{kNak});
    }
  }
}

TEST(ClassicPanel, RefusesABadChecksumAndAMissingEtx) {
  ClassicPanel panel(0);
  Bytes good = ClassicRequest("E00010004");
  Bytes bad_sum = good;
  bad_sum.back() = bad_sum.back() == '0' ? '1' : '0';
  EXPECT_EQ(panel.Handle(bad_sum).bytes, Bytes{kNak});
  Bytes lower_sum = Hex("02 45 30 30 30 31 30 30 30 34 03 43 64");  // "Cd": not upper case
  EXPECT_EQ(panel.Handle(lower_sum).bytes, Bytes{kNak});
  EXPECT_EQ(panel.counters().naks, 2u);
  EXPECT_EQ(panel.counters().reads, 0u);
}

TEST(ClassicPanel, ReadsAreaOffsetsAsSeparateMemory) {
  // The fill pattern differs by address, so reading area 3 of model 0 at the model 2 offset
  // would give other bytes.
  ClassicPanel panel(0);
  Bytes at_offset, at_wrong;
  ASSERT_TRUE(panel.Peek(0x2232A, 8, &at_offset));
  ASSERT_TRUE(panel.Peek(0x22800, 8, &at_wrong));
  EXPECT_NE(at_offset, at_wrong);
  Reply reply = panel.Handle(ClassicRequest("E02232A08"));
  Bytes expected = ClassicRequest(HexCompact(at_offset));
  EXPECT_EQ(reply.bytes, expected);
}

TEST(ClassicPanel, ImageKeepsMemoryAndRefusesAnotherModel) {
  ClassicPanel panel(3);
  ASSERT_TRUE(panel.Poke(0x9000, Hex("01 02 03")));
  Image image = panel.ToImage();
  ClassicPanel again(3);
  ASSERT_EQ(again.FromImage(image), "");
  Bytes memory;
  ASSERT_TRUE(again.Peek(0x9000, 3, &memory));
  EXPECT_EQ(memory, Hex("01 02 03"));
  ClassicPanel other(0);
  EXPECT_NE(other.FromImage(image), "");
}

}  // namespace
}  // namespace quiblink::sim
