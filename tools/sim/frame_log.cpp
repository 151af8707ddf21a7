#include "sim/frame_log.h"

#include <cerrno>
#include <cstring>

namespace quiblink::sim {

namespace {
constexpr size_t kShortLimit = 64;
constexpr size_t kHead = 48;
constexpr size_t kTail = 8;
}  // namespace

FrameLog::~FrameLog() {
  if (own_ && file_) std::fclose(file_);
}

bool FrameLog::Open(const std::string &path, bool full, TimePoint origin, std::string *error) {
  full_ = full;
  origin_ = origin;
  if (path == "-") {
    file_ = stderr;
  } else {
    file_ = std::fopen(path.c_str(), "a");
    if (!file_) {
      *error = "cannot open log " + path + ": " + std::strerror(errno);
      return false;
    }
    own_ = true;
  }
  std::fprintf(file_, "# time in ms since start, direction, byte count, bytes, meaning\n");
  std::fflush(file_);
  return true;
}

std::string FrameLog::FrameText(const char *direction, const Bytes &bytes,
                                const std::string &meaning) const {
  std::string hex;
  if (full_ || bytes.size() <= kShortLimit) {
    hex = HexDump(bytes);
  } else {
    hex = HexDump(bytes.data(), kHead) + " ... " +
          HexDump(bytes.data() + bytes.size() - kTail, kTail);
  }
  char head[32];
  std::snprintf(head, sizeof head, "%-7s %5zu  ", direction, bytes.size());
  return head + hex + "  | " + meaning;
}

void FrameLog::Write(TimePoint when, const std::string &text) {
  if (!file_) return;
  double ms = std::chrono::duration<double, std::milli>(when - origin_).count();
  std::fprintf(file_, "%12.3f  %s\n", ms, text.c_str());
  std::fflush(file_);
}

}  // namespace quiblink::sim
