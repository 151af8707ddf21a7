#include "connection.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "data_io.h"
#include "failure.h"
#include "progress.h"

namespace quiblink::cli {
namespace {

constexpr int kPorts = 10;

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char &c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string PortVariable(int number) {
  return "QUIBLINK_COM" + std::to_string(number);
}

std::string DevicePath(uint16_t port) {
  // The library's own mapping: QUIBLINK_COM<n> when set, else /dev/ttyS<n-1>.
  if (const char *mapped = std::getenv(PortVariable(port + 1).c_str())) return mapped;
  return "/dev/ttyS" + std::to_string(port);
}

}  // namespace

void AddConnectionOptions(CLI::App &app, Connection &connection) {
  app.add_option("-p,--port", connection.port,
                 "COM1..COM10, \\\\.\\COM10, or a serial device path such as /dev/ttyUSB0")
      ->capture_default_str()
      ->envname("QUIBLINK_PORT")
      ->group("Connection");
  app.add_option("-b,--baud", connection.baud, "line speed of a graphic terminal, bits/s")
      ->capture_default_str()
      ->check(CLI::Range(1, 65535))
      ->group("Connection");
  app.add_option("-m,--model", connection.model, "model code given at open (classic: addressing)")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535))
      ->group("Connection");
  app.add_flag("--trace", connection.trace, "print the library's trace lines on standard error")
      ->group("Connection");
  app.add_flag("--no-progress", connection.no_progress, "never draw progress bars")
      ->group("Connection");
}

uint16_t ResolvePort(const std::string &port) {
  if (port.find('/') != std::string::npos) {
    int free_number = 0;
    for (int number = 1; number <= kPorts; ++number) {
      const char *current = std::getenv(PortVariable(number).c_str());
      if (current != nullptr && port == current) return static_cast<uint16_t>(number - 1);
      if (current == nullptr && free_number == 0) free_number = number;
    }
    if (free_number == 0) {
      throw UsageError("cannot map " + port + ": QUIBLINK_COM1..QUIBLINK_COM10 are all set");
    }
    setenv(PortVariable(free_number).c_str(), port.c_str(), 1);
    return static_cast<uint16_t>(free_number - 1);
  }
  std::string name = Upper(port);
  if (name.starts_with("\\\\.\\")) name.erase(0, 4);
  if (name.starts_with("COM")) {
    auto number = ParseNumber(std::string_view(name).substr(3));
    // Numbers above COM10 go to the library, which answers for them.
    if (number && *number >= 1 && *number <= 0x10000) return static_cast<uint16_t>(*number - 1);
  }
  throw UsageError("--port: '" + port + "' is neither COM1..COM10 nor a device path");
}

// When the library gives no reason for a failed open, the device is tried here once more.
std::string ExplainOpenFailure(uint16_t port) {
  std::string path = DevicePath(port);
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return path + ": " + std::strerror(errno);
  // It opens for us: what failed is the set-up of the line, or another program holds it.
  termios settings{};
  bool serial = tcgetattr(fd, &settings) == 0;
  std::string why = serial ? "" : std::strerror(errno);
  close(fd);
  if (!serial) return path + ": not a serial device (" + why + ")";
  return path + ": opens, but the library could not take it (held by another program?)";
}

template <class Open>
Session OpenSession(const Connection &connection, Open open) {
  uint16_t port = ResolvePort(connection.port);
  auto trace = connection.trace ? MakeTraceSink() : nullptr;
  try {
    return Session(connection, std::move(trace), open(port));
  } catch (const Error &error) {
    if (error.code() != RC_PORT_OPEN_FAILED) throw;
    // The library names the device and the system's reason; a library that
    // could not say is asked here instead.
    if (!error.reason().empty()) throw PortError(DescribeFailure(error));
    throw PortError(DescribeFailure(error) + "; " + ExplainOpenFailure(port));
  }
}

Session Session::Graphic(const Connection &connection) {
  return OpenSession(connection, [&](uint16_t port) {
    return Channel::open_graphic(port, connection.baud, connection.model);
  });
}

Session Session::Classic(const Connection &connection) {
  return OpenSession(connection,
                     [&](uint16_t port) { return Channel::open_classic(port, connection.model); });
}

bool Session::progress() const {
  return ProgressWanted(connection_->no_progress);
}

std::unique_ptr<TraceSink> MakeTraceSink() {
  auto line = std::make_shared<std::string>();
  return std::make_unique<TraceSink>([line](std::string_view text) {
    for (char c : text) {
      auto byte = static_cast<unsigned char>(c);
      if (c == '\n') {
        std::fprintf(stderr, "trace: %s\n", line->c_str());
        line->clear();
      } else if (byte < 0x20 || byte >= 0x7F) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "<%02X>", byte);
        *line += escaped;
      } else {
        *line += c;
      }
    }
  });
}

}  // namespace quiblink::cli
