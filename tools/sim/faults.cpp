#include "sim/faults.h"

#include <algorithm>
#include <chrono>

#include "sim/graphic_frame.h"

namespace quiblink::sim {

namespace {

struct KindInfo {
  const char *name;
  FaultKind kind;
  bool classic;
  bool graphic;
  bool spoils;
};

constexpr KindInfo kKinds[] = {
    {"nak", FaultKind::kNak, true, true, true},
    {"bad-checksum", FaultKind::kBadChecksum, true, true, true},
    {"missing-etx", FaultKind::kMissingEtx, true, false, true},
    {"wrong-start", FaultKind::kWrongStart, true, true, true},
    {"wrong-echo", FaultKind::kWrongEcho, false, true, true},
    {"wrong-seq", FaultKind::kWrongSequence, false, true, true},
    {"wrong-flag", FaultKind::kWrongFlag, false, true, true},
    {"status", FaultKind::kStatus, false, true, true},
    {"bad-length", FaultKind::kBadLength, false, true, true},
    {"oversized", FaultKind::kOversized, false, true, true},
    {"pieces", FaultKind::kPieces, true, true, false},
    {"partial", FaultKind::kPartial, true, true, true},
    {"silence", FaultKind::kSilence, true, true, true},
    {"drip", FaultKind::kDrip, true, true, false},
    {"stray", FaultKind::kStray, true, true, false},
    {"garbage", FaultKind::kGarbage, true, true, true},
    {"refuse-password", FaultKind::kRefusePassword, false, true, true},
};

const KindInfo &Info(FaultKind kind) {
  for (const KindInfo &info : kKinds) {
    if (info.kind == kind) return info;
  }
  return kKinds[0];
}

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kClassicWrongStart = 0x07;
constexpr uint8_t kNotEtx = 0x04;

// The largest count of a trigger: fits the fault's int counters with room to spare.
constexpr long long kMaxTriggerCount = 1000000000;
constexpr long long kMaxFrameBytes = 65535;
constexpr long long kMaxGapMs = 60000;

bool ParseArgument(Fault *fault, std::string_view arg, std::string *error) {
  auto number = [&](long long low, long long high, long long *out) {
    auto v = ParseInRange(arg, low, high);
    if (!v) {
      *error = std::string(Info(fault->kind).name) + " wants a number from " + std::to_string(low) +
               " to " + std::to_string(high);
      return false;
    }
    *out = *v;
    return true;
  };
  switch (fault->kind) {
    case FaultKind::kStatus:
      return number(0, 255, &fault->value);
    case FaultKind::kBadLength:
      return number(-kMaxFrameBytes, kMaxFrameBytes, &fault->value);
    case FaultKind::kOversized:
    case FaultKind::kPartial:
      return number(0, kMaxFrameBytes, &fault->value);
    case FaultKind::kGarbage:
      return number(1, kMaxFrameBytes, &fault->value);
    case FaultKind::kDrip:
      return number(0, kMaxGapMs, &fault->gap_ms);
    case FaultKind::kPieces: {
      size_t slash = arg.find('/');
      auto count = ParseInRange(arg.substr(0, slash), 1, kMaxFrameBytes);
      auto gap = slash == std::string_view::npos
                     ? std::optional<long long>(fault->gap_ms)
                     : ParseInRange(arg.substr(slash + 1), 0, kMaxGapMs);
      if (!count || !gap) {
        *error = "pieces wants COUNT[/GAP_MS], COUNT 1 to 65535, GAP_MS 0 to 60000";
        return false;
      }
      fault->value = *count;
      fault->gap_ms = *gap;
      return true;
    }
    case FaultKind::kStray: {
      auto bytes = ParseHex(arg);
      if (!bytes || bytes->empty() || bytes->size() > kMaxFrameBytes) {
        *error = "stray wants hex bytes";
        return false;
      }
      fault->bytes = *bytes;
      return true;
    }
    default:
      *error = std::string(Info(fault->kind).name) + " takes no argument";
      return false;
  }
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
  if (!(family == Family::kClassic ? info->classic : info->graphic)) {
    *error = std::string(info->name) + " is no fault of a " + FamilyName(family) + " terminal";
    return std::nullopt;
  }
  fault.kind = info->kind;
  // Defaults of the arguments.
  switch (fault.kind) {
    case FaultKind::kStatus:
      fault.value = graphic::kStatusPasswordRefused;
      break;
    case FaultKind::kBadLength:
      fault.value = 1;
      break;
    case FaultKind::kOversized:
      fault.value = 2048;
      break;
    case FaultKind::kPartial:
    case FaultKind::kGarbage:
      fault.value = -1;
      break;
    case FaultKind::kPieces:
      fault.value = 3;
      fault.gap_ms = 200;
      break;
    case FaultKind::kDrip:
      fault.gap_ms = 3000;
      break;
    case FaultKind::kStray:
      fault.bytes = {0x55, 0xAA, 0x55};
      break;
    default:
      break;
  }
  if (eq != std::string_view::npos && !ParseArgument(&fault, head.substr(eq + 1), error)) {
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
  if (!(family == Family::kClassic ? info.classic : info.graphic)) return false;
  if (family == Family::kClassic &&
      (kind == FaultKind::kBadChecksum || kind == FaultKind::kMissingEtx)) {
    return key.read;
  }
  if (kind == FaultKind::kRefusePassword) return key.command == graphic::kCheckPassword;
  return true;
}

bool FaultSpoils(FaultKind kind) {
  return Info(kind).spoils;
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
    case FaultKind::kOversized: {
      if (!graphic || b.size() < graphic::kHeader + 1) return unchanged("not a reply frame"), out;
      if (fault->kind == FaultKind::kWrongEcho) {
        ++b[graphic::kCommandAt];
      } else if (fault->kind == FaultKind::kWrongSequence) {
        ++b[graphic::kSequenceAt];
      } else if (fault->kind == FaultKind::kWrongFlag) {
        b[graphic::kFlagAt] = b[graphic::kFlagAt] == 1 ? 2 : 1;
      } else if (fault->kind == FaultKind::kStatus) {
        b[graphic::kStatusAt] = static_cast<uint8_t>(fault->value);
      } else if (fault->kind == FaultKind::kRefusePassword) {
        b[graphic::kStatusAt] = graphic::kStatusPasswordRefused;
      } else {
        long long length = fault->kind == FaultKind::kOversized
                               ? fault->value
                               : GetLe16(&b[graphic::kLengthAt]) + fault->value;
        b[graphic::kLengthAt] = static_cast<uint8_t>(length & 0xFF);
        b[graphic::kLengthAt + 1] = static_cast<uint8_t>((length >> 8) & 0xFF);
      }
      graphic::Reseal(b);
      send(b);
      break;
    }
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
