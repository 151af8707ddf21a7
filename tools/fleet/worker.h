// A worker process: reads the terminals of its request at once, one thread and one port each
// (the library's limit is ten ports a process), retries a terminal that fails once, writes each
// part of a backup to the store's objects and tells its run everything as events
// (worker_protocol.h). It never touches the catalogue: its run alone does.
#pragma once

#include <string>

namespace quiblink::fleet {

// The worker's whole life: the request from in_fd, the events to out_fd. tool is the name the
// backups are made by ("quiblink 2.1.1"). Returns the process's exit status.
int RunWorker(int in_fd, int out_fd, const std::string &tool);

// How long a terminal that failed waits before its second try.
constexpr int kRetryPauseMs = 1000;

}  // namespace quiblink::fleet
