// The store's data: each part of a backup (a group, a plain area, a range of panel memory) is
// one file named by its SHA-256, objects/ab/cdef..., so that a part seen before costs nothing.
// A file is written to a temporary beside it, flushed to the disk and renamed: an object that
// has its name is whole. The catalogue names an object only after that (catalogue.h).
#pragma once

#include <set>
#include <span>
#include <string>
#include <vector>

#include "backup/backup.h"

namespace quiblink::fleet {

class Objects {
 public:
  explicit Objects(std::string folder, bool in_worker = false)
      : folder_(std::move(folder)), in_worker_(in_worker) {}

  std::string PathOf(const std::string &hash) const;
  bool Has(const std::string &hash) const;

  // Writes data under its SHA-256 unless an object of that name is there; returns the hash.
  // Throws backup::FileError when the disk refuses (full, a file-size limit, ...): nothing of it
  // is left but, at worst, a temporary that verify names.
  std::string Put(std::span<const uint8_t> data);

  // Makes the names of the objects put since the last call durable (fsync of their folders),
  // before a catalogue row names them.
  void SyncFolders();

  // The object's bytes, checked against its name. Throws StoreError when it is missing or
  // its content does not match.
  backup::Bytes Get(const std::string &hash) const;

  struct Listing {
    std::vector<std::string> hashes;       // well-named objects
    std::vector<std::string> temporaries;  // left by a run that was killed or ran out of room
    std::vector<std::string> strays;       // anything else
  };
  Listing List() const;

  const std::string &folder() const { return folder_; }

 private:
  std::string folder_;
  bool in_worker_;
  std::set<std::string> unsynced_;
};

// True for 64 lower-case hexadecimal digits.
bool IsHash(const std::string &text);

}  // namespace quiblink::fleet
