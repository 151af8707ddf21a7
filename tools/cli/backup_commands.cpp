// `backup`, `restore`, `inspect`, `classic backup` and `classic restore`: a terminal saved to one
// checked file and put back from it (docs/backup-format.md). The steps themselves live in
// tools/backup; these commands parse, ask, print and map failures to exit statuses.
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "backup/atomic_file.h"
#include "backup/ranges.h"
#include "backup/terminal_steps.h"
#include "backup_report.h"
#include "command_support.h"
#include "failure.h"
#include "step_progress.h"

namespace quiblink::cli {
namespace {

constexpr uint32_t kDefaultCapacity = 16 * 1024 * 1024;

// "3,4,240": each a readable area, none twice.
std::vector<uint8_t> ParseAreas(const std::string &text) {
  std::vector<uint8_t> areas;
  std::stringstream list(text);
  for (std::string word; std::getline(list, word, ',');) {
    auto number = ParseNumber(word);
    if (!number) throw UsageError("--areas: '" + word + "' is not a number");
    CheckReadArea(*number);
    for (uint8_t area : areas) {
      if (area == *number) throw UsageError("--areas: area " + word + " is named twice");
    }
    areas.push_back(static_cast<uint8_t>(*number));
  }
  return areas;
}

// The whole file checked; a restore says that it sent nothing when the file is refused.
backup::Backup LoadBackup(const std::string &path, bool restoring) {
  try {
    return backup::LoadArchive(path);
  } catch (const backup::FileError &error) {
    throw ToolError(error.what() + std::string(restoring ? "; nothing was sent" : ""));
  } catch (const backup::FormatError &error) {
    throw ToolError(path + ": " + error.what() + (restoring ? "; nothing was sent" : ""));
  }
}

void SaveBackup(const std::string &path, const backup::Backup &made) {
  try {
    if (path == "-") {
      WriteOutput(path, backup::WriteArchive(made));
    } else {
      CheckOutputPath(path);
      backup::SaveArchive(made, path);
    }
  } catch (const backup::FormatError &error) {
    throw ToolError(std::string("the terminal's data cannot be saved: ") + error.what());
  } catch (const backup::FileError &error) {
    throw ToolError(error.what());
  }
}

// Runs a restore's steps; a restore that stops says what was written.
int RunRestore(const std::string &command, const std::function<void()> &restore) {
  try {
    restore();
  } catch (const backup::WrongTerminal &error) {
    throw ToolError(error.what());
  } catch (const backup::RestoreFailed &error) {
    std::fprintf(stderr, "quiblink %s: %s\n", command.c_str(), error.what());
    return error.cause() ? ExitStatusFor(*error.cause()) : kExitFailed;
  } catch (const backup::FormatError &error) {
    throw ToolError(error.what());
  }
  Report(nullptr, command + ": done");
  return kExitOk;
}

struct BackupOptions {
  std::string file;
  bool raw = false;
  std::string areas;
  uint32_t capacity = kDefaultCapacity;
};

struct RestoreFlags {
  std::string file;
  bool yes = false;
  backup::RestoreOptions options;
  bool no_start = false;
  bool no_verify = false;

  backup::RestoreOptions Options() const {
    backup::RestoreOptions chosen = options;
    chosen.start = !no_start;
    chosen.verify = !no_verify;
    return chosen;
  }
};

void AddRestoreFlags(CLI::App *cmd, RestoreFlags &flags) {
  cmd->add_option("file", flags.file, "the backup file")->required();
  cmd->add_flag("-y,--yes", flags.yes, "do not ask for confirmation");
  cmd->add_flag("--force", flags.options.force,
                "restore onto another terminal type (classic: model code) than the backup's");
  cmd->add_flag("--no-verify", flags.no_verify, "do not read each part back and compare");
}

void AddGraphicBackup(CLI::App &app, Connection &connection, Dispatch &dispatch) {
  auto options = std::make_shared<BackupOptions>();
  auto *cmd = AddGraphicCommand(app, "backup",
                                "save every group of the grouped area, with its number, and the "
                                "terminal's information to one checked file");
  cmd->add_option("file", options->file,
                  "file to write ('-': stdout); replaced only once the whole backup is read "
                  "and written")
      ->required();
  cmd->add_flag("--raw", options->raw,
                "write the groups' bytes one after the other, as older versions did (no "
                "numbers, no manifest: restore cannot read it)");
  cmd->add_option("--areas", options->areas, "plain areas to add, e.g. 3,4 (3-6, 240-242)")
      ->type_name("LIST");
  AddNumber(cmd, "--max-size", options->capacity,
            "largest grouped data accepted, bytes (default 16 MiB)", 1, 0x7FFFFFFF);
  SetAction(cmd, dispatch, [&connection, options]() -> int {
    std::vector<uint8_t> areas = ParseAreas(options->areas);
    if (options->raw && !areas.empty()) {
      throw UsageError("--areas needs the backup file format; --raw keeps the groups' bytes only");
    }
    // A folder that cannot take the file is found before minutes of reading, not after.
    CheckOutputPath(options->file);
    if (options->raw) return RawBackup(connection, options->file, options->capacity);
    auto session = Session::Graphic(connection);
    StepProgress progress(session.progress());
    const backup::Origin origin =
        backup::MakeOrigin(ToolName(), connection.port, connection.baud, connection.model);
    backup::Backup made;
    try {
      made = backup::ReadGraphicTerminal(session.channel(), origin, areas, options->capacity,
                                         progress.Steps("backup"));
    } catch (const Error &error) {
      if (error.code() != RC_BUFFER_TOO_SMALL) throw;
      throw ToolError(DescribeFailure(error) + " (more than " + ByteCount(options->capacity) +
                      ": raise --max-size)");
    } catch (const backup::FormatError &error) {
      throw ToolError(std::string("the terminal's data cannot be saved: ") + error.what());
    }
    SaveBackup(options->file, made);
    OutputOptions to{options->file, "raw"};
    Report(&to, "backup: " + Summary(made) + " saved to " + options->file);
    return kExitOk;
  });
}

void AddGraphicRestore(CLI::App &app, Connection &connection, Dispatch &dispatch) {
  auto flags = std::make_shared<RestoreFlags>();
  auto *cmd = AddGraphicCommand(app, "restore",
                                "put a backup back: each group under its number, the plain "
                                "areas 3-6, each read back and compared");
  AddRestoreFlags(cmd, *flags);
  cmd->add_flag("--clean", flags->options.clean,
                "delete the user data first, so that groups missing from the backup go away");
  cmd->add_flag("--groups-only", flags->options.groups_only, "leave the plain areas alone");
  cmd->add_flag("--no-start", flags->no_start, "do not send start at the end");
  SetAction(cmd, dispatch, [&connection, flags]() -> int {
    const backup::Backup loaded = LoadBackup(flags->file, true);
    if (loaded.family != backup::Family::kGraphic) {
      throw UsageError(flags->file + " is a classic panel's backup: use `classic restore`");
    }
    std::string question = "Restore " + Summary(loaded) + " onto the terminal at " +
                           connection.port +
                           (flags->options.clean ? ", deleting its user data first?" : "?");
    if (!flags->yes && !Confirm(question)) {
      Report(nullptr, "restore: cancelled, nothing was sent");
      return kExitFailed;
    }
    auto session = Session::Graphic(connection);
    StepProgress progress(session.progress());
    return RunRestore("restore", [&] {
      backup::RestoreGraphicTerminal(session.channel(), loaded, flags->Options(),
                                     progress.Steps("restore"));
    });
  });
}

void AddInspect(CLI::App &app, Dispatch &dispatch) {
  auto file = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  auto *cmd = app.add_subcommand("inspect",
                                 "check a backup file and show its manifest (no terminal needed)");
  cmd->add_option("file", *file, "the backup file")->required();
  cmd->add_flag("--json", *json, "print the manifest as JSON");
  SetAction(cmd, dispatch, [file, json] {
    const backup::Backup loaded = LoadBackup(*file, false);
    std::fputs((*json ? backup::ManifestText(loaded) : DescribeBackup(loaded)).c_str(), stdout);
    return kExitOk;
  });
}

// "0x100:64,512:32"
std::vector<backup::RangeRequest> ParseRanges(const std::string &text, uint16_t area) {
  std::vector<backup::RangeRequest> ranges;
  std::stringstream list(text);
  for (std::string word; std::getline(list, word, ',');) {
    const size_t colon = word.find(':');
    auto address = ParseNumber(word.substr(0, colon));
    auto count = colon == std::string::npos ? std::nullopt : ParseNumber(word.substr(colon + 1));
    if (!address || !count || *address < 0 || *address > 0x7FFFFFFF || *count < 1 ||
        *count > 0xFFFF) {
      throw UsageError("--range: '" + word + "' is not ADDRESS:COUNT (count 1-65535)");
    }
    ranges.push_back({area, static_cast<int32_t>(*address), static_cast<uint16_t>(*count)});
  }
  if (ranges.empty()) throw UsageError("--range: no range given");
  return ranges;
}

void AddClassicBackup(CLI::App &classic, Connection &connection, Dispatch &dispatch) {
  auto file = std::make_shared<std::string>();
  auto ranges = std::make_shared<std::string>();
  auto area = std::make_shared<long long>(0);
  auto *cmd = classic.add_subcommand("backup", "save ranges of panel memory to one checked file");
  cmd->fallthrough();
  cmd->add_option("file", *file, "file to write ('-': stdout)")->required();
  cmd->add_option("--range", *ranges, "ADDRESS:COUNT[,ADDRESS:COUNT...]")->required();
  AddRawNumber(cmd, "-a,--area", *area, "memory area 0-3 of every range (model 3: none)");
  SetAction(cmd, dispatch, [&connection, file, ranges, area] {
    if (*area < 0 || *area > 3) {
      throw UsageError("area " + std::to_string(*area) + ": classic areas are 0-3");
    }
    const auto wanted = ParseRanges(*ranges, static_cast<uint16_t>(*area));
    // The model code's rules hold before the port is opened.
    std::vector<backup::Range> sized;
    for (const auto &r : wanted) sized.push_back({r.area, r.address, backup::Bytes(r.count)});
    try {
      backup::CheckRanges(connection.model, sized);
    } catch (const backup::FormatError &error) {
      throw UsageError(error.what());
    }
    CheckOutputPath(*file);
    auto session = Session::Classic(connection);
    StepProgress progress(session.progress());
    const backup::Backup made = backup::ReadClassicPanel(
        session.channel(), backup::MakeOrigin(ToolName(), connection.port, 9600, connection.model),
        wanted, progress.Steps("classic backup"));
    SaveBackup(*file, made);
    OutputOptions to{*file, "raw"};
    Report(&to, "classic backup: " + Summary(made) + " saved to " + *file);
    return kExitOk;
  });
}

void AddClassicRestore(CLI::App &classic, Connection &connection, Dispatch &dispatch) {
  auto flags = std::make_shared<RestoreFlags>();
  auto *cmd = classic.add_subcommand("restore", "write a classic backup's ranges back");
  cmd->fallthrough();
  AddRestoreFlags(cmd, *flags);
  SetAction(cmd, dispatch, [&connection, flags]() -> int {
    const backup::Backup loaded = LoadBackup(flags->file, true);
    if (loaded.family != backup::Family::kClassic) {
      throw UsageError(flags->file + " is a graphic terminal's backup: use `restore`");
    }
    if (!flags->yes &&
        !Confirm("Write " + Summary(loaded) + " to the panel at " + connection.port + "?")) {
      Report(nullptr, "classic restore: cancelled, nothing was sent");
      return kExitFailed;
    }
    auto session = Session::Classic(connection);
    StepProgress progress(session.progress());
    return RunRestore("classic restore", [&] {
      backup::RestoreClassicPanel(session.channel(), connection.model, loaded, flags->Options(),
                                  progress.Steps("classic restore"));
    });
  });
}

}  // namespace

void AddBackupCommands(CLI::App &app, Connection &connection, Dispatch &dispatch) {
  AddGraphicBackup(app, connection, dispatch);
  AddGraphicRestore(app, connection, dispatch);
  AddInspect(app, dispatch);
  CLI::App *classic = app.get_subcommand("classic");
  AddClassicBackup(*classic, connection, dispatch);
  AddClassicRestore(*classic, connection, dispatch);
}

}  // namespace quiblink::cli
