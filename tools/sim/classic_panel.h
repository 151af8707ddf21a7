// A classic panel: memory addressed by the ASCII read/write protocol, answered with data, ACK
// or NAK.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/terminal.h"
#include "wire/classic_frame.h"

namespace quiblink::sim {

class ClassicPanel : public Terminal {
 public:
  struct Region {
    std::string name;
    uint32_t start;  // wire address of the first byte
    Bytes data;
    bool writable;
  };
  struct Counters {
    unsigned reads = 0;
    unsigned writes = 0;
    unsigned naks = 0;
    unsigned preamble_writes = 0;
  };

  static constexpr uint32_t kPreambleAddress = 0x805C;
  static constexpr uint32_t kGapStart = 0x8FF8;  // 0x8FF8..0x8FFF: never addressed
  static constexpr uint32_t kGapEnd = 0x9000;

  // Model codes 0 to 3; see README.md for the memory map of each.
  explicit ClassicPanel(int model);

  int model() const { return model_; }
  const std::vector<Region> &regions() const { return regions_; }
  const Counters &counters() const { return counters_; }

  // Memory access by wire address, in memory order; false when a byte lies outside memory.
  bool Peek(uint32_t address, size_t count, Bytes *out) const;
  bool Poke(uint32_t address, const Bytes &data);

  Family family() const override { return Family::kClassic; }
  RequestKey Classify(const Bytes &request) const override;
  Reply Handle(const Bytes &request) override;
  std::string DescribeRequest(const Bytes &request) const override;
  std::string DescribeReply(const Bytes &reply) const override;
  Image ToImage() const override;
  std::string FromImage(const Image &image) override;
  bool TakeDirty() override;
  std::optional<std::string> Control(const std::vector<std::string> &words) override;

 private:
  using Request = classic::Request;
  // Returns an empty text and fills the request, or says why the panel refuses it.
  std::string Parse(const Bytes &frame, Request *request) const;
  Region *Find(uint32_t address, size_t count, bool for_write);
  const Region *Find(uint32_t address, size_t count) const;
  Reply Nak(std::string why);

  int model_;
  std::vector<Region> regions_;
  Counters counters_;
  bool dirty_ = false;
};

}  // namespace quiblink::sim
