// The result-code texts and the reason a thread's open failed.
#include <set>
#include <string>
#include <thread>

#include "quiblink/quiblink.h"
#include "quiblink/quiblink_errors.h"
#include "quiblink/quiblink_ext.h"
#include "quiblink/quiblink_results.h"
#include "support/library_fixture.h"

namespace {

// The generated defines carry the table's values.
#define QUIB_CHECK_DEFINE(name, value, meaning) \
  static_assert((name) == (value), #name " differs from its row");
QUIB_RESULTS(QUIB_CHECK_DEFINE)
QUIB_EXT_RESULTS(QUIB_CHECK_DEFINE)
#undef QUIB_CHECK_DEFINE

struct Row {
  int code;
  const char *name;
  const char *meaning;
};
const Row kRows[] = {
#define QUIB_ROW(name, value, meaning) {value, #name, meaning},
    QUIB_RESULTS(QUIB_ROW) QUIB_EXT_RESULTS(QUIB_ROW)
#undef QUIB_ROW
};

TEST(ResultText, EveryCodeOfTheTableGivesItsNameAndMeaning) {
  std::set<int> values;
  for (const Row &row : kRows) {
    EXPECT_TRUE(values.insert(row.code).second) << row.name << " repeats a value";
    EXPECT_EQ(std::string(QUIB_ResultText(static_cast<int16_t>(row.code))),
              std::string(row.name) + ": " + row.meaning);
  }
  // The nineteen codes of quiblink.h, RC_BUFFER_TOO_SMALL, RC_CANCELLED and RC_GROUP_TABLE_FULL.
  EXPECT_EQ(values.size(), 22u);
}

TEST(ResultText, CodesOutsideTheTableAreUnknownNeverNull) {
  for (int code : {1, 5, 31, -5, -6, -8, -12, -14, -22, -29, -37, -39, -43, 32767, -32768}) {
    const char *text = QUIB_ResultText(static_cast<int16_t>(code));
    ASSERT_NE(text, nullptr) << code;
    EXPECT_STREQ(text, "RC_UNKNOWN: unknown result code") << code;
  }
}

TEST(ResultText, SpotChecksAgainstTheCodesUsersLookUp) {
  EXPECT_STREQ(QUIB_ResultText(-13),
               "RC_NO_RESPONSE: the terminal did not answer: check the cable, the port, the baud "
               "rate and that the terminal is on");
  EXPECT_STREQ(QUIB_ResultText(-36),
               "RC_TERMINAL_ERROR: the terminal refused the request (see its status byte)");
  EXPECT_STREQ(QUIB_ResultText(0), "RC_OK: success");
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
