#include "sim/server.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/image.h"

namespace quiblink::sim {

Server::Server(Terminal &terminal, SerialLine &line, FrameLog &log, ServerConfig config)
    : terminal_(terminal),
      line_(line),
      log_(log),
      config_(std::move(config)),
      reader_(terminal.family()),
      faults_(terminal.family()) {}

int Server::Run(StopSignals &signals) {
  last_activity_ = Clock::now();
  const auto idle_limit =
      std::chrono::duration_cast<Nanos>(std::chrono::duration<double>(config_.exit_after_idle));
  for (;;) {
    TimePoint now = Clock::now();
    std::optional<TimePoint> wake = pacer_.NextDue();
    auto earliest = [&](std::optional<TimePoint> t) {
      if (t && (!wake || *t < *wake)) wake = t;
    };
    earliest(reader_.StaleDeadline());
    // Saving and the idle limit wait for a quiet line; until then the line's own events wake us.
    if (pacer_.Idle() && !reader_.Partial()) {
      if (save_pending_) earliest(last_activity_ + kSaveDelay);
      if (config_.exit_after_idle > 0) earliest(last_activity_ + idle_limit);
    }

    // Control lines left over from the last turn are answered after the line has had its turn.
    if (control_ && control_->HasWork()) wake = now;

    std::vector<pollfd> fds;
    fds.push_back(
        pollfd{line_.fd(), static_cast<short>(POLLIN | (unwritten_.empty() ? 0 : POLLOUT)), 0});
    fds.push_back(pollfd{signals.fd(), POLLIN, 0});
    if (control_) control_->CollectFds(&fds);
    timespec timeout{};
    if (wake) {
      auto ns = std::max<int64_t>(0, (*wake - now).count());
      timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    }
    if (ppoll(fds.data(), fds.size(), wake ? &timeout : nullptr, nullptr) < 0 && errno != EINTR) {
      log_.Note(Clock::now(), std::string("poll: ") + std::strerror(errno));
      return 1;
    }
    now = Clock::now();
    if (fds[1].revents & POLLIN) {
      if (int signal = signals.Take()) {
        log_.Note(now, "signal " + std::to_string(signal) + ", stopping");
      }
      break;
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      uint8_t buffer[4096];
      for (;;) {
        ssize_t n = read(line_.fd(), buffer, sizeof buffer);
        if (n > 0) {
          OnBytes(buffer, static_cast<size_t>(n), now);
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        log_.Note(
            now, "serial line lost: " + std::string(n == 0 ? "end of file" : std::strerror(errno)));
        return 1;
      }
    }
    if (!Flush(now)) return 1;
    if (control_) control_->Serve([this](const std::string &l) { return ExecuteControl(l); });
    Bytes junk;
    reader_.Expire(now, &junk);
    if (!junk.empty()) {
      junk_bytes_ += junk.size();
      log_.Frame(now, "junk", junk, "partial frame went stale");
    }
    MaybeSave(now);
    if (config_.exit_after_idle > 0 && pacer_.Idle() && !reader_.Partial() &&
        now - last_activity_ >= idle_limit) {
      log_.Note(now, "idle, stopping");
      break;
    }
  }
  std::string error;
  if (!config_.image_path.empty() && !SaveImageNow(&error)) {
    log_.Note(Clock::now(), error);
    return 1;
  }
  return 0;
}

void Server::OnBytes(const uint8_t *data, size_t size, TimePoint now) {
  std::vector<Frame> frames;
  Bytes junk;
  reader_.Feed(data, size, now, &frames, &junk);
  if (!junk.empty()) {
    junk_bytes_ += junk.size();
    log_.Frame(now, "junk", junk, "no frame");
  }
  for (const Frame &frame : frames) HandleFrame(frame, now);
  last_activity_ = now;
}

void Server::HandleFrame(const Frame &frame, TimePoint now) {
  ++requests_;
  log_.Frame(now, "PC>SIM", frame.bytes, terminal_.DescribeRequest(frame.bytes));
  std::optional<Fault> fault = faults_.Pick(terminal_.Classify(frame.bytes));
  const bool spoils = fault && FaultSpoils(fault->kind);
  std::any saved;
  if (spoils) saved = terminal_.SaveTransfer();
  Reply reply = terminal_.Handle(frame.bytes);
  Emission emission = ApplyFault(fault ? &*fault : nullptr, reply, terminal_.family());
  if (spoils) terminal_.RestoreTransfer(saved);
  if (fault) {
    ++faults_fired_;
    log_.Note(now, "fault " + emission.note);
  }
  if (emission.segments.empty()) {
    log_.Note(now, "no reply" + (reply.note.empty() ? "" : ": " + reply.note));
    return;
  }
  ++replies_;
  TimePoint earliest =
      (config_.timing.paced ? frame.first_byte + config_.timing.CharTime(frame.bytes.size())
                            : now) +
      config_.turnaround;
  std::string text;
  if (log_.enabled()) {
    Bytes sent;
    for (const Segment &s : emission.segments)
      sent.insert(sent.end(), s.bytes.begin(), s.bytes.end());
    std::string meaning = reply.bytes.empty() ? "-" : terminal_.DescribeReply(reply.bytes);
    if (!reply.note.empty()) meaning += " (" + reply.note + ")";
    if (fault) meaning += " [fault " + fault->text + "]";
    text = log_.FrameText("SIM>PC", sent, meaning);
  }
  bool first = true;
  for (Segment &s : emission.segments) {
    pacer_.Enqueue(std::move(s.bytes), first ? earliest : TimePoint{}, s.gap, config_.timing,
                   first ? text : std::string());
    first = false;
  }
  if (reply.new_baud && config_.follow_baud && !(fault && spoils)) {
    config_.timing.baud = reply.new_baud;
    log_.Note(now, "line speed now " + std::to_string(reply.new_baud));
  }
  Flush(now);
}

bool Server::Flush(TimePoint now) {
  std::vector<std::string> started;
  Bytes due = pacer_.TakeDue(now, &started);
  for (const std::string &text : started) log_.Write(now, text);
  unwritten_.insert(unwritten_.end(), due.begin(), due.end());
  if (!due.empty()) last_activity_ = now;
  while (!unwritten_.empty()) {
    ssize_t n = write(line_.fd(), unwritten_.data(), unwritten_.size());
    if (n > 0) {
      unwritten_.erase(unwritten_.begin(), unwritten_.begin() + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    log_.Note(now, std::string("serial write: ") + std::strerror(errno));
    return false;
  }
  return true;
}

void Server::MaybeSave(TimePoint now) {
  if (terminal_.TakeDirty()) {
    save_pending_ = true;
    if (now > last_activity_) last_activity_ = now;
  }
  if (!save_pending_ || config_.image_path.empty()) {
    save_pending_ = false;
    return;
  }
  if (!pacer_.Idle() || reader_.Partial() || now - last_activity_ < kSaveDelay) return;
  std::string error;
  if (!SaveImageNow(&error)) log_.Note(now, error);
}

bool Server::SaveImageNow(std::string *error) {
  save_pending_ = false;
  if (config_.image_path.empty()) {
    *error = "no image";
    return false;
  }
  return SaveImage(config_.image_path, terminal_.ToImage(), error);
}

std::string Server::ExecuteControl(const std::string &line) {
  std::vector<std::string> words = SplitWords(line);
  if (words.empty()) return "error: empty command";
  const std::string &command = words[0];
  if (command == "ping" && words.size() == 1) return "ok";
  if (command == "fault" && words.size() == 2) {
    std::string error;
    auto fault = ParseFault(words[1], terminal_.family(), &error);
    if (!fault) return "error: " + error;
    faults_.Arm(*fault);
    return "ok";
  }
  if (command == "clear" && words.size() == 1) {
    faults_.Clear();
    return "ok";
  }
  if (command == "faults" && words.size() == 1) {
    std::string text = "ok";
    for (const std::string &f : faults_.List()) text += " " + f;
    return text;
  }
  if (command == "stats" && words.size() == 1) {
    return "ok requests=" + std::to_string(requests_) + " replies=" + std::to_string(replies_) +
           " junk=" + std::to_string(junk_bytes_) + " faults=" + std::to_string(faults_fired_) +
           " sending=" + std::to_string(pacer_.Idle() && unwritten_.empty() ? 0 : 1);
  }
  if (command == "save" && words.size() == 1) {
    std::string error;
    return SaveImageNow(&error) ? "ok" : "error: " + error;
  }
  std::optional<std::string> reply = terminal_.Control(words);
  return reply ? *reply : "error: unknown command: " + line;
}

}  // namespace quiblink::sim
