// A terminal of either family on a pseudo-terminal (support/pty.h), for tests
// of the shared library over its real serial backend. It allocates no memory
// once started, so that a test may count every allocation in the process
// while it answers.
//
// Requests are taken apart by the wire model's framing and answered at once:
//  - classic: a read with pattern bytes, a write with ACK;
//  - graphic: each command with status 0 and plausible data; block reads
//    deliver one block, then end; block writes are accepted.
// The mode changes the next replies: refusals, broken checksums, silence.
#pragma once

#include <stdint.h>
#include <string.h>

#include <atomic>

#include "support/pty.h"
#include "support/wire/classic.h"
#include "support/wire/graphic.h"

namespace hard {

class PtyTerminal {
 public:
  enum Family { kClassic, kGraphic };
  enum Mode {
    kHealthy,
    kNak,              // classic NAK; graphic status byte 5
    kBadStart,         // a first byte no request allows
    kBadChecksum,      // a reply whose checksum is one off
    kSilent,           // no reply at all
    kHangUpOnRequest,  // reads the request, then closes its side
  };

  explicit PtyTerminal(Family family)
      : family_(family),
        peer_(family == kClassic ? wire::classic::RequestLength : wire::graphic::FrameLength,
              [this](PtyPeer &peer, const uint8_t *request, size_t) { Answer(peer, request); }) {}

  bool ok() const { return peer_.ok(); }
  const char *path() const { return peer_.path(); }
  void SetMode(Mode mode) { mode_ = mode; }
  long requests() const { return peer_.requests(); }

  // The far side goes away, as a cable pulled or a pseudo-terminal closed;
  // returns once it is closed.
  void HangUp() { peer_.HangUp(); }

 private:
  void Answer(PtyPeer &peer, const uint8_t *request) {
    const Mode mode = mode_;
    if (mode == kSilent) return;
    if (mode == kHangUpOnRequest) {
      peer.HangUp();
      return;
    }
    const size_t n = family_ == kClassic ? Classic(request, mode) : Graphic(request, mode);
    if (mode == kBadStart) tx_[0] = 0x41;
    if (mode == kBadChecksum && n > 1) tx_[n - 1] ^= 1;
    peer.Send(tx_, n);
  }

  size_t Classic(const uint8_t *request, Mode mode) {
    namespace classic = wire::classic;
    if (mode == kNak) {
      tx_[0] = classic::NAK;
      return 1;
    }
    if (request[1] == 'F' || request[1] == '1') {
      tx_[0] = classic::ACK;
      return 1;
    }
    const unsigned count = classic::RequestCount(request);
    uint8_t text[2 * 255];
    for (unsigned k = 0; k < count; ++k) classic::PutHexDigits(text + 2 * k, (k * 7 + 1) & 0xFF, 2);
    return classic::PutFramed(tx_, text, 2 * count);
  }

  size_t Graphic(const uint8_t *request, Mode mode) {
    const uint8_t command = request[3], subcommand = request[4], continuation = request[5];
    uint8_t data[64];
    size_t d = 0;
    uint8_t reply_continuation = 0;
    uint8_t sequence = 0;
    if (command == 33) {
      // One block of 16 bytes, then the end of the transfer.
      const bool grouped = subcommand == 1;
      const bool first = continuation == 0;
      const uint16_t group = grouped ? uint16_t(request[8] | (request[9] << 8)) : 0;
      const unsigned count = first ? 16 : 0;
      if (grouped) {
        const uint16_t reply_group = group != 0 ? group : first ? 3 : 0;
        data[d++] = uint8_t(reply_group);
        data[d++] = uint8_t(reply_group >> 8);
      }
      data[d++] = uint8_t(count);
      data[d++] = 0;
      for (unsigned k = 0; k < count; ++k) data[d++] = uint8_t(k * 5 + 1);
      reply_continuation = 2;
      sequence = first ? 0 : 1;
    } else if (command == 49 && subcommand == 0x41) {
      const uint8_t mem[] = {1, 0, 2, 0, 3, 0};
      memcpy(data, mem, sizeof mem);
      d = sizeof mem;
    } else if (command == 49 && subcommand == 0x42) {
      const uint8_t os[] = {2, 0x61, 0x00, 1, 0, 0, 0, 0x61, 0x80, 2, 0, 0, 0};
      memcpy(data, os, sizeof os);
      d = sizeof os;
    } else if (command == 49) {
      const uint8_t project[] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 'a', 'b', 'c'};
      memcpy(data, project, sizeof project);
      d = sizeof project;
    } else if (command == 82) {
      data[d++] = 0xC3;
    }
    return wire::graphic::PutFrame(tx_, 0xFF, uint32_t(d + 6), command, subcommand,
                                   reply_continuation, sequence, mode == kNak ? 5 : 0, data, d);
  }

  Family family_;
  std::atomic<Mode> mode_{kHealthy};
  uint8_t tx_[4096];
  PtyPeer peer_;  // last: its thread starts once the rest is in place
};

}  // namespace hard
