// What single control and query commands do beyond the common reply checks:
// the worked examples, the baud-rate code, the password bytes, the start
// command that awaits nothing, and the shapes of the query replies.
#include <gtest/gtest.h>

#include <string.h>

#include "terminal.h"

namespace {

using namespace wire;

using CommandTest = GraphicTerminalTest;

TEST_F(CommandTest, OfflineWorkedExample) {
  Answer({{0xFF, 0x06, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x08}});
  uint16_t status = kStatusSentinel;
  EXPECT_EQ(XQUIB_Offline(handle_, &status), RC_OK);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(Frames().size(), 1u);
  EXPECT_EQ(Frames()[0], (Bytes{0xFE, 0x06, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x08}));

  Answer({{0xFF, 0x06, 0x00, 0x01, 0x01, 0x00, 0x00, 0x05, 0x0D}});
  EXPECT_EQ(XQUIB_Offline(handle_, &status), RC_TERMINAL_ERROR);
  EXPECT_EQ(status, 5);
}

TEST_F(CommandTest, BreakSendsSubcommandZeroAndAcceptsOnlyItsEcho) {
  Answer({graphic::Reply(4, 1, 0, 0, 0), graphic::Reply(4, 0, 0, 0, 0)});
  uint16_t status = kStatusSentinel;
  EXPECT_EQ(XQUIB_Break(handle_, &status), RC_BAD_ECHO);
  EXPECT_EQ(status, kStatusSentinel);
  EXPECT_EQ(XQUIB_Break(handle_, &status), RC_OK);
  EXPECT_EQ(Frames()[0], graphic::Request(4, 0, 0, 0));
}

TEST_F(CommandTest, BaudRateCodeOutsideItsRangeIsRefusedBeforeTheTrace) {
  for (uint16_t code : {0x00, 0x80, 0x84, 0xFF, 0x180, 0x8084}) {
    SCOPED_TRACE(code);
    uint16_t status = kStatusSentinel;
    EXPECT_EQ(XQUIB_BrateChange(handle_, code, &status), RC_BAD_ARGUMENT);
    EXPECT_EQ(status, kStatusSentinel);
  }
  EXPECT_TRUE(fake::DebugTexts().empty());
  EXPECT_TRUE(Frames().empty());
}

TEST_F(CommandTest, BaudRateCodeTravelsAsTheSubcommandFromItsLowByte) {
  const struct {
    uint16_t code;
    uint8_t subcommand;
  } rows[] = {{0x81, 0x81}, {0x181, 0x81}, {0x82, 0x82}, {0xFF83, 0x83}};
  for (const auto &row : rows) {
    Answer({graphic::Reply(113, row.subcommand, 0, 0, 0)});
    uint16_t status = kStatusSentinel;
    EXPECT_EQ(XQUIB_BrateChange(handle_, row.code, &status), RC_OK);
    EXPECT_EQ(Frames().back(), graphic::Request(113, row.subcommand, 0, 0));
  }
  EXPECT_EQ(fake::LineOfPort(0).Settings().BaudRate, 38400u) << "the library's line stays";
}

TEST_F(CommandTest, PasswordBytesTravelAsGivenUpToTheLongestALengthByteCarries) {
  uint8_t longest[255];
  for (size_t i = 0; i < sizeof longest; ++i) longest[i] = static_cast<uint8_t>('a' + i % 26);
  Bytes longest_data{255};
  longest_data.insert(longest_data.end(), longest, longest + 255);
  const uint8_t password[] = {'s', 0x00, 'c', 'r', 't'};
  const struct {
    const char *name;
    const uint8_t *bytes;
    uint16_t length;
    Bytes data;
  } rows[] = {
      {"five bytes with a zero inside", password, 5, {5, 's', 0x00, 'c', 'r', 't'}},
      {"no password, length 0", nullptr, 0, {0}},
      {"255 bytes, the longest", longest, 255, longest_data},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    Answer({graphic::Reply(81, 0, 0, 0, 0)});
    uint16_t status = kStatusSentinel;
    EXPECT_EQ(XQUIB_CheckPassword(handle_, row.bytes, row.length, &status), RC_OK);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Frames().back(), graphic::Request(81, 0, 0, 0, row.data));
  }
}

// A length byte cannot carry these: cutting one to its low byte would check
// another password (0x100 an empty one, which a terminal may accept).
TEST_F(CommandTest, PasswordLongerThanALengthByteCarriesIsRefusedAndNothingIsSent) {
  static uint8_t password[0x10000];
  memset(password, 'p', sizeof password);
  for (uint16_t length : {0x100, 0x103, 0x1FF, 0xFFFF}) {
    SCOPED_TRACE(length);
    Answer({graphic::Reply(81, 0, 0, 0, 0)});
    uint16_t status = kStatusSentinel;
    EXPECT_EQ(XQUIB_CheckPassword(handle_, password, length, &status), RC_BAD_ARGUMENT);
    EXPECT_EQ(XQUIB_CheckPassword(handle_, nullptr, length, &status), RC_BAD_ARGUMENT);
    EXPECT_EQ(status, kStatusSentinel);
  }
  EXPECT_TRUE(Frames().empty());
}

TEST_F(CommandTest, WrongPasswordIsTheTerminalsRefusal) {
  Answer({graphic::Reply(81, 0, 0, 0, 0x11)});
  uint16_t status = kStatusSentinel;
  EXPECT_EQ(XQUIB_CheckPassword(handle_, reinterpret_cast<const uint8_t *>("x"), 1, &status),
            RC_TERMINAL_ERROR);
  EXPECT_EQ(status, 0x11);
}

// ---- XQUIB_Start -----------------------------------------------------------

TEST_F(CommandTest, StartAwaitsNoReplyAndDumpsItsFrame) {
  EXPECT_EQ(XQUIB_Start(handle_), RC_OK);
  EXPECT_EQ(Frames(), std::vector<Bytes>{graphic::Request(1, 1, 0, 0)});
  const std::vector<std::string> head{"READAll command\n", "[", "\xFE", "<06>", "]\n",
                                      "Send Command\n"};
  const auto texts = fake::DebugTexts();
  ASSERT_GE(texts.size(), head.size());
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + head.size()), head);
}

TEST_F(CommandTest, StartIgnoresAnAnswerAndTheNextRequestDiscardsIt) {
  Answer({graphic::Reply(1, 1, 0, 0, 7), graphic::Reply(2, 1, 0, 0, 0)});
  EXPECT_EQ(XQUIB_Start(handle_), RC_OK);
  uint16_t status = kStatusSentinel;
  EXPECT_EQ(XQUIB_SWReset(handle_, &status), RC_OK) << "the stray answer is not taken as a reply";
  EXPECT_EQ(status, 0);
  EXPECT_GE(fake::LineOfPort(0).PurgeCalls(), 1);
}

TEST_F(CommandTest, StartChecksItsHandleAfterTheTrace) {
  EXPECT_EQ(XQUIB_Start(32), RC_BAD_ARGUMENT);
  EXPECT_EQ(XQUIB_Start(5), RC_NOT_OPEN);
  EXPECT_EQ(fake::DebugTexts(),
            (std::vector<std::string>{"READAll command\n", "READAll command\n"}));
  EXPECT_TRUE(Frames().empty());
}

// ---- Query reply shapes ----------------------------------------------------

Bytes OsEntry(uint8_t kind, uint8_t flag, uint32_t value) {
  return Cat({{kind, flag}, Le32(value)});
}

TEST_F(CommandTest, OsInformationEntriesAreOrderedByTheirFlags) {
  const uint32_t a = 0xAAAA0001, b = 0xBBBB0002;
  const struct {
    const char *name;
    Bytes data;
    int16_t rc;
    uint32_t first, second;
  } rows[] = {
      {"flag 0x00 first", Cat({{2}, OsEntry(0x61, 0x00, a), OsEntry(0x61, 0x80, b)}), RC_OK, a, b},
      {"flag 0x80 first", Cat({{2}, OsEntry(0x61, 0x80, a), OsEntry(0x61, 0x00, b)}), RC_OK, b, a},
      {"both flags 0x00", Cat({{2}, OsEntry(0x61, 0x00, a), OsEntry(0x61, 0x00, b)}), RC_BAD_PORT,
       kValueSentinel, kValueSentinel},
      {"both flags 0x80", Cat({{2}, OsEntry(0x61, 0x80, a), OsEntry(0x61, 0x80, b)}), RC_BAD_PORT,
       kValueSentinel, kValueSentinel},
      {"first flag 0x40", Cat({{2}, OsEntry(0x61, 0x40, a), OsEntry(0x61, 0x80, b)}), RC_BAD_PORT,
       kValueSentinel, kValueSentinel},
      {"entry count 3", Cat({{3}, OsEntry(0x61, 0x00, a), OsEntry(0x61, 0x80, b)}), RC_BAD_PORT,
       kValueSentinel, kValueSentinel},
      {"first kind 'b'", Cat({{2}, OsEntry(0x62, 0x00, a), OsEntry(0x61, 0x80, b)}), RC_BAD_PORT,
       kValueSentinel, kValueSentinel},
      {"second kind 'A'", Cat({{2}, OsEntry(0x61, 0x00, a), OsEntry(0x41, 0x80, b)}), RC_BAD_PORT,
       kValueSentinel, kValueSentinel},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    Answer({graphic::Reply(49, 0x42, 0, 0, 0, row.data)});
    uint32_t first = kValueSentinel, second = kValueSentinel;
    uint16_t status = kStatusSentinel;
    EXPECT_EQ(XQUIB_GetOsInfo(handle_, &first, &second, &status), row.rc);
    EXPECT_EQ(status, 0) << "the status is handed back before the entries are examined";
    EXPECT_EQ(first, row.first);
    EXPECT_EQ(second, row.second);
  }
}

Bytes ProjectData(uint32_t v1, uint32_t v2, const Bytes &name) {
  return Cat({Le32(v1), Le32(v2), {static_cast<uint8_t>(name.size())}, name});
}

struct ProjOuts {
  uint32_t v1 = kValueSentinel, v2 = kValueSentinel;
  uint8_t name[300];
  uint16_t name_length = kStatusSentinel;
  uint16_t status = kStatusSentinel;
  ProjOuts() { memset(name, 0xEE, sizeof name); }
};

TEST_F(CommandTest, ProjectInformationCopiesTheNameWithoutTerminator) {
  const struct {
    const char *name;
    Bytes project;
  } rows[] = {{"five bytes", {'A', 'B', 'C', 'D', 'E'}},
              {"240 bytes, the longest", Pattern(240, 1)},
              {"one zero byte", {0x00}}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    Answer({graphic::Reply(49, 0x43, 0, 0, 0, ProjectData(7, 0x80000000, row.project))});
    ProjOuts o;
    EXPECT_EQ(XQUIB_GetProjInfo(handle_, &o.v1, &o.v2, o.name, &o.name_length, &o.status), RC_OK);
    EXPECT_EQ(o.v1, 7u);
    EXPECT_EQ(o.v2, 0x80000000u);
    EXPECT_EQ(o.name_length, row.project.size());
    EXPECT_EQ(Bytes(o.name, o.name + row.project.size()), row.project);
    EXPECT_EQ(o.name[row.project.size()], 0xEE) << "nothing added after the name";
  }
}

TEST_F(CommandTest, EmptyProjectNameStoresOneZeroByte) {
  const Bytes reply = graphic::Reply(49, 0x43, 0, 0, 0, ProjectData(1, 2, {}));
  ASSERT_EQ(reply[1], 15) << "length field 15";
  Answer({reply});
  ProjOuts o;
  EXPECT_EQ(XQUIB_GetProjInfo(handle_, &o.v1, &o.v2, o.name, &o.name_length, &o.status), RC_OK);
  EXPECT_EQ(o.name_length, 0);
  EXPECT_EQ(o.name[0], 0);
  EXPECT_EQ(o.name[1], 0xEE);
}

TEST_F(CommandTest, ProjectReplyThatDisagreesOrFallsShortWritesOnlyTheStatus) {
  const Bytes five{'A', 'B', 'C', 'D', 'E'};
  const struct {
    const char *name;
    Bytes reply;
    int16_t rc;
  } rows[] = {
      {"length field 21 with a 5-byte name",
       graphic::Frame(0xFF, 21, 49, 0x43, 0, 0, 0, Cat({ProjectData(1, 2, five), {0x00}})),
       RC_BAD_PROJECT_INFO},
      {"name of 241 bytes", graphic::Reply(49, 0x43, 0, 0, 0, ProjectData(1, 2, Pattern(241, 0))),
       RC_BAD_PROJECT_INFO},
      {"no data at all", graphic::Reply(49, 0x43, 0, 0, 0), RC_BAD_LENGTH},
      {"values but no name length", graphic::Reply(49, 0x43, 0, 0, 0, Cat({Le32(1), Le32(2)})),
       RC_BAD_LENGTH},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    Answer({row.reply});
    ProjOuts o;
    EXPECT_EQ(XQUIB_GetProjInfo(handle_, &o.v1, &o.v2, o.name, &o.name_length, &o.status), row.rc);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.v1, kValueSentinel);
    EXPECT_EQ(o.v2, kValueSentinel);
    EXPECT_EQ(o.name_length, kStatusSentinel);
    EXPECT_EQ(o.name[0], 0xEE);
  }
}

TEST_F(CommandTest, ProjectReplyAnnouncingMoreThanTheLineBufferIsRefusedAtOnce) {
  Answer({{0xFF, 0x4A, 0x04, 0x31, 0x43, 0x00, 0x00, 0x00}});
  const uint32_t start = fake::Now();
  ProjOuts o;
  EXPECT_EQ(XQUIB_GetProjInfo(handle_, &o.v1, &o.v2, o.name, &o.name_length, &o.status),
            RC_BAD_LENGTH);
  EXPECT_LT(fake::Now() - start, 10000u) << "refused without waiting for the reply time-out";
  EXPECT_EQ(Frames().size(), 1u) << "a probe's refusal is not repeated";
  EXPECT_EQ(o.status, kStatusSentinel);
}

TEST_F(CommandTest, MemoryValuesArriveSignedAndTypeByteUnsigned) {
  Answer({graphic::Reply(49, 0x41, 0, 0, 0, {0x00, 0x80, 0xFF, 0xFF, 0x34, 0x12}),
          graphic::Reply(82, 1, 0, 0, 0, {0xC3})});
  int32_t v[3] = {0, 0, 0};
  uint16_t status = kStatusSentinel;
  EXPECT_EQ(XQUIB_GetMemData(handle_, &v[0], &v[1], &v[2], &status), RC_OK);
  EXPECT_EQ(v[0], -32768);
  EXPECT_EQ(v[1], -1);
  EXPECT_EQ(v[2], 0x1234);
  uint32_t type = 0;
  EXPECT_EQ(XQUIB_GetKEWType(handle_, &type, &status), RC_OK);
  EXPECT_EQ(type, 195u);
}

}  // namespace
