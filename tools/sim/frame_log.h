// A log a person can read: one line per frame in each direction, with the time since start.
//
//   <ms since start>  <direction>  <byte count>  <bytes in hex>  | <meaning>
// Directions: "PC>SIM" request, "SIM>PC" reply, "junk" bytes dropped outside a frame, "note".
#pragma once

#include <cstdio>
#include <string>

#include "sim/wire_names.h"

namespace quiblink::sim {

class FrameLog {
 public:
  FrameLog() = default;
  ~FrameLog();
  FrameLog(const FrameLog &) = delete;
  FrameLog &operator=(const FrameLog &) = delete;

  // "-" logs to stderr. Without `full`, frames longer than 64 bytes show their head and tail.
  bool Open(const std::string &path, bool full, TimePoint origin, std::string *error);
  bool enabled() const { return file_ != nullptr; }

  // The text of a frame line without its time, for lines written later with Write.
  std::string FrameText(const char *direction, const Bytes &bytes,
                        const std::string &meaning) const;
  void Write(TimePoint when, const std::string &text);
  void Frame(TimePoint when, const char *direction, const Bytes &bytes,
             const std::string &meaning) {
    if (enabled()) Write(when, FrameText(direction, bytes, meaning));
  }
  void Note(TimePoint when, const std::string &text) {
    if (enabled()) Write(when, "note    " + text);
  }

 private:
  std::FILE *file_ = nullptr;
  bool own_ = false;
  bool full_ = false;
  TimePoint origin_{};
};

}  // namespace quiblink::sim
