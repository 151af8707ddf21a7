// The slots of the name lookups and the caller's bounded wait for one (see
// lookup.h). A slot belongs to its caller until the caller takes the answer
// or gives up; a slot given up on belongs to its thread, which frees it.
#include "platform/net/lookup.h"

#include <atomic>
#include <stdio.h>

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
  LookupAnswer answer;
};

Lookup lookups[kLookupSlots];

Lookup *TakeSlot() {
  for (Lookup &l : lookups) {
    int free_state = kFree;
    if (l.state.compare_exchange_strong(free_state, kRunning)) return &l;
  }
  return nullptr;
}

}  // namespace

void RunLookup(void *job) {
  Lookup *l = static_cast<Lookup *>(job);
  LookupAnswer answer = {};
  SystemLookup(l->host, l->port, false, &answer);
  l->answer = answer;
  int running = kRunning;
  if (!l->state.compare_exchange_strong(running, kDone)) {
    // The caller has gone: what was found is nobody's.
    if (answer.addresses != nullptr) SystemLookupFree(answer.addresses);
    l->state.store(kFree);
  }
}

LookupResult LookupName(const char *host, const char *port, uint32_t ms, LookupAnswer *answer) {
  *answer = LookupAnswer{};
  if (SystemLookup(host, port, true, answer)) return kLookupFound;
  *answer = LookupAnswer{};

  Lookup *l = TakeSlot();
  if (l == nullptr) return kLookupNoRoom;
  snprintf(l->host, sizeof l->host, "%s", host);
  snprintf(l->port, sizeof l->port, "%s", port);
  l->answer = LookupAnswer{};
  if (!StartLookupThread(l)) {
    // No thread to spare: the lookup runs here, without its bound.
    l->state.store(kFree);
    return SystemLookup(host, port, false, answer) ? kLookupFound : kLookupFailed;
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
  *answer = l->answer;
  l->state.store(kFree);
  return answer->addresses != nullptr ? kLookupFound : kLookupFailed;
}

void LookupRelease(LookupAnswer *answer) {
  if (answer->addresses != nullptr) SystemLookupFree(answer->addresses);
  answer->addresses = nullptr;
}

void ForgetLookupsInChild() {
  for (Lookup &l : lookups) l.state.store(kFree);
}

}  // namespace plat::net
