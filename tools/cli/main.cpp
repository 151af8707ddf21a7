// quiblink: move data to and from operator display terminals from the command line.
#include <signal.h>

#include <cstdio>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>

#include "command_support.h"
#include "failure.h"
#include "quiblink/quiblink.hpp"

namespace {

using namespace quiblink::cli;

int Fail(const std::string &command, const std::string &text, int status) {
  std::fprintf(stderr, "quiblink%s%s: %s\n", command.empty() ? "" : " ", command.c_str(),
               text.c_str());
  return status;
}

std::string ChosenCommand(const CLI::App &app) {
  std::string name;
  for (const CLI::App *at = &app; !at->get_subcommands().empty();) {
    at = at->get_subcommands().front();
    name += (name.empty() ? "" : " ") + at->get_name();
  }
  return name;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app(
      "Move data to and from operator display terminals over a serial line.\n"
      "Graphic terminals: info, backup, restore, upload, ...; classic panels: classic\n"
      "read|write|backup|restore; `quiblink inspect` shows a backup file;\n"
      "`quiblink demo` runs a whole session against the terminal simulator;\n"
      "`quiblink monitor` shows every frame between a PC program and a terminal;\n"
      "`quiblink fleet` backs up and checks every terminal of a plant from one inventory.",
      "quiblink");
  // Subcommands take the footer over when they are added.
  app.footer(std::string("Connection options (--port, --baud, --model, --trace, --no-progress) go "
                         "before or after the command.\n\n") +
             kExitStatusHelp);
  app.require_subcommand(1);
  app.fallthrough();
  app.set_version_flag("--version", "quiblink " + std::to_string(quiblink::version() / 100) + "." +
                                        std::to_string(quiblink::version() / 10 % 10) + "." +
                                        std::to_string(quiblink::version() % 10));

  Connection connection;
  Dispatch dispatch;
  AddConnectionOptions(app, connection);
  AddInfoCommand(app, connection, dispatch);
  AddTransferCommands(app, connection, dispatch);
  AddGraphicCommands(app, connection, dispatch);
  AddClassicCommands(app, connection, dispatch);
  AddBackupCommands(app, connection, dispatch);
  AddDemoCommand(app, connection, dispatch, argv[0]);
  AddMonitorCommands(app, connection, dispatch);
  AddFleetCommands(app, connection, dispatch);
  for (CLI::App *command : app.get_subcommands({})) {
    command->fallthrough();
    // The exit statuses are told once, in `quiblink --help`.
    command->footer("");
    for (CLI::App *sub : command->get_subcommands({})) sub->footer("");
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &error) {
    int code = app.exit(error);
    return code == 0 ? kExitOk : kExitUsage;
  }

  // Past a file-size limit a write fails with EFBIG and the tool cleans up, instead of being
  // killed half-way through a file.
  signal(SIGXFSZ, SIG_IGN);
  std::string command = ChosenCommand(app);
  try {
    return dispatch.action ? dispatch.action() : kExitUsage;
  } catch (const quiblink::Error &error) {
    return Fail(command, DescribeFailure(error), ExitStatusFor(error));
  } catch (const PortError &error) {
    return Fail(command, error.what(), kExitPort);
  } catch (const UsageError &error) {
    return Fail(command, error.what(), kExitUsage);
  } catch (const ToolError &error) {
    return Fail(command, error.what(), kExitFailed);
  } catch (const std::exception &error) {
    return Fail(command, error.what(), kExitFailed);
  }
}
