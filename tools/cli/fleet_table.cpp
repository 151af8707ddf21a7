#include "fleet_table.h"

#include <algorithm>
#include <chrono>

#include "data_io.h"

namespace quiblink::cli {
namespace {

constexpr int kBarWidth = 20;
constexpr int64_t kRedrawMs = 200;

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

FleetTable::FleetTable(const std::vector<fleet::TerminalSpec> &terminals, bool live, std::FILE *out)
    : live_(live), out_(out) {
  for (const auto &spec : terminals) {
    rows_.push_back({spec.name});
    width_ = std::max(width_, spec.name.size());
  }
  Draw(true);
}

std::string FleetTable::Render(const Row &row, size_t width) {
  std::string line = row.name + std::string(width - std::min(width, row.name.size()), ' ') + "  ";
  const uint64_t total = row.total;
  const int filled = row.ended    ? kBarWidth
                     : total != 0 ? static_cast<int>(std::min(row.done, total) * kBarWidth / total)
                                  : 0;
  line += "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] ";
  std::string size = row.done != 0 ? FormatSize(static_cast<double>(row.done)) : "";
  line += size + std::string(10 - std::min<size_t>(10, size.size()), ' ') + " " + row.state;
  return line;
}

FleetTable::Row *FleetTable::Find(const std::string &name) {
  for (Row &row : rows_) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

void FleetTable::Change(Row &row, const std::string &state) {
  if (row.state == state) return;
  row.state = state;
  if (!live_) {
    std::fprintf(out_, "%s: %s\n", row.name.c_str(), state.c_str());
    std::fflush(out_);
  }
}

void FleetTable::OnEvent(const fleet::Event &event) {
  Row *row = Find(event.terminal);
  if (row == nullptr) return;
  if (event.kind == fleet::Event::kState) Change(*row, event.text);
  if (event.kind == fleet::Event::kProgress) {
    row->done = event.done;
    row->total = event.total;
  }
  Draw(false);
}

void FleetTable::OnOutcome(const fleet::Outcome &outcome) {
  Row *row = Find(outcome.terminal);
  if (row == nullptr) return;
  row->ended = true;
  std::string state = outcome.state;
  if (outcome.version) state += " v" + std::to_string(*outcome.version);
  Change(*row, state);
  Draw(true);
}

void FleetTable::Finish() {
  Draw(true);
}

void FleetTable::Draw(bool force) {
  if (!live_) return;
  const int64_t now = NowMs();
  if (!force && now - last_draw_ms_ < kRedrawMs) return;
  last_draw_ms_ = now;
  // Back to the first row, then each row over what it showed.
  std::string text = drawn_ ? "\033[" + std::to_string(rows_.size()) + "A" : "";
  for (const Row &row : rows_) text += "\r" + Render(row, width_) + "\033[K\n";
  std::fputs(text.c_str(), out_);
  std::fflush(out_);
  drawn_ = true;
}

}  // namespace quiblink::cli
