// Runs `quiblink monitor --pc-pty` (or `quiblink decode`) as a child process: waits for the
// pseudo-terminal it serves, stops it with SIGTERM and hands over everything it printed.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quiblink::monitor_test {

class MonitorProcess {
 public:
  // Starts `quiblink monitor --pc-pty --terminal TERMINAL args...` and waits (up to 10 s) for
  // the line that names the PC side.
  MonitorProcess(const std::string &terminal, const std::vector<std::string> &args);
  ~MonitorProcess();
  MonitorProcess(const MonitorProcess &) = delete;
  MonitorProcess &operator=(const MonitorProcess &) = delete;

  const std::string &pc_path() const { return pc_path_; }
  // SIGTERM, then waits for the exit (SIGKILL after 10 s); returns the exit status.
  int Stop();
  // Waits for the monitor to end by itself (--count), up to 10 s; returns the exit status.
  int Wait();
  // What it printed on stdout, without the first line (the PC side's path).
  std::vector<std::string> Lines() const;
  std::string Errors() const;
  std::string folder() const { return folder_; }

 private:
  int Reap(bool terminate);
  pid_t pid_ = -1;
  int status_ = -1;
  std::string folder_;
  std::string pc_path_;
};

// Runs the quiblink tool to its end; returns its stdout lines, status in *status.
std::vector<std::string> RunTool(const std::vector<std::string> &args, int *status);

std::vector<std::string> SplitLines(const std::string &text);
std::string ReadText(const std::string &path);

}  // namespace quiblink::monitor_test
