// Bytes as hex text and back: the dumps the tools print and the hex a person types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "wire/common.h"

namespace quiblink::wire {

// 0 to 15 for a hex digit of either case; -1 for any other character.
int HexDigitValue(int c);

// "02 45 30": every byte as two upper-case digits, separated by spaces.
std::string HexDump(std::span<const uint8_t> bytes);
inline std::string HexDump(const uint8_t *data, size_t size) {
  return HexDump(std::span<const uint8_t>(data, size));
}

// "024530": every byte as two upper-case digits, no separator.
std::string HexCompact(std::span<const uint8_t> bytes);

// Pairs of hex digits; spaces, tabs, line ends, colons and a leading 0x are ignored. nullopt on
// an odd digit count or on anything else.
std::optional<Bytes> ParseHex(std::string_view text);

// Bytes as a person can read them: printable ASCII as it is, any other byte as \xNN.
std::string Printable(std::string_view bytes);
// The same in double quotes: "AB\xE9".
inline std::string Quoted(std::string_view bytes) {
  return "\"" + Printable(bytes) + "\"";
}

// "00000100  12 34 56 78 ...  |.4Vx|", sixteen bytes a line, addresses from base.
std::string HexLines(std::span<const uint8_t> data, long long base);

// "00000100  1234 5678 ...", eight 16-bit words a line; a trailing odd byte stands alone.
std::string WordLines(std::span<const uint8_t> data, long long base, bool big_endian);

}  // namespace quiblink::wire
