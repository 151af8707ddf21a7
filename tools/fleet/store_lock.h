// One writer at a time per store: a lock file held with flock for the whole of a run that
// writes. Another run waits for it, after saying whose lock it waits for; the kernel lets go
// of the lock of a run that is killed, so no lock outlives its run. Readers take no lock
// (SQLite's own locking and busy time-out serve them).
#pragma once

#include <functional>
#include <string>

namespace quiblink::fleet {

class StoreLock {
 public:
  // Blocks until the lock is held; waiting is called once, with the holder's line
  // ("pid 4711, started 2024-05-01T12:00:00Z, backup"), before the wait starts.
  StoreLock(const std::string &path, const std::string &command,
            const std::function<void(const std::string &holder)> &waiting);
  ~StoreLock();
  StoreLock(const StoreLock &) = delete;
  StoreLock &operator=(const StoreLock &) = delete;

 private:
  int fd_ = -1;
};

}  // namespace quiblink::fleet
