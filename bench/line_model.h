// What the line and the protocol allow a transfer, for the figures to be
// measured against. An exchange costs, with a terminal that answers at once:
//   quiet time   5 ms of silence the port keeps after the previous exchange;
//   TxTime       the frame's time on the line, truncated to whole ms, which
//                the worker sleeps before its first read;
//   the rest     from there to the last reply bit (the frame's truncated
//                fraction of a ms plus the reply's time on the line), rounded
//                up to the 10 ms receive poll.
// The floor is what the line itself allows: quiet time and both frames'
// exact time on the line, with no poll to wait for.
#pragma once

#include <stdint.h>

namespace quibbench {

struct Line {
  uint32_t baud;
  uint32_t bits_per_char;  // 10 for classic 7E1, 11 for graphic 8E1
};

constexpr uint32_t kQuietMs = 5;
constexpr uint32_t kReceivePollMs = 10;

// Exact time of count characters on the line.
double LineMs(Line line, uint32_t count);
// The library's TxTime: count x bits x 1000 / baud, truncating.
uint32_t TxTimeMs(Line line, uint32_t count);
// One exchange under the timing rules, and on the bare line.
double ExchangeBoundMs(Line line, uint32_t request, uint32_t reply);
double ExchangeFloorMs(Line line, uint32_t request, uint32_t reply);

struct Transfer {
  uint32_t bytes;      // payload moved
  uint32_t exchanges;  // request frames sent
  double bound_ms;     // under the timing rules
  double floor_ms;     // on the bare line
};

// Graphic block write to a plain area: 1024-byte chunks, frame = chunk + 11,
// reply 9 bytes.
Transfer GraphicWrite(Line line, uint32_t bytes);
// Graphic block read of a plain area holding bytes: 9-byte requests, replies
// of block + 11 bytes, the last block flagged as last.
Transfer GraphicRead(Line line, uint32_t bytes);
// Classic panel (6 address digits): reads of 64-byte chunks, 13-byte
// requests, replies of 2 x chunk + 4; writes of 32-byte chunks, frames of
// 2 x chunk + 13, a one-byte ACK.
Transfer ClassicRead(Line line, uint32_t bytes);
Transfer ClassicWrite(Line line, uint32_t bytes);
// A single graphic query: 9-byte request, 10-byte reply (terminal type).
Transfer GraphicQuery(Line line);

// Bytes per second of a transfer that takes ms.
inline double Rate(uint32_t bytes, double ms) {
  return ms > 0 ? bytes * 1000.0 / ms : 0;
}

}  // namespace quibbench
