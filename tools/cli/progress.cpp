#include "progress.h"

#include <unistd.h>

#include <algorithm>

#include "data_io.h"

namespace quiblink::cli {
namespace {

constexpr int kBarWidth = 24;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string Duration(double seconds) {
  long total = static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

}  // namespace

bool ProgressWanted(bool switched_off) {
  return !switched_off && isatty(STDERR_FILENO) == 1;
}

ProgressBar::ProgressBar(std::string label, uint64_t total, bool enabled, std::FILE *out)
    : label_(std::move(label)), total_(total), enabled_(enabled), out_(out) {
  if (enabled_) Draw();
}

ProgressBar::~ProgressBar() {
  // A transfer that failed leaves the bar where it stopped; the error goes on its own line.
  if (drawn_ && !finished_) std::fputc('\n', out_);
}

void ProgressBar::Update(uint64_t done, uint64_t total) {
  if (finished_) return;
  done_ = done;
  if (total != 0) total_ = total;
  if (!enabled_) return;
  auto now = Clock::now();
  if (now - last_draw_ < kRedrawInterval && !(total_ != 0 && done_ >= total_)) return;
  Draw();
}

void ProgressBar::Finish() {
  if (finished_) return;
  if (enabled_) {
    if (done_ != drawn_done_) Draw();
    std::fputc('\n', out_);
    std::fflush(out_);
  }
  finished_ = true;
}

void ProgressBar::Draw() {
  last_draw_ = Clock::now();
  drawn_done_ = done_;
  double seconds = std::chrono::duration<double>(last_draw_ - start_).count();
  // \r and clearing to the end of the line: a shorter line must not leave the tail of a longer.
  std::fprintf(out_, "\r%s\033[K", Render(label_, done_, total_, seconds).c_str());
  std::fflush(out_);
  drawn_ = true;
}

std::string ProgressBar::Render(const std::string &label, uint64_t done, uint64_t total,
                                double seconds) {
  std::string line = label;
  double rate = seconds > 0.05 ? static_cast<double>(done) / seconds : 0;
  if (total != 0) {
    uint64_t shown = std::min(done, total);
    int filled = static_cast<int>(shown * kBarWidth / total);
    line += " [" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] ";
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(shown * 100 / total));
    line += percent;
    line += "  " + FormatSize(static_cast<double>(done)) + " / " +
            FormatSize(static_cast<double>(total));
  } else {
    line += "  " + FormatSize(static_cast<double>(done));
  }
  if (rate > 0) line += "  " + FormatSize(rate) + "/s";
  if (total != 0 && rate > 0 && done < total) {
    line += "  " + Duration(static_cast<double>(total - done) / rate) + " left";
  } else {
    line += "  " + Duration(seconds);
  }
  return line;
}

}  // namespace quiblink::cli
