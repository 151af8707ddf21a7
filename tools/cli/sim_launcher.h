// Starts the terminal simulator for the demo and stops it again.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quiblink::cli {

// Where the simulator binary is: the given path, else quiblink-sim in the folder of this
// program, else on PATH. Empty when none is found.
std::string FindSimulator(const std::string &given);

class SimProcess {
 public:
  // Starts `binary --control SOCKET args...` with its output in a scratch folder and waits (up
  // to 10 s) for the serial path it announces. Throws ToolError with the simulator's own words on
  // failure.
  SimProcess(const std::string &binary, const std::vector<std::string> &args);
  ~SimProcess();
  SimProcess(const SimProcess &) = delete;
  SimProcess &operator=(const SimProcess &) = delete;

  const std::string &path() const { return path_; }
  std::string control_path() const { return folder_ + "/control.sock"; }
  // Sends one control command and returns its reply line. Throws ToolError when the socket
  // cannot be used.
  std::string Control(const std::string &command) const;
  // Stops the simulator (SIGTERM, then SIGKILL after 5 s) and reaps it.
  void Stop();

 private:
  std::string Log() const;

  pid_t pid_ = -1;
  std::string folder_;
  std::string path_;
};

}  // namespace quiblink::cli
