#include "platform/net/url.h"

#include <string.h>

namespace plat::net {

namespace {

struct Prefix {
  const char *text;
  Scheme scheme;
};
const Prefix kPrefixes[] = {
    {"rfc2217://", kRfc2217},
    {"tcp://", kRawTcp},
    {"socket://", kRawTcp},
};

bool LowerEquals(const char *name, const char *prefix, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

const Prefix *PrefixOf(const char *name) {
  for (const Prefix &p : kPrefixes) {
    const size_t length = strlen(p.text);
    if (strnlen(name, length) == length && LowerEquals(name, p.text, length)) return &p;
  }
  return nullptr;
}

bool ValidPort(const char *text, size_t length) {
  if (length == 0 || length > 5) return false;
  uint32_t value = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  return value >= 1 && value <= 65535;
}

}  // namespace

Scheme SchemeOf(const char *name) {
  const Prefix *p = name != nullptr ? PrefixOf(name) : nullptr;
  return p != nullptr ? p->scheme : kNotUrl;
}

bool ParseUrl(const char *name, Address *address) {
  const Prefix *p = name != nullptr ? PrefixOf(name) : nullptr;
  if (p == nullptr) return false;
  const char *rest = name + strlen(p->text);
  // Anything after the port (a path, pyserial's "?options") is not ours.
  const size_t end = strcspn(rest, "/?#");
  if (rest[end] != '\0') return false;

  const char *host = rest;
  size_t host_length = 0;
  const char *colon = nullptr;
  if (rest[0] == '[') {
    const char *close = static_cast<const char *>(memchr(rest, ']', end));
    if (close == nullptr || close[1] != ':') return false;
    host = rest + 1;
    host_length = static_cast<size_t>(close - host);
    colon = close + 1;
  } else {
    colon = strrchr(rest, ':');
    if (colon == nullptr || memchr(rest, ':', static_cast<size_t>(colon - rest)) != nullptr) {
      return false;  // no port, or an IPv6 address without brackets
    }
    host_length = static_cast<size_t>(colon - rest);
  }
  const char *port = colon + 1;
  const size_t port_length = strlen(port);
  if (host_length == 0 || host_length >= sizeof address->host || !ValidPort(port, port_length)) {
    return false;
  }
  address->scheme = p->scheme;
  memcpy(address->host, host, host_length);
  address->host[host_length] = '\0';
  memcpy(address->port, port, port_length);
  address->port[port_length] = '\0';
  return true;
}

}  // namespace plat::net
