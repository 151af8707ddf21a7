#include "wire/signals.h"

#include <sys/signalfd.h>
#include <unistd.h>

namespace quiblink::wire {

StopSignals::StopSignals() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  sigaddset(&set_, SIGHUP);
  sigprocmask(SIG_BLOCK, &set_, &old_);
  fd_ = signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
}

StopSignals::~StopSignals() {
  if (fd_ >= 0) close(fd_);
  sigprocmask(SIG_SETMASK, &old_, nullptr);
}

int StopSignals::Take() {
  int last = 0;
  signalfd_siginfo info;
  while (fd_ >= 0 && read(fd_, &info, sizeof info) == sizeof info) {
    last = static_cast<int>(info.ssi_signo);
  }
  return last;
}

}  // namespace quiblink::wire
