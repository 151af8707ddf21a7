#include "backup_bench.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "backup/backup.h"
#include "backup/terminal_steps.h"
#include "network/ser2net_process.h"
#include "quiblink/quiblink.hpp"

namespace quibbench {
namespace {

namespace b = quiblink::backup;

// The target: hashing and writing at 100 MB/s or more.
constexpr double kTargetMbPerS = 100;
constexpr uint32_t kGroupSize = 256 * 1024;

b::Backup MakeBackup(uint32_t bytes) {
  b::Backup made;
  made.origin = {"2024-05-01T12:00:00Z", "quiblink-bench", "2.1.1", "COM1", 38400, 0};
  uint16_t number = 1;
  for (uint32_t done = 0; done < bytes; done += kGroupSize) {
    const uint32_t size = bytes - done < kGroupSize ? bytes - done : kGroupSize;
    made.groups.push_back({number, Pattern(size, number)});
    ++number;
  }
  return made;
}

Row SpeedRow(const std::string &name, uint32_t bytes, const Stopwatch &watch, bool ok) {
  Row row;
  row.mode = "-";
  row.name = name;
  row.bytes = bytes;
  row.unit = "MB/s";
  row.figure = watch.WallMs() > 0 ? bytes / 1e6 / (watch.WallMs() / 1000) : 0;
  row.bound = kTargetMbPerS;
  row.wall_ms = watch.WallMs();
  row.cpu_ms = watch.CpuMs();
  row.note = row.figure >= kTargetMbPerS ? "target 100 MB/s met" : "target 100 MB/s MISSED";
  row.ok = ok;
  return row;
}

struct Timing {
  double backup_ms = 0;
  double read_all_ms = 0;
  bool ok = false;
};

// ReadAll, then a whole backup (four queries, the grouped read), of the terminal at device.
Timing Measure(Terminal &terminal, const std::string &device, uint32_t bytes) {
  Timing timing;
  setenv("QUIBLINK_COM1", device.c_str(), 1);
  try {
    auto channel = quiblink::Channel::open_graphic(0, static_cast<uint16_t>(terminal.baud()));
    std::vector<uint8_t> back(bytes + 1024);
    Stopwatch read_all;
    const size_t total = channel.read_all(back);
    read_all.Stop();
    const b::Origin origin = b::MakeOrigin("quiblink-bench", device, terminal.baud(), 0);
    Stopwatch whole;
    const b::Backup made = b::ReadGraphicTerminal(channel, origin, {}, bytes + 1024, {});
    whole.Stop();
    timing = {whole.WallMs(), read_all.WallMs(),
              total == bytes && made.groups.size() == 1 && made.groups[0].data.size() == bytes};
  } catch (const std::exception &error) {
    fprintf(stderr, "backup over %s: %s\n", device.c_str(), error.what());
  }
  unsetenv("QUIBLINK_COM1");
  return timing;
}

}  // namespace

std::vector<Row> BackupFileSpeed(uint32_t bytes) {
  std::vector<Row> rows;
  const b::Backup made = MakeBackup(bytes);
  char folder[] = "/tmp/quiblink-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) return rows;
  const std::string path = std::string(folder) + "/bench.qbk";
  Stopwatch write;
  b::SaveArchive(made, path);
  write.Stop();
  Stopwatch hashing;
  for (const b::Group &group : made.groups) b::Sha256Hex(group.data);
  hashing.Stop();
  rows.push_back(SpeedRow("backup hash+write", bytes, write, true));
  char note[96];
  snprintf(note, sizeof note, "; SHA-256 alone %.0f ms", hashing.WallMs());
  rows.back().note += note;
  Stopwatch in_memory;
  const b::Bytes archive = b::WriteArchive(made);
  in_memory.Stop();
  rows.push_back(SpeedRow("backup in memory", bytes, in_memory, !archive.empty()));
  Stopwatch read;
  const b::Backup back = b::LoadArchive(path);
  read.Stop();
  rows.push_back(
      SpeedRow("backup read+check", bytes, read, back.groups.size() == made.groups.size()));
  unlink(path.c_str());
  rmdir(folder);
  return rows;
}

std::vector<Row> NetworkBackup(const std::string &mode, Terminal &terminal, uint32_t bytes) {
  std::vector<Row> rows;
  const std::vector<uint8_t> data = Pattern(bytes, 77);
  const std::string sim_path = terminal.path();
  {
    setenv("QUIBLINK_COM1", sim_path.c_str(), 1);
    auto channel = quiblink::Channel::open_graphic(0, static_cast<uint16_t>(terminal.baud()));
    channel.write_area(1, 1, data);
    unsetenv("QUIBLINK_COM1");
  }
  auto server = quiblink::network::Ser2net::Start(sim_path, "38400e81");
  const Timing direct = Measure(terminal, sim_path, bytes);
  const Timing network = Measure(terminal, server->Url("rfc2217"), bytes);
  server->Stop();
  Row row;
  row.mode = mode;
  row.name = "backup vs direct rfc2217";
  row.baud = terminal.baud();
  row.unit = "%";
  row.figure = network.backup_ms > 0 ? 100.0 * direct.backup_ms / network.backup_ms : 0;
  const double read_all =
      network.read_all_ms > 0 ? 100.0 * direct.read_all_ms / network.read_all_ms : 0;
  row.bound = read_all;
  char note[200];
  snprintf(note, sizeof note,
           "backup %.0f ms direct, %.0f ms rfc2217; ReadAll %.0f ms, %.0f ms (%.1f%%); "
           "bound = ReadAll's share",
           direct.backup_ms, network.backup_ms, direct.read_all_ms, network.read_all_ms, read_all);
  row.note = note;
  row.ok = direct.ok && network.ok;
  rows.push_back(row);
  return rows;
}

}  // namespace quibbench
