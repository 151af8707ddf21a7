#include "monitor/capture.h"

#include <cerrno>
#include <cstring>

namespace quiblink::monitor {

namespace {
constexpr const char *kMagic = "quiblink-capture";

int HexDigit(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string FamilyWord(const std::optional<Family> &family) {
  return family ? wire::FamilyName(*family) : "auto";
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

int CaptureReader::Peek() {
  if (at_ == filled_) {
    if (!in_) return -1;
    in_.read(buffer_, sizeof buffer_);
    filled_ = static_cast<size_t>(in_.gcount());
    at_ = 0;
    if (filled_ == 0) return -1;
  }
  return static_cast<unsigned char>(buffer_[at_]);
}

int CaptureReader::Get() {
  const int c = Peek();
  if (c >= 0) ++at_;
  return c;
}

void CaptureReader::SkipBlanks() {
  for (int c = Peek(); c == ' ' || c == '\t' || c == '\r'; c = Peek()) Get();
}

void CaptureReader::SkipLine() {
  for (int c = Get(); c >= 0 && c != '\n'; c = Get()) {
  }
  in_line_ = false;
}

// A word of at most longest characters (the rest of a longer one is dropped, which makes it no
// word the caller accepts).
std::string CaptureReader::Word(size_t longest) {
  std::string word;
  for (int c = Peek(); c >= 0 && c != ' ' && c != '\t' && c != '\r' && c != '\n'; c = Peek()) {
    Get();
    if (word.size() <= longest) word += static_cast<char>(c);
  }
  return word;
}

bool CaptureReader::LineFailed(const std::string &what, std::string *error) {
  *error = "line " + std::to_string(line_) + ": " + what;
  return false;
}

bool CaptureReader::Start(DecoderConfig *config, std::string *error) {
  if (hex_) {
    config->timing = false;
    return true;
  }
  line_ = 1;
  std::string header;
  for (int c = Get(); c >= 0 && c != '\n'; c = Get()) {
    if (header.size() < 1024) header += static_cast<char>(c);
  }
  if (header.empty() && Peek() < 0) return *error = "empty capture", false;
  std::vector<std::string> words = wire::SplitWords(header);
  if (words.size() < 2 || words[0] != kMagic || words[1] != "1") {
    return *error = "not a capture (no \"quiblink-capture 1\" line); --hex reads a hex dump", false;
  }
  for (size_t i = 2; i < words.size(); ++i) {
    const std::string &w = words[i];
    size_t eq = w.find('=');
    if (eq == std::string::npos) continue;
    std::string key = w.substr(0, eq), value = w.substr(eq + 1);
    if (key == "family") {
      if (value == "classic") config->family = Family::kClassic;
      if (value == "graphic") config->family = Family::kGraphic;
      continue;
    }
    auto number = wire::ParseInRange(value, 0, int64_t{1} << 40);
    if (!number) return *error = "bad header field " + w, false;
    if (key == "baud") config->baud = static_cast<int>(*number);
    if (key == "reply-timeout-us") config->reply_timeout_us = *number;
    if (key == "quiet-us") config->quiet_us = *number;
  }
  return true;
}

bool CaptureReader::TakeHex(CaptureChunk *chunk, bool spaces_inside, std::string *error) {
  chunk->bytes.clear();
  int high = -1;
  for (;;) {
    int c = Peek();
    if (spaces_inside && (c == ' ' || c == '\t' || c == '\r')) {
      Get();
      continue;
    }
    if (spaces_inside && c == '#') {  // a comment to the end of the line
      while (Peek() >= 0 && Peek() != '\n') Get();
      c = Peek();
    }
    if (c < 0 || c == '\n' || (!spaces_inside && (c == ' ' || c == '\t' || c == '\r'))) {
      if (high >= 0) return LineFailed("bad hex", error);
      in_line_ = false;
      return false;
    }
    const int v = HexDigit(c);
    if (v < 0) return LineFailed("bad hex", error);
    Get();
    if (high < 0) {
      high = v;
      continue;
    }
    chunk->bytes.push_back(static_cast<uint8_t>(high << 4 | v));
    high = -1;
    if (chunk->bytes.size() == kPiece) {
      in_line_ = true;
      return true;
    }
  }
}

bool CaptureReader::NextCaptureLine(CaptureChunk *chunk, std::string *error) {
  for (;;) {
    if (in_line_) {
      chunk->dir = dir_;
      chunk->t_us = t_us_;
      const bool more = TakeHex(chunk, false, error);
      if (!error->empty()) return false;
      if (!more) {
        SkipBlanks();
        if (Peek() >= 0 && Peek() != '\n') return LineFailed("expected TIME >|< HEX", error);
        SkipLine();
      }
      if (!chunk->bytes.empty()) return true;
      continue;
    }
    if (Peek() < 0) return false;
    ++line_;
    SkipBlanks();
    if (Peek() == '\n' || Peek() == '#' || Peek() < 0) {
      SkipLine();
      continue;
    }
    auto t = wire::ParseInRange(Word(24), 0, INT64_MAX);
    if (!t) return LineFailed("bad time", error);
    SkipBlanks();
    const std::string what = Word(8);
    SkipBlanks();
    if (what == "end" && (Peek() < 0 || Peek() == '\n')) {
      end_us_ = *t;
      SkipLine();
      continue;
    }
    if ((what != ">" && what != "<") || Peek() < 0 || Peek() == '\n') {
      return LineFailed("expected TIME >|< HEX", error);
    }
    dir_ = what == ">" ? Dir::kToTerminal : Dir::kToPc;
    t_us_ = *t;
    in_line_ = true;
  }
}

bool CaptureReader::NextDumpLine(CaptureChunk *chunk, std::string *error) {
  for (;;) {
    if (in_line_) {
      chunk->dir = dir_;
      chunk->t_us = 0;
      const bool more = TakeHex(chunk, true, error);
      if (!error->empty()) return false;
      if (!more) SkipLine();
      if (!chunk->bytes.empty()) return true;
      continue;
    }
    if (Peek() < 0) return false;
    ++line_;
    SkipBlanks();
    if (Peek() == '>' || Peek() == '<') dir_ = Get() == '>' ? Dir::kToTerminal : Dir::kToPc;
    in_line_ = true;
  }
}

bool CaptureReader::Next(CaptureChunk *chunk, std::string *error) {
  error->clear();
  return hex_ ? NextDumpLine(chunk, error) : NextCaptureLine(chunk, error);
}

}  // namespace quiblink::monitor
