#include "store_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "catalogue.h"
#include "sqlite_db.h"

namespace quiblink::fleet {
namespace {

std::string Holder(int fd) {
  char text[256] = {};
  const ssize_t got = pread(fd, text, sizeof text - 1, 0);
  std::string line = got > 0 ? std::string(text, static_cast<size_t>(got)) : "";
  while (!line.empty() && (line.back() == '\n' || line.back() == '\0')) line.pop_back();
  return line.empty() ? "a run that has not said who it is yet" : line;
}

int Flock(int fd, int operation) {
  int rc;
  do {
    rc = flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

}  // namespace

StoreLock::StoreLock(const std::string &path, const std::string &command,
                     const std::function<void(const std::string &holder)> &waiting) {
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) throw StoreError("cannot open the lock " + path + ": " + std::strerror(errno));
  if (Flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) {
      const int error = errno;
      close(fd_);
      throw StoreError("cannot lock " + path + ": " + std::strerror(error));
    }
    if (waiting) waiting(Holder(fd_));
    if (Flock(fd_, LOCK_EX) != 0) {
      const int error = errno;
      close(fd_);
      throw StoreError("cannot lock " + path + ": " + std::strerror(error));
    }
  }
  // Who holds it, for the next run that waits; a failure to say so costs nothing but words.
  const std::string line =
      "pid " + std::to_string(getpid()) + ", started " + UtcNow() + ", " + command + "\n";
  if (ftruncate(fd_, 0) == 0 && pwrite(fd_, line.data(), line.size(), 0) < 0) {
    // The lock is held all the same.
  }
}

StoreLock::~StoreLock() {
  if (fd_ < 0) return;
  if (ftruncate(fd_, 0) != 0) {
    // Closing lets go of the lock whatever the file says.
  }
  close(fd_);
}

}  // namespace quiblink::fleet
