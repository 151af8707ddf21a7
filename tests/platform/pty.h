// A pseudo-terminal for the serial tests: the test holds the master side and
// plays the terminal; the library opens the slave side as its device.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;

class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
      ADD_FAILURE() << "no pseudo-terminal";
      return;
    }
    path_ = name;
    termios tio;
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
  }
  ~Pty() { Hangup(); }
  Pty(const Pty &) = delete;
  Pty &operator=(const Pty &) = delete;

  const char *path() const { return path_.c_str(); }
  int master() const { return master_; }

  // The terminal sends bytes to the library.
  void Send(const Bytes &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else {
        pollfd pfd = {master_, POLLOUT, 0};
        poll(&pfd, 1, 100);
      }
    }
  }

  // What the library wrote: up to count bytes, waiting at most timeout_ms.
  Bytes Receive(size_t count, int timeout_ms = 5000) {
    Bytes got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
      uint8_t chunk[4096];
      ssize_t n = read(master_, chunk, std::min(sizeof chunk, count - got.size()));
      if (n > 0) {
        got.insert(got.end(), chunk, chunk + n);
      } else {
        pollfd pfd = {master_, POLLIN, 0};
        poll(&pfd, 1, 20);
      }
    }
    return got;
  }

  // The terminal goes away.
  void Hangup() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string path_;
};

// Maps a COM port number to a path for the length of a scope.
class ComMapping {
 public:
  ComMapping(int port, const char *path) : variable_("QUIBLINK_COM" + std::to_string(port)) {
    setenv(variable_.c_str(), path, 1);
  }
  ~ComMapping() { unsetenv(variable_.c_str()); }

 private:
  std::string variable_;
};
