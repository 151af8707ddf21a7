// The connection options every command shares, and opening a channel with them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "quiblink/quiblink.hpp"

namespace quiblink::cli {

struct Connection {
  std::string port = "COM1";
  uint16_t baud = 38400;
  uint16_t model = 0;
  bool trace = false;
  bool no_progress = false;
};

void AddConnectionOptions(CLI::App &app, Connection &connection);

// "COM3" -> 2, "\\.\COM10" -> 9. A device path is given a port number whose QUIBLINK_COM<n>
// is free (or already names that path), and QUIBLINK_COM<n> is set to it. Throws UsageError.
uint16_t ResolvePort(const std::string &port);

// Why the device behind a port number cannot be opened, in words: "/dev/ttyS3: No such file or
// directory". The device is found as the library finds it.
std::string ExplainOpenFailure(uint16_t port);

// Opens the channel with the connection's settings; a port that cannot be opened throws
// PortError with the device path and the reason. While the returned session lives, the
// library's trace goes to standard error when --trace was given.
class Session {
 public:
  static Session Graphic(const Connection &connection);
  static Session Classic(const Connection &connection);

  const Channel &channel() const { return channel_; }
  bool progress() const;

 private:
  template <class Open>
  friend Session OpenSession(const Connection &connection, Open open);
  Session(const Connection &connection, std::unique_ptr<TraceSink> trace, Channel channel)
      : connection_(&connection), trace_(std::move(trace)), channel_(std::move(channel)) {}

  const Connection *connection_;
  std::unique_ptr<TraceSink> trace_;  // before the channel, so that the close is traced too
  Channel channel_;
};

// A trace sink that writes "trace: <line>" to standard error, escaping bytes that a terminal
// would not show.
std::unique_ptr<TraceSink> MakeTraceSink();

}  // namespace quiblink::cli
