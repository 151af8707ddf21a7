#include "wire/frame_reader.h"

#include <gtest/gtest.h>

#include "test_frames.h"

namespace quiblink::wire {
namespace {

using std::chrono::milliseconds;
using test::Cat;
using test::ClassicRequest;
using test::GraphicRequest;
using test::Hex;

struct Result {
  std::vector<Bytes> frames;
  Bytes junk;
};

// Feeds the pieces one after the other, 1 ms apart.
Result FeedPieces(Family family, const std::vector<Bytes> &pieces) {
  FrameReader reader(family);
  TimePoint now{};
  std::vector<Frame> frames;
  Result r;
  for (const Bytes &piece : pieces) {
    now += milliseconds(1);
    reader.Feed(piece.data(), piece.size(), now, &frames, &r.junk);
  }
  for (const Frame &f : frames) r.frames.push_back(f.bytes);
  return r;
}

// Pieces fed one read at a time, with the frames and the junk they must give.
struct Case {
  const char *name;
  std::vector<Bytes> pieces;
  std::vector<Bytes> frames;
  Bytes junk;
};

void ExpectCuts(Family family, const std::vector<Case> &cases) {
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Result r = FeedPieces(family, c.pieces);
    EXPECT_EQ(r.frames, c.frames);
    EXPECT_EQ(r.junk, c.junk);
  }
}

TEST(FrameReader, CutsClassicFrames) {
  const Bytes read = Hex("02 45 30 30 30 31 30 30 30 34 03 43 44");
  const Bytes write = Hex("02 31 38 32 38 30 30 32 43 44 41 42 03 37 32");
  const std::vector<Case> cases = {
      {"whole frame", {read}, {read}, {}},
      {"two frames in one read", {Cat({read, write})}, {read, write}, {}},
      {"byte by byte",
       [&] {
         std::vector<Bytes> v;
         for (uint8_t b : write) v.push_back({b});
         return v;
       }(),
       {write},
       {}},
      {"junk before a frame", {Cat({Hex("55 AA 03"), read})}, {read}, Hex("55 AA 03")},
      {"new STX restarts", {Cat({Hex("02 45 30"), read})}, {read}, Hex("02 45 30")},
      {"no ETX yet", {Bytes(read.begin(), read.end() - 3)}, {}, {}},
      {"checksum digits still due", {Bytes(read.begin(), read.end() - 1)}, {}, {}},
  };
  ExpectCuts(Family::kClassic, cases);
}

TEST(FrameReader, DropsAClassicFrameThatNeverEnds) {
  Bytes endless{0x02};
  endless.resize(FrameReader::kMaxClassicFrame + 1, '0');
  const Bytes read = ClassicRequest("E00010004");
  Result r = FeedPieces(Family::kClassic, {endless, read});
  EXPECT_EQ(r.frames, std::vector<Bytes>{read});
  EXPECT_EQ(r.junk.size(), endless.size());
}

TEST(FrameReader, CutsGraphicFramesByTheirLengthField) {
  const Bytes offline = Hex("FE 06 00 01 01 00 00 00 08");
  // FE inside the data of a frame is data, not a start.
  const Bytes write = GraphicRequest(0x11, 3, 2, 0, Hex("02 00 FE FE"));
  const Bytes largest = GraphicRequest(0x11, 1, 2, 0, Bytes(1028, 0xFE));
  const std::vector<Case> cases = {
      {"whole frame", {offline}, {offline}, {}},
      {"start byte in data", {Cat({write, offline})}, {write, offline}, {}},
      {"split in the length field",
       {{0xFE, 0x06}, Bytes(offline.begin() + 2, offline.end())},
       {offline},
       {}},
      {"largest frame", {largest}, {largest}, {}},
      {"length below 6 is no start", {Cat({Hex("FE 05 00"), offline})}, {offline}, Hex("FE 05 00")},
      {"length above 1034 is no start",
       {Cat({Hex("FE 0B 04"), offline})},
       {offline},
       Hex("FE 0B 04")},
      {"a start inside a refused header", {Cat({Hex("FE 00"), offline})}, {offline}, Hex("FE 00")},
      {"reply bytes are junk", {Cat({Hex("FF 06 00"), offline})}, {offline}, Hex("FF 06 00")},
  };
  ExpectCuts(Family::kGraphic, cases);
}

TEST(FrameReader, DropsAPartialFrameLeftSilent) {
  FrameReader reader(Family::kGraphic, milliseconds(100));
  const Bytes offline = Hex("FE 06 00 01 01 00 00 00 08");
  std::vector<Frame> frames;
  Bytes junk;
  TimePoint t0{};
  reader.Feed(offline.data(), 4, t0, &frames, &junk);
  ASSERT_TRUE(reader.StaleDeadline());
  reader.Expire(t0 + milliseconds(100), &junk);
  EXPECT_TRUE(reader.Partial());
  reader.Expire(t0 + milliseconds(101), &junk);
  EXPECT_FALSE(reader.Partial());
  EXPECT_EQ(junk, Bytes(offline.begin(), offline.begin() + 4));
  // The frame sent again whole is read, and its time is that of its first byte.
  reader.Feed(offline.data(), offline.size(), t0 + milliseconds(200), &frames, &junk);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].first_byte, t0 + milliseconds(200));
}

}  // namespace
}  // namespace quiblink::wire
