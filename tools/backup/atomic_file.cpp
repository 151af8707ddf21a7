#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

namespace quiblink::backup {
namespace {

mode_t CurrentUmask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

[[noreturn]] void Fail(const std::string &path, int error) {
  throw FileError("cannot write " + path + ": " + std::strerror(error) + "; " + path +
                  " is unchanged");
}

}  // namespace

std::string FolderOf(const std::string &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void WriteFileAtomicallyWith(const std::string &path,
                             const std::function<void(const std::string &temp)> &fill) {
  // The temporary lives in the target's folder, so that the rename stays on one file system.
  std::string temp = FolderOf(path) + "/.quiblink-XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) throw FileError("cannot write " + path + ": " + std::strerror(errno));
  close(fd);
  auto fail = [&](int error) {
    unlink(temp.c_str());
    Fail(path, error);
  };
  try {
    fill(temp);
  } catch (...) {
    unlink(temp.c_str());
    throw;
  }
  fd = open(temp.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) fail(errno);
  // A new file gets the mode a plain create would have given it; a replaced one keeps its own.
  struct stat old {};
  mode_t mode = 0666 & ~CurrentUmask();
  if (stat(path.c_str(), &old) == 0) mode = old.st_mode & 07777;
  if (fchmod(fd, mode) != 0 || fsync(fd) != 0) {
    int error = errno;
    close(fd);
    fail(error);
  }
  if (close(fd) != 0) fail(errno);
  if (rename(temp.c_str(), path.c_str()) != 0) fail(errno);
}

void WriteFileAtomically(const std::string &path, std::span<const uint8_t> data) {
  WriteFileAtomicallyWith(path, [&](const std::string &temp) {
    int fd = open(temp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) Fail(path, errno);
    size_t done = 0;
    while (done < data.size()) {
      ssize_t put = write(fd, data.data() + done, data.size() - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        int error = put < 0 ? errno : ENOSPC;
        close(fd);
        Fail(path, error);
      }
      done += static_cast<size_t>(put);
    }
    if (close(fd) != 0) Fail(path, errno);
  });
}

int ReadUpTo(int fd, uint64_t limit, const std::function<void(const uint8_t *, size_t)> &take) {
  uint8_t chunk[64 * 1024];
  uint64_t total = 0;
  for (;;) {
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return 0;
    total += static_cast<uint64_t>(got);
    if (total > limit) return kTooLarge;
    take(chunk, static_cast<size_t>(got));
  }
}

std::string ReadWholeFile(const std::string &path, uint64_t limit) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw FileError("cannot read " + path + ": " + std::strerror(errno));
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    throw FileError("cannot read " + path + ": not a regular file");
  }
  if (static_cast<uint64_t>(info.st_size) > limit) {
    close(fd);
    throw FileError("cannot read " + path + ": larger than " + std::to_string(limit) + " bytes");
  }
  std::string data;
  data.reserve(static_cast<size_t>(info.st_size));
  const int error = ReadUpTo(fd, limit, [&data](const uint8_t *piece, size_t size) {
    data.append(reinterpret_cast<const char *>(piece), size);
  });
  close(fd);
  if (error == kTooLarge) {
    throw FileError("cannot read " + path + ": larger than " + std::to_string(limit) + " bytes");
  }
  if (error != 0) throw FileError("cannot read " + path + ": " + std::strerror(error));
  return data;
}

}  // namespace quiblink::backup
