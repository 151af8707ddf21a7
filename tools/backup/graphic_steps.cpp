// A graphic terminal read into a Backup and put back.
#include <cstdio>
#include <ctime>
#include <memory>
#include <set>

#include "terminal_steps.h"
#include "wire/hex.h"

namespace quiblink::backup {
namespace {

// Groups of the table: one per group number, and room for a terminal that sends a group twice.
constexpr uint32_t kGroupTable = 0x10000;
// A read-back gets room beyond what was written, so that a terminal that kept more shows.
constexpr size_t kReadBackSpare = 64 * 1024;

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

Progress Relay(const Steps &steps, const std::string &label) {
  if (!steps.progress) return {};
  return [&steps, label](uint32_t done, uint32_t total) { steps.progress(label, done, total); };
}

Bytes ReadBack(size_t size, const std::function<size_t(std::span<uint8_t>)> &read) {
  Bytes back(size + kReadBackSpare);
  back.resize(read(back));
  return back;
}

// What was and what was not written, for a restore that stops.
struct Written {
  std::vector<std::string> done;
  std::vector<std::string> left;

  static std::string Join(const std::vector<std::string> &parts) {
    std::string text;
    for (const std::string &part : parts) text += (text.empty() ? "" : ", ") + part;
    return text.empty() ? "none" : text;
  }
  [[noreturn]] void Stop(const std::string &at, const Error &error) const {
    throw RestoreFailed("restore stopped at " + at + ": " + error.what() +
                            "; written: " + Join(done) + "; not written: " + Join(left),
                        error);
  }
};

void CheckType(const Channel &channel, const Backup &backup, bool force, const Steps &steps) {
  const uint32_t type = channel.terminal_type();
  const uint32_t want = backup.terminal.type;
  if (type == want) {
    steps.Log("terminal type " + Hex(type) + ", as in the backup");
    return;
  }
  const std::string what = "the backup is of terminal type " + std::to_string(want) + " (" +
                           Hex(want) + "), this terminal is type " + std::to_string(type) + " (" +
                           Hex(type) + ")";
  if (!force) throw WrongTerminal(what + ": refused, nothing was written (--force restores it)");
  steps.Log(what + ": restoring anyway (forced)");
}

void WriteParts(const Channel &channel, const Backup &backup, const RestoreOptions &options,
                const Steps &steps, Written &written) {
  std::vector<const Area *> areas;
  for (const Area &area : backup.areas) {
    if (Restorable(area) && !options.groups_only && !area.data.empty()) areas.push_back(&area);
  }
  for (const Group &group : backup.groups) {
    written.left.push_back("group " + std::to_string(group.number));
  }
  for (const Area *area : areas) written.left.push_back("area " + std::to_string(area->number));
  for (const Group &group : backup.groups) {
    const std::string name = "group " + std::to_string(group.number);
    try {
      channel.write_area(1, group.number, group.data, Relay(steps, name));
    } catch (const Error &error) {
      written.Stop(name, error);
    }
    written.done.push_back(name);
    written.left.erase(written.left.begin());
    steps.Log(name + ": " + std::to_string(group.data.size()) + " bytes written");
  }
  for (const Area *area : areas) {
    const std::string name = "area " + std::to_string(area->number);
    try {
      channel.write_area(area->number, 0, area->data, Relay(steps, name));
    } catch (const Error &error) {
      written.Stop(name, error);
    }
    written.done.push_back(name);
    written.left.erase(written.left.begin());
    steps.Log(name + ": " + std::to_string(area->data.size()) + " bytes written");
  }
  for (const Area &area : backup.areas) {
    const std::string name = "area " + std::to_string(area.number);
    if (!Restorable(area))
      steps.Log(name + ": kept for reference only, not written");
    else if (options.groups_only)
      steps.Log(name + ": left as it is (--groups-only)");
    else if (area.data.empty())
      steps.Log(name + ": empty in the backup, nothing to write");
  }
}

void Verify(const Channel &channel, const Backup &backup, const RestoreOptions &options,
            const Steps &steps) {
  for (const Group &group : backup.groups) {
    const std::string name = "group " + std::to_string(group.number);
    const Bytes back = ReadBack(group.data.size(), [&](std::span<uint8_t> out) {
      return channel.read_group(group.number, out, Relay(steps, "verify " + name));
    });
    if (Sha256Hex(back) != Sha256Hex(group.data)) {
      throw RestoreFailed(name + " reads back " + std::to_string(back.size()) +
                              " bytes that differ from the backup: every part was written, "
                              "but the terminal does not hold them as they were",
                          std::nullopt);
    }
  }
  for (const Area &area : backup.areas) {
    if (!Restorable(area) || options.groups_only || area.data.empty()) continue;
    const Bytes back = ReadBack(area.data.size(), [&](std::span<uint8_t> out) {
      return channel.read_area(area.number, out, {});
    });
    if (Sha256Hex(back) != Sha256Hex(area.data)) {
      throw RestoreFailed(
          "area " + std::to_string(area.number) + " reads back other bytes than the backup holds",
          std::nullopt);
    }
  }
  steps.Log("read back: every part written matches its SHA-256");
}

void CompareProject(const Channel &channel, const Backup &backup, const Steps &steps) {
  const ProjectInfo now = channel.project_info();
  const TerminalInfo &was = backup.terminal;
  if (now.name == was.project_name) {
    steps.Log("project name " + wire::Quoted(now.name) + ", as in the backup");
  } else {
    steps.Log("project name: the terminal reports " + wire::Quoted(now.name) + ", the backup has " +
              wire::Quoted(was.project_name) +
              " (this terminal keeps its name apart from the project data, which a restore "
              "cannot write)");
  }
  if (now.value1 != was.project_value1 || now.value2 != was.project_value2) {
    steps.Log("project values: the terminal reports " + std::to_string(now.value1) + ", " +
              std::to_string(now.value2) + ", the backup has " +
              std::to_string(was.project_value1) + ", " + std::to_string(was.project_value2));
  }
}

}  // namespace

TerminalInfo QueryTerminal(const Channel &channel) {
  TerminalInfo info;
  info.type = channel.terminal_type();
  const OsInfo os = channel.os_info();
  info.os_entry_00 = os.first;
  info.os_entry_80 = os.second;
  const MemData memory = channel.mem_data();
  info.memory[0] = memory.value1;
  info.memory[1] = memory.value2;
  info.memory[2] = memory.value3;
  const ProjectInfo project = channel.project_info();
  info.project_value1 = project.value1;
  info.project_value2 = project.value2;
  info.project_name = project.name;
  return info;
}

Origin MakeOrigin(const std::string &tool, const std::string &port, uint32_t baud, uint16_t model) {
  Origin origin;
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &parts);
  origin.created = stamp;
  origin.tool = tool;
  const int version = quiblink::version();
  origin.library_version = std::to_string(version / 100) + "." + std::to_string(version / 10 % 10) +
                           "." + std::to_string(version % 10);
  origin.port = port;
  origin.baud = baud;
  origin.model = model;
  return origin;
}

Backup ReadGraphicTerminal(const Channel &channel, const Origin &origin,
                           const std::vector<uint8_t> &areas, uint32_t capacity,
                           const Steps &steps) {
  Backup backup;
  backup.family = Family::kGraphic;
  backup.origin = origin;
  backup.terminal = QueryTerminal(channel);
  steps.Log("terminal type " + Hex(backup.terminal.type) + ", project " +
            wire::Quoted(backup.terminal.project_name));
  // Pages of the buffer are taken only as data arrives.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[capacity]);
  const uint32_t expected =
      backup.terminal.project_value1 <= capacity ? backup.terminal.project_value1 : 0;
  const GroupedRead read = channel.read_all_groups(std::span(buffer.get(), capacity),
                                                   Relay(steps, "groups"), expected, kGroupTable);
  for (const QUIB_GroupEntry &entry : read.groups) {
    const uint8_t *from = buffer.get() + entry.offset;
    backup.groups.push_back({static_cast<uint16_t>(entry.group), Bytes(from, from + entry.length)});
  }
  steps.Log(std::to_string(read.groups.size()) + " groups, " + std::to_string(read.total) +
            " bytes");
  for (uint8_t number : areas) {
    const size_t total = channel.read_area(number, std::span(buffer.get(), capacity),
                                           Relay(steps, "area " + std::to_string(number)));
    backup.areas.push_back({number, Bytes(buffer.get(), buffer.get() + total)});
    steps.Log("area " + std::to_string(number) + ": " + std::to_string(total) + " bytes");
  }
  CheckBackup(backup);
  return backup;
}

void RestoreGraphicTerminal(const Channel &channel, const Backup &backup,
                            const RestoreOptions &options, const Steps &steps) {
  if (backup.family != Family::kGraphic) {
    throw WrongTerminal("the backup is of a classic panel: restore it with `classic restore`");
  }
  CheckBackup(backup);
  CheckType(channel, backup, options.force, steps);
  channel.offline();
  steps.Log("offline");
  if (options.clean) {
    channel.delete_user_data();
    steps.Log("user data deleted");
  }
  Written written;
  WriteParts(channel, backup, options, steps, written);
  if (options.verify) Verify(channel, backup, options, steps);
  CompareProject(channel, backup, steps);
  if (options.start) {
    channel.start();
    steps.Log("start sent");
  }
}

}  // namespace quiblink::backup
