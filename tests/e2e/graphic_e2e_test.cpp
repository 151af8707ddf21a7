// Every graphic export against a healthy simulated terminal at 38400 baud: what the library
// writes must be what the terminal holds, and what the terminal holds must come back byte for
// byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "e2e_support.h"
#include "quiblink/quiblink_ext.h"

namespace quiblink::e2e {
namespace {

constexpr uint16_t kNotWritten = 0xBEEF;
constexpr uint8_t kFill = 0xEE;

class GraphicE2E : public SimTest {
 protected:
  void SetUp() override {
    StartSim({"--family", "graphic", "--baud", "38400", "--type", "0xC3", "--password", "secret",
              "--project-name", "LINE-4 PRESS"});
    h_ = OpenGraphic();
    ASSERT_GE(h_, 0);
  }

  uint16_t h() const { return static_cast<uint16_t>(h_); }

  void WriteArea(uint8_t area, uint16_t group, const Bytes &data) {
    uint16_t status = kNotWritten;
    ASSERT_EQ(
        XQUIB_Write(h(), area, group, static_cast<uint32_t>(data.size()), data.data(), &status),
        RC_OK)
        << "area " << int(area) << " group " << group;
    EXPECT_EQ(status, 0);
  }

  // Reads into a buffer larger than needed; bytes past the total must stay untouched.
  template <typename Read>
  Bytes ReadWith(Read read, size_t room = 8192) {
    Bytes buffer(room, kFill);
    int32_t total = -1;
    uint16_t status = kNotWritten;
    const int16_t rc = read(buffer.data(), &total, &status);
    EXPECT_EQ(rc, RC_OK);
    if (rc != RC_OK) return {};
    EXPECT_EQ(status, 0);
    EXPECT_GE(total, 0);
    EXPECT_LE(static_cast<size_t>(total), room);
    const size_t end = std::min(static_cast<size_t>(std::max(total, 0)), room);
    EXPECT_TRUE(std::all_of(buffer.begin() + static_cast<long>(end), buffer.end(), [](uint8_t b) {
      return b == kFill;
    })) << "written past the total";
    return Bytes(buffer.begin(), buffer.begin() + static_cast<long>(end));
  }
  Bytes ReadGroup(uint16_t group) {
    return ReadWith(
        [&](uint8_t *d, int32_t *t, uint16_t *s) { return XQUIB_Read1G(h(), group, d, t, s); });
  }
  Bytes ReadArea(uint8_t area) {
    return ReadWith(
        [&](uint8_t *d, int32_t *t, uint16_t *s) { return XQUIB_Read(h(), area, d, t, s); });
  }

  int16_t h_ = -1;
};

TEST_F(GraphicE2E, ProjectImageWrittenGroupByGroupReadsBackByteForByte) {
  // One chunk short of a block, exactly a block, a single byte, a group number above 255 and
  // three chunks of which the last holds one byte.
  const std::map<uint16_t, Bytes> groups = {
      {1, Pattern(2500, 1)}, {2, Pattern(1024, 2)}, {7, Pattern(1, 7)}, {300, Pattern(2049, 300)}};
  for (const auto &[group, data] : groups) WriteArea(1, group, data);

  EXPECT_EQ(Sim().Command("groups"), "1:2500 2:1024 7:1 300:2049");
  Bytes image;
  for (const auto &[group, data] : groups) {
    EXPECT_EQ(FromHex(Sim().Command("group " + std::to_string(group))), data) << group;
    EXPECT_EQ(ReadGroup(group), data) << group;
    image.insert(image.end(), data.begin(), data.end());
  }
  EXPECT_EQ(
      ReadWith([&](uint8_t *d, int32_t *t, uint16_t *s) { return XQUIB_ReadAll(h(), d, t, s); }),
      image);

  // A group the terminal does not hold reads as empty; a rewrite replaces the whole group.
  EXPECT_EQ(ReadGroup(5), Bytes());
  const Bytes shorter = Pattern(10, 22);
  WriteArea(1, 2, shorter);
  EXPECT_EQ(ReadGroup(2), shorter);
}

TEST_F(GraphicE2E, GroupZeroIsRefusedWithTheTerminalStatus) {
  const Bytes data = Pattern(20, 0);
  uint16_t status = kNotWritten;
  EXPECT_EQ(XQUIB_Write(h(), 1, 0, 20, data.data(), &status), RC_TERMINAL_ERROR);
  EXPECT_EQ(status, 6);
  EXPECT_EQ(Sim().Command("groups"), "");
}

TEST_F(GraphicE2E, PlainAreasRoundTripAndReadOnlyAreasReadAsTheTerminalHoldsThem) {
  const std::map<uint8_t, Bytes> areas = {
      {3, Pattern(1500, 3)}, {4, Pattern(1024, 4)}, {5, Pattern(1, 5)}, {6, Pattern(2100, 6)}};
  for (const auto &[area, data] : areas) WriteArea(area, 0x1234, data);
  for (const auto &[area, data] : areas) {
    EXPECT_EQ(FromHex(Sim().Command("area " + std::to_string(area))), data) << int(area);
    EXPECT_EQ(ReadArea(area), data) << int(area);
  }
  // The group number plays no part in a plain area write.
  EXPECT_EQ(Sim().Command("groups"), "");

  const std::map<uint8_t, size_t> read_only = {{240, 3000}, {241, 1024}, {242, 100}};
  for (const auto &[area, size] : read_only) {
    const Bytes held = FromHex(Sim().Command("area " + std::to_string(area)));
    ASSERT_EQ(held.size(), size) << int(area);
    EXPECT_EQ(ReadArea(area), held) << int(area);
  }
  const Bytes replaced = Pattern(1500, 241);
  Sim().Command("area 241 " + ToHex(replaced));
  EXPECT_EQ(ReadArea(241), replaced);

  // The library refuses a write to a read-only area before anything reaches the line.
  const long before = Requests();
  uint16_t status = kNotWritten;
  EXPECT_EQ(XQUIB_Write(h(), 240, 0, 4, replaced.data(), &status), RC_BAD_ARGUMENT);
  EXPECT_EQ(status, kNotWritten);
  EXPECT_EQ(Requests(), before);
}

TEST_F(GraphicE2E, OperatingSystemImagesInstallAndReportTheirSizes) {
  struct Install {
    uint8_t subcommand;
    uint8_t option;
    const char *name;
    Bytes data;
  };
  const Install installs[] = {{'a', 0x00, "os a 0", Pattern(1500, 0xA0)},
                              {'a', 0x80, "os a 0x80", Pattern(3000, 0xA8)},
                              {'b', 0x00, "os b 0", Pattern(10, 0xB0)}};
  for (const Install &i : installs) {
    uint16_t status = kNotWritten;
    ASSERT_EQ(XQUIB_OSInstl(h(), i.subcommand, i.option, static_cast<uint32_t>(i.data.size()),
                            i.data.data(), &status),
              RC_OK)
        << i.name;
    EXPECT_EQ(status, 0);
  }
  for (const Install &i : installs) EXPECT_EQ(FromHex(Sim().Command(i.name)), i.data) << i.name;

  struct Case {
    const char *setting;
    uint32_t first;
    uint32_t second;
  };
  const Case cases[] = {
      {"set computed", 1500, 3000},
      // The entry flagged 0x80 first on the line: the library still hands back 0x00's first.
      {"set osinfo 0x01020304 7 swapped", 0x01020304, 7},
      {"set osinfo 0xFFFFFFFF 0", 0xFFFFFFFF, 0},
  };
  for (const Case &c : cases) {
    Sim().Command(c.setting);
    uint32_t first = 0, second = 0;
    uint16_t status = kNotWritten;
    EXPECT_EQ(XQUIB_GetOsInfo(h(), &first, &second, &status), RC_OK) << c.setting;
    EXPECT_EQ(status, 0);
    EXPECT_EQ(first, c.first) << c.setting;
    EXPECT_EQ(second, c.second) << c.setting;
  }
}

TEST_F(GraphicE2E, QueriesReportWhatTheTerminalHolds) {
  uint32_t type = 0;
  uint16_t status = kNotWritten;
  EXPECT_EQ(XQUIB_GetKEWType(h(), &type, &status), RC_OK);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(type, 0xC3u);

  WriteArea(1, 1, Pattern(1500, 1));
  WriteArea(1, 4, Pattern(100, 4));
  WriteArea(3, 0, Pattern(600, 3));

  // 2200 bytes of user data take 3 KiB of the terminal's 8192.
  int32_t used = -1, free_kib = -1, group_count = -1;
  EXPECT_EQ(XQUIB_GetMemData(h(), &used, &free_kib, &group_count, &status), RC_OK);
  EXPECT_EQ(used, 3);
  EXPECT_EQ(free_kib, 8189);
  EXPECT_EQ(group_count, 2);
  // The three values travel as 16 bits and arrive sign-extended.
  Sim().Command("set memdata 40000 65535 32767");
  EXPECT_EQ(XQUIB_GetMemData(h(), &used, &free_kib, &group_count, &status), RC_OK);
  EXPECT_EQ(used, 40000 - 65536);
  EXPECT_EQ(free_kib, -1);
  EXPECT_EQ(group_count, 32767);

  struct Case {
    const char *setting;
    std::string name;
    uint32_t first;
    uint32_t second;
  };
  const std::string longest(240, 'N');
  const Case cases[] = {
      {"set computed", "LINE-4 PRESS", 1600, 2},
      {"set projinfo 0x89ABCDEF 65536", "LINE-4 PRESS", 0x89ABCDEF, 65536},
      {"set name", "", 0x89ABCDEF, 65536},
  };
  for (const Case &c : cases) {
    Sim().Command(c.setting);
    uint8_t name[256];
    std::fill(std::begin(name), std::end(name), kFill);
    uint32_t first = 0, second = 0;
    uint16_t length = 0xFFFF;
    status = kNotWritten;
    ASSERT_EQ(XQUIB_GetProjInfo(h(), &first, &second, name, &length, &status), RC_OK) << c.setting;
    EXPECT_EQ(status, 0);
    EXPECT_EQ(first, c.first) << c.setting;
    EXPECT_EQ(second, c.second) << c.setting;
    ASSERT_EQ(length, c.name.size()) << c.setting;
    EXPECT_EQ(std::string(name, name + length), c.name);
    // An empty name still stores one zero byte; a name stores nothing behind itself.
    EXPECT_EQ(name[length], c.name.empty() ? 0 : kFill) << c.setting;
  }

  // The longest name makes the one reply whose length only its length field tells.
  Sim().Command("set name " + longest);
  uint8_t name[256];
  uint32_t first = 0, second = 0;
  uint16_t length = 0;
  ASSERT_EQ(XQUIB_GetProjInfo(h(), &first, &second, name, &length, &status), RC_OK);
  ASSERT_EQ(length, 240);
  EXPECT_EQ(std::string(name, name + 240), longest);
}

TEST_F(GraphicE2E, ControlCommandsReachTheTerminal) {
  struct Case {
    const char *name;
    int16_t (*call)(uint16_t, uint16_t *);
    const char *field;  // of the terminal's state, and its value afterwards
    long value;
  };
  const Case cases[] = {
      {"offline", XQUIB_Offline, "offline", 1},
      {"software reset", XQUIB_SWReset, "sw_resets", 1},
      {"offline again", XQUIB_Offline, "offline", 1},
      {"reset", XQUIB_Reset, "resets", 1},
      {"break", XQUIB_Break, "breaks", 1},
      {"baud-rate change",
       [](uint16_t handle, uint16_t *status) { return XQUIB_BrateChange(handle, 0x82, status); },
       "baud_code", 0x82}};
  for (const Case &c : cases) {
    uint16_t status = kNotWritten;
    EXPECT_EQ(c.call(h(), &status), RC_OK) << c.name;
    EXPECT_EQ(status, 0) << c.name;
    const std::string state = Sim().Command("state");
    EXPECT_EQ(Field(state, c.field), c.value) << c.name << ": " << state;
  }
  EXPECT_EQ(Requests(), 6);

  // A code outside 0x81..0x83 never reaches the line; the accepted one did not change the
  // library's own line speed, so the channel goes on at 38400.
  const long before = Requests();
  uint16_t status = kNotWritten;
  EXPECT_EQ(XQUIB_BrateChange(h(), 0x84, &status), RC_BAD_ARGUMENT);
  EXPECT_EQ(Requests(), before);
  uint32_t type = 0;
  EXPECT_EQ(XQUIB_GetKEWType(h(), &type, &status), RC_OK);
  EXPECT_EQ(type, 0xC3u);

  WriteArea(1, 9, Pattern(300, 9));
  WriteArea(4, 0, Pattern(300, 4));
  EXPECT_EQ(XQUIB_DelUserData(h(), &status), RC_OK);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Field(Sim().Command("state"), "deletes"), 1);
  EXPECT_EQ(Sim().Command("groups"), "");
  EXPECT_EQ(ReadArea(4), Bytes());
}

TEST_F(GraphicE2E, StartSendsTheOfflineFrameWithoutAwaitingTheReply) {
  EXPECT_EQ(XQUIB_Start(h()), RC_OK);
  // Start returns once its frame has left the line, maybe before the terminal has acted on it.
  Stopwatch watch;
  while (Field(Sim().Command("state"), "offline") != 1 && watch.Seconds() < 5) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(Field(Sim().Command("state"), "offline"), 1);
  // The terminal's unawaited reply is no answer to the next request.
  uint32_t type = 0;
  uint16_t status = kNotWritten;
  EXPECT_EQ(XQUIB_GetKEWType(h(), &type, &status), RC_OK);
  EXPECT_EQ(type, 0xC3u);
  EXPECT_EQ(Requests(), 2);
}

TEST_F(GraphicE2E, PasswordCheckPassesOnlyTheTerminalsPassword) {
  struct Case {
    std::string password;
    int16_t rc;
    uint16_t status;
  };
  const Case cases[] = {{"secret", RC_OK, 0},
                        {"secreT", RC_TERMINAL_ERROR, 5},
                        {"secret!", RC_TERMINAL_ERROR, 5},
                        {"", RC_TERMINAL_ERROR, 5},
                        {"secret", RC_OK, 0}};
  for (const Case &c : cases) {
    uint16_t status = kNotWritten;
    const Bytes bytes = FromText(c.password);
    EXPECT_EQ(XQUIB_CheckPassword(h(), bytes.data(), static_cast<uint16_t>(bytes.size()), &status),
              c.rc)
        << "'" << c.password << "'";
    EXPECT_EQ(status, c.status) << "'" << c.password << "'";
  }
  EXPECT_EQ(Field(Sim().Command("state"), "password_checks"), 5);

  // A password of 249 bytes or more needs the length field's high byte.
  const std::string long_password(250, 'p');
  Sim().Command("set password " + long_password);
  uint16_t status = kNotWritten;
  EXPECT_EQ(XQUIB_CheckPassword(h(), FromText(long_password).data(), 250, &status), RC_OK);
  EXPECT_EQ(status, 0);
}

struct Progress {
  std::vector<std::pair<uint32_t, uint32_t>> calls;
  static void Record(uint32_t done, uint32_t total, void *user) {
    static_cast<Progress *>(user)->calls.emplace_back(done, total);
  }
};
using Calls = std::vector<std::pair<uint32_t, uint32_t>>;

TEST_F(GraphicE2E, SizedReadsStopBeforeTheBlockThatDoesNotFit) {
  const Bytes one = Pattern(2500, 1);
  const Bytes two = Pattern(300, 2);
  WriteArea(1, 1, one);
  WriteArea(1, 2, two);
  Bytes both = one;
  both.insert(both.end(), two.begin(), two.end());

  struct Case {
    const char *name;
    uint32_t capacity;
    int16_t rc;
    Bytes expected;  // what lands in the buffer
    Calls calls;
  };
  using Read = std::function<int16_t(uint8_t *, uint32_t, int32_t *, uint16_t *, Progress *)>;
  const Read group1 = [&](uint8_t *d, uint32_t c, int32_t *t, uint16_t *s, Progress *p) {
    return XQUIB_Read1GEx(h(), 1, d, c, t, s, Progress::Record, p);
  };
  const Read all = [&](uint8_t *d, uint32_t c, int32_t *t, uint16_t *s, Progress *p) {
    return XQUIB_ReadAllEx(h(), d, c, t, s, Progress::Record, p);
  };
  const Read area240 = [&](uint8_t *d, uint32_t c, int32_t *t, uint16_t *s, Progress *p) {
    return XQUIB_ReadEx(h(), 240, d, c, t, s, Progress::Record, p);
  };
  const Bytes held240 = FromHex(Sim().Command("area 240"));
  const auto head = [](const Bytes &b, size_t n) { return Bytes(b.begin(), b.begin() + n); };
  const std::vector<std::pair<Case, Read>> cases = {
      {{"group cut in its second block", 2000, RC_BUFFER_TOO_SMALL, head(one, 1024), {{1024, 0}}},
       group1},
      {{"group one byte short", 2499, RC_BUFFER_TOO_SMALL, head(one, 2048), {{1024, 0}, {2048, 0}}},
       group1},
      {{"group that fits exactly", 2500, RC_OK, one, {{1024, 0}, {2048, 0}, {2500, 0}}}, group1},
      {{"all groups, the second does not fit",
        2600,
        RC_BUFFER_TOO_SMALL,
        one,
        {{1024, 0}, {2048, 0}, {2500, 0}}},
       all},
      {{"all groups that fit", 2800, RC_OK, both, {{1024, 0}, {2048, 0}, {2500, 0}, {2800, 0}}},
       all},
      {{"area whose first block does not fit", 100, RC_BUFFER_TOO_SMALL, {}, {}}, area240},
      {{"area that fits", 3000, RC_OK, held240, {{1024, 0}, {2048, 0}, {3000, 0}}}, area240},
  };
  for (const auto &[c, read] : cases) {
    Bytes buffer(4096, kFill);
    int32_t total = -7;
    uint16_t status = kNotWritten;
    Progress progress;
    EXPECT_EQ(read(buffer.data(), c.capacity, &total, &status, &progress), c.rc) << c.name;
    EXPECT_EQ(head(buffer, c.expected.size()), c.expected) << c.name;
    EXPECT_TRUE(std::all_of(buffer.begin() + static_cast<long>(c.expected.size()), buffer.end(),
                            [](uint8_t b) { return b == kFill; }))
        << c.name;
    EXPECT_EQ(total, c.rc == RC_OK ? static_cast<int32_t>(c.expected.size()) : -7) << c.name;
    EXPECT_EQ(progress.calls, c.calls) << c.name;
  }
}

TEST_F(GraphicE2E, WritesReportProgressAfterEachChunk) {
  const Bytes data = Pattern(2500, 4);
  Progress progress;
  uint16_t status = kNotWritten;
  EXPECT_EQ(XQUIB_WriteEx(h(), 4, 0, 2500, data.data(), &status, Progress::Record, &progress),
            RC_OK);
  EXPECT_EQ(progress.calls, (Calls{{1024, 2500}, {2048, 2500}, {2500, 2500}}));
  EXPECT_EQ(ReadArea(4), data);

  const Bytes os = Pattern(1024, 0xB8);
  Progress install;
  EXPECT_EQ(XQUIB_OSInstlEx(h(), 'b', 0x80, 1024, os.data(), &status, Progress::Record, &install),
            RC_OK);
  EXPECT_EQ(install.calls, (Calls{{1024, 1024}}));
  EXPECT_EQ(FromHex(Sim().Command("os b 0x80")), os);

  // No callback is as good as one.
  EXPECT_EQ(XQUIB_WriteEx(h(), 1, 3, 2500, data.data(), &status, nullptr, nullptr), RC_OK);
  EXPECT_EQ(ReadGroup(3), data);
}

// A terminal serves one block read at a time, so a second channel on the port asks single
// questions while the first reads; a second port has a terminal and a worker of its own.
TEST_F(GraphicE2E, ConcurrentChannelsKeepTheirRepliesApart) {
  const int16_t second = OpenGraphic();
  ASSERT_GE(second, 0);
  ASSERT_NE(second, h_);
  StartSim({"--family", "graphic", "--baud", "38400", "--type", "0x5A", "--password", "other"}, 1);
  const int16_t other_port = OpenGraphic(1);
  ASSERT_GE(other_port, 0);

  const Bytes here = Pattern(2100, 1);
  const Bytes there = Pattern(1500, 2);
  WriteArea(1, 1, here);
  uint16_t status = kNotWritten;
  ASSERT_EQ(XQUIB_Write(static_cast<uint16_t>(other_port), 1, 1, 1500, there.data(), &status),
            RC_OK);

  constexpr int kRounds = 4;
  using Failures = std::vector<std::string>;
  auto reader = [](uint16_t handle, const Bytes &expected, Failures *failures) {
    for (int round = 0; round < kRounds; ++round) {
      Bytes buffer(4096);
      int32_t total = 0;
      uint16_t status = kNotWritten;
      const int16_t rc = XQUIB_Read1G(handle, 1, buffer.data(), &total, &status);
      if (rc != RC_OK || total < 0 || Bytes(buffer.begin(), buffer.begin() + total) != expected) {
        failures->push_back("round " + std::to_string(round) + ": rc " + std::to_string(rc) +
                            ", total " + std::to_string(total));
      }
    }
  };
  auto asker = [](uint16_t handle, uint32_t type, const std::string &password, Failures *failures) {
    for (int round = 0; round < kRounds * 3; ++round) {
      uint32_t got = 0;
      uint16_t status = kNotWritten;
      int16_t rc = XQUIB_GetKEWType(handle, &got, &status);
      if (rc != RC_OK || got != type) {
        failures->push_back("type: rc " + std::to_string(rc) + ", " + std::to_string(got));
      }
      const Bytes bytes = FromText(password);
      rc = XQUIB_CheckPassword(handle, bytes.data(), static_cast<uint16_t>(bytes.size()), &status);
      if (rc != RC_OK) failures->push_back("password: rc " + std::to_string(rc));
    }
  };
  Failures reads_here, questions_here, reads_there;
  std::thread a(reader, h(), std::cref(here), &reads_here);
  std::thread b(asker, static_cast<uint16_t>(second), 0xC3, "secret", &questions_here);
  std::thread c(reader, static_cast<uint16_t>(other_port), std::cref(there), &reads_there);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(reads_here, Failures());
  EXPECT_EQ(questions_here, Failures());
  EXPECT_EQ(reads_there, Failures());
  // Three chunks written and three blocks a read here, with two questions a round; two chunks
  // and two blocks a read on the other port. Nothing was repeated.
  EXPECT_EQ(Requests(0), 3 + kRounds * 3 + kRounds * 3 * 2);
  EXPECT_EQ(Requests(1), 2 + kRounds * 2);
}

}  // namespace
}  // namespace quiblink::e2e
