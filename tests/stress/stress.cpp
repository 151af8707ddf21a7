// Stress: ten ports open against ten simulators (five classic panels of every
// addressing model, five graphic terminals), 28 channels spread over them,
// and 17 threads issuing a fixed number of mixed calls of both families.
//
//  - Each of 13 owner threads has one classic and one graphic channel of its
//    own, with memory that only it writes: a panel region, a group, a plain
//    area, an installation image. Every read is compared with what the owner
//    wrote, so data delivered to the wrong caller shows at once; at the end
//    the simulators' own memory is compared with the owners' records, so a
//    lost write shows.
//  - Two channels are shared by every thread for single-frame calls, so that
//    calls of two threads on one channel meet: the later one is refused with
//    RC_CHANNEL_BUSY and sends nothing. The two contender threads also close
//    and reopen the shared channels under the others' calls: a close that
//    meets a call is refused, a call that meets the closed channel gets
//    RC_NOT_OPEN, and neither sends anything.
//  - Every call adds the requests it must have sent to its port's count; each
//    simulator's count of requests received must equal it exactly, so a lost
//    or duplicated request shows.
//  - Owners close and reopen their channels now and then, and two churner
//    threads open channels of their own on the ports where the owners
//    transfer blocks, read known data through them (the classic reads in
//    several chunks) and close them again, all at once: every open must
//    succeed, every close return 0, and no transfer lose a byte. A port whose
//    only channel closes stops its worker and starts a new one.
//  - Owners of one terminal run their block transfers at the same time; the
//    library holds the port for each transfer from its first frame to its
//    last, so that no walk or chunked write takes another's blocks.
// At the end the library is unloaded with channels still open, which must
// end every port worker at once.
//
//   quiblink-stress [--ops N] [--pacing] [--seed S]
// --ops: calls per owner thread (contenders make twice as many); --pacing:
// the simulators pace replies at line speed.
#include <string.h>

#include <array>
#include <functional>
#include <shared_mutex>
#include <thread>

#include "stress/library.h"
#include "stress/support.h"

namespace stress {
namespace {

struct Options {
  int ops = 20;
  bool pacing = false;
  uint32_t seed = 1;
};

struct PortSpec {
  bool graphic;
  uint16_t model;
  int channels;
};
constexpr int kPortCount = 10;
constexpr PortSpec kPorts[kPortCount] = {
    {false, 0, 4}, {false, 1, 3}, {false, 2, 3}, {false, 3, 2}, {false, 0, 2},
    {true, 0, 4},  {true, 0, 4},  {true, 0, 3},  {true, 0, 2},  {true, 0, 1},
};
constexpr int kChannelCount = 28;  // four slots stay free for the churners
constexpr int kSharedClassic = 0;  // port 0, fourth channel
constexpr int kSharedGraphic = 1;  // port 5, fourth channel
constexpr int kOwners = 13;
constexpr int kContenders = 2;
constexpr int kChurners = 2;
// Ports whose channels the churners open and close: the classic panel and
// the graphic terminals where owners transfer blocks.
constexpr int kChurnPorts[] = {0, 5, 6, 7};
constexpr uint16_t kBaud = 57600;
constexpr uint8_t kType = 0x5A;
const char kPassword[] = "stress-pw";
const char kProject[] = "stress";
constexpr int kRegion = 384;  // bytes of panel memory per classic channel
constexpr int kShared = 256;  // bytes of read-only area 1 the shared classic channel reads

struct Channel {
  int id = 0;
  int port = 0;
  int index = 0;  // among the channels of its port
  bool graphic = false;
  uint16_t model = 0;
  // A shared channel's handle is stable (its close and reopen run while no
  // other thread opens or closes); an owner's may change at a reopen.
  int16_t handle = -1;
  // What the terminal holds for this channel; only its owner touches these.
  int32_t base = 0;
  Bytes region;
  uint16_t group = 0;
  uint8_t area = 0;
  uint8_t os_sub = 'a';
  uint8_t os_option = 0;
  Bytes group_data, area_data, os_data;
  bool os_written = false;
};

long WriteRequests(size_t bytes) {
  return static_cast<long>((bytes + 1023) / 1024);
}
// A block read takes one request per block, and one for an empty content.
long ReadRequests(size_t bytes) {
  return bytes == 0 ? 1 : static_cast<long>((bytes + 1023) / 1024);
}
long ClassicRequests(size_t bytes, size_t chunk) {
  return static_cast<long>((bytes + chunk - 1) / chunk);
}

class Stress {
 public:
  explicit Stress(const Options &options) : options_(options) {}
  void Use(Library *lib) { lib_ = lib; }

  void Setup() {
    // The shared channels first: on the lowest slots, a reopen always gets
    // its slot back, whatever other slots are free at the time.
    std::vector<std::pair<int, int>> order = {{0, 3}, {5, 3}};
    for (int port = 0; port < kPortCount; ++port) {
      for (int index = 0; index < kPorts[port].channels; ++index) {
        if ((port == 0 || port == 5) && index == 3) continue;
        order.emplace_back(port, index);
      }
    }
    int id = 0;
    for (const auto &[port, index] : order) {
      {
        Channel &c = channels_[id];
        c.id = id;
        c.port = port;
        c.index = index;
        c.graphic = kPorts[port].graphic;
        c.model = kPorts[port].model;
        c.base = index * 512;
        c.group = static_cast<uint16_t>(100 + id);
        c.area = static_cast<uint8_t>(3 + index);
        c.os_sub = index < 2 ? 'a' : 'b';
        c.os_option = index % 2 ? 0x80 : 0x00;
        c.handle = Open(c);
        if (c.handle != id) failures_.Add("channel %d opened as handle %d", id, c.handle);
        ++id;
      }
    }
    for (Channel &c : channels_) {
      if (c.id == kSharedClassic || c.id == kSharedGraphic) continue;
      (c.graphic ? graphic_owned_ : classic_owned_).push_back(c.id);
    }
    // The free slots filled for a moment: a 33rd open is refused.
    std::vector<int16_t> extras;
    for (int i = kChannelCount; i < 32; ++i) extras.push_back(lib_->XQUIB_Open(9, kBaud, 0));
    const int16_t extra = lib_->QUIB_Open(0, 0);
    if (extra != RC_SEQUENCE) failures_.Add("a 33rd open returned %d, not -32", extra);
    for (int16_t h : extras) {
      if (h < 0 || lib_->QUIB_Close(uint16_t(h)) != 0) failures_.Add("extra channel %d", h);
    }

    shared_area1_.resize(kShared);
    Check(lib_->QUIB_Read(Handle(kSharedClassic), 1, 0, shared_area1_.data(), kShared) == 0,
          "baseline read of area 1");
    Count(0, ClassicRequests(kShared, 64));
    for (Channel &c : channels_) {
      if (c.id == kSharedClassic || c.id == kSharedGraphic) continue;
      if (!c.graphic) {
        c.region.resize(kRegion);
        Check(lib_->QUIB_Read(Handle(c.id), 0, c.base, c.region.data(), kRegion) == 0,
              "baseline read of a region");
        Count(c.port, ClassicRequests(kRegion, 64));
      } else {
        Bytes data(8192);
        int32_t total = -1;
        uint16_t status = 0;
        Check(lib_->XQUIB_Read(Handle(c.id), c.area, data.data(), &total, &status) == 0,
              "baseline read of an area");
        c.area_data.assign(data.begin(), data.begin() + (total > 0 ? total : 0));
        Count(c.port, ReadRequests(c.area_data.size()));
      }
    }
  }

  void Run() {
    std::vector<std::thread> threads;
    for (int t = 0; t < kOwners; ++t) threads.emplace_back([this, t] { Owner(t); });
    for (int t = 0; t < kContenders; ++t) threads.emplace_back([this, t] { Contender(t); });
    for (int t = 0; t < kChurners; ++t) threads.emplace_back([this, t] { Churner(t); });
    for (std::thread &thread : threads) thread.join();
  }

  // The simulators' memory and request counts against the records.
  void Verify() {
    for (Channel &c : channels_) {
      if (c.id == kSharedClassic || c.id == kSharedGraphic) continue;
      auto &sim = *sims_[c.port];
      if (!c.graphic) {
        const uint32_t wire = c.model == 3 ? uint32_t(c.base) + 0x8080 : uint32_t(c.base);
        char command[64];
        snprintf(command, sizeof command, "peek 0x%X %d", wire, kRegion);
        if (FromAnswer(sim.Command(command)) != c.region) {
          failures_.Add("panel memory of channel %d differs from what it wrote", c.id);
        }
        continue;
      }
      if (FromAnswer(sim.Command("group " + std::to_string(c.group))) != c.group_data) {
        failures_.Add("group %d of channel %d differs from what it wrote", c.group, c.id);
      }
      if (FromAnswer(sim.Command("area " + std::to_string(c.area))) != c.area_data) {
        failures_.Add("area %d of channel %d differs from what it wrote", c.area, c.id);
      }
      char command[32];
      snprintf(command, sizeof command, "os %c 0x%X", c.os_sub, c.os_option);
      if (c.os_written && FromAnswer(sim.Command(command)) != c.os_data) {
        failures_.Add("installed image of channel %d differs from what it sent", c.id);
      }
    }
    // Every group of a terminal, in ascending order, in one read.
    for (int port = 0; port < kPortCount; ++port) {
      if (!kPorts[port].graphic) continue;
      Bytes want;
      long requests = 1;  // the closing reply
      for (const Channel &c : channels_) {
        if (c.port != port || c.group_data.empty()) continue;
        want.insert(want.end(), c.group_data.begin(), c.group_data.end());
        requests += WriteRequests(c.group_data.size());
      }
      Bytes data(want.size() + 1024);
      int32_t total = -1;
      uint16_t status = 0;
      const int16_t h = FirstHandle(port);
      const int16_t rc = lib_->XQUIB_ReadAllEx(uint16_t(h), data.data(), uint32_t(data.size()),
                                               &total, &status, nullptr, nullptr);
      Count(port, requests);
      if (rc != 0 || total != int32_t(want.size()) ||
          !std::equal(want.begin(), want.end(), data.begin())) {
        failures_.Add("reading every group of port %d: rc %d, %d bytes of %zu", port, rc, total,
                      want.size());
      }
    }
    for (int port = 0; port < kPortCount; ++port) {
      const long got = Field(sims_[port]->Command("stats"), "requests");
      if (got != expected_[port].load()) {
        failures_.Add("port %d: the terminal received %ld requests, the calls sent %ld", port, got,
                      expected_[port].load());
      }
      requests_ += got;
    }
  }

  // Closes the classic channels, then unloads the library with the graphic
  // ones still open.
  void Unload(int threads_before) {
    for (Channel &c : channels_) {
      if (!c.graphic && lib_->QUIB_Close(Handle(c.id)) != 0) failures_.Add("close %d", c.id);
    }
    const auto start = Clock::now();
    lib_->Unload();
    unload_seconds_ = SecondsSince(start);
    if (unload_seconds_ > 5) failures_.Add("unload took %.1f s", unload_seconds_);
    if (Mapped("libquiblink")) failures_.Add("the library is still mapped after the unload");
    if (ThreadCount() != threads_before) {
      failures_.Add("%d threads after the unload, %d before the load", ThreadCount(),
                    threads_before);
    }
  }

  void StartSims() {
    for (int port = 0; port < kPortCount; ++port) {
      std::vector<std::string> args;
      if (kPorts[port].graphic) {
        args = {"--family",       "graphic",
                "--baud",         std::to_string(kBaud),
                "--type",         std::to_string(kType),
                "--password",     kPassword,
                "--project-name", kProject};
      } else {
        args = {"--family", "classic", "--model", std::to_string(kPorts[port].model)};
      }
      args.push_back(options_.pacing ? "--pacing" : "--no-pacing");
      sims_[port] = StartSim(port, args);
    }
  }

  void StopSims() {
    for (auto &sim : sims_) {
      if (sim) sim->Stop();
    }
  }

  long failures() { return failures_.count(); }
  void Summary(double seconds) {
    printf(
        "stress: %d ports, %d channels, %d threads, %ld calls (%ld refused busy, %ld on a channel "
        "just closed), %ld requests, %ld reopens (%ld closes refused busy), %ld churned channels "
        "in %.1f s; unload with %d channels open: %.3f s\n",
        kPortCount, kChannelCount, kOwners + kContenders + kChurners, calls_.load(), busy_.load(),
        closed_seen_.load(), requests_, reopens_.load(), close_refused_.load(), churned_.load(),
        seconds, kChannelCount / 2, unload_seconds_);
  }

 private:
  uint16_t Handle(int id) { return static_cast<uint16_t>(channels_[id].handle); }
  int16_t FirstHandle(int port) {
    for (const Channel &c : channels_) {
      if (c.port == port) return c.handle;
    }
    return -1;
  }
  void Count(int port, long requests) { expected_[port] += requests; }
  void Check(bool ok, const char *what) {
    if (!ok) failures_.Add("%s", what);
  }

  int16_t Open(const Channel &c) {
    return c.graphic ? lib_->XQUIB_Open(uint16_t(c.port), kBaud, 0)
                     : lib_->QUIB_Open(uint16_t(c.port), c.model);
  }

  // ---- owners --------------------------------------------------------------

  void Owner(int t) {
    std::mt19937 rng(options_.seed * 7919u + uint32_t(t));
    Channel &classic = channels_[classic_owned_[t]];
    Channel &graphic = channels_[graphic_owned_[t]];
    for (int op = 0; op < options_.ops; ++op) {
      ++calls_;
      const uint32_t pick = Between(rng, 0, 99);
      if (pick < 4) {
        Reopen(Between(rng, 0, 1) ? classic : graphic);
      } else if (pick < 12) {
        SharedCall(rng);
      } else if (pick < 55) {
        ClassicCall(classic, rng);
      } else {
        GraphicCall(graphic, rng);
      }
    }
  }

  // Under the other owners' and the churners' opens and closes: the channel
  // may come back on another slot.
  void Reopen(Channel &c) {
    std::shared_lock<std::shared_mutex> hold(slots_);
    const int16_t rc = lib_->QUIB_Close(Handle(c.id));
    if (rc != 0) failures_.Add("close of channel %d returned %d", c.id, rc);
    const int16_t h = Open(c);
    if (h < 0) failures_.Add("reopen of channel %d returned %d", c.id, h);
    c.handle = h;
    ++reopens_;
  }

  void ClassicCall(Channel &c, std::mt19937 &rng) {
    const uint32_t offset = 2 * Between(rng, 0, kRegion / 2 - 1);
    const uint32_t room = kRegion - offset < 256 ? kRegion - offset : 256;
    const uint32_t count = 2 * Between(rng, 1, room / 2);
    const int32_t address = c.base + int32_t(offset);
    if (Between(rng, 0, 1) == 0) {
      const Bytes data = RandomBytes(rng, count);
      const int16_t rc = lib_->QUIB_Write(Handle(c.id), 0, address, uint16_t(count), data.data());
      if (rc != 0) {
        failures_.Add("write of %u bytes on channel %d returned %d", count, c.id, rc);
        return;
      }
      memcpy(c.region.data() + offset, data.data(), count);
      Count(c.port, ClassicRequests(count, 32) + (c.model == 3 && address == 0 ? 1 : 0));
      return;
    }
    Bytes got(count);
    const int16_t rc = lib_->QUIB_Read(Handle(c.id), 0, address, got.data(), uint16_t(count));
    Count(c.port, ClassicRequests(count, 64));
    if (rc != 0 || memcmp(got.data(), c.region.data() + offset, count) != 0) {
      failures_.Add("read of %u bytes at %d on channel %d: rc %d or other bytes", count, address,
                    c.id, rc);
    }
  }

  uint32_t TransferLength(std::mt19937 &rng) {
    return Between(rng, 0, 9) == 0 ? Between(rng, 1025, 2600) : Between(rng, 1, 700);
  }

  void GraphicCall(Channel &c, std::mt19937 &rng) {
    const uint16_t h = Handle(c.id);
    const uint32_t pick = Between(rng, 0, 99);
    uint16_t status = 0xBEEF;
    if (pick >= 55) {
      Query(c.port, h, rng, "owner", false);
      return;
    }
    if (pick < 15) {
      const Bytes data = RandomBytes(rng, TransferLength(rng));
      const int16_t rc =
          lib_->XQUIB_Write(h, 1, c.group, uint32_t(data.size()), data.data(), &status);
      Count(c.port, WriteRequests(data.size()));
      if (rc != 0 || status != 0)
        failures_.Add("group write on %d: rc %d status %d", c.id, rc, status);
      if (rc == 0) c.group_data = data;
    } else if (pick < 30) {
      ReadBack(c, h, true, rng);
    } else if (pick < 38) {
      const Bytes data = RandomBytes(rng, TransferLength(rng));
      std::vector<uint32_t> progress;
      const int16_t rc = lib_->XQUIB_WriteEx(
          h, c.area, 0, uint32_t(data.size()), data.data(), &status,
          [](uint32_t done, uint32_t, void *user) {
            static_cast<std::vector<uint32_t> *>(user)->push_back(done);
          },
          &progress);
      Count(c.port, WriteRequests(data.size()));
      if (rc != 0 || status != 0 || progress.size() != size_t(WriteRequests(data.size())) ||
          progress.back() != data.size()) {
        failures_.Add("area write on %d: rc %d status %d", c.id, rc, status);
      }
      if (rc == 0) c.area_data = data;
    } else if (pick < 48) {
      ReadBack(c, h, false, rng);
    } else {
      const Bytes data = RandomBytes(rng, TransferLength(rng));
      const int16_t rc = lib_->XQUIB_OSInstl(h, c.os_sub, c.os_option, uint32_t(data.size()),
                                             data.data(), &status);
      Count(c.port, WriteRequests(data.size()));
      if (rc != 0 || status != 0) failures_.Add("installation on %d: rc %d", c.id, rc);
      if (rc == 0) {
        c.os_data = data;
        c.os_written = true;
      }
    }
  }

  // Reads the channel's group or area back, whole or into a buffer that may
  // be too small, and compares it with what the channel wrote.
  void ReadBack(Channel &c, uint16_t h, bool group, std::mt19937 &rng) {
    const Bytes &want = group ? c.group_data : c.area_data;
    const bool sized = Between(rng, 0, 2) == 0;
    const uint32_t capacity =
        sized ? Between(rng, 0, uint32_t(want.size()) + 16) : uint32_t(want.size() + 2048);
    Bytes data(capacity + 1, 0xEE);
    int32_t total = -1;
    uint16_t status = 0xBEEF;
    int16_t rc;
    if (group) {
      rc = lib_->XQUIB_Read1GEx(h, c.group, data.data(), capacity, &total, &status, nullptr,
                                nullptr);
    } else {
      rc = lib_->XQUIB_ReadEx(h, c.area, data.data(), capacity, &total, &status, nullptr, nullptr);
    }
    if (capacity < want.size()) {
      // Stops at the first block that does not fit, with the blocks before it in the buffer.
      const size_t kept = capacity / 1024 * 1024;
      Count(c.port, long(capacity / 1024) + 1);
      if (rc != RC_BUFFER_TOO_SMALL || total != -1 ||
          !std::equal(want.begin(), want.begin() + long(kept), data.begin()) ||
          data[capacity] != 0xEE) {
        failures_.Add("read of %zu bytes into %u on channel %d: rc %d", want.size(), capacity, c.id,
                      rc);
      }
      return;
    }
    Count(c.port, ReadRequests(want.size()));
    if (rc != 0 || status != 0 || total != int32_t(want.size()) ||
        !std::equal(want.begin(), want.end(), data.begin())) {
      failures_.Add("read back of %s on channel %d: rc %d, %d bytes of %zu",
                    group ? "group" : "area", c.id, rc, total, want.size());
    }
  }

  // ---- single-frame calls ---------------------------------------------------

  // A query or control command; each sends one request and gets a known
  // answer. On a shared channel a call may meet another thread's (busy) or a
  // close (not open).
  void Query(int port, uint16_t h, std::mt19937 &rng, const char *who, bool shared) {
    uint16_t status = 0xBEEF;
    uint32_t a = 0, b = 0;
    int32_t m1 = 0, m2 = 0, m3 = 0;
    uint8_t name[240] = {};
    uint16_t name_length = 0;
    int16_t rc;
    bool ok;
    switch (Between(rng, 0, 7)) {
      case 0:
        rc = lib_->XQUIB_GetKEWType(h, &a, &status);
        ok = rc != 0 || a == kType;
        break;
      case 1:
        rc = lib_->XQUIB_CheckPassword(h, reinterpret_cast<const uint8_t *>(kPassword),
                                       uint16_t(strlen(kPassword)), &status);
        ok = true;
        break;
      case 2:
        rc = lib_->XQUIB_CheckPassword(h, reinterpret_cast<const uint8_t *>("wrong"), 5, &status);
        if (rc == RC_TERMINAL_ERROR && status == 5) rc = 0;  // the refusal is the answer
        ok = true;
        break;
      case 3:
        rc = lib_->XQUIB_GetProjInfo(h, &a, &b, name, &name_length, &status);
        ok = rc != 0 ||
             (name_length == strlen(kProject) && memcmp(name, kProject, name_length) == 0);
        break;
      case 4:
        rc = lib_->XQUIB_GetMemData(h, &m1, &m2, &m3, &status);
        ok = true;
        break;
      case 5:
        rc = lib_->XQUIB_GetOsInfo(h, &a, &b, &status);
        ok = true;
        break;
      case 6:
        rc = lib_->XQUIB_BrateChange(h, uint16_t(0x81 + Between(rng, 0, 2)), &status);
        ok = true;
        break;
      default:
        rc = lib_->XQUIB_Offline(h, &status);
        ok = true;
        break;
    }
    Settle(port, rc, ok, who, shared);
  }

  // The classic shared channel reads read-only memory: a single chunk.
  void SharedClassicRead(std::mt19937 &rng) {
    const uint32_t count = Between(rng, 1, 64);
    const uint32_t address = Between(rng, 0, kShared - count);
    Bytes got(count);
    const int16_t rc =
        lib_->QUIB_Read(Handle(kSharedClassic), 1, int32_t(address), got.data(), uint16_t(count));
    Settle(0, rc, rc != 0 || memcmp(got.data(), shared_area1_.data() + address, count) == 0,
           "shared read", true);
  }

  void SharedCall(std::mt19937 &rng) {
    if (Between(rng, 0, 1)) {
      SharedClassicRead(rng);
    } else {
      Query(channels_[kSharedGraphic].port, Handle(kSharedGraphic), rng, "shared query", true);
    }
  }

  // A single-frame call ended: sent one request, or none when refused busy
  // or, on a shared channel, because another thread had just closed it.
  void Settle(int port, int16_t rc, bool answer_ok, const char *who, bool shared) {
    if (rc == RC_CHANNEL_BUSY) {
      ++busy_;
      return;
    }
    if (shared && rc == RC_NOT_OPEN) {
      ++closed_seen_;
      return;
    }
    Count(port, 1);
    if (rc != 0 || !answer_ok) failures_.Add("%s on port %d: rc %d", who, port, rc);
  }

  // Closes a shared channel under the other threads' calls and opens it
  // again: a close that meets a call in progress is refused (busy) and
  // changes nothing.
  void CloseShared(std::mt19937 &rng) {
    const Channel &c = channels_[Between(rng, 0, 1) ? kSharedClassic : kSharedGraphic];
    // No other open or close meanwhile, so that the reopen takes the slot
    // back and the other threads' handle stays good.
    std::unique_lock<std::shared_mutex> hold(slots_);
    const int16_t rc = lib_->QUIB_Close(Handle(c.id));
    if (rc == RC_BAD_ARGUMENT) {
      ++close_refused_;
      return;
    }
    if (rc != 0) failures_.Add("close of shared channel %d returned %d", c.id, rc);
    // Closed for a moment, so that calls of other threads meet it.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int16_t h = Open(c);
    if (h != c.handle) failures_.Add("shared channel %d reopened as %d", c.id, h);
    ++reopens_;
  }

  void Contender(int t) {
    std::mt19937 rng(options_.seed * 104729u + uint32_t(t));
    for (int op = 0; op < 2 * options_.ops; ++op) {
      ++calls_;
      if (Between(rng, 0, 99) < 10) {
        CloseShared(rng);
      } else {
        SharedCall(rng);
      }
    }
  }

  // ---- churners -------------------------------------------------------------

  // Opens a channel on a port where others transfer, reads known data
  // through it and closes it, while other threads do the same.
  void Churner(int t) {
    std::mt19937 rng(options_.seed * 15485863u + uint32_t(t));
    for (int op = 0; op < options_.ops; ++op) {
      ++calls_;
      const int port = kChurnPorts[Between(rng, 0, sizeof kChurnPorts / sizeof kChurnPorts[0] - 1)];
      const bool graphic = kPorts[port].graphic;
      int16_t h;
      {
        std::shared_lock<std::shared_mutex> hold(slots_);
        h = graphic ? lib_->XQUIB_Open(uint16_t(port), kBaud, 0) : lib_->QUIB_Open(0, 0);
      }
      if (h < 0) {
        failures_.Add("churner open on port %d returned %d", port, h);
        continue;
      }
      if (graphic) {
        Query(port, uint16_t(h), rng, "churner", false);
      } else {
        // Every chunk of area 1, whose bytes the panel never changes.
        Bytes got(kShared);
        const int16_t rc = lib_->QUIB_Read(uint16_t(h), 1, 0, got.data(), kShared);
        Count(0, ClassicRequests(kShared, 64));
        if (rc != 0 || got != shared_area1_) failures_.Add("churner read of area 1: rc %d", rc);
      }
      int16_t rc;
      {
        std::shared_lock<std::shared_mutex> hold(slots_);
        rc = lib_->QUIB_Close(uint16_t(h));
      }
      if (rc != 0) failures_.Add("churner close of %d returned %d", h, rc);
      ++churned_;
    }
  }

  const Options &options_;
  Library *lib_ = nullptr;
  Failures failures_;
  std::array<std::unique_ptr<quiblink::sim::SimProcess>, kPortCount> sims_;
  std::array<Channel, kChannelCount> channels_;
  std::array<std::atomic<long>, kPortCount> expected_{};
  // Held exclusively while a shared channel is closed and reopened; shared by
  // every other open and close, which run at the same time.
  std::shared_mutex slots_;
  std::vector<int> classic_owned_, graphic_owned_;
  Bytes shared_area1_;
  std::atomic<long> calls_{0}, busy_{0}, reopens_{0}, closed_seen_{0}, close_refused_{0},
      churned_{0};
  long requests_ = 0;
  double unload_seconds_ = 0;
};

Options Parse(int argc, char **argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--ops" && i + 1 < argc) {
      o.ops = atoi(argv[++i]);
    } else if (arg == "--seed" && i + 1 < argc) {
      o.seed = uint32_t(strtoul(argv[++i], nullptr, 0));
    } else if (arg == "--pacing") {
      o.pacing = true;
    } else {
      fprintf(stderr, "usage: quiblink-stress [--ops N] [--pacing] [--seed S]\n");
      exit(2);
    }
  }
  return o;
}

}  // namespace
}  // namespace stress

int main(int argc, char **argv) {
  using namespace stress;
  const Options options = Parse(argc, argv);
  const auto start = Clock::now();
  try {
    Stress run(options);
    run.StartSims();
    // A sanitizer starts a helper thread with the first thread of a process;
    // it must already be there when the threads are counted.
    std::thread([] {}).join();
    const int threads_before = ThreadCount();
    Library lib(QUIBLINK_LIBRARY_PATH);
    run.Use(&lib);
    run.Setup();
    run.Run();
    run.Verify();
    run.Unload(threads_before);
    run.StopSims();
    run.Summary(SecondsSince(start));
    return run.failures() == 0 ? 0 : 1;
  } catch (const std::exception &e) {
    fprintf(stderr, "quiblink-stress: %s\n", e.what());
    return 1;
  }
}
