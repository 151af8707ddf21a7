// The relay: a PC side and a terminal side, bytes passed on as they arrive, each read decoded
// after it has been passed on.
#pragma once

#include <cstdio>
#include <string>

#include "monitor/decoder.h"
#include "monitor/format.h"

namespace quiblink::monitor {

struct RelayOptions {
  std::string terminal;   // the terminal's device
  std::string pc;         // the PC's device; empty with pc_pty
  bool pc_pty = false;    // a new pseudo-terminal for the PC side
  std::string path_file;  // where to write the pseudo-terminal's path
  DecoderConfig decoder;
  uint64_t count = 0;  // stop after this many exchanges; 0: until a signal
  std::string capture;
  FormatOptions format;
};

// Runs until SIGINT, SIGTERM or SIGHUP, the count of exchanges, or a side is lost; prints each
// record and the summary on out. Returns the exit status: 0, 1 when a side was lost, 3 when a
// device cannot be opened.
int RunRelay(const RelayOptions &options, std::FILE *out, std::FILE *err);

}  // namespace quiblink::monitor
