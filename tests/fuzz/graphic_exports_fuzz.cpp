// Every XQUIB_ export over the fake line against a graphic terminal whose
// replies, pieces and timing the fuzz input decides: a healthy terminal that
// the input may make refuse, mis-echo, skip a sequence number, lie about a
// length, or whose bytes it may spoil, cut or replace.
//
// For each call the harness walks the frames the library wrote, predicts the
// outcome of every attempt from the bytes that reached the line, and runs the
// operation's reply checks itself, in their order. When every attempt met a
// quiet line the prediction is exact: result code, terminal status, every
// value handed back and every data byte. Otherwise the frames must still
// come in order, the code must be one the call may return and out-parameters
// may change only as that code allows. A healthy exchange ends every input.
#include <stdlib.h>
#include <string.h>

#include <optional>
#include <string>

#include "core/state.h"
#include "core/trace_handler.h"
#include "fuzz_input.h"
#include "fuzz_terminal.h"
#include "harness.h"
#include "support/fake/fake_line.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"
#include "support/wire/graphic.h"

namespace {

using fuzz::Exchange;
using fuzz::Input;
using wire::Attempt;
using wire::Bytes;
namespace gw = wire::graphic;

constexpr int kPort = 5;
// Replies a terminal sends in one call before it only ends transfers: keeps
// every execution short and bounds what an unsized read can receive.
constexpr int kRepliesPerCall = 16;
constexpr size_t kUnsizedRoom = kRepliesPerCall * wire::kRxBufferSize;

constexpr uint16_t kStatusUnset = 0xBEEF;
constexpr int32_t kValueUnset = 0x7E7E7E7E;
constexpr uint8_t kUnwritten = 0xEE;
constexpr size_t kNameRoom = 240;

uint8_t Pattern(size_t k, uint8_t seed) {
  return static_cast<uint8_t>(seed + k * 7 + (k >> 8));
}

// ---- the terminal ----------------------------------------------------------

class GraphicTerminal {
 public:
  Bytes Answer(const Bytes &frame, Input &in) {
    CheckRequest(frame);
    const uint8_t command = frame[3], subcommand = frame[4], continuation = frame[5];
    Reply r{command, subcommand, 0, 0, 0, {}, -1};
    switch (command) {
      case 33:
        Block(frame, continuation, in, r);
        break;
      case 49:
        Query(subcommand, in, r);
        break;
      case 82:
        r.data = {in.Empty() ? uint8_t(0xC3) : in.Byte()};
        break;
      default:  // control commands, password, block writes: a status only
        break;
    }
    if (!in.Empty()) r.status = in.Byte() < 220 ? 0 : in.Byte();
    Spoil(in, r);
    const uint32_t field =
        r.length_field >= 0 ? uint32_t(r.length_field) : uint32_t(r.data.size() + 6);
    return gw::Frame(0xFF, field, r.command, r.subcommand, r.continuation, r.sequence, r.status,
                     r.data);
  }

 private:
  struct Reply {
    uint8_t command, subcommand, continuation, sequence, status;
    Bytes data;
    int length_field;  // -1: the true one
  };

  // The library must never put a malformed frame on the line.
  static void CheckRequest(const Bytes &f) {
    FUZZ_CHECK(f.size() >= 9 && f[0] == 0xFE, "not a graphic request: " + wire::Dump(f));
    FUZZ_CHECK(size_t(wire::ReadLe16(&f[1]) & 0xFFFF) + 3 == f.size(), "request length field");
    unsigned sum = 0;
    for (size_t i = 1; i + 1 < f.size(); ++i) sum += f[i];
    FUZZ_CHECK(uint8_t(sum) == f.back(), "request checksum");
  }

  void Block(const Bytes &frame, uint8_t continuation, Input &in, Reply &r) {
    if (continuation == 0) {
      sequence_ = 0;
      group_ = 3;
    }
    const bool grouped = frame[4] == 1;
    const uint16_t asked = grouped ? static_cast<uint16_t>(wire::ReadLe16(&frame[8])) : 0;
    const bool all_groups = grouped && asked == 0;
    const bool end = in.Empty() || in.Byte() % 4 == 0;
    size_t count = end ? 0 : in.Range(0, 1024);
    const uint8_t seed = in.Byte();
    Bytes data;
    if (in.Bool()) data = in.Bytes(count);
    while (data.size() < count) data.push_back(Pattern(data.size(), seed));
    uint16_t group = asked;
    if (all_groups) {
      if (!end && in.Byte() % 3 == 0) {
        group_ = static_cast<uint16_t>(group_ + 1 + in.Range(0, 3));
        sequence_ = 0;
      }
      group = end ? 0 : group_;
    }
    r.sequence = sequence_++;
    r.continuation = end ? 2 : 1;
    if (grouped) wire::PutLe16(r.data, group);
    wire::PutLe16(r.data, static_cast<uint32_t>(data.size()));
    r.data.insert(r.data.end(), data.begin(), data.end());
  }

  static void Query(uint8_t subcommand, Input &in, Reply &r) {
    if (subcommand == 0x41) {
      r.data = in.Bytes(6);
      r.data.resize(6, 0x80);
    } else if (subcommand == 0x42) {
      const bool swapped = in.Bool();
      Bytes a = in.Bytes(4), b = in.Bytes(4);
      a.resize(4, 0x11);
      b.resize(4, 0x22);
      r.data = {2, 0x61, uint8_t(swapped ? 0x80 : 0x00)};
      r.data.insert(r.data.end(), a.begin(), a.end());
      r.data.insert(r.data.end(), {0x61, uint8_t(swapped ? 0x00 : 0x80)});
      r.data.insert(r.data.end(), b.begin(), b.end());
    } else {
      r.data = in.Bytes(8);
      r.data.resize(8, 0x33);
      const uint8_t n = static_cast<uint8_t>(in.Range(0, 64));
      Bytes name = in.Bytes(n);
      name.resize(n, 'p');
      r.data.push_back(n);
      r.data.insert(r.data.end(), name.begin(), name.end());
    }
  }

  void Spoil(Input &in, Reply &r) {
    if (in.Empty()) return;
    const uint8_t pick = in.Byte();
    if (pick < 208) return;
    switch (pick % 8) {
      case 0:
        r.command = static_cast<uint8_t>(r.command ^ in.Range(1, 255));
        break;
      case 1:
        r.subcommand = static_cast<uint8_t>(r.subcommand ^ in.Range(1, 255));
        break;
      case 2:
        r.continuation = in.Byte();
        break;
      case 3:
        r.sequence = in.Byte();
        break;
      case 4:
        if (!r.data.empty()) r.data[in.Range(0, uint32_t(r.data.size() - 1))] = in.Byte();
        break;
      case 5:
        r.length_field = static_cast<int>(r.data.size() + 6) + static_cast<int8_t>(in.Byte());
        break;
      case 6:
        r.data.resize(in.Range(0, uint32_t(r.data.size())));
        break;
      default: {
        const Bytes more = in.Bytes(in.Range(1, 8));
        r.data.insert(r.data.end(), more.begin(), more.end());
        break;
      }
    }
  }

  uint8_t sequence_ = 0;
  uint16_t group_ = 3;
};

GraphicTerminal g_terminal;
fuzz::Terminal g_line;
int16_t g_handles[2];
int g_inputs = 0;
const uint16_t kBauds[] = {38400, 9600, 19200, 57600};

void StartCycle() {
  const int cycle = g_inputs / fuzz::kInputsPerCycle;
  if (!fuzz::StartInput(&g_inputs, {g_handles[0], g_handles[1]})) return;
  const uint16_t baud = kBauds[cycle % 4];
  for (int16_t &h : g_handles) {
    h = XQUIB_Open(kPort, baud, 0);
    FUZZ_CHECK(h >= 0, "open failed: " + std::to_string(h));
  }
  g_line.Attach(fake::LineOfPort(kPort),
                [](const Bytes &frame, Input &in) { return g_terminal.Answer(frame, in); });
  g_line.Limit(kRepliesPerCall);
}

// ---- the library's side, as the harness expects it ------------------------

uint16_t PickHandle(Input &in) {
  const uint8_t pick = in.Byte() % 16;
  if (pick < 12) return static_cast<uint16_t>(g_handles[0]);
  if (pick < 14) return static_cast<uint16_t>(g_handles[1]);
  if (pick < 15) return 31;
  return static_cast<uint16_t>(32 + in.Byte());
}

int16_t ChannelRefusal(uint16_t handle) {
  if (handle >= 32) return wire::kBadArgument;
  if (handle != g_handles[0] && handle != g_handles[1]) return wire::kNotOpen;
  return wire::kOk;
}

// Walks the frames of one call, request by request.
class Walk {
 public:
  explicit Walk(const std::vector<Exchange> &log) : log_(log), predictable_(!g_line.IsTroubled()) {}

  // One request; false once the outcome can no longer be told.
  bool Request(const Bytes &frame, gw::ProbeKind probe, size_t announced, int16_t *status,
               Bytes *payload) {
    if (!predictable_) return false;
    const fuzz::RequestOutcome o = fuzz::WalkRequest(log_, &next_, frame, [&](const Bytes &got) {
      return gw::ReplyAttempt(probe, announced, got);
    });
    predictable_ = o.predictable;
    *status = o.status;
    *payload = o.payload;
    return predictable_;
  }
  bool Predictable() const { return predictable_; }
  void CheckAllUsed() const { FUZZ_CHECK(next_ == log_.size(), "requests after the call ended"); }

 private:
  const std::vector<Exchange> &log_;
  size_t next_ = 0;
  bool predictable_;
};

void CheckIdle() {
  fuzz::CheckIdle(kPort, g_handles, 2);
}

std::vector<Exchange> Call(const std::function<int16_t()> &call, int16_t *rc) {
  g_line.TakeLog();
  *rc = call();
  CheckIdle();
  return g_line.TakeLog();
}

std::string Codes(int16_t got, int16_t want) {
  return std::to_string(got) + " wanted " + std::to_string(want);
}

// Codes that every exchange-level failure and argument check may produce;
// out-parameters stay untouched with them.
bool BeforeStatus(int16_t rc) {
  return rc == wire::kBadEcho || fuzz::ExchangeFailure(rc);
}

// A terminal status is a byte; anything else was never written.
void CheckStatusShape(uint16_t status) {
  FUZZ_CHECK(status == kStatusUnset || status <= 0xFF, "terminal status out of range");
}

// ---- control and query commands -------------------------------------------

enum Query { kControl, kMemData, kOsInfo, kProjInfo, kType, kPassword };

struct Outs {
  uint16_t status = kStatusUnset;
  int32_t v[3] = {kValueUnset, kValueUnset, kValueUnset};
  uint16_t name_length = kStatusUnset;
  std::vector<uint8_t> name = std::vector<uint8_t>(kNameRoom, kUnwritten);
  bool operator==(const Outs &o) const {
    return status == o.status && v[0] == o.v[0] && v[1] == o.v[1] && v[2] == o.v[2] &&
           name_length == o.name_length && name == o.name;
  }
};

// The reply checks of one single-frame command, as the operation makes them.
int16_t ExpectCommand(Query kind, uint8_t command, uint8_t subcommand, const Bytes &p, Outs &o) {
  if (p[gw::kCommand] != command || p[gw::kSubcommand] != subcommand) return wire::kBadEcho;
  if (p[gw::kContinuation] != 0 || p[gw::kSequence] != 0) return wire::kSequence;
  o.status = p[gw::kStatus];
  if (o.status != 0) return wire::kTerminalError;
  const uint8_t *d = p.data() + gw::kData;
  const size_t n = p.size() - gw::kData;
  switch (kind) {
    case kMemData:
      for (int i = 0; i < 3; ++i) o.v[i] = wire::ReadLe16(d + 2 * i);
      return wire::kOk;
    case kOsInfo:
      if (d[0] != 2 || d[1] != 0x61 || d[7] != 0x61) return wire::kBadPort;
      if (d[2] == 0x00 && d[8] == 0x80) {
        o.v[0] = static_cast<int32_t>(wire::ReadLe32(d + 3));
        o.v[1] = static_cast<int32_t>(wire::ReadLe32(d + 9));
      } else if (d[2] == 0x80 && d[8] == 0x00) {
        o.v[0] = static_cast<int32_t>(wire::ReadLe32(d + 9));
        o.v[1] = static_cast<int32_t>(wire::ReadLe32(d + 3));
      } else {
        return wire::kBadPort;
      }
      return wire::kOk;
    case kProjInfo: {
      // A reply too short for its fields is a length fault.
      if (n < 9) return wire::kBadLength;
      const uint8_t name = d[8];
      if ((wire::ReadLe16(p.data()) & 0xFF) != name + 15) return wire::kBadProjectInfo;
      if (n < 9u + name) return wire::kBadLength;
      o.v[0] = static_cast<int32_t>(wire::ReadLe32(d));
      o.v[1] = static_cast<int32_t>(wire::ReadLe32(d + 4));
      o.name_length = name;
      if (name == 0) o.name[0] = 0;
      memcpy(o.name.data(), d + 9, name);
      return wire::kOk;
    }
    case kType:
      o.v[0] = d[0];
      return wire::kOk;
    default:
      return wire::kOk;
  }
}

void Command(Input &in) {
  struct Row {
    Query kind;
    uint8_t command, subcommand;
    size_t announced;
  };
  static const Row kRows[] = {
      {kControl, 1, 1, 9},      {kControl, 2, 1, 9},     {kControl, 3, 1, 9},
      {kControl, 4, 0, 9},      {kControl, 50, 0x21, 9}, {kControl, 113, 0x81, 9},
      {kMemData, 49, 0x41, 15}, {kOsInfo, 49, 0x42, 22}, {kProjInfo, 49, 0x43, 1037},
      {kType, 82, 1, 10},       {kPassword, 81, 0, 9},
  };
  Row row = kRows[in.Byte() % (sizeof kRows / sizeof kRows[0])];
  const uint16_t handle = PickHandle(in);
  const bool outputs = in.Byte() != 0xFF;
  uint16_t code = 0;
  if (row.command == 113) {
    if (in.Byte() < 230) {
      const uint32_t rate = 0x81 + in.Range(0, 2);
      code = static_cast<uint16_t>(in.Bool() ? rate + 0x100 : rate);
    } else {
      code = in.U16();
    }
    row.subcommand = static_cast<uint8_t>(code);
  }
  const uint16_t pw_length = static_cast<uint16_t>(in.Byte() < 240 ? in.Range(0, 40) : in.U16());
  Bytes password = in.Bytes(pw_length & 0xFF);
  password.resize(pw_length & 0xFF, 'k');
  const bool pw_pointer = in.Byte() != 0xFF;

  Outs got;
  int16_t rc = 0;
  const std::vector<Exchange> log = Call(
      [&] {
        uint16_t *st = outputs ? &got.status : nullptr;
        int32_t *v0 = outputs ? &got.v[0] : nullptr;
        uint32_t *u0 = reinterpret_cast<uint32_t *>(v0);
        uint32_t *u1 = outputs ? reinterpret_cast<uint32_t *>(&got.v[1]) : nullptr;
        switch (row.command) {
          case 1:
            return XQUIB_Offline(handle, st);
          case 2:
            return XQUIB_SWReset(handle, st);
          case 3:
            return XQUIB_Reset(handle, st);
          case 4:
            return XQUIB_Break(handle, st);
          case 50:
            return XQUIB_DelUserData(handle, st);
          case 113:
            return XQUIB_BrateChange(handle, code, st);
          case 82:
            return XQUIB_GetKEWType(handle, u0, st);
          case 81:
            return XQUIB_CheckPassword(handle, pw_pointer ? password.data() : nullptr, pw_length,
                                       st);
          default:
            break;
        }
        if (row.subcommand == 0x41) return XQUIB_GetMemData(handle, v0, &got.v[1], &got.v[2], st);
        if (row.subcommand == 0x42) return XQUIB_GetOsInfo(handle, u0, u1, st);
        return XQUIB_GetProjInfo(handle, u0, u1, got.name.data(),
                                 outputs ? &got.name_length : nullptr, st);
      },
      &rc);

  // Refusals before any exchange.
  int16_t refusal = wire::kOk;
  if (row.command == 113 && ((code & 0xFF) < 0x81 || (code & 0xFF) > 0x83)) {
    refusal = wire::kBadArgument;
  } else if (ChannelRefusal(handle) != 0) {
    refusal = ChannelRefusal(handle);
  } else if (row.kind == kPassword && pw_length > 255) {
    refusal = wire::kBadArgument;  // a length byte cannot carry it
  } else if (!outputs || (row.kind == kPassword && pw_length > 0 && !pw_pointer)) {
    refusal = wire::kBadArgument;
  }
  const std::string name = "command " + std::to_string(row.command);
  if (refusal != 0) {
    fuzz::Stats::Note(name.c_str(), true, rc);
    FUZZ_CHECK(rc == refusal, "refusal " + Codes(rc, refusal));
    FUZZ_CHECK(log.empty() && got == Outs(), "a refused command did something");
    return;
  }

  Bytes frame_data;
  if (row.kind == kPassword) {
    frame_data.push_back(static_cast<uint8_t>(pw_length));
    frame_data.insert(frame_data.end(), password.begin(), password.end());
  }
  const Bytes frame = gw::Request(row.command, row.subcommand, 0, 0, frame_data);
  const gw::ProbeKind probe = row.kind == kProjInfo ? gw::kVariable : gw::kFixed;
  Walk walk(log);
  int16_t status = 0;
  Bytes payload;
  const bool predicted = walk.Request(frame, probe, row.announced, &status, &payload);
  fuzz::Stats::Note(name.c_str(), predicted, rc);
  if (predicted) {
    walk.CheckAllUsed();
    Outs want;
    const int16_t want_rc =
        status != 0 ? status : ExpectCommand(row.kind, row.command, row.subcommand, payload, want);
    FUZZ_CHECK(rc == want_rc, "command " + std::to_string(row.command) + ": " + Codes(rc, want_rc));
    FUZZ_CHECK(got == want, "command " + std::to_string(row.command) + " handed back other values");
    return;
  }
  fuzz::WalkInOrder(log, 1, [&](size_t) { return frame; });
  switch (rc) {
    case wire::kOk:
    case wire::kTerminalError:
      FUZZ_CHECK(got.status <= 0xFF, "status not written");
      break;
    case wire::kSequence:
    case wire::kBadLength:
    case wire::kBadPort:
    case wire::kBadProjectInfo:
      CheckStatusShape(got.status);
      break;
    default:
      FUZZ_CHECK(BeforeStatus(rc), "command returned " + std::to_string(rc));
      FUZZ_CHECK(got.status == kStatusUnset, "status written on " + std::to_string(rc));
  }
  if (rc != 0) {
    FUZZ_CHECK(got.v[0] == kValueUnset && got.v[1] == kValueUnset && got.v[2] == kValueUnset,
               "values written on " + std::to_string(rc));
    FUZZ_CHECK(got.name_length == kStatusUnset, "name length written on a failure");
  }
}

void Start(Input &in) {
  const uint16_t handle = PickHandle(in);
  int16_t rc = 0;
  const std::vector<Exchange> log = Call([&] { return XQUIB_Start(handle); }, &rc);
  const int16_t refusal = ChannelRefusal(handle);
  if (refusal != 0) {
    FUZZ_CHECK(rc == refusal && log.empty(), "start refusal " + Codes(rc, refusal));
    return;
  }
  const Bytes frame = gw::Request(1, 1, 0, 0);
  // Nothing is awaited: the frame leaving the line is the whole exchange.
  size_t next = 0;
  const bool predictable =
      !g_line.IsTroubled() && fuzz::WalkRequest(log, &next, frame, [](const Bytes &) {
                                return Attempt{0, true, {}};
                              }).predictable;
  fuzz::Stats::Note("XQUIB_Start", predictable, rc);
  if (predictable) {
    FUZZ_CHECK(next == log.size() && rc == 0, "start " + Codes(rc, 0));
    return;
  }
  fuzz::WalkInOrder(log, 1, [&](size_t) { return frame; });
  FUZZ_CHECK(rc == 0 || rc == wire::kTxFailed || rc == wire::kNoResponse,
             "start returned " + std::to_string(rc));
}

// ---- block reads -----------------------------------------------------------

enum ReadKind { kAll, kOneGroup, kArea };

struct ReadOuts {
  std::vector<uint8_t> data;
  int32_t total = kValueUnset;
  uint16_t status = kStatusUnset;
  std::vector<uint32_t> progress;
};

void BlockRead(Input &in) {
  const ReadKind kind = static_cast<ReadKind>(in.Byte() % 3);
  const bool sized = in.Bool();
  const uint16_t handle = PickHandle(in);
  const uint16_t group = kind == kOneGroup ? in.U16() : 0;
  static const uint8_t kAreas[] = {3, 4, 5, 6, 240, 241, 242};
  const uint8_t area = in.Byte() < 240 ? kAreas[in.Range(0, 6)] : in.Byte();
  const uint32_t capacity = sized ? in.Range(0, 6000) : 0xFFFFFFFFu;
  const bool pointers = in.Byte() != 0xFF;

  ReadOuts got;
  got.data.assign(sized ? (capacity ? capacity : 1) : kUnsizedRoom, kUnwritten);
  auto progress = [](uint32_t done, uint32_t total, void *user) {
    FUZZ_CHECK(total == 0, "read progress with a total");
    static_cast<ReadOuts *>(user)->progress.push_back(done);
  };
  int16_t rc = 0;
  const std::vector<Exchange> log = Call(
      [&] {
        uint8_t *d = pointers ? got.data.data() : nullptr;
        if (sized) {
          if (kind == kAll)
            return XQUIB_ReadAllEx(handle, d, capacity, &got.total, &got.status, progress, &got);
          if (kind == kOneGroup)
            return XQUIB_Read1GEx(handle, group, d, capacity, &got.total, &got.status, progress,
                                  &got);
          return XQUIB_ReadEx(handle, area, d, capacity, &got.total, &got.status, progress, &got);
        }
        if (kind == kAll) return XQUIB_ReadAll(handle, d, &got.total, &got.status);
        if (kind == kOneGroup) return XQUIB_Read1G(handle, group, d, &got.total, &got.status);
        return XQUIB_Read(handle, area, d, &got.total, &got.status);
      },
      &rc);

  int16_t refusal = ChannelRefusal(handle);
  const bool readable = (area >= 3 && area <= 6) || (area >= 240 && area <= 242);
  if (refusal == 0 && ((kind == kArea && !readable) || !pointers)) refusal = wire::kBadArgument;
  static const char *const kReadNames[] = {"XQUIB_ReadAll", "XQUIB_Read1G", "XQUIB_Read"};
  if (refusal != 0) {
    fuzz::Stats::Note(kReadNames[kind], true, rc);
    FUZZ_CHECK(rc == refusal, "read refusal " + Codes(rc, refusal));
    FUZZ_CHECK(log.empty() && got.total == kValueUnset && got.status == kStatusUnset,
               "a refused read did something");
    return;
  }

  const uint8_t subcommand = kind == kArea ? area : 1;
  const size_t announced = kind == kArea ? 1035 : 1037;
  const int count_at = kind == kArea ? gw::kData : gw::kData + 2;
  const int empty = kind == kArea ? 8 : 10;
  auto frame_at = [&](size_t i) {
    Bytes data;
    if (kind != kArea) wire::PutLe16(data, group);
    return gw::Request(33, subcommand, i == 0 ? 0 : 1, 0, data);
  };

  // The transfer as the operation must run it, reply by reply.
  Walk walk(log);
  ReadOuts want;
  want.data.assign(got.data.size(), kUnwritten);
  int16_t want_rc = wire::kOk;
  uint8_t sequence = 0;
  uint16_t current = 0;
  uint32_t done = 0;
  for (size_t i = 0;; ++i) {
    int16_t status = 0;
    Bytes p;
    if (!walk.Request(frame_at(i), gw::kVariable, announced, &status, &p)) break;
    if (status != 0) {
      want_rc = status;
      break;
    }
    auto fail = [&](int16_t code) { want_rc = code; };
    if (p[gw::kCommand] != 33 || p[gw::kSubcommand] != subcommand) {
      fail(wire::kBadEcho);
      break;
    }
    const size_t n = p.size();
    const uint16_t reply_group = n >= 9 ? static_cast<uint16_t>(wire::ReadLe16(&p[gw::kData])) : 0;
    bool finished = false;
    // The sequence number, then the status byte: one group and the areas.
    auto sequence_then_status = [&]() -> int16_t {
      if (p[gw::kSequence] != sequence++) return wire::kSequence;
      want.status = p[gw::kStatus];
      return want.status != 0 ? wire::kTerminalError : wire::kOk;
    };
    if (kind == kOneGroup) {
      const int16_t code = n < 9                  ? int16_t{wire::kBadLength}
                           : reply_group != group ? int16_t{wire::kBadGroup}
                                                  : sequence_then_status();
      if (code != wire::kOk) {
        fail(code);
        break;
      }
    } else if (kind == kAll) {
      want.status = p[gw::kStatus];
      if (want.status != 0) {
        fail(wire::kTerminalError);
        break;
      }
      if (n < 9) {
        fail(wire::kBadLength);
        break;
      }
      if (reply_group == 0) finished = true;
      if (!finished && reply_group != current) {
        current = reply_group;
        sequence = 0;
      }
      if (!finished && p[gw::kSequence] != sequence++) {
        fail(wire::kSequence);
        break;
      }
    } else if (const int16_t code = sequence_then_status(); code != wire::kOk) {
      fail(code);
      break;
    }
    if (finished) break;
    const int field = wire::ReadLe16(&p[gw::kLength]);
    if (field < empty || n < size_t(count_at) + 2) {
      fail(wire::kBadLength);
      break;
    }
    const int count = wire::ReadLe16(&p[count_at]);
    if (count != field - empty || n < size_t(count_at) + 2 + size_t(count < 0 ? 0 : count)) {
      fail(wire::kBadLength);
      break;
    }
    if (count == 0) break;
    if (uint32_t(count) > capacity - done) {
      fail(wire::kBufferTooSmall);
      break;
    }
    FUZZ_CHECK(done + count <= want.data.size(), "harness: the terminal sent more than it may");
    memcpy(want.data.data() + done, &p[count_at + 2], size_t(count));
    done += uint32_t(count);
    if (sized) want.progress.push_back(done);
    if (kind != kAll && p[gw::kContinuation] == 2) break;
  }
  if (want_rc == 0) want.total = static_cast<int32_t>(done);

  fuzz::Stats::Note(kReadNames[kind], walk.Predictable(), rc);
  if (walk.Predictable()) {
    walk.CheckAllUsed();
    FUZZ_CHECK(rc == want_rc, "block read " + Codes(rc, want_rc));
    FUZZ_CHECK(got.total == want.total, "block read total");
    FUZZ_CHECK(got.status == want.status, "block read terminal status");
    FUZZ_CHECK(got.data == want.data, "block read data");
    FUZZ_CHECK(got.progress == want.progress, "block read progress");
    return;
  }
  fuzz::WalkInOrder(log, SIZE_MAX, frame_at);
  switch (rc) {
    case wire::kOk:
      FUZZ_CHECK(got.total >= 0 && uint32_t(got.total) <= capacity, "total beyond the buffer");
      for (size_t i = size_t(got.total); i < got.data.size(); ++i) {
        FUZZ_CHECK(got.data[i] == kUnwritten, "data written beyond the total");
      }
      break;
    case wire::kSequence:
    case wire::kBadLength:
    case wire::kBadGroup:
    case wire::kTerminalError:
    case wire::kBufferTooSmall:
      CheckStatusShape(got.status);
      break;
    default:
      FUZZ_CHECK(BeforeStatus(rc), "block read returned " + std::to_string(rc));
      CheckStatusShape(got.status);
  }
  if (rc != 0) FUZZ_CHECK(got.total == kValueUnset, "total written on a failure");
  if (!got.progress.empty() && rc == 0) {
    FUZZ_CHECK(got.progress.back() == uint32_t(got.total), "last progress is not the total");
  }
}

// ---- block writes ----------------------------------------------------------

void BlockWrite(Input &in) {
  const bool install = in.Bool();
  const bool with_progress = in.Bool();
  const uint16_t handle = PickHandle(in);
  static const uint8_t kAreas[] = {1, 3, 4, 5, 6};
  const uint8_t area = in.Byte() < 240 ? kAreas[in.Range(0, 4)] : in.Byte();
  const uint8_t subcommand = in.Byte() < 240 ? uint8_t(0x61 + in.Range(0, 1)) : in.Byte();
  const uint8_t option = in.Byte() < 240 ? uint8_t(in.Bool() ? 0x80 : 0) : in.Byte();
  const uint16_t group = in.U16();
  const uint8_t pick = in.Byte();
  const uint32_t length = pick < 8 ? 0 : pick < 200 ? in.Range(1, 1100) : in.Range(1, 4200);
  const bool pointers = in.Byte() != 0xFF;
  const uint8_t seed = in.Byte();
  Bytes data(length);
  for (size_t k = 0; k < length; ++k) data[k] = Pattern(k, seed);

  uint16_t status = kStatusUnset;
  std::vector<std::pair<uint32_t, uint32_t>> progress;
  QUIB_Progress report = nullptr;
  if (with_progress) {
    report = [](uint32_t done, uint32_t total, void *user) {
      static_cast<std::vector<std::pair<uint32_t, uint32_t>> *>(user)->push_back({done, total});
    };
  }
  int16_t rc = 0;
  const std::vector<Exchange> log = Call(
      [&] {
        const uint8_t *d = pointers ? data.data() : nullptr;
        if (!with_progress) {
          return install ? XQUIB_OSInstl(handle, subcommand, option, length, d, &status)
                         : XQUIB_Write(handle, area, group, length, d, &status);
        }
        if (install) {
          return XQUIB_OSInstlEx(handle, subcommand, option, length, d, &status, report, &progress);
        }
        return XQUIB_WriteEx(handle, area, group, length, d, &status, report, &progress);
      },
      &rc);

  int16_t refusal = wire::kOk;
  if (length == 0) {
    refusal = wire::kBadArgument;
  } else if (install ? (subcommand != 0x61 && subcommand != 0x62) || (option != 0 && option != 0x80)
                     : !(area == 1 || (area >= 3 && area <= 6))) {
    refusal = wire::kBadArgument;
  } else if (ChannelRefusal(handle) != 0) {
    refusal = ChannelRefusal(handle);
  } else if (!pointers) {
    refusal = wire::kBadArgument;
  }
  const char *name = install ? "XQUIB_OSInstl" : "XQUIB_Write";
  if (refusal != 0) {
    fuzz::Stats::Note(name, true, rc);
    FUZZ_CHECK(rc == refusal, "write refusal " + Codes(rc, refusal));
    FUZZ_CHECK(log.empty() && status == kStatusUnset && progress.empty(), "refused write acted");
    return;
  }

  const uint8_t command = install ? 18 : 17;
  const uint8_t sub = install ? subcommand : area;
  std::vector<Bytes> frames;
  std::vector<uint32_t> ends;
  uint8_t continuation = 0;
  for (uint32_t at = 0, sequence = 0; at < length; ++sequence) {
    const uint32_t chunk = length - at < 1024 ? length - at : 1024;
    if (length - at <= 1024) {
      continuation = 2;
    } else if ((sequence & 0xFF) >= 1) {
      continuation = 1;
    }
    Bytes form;
    if (install) {
      form.push_back(option);
    } else if (area == 1) {
      wire::PutLe16(form, group);
    }
    wire::PutLe16(form, chunk);
    form.insert(form.end(), data.begin() + at, data.begin() + at + chunk);
    frames.push_back(gw::Request(command, sub, continuation, uint8_t(sequence), form));
    at += chunk;
    ends.push_back(at);
  }

  Walk walk(log);
  int16_t want_rc = wire::kOk;
  uint16_t want_status = kStatusUnset;
  std::vector<std::pair<uint32_t, uint32_t>> want_progress;
  for (size_t i = 0; i < frames.size(); ++i) {
    int16_t st = 0;
    Bytes p;
    if (!walk.Request(frames[i], gw::kFixed, 9, &st, &p)) break;
    if (st != 0) {
      want_rc = st;
      break;
    }
    if (p[gw::kCommand] != command || p[gw::kSubcommand] != sub) {
      want_rc = wire::kBadEcho;
      break;
    }
    if (p[gw::kContinuation] != 0 || p[gw::kSequence] != 0) {
      want_rc = wire::kSequence;
      break;
    }
    want_status = p[gw::kStatus];
    if (want_status != 0) {
      want_rc = wire::kTerminalError;
      break;
    }
    if (with_progress) want_progress.push_back({ends[i], length});
  }
  fuzz::Stats::Note(name, walk.Predictable(), rc);
  if (walk.Predictable()) {
    walk.CheckAllUsed();
    FUZZ_CHECK(rc == want_rc, "block write " + Codes(rc, want_rc));
    FUZZ_CHECK(status == want_status, "block write terminal status");
    FUZZ_CHECK(progress == want_progress, "block write progress");
    return;
  }
  const int last = fuzz::WalkInOrder(log, frames.size(), [&](size_t i) { return frames[i]; });
  FUZZ_CHECK(rc != 0 || size_t(last) + 1 == frames.size(), "write succeeded early");
  FUZZ_CHECK(rc == wire::kOk || rc == wire::kTerminalError || rc == wire::kSequence ||
                 rc == wire::kBadLength || BeforeStatus(rc),
             "block write returned " + std::to_string(rc));
  CheckStatusShape(status);
}

// Any call while the line is in trouble: no outcome is certain, but the call
// must end with one of its own codes and the channel must recover.
void Trouble(Input &in) {
  fuzz::LineTrouble trouble(fake::LineOfPort(kPort), in);
  g_line.Troubled(true);
  static void (*const kCalls[4])(Input &) = {Command, Start, BlockRead, BlockWrite};
  kCalls[in.Byte() % 4](in);
  g_line.Troubled(false);
}

// ---- afterwards ------------------------------------------------------------

void CheckUsable() {
  g_line.Drive(nullptr);
  fake::Advance(60000);
  uint32_t type = 0;
  uint16_t status = kStatusUnset;
  const int16_t rc = XQUIB_GetKEWType(static_cast<uint16_t>(g_handles[0]), &type, &status);
  FUZZ_CHECK(rc == 0 && type == 0xC3 && status == 0,
             "channel unusable afterwards: " + std::to_string(rc));
  g_line.TakeLog();
  CheckIdle();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  StartCycle();
  Input in(data, size);
  g_line.Drive(&in);
  // What an input does most: commands and block reads; now and then a start,
  // a call while the line is in trouble, or a block write.
  static void (*const kOps[16])(Input &) = {
      Command,   Command,   Command, Command, Command,    Start,      BlockRead,  BlockRead,
      BlockRead, BlockRead, Trouble, Trouble, BlockWrite, BlockWrite, BlockWrite, BlockWrite};
  for (int op = 0; op < 5 && !in.Empty(); ++op) kOps[in.Byte() % 16](in);
  CheckUsable();
  return 0;
}
