// The run's side of its workers: the terminals in groups of at most ten, one worker process
// per group (this program again, as `quiblink fleet-worker`), all at once; their events read
// as they come and handed on in this one thread, so that the run alone draws and alone writes
// the catalogue. A worker dies with its run (PR_SET_PDEATHSIG), and a worker that ends without
// the last word on a terminal leaves that terminal failed, with what the worker said on its
// standard error.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "worker_protocol.h"

namespace quiblink::fleet {

struct WorkerCommand {
  std::string program;            // what to run: this program (/proc/self/exe)
  std::vector<std::string> args;  // its arguments, after the program's name
};

void RunWorkers(const WorkerCommand &command, const WorkerRequest &request,
                const std::function<void(const Event &)> &on_event);

// The groups: at most kTerminalsPerWorker each, in inventory order, as even as they go.
std::vector<std::vector<TerminalSpec>> Groups(const std::vector<TerminalSpec> &terminals);

}  // namespace quiblink::fleet
