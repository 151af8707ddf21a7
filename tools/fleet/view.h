// The fleet as the catalogue knows it, one row per terminal of the inventory: its last
// version, its release, what the last check found, and the latest runs. `status` prints it and
// the report draws it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "catalogue.h"
#include "inventory.h"
#include "store.h"

namespace quiblink::fleet {

struct TerminalView {
  TerminalSpec spec;
  std::optional<Version> latest;
  std::optional<Version> released;
  std::optional<Result> last_backup;  // the last backup or check that tried to read it
  std::optional<Result> last_check;
  std::string matches;  // the latest version against the release: "yes", "no", "no release", "-"
  std::vector<Version> versions;  // with history only
  std::vector<Release> releases;

  // What the last check found, "not checked" before any.
  std::string State() const { return last_check ? last_check->state : "not checked"; }
};

struct FleetView {
  std::string store;
  std::string generated;
  std::vector<TerminalView> terminals;
  std::vector<Run> runs;
};

FleetView GatherView(Store &store, const Inventory &inventory, bool history, int runs);

}  // namespace quiblink::fleet
