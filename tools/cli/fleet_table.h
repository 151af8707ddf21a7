// The live table of a fleet run: a row per terminal with its progress bar and state. On a
// terminal the rows are redrawn in place (at most five times a second); in a pipe, a log or
// with --no-progress each change of state is one plain line, and progress is not shown at all,
// so that a log of a nightly run stays short.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fleet/fleet_run.h"

namespace quiblink::cli {

class FleetTable {
 public:
  FleetTable(const std::vector<fleet::TerminalSpec> &terminals, bool live, std::FILE *out = stderr);
  void OnEvent(const fleet::Event &event);
  void OnOutcome(const fleet::Outcome &outcome);
  // Draws the last state.
  void Finish();

  struct Row {
    std::string name;
    std::string state = "waiting";
    uint64_t done = 0, total = 0;
    bool ended = false;
  };
  // One row as drawn, name padded to width.
  static std::string Render(const Row &row, size_t width);

 private:
  Row *Find(const std::string &name);
  void Change(Row &row, const std::string &state);
  void Draw(bool force);

  std::vector<Row> rows_;
  size_t width_ = 0;
  bool live_;
  bool drawn_ = false;
  std::FILE *out_;
  int64_t last_draw_ms_ = 0;
};

}  // namespace quiblink::cli
