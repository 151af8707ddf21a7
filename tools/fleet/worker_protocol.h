// What goes between a run and its worker processes. The run writes one request (JSON) to a
// worker's standard input: the objects' folder, what to do and at most ten terminals. The
// worker answers on its standard output with one JSON line per event: a terminal's state, its
// progress, a step, and at the end of each terminal exactly one of done (the backup's manifest;
// its parts are objects on disk already), info (a quick check's answers) or failed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "backup/backup.h"
#include "inventory.h"

namespace quiblink::fleet {

// The library serves at most ten ports in one process.
constexpr size_t kTerminalsPerWorker = 10;

enum class Mode { kBackup, kCheck, kQuickCheck };
const char *ModeName(Mode mode);

struct WorkerRequest {
  std::string objects;  // the store's objects folder
  Mode mode = Mode::kBackup;
  std::vector<TerminalSpec> terminals;
};

std::string EncodeRequest(const WorkerRequest &request);
// Throws std::runtime_error on a request that is not one.
WorkerRequest DecodeRequest(const std::string &text);

struct Event {
  enum Kind { kState, kProgress, kStep, kDone, kInfo, kFailed };
  std::string terminal;
  Kind kind = kState;
  std::string text;  // the state ("connecting", "reading", "saving", "retrying"), step or error
  uint64_t done = 0, total = 0;
  nlohmann::json manifest;    // done
  backup::TerminalInfo info;  // info

  bool Final() const { return kind == kDone || kind == kInfo || kind == kFailed; }
};

// One line, ending in a line feed.
std::string EncodeEvent(const Event &event);
// Throws std::runtime_error on a line that is not an event.
Event DecodeEvent(const std::string &line);

}  // namespace quiblink::fleet
