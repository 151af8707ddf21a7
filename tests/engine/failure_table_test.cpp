// The port worker's failure table: one row per condition, with the status the
// call ends with, the trace lines of each attempt, how many frames reached the
// line and how far apart, and the time the whole request took.
#include "engine_support.h"

namespace {

using namespace enginetest;

// A probe that lets the first piece in and makes the next read fail.
int16_t ProbeThenReadFails(int16_t port, uint16_t received, const uint8_t *rx, uint16_t *expected) {
  fake::LineOfPort(port).FailRead(1);
  return ProbeFixed(port, received, rx, expected);
}

struct FailureRow {
  const char *name;
  std::function<void(fake::Line &)> arrange;
  uint16_t expected;  // reply length the request announces
  quib::LengthProbe probe;
  int16_t status;
  std::vector<std::string> traces;  // all failure traces of the request, in order
  size_t frames;
  uint32_t frame_gap;  // ticks between consecutive frames
  uint32_t elapsed;    // ticks the whole call took
};

const std::vector<std::string> kFailureTraces = {"DSR and CTS Failed\n",
                                                 "Tx Failed\n",
                                                 "TxFail\n",
                                                 "Read File Fail\n",
                                                 "Rx Failed\n",
                                                 "Time out\n",
                                                 "Data Size is Bad, Return with 1\n",
                                                 "ClearCommError\n",
                                                 "RxBuff not Empty\n"};

std::vector<std::string> Thrice(const std::vector<std::string> &attempt) {
  std::vector<std::string> all;
  for (int i = 0; i < 3; ++i) all.insert(all.end(), attempt.begin(), attempt.end());
  return all;
}

void Answer(fake::Line &line, const Bytes &reply) {
  line.OnFrame([reply](fake::Line &l, const Bytes &) { l.Send(reply); });
}

// The request frame: 5 bytes at 9600 baud, 7E1 (10 bits a character), so its
// transmit time is 5 ms and its drain limit 110 ms.
const Bytes kFrame = {0x02, 'R', '0', '1', 0x03};
const std::vector<std::string> kStuckAttempt = {"Time out\n", "Rx Failed\n"};
const std::vector<std::string> kStuckTraces = {"Time out\n", "Rx Failed\n", "RxBuff not Empty\n",
                                               "Time out\n", "Rx Failed\n", "RxBuff not Empty\n",
                                               "Time out\n", "Rx Failed\n"};

std::vector<FailureRow> Rows() {
  Bytes bad_check = Reply({1, 2, 3});
  bad_check.back() ^= 0x40;
  return {
      {"ModemLinesAllOff", [](fake::Line &l) { l.SetModem(plat::kModemOk, 0); }, 6, ProbeFixed,
       RC_NO_RESPONSE, Thrice({"DSR and CTS Failed\n", "Tx Failed\n"}), 0, 0, 420},
      {"ModemStatusUnreadable", [](fake::Line &l) { l.SetModem(plat::kModemFailed, 0); }, 6,
       ProbeFixed, RC_NO_RESPONSE, Thrice({"DSR and CTS Failed\n", "Tx Failed\n"}), 0, 0, 420},
      {"LineHeldByXoff", [](fake::Line &l) { l.SetHoldFlags(0x08); }, 6, ProbeFixed, RC_TX_FAILED,
       Thrice({"TxFail\n", "Tx Failed\n"}), 0, 0, 420},
      {"LineStatusUnreadable", [](fake::Line &l) { l.FailLineStatus(); }, 6, ProbeFixed,
       RC_TX_FAILED, Thrice({"ClearCommError\n", "TxFail\n", "Tx Failed\n"}), 0, 0, 420},
      {"WriteFails", [](fake::Line &l) { l.FailWrite(); }, 6, ProbeFixed, RC_TX_FAILED,
       Thrice({"TxFail\n", "Tx Failed\n"}), 0, 0, 420},
      {"ReadFailsBeforeAnyByte", [](fake::Line &l) { l.FailRead(); }, 6, ProbeFixed, RC_NO_RESPONSE,
       Thrice({"Read File Fail\n", "Rx Failed\n"}), 3, 145, 435},
      {"ReadFailsAfterPartOfAReply",
       [](fake::Line &l) {
         Answer(l, {0xAA, 3, 1});
       },
       6, ProbeThenReadFails, RC_INCOMPLETE, Thrice({"Read File Fail\n", "Rx Failed\n"}), 3, 155,
       465},
      // The frame never leaves: each later attempt first purges the stuck
      // output and backs off 2567 ms.
      {"RequestNeverLeavesTheLine", [](fake::Line &l) { l.SetOutputStuck(true); }, 6, ProbeFixed,
       RC_NO_RESPONSE, kStuckTraces, 3, 110 + 140 + 2567, 3 * 250 + 2 * 2567},
      {"NoReplyExpectedAndOutputStuck", [](fake::Line &l) { l.SetOutputStuck(true); }, 0,
       ProbeFixed, RC_NO_RESPONSE, kStuckTraces, 3, 110 + 140 + 2567, 3 * 250 + 2 * 2567},
      {"NoReplyByte", [](fake::Line &) {}, 6, ProbeFixed, RC_NO_RESPONSE, Thrice(kStuckAttempt), 3,
       10145, 3 * 10145},
      {"PartOfAReplyThenSilence",
       [](fake::Line &l) {
         Answer(l, {0xAA, 3, 1});
       },
       6, ProbeFixed, RC_INCOMPLETE, Thrice(kStuckAttempt), 3, 10145, 3 * 10145},
      {"DecoderRefuses", [bad_check](fake::Line &l) { Answer(l, bad_check); }, 6, ProbeFixed,
       RC_CHECKSUM, Thrice({"Data Size is Bad, Return with 1\n", "Rx Failed\n"}), 3, 145, 435},
      {"ProbeRefusesTheFirstByte",
       [](fake::Line &l) {
         Answer(l, {0x55, 3, 1, 2, 3, 0});
       },
       6,
       ProbeFixed,
       RC_BAD_START,
       {},
       1,
       0,
       5},
  };
}

using FailureTableTest = LibraryRowTest<FailureRow>;

TEST_P(FailureTableTest, EndsWithItsStatusTracesAndPauses) {
  const FailureRow &row = GetParam();
  fake::Line &line = fake::LineOfPort(0);
  line.SetDrainAtLineRate(false);
  int16_t handle = QUIB_Open(0, 0);
  ASSERT_EQ(handle, 0);
  row.arrange(line);
  fake::ClearDebug();

  uint32_t start = fake::Now();
  Result r = Exchange(handle, kFrame, row.expected, row.probe);
  uint32_t elapsed = fake::Now() - start;

  EXPECT_EQ(r.status, row.status);
  EXPECT_EQ(r.payload_length, 0);
  EXPECT_TRUE(r.payload.empty()) << "a failed exchange copies no payload";
  EXPECT_EQ(TracesAmong(kFailureTraces), row.traces);
  EXPECT_EQ(CountTrace("Send Command\n"), 1) << "nothing is retried above the worker";
  std::vector<Bytes> frames = line.Frames();
  ASSERT_EQ(frames.size(), row.frames);
  for (const Bytes &f : frames) EXPECT_EQ(f, kFrame);
  std::vector<uint32_t> ticks = line.FrameTicks();
  for (size_t i = 1; i < ticks.size(); ++i) EXPECT_EQ(ticks[i] - ticks[i - 1], row.frame_gap);
  EXPECT_EQ(elapsed, row.elapsed);
  EXPECT_EQ(quib::State.Ports[0].Status, row.status);
  EXPECT_EQ(QueueLength(0), 0);
  EXPECT_EQ(quib::State.Handles[handle].Busy, 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, FailureTableTest, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<FailureRow> &info) {
                           return std::string(info.param.name);
                         });

class StillTxTest : public LibraryTest {};

TEST_F(StillTxTest, IsWrittenOnEveryPollWhileTheFrameHasNotLeft) {
  fake::Line &line = fake::LineOfPort(0);
  ASSERT_EQ(QUIB_Open(0, 0), 0);
  line.SetOutputStuck(true);
  Result r = Exchange(0, kFrame, 6);
  EXPECT_EQ(r.status, RC_NO_RESPONSE);
  // Polls 1 ms apart from the end of the transmit time (5) to the drain
  // limit (110), in each of the three attempts.
  EXPECT_EQ(CountTrace("Still Tx\n"), 3 * (110 - 5 + 1));
}

}  // namespace
