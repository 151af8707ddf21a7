// What a version holds, as the catalogue keeps it: the list of its parts (kind, number, length
// and the SHA-256 that names the object), and one hash over that list, so that two backups with
// the same parts share one content and an unchanged backup adds no data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "backup/manifest.h"

namespace quiblink::fleet {

class Objects;

struct Part {
  std::string kind;     // "group", "area" or "range"
  int64_t number = 0;   // the group's or area's number; a range's memory area
  int64_t address = 0;  // a range's address
  uint64_t length = 0;
  std::string object;  // SHA-256 of the bytes

  // "group 7", "area 3", "range 0:0x100"; two parts with one key are the same part.
  std::string Key() const;
};

struct Content {
  std::string hash;
  backup::Family family = backup::Family::kGraphic;
  std::vector<Part> parts;

  uint64_t Bytes() const;
};

// The hash over the family and every part, in order.
std::string ContentHash(backup::Family family, const std::vector<Part> &parts);

// From a manifest read back (the backup without data, and its members in the manifest's order:
// groups, areas, ranges).
Content ContentOf(const backup::Backup &shape, const std::vector<backup::MemberEntry> &members);

// From a whole backup: each part's bytes hashed here.
Content ContentOf(const backup::Backup &whole);

// The backup a version stands for, each part's bytes taken from its object and checked.
backup::Backup Assemble(const Content &content, const backup::Origin &origin,
                        const backup::TerminalInfo &info, const Objects &objects);

}  // namespace quiblink::fleet
