// Block reads over a scripted terminal: the group logic of XQUIB_ReadAll, one
// group, plain areas, every reply check in its order, and the sized forms.
#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "quiblink/quiblink_ext.h"
#include "terminal.h"

namespace {

using namespace wire;

struct ReadOuts {
  Bytes data = Bytes(8192, kByteSentinel);
  int32_t total = kValueSentinel;
  uint16_t status = kStatusSentinel;
  // The buffer holds exactly these bytes and nothing after them.
  void ExpectData(const Bytes &want) const {
    EXPECT_EQ(Bytes(data.begin(), data.begin() + want.size()), want);
    EXPECT_EQ(data[want.size()], kByteSentinel);
  }
};

Bytes Group(uint8_t continuation, uint8_t sequence, uint16_t group, const Bytes &data,
            uint8_t status = 0) {
  return graphic::Reply(33, 1, continuation, sequence, status, graphic::GroupBlock(group, data));
}
Bytes Area(uint8_t area, uint8_t continuation, uint8_t sequence, const Bytes &data,
           uint8_t status = 0) {
  return graphic::Reply(33, area, continuation, sequence, status, graphic::AreaBlock(data));
}
Bytes GroupRequest(uint8_t continuation, uint16_t group) {
  return graphic::Request(33, 1, continuation, 0, Le16(group));
}

using BlockReadTest = GraphicTerminalTest;

// ---- XQUIB_Read1G ----------------------------------------------------------

TEST_F(BlockReadTest, OneGroupAppendsBlocksUntilTheLastBlockFlag) {
  const Bytes a = Pattern(300, 1), b = Pattern(1024, 2), c = Pattern(5, 3);
  Answer({Group(0, 0, 0x0102, a), Group(1, 1, 0x0102, b), Group(2, 2, 0x0102, c)});
  ReadOuts o;
  EXPECT_EQ(XQUIB_Read1G(handle_, 0x0102, o.data.data(), &o.total, &o.status), RC_OK);
  EXPECT_EQ(o.total, 1329);
  EXPECT_EQ(o.status, 0);
  o.ExpectData(Cat({a, b, c}));
  EXPECT_EQ(Frames(), (std::vector<Bytes>{GroupRequest(0, 0x0102), GroupRequest(1, 0x0102),
                                          GroupRequest(1, 0x0102)}));
  EXPECT_TRUE(FirstTextIs("READ command\n"));
  for (const std::string &t : fake::DebugTexts()) EXPECT_NE(t, "[") << "no frame dump";
}

TEST_F(BlockReadTest, OneGroupWhoseFirstBlockIsEmptySucceedsWithTotalZero) {
  Answer({Group(0, 0, 9, {})});
  ReadOuts o;
  EXPECT_EQ(XQUIB_Read1G(handle_, 9, o.data.data(), &o.total, &o.status), RC_OK);
  EXPECT_EQ(o.total, 0);
  EXPECT_EQ(o.data[0], kByteSentinel);
  EXPECT_EQ(Frames().size(), 1u);
}

struct FailRow {
  const char *name;
  std::vector<Bytes> replies;
  int16_t rc;
  uint16_t status;  // expected terminal status afterwards
  Bytes data;       // expected in the buffer (the rest untouched)
};

// A reply to another command or subcommand: refused before anything is written.
FailRow OtherEcho(const char *name, Bytes reply) {
  return {name, {std::move(reply)}, RC_BAD_ECHO, kStatusSentinel, {}};
}
// A grouped block whose count, 100, disagrees with its length field, 112.
Bytes CountBesideTheField(uint16_t group) {
  return graphic::Frame(0xFF, 112, 33, 1, 0, 0, 0, Cat({Le16(group), Le16(100), Pattern(102, 1)}));
}

void RunFailRows(GraphicTerminalTest &t, const std::vector<FailRow> &rows,
                 const std::function<int16_t(ReadOuts &)> &call) {
  for (const FailRow &row : rows) {
    SCOPED_TRACE(row.name);
    t.Answer(row.replies);
    ReadOuts o;
    EXPECT_EQ(call(o), row.rc);
    EXPECT_EQ(o.status, row.status);
    EXPECT_EQ(o.total, kValueSentinel) << "the total is stored only on success";
    o.ExpectData(row.data);
  }
}

TEST_F(BlockReadTest, OneGroupReplyChecksRunInTheirOrder) {
  const Bytes a = Pattern(40, 5);
  const std::vector<FailRow> rows = {
      OtherEcho("other command", graphic::Reply(34, 1, 0, 0, 0, graphic::GroupBlock(4, a))),
      OtherEcho("other subcommand", graphic::Reply(33, 3, 0, 0, 0, graphic::GroupBlock(4, a))),
      {"other group", {Group(0, 0, 5, a)}, RC_BAD_GROUP, kStatusSentinel, {}},
      {"group checked before sequence", {Group(0, 1, 5, a, 3)}, RC_BAD_GROUP, kStatusSentinel, {}},
      {"first sequence number 1", {Group(0, 1, 4, a)}, RC_SEQUENCE, kStatusSentinel, {}},
      {"sequence checked before status", {Group(0, 1, 4, a, 5)}, RC_SEQUENCE, kStatusSentinel, {}},
      {"terminal refuses", {Group(0, 0, 4, a, 5)}, RC_TERMINAL_ERROR, 5, {}},
      {"count 100 in length field 112", {CountBesideTheField(4)}, RC_BAD_LENGTH, 0, {}},
      {"count 0xFFFF",
       {graphic::Frame(0xFF, 10, 33, 1, 0, 0, 0, Cat({Le16(4), Le16(0xFFFF)}))},
       RC_BAD_LENGTH,
       0,
       {}},
      {"group but no count", {graphic::Reply(33, 1, 0, 0, 0, Le16(4))}, RC_BAD_LENGTH, 0, {}},
      {"header only", {graphic::Reply(33, 1, 0, 0, 0)}, RC_BAD_LENGTH, kStatusSentinel, {}},
      {"second block repeats sequence 0",
       {Group(0, 0, 4, a), Group(2, 0, 4, a)},
       RC_SEQUENCE,
       0,
       a},
      {"second block fails its checksum",
       {Group(0, 0, 4, a), graphic::WithBadChecksum(Group(2, 1, 4, a)),
        graphic::WithBadChecksum(Group(2, 1, 4, a)), graphic::WithBadChecksum(Group(2, 1, 4, a))},
       RC_CHECKSUM,
       0,
       a},
  };
  RunFailRows(*this, rows, [this](ReadOuts &o) {
    return XQUIB_Read1G(handle_, 4, o.data.data(), &o.total, &o.status);
  });
}

// ---- XQUIB_ReadAll ---------------------------------------------------------

TEST_F(BlockReadTest, AllGroupsReadsGroupsThreeAndSevenUntilGroupZero) {
  const Bytes b[5] = {Pattern(100, 1), Pattern(1024, 2), Pattern(7, 3), Pattern(500, 4),
                      Pattern(1, 5)};
  Answer({
      Group(0, 0, 3, b[0]),
      Group(2, 1, 3, b[1]),  // a last-block flag means nothing to the group loop
      Group(0, 0, 7, b[2]),
      Group(1, 1, 7, b[3]),
      Group(1, 2, 7, b[4]),
      // The end: its sequence number and data count are not examined.
      graphic::Frame(0xFF, 10, 33, 1, 1, 9, 0, Cat({Le16(0), Le16(77)})),
  });
  ReadOuts o;
  EXPECT_EQ(XQUIB_ReadAll(handle_, o.data.data(), &o.total, &o.status), RC_OK);
  EXPECT_EQ(o.total, 100 + 1024 + 7 + 500 + 1);
  EXPECT_EQ(o.status, 0);
  o.ExpectData(Cat({b[0], b[1], b[2], b[3], b[4]}));
  std::vector<Bytes> want{GroupRequest(0, 0)};
  for (int i = 0; i < 5; ++i) want.push_back(GroupRequest(1, 0));
  EXPECT_EQ(Frames(), want);
  EXPECT_TRUE(FirstTextIs("READAll command\n"));
}

TEST_F(BlockReadTest, AllGroupsEndsOnAnEmptyBlockOrABareGroupZero) {
  Answer({Group(0, 0, 3, {1, 2}), Group(0, 1, 3, {})});
  ReadOuts o;
  EXPECT_EQ(XQUIB_ReadAll(handle_, o.data.data(), &o.total, &o.status), RC_OK);
  EXPECT_EQ(o.total, 2);

  Answer({Group(0, 0, 3, {1, 2}), graphic::Reply(33, 1, 0, 0, 0, Le16(0))});
  ReadOuts p;
  EXPECT_EQ(XQUIB_ReadAll(handle_, p.data.data(), &p.total, &p.status), RC_OK);
  EXPECT_EQ(p.total, 2);
}

TEST_F(BlockReadTest, AllGroupsReplyChecksRunInTheirOrder) {
  const Bytes a = Pattern(30, 8);
  const std::vector<FailRow> rows = {
      OtherEcho("other subcommand", graphic::Reply(33, 2, 0, 0, 0, graphic::GroupBlock(3, a))),
      {"status checked before sequence", {Group(0, 4, 3, a, 5)}, RC_TERMINAL_ERROR, 5, {}},
      {"status checked before group zero", {Group(0, 0, 0, {}, 6)}, RC_TERMINAL_ERROR, 6, {}},
      {"first sequence number 1", {Group(0, 1, 3, a)}, RC_SEQUENCE, 0, {}},
      {"sequence skips within a group", {Group(0, 0, 3, a), Group(0, 2, 3, a)}, RC_SEQUENCE, 0, a},
      {"new group restarts the sequence",
       {Group(0, 0, 3, a), Group(0, 1, 7, a)},
       RC_SEQUENCE,
       0,
       a},
      {"count 100 in length field 112", {CountBesideTheField(3)}, RC_BAD_LENGTH, 0, {}},
      {"header only", {graphic::Reply(33, 1, 0, 0, 0)}, RC_BAD_LENGTH, 0, {}},
      {"group but no count", {graphic::Reply(33, 1, 0, 0, 0, Le16(3))}, RC_BAD_LENGTH, 0, {}},
  };
  RunFailRows(*this, rows, [this](ReadOuts &o) {
    return XQUIB_ReadAll(handle_, o.data.data(), &o.total, &o.status);
  });
}

TEST_F(BlockReadTest, ReplyAnnouncingMoreThanTheLineBufferIsRefusedAtOnce) {
  Answer({{0xFF, 0x4A, 0x04, 0x21, 0x01, 0x00, 0x00, 0x00, 0x03, 0x00}});
  const uint32_t start = fake::Now();
  ReadOuts o;
  EXPECT_EQ(XQUIB_ReadAll(handle_, o.data.data(), &o.total, &o.status), RC_BAD_LENGTH);
  EXPECT_LT(fake::Now() - start, 10000u);
  EXPECT_EQ(Frames().size(), 1u);
  EXPECT_EQ(o.status, kStatusSentinel);
}

// A block reply longer than the 1037 bytes the request announced would put
// more than 1024 bytes of one block into a buffer sized by the protocol: the
// read stops at the length field, before anything is appended.
TEST_F(BlockReadTest, BlockLongerThanAnnouncedIsRefusedAtOnce) {
  struct Row {
    const char *name;
    std::function<int16_t(uint16_t, ReadOuts &)> call;
    Bytes reply;
  } rows[] = {
      {"one group",
       [](uint16_t h, ReadOuts &o) {
         return XQUIB_Read1G(h, 3, o.data.data(), &o.total, &o.status);
       },
       Group(0, 0, 3, Pattern(1025, 1))},
      {"all groups",
       [](uint16_t h, ReadOuts &o) { return XQUIB_ReadAll(h, o.data.data(), &o.total, &o.status); },
       Group(0, 0, 3, Pattern(1025, 1))},
      {"area",
       [](uint16_t h, ReadOuts &o) { return XQUIB_Read(h, 3, o.data.data(), &o.total, &o.status); },
       Area(3, 0, 0, Pattern(1028, 1))},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const size_t before = Frames().size();
    Answer({row.reply});
    const uint32_t start = fake::Now();
    ReadOuts o;
    EXPECT_EQ(row.call(handle_, o), RC_BAD_LENGTH);
    EXPECT_LT(fake::Now() - start, 10000u) << "refused at the length field, not at a time-out";
    EXPECT_EQ(Frames().size() - before, 1u);
    EXPECT_EQ(o.total, kValueSentinel);
    EXPECT_EQ(o.status, kStatusSentinel);
    o.ExpectData({});
  }
}

// ---- XQUIB_Read ------------------------------------------------------------

TEST_F(BlockReadTest, AreaReadDumpsEachRequestAndEndsOnTheLastBlockFlag) {
  const Bytes a = Pattern(1024, 1), b = Pattern(3, 2);
  Answer({Area(3, 0, 0, a), Area(3, 2, 1, b)});
  ReadOuts o;
  EXPECT_EQ(XQUIB_Read(handle_, 3, o.data.data(), &o.total, &o.status), RC_OK);
  EXPECT_EQ(o.total, 1027);
  o.ExpectData(Cat({a, b}));
  EXPECT_EQ(Frames(),
            (std::vector<Bytes>{graphic::Request(33, 3, 0, 0), graphic::Request(33, 3, 1, 0)}));
  // Each dump stops at the first zero byte, the length field's high byte.
  const std::vector<std::string> dump{"[", "\xFE", "<06>", "]\n", "Send Command\n"};
  const auto texts = fake::DebugTexts();
  ASSERT_GE(texts.size(), 6u);
  EXPECT_EQ(texts[0], "READ command\n");
  EXPECT_EQ(std::vector<std::string>(texts.begin() + 1, texts.begin() + 6), dump);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "<06>"), 2);
}

TEST_F(BlockReadTest, EveryReadableAreaIsAccepted) {
  for (uint8_t area : {3, 4, 5, 6, 240, 241, 242}) {
    SCOPED_TRACE(static_cast<int>(area));
    Answer({Area(area, 2, 0, {0x42})});
    ReadOuts o;
    EXPECT_EQ(XQUIB_Read(handle_, area, o.data.data(), &o.total, &o.status), RC_OK);
    EXPECT_EQ(o.total, 1);
    EXPECT_EQ(Frames().back(), graphic::Request(33, area, 0, 0));
  }
}

TEST_F(BlockReadTest, OtherAreasAreRefusedAfterTheTrace) {
  for (uint8_t area : {0, 1, 2, 7, 239, 243, 255}) {
    SCOPED_TRACE(static_cast<int>(area));
    fake::ClearDebug();
    ReadOuts o;
    EXPECT_EQ(XQUIB_Read(handle_, area, o.data.data(), &o.total, &o.status), RC_BAD_ARGUMENT);
    EXPECT_EQ(fake::DebugTexts(), std::vector<std::string>{"READ command\n"});
  }
  EXPECT_TRUE(Frames().empty());
}

TEST_F(BlockReadTest, AreaReadReplyChecksRunInTheirOrder) {
  const Bytes a = Pattern(20, 4);
  const std::vector<FailRow> rows = {
      {"reply names another area", {Area(4, 2, 0, a)}, RC_BAD_ECHO, kStatusSentinel, {}},
      {"sequence checked before status", {Area(5, 2, 1, a, 5)}, RC_SEQUENCE, kStatusSentinel, {}},
      {"terminal refuses", {Area(5, 2, 0, a, 5)}, RC_TERMINAL_ERROR, 5, {}},
      {"count 100 in length field 110",
       {graphic::Frame(0xFF, 110, 33, 5, 2, 0, 0, Cat({Le16(100), Pattern(102, 1)}))},
       RC_BAD_LENGTH,
       0,
       {}},
      {"length field 7", {graphic::Reply(33, 5, 2, 0, 0, {0x01})}, RC_BAD_LENGTH, 0, {}},
      {"second block out of sequence", {Area(5, 0, 0, a), Area(5, 2, 0, a)}, RC_SEQUENCE, 0, a},
  };
  RunFailRows(*this, rows, [this](ReadOuts &o) {
    return XQUIB_Read(handle_, 5, o.data.data(), &o.total, &o.status);
  });
}

// ---- Argument checks of the three reads ------------------------------------

TEST_F(BlockReadTest, ChannelAndPointerChecksComeAfterTheTraceAndBeforeAnyExchange) {
  Answer({Group(2, 0, 0, {1})});
  using Call = std::function<int16_t(uint16_t, uint8_t *, int32_t *, uint16_t *)>;
  const std::pair<const char *, Call> reads[] = {
      {"READAll command\n",
       [](uint16_t h, uint8_t *d, int32_t *t, uint16_t *s) { return XQUIB_ReadAll(h, d, t, s); }},
      {"READ command\n",
       [](uint16_t h, uint8_t *d, int32_t *t, uint16_t *s) { return XQUIB_Read1G(h, 1, d, t, s); }},
      {"READ command\n",
       [](uint16_t h, uint8_t *d, int32_t *t, uint16_t *s) { return XQUIB_Read(h, 3, d, t, s); }},
  };
  for (const auto &[trace, call] : reads) {
    SCOPED_TRACE(trace);
    ReadOuts o;
    const struct {
      const char *name;
      int16_t rc;
      uint16_t handle;
      uint8_t *data;
      int32_t *total;
      uint16_t *status;
    } rows[] = {
        {"handle 32", RC_BAD_ARGUMENT, 32, o.data.data(), &o.total, &o.status},
        {"free handle 5", RC_NOT_OPEN, 5, o.data.data(), &o.total, &o.status},
        {"no data buffer", RC_BAD_ARGUMENT, handle_, nullptr, &o.total, &o.status},
        {"no total", RC_BAD_ARGUMENT, handle_, o.data.data(), nullptr, &o.status},
        {"no status", RC_BAD_ARGUMENT, handle_, o.data.data(), &o.total, nullptr},
    };
    for (const auto &row : rows) {
      SCOPED_TRACE(row.name);
      fake::ClearDebug();
      EXPECT_EQ(call(row.handle, row.data, row.total, row.status), row.rc);
      EXPECT_EQ(fake::DebugTexts(), std::vector<std::string>{trace});
    }
    EXPECT_EQ(o.total, kValueSentinel);
    EXPECT_EQ(o.status, kStatusSentinel);
  }
  EXPECT_TRUE(Frames().empty());
}

// ---- Sized forms -----------------------------------------------------------

struct ProgressLog {
  std::vector<std::pair<uint32_t, uint32_t>> calls;
  static void Record(uint32_t done, uint32_t total, void *user) {
    static_cast<ProgressLog *>(user)->calls.emplace_back(done, total);
  }
};

TEST_F(BlockReadTest, SizedReadsStopBeforeWritingPastTheCapacity) {
  const Bytes a = Pattern(600, 1), b = Pattern(400, 2);
  const struct {
    const char *name;
    uint32_t capacity;
    int16_t rc;
    int32_t total;
    Bytes data;
  } rows[] = {
      {"exactly enough", 1000, RC_OK, 1000, Cat({a, b})},
      {"one byte short", 999, RC_BUFFER_TOO_SMALL, kValueSentinel, a},
      {"not even the first block", 599, RC_BUFFER_TOO_SMALL, kValueSentinel, {}},
      {"no room at all", 0, RC_BUFFER_TOO_SMALL, kValueSentinel, {}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    for (int form = 0; form < 3; ++form) {
      SCOPED_TRACE(form);
      ReadOuts o;
      ProgressLog log;
      int16_t rc;
      if (form == 0) {
        Answer({Group(0, 0, 3, a), Group(0, 1, 3, b), Group(0, 0, 0, {})});
        rc = XQUIB_ReadAllEx(handle_, o.data.data(), row.capacity, &o.total, &o.status,
                             ProgressLog::Record, &log);
      } else if (form == 1) {
        Answer({Group(0, 0, 3, a), Group(2, 1, 3, b)});
        rc = XQUIB_Read1GEx(handle_, 3, o.data.data(), row.capacity, &o.total, &o.status,
                            ProgressLog::Record, &log);
      } else {
        Answer({Area(6, 0, 0, a), Area(6, 2, 1, b)});
        rc = XQUIB_ReadEx(handle_, 6, o.data.data(), row.capacity, &o.total, &o.status,
                          ProgressLog::Record, &log);
      }
      EXPECT_EQ(rc, row.rc);
      EXPECT_EQ(o.total, row.total);
      o.ExpectData(row.data);
      std::vector<std::pair<uint32_t, uint32_t>> want;
      if (row.data.size() >= 600) want.emplace_back(600, 0);
      if (row.data.size() >= 1000) want.emplace_back(1000, 0);
      EXPECT_EQ(log.calls, want);
    }
  }
}

// A progress callback that cancels stops each read before its next request; one that cancels
// after the last block changes nothing.
TEST_F(BlockReadTest, ACancelFromTheProgressCallbackStopsTheReadBeforeItsNextBlock) {
  struct Canceller {
    uint16_t handle;
    uint32_t at;  // cancel once this many bytes are in
    static void Call(uint32_t done, uint32_t, void *user) {
      auto *self = static_cast<Canceller *>(user);
      if (done >= self->at) {
        EXPECT_EQ(QUIB_CancelTransfer(self->handle), RC_OK);
      }
    }
  };
  const Bytes a = Pattern(600, 1), b = Pattern(400, 2);
  for (int form = 0; form < 3; ++form) {
    for (uint32_t at : {600u, 1000u}) {
      SCOPED_TRACE(std::to_string(form) + " cancelled at " + std::to_string(at));
      const size_t before = Frames().size();
      Canceller canceller{handle_, at};
      ReadOuts o;
      int16_t rc;
      if (form == 0) {
        Answer({Group(0, 0, 3, a), Group(0, 1, 3, b), Group(0, 0, 0, {})});
        rc = XQUIB_ReadAllEx(handle_, o.data.data(), 8192, &o.total, &o.status, Canceller::Call,
                             &canceller);
      } else if (form == 1) {
        Answer({Group(0, 0, 3, a), Group(2, 1, 3, b)});
        rc = XQUIB_Read1GEx(handle_, 3, o.data.data(), 8192, &o.total, &o.status, Canceller::Call,
                            &canceller);
      } else {
        Answer({Area(6, 0, 0, a), Area(6, 2, 1, b)});
        rc = XQUIB_ReadEx(handle_, 6, o.data.data(), 8192, &o.total, &o.status, Canceller::Call,
                          &canceller);
      }
      // All groups ends on its group 0 reply: a cancel after the second block stops it there.
      const bool cut = at == 600 || form == 0;
      EXPECT_EQ(rc, cut ? RC_CANCELLED : RC_OK);
      EXPECT_EQ(Frames().size() - before, at == 600 ? 1u : 2u);
      EXPECT_EQ(o.total, cut ? kValueSentinel : 1000);
      o.ExpectData(at == 600 ? a : Cat({a, b}));
    }
  }
  // The channel goes on as before.
  Answer({Area(4, 2, 0, {9, 8, 7})});
  ReadOuts o;
  EXPECT_EQ(XQUIB_Read(handle_, 4, o.data.data(), &o.total, &o.status), RC_OK);
}

TEST_F(BlockReadTest, SizedReadWithoutProgressCallback) {
  Answer({Area(4, 2, 0, {9, 8, 7})});
  ReadOuts o;
  EXPECT_EQ(XQUIB_ReadEx(handle_, 4, o.data.data(), 3, &o.total, &o.status, nullptr, nullptr),
            RC_OK);
  EXPECT_EQ(o.total, 3);
}

}  // namespace

// ---- The grouped read and its table ------------------------------------------

// Where gtest's comparison finds it: beside the type, in the global namespace.
inline bool operator==(const QUIB_GroupEntry &a, const QUIB_GroupEntry &b) {
  return a.group == b.group && a.offset == b.offset && a.length == b.length;
}

namespace {

constexpr QUIB_GroupEntry kEntrySentinel{0xAAAAAAAA, 0xBBBBBBBB, 0xCCCCCCCC};

struct GroupOuts : ReadOuts {
  std::vector<QUIB_GroupEntry> table = std::vector<QUIB_GroupEntry>(4, kEntrySentinel);
  uint32_t count = 0xDEAD;
  ProgressLog log;
};

int16_t ReadGroups(uint16_t handle, GroupOuts &o, uint32_t table_room, uint32_t expected = 0) {
  return XQUIB_ReadAllGroups(handle, o.data.data(), uint32_t(o.data.size()), &o.total,
                             o.table.data(), table_room, &o.count, &o.status, expected,
                             ProgressLog::Record, &o.log);
}

}  // namespace

TEST_F(BlockReadTest, GroupedReadSendsWhatReadAllSendsAndTablesEachGroup) {
  const Bytes a = Pattern(1024, 1), b = Pattern(76, 2), c = Pattern(700, 3);
  const std::vector<Bytes> replies = {Group(0, 0, 1, a), Group(2, 1, 1, b), Group(2, 0, 7, c),
                                      Group(0, 0, 0, {})};
  Answer(replies);
  ReadOuts plain;
  ASSERT_EQ(XQUIB_ReadAll(handle_, plain.data.data(), &plain.total, &plain.status), RC_OK);
  const std::vector<Bytes> read_all_frames = Frames();
  const std::vector<std::string> read_all_texts = fake::DebugTexts();

  fake::ClearDebug();
  Answer(replies);
  GroupOuts o;
  ASSERT_EQ(ReadGroups(handle_, o, 4, 1800), RC_OK);
  const std::vector<Bytes> all = Frames();
  EXPECT_EQ(std::vector<Bytes>(all.begin() + long(read_all_frames.size()), all.end()),
            read_all_frames);
  EXPECT_EQ(fake::DebugTexts(), read_all_texts);
  EXPECT_EQ(o.total, 1800);
  o.ExpectData(Cat({a, b, c}));
  EXPECT_EQ(o.count, 2u);
  EXPECT_EQ(o.table[0], (QUIB_GroupEntry{1, 0, 1100}));
  EXPECT_EQ(o.table[1], (QUIB_GroupEntry{7, 1100, 700}));
  EXPECT_EQ(o.table[2], kEntrySentinel);
  const std::vector<std::pair<uint32_t, uint32_t>> progress = {
      {1024, 1800}, {1100, 1800}, {1800, 1800}};
  EXPECT_EQ(o.log.calls, progress) << "the caller's expected total rides along";
}

TEST_F(BlockReadTest, GroupedReadGivesAGroupThatComesBackApartAnEntryOfItsOwn) {
  Answer(
      {Group(0, 0, 3, {1, 2}), Group(0, 0, 9, {3}), Group(0, 0, 3, {4, 5, 6}), Group(0, 0, 0, {})});
  GroupOuts o;
  ASSERT_EQ(ReadGroups(handle_, o, 4), RC_OK);
  EXPECT_EQ(o.count, 3u);
  EXPECT_EQ(o.table[0], (QUIB_GroupEntry{3, 0, 2}));
  EXPECT_EQ(o.table[1], (QUIB_GroupEntry{9, 2, 1}));
  EXPECT_EQ(o.table[2], (QUIB_GroupEntry{3, 3, 3}));
}

TEST_F(BlockReadTest, GroupedReadStopsAtAFullTableWithoutWritingPastIt) {
  const Bytes a = Pattern(40, 1), b = Pattern(30, 2);
  const struct {
    const char *name;
    uint32_t room;
    int16_t rc;
    uint32_t entries;  // entries written
    Bytes data;
  } rows[] = {
      {"room for both", 2, RC_OK, 2, Cat({a, b})},
      {"room for one", 1, RC_GROUP_TABLE_FULL, 1, a},
      {"no room", 0, RC_GROUP_TABLE_FULL, 0, {}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    Answer({Group(0, 0, 5, a), Group(0, 0, 6, b), Group(0, 0, 0, {})});
    GroupOuts o;
    EXPECT_EQ(ReadGroups(handle_, o, row.room), row.rc);
    o.ExpectData(row.data);
    for (uint32_t i = row.entries; i < o.table.size(); ++i) EXPECT_EQ(o.table[i], kEntrySentinel);
    if (row.rc != RC_OK) {
      EXPECT_EQ(o.total, kValueSentinel);
      EXPECT_EQ(o.count, 0xDEADu);
    }
  }

  // A terminal without groups needs no room.
  Answer({Group(0, 0, 0, {})});
  GroupOuts none;
  EXPECT_EQ(ReadGroups(handle_, none, 0), RC_OK);
  EXPECT_EQ(none.count, 0u);
  EXPECT_EQ(none.total, 0);
}

TEST_F(BlockReadTest, GroupedReadFailsAsReadAllAndRefusesAMissingTable) {
  Answer({Group(0, 0, 3, {1}), Group(0, 2, 3, {2})});
  GroupOuts o;
  EXPECT_EQ(ReadGroups(handle_, o, 4), RC_SEQUENCE);
  EXPECT_EQ(o.count, 0xDEADu);

  fake::ClearDebug();
  const size_t sent = Frames().size();
  Answer({Group(0, 0, 0, {})});
  uint32_t count = 0;
  QUIB_GroupEntry table[1];
  EXPECT_EQ(XQUIB_ReadAllGroups(handle_, o.data.data(), 10, &o.total, nullptr, 1, &count, &o.status,
                                0, nullptr, nullptr),
            RC_BAD_ARGUMENT);
  EXPECT_EQ(XQUIB_ReadAllGroups(handle_, o.data.data(), 10, &o.total, table, 1, nullptr, &o.status,
                                0, nullptr, nullptr),
            RC_BAD_ARGUMENT);
  EXPECT_EQ(fake::DebugTexts(),
            (std::vector<std::string>{"READAll command\n", "READAll command\n"}));
  EXPECT_EQ(Frames().size(), sent);
}
