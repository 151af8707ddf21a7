// Bytes in and out of the tool: files, standard streams, sizes and counts. Numbers and hex as a
// person types them, and the dumps, are the wire library's.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "wire/hex.h"

namespace quiblink::cli {

using Bytes = std::vector<uint8_t>;
using wire::HexLines;
using wire::ParseHex;
using wire::ParseNumber;
using wire::WordLines;

// "-" is the standard stream. A file must be a regular file of at most limit bytes; standard
// input is read up to limit bytes. Throws UsageError for what is too large or no regular file,
// ToolError naming the file when it cannot be read.
Bytes ReadInput(const std::string &path, uint64_t limit);

// Checks before a transfer that path can take its output: its folder exists and can be
// written, and it is not a folder itself. "-" always can. Throws ToolError.
void CheckOutputPath(const std::string &path);

// "-" is standard output. A file is written to a temporary in the same folder, flushed to the
// disk and renamed over path: on any failure path keeps what it held and the temporary is
// removed. Throws ToolError naming the file and the reason.
void WriteOutput(const std::string &path, std::span<const uint8_t> data);

// Room for a block read of up to capacity bytes that costs memory only for what arrives: the
// pages are reserved, not touched, so a large --max-size is no large allocation.
class ReadBuffer {
 public:
  explicit ReadBuffer(size_t capacity);
  ~ReadBuffer();
  ReadBuffer(const ReadBuffer &) = delete;
  ReadBuffer &operator=(const ReadBuffer &) = delete;

  std::span<uint8_t> span() { return {data_, capacity_}; }
  Bytes Take(size_t size) const { return Bytes(data_, data_ + size); }

 private:
  uint8_t *data_ = nullptr;
  size_t capacity_;
};

// "0x84", "0x00": at least two upper-case digits; a negative value keeps its sign.
std::string HexCode(long long value);

// "1 byte", "2 bytes".
std::string CountOf(uint64_t count, const std::string &singular, const std::string &plural);
inline std::string ByteCount(uint64_t count) {
  return CountOf(count, "byte", "bytes");
}

// "16.0 KiB", "512 B".
std::string FormatSize(double bytes);

}  // namespace quiblink::cli
