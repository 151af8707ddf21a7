// A backup in words: a one-line summary for reports and questions, and the table of `inspect`.
#pragma once

#include <string>

#include "backup/backup.h"

namespace quiblink::cli {

// "3 groups (17988 bytes) of project \"PLANT 4\", area 3" or "2 ranges (96 bytes)".
std::string Summary(const backup::Backup &backup);

// The manifest as a table: where the backup comes from, the terminal, then one line per group,
// area or range with its length and SHA-256.
std::string DescribeBackup(const backup::Backup &backup);

}  // namespace quiblink::cli
