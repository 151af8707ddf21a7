// The bounds the benchmark prints, checked against figures worked out by
// hand from the timing rules: quiet time, TxTime, the rest of the exchange
// rounded up to the 10 ms receive poll.
#include <gtest/gtest.h>

#include "line_model.h"

namespace {

using quibbench::Line;

struct RateRow {
  const char *name;
  quibbench::Transfer (*transfer)(Line, uint32_t);
  Line line;
  uint32_t bytes;
  uint32_t exchanges;
  double bound_bytes_per_s;  // rounded to whole bytes per second
};

class TransferBoundTest : public ::testing::TestWithParam<RateRow> {};

TEST_P(TransferBoundTest, MatchesTheFigureWorkedOutByHand) {
  const RateRow &row = GetParam();
  const quibbench::Transfer t = row.transfer(row.line, row.bytes);
  EXPECT_EQ(t.bytes, row.bytes);
  EXPECT_EQ(t.exchanges, row.exchanges);
  EXPECT_NEAR(quibbench::Rate(t.bytes, t.bound_ms), row.bound_bytes_per_s, 0.5);
  EXPECT_LT(t.floor_ms, t.bound_ms) << "the bare line is never slower than the rules";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TransferBoundTest,
    ::testing::Values(
        // 1035-byte frame, TxTime 1185 ms; 0.9 + 10.3 ms to the last reply
        // bit round up to 20: 1210 ms a chunk.
        RateRow{"Write9600", quibbench::GraphicWrite, {9600, 11}, 65536, 64, 1024 / 1.210},
        // 592 + 10 + 5 = 607 ms; 296 + 10 + 5 = 311 ms; 197 + 10 + 5 = 212 ms.
        RateRow{"Write19200", quibbench::GraphicWrite, {19200, 11}, 65536, 64, 1024 / 0.607},
        RateRow{"Write38400", quibbench::GraphicWrite, {38400, 11}, 65536, 64, 1024 / 0.311},
        RateRow{"Write57600", quibbench::GraphicWrite, {57600, 11}, 65536, 64, 1024 / 0.212},
        // A shorter last chunk: 1024 at 311 ms, then 476 bytes: 487-byte frame,
        // TxTime 139 (139.5), 0.5 + 2.6 round up to 10: 154 ms.
        RateRow{"WriteWithAShortLastChunk",
                quibbench::GraphicWrite,
                {38400, 11},
                1500,
                2,
                1500 / 0.465},
        // 9-byte request (TxTime 10, 10.3 on the line), 1035-byte reply of
        // 1186 ms: 0.3 + 1186 round up to 1190; 5 + 10 + 1190 = 1205 ms.
        RateRow{"Read9600", quibbench::GraphicRead, {9600, 11}, 4096, 4, 1024 / 1.205},
        // 13-byte request (TxTime 13, 13.5), 132-byte reply of 137.5 ms:
        // 0.5 + 137.5 round up to 140; 5 + 13 + 140 = 158 ms per 64 bytes.
        RateRow{"ClassicRead9600", quibbench::ClassicRead, {9600, 10}, 4096, 64, 64 / 0.158},
        // 77-byte frame (TxTime 80, 80.2), ACK of 1 ms: 5 + 80 + 10 = 95 ms per 32.
        RateRow{"ClassicWrite9600", quibbench::ClassicWrite, {9600, 10}, 4096, 128, 32 / 0.095}),
    [](const ::testing::TestParamInfo<RateRow> &info) { return std::string(info.param.name); });

TEST(ExchangeBoundTest, AReplyThatEndsOnAPollIsNotRoundedFurther) {
  // 10 bits at 1000 baud: 10 ms a character. One character out (TxTime 10),
  // one back: the reply ends exactly at the first poll after TxTime.
  const Line line = {1000, 10};
  EXPECT_DOUBLE_EQ(quibbench::ExchangeBoundMs(line, 1, 1), 5 + 10 + 10);
  EXPECT_DOUBLE_EQ(quibbench::ExchangeFloorMs(line, 1, 1), 5 + 10 + 10);
  EXPECT_DOUBLE_EQ(quibbench::ExchangeBoundMs(line, 1, 2), 5 + 10 + 20);
}

TEST(ExchangeBoundTest, AQueryAt38400) {
  // 9 bytes out (TxTime 2, 2.58 on the line), 10 back (2.86): 5 + 2 + 10.
  const Line line = {38400, 11};
  EXPECT_DOUBLE_EQ(quibbench::GraphicQuery(line).bound_ms, 17);
  EXPECT_NEAR(quibbench::GraphicQuery(line).floor_ms, 5 + 2.578 + 2.865, 0.001);
}

}  // namespace
