// What the network device (net/device.cpp) needs of the system: one TCP
// connection's socket calls, the system's sockets started and stopped, and
// its words for an error. posix/net.cpp implements it on BSD sockets,
// win32/net.cpp on Winsock; everything above it is shared.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/net/deadline.h"

namespace plat::net {

typedef intptr_t Socket;
constexpr Socket kNoSocket = -1;

// The system's numbers for a time limit that passed, for "try again later"
// and for a connection reset by the peer.
extern const int kTimedOutError;
extern const int kTryAgainError;
extern const int kResetError;

// At every network open, before its connection: takes a reference to the
// system's sockets, or gives false with the system's reason in *error when
// sockets cannot be had at all.
bool SocketsStart(int *error);
// As a network device is released: gives back the reference its open took.
// The sockets stop with the last reference, but never in the system loader's
// entry point, where nothing may wait (the reference is then kept).
void SocketsStop();

// A connection to one of the addresses of a lookup (net/lookup.h), each
// tried in turn before the deadline: non-blocking, without delay for small
// segments (NODELAY), with keepalive probes after 10 s of silence every 5 s,
// and acknowledging what it receives at once. kNoSocket with the system's
// reason in *error (kTimedOutError when the deadline passed).
Socket SocketConnect(const void *addresses, const Deadline &deadline, int *error);

enum Transfer : uint8_t {
  kMoved,       // *moved bytes went (at least one)
  kWouldBlock,  // nothing can go at once
  kEnded,       // receive only: the peer closed the connection
  kBroken,      // the system's reason in *error
};
// Never block; a signal that interrupts them is no failure.
Transfer SocketSend(Socket s, const uint8_t *bytes, size_t length, size_t *moved, int *error);
Transfer SocketReceive(Socket s, uint8_t *bytes, size_t room, size_t *moved, int *error);
// After each receive that brought bytes: the acknowledgement goes out now,
// not after the delayed-acknowledgement timer (where the system needs telling
// again each time).
void SocketAcknowledgeNow(Socket s);

enum Readiness : uint8_t {
  kReady,       // the next send or receive will tell
  kNotYet,      // ms passed
  kHungUp,      // the connection has failed (its next call says how)
  kWaitBroken,  // the wait itself failed
};
// Waits up to ms (kInfinite: without limit) until the socket can send
// (to_send) or has something to receive.
Readiness SocketWait(Socket s, bool to_send, uint32_t ms);

// Bytes handed to the system that it has not sent yet, where it can tell;
// else 0.
uint32_t SocketUnsent(Socket s);
void SocketClose(Socket s);

// The system's words for an error number, without a line end.
void SystemErrorText(int error, char *text, size_t size);

}  // namespace plat::net
