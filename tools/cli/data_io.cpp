#include "data_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "failure.h"

namespace quiblink::cli {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Format(const char *format, auto... args) {
  char text[64];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

}  // namespace

std::optional<long long> ParseNumber(std::string_view text) {
  bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 15) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    int digit = HexDigit(c);
    if (digit < 0 || digit >= base) return std::nullopt;
    value = value * base + digit;
  }
  return negative ? -value : value;
}

std::optional<Bytes> ParseHexString(std::string_view text) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  Bytes out;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == '\n' || c == '\t' || c == '\r') continue;
    int digit = HexDigit(c);
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

Bytes ReadInput(const std::string &path) {
  if (path == "-") {
    std::cin >> std::noskipws;
    return Bytes(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ToolError("cannot read " + path + ": " + std::strerror(errno));
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteOutput(const std::string &path, std::span<const uint8_t> data) {
  if (path == "-") {
    std::cout.write(reinterpret_cast<const char *>(data.data()),
                    static_cast<std::streamsize>(data.size()));
    std::cout.flush();
    if (!std::cout) throw ToolError("cannot write to standard output");
    return;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) {
    out.write(reinterpret_cast<const char *>(data.data()),
              static_cast<std::streamsize>(data.size()));
    out.close();
  }
  if (!out) throw ToolError("cannot write " + path + ": " + std::strerror(errno));
}

std::string HexDump(std::span<const uint8_t> data, long long base) {
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

std::string WordDump(std::span<const uint8_t> data, long long base, bool big_endian) {
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

std::string FormatSize(double bytes) {
  if (bytes < 1024) return Format("%.0f B", bytes);
  if (bytes < 1024 * 1024) return Format("%.1f KiB", bytes / 1024);
  return Format("%.1f MiB", bytes / (1024 * 1024));
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      out += Format("\\u%04x", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace quiblink::cli
