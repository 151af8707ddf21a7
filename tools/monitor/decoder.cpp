#include "monitor/decoder.h"

#include <algorithm>
#include <cstdio>

#include "wire/graphic_frame.h"

namespace quiblink::monitor {

namespace g = wire::graphic;
namespace c = wire::classic;

namespace {
constexpr uint8_t kBaudChange = 0x71;
constexpr uint16_t kLargestFrameLength = 1034;
constexpr uint8_t kNakByte = 0x15;
constexpr int64_t kTickUs = 1000;

std::string Hex2(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", v & 0xFF);
  return text;
}

std::string HexN(unsigned v, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, v);
  return text;
}

// Whether the PC repeats a request after this reply: a reply lost, damaged or cut short, or a
// classic NAK. A reply that arrived whole but says the wrong thing (echo, sequence, status) ends
// the call, and so does a graphic reply that does not start as one.
bool Repeatable(const Record &r) {
  for (const Flag &f : r.flags) {
    const std::string &k = f.rule;
    if (k == rule::kReplyTimeout || k == rule::kStalled || k == rule::kIncomplete ||
        k == rule::kChecksum || k == rule::kLength || k == rule::kEtx) {
      return true;
    }
    if (k == rule::kNak && r.family == Family::kClassic) return true;
  }
  return false;
}

bool IsBlockTransferWrite(uint8_t command) {
  return command == g::kBlockWrite || command == g::kOsInstall;
}
}  // namespace

int DefaultBaud(Family family) {
  return family == Family::kClassic ? 9600 : 38400;
}

int BitsPerCharacter(Family family) {
  return family == Family::kClassic ? 10 : 11;
}

Decoder::Decoder(DecoderConfig config) : config_(std::move(config)) {
  if (config_.family) {
    Family family = *config_.family;
    config_.family.reset();
    Decide(family);
  }
  summary_.baud = config_.baud;
}

void Decoder::Decide(Family family) {
  config_.family = family;
  if (family == Family::kClassic) config_.baud = 9600;
  if (config_.baud == 0) config_.baud = DefaultBaud(family);
  summary_.baud = config_.baud;
  // Without timing, nothing goes stale: a hex dump has no times.
  const auto stale =
      config_.timing
          ? std::chrono::milliseconds(std::max<int64_t>(1, config_.reply_timeout_us / 1000))
          : std::chrono::milliseconds(int64_t{1} << 40);
  const uint16_t longest = family == Family::kGraphic ? kMaxCutLength : kLargestFrameLength;
  requests_.emplace(family, stale, wire::Side::kRequests, longest);
  replies_.emplace(family, stale, wire::Side::kReplies, longest);
}

int64_t Decoder::Us(wire::TimePoint t) const {
  return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

wire::TimePoint Decoder::At(int64_t t_us) const {
  return wire::TimePoint{} + std::chrono::microseconds(t_us);
}

void Decoder::Feed(Dir dir, const uint8_t *data, size_t size, int64_t t_us,
                   std::vector<Record> *out) {
  if (size == 0) return;
  if (summary_.first_us < 0) summary_.first_us = t_us;
  summary_.last_us = std::max(summary_.last_us, t_us);
  summary_.bytes[static_cast<int>(dir)] += size;
  Advance(t_us, out);
  size_t at = 0;
  if (!config_.family) {
    // The first byte that starts a frame tells the family; what comes before it is noise.
    for (; at < size && !config_.family; ++at) {
      uint8_t b = data[at];
      if (dir == Dir::kToTerminal) {
        if (b == g::kRequestStart) Decide(Family::kGraphic);
        if (b == c::kStx) Decide(Family::kClassic);
      } else {
        if (b == g::kReplyStart) Decide(Family::kGraphic);
        if (b == c::kStx || b == c::kAck || b == c::kNak) Decide(Family::kClassic);
      }
    }
    if (!config_.family) {
      OnNoise(dir, Bytes(data, data + size), t_us, "before the first frame", out);
      return;
    }
    --at;
    if (at > 0) OnNoise(dir, Bytes(data, data + at), t_us, "before the first frame", out);
  }
  FeedKnown(dir, data + at, size - at, t_us, out);
}

void Decoder::FeedKnown(Dir dir, const uint8_t *data, size_t size, int64_t t_us,
                        std::vector<Record> *out) {
  wire::FrameReader &reader = dir == Dir::kToTerminal ? *requests_ : *replies_;
  // Byte by byte, so that noise and frames are reported in the order they came.
  Bytes noise;
  std::vector<wire::Frame> frames;
  for (size_t i = 0; i < size; ++i) {
    reader.Feed(data + i, 1, At(t_us), &frames, &noise);
    if (frames.empty()) continue;
    if (!noise.empty()) OnNoise(dir, std::move(noise), t_us, "no frame", out);
    noise.clear();
    for (const wire::Frame &frame : frames) {
      if (dir == Dir::kToTerminal) {
        OnRequest(frame, out);
      } else {
        OnReply(frame, out);
      }
    }
    frames.clear();
  }
  if (!noise.empty()) OnNoise(dir, std::move(noise), t_us, "no frame", out);
}

void Decoder::OnNoise(Dir dir, Bytes bytes, int64_t t_us, const std::string &note,
                      std::vector<Record> *out) {
  Record r;
  r.kind = Record::Kind::kNoise;
  r.t_us = t_us;
  r.dir = dir;
  r.family = config_.family;
  r.bytes = std::move(bytes);
  r.note = note;
  if (dir == Dir::kToPc && pending_.active) {
    // The PC takes the first byte of a reply for its start: anything else ends the exchange.
    const bool nak = r.bytes.size() == 1 && r.bytes[0] == kNakByte;
    r.flags.push_back({nak ? rule::kNak : rule::kBadStart,
                       nak ? "NAK instead of a reply" : "reply starts with " + Hex2(r.bytes[0])});
    r.latency_us = t_us - pending_.end_us;
    CloseExchange(t_us, Repeatable(r));
  } else {
    r.flags.push_back({rule::kNoise, std::to_string(r.bytes.size()) + " bytes outside a frame"});
  }
  Emit(std::move(r), out);
}

void Decoder::OnRequest(const wire::Frame &frame, std::vector<Record> *out) {
  const int64_t t = Us(frame.first_byte);
  if (replies_->Partial()) CutShortReply(out);
  Record r;
  r.t_us = t;
  r.dir = Dir::kToTerminal;
  r.family = config_.family;
  r.bytes = frame.bytes;
  if (pending_.active) {
    // The terminal has not answered. A start request awaits no reply; any other was given up.
    const bool awaits_none = *config_.family == Family::kGraphic && pending_.command == g::kOffline;
    if (!awaits_none) r.flags.push_back({rule::kUnanswered, "the request before had no reply"});
    CloseExchange(pending_.end_us, !awaits_none);
  }
  // The PC counts whole milliseconds: a wait of 5 ms may last a little over 4.
  if (config_.timing && last_end_us_ && t - *last_end_us_ + kTickUs < config_.quiet_us) {
    r.flags.push_back({rule::kQuietTime, std::to_string(t - *last_end_us_) +
                                             " us after the exchange before, less than " +
                                             std::to_string(config_.quiet_us)});
  }
  const bool repeat = last_failed_ && frame.bytes == last_request_;
  attempt_ = repeat ? attempt_ + 1 : 1;
  if (repeat) {
    ++summary_.attempts;
    r.flags.push_back({rule::kAttempt, "attempt " + std::to_string(attempt_)});
  }
  Pending p;
  p.active = true;
  p.request = frame.bytes;
  p.start_us = t;
  p.end_us = Us(frame.last_byte);
  if (*config_.family == Family::kGraphic) {
    DescribeGraphicRequest(r, p, repeat);
  } else {
    DescribeClassicRequest(r, p);
  }
  pending_ = std::move(p);
  Emit(std::move(r), out);
}

void Decoder::DescribeGraphicRequest(Record &r, Pending &p, bool repeat) {
  const Bytes &f = r.bytes;
  p.command = f[g::kCommandAt];
  p.subcommand = f[g::kSubcommandAt];
  p.flag = f[g::kFlagAt];
  p.sequence = f[g::kSequenceAt];
  const uint16_t length = wire::GetLe16(&f[g::kLengthAt]);
  r.command = g::CommandName(p.command, p.subcommand);
  r.fields = {{"cmd", Hex2(p.command)},
              {"sub", Hex2(p.subcommand)},
              {"flag", std::to_string(p.flag)},
              {"seq", std::to_string(p.sequence)},
              {"len", std::to_string(length)}};
  r.checksum = g::Checksum(f) == f.back() ? 1 : 0;
  if (!r.checksum)
    r.flags.push_back({rule::kChecksum, "checksum " + Hex2(f.back()) + ", the bytes sum to " +
                                            Hex2(g::Checksum(f))});
  const Bytes data(f.begin() + g::kDataAt, f.end() - 1);
  // The data count of a write chunk and the size its form gives it.
  std::optional<size_t> count;
  size_t form = 0;
  if (p.command == g::kBlockRead && p.subcommand == g::kGroupedArea && data.size() >= 2) {
    p.group = wire::GetLe16(&data[0]);
    r.fields.push_back({"group", std::to_string(p.group)});
  } else if (p.command == g::kBlockWrite && p.subcommand == g::kGroupedArea && data.size() >= 4) {
    p.group = wire::GetLe16(&data[0]);
    count = wire::GetLe16(&data[2]);
    form = 4;
    r.fields.push_back({"group", std::to_string(p.group)});
  } else if (p.command == g::kBlockWrite && data.size() >= 2) {
    count = wire::GetLe16(&data[0]);
    form = 2;
  } else if (p.command == g::kOsInstall && data.size() >= 3) {
    count = wire::GetLe16(&data[1]);
    form = 3;
    r.fields.push_back({"option", Hex2(data[0])});
  } else if (p.command == g::kCheckPassword && !data.empty()) {
    r.fields.push_back({"password-length", std::to_string(data[0])});
  }
  if (count) {
    r.fields.push_back({"count", std::to_string(*count)});
    if (*count > kMaxChunk) {
      r.flags.push_back({rule::kChunkSize, "chunk of " + std::to_string(*count) + " bytes, above " +
                                               std::to_string(kMaxChunk)});
    }
    if (*count + form != data.size()) {
      r.flags.push_back({rule::kLength, "data count " + std::to_string(*count) + " in " +
                                            std::to_string(data.size() - form) + " data bytes"});
    }
  }
  if (length > kLargestFrameLength && !(count && *count > kMaxChunk)) {
    r.flags.push_back({rule::kLength, "length field " + std::to_string(length) + " above " +
                                          std::to_string(kLargestFrameLength)});
  }
  if (repeat) return;  // a repeat is checked as its first attempt was
  auto out_of_step = [&r](const std::string &why) { r.flags.push_back({rule::kSequence, why}); };
  if (IsBlockTransferWrite(p.command)) {
    if (p.flag > 2) {
      out_of_step("continuation flag " + std::to_string(p.flag));
    } else if (p.flag == 1 && !write_active_) {
      out_of_step("a middle chunk with no transfer going on");
    } else {
      const uint8_t expected = (p.flag == 0 || !write_active_) ? 0 : write_next_sequence_;
      if (p.sequence != expected) {
        out_of_step("chunk sequence " + std::to_string(p.sequence) + ", expected " +
                    std::to_string(expected));
      }
    }
    write_active_ = p.flag != 2;
    write_next_sequence_ = static_cast<uint8_t>(p.sequence + 1);
    return;
  }
  if (p.sequence != 0) out_of_step("sequence " + std::to_string(p.sequence) + " in a request");
  if (p.command == g::kBlockRead) {
    if (p.flag == 0) {
      read_active_ = true;
      read_next_sequence_ = 0;
      read_group_ = p.group;
    } else if (p.flag != 1) {
      out_of_step("continuation flag " + std::to_string(p.flag) + " in a read request");
    } else if (!read_active_) {
      out_of_step("a read continued with no read going on");
    }
  } else if (p.flag != 0) {
    out_of_step("continuation flag " + std::to_string(p.flag) + " in a single request");
  }
}

void Decoder::DescribeClassicRequest(Record &r, Pending &p) {
  const Bytes &f = r.bytes;
  c::Request request;
  const bool short_address = f.size() > 1 && c::ShortAddress(f[1]);
  std::string refusal = c::ParseRequest(f, short_address, &request);
  r.checksum = c::ChecksumGood(f) ? 1 : 0;
  if (!refusal.empty()) {
    r.command = "?";
    if (f.size() > 1) r.fields.push_back({"cmd", std::string(1, static_cast<char>(f[1]))});
    if (!r.checksum) {
      r.flags.push_back({rule::kChecksum, "checksum digits do not state the sum"});
    } else {
      r.flags.push_back({rule::kMalformed, refusal});
    }
    // What the request asks for, if the count digits can be read, for the reply's checks.
    const int digits = short_address ? 4 : 6;
    if (f.size() >= static_cast<size_t>(4 + digits + 3)) {
      long count = c::ReadDigits(&f[2 + digits], 2);
      p.read = f[1] == (short_address ? '0' : 'E');
      if (count > 0) p.count = static_cast<unsigned>(count);
      if (count > static_cast<long>(kMaxClassicCount)) {
        r.flags.push_back({rule::kChunkSize, "count " + std::to_string(count) + ", above " +
                                                 std::to_string(kMaxClassicCount)});
      }
    }
    return;
  }
  p.parsed = true;
  p.read = request.read;
  p.count = request.count;
  r.command = request.read ? "read" : "write";
  r.fields = {{"cmd", std::string(1, static_cast<char>(request.command))},
              {"addr", HexN(request.address, short_address ? 4 : 6)},
              {"n", std::to_string(request.count)}};
}

void Decoder::OnReply(const wire::Frame &frame, std::vector<Record> *out) {
  Record r;
  r.t_us = Us(frame.first_byte);
  r.dir = Dir::kToPc;
  r.family = config_.family;
  r.bytes = frame.bytes;
  const bool answered = pending_.active;
  if (answered && config_.timing) {
    r.latency_us = r.t_us - pending_.end_us;
    if (r.latency_us > config_.reply_timeout_us) {
      r.flags.push_back({rule::kLateReply, "reply started " + std::to_string(r.latency_us) +
                                               " us after the request"});
    }
  } else if (!answered) {
    r.flags.push_back(last_timed_out_ ? Flag{rule::kLateReply, "reply after the time-out"}
                                      : Flag{rule::kUnsolicited, "a reply with no request"});
  }
  if (*config_.family == Family::kGraphic) {
    CheckGraphicReply(r, answered);
  } else {
    CheckClassicReply(r, answered);
  }
  if (answered) CloseExchange(Us(frame.last_byte), Repeatable(r));
  last_timed_out_ = false;
  Emit(std::move(r), out);
}

void Decoder::CheckGraphicReply(Record &r, bool answered) {
  const Bytes &f = r.bytes;
  const uint8_t command = f[g::kCommandAt], subcommand = f[g::kSubcommandAt];
  const uint8_t flag = f[g::kFlagAt], sequence = f[g::kSequenceAt], status = f[g::kStatusAt];
  const uint16_t length = wire::GetLe16(&f[g::kLengthAt]);
  r.command = g::CommandName(command, subcommand);
  r.fields = {{"cmd", Hex2(command)},         {"sub", Hex2(subcommand)},
              {"flag", std::to_string(flag)}, {"seq", std::to_string(sequence)},
              {"status", Hex2(status)},       {"len", std::to_string(length)}};
  const size_t data_size = f.size() - g::kDataAt - 1;
  std::optional<uint16_t> group, count;
  size_t form = 0;
  if (command == g::kBlockRead && subcommand == g::kGroupedArea && data_size >= 4) {
    group = wire::GetLe16(&f[g::kDataAt]);
    count = wire::GetLe16(&f[g::kDataAt + 2]);
    form = 4;
  } else if (command == g::kBlockRead && data_size >= 2) {
    count = wire::GetLe16(&f[g::kDataAt]);
    form = 2;
  }
  if (group) r.fields.push_back({"group", std::to_string(*group)});
  if (count) r.fields.push_back({"count", std::to_string(*count)});
  r.checksum = g::Checksum(f) == f.back() ? 1 : 0;
  if (!r.checksum) {
    r.flags.push_back({rule::kChecksum, "checksum " + Hex2(f.back()) + ", the bytes sum to " +
                                            Hex2(g::Checksum(f))});
    return;
  }
  if (length > kLargestFrameLength) {
    r.flags.push_back({rule::kLength, "length field " + std::to_string(length) + " above " +
                                          std::to_string(kLargestFrameLength)});
  }
  if (!answered) return;
  const Pending &p = pending_;
  if (command != p.command || subcommand != p.subcommand) {
    r.flags.push_back({rule::kEcho, "answers " + Hex2(command) + " " + Hex2(subcommand) + " to " +
                                        Hex2(p.command) + " " + Hex2(p.subcommand)});
    return;
  }
  auto out_of_step = [&r](const std::string &why) { r.flags.push_back({rule::kSequence, why}); };
  if (command == g::kBlockRead) {
    if (count && *count + form != data_size) {
      r.flags.push_back({rule::kLength, "data count " + std::to_string(*count) + " in " +
                                            std::to_string(data_size - form) + " data bytes"});
    }
    const bool walk = subcommand == g::kGroupedArea && p.group == 0;
    if (group && !walk && *group != p.group) {
      r.flags.push_back({rule::kEcho, "group " + std::to_string(*group) + " for group " +
                                          std::to_string(p.group)});
    }
    bool check_sequence = true;
    if (walk && group) {
      if (*group == 0) {
        check_sequence = false;  // the end of the walk
        read_active_ = false;
      } else if (*group != read_group_) {
        read_group_ = *group;
        read_next_sequence_ = 0;
      }
    }
    if (check_sequence) {
      if (sequence != read_next_sequence_) {
        out_of_step("block " + std::to_string(sequence) + ", expected " +
                    std::to_string(read_next_sequence_));
      }
      read_next_sequence_ = static_cast<uint8_t>(sequence + 1);
    }
    if (!walk && (flag == 2 || (count && *count == 0))) read_active_ = false;
  } else if (flag != 0 || sequence != 0) {
    out_of_step("flag " + std::to_string(flag) + " sequence " + std::to_string(sequence) +
                " in a reply that carries neither");
  }
  if (status != 0) {
    r.flags.push_back({rule::kStatus, "the terminal refused with status " + Hex2(status)});
  } else if (command == kBaudChange) {
    baud_change_ = g::BaudOfCode(subcommand);
  }
}

void Decoder::CheckClassicReply(Record &r, bool answered) {
  const Bytes &f = r.bytes;
  const Pending &p = pending_;
  if (f.size() == 1) {
    r.command = f[0] == c::kAck ? "ack" : "nak";
    if (f[0] == c::kNak) {
      r.flags.push_back({rule::kNak, "the panel refused the request"});
    } else if (answered && p.read) {
      r.flags.push_back({rule::kEcho, "ACK to a read"});
    }
    return;
  }
  r.command = "data";
  const size_t digits = f.size() - 4;
  r.fields = {{"n", std::to_string(digits / 2)}};
  r.checksum = c::ChecksumGood(f) ? 1 : 0;
  if (!r.checksum) {
    r.flags.push_back({rule::kChecksum, "checksum digits do not state the sum"});
    return;
  }
  if (!answered) return;
  if (!p.read) {
    r.flags.push_back({rule::kEcho, "data to a write"});
  } else if (p.count != 0 && digits != 2 * p.count) {
    r.flags.push_back({rule::kLength, std::to_string(digits) + " data digits for a read of " +
                                          std::to_string(p.count)});
  }
}

void Decoder::CutShortReply(std::vector<Record> *out, const char *note) {
  const int64_t start = Us(replies_->partial_start());
  const int64_t last = Us(replies_->partial_last());
  Record r;
  r.t_us = start;
  r.dir = Dir::kToPc;
  r.family = config_.family;
  r.bytes = replies_->TakePartial();
  r.command = "partial";
  r.note = note;
  const Bytes &f = r.bytes;
  if (*config_.family == Family::kGraphic && f.size() >= 3 &&
      wire::GetLe16(&f[g::kLengthAt]) + 3u != f.size()) {
    r.flags.push_back({rule::kLength, "length field " + std::to_string(wire::GetLe16(&f[1])) +
                                          " in a reply of " + std::to_string(f.size()) + " bytes"});
  } else if (*config_.family == Family::kClassic && pending_.active && pending_.read &&
             f[0] == c::kStx && f.size() == 2 * pending_.count + 4 && f[f.size() - 3] != c::kEtx) {
    r.flags.push_back({rule::kEtx, Hex2(f[f.size() - 3]) + " where ETX belongs"});
  } else {
    r.flags.push_back({rule::kIncomplete, std::to_string(f.size()) + " bytes of a reply"});
  }
  if (pending_.active) {
    r.latency_us = start - pending_.end_us;
    CloseExchange(last, true);
  }
  Emit(std::move(r), out);
}

void Decoder::CloseExchange(int64_t end_us, bool failed) {
  pending_.active = false;
  last_request_ = pending_.request;
  last_failed_ = failed;
  last_end_us_ = end_us;
  last_timed_out_ = false;
  ++summary_.exchanges;
}

std::optional<int64_t> Decoder::NextDeadline() const {
  if (!config_.timing || !config_.family) return std::nullopt;
  std::optional<int64_t> best;
  auto consider = [&best](std::optional<int64_t> t) {
    if (t && (!best || *t < *best)) best = t;
  };
  if (pending_.active && !replies_->Partial()) {
    consider(pending_.end_us + config_.reply_timeout_us);
  }
  if (auto t = replies_->StaleDeadline()) consider(Us(*t));
  if (auto t = requests_->StaleDeadline()) consider(Us(*t));
  return best;
}

void Decoder::Advance(int64_t t_us, std::vector<Record> *out) {
  for (;;) {
    std::optional<int64_t> due = NextDeadline();
    if (!due || *due > t_us) return;
    const int64_t d = *due;
    Record r;
    r.kind = Record::Kind::kEvent;
    r.t_us = d;
    r.family = config_.family;
    // A partial frame of that direction, gone silent: its bytes go with the event.
    auto stalled = [&](wire::FrameReader &reader, Dir dir) {
      auto stale = reader.StaleDeadline();
      if (!stale || Us(*stale) != d) return false;
      reader.Expire(At(d), &r.bytes);
      r.dir = dir;
      return true;
    };
    bool timed_out = false;
    if (stalled(*replies_, Dir::kToPc)) {
      r.note = "reply stalled";
      r.flags.push_back(
          {rule::kStalled, "silent for " + std::to_string(config_.reply_timeout_us / 1000) +
                               " ms after " + std::to_string(r.bytes.size()) + " bytes"});
      timed_out = pending_.active;
    } else if (stalled(*requests_, Dir::kToTerminal)) {
      r.note = "request stalled";
      r.flags.push_back({rule::kStalled,
                         "silent after " + std::to_string(r.bytes.size()) + " bytes of a request"});
    } else {
      r.dir = Dir::kToPc;
      r.note = "no reply";
      r.flags.push_back(
          {rule::kReplyTimeout,
           "no reply byte within " + std::to_string(config_.reply_timeout_us / 1000) + " ms"});
      timed_out = true;
    }
    if (timed_out) {
      CloseExchange(d, true);
      last_timed_out_ = true;
    }
    summary_.last_us = std::max(summary_.last_us, d);
    Emit(std::move(r), out);
  }
}

void Decoder::Finish(int64_t t_us, std::vector<Record> *out) {
  Advance(t_us, out);
  summary_.last_us = std::max(summary_.last_us, t_us);
}

void Decoder::EndOfInput(std::vector<Record> *out) {
  if (!config_.family) return;
  if (replies_->Partial()) CutShortReply(out, "cut short by the end of the input");
  if (requests_->Partial()) {
    Record r;
    r.kind = Record::Kind::kEvent;
    r.t_us = Us(requests_->partial_start());
    r.dir = Dir::kToTerminal;
    r.family = config_.family;
    r.bytes = requests_->TakePartial();
    r.note = "request cut short by the end of the input";
    r.flags.push_back({rule::kIncomplete, std::to_string(r.bytes.size()) + " bytes of a request"});
    Emit(std::move(r), out);
  }
}

void Decoder::Emit(Record r, std::vector<Record> *out) {
  if (r.kind == Record::Kind::kFrame) ++summary_.frames[static_cast<int>(r.dir)];
  for (const Flag &f : r.flags) ++summary_.flagged[f.rule];
  out->push_back(std::move(r));
}

}  // namespace quiblink::monitor
