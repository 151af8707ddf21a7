// The fuzzer's bytes, read from the front: choices, numbers and byte runs.
// Once the bytes run out every choice is its lowest value and every run is
// empty, so any input, however short, decides a whole execution.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace fuzz {

// A broken promise of the library: report and abort, so that the fuzzer keeps
// the input and a replay run fails.
[[noreturn]] inline void Fail(const char *file, int line, const std::string &what) {
  fprintf(stderr, "%s:%d: %s\n", file, line, what.c_str());
  fflush(stderr);
  abort();
}
#define FUZZ_CHECK(cond, what)                                        \
  do {                                                                \
    if (!(cond)) ::fuzz::Fail(__FILE__, __LINE__, std::string(what)); \
  } while (0)

class Input {
 public:
  Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return at_ >= size_; }
  size_t Left() const { return size_ - at_; }

  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t U16() {
    uint16_t lo = Byte();
    return static_cast<uint16_t>(lo | (Byte() << 8));
  }
  uint32_t U32() {
    uint32_t lo = U16();
    return lo | (static_cast<uint32_t>(U16()) << 16);
  }
  bool Bool() { return (Byte() & 1) != 0; }

  // lo..hi inclusive, reading only as many bytes as the span needs.
  uint32_t Range(uint32_t lo, uint32_t hi) {
    if (hi <= lo) return lo;
    const uint64_t span = uint64_t(hi) - lo + 1;
    uint64_t raw;
    if (span <= 0x100) {
      raw = Byte();
    } else if (span <= 0x10000) {
      raw = U16();
    } else {
      raw = U32();
    }
    return lo + static_cast<uint32_t>(raw % span);
  }

  // Up to n bytes; fewer when the input runs out.
  std::vector<uint8_t> Bytes(size_t n) {
    if (n > Left()) n = Left();
    std::vector<uint8_t> out(data_ + at_, data_ + at_ + n);
    at_ += n;
    return out;
  }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t at_ = 0;
};

// The next piece of a reply to reach the port worker: as many bytes as the
// input chooses, up to most, never past the reply's end nor past room bytes in
// all. False once nothing more can arrive.
inline bool NextPiece(Input &in, const std::vector<uint8_t> &reply, size_t room, uint32_t most,
                      std::vector<uint8_t> *got) {
  const size_t have = got->size();
  if (have >= reply.size() || have >= room) return false;
  size_t take = in.Range(1, most);
  if (take > room - have) take = room - have;
  if (take > reply.size() - have) take = reply.size() - have;
  got->insert(got->end(), reply.begin() + static_cast<long>(have),
              reply.begin() + static_cast<long>(have + take));
  return true;
}

}  // namespace fuzz
