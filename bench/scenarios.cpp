#include "scenarios.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"

namespace quibbench {

namespace {

constexpr uint8_t kArea = 3;
const Line kClassicLine9600 = {9600, 10};

Line GraphicLine(uint32_t baud) {
  return {baud, 11};
}

// Marks a row whose transfer failed, or needed more exchanges than the model
// (a repeated attempt: the figure then says more about the fault than the
// library).
void Check(Row &row, bool ok, uint64_t requests, uint32_t exchanges) {
  row.ok = row.ok && ok;
  if (requests != exchanges) {
    row.note += (row.note.empty() ? "" : ", ") + std::to_string(requests) + " requests for " +
                std::to_string(exchanges) + " exchanges";
    row.ok = false;
  }
}

struct PortRun {
  bool ok = false;
  double write_ms = 0;
  double read_ms = 0;
};

// Write then read back on an open graphic channel.
PortRun WriteAndRead(int16_t handle, uint32_t bytes, uint32_t seed) {
  PortRun run;
  const std::vector<uint8_t> data = Pattern(bytes, seed);
  std::vector<uint8_t> back(bytes + 1024);
  uint16_t status = 0;
  auto t0 = std::chrono::steady_clock::now();
  int16_t w = XQUIB_Write(handle, kArea, 0, bytes, data.data(), &status);
  auto t1 = std::chrono::steady_clock::now();
  int32_t total = 0;
  int16_t r = XQUIB_ReadEx(handle, kArea, back.data(), static_cast<uint32_t>(back.size()), &total,
                           &status, nullptr, nullptr);
  auto t2 = std::chrono::steady_clock::now();
  run.write_ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
  run.read_ms = std::chrono::duration<double, std::milli>(t2 - t1).count();
  run.ok = w == RC_OK && r == RC_OK && total == static_cast<int32_t>(bytes) &&
           std::equal(data.begin(), data.end(), back.begin());
  return run;
}

double Percentile(std::vector<double> samples, double share) {
  std::sort(samples.begin(), samples.end());
  size_t at = static_cast<size_t>(share * (samples.size() - 1) + 0.5);
  return samples[std::min(at, samples.size() - 1)];
}

}  // namespace

std::vector<Row> GraphicTransfers(const std::string &mode, Terminal &terminal, uint32_t bytes) {
  const Line line = GraphicLine(terminal.baud());
  const std::vector<uint8_t> data = Pattern(bytes, terminal.baud());
  std::vector<uint8_t> back(bytes + 1024);
  std::vector<Row> rows;
  const int16_t h = OpenGraphic(0, terminal);
  if (h < 0) return rows;

  const Transfer write_model = GraphicWrite(line, bytes);
  uint64_t before = terminal.Requests();
  uint16_t status = 0;
  Stopwatch write_watch;
  int16_t w = XQUIB_Write(h, kArea, 0, bytes, data.data(), &status);
  write_watch.Stop();
  rows.push_back(TransferRow(mode, "graphic block write", line.baud, write_model, write_watch));
  Check(rows.back(), w == RC_OK, terminal.Requests() - before, write_model.exchanges);

  const Transfer read_model = GraphicRead(line, bytes);
  before = terminal.Requests();
  int32_t total = 0;
  Stopwatch read_watch;
  int16_t r = XQUIB_ReadEx(h, kArea, back.data(), static_cast<uint32_t>(back.size()), &total,
                           &status, nullptr, nullptr);
  read_watch.Stop();
  rows.push_back(TransferRow(mode, "graphic block read", line.baud, read_model, read_watch));
  const bool same = r == RC_OK && total == static_cast<int32_t>(bytes) &&
                    std::equal(data.begin(), data.end(), back.begin());
  Check(rows.back(), same, terminal.Requests() - before, read_model.exchanges);
  QUIB_Close(static_cast<uint16_t>(h));
  return rows;
}

std::vector<Row> ClassicTransfers(const std::string &mode, Terminal &terminal, uint32_t bytes) {
  const std::vector<uint8_t> data = Pattern(bytes, 7);
  std::vector<uint8_t> back(bytes);
  std::vector<Row> rows;
  const int16_t h = OpenClassic(0, terminal);
  if (h < 0) return rows;
  const uint16_t count = static_cast<uint16_t>(bytes);

  const Transfer read_model = ClassicRead(kClassicLine9600, bytes);
  const Transfer write_model = ClassicWrite(kClassicLine9600, bytes);
  uint64_t before = terminal.Requests();
  Stopwatch write_watch;
  int16_t w = QUIB_Write(static_cast<uint16_t>(h), 0, 0, count, data.data());
  write_watch.Stop();
  rows.push_back(TransferRow(mode, "classic write", 9600, write_model, write_watch));
  Check(rows.back(), w == RC_OK, terminal.Requests() - before, write_model.exchanges);

  before = terminal.Requests();
  Stopwatch read_watch;
  int16_t r = QUIB_Read(static_cast<uint16_t>(h), 0, 0, back.data(), count);
  read_watch.Stop();
  rows.push_back(TransferRow(mode, "classic read", 9600, read_model, read_watch));
  Check(rows.back(), r == RC_OK && back == data, terminal.Requests() - before,
        read_model.exchanges);
  QUIB_Close(static_cast<uint16_t>(h));
  return rows;
}

Row QueryLatency(const std::string &mode, Terminal &terminal, int count) {
  const Transfer model = GraphicQuery(GraphicLine(terminal.baud()));
  Row row;
  row.mode = mode;
  row.name = "query latency p50";
  row.baud = terminal.baud();
  row.unit = "ms";
  row.lower_is_better = true;
  row.bound = model.bound_ms;
  row.floor = model.floor_ms;
  const int16_t h = OpenGraphic(0, terminal);
  if (h < 0) {
    row.ok = false;
    return row;
  }
  std::vector<double> samples;
  bool ok = true;
  uint64_t before = terminal.Requests();
  Stopwatch watch;
  for (int i = 0; i < count; ++i) {
    uint32_t type = 0;
    uint16_t status = 0;
    auto t0 = std::chrono::steady_clock::now();
    ok = XQUIB_GetKEWType(static_cast<uint16_t>(h), &type, &status) == RC_OK && ok;
    samples.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  watch.Stop();
  row.wall_ms = watch.WallMs();
  row.cpu_ms = watch.CpuMs();
  row.figure = Percentile(samples, 0.5);
  char text[64];
  snprintf(text, sizeof text, "p99 %.1f ms (%.0f%% of bound)", Percentile(samples, 0.99),
           100 * row.bound / Percentile(samples, 0.99));
  row.note = text;
  Check(row, ok, terminal.Requests() - before, static_cast<uint32_t>(count));
  QUIB_Close(static_cast<uint16_t>(h));
  return row;
}

Row SharedPort(const std::string &mode, Terminal &terminal, int callers, int count) {
  const Transfer model = GraphicQuery(GraphicLine(terminal.baud()));
  Row row;
  row.mode = mode;
  row.name = std::to_string(callers) + " callers, one port";
  row.baud = terminal.baud();
  row.unit = "exch/s";
  row.bound = 1000.0 / model.bound_ms;
  row.floor = 1000.0 / model.floor_ms;
  std::vector<int16_t> handles;
  for (int i = 0; i < callers; ++i) handles.push_back(OpenGraphic(0, terminal));
  std::atomic<bool> ok{true};
  uint64_t before = terminal.Requests();
  Stopwatch watch;
  std::vector<std::thread> threads;
  for (int16_t h : handles) {
    threads.emplace_back([h, count, &ok] {
      for (int i = 0; i < count; ++i) {
        uint32_t type = 0;
        uint16_t status = 0;
        if (XQUIB_GetKEWType(static_cast<uint16_t>(h), &type, &status) != RC_OK) ok = false;
      }
    });
  }
  for (std::thread &t : threads) t.join();
  watch.Stop();
  row.wall_ms = watch.WallMs();
  row.cpu_ms = watch.CpuMs();
  row.figure = callers * count * 1000.0 / watch.WallMs();
  bool opened = std::all_of(handles.begin(), handles.end(), [](int16_t h) { return h >= 0; });
  Check(row, opened && ok, terminal.Requests() - before, static_cast<uint32_t>(callers * count));
  for (int16_t h : handles) QUIB_Close(static_cast<uint16_t>(h));
  return row;
}

std::vector<Row> ManyPorts(const std::string &mode, const std::vector<Terminal *> &terminals,
                           uint32_t bytes) {
  const uint32_t baud = terminals[0]->baud();
  const Line line = GraphicLine(baud);
  const Transfer write = GraphicWrite(line, bytes);
  const Transfer read = GraphicRead(line, bytes);
  const double model_ms = write.bound_ms + read.bound_ms;
  const double floor_ms = write.floor_ms + read.floor_ms;
  const int ports = static_cast<int>(terminals.size());
  std::vector<Row> rows;

  // One port alone.
  Row single;
  single.mode = mode;
  single.name = "one port, write+read";
  single.baud = baud;
  single.bytes = 2 * bytes;
  single.unit = "B/s";
  single.bound = Rate(2 * bytes, model_ms);
  {
    const int16_t h = OpenGraphic(0, *terminals[0]);
    Stopwatch watch;
    PortRun run = WriteAndRead(h, bytes, 1);
    watch.Stop();
    QUIB_Close(static_cast<uint16_t>(h));
    single.ok = h >= 0 && run.ok;
    single.figure = Rate(2 * bytes, watch.WallMs());
    single.floor = Rate(2 * bytes, floor_ms);
    single.wall_ms = watch.WallMs();
    single.cpu_ms = watch.CpuMs();
  }
  rows.push_back(single);

  // Every port at once.
  Row all;
  all.mode = mode;
  all.name = std::to_string(ports) + " ports at once";
  all.baud = baud;
  all.bytes = 2 * bytes * ports;
  all.unit = "B/s";
  all.bound = ports * single.figure;  // that many times one port, as measured
  all.floor = ports * single.floor;
  std::vector<int16_t> handles;
  for (int port = 0; port < ports; ++port) handles.push_back(OpenGraphic(port, *terminals[port]));
  std::vector<PortRun> runs(ports);
  Stopwatch watch;
  std::vector<std::thread> threads;
  for (int port = 0; port < ports; ++port) {
    threads.emplace_back([&, port] { runs[port] = WriteAndRead(handles[port], bytes, port + 2); });
  }
  for (std::thread &t : threads) t.join();
  watch.Stop();
  all.figure = Rate(all.bytes, watch.WallMs());
  all.wall_ms = watch.WallMs();
  all.cpu_ms = watch.CpuMs();
  double slowest = 0;
  for (int port = 0; port < ports; ++port) {
    all.ok = all.ok && handles[port] >= 0 && runs[port].ok;
    slowest = std::max(slowest, runs[port].write_ms + runs[port].read_ms);
    if (handles[port] >= 0) QUIB_Close(static_cast<uint16_t>(handles[port]));
  }
  char text[96];
  snprintf(text, sizeof text, "bound = %d x one port as measured; slowest port %.0f ms", ports,
           slowest);
  all.note = text;
  rows.push_back(all);
  return rows;
}

}  // namespace quibbench
