// What the `fleet` commands share: where the inventory and the store are, opening them with
// their failures in the tool's words, and the runs' output.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "command_support.h"
#include "fleet/fleet_run.h"
#include "fleet/inventory.h"
#include "fleet/store.h"

namespace quiblink::cli {

struct FleetContext {
  std::string inventory = "./plant.toml";
  std::string store = "./store";
  Connection *connection = nullptr;

  // InventoryError becomes UsageError, StoreError ToolError.
  fleet::Inventory Inventory() const;
  // Writing: says on standard error whose lock it waits for, then waits.
  std::unique_ptr<fleet::Store> Open(fleet::Store::Access access, const std::string &command) const;
  bool Live() const;
};

// One subcommand of `fleet`: options of the whole command line reach it wherever they stand.
CLI::App *AddFleetSubcommand(CLI::App *fleet, const std::string &name, const std::string &help);

// backup, check: the terminals run through the workers with the live table, every outcome
// printed (JSON with --json).
fleet::RunSummary RunWithTable(const FleetContext &context, fleet::Mode mode,
                               const std::vector<fleet::TerminalSpec> &terminals, bool json);

void AddFleetReadCommands(CLI::App *fleet, FleetContext &context, Dispatch &dispatch);
void AddFleetRestore(CLI::App *fleet, FleetContext &context, Dispatch &dispatch);

// "v3" -> 3, "3" -> 3; UsageError otherwise.
int ParseVersion(const std::string &text);
// The version asked for, or UsageError naming what there is.
fleet::Version FindVersion(fleet::Catalogue &catalogue, const std::string &terminal, int number);
void PrintJson(const nlohmann::json &value);

}  // namespace quiblink::cli
