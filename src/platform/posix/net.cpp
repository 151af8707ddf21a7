// The network device's socket calls on BSD sockets (net/socket.h); the
// device itself is net/device.cpp.
#include "platform/net/socket.h"

#include <errno.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace plat::net {

const int kTimedOutError = ETIMEDOUT;
const int kTryAgainError = EAGAIN;
const int kResetError = ECONNRESET;

namespace {

// Keepalive: a peer that vanished without a word is found after about 25 s
// of silence.
constexpr int kKeepIdleS = 10;
constexpr int kKeepIntervalS = 5;
constexpr int kKeepCount = 3;

void SetOption(int fd, int level, int name, int value) {
  (void)setsockopt(fd, level, name, &value, sizeof value);
}

int Fd(Socket s) {
  return static_cast<int>(s);
}

// poll, again when a signal interrupted it; ms beyond int's range waits
// without limit. Returns poll's result, with revents in *events.
int PollOne(int fd, short wanted, uint32_t ms, short *events) {
  const int timeout = ms > 0x7FFFFFFFu ? -1 : static_cast<int>(ms);
  const uint32_t start = TickCount();
  for (;;) {
    pollfd pfd = {fd, wanted, 0};
    int left = timeout;
    if (timeout >= 0) {
      const uint32_t spent = TickCount() - start;
      left = spent >= ms ? 0 : static_cast<int>(ms - spent);
    }
    const int ready = poll(&pfd, 1, left);
    if (ready < 0 && errno == EINTR) continue;
    *events = pfd.revents;
    return ready;
  }
}

// 0 when the connection is made within the deadline, else the system's
// reason (ETIMEDOUT when none came in time).
int ConnectWithin(int fd, const sockaddr *address, socklen_t length, const Deadline &deadline) {
  if (connect(fd, address, length) == 0) return 0;
  if (errno != EINPROGRESS && errno != EINTR) return errno;
  const uint32_t left = TimeLeft(deadline);
  if (left == 0) return ETIMEDOUT;
  short events = 0;
  const int ready = PollOne(fd, POLLOUT, left, &events);
  if (ready < 0) return errno;
  if (ready == 0) return ETIMEDOUT;
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
  return error;
}

}  // namespace

bool SocketsStart(int *error) {
  *error = 0;
  return true;
}

void SocketsStop() {}

Socket SocketConnect(const void *addresses, const Deadline &deadline, int *error) {
  int fd = -1;
  *error = ETIMEDOUT;
  for (const addrinfo *a = static_cast<const addrinfo *>(addresses); a != nullptr && fd < 0;
       a = a->ai_next) {
    if (TimeLeft(deadline) == 0) break;
    fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      *error = errno;
      continue;
    }
    *error = ConnectWithin(fd, a->ai_addr, a->ai_addrlen, deadline);
    if (*error != 0) {
      close(fd);
      fd = -1;
    }
  }
  if (fd < 0) return kNoSocket;
  SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
  SetOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
  SetOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, kKeepIdleS);
  SetOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, kKeepIntervalS);
  SetOption(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepCount);
  return fd;
}

Transfer SocketSend(Socket s, const uint8_t *bytes, size_t length, size_t *moved, int *error) {
  *moved = 0;
  for (;;) {
    const ssize_t n = send(Fd(s), bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      *moved = static_cast<size_t>(n);
      return kMoved;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) return kWouldBlock;
    *error = errno;
    return kBroken;
  }
}

Transfer SocketReceive(Socket s, uint8_t *bytes, size_t room, size_t *moved, int *error) {
  *moved = 0;
  for (;;) {
    const ssize_t n = recv(Fd(s), bytes, room, MSG_DONTWAIT);
    if (n > 0) {
      *moved = static_cast<size_t>(n);
      return kMoved;
    }
    if (n == 0) return kEnded;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kWouldBlock;
    *error = errno;
    return kBroken;
  }
}

// Linux forgets TCP_QUICKACK after a while: it is set again after each receive.
void SocketAcknowledgeNow(Socket s) {
  SetOption(Fd(s), IPPROTO_TCP, TCP_QUICKACK, 1);
}

Readiness SocketWait(Socket s, bool to_send, uint32_t ms) {
  short events = 0;
  const int ready = PollOne(Fd(s), to_send ? POLLOUT : POLLIN, ms, &events);
  if (ready < 0) return kWaitBroken;
  if (ready == 0) return kNotYet;
  // Only a send learns of a failed connection this way; a receive finds it
  // with what came before it.
  if (to_send && (events & (POLLERR | POLLHUP | POLLNVAL))) return kHungUp;
  return kReady;
}

uint32_t SocketUnsent(Socket s) {
  int unsent = 0;
  if (ioctl(Fd(s), SIOCOUTQNSD, &unsent) != 0) unsent = 0;
  return unsent > 0 ? static_cast<uint32_t>(unsent) : 0;
}

void SocketClose(Socket s) {
  close(Fd(s));
}

void SystemErrorText(int error, char *text, size_t size) {
  char buffer[128];
  const char *message = strerror_r(error, buffer, sizeof buffer);
  snprintf(text, size, "%s", message);
}

}  // namespace plat::net
