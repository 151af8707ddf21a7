// A ser2net device server in a child process, serving one serial device on 127.0.0.1 through
// two accepters: telnet with com port control (rfc2217) and raw TCP, each on a free port. The
// configuration is written to a private folder; the server is stopped by Stop or the destructor.
//
//   auto server = Ser2net::Start("/dev/pts/3", "38400e81");
//   setenv("QUIBLINK_COM1", server->Url("rfc2217").c_str(), 1);
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace quiblink::network {

class Ser2net {
 public:
  // Waits (up to 10 s) until both ports listen. Throws std::runtime_error on failure.
  static std::unique_ptr<Ser2net> Start(const std::string &device, const std::string &line);
  ~Ser2net();
  Ser2net(const Ser2net &) = delete;
  Ser2net &operator=(const Ser2net &) = delete;

  uint16_t rfc2217_port() const { return rfc2217_port_; }
  uint16_t raw_port() const { return raw_port_; }
  // "rfc2217://127.0.0.1:N", "tcp://127.0.0.1:M" or "socket://127.0.0.1:M".
  std::string Url(const std::string &scheme) const;
  pid_t pid() const { return pid_; }

  // SIGKILL: the connections drop without a word from the server.
  void Kill();
  // SIGTERM, SIGKILL after 5 s.
  void Stop();

 private:
  Ser2net() = default;
  pid_t pid_ = -1;
  uint16_t rfc2217_port_ = 0;
  uint16_t raw_port_ = 0;
  std::string folder_;
};

// A port of 127.0.0.1 that nothing listens on at the moment of the call.
uint16_t FreePort();

}  // namespace quiblink::network
