#include "sim/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "sim/control.h"

extern char **environ;

namespace quiblink::sim {

namespace {
constexpr char kPrefix[] = "quiblink-sim: serving ";
constexpr int kStartTimeoutMs = 10000;

std::runtime_error Error(const std::string &text) {
  return std::runtime_error("quiblink-sim: " + text);
}
}  // namespace

std::unique_ptr<SimProcess> SimProcess::Start(const std::string &binary,
                                              const std::vector<std::string> &args) {
  std::unique_ptr<SimProcess> sim(new SimProcess);
  char folder[] = "/tmp/quiblink-sim-XXXXXX";
  if (!mkdtemp(folder)) throw Error(std::string("mkdtemp: ") + std::strerror(errno));
  sim->folder_ = folder;
  sim->control_path_ = sim->folder_ + "/control";

  std::vector<std::string> argv_text{binary};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  argv_text.insert(argv_text.end(), {"--control", sim->control_path_});
  std::vector<char *> argv;
  for (std::string &a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw Error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  int rc = posix_spawn(&sim->pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  sim->stdout_fd_ = out[0];
  if (rc != 0) {
    sim->pid_ = -1;
    throw Error("cannot start " + binary + ": " + std::strerror(rc));
  }

  std::string first_line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (first_line.empty() || first_line.back() != '\n') {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{sim->stdout_fd_, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
      throw Error("no serial path announced within 10 s");
    }
    char c;
    ssize_t n = read(sim->stdout_fd_, &c, 1);
    if (n <= 0) throw Error("exited before announcing its serial path: " + first_line);
    first_line.push_back(c);
  }
  first_line.pop_back();
  if (first_line.rfind(kPrefix, 0) != 0) throw Error("unexpected first line: " + first_line);
  sim->path_ = first_line.substr(sizeof kPrefix - 1);
  return sim;
}

SimProcess::~SimProcess() {
  Stop();
  if (stdout_fd_ >= 0) close(stdout_fd_);
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

std::string SimProcess::Control(const std::string &command) {
  std::string reply, error;
  if (!SendControl(control_path_, command, &reply, &error)) throw Error(error);
  return reply;
}

std::string SimProcess::Command(const std::string &command) {
  std::string reply = Control(command);
  if (reply == "ok") return "";
  if (reply.rfind("ok ", 0) == 0) return reply.substr(3);
  throw Error(command + ": " + reply);
}

int SimProcess::Stop() {
  if (pid_ < 0) return exit_code_;
  kill(pid_, SIGTERM);
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  pid_t done;
  while ((done = waitpid(pid_, &status, WNOHANG)) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
  exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return exit_code_;
}

}  // namespace quiblink::sim
