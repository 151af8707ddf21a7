// `quiblink demo`: starts the simulator and runs a complete session against it.
#include <cstdio>
#include <memory>

#include "command_support.h"
#include "demo.h"
#include "failure.h"
#include "progress.h"
#include "sim_launcher.h"

namespace quiblink::cli {

void AddDemoCommand(CLI::App &app, Connection &connection, Dispatch &dispatch,
                    const std::string &argv0) {
  auto sim = std::make_shared<std::string>();
  auto size = std::make_shared<uint32_t>(12 * 1024);
  auto *cmd = app.add_subcommand("demo",
                                 "run a whole session against the terminal simulator: a graphic "
                                 "terminal, then classic panels of model codes 0 and 3");
  cmd->add_option("--sim", *sim,
                  "the simulator binary (default: found next to quiblink or on PATH)")
      ->type_name("PATH");
  AddNumber(cmd, "--project-size", *size, "size of the generated project image, bytes", 16,
            1024 * 1024);
  SetAction(cmd, dispatch, [&connection, sim, size, argv0] {
    DemoSettings settings;
    settings.simulator = FindSimulator(*sim);
    if (settings.simulator.empty()) {
      throw UsageError(sim->empty() ? "cannot find quiblink-sim next to " + argv0 +
                                          " or on PATH; give it with --sim"
                                    : "--sim: " + *sim + " is not an executable file");
    }
    settings.baud = connection.baud;
    settings.progress = ProgressWanted(connection.no_progress);
    settings.project_size = *size;
    auto trace = connection.trace ? MakeTraceSink() : nullptr;

    std::printf("QUIBLINK demo: library version %d, simulator %s\n", version(),
                settings.simulator.c_str());
    DemoReport report(stdout);
    RunGraphicDemo(settings, report);
    RunClassicDemo(settings, 0, report);
    RunClassicDemo(settings, 3, report);
    return report.Summary() ? kExitOk : kExitFailed;
  });
}

}  // namespace quiblink::cli
