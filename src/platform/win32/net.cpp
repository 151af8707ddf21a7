// The network device's socket calls on Winsock (net/socket.h); the device
// itself is net/device.cpp.
//
//  - Each network open takes a reference to Winsock (WSAStartup) on the
//    opening thread, and its close gives it back (WSACleanup), so Winsock
//    stops with the process's last network port, never in DllMain.
//  - Sockets are non-blocking; the waits are select() on the one socket.
//  - Windows cannot tell what it has not yet sent of a socket's data: a frame
//    has left once send() took it.
//  - Delayed acknowledgements are turned off once at connect
//    (SIO_TCP_SET_ACK_FREQUENCY), where Linux needs TCP_QUICKACK after every
//    receive; where the system does not know the request (before Windows 8,
//    wine) the connection works as it is.
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include "platform/net/socket.h"
#include "platform/platform.h"
#include "platform/win32/open_failure.h"

namespace plat::net {

const int kTimedOutError = WSAETIMEDOUT;
const int kTryAgainError = WSAEWOULDBLOCK;
const int kResetError = WSAECONNRESET;

namespace {

// Keepalive: a peer that vanished without a word is found after about 25 s
// of silence where the probe count can be set (Windows 10 1703 and later),
// after 10 s + 10 probes x 5 s elsewhere.
constexpr ULONG kKeepIdleMs = 10000;
constexpr ULONG kKeepIntervalMs = 5000;
constexpr DWORD kKeepCount = 3;

SOCKET Native(Socket s) {
  return static_cast<SOCKET>(s);
}

void SetOption(SOCKET s, int level, int name, DWORD value) {
  (void)setsockopt(s, level, name, reinterpret_cast<const char *>(&value), sizeof value);
}

// A socket that no child process inherits (WSA_FLAG_NO_HANDLE_INHERIT is
// unknown before Windows 7 SP1, which refuses it).
SOCKET OpenSocket(int family, int type, int protocol) {
  SOCKET s = WSASocketW(family, type, protocol, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
    s = WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s != INVALID_SOCKET) {
      SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    }
  }
  return s;
}

// select() on one socket for up to ms (kInfinite: without limit). Returns
// select's result; *failed is set when the socket is in the exception set (a
// connect that failed).
int SelectOne(SOCKET s, bool to_send, uint32_t ms, bool *failed) {
  fd_set ready;
  fd_set errors;
  FD_ZERO(&ready);
  FD_ZERO(&errors);
  FD_SET(s, &ready);
  FD_SET(s, &errors);
  timeval limit = {static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
  const int n = select(0, to_send ? nullptr : &ready, to_send ? &ready : nullptr, &errors,
                       ms == kInfinite ? nullptr : &limit);
  *failed = n > 0 && FD_ISSET(s, &errors);
  return n;
}

// 0 when the connection is made before the deadline, else the system's
// reason (WSAETIMEDOUT when none came in time).
int ConnectWithin(SOCKET s, const sockaddr *address, int length, const Deadline &deadline) {
  if (connect(s, address, length) == 0) return 0;
  const int error = WSAGetLastError();
  if (error != WSAEWOULDBLOCK) return error;
  const uint32_t left = TimeLeft(deadline);
  if (left == 0) return WSAETIMEDOUT;
  bool failed = false;
  const int ready = SelectOne(s, true, left, &failed);
  if (ready == SOCKET_ERROR) return WSAGetLastError();
  if (ready == 0) return WSAETIMEDOUT;
  int result = 0;
  int size = sizeof result;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&result), &size) != 0) {
    return WSAGetLastError();
  }
  return result == 0 && failed ? WSAECONNREFUSED : result;
}

void SetKeepalive(SOCKET s) {
  SetOption(s, SOL_SOCKET, SO_KEEPALIVE, 1);
  tcp_keepalive values = {1, kKeepIdleMs, kKeepIntervalMs};
  DWORD returned = 0;
  (void)WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
                 nullptr);
#ifdef TCP_KEEPCNT
  SetOption(s, IPPROTO_TCP, TCP_KEEPCNT, kKeepCount);
#endif
}

}  // namespace

bool SocketsStart(int *error) {
  WSADATA data;
  *error = WSAStartup(MAKEWORD(2, 2), &data);
  return *error == 0;
}

void SocketsStop() {
  // A port closed by the library's unload keeps its reference (entry.cpp).
  if (!InLoaderEntry()) WSACleanup();
}

Socket SocketConnect(const void *addresses, const Deadline &deadline, int *error) {
  SOCKET s = INVALID_SOCKET;
  *error = WSAETIMEDOUT;
  for (const addrinfo *a = static_cast<const addrinfo *>(addresses);
       a != nullptr && s == INVALID_SOCKET; a = a->ai_next) {
    if (TimeLeft(deadline) == 0) break;
    s = OpenSocket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
      *error = WSAGetLastError();
      continue;
    }
    u_long non_blocking = 1;
    *error = ioctlsocket(s, FIONBIO, &non_blocking) == 0
                 ? ConnectWithin(s, a->ai_addr, static_cast<int>(a->ai_addrlen), deadline)
                 : WSAGetLastError();
    if (*error != 0) {
      closesocket(s);
      s = INVALID_SOCKET;
    }
  }
  if (s == INVALID_SOCKET) return kNoSocket;
  SetOption(s, IPPROTO_TCP, TCP_NODELAY, 1);
  SetKeepalive(s);
  DWORD every_segment = 1;
  DWORD returned = 0;
  (void)WSAIoctl(s, SIO_TCP_SET_ACK_FREQUENCY, &every_segment, sizeof every_segment, nullptr, 0,
                 &returned, nullptr, nullptr);
  return static_cast<Socket>(s);
}

Transfer SocketSend(Socket s, const uint8_t *bytes, size_t length, size_t *moved, int *error) {
  *moved = 0;
  const int asked = length > 0x10000 ? 0x10000 : static_cast<int>(length);
  const int n = send(Native(s), reinterpret_cast<const char *>(bytes), asked, 0);
  if (n > 0) {
    *moved = static_cast<size_t>(n);
    return kMoved;
  }
  const int why = n == 0 ? WSAEWOULDBLOCK : WSAGetLastError();
  if (why == WSAEWOULDBLOCK || why == WSAEINTR) return kWouldBlock;
  *error = why;
  return kBroken;
}

Transfer SocketReceive(Socket s, uint8_t *bytes, size_t room, size_t *moved, int *error) {
  *moved = 0;
  const int asked = room > 0x10000 ? 0x10000 : static_cast<int>(room);
  const int n = recv(Native(s), reinterpret_cast<char *>(bytes), asked, 0);
  if (n > 0) {
    *moved = static_cast<size_t>(n);
    return kMoved;
  }
  if (n == 0) return kEnded;
  const int why = WSAGetLastError();
  if (why == WSAEWOULDBLOCK || why == WSAEINTR) return kWouldBlock;
  *error = why;
  return kBroken;
}

void SocketAcknowledgeNow(Socket) {}

Readiness SocketWait(Socket s, bool to_send, uint32_t ms) {
  bool failed = false;
  const int ready = SelectOne(Native(s), to_send, ms, &failed);
  if (ready == SOCKET_ERROR) return kWaitBroken;
  if (ready == 0) return kNotYet;
  return to_send && failed ? kHungUp : kReady;
}

uint32_t SocketUnsent(Socket) {
  return 0;
}

void SocketClose(Socket s) {
  closesocket(Native(s));
}

void SystemErrorText(int error, char *text, size_t size) {
  SystemMessage(static_cast<DWORD>(error), text, size);
}

}  // namespace plat::net
