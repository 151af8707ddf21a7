#include "monitor_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace quiblink::monitor_test {

namespace {
constexpr const char *kServing = "quiblink monitor: serving ";

pid_t Spawn(const std::vector<std::string> &args, const std::string &out, const std::string &err) {
  std::vector<char *> argv;
  std::string binary = QUIBLINK_CLI_PATH;
  argv.push_back(binary.data());
  std::vector<std::string> copy = args;
  for (std::string &a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  // The files are opened before the fork: the child of a threaded process may only make
  // async-signal-safe calls before exec.
  int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out_fd < 0 || err_fd < 0) throw std::runtime_error("cannot create " + out);
  pid_t pid = fork();
  if (pid == 0) {
    if (dup2(out_fd, STDOUT_FILENO) < 0 || dup2(err_fd, STDERR_FILENO) < 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out_fd);
  close(err_fd);
  if (pid < 0) throw std::runtime_error("fork failed");
  return pid;
}

int Decode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
}  // namespace

std::string ReadText(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> SplitLines(const std::string &text) {
  std::vector<std::string> lines;
  std::stringstream s(text);
  std::string line;
  while (std::getline(s, line)) lines.push_back(line);
  return lines;
}

MonitorProcess::MonitorProcess(const std::string &terminal, const std::vector<std::string> &args) {
  char tmpl[] = "/tmp/quiblink-monitor-test-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  folder_ = tmpl;
  std::vector<std::string> all = {"monitor", "--pc-pty", "--terminal", terminal};
  all.insert(all.end(), args.begin(), args.end());
  pid_ = Spawn(all, folder_ + "/out", folder_ + "/err");
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    std::string out = ReadText(folder_ + "/out");
    size_t at = out.find(kServing);
    size_t end = out.find('\n');
    if (at == 0 && end != std::string::npos) {
      pc_path_ = out.substr(std::string(kServing).size(), end - std::string(kServing).size());
      return;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("monitor ended: " + ReadText(folder_ + "/err"));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Stop();
  throw std::runtime_error("monitor named no PC side: " + ReadText(folder_ + "/err"));
}

MonitorProcess::~MonitorProcess() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

int MonitorProcess::Reap(bool terminate) {
  if (pid_ < 0) return status_;
  if (terminate) kill(pid_, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
  status_ = Decode(status);
  return status_;
}

int MonitorProcess::Stop() {
  return Reap(true);
}

int MonitorProcess::Wait() {
  return Reap(false);
}

std::vector<std::string> MonitorProcess::Lines() const {
  std::vector<std::string> lines = SplitLines(ReadText(folder_ + "/out"));
  if (!lines.empty()) lines.erase(lines.begin());
  return lines;
}

std::string MonitorProcess::Errors() const {
  return ReadText(folder_ + "/err");
}

std::vector<std::string> RunTool(const std::vector<std::string> &args, int *status) {
  char tmpl[] = "/tmp/quiblink-tool-test-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  std::string folder = tmpl;
  pid_t pid = Spawn(args, folder + "/out", folder + "/err");
  int raw = 0;
  waitpid(pid, &raw, 0);
  *status = Decode(raw);
  std::vector<std::string> lines = SplitLines(ReadText(folder + "/out"));
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return lines;
}

}  // namespace quiblink::monitor_test
