#include "objects.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "backup/atomic_file.h"
#include "sqlite_db.h"
#include "stop_points.h"

namespace quiblink::fleet {
namespace {

namespace fs = std::filesystem;

void MakeFolder(const std::string &path) {
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    throw backup::FileError("cannot make " + path + ": " + std::strerror(errno));
  }
}

void SyncFolder(const std::string &path) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw backup::FileError("cannot open " + path + ": " + std::strerror(errno));
  const int rc = fsync(fd);
  const int error = errno;
  close(fd);
  if (rc != 0) throw backup::FileError("cannot flush " + path + ": " + std::strerror(error));
}

}  // namespace

bool IsHash(const std::string &text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string Objects::PathOf(const std::string &hash) const {
  return folder_ + "/" + hash.substr(0, 2) + "/" + hash.substr(2);
}

bool Objects::Has(const std::string &hash) const {
  struct stat info {};
  return stat(PathOf(hash).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string Objects::Put(std::span<const uint8_t> data) {
  const std::string hash = backup::Sha256Hex(data);
  if (Has(hash)) return hash;
  const std::string sub = folder_ + "/" + hash.substr(0, 2);
  MakeFolder(sub);
  backup::WriteFileAtomicallyWith(PathOf(hash), [&](const std::string &temp) {
    const int fd = open(temp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) throw backup::FileError("cannot write " + temp + ": " + std::strerror(errno));
    for (size_t done = 0; done < data.size();) {
      const ssize_t put = write(fd, data.data() + done, data.size() - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        const int error = put < 0 ? errno : ENOSPC;
        close(fd);
        throw backup::FileError("cannot write object " + hash.substr(0, 12) + " in " + folder_ +
                                ": " + std::strerror(error));
      }
      done += static_cast<size_t>(put);
    }
    close(fd);
    StopPoint("object-written", in_worker_);
  });
  StopPoint("object-named", in_worker_);
  unsynced_.insert(sub);
  return hash;
}

void Objects::SyncFolders() {
  for (const std::string &sub : unsynced_) SyncFolder(sub);
  if (!unsynced_.empty()) SyncFolder(folder_);
  unsynced_.clear();
}

backup::Bytes Objects::Get(const std::string &hash) const {
  std::string data;
  try {
    data = backup::ReadWholeFile(PathOf(hash), backup::kMaxMember);
  } catch (const backup::FileError &error) {
    throw StoreError("object " + hash.substr(0, 12) + " is missing: " + error.what());
  }
  backup::Bytes bytes(data.begin(), data.end());
  if (backup::Sha256Hex(bytes) != hash) {
    throw StoreError("object " + hash.substr(0, 12) +
                     " is damaged: its content does not match "
                     "its SHA-256 (" +
                     PathOf(hash) + ")");
  }
  return bytes;
}

Objects::Listing Objects::List() const {
  Listing listing;
  std::error_code error;
  for (const fs::directory_entry &sub : fs::directory_iterator(folder_, error)) {
    const std::string prefix = sub.path().filename();
    if (!sub.is_directory() || prefix.size() != 2) {
      listing.strays.push_back(sub.path());
      continue;
    }
    for (const fs::directory_entry &entry : fs::directory_iterator(sub.path(), error)) {
      const std::string name = entry.path().filename();
      if (name.starts_with(".quiblink-")) {
        listing.temporaries.push_back(entry.path());
      } else if (entry.is_regular_file() && IsHash(prefix + name)) {
        listing.hashes.push_back(prefix + name);
      } else {
        listing.strays.push_back(entry.path());
      }
    }
  }
  if (error) throw StoreError("cannot list " + folder_ + ": " + error.message());
  return listing;
}

}  // namespace quiblink::fleet
