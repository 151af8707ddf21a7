#include "inventory.h"

#include <map>
#include <set>
#include <toml++/toml.h>

#include "backup/atomic_file.h"
#include "backup/ranges.h"
#include "port_identity.h"

namespace quiblink::fleet {
namespace {

const std::set<std::string> kKeys = {"name",  "port",  "family", "baud",
                                     "model", "areas", "ranges", "tags"};

// Where an error is: the file, a terminal's table and the key.
struct Place {
  const std::string &path;
  int line;
  std::string terminal;  // "terminal "press-1"" or "terminal 3" before its name is known

  [[noreturn]] void Fail(const std::string &key, const std::string &what,
                         const toml::node *node = nullptr) const {
    const int at = node != nullptr ? static_cast<int>(node->source().begin.line) : line;
    std::string text = path + ":" + std::to_string(at) + ": " + terminal;
    if (!key.empty()) text += ": key '" + key + "'";
    throw InventoryError(text + ": " + what);
  }
};

int64_t Integer(const Place &place, const toml::table &table, const std::string &key, int64_t low,
                int64_t high) {
  const toml::node *node = table.get(key);
  auto value = node->value_exact<int64_t>();
  if (!value || *value < low || *value > high) {
    place.Fail(key,
               "must be a whole number from " + std::to_string(low) + " to " + std::to_string(high),
               node);
  }
  return *value;
}

std::string Text(const Place &place, const toml::table &table, const std::string &key) {
  const toml::node *node = table.get(key);
  if (node == nullptr) place.Fail(key, "is missing");
  auto value = node->value_exact<std::string>();
  if (!value || value->empty()) place.Fail(key, "must be a string that is not empty", node);
  return *value;
}

const toml::array &ArrayOf(const Place &place, const toml::table &table, const std::string &key) {
  const toml::node *node = table.get(key);
  if (!node->is_array()) place.Fail(key, "must be an array", node);
  return *node->as_array();
}

std::vector<uint8_t> Areas(const Place &place, const toml::table &table) {
  std::vector<uint8_t> areas;
  for (const toml::node &item : ArrayOf(place, table, "areas")) {
    auto value = item.value_exact<int64_t>();
    const bool readable =
        value && ((*value >= 3 && *value <= 6) || (*value >= 240 && *value <= 242));
    if (!readable) place.Fail("areas", "each area is one of 3-6 and 240-242", &item);
    for (uint8_t area : areas) {
      if (area == *value)
        place.Fail("areas", "area " + std::to_string(*value) + " is named twice", &item);
    }
    areas.push_back(static_cast<uint8_t>(*value));
  }
  return areas;
}

std::vector<backup::RangeRequest> Ranges(const Place &place, const toml::table &table,
                                         uint16_t model) {
  std::vector<backup::RangeRequest> ranges;
  std::vector<backup::Range> sized;
  for (const toml::node &item : ArrayOf(place, table, "ranges")) {
    const toml::table *range = item.as_table();
    if (range == nullptr) place.Fail("ranges", "each range is { address = N, count = N }", &item);
    Place inner{place.path, static_cast<int>(item.source().begin.line), place.terminal};
    for (const auto &[key, value] : *range) {
      const std::string name(key.str());
      if (name != "area" && name != "address" && name != "count") {
        inner.Fail("ranges", "a range has no key '" + name + "' (area, address, count)", &value);
      }
    }
    if (!range->contains("address") || !range->contains("count")) {
      inner.Fail("ranges", "each range is { address = N, count = N }", &item);
    }
    backup::RangeRequest r;
    r.area =
        range->contains("area") ? static_cast<uint16_t>(Integer(inner, *range, "area", 0, 3)) : 0;
    r.address = static_cast<int32_t>(Integer(inner, *range, "address", 0, 0x7FFFFFFF));
    r.count = static_cast<uint16_t>(Integer(inner, *range, "count", 1, 0xFFFF));
    ranges.push_back(r);
    sized.push_back({r.area, r.address, backup::Bytes(r.count)});
  }
  if (ranges.empty())
    place.Fail("ranges", "a classic panel needs at least one range", table.get("ranges"));
  try {
    backup::CheckRanges(model, sized);
  } catch (const backup::FormatError &error) {
    place.Fail("ranges", error.what(), table.get("ranges"));
  }
  return ranges;
}

std::vector<std::string> Tags(const Place &place, const toml::table &table) {
  std::vector<std::string> tags;
  for (const toml::node &item : ArrayOf(place, table, "tags")) {
    auto value = item.value_exact<std::string>();
    if (!value || value->empty())
      place.Fail("tags", "each tag is a string that is not empty", &item);
    tags.push_back(*value);
  }
  return tags;
}

void ReadFamily(const Place &place, const toml::table &table, TerminalSpec &spec) {
  const std::string family = Text(place, table, "family");
  if (family != "graphic" && family != "classic") {
    place.Fail("family", "'" + family + "' is neither graphic nor classic", table.get("family"));
  }
  spec.family = family == "graphic" ? backup::Family::kGraphic : backup::Family::kClassic;
  spec.model =
      table.contains("model") ? static_cast<uint16_t>(Integer(place, table, "model", 0, 65535)) : 0;
  if (spec.family == backup::Family::kGraphic) {
    if (!table.contains("baud")) place.Fail("baud", "is missing (a graphic terminal's line speed)");
    spec.baud = static_cast<uint16_t>(Integer(place, table, "baud", 1, 65535));
    if (table.contains("ranges"))
      place.Fail("ranges", "only classic panels have ranges", table.get("ranges"));
    if (table.contains("areas")) spec.areas = Areas(place, table);
    return;
  }
  spec.baud = 9600;
  if (table.contains("baud") && Integer(place, table, "baud", 1, 65535) != 9600) {
    place.Fail("baud", "classic panels talk at 9600 baud", table.get("baud"));
  }
  if (table.contains("areas"))
    place.Fail("areas", "only graphic terminals have plain areas", table.get("areas"));
  if (!table.contains("ranges"))
    place.Fail("ranges", "is missing (what of the panel's memory to back up)");
  spec.ranges = Ranges(place, table, spec.model);
}

TerminalSpec ReadTerminal(const std::string &path, const toml::node &node, size_t index) {
  Place place{path, static_cast<int>(node.source().begin.line),
              "terminal " + std::to_string(index + 1)};
  const toml::table *table = node.as_table();
  if (table == nullptr) place.Fail("", "[[terminal]] must be a table");
  TerminalSpec spec;
  spec.line = place.line;
  spec.name = Text(place, *table, "name");
  place.terminal = "terminal \"" + spec.name + "\"";
  for (const auto &[key, value] : *table) {
    if (!kKeys.contains(std::string(key.str()))) {
      place.Fail(std::string(key.str()),
                 "unknown key (name, port, family, baud, model, areas, "
                 "ranges, tags)",
                 &value);
    }
  }
  spec.port = Text(place, *table, "port");
  if (KindOfPort(spec.port) == PortKind::kInvalid) {
    place.Fail("port",
               "'" + spec.port +
                   "' is none of COM1..COM10, a device path (/dev/...), "
                   "rfc2217://host:port or tcp://host:port",
               table->get("port"));
  }
  ReadFamily(place, *table, spec);
  if (table->contains("tags")) spec.tags = Tags(place, *table);
  return spec;
}

// One name, one line: a name or a line given twice is refused with both places.
void CheckUnique(const Inventory &inventory) {
  std::map<std::string, const TerminalSpec *> names, lines;
  for (const TerminalSpec &spec : inventory.terminals) {
    const std::string where =
        inventory.path + ":" + std::to_string(spec.line) + ": terminal \"" + spec.name + "\"";
    if (auto [at, fresh] = names.emplace(spec.name, &spec); !fresh) {
      throw InventoryError(where + ": key 'name': \"" + spec.name +
                           "\" is already the name of the terminal at line " +
                           std::to_string(at->second->line));
    }
    if (auto [at, fresh] = lines.emplace(PortIdentity(spec.port), &spec); !fresh) {
      throw InventoryError(where + ": key 'port': " + spec.port + " is the line of terminal \"" +
                           at->second->name + "\" (line " + std::to_string(at->second->line) +
                           "): one line, one terminal");
    }
  }
}

}  // namespace

const TerminalSpec *Inventory::Find(const std::string &name) const {
  for (const TerminalSpec &spec : terminals) {
    if (spec.name == name) return &spec;
  }
  return nullptr;
}

Inventory ParseInventory(std::string_view text, const std::string &path) {
  toml::table root;
  try {
    root = toml::parse(text, path);
  } catch (const toml::parse_error &error) {
    throw InventoryError(path + ":" + std::to_string(error.source().begin.line) + ": " +
                         std::string(error.description()));
  }
  for (const auto &[key, value] : root) {
    if (key.str() != "terminal") {
      throw InventoryError(path + ":" + std::to_string(value.source().begin.line) + ": key '" +
                           std::string(key.str()) +
                           "': unknown (the inventory holds [[terminal]] tables)");
    }
  }
  Inventory inventory;
  inventory.path = path;
  const toml::array *list = root["terminal"].as_array();
  if (list == nullptr || list->empty()) {
    throw InventoryError(path + ":1: no [[terminal]] table: the inventory names no terminal");
  }
  for (size_t i = 0; i < list->size(); ++i) {
    inventory.terminals.push_back(ReadTerminal(path, *list->get(i), i));
  }
  CheckUnique(inventory);
  return inventory;
}

Inventory LoadInventory(const std::string &path) {
  std::string text;
  try {
    text = backup::ReadWholeFile(path, 16 << 20);
  } catch (const backup::FileError &error) {
    throw InventoryError(std::string(error.what()) +
                         " (the inventory: --inventory or QUIBLINK_INVENTORY)");
  }
  return ParseInventory(text, path);
}

std::vector<TerminalSpec> Select(const Inventory &inventory, const Selection &selection) {
  std::vector<TerminalSpec> chosen;
  if (!selection.names.empty()) {
    for (const std::string &name : selection.names) {
      const TerminalSpec *spec = inventory.Find(name);
      if (spec == nullptr)
        throw InventoryError("no terminal \"" + name + "\" in " + inventory.path);
      chosen.push_back(*spec);
    }
    return chosen;
  }
  for (const TerminalSpec &spec : inventory.terminals) {
    bool tagged = false;
    for (const std::string &tag : spec.tags) tagged = tagged || tag == selection.tag;
    if (selection.tag.empty() || tagged) chosen.push_back(spec);
  }
  if (chosen.empty())
    throw InventoryError("no terminal of " + inventory.path + " has the tag \"" + selection.tag +
                         "\"");
  return chosen;
}

}  // namespace quiblink::fleet
