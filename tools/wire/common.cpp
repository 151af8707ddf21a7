#include "wire/common.h"

#include <cctype>
#include <charconv>

namespace quiblink::wire {

const char *FamilyName(Family family) {
  return family == Family::kClassic ? "classic" : "graphic";
}

std::optional<long long> ParseNumber(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  // from_chars takes a sign of its own; only the one read above is allowed.
  if (text.empty() || text.front() == '-') return std::nullopt;
  long long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return negative ? -value : value;
}

std::optional<long long> ParseInRange(std::string_view text, long long low, long long high) {
  std::optional<long long> value = ParseNumber(text);
  if (!value || *value < low || *value > high) return std::nullopt;
  return value;
}

std::vector<std::string> SplitWords(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    size_t start = i;
    while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i > start) words.emplace_back(text.substr(start, i - start));
  }
  return words;
}

void PutLe16(Bytes &out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value & 0xFF));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutLe32(Bytes &out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace quiblink::wire
