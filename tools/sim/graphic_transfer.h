// Block transfers of the graphic terminal: serving a block read reply by reply, and putting a
// chunked write back together.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <utility>

#include "sim/wire_names.h"

namespace quiblink::sim::graphic {

struct Contents {
  std::map<uint16_t, Bytes> groups;  // grouped area; never holds group 0 or an empty group
  std::map<uint8_t, Bytes> areas;    // plain areas 3..6 and 240..242
  std::map<std::pair<uint8_t, uint8_t>, Bytes> os;  // (subcommand 'a'/'b', option 0x00/0x80)
};

struct Block {
  uint16_t group = 0;  // grouped area: the group the data belongs to; 0 in the closing reply
  uint8_t flag = 0;    // 2 on the last block of a group or area
  uint8_t sequence = 0;
  Bytes data;
};

class BlockReader {
 public:
  // A request with continuation flag 0 starts a read. Group 0 of the grouped area walks every
  // group in ascending order and ends with a closing reply of group 0 and no data.
  void Start(uint8_t area, uint16_t group, const Contents &contents);
  // A request with flag 1 continues the read it names.
  bool Continues(uint8_t area, uint16_t group) const;
  Block Next(const Contents &contents);

 private:
  bool active_ = false;
  uint8_t area_ = 0;
  uint16_t requested_group_ = 0;
  std::deque<uint16_t> walk_;
  size_t offset_ = 0;
  uint8_t sequence_ = 0;
};

class ChunkAssembler {
 public:
  enum class Result { kAccepted, kCommitted, kOutOfSequence, kBadFlag, kTooLarge };

  static constexpr size_t kMaxContent = 64u << 20;

  // Chunks carry sequence numbers from 0 (modulo 256) and continuation flags 0 (first), 1
  // (middle) and 2 (last); a lone chunk carries 2 with sequence 0. On kCommitted, *content holds
  // the whole transfer.
  Result Take(uint8_t command, uint8_t subcommand, uint16_t field, uint8_t flag, uint8_t sequence,
              const uint8_t *data, size_t size, Bytes *content);

 private:
  bool Continues(uint8_t command, uint8_t subcommand, uint16_t field, uint8_t sequence) const;

  bool active_ = false;
  uint8_t command_ = 0;
  uint8_t subcommand_ = 0;
  uint16_t field_ = 0;
  uint8_t next_sequence_ = 0;
  Bytes data_;
};

}  // namespace quiblink::sim::graphic
