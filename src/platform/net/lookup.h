// Name lookups with a time limit. The system's lookup has none: a resolver
// that does not answer holds its caller for as long as the system's resolver
// settings say (10 s and more). A name is looked up on a thread of its own,
// which the caller leaves behind when its time is up; the thread frees what it
// found when it ends. Numeric addresses are taken at once, without a thread.
// lookup.cpp holds the slots and the wait; each backend's net_lookup.cpp the
// system's lookup and the thread.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace plat::net {

struct LookupAnswer {
  void *addresses;  // the backend's list, for SocketConnect; nullptr when none
  int error;        // the system's error number of a failure; 0 for the resolver's own reason
  char text[96];    // a failure's reason, in the system's words
};

enum LookupResult : uint8_t {
  kLookupFound,     // answer->addresses holds them: give them back with LookupRelease
  kLookupFailed,    // the resolver said no: answer->error and answer->text say why
  kLookupTimedOut,  // no answer within ms
  kLookupNoRoom,    // too many abandoned lookups are still running
};

// For a TCP connection to host and port (decimal).
LookupResult LookupName(const char *host, const char *port, uint32_t ms, LookupAnswer *answer);
void LookupRelease(LookupAnswer *answer);

// In the child of a fork(): the parent's lookup threads are not there.
void ForgetLookupsInChild();

// ---- The backend's part (net_lookup.cpp) ----------------------------------

// The system's lookup, blocking, for a stream connection to any address
// family the machine has; numeric_only takes an address written as numbers
// and fails at once for a name. False with the reason in *answer.
bool SystemLookup(const char *host, const char *port, bool numeric_only, LookupAnswer *answer);
void SystemLookupFree(void *addresses);
// Runs RunLookup(job) on a new thread that nobody waits for, which keeps the
// library's code loaded until it ends; false when no thread can be had.
bool StartLookupThread(void *job);
// The lookup thread's work (lookup.cpp).
void RunLookup(void *job);

}  // namespace plat::net
