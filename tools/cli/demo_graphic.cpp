// The graphic terminal part of the demo.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "backup/terminal_steps.h"
#include "connection.h"
#include "demo.h"
#include "progress.h"
#include "sim_launcher.h"

namespace quiblink::cli {
namespace {

constexpr uint8_t kType = 0x2A;
constexpr const char *kProjectName = "QUIBLINK DEMO";
constexpr const char *kPassword = "demo-1234";
constexpr uint32_t kOsSize = 2048;

struct Group {
  uint16_t number;
  Bytes data;
};

// A project image of three groups, the same every run: a header, then a pseudo-random body.
std::vector<Group> MakeProject(uint32_t size) {
  Bytes image(size);
  // The first line is the project's name: the simulator runs as a terminal whose name travels
  // inside the project data (group 1), so that a restore brings it back.
  std::string header = std::string(kProjectName) + "\nproject image\n";
  uint32_t state = 0x2545F491;
  for (uint32_t i = 0; i < size; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    image[i] = i < header.size() ? static_cast<uint8_t>(header[i]) : static_cast<uint8_t>(state);
  }
  // Uneven parts, so that groups end in the middle of a 1024-byte block.
  uint32_t first = size * 2 / 5 + 7;
  uint32_t second = size * 9 / 20 + 3;
  auto part = [&](uint32_t from, uint32_t to) {
    return Bytes(image.begin() + from, image.begin() + to);
  };
  return {{1, part(0, first)}, {2, part(first, first + second)}, {7, part(first + second, size)}};
}

std::string Seconds(std::chrono::steady_clock::time_point since) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count());
  return text;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

std::string Describe(const std::vector<backup::Group> &groups) {
  std::string text;
  for (const backup::Group &g : groups) {
    text += (text.empty() ? "" : ", ") + std::to_string(g.number) + " (" +
            std::to_string(g.data.size()) + " bytes)";
  }
  return "groups " + text;
}

// Every group the same number, length and bytes, in the same order.
void ExpectGroups(const std::vector<backup::Group> &got, const std::vector<backup::Group> &want) {
  Expect(got.size() == want.size(), Describe(got) + ", expected " + Describe(want));
  for (size_t i = 0; i < got.size(); ++i) {
    const std::string name = "group " + std::to_string(want[i].number);
    Expect(got[i].number == want[i].number,
           "group " + std::to_string(got[i].number) + " where " + name + " belongs");
    ExpectSame(got[i].data, want[i].data);
  }
}

void ExpectProject(const backup::TerminalInfo &got, const backup::TerminalInfo &want) {
  Expect(got.project_name == want.project_name && got.project_value1 == want.project_value1 &&
             got.project_value2 == want.project_value2,
         "project \"" + got.project_name + "\", " + std::to_string(got.project_value1) + ", " +
             std::to_string(got.project_value2) + "; expected \"" + want.project_name + "\", " +
             std::to_string(want.project_value1) + ", " + std::to_string(want.project_value2));
}

// The backup file in a scratch folder of its own, removed with the object.
struct ScratchFile {
  ScratchFile() {
    char folder[] = "/tmp/quiblink-demo-XXXXXX";
    if (mkdtemp(folder) == nullptr) throw CheckFailed("cannot make a scratch folder");
    dir = folder;
    path = dir + "/terminal.qbk";
  }
  ~ScratchFile() {
    std::remove(path.c_str());
    rmdir(dir.c_str());
  }
  std::string dir, path;
};

// Backs the terminal up to a file, deletes its user data, restores the file and reads the
// terminal again: every group and the project information must be as the first read found them.
void RoundTrip(const DemoSettings &settings, const Channel &channel,
               const std::vector<Group> &project, DemoReport &report) {
  ScratchFile file;
  backup::Backup first;
  report.Step("back up the terminal to a file", [&] {
    auto start = std::chrono::steady_clock::now();
    backup::Steps steps;
    ProgressBar bar("  backup", 0, settings.progress);
    steps.progress = [&](const std::string &, uint64_t done, uint64_t total) {
      bar.Update(done, total);
    };
    first = backup::ReadGraphicTerminal(
        channel, backup::MakeOrigin("quiblink demo", "demo", settings.baud, 0), {240},
        16 * 1024 * 1024, steps);
    bar.Finish();
    backup::SaveArchive(first, file.path);
    return std::to_string(std::filesystem::file_size(file.path)) + " bytes, " + Seconds(start);
  });
  report.Step("the backup holds each group with its number", [&] {
    std::vector<backup::Group> uploaded;
    for (const Group &g : project) uploaded.push_back({g.number, g.data});
    ExpectGroups(first.groups, uploaded);
    return Describe(first.groups);
  });
  report.Step("delete the user data", [&] {
    channel.delete_user_data();
    ProjectInfo info = channel.project_info();
    Expect(info.value2 == 0, std::to_string(info.value2) + " groups left");
    return std::string("no group left");
  });
  report.Step("restore the backup file", [&] {
    auto start = std::chrono::steady_clock::now();
    const backup::Backup loaded = backup::LoadArchive(file.path);
    backup::RestoreOptions options;
    options.start = false;  // the session starts the terminal at its end
    backup::RestoreGraphicTerminal(channel, loaded, options, {});
    return "checked, written and read back, " + Seconds(start);
  });
  report.Step("the terminal is as the first read found it", [&] {
    const backup::Backup again = backup::ReadGraphicTerminal(
        channel, backup::MakeOrigin("quiblink demo", "demo", settings.baud, 0), {}, 16 << 20, {});
    ExpectGroups(again.groups, first.groups);
    ExpectProject(again.terminal, first.terminal);
    return Describe(again.groups) + ", project \"" + again.terminal.project_name + "\"";
  });
}

// The session's terminal and what it was sent, shared by the steps of the demo.
struct GraphicSession {
  GraphicSession(const DemoSettings &settings, DemoReport &report)
      : settings(settings), report(report), project(MakeProject(settings.project_size)) {
    for (const auto &group : project) {
      whole.insert(whole.end(), group.data.begin(), group.data.end());
    }
  }

  // Starts the simulator and opens a channel to it.
  void Connect() {
    report.Step("start the simulator", [&] {
      sim = std::make_unique<SimProcess>(
          settings.simulator,
          std::vector<std::string>{"--family", "graphic", "--baud", std::to_string(settings.baud),
                                   "--type", std::to_string(kType), "--project-name", kProjectName,
                                   "--password", kPassword, "--name-group", "1"});
      return "serving " + sim->path();
    });
    report.Step("open a channel", [&] {
      uint16_t port = ResolvePort(sim->path());
      channel = Channel::open_graphic(port, settings.baud, 0);
      return "COM" + std::to_string(port + 1) + " = " + sim->path() + ", handle " +
             std::to_string(channel->handle());
    });
  }

  // What the terminal says it is, and an operating-system install.
  void Identify() {
    report.Step("terminal type", [&] {
      uint32_t type = channel->terminal_type();
      Expect(type == kType, "type " + Hex(type) + ", the terminal was started as " + Hex(kType));
      return Hex(type) + ", as the terminal was started";
    });
    report.Step("project information", [&] {
      ProjectInfo info = channel->project_info();
      Expect(info.name == kProjectName, "name \"" + info.name + "\"");
      return "\"" + info.name + "\", values " + std::to_string(info.value1) + ", " +
             std::to_string(info.value2);
    });
    report.Step("switch offline", [&] {
      channel->offline();
      return std::string("accepted");
    });
    report.Step("install operating-system data", [&] {
      Bytes os(kOsSize);
      for (uint32_t i = 0; i < kOsSize; ++i) os[i] = static_cast<uint8_t>(i * 7 + 3);
      ProgressBar bar("  os-install", os.size(), settings.progress);
      channel->install_os('a', 0x00, os, bar.Callback());
      bar.Finish();
      return std::to_string(kOsSize) + " bytes, part a, option 0x00";
    });
    report.Step("operating-system information", [&] {
      OsInfo os = channel->os_info();
      // The simulator reports the size of each installed part.
      Expect(os.first == kOsSize && os.second == 0, "values " + std::to_string(os.first) + ", " +
                                                        std::to_string(os.second) + ", expected " +
                                                        std::to_string(kOsSize) + ", 0");
      return "0x00 entry " + std::to_string(os.first) + ", 0x80 entry " + std::to_string(os.second);
    });
  }

  // The project image, group by group, and what the terminal then holds.
  void Upload() {
    report.Step("upload a generated project image", [&] {
      auto start = std::chrono::steady_clock::now();
      ProgressBar bar("  upload", whole.size(), settings.progress);
      uint32_t offset = 0;
      for (const auto &group : project) {
        channel->write_area(1, group.number, group.data,
                            [&](uint32_t done, uint32_t) { bar.Update(offset + done, 0); });
        offset += static_cast<uint32_t>(group.data.size());
      }
      bar.Finish();
      return std::to_string(whole.size()) + " bytes in groups 1, 2 and 7, " + Seconds(start);
    });
    report.Step("the terminal holds each group", [&] {
      for (const auto &group : project) {
        std::string reply = sim->Control("group " + std::to_string(group.number));
        auto held = ParseHex(reply.rfind("ok ", 0) == 0 ? reply.substr(3) : "");
        Expect(held && *held == group.data,
               "group " + std::to_string(group.number) + ": " + reply.substr(0, 60));
      }
      return std::string("groups 1, 2 and 7 as sent");
    });
    report.Step("project and memory information after upload", [&] {
      ProjectInfo info = channel->project_info();
      MemData memory = channel->mem_data();
      // The simulator counts the grouped bytes and the groups.
      Expect(info.value1 == whole.size() && info.value2 == project.size(),
             "project values " + std::to_string(info.value1) + ", " + std::to_string(info.value2));
      return std::to_string(info.value1) + " bytes in " + std::to_string(info.value2) +
             " groups; memory " + std::to_string(memory.value1) + ", " +
             std::to_string(memory.value2) + ", " + std::to_string(memory.value3);
    });
  }

  // The password, then start and close.
  void Finish() {
    report.Step("a wrong password is refused", [&] {
      std::string wrong = "not-the-password";
      Error error = ExpectFailure(RC_TERMINAL_ERROR, [&] {
        channel->check_password(
            std::span(reinterpret_cast<const uint8_t *>(wrong.data()), wrong.size()));
      });
      Expect(error.terminal_status().value_or(0) != 0, "no terminal status with the refusal");
      return "-36 RC_TERMINAL_ERROR, terminal status " + std::to_string(*error.terminal_status());
    });
    report.Step("the right password is accepted", [&] {
      std::string right = kPassword;
      channel->check_password(
          std::span(reinterpret_cast<const uint8_t *>(right.data()), right.size()));
      return std::string("accepted");
    });
    report.Step("start the terminal again", [&] {
      channel->start();
      return std::string("start sent");
    });
    report.Step("close the channel", [&] {
      channel->close();
      return std::string("closed");
    });
  }

  const DemoSettings &settings;
  DemoReport &report;
  std::vector<Group> project;
  Bytes whole;  // the groups one after the other
  std::unique_ptr<SimProcess> sim;
  std::optional<Channel> channel;
};

}  // namespace

void RunGraphicDemo(const DemoSettings &settings, DemoReport &report) {
  report.Section("Graphic terminal (" + std::to_string(settings.baud) + " baud, 8E1)");
  GraphicSession session(settings, report);
  session.Connect();
  session.Identify();
  session.Upload();
  RoundTrip(settings, *session.channel, session.project, report);
  session.Finish();
}

}  // namespace quiblink::cli
