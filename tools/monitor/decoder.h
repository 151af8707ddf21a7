// What a line monitor makes of the bytes between a PC program and a terminal: frames per
// direction, each with its fields, its checksum, its reply latency and the rules it breaks.
//
// The decoder is fed the bytes of each read with the time they were read, and is told when time
// passes; everything it reports follows from those two inputs alone, so a capture replayed
// through it gives the same records as the live line did.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "wire/classic_frame.h"
#include "wire/common.h"
#include "wire/frame_reader.h"

namespace quiblink::monitor {

using wire::Bytes;
using wire::Family;

enum class Dir { kToTerminal, kToPc };

// Rules the monitor flags, as they appear in its output.
namespace rule {
constexpr const char *kQuietTime = "quiet-time";        // request too soon after an exchange
constexpr const char *kReplyTimeout = "reply-timeout";  // no reply byte in time
constexpr const char *kLateReply = "late-reply";        // a reply after its time-out
constexpr const char *kStalled = "stalled";             // a frame went silent part-way
constexpr const char *kIncomplete = "incomplete";       // a reply cut short by the next request
constexpr const char *kAttempt = "attempt";             // a request repeated after a failure
constexpr const char *kEcho = "echo";                   // a reply that does not echo its request
constexpr const char *kSequence = "sequence";           // sequence number or flag out of step
constexpr const char *kChunkSize = "chunk-size";        // a write chunk above the largest
constexpr const char *kNak = "nak";
constexpr const char *kChecksum = "checksum";
constexpr const char *kLength = "length";            // length field or data count that does not fit
constexpr const char *kEtx = "etx";                  // classic: no ETX before the checksum digits
constexpr const char *kStatus = "status";            // the terminal refused (non-zero status byte)
constexpr const char *kBadStart = "bad-start";       // reply bytes that start no reply frame
constexpr const char *kUnanswered = "unanswered";    // a new request while one awaited its reply
constexpr const char *kUnsolicited = "unsolicited";  // a reply with no request
constexpr const char *kNoise = "noise";              // bytes outside any frame
constexpr const char *kMalformed = "malformed";      // a frame whose fields do not parse
}  // namespace rule

struct Flag {
  std::string rule;
  std::string detail;
};

struct Record {
  enum class Kind { kFrame, kNoise, kEvent };
  Kind kind = Kind::kFrame;
  int64_t t_us = 0;  // first byte of a frame or of noise; the moment of an event
  Dir dir = Dir::kToTerminal;
  std::optional<Family> family;
  Bytes bytes;
  std::string command;                                      // command name of a frame
  std::vector<std::pair<std::string, std::string>> fields;  // in order of the frame
  int checksum = -1;                                        // 1 good, 0 bad, -1 none
  int64_t latency_us = -1;  // replies: from the request's last byte to the reply's first
  std::string note;         // what an event or a noise record is
  std::vector<Flag> flags;
};

struct Summary {
  uint64_t exchanges = 0;  // requests answered, refused or timed out
  uint64_t attempts = 0;   // repeated requests
  uint64_t frames[2] = {0, 0};
  uint64_t bytes[2] = {0, 0};               // by direction, noise included
  std::map<std::string, uint64_t> flagged;  // by rule
  int64_t first_us = -1;
  int64_t last_us = 0;
  int baud = 0;
};

struct DecoderConfig {
  std::optional<Family> family;  // nullopt: told by the first frame
  int baud = 0;                  // 0: the family's usual speed
  int64_t reply_timeout_us = 10'000'000;
  int64_t quiet_us = 5'000;
  bool timing = true;  // false: the times mean nothing (a hex dump), check no timing rule
};

// The usual line speed of a family (classic panels always run at 9600).
int DefaultBaud(Family family);
int BitsPerCharacter(Family family);

class Decoder {
 public:
  static constexpr size_t kMaxChunk = 1024;
  static constexpr unsigned kMaxClassicCount = 64;
  // Graphic frames are cut up to this length field, above the largest valid one, so that an
  // oversized chunk still shows as one frame.
  static constexpr uint16_t kMaxCutLength = 8192;

  explicit Decoder(DecoderConfig config);

  void Feed(Dir dir, const uint8_t *data, size_t size, int64_t t_us, std::vector<Record> *out);
  // Time has reached t: reports the time-outs and stalls due by then, stamped with their due
  // time.
  void Advance(int64_t t_us, std::vector<Record> *out);
  std::optional<int64_t> NextDeadline() const;
  // The end of the session at t.
  void Finish(int64_t t_us, std::vector<Record> *out);
  // The end of the input: a frame still unfinished in either direction is reported cut short
  // (incomplete), as nothing more can come.
  void EndOfInput(std::vector<Record> *out);

  const Summary &summary() const { return summary_; }
  std::optional<Family> family() const { return config_.family; }
  const DecoderConfig &config() const { return config_; }
  // A baud-rate change the terminal has accepted since the last call, in baud; 0 if none.
  int TakeBaudChange() { return std::exchange(baud_change_, 0); }

 private:
  struct Pending {
    bool active = false;
    Bytes request;
    int64_t start_us = 0;
    int64_t end_us = 0;
    bool parsed = false;
    // graphic
    uint8_t command = 0, subcommand = 0, flag = 0, sequence = 0;
    uint16_t group = 0;
    // classic
    bool read = false;
    unsigned count = 0;
  };

  void Decide(Family family);
  void FeedKnown(Dir dir, const uint8_t *data, size_t size, int64_t t_us, std::vector<Record> *out);
  void OnReply(const wire::Frame &frame, std::vector<Record> *out);
  void OnRequest(const wire::Frame &frame, std::vector<Record> *out);
  void OnNoise(Dir dir, Bytes bytes, int64_t t_us, const std::string &note,
               std::vector<Record> *out);
  void DescribeGraphicRequest(Record &r, Pending &p, bool repeat);
  void DescribeClassicRequest(Record &r, Pending &p);
  void CheckGraphicReply(Record &r, bool answered);
  void CheckClassicReply(Record &r, bool answered);
  // A partial reply that the PC has given up on, as the record of a reply cut short.
  void CutShortReply(std::vector<Record> *out, const char *note = "cut short by the next request");
  void CloseExchange(int64_t end_us, bool failed);
  void Emit(Record r, std::vector<Record> *out);
  int64_t Us(wire::TimePoint t) const;
  wire::TimePoint At(int64_t t_us) const;

  DecoderConfig config_;
  std::optional<wire::FrameReader> requests_;
  std::optional<wire::FrameReader> replies_;
  Summary summary_;
  Pending pending_;
  // The exchange before: for the quiet time and for telling repeats.
  std::optional<int64_t> last_end_us_;
  Bytes last_request_;
  bool last_failed_ = false;
  bool last_timed_out_ = false;
  unsigned attempt_ = 1;
  // Block transfers in progress (graphic).
  bool write_active_ = false;
  uint8_t write_next_sequence_ = 0;
  bool read_active_ = false;
  uint8_t read_next_sequence_ = 0;
  uint16_t read_group_ = 0;
  int baud_change_ = 0;
};

}  // namespace quiblink::monitor
