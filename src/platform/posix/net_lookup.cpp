// The system's side of the name lookups (net/lookup.h): getaddrinfo, and a
// detached thread that takes no signal meant for the program.
#include "platform/net/lookup.h"

#include <errno.h>
#include <netdb.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

namespace plat::net {

namespace {

void *Launch(void *job) {
  RunLookup(job);
  return nullptr;
}

}  // namespace

bool SystemLookup(const char *host, const char *port, bool numeric_only, LookupAnswer *answer) {
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG | (numeric_only ? AI_NUMERICHOST : 0);
  addrinfo *found = nullptr;
  const int code = getaddrinfo(host, port, &hints, &found);
  if (code == 0) {
    answer->addresses = found;
    return true;
  }
  answer->addresses = nullptr;
  if (code == EAI_SYSTEM) {
    answer->error = errno;
    char buffer[80];
    snprintf(answer->text, sizeof answer->text, "%s", strerror_r(errno, buffer, sizeof buffer));
  } else {
    answer->error = 0;
    snprintf(answer->text, sizeof answer->text, "%s", gai_strerror(code));
  }
  return false;
}

void SystemLookupFree(void *addresses) {
  freeaddrinfo(static_cast<addrinfo *>(addresses));
}

bool StartLookupThread(void *job) {
  // The thread takes no signal meant for the program.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const bool started = pthread_create(&thread, &attributes, Launch, job) == 0;
  pthread_attr_destroy(&attributes);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return started;
}

}  // namespace plat::net
