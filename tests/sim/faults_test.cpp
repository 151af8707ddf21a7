#include "sim/faults.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "test_frames.h"

namespace quiblink::sim {
namespace {

using namespace wire::test;  // the frames a PC program sends

using std::chrono::milliseconds;

TEST(FaultGrammar, ParsesKindsArgumentsAndTriggers) {
  struct Case {
    const char *text;
    Family family;
    FaultKind kind;
    long long value;
    long long gap_ms;
    int command;
    int every;
    int times;
  };
  const Case cases[] = {
      {"nak", Family::kClassic, FaultKind::kNak, 0, 0, -1, 0, 1},
      {"nak:next", Family::kClassic, FaultKind::kNak, 0, 0, -1, 0, 1},
      {"bad-checksum:every=3", Family::kGraphic, FaultKind::kBadChecksum, 0, 0, -1, 3, -1},
      {"silence:cmd=0x52", Family::kGraphic, FaultKind::kSilence, 0, 0, 0x52, 0, -1},
      {"silence:cmd=0x52,next=2", Family::kGraphic, FaultKind::kSilence, 0, 0, 0x52, 0, 2},
      {"status=7:always", Family::kGraphic, FaultKind::kStatus, 7, 0, -1, 1, -1},
      {"status", Family::kGraphic, FaultKind::kStatus, 5, 0, -1, 0, 1},
      {"pieces=4/50:next=3", Family::kGraphic, FaultKind::kPieces, 4, 50, -1, 0, 3},
      {"pieces", Family::kClassic, FaultKind::kPieces, 3, 200, -1, 0, 1},
      {"drip=500", Family::kClassic, FaultKind::kDrip, 0, 500, -1, 0, 1},
      {"partial=3", Family::kClassic, FaultKind::kPartial, 3, 0, -1, 0, 1},
      {"bad-length=-2", Family::kGraphic, FaultKind::kBadLength, -2, 0, -1, 0, 1},
      {"oversized", Family::kGraphic, FaultKind::kOversized, 2048, 0, -1, 0, 1},
      {"missing-etx:cmd=E", Family::kClassic, FaultKind::kMissingEtx, 0, 0, 'E', 0, -1},
      {"nak:cmd=0", Family::kClassic, FaultKind::kNak, 0, 0, '0', 0, -1},
      {"nak:cmd=write,every=2", Family::kClassic, FaultKind::kNak, 0, 0, kAnyClassicWrite, 2, -1},
      {"refuse-password", Family::kGraphic, FaultKind::kRefusePassword, 0, 0, -1, 0, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    auto fault = ParseFault(c.text, c.family, &error);
    ASSERT_TRUE(fault) << error;
    EXPECT_EQ(fault->kind, c.kind);
    EXPECT_EQ(fault->value, c.value);
    EXPECT_EQ(fault->gap_ms, c.gap_ms);
    EXPECT_EQ(fault->command, c.command);
    EXPECT_EQ(fault->every, c.every);
    EXPECT_EQ(fault->times, c.times);
  }
  std::string error;
  EXPECT_EQ(ParseFault("stray=0102", Family::kClassic, &error)->bytes, Hex("01 02"));
}

TEST(FaultGrammar, RefusesWhatItCannotDo) {
  struct Case {
    const char *text;
    Family family;
  };
  const Case cases[] = {
      {"explode", Family::kClassic},           {"wrong-seq", Family::kClassic},
      {"missing-etx", Family::kGraphic},       {"nak=3", Family::kClassic},
      {"nak:sometimes", Family::kClassic},     {"nak:every=0", Family::kClassic},
      {"nak:next=x", Family::kClassic},        {"status=x", Family::kGraphic},
      {"pieces=0", Family::kGraphic},          {"stray=XYZ", Family::kGraphic},
      {"silence:cmd=0x100", Family::kGraphic}, {"refuse-password", Family::kClassic},
  };
  for (const Case &c : cases) {
    std::string error;
    EXPECT_FALSE(ParseFault(c.text, c.family, &error)) << c.text;
    EXPECT_FALSE(error.empty()) << c.text;
  }
}

// The help is made from the kinds' table: each line names a kind and the families that take it,
// and the bare kind (its preset argument included) parses for exactly those.
TEST(FaultGrammar, HelpListsEveryKindWithTheFamiliesThatTakeIt) {
  std::istringstream help(FaultKindsHelp());
  std::set<std::string> names;
  for (std::string line; std::getline(help, line);) {
    if (line.compare(0, 28, std::string(28, ' ')) == 0) continue;  // a continued text
    ASSERT_GT(line.size(), 28u) << line;
    std::string name = line.substr(4, line.find_first_of(" [", 4) - 4);
    std::string families = line.substr(24, 4);
    names.insert(name);
    std::string error;
    EXPECT_EQ(ParseFault(name, Family::kClassic, &error).has_value(),
              families.find('c') != std::string::npos)
        << line << ": " << error;
    EXPECT_EQ(ParseFault(name, Family::kGraphic, &error).has_value(),
              families.find('g') != std::string::npos)
        << line << ": " << error;
  }
  EXPECT_EQ(names.size(), static_cast<size_t>(FaultKind::kRefusePassword) + 1);
}

Fault MakeFault(const char *text, Family family) {
  std::string error;
  auto fault = ParseFault(text, family, &error);
  EXPECT_TRUE(fault) << error;
  return fault.value_or(Fault{});
}

// Which of a run of requests a plan answers with a fault: one character per request.
std::string Firings(FaultPlan &plan, const std::vector<RequestKey> &requests) {
  std::string out;
  for (const RequestKey &key : requests) {
    auto picked = plan.Pick(key);
    out += picked ? picked->text.substr(0, 1) : ".";
  }
  return out;
}

TEST(FaultPlan, TriggersFireOnTheirRequests) {
  const RequestKey offline{0x01, false};
  const RequestKey type{0x52, false};
  struct Case {
    std::vector<const char *> armed;
    std::vector<RequestKey> requests;
    const char *firings;
  };
  const Case cases[] = {
      {{"nak"}, {offline, offline}, "n."},
      {{"nak:next=2"}, {offline, offline, offline}, "nn."},
      {{"nak:every=3"}, {offline, offline, offline, offline, offline, offline}, "..n..n"},
      {{"silence:cmd=0x52"}, {offline, type, offline, type}, ".s.s"},
      {{"silence:cmd=0x52,next=1"}, {type, type}, "s."},
      {{"silence:cmd=0x52,every=2"}, {type, offline, type, type, type}, "..s.s"},
      {{"refuse-password"}, {offline, RequestKey{0x51, true}, RequestKey{0x51, true}}, ".r."},
      // One fault per request: the second waits for its turn.
      {{"nak", "garbage"}, {offline, offline, offline}, "ng."},
      {{"nak:always", "garbage"}, {offline, offline}, "nn"},
  };
  for (const Case &c : cases) {
    FaultPlan plan(Family::kGraphic);
    for (const char *text : c.armed) plan.Arm(MakeFault(text, Family::kGraphic));
    EXPECT_EQ(Firings(plan, c.requests), c.firings) << c.armed[0];
  }
}

TEST(FaultPlan, ClassicReplyFaultsWaitForARead) {
  const RequestKey read{'E', true};
  const RequestKey write{'F', false};
  FaultPlan plan(Family::kClassic);
  plan.Arm(MakeFault("missing-etx", Family::kClassic));
  plan.Arm(MakeFault("nak:cmd=write", Family::kClassic));
  EXPECT_EQ(Firings(plan, {write, write, read, read}), "nnm.");
  plan.Clear();
  EXPECT_EQ(Firings(plan, {write}), ".");
}

std::vector<size_t> SegmentSizes(const Emission &e) {
  std::vector<size_t> sizes;
  for (const Segment &s : e.segments) sizes.push_back(s.bytes.size());
  return sizes;
}

Bytes Sent(const Emission &e) {
  Bytes all;
  for (const Segment &s : e.segments) all.insert(all.end(), s.bytes.begin(), s.bytes.end());
  return all;
}

// The frame with one byte set, and the checksum made to fit again when reseal is set.
Bytes Patched(Bytes frame, size_t at, unsigned value, bool reseal) {
  frame.at(at) = static_cast<uint8_t>(value);
  if (reseal) {
    unsigned sum = 0;
    for (size_t i = 1; i + 1 < frame.size(); ++i) sum += frame[i];
    frame.back() = static_cast<uint8_t>(sum);
  }
  return frame;
}

TEST(ApplyFault, ChangesAGraphicReplyAsNamed) {
  // A terminal-type reply: cmd 0x52, sub 1, data C3.
  const Bytes frame = GraphicFrame(0xFF, 0x52, 1, 0, 0, 0, {0xC3});
  const Reply reply{frame, ReplyShape::kGraphic, "", 0};
  struct Case {
    const char *fault;
    Bytes expected;
  };
  const Case cases[] = {
      {"nak", {0x15}},
      {"bad-checksum", Patched(frame, frame.size() - 1, frame.back() + 1, false)},
      {"wrong-start", Patched(frame, 0, 0xFE, false)},
      {"wrong-echo", Patched(frame, 3, 0x53, true)},
      {"wrong-flag", Patched(frame, 5, 1, true)},
      {"wrong-seq", Patched(frame, 6, 1, true)},
      {"status=9", Patched(frame, 7, 9, true)},
      {"refuse-password", Patched(frame, 7, 5, true)},
      {"bad-length", Patched(frame, 1, 8, true)},
      {"oversized=0x0500", Patched(Patched(frame, 1, 0x00, false), 2, 0x05, true)},
      {"partial", Bytes(frame.begin(), frame.begin() + 5)},
      {"partial=2", Bytes(frame.begin(), frame.begin() + 2)},
      {"silence", {}},
      {"stray=AB", wire::test::Cat({frame, {0xAB}})},
      {"garbage=3", {0xA5, 0x9E, 0xD3}},
  };
  for (const Case &c : cases) {
    Fault fault = MakeFault(c.fault, Family::kGraphic);
    EXPECT_EQ(Sent(ApplyFault(&fault, reply, Family::kGraphic)), c.expected) << c.fault;
  }
  EXPECT_EQ(Sent(ApplyFault(nullptr, reply, Family::kGraphic)), frame);
}

TEST(ApplyFault, ChangesAClassicReplyAsNamed) {
  const Bytes data_reply = ClassicRequest("12345678");  // STX digits ETX "A7"
  const Reply read{data_reply, ReplyShape::kClassicData, "", 0};
  const Reply ack{{0x06}, ReplyShape::kAck, "", 0};
  struct Case {
    const char *fault;
    const Reply &reply;
    Bytes expected;
  };
  const Case cases[] = {
      {"nak", read, {0x15}},
      {"nak", ack, {0x15}},
      {"bad-checksum", read, Hex("02 31 32 33 34 35 36 37 38 03 41 38")},
      {"missing-etx", read, Hex("02 31 32 33 34 35 36 37 38 04 41 37")},
      {"wrong-start", read, Hex("07 31 32 33 34 35 36 37 38 03 41 37")},
      {"wrong-start", ack, {0x07}},
      {"missing-etx", ack, {0x06}},
      {"partial", ack, {}},
      {"garbage", ack, {0xA5}},
  };
  for (const Case &c : cases) {
    Fault fault = MakeFault(c.fault, Family::kClassic);
    EXPECT_EQ(Sent(ApplyFault(&fault, c.reply, Family::kClassic)), c.expected) << c.fault;
  }
}

TEST(ApplyFault, SplitsTheReplyInTime) {
  const Bytes frame = GraphicFrame(0xFF, 0x31, 'A', 0, 0, 0, Hex("01 00 02 00 03 00"));
  const Reply reply{frame, ReplyShape::kGraphic, "", 0};
  Fault pieces = MakeFault("pieces=4/30", Family::kGraphic);
  Emission e = ApplyFault(&pieces, reply, Family::kGraphic);
  EXPECT_EQ(SegmentSizes(e), (std::vector<size_t>{3, 4, 4, 4}));
  EXPECT_EQ(Sent(e), frame);
  EXPECT_EQ(e.segments[0].gap, Nanos(0));
  EXPECT_EQ(e.segments[3].gap, milliseconds(30));

  Fault drip = MakeFault("drip=2500", Family::kGraphic);
  e = ApplyFault(&drip, reply, Family::kGraphic);
  EXPECT_EQ(e.segments.size(), frame.size());
  EXPECT_EQ(Sent(e), frame);
  EXPECT_EQ(e.segments[1].gap, milliseconds(2500));
}

TEST(FaultSpoils, OnlyFaultsThatDeliverTheWholeReplyLeaveTheTransferAlone) {
  EXPECT_FALSE(FaultSpoils(FaultKind::kPieces));
  EXPECT_FALSE(FaultSpoils(FaultKind::kDrip));
  EXPECT_FALSE(FaultSpoils(FaultKind::kStray));
  EXPECT_TRUE(FaultSpoils(FaultKind::kSilence));
  EXPECT_TRUE(FaultSpoils(FaultKind::kBadChecksum));
  EXPECT_TRUE(FaultSpoils(FaultKind::kPartial));
}

}  // namespace
}  // namespace quiblink::sim
