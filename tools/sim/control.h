// The control interface: a Unix-domain stream socket that takes one command per line and
// answers each with one line, "ok ..." or "error: ...". A reply is written only after the
// command has taken effect, so a fault that was acknowledged is armed.
#pragma once

#include <poll.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quiblink::sim {

class ControlServer {
 public:
  static std::unique_ptr<ControlServer> Listen(const std::string &path, std::string *error);
  ~ControlServer();
  ControlServer(const ControlServer &) = delete;
  ControlServer &operator=(const ControlServer &) = delete;

  void CollectFds(std::vector<pollfd> *fds) const;
  // Accepts clients and answers every complete line that has arrived.
  void Serve(const std::function<std::string(const std::string &)> &handler);

 private:
  ControlServer() = default;
  struct Client {
    int fd;
    std::string pending;
  };
  int listen_fd_ = -1;
  std::string path_;
  std::vector<Client> clients_;
};

// One command over a fresh connection; false with *error when the socket cannot be reached.
bool SendControl(const std::string &path, const std::string &command, std::string *reply,
                 std::string *error);

}  // namespace quiblink::sim
