// A channel keeps the family of the open function that opened it: the exports
// of the other family refuse it with -2 at once, before any frame is built,
// since its terminal could not understand theirs and would leave the call to
// wait out every attempt.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"
#include "support/library_fixture.h"

namespace {

using fake::Bytes;

constexpr uint16_t kStatusSentinel = 0xBEEF;
constexpr int32_t kValueSentinel = 0x5A5A5A5A;

// The caller's out-parameters: a refused call writes none of them.
struct Outs {
  uint16_t status = kStatusSentinel;
  int32_t total = kValueSentinel;
  int32_t v[3] = {kValueSentinel, kValueSentinel, kValueSentinel};
  uint32_t u[2] = {0x5A5A5A5Au, 0x5A5A5A5Au};
  uint16_t name_length = kStatusSentinel;
  uint8_t data[64] = {};
  bool operator==(const Outs &o) const {
    return status == o.status && total == o.total && v[0] == o.v[0] && v[1] == o.v[1] &&
           v[2] == o.v[2] && u[0] == o.u[0] && u[1] == o.u[1] && name_length == o.name_length &&
           std::equal(data, data + sizeof data, o.data);
  }
};

struct Call {
  const char *name;
  std::function<int16_t(uint16_t, Outs &)> run;
};

void Progress(uint32_t, uint32_t, void *user) {
  ++*static_cast<int *>(user);
}

int progress_calls = 0;

const uint8_t kBytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};

// Every export of the graphic family that takes a channel handle.
std::vector<Call> GraphicCalls() {
  return {
      {"XQUIB_ReadAll",
       [](uint16_t h, Outs &o) { return XQUIB_ReadAll(h, o.data, &o.total, &o.status); }},
      {"XQUIB_Read1G",
       [](uint16_t h, Outs &o) { return XQUIB_Read1G(h, 1, o.data, &o.total, &o.status); }},
      {"XQUIB_Read",
       [](uint16_t h, Outs &o) { return XQUIB_Read(h, 3, o.data, &o.total, &o.status); }},
      {"XQUIB_Write",
       [](uint16_t h, Outs &o) { return XQUIB_Write(h, 1, 1, 8, kBytes, &o.status); }},
      {"XQUIB_OSInstl",
       [](uint16_t h, Outs &o) { return XQUIB_OSInstl(h, 0x61, 0, 8, kBytes, &o.status); }},
      {"XQUIB_Start", [](uint16_t h, Outs &) { return XQUIB_Start(h); }},
      {"XQUIB_Offline", [](uint16_t h, Outs &o) { return XQUIB_Offline(h, &o.status); }},
      {"XQUIB_SWReset", [](uint16_t h, Outs &o) { return XQUIB_SWReset(h, &o.status); }},
      {"XQUIB_Reset", [](uint16_t h, Outs &o) { return XQUIB_Reset(h, &o.status); }},
      {"XQUIB_Break", [](uint16_t h, Outs &o) { return XQUIB_Break(h, &o.status); }},
      {"XQUIB_GetMemData",
       [](uint16_t h, Outs &o) {
         return XQUIB_GetMemData(h, &o.v[0], &o.v[1], &o.v[2], &o.status);
       }},
      {"XQUIB_GetOsInfo",
       [](uint16_t h, Outs &o) { return XQUIB_GetOsInfo(h, &o.u[0], &o.u[1], &o.status); }},
      {"XQUIB_GetProjInfo",
       [](uint16_t h, Outs &o) {
         return XQUIB_GetProjInfo(h, &o.u[0], &o.u[1], o.data, &o.name_length, &o.status);
       }},
      {"XQUIB_DelUserData", [](uint16_t h, Outs &o) { return XQUIB_DelUserData(h, &o.status); }},
      {"XQUIB_CheckPassword",
       [](uint16_t h, Outs &o) { return XQUIB_CheckPassword(h, kBytes, 4, &o.status); }},
      {"XQUIB_GetKEWType",
       [](uint16_t h, Outs &o) { return XQUIB_GetKEWType(h, &o.u[0], &o.status); }},
      {"XQUIB_BrateChange",
       [](uint16_t h, Outs &o) { return XQUIB_BrateChange(h, 0x81, &o.status); }},
      {"XQUIB_ReadAllEx",
       [](uint16_t h, Outs &o) {
         return XQUIB_ReadAllEx(h, o.data, sizeof o.data, &o.total, &o.status, Progress,
                                &progress_calls);
       }},
      {"XQUIB_Read1GEx",
       [](uint16_t h, Outs &o) {
         return XQUIB_Read1GEx(h, 1, o.data, sizeof o.data, &o.total, &o.status, Progress,
                               &progress_calls);
       }},
      {"XQUIB_ReadEx",
       [](uint16_t h, Outs &o) {
         return XQUIB_ReadEx(h, 3, o.data, sizeof o.data, &o.total, &o.status, Progress,
                             &progress_calls);
       }},
      {"XQUIB_WriteEx",
       [](uint16_t h, Outs &o) {
         return XQUIB_WriteEx(h, 1, 1, 8, kBytes, &o.status, Progress, &progress_calls);
       }},
      {"XQUIB_OSInstlEx",
       [](uint16_t h, Outs &o) {
         return XQUIB_OSInstlEx(h, 0x61, 0, 8, kBytes, &o.status, Progress, &progress_calls);
       }},
  };
}

// Every export of the classic family that takes a channel handle, at
// addresses every model carries.
std::vector<Call> ClassicCalls() {
  return {
      {"QUIB_Read", [](uint16_t h, Outs &o) { return QUIB_Read(h, 0, 0x10, o.data, 8); }},
      {"QUIB_Read at address 0", [](uint16_t h, Outs &o) { return QUIB_Read(h, 0, 0, o.data, 8); }},
      {"QUIB_Write", [](uint16_t h, Outs &) { return QUIB_Write(h, 0, 0x10, 8, kBytes); }},
      {"QUIB_Write at address 0",
       [](uint16_t h, Outs &) { return QUIB_Write(h, 0, 0, 8, kBytes); }},
  };
}

class Family : public LibraryTest {
 protected:
  void TearDown() override {
    for (uint16_t handle = 0; handle < 4; ++handle) QUIB_Close(handle);
    LibraryTest::TearDown();
  }

  // Runs each call on handle and expects -2, nothing on either port's line
  // and no out-parameter written.
  static void ExpectRefused(const std::vector<Call> &calls, int16_t handle, int port) {
    ASSERT_GE(handle, 0);
    fake::LineOfPort(port).OnFrame([](fake::Line &line, const Bytes &) { line.Send({0x15}); });
    for (const Call &call : calls) {
      SCOPED_TRACE(call.name);
      Outs outs;
      progress_calls = 0;
      EXPECT_EQ(call.run(static_cast<uint16_t>(handle), outs), RC_BAD_ARGUMENT);
      EXPECT_TRUE(outs == Outs()) << "an out-parameter was written";
      EXPECT_EQ(progress_calls, 0);
    }
    EXPECT_TRUE(fake::LineOfPort(port).Frames().empty()) << "a refused call sent a frame";
  }
};

// The rows' arguments are sound: on a channel of their own family each call
// goes to the line (and ends with the terminal's refusal, not with -2).
TEST_F(Family, EveryCallOfTheTablesGoesToTheLineOnItsOwnFamily) {
  const struct {
    std::vector<Call> calls;
    int16_t handle;
  } tables[] = {{GraphicCalls(), XQUIB_Open(0, 38400, 0)}, {ClassicCalls(), QUIB_Open(1, 0)}};
  for (const auto &table : tables) {
    ASSERT_GE(table.handle, 0);
    const int port = table.handle == 0 ? 0 : 1;
    fake::Line &line = fake::LineOfPort(port);
    line.OnFrame([](fake::Line &l, const Bytes &) { l.Send({0x15}); });
    for (const Call &call : table.calls) {
      SCOPED_TRACE(call.name);
      const size_t before = line.Frames().size();
      Outs outs;
      EXPECT_NE(call.run(static_cast<uint16_t>(table.handle), outs), RC_BAD_ARGUMENT);
      EXPECT_GT(line.Frames().size(), before);
    }
  }
}

TEST_F(Family, GraphicExportsRefuseAClassicChannelOfEveryModel) {
  for (uint16_t model : {0, 1, 2, 3}) {
    SCOPED_TRACE("model " + std::to_string(model));
    const int16_t handle = QUIB_Open(model, model);
    ExpectRefused(GraphicCalls(), handle, model);
  }
}

TEST_F(Family, ClassicExportsRefuseAGraphicChannelOfEveryModel) {
  for (uint16_t model : {0, 1, 2, 3}) {
    SCOPED_TRACE("model " + std::to_string(model));
    const int16_t handle = XQUIB_Open(model, 38400, model);
    ExpectRefused(ClassicCalls(), handle, model);
  }
}

// The family is the channel's, not the port's: a graphic channel added to a
// port that a classic open opened is still refused by the classic exports and
// served by the graphic ones, and the classic channel beside it the reverse.
TEST_F(Family, AChannelKeepsItsOwnFamilyOnAPortItSharesWithTheOther) {
  const int16_t classic = QUIB_Open(0, 0);
  const int16_t graphic = XQUIB_Open(0, 38400, 0);
  ASSERT_GE(classic, 0);
  ASSERT_GE(graphic, 0);
  ExpectRefused(ClassicCalls(), graphic, 0);
  ExpectRefused(GraphicCalls(), classic, 0);

  // The graphic channel's own call goes to the line (the classic panel's
  // refusal ends it with its status, which is not the family's -2).
  Outs outs;
  EXPECT_NE(XQUIB_GetKEWType(static_cast<uint16_t>(graphic), &outs.u[0], &outs.status),
            RC_BAD_ARGUMENT);
  EXPECT_FALSE(fake::LineOfPort(0).Frames().empty());
}

// A closed slot that a channel of the other family takes again: the check
// follows the slot's new owner.
TEST_F(Family, AReusedSlotTakesTheFamilyOfItsNewOpen) {
  const int16_t first = QUIB_Open(0, 0);
  ASSERT_EQ(QUIB_Close(static_cast<uint16_t>(first)), RC_OK);
  const int16_t second = XQUIB_Open(1, 38400, 0);
  ASSERT_EQ(second, first);
  ExpectRefused(ClassicCalls(), second, 1);
  ASSERT_EQ(QUIB_Close(static_cast<uint16_t>(second)), RC_OK);
  const int16_t third = QUIB_Open(2, 0);
  ASSERT_EQ(third, first);
  ExpectRefused(GraphicCalls(), third, 2);
}

// The handle checks keep their codes ahead of the family's.
TEST_F(Family, HandleChecksComeFirst) {
  Outs outs;
  EXPECT_EQ(XQUIB_GetKEWType(5, &outs.u[0], &outs.status), RC_NOT_OPEN);
  EXPECT_EQ(QUIB_Read(5, 0, 0, outs.data, 4), RC_NOT_OPEN);
  EXPECT_EQ(XQUIB_GetKEWType(32, &outs.u[0], &outs.status), RC_BAD_ARGUMENT);
  EXPECT_EQ(QUIB_Write(32, 0, 0, 4, kBytes), RC_BAD_ARGUMENT);
}

}  // namespace
