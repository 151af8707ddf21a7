#include "ser2net_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace quiblink::network {

namespace {

// True when /proc/net/tcp shows 127.0.0.1:port listening.
bool Listening(uint16_t port) {
  std::ifstream table("/proc/net/tcp");
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (local == wanted && state == "0A") return true;
  }
  return false;
}

bool Ended(pid_t pid, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  do {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

}  // namespace

uint16_t FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&a), &size) != 0) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("no free port on 127.0.0.1");
  }
  close(fd);
  return ntohs(a.sin_port);
}

std::unique_ptr<Ser2net> Ser2net::Start(const std::string &device, const std::string &line) {
  std::unique_ptr<Ser2net> server(new Ser2net());
  char folder[] = "/tmp/quiblink-ser2net-XXXXXX";
  if (mkdtemp(folder) == nullptr) throw std::runtime_error("mkdtemp failed");
  server->folder_ = folder;
  server->rfc2217_port_ = FreePort();
  do {
    server->raw_port_ = FreePort();
  } while (server->raw_port_ == server->rfc2217_port_);

  const std::string config = server->folder_ + "/ser2net.yaml";
  {
    std::ofstream out(config);
    out << "connection: &rfc2217\n"
        << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << server->rfc2217_port_ << "\n"
        << "  connector: serialdev," << device << "," << line << ",local\n"
        << "connection: &raw\n"
        << "  accepter: tcp,127.0.0.1," << server->raw_port_ << "\n"
        << "  connector: serialdev," << device << "," << line << ",local\n";
  }
  const std::string log = server->folder_ + "/ser2net.log";
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    execl(QUIBLINK_SER2NET_PATH, "ser2net", "-n", "-d", "-c", config.c_str(),
          static_cast<char *>(nullptr));
    _exit(127);
  }
  server->pid_ = pid;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!(Listening(server->rfc2217_port_) && Listening(server->raw_port_))) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      server->pid_ = -1;
      throw std::runtime_error("ser2net ended at start; see " + log);
    }
    if (std::chrono::steady_clock::now() > end) throw std::runtime_error("ser2net did not listen");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return server;
}

Ser2net::~Ser2net() {
  Stop();
  if (!folder_.empty()) {
    std::remove((folder_ + "/ser2net.yaml").c_str());
    std::remove((folder_ + "/ser2net.log").c_str());
    rmdir(folder_.c_str());
  }
}

std::string Ser2net::Url(const std::string &scheme) const {
  const uint16_t port = scheme == "rfc2217" ? rfc2217_port_ : raw_port_;
  return scheme + "://127.0.0.1:" + std::to_string(port);
}

void Ser2net::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  Ended(pid_, 5000);
  pid_ = -1;
}

void Ser2net::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (!Ended(pid_, 5000)) {
    kill(pid_, SIGKILL);
    Ended(pid_, 5000);
  }
  pid_ = -1;
}

}  // namespace quiblink::network
