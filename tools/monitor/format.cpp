#include "monitor/format.h"

#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "wire/hex.h"

namespace quiblink::monitor {

namespace {
constexpr const char *kRed = "\033[31m";
constexpr const char *kYellow = "\033[33m";
constexpr const char *kReset = "\033[0m";

// One line of JSON; keys in the order they are set. A byte that is no UTF-8 (a classic
// command character off the wire) shows as U+FFFD.
std::string Dump(const nlohmann::ordered_json &value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

const char *KindName(Record::Kind kind) {
  switch (kind) {
    case Record::Kind::kFrame:
      return "frame";
    case Record::Kind::kNoise:
      return "noise";
    default:
      return "event";
  }
}

std::string FamilyText(std::optional<Family> family) {
  return family ? wire::FamilyName(*family) : "-";
}

std::string FormatJson(const Record &r) {
  nlohmann::ordered_json out = {{"t_us", r.t_us},
                                {"dir", DirName(r.dir)},
                                {"kind", KindName(r.kind)},
                                {"family", FamilyText(r.family)}};
  if (!r.command.empty()) out["command"] = r.command;
  if (!r.fields.empty()) {
    nlohmann::ordered_json &fields = out["fields"] = nlohmann::ordered_json::object();
    for (const auto &[name, value] : r.fields) fields[name] = value;
  }
  if (r.checksum >= 0) out["checksum"] = r.checksum ? "good" : "bad";
  if (r.latency_us >= 0) out["latency_us"] = r.latency_us;
  if (!r.note.empty()) out["note"] = r.note;
  out["bytes"] = wire::HexCompact(r.bytes);
  nlohmann::ordered_json &flags = out["flags"] = nlohmann::ordered_json::array();
  for (const Flag &f : r.flags) flags.push_back({{"rule", f.rule}, {"detail", f.detail}});
  return Dump(out);
}
}  // namespace

const char *DirName(Dir dir) {
  return dir == Dir::kToTerminal ? "PC>TERM" : "TERM>PC";
}

std::string FormatRecord(const Record &r, const FormatOptions &options) {
  if (options.json) return FormatJson(r);
  char head[96];
  std::string what = r.kind == Record::Kind::kFrame   ? r.command
                     : r.kind == Record::Kind::kNoise ? "noise"
                                                      : "--";
  std::snprintf(head, sizeof head, "%12lld  %-7s  %-7s  %-14s", static_cast<long long>(r.t_us),
                DirName(r.dir), FamilyText(r.family).c_str(), what.c_str());
  std::string line = head;
  for (const auto &[name, value] : r.fields) line += " " + name + "=" + value;
  if (r.checksum >= 0) line += r.checksum ? "  sum=good" : "  sum=bad";
  if (r.latency_us >= 0) line += "  latency=" + std::to_string(r.latency_us) + "us";
  if (!r.note.empty()) line += "  (" + r.note + ")";
  if (r.kind != Record::Kind::kFrame || options.bytes) {
    if (!r.bytes.empty()) line += "  [" + wire::HexDump(r.bytes) + "]";
  }
  for (const Flag &f : r.flags) line += "  ! " + f.rule + ": " + f.detail;
  if (options.color && !r.flags.empty()) {
    line = (r.kind == Record::Kind::kNoise ? kYellow : kRed) + line + kReset;
  }
  return line;
}

std::string FormatSummary(const Summary &s, std::optional<Family> family,
                          const FormatOptions &options) {
  const int64_t elapsed = s.first_us < 0 ? 0 : s.last_us - s.first_us;
  const int bits = family ? BitsPerCharacter(*family) : 11;
  double utilisation = 0;
  if (elapsed > 0 && s.baud > 0) {
    double busy_s = static_cast<double>(s.bytes[0] + s.bytes[1]) * bits / s.baud;
    utilisation = busy_s / (static_cast<double>(elapsed) / 1e6);
  }
  uint64_t failures = 0;
  for (const auto &[name, n] : s.flagged) failures += n;
  if (options.json) {
    nlohmann::ordered_json flagged = nlohmann::ordered_json::object();
    for (const auto &[name, n] : s.flagged) flagged[name] = n;
    nlohmann::ordered_json summary = {
        {"exchanges", s.exchanges},
        {"attempts", s.attempts},
        {"frames", {{"PC>TERM", s.frames[0]}, {"TERM>PC", s.frames[1]}}},
        {"bytes", {{"PC>TERM", s.bytes[0]}, {"TERM>PC", s.bytes[1]}}},
        {"flagged", flagged},
        {"elapsed_us", elapsed},
        {"baud", s.baud},
        // Four decimals, as the line shows it; more would be noise of the clock.
        {"utilisation", std::round(utilisation * 1e4) / 1e4}};
    return Dump({{"summary", summary}});
  }
  char text[512];
  std::snprintf(
      text, sizeof text,
      "summary: %llu exchanges, %llu attempts, %llu flags; frames %llu PC>TERM, %llu "
      "TERM>PC; bytes %llu PC>TERM, %llu TERM>PC; line %.1f %% busy at %d baud over "
      "%.3f s",
      static_cast<unsigned long long>(s.exchanges), static_cast<unsigned long long>(s.attempts),
      static_cast<unsigned long long>(failures), static_cast<unsigned long long>(s.frames[0]),
      static_cast<unsigned long long>(s.frames[1]), static_cast<unsigned long long>(s.bytes[0]),
      static_cast<unsigned long long>(s.bytes[1]), utilisation * 100, s.baud,
      static_cast<double>(elapsed) / 1e6);
  std::string out = text;
  if (!s.flagged.empty()) {
    out += "\nflagged:";
    for (const auto &[name, n] : s.flagged) out += " " + name + "=" + std::to_string(n);
  }
  return out;
}

}  // namespace quiblink::monitor
