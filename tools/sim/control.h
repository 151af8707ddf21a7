// The control interface: a Unix-domain stream socket that takes one command per line and
// answers each with one line, "ok ..." or "error: ...". A reply is written only after the
// command has taken effect, so a fault that was acknowledged is armed.
//
// Clients never hold the simulator up: sockets are non-blocking, a line longer than
// kMaxLine closes its connection, and a client whose unread replies reach kMaxOutput is not
// read from until it has taken them. Each turn answers at most kLinesPerTurn lines, so the
// serial line is served between turns.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quiblink::sim {

class ControlServer {
 public:
  static constexpr size_t kMaxLine = 64 * 1024;
  static constexpr size_t kMaxOutput = 64 * 1024;
  static constexpr int kLinesPerTurn = 64;

  // Refuses a path that holds anything but a socket, or a socket that another program
  // listens on. The socket is created with mode 0600 whatever the umask.
  static std::unique_ptr<ControlServer> Listen(const std::string &path, std::string *error);
  ~ControlServer();
  ControlServer(const ControlServer &) = delete;
  ControlServer &operator=(const ControlServer &) = delete;

  void CollectFds(std::vector<pollfd> *fds) const;
  // True when complete lines wait that the last turn left unanswered.
  bool HasWork() const;
  // Accepts clients, moves bytes both ways and answers up to kLinesPerTurn complete lines.
  void Serve(const std::function<std::string(const std::string &)> &handler);

 private:
  ControlServer() = default;
  struct Client {
    int fd;
    std::string in;
    std::string out;
    bool eof = false;  // the client has shut its side; answer what came, then close
  };
  bool Pump(Client &client);  // false when the connection is to be closed

  int listen_fd_ = -1;
  std::string path_;
  ino_t inode_ = 0;  // of the socket file, so that only our own is unlinked
  std::vector<Client> clients_;
};

// One command over a fresh connection; false with *error when the socket cannot be reached or
// no answer comes within 10 s.
bool SendControl(const std::string &path, const std::string &command, std::string *reply,
                 std::string *error);

}  // namespace quiblink::sim
