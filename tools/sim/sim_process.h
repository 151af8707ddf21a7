// Runs quiblink-sim as a child process for tests: start it, learn the serial path it serves,
// send control commands (answered once in effect), stop it.
//
//   auto sim = quiblink::sim::SimProcess::Start(QUIBLINK_SIM_PATH, {"--family", "graphic"});
//   setenv("QUIBLINK_COM1", sim->path().c_str(), 1);
//   sim->Arm("bad-checksum:next=2");
//   ...
//   sim->Stop();  // also done by the destructor
//
// Failures throw std::runtime_error.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace quiblink::sim {

class SimProcess {
 public:
  // Starts the binary with args plus "--control <socket in a private folder>" and waits (up to
  // 10 s) for the line that names the serial path.
  static std::unique_ptr<SimProcess> Start(const std::string &binary,
                                           const std::vector<std::string> &args);
  ~SimProcess();
  SimProcess(const SimProcess &) = delete;
  SimProcess &operator=(const SimProcess &) = delete;

  const std::string &path() const { return path_; }
  const std::string &control_path() const { return control_path_; }
  pid_t pid() const { return pid_; }

  // Sends one control command and returns the reply line as it is ("ok ..." or "error: ...").
  std::string Control(const std::string &command);
  // Control that must succeed: returns the text after "ok" (without the space), throws on error.
  std::string Command(const std::string &command);
  void Arm(const std::string &fault) { Command("fault " + fault); }
  void ClearFaults() { Command("clear"); }

  // SIGTERM, then waits up to 10 s (SIGKILL after). Returns the exit status as waitpid gives it
  // decoded: the exit code, or 128 + signal number. A second call returns the first result.
  int Stop();

 private:
  SimProcess() = default;
  pid_t pid_ = -1;
  int stdout_fd_ = -1;
  int exit_code_ = -1;
  std::string folder_;
  std::string control_path_;
  std::string path_;
};

}  // namespace quiblink::sim
