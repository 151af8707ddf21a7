#include "wire/hex.h"

namespace quiblink::wire {

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";
}  // namespace

int HexDigitValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string HexDump(std::span<const uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 3);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) text.push_back(' ');
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return text;
}

std::string HexCompact(std::span<const uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
}

std::optional<Bytes> ParseHex(std::string_view text) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  Bytes out;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == '\n' || c == '\t' || c == '\r') continue;
    int digit = HexDigitValue(c);
    if (digit < 0) return std::nullopt;
    if (high < 0) {
      high = digit;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return out;
}

std::string Printable(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += Format("\\x%02X", c);
    }
  }
  return out;
}

std::string HexLines(std::span<const uint8_t> data, long long base) {
  std::string out;
  for (size_t line = 0; line < data.size(); line += 16) {
    out += Format("%08llX ", static_cast<unsigned long long>(base + static_cast<long long>(line)));
    std::string text;
    for (size_t i = line; i < line + 16; ++i) {
      if (i == line + 8) out += ' ';
      if (i < data.size()) {
        out += Format(" %02X", data[i]);
        text += data[i] >= 0x20 && data[i] < 0x7F ? static_cast<char>(data[i]) : '.';
      } else {
        out += "   ";
      }
    }
    out += "  |" + text + "|\n";
  }
  return out;
}

std::string WordLines(std::span<const uint8_t> data, long long base, bool big_endian) {
  std::string out;
  for (size_t line = 0; line < data.size(); line += 16) {
    out += Format("%08llX ", static_cast<unsigned long long>(base + static_cast<long long>(line)));
    for (size_t i = line; i < line + 16 && i < data.size(); i += 2) {
      if (i + 1 == data.size()) {
        out += Format(" %02X", data[i]);
        break;
      }
      unsigned word = big_endian ? (data[i] << 8 | data[i + 1]) : (data[i + 1] << 8 | data[i]);
      out += Format(" %04X", word);
    }
    out += '\n';
  }
  return out;
}

}  // namespace quiblink::wire
