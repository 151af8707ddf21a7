// Block writes over a scripted terminal: chunking with its continuation flags
// and sequence numbers, the argument checks before and after the trace, and
// the reply checks of every chunk.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "quiblink/quiblink_ext.h"
#include "terminal.h"

namespace {

using namespace wire;

struct Chunk {
  size_t size;
  uint8_t continuation, sequence;
};

// The frame of one chunk, laid out by hand: header bytes in front of the count.
Bytes ChunkFrame(uint8_t command, uint8_t subcommand, const Bytes &header, const Bytes &data,
                 size_t offset, const Chunk &c) {
  const Bytes slice(data.begin() + offset, data.begin() + offset + c.size);
  return graphic::Request(command, subcommand, c.continuation, c.sequence,
                          Cat({header, Le16(static_cast<uint32_t>(c.size)), slice}));
}

std::vector<Bytes> ChunkFrames(uint8_t command, uint8_t subcommand, const Bytes &header,
                               const Bytes &data, const std::vector<Chunk> &chunks) {
  std::vector<Bytes> frames;
  size_t offset = 0;
  for (const Chunk &c : chunks) {
    frames.push_back(ChunkFrame(command, subcommand, header, data, offset, c));
    offset += c.size;
  }
  return frames;
}

using BlockWriteTest = GraphicTerminalTest;

TEST_F(BlockWriteTest, AreaWritesAreCutIntoChunksWithFlagsAndSequenceNumbers) {
  const struct {
    const char *name;
    uint32_t length;
    uint8_t area;
    uint16_t group;
    std::vector<Chunk> chunks;
  } rows[] = {
      {"one byte", 1, 3, 0, {{1, 2, 0}}},
      {"exactly 1024", 1024, 3, 0, {{1024, 2, 0}}},
      {"1025", 1025, 4, 0, {{1024, 0, 0}, {1, 2, 1}}},
      {"3000", 3000, 6, 0x0102, {{1024, 0, 0}, {1024, 1, 1}, {952, 2, 2}}},
      {"grouped area, 3000", 3000, 1, 0x0102, {{1024, 0, 0}, {1024, 1, 1}, {952, 2, 2}}},
      {"grouped area, 2048", 2048, 1, 0xFFFF, {{1024, 0, 0}, {1024, 2, 1}}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const size_t before = Frames().size();
    AnswerAlways(graphic::Reply(17, row.area, 0, 0, 0));
    fake::ClearDebug();
    const Bytes data = Pattern(row.length, static_cast<uint8_t>(row.length));
    uint16_t status = kStatusSentinel;
    EXPECT_EQ(XQUIB_Write(handle_, row.area, row.group, row.length, data.data(), &status), RC_OK);
    EXPECT_EQ(status, 0);
    const Bytes header = row.area == 1 ? Le16(row.group) : Bytes{};
    const auto frames = Frames();
    EXPECT_EQ(std::vector<Bytes>(frames.begin() + before, frames.end()),
              ChunkFrames(17, row.area, header, data, row.chunks));
    const auto texts = fake::DebugTexts();
    EXPECT_TRUE(FirstTextIs("WRITE command\n"));
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "["), row.chunks.size()) << "one dump a chunk";
  }
  EXPECT_EQ(Frames()[1].size(), 1035u);
}

TEST_F(BlockWriteTest, InstallFramesCarryTheOptionByteInEveryChunk) {
  AnswerAlways(graphic::Reply(18, 0x62, 0, 0, 0));
  const Bytes data = Pattern(1500, 4);
  uint16_t status = kStatusSentinel;
  EXPECT_EQ(XQUIB_OSInstl(handle_, 0x62, 0x80, 1500, data.data(), &status), RC_OK);
  EXPECT_EQ(Frames(), ChunkFrames(18, 0x62, {0x80}, data, {{1024, 0, 0}, {476, 2, 1}}));
  EXPECT_EQ(Frames()[0].size(), 1036u);

  AnswerAlways(graphic::Reply(18, 0x61, 0, 0, 0));
  EXPECT_EQ(XQUIB_OSInstl(handle_, 0x61, 0x00, 3, data.data(), &status), RC_OK);
  EXPECT_EQ(Frames().back(), ChunkFrame(18, 0x61, {0x00}, data, 0, {3, 2, 0}));
}

TEST_F(BlockWriteTest, SequenceNumberWrapsAfter256ChunksAndTheFlagStaysOne) {
  AnswerAlways(graphic::Reply(17, 5, 0, 0, 0));
  const uint32_t length = 257 * 1024 + 10;
  const Bytes data = Pattern(length, 1);
  uint16_t status = kStatusSentinel;
  ASSERT_EQ(XQUIB_Write(handle_, 5, 0, length, data.data(), &status), RC_OK);
  const auto frames = Frames();
  ASSERT_EQ(frames.size(), 258u);
  for (size_t i = 0; i < frames.size(); ++i) {
    const uint8_t want_flag = i == 0 ? 0 : i == 257 ? 2 : 1;
    ASSERT_EQ(frames[i][5], want_flag) << "chunk " << i;
    ASSERT_EQ(frames[i][6], static_cast<uint8_t>(i)) << "chunk " << i;
  }
  EXPECT_EQ(frames[257], ChunkFrame(17, 5, {}, data, 257 * 1024, {10, 2, 1}));
}

TEST_F(BlockWriteTest, RefusedArgumentsWriteNoTraceAndSendNothing) {
  const Bytes data(10, 1);
  uint16_t status = kStatusSentinel;
  const struct {
    const char *name;
    int16_t rc;
  } rows[] = {
      {"write of length 0", XQUIB_Write(handle_, 3, 0, 0, data.data(), &status)},
      {"write to area 0", XQUIB_Write(handle_, 0, 0, 10, data.data(), &status)},
      {"write to area 2", XQUIB_Write(handle_, 2, 0, 10, data.data(), &status)},
      {"write to area 7", XQUIB_Write(handle_, 7, 0, 10, data.data(), &status)},
      {"write to read-only area 240", XQUIB_Write(handle_, 240, 0, 10, data.data(), &status)},
      {"length 0 before a bad handle", XQUIB_Write(40, 3, 0, 0, data.data(), &status)},
      {"install of length 0", XQUIB_OSInstl(handle_, 0x61, 0, 0, data.data(), &status)},
      {"install subcommand 0x63", XQUIB_OSInstl(handle_, 0x63, 0, 10, data.data(), &status)},
      {"install subcommand 0x60", XQUIB_OSInstl(handle_, 0x60, 0, 10, data.data(), &status)},
      {"install option 0x40", XQUIB_OSInstl(handle_, 0x61, 0x40, 10, data.data(), &status)},
      {"install option 0x81", XQUIB_OSInstl(handle_, 0x61, 0x81, 10, data.data(), &status)},
      {"sized write to area 2",
       XQUIB_WriteEx(handle_, 2, 0, 10, data.data(), &status, nullptr, nullptr)},
      {"sized install option 0x01",
       XQUIB_OSInstlEx(handle_, 0x62, 0x01, 10, data.data(), &status, nullptr, nullptr)},
  };
  for (const auto &row : rows) EXPECT_EQ(row.rc, RC_BAD_ARGUMENT) << row.name;
  EXPECT_EQ(status, kStatusSentinel);
  EXPECT_TRUE(fake::DebugTexts().empty());
  EXPECT_TRUE(Frames().empty());
}

TEST_F(BlockWriteTest, ChannelAndPointerChecksComeAfterTheTrace) {
  AnswerAlways(graphic::Reply(17, 3, 0, 0, 0));
  const Bytes data(10, 1);
  uint16_t status = kStatusSentinel;
  const struct {
    const char *name;
    std::function<int16_t()> call;
    int16_t rc;
  } rows[] = {
      {"write, handle 32", [&] { return XQUIB_Write(32, 3, 0, 10, data.data(), &status); },
       RC_BAD_ARGUMENT},
      {"write, free handle", [&] { return XQUIB_Write(5, 3, 0, 10, data.data(), &status); },
       RC_NOT_OPEN},
      {"write, no data", [&] { return XQUIB_Write(handle_, 3, 0, 10, nullptr, &status); },
       RC_BAD_ARGUMENT},
      {"write, no status", [&] { return XQUIB_Write(handle_, 3, 0, 10, data.data(), nullptr); },
       RC_BAD_ARGUMENT},
      {"install, handle 32", [&] { return XQUIB_OSInstl(32, 0x61, 0, 10, data.data(), &status); },
       RC_BAD_ARGUMENT},
      {"install, free handle", [&] { return XQUIB_OSInstl(5, 0x61, 0, 10, data.data(), &status); },
       RC_NOT_OPEN},
      {"install, no data", [&] { return XQUIB_OSInstl(handle_, 0x61, 0, 10, nullptr, &status); },
       RC_BAD_ARGUMENT},
      {"install, no status",
       [&] { return XQUIB_OSInstl(handle_, 0x61, 0, 10, data.data(), nullptr); }, RC_BAD_ARGUMENT},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    fake::ClearDebug();
    EXPECT_EQ(row.call(), row.rc);
    EXPECT_EQ(fake::DebugTexts(), std::vector<std::string>{"WRITE command\n"});
  }
  EXPECT_EQ(status, kStatusSentinel);
  EXPECT_TRUE(Frames().empty());
}

TEST_F(BlockWriteTest, ReplyChecksOfEveryChunkRunInTheirOrder) {
  const Bytes data = Pattern(2000, 6);
  const Bytes ok = graphic::Reply(17, 3, 0, 0, 0);
  const struct {
    const char *name;
    std::vector<Bytes> replies;
    int16_t rc;
    uint16_t status;
    size_t frames;
  } rows[] = {
      {"other command", {graphic::Reply(18, 3, 0, 0, 0)}, RC_BAD_ECHO, kStatusSentinel, 1},
      {"other subcommand", {graphic::Reply(17, 4, 0, 0, 0)}, RC_BAD_ECHO, kStatusSentinel, 1},
      {"continuation flag echoed",
       {graphic::Reply(17, 3, 2, 0, 0)},
       RC_SEQUENCE,
       kStatusSentinel,
       1},
      {"sequence number echoed", {ok, graphic::Reply(17, 3, 0, 1, 0)}, RC_SEQUENCE, 0, 2},
      {"echo checked before sequence",
       {graphic::Reply(17, 9, 1, 1, 5)},
       RC_BAD_ECHO,
       kStatusSentinel,
       1},
      {"sequence checked before status",
       {graphic::Reply(17, 3, 1, 0, 5)},
       RC_SEQUENCE,
       kStatusSentinel,
       1},
      {"terminal refuses the first chunk",
       {graphic::Reply(17, 3, 0, 0, 5)},
       RC_TERMINAL_ERROR,
       5,
       1},
      {"terminal refuses the second chunk",
       {ok, graphic::Reply(17, 3, 0, 0, 9)},
       RC_TERMINAL_ERROR,
       9,
       2},
      {"second chunk unanswered", {ok}, RC_NO_RESPONSE, 0, 4},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const size_t before = Frames().size();
    Answer(row.replies);
    uint16_t status = kStatusSentinel;
    EXPECT_EQ(XQUIB_Write(handle_, 3, 0, 2000, data.data(), &status), row.rc);
    EXPECT_EQ(status, row.status);
    EXPECT_EQ(Frames().size() - before, row.frames) << "no chunk after a failed one";
  }
}

struct ProgressLog {
  std::vector<std::pair<uint32_t, uint32_t>> calls;
  static void Record(uint32_t done, uint32_t total, void *user) {
    static_cast<ProgressLog *>(user)->calls.emplace_back(done, total);
  }
};

TEST_F(BlockWriteTest, SizedWritesReportProgressAfterEachAcceptedChunk) {
  const Bytes data = Pattern(3000, 2);
  uint16_t status = kStatusSentinel;
  const std::vector<std::pair<uint32_t, uint32_t>> all{{1024, 3000}, {2048, 3000}, {3000, 3000}};

  AnswerAlways(graphic::Reply(17, 1, 0, 0, 0));
  ProgressLog write;
  EXPECT_EQ(XQUIB_WriteEx(handle_, 1, 7, 3000, data.data(), &status, ProgressLog::Record, &write),
            RC_OK);
  EXPECT_EQ(write.calls, all);

  AnswerAlways(graphic::Reply(18, 0x61, 0, 0, 0));
  ProgressLog install;
  EXPECT_EQ(XQUIB_OSInstlEx(handle_, 0x61, 0x80, 3000, data.data(), &status, ProgressLog::Record,
                            &install),
            RC_OK);
  EXPECT_EQ(install.calls, all);

  Answer({graphic::Reply(17, 3, 0, 0, 0), graphic::Reply(17, 3, 0, 0, 4)});
  ProgressLog failed;
  EXPECT_EQ(XQUIB_WriteEx(handle_, 3, 0, 3000, data.data(), &status, ProgressLog::Record, &failed),
            RC_TERMINAL_ERROR);
  EXPECT_EQ(failed.calls, (std::vector<std::pair<uint32_t, uint32_t>>{{1024, 3000}}));
}

// Cancelled from its progress callback, a write sends no further chunk; the chunks the terminal
// accepted stay accepted.
TEST_F(BlockWriteTest, ACancelFromTheProgressCallbackStopsTheWriteBeforeItsNextChunk) {
  const Bytes data = Pattern(3000, 2);
  const uint16_t handle = handle_;
  auto cancel = [](uint32_t, uint32_t, void *user) {
    QUIB_CancelTransfer(*static_cast<const uint16_t *>(user));
  };
  uint16_t status = kStatusSentinel;
  AnswerAlways(graphic::Reply(17, 3, 0, 0, 0));
  EXPECT_EQ(XQUIB_WriteEx(handle_, 3, 0, 3000, data.data(), &status, cancel, (void *)&handle),
            RC_CANCELLED);
  AnswerAlways(graphic::Reply(18, 0x61, 0, 0, 0));
  EXPECT_EQ(XQUIB_OSInstlEx(handle_, 0x61, 0, 3000, data.data(), &status, cancel, (void *)&handle),
            RC_CANCELLED);
  EXPECT_EQ(Frames().size(), 2u) << "one chunk each";
  EXPECT_EQ(status, 0);
}

}  // namespace
