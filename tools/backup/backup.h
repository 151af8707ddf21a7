// A backup of one terminal as one file: a ZIP archive that holds a manifest (manifest.json) and
// the data, one member per group, plain area or memory range, each with its SHA-256 in the
// manifest. docs/backup-format.md describes the file; this is its one reader and writer in C++.
// No terminal I/O here: terminal_steps.h reads a terminal into a Backup and puts one back.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace quiblink::backup {

using Bytes = std::vector<uint8_t>;

constexpr char kFormatName[] = "quiblink-backup";
constexpr int kFormatVersion = 1;
constexpr char kManifestName[] = "manifest.json";
// One group, area or range holds at most what one block read reports (a signed 32-bit total),
// and so does all the grouped data together, which one read brings.
constexpr uint64_t kMaxMember = 0x7FFFFFFF;

// A file that is not a backup, or one that is damaged: what says so names the problem.
class FormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Family { kGraphic, kClassic };

// Where and by what the backup was made.
struct Origin {
  std::string created;          // UTC, "2024-05-01T12:00:00Z"
  std::string tool;             // "quiblink 2.1.1", "quiblink-python 2.1.1"
  std::string library_version;  // "2.1.1"
  std::string port;
  uint32_t baud = 0;
  uint16_t model = 0;
};

// What a graphic terminal reported about itself when it was backed up.
struct TerminalInfo {
  uint32_t type = 0;
  uint32_t os_entry_00 = 0, os_entry_80 = 0;
  int32_t memory[3] = {0, 0, 0};
  uint32_t project_value1 = 0, project_value2 = 0;
  std::string project_name;  // the bytes as the terminal sent them
};

struct Group {
  uint16_t number = 0;  // 1..65535
  Bytes data;           // at least one byte
};

// A plain area: 3..6 are written back by a restore, 240..242 only kept for reference.
struct Area {
  uint8_t number = 0;
  Bytes data;
};

// A run of classic panel memory as QUIB_Read reads it.
struct Range {
  uint16_t area = 0;
  int32_t address = 0;
  Bytes data;  // 1..65535 bytes
};

struct Backup {
  Family family = Family::kGraphic;
  Origin origin;
  TerminalInfo terminal;      // graphic
  std::vector<Group> groups;  // graphic, in the order the terminal sent them
  std::vector<Area> areas;    // graphic
  std::vector<Range> ranges;  // classic
};

bool Restorable(const Area &area);

// The archive's bytes. Throws FormatError when the backup breaks a rule of the format (a
// duplicate group, an area that does not exist, ...), so that no file is written that a
// restore would refuse.
Bytes WriteArchive(const Backup &backup);

// The archive written straight to a file, atomically (atomic_file.h): faster than in memory
// for large backups. Throws FormatError as WriteArchive, FileError when the file fails.
void SaveArchive(const Backup &backup, const std::string &path);

// ReadArchive of a file; FileError when it cannot be read.
Backup LoadArchive(const std::string &path);

// Reads and checks a whole archive: the format and its version, every member's presence,
// length and SHA-256, the rules of each family. Throws FormatError naming the first problem.
Backup ReadArchive(std::span<const uint8_t> archive);

// The manifest of a backup as JSON text, as the archive holds it.
std::string ManifestText(const Backup &backup);

// The rules a backup must keep, checked by both of the above: numbers in range, no duplicate,
// sizes within kMaxMember, classic ranges within the model code's addressing.
void CheckBackup(const Backup &backup);

// Lower-case hexadecimal SHA-256 of data.
std::string Sha256Hex(std::span<const uint8_t> data);

// The name of each member in the archive.
std::string MemberName(const Group &group);
std::string MemberName(const Area &area);
std::string MemberName(const Range &range);

const char *FamilyName(Family family);

}  // namespace quiblink::backup
