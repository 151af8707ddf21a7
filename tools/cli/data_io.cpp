#include "data_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "backup/atomic_file.h"
#include "failure.h"

namespace quiblink::cli {
Bytes ReadInput(const std::string &path, uint64_t limit) {
  const std::string name = path == "-" ? "standard input" : path;
  int fd = path == "-" ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ToolError("cannot read " + path + ": " + std::strerror(errno));
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    int error = errno;
    if (fd != STDIN_FILENO) close(fd);
    throw ToolError("cannot read " + name + ": " + std::strerror(error));
  }
  // A device or a pipe given as a file name would be read until memory runs out.
  if (path != "-" && !S_ISREG(info.st_mode)) {
    close(fd);
    throw UsageError(path + " is not a regular file");
  }
  if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) > limit) {
    if (fd != STDIN_FILENO) close(fd);
    throw UsageError(name + " holds " + ByteCount(static_cast<uint64_t>(info.st_size)) +
                     ", more than the " + ByteCount(limit) + " one transfer can carry");
  }
  Bytes data;
  const int error = backup::ReadUpTo(fd, limit, [&data](const uint8_t *piece, size_t size) {
    data.insert(data.end(), piece, piece + size);
  });
  if (fd != STDIN_FILENO) close(fd);
  if (error == backup::kTooLarge) {
    throw UsageError(name + " holds more than the " + ByteCount(limit) + " one transfer can carry");
  }
  if (error != 0) throw ToolError("cannot read " + name + ": " + std::strerror(error));
  return data;
}

void CheckOutputPath(const std::string &path) {
  if (path == "-") return;
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    throw ToolError("cannot write " + path + ": it is a folder");
  }
  std::string folder = backup::FolderOf(path);
  if (stat(folder.c_str(), &info) != 0) {
    throw ToolError("cannot write " + path + ": folder " + folder + ": " + std::strerror(errno));
  }
  if (!S_ISDIR(info.st_mode))
    throw ToolError("cannot write " + path + ": " + folder + " is no folder");
  if (access(folder.c_str(), W_OK | X_OK) != 0) {
    throw ToolError("cannot write " + path + ": folder " + folder + ": " + std::strerror(errno));
  }
}

void WriteOutput(const std::string &path, std::span<const uint8_t> data) {
  if (path == "-") {
    std::cout.write(reinterpret_cast<const char *>(data.data()),
                    static_cast<std::streamsize>(data.size()));
    std::cout.flush();
    if (!std::cout) throw ToolError("cannot write to standard output");
    return;
  }
  CheckOutputPath(path);
  try {
    backup::WriteFileAtomically(path, data);
  } catch (const backup::FileError &error) {
    throw ToolError(error.what());
  }
}

ReadBuffer::ReadBuffer(size_t capacity) : capacity_(capacity) {
  // Anonymous pages are zero and take memory only once written.
  void *pages = mmap(nullptr, std::max<size_t>(capacity, 1), PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (pages == MAP_FAILED) {
    throw ToolError("cannot reserve room for " + ByteCount(capacity) + ": " + std::strerror(errno) +
                    " (lower --max-size)");
  }
  data_ = static_cast<uint8_t *>(pages);
}

ReadBuffer::~ReadBuffer() {
  munmap(data_, std::max<size_t>(capacity_, 1));
}

std::string HexCode(long long value) {
  return wire::Format(value < 0 ? "-0x%02llX" : "0x%02llX",
                      static_cast<unsigned long long>(value < 0 ? -value : value));
}

std::string CountOf(uint64_t count, const std::string &singular, const std::string &plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

std::string FormatSize(double bytes) {
  if (bytes < 1024) return wire::Format("%.0f B", bytes);
  if (bytes < 1024 * 1024) return wire::Format("%.1f KiB", bytes / 1024);
  return wire::Format("%.1f MiB", bytes / (1024 * 1024));
}

}  // namespace quiblink::cli
