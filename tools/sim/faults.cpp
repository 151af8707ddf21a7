#include "sim/faults.h"

#include <algorithm>
#include <chrono>

#include "wire/graphic_frame.h"

namespace quiblink::sim {

namespace {

// The largest count of a trigger: fits the fault's int counters with room to spare.
constexpr long long kMaxTriggerCount = 1000000000;
constexpr long long kMaxFrameBytes = 65535;
constexpr long long kMaxGapMs = 60000;

// Which requests a kind can change.
enum class Reach {
  kAny,
  kClassicReads,   // on a classic panel only read replies carry what it spoils
  kPasswordCheck,  // only the graphic password check
};

// What the argument after '=' sets, within [low, high].
enum class Argument {
  kNone,
  kValue,   // fault.value
  kGap,     // fault.gap_ms
  kPieces,  // COUNT[/GAP_MS]: fault.value, fault.gap_ms
  kHex,     // fault.bytes, 1 to high bytes
};

// A change to one field of a graphic reply's header; the checksum is made valid again after it.
using HeaderEdit = void (*)(const Fault &fault, Bytes &frame);

void PutLength(Bytes &frame, long long length) {
  frame[graphic::kLengthAt] = static_cast<uint8_t>(length & 0xFF);
  frame[graphic::kLengthAt + 1] = static_cast<uint8_t>((length >> 8) & 0xFF);
}

constexpr HeaderEdit kEchoPlusOne = [](const Fault &, Bytes &f) { ++f[graphic::kCommandAt]; };
constexpr HeaderEdit kSequencePlusOne = [](const Fault &, Bytes &f) { ++f[graphic::kSequenceAt]; };
constexpr HeaderEdit kOtherFlag = [](const Fault &, Bytes &f) {
  f[graphic::kFlagAt] = f[graphic::kFlagAt] == 1 ? 2 : 1;
};
constexpr HeaderEdit kStatusByte = [](const Fault &fault, Bytes &f) {
  f[graphic::kStatusAt] = static_cast<uint8_t>(fault.value);
};
constexpr HeaderEdit kPasswordRefused = [](const Fault &, Bytes &f) {
  f[graphic::kStatusAt] = graphic::kStatusPasswordRefused;
};
constexpr HeaderEdit kLengthPlus = [](const Fault &fault, Bytes &f) {
  PutLength(f, GetLe16(&f[graphic::kLengthAt]) + fault.value);
};
constexpr HeaderEdit kLengthSet = [](const Fault &fault, Bytes &f) { PutLength(f, fault.value); };

// One row per kind: everything about it; what the others than header edits do to a reply is
// in ApplyFault.
struct KindInfo {
  const char *name;
  FaultKind kind;
  bool classic;
  bool graphic;
  Reach reach;
  bool spoils;  // the PC cannot use what comes out and will repeat the request
  Argument argument;
  long long low;
  long long high;
  const char *preset;  // the argument when none is given, parsed like one
  const char *usage;   // for --help: the kind with its argument, and what it does
  const char *effect;
  HeaderEdit edit = nullptr;
};

constexpr KindInfo kKinds[] = {
    {"nak", FaultKind::kNak, true, true, Reach::kAny, true, Argument::kNone, 0, 0, nullptr, "nak",
     "the single byte NAK (0x15) instead of the reply"},
    {"bad-checksum", FaultKind::kBadChecksum, true, true, Reach::kClassicReads, true,
     Argument::kNone, 0, 0, nullptr, "bad-checksum", "checksum off by one (classic: read replies)"},
    {"missing-etx", FaultKind::kMissingEtx, true, false, Reach::kClassicReads, true,
     Argument::kNone, 0, 0, nullptr, "missing-etx",
     "byte before the checksum digits is 0x04 (reads)"},
    {"wrong-start", FaultKind::kWrongStart, true, true, Reach::kAny, true, Argument::kNone, 0, 0,
     nullptr, "wrong-start", "first byte 0x07 (classic) or 0xFE (graphic)"},
    {"wrong-echo", FaultKind::kWrongEcho, false, true, Reach::kAny, true, Argument::kNone, 0, 0,
     nullptr, "wrong-echo", "command code + 1", kEchoPlusOne},
    {"wrong-seq", FaultKind::kWrongSequence, false, true, Reach::kAny, true, Argument::kNone, 0, 0,
     nullptr, "wrong-seq", "sequence number + 1", kSequencePlusOne},
    {"wrong-flag", FaultKind::kWrongFlag, false, true, Reach::kAny, true, Argument::kNone, 0, 0,
     nullptr, "wrong-flag", "continuation flag 1 (or 2 where it was 1)", kOtherFlag},
    {"status", FaultKind::kStatus, false, true, Reach::kAny, true, Argument::kValue, 0, 255, "0x05",
     "status[=N]", "status byte N, 0..255 (default 0x05)", kStatusByte},
    {"bad-length", FaultKind::kBadLength, false, true, Reach::kAny, true, Argument::kValue,
     -kMaxFrameBytes, kMaxFrameBytes, "1", "bad-length[=D]",
     "length field + D, -65535..65535 (default 1),\nchecksum kept valid", kLengthPlus},
    {"oversized", FaultKind::kOversized, false, true, Reach::kAny, true, Argument::kValue, 0,
     kMaxFrameBytes, "2048", "oversized[=L]", "length field L, 0..65535 (default 2048)",
     kLengthSet},
    {"pieces", FaultKind::kPieces, true, true, Reach::kAny, false, Argument::kPieces, 1,
     kMaxFrameBytes, "3/200", "pieces[=N[/MS]]",
     "reply in N pieces, 1..65535 (default 3), MS\napart, 0..60000 (200)"},
    {"partial", FaultKind::kPartial, true, true, Reach::kAny, true, Argument::kValue, 0,
     kMaxFrameBytes, nullptr, "partial[=B]",
     "first B bytes, 0..65535 (default half), then\nsilence"},
    {"silence", FaultKind::kSilence, true, true, Reach::kAny, true, Argument::kNone, 0, 0, nullptr,
     "silence", "no reply"},
    {"drip", FaultKind::kDrip, true, true, Reach::kAny, false, Argument::kGap, 0, kMaxGapMs, "3000",
     "drip[=MS]", "one byte every MS ms, 0..60000 (default 3000)"},
    {"stray", FaultKind::kStray, true, true, Reach::kAny, false, Argument::kHex, 1, kMaxFrameBytes,
     "55AA55", "stray[=HEX]", "after the reply, these bytes (default 55AA55)"},
    {"garbage", FaultKind::kGarbage, true, true, Reach::kAny, true, Argument::kValue, 1,
     kMaxFrameBytes, nullptr, "garbage[=B]",
     "B bytes of junk, 1..65535 (default the reply's\nlength)"},
    {"refuse-password", FaultKind::kRefusePassword, false, true, Reach::kPasswordCheck, true,
     Argument::kNone, 0, 0, nullptr, "refuse-password", "status 0x05 to the next password check",
     kPasswordRefused},
};

const KindInfo &Info(FaultKind kind) {
  for (const KindInfo &info : kKinds) {
    if (info.kind == kind) return info;
  }
  return kKinds[0];
}

bool OfFamily(const KindInfo &info, Family family) {
  return family == Family::kClassic ? info.classic : info.graphic;
}

constexpr uint8_t kNak = 0x15;
constexpr uint8_t kClassicWrongStart = 0x07;
constexpr uint8_t kNotEtx = 0x04;

bool ParseArgument(const KindInfo &info, Fault *fault, std::string_view arg, std::string *error) {
  const std::string name = info.name;
  const std::string range = std::to_string(info.low) + " to " + std::to_string(info.high);
  switch (info.argument) {
    case Argument::kValue:
    case Argument::kGap: {
      auto v = ParseInRange(arg, info.low, info.high);
      if (!v) {
        *error = name + " wants a number from " + range;
        return false;
      }
      (info.argument == Argument::kValue ? fault->value : fault->gap_ms) = *v;
      return true;
    }
    case Argument::kPieces: {
      size_t slash = arg.find('/');
      auto count = ParseInRange(arg.substr(0, slash), info.low, info.high);
      auto gap = slash == std::string_view::npos
                     ? std::optional<long long>(fault->gap_ms)
                     : ParseInRange(arg.substr(slash + 1), 0, kMaxGapMs);
      if (!count || !gap) {
        *error = name + " wants COUNT[/GAP_MS], COUNT " + range + ", GAP_MS 0 to " +
                 std::to_string(kMaxGapMs);
        return false;
      }
      fault->value = *count;
      fault->gap_ms = *gap;
      return true;
    }
    case Argument::kHex: {
      auto bytes = ParseHex(arg);
      if (!bytes || bytes->size() < static_cast<size_t>(info.low) ||
          bytes->size() > static_cast<size_t>(info.high)) {
        *error = name + " wants hex bytes";
        return false;
      }
      fault->bytes = *bytes;
      return true;
    }
    case Argument::kNone:
      break;
  }
  *error = name + " takes no argument";
  return false;
}

bool ParseCommand(std::string_view value, Family family, int *command) {
  if (family == Family::kClassic) {
    if (value == "read") return *command = kAnyClassicRead, true;
    if (value == "write") return *command = kAnyClassicWrite, true;
    if (value.size() == 1) return *command = static_cast<unsigned char>(value[0]), true;
  }
  auto v = ParseNumber(value);
  if (!v || *v < 0 || *v > 255) return false;
  *command = static_cast<int>(*v);
  return true;
}

bool ParseTriggers(Fault *fault, std::string_view text, Family family, std::string *error) {
  bool counted = false;
  bool periodic = false;
  while (!text.empty()) {
    size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    size_t eq = item.find('=');
    std::string_view name = item.substr(0, eq);
    std::string_view value = eq == std::string_view::npos ? "" : item.substr(eq + 1);
    if (name == "next" || name == "always" || name == "every") {
      std::optional<long long> n =
          value.empty() ? std::optional<long long>(1) : ParseInRange(value, 1, kMaxTriggerCount);
      if (!n || (name == "always" && !value.empty())) {
        *error = "bad trigger: " + std::string(item) + " (counts are 1 to " +
                 std::to_string(kMaxTriggerCount) + ")";
        return false;
      }
      if (name == "next") {
        fault->times = static_cast<int>(*n);
        counted = true;
      } else {
        fault->every = name == "always" ? 1 : static_cast<int>(*n);
        periodic = true;
      }
    } else if (name == "cmd" && ParseCommand(value, family, &fault->command)) {
      periodic = true;
    } else {
      *error = "bad trigger: " + std::string(item);
      return false;
    }
  }
  if (periodic && !counted) fault->times = -1;
  return true;
}

Bytes Garbage(size_t size) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(0xA5 ^ (i * 0x3B));
  return out;
}

void PutClassicDigits(uint8_t *at, uint8_t value) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  at[0] = static_cast<uint8_t>(kDigits[value >> 4]);
  at[1] = static_cast<uint8_t>(kDigits[value & 0x0F]);
}

}  // namespace

std::optional<Fault> ParseFault(std::string_view text, Family family, std::string *error) {
  Fault fault;
  fault.text = std::string(text);
  size_t colon = text.find(':');
  std::string_view head = text.substr(0, colon);
  size_t eq = head.find('=');
  std::string_view name = head.substr(0, eq);
  const KindInfo *info = nullptr;
  for (const KindInfo &k : kKinds) {
    if (name == k.name) info = &k;
  }
  if (!info) {
    *error = "unknown fault kind: " + std::string(name);
    return std::nullopt;
  }
  if (!OfFamily(*info, family)) {
    *error = std::string(info->name) + " is no fault of a " + FamilyName(family) + " terminal";
    return std::nullopt;
  }
  fault.kind = info->kind;
  // A number argument with no preset is taken from the reply (-1 until then).
  if (info->argument == Argument::kValue && !info->preset) fault.value = -1;
  if (info->preset && !ParseArgument(*info, &fault, info->preset, error)) return std::nullopt;
  if (eq != std::string_view::npos && !ParseArgument(*info, &fault, head.substr(eq + 1), error)) {
    return std::nullopt;
  }
  if (colon != std::string_view::npos &&
      !ParseTriggers(&fault, text.substr(colon + 1), family, error)) {
    return std::nullopt;
  }
  return fault;
}

bool FaultApplies(FaultKind kind, Family family, const RequestKey &key) {
  const KindInfo &info = Info(kind);
  if (!OfFamily(info, family)) return false;
  switch (info.reach) {
    case Reach::kClassicReads:
      return family != Family::kClassic || key.read;
    case Reach::kPasswordCheck:
      return key.command == graphic::kCheckPassword;
    case Reach::kAny:
      break;
  }
  return true;
}

bool FaultSpoils(FaultKind kind) {
  return Info(kind).spoils;
}

std::string FaultKindsHelp() {
  std::string text;
  for (const KindInfo &info : kKinds) {
    std::string head = std::string("    ") + info.usage;
    head.resize(24, ' ');
    head += info.classic ? "c" : "";
    head += info.graphic ? "g" : "";
    head.resize(28, ' ');
    text += head;
    for (const char *c = info.effect; *c; ++c) {
      text += *c;
      if (*c == '\n') text += std::string(28, ' ');
    }
    text += '\n';
  }
  return text;
}

Emission ApplyFault(const Fault *fault, const Reply &reply, Family family) {
  Emission out;
  if (!fault) {
    if (!reply.bytes.empty()) out.segments.push_back({Nanos(0), reply.bytes});
    return out;
  }
  out.note = fault->text;
  Bytes b = reply.bytes;
  const bool graphic = family == Family::kGraphic && reply.shape == ReplyShape::kGraphic;
  auto send = [&](Bytes bytes) { out.segments.push_back({Nanos(0), std::move(bytes)}); };
  auto unchanged = [&](const char *why) {
    out.note += std::string(": no effect, ") + why;
    if (!b.empty()) send(b);
  };
  if (b.empty() && fault->kind != FaultKind::kStray && fault->kind != FaultKind::kGarbage) {
    unchanged("no reply");
    return out;
  }
  switch (fault->kind) {
    case FaultKind::kNak:
      send({kNak});
      break;
    case FaultKind::kBadChecksum:
      if (graphic) {
        b.back() = static_cast<uint8_t>(b.back() + 1);
      } else if (reply.shape == ReplyShape::kClassicData) {
        unsigned sum = 0;
        for (size_t i = 1; i + 2 < b.size(); ++i) sum += b[i];
        PutClassicDigits(&b[b.size() - 2], static_cast<uint8_t>(sum + 1));
      } else {
        return unchanged("reply has no checksum"), out;
      }
      send(b);
      break;
    case FaultKind::kMissingEtx:
      if (reply.shape != ReplyShape::kClassicData) return unchanged("reply has no ETX"), out;
      b[b.size() - 3] = kNotEtx;
      send(b);
      break;
    case FaultKind::kWrongStart:
      b[0] = family == Family::kGraphic ? graphic::kRequestStart : kClassicWrongStart;
      send(b);
      break;
    case FaultKind::kWrongEcho:
    case FaultKind::kWrongSequence:
    case FaultKind::kWrongFlag:
    case FaultKind::kStatus:
    case FaultKind::kRefusePassword:
    case FaultKind::kBadLength:
    case FaultKind::kOversized:
      if (!graphic || b.size() < graphic::kHeader + 1) return unchanged("not a reply frame"), out;
      Info(fault->kind).edit(*fault, b);
      graphic::Reseal(b);
      send(b);
      break;
    case FaultKind::kPieces: {
      size_t pieces = std::min<size_t>(static_cast<size_t>(fault->value), b.size());
      size_t at = 0;
      for (size_t i = 0; i < pieces; ++i) {
        size_t end = b.size() * (i + 1) / pieces;
        Nanos gap = i == 0 ? Nanos(0) : std::chrono::milliseconds(fault->gap_ms);
        out.segments.push_back({gap, Bytes(b.begin() + at, b.begin() + end)});
        at = end;
      }
      break;
    }
    case FaultKind::kPartial: {
      size_t keep = fault->value < 0 ? b.size() / 2 : static_cast<size_t>(fault->value);
      keep = std::min(keep, b.size() - 1);
      if (keep) send(Bytes(b.begin(), b.begin() + keep));
      break;
    }
    case FaultKind::kSilence:
      break;
    case FaultKind::kDrip:
      for (size_t i = 0; i < b.size(); ++i) {
        Nanos gap = i == 0 ? Nanos(0) : std::chrono::milliseconds(fault->gap_ms);
        out.segments.push_back({gap, Bytes{b[i]}});
      }
      break;
    case FaultKind::kStray:
      if (!b.empty()) send(b);
      send(fault->bytes);
      break;
    case FaultKind::kGarbage: {
      size_t size =
          fault->value < 0 ? std::max<size_t>(b.size(), 1) : static_cast<size_t>(fault->value);
      send(Garbage(size));
      break;
    }
  }
  return out;
}

std::vector<std::string> FaultPlan::List() const {
  std::vector<std::string> list;
  for (const Entry &e : entries_) list.push_back(e.fault.text);
  return list;
}

std::optional<Fault> FaultPlan::Pick(const RequestKey &key) {
  std::optional<Fault> picked;
  for (auto it = entries_.begin(); it != entries_.end();) {
    const Fault &fault = it->fault;
    bool command_matches =
        fault.command == -1 || fault.command == key.command ||
        (fault.command == kAnyClassicRead && family_ == Family::kClassic && key.read) ||
        (fault.command == kAnyClassicWrite && family_ == Family::kClassic && !key.read &&
         key.command >= 0);
    if (!command_matches || !FaultApplies(fault.kind, family_, key)) {
      ++it;
      continue;
    }
    ++it->seen;
    bool fires = fault.every == 0 || it->seen % fault.every == 0;
    if (fires && !picked) {
      picked = fault;
      if (it->fault.times > 0 && --it->fault.times == 0) {
        it = entries_.erase(it);
        continue;
      }
    }
    ++it;
  }
  return picked;
}

}  // namespace quiblink::sim
