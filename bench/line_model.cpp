#include "line_model.h"

#include <math.h>

namespace quibbench {

namespace {

constexpr uint32_t kGraphicChunk = 1024;
constexpr uint32_t kGraphicOverhead = 11;  // FE, length, cmd, sub, flag, seq, 0, count, sum
constexpr uint32_t kGraphicShortReply = 9;
constexpr uint32_t kGraphicShortRequest = 9;
constexpr uint32_t kClassicReadChunk = 64;
constexpr uint32_t kClassicWriteChunk = 32;
constexpr uint32_t kClassicReadRequest = 13;  // STX, E, 6 address, 2 count, ETX, 2 sum
constexpr uint32_t kClassicWriteOverhead = 13;
constexpr uint32_t kClassicReplyOverhead = 4;  // STX, ETX, 2 sum

template <typename Frames>
Transfer Chunked(Line line, uint32_t bytes, uint32_t chunk, Frames frames) {
  Transfer t = {bytes, 0, 0, 0};
  for (uint32_t left = bytes; left > 0;) {
    uint32_t n = left < chunk ? left : chunk;
    uint32_t request = 0, reply = 0;
    frames(n, &request, &reply);
    t.bound_ms += ExchangeBoundMs(line, request, reply);
    t.floor_ms += ExchangeFloorMs(line, request, reply);
    ++t.exchanges;
    left -= n;
  }
  return t;
}

}  // namespace

double LineMs(Line line, uint32_t count) {
  return static_cast<double>(count) * line.bits_per_char * 1000.0 / line.baud;
}

uint32_t TxTimeMs(Line line, uint32_t count) {
  return count * line.bits_per_char * 1000u / line.baud;
}

double ExchangeBoundMs(Line line, uint32_t request, uint32_t reply) {
  const double tx = TxTimeMs(line, request);
  const double rest = LineMs(line, request) + LineMs(line, reply) - tx;
  return kQuietMs + tx + ceil(rest / kReceivePollMs) * kReceivePollMs;
}

double ExchangeFloorMs(Line line, uint32_t request, uint32_t reply) {
  return kQuietMs + LineMs(line, request) + LineMs(line, reply);
}

Transfer GraphicWrite(Line line, uint32_t bytes) {
  return Chunked(line, bytes, kGraphicChunk, [](uint32_t n, uint32_t *request, uint32_t *reply) {
    *request = n + kGraphicOverhead;
    *reply = kGraphicShortReply;
  });
}

Transfer GraphicRead(Line line, uint32_t bytes) {
  return Chunked(line, bytes, kGraphicChunk, [](uint32_t n, uint32_t *request, uint32_t *reply) {
    *request = kGraphicShortRequest;
    *reply = n + kGraphicOverhead;
  });
}

Transfer ClassicRead(Line line, uint32_t bytes) {
  return Chunked(line, bytes, kClassicReadChunk,
                 [](uint32_t n, uint32_t *request, uint32_t *reply) {
                   *request = kClassicReadRequest;
                   *reply = 2 * n + kClassicReplyOverhead;
                 });
}

Transfer ClassicWrite(Line line, uint32_t bytes) {
  return Chunked(line, bytes, kClassicWriteChunk,
                 [](uint32_t n, uint32_t *request, uint32_t *reply) {
                   *request = 2 * n + kClassicWriteOverhead;
                   *reply = 1;
                 });
}

Transfer GraphicQuery(Line line) {
  return {0, 1, ExchangeBoundMs(line, 9, 10), ExchangeFloorMs(line, 9, 10)};
}

}  // namespace quibbench
