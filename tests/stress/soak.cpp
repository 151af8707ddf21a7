// Fault soak: three simulators (a classic panel, a word-addressed panel and
// a graphic terminal) pace their replies at line speed while the library
// moves long transfers, each driven by its own thread. In every round one of
// the simulator's faults is armed part-way into a transfer, for one to four
// consecutive requests; the simulator's counters tell how often it fired.
// From the fault and that count the result is certain:
//  - a fault that spoils one attempt fails the call with its code only when
//    it hit all three attempts of one request, and is otherwise repaired by
//    the repeat;
//  - a fault the reply checks refuse outright fails the call at once;
//  - pieces, drip and stray bytes cost time and change nothing; stray bytes
//    only while they arrive within the quiet time the library keeps after a
//    reply (5 ms). A loaded machine may deliver them later, into the next
//    request's reply, which then fails at once as a bad start.
// A call that succeeds must have moved exactly the terminal's bytes; after
// every round, faulted or not, a healthy read of the whole range must match
// the terminal's memory, so the channel and the port have recovered.
//
//   quiblink-soak [--rounds N] [--long] [--seed S]
// --rounds: rounds per terminal (every fault the terminal knows comes first,
// then random ones); --long: longer transfers, and the faults that wait out
// the reply time-out may fire three times (30 s each).
#include <string.h>

#include <algorithm>
#include <functional>
#include <map>
#include <thread>

#include "stress/library.h"
#include "stress/support.h"

namespace stress {
namespace {

// What a fault does to a call once it has fired.
enum Effect {
  kHarmless,    // costs time only
  kPerAttempt,  // spoils one attempt; the call fails only when all three were hit
  kAtOnce,      // ends the call at the first firing
  kLateAtOnce,  // costs time only, or ends the call when its bytes come late
};

struct FaultKind {
  const char *spec;  // as armed, before its trigger
  Effect effect;
  int16_t code;  // the call's result when the fault wins
  bool reads, writes;
  bool slow;  // waits out the reply time-out: at most one firing
};

const FaultKind kClassicFaults[] = {
    {"nak", kPerAttempt, RC_NAK, true, true, false},
    {"bad-checksum", kPerAttempt, RC_CHECKSUM, true, false, false},
    {"missing-etx", kPerAttempt, RC_NO_ETX, true, false, false},
    {"wrong-start", kAtOnce, RC_BAD_START, true, true, false},
    {"garbage", kAtOnce, RC_BAD_START, true, true, false},
    {"pieces=3/40", kHarmless, RC_OK, true, true, false},
    {"drip=8", kHarmless, RC_OK, true, true, false},
    {"stray", kLateAtOnce, RC_BAD_START, true, true, false},
    {"partial", kPerAttempt, RC_INCOMPLETE, true, false, true},
    {"silence", kPerAttempt, RC_NO_RESPONSE, true, true, true},
};

const FaultKind kGraphicFaults[] = {
    {"nak", kAtOnce, RC_BAD_START, true, true, false},
    {"bad-checksum", kPerAttempt, RC_CHECKSUM, true, true, false},
    {"wrong-start", kAtOnce, RC_BAD_START, true, true, false},
    {"garbage", kAtOnce, RC_BAD_START, true, true, false},
    {"wrong-echo", kAtOnce, RC_BAD_ECHO, true, true, false},
    {"wrong-seq", kAtOnce, RC_SEQUENCE, true, true, false},
    {"wrong-flag", kAtOnce, RC_SEQUENCE, false, true, false},
    {"status=7", kAtOnce, RC_TERMINAL_ERROR, true, true, false},
    {"bad-length=-2", kPerAttempt, RC_BAD_LENGTH, false, true, false},
    {"bad-length=2", kPerAttempt, RC_BAD_LENGTH, false, true, false},
    {"oversized", kAtOnce, RC_BAD_LENGTH, true, false, false},
    {"oversized", kPerAttempt, RC_BAD_LENGTH, false, true, false},
    {"pieces=4/30", kHarmless, RC_OK, true, true, false},
    {"drip=2", kHarmless, RC_OK, false, true, false},
    {"stray", kLateAtOnce, RC_BAD_START, true, true, false},
    {"partial", kPerAttempt, RC_INCOMPLETE, true, true, true},
    {"silence", kPerAttempt, RC_NO_RESPONSE, true, true, true},
};

struct Tally {
  long rounds = 0, fired = 0, failed = 0;
};

class Lane {
 public:
  Lane(const char *name, int port, bool graphic, uint16_t model, uint32_t seed, bool long_form,
       Failures &failures)
      : name_(name),
        port_(port),
        graphic_(graphic),
        model_(model),
        rng_(seed),
        long_(long_form),
        failures_(failures) {}

  void Start() {
    std::vector<std::string> args =
        graphic_
            ? std::vector<std::string>{"--family", "graphic"}
            : std::vector<std::string>{"--family", "classic", "--model", std::to_string(model_)};
    args.push_back("--pacing");
    sim_ = StartSim(port_, args);
  }

  void Open(Library &lib) {
    lib_ = &lib;
    handle_ = graphic_ ? lib.XQUIB_Open(uint16_t(port_), 38400, 0)
                       : lib.QUIB_Open(uint16_t(port_), model_);
    if (handle_ < 0) failures_.Add("%s: open returned %d", name_, handle_);
  }

  void Run(int rounds) {
    std::vector<const FaultKind *> plan;
    const FaultKind *begin = graphic_ ? std::begin(kGraphicFaults) : std::begin(kClassicFaults);
    const FaultKind *end = graphic_ ? std::end(kGraphicFaults) : std::end(kClassicFaults);
    for (const FaultKind *k = begin; k != end; ++k) plan.push_back(k);
    std::shuffle(plan.begin(), plan.end(), rng_);
    const size_t every_kind = plan.size();
    while (int(plan.size()) < rounds)
      plan.push_back(begin + Between(rng_, 0, uint32_t(end - begin) - 1));
    for (size_t i = 0; i < plan.size(); ++i) Round(*plan[i], i < every_kind);
  }

  void Close() {
    if (lib_->QUIB_Close(uint16_t(handle_)) != 0) failures_.Add("%s: close", name_);
    sim_->Stop();
  }

  void Report() const {
    for (const auto &[spec, t] : tally_) {
      printf("  %-8s %-13s rounds %3ld  fired %3ld  calls failed %3ld\n", name_, spec.c_str(),
             t.rounds, t.fired, t.failed);
    }
  }

 private:
  // ---- one round -------------------------------------------------------------

  // The first round of each fault lets it fire often enough to win; later
  // rounds fire it one to four times.
  void Round(const FaultKind &kind, bool first) {
    bool read = kind.reads && (!kind.writes || Between(rng_, 0, 1) == 0);
    uint32_t times = Between(rng_, first ? 3 : 1, 4);
    if (kind.slow) times = long_ ? Between(rng_, 1, 3) : 1;
    Transfer t = graphic_ ? GraphicTransfer(read) : ClassicTransfer(read);
    const long base = Counter("requests");
    const long fired_before = Counter("faults");
    const long arm_at = base + Between(rng_, 0, uint32_t(t.requests - 1));
    const std::string spec = std::string(kind.spec) + ":next=" + std::to_string(times);

    // Arms the fault once the transfer is that far: mid-transfer, not only
    // at its start.
    std::atomic<bool> done{false};
    std::thread watcher([&] {
      while (!done) {
        if (Counter("requests") >= arm_at) {
          sim_->Arm(spec);
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
    const int16_t rc = t.run();
    done = true;
    watcher.join();
    sim_->ClearFaults();
    const long fired = Counter("faults") - fired_before;

    int16_t want = RC_OK;
    if (kind.effect == kAtOnce && fired >= 1) want = kind.code;
    if (kind.effect == kPerAttempt && fired >= 3) want = kind.code;
    if (kind.effect == kLateAtOnce && fired >= 1 && rc == kind.code) want = kind.code;
    Tally &tally = tally_[kind.spec + std::string(read ? " r" : " w")];
    ++tally.rounds;
    tally.fired += fired;
    tally.failed += rc != 0;
    if (rc != want) {
      failures_.Add("%s: %s of %zu bytes with %s fired %ld times: rc %d, wanted %d", name_,
                    read ? "read" : "write", t.size, spec.c_str(), fired, rc, want);
    }
    if (rc == 0) t.check();
    if (graphic_ && kind.code == RC_TERMINAL_ERROR && rc == RC_TERMINAL_ERROR && status_ != 7) {
      failures_.Add("%s: terminal status %d, the terminal sent 7", name_, status_);
    }
    Recover();
  }

  struct Transfer {
    size_t size;
    long requests;  // the transfer's requests without faults
    std::function<int16_t()> run;
    std::function<void()> check;  // after a success: exactly the terminal's bytes
  };

  // ---- classic panels ---------------------------------------------------------

  // Logical addresses the soak uses; on the word panel they cross its hole.
  static constexpr int32_t kClassicSpan = 7000;

  uint32_t Wire(int32_t logical) const {
    if (model_ != 3) return uint32_t(logical);
    return uint32_t(logical) + 0x8080 + (logical >= 3960 ? 8 : 0);
  }

  // The panel's memory, a logical range, through the simulator; the word
  // panel's range may cross its hole, which has no memory.
  Bytes Peek(int32_t address, size_t count) {
    Bytes out;
    while (count > 0) {
      size_t n = count;
      if (model_ == 3 && address < 3960 && address + int32_t(n) > 3960) n = size_t(3960 - address);
      char command[48];
      snprintf(command, sizeof command, "peek 0x%X %zu", Wire(address), n);
      const Bytes part = FromAnswer(sim_->Command(command));
      out.insert(out.end(), part.begin(), part.end());
      address += int32_t(n);
      count -= n;
    }
    return out;
  }

  Transfer ClassicTransfer(bool read) {
    const size_t size = 2 * (long_ ? Between(rng_, 400, 1500) : Between(rng_, 150, 600));
    const int32_t address = int32_t(2 * Between(rng_, 0, uint32_t(kClassicSpan - size) / 2));
    long requests = 0;
    for (int32_t at = address, left = int32_t(size); left > 0;) {
      int32_t n = std::min(left, read ? 64 : 32);
      if (model_ == 3 && at < 3960 && at + n > 3960) n = 3960 - at;
      ++requests;
      at += n;
      left -= n;
    }
    auto buffer = std::make_shared<Bytes>(size);
    if (read) {
      return {size, requests,
              [=, this] {
                return lib_->QUIB_Read(uint16_t(handle_), 0, address, buffer->data(),
                                       uint16_t(size));
              },
              [=, this] {
                if (*buffer != Peek(address, size)) failures_.Add("%s: read other bytes", name_);
              }};
    }
    *buffer = RandomBytes(rng_, size);
    if (model_ == 3 && address == 0) ++requests;  // the preamble block
    return {size, requests,
            [=, this] {
              return lib_->QUIB_Write(uint16_t(handle_), 0, address, uint16_t(size),
                                      buffer->data());
            },
            [=, this] {
              if (*buffer != Peek(address, size)) failures_.Add("%s: wrote other bytes", name_);
            }};
  }

  // ---- graphic terminals ------------------------------------------------------

  Transfer GraphicTransfer(bool read) {
    const bool group = Between(rng_, 0, 1) == 0;
    const uint32_t target = group ? Between(rng_, 1, 3) : Between(rng_, 3, 6);
    const std::string what = (group ? "group " : "area ") + std::to_string(target);
    auto content = std::make_shared<Bytes>(FromAnswer(sim_->Command(what)));
    if (read) {
      if (content->size() < 2048) {
        // Something long enough to read in several blocks.
        *content = RandomBytes(rng_, Between(rng_, 2048, long_ ? 9000 : 4096));
        sim_->Command(what + " " + Hex(*content));
      }
      auto buffer = std::make_shared<Bytes>(content->size() + 1024);
      const long requests = long((content->size() + 1023) / 1024);
      return {content->size(), requests,
              [=, this] {
                int32_t total = -1;
                status_ = 0xBEEF;
                const int16_t rc = group ? lib_->XQUIB_Read1G(uint16_t(handle_), uint16_t(target),
                                                              buffer->data(), &total, &status_)
                                         : lib_->XQUIB_Read(uint16_t(handle_), uint8_t(target),
                                                            buffer->data(), &total, &status_);
                if (rc != 0 && total != -1) failures_.Add("%s: total stored on a failure", name_);
                if (rc == 0 && total != int32_t(content->size())) failures_.Add("%s: total", name_);
                return rc;
              },
              [=, this] {
                if (!std::equal(content->begin(), content->end(), buffer->begin())) {
                  failures_.Add("%s: %s read other bytes", name_, what.c_str());
                }
              }};
    }
    auto data =
        std::make_shared<Bytes>(RandomBytes(rng_, Between(rng_, 2048, long_ ? 9000 : 4096)));
    const long requests = long((data->size() + 1023) / 1024);
    return {data->size(), requests,
            [=, this] {
              status_ = 0xBEEF;
              return lib_->XQUIB_Write(uint16_t(handle_), uint8_t(group ? 1 : target),
                                       uint16_t(group ? target : 0), uint32_t(data->size()),
                                       data->data(), &status_);
            },
            [=, this] {
              if (FromAnswer(sim_->Command(what)) != *data) {
                failures_.Add("%s: %s holds other bytes than written", name_, what.c_str());
              }
            }};
  }

  // ---- afterwards -------------------------------------------------------------

  // A healthy call on the same channel must work and bring the terminal's
  // exact bytes. It starts once the simulator has sent everything, so that
  // late stray bytes of the round are in the input queue (which the library
  // purges) and not inside this call's reply.
  void Recover() {
    for (int i = 0; i < 500 && Counter("sending") != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!graphic_) {
      const int32_t address = int32_t(2 * Between(rng_, 0, (kClassicSpan - 512) / 2));
      Bytes got(512);
      const int16_t rc = lib_->QUIB_Read(uint16_t(handle_), 0, address, got.data(), 512);
      if (rc != 0 || got != Peek(address, 512)) failures_.Add("%s: no recovery (%d)", name_, rc);
      return;
    }
    const Bytes want = FromAnswer(sim_->Command("area 240"));
    Bytes got(want.size() + 1024);
    int32_t total = -1;
    uint16_t status = 0;
    const int16_t rc = lib_->XQUIB_Read(uint16_t(handle_), 240, got.data(), &total, &status);
    if (rc != 0 || total != int32_t(want.size()) ||
        !std::equal(want.begin(), want.end(), got.begin())) {
      failures_.Add("%s: no recovery (%d)", name_, rc);
    }
  }

  long Counter(const char *name) { return Field(sim_->Command("stats"), name); }

  const char *name_;
  int port_;
  bool graphic_;
  uint16_t model_;
  std::mt19937 rng_;
  bool long_;
  Failures &failures_;
  std::unique_ptr<quiblink::sim::SimProcess> sim_;
  Library *lib_ = nullptr;
  int16_t handle_ = -1;
  uint16_t status_ = 0;
  std::map<std::string, Tally> tally_;
};

}  // namespace
}  // namespace stress

int main(int argc, char **argv) {
  using namespace stress;
  int rounds = 0;
  bool long_form = false;
  uint32_t seed = 1;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = atoi(argv[++i]);
    } else if (strcmp(argv[i], "--long") == 0) {
      long_form = true;
    } else if (strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
      seed = uint32_t(strtoul(argv[++i], nullptr, 0));
    } else {
      fprintf(stderr, "usage: quiblink-soak [--rounds N] [--long] [--seed S]\n");
      return 2;
    }
  }
  const auto start = Clock::now();
  Failures failures;
  try {
    Lane lanes[] = {{"classic", 0, false, 0, seed, long_form, failures},
                    {"word", 1, false, 3, seed + 1, long_form, failures},
                    {"graphic", 2, true, 0, seed + 2, long_form, failures}};
    for (Lane &lane : lanes) lane.Start();
    Library lib(QUIBLINK_LIBRARY_PATH);
    for (Lane &lane : lanes) lane.Open(lib);
    std::vector<std::thread> threads;
    for (Lane &lane : lanes) threads.emplace_back([&lane, rounds] { lane.Run(rounds); });
    for (std::thread &t : threads) t.join();
    for (Lane &lane : lanes) lane.Close();
    lib.Unload();
    printf("soak: %.1f s\n", SecondsSince(start));
    for (const Lane &lane : lanes) lane.Report();
  } catch (const std::exception &e) {
    fprintf(stderr, "quiblink-soak: %s\n", e.what());
    return 1;
  }
  return failures.count() == 0 ? 0 : 1;
}
