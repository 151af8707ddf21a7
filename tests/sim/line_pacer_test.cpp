#include "sim/line_pacer.h"

#include <gtest/gtest.h>

namespace quiblink::sim {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

TEST(LineTiming, CharTimeFollowsBaudAndCharacterSize) {
  struct Case {
    int baud, bits;
    size_t count;
    Nanos expected;
  };
  const Case cases[] = {
      {9600, 10, 12, Nanos(12'500'000)},      // classic read reply of 4 bytes
      {38400, 11, 1037, Nanos(297'057'291)},  // largest graphic reply
      {9600, 11, 9, Nanos(10'312'500)},
      {115200, 10, 0, Nanos(0)},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(LineTiming({c.baud, c.bits, true}).CharTime(c.count), c.expected);
  }
  EXPECT_EQ(LineTiming({9600, 10, false}).CharTime(100), Nanos(0));
}

TEST(LinePacer, HandsOutEachByteWhenItsLastBitArrives) {
  const LineTiming timing{10000, 10, true};  // one character a millisecond
  LinePacer pacer;
  TimePoint t0{};
  pacer.Enqueue({1, 2, 3, 4}, t0, Nanos(0), timing, "reply");
  std::vector<std::string> started;
  EXPECT_TRUE(pacer.TakeDue(t0 + microseconds(999), &started).empty());
  EXPECT_TRUE(started.empty());
  EXPECT_EQ(pacer.NextDue(), t0 + milliseconds(1));
  EXPECT_EQ(pacer.TakeDue(t0 + milliseconds(1), &started), (Bytes{1}));
  EXPECT_EQ(started, std::vector<std::string>{"reply"});
  // Waking late hands out everything due at once, without moving later deadlines.
  EXPECT_EQ(pacer.TakeDue(t0 + microseconds(3500)), (Bytes{2, 3}));
  EXPECT_EQ(pacer.NextDue(), t0 + milliseconds(4));
  EXPECT_EQ(pacer.TakeDue(t0 + milliseconds(4)), (Bytes{4}));
  EXPECT_TRUE(pacer.Idle());
}

TEST(LinePacer, GapsCountFromTheEndOfThePreviousBytes) {
  const LineTiming timing{10000, 10, true};
  LinePacer pacer;
  TimePoint t0{};
  pacer.Enqueue({1, 2}, t0, Nanos(0), timing);
  pacer.Enqueue({3}, TimePoint{}, milliseconds(50), timing);
  EXPECT_EQ(pacer.TakeDue(t0 + milliseconds(2)), (Bytes{1, 2}));
  EXPECT_EQ(pacer.NextDue(), t0 + milliseconds(53));
  EXPECT_TRUE(pacer.TakeDue(t0 + milliseconds(52)).empty());
  EXPECT_EQ(pacer.TakeDue(t0 + milliseconds(53)), (Bytes{3}));
}

TEST(LinePacer, ALaterReplyWaitsForTheLineAndForItsRequest) {
  const LineTiming timing{10000, 10, true};
  LinePacer pacer;
  TimePoint t0{};
  pacer.Enqueue(Bytes(10, 1), t0, Nanos(0), timing);
  pacer.Enqueue({2}, t0 + milliseconds(5), Nanos(0), timing);   // line busy until 10 ms
  pacer.Enqueue({3}, t0 + milliseconds(30), Nanos(0), timing);  // request arrives at 30 ms
  EXPECT_EQ(pacer.TakeDue(t0 + milliseconds(10)).size(), 10u);
  EXPECT_EQ(pacer.NextDue(), t0 + milliseconds(11));
  EXPECT_EQ(pacer.TakeDue(t0 + milliseconds(11)), (Bytes{2}));
  EXPECT_EQ(pacer.NextDue(), t0 + milliseconds(31));
}

TEST(LinePacer, WithoutPacingEverythingIsDueAtOnce) {
  LinePacer pacer;
  TimePoint t0{};
  pacer.Enqueue(Bytes(1000, 7), t0, Nanos(0), LineTiming{9600, 10, false});
  pacer.Enqueue({8}, TimePoint{}, milliseconds(20), LineTiming{9600, 10, false});
  EXPECT_EQ(pacer.TakeDue(t0).size(), 1000u);
  EXPECT_EQ(pacer.NextDue(), t0 + milliseconds(20));
}

}  // namespace
}  // namespace quiblink::sim
