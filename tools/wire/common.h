// The tools' shared vocabulary: byte strings, time, the two terminal families, numbers and words
// as a person types them, little-endian fields.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quiblink::wire {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Nanos = std::chrono::nanoseconds;

enum class Family { kClassic, kGraphic };

const char *FamilyName(Family family);

// printf into a string, of whatever length it takes.
template <class... Args>
std::string Format(const char *format, Args... args) {
  const int size = std::snprintf(nullptr, 0, format, args...);
  std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  return text;
}

// Decimal, or hexadecimal with a 0x prefix; an optional leading '-'. No octal: "0100" is 100.
// nullopt on anything else, or on a value that does not fit in a long long.
std::optional<long long> ParseNumber(std::string_view text);

// ParseNumber, and nullopt unless the value lies in [low, high].
std::optional<long long> ParseInRange(std::string_view text, long long low, long long high);

std::vector<std::string> SplitWords(std::string_view text);

inline uint16_t GetLe16(const uint8_t *p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
void PutLe16(Bytes &out, uint16_t value);
void PutLe32(Bytes &out, uint32_t value);

}  // namespace quiblink::wire
