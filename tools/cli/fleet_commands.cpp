// `quiblink fleet`: many terminals from one inventory into one store (docs/fleet.md). The work
// is tools/fleet's; these commands parse, open, draw and map results to exit statuses.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "failure.h"
#include "fleet/compare.h"
#include "fleet/worker.h"
#include "fleet_support.h"
#include "fleet_table.h"
#include "progress.h"

namespace quiblink::cli {
namespace {

constexpr const char *kFleetHelp =
    "Many terminals from one inventory (TOML) into one store: backups, releases, checks\n"
    "against the released version, restores. --inventory and --store (or QUIBLINK_INVENTORY,\n"
    "QUIBLINK_STORE) go before or after the command. See docs/fleet.md.";

std::string Self() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw ToolError("cannot find this program again (/proc/self/exe): " + error.message());
  return self;
}

nlohmann::json OutcomeJson(const fleet::Outcome &outcome) {
  nlohmann::json item = {{"name", outcome.terminal},
                         {"state", outcome.state},
                         {"detail", outcome.detail},
                         {"differences", outcome.differences}};
  item["version"] = outcome.version ? nlohmann::json(*outcome.version) : nlohmann::json();
  item["released"] = outcome.compared ? nlohmann::json(*outcome.compared) : nlohmann::json();
  return item;
}

void AddSelection(CLI::App *cmd, fleet::Selection &selection) {
  cmd->add_option("names", selection.names, "terminals by name");
  cmd->add_flag("--all", selection.all, "every terminal of the inventory");
  cmd->add_option("--tag", selection.tag, "the terminals with this tag");
}

std::vector<fleet::TerminalSpec> Chosen(const fleet::Inventory &inventory,
                                        const fleet::Selection &selection, bool all_by_default) {
  const int ways =
      (selection.all ? 1 : 0) + (selection.names.empty() ? 0 : 1) + (selection.tag.empty() ? 0 : 1);
  if (ways > 1) throw UsageError("name terminals, or give --tag or --all: one of them");
  if (ways == 0 && !all_by_default)
    throw UsageError("which terminals? name them, or give --tag or --all");
  try {
    return fleet::Select(inventory, selection);
  } catch (const fleet::InventoryError &error) {
    throw UsageError(error.what());
  }
}

void AddBackup(CLI::App *fleet, FleetContext &context, Dispatch &dispatch) {
  auto selection = std::make_shared<fleet::Selection>();
  auto json = std::make_shared<bool>(false);
  auto *cmd = AddFleetSubcommand(fleet, "backup",
                                 "back the terminals up into the store, in parallel, one per line");
  AddSelection(cmd, *selection);
  cmd->add_flag("--json", *json, "print the results as JSON");
  SetAction(cmd, dispatch, [&context, selection, json] {
    const auto terminals = Chosen(context.Inventory(), *selection, false);
    const auto summary = RunWithTable(context, fleet::Mode::kBackup, terminals, *json);
    for (const auto &outcome : summary.outcomes) {
      if (outcome.state != "ok") return kExitFailed;
    }
    return kExitOk;
  });
}

void AddCheck(CLI::App *fleet, FleetContext &context, Dispatch &dispatch) {
  auto selection = std::make_shared<fleet::Selection>();
  auto json = std::make_shared<bool>(false);
  auto quick = std::make_shared<bool>(false);
  auto *cmd = AddFleetSubcommand(
      fleet, "check",
      "read the terminals (all by default) and compare each with its released version; exit 0 "
      "all same, 1 any changed or without a release, 2 any unreachable");
  AddSelection(cmd, *selection);
  cmd->add_flag("--quick", *quick, "compare only the project and memory information");
  cmd->add_flag("--json", *json, "print one object per terminal as JSON");
  SetAction(cmd, dispatch, [&context, selection, json, quick] {
    try {
      const auto terminals = Chosen(context.Inventory(), *selection, true);
      const auto mode = *quick ? fleet::Mode::kQuickCheck : fleet::Mode::kCheck;
      const auto summary = RunWithTable(context, mode, terminals, *json);
      std::vector<std::string> states;
      for (const auto &outcome : summary.outcomes) states.push_back(outcome.state);
      return fleet::CheckExitStatus(states);
    } catch (const std::exception &error) {
      // 1 means a change: a check that could not run says 2, as for a terminal not read.
      std::fprintf(stderr, "quiblink fleet check: %s\n", error.what());
      return 2;
    }
  });
}

void AddRelease(CLI::App *fleet, FleetContext &context, Dispatch &dispatch) {
  auto name = std::make_shared<std::string>();
  auto version = std::make_shared<std::string>();
  auto all = std::make_shared<bool>(false);
  auto *cmd =
      AddFleetSubcommand(fleet, "release", "mark a version as released (default: the newest)");
  cmd->add_option("name", *name, "the terminal");
  cmd->add_option("version", *version, "the version, e.g. 3 or v3");
  cmd->add_flag("--all", *all, "release the newest version of every terminal that has one");
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "print the versions released as JSON");
  SetAction(cmd, dispatch, [&context, name, version, all, json] {
    if (*all == !name->empty()) throw UsageError("name a terminal, or give --all");
    if (*all && !version->empty())
      throw UsageError("--all releases each terminal's newest version");
    const fleet::Inventory inventory = context.Inventory();
    auto store = context.Open(fleet::Store::Access::kWrite, "release");
    auto &catalogue = store->catalogue();
    std::vector<fleet::Version> chosen;
    for (const auto &spec : inventory.terminals) {
      if (!*all && spec.name != *name) continue;
      auto newest = catalogue.Latest(spec.name);
      if (!version->empty()) {
        chosen.push_back(FindVersion(catalogue, spec.name, ParseVersion(*version)));
      } else if (newest) {
        chosen.push_back(*newest);
      } else if (!*all) {
        throw ToolError(spec.name + " has no version yet: back it up first");
      }
    }
    if (chosen.empty() && !*all)
      throw UsageError("no terminal \"" + *name + "\" in " + inventory.path);
    const int64_t run = catalogue.BeginRun("release");
    nlohmann::json list = nlohmann::json::array();
    for (const auto &v : chosen) {
      catalogue.SetRelease(run, v);
      if (*json) {
        list.push_back({{"name", v.terminal}, {"version", v.number}, {"created", v.created}});
      } else {
        std::printf("%s: v%d released (%s)\n", v.terminal.c_str(), v.number, v.created.c_str());
      }
    }
    catalogue.EndRun(run, 0, std::to_string(chosen.size()) + " released");
    if (*json) PrintJson(list);
    return kExitOk;
  });
}

void AddWorker(CLI::App &app, Dispatch &dispatch) {
  auto *cmd = app.add_subcommand("fleet-worker", "");
  cmd->group("");  // started by fleet runs, not by people
  SetAction(cmd, dispatch, []() -> int {
    try {
      return fleet::RunWorker(STDIN_FILENO, STDOUT_FILENO, ToolName());
    } catch (const std::exception &error) {
      std::fprintf(stderr, "%s\n", error.what());
      return kExitFailed;
    }
  });
}

}  // namespace

fleet::Inventory FleetContext::Inventory() const {
  try {
    return fleet::LoadInventory(inventory);
  } catch (const fleet::InventoryError &error) {
    throw UsageError(error.what());
  }
}

std::unique_ptr<fleet::Store> FleetContext::Open(fleet::Store::Access access,
                                                 const std::string &command) const {
  try {
    return fleet::Store::Open(store, access, command, [this](const std::string &holder) {
      std::fprintf(stderr, "quiblink fleet: waiting for another run's lock on %s (%s)\n",
                   store.c_str(), holder.c_str());
    });
  } catch (const fleet::StoreError &error) {
    throw ToolError(error.what());
  }
}

bool FleetContext::Live() const {
  return ProgressWanted(connection->no_progress);
}

CLI::App *AddFleetSubcommand(CLI::App *fleet, const std::string &name, const std::string &help) {
  auto *cmd = fleet->add_subcommand(name, help);
  cmd->fallthrough();
  return cmd;
}

fleet::RunSummary RunWithTable(const FleetContext &context, fleet::Mode mode,
                               const std::vector<fleet::TerminalSpec> &terminals, bool json) {
  auto store = context.Open(fleet::Store::Access::kWrite, fleet::ModeName(mode));
  FleetTable table(terminals, context.Live());
  fleet::RunObserver observer;
  observer.event = [&table](const fleet::Event &event) { table.OnEvent(event); };
  observer.outcome = [&table](const fleet::Outcome &outcome) { table.OnOutcome(outcome); };
  fleet::RunSummary summary;
  try {
    summary = fleet::RunFleet(*store, mode, terminals, {Self(), {"fleet-worker"}}, observer);
  } catch (const fleet::StoreError &error) {
    throw ToolError(error.what());
  }
  table.Finish();
  nlohmann::json list = nlohmann::json::array();
  for (const auto &spec : terminals) {
    for (const auto &outcome : summary.outcomes) {
      if (outcome.terminal != spec.name) continue;
      if (json) {
        list.push_back(OutcomeJson(outcome));
      } else {
        std::printf("%-*s  %-11s %s%s\n", 16, spec.name.c_str(), outcome.state.c_str(),
                    outcome.version ? ("v" + std::to_string(*outcome.version) + "  ").c_str() : "",
                    outcome.detail.c_str());
      }
    }
  }
  if (json) PrintJson(list);
  std::fflush(stdout);
  return summary;
}

int ParseVersion(const std::string &text) {
  const std::string digits = text.starts_with("v") ? text.substr(1) : text;
  auto number = ParseNumber(digits);
  if (!number || *number < 1 || *number > 0x7FFFFFFF) {
    throw UsageError("'" + text + "' is not a version (3 or v3)");
  }
  return static_cast<int>(*number);
}

fleet::Version FindVersion(fleet::Catalogue &catalogue, const std::string &terminal, int number) {
  auto found = catalogue.FindVersion(terminal, number);
  if (found) return *found;
  auto latest = catalogue.Latest(terminal);
  throw UsageError(terminal + " has no version " + std::to_string(number) +
                   (latest ? " (v1 to v" + std::to_string(latest->number) + ")" : " (none yet)"));
}

void PrintJson(const nlohmann::json &value) {
  std::cout << value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n"
            << std::flush;
}

void AddFleetCommands(CLI::App &app, Connection &connection, Dispatch &dispatch) {
  static FleetContext context;
  context.connection = &connection;
  auto *fleet = app.add_subcommand("fleet", kFleetHelp);
  fleet->require_subcommand(1);
  fleet->add_option("--inventory", context.inventory, "the inventory (TOML)")
      ->envname("QUIBLINK_INVENTORY")
      ->capture_default_str();
  fleet->add_option("--store", context.store, "the store's folder")
      ->envname("QUIBLINK_STORE")
      ->capture_default_str();
  AddBackup(fleet, context, dispatch);
  AddCheck(fleet, context, dispatch);
  AddRelease(fleet, context, dispatch);
  AddFleetRestore(fleet, context, dispatch);
  AddFleetReadCommands(fleet, context, dispatch);
  AddWorker(app, dispatch);
}

}  // namespace quiblink::cli
