// Name lookups with a time limit. getaddrinfo has none: a resolver that does
// not answer holds its caller for as long as the system's resolver settings
// say (10 s and more). A name is looked up on a thread of its own, which the
// caller leaves behind when its time is up; the thread frees what it found
// when it ends. Numeric addresses are taken at once, without a thread.
#pragma once

#include <netdb.h>
#include <stdint.h>

namespace plat::net {

enum LookupResult : uint8_t {
  kLookupFound,     // *found holds the addresses; free them with freeaddrinfo
  kLookupFailed,    // the resolver said no: *gai_error holds its code
  kLookupTimedOut,  // no answer within ms
  kLookupNoRoom,    // too many abandoned lookups are still running
};

LookupResult LookupName(const char *host, const char *port, const addrinfo *hints, uint32_t ms,
                        addrinfo **found, int *gai_error);

// In the child of a fork(): the parent's lookup threads are not there.
void ForgetLookupsInChild();

}  // namespace plat::net
