// Graphic terminal block transfers: backup, reads, writes, project upload, OS installation.
#include <algorithm>
#include <string>

#include "command_support.h"
#include "failure.h"
#include "progress.h"

namespace quiblink::cli {
namespace {

constexpr uint32_t kDefaultCapacity = 16 * 1024 * 1024;

struct ReadOptions {
  uint16_t group = 0;
  uint8_t area = 0;
  uint32_t capacity = kDefaultCapacity;
  OutputOptions output;
};

void AddCapacity(CLI::App *command, ReadOptions &options) {
  AddNumber(command, "--max-size", options.capacity,
            "largest transfer accepted, bytes (default 16 MiB)", 1, 0x7FFFFFFF);
}

// Runs one block read with a progress bar and hands back the bytes.
template <class Read>
Bytes ReadBlocks(const Session &session, const std::string &label, uint32_t capacity, Read read) {
  Bytes buffer(capacity);
  ProgressBar bar(label, 0, session.progress());
  size_t total = 0;
  try {
    total = read(std::span(buffer), bar.Callback());
  } catch (const Error &error) {
    if (error.code() != RC_BUFFER_TOO_SMALL) throw;
    throw ToolError(DescribeFailure(error) + " (more than " + std::to_string(capacity) +
                    " bytes: raise --max-size)");
  }
  bar.Finish();
  buffer.resize(total);
  return buffer;
}

std::string Describe(const std::string &command, size_t bytes, const std::string &what) {
  return command + ": " + std::to_string(bytes) + " bytes " + what;
}

void WriteBlocks(const Session &session, const std::string &label, uint8_t area, uint16_t group,
                 const Bytes &data) {
  ProgressBar bar(label, data.size(), session.progress());
  session.channel().write_area(area, group, data, bar.Callback());
  bar.Finish();
}

std::string AreaName(uint8_t area, uint16_t group) {
  return area == 1 ? "area 1 group " + std::to_string(group) : "area " + std::to_string(area);
}

void AddReads(CLI::App &app, Connection &connection, Dispatch &dispatch) {
  auto backup_file = std::make_shared<std::string>();
  auto backup = std::make_shared<ReadOptions>();
  auto *cmd = app.add_subcommand("backup", "read every group of the grouped area into a file")
                  ->group("Graphic terminal");
  cmd->add_option("file", *backup_file, "file to write ('-': stdout)")->required();
  AddCapacity(cmd, *backup);
  SetAction(cmd, dispatch, [&connection, backup_file, backup] {
    auto session = Session::Graphic(connection);
    Bytes data = ReadBlocks(session, "backup", backup->capacity, [&](auto out, auto progress) {
      return session.channel().read_all(out, progress);
    });
    WriteOutput(*backup_file, data);
    OutputOptions to{*backup_file, "raw"};
    Report(&to, Describe("backup", data.size(), "of the grouped area saved to " + *backup_file));
    return kExitOk;
  });

  auto group = std::make_shared<ReadOptions>();
  cmd = app.add_subcommand("read-group", "read one group of the grouped area (area 1)")
            ->group("Graphic terminal");
  AddNumber(cmd, "group", group->group, "group number")->required();
  AddOutputOptions(cmd, group->output);
  AddCapacity(cmd, *group);
  SetAction(cmd, dispatch, [&connection, group] {
    auto session = Session::Graphic(connection);
    Bytes data = ReadBlocks(session, "read-group", group->capacity, [&](auto out, auto progress) {
      return session.channel().read_group(group->group, out, progress);
    });
    EmitData(group->output, data, 0);
    Report(&group->output,
           Describe("read-group", data.size(), "read from group " + std::to_string(group->group)));
    return kExitOk;
  });

  auto area = std::make_shared<ReadOptions>();
  cmd = app.add_subcommand("read-area", "read a plain area (3, 4, 5, 6, 240, 241, 242)")
            ->group("Graphic terminal");
  AddNumber(cmd, "area", area->area, "area number")->required();
  AddOutputOptions(cmd, area->output);
  AddCapacity(cmd, *area);
  SetAction(cmd, dispatch, [&connection, area] {
    auto session = Session::Graphic(connection);
    Bytes data = ReadBlocks(session, "read-area", area->capacity, [&](auto out, auto progress) {
      return session.channel().read_area(area->area, out, progress);
    });
    EmitData(area->output, data, 0);
    Report(&area->output,
           Describe("read-area", data.size(), "read from area " + std::to_string(area->area)));
    return kExitOk;
  });
}

struct WriteOptions {
  uint8_t area = 1;
  uint16_t group = 1;
  bool verify = false;
  InputOptions input;
  std::string part = "a";
  uint8_t option = 0;
};

void AddWrites(CLI::App &app, Connection &connection, Dispatch &dispatch) {
  auto write = std::make_shared<WriteOptions>();
  auto *cmd = app.add_subcommand("write-area", "write bytes to an area (1, 3, 4, 5, 6)")
                  ->group("Graphic terminal");
  AddNumber(cmd, "area", write->area, "area number")->required();
  AddInputOptions(cmd, write->input);
  AddNumber(cmd, "-g,--group", write->group, "group number, with area 1 (default 1)");
  SetAction(cmd, dispatch, [&connection, write] {
    Bytes data = GatherInput(write->input);
    auto session = Session::Graphic(connection);
    WriteBlocks(session, "write-area", write->area, write->group, data);
    Report(nullptr, Describe("write-area", data.size(),
                             "written to " + AreaName(write->area, write->group)));
    return kExitOk;
  });

  auto upload = std::make_shared<WriteOptions>();
  cmd = app.add_subcommand("upload", "upload a project image file to area 1 (or a plain area)")
            ->group("Graphic terminal");
  cmd->add_option("file", upload->input.file, "the project image")->required();
  AddNumber(cmd, "-a,--area", upload->area, "area: 1 (grouped, default) or 3..6");
  AddNumber(cmd, "-g,--group", upload->group, "group number with area 1 (default 1)");
  cmd->add_flag("--verify", upload->verify, "read the data back and compare");
  SetAction(cmd, dispatch, [&connection, upload] {
    Bytes data = GatherInput(upload->input);
    auto session = Session::Graphic(connection);
    WriteBlocks(session, "upload", upload->area, upload->group, data);
    std::string where = AreaName(upload->area, upload->group);
    if (upload->verify) {
      // Read back with room to spare, so that a terminal that kept more is caught too.
      uint32_t capacity = static_cast<uint32_t>(data.size()) + 64 * 1024;
      Bytes back = ReadBlocks(session, "verify", capacity, [&](auto out, auto progress) {
        const Channel &channel = session.channel();
        return upload->area == 1 ? channel.read_group(upload->group, out, progress)
                                 : channel.read_area(upload->area, out, progress);
      });
      if (back != data) {
        auto first = std::mismatch(back.begin(), back.end(), data.begin(), data.end());
        throw ToolError("upload: verify failed: " + where + " holds " +
                        std::to_string(back.size()) + " bytes, first difference at offset " +
                        std::to_string(first.first - back.begin()));
      }
      where += ", verified";
    }
    Report(nullptr, Describe("upload", data.size(), "uploaded to " + where));
    return kExitOk;
  });

  auto os = std::make_shared<WriteOptions>();
  cmd = app.add_subcommand("os-install", "install operating-system data on the terminal")
            ->group("Graphic terminal");
  cmd->add_option("file", os->input.file, "the operating-system data")->required();
  cmd->add_option("--part", os->part, "which part the data is: a or b")
      ->capture_default_str()
      ->check(CLI::IsMember({"a", "b"}));
  AddNumber(cmd, "--option", os->option, "option byte: 0x00 or 0x80 (default 0x00)");
  SetAction(cmd, dispatch, [&connection, os] {
    Bytes data = GatherInput(os->input);
    auto session = Session::Graphic(connection);
    ProgressBar bar("os-install", data.size(), session.progress());
    session.channel().install_os(static_cast<uint8_t>(os->part[0]), os->option, data,
                                 bar.Callback());
    bar.Finish();
    Report(nullptr, Describe("os-install", data.size(), "of part " + os->part + " installed"));
    return kExitOk;
  });
}

}  // namespace

void AddTransferCommands(CLI::App &app, Connection &connection, Dispatch &dispatch) {
  AddReads(app, connection, dispatch);
  AddWrites(app, connection, dispatch);
}

}  // namespace quiblink::cli
