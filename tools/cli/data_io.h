// Bytes in and out of the tool: files, standard streams, hex text, dumps, numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quiblink::cli {

using Bytes = std::vector<uint8_t>;

// Decimal, or hexadecimal with a 0x prefix; an optional leading '-'. No octal: "0100" is 100.
std::optional<long long> ParseNumber(std::string_view text);

// Pairs of hex digits; spaces, colons and a leading 0x are ignored. nullopt on anything else.
std::optional<Bytes> ParseHexString(std::string_view text);

// "-" is the standard stream. Throws ToolError naming the file.
Bytes ReadInput(const std::string &path);
void WriteOutput(const std::string &path, std::span<const uint8_t> data);

// "00000100  12 34 56 78 ...  |.4Vx|", sixteen bytes a line, addresses from base.
std::string HexDump(std::span<const uint8_t> data, long long base);

// "00000100  1234 5678 ...", eight 16-bit words a line; a trailing odd byte stands alone.
std::string WordDump(std::span<const uint8_t> data, long long base, bool big_endian);

// "16.0 KiB", "512 B".
std::string FormatSize(double bytes);

// The same as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);

}  // namespace quiblink::cli
