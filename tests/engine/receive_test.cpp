// Reception: replies in pieces, length probes that raise, lower and refuse
// the expected length, the silence rule and the receive buffer's bounds.
#include <numeric>

#include "engine_support.h"

namespace {

using namespace enginetest;

const Bytes kFrame = {0x02, 'R', '0', '1', 0x03};  // 5 ms on a 9600 7E1 line

class ReceiveTest : public PortZeroTest {
 protected:
  void SetUp() override {
    PortZeroTest::SetUp();
    OpenChannels(1);
    ClearRecorded();
  }
  // Each write is answered with these pieces, each at its own delay.
  void AnswerInPieces(std::vector<std::pair<Bytes, uint32_t>> pieces) {
    line_->OnFrame([pieces](fake::Line &l, const Bytes &) {
      for (const auto &[bytes, delay] : pieces) l.Send(bytes, delay);
    });
  }
};

TEST_F(ReceiveTest, AReplyInPiecesIsDecodedOnceWhenComplete) {
  Bytes reply = Reply({'H', 'E', 'L', 'L', 'O'});  // 8 bytes
  AnswerInPieces({{Bytes(reply.begin(), reply.begin() + 3), 0},
                  {Bytes(reply.begin() + 3, reply.begin() + 5), 40},
                  {Bytes(reply.begin() + 5, reply.end()), 95}});
  Result r = Exchange(0, kFrame, 8);
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_EQ(r.payload_length, 5);
  EXPECT_EQ(r.payload, (Bytes{'H', 'E', 'L', 'L', 'O'}));
  Recorder rec = Recorded();
  ASSERT_EQ(rec.probes.size(), 3u);
  EXPECT_EQ(rec.probes[0].received, 3);
  EXPECT_EQ(rec.probes[1].received, 5);
  EXPECT_EQ(rec.probes[2].received, 8);
  EXPECT_EQ(rec.decoded_lengths, (std::vector<uint16_t>{8}));
  EXPECT_EQ(CountTrace("Before Decoding\n"), 3);
  EXPECT_EQ(CountTrace("Data Size is Ok, Now decoding ...\n"), 1);
  EXPECT_EQ(CountTrace("psp->ReceivedLength=8\n"), 1);
  EXPECT_EQ(CountTrace("cplength=8\n"), 3);
  EXPECT_EQ(quib::State.Ports[0].CurrentHandle, -1);
}

TEST_F(ReceiveTest, EachReadAsksOnlyForTheBytesStillMissing) {
  Bytes reply = Reply({1, 2, 3});
  Bytes with_noise = reply;
  with_noise.insert(with_noise.end(), {9, 9, 9});
  AnswerInPieces({{with_noise, 0}});
  Result r = Exchange(0, kFrame, static_cast<uint16_t>(reply.size()));
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_EQ(r.payload, (Bytes{1, 2, 3}));
  EXPECT_EQ(line_->PendingInput(), 3u) << "the bytes after the reply stay unread";
}

TEST_F(ReceiveTest, ReceivedLengthTracesAreLowerCaseHex) {
  Bytes payload(40);
  std::iota(payload.begin(), payload.end(), 1);
  AnswerInPieces({{Reply(payload), 0}});
  Result r = Exchange(0, kFrame, 43);
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_EQ(CountTrace("psp->ReceivedLength=2b\n"), 1);
  EXPECT_EQ(CountTrace("cplength=2b\n"), 1);
}

TEST_F(ReceiveTest, AProbeThatRaisesTheLengthMakesTheWorkerWaitForTheRest) {
  Bytes payload(20);
  std::iota(payload.begin(), payload.end(), 0x30);
  Bytes reply = Reply(payload);  // 23 bytes; the request announces only 4
  AnswerInPieces(
      {{Bytes(reply.begin(), reply.begin() + 4), 0}, {Bytes(reply.begin() + 4, reply.end()), 300}});
  Result r = Exchange(0, kFrame, 4, ProbeLengthField);
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_EQ(r.payload, payload);
  Recorder rec = Recorded();
  ASSERT_EQ(rec.probes.size(), 2u);
  EXPECT_EQ(rec.probes[1].expected_before, 23);
  EXPECT_EQ(rec.decoded_lengths, (std::vector<uint16_t>{23}));
}

TEST_F(ReceiveTest, ARefusalByteAndNoiseAreDecodedAtOnceAsTheRefusal) {
  // The probe lowers the length to 1 below the 2 bytes already in: the first
  // byte is decoded at once, not held until the reply time-out.
  AnswerInPieces({{{kRefusal, 0x7F}, 0}});
  uint32_t start = fake::Now();
  Result r = Exchange(0, kFrame, 8, ProbeLengthField);
  EXPECT_EQ(r.status, kRefusedStatus);
  EXPECT_EQ(Recorded().decoded_lengths, (std::vector<uint16_t>(3, 1)));
  EXPECT_EQ(fake::Now() - start, 3 * (5 + 140u));
}

TEST_F(ReceiveTest, AProbeThatLowersTheLengthToZeroStillGetsTheReplyDecoded) {
  // Only a request that expects no reply skips decoding.
  AnswerInPieces({{Reply({1}), 0}});
  Result r = Exchange(0, kFrame, 4, ProbeToZero);
  EXPECT_EQ(Recorded().decoded_lengths, (std::vector<uint16_t>(3, 0)));
  EXPECT_EQ(r.status, RC_BAD_LENGTH);
  EXPECT_EQ(CountTrace("Data Size is Bad, Return with 1\n"), 3);
}

TEST_F(ReceiveTest, AReplyAnnouncedLongerThanTheBufferNeverReadsPastIt) {
  Bytes flood(1200, 0x5A);
  flood[0] = kStart;
  AnswerInPieces({{flood, 0}});
  uint8_t &guard = quib::State.Ports[0].PayloadBuffer[0];
  guard = 0x11;
  Result r = Exchange(0, kFrame, 4, ProbeHuge);
  EXPECT_EQ(r.status, RC_INCOMPLETE);
  EXPECT_EQ(quib::State.Ports[0].ReceivedLength, 1100);
  EXPECT_EQ(guard, 0x11) << "nothing spilled from the receive buffer";
  // Each attempt reads 1100 of 1200; the rest is purged before the next one.
  EXPECT_EQ(line_->PurgeCalls(), 2);
  EXPECT_EQ(Recorded().decoded_lengths.size(), 0u);
}

TEST_F(ReceiveTest, AProbeRefusalEndsAtOnceAndSilencesThePortForTheOutstandingCount) {
  line_->OnFrame(
      [](fake::Line &l, const Bytes &f) { l.Send(f[1] == 'R' ? Bytes{0x55} : Reply({7})); });
  Result first = Exchange(0, kFrame, 50);
  uint32_t refused_at = fake::Now();
  EXPECT_EQ(first.status, RC_BAD_START);
  EXPECT_EQ(line_->Frames().size(), 1u);
  EXPECT_EQ(quib::State.Ports[0].CurrentHandle, 0) << "a refusal leaves the current handle";

  Result second = Exchange(0, {0x02, 'W', 0x03}, 4);
  EXPECT_EQ(second.status, RC_OK);
  // 50 bytes were asked for: 50 x 10 x 2000 / 9600 + 100 = 204 ms of silence.
  ASSERT_EQ(line_->FrameTicks().size(), 2u);
  EXPECT_EQ(line_->FrameTicks()[1] - refused_at, 204u);
}

TEST_F(ReceiveTest, OneByteEveryNineSecondsKeepsTheExchangeAlive) {
  Bytes reply = Reply({1, 2});
  line_->OnFrame([reply](fake::Line &l, const Bytes &) { l.SendDrip(reply, 9000, 9000); });
  uint32_t start = fake::Now();
  Result r = Exchange(0, kFrame, 5);
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_EQ(r.payload, (Bytes{1, 2}));
  EXPECT_EQ(line_->Frames().size(), 1u);
  EXPECT_GE(fake::Now() - start, 45000u);
}

TEST_F(ReceiveTest, TenSecondsOfSilenceAfterTheFirstBytesEndWithIncomplete) {
  Bytes reply = Reply({1, 2});
  line_->OnFrame([reply](fake::Line &l, const Bytes &) {
    l.Send(Bytes(reply.begin(), reply.begin() + 2));
    l.Send(Bytes(reply.begin() + 2, reply.end()), 10010);
  });
  Result r = Exchange(0, kFrame, 5);
  EXPECT_EQ(r.status, RC_INCOMPLETE);
  EXPECT_EQ(line_->Frames().size(), 3u);
}

TEST_F(ReceiveTest, TheReplyTimeOutRunsFromTheMomentTheFrameHasLeft) {
  // 100 bytes need 104.2 ms at 9600 baud, 7E1: the worker sleeps 104 ms, sees
  // one byte still queued, and finds the queue empty at 105 ms. The reply,
  // 10050 ms after the write, is less than 10 s after that moment.
  line_->SetDrainAtLineRate(true);
  Bytes frame(100, 'x');
  Bytes reply = Reply({4});
  line_->OnFrame([reply](fake::Line &l, const Bytes &) { l.Send(reply, 10050); });
  Result r = Exchange(0, frame, 4);
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_EQ(CountTrace("Still Tx\n"), 1);
  EXPECT_EQ(line_->Frames().size(), 1u);
}

TEST_F(ReceiveTest, ASuccessfulReplyIsCopiedWithItsLengthAndNothingMore) {
  Bytes payload(250);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i % 200);
  Bytes reply = Reply(payload);
  AnswerInPieces({{reply, 0}});
  Result r = Exchange(0, kFrame, static_cast<uint16_t>(reply.size()));
  EXPECT_EQ(r.status, RC_OK);
  EXPECT_EQ(r.payload_length, 250);
  EXPECT_EQ(r.payload, payload);
}

}  // namespace
