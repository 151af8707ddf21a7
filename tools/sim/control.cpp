#include "sim/control.h"

#include <fcntl.h>
#include <sys/socket.h>
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
}  // namespace

std::unique_ptr<ControlServer> ControlServer::Listen(const std::string &path, std::string *error) {
  sockaddr_un address;
  if (!FillAddress(path, &address, error)) return nullptr;
  std::unique_ptr<ControlServer> server(new ControlServer);
  server->listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (server->listen_fd_ < 0) return *error = std::strerror(errno), nullptr;
  unlink(path.c_str());
  if (bind(server->listen_fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      listen(server->listen_fd_, 8) != 0) {
    *error = "control socket " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  server->path_ = path;
  return server;
}

ControlServer::~ControlServer() {
  for (const Client &c : clients_) close(c.fd);
  if (listen_fd_ >= 0) close(listen_fd_);
  if (!path_.empty()) unlink(path_.c_str());
}

void ControlServer::CollectFds(std::vector<pollfd> *fds) const {
  fds->push_back(pollfd{listen_fd_, POLLIN, 0});
  for (const Client &c : clients_) fds->push_back(pollfd{c.fd, POLLIN, 0});
}

void ControlServer::Serve(const std::function<std::string(const std::string &)> &handler) {
  for (;;) {
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) break;
    clients_.push_back(Client{fd, {}});
  }
  for (auto it = clients_.begin(); it != clients_.end();) {
    bool open = true;
    char buffer[4096];
    for (;;) {
      ssize_t n = recv(it->fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) {
        it->pending.append(buffer, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) open = false;
      break;
    }
    size_t end;
    while (open && (end = it->pending.find('\n')) != std::string::npos) {
      std::string line = it->pending.substr(0, end);
      it->pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      open = SendAll(it->fd, handler(line) + "\n");
    }
    if (open) {
      ++it;
    } else {
      close(it->fd);
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
  if (!ok) *error = "control socket " + path + ": " + std::strerror(errno);
  close(fd);
  return ok;
}

}  // namespace quiblink::sim
