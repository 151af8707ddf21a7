#include "monitor_bench.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <memory>

#include "monitor/monitor_process.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"

namespace quibbench {

namespace {

constexpr uint8_t kProjectArea = 1;
constexpr uint16_t kGroup = 1;
constexpr int kTurns = 3;  // direct and monitored, taken in turns; the best of each counts

struct PathRun {
  double write_ms = 1e300;
  double read_ms = 1e300;
  double query_ms = 1e300;
  bool ok = true;
};

void Measure(Terminal &terminal, const std::string &device, uint32_t bytes, int queries,
             PathRun *run) {
  setenv("QUIBLINK_COM1", device.c_str(), 1);
  const std::vector<uint8_t> data = Pattern(bytes, terminal.baud() + bytes);
  std::vector<uint8_t> back(bytes + 1024);
  const int16_t h = XQUIB_Open(0, static_cast<uint16_t>(terminal.baud()), 0);
  if (h < 0) {
    run->ok = false;
    return;
  }
  uint16_t status = 0;
  Stopwatch write_watch;
  const int16_t w = XQUIB_Write(h, kProjectArea, kGroup, bytes, data.data(), &status);
  write_watch.Stop();
  int32_t total = 0;
  Stopwatch read_watch;
  const int16_t r = XQUIB_ReadAllEx(h, back.data(), static_cast<uint32_t>(back.size()), &total,
                                    &status, nullptr, nullptr);
  read_watch.Stop();
  uint32_t type = 0;
  bool queried = true;
  Stopwatch query_watch;
  for (int i = 0; i < queries; ++i) queried = queried && XQUIB_GetKEWType(h, &type, &status) == 0;
  query_watch.Stop();
  QUIB_Close(static_cast<uint16_t>(h));
  unsetenv("QUIBLINK_COM1");
  run->ok = run->ok && w == RC_OK && r == RC_OK && total == static_cast<int32_t>(bytes) &&
            std::equal(data.begin(), data.end(), back.begin()) && queried;
  run->write_ms = std::min(run->write_ms, write_watch.WallMs());
  run->read_ms = std::min(run->read_ms, read_watch.WallMs());
  run->query_ms = std::min(run->query_ms, query_watch.WallMs());
}

Row Compare(const std::string &mode, uint32_t baud, const std::string &name, double direct_ms,
            double monitored_ms, const std::string &note, bool ok) {
  Row row;
  row.mode = mode;
  row.name = "monitor vs direct ";
  row.name.append(name);
  row.baud = baud;
  row.unit = "%";
  row.figure = monitored_ms > 0 ? 100.0 * direct_ms / monitored_ms : 0;
  row.bound = 98;
  row.note = note;
  row.ok = ok;
  return row;
}

}  // namespace

std::vector<Row> MonitorTransfers(const std::string &mode, Terminal &terminal, uint32_t bytes,
                                  int queries) {
  PathRun direct, monitored;
  for (int turn = 0; turn < kTurns; ++turn) {
    Measure(terminal, terminal.path(), bytes, queries, &direct);
    quiblink::monitor_test::MonitorProcess monitor(terminal.path(), {"--family", "graphic"});
    Measure(terminal, monitor.pc_path(), bytes, queries, &monitored);
    monitor.Stop();
  }
  const uint32_t baud = terminal.baud();
  const uint32_t write_exchanges = (bytes + 1023) / 1024;
  char text[200];
  std::vector<Row> rows;
  snprintf(text, sizeof text, "write %.1f ms direct, %.1f ms monitored (%+.2f ms an exchange)",
           direct.write_ms, monitored.write_ms,
           (monitored.write_ms - direct.write_ms) / write_exchanges);
  rows.push_back(Compare(mode, baud, "write", direct.write_ms, monitored.write_ms, text,
                         direct.ok && monitored.ok));
  snprintf(text, sizeof text, "ReadAll %.1f ms direct, %.1f ms monitored", direct.read_ms,
           monitored.read_ms);
  rows.push_back(Compare(mode, baud, "ReadAll", direct.read_ms, monitored.read_ms, text,
                         direct.ok && monitored.ok));
  const double added = (monitored.query_ms - direct.query_ms) / std::max(1, queries);
  snprintf(text, sizeof text, "%d terminal-type queries: %+.3f ms an exchange (bound +1 ms)",
           queries, added);
  Row latency = Compare(mode, baud, "queries", direct.query_ms, monitored.query_ms, text,
                        direct.ok && monitored.ok && added <= 1.0);
  latency.bound = 0;
  rows.push_back(latency);
  return rows;
}

}  // namespace quibbench
