// The serving loop: reads requests off the line, lets the terminal answer, applies armed faults,
// paces the replies, serves the control socket and keeps the image up to date.
#pragma once

#include <memory>
#include <string>

#include "sim/control.h"
#include "sim/faults.h"
#include "sim/frame_log.h"
#include "sim/line_pacer.h"
#include "sim/terminal.h"
#include "wire/frame_reader.h"
#include "wire/serial_line.h"
#include "wire/signals.h"

namespace quiblink::sim {

struct ServerConfig {
  LineTiming timing;
  Nanos turnaround{0};
  bool follow_baud = false;
  std::string image_path;      // empty: no image
  double exit_after_idle = 0;  // seconds; 0: never
};

class Server {
 public:
  // The image is saved once the line has been quiet this long after a change.
  static constexpr std::chrono::milliseconds kSaveDelay{100};

  Server(Terminal &terminal, SerialLine &line, FrameLog &log, ServerConfig config);

  FaultPlan &faults() { return faults_; }
  void SetControl(ControlServer *control) { control_ = control; }

  // Serves until one of the signals arrives or the idle limit passes. Returns the process exit
  // code.
  int Run(StopSignals &signals);

  std::string ExecuteControl(const std::string &line);
  bool SaveImageNow(std::string *error);

 private:
  void OnBytes(const uint8_t *data, size_t size, TimePoint now);
  void HandleFrame(const Frame &frame, TimePoint now);
  bool Flush(TimePoint now);  // false when the line is gone
  void MaybeSave(TimePoint now);

  Terminal &terminal_;
  SerialLine &line_;
  FrameLog &log_;
  ServerConfig config_;
  FrameReader reader_;
  FaultPlan faults_;
  LinePacer pacer_;
  ControlServer *control_ = nullptr;
  Bytes unwritten_;
  TimePoint last_activity_{};
  bool save_pending_ = false;
  unsigned long requests_ = 0;
  unsigned long replies_ = 0;
  unsigned long junk_bytes_ = 0;
  unsigned long faults_fired_ = 0;
};

}  // namespace quiblink::sim
