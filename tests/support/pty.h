// A pseudo-terminal whose master side the test holds and plays the far end
// on, while the library (or the backend under test) opens the slave side as
// its serial device. Pty is the bare master side; PtyPeer a thread on it that
// takes requests apart by a framing rule of the wire model and answers each.
// Neither allocates once started, so that a test may count every allocation
// of the process while the peer answers (tests/hardening).
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class Pty {
 public:
  using Bytes = std::vector<uint8_t>;

  Pty() {
    const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof name) != 0) {
      fprintf(stderr, "no pseudo-terminal: %s\n", strerror(errno));
      if (fd >= 0) close(fd);
      return;
    }
    path_ = name;
    termios tio;
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    master_ = fd;
  }
  ~Pty() { Hangup(); }
  Pty(const Pty &) = delete;
  Pty &operator=(const Pty &) = delete;

  bool ok() const { return master_ >= 0; }
  const char *path() const { return path_.c_str(); }
  int master() const { return master_; }

  // The far end sends bytes to the library; stops early when the slave side
  // has gone.
  void Send(const uint8_t *bytes, size_t n) {
    size_t done = 0;
    while (done < n) {
      const int fd = master_;
      if (fd < 0) return;
      const ssize_t w = write(fd, bytes + done, n - done);
      if (w > 0) {
        done += static_cast<size_t>(w);
      } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
        return;
      } else {
        pollfd pfd = {fd, POLLOUT, 0};
        poll(&pfd, 1, 20);
      }
    }
  }
  void Send(const Bytes &bytes) { Send(bytes.data(), bytes.size()); }

  // What the library wrote: up to count bytes, waiting at most timeout_ms.
  Bytes Receive(size_t count, int timeout_ms = 5000) {
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
      uint8_t chunk[4096];
      const ssize_t n = read(master_, chunk, std::min(sizeof chunk, count - got.size()));
      if (n > 0) {
        got.insert(got.end(), chunk, chunk + n);
      } else {
        pollfd pfd = {master_, POLLIN, 0};
        poll(&pfd, 1, 20);
      }
    }
    return got;
  }

  // The far end goes away, as a cable pulled.
  void Hangup() {
    const int fd = master_.exchange(-1);
    if (fd >= 0) close(fd);
  }

 private:
  std::atomic<int> master_{-1};
  std::string path_;
};

// Maps a COM port number to a path for the length of a scope.
class ComMapping {
 public:
  ComMapping(int port, const char *path) : variable_("QUIBLINK_COM" + std::to_string(port)) {
    setenv(variable_.c_str(), path, 1);
  }
  ~ComMapping() { unsetenv(variable_.c_str()); }
  ComMapping(const ComMapping &) = delete;
  ComMapping &operator=(const ComMapping &) = delete;

 private:
  std::string variable_;
};

class PtyPeer {
 public:
  // The length of the whole request at the start of bytes; 0 while it is
  // incomplete (classic::RequestLength, graphic::FrameLength).
  using Framing = size_t (*)(const uint8_t *bytes, size_t have);
  // Answers one request, on the peer's thread, with peer.Send.
  using Answer = std::function<void(PtyPeer &peer, const uint8_t *request, size_t length)>;

  PtyPeer(Framing framing, Answer answer) : framing_(framing), answer_(std::move(answer)) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~PtyPeer() {
    stop_ = true;
    thread_.join();
  }
  PtyPeer(const PtyPeer &) = delete;
  PtyPeer &operator=(const PtyPeer &) = delete;

  bool ok() const { return pty_.ok(); }
  const char *path() const { return pty_.path(); }
  int master() const { return pty_.master(); }  // for the line settings the slave side was given
  long requests() const { return requests_; }

  void Send(const uint8_t *bytes, size_t n) { pty_.Send(bytes, n); }
  void Send(const Pty::Bytes &bytes) { pty_.Send(bytes); }

  // The far side goes away, closed by the peer's own thread so that no read
  // or write of it is under way; returns once it is closed. From an answer:
  // closes at once.
  void HangUp() {
    if (std::this_thread::get_id() == serving_.load()) {
      pty_.Hangup();
      return;
    }
    hang_up_ = true;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (pty_.master() >= 0) {
      if (std::chrono::steady_clock::now() > until) {
        fprintf(stderr, "the pseudo-terminal's peer did not hang up within 5 s\n");
        abort();
      }
      usleep(1000);
    }
  }

 private:
  void Serve() {
    serving_ = std::this_thread::get_id();
    size_t have = 0;
    while (!stop_) {
      if (hang_up_) pty_.Hangup();
      const int fd = pty_.master();
      if (fd < 0) {
        usleep(5000);
        continue;
      }
      pollfd pfd = {fd, POLLIN, 0};
      if (poll(&pfd, 1, 20) <= 0) continue;
      const ssize_t n = read(fd, rx_ + have, sizeof rx_ - have);
      if (n <= 0) {
        usleep(2000);  // no slave side open yet
        continue;
      }
      have += static_cast<size_t>(n);
      for (;;) {
        const size_t length = framing_(rx_, have);
        if (length == 0) break;
        ++requests_;
        answer_(*this, rx_, length);
        memmove(rx_, rx_ + length, have - length);
        have -= length;
      }
      if (have == sizeof rx_) have = 0;  // garbage: start over
    }
  }

  Pty pty_;
  Framing framing_;
  Answer answer_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> hang_up_{false};
  std::atomic<long> requests_{0};
  std::atomic<std::thread::id> serving_{};
  uint8_t rx_[4096];
  std::thread thread_;
};
