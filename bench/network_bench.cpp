#include "network_bench.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "network/ser2net_process.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"

namespace quibbench {

namespace {

// The project area: the write puts the data in one group, ReadAll reads every group back.
constexpr uint8_t kProjectArea = 1;
constexpr uint16_t kGroup = 1;

struct PathRun {
  std::string path;
  double write_ms = 0;
  double read_ms = 0;
  uint64_t read_exchanges = 1;
};

// The graphic write and read of bytes on COM1 mapped to device, as rows named after the path.
PathRun Measure(const std::string &mode, Terminal &terminal, const std::string &path,
                const std::string &device, uint32_t bytes, std::vector<Row> *rows) {
  PathRun run;
  run.path = path;
  setenv("QUIBLINK_COM1", device.c_str(), 1);
  const Line line = {terminal.baud(), 11};
  const std::vector<uint8_t> data = Pattern(bytes, terminal.baud() + bytes);
  std::vector<uint8_t> back(bytes + 1024);
  const int16_t h = XQUIB_Open(0, static_cast<uint16_t>(terminal.baud()), 0);
  if (h < 0) {
    Row failed;
    failed.mode = mode;
    failed.name = "graphic open " + path;
    failed.ok = false;
    rows->push_back(failed);
    return run;
  }
  const Transfer write_model = GraphicWrite(line, bytes);
  uint64_t before = terminal.Requests();
  uint16_t status = 0;
  Stopwatch write_watch;
  const int16_t w = XQUIB_Write(h, kProjectArea, kGroup, bytes, data.data(), &status);
  write_watch.Stop();
  rows->push_back(TransferRow(mode, "write " + path, line.baud, write_model, write_watch));
  rows->back().ok = w == RC_OK && terminal.Requests() - before == write_model.exchanges;
  run.write_ms = write_watch.WallMs();

  const Transfer read_model = GraphicRead(line, bytes);
  before = terminal.Requests();
  int32_t total = 0;
  Stopwatch read_watch;
  const int16_t r = XQUIB_ReadAllEx(h, back.data(), static_cast<uint32_t>(back.size()), &total,
                                    &status, nullptr, nullptr);
  read_watch.Stop();
  rows->push_back(TransferRow(mode, "ReadAll " + path, line.baud, read_model, read_watch));
  // ReadAll asks for the group list first: one exchange more than a plain block read. Every
  // path must need the same count; the direct one sets it.
  const uint64_t requests = terminal.Requests() - before;
  rows->back().note += ", " + std::to_string(requests) + " exchanges";
  run.read_exchanges = requests > 0 ? requests : 1;
  rows->back().ok = r == RC_OK && total == static_cast<int32_t>(bytes) &&
                    std::equal(data.begin(), data.end(), back.begin());
  run.read_ms = read_watch.WallMs();
  QUIB_Close(static_cast<uint16_t>(h));
  unsetenv("QUIBLINK_COM1");
  return run;
}

}  // namespace

std::vector<Row> NetworkTransfers(const std::string &mode, Terminal &terminal, uint32_t bytes) {
  std::vector<Row> rows;
  auto server = quiblink::network::Ser2net::Start(terminal.path(), "38400e81");
  const Line line = {terminal.baud(), 11};
  const uint32_t write_exchanges = GraphicWrite(line, bytes).exchanges;
  std::vector<PathRun> runs;
  runs.push_back(Measure(mode, terminal, "direct pty", terminal.path(), bytes, &rows));
  runs.push_back(Measure(mode, terminal, "rfc2217", server->Url("rfc2217"), bytes, &rows));
  runs.push_back(Measure(mode, terminal, "raw tcp", server->Url("tcp"), bytes, &rows));
  server->Stop();

  const PathRun &direct = runs.front();
  for (size_t i = 1; i < runs.size(); ++i) {
    const PathRun &n = runs[i];
    Row row;
    row.mode = mode;
    row.name = "vs direct " + n.path;
    row.baud = terminal.baud();
    row.unit = "%";
    row.figure = n.write_ms > 0 ? 100.0 * direct.write_ms / n.write_ms : 0;
    row.bound = 97;
    char text[160];
    snprintf(text, sizeof text,
             "write %.1f%% (%+.2f ms an exchange), ReadAll %.1f%% (%+.2f ms an exchange)",
             n.write_ms > 0 ? 100.0 * direct.write_ms / n.write_ms : 0,
             (n.write_ms - direct.write_ms) / write_exchanges,
             n.read_ms > 0 ? 100.0 * direct.read_ms / n.read_ms : 0,
             (n.read_ms - direct.read_ms) / double(direct.read_exchanges));
    row.note = text;
    row.ok = n.read_exchanges == direct.read_exchanges;
    rows.push_back(row);
  }
  return rows;
}

}  // namespace quibbench
