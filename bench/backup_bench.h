// Backups: hashing and writing a backup file, and reading and checking one, in MB/s (no
// terminal); and a terminal's backup straight over the simulator's pseudo-terminal and through
// ser2net's rfc2217 accepter, as a share of the direct line beside ReadAll's share.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "measure.h"

namespace quibbench {

std::vector<Row> BackupFileSpeed(uint32_t bytes);
std::vector<Row> NetworkBackup(const std::string &mode, Terminal &terminal, uint32_t bytes);

}  // namespace quibbench
