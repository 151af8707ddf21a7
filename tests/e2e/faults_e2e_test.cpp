// Each fault the simulator can put on the line, and what the library makes of it. None of these
// waits for a reply time-out (those are in slow_e2e_test.cpp).
#include <gtest/gtest.h>

#include <string>

#include "fault_case.h"
#include "quiblink/quiblink.h"

namespace quiblink::e2e {
namespace {

constexpr uint16_t kNone = kStatusNotWritten;
// Calls that end without a time-out finish far below the 10 s reply time-out.
constexpr double kQuick = 8;
// The purge of bytes found waiting before a request costs the back-off.
constexpr double kBackOff = 2.5;

TEST_P(FaultTest, EndsWithItsResultAndLeavesTheChannelUsable) {
  Check(GetParam());
}

std::string Name(const ::testing::TestParamInfo<FaultCase> &info) {
  return info.param.name;
}

// clang-format off
const FaultCase kGraphic[] = {
  // name                           fault                          call              rc                 status requests min  max
  // A reply the decoder refuses is repeated by the port worker, up to three attempts.
  {"BadChecksumOnceIsRepeated",      "bad-checksum",                Call::kOffline,   RC_OK,             0,     2,  0,   kQuick},
  {"BadChecksumThrice",              "bad-checksum:next=3",         Call::kOffline,   RC_CHECKSUM,       kNone, 3,  0,   kQuick},
  {"ShortLengthOnceIsRepeated",      "bad-length=-1",               Call::kOffline,   RC_OK,             0,     2,  0,   kQuick},
  {"ShortLengthThrice",              "bad-length=-1:next=3",        Call::kOffline,   RC_BAD_LENGTH,     kNone, 3,  0,   kQuick},
  {"LongLengthOnceIsRepeated",       "bad-length",                  Call::kOffline,   RC_OK,             0,     2,  0,   kQuick},
  {"LongLengthThrice",               "bad-length:next=3",           Call::kOffline,   RC_BAD_LENGTH,     kNone, 3,  0,   kQuick},
  {"OversizedFixedReplyThrice",      "oversized:next=3",            Call::kOffline,   RC_BAD_LENGTH,     kNone, 3,  0,   kQuick},
  {"BadChecksumOnAMiddleBlock",      "bad-checksum:every=2,next=1", Call::kReadGroup, RC_OK,             0,     4,  0,   kQuick},
  // A first byte that cannot start a reply ends the call at once.
  {"NakIsNoGraphicReply",            "nak",                         Call::kOffline,   RC_BAD_START,      kNone, 1,  0,   kQuick},
  {"WrongStart",                     "wrong-start",                 Call::kOffline,   RC_BAD_START,      kNone, 1,  0,   kQuick},
  {"Garbage",                        "garbage",                     Call::kOffline,   RC_BAD_START,      kNone, 1,  0,   kQuick},
  {"GarbageInsteadOfABlock",         "garbage:cmd=0x21,next=1",     Call::kReadGroup, RC_BAD_START,      kNone, 1,  0,   kQuick},
  // A length field beyond what a reply can hold is refused as soon as it arrives.
  {"OversizedBlock",                 "oversized",                   Call::kReadGroup, RC_BAD_LENGTH,     kNone, 1,  0,   kQuick},
  // Well-formed replies that do not answer the request.
  {"WrongEcho",                      "wrong-echo",                  Call::kOffline,   RC_BAD_ECHO,       kNone, 1,  0,   kQuick},
  {"WrongSequence",                  "wrong-seq",                   Call::kOffline,   RC_SEQUENCE,       kNone, 1,  0,   kQuick},
  {"WrongSequenceOfABlock",          "wrong-seq",                   Call::kReadGroup, RC_SEQUENCE,       kNone, 1,  0,   kQuick},
  {"WrongFlag",                      "wrong-flag",                  Call::kOffline,   RC_SEQUENCE,       kNone, 1,  0,   kQuick},
  {"Status",                         "status=9",                    Call::kOffline,   RC_TERMINAL_ERROR, 9,     1,  0,   kQuick},
  {"StatusOfABlock",                 "status=2:cmd=0x21,next=1",    Call::kReadGroup, RC_TERMINAL_ERROR, 2,     1,  0,   kQuick},
  {"RefusedPassword",                "refuse-password",             Call::kPassword,  RC_TERMINAL_ERROR, 5,     1,  0,   kQuick},
  // Replies that arrive slowly or in parts are still whole replies.
  {"Pieces",                         "pieces",                      Call::kOffline,   RC_OK,             0,     1,  0.35, kQuick},
  {"PiecesOfEveryBlock",             "pieces=4/50:cmd=0x21",        Call::kReadGroup, RC_OK,             0,     3,  0.4, kQuick},
  {"Drip",                           "drip=40",                     Call::kOffline,   RC_OK,             0,     1,  0.3, kQuick},
  // Bytes behind a reply are found before the next request, discarded, and waited out.
  {"Stray",                          "stray",                       Call::kOffline,   RC_OK,             0,     1,  0,   kQuick, kBackOff},
  {"StrayAfterTheLastBlock",         "stray=0102030405:cmd=0x21,every=3", Call::kReadGroup, RC_OK,     0,     3,  0,   kQuick, kBackOff},
};

const FaultCase kClassic[] = {
  // name                           fault                          call                  rc            status requests min  max
  {"NakOnceIsRepeated",              "nak",                         Call::kClassicRead,   RC_OK,        kNone, 2,  0,   kQuick},
  {"NakThrice",                      "nak:next=3",                  Call::kClassicRead,   RC_NAK,       kNone, 3,  0,   kQuick},
  {"NakToAWriteThrice",              "nak:cmd=write,next=3",        Call::kClassicWrite,  RC_NAK,       kNone, 3,  0,   kQuick},
  {"NakToAWriteOnce",                "nak:cmd=write,next=1",        Call::kClassicWrite,  RC_OK,        kNone, 2,  0,   kQuick},
  {"BadChecksumOnceIsRepeated",      "bad-checksum",                Call::kClassicRead,   RC_OK,        kNone, 2,  0,   kQuick},
  {"BadChecksumThrice",              "bad-checksum:next=3",         Call::kClassicRead,   RC_CHECKSUM,  kNone, 3,  0,   kQuick},
  {"MissingEtxOnceIsRepeated",       "missing-etx",                 Call::kClassicRead,   RC_OK,        kNone, 2,  0,   kQuick},
  {"MissingEtxThrice",               "missing-etx:next=3",          Call::kClassicRead,   RC_NO_ETX,    kNone, 3,  0,   kQuick},
  {"WrongStart",                     "wrong-start",                 Call::kClassicRead,   RC_BAD_START, kNone, 1,  0,   kQuick},
  {"WrongStartToAWrite",             "wrong-start",                 Call::kClassicWrite,  RC_BAD_START, kNone, 1,  0,   kQuick},
  {"Garbage",                        "garbage",                     Call::kClassicRead,   RC_BAD_START, kNone, 1,  0,   kQuick},
  {"Pieces",                         "pieces",                      Call::kClassicRead,   RC_OK,        kNone, 1,  0.35, kQuick},
  {"Drip",                           "drip=30",                     Call::kClassicRead,   RC_OK,        kNone, 1,  0.5, kQuick},
  {"Stray",                          "stray",                       Call::kClassicRead,   RC_OK,        kNone, 1,  0,   kQuick, kBackOff},
  {"StrayAfterAnAck",                "stray=3030",                  Call::kClassicWrite,  RC_OK,        kNone, 1,  0,   kQuick, kBackOff},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Graphic, FaultTest, ::testing::ValuesIn(kGraphic), Name);
INSTANTIATE_TEST_SUITE_P(Classic, FaultTest, ::testing::ValuesIn(kClassic), Name);

// A failed chunk ends a classic transfer: the chunks before it stay done, nothing of it or after
// it is copied or sent.
class ClassicChunks : public SimTest {
 protected:
  void SetUp() override {
    StartSim({"--family", "classic", "--model", std::to_string(Model())});
    h_ = OpenClassic(Model());
    ASSERT_GE(h_, 0);
  }
  virtual uint16_t Model() const { return 0; }
  int16_t h_ = -1;
};

TEST_F(ClassicChunks, FailedSecondChunkOfAReadKeepsTheFirst) {
  Sim().Arm("wrong-start:every=2,next=1");
  Bytes buffer(100, 0xEE);
  EXPECT_EQ(QUIB_Read(static_cast<uint16_t>(h_), 0, 0x400, buffer.data(), 100), RC_BAD_START);
  const Bytes first = Peek(0x400, 64);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 64), first);
  EXPECT_EQ(Bytes(buffer.begin() + 64, buffer.end()), Bytes(36, 0xEE));
  EXPECT_EQ(Requests(), 2);
}

TEST_F(ClassicChunks, FailedSecondChunkOfAWriteLeavesTheRestUnwritten) {
  const Bytes before = Peek(0x400, 70);
  const Bytes data = Pattern(70, 3);
  Sim().Arm("wrong-start:every=2,next=1");
  EXPECT_EQ(QUIB_Write(static_cast<uint16_t>(h_), 0, 0x400, 70, data.data()), RC_BAD_START);
  // The panel took the second chunk; only its answer was spoiled. The third was never sent.
  Bytes expected(data.begin(), data.begin() + 64);
  expected.insert(expected.end(), before.begin() + 64, before.end());
  EXPECT_EQ(Peek(0x400, 70), expected);
  EXPECT_EQ(Requests(), 2);
}

class ClassicModel3Chunks : public ClassicChunks {
 protected:
  uint16_t Model() const override { return 3; }
};

TEST_F(ClassicModel3Chunks, RefusedPreambleBlockStopsTheWriteBeforeItsData) {
  const Bytes before = Peek(0x8080, 4);
  Sim().Arm("nak:next=3");
  const Bytes data = Pattern(4, 8);
  EXPECT_EQ(QUIB_Write(static_cast<uint16_t>(h_), 0, 0, 4, data.data()), RC_NAK);
  EXPECT_EQ(Peek(0x8080, 4), before);
  const std::string state = Sim().Command("state");
  EXPECT_EQ(Field(state, "preamble_writes"), 3) << state;
  EXPECT_EQ(Field(state, "writes"), 3) << state;
}

}  // namespace
}  // namespace quiblink::e2e
