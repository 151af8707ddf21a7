#include "fleet_bench.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "network/ser2net_process.h"
#include "sim/sim_process.h"

namespace quibbench {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kBaud = 38400;

struct Timed {
  double wall_ms = 0;
  double cpu_ms = 0;  // the tool and every worker it waited for
  int status = -1;
};

// Runs quiblink with args, its output to /dev/null; its processor time from wait4, which holds
// its children's too once it has waited for them.
Timed RunTool(const std::vector<std::string> &args) {
  std::vector<std::string> words = {QUIBLINK_CLI_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
  }
  Timed timed;
  timed.wall_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  timed.cpu_ms = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
  timed.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return timed;
}

uint64_t FolderBytes(const std::string &folder) {
  uint64_t bytes = 0;
  for (const auto &entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) bytes += entry.file_size();
  }
  return bytes;
}

std::string Hex(const std::vector<uint8_t> &data) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t byte : data) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

}  // namespace

std::vector<Row> FleetBackup(int terminals, uint32_t bytes_each) {
  char folder[] = "/tmp/quiblink-fleet-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) throw std::runtime_error("mkdtemp failed");
  const std::string root = folder;
  std::vector<std::unique_ptr<quiblink::sim::SimProcess>> sims;
  std::vector<std::unique_ptr<quiblink::network::Ser2net>> servers;
  std::string inventory;
  std::vector<std::string> names;
  for (int i = 0; i < terminals; ++i) {
    sims.push_back(quiblink::sim::SimProcess::Start(
        QUIBLINK_SIM_PATH, {"--family", "graphic", "--baud", std::to_string(kBaud), "--pacing"}));
    sims.back()->Command("group 1 " + Hex(Pattern(bytes_each, 100 + i)));
    servers.push_back(quiblink::network::Ser2net::Start(sims.back()->path(), "38400e81"));
    char name[16];
    snprintf(name, sizeof name, "t%02d", i + 1);
    names.push_back(name);
    inventory += "[[terminal]]\nname = \"" + names.back() + "\"\nport = \"" +
                 servers.back()->Url("rfc2217") +
                 "\"\nfamily = \"graphic\"\nbaud = " + std::to_string(kBaud) + "\n\n";
  }
  std::ofstream(root + "/plant.toml") << inventory;
  auto fleet = [&](const std::string &store, std::vector<std::string> args) {
    args.insert(args.begin(), {"--no-progress", "fleet", "--inventory", root + "/plant.toml",
                               "--store", root + "/" + store});
    return RunTool(args);
  };

  // Alone: the first, the middle and the last terminal, each in a run of its own.
  double slowest_alone = 0;
  bool ok = true;
  for (size_t i : {size_t{0}, names.size() / 2, names.size() - 1}) {
    const Timed alone = fleet("alone", {"backup", names[i]});
    ok = ok && alone.status == 0;
    slowest_alone = std::max(slowest_alone, alone.wall_ms);
  }
  const Timed all = fleet("fleet", {"backup", "--all"});
  ok = ok && all.status == 0;
  const uint64_t before = FolderBytes(root + "/fleet");
  // Unchanged backups, several, since the catalogue grows by whole pages.
  constexpr int kUnchanged = 3;
  Timed again;
  for (int i = 0; i < kUnchanged; ++i) {
    again = fleet("fleet", {"backup", "--all"});
    ok = ok && again.status == 0;
  }
  const uint64_t after = FolderBytes(root + "/fleet");
  servers.clear();
  sims.clear();
  fs::remove_all(root);

  std::vector<Row> rows;
  Row parallel;
  parallel.mode = "-";
  parallel.name = "fleet " + std::to_string(terminals) + " via rfc2217";
  parallel.baud = kBaud;
  parallel.unit = "x alone";
  parallel.figure = slowest_alone > 0 ? all.wall_ms / slowest_alone : 0;
  parallel.bound = 1.2;
  parallel.lower_is_better = true;
  parallel.wall_ms = all.wall_ms;
  parallel.cpu_ms = all.cpu_ms;
  char note[240];
  snprintf(note, sizeof note,
           "%d x %u bytes: all %.0f ms, slowest alone %.0f ms; cpu %.0f ms = %.1f%% of one core "
           "(want <= 1.2x, < 25%%)",
           terminals, bytes_each, all.wall_ms, slowest_alone, all.cpu_ms,
           all.wall_ms > 0 ? 100 * all.cpu_ms / all.wall_ms : 0);
  parallel.note = note;
  parallel.ok = ok && parallel.figure <= 1.2 && parallel.CpuPercent() < 25;
  rows.push_back(parallel);

  Row unchanged;
  unchanged.mode = "-";
  unchanged.name = "fleet unchanged backup";
  unchanged.baud = kBaud;
  unchanged.unit = "B/term";
  unchanged.figure =
      after > before ? static_cast<double>(after - before) / (kUnchanged * terminals) : 0;
  unchanged.bound = 1024;
  unchanged.lower_is_better = true;
  unchanged.wall_ms = again.wall_ms;
  unchanged.cpu_ms = again.cpu_ms;
  snprintf(note, sizeof note,
           "store %llu -> %llu bytes after %d unchanged backups of %d (want < 1 KiB each)",
           static_cast<unsigned long long>(before), static_cast<unsigned long long>(after),
           kUnchanged, terminals);
  unchanged.note = note;
  unchanged.ok = ok && unchanged.figure < 1024;
  rows.push_back(unchanged);
  return rows;
}

}  // namespace quibbench
