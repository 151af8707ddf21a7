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
  long long area = 0;
  uint32_t capacity = kDefaultCapacity;
  OutputOptions output;
};

void AddCapacity(CLI::App *command, ReadOptions &options) {
  AddNumber(command, "--max-size", options.capacity,
            "largest transfer accepted, bytes (default 16 MiB); memory is taken only for what "
            "arrives",
            1, kMaxGraphicRead);
}

// Runs one block read with a progress bar and hands back the bytes.
template <class Read>
Bytes ReadBlocks(const Session &session, const std::string &label, uint32_t capacity, Read read) {
  ReadBuffer buffer(capacity);
  ProgressBar bar(label, 0, session.progress());
  size_t total = 0;
  try {
    total = read(buffer.span(), bar.Callback());
  } catch (const Error &error) {
    if (error.code() != RC_BUFFER_TOO_SMALL) throw;
    throw ToolError(DescribeFailure(error) + " (more than " + ByteCount(capacity) +
                    ": raise --max-size)");
  }
  bar.Finish();
  return buffer.Take(total);
}

std::string Describe(const std::string &command, size_t bytes, const std::string &what) {
  return command + ": " + ByteCount(bytes) + " " + what;
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
  auto group = std::make_shared<ReadOptions>();
  auto *cmd = AddGraphicCommand(app, "read-group", "read one group of the grouped area (area 1)");
  AddNumber(cmd, "group", group->group, "group number, 1-65535", 1, 0xFFFF)->required();
  AddOutputOptions(cmd, group->output);
  AddCapacity(cmd, *group);
  SetAction(cmd, dispatch, [&connection, group] {
    CheckOutputPath(group->output.file.empty() ? "-" : group->output.file);
    auto session = Session::Graphic(connection);
    Bytes data = ReadBlocks(session, "read-group", group->capacity, [&](auto out, auto progress) {
      return session.channel().read_group(group->group, out, progress);
    });
    // The terminal answers a group it does not have with no data at all.
    if (data.empty()) {
      throw ToolError("group " + std::to_string(group->group) +
                      ": the terminal has no such group (it sent no data)");
    }
    EmitData(group->output, data, 0);
    Report(&group->output,
           Describe("read-group", data.size(), "read from group " + std::to_string(group->group)));
    return kExitOk;
  });

  auto area = std::make_shared<ReadOptions>();
  cmd = AddGraphicCommand(app, "read-area", "read a plain area (3-6, 240-242)");
  AddRawNumber(cmd, "area", area->area, "area number: 3-6 or 240-242")->required();
  AddOutputOptions(cmd, area->output);
  AddCapacity(cmd, *area);
  SetAction(cmd, dispatch, [&connection, area] {
    CheckReadArea(area->area);
    CheckOutputPath(area->output.file.empty() ? "-" : area->output.file);
    auto session = Session::Graphic(connection);
    Bytes data = ReadBlocks(session, "read-area", area->capacity, [&](auto out, auto progress) {
      return session.channel().read_area(static_cast<uint8_t>(area->area), out, progress);
    });
    EmitData(area->output, data, 0);
    Report(&area->output,
           Describe("read-area", data.size(), "read from area " + std::to_string(area->area)));
    return kExitOk;
  });
}

struct WriteOptions {
  long long area = 1;
  uint16_t group = 1;
  bool verify = false;
  InputOptions input;
  std::string part = "a";
  long long option = 0;
};

void AddWrites(CLI::App &app, Connection &connection, Dispatch &dispatch) {
  auto write = std::make_shared<WriteOptions>();
  auto *cmd = AddGraphicCommand(app, "write-area", "write bytes to an area (1, 3-6)");
  AddRawNumber(cmd, "area", write->area, "area number: 1 (grouped) or 3-6")->required();
  AddInputOptions(cmd, write->input);
  AddNumber(cmd, "-g,--group", write->group, "group number, with area 1 (default 1)");
  SetAction(cmd, dispatch, [&connection, write] {
    CheckWriteArea(write->area);
    Bytes data = GatherInput(write->input, kMaxGraphicWrite);
    auto area = static_cast<uint8_t>(write->area);
    auto session = Session::Graphic(connection);
    WriteBlocks(session, "write-area", area, write->group, data);
    Report(nullptr,
           Describe("write-area", data.size(), "written to " + AreaName(area, write->group)));
    return kExitOk;
  });

  auto upload = std::make_shared<WriteOptions>();
  cmd = AddGraphicCommand(app, "upload", "upload a project image file to area 1 (or a plain area)");
  cmd->add_option("file", upload->input.file, "the project image (a regular file)")->required();
  AddRawNumber(cmd, "-a,--area", upload->area, "area: 1 (grouped, default) or 3-6");
  AddNumber(cmd, "-g,--group", upload->group, "group number with area 1 (default 1)");
  cmd->add_flag("--verify", upload->verify, "read the data back and compare");
  SetAction(cmd, dispatch, [&connection, upload] {
    CheckWriteArea(upload->area);
    // Read back with room to spare, so that a terminal that kept more is caught too.
    const uint64_t spare = 64 * 1024;
    Bytes data =
        GatherInput(upload->input, upload->verify ? kMaxGraphicRead - spare : kMaxGraphicWrite);
    auto area = static_cast<uint8_t>(upload->area);
    auto session = Session::Graphic(connection);
    WriteBlocks(session, "upload", area, upload->group, data);
    std::string where = AreaName(area, upload->group);
    if (upload->verify) {
      uint32_t capacity = static_cast<uint32_t>(data.size() + spare);
      Bytes back = ReadBlocks(session, "verify", capacity, [&](auto out, auto progress) {
        const Channel &channel = session.channel();
        return area == 1 ? channel.read_group(upload->group, out, progress)
                         : channel.read_area(area, out, progress);
      });
      if (back != data) {
        auto first = std::mismatch(back.begin(), back.end(), data.begin(), data.end());
        throw ToolError("upload: verify failed: " + where + " holds " + ByteCount(back.size()) +
                        ", first difference at offset " +
                        std::to_string(first.first - back.begin()));
      }
      where += ", verified";
    }
    Report(nullptr, Describe("upload", data.size(), "uploaded to " + where));
    return kExitOk;
  });

  auto os = std::make_shared<WriteOptions>();
  cmd = AddGraphicCommand(app, "os-install", "install operating-system data on the terminal");
  cmd->add_option("file", os->input.file, "the operating-system data")->required();
  cmd->add_option("--part", os->part, "which part the data is: a or b")
      ->capture_default_str()
      ->check(CLI::IsMember({"a", "b"}));
  AddRawNumber(cmd, "--option", os->option, "option byte: 0x00 or 0x80 (default 0x00)");
  SetAction(cmd, dispatch, [&connection, os] {
    if (os->option != 0x00 && os->option != 0x80) {
      throw UsageError("option byte " + HexCode(os->option) + ": use 0x00 or 0x80");
    }
    Bytes data = GatherInput(os->input, kMaxGraphicWrite);
    auto session = Session::Graphic(connection);
    ProgressBar bar("os-install", data.size(), session.progress());
    session.channel().install_os(static_cast<uint8_t>(os->part[0]),
                                 static_cast<uint8_t>(os->option), data, bar.Callback());
    bar.Finish();
    Report(nullptr, Describe("os-install", data.size(), "of part " + os->part + " installed"));
    return kExitOk;
  });
}

}  // namespace

int RawBackup(const Connection &connection, const std::string &file, uint32_t capacity) {
  auto session = Session::Graphic(connection);
  Bytes data = ReadBlocks(session, "backup", capacity, [&](auto out, auto progress) {
    return session.channel().read_all(out, progress);
  });
  WriteOutput(file, data);
  OutputOptions to{file, "raw"};
  Report(&to, Describe("backup", data.size(), "of the grouped area saved to " + file));
  return kExitOk;
}

void AddTransferCommands(CLI::App &app, Connection &connection, Dispatch &dispatch) {
  AddReads(app, connection, dispatch);
  AddWrites(app, connection, dispatch);
}

}  // namespace quiblink::cli
