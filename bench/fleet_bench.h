// The fleet: `quiblink fleet backup --all` of many graphic terminals, each a paced simulator
// behind its own ser2net (rfc2217://), against the slowest of some of them backed up alone, with
// the processor time of the run and its workers; and what an unchanged backup adds to the store
// per terminal.
#pragma once

#include <stdint.h>

#include <vector>

#include "measure.h"

namespace quibbench {

std::vector<Row> FleetBackup(int terminals, uint32_t bytes_each);

}  // namespace quibbench
