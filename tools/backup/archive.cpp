// The archive: a ZIP written and read in memory through libzip. The data members are stored as
// they are (project data is mostly compressed already, and storing keeps a backup as fast as
// the disk); the manifest is deflated.
#include <sys/stat.h>
#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "atomic_file.h"
#include "backup.h"
#include "manifest.h"
#include "ranges.h"

namespace quiblink::backup {
namespace {

// The manifest is small; a larger one is not ours.
constexpr uint64_t kMaxManifest = 4u << 20;
constexpr uint32_t kSymlinkType = 0120000;
constexpr uint32_t kFileTypeMask = 0170000;

struct ArchiveCloser {
  void operator()(zip_t *archive) const { zip_discard(archive); }
};
using Archive = std::unique_ptr<zip_t, ArchiveCloser>;

struct FileCloser {
  void operator()(zip_file_t *file) const { zip_fclose(file); }
};

std::string ZipText(zip_error_t *error) {
  std::string text = zip_error_strerror(error);
  zip_error_fini(error);
  return text;
}

std::string ZipText(zip_t *archive) {
  return zip_error_strerror(zip_get_error(archive));
}

// Parses "2024-05-01T12:00:00Z" for the members' time stamps; now when it does not parse.
time_t StampOf(const std::string &created) {
  std::tm parts{};
  if (std::sscanf(created.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ", &parts.tm_year, &parts.tm_mon,
                  &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec) != 6) {
    return std::time(nullptr);
  }
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  return timegm(&parts);
}

void AddMember(zip_t *archive, const std::string &name, std::span<const uint8_t> data, bool deflate,
               time_t stamp) {
  zip_source_t *source = zip_source_buffer(archive, data.data(), data.size(), 0);
  if (source == nullptr) throw FormatError("cannot add " + name + ": " + ZipText(archive));
  zip_int64_t index = zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
  if (index < 0) {
    zip_source_free(source);
    throw FormatError("cannot add " + name + ": " + ZipText(archive));
  }
  const auto at = static_cast<zip_uint64_t>(index);
  if (zip_set_file_compression(archive, at, deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0) != 0 ||
      zip_file_set_mtime(archive, at, stamp, 0) != 0) {
    throw FormatError("cannot add " + name + ": " + ZipText(archive));
  }
}

Bytes SourceBytes(zip_source_t *source) {
  zip_stat_t stat;
  if (zip_source_open(source) != 0) throw FormatError("cannot read the archive back");
  Bytes out;
  if (zip_source_stat(source, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE)) {
    out.resize(stat.size);
    zip_int64_t got = zip_source_read(source, out.data(), out.size());
    if (got < 0 || static_cast<zip_uint64_t>(got) != stat.size) out.clear();
  }
  zip_source_close(source);
  if (out.empty()) throw FormatError("cannot read the archive back");
  return out;
}

// A name that an unzip tool would put outside the folder it extracts into, or that no backup
// holds: absolute, with a parent or empty component, a backslash or a drive.
void CheckPath(const std::string &name) {
  bool safe = !name.empty() && name.size() <= 255 && name.front() != '/';
  for (char c : name) safe = safe && c != '\\' && c != ':' && c >= 0x20 && c < 0x7F;
  for (size_t start = 0; safe && start <= name.size();) {
    size_t slash = name.find('/', start);
    std::string part = name.substr(start, slash == std::string::npos ? slash : slash - start);
    safe = part != "." && part != ".." && (!part.empty() || slash == std::string::npos);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  if (!safe) throw FormatError("member path \"" + name + "\" leaves the archive: refused");
}

Bytes ReadMember(zip_t *archive, zip_uint64_t index, const std::string &name, uint64_t limit) {
  zip_stat_t stat;
  if (zip_stat_index(archive, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE)) {
    throw FormatError(name + ": cannot be read: " + ZipText(archive));
  }
  if (stat.size > limit) {
    throw FormatError(name + ": holds " + std::to_string(stat.size) + " bytes, more than " +
                      std::to_string(limit));
  }
  std::unique_ptr<zip_file_t, FileCloser> file(zip_fopen_index(archive, index, 0));
  if (!file) throw FormatError(name + ": cannot be read: " + ZipText(archive));
  // Grown as the bytes come, so that a size the archive only claims costs no memory.
  Bytes data;
  uint8_t chunk[64 * 1024];
  for (;;) {
    zip_int64_t got = zip_fread(file.get(), chunk, sizeof chunk);
    if (got < 0) {
      throw FormatError(
          name + ": damaged: " + std::string(zip_error_strerror(zip_file_get_error(file.get()))));
    }
    if (got == 0) break;
    if (data.size() + static_cast<uint64_t>(got) > stat.size) {
      throw FormatError(name + ": longer than the archive says");
    }
    data.insert(data.end(), chunk, chunk + got);
  }
  if (data.size() != stat.size) throw FormatError(name + ": shorter than the archive says");
  return data;
}

// Every entry of the archive by name, each checked for its path and for being a plain file.
std::map<std::string, zip_uint64_t> ListEntries(zip_t *archive) {
  std::map<std::string, zip_uint64_t> entries;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    const char *raw = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
    if (raw == nullptr) throw FormatError("an entry without a name: " + ZipText(archive));
    const std::string name = raw;
    CheckPath(name);
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) == 0 &&
        system == ZIP_OPSYS_UNIX && ((attributes >> 16) & kFileTypeMask) == kSymlinkType) {
      throw FormatError("member \"" + name + "\" is a symbolic link: refused");
    }
    if (!entries.emplace(name, index).second) {
      throw FormatError("member \"" + name + "\" is in the archive twice");
    }
  }
  return entries;
}

void FillMembers(zip_t *archive, std::map<std::string, zip_uint64_t> &entries, Backup *backup,
                 const std::vector<MemberEntry> &members) {
  std::vector<Bytes *> targets;
  std::vector<std::string> expected;
  for (Group &group : backup->groups) {
    targets.push_back(&group.data);
    expected.push_back(MemberName(group));
  }
  for (Area &area : backup->areas) {
    targets.push_back(&area.data);
    expected.push_back(MemberName(area));
  }
  for (Range &range : backup->ranges) {
    targets.push_back(&range.data);
    expected.push_back(MemberName(range));
  }
  for (size_t i = 0; i < members.size(); ++i) {
    const MemberEntry &entry = members[i];
    CheckPath(entry.member);
    if (entry.member != expected[i]) {
      throw FormatError("manifest: member \"" + entry.member + "\" should be named \"" +
                        expected[i] + "\"");
    }
    auto found = entries.find(entry.member);
    if (found == entries.end()) throw FormatError(entry.member + ": missing from the archive");
    *targets[i] = ReadMember(archive, found->second, entry.member, entry.length);
    entries.erase(found);
    if (targets[i]->size() != entry.length) {
      throw FormatError(entry.member + ": holds " + std::to_string(targets[i]->size()) +
                        " bytes, the manifest says " + std::to_string(entry.length));
    }
    if (Sha256Hex(*targets[i]) != entry.sha256) {
      throw FormatError(entry.member +
                        ": SHA-256 does not match the manifest: the file is damaged");
    }
  }
  if (!entries.empty()) {
    throw FormatError("member \"" + entries.begin()->first + "\" is not in the manifest");
  }
}

// Adds every member and writes the archive out; zip_close frees it.
void Close(Archive archive, const Backup &backup) {
  const std::string manifest = ManifestText(backup);
  const time_t stamp = StampOf(backup.origin.created);
  AddMember(archive.get(), kManifestName,
            std::span(reinterpret_cast<const uint8_t *>(manifest.data()), manifest.size()), true,
            stamp);
  for (const Group &group : backup.groups) {
    AddMember(archive.get(), MemberName(group), group.data, false, stamp);
  }
  for (const Area &area : backup.areas) {
    AddMember(archive.get(), MemberName(area), area.data, false, stamp);
  }
  for (const Range &range : backup.ranges) {
    AddMember(archive.get(), MemberName(range), range.data, false, stamp);
  }
  if (zip_close(archive.get()) != 0) {
    throw FormatError("cannot write the archive: " + ZipText(archive.get()));
  }
  (void)archive.release();
}

// The checks of a whole archive, opened from memory or from a file.
Backup ReadOpened(zip_t *archive) {
  std::map<std::string, zip_uint64_t> entries = ListEntries(archive);
  auto manifest_entry = entries.find(kManifestName);
  if (manifest_entry == entries.end()) {
    throw FormatError("not a backup file: the archive has no manifest.json");
  }
  const Bytes text = ReadMember(archive, manifest_entry->second, kManifestName, kMaxManifest);
  entries.erase(manifest_entry);
  nlohmann::json manifest =
      nlohmann::json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (manifest.is_discarded()) throw FormatError("manifest.json is not valid JSON");
  std::vector<MemberEntry> members;
  Backup backup = ParseManifest(manifest, &members);
  // The numbers first: a duplicate would otherwise look like a missing member.
  CheckNumbers(backup);
  FillMembers(archive, entries, &backup, members);
  CheckBackup(backup);
  return backup;
}

[[noreturn]] void RefuseOpen(zip_error_t *error) {
  if (zip_error_code_zip(error) == ZIP_ER_EXISTS) {
    zip_error_fini(error);
    throw FormatError("not a backup file: a member is in the archive twice");
  }
  throw FormatError("not a backup file: not a whole ZIP archive (" + ZipText(error) + ")");
}

}  // namespace

Bytes WriteArchive(const Backup &backup) {
  CheckBackup(backup);
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t *buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  if (buffer == nullptr) throw FormatError("cannot make an archive: " + ZipText(&error));
  zip_source_keep(buffer);
  std::unique_ptr<zip_source_t, decltype(&zip_source_free)> keep(buffer, zip_source_free);
  Archive archive(zip_open_from_source(buffer, ZIP_TRUNCATE, &error));
  if (!archive) throw FormatError("cannot make an archive: " + ZipText(&error));
  zip_error_fini(&error);
  Close(std::move(archive), backup);
  return SourceBytes(buffer);
}

void SaveArchive(const Backup &backup, const std::string &path) {
  CheckBackup(backup);
  WriteFileAtomicallyWith(path, [&](const std::string &temp) {
    int code = 0;
    Archive archive(zip_open(temp.c_str(), ZIP_TRUNCATE, &code));
    if (!archive) throw FileError("cannot write " + path + ": cannot make an archive");
    try {
      Close(std::move(archive), backup);
    } catch (const FormatError &error) {
      throw FileError("cannot write " + path + ": " + error.what() + "; " + path + " is unchanged");
    }
  });
}

Backup ReadArchive(std::span<const uint8_t> bytes) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t *source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  if (source == nullptr) throw FormatError("cannot read the archive: " + ZipText(&error));
  Archive archive(zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error));
  if (!archive) {
    zip_source_free(source);
    RefuseOpen(&error);
  }
  zip_error_fini(&error);
  return ReadOpened(archive.get());
}

Backup LoadArchive(const std::string &path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    throw FileError("cannot read " + path + ": " + std::strerror(errno));
  }
  if (!S_ISREG(info.st_mode)) throw FileError("cannot read " + path + ": not a regular file");
  int code = 0;
  Archive archive(zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
  if (!archive) {
    if (code == ZIP_ER_OPEN || code == ZIP_ER_NOENT || code == ZIP_ER_READ) {
      throw FileError("cannot read " + path + ": " + std::strerror(errno));
    }
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    RefuseOpen(&error);
  }
  return ReadOpened(archive.get());
}

std::string ManifestText(const Backup &backup) {
  return BuildManifest(backup).dump(2) + "\n";
}

}  // namespace quiblink::backup
