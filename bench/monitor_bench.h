// The line monitor's cost: the same graphic write, ReadAll and queries straight over the
// simulator's pseudo-terminal and through `quiblink monitor`, taken in turns in one run, and the
// throughput through the monitor as a share of the direct one.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "measure.h"

namespace quibbench {

std::vector<Row> MonitorTransfers(const std::string &mode, Terminal &terminal, uint32_t bytes,
                                  int queries);

}  // namespace quibbench
