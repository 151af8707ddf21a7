#include "wire/frame_reader.h"

namespace quiblink::wire {

namespace {
constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kGraphicStart = 0xFE;
constexpr uint8_t kGraphicReplyStart = 0xFF;
}  // namespace

FrameReader::FrameReader(Family family, std::chrono::milliseconds stale, Side side,
                         uint16_t max_graphic_length)
    : family_(family), stale_(stale), side_(side), max_graphic_length_(max_graphic_length) {}

Bytes FrameReader::TakePartial() {
  Bytes out = std::move(partial_);
  partial_.clear();
  return out;
}

void FrameReader::Feed(const uint8_t *data, size_t size, TimePoint now, std::vector<Frame> *frames,
                       Bytes *junk) {
  Expire(now, junk);
  for (size_t i = 0; i < size; ++i) FeedByte(data[i], now, frames, junk);
}

void FrameReader::Expire(TimePoint now, Bytes *junk) {
  if (partial_.empty() || now - last_ <= stale_) return;
  junk->insert(junk->end(), partial_.begin(), partial_.end());
  partial_.clear();
}

std::optional<TimePoint> FrameReader::StaleDeadline() const {
  if (partial_.empty()) return std::nullopt;
  return last_ + stale_ + std::chrono::milliseconds(1);
}

void FrameReader::FeedByte(uint8_t b, TimePoint now, std::vector<Frame> *frames, Bytes *junk) {
  if (family_ == Family::kClassic) {
    FeedClassic(b, now, frames, junk);
  } else {
    FeedGraphic(b, now, frames, junk);
  }
}

void FrameReader::Start(uint8_t b, TimePoint now) {
  partial_.assign(1, b);
  first_ = now;
  last_ = now;
  checksum_digits_seen_ = -1;
}

void FrameReader::Complete(std::vector<Frame> *frames) {
  frames->push_back(Frame{std::move(partial_), first_, last_});
  partial_.clear();
}

void FrameReader::FeedClassic(uint8_t b, TimePoint now, std::vector<Frame> *frames, Bytes *junk) {
  if (b == kStx) {
    junk->insert(junk->end(), partial_.begin(), partial_.end());
    Start(b, now);
    return;
  }
  if (partial_.empty()) {
    if (side_ == Side::kReplies && (b == kAck || b == kNak)) {
      Start(b, now);
      Complete(frames);
      return;
    }
    junk->push_back(b);
    return;
  }
  partial_.push_back(b);
  last_ = now;
  if (checksum_digits_seen_ >= 0) {
    if (++checksum_digits_seen_ == 2) Complete(frames);
  } else if (b == kEtx) {
    checksum_digits_seen_ = 0;
  } else if (partial_.size() > kMaxClassicFrame) {
    junk->insert(junk->end(), partial_.begin(), partial_.end());
    partial_.clear();
  }
}

void FrameReader::FeedGraphic(uint8_t b, TimePoint now, std::vector<Frame> *frames, Bytes *junk) {
  if (partial_.empty()) {
    if (b == (side_ == Side::kReplies ? kGraphicReplyStart : kGraphicStart)) {
      Start(b, now);
    } else {
      junk->push_back(b);
    }
    return;
  }
  partial_.push_back(b);
  last_ = now;
  if (partial_.size() < 3) return;
  uint16_t length = GetLe16(&partial_[1]);
  if (length < kMinGraphicLength || length > max_graphic_length_) {
    // Not a start byte after all: drop it and look for one in what followed.
    junk->push_back(partial_[0]);
    Bytes rest(partial_.begin() + 1, partial_.end());
    partial_.clear();
    for (uint8_t r : rest) FeedGraphic(r, now, frames, junk);
    return;
  }
  if (partial_.size() == static_cast<size_t>(length) + 3) Complete(frames);
}

}  // namespace quiblink::wire
