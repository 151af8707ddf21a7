#include "monitor/format.h"

#include <cstdio>

#include "wire/hex.h"

namespace quiblink::monitor {

namespace {
constexpr const char *kRed = "\033[31m";
constexpr const char *kYellow = "\033[33m";
constexpr const char *kReset = "\033[0m";

std::string JsonString(const std::string &text) {
  std::string out = "\"";
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += ch;
    }
  }
  return out + "\"";
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
  std::string out = "{\"t_us\":" + std::to_string(r.t_us) +
                    ",\"dir\":" + JsonString(DirName(r.dir)) +
                    ",\"kind\":" + JsonString(KindName(r.kind)) +
                    ",\"family\":" + JsonString(FamilyText(r.family));
  if (!r.command.empty()) out += ",\"command\":" + JsonString(r.command);
  if (!r.fields.empty()) {
    out += ",\"fields\":{";
    for (size_t i = 0; i < r.fields.size(); ++i) {
      if (i) out += ",";
      out += JsonString(r.fields[i].first) + ":" + JsonString(r.fields[i].second);
    }
    out += "}";
  }
  if (r.checksum >= 0) out += std::string(",\"checksum\":") + (r.checksum ? "\"good\"" : "\"bad\"");
  if (r.latency_us >= 0) out += ",\"latency_us\":" + std::to_string(r.latency_us);
  if (!r.note.empty()) out += ",\"note\":" + JsonString(r.note);
  out += ",\"bytes\":" + JsonString(wire::HexCompact(r.bytes)) + ",\"flags\":[";
  for (size_t i = 0; i < r.flags.size(); ++i) {
    if (i) out += ",";
    out += "{\"rule\":" + JsonString(r.flags[i].rule) +
           ",\"detail\":" + JsonString(r.flags[i].detail) + "}";
  }
  return out + "]}";
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
    std::string out = "{\"summary\":{\"exchanges\":" + std::to_string(s.exchanges) +
                      ",\"attempts\":" + std::to_string(s.attempts) +
                      ",\"frames\":{\"PC>TERM\":" + std::to_string(s.frames[0]) +
                      ",\"TERM>PC\":" + std::to_string(s.frames[1]) +
                      "},\"bytes\":{\"PC>TERM\":" + std::to_string(s.bytes[0]) +
                      ",\"TERM>PC\":" + std::to_string(s.bytes[1]) + "},\"flagged\":{";
    bool first = true;
    for (const auto &[name, n] : s.flagged) {
      if (!first) out += ",";
      first = false;
      out += JsonString(name) + ":" + std::to_string(n);
    }
    char tail[128];
    std::snprintf(tail, sizeof tail, "},\"elapsed_us\":%lld,\"baud\":%d,\"utilisation\":%.4f}}",
                  static_cast<long long>(elapsed), s.baud, utilisation);
    return out + tail;
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
