// A transfer of several frames holds its port's turn from its first frame to
// its last. Each case lets another thread make its call at the moment the
// transfer enters its second frame (see at_trace.h): another channel's call
// waits behind the transfer and runs after it, a call or close of the
// transferring channel itself is refused as busy, and an unload does not wait
// for the transfer.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "at_trace.h"
#include "support/wire/panel.h"
#include "support/wire/graphic.h"
#include "support/fake/fake_line.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"
#include "support/library_fixture.h"

namespace {

using namespace wire;

constexpr uint8_t kBlockRead = 33;
constexpr uint8_t kAreaWrite = 17;
constexpr uint8_t kTerminalType = 82;

// Entries in a port's queue, read under the queue lock.
int QueueLength(int port) {
  const bool locked = plat::SemaphoreWait(quib::QueueLock, plat::kInfinite) == plat::kWaitSignaled;
  const quib::PortQueue &q = quib::State.Queues[port];
  const int length = (q.Tail - q.Head + quib::kRingSize) % quib::kRingSize;
  if (locked) plat::SemaphoreRelease(quib::QueueLock);
  return length;
}

// The other thread's call has joined the queue behind the transfer.
AtTrace::Parked QueuedBehind() {
  return [](std::thread::id) { return QueueLength(0) == 2; };
}

// A graphic terminal on COM1: a block walk of group 3 (two blocks, then the
// end), area writes acknowledged, and its type.
class TransferTurn : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    a_ = XQUIB_Open(0, 38400, 0);
    b_ = XQUIB_Open(0, 38400, 0);
    ASSERT_GE(a_, 0);
    ASSERT_GE(b_, 0);
    first_ = Pattern(1024, 1);
    second_ = Pattern(300, 2);
    fake::LineOfPort(0).OnFrame([this](fake::Line &line, const Bytes &frame) {
      if (frame.size() < 8) return;
      const uint8_t command = frame[3], subcommand = frame[4], continuation = frame[5];
      if (command == kBlockRead) {
        walk_ = continuation == 0 ? 0 : walk_ + 1;
        if (walk_ == 0) line.Send(graphic::Reply(33, 1, 0, 0, 0, graphic::GroupBlock(3, first_)));
        if (walk_ == 1) line.Send(graphic::Reply(33, 1, 1, 1, 0, graphic::GroupBlock(3, second_)));
        if (walk_ >= 2) line.Send(graphic::Reply(33, 1, 0, 0, 0, graphic::GroupBlock(0, {})));
      } else if (command == kAreaWrite) {
        line.Send(graphic::Reply(kAreaWrite, subcommand, 0, 0, 0));
      } else if (command == kTerminalType) {
        line.Send(graphic::Reply(kTerminalType, 1, 0, 0, 0, {0xC3}));
      }
    });
  }

  std::vector<uint8_t> Commands() {
    std::vector<uint8_t> commands;
    for (const Bytes &f : fake::LineOfPort(0).Frames()) commands.push_back(f.size() > 3 ? f[3] : 0);
    return commands;
  }

  int16_t a_ = -1, b_ = -1;
  Bytes first_, second_;
  int walk_ = 0;  // the worker's thread only
};

TEST_F(TransferTurn, AnotherChannelsCallWaitsUntilAReadAllHasEnded) {
  Bytes data(4096, 0xEE);
  int32_t total = -1;
  uint16_t status = 0xBEEF;
  std::atomic<int16_t> other{-100};
  uint32_t type = 0;
  uint16_t other_status = 0xBEEF;
  int16_t rc = -100;
  {
    AtTrace at(
        "Send Command\n", [&] { other = XQUIB_GetKEWType(uint16_t(b_), &type, &other_status); },
        QueuedBehind(), 2);
    rc = XQUIB_ReadAll(uint16_t(a_), data.data(), &total, &status);
    EXPECT_TRUE(at.was_parked()) << "the other call did not wait for the transfer";
  }
  EXPECT_EQ(rc, RC_OK);
  EXPECT_EQ(total, 1324);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 1324), Cat({first_, second_}));
  EXPECT_EQ(other.load(), RC_OK);
  EXPECT_EQ(type, 0xC3u);
  EXPECT_EQ(Commands(), (std::vector<uint8_t>{kBlockRead, kBlockRead, kBlockRead, kTerminalType}));
  EXPECT_EQ(QueueLength(0), 0);
}

TEST_F(TransferTurn, AnotherChannelsWriteWaitsUntilAChunkedWriteHasEnded) {
  const Bytes mine = Pattern(1500, 3), theirs = Pattern(10, 4);
  uint16_t status = 0xBEEF, other_status = 0xBEEF;
  std::atomic<int16_t> other{-100};
  int16_t rc = -100;
  {
    AtTrace at(
        "Send Command\n",
        [&] {
          other = XQUIB_Write(uint16_t(b_), 4, 0, uint32_t(theirs.size()), theirs.data(),
                              &other_status);
        },
        QueuedBehind(), 2);
    rc = XQUIB_Write(uint16_t(a_), 3, 0, uint32_t(mine.size()), mine.data(), &status);
    EXPECT_TRUE(at.was_parked());
  }
  EXPECT_EQ(rc, RC_OK);
  EXPECT_EQ(other.load(), RC_OK);
  const auto frames = fake::LineOfPort(0).Frames();
  ASSERT_EQ(frames.size(), 3u);
  // Area 3's two chunks (first, last), then area 4's only chunk.
  EXPECT_EQ(frames[0][4], 3);
  EXPECT_EQ(frames[1][4], 3);
  EXPECT_EQ(frames[1][5], 2) << "the last chunk of area 3";
  EXPECT_EQ(frames[2][4], 4);
}

// Between two frames of a transfer, another thread's call on the same channel
// and a close of it are refused as busy; nothing of theirs reaches the line.
TEST_F(TransferTurn, TheTransferringChannelIsBusyBetweenItsFrames) {
  const Bytes mine = Pattern(1500, 5);
  uint16_t status = 0xBEEF, other_status = 0xBEEF;
  uint32_t type = 0;
  std::atomic<int16_t> other{-100}, closed{-100};
  int16_t rc = -100;
  {
    AtTrace at(
        "Send Command\n",
        [&] {
          other = XQUIB_GetKEWType(uint16_t(a_), &type, &other_status);
          closed = QUIB_Close(uint16_t(a_));
        },
        AtTrace::Never(), 2);
    rc = XQUIB_Write(uint16_t(a_), 3, 0, uint32_t(mine.size()), mine.data(), &status);
    EXPECT_TRUE(at.returned_first());
  }
  EXPECT_EQ(rc, RC_OK);
  EXPECT_EQ(other.load(), RC_CHANNEL_BUSY);
  EXPECT_EQ(closed.load(), RC_BAD_ARGUMENT);
  EXPECT_EQ(Commands(), (std::vector<uint8_t>{kAreaWrite, kAreaWrite}));
  EXPECT_EQ(QUIB_Close(uint16_t(a_)), RC_OK);
}

// A progress callback runs while its transfer holds the port: a call it makes
// on another channel of that port would wait for the transfer that called it,
// so it is refused as busy at once.
TEST_F(TransferTurn, AProgressCallbacksCallOnTheSamePortIsRefusedBusy) {
  const Bytes mine = Pattern(1500, 6);
  struct Seen {
    uint16_t other;
    std::vector<int16_t> results;
  } seen{uint16_t(b_), {}};
  uint16_t status = 0xBEEF;
  const int16_t rc = XQUIB_WriteEx(
      uint16_t(a_), 3, 0, uint32_t(mine.size()), mine.data(), &status,
      [](uint32_t, uint32_t, void *user) {
        auto *s = static_cast<Seen *>(user);
        uint32_t type = 0;
        uint16_t st = 0;
        s->results.push_back(XQUIB_GetKEWType(s->other, &type, &st));
      },
      &seen);
  EXPECT_EQ(rc, RC_OK);
  EXPECT_EQ(seen.results, (std::vector<int16_t>{RC_CHANNEL_BUSY, RC_CHANNEL_BUSY}));
  EXPECT_EQ(Commands(), (std::vector<uint8_t>{kAreaWrite, kAreaWrite}));
  uint32_t type = 0;
  uint16_t st = 0;
  EXPECT_EQ(XQUIB_GetKEWType(uint16_t(b_), &type, &st), RC_OK) << "afterwards it goes through";
}

using ClassicTurn = LibraryTest;

// Two channels of a classic panel: a write of 64 bytes goes in two chunks,
// and the other channel's write comes after both.
TEST_F(ClassicTurn, WritesOfTwoChannelsDoNotMixTheirChunks) {
  const int16_t a = QUIB_Open(0, 0), b = QUIB_Open(0, 0);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  fake::LineOfPort(0).OnFrame(
      [](fake::Line &line, const fake::Bytes &) { line.Send(fake::Bytes{classic::ACK}); });
  const std::vector<uint8_t> mine(64, 0x11), theirs(8, 0x22);
  std::atomic<int16_t> other{-100};
  int16_t rc = -100;
  {
    AtTrace at(
        "Send Command\n",
        [&] { other = QUIB_Write(uint16_t(b), 0, 0x100, uint16_t(theirs.size()), theirs.data()); },
        QueuedBehind(), 2);
    rc = QUIB_Write(uint16_t(a), 0, 0, uint16_t(mine.size()), mine.data());
    EXPECT_TRUE(at.was_parked());
  }
  EXPECT_EQ(rc, RC_OK);
  EXPECT_EQ(other.load(), RC_OK);
  std::vector<unsigned> addresses;
  for (const fake::Bytes &f : fake::LineOfPort(0).Frames())
    addresses.push_back(classic::Parse(f).Address);
  EXPECT_EQ(addresses, (std::vector<unsigned>{0x00, 0x20, 0x100}));
}

// An unload while a transfer holds its port closes what it can at once: the
// transferring channel stays open (its close is refused as busy), the other
// channel of the port closes, and the transfer completes afterwards.
TEST_F(TransferTurn, AnUnloadDuringATransferDoesNotWaitForIt) {
  Bytes data(4096, 0xEE);
  int32_t total = -1;
  uint16_t status = 0xBEEF;
  int16_t rc = -100;
  {
    AtTrace at(
        "Send Command\n",
        [] { plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessDetach); },
        AtTrace::Never(), 2);
    rc = XQUIB_ReadAll(uint16_t(a_), data.data(), &total, &status);
    EXPECT_TRUE(at.returned_first()) << "the unload waited for the transfer";
  }
  EXPECT_EQ(rc, RC_OK);
  EXPECT_EQ(total, 1324);
  EXPECT_NE(quib::State.Handles[a_].Port.load(), -1) << "the transferring channel stays";
  EXPECT_EQ(quib::State.Handles[b_].Port.load(), -1) << "the other channel was closed";
  EXPECT_TRUE(fake::LineOfPort(0).IsOpen());
}

}  // namespace
