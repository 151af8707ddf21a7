// Opens and closes of channels from several threads, each race forced at an
// exact moment of one of them (see at_trace.h): no slot is handed out twice,
// and a port's last close releases the device before a later open of the
// port runs, while opens of other ports do not wait for it.
#include <gtest/gtest.h>

#include <atomic>

#include "at_trace.h"
#include "support/wire/panel.h"
#include "core/state.h"
#include "support/fake/fake_line.h"
#include "quiblink/quiblink.h"
#include "support/library_fixture.h"

namespace {

namespace classic = wire::classic;

using OpenCloseRace = LibraryTest;

// A panel of model 0 on the port that answers every read with count bytes of
// 0x5A (as many as the request asks for).
void AnswerReads(int port) {
  fake::LineOfPort(port).OnFrame([](fake::Line &line, const fake::Bytes &frame) {
    const classic::Request r = classic::Parse(frame);
    line.Send(classic::Framed(wire::HexText(std::vector<uint8_t>(r.Count, 0x5A))));
  });
}

int16_t ReadOne(int16_t handle) {
  uint8_t byte = 0;
  const int16_t rc = QUIB_Read(uint16_t(handle), 0, 0, &byte, 1);
  return rc == RC_OK && byte != 0x5A ? -100 : rc;
}

// The first open of COM1 has found the lowest free slot and is opening the
// device when another thread opens COM2: each gets a slot of its own.
TEST_F(OpenCloseRace, OpensThatMeetWhileOnePortOpensGetTwoHandles) {
  std::atomic<int16_t> other{-100};
  int16_t first = -100;
  {
    AtTrace at(
        "COM open OK!\n", [&] { other = QUIB_Open(1, 0); }, AtTrace::Blocked());
    first = QUIB_Open(0, 0);
    EXPECT_TRUE(at.fired());
  }
  ASSERT_GE(first, 0);
  ASSERT_GE(other.load(), 0);
  EXPECT_NE(first, other.load()) << "one handle handed to two callers";
  AnswerReads(0);
  AnswerReads(1);
  EXPECT_EQ(ReadOne(first), RC_OK);
  EXPECT_EQ(ReadOne(other), RC_OK);
  EXPECT_EQ(QUIB_Close(uint16_t(first)), RC_OK);
  EXPECT_EQ(QUIB_Close(uint16_t(other)), RC_OK);
  EXPECT_FALSE(fake::LineOfPort(0).IsOpen());
  EXPECT_FALSE(fake::LineOfPort(1).IsOpen());
}

// The last close of COM1 is stopping the port's worker when another thread
// opens COM1: the open must not join the port that is going away (its
// channel would be left on a closed device), but open it again once the
// close has released it.
TEST_F(OpenCloseRace, AnOpenDuringTheLastCloseOfItsPortOpensThePortAgain) {
  const int16_t h = QUIB_Open(0, 0);
  ASSERT_GE(h, 0);
  std::atomic<int16_t> reopened{-100};
  {
    // The close's stop request is the only "Send Command" of this thread; the
    // open must wait for the port's lock, which the close holds.
    AtTrace at(
        "Send Command\n", [&] { reopened = QUIB_Open(0, 0); },
        AtTrace::BlockedOn(quib::PortLock[0]));
    EXPECT_EQ(QUIB_Close(uint16_t(h)), RC_OK);
    EXPECT_TRUE(at.fired());
    EXPECT_FALSE(at.returned_first()) << "the open ran before the device was released";
    EXPECT_TRUE(at.was_parked()) << "the open did not wait for the port's lock";
  }
  ASSERT_GE(reopened.load(), 0);
  EXPECT_EQ(fake::LineOfPort(0).OpenCalls(), 2) << "the device was opened again";
  EXPECT_TRUE(fake::LineOfPort(0).IsOpen());
  AnswerReads(0);
  EXPECT_EQ(ReadOne(reopened), RC_OK);
  EXPECT_EQ(QUIB_Close(uint16_t(reopened)), RC_OK);
  EXPECT_FALSE(fake::LineOfPort(0).IsOpen());
  EXPECT_EQ(QUIB_Close(uint16_t(reopened)), RC_PORT_OPEN_FAILED);
}

// While the last close of COM1 waits for its worker, opens and closes of other
// ports go on: they do not wait for it.
TEST_F(OpenCloseRace, OpensAndClosesOfOtherPortsDoNotWaitForALastClose) {
  const int16_t h = QUIB_Open(0, 0);
  const int16_t shared = QUIB_Open(2, 0);
  const int16_t second = QUIB_Open(2, 0);
  ASSERT_GE(h, 0);
  ASSERT_GE(second, 0);
  std::atomic<int16_t> other{-100};
  std::atomic<int16_t> closed{-100};
  {
    AtTrace at(
        "Send Command\n",
        [&] {
          other = XQUIB_Open(1, 38400, 0);
          closed = QUIB_Close(uint16_t(second));
        },
        AtTrace::Never());
    EXPECT_EQ(QUIB_Close(uint16_t(h)), RC_OK);
    EXPECT_TRUE(at.returned_first());
  }
  EXPECT_GE(other.load(), 0);
  EXPECT_EQ(closed.load(), RC_OK);
  EXPECT_TRUE(fake::LineOfPort(1).IsOpen());
  EXPECT_TRUE(fake::LineOfPort(2).IsOpen());
  EXPECT_EQ(QUIB_Close(uint16_t(other)), RC_OK);
  EXPECT_EQ(QUIB_Close(uint16_t(shared)), RC_OK);
}

}  // namespace
