// `fleet restore`: a version from the store put back onto its terminal, as `quiblink restore`
// puts a file back (the same steps), read back part by part, and the restore in the run log.
#include <cstdio>

#include "failure.h"
#include "fleet/content.h"
#include "fleet/port_identity.h"
#include "fleet_support.h"
#include "quiblink/quiblink_ext.h"
#include "step_progress.h"

namespace quiblink::cli {
namespace {

struct RestoreChoice {
  std::string name;
  std::string version;
  bool released = false;
  bool clean = false;
  bool yes = false;
};

fleet::Version Chosen(fleet::Catalogue &catalogue, const RestoreChoice &choice) {
  if (!choice.released) return FindVersion(catalogue, choice.name, ParseVersion(choice.version));
  auto released = catalogue.Released(choice.name);
  if (!released) throw ToolError(choice.name + " has no released version; nothing was sent");
  return *released;
}

Channel OpenTerminal(const fleet::TerminalSpec &spec) {
  uint16_t port = 0;
  if (const int com = fleet::ComNumber(spec.port); com != 0) {
    port = static_cast<uint16_t>(com - 1);
  } else if (QUIB_SetPortDevice(port, spec.port.c_str()) != RC_OK) {
    throw UsageError("the library refuses the port " + spec.port);
  }
  try {
    return spec.family == backup::Family::kGraphic
               ? Channel::open_graphic(port, spec.baud, spec.model)
               : Channel::open_classic(port, spec.model);
  } catch (const Error &error) {
    throw PortError(DescribeFailure(error));
  }
}

int PutBack(const FleetContext &context, const fleet::TerminalSpec &spec, fleet::Store &store,
            const fleet::Version &version, const backup::Backup &made,
            const RestoreChoice &choice) {
  auto &catalogue = store.catalogue();
  const int64_t run = catalogue.BeginRun("restore");
  const std::string what = "v" + std::to_string(version.number);
  auto record = [&](const std::string &state, const std::string &detail, int status) {
    catalogue.AddResult(run, spec.name, spec.family, state, detail, version.number);
    catalogue.EndRun(run, status, spec.name + ": " + state);
    return status;
  };
  backup::RestoreOptions options;
  options.clean = choice.clean;
  StepProgress progress(context.Live());
  try {
    Channel channel = OpenTerminal(spec);
    const auto steps = progress.Steps("restore");
    if (spec.family == backup::Family::kGraphic) {
      backup::RestoreGraphicTerminal(channel, made, options, steps);
    } else {
      backup::RestoreClassicPanel(channel, spec.model, made, options, steps);
    }
  } catch (const backup::RestoreFailed &error) {
    std::fprintf(stderr, "quiblink fleet restore: %s\n", error.what());
    return record("failed", error.what(),
                  error.cause() ? ExitStatusFor(*error.cause()) : kExitFailed);
  } catch (const std::exception &error) {
    record("failed", error.what(), kExitFailed);
    throw;
  }
  std::printf("restore: %s of %s put back and read back\n", what.c_str(), spec.name.c_str());
  return record("restored", what + " put back and read back", kExitOk);
}

}  // namespace

void AddFleetRestore(CLI::App *fleet, FleetContext &context, Dispatch &dispatch) {
  auto choice = std::make_shared<RestoreChoice>();
  auto *cmd =
      AddFleetSubcommand(fleet, "restore", "put a version back onto its terminal and read it back");
  cmd->add_option("name", choice->name, "the terminal")->required();
  cmd->add_option("version", choice->version, "the version, e.g. 3 or v3");
  cmd->add_flag("--released", choice->released, "the terminal's released version");
  cmd->add_flag("--clean", choice->clean,
                "delete the user data first, so that groups the version lacks go away");
  cmd->add_flag("-y,--yes", choice->yes, "do not ask for confirmation");
  SetAction(cmd, dispatch, [&context, choice]() -> int {
    if (choice->version.empty() == !choice->released) {
      throw UsageError("give a VERSION or --released, one of them");
    }
    const fleet::Inventory inventory = context.Inventory();
    const fleet::TerminalSpec *spec = inventory.Find(choice->name);
    if (spec == nullptr)
      throw UsageError("no terminal \"" + choice->name + "\" in " + inventory.path);
    auto store = context.Open(fleet::Store::Access::kWrite, "restore");
    const fleet::Version version = Chosen(store->catalogue(), *choice);
    backup::Backup made;
    try {
      made = fleet::Assemble(store->catalogue().LoadContent(version.content_hash), version.origin,
                             version.info, store->objects());
    } catch (const std::exception &error) {
      throw ToolError("v" + std::to_string(version.number) +
                      " cannot be put back: " + error.what() + "; nothing was sent");
    }
    const std::string question = "Put v" + std::to_string(version.number) + " of " + spec->name +
                                 " (" + version.created + ", " + ByteCount(version.bytes) +
                                 ") back onto " + spec->port +
                                 (choice->clean ? ", deleting its user data first?" : "?");
    if (!choice->yes && !Confirm(question)) {
      std::printf("restore: cancelled, nothing was sent\n");
      return kExitFailed;
    }
    return PutBack(context, *spec, *store, version, made, *choice);
  });
}

}  // namespace quiblink::cli
