// Exit statuses and the one-line failure report of the tool.
#pragma once

#include <stdexcept>
#include <string>

#include "quiblink/quiblink.hpp"

namespace quiblink::cli {

enum ExitStatus : int {
  kExitOk = 0,
  kExitFailed = 1,    // the tool's own failure: a file, a cancelled confirmation, a failed check
  kExitUsage = 2,     // bad command line, or an argument the library refused
  kExitPort = 3,      // the port or a channel cannot be opened
  kExitLine = 4,      // nothing or not enough came back over the line
  kExitProtocol = 5,  // a reply arrived but was malformed or out of step
  kExitRefused = 6,   // the terminal answered and refused (status byte, or NAK)
};

// The text of the exit statuses for --help.
extern const char *const kExitStatusHelp;

// Errors of the tool itself, outside the library: reported as "quiblink: <what>".
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A port or channel that cannot be opened, with the reason in words: exit status 3.
class PortError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

ExitStatus ExitStatusFor(const Error &error);

// "XQUIB_Offline failed: -36 RC_TERMINAL_ERROR: the terminal refused the request; terminal
// status 5 (0x05)". A damaged or misframed reply (-17, -20) before any reply of the call adds
// what to check: the line speed and the line's settings.
std::string DescribeFailure(const Error &error);

}  // namespace quiblink::cli
