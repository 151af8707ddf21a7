// The manifest of a backup: the JSON object of manifest.json, built from a Backup and read
// back into one whose members are still to be filled from the archive.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "backup.h"

namespace quiblink::backup {

// What the manifest says of one member: where it is, how long and its hash.
struct MemberEntry {
  std::string member;
  uint64_t length = 0;
  std::string sha256;
};

nlohmann::ordered_json BuildManifest(const Backup &backup);

// A name the terminal sent is bytes: each byte goes into JSON as the character of the same
// number (Latin-1, so \u00XX above ASCII), so that any name goes in and comes back unchanged.
std::string NameToText(const std::string &bytes);

// What a graphic terminal says of itself, as the manifest holds it after its type: "os_info",
// "mem_data" and "project".
nlohmann::ordered_json TerminalReport(const TerminalInfo &info);

// The backup with empty data, and per group, area and range (in that order) its member entry.
// Throws FormatError naming the field that is missing, of the wrong kind or out of range.
Backup ParseManifest(const nlohmann::json &manifest, std::vector<MemberEntry> *members);

// The part of CheckBackup that needs no data: the numbers of groups, areas and ranges, and
// that none comes twice.
void CheckNumbers(const Backup &backup);

}  // namespace quiblink::backup
