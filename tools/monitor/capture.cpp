#include "monitor/capture.h"

#include <cerrno>
#include <cstring>
#include <sstream>

namespace quiblink::monitor {

namespace {
constexpr const char *kMagic = "quiblink-capture";

std::string FamilyWord(const std::optional<Family> &family) {
  return family ? sim::FamilyName(*family) : "auto";
}
}  // namespace

CaptureWriter::~CaptureWriter() {
  if (file_) std::fclose(file_);
}

bool CaptureWriter::Open(const std::string &path, const DecoderConfig &config, std::string *error) {
  file_ = std::fopen(path.c_str(), "w");
  if (!file_) {
    *error = "cannot write capture " + path + ": " + std::strerror(errno);
    return false;
  }
  std::fprintf(file_, "%s 1 family=%s baud=%d reply-timeout-us=%lld quiet-us=%lld\n", kMagic,
               FamilyWord(config.family).c_str(), config.baud,
               static_cast<long long>(config.reply_timeout_us),
               static_cast<long long>(config.quiet_us));
  std::fflush(file_);
  return true;
}

void CaptureWriter::Chunk(Dir dir, int64_t t_us, const uint8_t *data, size_t size) {
  if (!file_) return;
  std::fprintf(file_, "%lld %c ", static_cast<long long>(t_us),
               dir == Dir::kToTerminal ? '>' : '<');
  static const char kDigits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < size; ++i) {
    std::fputc(kDigits[data[i] >> 4], file_);
    std::fputc(kDigits[data[i] & 0x0F], file_);
  }
  std::fputc('\n', file_);
  // A capture is most wanted after something went wrong: keep it on disk as it grows.
  std::fflush(file_);
}

void CaptureWriter::End(int64_t t_us) {
  if (!file_) return;
  std::fprintf(file_, "%lld end\n", static_cast<long long>(t_us));
  std::fclose(file_);
  file_ = nullptr;
}

bool ReadCapture(std::istream &in, Capture *capture, std::string *error) {
  std::string line;
  if (!std::getline(in, line)) return *error = "empty capture", false;
  std::vector<std::string> words = sim::SplitWords(line);
  if (words.size() < 2 || words[0] != kMagic || words[1] != "1") {
    return *error = "not a capture (no \"quiblink-capture 1\" line); --hex reads a hex dump", false;
  }
  for (size_t i = 2; i < words.size(); ++i) {
    const std::string &w = words[i];
    size_t eq = w.find('=');
    if (eq == std::string::npos) continue;
    std::string key = w.substr(0, eq), value = w.substr(eq + 1);
    if (key == "family") {
      if (value == "classic") capture->config.family = Family::kClassic;
      if (value == "graphic") capture->config.family = Family::kGraphic;
      continue;
    }
    auto number = sim::ParseInRange(value, 0, int64_t{1} << 40);
    if (!number) return *error = "bad header field " + w, false;
    if (key == "baud") capture->config.baud = static_cast<int>(*number);
    if (key == "reply-timeout-us") capture->config.reply_timeout_us = *number;
    if (key == "quiet-us") capture->config.quiet_us = *number;
  }
  int line_number = 1;
  while (std::getline(in, line)) {
    ++line_number;
    words = sim::SplitWords(line);
    if (words.empty() || words[0][0] == '#') continue;
    auto t = sim::ParseInRange(words[0], 0, INT64_MAX);
    if (!t) return *error = "line " + std::to_string(line_number) + ": bad time", false;
    if (words.size() == 2 && words[1] == "end") {
      capture->end_us = *t;
      continue;
    }
    if (words.size() != 3 || (words[1] != ">" && words[1] != "<")) {
      return *error = "line " + std::to_string(line_number) + ": expected TIME >|< HEX", false;
    }
    auto bytes = sim::ParseHex(words[2]);
    if (!bytes) return *error = "line " + std::to_string(line_number) + ": bad hex", false;
    capture->chunks.push_back(
        {words[1] == ">" ? Dir::kToTerminal : Dir::kToPc, *t, std::move(*bytes)});
  }
  return true;
}

bool ReadHexDump(std::istream &in, Capture *capture, std::string *error) {
  capture->config.timing = false;
  Dir dir = Dir::kToTerminal;
  std::string line;
  int line_number = 0;
  while (std::getline(in, line)) {
    ++line_number;
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    size_t at = line.find_first_not_of(" \t\r");
    if (at == std::string::npos) continue;
    if (line[at] == '>' || line[at] == '<') {
      dir = line[at] == '>' ? Dir::kToTerminal : Dir::kToPc;
      ++at;
    }
    std::string digits;
    for (size_t i = at; i < line.size(); ++i) {
      if (line[i] != ' ' && line[i] != '\t' && line[i] != '\r') digits += line[i];
    }
    if (digits.empty()) continue;
    auto bytes = sim::ParseHex(digits);
    if (!bytes) return *error = "line " + std::to_string(line_number) + ": bad hex", false;
    capture->chunks.push_back({dir, 0, std::move(*bytes)});
  }
  return true;
}

}  // namespace quiblink::monitor
