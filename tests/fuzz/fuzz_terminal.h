// A terminal on a fake serial line whose answers the fuzz input decides: for
// every request frame the library writes, a healthy reply (built by the
// export harness from the frame), possibly spoilt, cut short or replaced, and
// sent in pieces with chosen gaps. Time is the fake's virtual clock, so reply
// time-outs and back-offs cost no real time.
//
// The log keeps, per request frame, the bytes that reached the line and
// whether the line was quiet when the frame went out. A quiet line and gaps
// far below the reply time-out make the outcome of the attempt certain, so
// the harness can predict the library's answer exactly.
#pragma once

#include <stdlib.h>

#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "fuzz_input.h"
#include "support/fake/fake_line.h"
#include "support/wire/wire.h"

namespace fuzz {

using wire::Attempt;
using wire::Bytes;
using wire::Dump;

// Gaps between pieces stay far below the 10 s reply time-out, so that only a
// reply cut short times out.
constexpr uint32_t kLongestGapMs = 300;

struct Exchange {
  Bytes frame;      // as written by the library
  Bytes delivered;  // what the terminal put on the line for it
  bool clean;       // nothing of an earlier reply was still on its way
};

class Terminal {
 public:
  // Builds the reply of a healthy terminal to a frame; may read the input
  // for the reply's contents (it gets an empty input once the bytes run out
  // or when the terminal is told to be healthy).
  using Healthy = std::function<Bytes(const Bytes &frame, Input &in)>;

  void Attach(fake::Line &line, Healthy healthy) {
    healthy_ = std::move(healthy);
    line.OnFrame([this](fake::Line &l, const fake::Bytes &frame) { Answer(l, frame); });
  }

  // The input that decides the answers; null: healthy answers at once.
  void Drive(Input *in) {
    std::lock_guard<std::mutex> hold(mu_);
    in_ = in;
  }

  // After this many answers since the log was last taken the terminal is
  // healthy again, whatever the input: a call ends in bounded time, and a
  // transfer receives a bounded amount.
  void Limit(int answers) {
    std::lock_guard<std::mutex> hold(mu_);
    limit_ = answers;
  }

  // While the line itself is in trouble (failing calls, modem lines off),
  // no attempt's outcome is certain.
  void Troubled(bool on) {
    std::lock_guard<std::mutex> hold(mu_);
    troubled_ = on;
  }
  bool IsTroubled() {
    std::lock_guard<std::mutex> hold(mu_);
    return troubled_;
  }

  std::vector<Exchange> TakeLog() {
    std::lock_guard<std::mutex> hold(mu_);
    std::vector<Exchange> out;
    out.swap(log_);
    return out;
  }

 private:
  void Answer(fake::Line &line, const fake::Bytes &frame) {
    std::lock_guard<std::mutex> hold(mu_);
    Exchange x{frame, {}, line.PendingInput() == 0 && !troubled_};
    static const uint8_t kNoBytes = 0;
    Input none(&kNoBytes, 0);
    Input &in = in_ != nullptr && static_cast<int>(log_.size()) < limit_ ? *in_ : none;
    Bytes reply = healthy_(frame, in);

    switch (in.Empty() ? 0 : in.Byte() % 16) {
      case 1:  // one byte changed
        if (!reply.empty()) reply[in.Range(0, uint32_t(reply.size() - 1))] ^= in.Range(1, 255);
        break;
      case 2:  // cut short; the rest never comes
        reply.resize(in.Range(0, uint32_t(reply.size())));
        break;
      case 3: {  // something after the reply
        const Bytes more = in.Bytes(in.Range(1, 16));
        reply.insert(reply.end(), more.begin(), more.end());
        break;
      }
      case 4:  // bytes of the fuzzer's own
        reply = in.Bytes(in.Range(0, 64));
        break;
      case 5:  // silence
        reply.clear();
        break;
      default:
        break;
    }

    // Pieces: the first after a gap, each further one after its own.
    uint32_t at = 0;
    size_t sent = 0;
    const uint32_t pieces = in.Empty() ? 1 : in.Range(1, 4);
    for (uint32_t i = 0; i < pieces && sent < reply.size(); ++i) {
      at += in.Empty() ? 0 : in.Range(0, kLongestGapMs / 10) * 10;
      size_t n = i + 1 == pieces ? reply.size() - sent
                                 : in.Range(1, static_cast<uint32_t>(reply.size() - sent));
      line.Send(fake::Bytes(reply.begin() + static_cast<long>(sent),
                            reply.begin() + static_cast<long>(sent + n)),
                at);
      sent += n;
    }
    x.delivered = reply;
    log_.push_back(std::move(x));
  }

  std::mutex mu_;
  Input *in_ = nullptr;
  int limit_ = 16;
  bool troubled_ = false;
  Healthy healthy_;
  std::vector<Exchange> log_;
};

// The worker's attempts at one request, read off the log: up to three, the
// same frame each time, ending at the first success or final refusal.
struct RequestOutcome {
  bool predictable;  // every attempt met a quiet line
  int16_t status;    // of the last attempt
  Bytes payload;     // on success
};

// Consumes the log entries of one request starting at *next, checking that
// each carries `frame`. classify maps delivered bytes to an attempt. Stops
// with predictable false at the first attempt that met a line still busy.
inline RequestOutcome WalkRequest(const std::vector<Exchange> &log, size_t *next,
                                  const Bytes &frame,
                                  const std::function<Attempt(const Bytes &)> &classify) {
  RequestOutcome out{true, wire::kNoResponse, {}};
  for (int attempt = 0; attempt < 3; ++attempt) {
    FUZZ_CHECK(*next < log.size(), "an attempt the harness did not see");
    const Exchange &x = log[(*next)++];
    FUZZ_CHECK(x.frame == frame, "request " + Dump(x.frame) + "wanted " + Dump(frame));
    // Bytes of an earlier reply may still come: what follows is anybody's
    // guess, and the caller falls back to the checks that hold regardless.
    if (!x.clean) return {false, 0, {}};
    const Attempt a = classify(x.delivered);
    out.status = a.status;
    out.payload = a.payload;
    if (a.final) break;
  }
  return out;
}

// Timing aside, a transfer sends its requests in order and each at most three
// times in a row. frame_at(i) is the i-th request of the transfer (count of
// them: `requests`). Returns the index of the last request written, -1 when
// none was.
inline int WalkInOrder(const std::vector<Exchange> &log, size_t requests,
                       const std::function<Bytes(size_t)> &frame_at) {
  int at = -1;
  int repeats = 0;
  for (const Exchange &x : log) {
    if (at >= 0 && repeats < 3 && x.frame == frame_at(static_cast<size_t>(at))) {
      ++repeats;
      continue;
    }
    FUZZ_CHECK(static_cast<size_t>(at + 1) < requests && x.frame == frame_at(at + 1),
               "request out of order: " + Dump(x.frame));
    ++at;
    repeats = 1;
  }
  return at;
}

// With QUIBLINK_FUZZ_STATS set, a table at exit of how often each call ran,
// how often its outcome was predicted exactly, and the result codes seen:
// evidence that the checks were exercised, not only compiled.
class Stats {
 public:
  static void Note(const char *call, bool predicted, int16_t rc) {
    static Stats *stats = Create();
    if (stats == nullptr) return;
    std::lock_guard<std::mutex> hold(stats->mu_);
    Row &row = stats->rows_[call];
    ++row.calls;
    if (predicted) ++row.predicted;
    ++row.codes[rc];
  }

 private:
  struct Row {
    long calls = 0;
    long predicted = 0;
    std::map<int, long> codes;
  };
  static Stats *Create() {
    if (getenv("QUIBLINK_FUZZ_STATS") == nullptr) return nullptr;
    static Stats stats;
    atexit([] { stats.Print(); });
    return &stats;
  }
  void Print() {
    std::lock_guard<std::mutex> hold(mu_);
    for (const auto &[call, row] : rows_) {
      fprintf(stderr, "%-14s calls %8ld predicted %8ld codes", call.c_str(), row.calls,
              row.predicted);
      for (const auto &[rc, n] : row.codes) fprintf(stderr, " %d:%ld", rc, n);
      fprintf(stderr, "\n");
    }
  }
  std::mutex mu_;
  std::map<std::string, Row> rows_;
};

// Puts the line in one kind of trouble for a call: device calls that fail,
// modem lines off or unreadable, output held or stuck; gone again at the end
// of the scope.
class LineTrouble {
 public:
  LineTrouble(fake::Line &line, Input &in) : line_(line) {
    const int times = static_cast<int>(in.Range(1, 4));
    switch (in.Byte() % 8) {
      case 0:
        line.FailWrite(times);
        break;
      case 1:
        line.FailRead(times);
        break;
      case 2:
        line.FailLineStatus(times);
        break;
      case 3:
        line.SetModem(plat::kModemOk, 0);
        break;
      case 4:
        line.SetModem(plat::kModemFailed, 0);
        break;
      case 5:
        line.SetHoldFlags(1u << in.Range(0, 4));
        break;
      case 6:
        line.SetOutputStuck(true);
        break;
      default:
        line.SetModem(plat::kModemNotSupported, 0);
        break;
    }
  }
  ~LineTrouble() {
    line_.FailWrite(0);
    line_.FailRead(0);
    line_.FailLineStatus(0);
    line_.SetModem(plat::kModemOk, plat::kCtsOn | plat::kDsrOn);
    line_.SetHoldFlags(0);
    line_.SetOutputStuck(false);
  }
  LineTrouble(const LineTrouble &) = delete;
  LineTrouble &operator=(const LineTrouble &) = delete;

 private:
  fake::Line &line_;
};

}  // namespace fuzz
