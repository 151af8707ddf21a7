// A backup or check of many terminals: the workers read them, and this side, alone, turns each
// terminal's last event into a version and a result in the catalogue, one transaction each, as
// the events come. A terminal that fails is recorded and never stops the others.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "scheduler.h"
#include "store.h"
#include "worker_protocol.h"

namespace quiblink::fleet {

struct Outcome {
  std::string terminal;
  std::string state;            // backup: "ok", "failed"; check: compare.h's states
  std::string detail;           // one line for a person
  std::optional<int> version;   // the version recorded now
  std::optional<int> compared;  // a check's released version
  std::vector<std::string> differences;
};

struct RunObserver {
  std::function<void(const Event &)> event;      // every event before the last of a terminal
  std::function<void(const Outcome &)> outcome;  // each terminal's end, once recorded
};

struct RunSummary {
  int64_t run = 0;
  std::vector<Outcome> outcomes;  // in the order the terminals ended
};

RunSummary RunFleet(Store &store, Mode mode, const std::vector<TerminalSpec> &terminals,
                    const WorkerCommand &command, const RunObserver &observer);

// A check's verdict for one terminal, against its released version: content null for a quick
// check of a graphic terminal, which compares the terminal's answers only.
Outcome Judge(Catalogue &catalogue, const std::string &terminal, const Content *content,
              const backup::TerminalInfo &info, bool quick);

}  // namespace quiblink::fleet
