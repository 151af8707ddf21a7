// The rules a backup keeps, whichever way it comes: written from a terminal or read from a file.
#include <openssl/evp.h>

#include <cstdio>
#include <set>
#include <utility>

#include "backup.h"
#include "manifest.h"
#include "ranges.h"

namespace quiblink::backup {
namespace {

bool Readable(uint8_t area) {
  return (area >= 3 && area <= 6) || (area >= 240 && area <= 242);
}

std::string Number(const char *format, unsigned value) {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

const char *FamilyName(Family family) {
  return family == Family::kGraphic ? "graphic" : "classic";
}

bool Restorable(const Area &area) {
  return area.number >= 3 && area.number <= 6;
}

std::string MemberName(const Group &group) {
  return Number("groups/group-%05u.bin", group.number);
}

std::string MemberName(const Area &area) {
  return Number("areas/area-%03u.bin", area.number);
}

std::string MemberName(const Range &range) {
  char text[64];
  std::snprintf(text, sizeof text, "ranges/range-%u-%08X.bin", range.area,
                static_cast<unsigned>(range.address));
  return text;
}

void CheckNumbers(const Backup &backup) {
  if (backup.family == Family::kClassic && (!backup.groups.empty() || !backup.areas.empty())) {
    throw FormatError("a classic panel's backup holds ranges, not groups or areas");
  }
  if (backup.family == Family::kGraphic && !backup.ranges.empty()) {
    throw FormatError("a graphic terminal's backup holds groups and areas, not ranges");
  }
  std::set<uint16_t> groups;
  for (const Group &group : backup.groups) {
    if (group.number == 0) throw FormatError("group 0 does not exist: groups are 1-65535");
    if (!groups.insert(group.number).second) {
      throw FormatError("group " + std::to_string(group.number) + " comes twice");
    }
  }
  std::set<uint8_t> areas;
  for (const Area &area : backup.areas) {
    if (!Readable(area.number)) {
      throw FormatError("area " + std::to_string(area.number) +
                        " does not exist: plain areas are 3-6 and 240-242");
    }
    if (!areas.insert(area.number).second) {
      throw FormatError("area " + std::to_string(area.number) + " comes twice");
    }
  }
  std::set<std::pair<uint16_t, int32_t>> ranges;
  for (const Range &range : backup.ranges) {
    if (!ranges.insert({range.area, range.address}).second) {
      throw FormatError("range " + DescribeRange(range) + " comes twice");
    }
  }
}

void CheckBackup(const Backup &backup) {
  CheckNumbers(backup);
  uint64_t grouped = 0;
  for (const Group &group : backup.groups) {
    if (group.data.empty()) {
      throw FormatError("group " + std::to_string(group.number) + " is empty");
    }
    if (group.data.size() > kMaxMember) {
      throw FormatError("group " + std::to_string(group.number) + " holds " +
                        std::to_string(group.data.size()) + " bytes, more than one transfer " +
                        "carries (" + std::to_string(kMaxMember) + ")");
    }
    grouped += group.data.size();
  }
  if (grouped > kMaxMember) {
    throw FormatError("the groups hold " + std::to_string(grouped) +
                      " bytes together, more than one read carries (" + std::to_string(kMaxMember) +
                      ")");
  }
  for (const Area &area : backup.areas) {
    if (area.data.size() > kMaxMember) {
      throw FormatError("area " + std::to_string(area.number) +
                        " holds more than one transfer carries");
    }
  }
  if (backup.terminal.project_name.size() > 240) {
    throw FormatError("the project name is longer than 240 bytes");
  }
  if (backup.family == Family::kClassic) CheckRanges(backup.origin.model, backup.ranges);
}

std::string Sha256Hex(std::span<const uint8_t> data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
    throw FormatError("SHA-256 is not available");
  }
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0x0F];
  }
  return text;
}

}  // namespace quiblink::backup
