// What every end-to-end test needs: a simulator in its own process on a pseudo-terminal, mapped
// to a COM port, channels that are closed whatever the test's outcome, and the simulator's own
// view of the terminal (its memory, its counters) to check what really reached the line.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quiblink/quiblink.h"
#include "sim/sim_process.h"

namespace quiblink::e2e {

using Bytes = std::vector<uint8_t>;

// Bytes that differ from position to position and from seed to seed, so that data at a wrong
// place, or of another group, shows.
Bytes Pattern(size_t size, uint32_t seed);
Bytes FromHex(const std::string &hex);
std::string ToHex(const Bytes &bytes);
Bytes FromText(const std::string &text);

// One number out of an "ok name=value ..." answer of the simulator.
long Field(const std::string &answer, const std::string &name);

class Stopwatch {
 public:
  Stopwatch() : start_(std::chrono::steady_clock::now()) {}
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

// How the library reaches a simulator's line: this suite opens the pseudo-terminal itself; the
// network suite links its own ReachLine, which puts a device server in between.
class LineReach {
 public:
  virtual ~LineReach() = default;
  // The device name to map to the COM port.
  virtual std::string device() const = 0;
};
std::unique_ptr<LineReach> ReachLine(const std::string &pty_path);

class SimTest : public ::testing::Test {
 protected:
  void TearDown() override;

  // Starts a simulator with these arguments and maps COM(port + 1) to its line. Sim(0) is the
  // first one started, Sim(1) the second.
  void StartSim(const std::vector<std::string> &args, uint16_t port = 0);
  sim::SimProcess &Sim(size_t index = 0) { return *sims_.at(index); }

  // Opens a channel that TearDown closes unless the test closed it with Close.
  int16_t OpenGraphic(uint16_t port = 0, uint16_t baud = 38400);
  int16_t OpenClassic(uint16_t model, uint16_t port = 0);
  void Close(int16_t handle);

  // Requests the simulator has taken off the line so far.
  long Requests(size_t sim = 0) { return Field(Sim(sim).Command("stats"), "requests"); }
  // Classic, first simulator: memory at a wire address, in memory order.
  Bytes Peek(uint32_t wire_address, size_t count);
  void Poke(uint32_t wire_address, const Bytes &data);

 private:
  int16_t Keep(int16_t handle);

  std::vector<std::unique_ptr<sim::SimProcess>> sims_;
  std::vector<std::unique_ptr<LineReach>> reaches_;
  std::vector<std::string> mapped_;
  std::vector<int16_t> open_;
};

}  // namespace quiblink::e2e
