// A capture: every byte the monitor relayed, with its direction and the time it was read, in a
// text file that `quiblink decode` replays through the same decoder.
//
//   quiblink-capture 1 family=graphic baud=38400 reply-timeout-us=10000000 quiet-us=5000
//   1503221 > FE0600520100000059
//   1529268 < FF070052010000000161
//   2000000 end
//
// A hex dump is read too: lines of hex digits, each a piece of the stream; a line that starts
// with ">" goes from the PC to the terminal, one that starts with "<" the other way, one with
// neither keeps the direction of the line before (at first ">"); "#" starts a comment. A hex
// dump has no times, so the timing rules are not checked.
#pragma once

#include <cstdio>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "monitor/decoder.h"

namespace quiblink::monitor {

struct CaptureChunk {
  Dir dir = Dir::kToTerminal;
  int64_t t_us = 0;
  Bytes bytes;
};

class CaptureWriter {
 public:
  CaptureWriter() = default;
  ~CaptureWriter();
  CaptureWriter(const CaptureWriter &) = delete;
  CaptureWriter &operator=(const CaptureWriter &) = delete;

  bool Open(const std::string &path, const DecoderConfig &config, std::string *error);
  bool enabled() const { return file_ != nullptr; }
  void Chunk(Dir dir, int64_t t_us, const uint8_t *data, size_t size);
  void End(int64_t t_us);

 private:
  std::FILE *file_ = nullptr;
};

// A capture or a hex dump read piece by piece: what it holds in memory does not grow with the
// file, whose lines may be of any length (a long line comes in pieces of at most kPiece bytes,
// each with the line's time).
class CaptureReader {
 public:
  static constexpr size_t kPiece = 4096;

  CaptureReader(std::istream &in, bool hex) : in_(in), hex_(hex) {}
  // The settings a capture's first line states (a hex dump has none, and no times). False with
  // *error when the file is no capture.
  bool Start(DecoderConfig *config, std::string *error);
  // The next piece into *chunk. False at the end, and at a bad line with *error set.
  bool Next(CaptureChunk *chunk, std::string *error);
  // The time of a capture's end line, once read.
  std::optional<int64_t> end_us() const { return end_us_; }
  bool hex() const { return hex_; }

 private:
  int Peek();
  int Get();
  void SkipBlanks();
  void SkipLine();
  std::string Word(size_t longest);
  bool LineFailed(const std::string &what, std::string *error);
  bool NextCaptureLine(CaptureChunk *chunk, std::string *error);
  bool NextDumpLine(CaptureChunk *chunk, std::string *error);
  // Hex digits of the current line into chunk->bytes, at most kPiece; true with the line's
  // rest still to come when the piece is full.
  bool TakeHex(CaptureChunk *chunk, bool spaces_inside, std::string *error);

  std::istream &in_;
  bool hex_;
  char buffer_[65536];
  size_t at_ = 0, filled_ = 0;
  int line_ = 0;
  bool in_line_ = false;  // a line's hex goes on in the next piece
  Dir dir_ = Dir::kToTerminal;
  int64_t t_us_ = 0;
  std::optional<int64_t> end_us_;
};

// Runs a capture or a hex dump through a decoder, each record to the sink as it comes, and ends
// it: at the capture's end time, and for either at the end of the input, where a frame left
// unfinished is reported cut short. False with *error at a bad line; the records before it have
// gone to the sink.
template <class Sink>
bool Replay(CaptureReader &reader, Decoder &decoder, Sink sink, std::string *error) {
  std::vector<Record> records;
  auto drain = [&] {
    for (const Record &r : records) sink(r);
    records.clear();
  };
  CaptureChunk chunk;
  while (reader.Next(&chunk, error)) {
    decoder.Feed(chunk.dir, chunk.bytes.data(), chunk.bytes.size(), chunk.t_us, &records);
    drain();
  }
  if (!error->empty()) return false;
  if (reader.end_us()) decoder.Finish(*reader.end_us(), &records);
  decoder.EndOfInput(&records);
  drain();
  return true;
}

}  // namespace quiblink::monitor
