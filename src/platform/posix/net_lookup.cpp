#include "platform/posix/net_lookup.h"

#include <atomic>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "platform/platform.h"

namespace plat::net {

namespace {

constexpr int kLookupSlots = 8;
constexpr uint32_t kPollMs = 2;

enum SlotState : int { kFree, kRunning, kDone, kAbandoned };

struct Lookup {
  std::atomic<int> state;
  char host[256];
  char port[8];
  addrinfo hints;
  addrinfo *found;
  int error;
};

Lookup lookups[kLookupSlots];

void *Run(void *arg) {
  Lookup *l = static_cast<Lookup *>(arg);
  addrinfo *found = nullptr;
  const int error = getaddrinfo(l->host, l->port, &l->hints, &found);
  l->found = found;
  l->error = error;
  int running = kRunning;
  if (!l->state.compare_exchange_strong(running, kDone)) {
    // The caller has gone: what was found is nobody's.
    if (found != nullptr) freeaddrinfo(found);
    l->state.store(kFree);
  }
  return nullptr;
}

Lookup *TakeSlot() {
  for (Lookup &l : lookups) {
    int free_state = kFree;
    if (l.state.compare_exchange_strong(free_state, kRunning)) return &l;
  }
  return nullptr;
}

bool StartThread(Lookup *l) {
  // The thread takes no signal meant for the program.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const bool started = pthread_create(&thread, &attributes, Run, l) == 0;
  pthread_attr_destroy(&attributes);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return started;
}

}  // namespace

LookupResult LookupName(const char *host, const char *port, const addrinfo *hints, uint32_t ms,
                        addrinfo **found, int *gai_error) {
  *found = nullptr;
  *gai_error = 0;
  addrinfo numeric = *hints;
  numeric.ai_flags |= AI_NUMERICHOST;
  if (getaddrinfo(host, port, &numeric, found) == 0) return kLookupFound;
  *found = nullptr;

  Lookup *l = TakeSlot();
  if (l == nullptr) return kLookupNoRoom;
  snprintf(l->host, sizeof l->host, "%s", host);
  snprintf(l->port, sizeof l->port, "%s", port);
  l->hints = *hints;
  l->hints.ai_next = nullptr;
  l->found = nullptr;
  l->error = 0;
  if (!StartThread(l)) {
    // No thread to spare: the lookup runs here, without its bound.
    l->state.store(kFree);
    *gai_error = getaddrinfo(host, port, hints, found);
    return *gai_error == 0 ? kLookupFound : kLookupFailed;
  }
  const uint32_t start = TickCount();
  for (;;) {
    if (l->state.load() == kDone) break;
    if (TickCount() - start >= ms) {
      int running = kRunning;
      if (l->state.compare_exchange_strong(running, kAbandoned)) return kLookupTimedOut;
      break;  // it ended just now
    }
    SleepMs(kPollMs);
  }
  *found = l->found;
  *gai_error = l->error;
  l->state.store(kFree);
  return *gai_error == 0 ? kLookupFound : kLookupFailed;
}

void ForgetLookupsInChild() {
  for (Lookup &l : lookups) l.state.store(kFree);
}

}  // namespace plat::net
