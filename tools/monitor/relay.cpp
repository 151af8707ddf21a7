#include "monitor/relay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "monitor/capture.h"
#include "sim/serial_line.h"

namespace quiblink::monitor {

namespace {

constexpr size_t kReadSize = 4096;

struct Side {
  sim::SerialLine *line = nullptr;
  const char *name = "";
  Bytes unwritten;  // what the last read brought and the other side has not taken yet
};

// Writes what it can; false when the device failed.
bool Pass(int fd, Bytes &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return false;
  }
  bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(done));
  return true;
}

class SignalBlock {
 public:
  SignalBlock() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    sigaddset(&set_, SIGHUP);
    sigprocmask(SIG_BLOCK, &set_, &old_);
    fd_ = signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
  }
  ~SignalBlock() {
    if (fd_ >= 0) close(fd_);
    sigprocmask(SIG_SETMASK, &old_, nullptr);
  }
  int fd() const { return fd_; }

 private:
  sigset_t set_, old_;
  int fd_ = -1;
};

}  // namespace

int RunRelay(const RelayOptions &options, std::FILE *out, std::FILE *err) {
  SignalBlock signals;
  const auto origin = sim::Clock::now();
  auto now_us = [&origin] {
    return std::chrono::duration_cast<std::chrono::microseconds>(sim::Clock::now() - origin)
        .count();
  };
  DecoderConfig config = options.decoder;
  // Until the first frame tells the family, the line runs with 8 data bits.
  const Family opened_as = config.family.value_or(Family::kGraphic);
  const int opened_baud = config.family == Family::kClassic
                              ? 9600
                              : (config.baud ? config.baud : DefaultBaud(opened_as));
  std::string error;
  std::unique_ptr<sim::SerialLine> terminal =
      sim::SerialLine::OpenDevice(options.terminal, opened_baud, opened_as, &error);
  if (!terminal) {
    std::fprintf(err, "quiblink monitor: terminal side: %s\n", error.c_str());
    return 3;
  }
  std::unique_ptr<sim::SerialLine> pc =
      options.pc_pty ? sim::SerialLine::OpenPty(&error)
                     : sim::SerialLine::OpenDevice(options.pc, opened_baud, opened_as, &error);
  if (!pc) {
    std::fprintf(err, "quiblink monitor: PC side: %s\n", error.c_str());
    return 3;
  }
  CaptureWriter capture;
  if (!options.capture.empty() && !capture.Open(options.capture, config, &error)) {
    std::fprintf(err, "quiblink monitor: %s\n", error.c_str());
    return 3;
  }
  if (options.pc_pty) {
    if (!options.path_file.empty()) {
      std::FILE *f = std::fopen(options.path_file.c_str(), "w");
      if (!f) {
        std::fprintf(err, "quiblink monitor: cannot write %s: %s\n", options.path_file.c_str(),
                     std::strerror(errno));
        return 3;
      }
      std::fprintf(f, "%s\n", pc->path().c_str());
      std::fclose(f);
    }
    std::fprintf(out, "quiblink monitor: serving %s\n", pc->path().c_str());
    std::fflush(out);
  }

  Decoder decoder(config);
  std::optional<Family> known = decoder.family();
  Side sides[2];
  sides[static_cast<int>(Dir::kToTerminal)] = {pc.get(), "PC side", {}};  // source of requests
  sides[static_cast<int>(Dir::kToPc)] = {terminal.get(), "terminal side", {}};
  std::vector<Record> records;
  auto print = [&] {
    for (const Record &r : records)
      std::fprintf(out, "%s\n", FormatRecord(r, options.format).c_str());
    if (!records.empty()) std::fflush(out);
    records.clear();
  };
  // Pseudo-terminals have no line to set (and refuse a change while bytes wait in them).
  auto reprogram = [&](int baud, Family family) {
    for (sim::SerialLine *line : {terminal.get(), pc.get()}) {
      if (line->is_pty() || line->path().rfind("/dev/pts/", 0) == 0) continue;
      std::string why;
      if (!line->Program(baud, family, &why)) {
        std::fprintf(err, "quiblink monitor: %s: %s\n", line->path().c_str(), why.c_str());
      }
    }
  };

  int status = 0;
  uint8_t buffer[kReadSize];
  for (;;) {
    if (options.count && decoder.summary().exchanges >= options.count) break;
    pollfd fds[3];
    for (int d = 0; d < 2; ++d) {
      // A side is read only once the other has taken the last read: one read in flight.
      fds[d] = {sides[d].line->fd(), static_cast<short>(sides[d].unwritten.empty() ? POLLIN : 0),
                0};
    }
    // The write half: the destination of pending bytes waits for room.
    short want_out[2] = {0, 0};
    for (int d = 0; d < 2; ++d) {
      if (!sides[d].unwritten.empty()) want_out[1 - d] = POLLOUT;
    }
    for (int d = 0; d < 2; ++d) fds[d].events |= want_out[d];
    fds[2] = {signals.fd(), POLLIN, 0};
    int timeout = -1;
    if (auto due = decoder.NextDeadline()) {
      int64_t wait = *due - now_us();
      timeout = wait <= 0 ? 0 : static_cast<int>((wait + 999) / 1000);
    }
    if (poll(fds, 3, timeout) < 0 && errno != EINTR) {
      std::fprintf(err, "quiblink monitor: poll: %s\n", std::strerror(errno));
      status = 1;
      break;
    }
    if (fds[2].revents & POLLIN) {
      // Taken off the queue, so that it does not strike once the mask is restored.
      signalfd_siginfo info;
      while (read(signals.fd(), &info, sizeof info) == sizeof info) {
      }
      break;
    }
    bool lost = false;
    for (int d = 0; d < 2 && !lost; ++d) {
      Side &from = sides[d];
      Side &to = sides[1 - d];
      if (!from.unwritten.empty()) {
        if (!Pass(to.line->fd(), from.unwritten)) {
          std::fprintf(err, "quiblink monitor: %s: write: %s\n", to.name, std::strerror(errno));
          lost = true;
        }
        continue;
      }
      if (!(fds[d].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(from.line->fd(), buffer, sizeof buffer);
      if (n < 0 && (errno == EAGAIN || errno == EINTR || errno == EWOULDBLOCK)) continue;
      if (n <= 0) {
        std::fprintf(err, "quiblink monitor: %s lost: %s\n", from.name,
                     n == 0 ? "end of file" : std::strerror(errno));
        lost = true;
        break;
      }
      // Passed on first, then decoded: the relay adds only the time of one read and one write.
      from.unwritten.assign(buffer, buffer + n);
      const int64_t t = now_us();
      if (!Pass(to.line->fd(), from.unwritten)) {
        std::fprintf(err, "quiblink monitor: %s: write: %s\n", to.name, std::strerror(errno));
        lost = true;
        break;
      }
      const Dir dir = static_cast<Dir>(d);
      capture.Chunk(dir, t, buffer, static_cast<size_t>(n));
      decoder.Feed(dir, buffer, static_cast<size_t>(n), t, &records);
      print();
      if (!known && decoder.family()) {
        known = decoder.family();
        if (*known != opened_as || decoder.config().baud != opened_baud) {
          reprogram(decoder.config().baud, *known);
        }
      }
      if (int baud = decoder.TakeBaudChange()) {
        // The reply that accepted the change has been passed on: both sides switch now.
        if (from.unwritten.empty()) {
          tcdrain(to.line->fd());
          reprogram(baud, *known);
        }
      }
    }
    if (lost) {
      status = 1;
      break;
    }
    decoder.Advance(now_us(), &records);
    print();
  }
  // Closing a pseudo-terminal throws away what its reader has not taken yet: let the PC program
  // read what was passed on (up to a second). The bytes reach the other end a little after the
  // write, so the line must stay read for a while before it counts as taken.
  if (status == 0) {
    const int64_t limit = now_us() + 1'000'000;
    int64_t empty_since = now_us();
    while (now_us() < limit && now_us() - empty_since < 50'000) {
      if (pc->Unread() > 0) empty_since = now_us();
      usleep(1000);
    }
    terminal->Unread();
  }
  const int64_t end = now_us();
  decoder.Finish(end, &records);
  print();
  capture.End(end);
  std::fprintf(out, "%s\n",
               FormatSummary(decoder.summary(), decoder.family(), options.format).c_str());
  std::fflush(out);
  return status;
}

}  // namespace quiblink::monitor
