// The plant's inventory: one TOML file with a [[terminal]] table per terminal, read with toml++.
// Every rule is checked when the file is read, and a broken one is named with the file, the
// line and the key, so that a run never starts on half an inventory.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "backup/backup.h"
#include "backup/terminal_steps.h"

namespace quiblink::fleet {

class InventoryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TerminalSpec {
  std::string name;
  std::string port;  // COM1..COM10, a device path, rfc2217://host:port or tcp://host:port
  backup::Family family = backup::Family::kGraphic;
  uint16_t baud = 38400;
  uint16_t model = 0;
  std::vector<uint8_t> areas;                // graphic: plain areas to add
  std::vector<backup::RangeRequest> ranges;  // classic: what is backed up
  std::vector<std::string> tags;
  int line = 0;  // where its table starts in the file
};

struct Inventory {
  std::string path;
  std::vector<TerminalSpec> terminals;

  const TerminalSpec *Find(const std::string &name) const;
};

// Throws InventoryError "FILE:LINE: terminal "NAME": key 'KEY': what is wrong".
Inventory LoadInventory(const std::string &path);
Inventory ParseInventory(std::string_view text, const std::string &path);

// Which terminals a command is for: every one, those named (in the order given), or those with
// a tag. Throws InventoryError for a name the inventory does not have or a tag no terminal has.
struct Selection {
  bool all = false;
  std::vector<std::string> names;
  std::string tag;
};
std::vector<TerminalSpec> Select(const Inventory &inventory, const Selection &selection);

}  // namespace quiblink::fleet
