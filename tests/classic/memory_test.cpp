// QUIB_Read and QUIB_Write over the fake line against a scripted panel:
// chunking, the address gap, the preamble block, argument checks and what a
// failing chunk leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/wire/panel.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"
#include "support/library_fixture.h"

namespace {

namespace classic = wire::classic;

using fake::Bytes;

class ClassicMemory : public LibraryTest {
 protected:
  // Opens a channel on COM1 with a healthy panel behind it.
  int16_t Open(uint16_t model) {
    const int16_t handle = QUIB_Open(0, model);
    EXPECT_GE(handle, 0);
    Line().OnFrame([this](fake::Line &line, const Bytes &frame) { line.Send(Reply(frame)); });
    fake::ClearDebug();
    return handle;
  }
  void TearDown() override {
    for (int16_t handle : {0, 1, 2}) QUIB_Close(static_cast<uint16_t>(handle));
    LibraryTest::TearDown();
  }
  static fake::Line &Line() { return fake::LineOfPort(0); }

  // The panel's answer to a frame; tests replace it to script faults.
  std::function<Bytes(const Bytes &)> Reply = [this](const Bytes &f) { return panel.Answer(f); };
  classic::Memory panel;

  static size_t CountText(const std::string &text) {
    const auto texts = fake::DebugTexts();
    return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
  }
  static size_t IndexOf(const std::string &text) {
    const auto texts = fake::DebugTexts();
    return static_cast<size_t>(std::find(texts.begin(), texts.end(), text) - texts.begin());
  }
};

TEST_F(ClassicMemory, ReadWorkedExampleOverTheLine) {
  const int16_t h = Open(0);
  Reply = [](const Bytes &) {
    return Bytes({0x02, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x03, 0x41, 0x37});
  };
  uint8_t buffer[4] = {};
  EXPECT_EQ(0, QUIB_Read(h, 0, 0x100, buffer, 4));
  EXPECT_EQ(std::vector<Bytes>{Bytes(
                {0x02, 0x45, 0x30, 0x30, 0x30, 0x31, 0x30, 0x30, 0x30, 0x34, 0x03, 0x43, 0x44})},
            Line().Frames());
  EXPECT_EQ((std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}),
            std::vector<uint8_t>(buffer, buffer + 4));
  EXPECT_EQ("READ command\n", fake::DebugTexts().at(0));
  EXPECT_EQ(0u, CountText("]\n")) << "read requests are not dumped";
}

TEST_F(ClassicMemory, TransfersAreChunkedAndCutAtTheAddressGap) {
  using Requests = std::vector<std::pair<unsigned, unsigned>>;  // wire address, count
  struct Row {
    const char *name;
    uint16_t model;
    bool write;
    uint16_t area;
    int32_t address;
    uint16_t count;
    Requests requests;
  } rows[] = {
      {"read of 130 bytes", 0, false, 0, 0, 130, {{0, 64}, {64, 64}, {128, 2}}},
      {"write of 70 bytes", 0, true, 0, 0, 70, {{0, 32}, {32, 32}, {64, 6}}},
      {"model 3 read across the gap", 3, false, 0, 3940, 40, {{0x8FE4, 20}, {0x9000, 20}}},
      {"model 3 read behind the gap", 3, false, 0, 3960, 10, {{0x9000, 10}}},
      {"model 3 read up to the gap", 3, false, 0, 3950, 10, {{0x8FEE, 10}}},
      {"model 3 long read across the gap",
       3,
       false,
       0,
       3900,
       200,
       {{0x8FBC, 60}, {0x9000, 64}, {0x9040, 64}, {0x9080, 12}}},
      {"model 3 write across the gap", 3, true, 0, 3940, 40, {{0x8FE4, 20}, {0x9000, 20}}},
      {"model 3 read ignores the area", 3, false, 1, 0, 4, {{0x8080, 4}}},
      {"model 3 write at 0 sends the preamble", 3, true, 0, 0, 4, {{0x805C, 36}, {0x8080, 4}}},
      {"model 3 write at 1 sends no preamble", 3, true, 0, 1, 4, {{0x8081, 4}}},
      {"model 0 write at 0 sends no preamble", 0, true, 0, 0, 4, {{0, 4}}},
      {"model 3 odd start short of the gap", 3, false, 0, 3953, 6, {{0x8FF1, 6}}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    panel = {};
    const int16_t h = Open(row.model);
    std::vector<uint8_t> data(row.count);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 ^ i);
    std::vector<uint8_t> buffer(row.count + 1, 0xEE);

    const int16_t rc = row.write ? QUIB_Write(h, row.area, row.address, row.count, data.data())
                                 : QUIB_Read(h, row.area, row.address, buffer.data(), row.count);
    EXPECT_EQ(0, rc);
    Requests sent;
    for (const classic::Request &r : panel.Requests) {
      EXPECT_EQ(row.write, r.Write);
      sent.emplace_back(r.Address, r.Count);
    }
    EXPECT_EQ(row.requests, sent);
    for (int64_t i = 0; i < row.count; ++i) {
      const unsigned wire = classic::WireAddress(row.model, row.address + i);
      if (row.write) {
        ASSERT_EQ(data[i], panel.At(wire)) << "byte " << i;
      } else {
        ASSERT_EQ(panel.At(wire), buffer[i]) << "byte " << i;
      }
    }
    EXPECT_EQ(0xEE, buffer[row.count]) << "nothing beyond the count";
    // Write data frames are dumped, the preamble and read requests are not.
    const size_t data_frames =
        row.write ? row.requests.size() - (row.address == 0 && row.model == 3) : 0;
    EXPECT_EQ(data_frames, CountText("]\n"));
    QUIB_Close(h);
  }
}

TEST_F(ClassicMemory, PreambleBlockGoesFirstAndIsTracedNotDumped) {
  const int16_t h = Open(3);
  const uint8_t data[4] = {0x01, 0x02, 0x03, 0x04};
  ASSERT_EQ(0, QUIB_Write(h, 0, 0, 4, data));
  const std::string preamble =
      "\x02"
      "1805C24"
      "6874736520657261206568742065637365726E6564207461206120202020202018000010"
      "\x03"
      "02";
  const auto frames = Line().Frames();
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ(83u, frames[0].size());
  EXPECT_EQ(preamble, std::string(frames[0].begin(), frames[0].end()));
  EXPECT_EQ(classic::Framed("180800402010403"), frames[1]);

  EXPECT_EQ(0u, IndexOf("WRITE command\n"));
  EXPECT_LT(IndexOf("ENTER!!\n"), IndexOf("ENTER PART2!!\n"));
  EXPECT_LT(IndexOf("ENTER PART2!!\n"), IndexOf("["));
  EXPECT_EQ(1u, CountText("[")) << "only the data frame is dumped";
  EXPECT_NE(std::string::npos, fake::DebugJoined().find("[<02>180800402010403<03>"));
}

TEST_F(ClassicMemory, NakToThePreambleEndsTheWriteBeforeAnyData) {
  const int16_t h = Open(3);
  Reply = [](const Bytes &) { return Bytes{classic::NAK}; };
  const uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_EQ(-19, QUIB_Write(h, 0, 0, 4, data));
  const auto frames = Line().Frames();
  EXPECT_EQ(3u, frames.size()) << "the worker's three attempts";
  for (const Bytes &f : frames)
    EXPECT_EQ(0x805Cu, classic::Parse(f).Address) << "only the preamble";
  EXPECT_EQ(0u, CountText("[")) << "no data frame was built";
}

TEST_F(ClassicMemory, FailedSecondChunkKeepsTheFirstAndTouchesNothingElse) {
  const int16_t h = Open(0);
  int frames_seen = 0;
  Reply = [&](const Bytes &f) {
    return ++frames_seen == 1 ? panel.Answer(f) : Bytes{classic::NAK};
  };
  std::vector<uint8_t> buffer(130, 0xEE);
  EXPECT_EQ(-19, QUIB_Read(h, 0, 0, buffer.data(), 130));
  for (unsigned i = 0; i < 64; ++i) ASSERT_EQ(panel.At(i), buffer[i]) << "byte " << i;
  for (unsigned i = 64; i < 130; ++i) ASSERT_EQ(0xEE, buffer[i]) << "byte " << i;
  for (const Bytes &f : Line().Frames()) {
    EXPECT_NE(0x80u, classic::Parse(f).Address) << "no third chunk after the failure";
  }
}

// A cancel from another thread (here the line's, while the first chunk is on it) stops a read
// or a write before its next chunk; the chunk on the line completes.
TEST_F(ClassicMemory, ACancelStopsTheTransferBeforeItsNextChunk) {
  const int16_t h = Open(0);
  Reply = [&](const Bytes &f) {
    EXPECT_EQ(RC_OK, QUIB_CancelTransfer(static_cast<uint16_t>(h)));
    return panel.Answer(f);
  };
  std::vector<uint8_t> buffer(130, 0xEE);
  EXPECT_EQ(RC_CANCELLED, QUIB_Read(h, 0, 0, buffer.data(), 130));
  for (unsigned i = 0; i < 64; ++i) ASSERT_EQ(panel.At(i), buffer[i]) << "byte " << i;
  EXPECT_EQ(0xEE, buffer[64]);
  EXPECT_EQ(RC_CANCELLED, QUIB_Write(h, 0, 0, 100, buffer.data()));
  EXPECT_EQ(2u, Line().Frames().size()) << "one chunk each";
}

// Every refusal writes the entry trace, returns its code and sends nothing.
TEST_F(ClassicMemory, ArgumentChecksRefuseBeforeAnyExchange) {
  uint8_t buffer[256] = {};
  const uint8_t data[256] = {};
  struct Row {
    const char *name;
    uint16_t model;
    std::function<int16_t(int16_t h)> call;
    int16_t rc;
    const char *trace;
  } rows[] = {
      {"read, handle 32", 0, [&](int16_t) { return QUIB_Read(32, 0, 0, buffer, 0); }, -2,
       "READ command\n"},
      {"read, closed channel before count 0", 0,
       [&](int16_t h) { return QUIB_Read(h + 1, 0, 0, buffer, 0); }, -3, "READ command\n"},
      {"read, closed channel before no buffer", 0,
       [&](int16_t h) { return QUIB_Read(h + 1, 0, 0, nullptr, 4); }, -3, "READ command\n"},
      {"read, count 0", 0, [&](int16_t h) { return QUIB_Read(h, 0, 0, buffer, 0); }, -2,
       "READ command\n"},
      {"read, no buffer", 0, [&](int16_t h) { return QUIB_Read(h, 0, 0, nullptr, 4); }, -2,
       "READ command\n"},
      {"read, area 4", 0, [&](int16_t h) { return QUIB_Read(h, 4, 0, buffer, 4); }, -2,
       "READ command\n"},
      {"read, model 3 odd count", 3, [&](int16_t h) { return QUIB_Read(h, 0, 0, buffer, 3); }, -2,
       "READ command\n"},
      {"read, model 3 odd cut at the gap", 3,
       [&](int16_t h) { return QUIB_Read(h, 0, 3901, buffer, 200); }, -2, "READ command\n"},
      {"write, handle 40", 0, [&](int16_t) { return QUIB_Write(40, 0, 0, 4, data); }, -2,
       "WRITE command\n"},
      {"write, closed channel", 0, [&](int16_t h) { return QUIB_Write(h + 1, 1, 0, 0, data); }, -3,
       "WRITE command\n"},
      {"write, count 0", 0, [&](int16_t h) { return QUIB_Write(h, 0, 0, 0, data); }, -2,
       "WRITE command\n"},
      {"write, no data", 0, [&](int16_t h) { return QUIB_Write(h, 0, 0, 4, nullptr); }, -2,
       "WRITE command\n"},
      {"write, area 1", 0, [&](int16_t h) { return QUIB_Write(h, 1, 0, 4, data); }, -2,
       "WRITE command\n"},
      {"write, model 3 odd count at 0 sends no preamble", 3,
       [&](int16_t h) { return QUIB_Write(h, 0, 0, 5, data); }, -2, "WRITE command\n"},
      {"write, model 3 odd cut at the gap", 3,
       [&](int16_t h) { return QUIB_Write(h, 0, 3901, 100, data); }, -2, "WRITE command\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const int16_t h = Open(row.model);
    const size_t frames_before = Line().Frames().size();
    EXPECT_EQ(row.rc, row.call(h));
    EXPECT_EQ(frames_before, Line().Frames().size()) << "nothing sent";
    EXPECT_EQ(std::vector<std::string>{row.trace}, fake::DebugTexts());
    QUIB_Close(h);
  }
}

}  // namespace
