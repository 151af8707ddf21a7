// Serial devices behind a device server on the network: the device names of
// platform/net/url.h open a TCP connection, and the calls of the serial device
// interface act on it (serial.cpp hands them over by handle). With
// "rfc2217://" the line settings, the purge and the modem lines travel as com
// port control requests; with "tcp://" the server's own settings stand.
#pragma once

#include "platform/platform.h"

namespace plat::net {

bool IsNetworkDevice(Handle dev);

// A URL that cannot be parsed, resolved or connected within 3 s gives
// kInvalid.
Handle NetOpen(const char *url);
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
