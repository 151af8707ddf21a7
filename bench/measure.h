// The benchmark's plumbing: simulators on pseudo-terminals, channels opened
// on them, wall and processor clocks, and the rows of the report.
#pragma once

#include <stdint.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "line_model.h"
#include "sim/sim_process.h"

namespace quibbench {

// One terminal simulator, paced at its baud rate.
class Terminal {
 public:
  Terminal(const std::string &family, uint32_t baud);
  const std::string &path() const { return sim_->path(); }
  uint32_t baud() const { return baud_; }
  // Requests the simulator has seen so far.
  uint64_t Requests();

 private:
  std::unique_ptr<quiblink::sim::SimProcess> sim_;
  uint32_t baud_;
};

// Points COM(port + 1) at the terminal and opens a channel on it.
int16_t OpenGraphic(int port, const Terminal &terminal);
int16_t OpenClassic(int port, const Terminal &terminal);

// Wall time and this process's processor time (all its threads) between
// construction and Stop.
class Stopwatch {
 public:
  Stopwatch();
  void Stop();
  double WallMs() const { return wall_ms_; }
  double CpuMs() const { return cpu_ms_; }

 private:
  std::chrono::steady_clock::time_point start_;
  double cpu_start_;
  double wall_ms_ = 0;
  double cpu_ms_ = 0;
};

struct Row {
  std::string mode;  // "sleep" or "wake"
  std::string name;  // what was measured
  uint32_t baud = 0;
  uint32_t bytes = 0;  // payload moved (0 for latency rows)
  std::string unit;    // "B/s", "ms", "exch/s"
  double figure = 0;   // what was measured, in unit
  double bound = 0;    // what the timing rules allow, in unit
  double floor = 0;    // what the bare line allows, in unit
  bool lower_is_better = false;
  double wall_ms = 0;
  double cpu_ms = 0;
  std::string note;
  bool ok = true;

  // Share of the bound reached: 1.0 means at the bound.
  double Ratio() const;
  double FloorRatio() const;
  double CpuPercent() const { return wall_ms > 0 ? 100.0 * cpu_ms / wall_ms : 0; }
  double CpuMsPerMb() const { return bytes > 0 ? cpu_ms * 1048576.0 / bytes : 0; }
};

void PrintHeader();
void PrintRow(const Row &row);

// Fills a throughput row from a transfer, its model and the stopwatch.
Row TransferRow(const std::string &mode, const std::string &name, uint32_t baud,
                const Transfer &model, const Stopwatch &watch);

std::vector<uint8_t> Pattern(size_t size, uint32_t seed);

}  // namespace quibbench
