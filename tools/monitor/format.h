// The monitor's output: one human line or one JSON object per record, and the summary.
#pragma once

#include <string>

#include "monitor/decoder.h"

namespace quiblink::monitor {

struct FormatOptions {
  bool json = false;
  bool color = false;  // ANSI colours for flagged lines and noise (human lines only)
  bool bytes = false;  // human lines end with the frame's bytes
};

const char *DirName(Dir dir);  // "PC>TERM", "TERM>PC"

std::string FormatRecord(const Record &r, const FormatOptions &options);
std::string FormatSummary(const Summary &s, std::optional<Family> family,
                          const FormatOptions &options);

}  // namespace quiblink::monitor
