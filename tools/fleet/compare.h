// Two versions side by side: the parts added, removed or changed (with their sizes), and the
// terminal's own answers that differ; and the states of a check with the exit status they add
// up to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "content.h"

namespace quiblink::fleet {

struct PartChange {
  std::string key;     // "group 7"
  std::string change;  // "added", "removed", "changed"
  uint64_t old_length = 0, new_length = 0;

  // "group 7 changed (1300 -> 1310 bytes)"
  std::string Describe() const;
};

std::vector<PartChange> CompareContents(const Content &from, const Content &to);

// What the terminal said of itself that differs: "project name "A" -> "B"", ... quick compares
// only the project and memory information; a full comparison the type, the operating system
// and the project (memory data follows from the parts).
std::vector<std::string> CompareInfo(const backup::TerminalInfo &from,
                                     const backup::TerminalInfo &to, bool quick);

// A check's state for one terminal.
inline constexpr const char *kSame = "same";
inline constexpr const char *kChanged = "changed";
inline constexpr const char *kNoRelease = "no-release";
inline constexpr const char *kUnreachable = "unreachable";

// 0 when every terminal is the same, 2 when any could not be read, else 1 (a change, or a
// terminal with no released version to compare with).
int CheckExitStatus(const std::vector<std::string> &states);

}  // namespace quiblink::fleet
