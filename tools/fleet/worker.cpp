#include "worker.h"

#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "backup/atomic_file.h"
#include "backup/manifest.h"
#include "backup/terminal_steps.h"
#include "objects.h"
#include "port_identity.h"
#include "quiblink/quiblink.hpp"
#include "quiblink/quiblink_ext.h"
#include "worker_protocol.h"

namespace quiblink::fleet {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kCapacity = 16 * 1024 * 1024;
constexpr auto kProgressInterval = std::chrono::milliseconds(200);

// Events from every thread, one whole line at a time.
class Emitter {
 public:
  explicit Emitter(int fd) : fd_(fd) {}
  void Emit(const Event &event) {
    const std::string line = EncodeEvent(event);
    std::lock_guard<std::mutex> hold(mutex_);
    for (size_t done = 0; done < line.size();) {
      const ssize_t put = write(fd_, line.data() + done, line.size() - done);
      if (put <= 0) return;  // the run is gone; this worker follows it
      done += static_cast<size_t>(put);
    }
  }

 private:
  int fd_;
  std::mutex mutex_;
};

struct Job {
  const TerminalSpec &spec;
  uint16_t port;
  Mode mode;
  Objects &objects;
  Emitter &out;
  const std::string &tool;

  void Say(Event::Kind kind, const std::string &text) const {
    Event event;
    event.terminal = spec.name;
    event.kind = kind;
    event.text = text;
    out.Emit(event);
  }
};

backup::Steps StepsOf(const Job &job) {
  backup::Steps steps;
  steps.log = [&job](const std::string &line) { job.Say(Event::kStep, line); };
  auto last = std::make_shared<Clock::time_point>();
  steps.progress = [&job, last](const std::string &, uint64_t done, uint64_t total) {
    const auto now = Clock::now();
    if (now - *last < kProgressInterval && !(total != 0 && done >= total)) return;
    *last = now;
    Event event;
    event.terminal = job.spec.name;
    event.kind = Event::kProgress;
    event.done = done;
    event.total = total;
    job.out.Emit(event);
  };
  return steps;
}

// Every part to its object, made durable, before the run hears of it.
void Keep(const Job &job, const backup::Backup &made) {
  job.Say(Event::kState, "saving");
  for (const auto &group : made.groups) job.objects.Put(group.data);
  for (const auto &area : made.areas) job.objects.Put(area.data);
  for (const auto &range : made.ranges) job.objects.Put(range.data);
  job.objects.SyncFolders();
}

void ReadOnce(const Job &job) {
  const TerminalSpec &spec = job.spec;
  job.Say(Event::kState, "connecting");
  const backup::Origin origin = backup::MakeOrigin(job.tool, spec.port, spec.baud, spec.model);
  const bool graphic = spec.family == backup::Family::kGraphic;
  Channel channel = graphic ? Channel::open_graphic(job.port, spec.baud, spec.model)
                            : Channel::open_classic(job.port, spec.model);
  job.Say(Event::kState, "reading");
  Event event;
  event.terminal = spec.name;
  if (graphic && job.mode == Mode::kQuickCheck) {
    event.kind = Event::kInfo;
    event.info = backup::QueryTerminal(channel);
    return job.out.Emit(event);
  }
  const backup::Backup made =
      graphic ? backup::ReadGraphicTerminal(channel, origin, spec.areas, kCapacity, StepsOf(job))
              : backup::ReadClassicPanel(channel, origin, spec.ranges, StepsOf(job));
  if (job.mode != Mode::kQuickCheck) Keep(job, made);
  event.kind = Event::kDone;
  event.manifest = backup::BuildManifest(made);
  job.out.Emit(event);
}

void RunJob(const Job &job) {
  for (int attempt = 1;; ++attempt) {
    try {
      return ReadOnce(job);
    } catch (const std::exception &error) {
      if (attempt == 2) return job.Say(Event::kFailed, error.what());
      job.Say(Event::kState, std::string("retrying after: ") + error.what());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kRetryPauseMs));
  }
}

// COMn keeps its own port index (and so its mapping); any other port takes a free index and
// is mapped to it.
std::vector<uint16_t> AssignPorts(const std::vector<TerminalSpec> &terminals) {
  std::vector<uint16_t> ports(terminals.size());
  bool taken[kTerminalsPerWorker] = {};
  for (size_t i = 0; i < terminals.size(); ++i) {
    if (const int com = ComNumber(terminals[i].port); com != 0) {
      ports[i] = static_cast<uint16_t>(com - 1);
      taken[com - 1] = true;
    }
  }
  uint16_t next = 0;
  for (size_t i = 0; i < terminals.size(); ++i) {
    if (ComNumber(terminals[i].port) != 0) continue;
    while (taken[next]) ++next;
    ports[i] = next;
    taken[next] = true;
    if (QUIB_SetPortDevice(next, terminals[i].port.c_str()) != RC_OK) {
      throw std::runtime_error("the library refuses the port " + terminals[i].port);
    }
  }
  return ports;
}

std::string ReadRequest(int fd) {
  std::string text;
  const int error = backup::ReadUpTo(fd, 1 << 20, [&text](const uint8_t *piece, size_t size) {
    text.append(reinterpret_cast<const char *>(piece), size);
  });
  if (error != 0) throw std::runtime_error("cannot read the worker's request");
  return text;
}

}  // namespace

int RunWorker(int in_fd, int out_fd, const std::string &tool) {
  const WorkerRequest request = DecodeRequest(ReadRequest(in_fd));
  // A service has no one to click a message box away: the library's set-up texts go to its
  // trace instead, which a worker does not show.
  QUIB_SetMessageBoxes(0);
  const std::vector<uint16_t> ports = AssignPorts(request.terminals);
  Emitter out(out_fd);
  std::vector<std::thread> threads;
  std::vector<std::unique_ptr<Objects>> stores;
  for (size_t i = 0; i < request.terminals.size(); ++i) {
    stores.push_back(std::make_unique<Objects>(request.objects, true));
  }
  for (size_t i = 0; i < request.terminals.size(); ++i) {
    threads.emplace_back([&, i] {
      RunJob({request.terminals[i], ports[i], request.mode, *stores[i], out, tool});
    });
  }
  for (std::thread &thread : threads) thread.join();
  return 0;
}

}  // namespace quiblink::fleet
