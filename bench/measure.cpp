#include "measure.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <random>
#include <stdexcept>

#include "quiblink/quiblink.h"

namespace quibbench {

namespace {

double ProcessCpuMs() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void MapPort(int port, const Terminal &terminal) {
  const std::string variable = "QUIBLINK_COM" + std::to_string(port + 1);
  setenv(variable.c_str(), terminal.path().c_str(), 1);
}

}  // namespace

Terminal::Terminal(const std::string &family, uint32_t baud) : baud_(baud) {
  sim_ = quiblink::sim::SimProcess::Start(
      QUIBLINK_SIM_PATH, {"--family", family, "--baud", std::to_string(baud), "--pacing"});
}

uint64_t Terminal::Requests() {
  const std::string stats = sim_->Command("stats");
  const size_t at = stats.find("requests=");
  if (at == std::string::npos) throw std::runtime_error("stats without requests: " + stats);
  return strtoull(stats.c_str() + at + 9, nullptr, 10);
}

int16_t OpenGraphic(int port, const Terminal &terminal) {
  MapPort(port, terminal);
  return XQUIB_Open(static_cast<uint16_t>(port), static_cast<uint16_t>(terminal.baud()), 0);
}

int16_t OpenClassic(int port, const Terminal &terminal) {
  MapPort(port, terminal);
  return QUIB_Open(static_cast<uint16_t>(port), 0);
}

Stopwatch::Stopwatch() : start_(std::chrono::steady_clock::now()), cpu_start_(ProcessCpuMs()) {}

void Stopwatch::Stop() {
  wall_ms_ =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
  cpu_ms_ = ProcessCpuMs() - cpu_start_;
}

double Row::Ratio() const {
  if (figure <= 0 || bound <= 0) return 0;
  return lower_is_better ? bound / figure : figure / bound;
}

double Row::FloorRatio() const {
  if (figure <= 0 || floor <= 0) return 0;
  return lower_is_better ? floor / figure : figure / floor;
}

void PrintHeader() {
  printf("%-5s %-22s %6s %7s %9s %9s %7s %9s %7s %6s %8s  %s\n", "mode", "measure", "baud", "bytes",
         "figure", "bound", "ratio", "floor", "f.ratio", "cpu%", "cpu ms/MB", "unit, notes");
}

void PrintRow(const Row &r) {
  printf("%-5s %-22s %6u %7u %9.1f %9.1f %6.1f%% %9.1f %6.1f%% %6.2f %8.0f  %s%s%s\n",
         r.mode.c_str(), r.name.c_str(), r.baud, r.bytes, r.figure, r.bound, 100 * r.Ratio(),
         r.floor, 100 * r.FloorRatio(), r.CpuPercent(), r.CpuMsPerMb(), r.unit.c_str(),
         r.note.empty() ? "" : ", ", r.note.c_str());
  if (!r.ok) printf("      ^ FAILED: the figure above is not valid\n");
  fflush(stdout);
}

Row TransferRow(const std::string &mode, const std::string &name, uint32_t baud,
                const Transfer &model, const Stopwatch &watch) {
  Row r;
  r.mode = mode;
  r.name = name;
  r.baud = baud;
  r.bytes = model.bytes;
  r.unit = "B/s";
  r.figure = Rate(model.bytes, watch.WallMs());
  r.bound = Rate(model.bytes, model.bound_ms);
  r.floor = Rate(model.bytes, model.floor_ms);
  r.wall_ms = watch.WallMs();
  r.cpu_ms = watch.CpuMs();
  char text[64];
  snprintf(text, sizeof text, "%+.1f ms an exchange against the bound",
           (watch.WallMs() - model.bound_ms) / model.exchanges);
  r.note = text;
  return r;
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t &b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

}  // namespace quibbench
