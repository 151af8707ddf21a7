// Serial devices behind a device server on the network: the device names of
// platform/net/url.h open a TCP connection, and the calls of the serial device
// interface act on it (serial.cpp hands them over by handle). With
// "rfc2217://" the line settings, the purge and the modem lines travel as com
// port control requests; with "tcp://" the server's own settings stand.
//
// device.cpp is the device on every system; the backends give it their
// socket calls (net/socket.h: net.cpp) and name lookups (net/lookup.h:
// net_lookup.cpp).
#pragma once

#include "platform/platform.h"

namespace plat::net {

bool IsNetworkDevice(Handle dev);

// Why an open failed: the system's error number (0 for a reason of the
// server's or the library's own) and a sentence naming the host.
struct NetOpenFailure {
  int error;
  char reason[240];
};

// A URL that cannot be parsed, looked up, connected and set up within 3 s in
// all gives kInvalid, with the reason in *failure. A server that closes the
// connection during setup is tried again within the 3 s.
Handle NetOpen(const char *url, NetOpenFailure *failure);
bool NetGetLine(Handle dev, LineSettings *settings);
bool NetSetLine(Handle dev, const LineSettings *settings);
bool NetSetTimeouts(Handle dev, const Timeouts *timeouts);
bool NetRead(Handle dev, void *buffer, uint32_t want, uint32_t *got);
bool NetWrite(Handle dev, const void *buffer, uint32_t length, uint32_t *written);
bool NetLineStatus(Handle dev, LineStatus *status);
bool NetPurge(Handle dev);
ModemResult NetModemStatus(Handle dev, uint32_t *bits);
bool NetWaitInput(Handle dev, uint32_t ms);
void NetClose(Handle dev);
// In the child of a fork(): closes the child's copies of the connections (the
// parent's stay open) and forgets them.
void NetForgetInChild();

}  // namespace plat::net
