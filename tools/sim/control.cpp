#include "sim/control.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quiblink::sim {

namespace {
bool FillAddress(const std::string &path, sockaddr_un *address, std::string *error) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) {
    *error = "control socket path too long: " + path;
    return false;
  }
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

bool SendAll(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Whether some program accepts connections on the socket at path.
bool Listening(const sockaddr_un &address) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool listening = connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
  close(fd);
  return listening;
}
}  // namespace

std::unique_ptr<ControlServer> ControlServer::Listen(const std::string &path, std::string *error) {
  sockaddr_un address;
  if (!FillAddress(path, &address, error)) return nullptr;
  struct stat existing {};
  if (lstat(path.c_str(), &existing) == 0) {
    // Only a socket left behind by a simulator that is gone may be replaced.
    if (!S_ISSOCK(existing.st_mode)) {
      *error = "--control " + path + ": exists and is not a socket; not replacing it";
      return nullptr;
    }
    if (Listening(address)) {
      *error = "--control " + path + ": another program is listening on it";
      return nullptr;
    }
    unlink(path.c_str());
  }
  std::unique_ptr<ControlServer> server(new ControlServer);
  server->listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (server->listen_fd_ < 0) return *error = std::strerror(errno), nullptr;
  // The socket file is created by bind with the umask applied: 0600 from the start, so that
  // no other user can reach it even for a moment.
  mode_t saved = umask(0177);
  int bound = bind(server->listen_fd_, reinterpret_cast<sockaddr *>(&address), sizeof address);
  int bind_error = errno;
  umask(saved);
  if (bound != 0 || listen(server->listen_fd_, 8) != 0) {
    *error = "control socket " + path + ": " + std::strerror(bound != 0 ? bind_error : errno);
    return nullptr;
  }
  struct stat created {};
  if (stat(path.c_str(), &created) == 0) server->inode_ = created.st_ino;
  server->path_ = path;
  return server;
}

ControlServer::~ControlServer() {
  for (const Client &c : clients_) close(c.fd);
  if (listen_fd_ >= 0) close(listen_fd_);
  struct stat now {};
  if (!path_.empty() && lstat(path_.c_str(), &now) == 0 && S_ISSOCK(now.st_mode) &&
      now.st_ino == inode_) {
    unlink(path_.c_str());
  }
}

void ControlServer::CollectFds(std::vector<pollfd> *fds) const {
  fds->push_back(pollfd{listen_fd_, POLLIN, 0});
  for (const Client &c : clients_) {
    short events = 0;
    if (!c.eof && c.out.size() < kMaxOutput) events |= POLLIN;
    if (!c.out.empty()) events |= POLLOUT;
    fds->push_back(pollfd{c.fd, events, 0});
  }
}

bool ControlServer::HasWork() const {
  for (const Client &c : clients_) {
    if (c.out.size() < kMaxOutput && c.in.find('\n') != std::string::npos) return true;
  }
  return false;
}

bool ControlServer::Pump(Client &c) {
  while (!c.out.empty()) {
    ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      c.out.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return false;
  }
  // Read no more than a line's worth ahead, and nothing while replies pile up unread.
  char buffer[4096];
  while (!c.eof && c.out.size() < kMaxOutput && c.in.size() <= kMaxLine) {
    ssize_t n = recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
      c.in.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n < 0) return false;
    c.eof = true;
  }
  return true;
}

void ControlServer::Serve(const std::function<std::string(const std::string &)> &handler) {
  for (;;) {
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) break;
    clients_.push_back(Client{fd, {}, {}, false});
  }
  int budget = kLinesPerTurn;
  for (auto it = clients_.begin(); it != clients_.end();) {
    Client &c = *it;
    bool open = Pump(c);
    size_t end;
    while (open && budget > 0 && c.out.size() < kMaxOutput &&
           (end = c.in.find('\n')) != std::string::npos) {
      std::string line = c.in.substr(0, end);
      c.in.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      c.out += handler(line) + "\n";
      --budget;
    }
    // A line that has grown past the limit without its newline is no command.
    if (c.in.size() > kMaxLine && c.in.find('\n') == std::string::npos) open = false;
    if (open) open = Pump(c);
    bool finished = c.eof && c.out.empty() && c.in.find('\n') == std::string::npos;
    if (open && !finished) {
      ++it;
    } else {
      close(c.fd);
      it = clients_.erase(it);
    }
  }
}

bool SendControl(const std::string &path, const std::string &command, std::string *reply,
                 std::string *error) {
  sockaddr_un address;
  if (!FillAddress(path, &address, error)) return false;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return *error = std::strerror(errno), false;
  timeval patience{10, 0};  // a simulator that stopped answering must not hang its client
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
  bool ok = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
            SendAll(fd, command + "\n");
  reply->clear();
  char buffer[4096];
  while (ok && (reply->empty() || reply->back() != '\n')) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    if (n > 0) reply->append(buffer, static_cast<size_t>(n));
  }
  if (ok) reply->pop_back();
  if (!ok) {
    *error = "control socket " + path + ": " +
             (errno == EAGAIN || errno == EWOULDBLOCK ? std::string("no answer within 10 s")
                                                      : std::strerror(errno));
  }
  close(fd);
  return ok;
}

}  // namespace quiblink::sim
