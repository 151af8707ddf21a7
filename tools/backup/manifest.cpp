#include "manifest.h"

#include <limits>

#include "ranges.h"

namespace quiblink::backup {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

std::string TextToName(const std::string &text, const std::string &field) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      bytes += static_cast<char>(c);
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size()) {
      bytes += static_cast<char>(((c & 0x03) << 6) | (text[++i] & 0x3F));
    } else {
      throw FormatError("manifest: " + field + " holds a character above U+00FF");
    }
  }
  return bytes;
}

ordered_json Entry(const std::string &member, std::span<const uint8_t> data) {
  return {{"member", member}, {"length", data.size()}, {"sha256", Sha256Hex(data)}};
}

// Reading: every field is looked up by its path, so a refusal names it.
const json &At(const json &object, const std::string &path, const char *key) {
  if (!object.is_object()) throw FormatError("manifest: " + path + " is not an object");
  auto it = object.find(key);
  if (it == object.end()) {
    throw FormatError("manifest: " + (path.empty() ? "" : path + ".") + key + " is missing");
  }
  return *it;
}

std::string Name(const std::string &path, const char *key) {
  return path.empty() ? key : path + "." + key;
}

int64_t Integer(const json &object, const std::string &path, const char *key, int64_t low,
                int64_t high) {
  const json &value = At(object, path, key);
  if (!value.is_number_integer()) {
    throw FormatError("manifest: " + Name(path, key) + " is not a whole number");
  }
  const bool is_unsigned = value.is_number_unsigned();
  const auto unsigned_value = is_unsigned ? value.get<uint64_t>() : 0;
  if (is_unsigned && unsigned_value > static_cast<uint64_t>(high)) {
    throw FormatError("manifest: " + Name(path, key) + " " + std::to_string(unsigned_value) +
                      " is out of range");
  }
  const int64_t number = is_unsigned ? static_cast<int64_t>(unsigned_value) : value.get<int64_t>();
  if (number < low || number > high) {
    throw FormatError("manifest: " + Name(path, key) + " " + std::to_string(number) +
                      " is out of range");
  }
  return number;
}

std::string Text(const json &object, const std::string &path, const char *key) {
  const json &value = At(object, path, key);
  if (!value.is_string()) throw FormatError("manifest: " + Name(path, key) + " is not text");
  return value.get<std::string>();
}

const json &List(const json &object, const char *key) {
  const json &value = At(object, "", key);
  if (!value.is_array()) throw FormatError(std::string("manifest: ") + key + " is not a list");
  return value;
}

MemberEntry ParseEntry(const json &item, const std::string &path) {
  MemberEntry entry;
  entry.member = Text(item, path, "member");
  entry.length =
      static_cast<uint64_t>(Integer(item, path, "length", 0, std::numeric_limits<int64_t>::max()));
  if (entry.length > kMaxMember) {
    throw FormatError("manifest: " + path + ".length " + std::to_string(entry.length) +
                      " is more than one transfer carries (" + std::to_string(kMaxMember) +
                      " bytes)");
  }
  entry.sha256 = Text(item, path, "sha256");
  return entry;
}

void ParseOrigin(const json &manifest, Origin *origin) {
  origin->created = Text(manifest, "", "created");
  const json &tool = At(manifest, "", "tool");
  origin->tool = Text(tool, "tool", "name") + " " + Text(tool, "tool", "version");
  origin->library_version = Text(manifest, "", "library_version");
  const json &connection = At(manifest, "", "connection");
  origin->port = Text(connection, "connection", "port");
  origin->baud = static_cast<uint32_t>(Integer(connection, "connection", "baud", 0, 0xFFFFFFFF));
  origin->model = static_cast<uint16_t>(Integer(connection, "connection", "model", 0, 0xFFFF));
}

void ParseTerminal(const json &manifest, TerminalInfo *info) {
  const json &terminal = At(manifest, "", "terminal");
  info->type = static_cast<uint32_t>(Integer(terminal, "terminal", "type", 0, 0xFF));
  const json &os = At(terminal, "terminal", "os_info");
  info->os_entry_00 =
      static_cast<uint32_t>(Integer(os, "terminal.os_info", "entry_00", 0, 0xFFFFFFFF));
  info->os_entry_80 =
      static_cast<uint32_t>(Integer(os, "terminal.os_info", "entry_80", 0, 0xFFFFFFFF));
  const json &memory = At(terminal, "terminal", "mem_data");
  const char *keys[] = {"value1", "value2", "value3"};
  for (int i = 0; i < 3; ++i) {
    info->memory[i] =
        static_cast<int32_t>(Integer(memory, "terminal.mem_data", keys[i], -32768, 32767));
  }
  const json &project = At(terminal, "terminal", "project");
  info->project_name =
      TextToName(Text(project, "terminal.project", "name"), "terminal.project.name");
  if (info->project_name.size() > 240) {
    throw FormatError("manifest: terminal.project.name is longer than 240 bytes");
  }
  info->project_value1 =
      static_cast<uint32_t>(Integer(project, "terminal.project", "value1", 0, 0xFFFFFFFF));
  info->project_value2 =
      static_cast<uint32_t>(Integer(project, "terminal.project", "value2", 0, 0xFFFFFFFF));
}

void ParseGraphicData(const json &manifest, Backup *backup, std::vector<MemberEntry> *members) {
  const json &groups = List(manifest, "groups");
  uint64_t offset = 0;
  for (size_t i = 0; i < groups.size(); ++i) {
    const std::string path = "groups[" + std::to_string(i) + "]";
    Group group;
    group.number = static_cast<uint16_t>(Integer(groups[i], path, "group", 1, 0xFFFF));
    const auto at = static_cast<uint64_t>(Integer(groups[i], path, "offset", 0, kMaxMember));
    if (at != offset) {
      throw FormatError("manifest: " + path + ".offset " + std::to_string(at) +
                        " is not where the group before it ends (" + std::to_string(offset) + ")");
    }
    members->push_back(ParseEntry(groups[i], path));
    offset += members->back().length;
    backup->groups.push_back(std::move(group));
  }
  const json &areas = List(manifest, "areas");
  for (size_t i = 0; i < areas.size(); ++i) {
    const std::string path = "areas[" + std::to_string(i) + "]";
    Area area;
    area.number = static_cast<uint8_t>(Integer(areas[i], path, "area", 0, 0xFF));
    members->push_back(ParseEntry(areas[i], path));
    backup->areas.push_back(std::move(area));
  }
}

void ParseClassicData(const json &manifest, Backup *backup, std::vector<MemberEntry> *members) {
  const json &ranges = List(manifest, "ranges");
  for (size_t i = 0; i < ranges.size(); ++i) {
    const std::string path = "ranges[" + std::to_string(i) + "]";
    Range range;
    range.area = static_cast<uint16_t>(Integer(ranges[i], path, "area", 0, 0xFFFF));
    range.address = static_cast<int32_t>(Integer(ranges[i], path, "address",
                                                 std::numeric_limits<int32_t>::min(),
                                                 std::numeric_limits<int32_t>::max()));
    members->push_back(ParseEntry(ranges[i], path));
    backup->ranges.push_back(std::move(range));
  }
}

}  // namespace

std::string NameToText(const std::string &bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else {
      text += static_cast<char>(0xC0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return text;
}

ordered_json TerminalReport(const TerminalInfo &info) {
  return {
      {"os_info", {{"entry_00", info.os_entry_00}, {"entry_80", info.os_entry_80}}},
      {"mem_data",
       {{"value1", info.memory[0]}, {"value2", info.memory[1]}, {"value3", info.memory[2]}}},
      {"project",
       {{"name", NameToText(info.project_name)},
        {"value1", info.project_value1},
        {"value2", info.project_value2}}},
  };
}

nlohmann::ordered_json BuildManifest(const Backup &backup) {
  const Origin &origin = backup.origin;
  const size_t space = origin.tool.rfind(' ');
  ordered_json manifest = {
      {"format", kFormatName},
      {"format_version", kFormatVersion},
      {"created", origin.created},
      {"tool",
       {{"name", origin.tool.substr(0, space)},
        {"version", space == std::string::npos ? "" : origin.tool.substr(space + 1)}}},
      {"library_version", origin.library_version},
      {"family", FamilyName(backup.family)},
      {"connection", {{"port", origin.port}, {"baud", origin.baud}, {"model", origin.model}}},
  };
  if (backup.family == Family::kClassic) {
    ordered_json ranges = ordered_json::array();
    for (const Range &range : backup.ranges) {
      ordered_json item = {{"area", range.area}, {"address", range.address}};
      item.update(Entry(MemberName(range), range.data));
      item["restore"] = RangeRestorable(origin.model, range);
      ranges.push_back(item);
    }
    manifest["ranges"] = ranges;
    return manifest;
  }
  const TerminalInfo &info = backup.terminal;
  ordered_json terminal = {{"type", info.type}};
  terminal.update(TerminalReport(info));
  manifest["terminal"] = terminal;
  ordered_json groups = ordered_json::array();
  uint64_t offset = 0;
  for (const Group &group : backup.groups) {
    ordered_json item = {{"group", group.number}, {"offset", offset}};
    item.update(Entry(MemberName(group), group.data));
    groups.push_back(item);
    offset += group.data.size();
  }
  manifest["groups"] = groups;
  ordered_json areas = ordered_json::array();
  for (const Area &area : backup.areas) {
    ordered_json item = {{"area", area.number}};
    item.update(Entry(MemberName(area), area.data));
    item["restore"] = Restorable(area);
    areas.push_back(item);
  }
  manifest["areas"] = areas;
  return manifest;
}

Backup ParseManifest(const nlohmann::json &manifest, std::vector<MemberEntry> *members) {
  if (!manifest.is_object()) throw FormatError("manifest: not a JSON object");
  auto format = manifest.find("format");
  if (format == manifest.end() || *format != kFormatName) {
    throw FormatError("manifest: not a quiblink backup (format is not \"quiblink-backup\")");
  }
  const int64_t version = Integer(manifest, "", "format_version", 0, 0x7FFFFFFF);
  if (version != kFormatVersion) {
    throw FormatError("format version " + std::to_string(version) +
                      " is not known here: this tool reads version " +
                      std::to_string(kFormatVersion));
  }
  Backup backup;
  const std::string family = Text(manifest, "", "family");
  if (family == "graphic") {
    backup.family = Family::kGraphic;
  } else if (family == "classic") {
    backup.family = Family::kClassic;
  } else {
    throw FormatError("manifest: family \"" + family + "\" is neither graphic nor classic");
  }
  ParseOrigin(manifest, &backup.origin);
  if (backup.family == Family::kGraphic) {
    ParseTerminal(manifest, &backup.terminal);
    ParseGraphicData(manifest, &backup, members);
  } else {
    ParseClassicData(manifest, &backup, members);
  }
  return backup;
}

}  // namespace quiblink::backup
