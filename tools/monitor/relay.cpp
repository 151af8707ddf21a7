#include "monitor/relay.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "monitor/capture.h"
#include "wire/announce.h"
#include "wire/serial_line.h"
#include "wire/signals.h"

namespace quiblink::monitor {

namespace {

constexpr size_t kReadSize = 4096;

struct Side {
  wire::SerialLine *line = nullptr;
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

// One run of the relay: Open, then Loop, then Drain and Finish.
class Relay {
 public:
  Relay(const RelayOptions &options, std::FILE *out, std::FILE *err)
      : options_(options), out_(out), err_(err), decoder_(options.decoder) {}

  // Opens both sides and the capture, and announces the PC side's pseudo-terminal. 0, or 3 when
  // something cannot be opened.
  int Open();
  // Passes bytes both ways until a signal, the count of exchanges, or a lost side. 0, or 1 when
  // a side was lost.
  int Loop();
  // Closing a pseudo-terminal throws away what its reader has not taken yet: lets the PC program
  // read what was passed on (up to a second).
  void Drain();
  // The last records, the end of the capture and the summary.
  void Finish();

 private:
  int64_t NowUs() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(wire::Clock::now() - origin_)
        .count();
  }
  int Failed(const char *what, const std::string &why) {
    std::fprintf(err_, "quiblink monitor: %s%s\n", what, why.c_str());
    return 3;
  }
  // Reads side d when it polled readable, or passes on what it still holds; false when a side
  // is lost.
  bool Serve(int d, short revents);
  // What the decoder learned from a read: the family, a change of speed.
  void Follow(const Side &from, const Side &to);
  // Pseudo-terminals have no line to set (and refuse a change while bytes wait in them).
  void Reprogram(int baud, Family family);
  void Print();

  const RelayOptions &options_;
  std::FILE *out_;
  std::FILE *err_;
  wire::StopSignals signals_;
  const wire::TimePoint origin_ = wire::Clock::now();
  Decoder decoder_;
  // Until the first frame tells the family, the line runs with 8 data bits.
  const Family opened_as_ = options_.decoder.family.value_or(Family::kGraphic);
  const int opened_baud_ = options_.decoder.family == Family::kClassic ? 9600
                           : options_.decoder.baud                     ? options_.decoder.baud
                                                                       : DefaultBaud(opened_as_);
  std::optional<Family> known_ = decoder_.family();
  std::unique_ptr<wire::SerialLine> terminal_;
  std::unique_ptr<wire::SerialLine> pc_;
  CaptureWriter capture_;
  Side sides_[2];
  std::vector<Record> records_;
};

int Relay::Open() {
  std::string error;
  terminal_ = wire::SerialLine::OpenDevice(options_.terminal, opened_baud_, opened_as_, &error);
  if (!terminal_) return Failed("terminal side: ", error);
  pc_ = options_.pc_pty
            ? wire::SerialLine::OpenPty(&error)
            : wire::SerialLine::OpenDevice(options_.pc, opened_baud_, opened_as_, &error);
  if (!pc_) return Failed("PC side: ", error);
  if (!options_.capture.empty() && !capture_.Open(options_.capture, options_.decoder, &error)) {
    return Failed("", error);
  }
  if (options_.pc_pty) {
    std::string why = wire::AnnouncePath(pc_->path(), options_.path_file, "quiblink monitor", out_);
    if (!why.empty()) return Failed("cannot write ", options_.path_file + ": " + why);
  }
  sides_[static_cast<int>(Dir::kToTerminal)] = {pc_.get(), "PC side", {}};  // source of requests
  sides_[static_cast<int>(Dir::kToPc)] = {terminal_.get(), "terminal side", {}};
  return 0;
}

int Relay::Loop() {
  for (;;) {
    if (options_.count && decoder_.summary().exchanges >= options_.count) return 0;
    pollfd fds[3];
    for (int d = 0; d < 2; ++d) {
      // A side is read only once the other has taken the last read: one read in flight.
      fds[d] = {sides_[d].line->fd(), static_cast<short>(sides_[d].unwritten.empty() ? POLLIN : 0),
                0};
    }
    // The write half: the destination of pending bytes waits for room.
    for (int d = 0; d < 2; ++d) {
      if (!sides_[d].unwritten.empty()) fds[1 - d].events |= POLLOUT;
    }
    fds[2] = {signals_.fd(), POLLIN, 0};
    int timeout = -1;
    if (auto due = decoder_.NextDeadline()) {
      int64_t wait = *due - NowUs();
      timeout = wait <= 0 ? 0 : static_cast<int>((wait + 999) / 1000);
    }
    if (poll(fds, 3, timeout) < 0 && errno != EINTR) {
      std::fprintf(err_, "quiblink monitor: poll: %s\n", std::strerror(errno));
      return 1;
    }
    if (fds[2].revents & POLLIN) {
      signals_.Take();
      return 0;
    }
    for (int d = 0; d < 2; ++d) {
      if (!Serve(d, fds[d].revents)) return 1;
    }
    decoder_.Advance(NowUs(), &records_);
    Print();
  }
}

bool Relay::Serve(int d, short revents) {
  Side &from = sides_[d];
  Side &to = sides_[1 - d];
  if (!from.unwritten.empty()) {
    if (Pass(to.line->fd(), from.unwritten)) return true;
    std::fprintf(err_, "quiblink monitor: %s: write: %s\n", to.name, std::strerror(errno));
    return false;
  }
  if (!(revents & (POLLIN | POLLHUP | POLLERR))) return true;
  uint8_t buffer[kReadSize];
  ssize_t n = read(from.line->fd(), buffer, sizeof buffer);
  if (n < 0 && (errno == EAGAIN || errno == EINTR || errno == EWOULDBLOCK)) return true;
  if (n <= 0) {
    std::fprintf(err_, "quiblink monitor: %s lost: %s\n", from.name,
                 n == 0 ? "end of file" : std::strerror(errno));
    return false;
  }
  // Passed on first, then decoded: the relay adds only the time of one read and one write.
  from.unwritten.assign(buffer, buffer + n);
  const int64_t t = NowUs();
  if (!Pass(to.line->fd(), from.unwritten)) {
    std::fprintf(err_, "quiblink monitor: %s: write: %s\n", to.name, std::strerror(errno));
    return false;
  }
  const Dir dir = static_cast<Dir>(d);
  capture_.Chunk(dir, t, buffer, static_cast<size_t>(n));
  decoder_.Feed(dir, buffer, static_cast<size_t>(n), t, &records_);
  Print();
  Follow(from, to);
  return true;
}

void Relay::Follow(const Side &from, const Side &to) {
  if (!known_ && decoder_.family()) {
    known_ = decoder_.family();
    if (*known_ != opened_as_ || decoder_.config().baud != opened_baud_) {
      Reprogram(decoder_.config().baud, *known_);
    }
  }
  if (int baud = decoder_.TakeBaudChange()) {
    // The reply that accepted the change has been passed on: both sides switch now.
    if (from.unwritten.empty()) {
      tcdrain(to.line->fd());
      Reprogram(baud, *known_);
    }
  }
}

void Relay::Reprogram(int baud, Family family) {
  for (wire::SerialLine *line : {terminal_.get(), pc_.get()}) {
    if (line->is_pty() || line->path().rfind("/dev/pts/", 0) == 0) continue;
    std::string why;
    if (!line->Program(baud, family, &why)) {
      std::fprintf(err_, "quiblink monitor: %s: %s\n", line->path().c_str(), why.c_str());
    }
  }
}

void Relay::Print() {
  for (const Record &r : records_) {
    std::fprintf(out_, "%s\n", FormatRecord(r, options_.format).c_str());
  }
  if (!records_.empty()) std::fflush(out_);
  records_.clear();
}

void Relay::Drain() {
  // The bytes reach the other end a little after the write, so the line must stay read for a
  // while before it counts as taken.
  const int64_t limit = NowUs() + 1'000'000;
  int64_t empty_since = NowUs();
  while (NowUs() < limit && NowUs() - empty_since < 50'000) {
    if (pc_->Unread() > 0) empty_since = NowUs();
    usleep(1000);
  }
  terminal_->Unread();
}

void Relay::Finish() {
  const int64_t end = NowUs();
  decoder_.Finish(end, &records_);
  Print();
  capture_.End(end);
  std::fprintf(out_, "%s\n",
               FormatSummary(decoder_.summary(), decoder_.family(), options_.format).c_str());
  std::fflush(out_);
}

}  // namespace

int RunRelay(const RelayOptions &options, std::FILE *out, std::FILE *err) {
  Relay relay(options, out, err);
  if (int status = relay.Open()) return status;
  const int status = relay.Loop();
  if (status == 0) relay.Drain();
  relay.Finish();
  return status;
}

}  // namespace quiblink::monitor
