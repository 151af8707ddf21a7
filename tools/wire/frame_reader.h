// Cuts a byte stream into frames: the PC's requests, as the terminal's receiver does, or the
// terminal's replies, as a line monitor sees them.
#pragma once

#include <chrono>
#include <optional>
#include <vector>

#include "wire/common.h"

namespace quiblink::wire {

struct Frame {
  Bytes bytes;
  TimePoint first_byte;  // when the frame's first byte was read
  TimePoint last_byte;   // when its last byte was read
};

// Which way the bytes go: requests start with STX (classic) or 0xFE (graphic); replies with
// STX, or are the single byte ACK or NAK (classic), or start with 0xFF (graphic).
enum class Side { kRequests, kReplies };

// Classic: STX up to ETX and the two checksum digits; an STX inside a frame starts a new one.
// Graphic: 0xFE (0xFF for replies), a length field of 6 to 1034 (or the given largest), then
// that many bytes. Anything outside a frame,
// and a partial frame left silent for longer than the stale time, is dropped as junk.
class FrameReader {
 public:
  static constexpr size_t kMaxClassicFrame = 160;
  static constexpr uint16_t kMinGraphicLength = 6;
  static constexpr uint16_t kMaxGraphicLength = 1034;

  explicit FrameReader(Family family,
                       std::chrono::milliseconds stale = std::chrono::milliseconds(1000),
                       Side side = Side::kRequests,
                       uint16_t max_graphic_length = kMaxGraphicLength);

  void Feed(const uint8_t *data, size_t size, TimePoint now, std::vector<Frame> *frames,
            Bytes *junk);
  // Drops a partial frame that has been silent past the stale time.
  void Expire(TimePoint now, Bytes *junk);
  std::optional<TimePoint> StaleDeadline() const;
  bool Partial() const { return !partial_.empty(); }
  // Hands over a partial frame and forgets it (the other side has moved on).
  Bytes TakePartial();
  TimePoint partial_start() const { return first_; }
  TimePoint partial_last() const { return last_; }

 private:
  void FeedByte(uint8_t b, TimePoint now, std::vector<Frame> *frames, Bytes *junk);
  void FeedClassic(uint8_t b, TimePoint now, std::vector<Frame> *frames, Bytes *junk);
  void FeedGraphic(uint8_t b, TimePoint now, std::vector<Frame> *frames, Bytes *junk);
  void Complete(std::vector<Frame> *frames);
  void Start(uint8_t b, TimePoint now);

  Family family_;
  std::chrono::milliseconds stale_;
  Side side_;
  uint16_t max_graphic_length_;
  Bytes partial_;
  TimePoint first_{};
  TimePoint last_{};
  int checksum_digits_seen_ = -1;  // classic: -1 until ETX
};

}  // namespace quiblink::wire
