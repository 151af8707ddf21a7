// The network path: the same graphic write and ReadAll straight over the simulator's
// pseudo-terminal and through ser2net on 127.0.0.1 (rfc2217:// and tcp://), one after the
// other in one run, and the throughput of each network path as a share of the direct one.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "measure.h"

namespace quibbench {

std::vector<Row> NetworkTransfers(const std::string &mode, Terminal &terminal, uint32_t bytes);

}  // namespace quibbench
