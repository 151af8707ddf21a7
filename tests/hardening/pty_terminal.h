// A terminal of either family on the master side of a pseudo-terminal, for
// tests of the shared library over its real serial backend. It allocates no
// memory once started (fixed buffers, system calls only), so that a test may
// count every allocation in the process while it answers.
//
// Requests are framed on their own (classic: STX ... ETX and two checksum
// digits; graphic: FE and the length field) and answered at once:
//  - classic: a read with pattern bytes, a write with ACK;
//  - graphic: each command with status 0 and plausible data; block reads
//    deliver one block, then end; block writes are accepted.
// The mode changes the next replies: refusals, broken checksums, silence.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <thread>

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

  explicit PtyTerminal(Family family) : family_(family) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, path_, sizeof path_) != 0) {
      if (master_ >= 0) close(master_);
      master_ = -1;
      return;
    }
    termios tio;
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    thread_ = std::thread([this] { Serve(); });
  }
  ~PtyTerminal() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    CloseSide();
  }
  PtyTerminal(const PtyTerminal &) = delete;
  PtyTerminal &operator=(const PtyTerminal &) = delete;

  bool ok() const { return master_ >= 0; }
  const char *path() const { return path_; }
  void SetMode(Mode mode) { mode_ = mode; }
  long requests() const { return requests_; }

  // The far side goes away, as a cable pulled or a pseudo-terminal closed.
  // The terminal's own thread closes it, so that no read or write of it is
  // under way; returns once it is closed.
  void HangUp() {
    if (!thread_.joinable()) {
      CloseSide();
      return;
    }
    hang_up_ = true;
    while (master_ >= 0) usleep(1000);
  }

 private:
  static constexpr uint8_t STX = 0x02, ETX = 0x03, ACK = 0x06, NAK = 0x15;

  void CloseSide() {
    const int fd = master_.exchange(-1);
    if (fd >= 0) close(fd);
  }

  void Serve() {
    size_t have = 0;
    while (!stop_) {
      if (hang_up_) CloseSide();
      const int fd = master_;
      if (fd < 0) {
        usleep(5000);
        continue;
      }
      pollfd pfd = {fd, POLLIN, 0};
      if (poll(&pfd, 1, 20) <= 0) continue;
      const ssize_t n = read(fd, rx_ + have, sizeof rx_ - have);
      if (n <= 0) continue;
      have += static_cast<size_t>(n);
      for (;;) {
        const size_t length = FrameLength(have);
        if (length == 0) break;
        ++requests_;
        Answer(length);
        memmove(rx_, rx_ + length, have - length);
        have -= length;
      }
      if (have == sizeof rx_) have = 0;  // garbage: start over
    }
  }

  // Length of the complete request at the start of rx_, 0 if none yet.
  size_t FrameLength(size_t have) {
    if (have == 0) return 0;
    if (family_ == kClassic) {
      for (size_t i = 1; i + 2 < have; ++i) {
        if (rx_[i] == ETX) return i + 3;
      }
      return 0;
    }
    if (have < 3) return 0;
    const size_t total = size_t(rx_[1] | (rx_[2] << 8)) + 3;
    return have >= total ? total : 0;
  }

  void Answer(size_t length) {
    const Mode mode = mode_;
    if (mode == kSilent) return;
    if (mode == kHangUpOnRequest) {
      CloseSide();
      return;
    }
    size_t n = family_ == kClassic ? Classic(mode) : Graphic(mode, length);
    if (mode == kBadStart) tx_[0] = 0x41;
    if (mode == kBadChecksum && n > 1) tx_[n - 1] ^= 1;
    Send(n);
  }

  static void Hex(uint8_t *at, unsigned value) {
    static const char kDigits[] = "0123456789ABCDEF";
    at[0] = kDigits[(value >> 4) & 0xF];
    at[1] = kDigits[value & 0xF];
  }
  static unsigned Digit(uint8_t c) { return c >= 'A' ? c - 0x37u : c - 0x30u; }

  size_t Classic(Mode mode) {
    const uint8_t command = rx_[1];
    if (mode == kNak) {
      tx_[0] = NAK;
      return 1;
    }
    if (command == 'F' || command == '1') {
      tx_[0] = ACK;
      return 1;
    }
    const size_t at = command == '0' ? 6 : 8;
    const unsigned count = Digit(rx_[at]) * 16 + Digit(rx_[at + 1]);
    size_t n = 0;
    tx_[n++] = STX;
    for (unsigned k = 0; k < count; ++k, n += 2) Hex(tx_ + n, (k * 7 + 1) & 0xFF);
    tx_[n++] = ETX;
    unsigned sum = 0;
    for (size_t i = 1; i < n; ++i) sum += tx_[i];
    Hex(tx_ + n, sum & 0xFF);
    return n + 2;
  }

  size_t Graphic(Mode mode, size_t length) {
    const uint8_t command = rx_[3], subcommand = rx_[4], continuation = rx_[5];
    uint8_t data[64];
    size_t d = 0;
    uint8_t reply_continuation = 0;
    uint8_t sequence = 0;
    if (command == 33) {
      // One block of 16 bytes, then the end of the transfer.
      const bool grouped = subcommand == 1;
      const bool first = continuation == 0;
      const uint16_t group = grouped ? uint16_t(rx_[8] | (rx_[9] << 8)) : 0;
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
    (void)length;
    size_t n = 0;
    tx_[n++] = 0xFF;
    tx_[n++] = uint8_t(d + 6);
    tx_[n++] = uint8_t((d + 6) >> 8);
    tx_[n++] = command;
    tx_[n++] = subcommand;
    tx_[n++] = reply_continuation;
    tx_[n++] = sequence;
    tx_[n++] = mode == kNak ? 5 : 0;
    memcpy(tx_ + n, data, d);
    n += d;
    unsigned sum = 0;
    for (size_t i = 1; i < n; ++i) sum += tx_[i];
    tx_[n++] = uint8_t(sum);
    return n;
  }

  void Send(size_t n) {
    size_t done = 0;
    while (done < n) {
      const int fd = master_;
      if (fd < 0) return;
      const ssize_t w = write(fd, tx_ + done, n - done);
      if (w > 0) {
        done += static_cast<size_t>(w);
      } else {
        pollfd pfd = {fd, POLLOUT, 0};
        poll(&pfd, 1, 20);
      }
    }
  }

  Family family_;
  std::atomic<int> master_{-1};
  char path_[128] = {};
  std::atomic<bool> stop_{false};
  std::atomic<bool> hang_up_{false};
  std::atomic<Mode> mode_{kHealthy};
  std::atomic<long> requests_{0};
  uint8_t rx_[4096];
  uint8_t tx_[4096];
  std::thread thread_;
};

}  // namespace hard
