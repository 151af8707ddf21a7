// The transaction call: refusals, one call per channel, the order of the
// port's queue, each payload to its own caller, and the stop request.
#include <map>
#include <string>
#include <mutex>

#include "engine_support.h"

namespace {

using namespace enginetest;

const Bytes kFrame = {0x02, 'R', '0', '1', 0x03};

class TransactionTest : public PortZeroTest {
 protected:
  void OpenTwoChannelsOnPort0() { OpenChannels(2); }
  // A call of the channel whose request the worker holds until the gate
  // opens; every later request is held the same way.
  waits::Call<Result> CallHeldBehind(Gate &gate, uint16_t handle, uint8_t letter) {
    line_->OnFrame([&gate](fake::Line &l, const Bytes &f) {
      gate.Wait();
      l.Send(Reply({f[1]}));
    });
    auto call = Call(handle, letter);
    EXPECT_TRUE(waits::WaitFor([&] { return line_->Frames().size() == 1; }, "the held frame"));
    return call;
  }
  // A call of the channel that waits in the queue behind the one in flight.
  waits::Call<Result> CallQueued(uint16_t handle, uint8_t letter) {
    auto call = Call(handle, letter);
    EXPECT_TRUE(waits::WaitFor([] { return QueueLength(0) == 2; }, "the second call queued"));
    return call;
  }
  static waits::Call<Result> Call(uint16_t handle, uint8_t letter) {
    return waits::Async("the call of channel " + std::to_string(handle), [handle, letter] {
      return Exchange(handle, {0x02, letter, 0x03}, 4);
    });
  }
};

TEST_F(TransactionTest, ACallOnAFreeSlotShowsTheHandleAndQueuesNothing) {
  Result r = Exchange(5, kFrame, 4);
  EXPECT_EQ(r.status, RC_NOT_OPEN);
  ASSERT_FALSE(fake::DebugTexts().empty());
  EXPECT_EQ(fake::DebugTexts().front(), "Send Command\n");
  EXPECT_EQ(fake::MessageBoxes(),
            (std::vector<std::pair<std::string, std::string>>{{"Handle = 5", "QUIBLINK.DLL"}}));
  for (int port = 0; port < quib::kPortCount; ++port) EXPECT_EQ(QueueLength(port), 0);
  EXPECT_EQ(quib::State.Handles[5].Busy, 0);
}

TEST_F(TransactionTest, AFrameLargerThanTheTransmitBufferIsRefused) {
  OpenTwoChannelsOnPort0();
  Result r = Exchange(0, Bytes(quib::kBufferSize + 1, 'x'), 4);
  EXPECT_EQ(r.status, RC_BAD_ARGUMENT);
  EXPECT_TRUE(line_->Frames().empty());
  EXPECT_EQ(QueueLength(0), 0);
}

TEST_F(TransactionTest, ASecondCallOfABusyChannelIsRefusedAtOnceAndDisturbsNothing) {
  OpenTwoChannelsOnPort0();
  Gate gate;
  auto first = CallHeldBehind(gate, 0, 'A');
  auto other = CallQueued(1, 'B');  // behind the call in flight

  Result refused = Exchange(0, {0x02, 'C', 0x03}, 4);
  EXPECT_EQ(refused.status, RC_CHANNEL_BUSY);
  EXPECT_EQ(CountTrace("Frame of Same Handle is Communicating\n"), 1);
  EXPECT_EQ(QueueLength(0), 2) << "the refused call never joined the queue";
  EXPECT_TRUE(quib::QueueIsAtHead(0, 0));
  EXPECT_EQ(line_->Frames().size(), 1u) << "channel 1 did not slip in";

  gate.Open();
  Result a = first.Get();
  Result b = other.Get();
  EXPECT_EQ(a.status, RC_OK);
  EXPECT_EQ(a.payload, Bytes{'A'});
  EXPECT_EQ(b.status, RC_OK);
  EXPECT_EQ(b.payload, Bytes{'B'});
  ASSERT_EQ(line_->Frames().size(), 2u);
  EXPECT_EQ(line_->Frames()[1], (Bytes{0x02, 'B', 0x03}));
  EXPECT_EQ(QueueLength(0), 0);
}

TEST_F(TransactionTest, CloseRefusesAChannelWhoseCallIsInFlightOrQueued) {
  OpenTwoChannelsOnPort0();
  Gate gate;
  auto first = CallHeldBehind(gate, 0, 'A');
  auto queued = CallQueued(1, 'B');

  EXPECT_EQ(QUIB_Close(0), RC_BAD_ARGUMENT);
  EXPECT_EQ(QUIB_Close(1), RC_BAD_ARGUMENT);
  gate.Open();
  EXPECT_EQ(first.Get().status, RC_OK);
  EXPECT_EQ(queued.Get().status, RC_OK);
  EXPECT_EQ(quib::State.Ports[0].OpenCount, 2);
  EXPECT_EQ(QUIB_Close(0), RC_OK);
  EXPECT_EQ(QUIB_Close(1), RC_OK);
}

TEST_F(TransactionTest, TwoThreadsOnOnePortNeverInterleaveAndEachGetsItsOwnPayload) {
  fake::UseScaledClock(20);
  OpenTwoChannelsOnPort0();
  constexpr uint32_t kReplyDelay = 15;
  line_->OnFrame([](fake::Line &l, const Bytes &f) {
    l.Send(Reply({f[1], f[2]}), kReplyDelay);  // echoes channel and sequence
  });
  constexpr int kCalls = 12;
  auto caller = [](uint8_t channel) {
    std::vector<Result> results;
    for (uint8_t seq = 0; seq < kCalls; ++seq) {
      results.push_back(Exchange(channel, {0x02, channel, seq, 0x03}, 5));
    }
    return results;
  };
  auto a = waits::Async("channel 0's calls", [&] { return caller(0); });
  auto b = waits::Async("channel 1's calls", [&] { return caller(1); });
  std::vector<Result> results[2] = {a.Get(), b.Get()};
  for (uint8_t channel = 0; channel < 2; ++channel) {
    for (uint8_t seq = 0; seq < kCalls; ++seq) {
      EXPECT_EQ(results[channel][seq].status, RC_OK);
      EXPECT_EQ(results[channel][seq].payload, (Bytes{channel, seq}));
    }
  }
  std::vector<uint32_t> ticks = line_->FrameTicks();
  ASSERT_EQ(ticks.size(), 2u * kCalls);
  // A frame leaves only after the previous reply came in and the quiet time
  // passed.
  for (size_t i = 1; i < ticks.size(); ++i) EXPECT_GE(ticks[i] - ticks[i - 1], kReplyDelay + 5);
  EXPECT_EQ(QueueLength(0), 0);
}

TEST_F(TransactionTest, TheStopRequestWaitsBehindEarlierRequestsWhichAreStillServed) {
  OpenTwoChannelsOnPort0();
  const int live = SettledWorkers(1);
  Gate gate;
  auto served = CallHeldBehind(gate, 1, 'B');
  // What the last close of channel 0 does: hold its mark, clear the run flag,
  // queue the stop request.
  quib::State.Handles[0].Busy = 1;
  quib::WorkerRun[0] = 0;
  auto stopped =
      waits::Async("the stop request", [] { return quib::StopPortWorker(0, plat::kInfinite); });
  ASSERT_TRUE(waits::WaitFor([] { return QueueLength(0) == 2; }, "the stop request in the queue"));
  EXPECT_FALSE(stopped.ReturnsWithin(std::chrono::milliseconds(30)));

  gate.Open();
  Result r = served.Get();
  EXPECT_EQ(r.status, RC_OK) << "the worker ends on the stop request only";
  EXPECT_EQ(r.payload, Bytes{'B'});
  EXPECT_TRUE(stopped.Get());
  EXPECT_TRUE(waits::WaitFor([&] { return fake::LiveThreads() == live - 1; }, "the worker's end"));
  EXPECT_EQ(QueueLength(0), 0);

  // The library unloads with the worker already gone: it releases the port
  // without waiting for anyone.
  quib::State.Handles[0].Busy = 0;
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessDetach);
  EXPECT_FALSE(line_->IsOpen());
  EXPECT_FALSE(fake::SemaphoreExists("PortSema0"));
  EXPECT_FALSE(fake::SemaphoreExists("RxSema0"));
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessAttach);
}

TEST_F(TransactionTest, ABoundedStopGivesUpAndLeavesTheQueueAsItWas) {
  OpenTwoChannelsOnPort0();
  Gate gate;
  auto served = CallHeldBehind(gate, 1, 'B');
  quib::State.Handles[0].Busy = 1;
  EXPECT_FALSE(quib::StopPortWorker(0, 200));
  EXPECT_EQ(QueueLength(0), 1);
  quib::State.Handles[0].Busy = 0;
  gate.Open();
  EXPECT_EQ(served.Get().status, RC_OK);
  ASSERT_EQ(QUIB_Close(0), RC_OK);
  ASSERT_EQ(QUIB_Close(1), RC_OK);
}

TEST_F(TransactionTest, AnotherProcessHoldingTheSharedQueueSemaphoreStallsNothing) {
  OpenTwoChannelsOnPort0();
  line_->OnFrame([](fake::Line &l, const Bytes &) { l.Send(Reply({9})); });
  ASSERT_EQ(plat::SemaphoreWait(quib::QueueSemaphore, 0), plat::kWaitSignaled);
  Result r = Exchange(0, kFrame, 4);
  plat::SemaphoreRelease(quib::QueueSemaphore);
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_EQ(r.payload, Bytes{9});
}

}  // namespace
