// The result-code texts and the reason a thread's open failed.
#include <set>
#include <string>
#include <thread>

#include "quiblink/quiblink.h"
#include "quiblink/quiblink_errors.h"
#include "quiblink/quiblink_ext.h"
#include "support/library_fixture.h"

namespace {

// Every code the library returns, written out here rather than taken from the
// library's table: its define, value, name and meaning.
struct Row {
  int define;
  int code;
  const char *name;
  const char *meaning;
};
// clang-format off
#define QUIB_ROW(name, code, meaning) {name, code, #name, meaning}
const Row kRows[] = {
    QUIB_ROW(RC_OK, 0, "success"),
    QUIB_ROW(RC_PORT_OPEN_FAILED, -1, "the channel is not open (from an open: the serial port cannot be opened)"),
    QUIB_ROW(RC_BAD_ARGUMENT, -2, "an argument is out of range, or the channel is still busy with a transfer"),
    QUIB_ROW(RC_NOT_OPEN, -3, "the channel handle is not open"),
    QUIB_ROW(RC_CHANNEL_BUSY, -4, "the channel already has a transfer in progress"),
    QUIB_ROW(RC_TX_FAILED, -7, "the request could not be sent: the line is held by flow control or the write failed"),
    QUIB_ROW(RC_NO_RESPONSE, -13, "the terminal did not answer: check the cable, the port, the baud rate and that the terminal is on"),
    QUIB_ROW(RC_CHECKSUM, -17, "the reply was damaged on the line (checksum mismatch)"),
    QUIB_ROW(RC_INCOMPLETE, -18, "the terminal stopped answering in the middle of a reply"),
    QUIB_ROW(RC_NAK, -19, "the panel refused the request (NAK)"),
    QUIB_ROW(RC_BAD_START, -20, "the reply did not start the way the request allows"),
    QUIB_ROW(RC_NO_ETX, -21, "the panel's reply has no ETX before its checksum"),
    QUIB_ROW(RC_BAD_LENGTH, -30, "the reply's length field disagrees with its contents"),
    QUIB_ROW(RC_BAD_ECHO, -31, "the reply answers another command than the one sent"),
    QUIB_ROW(RC_SEQUENCE, -32, "a block of the transfer arrived out of sequence (from an open: no free channel)"),
    QUIB_ROW(RC_BAD_PORT, -33, "the terminal's operating-system information is malformed (from an open: the port number is above COM10)"),
    QUIB_ROW(RC_BAD_PROJECT_INFO, -34, "the terminal's project information is malformed (name length disagrees)"),
    QUIB_ROW(RC_BAD_GROUP, -35, "the terminal sent another group than the one requested"),
    QUIB_ROW(RC_TERMINAL_ERROR, -36, "the terminal refused the request (see its status byte)"),
    QUIB_ROW(RC_BUFFER_TOO_SMALL, -40, "the terminal sent more data than the buffer holds"),
    QUIB_ROW(RC_CANCELLED, -41, "the transfer was cancelled before its next exchange"),
    QUIB_ROW(RC_GROUP_TABLE_FULL, -42, "the terminal sent more groups than the group table holds"),
};
#undef QUIB_ROW
// clang-format on

TEST(ResultText, EveryCodeGivesItsDefinesValueNameAndMeaning) {
  for (const Row &row : kRows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.define, row.code);
    EXPECT_EQ(std::string(QUIB_ResultText(static_cast<int16_t>(row.code))),
              std::string(row.name) + ": " + row.meaning);
  }
}

// Every other value of the 16 bits, those next to the codes among them, is
// unknown, and never a null text.
TEST(ResultText, EveryOtherCodeIsUnknownNeverNull) {
  std::set<int> codes;
  for (const Row &row : kRows) codes.insert(row.code);
  for (int code = -32768; code <= 32767; ++code) {
    if (codes.count(code) != 0) continue;
    const char *text = QUIB_ResultText(static_cast<int16_t>(code));
    ASSERT_NE(text, nullptr) << code;
    ASSERT_STREQ(text, "RC_UNKNOWN: unknown result code") << code;
  }
}

class LastOpenError : public LibraryTest {
 protected:
  static std::string Text(int32_t *error = nullptr, uint16_t size = 320) {
    char text[320];
    memset(text, '#', sizeof text);
    int32_t e = QUIB_LastOpenError(text, size);
    if (error != nullptr) *error = e;
    return text;
  }
};

TEST_F(LastOpenError, NamesTheDeviceAndTheSystemErrorOfTheThreadsLastFailedOpen) {
  // A fresh thread has none.
  std::string fresh;
  int32_t fresh_error = -1;
  std::thread([&] { fresh = Text(&fresh_error); }).join();
  EXPECT_EQ(fresh, "no failed open on this thread");
  EXPECT_EQ(fresh_error, 0);

  fake::LineNamed("COM3").FailOpen(1);
  EXPECT_EQ(QUIB_Open(2, 0), RC_PORT_OPEN_FAILED);
  int32_t error = 0;
  EXPECT_EQ(Text(&error), "COM3: open refused (error 5)");
  EXPECT_EQ(error, 5);

  // Another thread's failure is its own; a later success clears nothing.
  std::string other;
  std::thread([&] {
    EXPECT_EQ(XQUIB_Open(10, 9600, 0), RC_BAD_PORT);
    other = Text();
  }).join();
  EXPECT_EQ(other, "port 10: the port number is above COM10");
  int16_t handle = QUIB_Open(2, 0);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(Text(), "COM3: open refused (error 5)");
  EXPECT_EQ(QUIB_Close(static_cast<uint16_t>(handle)), RC_OK);
}

TEST_F(LastOpenError, ReasonsOfTheLibrarysOwnCarryNoSystemError) {
  fake::LineNamed("COM1").FailSetup(1);
  EXPECT_EQ(QUIB_Open(0, 0), RC_PORT_OPEN_FAILED);
  EXPECT_EQ(Text(), "COM1: buffer sizes refused (error 87)");

  // A line that refuses its settings is told apart from a worker that cannot start.
  fake::LineNamed("COM1").FailSetLine(1);
  EXPECT_EQ(QUIB_Open(0, 0), RC_PORT_OPEN_FAILED);
  EXPECT_EQ(Text(), "COM1: the device refused the line settings (baud rate, data bits, parity)");
  fake::FailThreadCreate(1);
  EXPECT_EQ(QUIB_Open(0, 0), RC_PORT_OPEN_FAILED);
  EXPECT_EQ(Text(), "COM1: the port's worker thread cannot be started");

  EXPECT_EQ(XQUIB_Open(0, 0, 0), RC_BAD_ARGUMENT);
  int32_t error = -1;
  EXPECT_EQ(Text(&error), "COM1: a baud rate of 0");
  EXPECT_EQ(error, 0);
}

TEST_F(LastOpenError, TheTextIsCutToTheCallersSizeAndAlwaysTerminated) {
  fake::LineNamed("COM2").FailOpen(1);
  EXPECT_EQ(QUIB_Open(1, 0), RC_PORT_OPEN_FAILED);
  EXPECT_EQ(Text(nullptr, 5), "COM2");
  char untouched[4] = {'x', 'y', 'z', '\0'};
  EXPECT_EQ(QUIB_LastOpenError(untouched, 0), 5);
  EXPECT_STREQ(untouched, "xyz");
  EXPECT_EQ(QUIB_LastOpenError(nullptr, 100), 5);
}

}  // namespace
