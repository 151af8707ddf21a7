#include "sim/graphic_transfer.h"

#include <algorithm>

#include "wire/graphic_frame.h"

namespace quiblink::sim::graphic {

namespace {
const Bytes *Find(const Contents &contents, uint8_t area, uint16_t group) {
  if (area == kGroupedArea) {
    auto it = contents.groups.find(group);
    return it == contents.groups.end() ? nullptr : &it->second;
  }
  auto it = contents.areas.find(area);
  return it == contents.areas.end() ? nullptr : &it->second;
}
}  // namespace

void BlockReader::Start(uint8_t area, uint16_t group, const Contents &contents) {
  active_ = true;
  area_ = area;
  requested_group_ = area == kGroupedArea ? group : 0;
  walk_.clear();
  if (area == kGroupedArea && group == 0) {
    for (const auto &entry : contents.groups) walk_.push_back(entry.first);
  } else {
    walk_.push_back(requested_group_);
  }
  offset_ = 0;
  sequence_ = 0;
}

bool BlockReader::Continues(uint8_t area, uint16_t group) const {
  return active_ && area == area_ && (area != kGroupedArea || group == requested_group_);
}

Block BlockReader::Next(const Contents &contents) {
  Block block;
  if (walk_.empty()) {  // every group served: the closing reply
    active_ = false;
    block.flag = 2;
    return block;
  }
  block.group = area_ == kGroupedArea ? walk_.front() : 0;
  const Bytes *content = Find(contents, area_, walk_.front());
  size_t size = content ? content->size() : 0;
  size_t start = std::min(offset_, size);
  size_t count = std::min(kMaxBlock, size - start);
  if (count) block.data.assign(content->begin() + start, content->begin() + start + count);
  bool last = start + count >= size;
  block.flag = last ? 2 : (sequence_ == 0 ? 0 : 1);
  block.sequence = sequence_++;
  offset_ = start + count;
  if (last) {
    walk_.pop_front();
    offset_ = 0;
    sequence_ = 0;
    bool read_all = area_ == kGroupedArea && requested_group_ == 0;
    if (!read_all) active_ = false;
  }
  return block;
}

bool ChunkAssembler::Continues(uint8_t command, uint8_t subcommand, uint16_t field,
                               uint8_t sequence) const {
  return active_ && command == command_ && subcommand == subcommand_ && field == field_ &&
         sequence == next_sequence_;
}

ChunkAssembler::Result ChunkAssembler::Take(uint8_t command, uint8_t subcommand, uint16_t field,
                                            uint8_t flag, uint8_t sequence, const uint8_t *data,
                                            size_t size, Bytes *content) {
  if (flag > 2) {
    active_ = false;
    return Result::kBadFlag;
  }
  bool continues = Continues(command, subcommand, field, sequence);
  // After 256 chunks the sequence wraps to 0 again, so a last chunk with sequence 0 ends a
  // transfer that is waiting for exactly that number.
  bool starts = flag == 0 || (flag == 2 && sequence == 0 && !continues);
  if (starts) {
    if (sequence != 0) {
      active_ = false;
      return Result::kOutOfSequence;
    }
    active_ = true;
    command_ = command;
    subcommand_ = subcommand;
    field_ = field;
    next_sequence_ = 0;
    data_.clear();
  } else if (!continues) {
    active_ = false;
    return Result::kOutOfSequence;
  }
  if (data_.size() + size > kMaxContent) {
    active_ = false;
    return Result::kTooLarge;
  }
  data_.insert(data_.end(), data, data + size);
  next_sequence_ = static_cast<uint8_t>(sequence + 1);
  if (flag != 2) return Result::kAccepted;
  active_ = false;
  *content = std::move(data_);
  data_.clear();
  return Result::kCommitted;
}

}  // namespace quiblink::sim::graphic
