// Files that are never left half-written: what the tools save goes to a temporary in the same
// folder, is flushed to the disk and renamed over the target.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>

namespace quiblink::backup {

class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The folder a path's file lives in, where its temporary goes: "." for a bare name.
std::string FolderOf(const std::string &path);

// On any failure path keeps what it held and the temporary is removed; a new file gets the
// mode a plain create would have given it, a replaced one keeps its own. Throws FileError
// "cannot write PATH: REASON; PATH is unchanged".
void WriteFileAtomically(const std::string &path, std::span<const uint8_t> data);

// The same for a file that fill writes at the temporary's path (it may replace the file there,
// as libzip does); fill reports failure by throwing.
void WriteFileAtomicallyWith(const std::string &path,
                             const std::function<void(const std::string &temp)> &fill);

// Reads fd to its end, handing each piece to take, at most limit bytes in all. Returns 0, the
// errno of a read that failed, or kTooLarge when more than limit bytes come. Leaves fd open.
constexpr int kTooLarge = -1;
int ReadUpTo(int fd, uint64_t limit, const std::function<void(const uint8_t *, size_t)> &take);

// The whole of a regular file of at most limit bytes. Throws FileError naming the file.
std::string ReadWholeFile(const std::string &path, uint64_t limit);

}  // namespace quiblink::backup
