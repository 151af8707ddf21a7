// Faults on demand: a plan of armed faults, each changing the reply to a chosen request.
//
// Grammar of one fault:  KIND[=ARG][:TRIGGER[,TRIGGER...]]
//   TRIGGER: next | next=K | every=N | cmd=C | always      (no trigger: next)
// See README.md for the kinds and their arguments.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/terminal.h"

namespace quiblink::sim {

enum class FaultKind {
  kNak,
  kBadChecksum,
  kMissingEtx,
  kWrongStart,
  kWrongEcho,
  kWrongSequence,
  kWrongFlag,
  kStatus,
  kBadLength,
  kOversized,
  kPieces,
  kPartial,
  kSilence,
  kDrip,
  kStray,
  kGarbage,
  kRefusePassword,
};

// Classic command triggers that match any read or any write, whatever the model code.
constexpr int kAnyClassicRead = -2;
constexpr int kAnyClassicWrite = -3;

struct Fault {
  FaultKind kind = FaultKind::kNak;
  long long value = 0;   // status byte, length delta or value, byte or piece count
  long long gap_ms = 0;  // pieces: gap between pieces; drip: time between bytes
  Bytes bytes;           // stray bytes
  int command = -1;      // -1: any command
  int every = 0;         // 0: not periodic
  int times = 1;         // firings left; -1: no limit
  std::string text;      // as armed
};

std::optional<Fault> ParseFault(std::string_view text, Family family, std::string *error);

// The kinds for --help, one a line: usage, families (c, g) and what it does.
std::string FaultKindsHelp();

// Whether a fault of this kind can change the reply to the request.
bool FaultApplies(FaultKind kind, Family family, const RequestKey &key);
// Whether the reply that comes out is unusable to the PC, so that it will repeat the request.
bool FaultSpoils(FaultKind kind);

struct Segment {
  Nanos gap{0};  // silence on the line before this segment
  Bytes bytes;
};

struct Emission {
  std::vector<Segment> segments;
  std::string note;  // what the fault did, for the log
};

// The segments that go on the line for a reply, changed by the fault if there is one.
Emission ApplyFault(const Fault *fault, const Reply &reply, Family family);

class FaultPlan {
 public:
  explicit FaultPlan(Family family) : family_(family) {}

  void Arm(Fault fault) { entries_.push_back(Entry{std::move(fault), 0}); }
  void Clear() { entries_.clear(); }
  std::vector<std::string> List() const;

  // One fault per request: the first armed fault whose trigger fires is taken (and used up if
  // its count runs out); the others only count the request.
  std::optional<Fault> Pick(const RequestKey &key);

 private:
  struct Entry {
    Fault fault;
    long long seen;  // matching requests since the fault was armed
  };
  Family family_;
  std::vector<Entry> entries_;
};

}  // namespace quiblink::sim
