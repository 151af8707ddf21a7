// Transmission and the port's silences: the quiet time after an exchange, the
// back-off after stray bytes, requests that expect no reply, and ticks that
// wrap around.
#include "engine_support.h"

namespace {

using namespace enginetest;

const Bytes kFrame = {0x02, 'R', '0', '1', 0x03};  // 5 ms on a 9600 7E1 line

class TransmitTest : public PortZeroTest {
 protected:
  void OpenPort0() { OpenChannels(1); }
  void AnswerEveryFrame(const Bytes &reply) {
    line_->OnFrame([reply](fake::Line &l, const Bytes &) { l.Send(reply); });
  }
};

// Reads return at once; a write gets the drain limit of its own length: at
// open that of a whole buffer (1100 bytes of 9600 7E1: 2291 + 100 ms), before
// each frame that of the frame (5 bytes: 10 + 100 ms).
TEST_F(TransmitTest, ReadsReturnAtOnceAndWritesGetTheDrainLimitOfTheirLength) {
  OpenPort0();
  plat::Timeouts t = line_->TimeoutsSet();
  EXPECT_EQ(t.ReadInterval, 0xFFFFFFFFu);
  EXPECT_EQ(t.ReadTotalMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalConstant, 0u);
  EXPECT_EQ(t.WriteTotalMultiplier, 0u);
  EXPECT_EQ(t.WriteTotalConstant, 2391u);
  AnswerEveryFrame(Reply({1}));
  ASSERT_EQ(Exchange(0, kFrame, 4).status, RC_OK);
  t = line_->TimeoutsSet();
  EXPECT_EQ(t.ReadInterval, 0xFFFFFFFFu);
  EXPECT_EQ(t.WriteTotalMultiplier, 0u);
  EXPECT_EQ(t.WriteTotalConstant, 110u);
}

// A stalled adapter: each write returns short at its time-out, each of the
// three attempts fails with a transmit failure, and the call ends with -7
// after three time-outs and pauses, instead of holding the worker.
TEST_F(TransmitTest, AStalledAdapterFailsTheCallAfterThreeWriteTimeOuts) {
  OpenPort0();
  line_->SetWriteStalls(true);
  const uint32_t start = fake::Now();
  EXPECT_EQ(Exchange(0, kFrame, 4).status, RC_TX_FAILED);
  EXPECT_EQ(line_->StalledWrites(), 3);
  EXPECT_TRUE(line_->Frames().empty());
  EXPECT_EQ(CountTrace("TxFail\n"), 3);
  const uint32_t elapsed = fake::Now() - start;
  EXPECT_GE(elapsed, 3 * 110u);
  EXPECT_LE(elapsed, 3 * (110u + 140u) + 50u);
  // The adapter recovers: the port serves the next call.
  line_->SetWriteStalls(false);
  AnswerEveryFrame(Reply({1}));
  EXPECT_EQ(Exchange(0, kFrame, 4).status, RC_OK);
}

// A device whose time-outs cannot be set for a frame fails that attempt.
TEST_F(TransmitTest, AWriteWhoseTimeOutCannotBeSetIsNotSent) {
  OpenPort0();
  AnswerEveryFrame(Reply({1}));
  line_->FailSetTimeouts(1);
  EXPECT_EQ(Exchange(0, kFrame, 4).status, RC_OK);  // the second attempt
  EXPECT_EQ(line_->Frames().size(), 1u);
  EXPECT_EQ(CountTrace("TxFail\n"), 1);
}

TEST_F(TransmitTest, TheNextFrameWaitsOutTheQuietTimeAfterADecodedReply) {
  OpenPort0();
  AnswerEveryFrame(Reply({1}));
  ASSERT_EQ(Exchange(0, kFrame, 4).status, RC_OK);
  uint32_t decoded_at = fake::Now();
  ASSERT_EQ(Exchange(0, kFrame, 4).status, RC_OK);
  ASSERT_EQ(line_->FrameTicks().size(), 2u);
  EXPECT_EQ(line_->FrameTicks()[1] - decoded_at, 5u);
}

TEST_F(TransmitTest, StrayBytesArePurgedAndTheFrameWaitsTheBackOff) {
  OpenPort0();
  AnswerEveryFrame(Reply({1}));
  line_->Send({0x33, 0x34});
  uint32_t start = fake::Now();
  Result r = Exchange(0, kFrame, 4);
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_EQ(r.payload, Bytes{1});
  EXPECT_EQ(line_->PurgeCalls(), 1);
  EXPECT_EQ(CountTrace("RxBuff not Empty\n"), 1);
  ASSERT_EQ(line_->FrameTicks().size(), 1u);
  EXPECT_EQ(line_->FrameTicks()[0] - start, 2567u);
}

TEST_F(TransmitTest, ALineThatKeepsTalkingFailsAfterThreeBackOffsPerAttempt) {
  OpenPort0();
  // A byte every second for far longer than the request can take.
  line_->SendDrip(Bytes(60, 0x20), 0, 1000);
  uint32_t start = fake::Now();
  Result r = Exchange(0, kFrame, 4);
  EXPECT_EQ(r.status, RC_TX_FAILED);
  EXPECT_TRUE(line_->Frames().empty());
  EXPECT_EQ(line_->PurgeCalls(), 9);
  EXPECT_EQ(TracesAmong({"RxBuff not Empty\n", "TxFail\n", "Tx Failed\n"}),
            (std::vector<std::string>{
                "RxBuff not Empty\n", "RxBuff not Empty\n", "RxBuff not Empty\n", "TxFail\n",
                "Tx Failed\n", "RxBuff not Empty\n", "RxBuff not Empty\n", "RxBuff not Empty\n",
                "TxFail\n", "Tx Failed\n", "RxBuff not Empty\n", "RxBuff not Empty\n",
                "RxBuff not Empty\n", "TxFail\n", "Tx Failed\n"}));
  EXPECT_EQ(fake::Now() - start, 3 * (3 * 2567u + 140));
}

TEST_F(TransmitTest, ADeviceWithoutModemLinesIsNotTakenForOneWithLinesOff) {
  OpenPort0();
  line_->SetModem(plat::kModemNotSupported, 0);
  AnswerEveryFrame(Reply({5}));
  Result r = Exchange(0, kFrame, 4);
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_EQ(CountTrace("DSR and CTS Failed\n"), 0);
}

TEST_F(TransmitTest, AnyOneModemLineIsEnough) {
  OpenPort0();
  AnswerEveryFrame(Reply({5}));
  for (uint32_t bit : {plat::kCtsOn, plat::kDsrOn, plat::kRingOn, plat::kRlsdOn}) {
    line_->SetModem(plat::kModemOk, bit);
    EXPECT_EQ(Exchange(0, kFrame, 4).status, RC_OK) << "modem bits " << bit;
  }
}

TEST_F(TransmitTest, ANoReplyRequestEndsWhenTheFrameHasLeftTheLine) {
  line_ = &fake::LineOfPort(0);
  ASSERT_EQ(XQUIB_Open(0, 9600, 0), 0);
  // 9 bytes at 9600 8E1: 10.3 ms on the line. The worker sleeps the 10 ms
  // transmit time, finds one byte still queued, and looks again 1 ms later.
  Bytes start_frame = {0xFF, 9, 0, 0x10, 0, 0, 0, 0, 0x19};
  uint32_t start = fake::Now();
  Result r = Exchange(0, start_frame, 0);
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_EQ(r.payload_length, 0);
  EXPECT_TRUE(r.payload.empty());
  EXPECT_EQ(fake::Now() - start, 11u);
  EXPECT_EQ(quib::State.Ports[0].CurrentHandle, -1);
}

TEST_F(TransmitTest, ALateReplyToANoReplyRequestIsPurgedNotTakenForTheNextReply) {
  line_ = &fake::LineOfPort(0);
  line_->SetDrainAtLineRate(false);
  ASSERT_EQ(XQUIB_Open(0, 9600, 0), 0);
  line_->OnFrame([](fake::Line &l, const Bytes &f) {
    // The start command (0x10) is answered late although nobody waits; the
    // query (0x52) gets its own reply.
    if (f[3] == 0x10) l.Send(Reply({0xDD}), 60);
    if (f[3] == 0x52) l.Send(Reply({0x42}), 1);
  });
  ASSERT_EQ(Exchange(0, {0xFF, 9, 0, 0x10, 0, 0, 0, 0, 0x19}, 0).status, RC_OK);
  uint32_t sent_at = fake::Now();
  Result r = Exchange(0, {0xFF, 9, 0, 0x52, 1, 0, 0, 0, 0x5B}, 4);
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_EQ(r.payload, Bytes{0x42});
  EXPECT_EQ(line_->PurgeCalls(), 1);
  ASSERT_EQ(line_->FrameTicks().size(), 2u);
  // Silent for the drain limit of a 9-byte reply (120 ms), then the back-off.
  EXPECT_EQ(line_->FrameTicks()[1] - sent_at, 120u + 2567u);
}

TEST_F(TransmitTest, TheTransmitTimeCountsFromTheStartOfTheWrite) {
  OpenPort0();
  // A write that returns only once the bytes are out: 100 bytes take 104 ms,
  // and the worker must not sleep another 104 ms before its first read.
  line_->SetWriteWaitsForLine(true);
  AnswerEveryFrame(Reply({8}));
  uint32_t start = fake::Now();
  Result r = Exchange(0, Bytes(100, 'x'), 4);
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_EQ(fake::Now() - start, 104u);
}

TEST_F(TransmitTest, ASilenceOwedAcrossTheWrapOfTheTickCounterIsWaitedOut) {
  OpenPort0();
  AnswerEveryFrame(Reply({1}));
  fake::UseVirtualClock(0xFFFFFFFEu);
  quib::State.Ports[0].NextTxTick = 3;  // 5 ms ahead, past the wrap
  ASSERT_EQ(Exchange(0, kFrame, 4).status, RC_OK);
  ASSERT_EQ(Exchange(0, kFrame, 4).status, RC_OK);
  ASSERT_EQ(line_->FrameTicks().size(), 2u);
  EXPECT_EQ(line_->FrameTicks()[0], 3u);
  EXPECT_EQ(line_->FrameTicks()[1], 3u + 5 + 5);
}

TEST_F(TransmitTest, AStaleSilenceFromBeforeTheWrapCostsNoWait) {
  // NextTxTick is 0 from attach; at a tick just below the wrap it would look
  // 4096 ms ahead, longer than any silence the port can owe.
  fake::UseVirtualClock(0xFFFFF000u);
  OpenPort0();
  AnswerEveryFrame(Reply({1}));
  ASSERT_EQ(quib::State.Ports[0].NextTxTick, 0u);
  ASSERT_EQ(Exchange(0, kFrame, 4).status, RC_OK);
  ASSERT_EQ(line_->FrameTicks().size(), 1u);
  EXPECT_EQ(line_->FrameTicks()[0], 0xFFFFF000u);
}

TEST_F(TransmitTest, AWorkerWhoseWaitFailsTakesNoRequestAndAnswersTheClose) {
  OpenPort0();
  // With its request semaphore gone the worker cannot be woken: the call
  // fails with -7 and nothing reaches the line.
  plat::SemaphoreClose(quib::PortSemaphore[0]);
  Result r = Exchange(0, kFrame, 4);
  EXPECT_EQ(r.status, RC_TX_FAILED);
  EXPECT_EQ(CountTrace("ReleaseSemaphore Failed\n"), 1);
  EXPECT_TRUE(line_->Frames().empty());
  EXPECT_EQ(QueueLength(0), 0);
  EXPECT_EQ(QUIB_Close(0), RC_OK);
  EXPECT_TRUE(waits::WaitFor([] { return fake::LiveThreads() == 0; }, "the worker's end"));
  EXPECT_FALSE(line_->IsOpen());
}

}  // namespace
