// What the benchmark measures, each against its bound.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "measure.h"

namespace quibbench {

// Block write of bytes to plain area 3, then the block read of it.
std::vector<Row> GraphicTransfers(const std::string &mode, Terminal &terminal, uint32_t bytes);
// Memory write of bytes to area 0 at address 0, then the read of it.
std::vector<Row> ClassicTransfers(const std::string &mode, Terminal &terminal, uint32_t bytes);
// count terminal-type queries one after the other: p50 and p99.
Row QueryLatency(const std::string &mode, Terminal &terminal, int count);
// callers channels on one port, each from its own thread, count queries each.
Row SharedPort(const std::string &mode, Terminal &terminal, int callers, int count);
// One port alone, then every terminal on its own port at once; each port
// writes bytes and reads them back.
std::vector<Row> ManyPorts(const std::string &mode, const std::vector<Terminal *> &terminals,
                           uint32_t bytes);
// The simulator on its own: how much later than the line allows a raw
// exchange completes (no library involved).
std::vector<Row> SimulatorPacing(Terminal &terminal, int count);
// The host: how late the library's 10 ms sleep returns. Every sleep of an
// exchange is late by about as much.
Row SleepAccuracy(int count);

}  // namespace quibbench
