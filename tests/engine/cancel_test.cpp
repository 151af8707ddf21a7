// Cancelling a block transfer: it sends no further frame, a failing exchange takes no further
// attempt, a transfer waiting for its turn leaves the queue, and nothing is remembered for a
// channel with no transfer under way.

#include "engine_support.h"
#include "quiblink/quiblink_ext.h"

namespace {

using namespace enginetest;

constexpr uint16_t kReplyLength = 4;  // Reply({x})

int16_t Frame(quib::Transfer *transfer, uint8_t tag) {
  const Bytes frame = {0x02, tag, 0x03};
  uint8_t out[quib::kBufferSize];
  const quib::RequestDescriptor request{3,           kReplyLength, quib::ReplyTimeoutSeconds,
                                        DecodeReply, ProbeFixed,   out};
  return quib::TransferCall(transfer, request, frame.data());
}

// A transfer of `frames` frames on the channel, as the block loops make them.
int16_t RunTransfer(uint16_t handle, int frames) {
  quib::Transfer transfer = quib::BeginTransfer(handle);
  int16_t rc = RC_OK;
  for (int i = 0; i < frames && rc == RC_OK; ++i) rc = Frame(&transfer, static_cast<uint8_t>(i));
  quib::EndTransfer(&transfer);
  return rc;
}

class CancelTest : public PortZeroTest {
 protected:
  void SetUp() override {
    PortZeroTest::SetUp();
    OpenChannels(2);
  }
  void AnswerEveryFrame() {
    line_->OnFrame([](fake::Line &l, const Bytes &f) { l.Send(Reply({f[1]})); });
  }
  size_t FramesSent() { return line_->Frames().size(); }
};

TEST_F(CancelTest, ArgumentsAreCheckedLikeAnyChannelCall) {
  EXPECT_EQ(QUIB_CancelTransfer(32), RC_BAD_ARGUMENT);
  EXPECT_EQ(QUIB_CancelTransfer(0xFFFF), RC_BAD_ARGUMENT);
  EXPECT_EQ(QUIB_CancelTransfer(5), RC_NOT_OPEN);
  EXPECT_EQ(QUIB_CancelTransfer(0), RC_OK);
}

TEST_F(CancelTest, ACancelledTransferSendsNoFurtherFrameAndTheChannelGoesOn) {
  AnswerEveryFrame();
  quib::Transfer transfer = quib::BeginTransfer(0);
  EXPECT_EQ(Frame(&transfer, 'a'), RC_OK);
  EXPECT_EQ(QUIB_CancelTransfer(0), RC_OK);
  EXPECT_EQ(Frame(&transfer, 'b'), RC_CANCELLED);
  EXPECT_EQ(Frame(&transfer, 'c'), RC_CANCELLED);
  quib::EndTransfer(&transfer);
  EXPECT_EQ(FramesSent(), 1u);
  EXPECT_EQ(QueueLength(0), 0);
  EXPECT_EQ(quib::State.Handles[0].Busy, 0);
  // The next transfer of the channel starts afresh and runs in full.
  EXPECT_EQ(RunTransfer(0, 3), RC_OK);
  EXPECT_EQ(FramesSent(), 4u);
}

TEST_F(CancelTest, AFailingExchangeEndsAtTheNextAttemptsBoundary) {
  // The terminal never answers; the cancel comes while the first attempt is on the line.
  line_->OnFrame([](fake::Line &, const Bytes &) { QUIB_CancelTransfer(0); });
  const uint32_t start = fake::Now();
  EXPECT_EQ(RunTransfer(0, 3), RC_CANCELLED);
  const uint32_t spent = fake::Now() - start;
  EXPECT_EQ(FramesSent(), 1u) << "no second or third attempt";
  EXPECT_GE(spent, 10000u) << "the attempt on the line ran to its time-out";
  EXPECT_LT(spent, 11000u);
}

TEST_F(CancelTest, ASingleExchangeWaitsOutItsAttemptsAndLeavesNoCancelBehind) {
  line_->OnFrame([](fake::Line &, const Bytes &) { EXPECT_EQ(QUIB_CancelTransfer(0), RC_OK); });
  EXPECT_EQ(Exchange(0, {0x02, 's', 0x03}, kReplyLength).status, RC_NO_RESPONSE);
  EXPECT_EQ(FramesSent(), 3u);
  // A cancel with no block transfer under way is not remembered for the next one.
  AnswerEveryFrame();
  EXPECT_EQ(QUIB_CancelTransfer(0), RC_OK);
  EXPECT_EQ(RunTransfer(0, 2), RC_OK);
  EXPECT_EQ(FramesSent(), 5u);
}

TEST_F(CancelTest, ATransferWaitingForItsTurnLeavesTheQueueAndTheOtherChannelGoesOn) {
  AnswerEveryFrame();
  // Channel 0 holds the port between two frames of its transfer.
  quib::Transfer holder = quib::BeginTransfer(0);
  ASSERT_EQ(Frame(&holder, 'a'), RC_OK);
  auto waiting = waits::Async("channel 1's transfer", [] { return RunTransfer(1, 2); });
  ASSERT_TRUE(waits::WaitFor([] { return QueueLength(0) == 2; }, "channel 1 in the queue"));
  EXPECT_EQ(QUIB_CancelTransfer(1), RC_OK);
  EXPECT_EQ(waiting.Get(), RC_CANCELLED);
  EXPECT_EQ(QueueLength(0), 1) << "only the holder's entry is left";
  EXPECT_EQ(quib::State.Handles[1].Busy, 0);
  // The holder was not touched by the other channel's cancel.
  EXPECT_EQ(Frame(&holder, 'b'), RC_OK);
  quib::EndTransfer(&holder);
  EXPECT_EQ(FramesSent(), 2u);
  EXPECT_EQ(RunTransfer(1, 1), RC_OK);
  EXPECT_EQ(QueueLength(0), 0);
}

}  // namespace
