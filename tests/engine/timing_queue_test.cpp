// Line timing arithmetic and the port request queue.
#include "engine_support.h"

namespace {

using namespace enginetest;

struct TimingRow {
  const char *name;
  uint32_t baud;
  uint16_t data_bits;
  int16_t parity;
  int16_t stop_bits;
  uint32_t count;
  uint32_t transmit_ms;
  uint32_t drain_ms;
};

using TimingTest = LibraryRowTest<TimingRow>;

TEST_P(TimingTest, TransmitTimeAndDrainLimitTruncate) {
  const TimingRow &row = GetParam();
  quib::PortRecord &p = quib::State.Ports[3];
  p.BaudRate = row.baud;
  p.DataBits = row.data_bits;
  p.Parity = row.parity;
  p.StopBits = row.stop_bits;
  EXPECT_EQ(quib::TransmitTime(3, row.count), row.transmit_ms);
  EXPECT_EQ(quib::DrainLimit(3, row.count), row.drain_ms);
}

INSTANTIATE_TEST_SUITE_P(Rows, TimingTest,
                         ::testing::Values(
                             // 10.4 ms truncates to 10; twice that, 20.8, to 20.
                             TimingRow{"TenBytes7E1At9600", 9600, 7, 2, 0, 10, 10, 120},
                             TimingRow{"FullBlock8E1At9600", 9600, 8, 2, 0, 1037, 1188, 2476},
                             // 10.3 ms and 20.6 ms: the drain limit of a 9-byte reply is 120.
                             TimingRow{"NineBytes8E1At9600", 9600, 8, 2, 0, 9, 10, 120},
                             TimingRow{"NoParityOneStop", 9600, 8, 0, 0, 96, 100, 300},
                             TimingRow{"TwoStopBits", 1200, 7, 2, 2, 12, 110, 320},
                             TimingRow{"FastLineRoundsToZero", 57600, 8, 2, 0, 1, 0, 100},
                             TimingRow{"ZeroBaudDividesNothing", 0, 8, 2, 0, 100, 0, 100}),
                         [](const ::testing::TestParamInfo<TimingRow> &info) {
                           return std::string(info.param.name);
                         });

class QueueTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    // Channels 0..5 on port 2 without opening a device: only the table counts.
    for (int h = 0; h < 6; ++h) quib::State.Handles[h].Port = 2;
  }
  void TearDown() override {
    for (int h = 0; h < 6; ++h) quib::State.Handles[h].Port = -1;
    LibraryTest::TearDown();
  }
};

TEST_F(QueueTest, ServesInArrivalOrderAndIsEmptyAfterTheLastRemoval) {
  EXPECT_FALSE(quib::QueueIsAtHead(2, 0));
  EXPECT_EQ(quib::QueueRemoveHead(2), 0);
  for (uint16_t h : {3, 1, 4}) EXPECT_EQ(quib::QueueAppend(h), 1);
  EXPECT_TRUE(quib::QueueIsAtHead(2, 3));
  EXPECT_FALSE(quib::QueueIsAtHead(2, 1));
  EXPECT_FALSE(quib::QueueIsAtHead(5, 3));  // another port's queue is apart
  EXPECT_EQ(quib::QueueRemoveHead(2), 1);
  EXPECT_TRUE(quib::QueueIsAtHead(2, 1));
  EXPECT_EQ(quib::QueueRemoveHead(2), 1);
  EXPECT_EQ(quib::QueueRemoveHead(2), 1);
  EXPECT_EQ(quib::QueueRemoveHead(2), 0);
  EXPECT_EQ(QueueLength(2), 0);
}

TEST_F(QueueTest, AppendOfAFreeSlotDoesNothing) {
  EXPECT_EQ(quib::QueueAppend(7), 0);
  EXPECT_EQ(QueueLength(2), 0);
}

TEST_F(QueueTest, PositionsWrapFrom63To0) {
  for (int round = 0; round < 70; ++round) {
    ASSERT_EQ(quib::QueueAppend(static_cast<uint16_t>(round % 6)), 1);
    ASSERT_TRUE(quib::QueueIsAtHead(2, static_cast<uint16_t>(round % 6)));
    ASSERT_EQ(quib::QueueRemoveHead(2), 1);
  }
  EXPECT_EQ(quib::State.Queues[2].Head, 70 % 64);
  EXPECT_EQ(quib::State.Queues[2].Tail, 70 % 64);
}

TEST_F(QueueTest, AFullRingRefusesInsteadOfOverwritingItsHead) {
  for (int i = 0; i < 63; ++i) ASSERT_EQ(quib::QueueAppend(static_cast<uint16_t>(i % 6)), 1);
  EXPECT_EQ(quib::QueueAppend(0), 0);
  EXPECT_TRUE(quib::QueueIsAtHead(2, 0));
  EXPECT_EQ(QueueLength(2), 63);
}

TEST_F(QueueTest, RemovingAnEntryBehindTheHeadKeepsTheOthersInOrder) {
  // Start near the end of the ring so that the removal crosses the wrap.
  quib::State.Queues[2].Head = quib::State.Queues[2].Tail = 62;
  for (uint16_t h : {0, 1, 2, 3, 4}) quib::QueueAppend(h);
  EXPECT_EQ(quib::QueueRemoveEntry(2, 2), 1);
  EXPECT_EQ(quib::QueueRemoveEntry(2, 5), 0);
  std::vector<int> order;
  while (QueueLength(2) > 0) {
    order.push_back(quib::State.Queues[2].Ring[quib::State.Queues[2].Head]);
    quib::QueueRemoveHead(2);
  }
  EXPECT_EQ(order, (std::vector<int>{0, 1, 3, 4}));
}

}  // namespace
