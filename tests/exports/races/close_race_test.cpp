// A channel closed by one thread while another thread's call on it is past
// its channel check but not yet in its exchange: the call must refuse with
// RC_NOT_OPEN and touch nothing outside the library's tables. The moment is
// made exact by the trace (see at_trace.h): when the call writes a chosen
// text, a closing thread runs its close while the caller's thread waits.
#include <gtest/gtest.h>

#include <string.h>

#include <atomic>

#include "at_trace.h"
#include "support/fake/fake_line.h"
#include "quiblink/quiblink.h"
#include "support/library_fixture.h"

namespace {

using CloseRace = LibraryTest;

// The preamble block of a word panel is built after the channel check: the
// close comes in between.
TEST_F(CloseRace, WritePreambleOnAChannelJustClosedIsRefused) {
  const int16_t h = QUIB_Open(0, 3);
  ASSERT_GE(h, 0);
  const uint8_t data[4] = {1, 2, 3, 4};
  int16_t rc = 0;
  std::atomic<int16_t> closed{-100};
  {
    AtTrace at(
        "ENTER!!\n", [&] { closed = QUIB_Close(uint16_t(h)); }, AtTrace::Never());
    rc = QUIB_Write(uint16_t(h), 0, 0, sizeof data, data);
    EXPECT_TRUE(at.returned_first());
  }
  EXPECT_EQ(closed.load(), RC_OK);
  EXPECT_EQ(rc, RC_NOT_OPEN);
  EXPECT_TRUE(fake::LineOfPort(0).Frames().empty()) << "nothing reached the line";
  EXPECT_FALSE(fake::LineOfPort(0).IsOpen()) << "the close closed the port";
}

// The same moment, but the port opens again at once for a panel of another
// model, and the channel gets the same slot: the write goes on with the model
// it checked, so every frame of it, the preamble included, is a word panel's
// frame built in a buffer sized for it, never a mix of the two models.
TEST_F(CloseRace, WritePreambleWhileThePortReopensForAnotherModelStaysInItsBuffer) {
  const int16_t h = QUIB_Open(0, 3);
  ASSERT_GE(h, 0);
  fake::LineOfPort(0).OnFrame(
      [](fake::Line &line, const fake::Bytes &) { line.Send(fake::Bytes{0x06}); });
  const uint8_t data[4] = {1, 2, 3, 4};
  int16_t rc = 0;
  std::atomic<int16_t> reopened{-100};
  {
    AtTrace at(
        "ENTER!!\n",
        [&] {
          QUIB_Close(uint16_t(h));
          reopened = QUIB_Open(0, 0);
        },
        AtTrace::Never());
    rc = QUIB_Write(uint16_t(h), 0, 0, sizeof data, data);
    EXPECT_TRUE(at.returned_first());
  }
  EXPECT_EQ(reopened.load(), h);
  EXPECT_EQ(rc, RC_OK);
  const auto frames = fake::LineOfPort(0).Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].size(), 83u) << "a 36-byte write frame of a word panel";
  EXPECT_EQ(frames[0][1], '1');
  EXPECT_EQ(frames[1].size(), 19u) << "a 4-byte write frame of a word panel";
  EXPECT_EQ(frames[1][1], '1');
  EXPECT_EQ(QUIB_Close(uint16_t(h)), RC_OK);
}

// The second chunk of a read, after the first has been answered: the close
// comes as the call enters its next exchange. The read holds its port's turn
// and its channel from its first chunk to its last, so the close is refused
// as busy and the read completes; afterwards the close goes through.
TEST_F(CloseRace, CloseBetweenChunksOfAReadIsRefusedAndTheReadCompletes) {
  const int16_t h = QUIB_Open(0, 0);
  ASSERT_GE(h, 0);
  fake::LineOfPort(0).OnFrame([](fake::Line &line, const fake::Bytes &) {
    // 64 bytes of 0x11: STX, "11" 64 times, ETX, and the checksum of the
    // digits and ETX, (128 * 0x31 + 3) % 256 = 0x83.
    fake::Bytes reply{0x02};
    reply.insert(reply.end(), 128, '1');
    reply.insert(reply.end(), {0x03, '8', '3'});
    line.Send(reply);
  });
  uint8_t buffer[129];
  memset(buffer, 0xEE, sizeof buffer);
  int16_t rc = 0;
  std::atomic<int16_t> closed{-100};
  {
    AtTrace at(
        "Send Command\n", [&] { closed = QUIB_Close(uint16_t(h)); }, AtTrace::Never(), 2);
    rc = QUIB_Read(uint16_t(h), 0, 0, buffer, 128);
    EXPECT_TRUE(at.returned_first());
  }
  EXPECT_EQ(closed.load(), RC_BAD_ARGUMENT);
  EXPECT_EQ(rc, RC_OK);
  EXPECT_EQ(fake::LineOfPort(0).Frames().size(), 2u);
  for (int i = 0; i < 128; ++i) EXPECT_EQ(buffer[i], 0x11) << i;
  EXPECT_EQ(buffer[128], 0xEE);
  EXPECT_EQ(QUIB_Close(uint16_t(h)), RC_OK);
  EXPECT_FALSE(fake::LineOfPort(0).IsOpen());
}

}  // namespace
