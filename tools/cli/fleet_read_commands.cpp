// The `fleet` commands that only read the store (status, history, diff, report, export) and
// verify, which repairs only when asked.
#include <cstdio>

#include "backup/atomic_file.h"
#include "failure.h"
#include "fleet/compare.h"
#include "fleet/report.h"
#include "fleet/verify.h"
#include "fleet/view.h"
#include "fleet_support.h"
#include "wire/hex.h"

namespace quiblink::cli {
namespace {

using nlohmann::json;

std::string Short(const std::string &hash) {
  return hash.substr(0, 12);
}

void PrintStatus(const fleet::FleetView &view) {
  std::printf("%-16s %-28s %-26s %-8s %-9s %-10s %s\n", "TERMINAL", "PORT", "LAST VERSION",
              "RESULT", "RELEASED", "MATCHES", "LAST CHECK");
  for (const auto &t : view.terminals) {
    const std::string latest =
        t.latest ? "v" + std::to_string(t.latest->number) + " " + t.latest->created : "-";
    const std::string result = t.last_backup ? t.last_backup->state : "-";
    const std::string released = t.released ? "v" + std::to_string(t.released->number) : "-";
    std::printf("%-16s %-28s %-26s %-8s %-9s %-10s %s\n", t.spec.name.c_str(), t.spec.port.c_str(),
                latest.c_str(), result.c_str(), released.c_str(), t.matches.c_str(),
                t.State().c_str());
    if (t.last_backup && t.last_backup->state != "ok" && !t.last_backup->version) {
      std::printf("  last try failed: %s\n", t.last_backup->detail.c_str());
    }
  }
}

json StatusJson(const fleet::FleetView &view) {
  json list = json::array();
  for (const auto &t : view.terminals) {
    list.push_back({{"name", t.spec.name},
                    {"port", t.spec.port},
                    {"family", backup::FamilyName(t.spec.family)},
                    {"version", t.latest ? json(t.latest->number) : json()},
                    {"created", t.latest ? json(t.latest->created) : json()},
                    {"result", t.last_backup ? json(t.last_backup->state) : json()},
                    {"result_detail", t.last_backup ? json(t.last_backup->detail) : json()},
                    {"released", t.released ? json(t.released->number) : json()},
                    {"matches", t.matches},
                    {"check", t.State()}});
  }
  return list;
}

void AddStatus(CLI::App *fleet, FleetContext &context, Dispatch &dispatch) {
  auto json_out = std::make_shared<bool>(false);
  auto *cmd = AddFleetSubcommand(fleet, "status",
                                 "one row per terminal: its last version, the result of its last "
                                 "backup, and whether it is the released version");
  cmd->add_flag("--json", *json_out, "print the rows as JSON");
  SetAction(cmd, dispatch, [&context, json_out] {
    const auto inventory = context.Inventory();
    auto store = context.Open(fleet::Store::Access::kRead, "status");
    const auto view = fleet::GatherView(*store, inventory, false, 0);
    if (*json_out) {
      PrintJson(StatusJson(view));
    } else {
      PrintStatus(view);
    }
    return kExitOk;
  });
}

void AddHistory(CLI::App *fleet, FleetContext &context, Dispatch &dispatch) {
  auto name = std::make_shared<std::string>();
  auto json_out = std::make_shared<bool>(false);
  auto *cmd = AddFleetSubcommand(fleet, "history", "the versions of one terminal");
  cmd->add_option("name", *name, "the terminal")->required();
  cmd->add_flag("--json", *json_out, "print the versions as JSON");
  SetAction(cmd, dispatch, [&context, name, json_out] {
    auto store = context.Open(fleet::Store::Access::kRead, "history");
    auto &catalogue = store->catalogue();
    const auto versions = catalogue.Versions(*name);
    if (versions.empty()) throw ToolError(*name + " has no version in " + store->folder());
    const auto released = catalogue.Released(*name);
    json list = json::array();
    for (const auto &v : versions) {
      const bool is_release = released && released->number == v.number;
      if (*json_out) {
        list.push_back({{"version", v.number},
                        {"created", v.created},
                        {"by", v.command},
                        {"bytes", v.bytes},
                        {"parts", v.parts},
                        {"content", v.content_hash},
                        {"released", is_release},
                        {"project", backup::NameToText(v.info.project_name)}});
        continue;
      }
      std::printf("v%-4d %s  %-11s %10s  %3d parts  %s  %s%s\n", v.number, v.created.c_str(),
                  v.command.c_str(), ByteCount(v.bytes).c_str(), v.parts,
                  Short(v.content_hash).c_str(), wire::Quoted(v.info.project_name).c_str(),
                  is_release ? "  released" : "");
    }
    if (*json_out) PrintJson(list);
    return kExitOk;
  });
}

void AddDiff(CLI::App *fleet, FleetContext &context, Dispatch &dispatch) {
  auto args = std::make_shared<std::vector<std::string>>();
  auto json_out = std::make_shared<bool>(false);
  auto *cmd = AddFleetSubcommand(fleet, "diff",
                                 "what differs between two versions of a terminal: parts added, "
                                 "removed or changed, with their sizes");
  cmd->add_option("name_and_versions", *args, "NAME V1 V2")->required()->expected(3);
  cmd->add_flag("--json", *json_out, "print the differences as JSON");
  SetAction(cmd, dispatch, [&context, args, json_out] {
    const std::string &name = (*args)[0];
    auto store = context.Open(fleet::Store::Access::kRead, "diff");
    auto &catalogue = store->catalogue();
    const auto from = FindVersion(catalogue, name, ParseVersion((*args)[1]));
    const auto to = FindVersion(catalogue, name, ParseVersion((*args)[2]));
    const auto changes = fleet::CompareContents(catalogue.LoadContent(from.content_hash),
                                                catalogue.LoadContent(to.content_hash));
    const auto fields = fleet::CompareInfo(from.info, to.info, false);
    if (*json_out) {
      json parts = json::array();
      for (const auto &c : changes) {
        parts.push_back({{"part", c.key},
                         {"change", c.change},
                         {"from_bytes", c.old_length},
                         {"to_bytes", c.new_length}});
      }
      PrintJson({{"name", name},
                 {"from", from.number},
                 {"to", to.number},
                 {"parts", parts},
                 {"fields", fields}});
      return kExitOk;
    }
    std::printf("%s: v%d (%s) -> v%d (%s)\n", name.c_str(), from.number, from.created.c_str(),
                to.number, to.created.c_str());
    for (const auto &c : changes) std::printf("  %s\n", c.Describe().c_str());
    for (const auto &f : fields) std::printf("  %s\n", f.c_str());
    if (changes.empty() && fields.empty()) std::printf("  the same\n");
    return kExitOk;
  });
}

void AddReport(CLI::App *fleet, FleetContext &context, Dispatch &dispatch) {
  auto file = std::make_shared<std::string>();
  auto *cmd = AddFleetSubcommand(fleet, "report",
                                 "write one self-contained HTML page: the fleet's states, each "
                                 "terminal's versions on a timeline, the latest runs");
  cmd->add_option("--html", *file, "the page to write")->required();
  SetAction(cmd, dispatch, [&context, file] {
    const auto inventory = context.Inventory();
    auto store = context.Open(fleet::Store::Access::kRead, "report");
    const std::string page = fleet::RenderReport(fleet::GatherView(*store, inventory, true, 20));
    try {
      backup::WriteFileAtomically(*file,
                                  {reinterpret_cast<const uint8_t *>(page.data()), page.size()});
    } catch (const backup::FileError &error) {
      throw ToolError(error.what());
    }
    std::printf("report: %zu terminals written to %s\n", inventory.terminals.size(), file->c_str());
    return kExitOk;
  });
}

void AddExport(CLI::App *fleet, FleetContext &context, Dispatch &dispatch) {
  auto args = std::make_shared<std::vector<std::string>>();
  auto *cmd = AddFleetSubcommand(fleet, "export",
                                 "write a version as a backup file, for `quiblink restore` or "
                                 "`quiblink inspect`");
  cmd->add_option("name_version_file", *args, "NAME VERSION FILE")->required()->expected(3);
  SetAction(cmd, dispatch, [&context, args] {
    auto store = context.Open(fleet::Store::Access::kRead, "export");
    const auto v = FindVersion(store->catalogue(), (*args)[0], ParseVersion((*args)[1]));
    try {
      backup::SaveArchive(fleet::Assemble(store->catalogue().LoadContent(v.content_hash), v.origin,
                                          v.info, store->objects()),
                          (*args)[2]);
    } catch (const std::exception &error) {
      throw ToolError(error.what());
    }
    std::printf("export: %s v%d saved to %s\n", (*args)[0].c_str(), v.number, (*args)[2].c_str());
    return kExitOk;
  });
}

void AddVerify(CLI::App *fleet, FleetContext &context, Dispatch &dispatch) {
  auto repair = std::make_shared<bool>(false);
  auto *cmd = AddFleetSubcommand(fleet, "verify",
                                 "read every object again and check its SHA-256, and that every "
                                 "version's parts are there; exit 1 on damage");
  cmd->add_flag("--repair", *repair,
                "remove what the check names as left over (temporaries, objects no version names)");
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "print the findings as JSON");
  SetAction(cmd, dispatch, [&context, repair, json] {
    auto store = context.Open(*repair ? fleet::Store::Access::kWrite : fleet::Store::Access::kRead,
                              "verify");
    const fleet::VerifyReport report = fleet::VerifyStore(*store);
    if (*json) {
      nlohmann::json leftovers = nlohmann::json::array();
      for (size_t i = 0; i < report.leftovers.size(); ++i) {
        leftovers.push_back({{"path", report.leftovers[i]},
                             {"reason", report.leftover_reasons[i]},
                             {"removed", *repair}});
      }
      if (*repair) fleet::RemoveLeftovers(report);
      PrintJson({{"objects", report.objects},
                 {"versions", report.versions},
                 {"damage", report.damage},
                 {"leftovers", leftovers},
                 {"consistent", report.Consistent()}});
      return report.Consistent() ? kExitOk : kExitFailed;
    }
    for (const auto &line : report.damage) std::printf("damage: %s\n", line.c_str());
    for (size_t i = 0; i < report.leftovers.size(); ++i) {
      std::printf("%s %s: %s\n", *repair ? "removing" : "a repair would remove",
                  report.leftovers[i].c_str(), report.leftover_reasons[i].c_str());
    }
    if (*repair) {
      for (const auto &line : fleet::RemoveLeftovers(report)) std::printf("%s\n", line.c_str());
    }
    std::printf("verify: %zu objects checked, %zu versions whole, %zu damaged, %zu left over%s\n",
                report.objects, report.versions, report.damage.size(), report.leftovers.size(),
                report.Consistent() ? "; the store is consistent" : "");
    return report.Consistent() ? kExitOk : kExitFailed;
  });
}

}  // namespace

void AddFleetReadCommands(CLI::App *fleet, FleetContext &context, Dispatch &dispatch) {
  AddStatus(fleet, context, dispatch);
  AddHistory(fleet, context, dispatch);
  AddDiff(fleet, context, dispatch);
  AddReport(fleet, context, dispatch);
  AddExport(fleet, context, dispatch);
  AddVerify(fleet, context, dispatch);
}

}  // namespace quiblink::cli
