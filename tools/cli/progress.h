// A one-line progress display for block transfers, drawn on standard error when that is a
// terminal and silent otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "quiblink/quiblink.hpp"

namespace quiblink::cli {

class ProgressBar {
 public:
  // total 0: the size is not known in advance (block reads).
  ProgressBar(std::string label, uint64_t total, bool enabled, std::FILE *out = stderr);
  ~ProgressBar();
  ProgressBar(const ProgressBar &) = delete;
  ProgressBar &operator=(const ProgressBar &) = delete;

  void Update(uint64_t done, uint64_t total);
  // Draws the last state and ends the line; further updates are ignored.
  void Finish();

  // For the library's progress callback.
  Progress Callback() {
    return [this](uint32_t done, uint32_t total) { Update(done, total); };
  }

  // The line as it would be drawn, for a given state and elapsed time.
  static std::string Render(const std::string &label, uint64_t done, uint64_t total,
                            double seconds);

 private:
  using Clock = std::chrono::steady_clock;
  void Draw();

  std::string label_;
  uint64_t done_ = 0;
  uint64_t drawn_done_ = UINT64_MAX;  // what the line on screen shows
  uint64_t total_;
  bool enabled_;
  bool drawn_ = false;
  bool finished_ = false;
  std::FILE *out_;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_draw_{};
};

// True when progress should be drawn: standard error is a terminal and not switched off.
bool ProgressWanted(bool switched_off);

}  // namespace quiblink::cli
