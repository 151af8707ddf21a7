// The backup file reader under arbitrary files: people receive backups from others. Whatever
// the bytes, the reader accepts them or refuses with FormatError, within its buffers; what it
// accepts keeps every rule of the format and writes back to a file that reads the same.
#include <stdlib.h>

#include <span>

#include "backup/backup.h"

namespace b = quiblink::backup;

namespace {

void Check(bool condition) {
  if (!condition) abort();
}

bool SameData(const b::Backup &x, const b::Backup &y) {
  if (x.groups.size() != y.groups.size() || x.areas.size() != y.areas.size() ||
      x.ranges.size() != y.ranges.size()) {
    return false;
  }
  for (size_t i = 0; i < x.groups.size(); ++i) {
    if (x.groups[i].number != y.groups[i].number || x.groups[i].data != y.groups[i].data) {
      return false;
    }
  }
  for (size_t i = 0; i < x.areas.size(); ++i) {
    if (x.areas[i].number != y.areas[i].number || x.areas[i].data != y.areas[i].data) return false;
  }
  for (size_t i = 0; i < x.ranges.size(); ++i) {
    if (x.ranges[i].area != y.ranges[i].area || x.ranges[i].address != y.ranges[i].address ||
        x.ranges[i].data != y.ranges[i].data) {
      return false;
    }
  }
  return x.terminal.project_name == y.terminal.project_name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  b::Backup read;
  try {
    read = b::ReadArchive(std::span(data, size));
  } catch (const b::FormatError &) {
    return 0;
  }
  // Accepted: the rules hold, and the backup survives a write and a read unchanged.
  try {
    b::CheckBackup(read);
    const b::Backup again = b::ReadArchive(b::WriteArchive(read));
    Check(SameData(read, again));
    Check(b::ManifestText(again) == b::ManifestText(read));
  } catch (const b::FormatError &) {
    abort();
  }
  return 0;
}
