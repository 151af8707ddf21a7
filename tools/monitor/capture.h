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

struct Capture {
  DecoderConfig config;
  std::vector<CaptureChunk> chunks;
  std::optional<int64_t> end_us;
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

bool ReadCapture(std::istream &in, Capture *capture, std::string *error);
bool ReadHexDump(std::istream &in, Capture *capture, std::string *error);

// Runs the chunks through a decoder; each record goes to the sink as it comes.
template <class Sink>
void Replay(const Capture &capture, Decoder &decoder, Sink sink) {
  std::vector<Record> records;
  auto drain = [&] {
    for (const Record &r : records) sink(r);
    records.clear();
  };
  for (const CaptureChunk &chunk : capture.chunks) {
    decoder.Feed(chunk.dir, chunk.bytes.data(), chunk.bytes.size(), chunk.t_us, &records);
    drain();
  }
  if (capture.end_us) decoder.Finish(*capture.end_us, &records);
  drain();
}

}  // namespace quiblink::monitor
