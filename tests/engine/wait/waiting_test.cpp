// Where the two styles differ: when a reply is picked up, and who is told
// that the port is free. Everything they share runs in both styles through
// test_engine and test_engine_sleeping.
#include <algorithm>
#include <set>

#include "engine/waiting.h"
#include "quiblink/quiblink_ext.h"
#include "engine_support.h"

namespace {

using namespace enginetest;

const Bytes kFrame = {0x02, 'R', '0', '1', 0x03};  // 5 ms on a 9600 7E1 line
constexpr uint32_t kTxTime = 5;

class StyleTest : public LibraryTest {
 protected:
  void TearDown() override {
    quib::EngineWaitStyle.store(quib::kWaitWaking);
    LibraryTest::TearDown();
  }
};

// ---- Reception -------------------------------------------------------------

struct ReplyRow {
  const char *name;
  quib::WaitStyle style;
  std::vector<std::pair<Bytes, uint32_t>> pieces;  // bytes, ms after the write
  uint32_t decoded_after;                          // ms from the write to the decode
};

const Bytes kReply = Reply({1, 2, 3, 4, 5});  // 8 bytes, 8 ms on the line

class ReplyTimingTest : public StyleTest, public ::testing::WithParamInterface<ReplyRow> {};

TEST_P(ReplyTimingTest, TheReplyIsDecodedWhenTheStyleSeesItComplete) {
  const ReplyRow &row = GetParam();
  quib::EngineWaitStyle.store(row.style);
  fake::Line &line = fake::LineOfPort(0);
  line.SetDrainAtLineRate(false);
  ASSERT_EQ(QUIB_Open(0, 0), 0);
  line.OnFrame([&row](fake::Line &l, const Bytes &) {
    for (const auto &[bytes, delay] : row.pieces) l.Send(bytes, delay);
  });
  Result r = Exchange(0, kFrame, static_cast<uint16_t>(kReply.size()));
  ASSERT_EQ(r.status, RC_OK);
  EXPECT_EQ(r.payload, (Bytes{1, 2, 3, 4, 5}));
  ASSERT_EQ(line.FrameTicks().size(), 1u);
  const quib::PortRecord &p = quib::State.Ports[0];
  EXPECT_EQ(p.NextTxTick - p.QuietTime - line.FrameTicks()[0], row.decoded_after);
}

Bytes Head(size_t n) {
  return Bytes(kReply.begin(), kReply.begin() + static_cast<long>(n));
}
Bytes Tail(size_t n) {
  return Bytes(kReply.begin() + static_cast<long>(n), kReply.end());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReplyTimingTest,
    ::testing::Values(
        // Sleeping reads at TxTime and every 10 ms after; waking reads as the
        // bytes come, never before TxTime.
        ReplyRow{"SleepingPicksUpAReplyAtTheNextPoll", quib::kWaitSleeping, {{kReply, 8}}, 15},
        ReplyRow{"WakingPicksUpAReplyAsItArrives", quib::kWaitWaking, {{kReply, 8}}, 8},
        ReplyRow{"SleepingReadsNothingBeforeTxTime", quib::kWaitSleeping, {{kReply, 0}}, kTxTime},
        ReplyRow{"WakingReadsNothingBeforeTxTime", quib::kWaitWaking, {{kReply, 0}}, kTxTime},
        ReplyRow{"SleepingAfterALateStart", quib::kWaitSleeping, {{kReply, 27}}, 35},
        ReplyRow{"WakingAfterALateStart", quib::kWaitWaking, {{kReply, 27}}, 27},
        // Waking sleeps through the 6 ms the missing 6 bytes need, then waits.
        ReplyRow{
            "SleepingWithAGapInTheReply", quib::kWaitSleeping, {{Head(2), 6}, {Tail(2), 30}}, 35},
        ReplyRow{"WakingWithAGapInTheReply", quib::kWaitWaking, {{Head(2), 6}, {Tail(2), 30}}, 30},
        // The rest follows at once: waking still sleeps the missing bytes' time.
        ReplyRow{"WakingSleepsThroughTheRestOfAReply",
                 quib::kWaitWaking,
                 {{Head(2), 6}, {Tail(2), 7}},
                 12}),
    [](const ::testing::TestParamInfo<ReplyRow> &info) { return std::string(info.param.name); });

// The extension call chooses the style: a reply in two pieces, at 6 and 30 ms
// after the write, is picked up at the polls (one "Before Decoding" each for
// the head at 15 ms and the tail at 35 ms) or as each piece comes.
TEST_F(StyleTest, TheExtensionCallChoosesTheStyleAndRefusesOthers) {
  struct Row {
    int32_t style;
    int16_t rc;
    int32_t style_after;
    uint32_t decoded_after;
  } rows[] = {{QUIB_ENGINE_POLL, RC_OK, QUIB_ENGINE_POLL, 35},
              {2, RC_BAD_ARGUMENT, QUIB_ENGINE_POLL, 35},
              {-1, RC_BAD_ARGUMENT, QUIB_ENGINE_POLL, 35},
              {QUIB_ENGINE_WAKE, RC_OK, QUIB_ENGINE_WAKE, 30},
              {1000, RC_BAD_ARGUMENT, QUIB_ENGINE_WAKE, 30}};
  fake::Line &line = fake::LineOfPort(0);
  line.SetDrainAtLineRate(false);
  ASSERT_EQ(QUIB_Open(0, 0), 0);
  line.OnFrame([](fake::Line &l, const Bytes &) {
    l.Send(Head(2), 6);
    l.Send(Tail(2), 30);
  });
  for (const Row &row : rows) {
    SCOPED_TRACE(row.style);
    EXPECT_EQ(QUIB_SetEngineStyle(row.style), row.rc);
    EXPECT_EQ(QUIB_GetEngineStyle(), row.style_after);
    const int before = CountTrace("Before Decoding\n");
    const size_t frames = line.FrameTicks().size();
    Result r = Exchange(0, kFrame, static_cast<uint16_t>(kReply.size()));
    ASSERT_EQ(r.status, RC_OK);
    ASSERT_EQ(line.FrameTicks().size(), frames + 1);
    const quib::PortRecord &p = quib::State.Ports[0];
    EXPECT_EQ(p.NextTxTick - p.QuietTime - line.FrameTicks().back(), row.decoded_after);
    EXPECT_EQ(CountTrace("Before Decoding\n") - before, 2);
  }
}

// The rules both styles keep: ten seconds of silence end an attempt at the
// same tick, the attempts and their pauses are the same.
class SilenceTest : public StyleTest, public ::testing::WithParamInterface<quib::WaitStyle> {};

TEST_P(SilenceTest, SilenceEndsEachAttemptAfterTheSameTimeOut) {
  quib::EngineWaitStyle.store(GetParam());
  fake::Line &line = fake::LineOfPort(0);
  line.SetDrainAtLineRate(false);
  ASSERT_EQ(QUIB_Open(0, 0), 0);
  Result r = Exchange(0, kFrame, 8);
  EXPECT_EQ(r.status, RC_NO_RESPONSE);
  const std::vector<uint32_t> ticks = line.FrameTicks();
  ASSERT_EQ(ticks.size(), 3u);
  // TxTime, 10 s of silence from the first read on, the 140 ms pause.
  EXPECT_EQ(ticks[1] - ticks[0], kTxTime + 10000 + 140);
  EXPECT_EQ(ticks[2] - ticks[1], kTxTime + 10000 + 140);
}

TEST_P(SilenceTest, ABytePerNineSecondsKeepsTheExchangeAlive) {
  quib::EngineWaitStyle.store(GetParam());
  fake::Line &line = fake::LineOfPort(0);
  line.SetDrainAtLineRate(false);
  ASSERT_EQ(QUIB_Open(0, 0), 0);
  Bytes reply = Reply({9});
  line.OnFrame([reply](fake::Line &l, const Bytes &) { l.SendDrip(reply, 9000, 9000); });
  Result r = Exchange(0, kFrame, static_cast<uint16_t>(reply.size()));
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_EQ(line.Frames().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Styles, SilenceTest,
                         ::testing::Values(quib::kWaitSleeping, quib::kWaitWaking),
                         [](const ::testing::TestParamInfo<quib::WaitStyle> &info) {
                           return std::string(info.param == quib::kWaitWaking ? "Waking"
                                                                              : "Sleeping");
                         });

// ---- Turn signals ----------------------------------------------------------

struct TurnRow {
  const char *name;
  std::vector<uint16_t> queued;
  int removed;  // -1: the head by QueueRemoveHead; else this handle by QueueRemoveEntry
  std::set<uint16_t> signalled;
};

class TurnSignalTest : public StyleTest, public ::testing::WithParamInterface<TurnRow> {
 protected:
  void SetUp() override {
    StyleTest::SetUp();
    // Channels 0..5 on port 2 without opening a device: only the table counts.
    for (int h = 0; h < 6; ++h) quib::State.Handles[h].Port = 2;
    // Channel 5 is never queued: a signal read from a free ring slot shows.
    for (int16_t &entry : quib::State.Queues[2].Ring) entry = 5;
  }
  void TearDown() override {
    for (int h = 0; h < 6; ++h) quib::State.Handles[h].Port = -1;
    StyleTest::TearDown();
  }
};

TEST_P(TurnSignalTest, OnlyTheNewHeadIsSignalled) {
  const TurnRow &row = GetParam();
  for (uint16_t h : row.queued) ASSERT_EQ(quib::QueueAppend(h), 1);
  if (row.removed < 0) {
    ASSERT_EQ(quib::QueueRemoveHead(2), 1);
  } else {
    ASSERT_EQ(quib::QueueRemoveEntry(2, static_cast<uint16_t>(row.removed)), 1);
  }
  std::set<uint16_t> signalled;
  for (uint16_t h = 0; h < 6; ++h) {
    uint32_t counted = 0;
    if (quib::AwaitTurnSignal(h, 0, &counted)) signalled.insert(h);
  }
  EXPECT_EQ(signalled, row.signalled);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TurnSignalTest,
    ::testing::Values(TurnRow{"RemovingTheHeadSignalsTheNextEntry", {3, 1, 4}, -1, {1}},
                      TurnRow{"RemovingTheLastEntrySignalsNobody", {3}, -1, {}},
                      TurnRow{"RemovingTheHeadByHandleSignalsTheNextEntry", {3, 1, 4}, 3, {1}},
                      TurnRow{"RemovingAnEntryBehindTheHeadSignalsNobody", {3, 1, 4}, 1, {}},
                      TurnRow{"RemovingTheTailSignalsNobody", {3, 1, 4}, 4, {}}),
    [](const ::testing::TestParamInfo<TurnRow> &info) { return std::string(info.param.name); });

TEST_F(TurnSignalTest, ASignalLetsNobodyPastTheHeadTest) {
  // Channel 1 holds a signal left from an earlier turn; channel 3 is the head.
  for (uint16_t h : {0, 1}) quib::QueueAppend(h);
  quib::QueueRemoveHead(2);
  quib::QueueRemoveHead(2);
  for (uint16_t h : {3, 1}) quib::QueueAppend(h);
  EXPECT_TRUE(quib::QueueIsAtHead(2, 3));
  EXPECT_FALSE(quib::QueueIsAtHead(2, 1));
  uint32_t counted = 0;
  EXPECT_TRUE(quib::AwaitTurnSignal(1, 0, &counted));
  EXPECT_FALSE(quib::QueueIsAtHead(2, 1)) << "the stale signal only costs another look";
  quib::QueueRemoveHead(2);
  EXPECT_TRUE(quib::AwaitTurnSignal(1, 0, &counted));
  EXPECT_TRUE(quib::QueueIsAtHead(2, 1));
  quib::QueueRemoveHead(2);
}

TEST_F(TurnSignalTest, SleepingCountsEveryPauseInFull) {
  quib::EngineWaitStyle.store(quib::kWaitSleeping);
  quib::QueueAppend(0);
  quib::QueueAppend(1);
  quib::QueueRemoveHead(2);
  uint32_t counted = 0;
  EXPECT_FALSE(quib::AwaitTurnSignal(1, 10, &counted)) << "sleeping takes no signal";
  EXPECT_EQ(counted, 10u);
  quib::EngineWaitStyle.store(quib::kWaitWaking);
  EXPECT_TRUE(quib::AwaitTurnSignal(1, 10, &counted));
  quib::QueueRemoveHead(2);
}

// A close that waits for its turn behind a caller that never leaves gives up
// after its limit in both styles, and leaves the queue as it was.
class StuckHeadTest : public StyleTest, public ::testing::WithParamInterface<quib::WaitStyle> {};

TEST_P(StuckHeadTest, AStopRequestGivesUpAfterItsLimit) {
  quib::EngineWaitStyle.store(GetParam());
  for (int h = 0; h < 2; ++h) quib::State.Handles[h].Port = 2;
  quib::QueueAppend(0);
  EXPECT_FALSE(quib::StopPortWorker(1, 50));
  EXPECT_EQ(QueueLength(2), 1);
  EXPECT_TRUE(quib::QueueIsAtHead(2, 0));
  quib::QueueRemoveHead(2);
  for (int h = 0; h < 2; ++h) quib::State.Handles[h].Port = -1;
}

INSTANTIATE_TEST_SUITE_P(Styles, StuckHeadTest,
                         ::testing::Values(quib::kWaitSleeping, quib::kWaitWaking),
                         [](const ::testing::TestParamInfo<quib::WaitStyle> &info) {
                           return std::string(info.param == quib::kWaitWaking ? "Waking"
                                                                              : "Sleeping");
                         });

}  // namespace
