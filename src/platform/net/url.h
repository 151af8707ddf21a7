// Device names that are network addresses: "rfc2217://host:port" (telnet
// with com port control) and "tcp://host:port" or "socket://host:port" (the
// bytes as they are). The host is a name, an IPv4 address or an IPv6 address
// in brackets.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace plat::net {

enum Scheme : uint8_t { kNotUrl, kRfc2217, kRawTcp };

struct Address {
  Scheme scheme;
  char host[256];
  char port[8];  // decimal, 1..65535
};

// kNotUrl for a name without a scheme (a device path or "COMn").
Scheme SchemeOf(const char *name);
// False for a URL that is malformed or names no port.
bool ParseUrl(const char *name, Address *address);

}  // namespace plat::net
