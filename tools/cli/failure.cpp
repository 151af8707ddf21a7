#include "failure.h"

#include <cstdio>

namespace quiblink::cli {

const char *const kExitStatusHelp =
    "Exit status:\n"
    "  0  success\n"
    "  1  failure of the tool itself (file access, cancelled, a demo check did not hold, a\n"
    "     transfer larger than --max-size: -40, a group the terminal does not have)\n"
    "  2  usage error: bad command line, or an argument the library refused (-2)\n"
    "  3  port error: the port or a channel cannot be opened (-1, -3, -4; open: -32, -33)\n"
    "  4  line error: no reply, incomplete reply or failed transmission (-7, -13, -18)\n"
    "  5  protocol error: a malformed or out-of-step reply (-17, -20, -21, -30 to -35)\n"
    "  6  terminal refusal: the terminal answered with a non-zero status (-36) or NAK (-19)\n";

ExitStatus ExitStatusFor(const Error &error) {
  if (error.during_open()) return error.code() == RC_BAD_ARGUMENT ? kExitUsage : kExitPort;
  switch (error.code()) {
    case RC_BAD_ARGUMENT:
      return kExitUsage;
    case RC_PORT_OPEN_FAILED:
    case RC_NOT_OPEN:
    case RC_CHANNEL_BUSY:
      return kExitPort;
    case RC_TX_FAILED:
    case RC_NO_RESPONSE:
    case RC_INCOMPLETE:
      return kExitLine;
    case RC_NAK:
    case RC_TERMINAL_ERROR:
      return kExitRefused;
    default:
      return kExitProtocol;
  }
}

std::string DescribeFailure(const Error &error) {
  std::string text = error.operation() + " failed: " + std::to_string(error.code()) + " " +
                     error.name() + ": " + error.message();
  if (!error.reason().empty()) text += ": " + error.reason();
  // Only a refusal carries a status worth showing: after a time-out or a damaged reply the
  // status left from an earlier block of the transfer says nothing about this failure.
  auto status = error.terminal_status();
  if (status && error.code() == RC_TERMINAL_ERROR) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", *status);
    text += "; terminal status " + std::to_string(*status) + " (" + hex + ")";
  }
  // A damaged or misframed reply with no reply read before it in the call is what a line speed
  // or line settings other than the terminal's look like.
  if ((error.code() == RC_CHECKSUM || error.code() == RC_BAD_START) && !status) {
    bool graphic = error.operation().starts_with("XQUIB_");
    text += graphic ? "; if nothing has come through since the open, check the line speed "
                      "(--baud) and the line's settings: graphic terminals use 8 data bits, even "
                      "parity, 1 stop bit"
                    : "; if nothing has come through since the open, check the line speed and "
                      "the line's settings: classic panels use 9600 baud, 7 data bits, even "
                      "parity, 1 stop bit";
  }
  return text;
}

}  // namespace quiblink::cli
