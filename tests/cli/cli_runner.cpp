#include "cli_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace quiblink::test {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> Environment(const RunOptions &options) {
  std::vector<std::string> env;
  for (char **at = environ; *at != nullptr; ++at) {
    std::string entry = *at;
    std::string name = entry.substr(0, entry.find('='));
    // A mapping left in the test's own environment must not leak into the tool's.
    if (name.rfind("QUIBLINK_", 0) == 0 || options.env.count(name) != 0) continue;
    env.push_back(entry);
  }
  for (const auto &[name, value] : options.env) env.push_back(name + "=" + value);
  return env;
}

std::vector<char *> Pointers(std::vector<std::string> &words) {
  std::vector<char *> out;
  for (auto &word : words) out.push_back(word.data());
  out.push_back(nullptr);
  return out;
}

int Decode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Pumps input into `in` and output of `fds` into `sinks` until every output hits end of file
// or the deadline passes.
bool Pump(int in, const std::string &input, std::vector<int> fds, std::vector<std::string *> sinks,
          Clock::time_point deadline) {
  size_t sent = 0;
  if (in >= 0 && input.empty()) {
    close(in);
    in = -1;
  }
  while (true) {
    std::vector<pollfd> polls;
    for (int fd : fds) polls.push_back({fd, POLLIN, 0});
    if (in >= 0) polls.push_back({in, POLLOUT, 0});
    bool open_output = false;
    for (int fd : fds) open_output |= fd >= 0;
    if (!open_output) break;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    if (poll(polls.data(), polls.size(), static_cast<int>(left.count())) < 0 && errno != EINTR) {
      return false;
    }
    for (size_t i = 0; i < fds.size(); ++i) {
      if (fds[i] < 0 || polls[i].revents == 0) continue;
      char chunk[4096];
      ssize_t got = read(fds[i], chunk, sizeof chunk);
      if (got > 0) {
        sinks[i]->append(chunk, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        // A pseudo-terminal reports EIO once the last slave descriptor is closed.
        close(fds[i]);
        fds[i] = -1;
      }
    }
    if (in >= 0 && polls.back().revents != 0) {
      ssize_t put = write(in, input.data() + sent, input.size() - sent);
      if (put > 0) sent += static_cast<size_t>(put);
      if (put < 0 || sent == input.size()) {
        close(in);
        in = -1;
      }
    }
  }
  if (in >= 0) close(in);
  return true;
}

int Reap(pid_t pid, bool in_time, long *max_rss_kib = nullptr) {
  if (!in_time) kill(pid, SIGKILL);
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (max_rss_kib) *max_rss_kib = usage.ru_maxrss;
  return Decode(status);
}

}  // namespace

RunResult RunCli(const std::vector<std::string> &args, const RunOptions &options) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> words = {options.binary.empty() ? QUIBLINK_CLI_PATH : options.binary};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<std::string> env = Environment(options);
  auto argv = Pointers(words);
  auto envp = Pointers(env);
  // fork rather than posix_spawn: the child's limits are set between the two.
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGXFSZ, options.ignore_sigxfsz ? SIG_IGN : SIG_DFL);
    if (options.file_size_limit >= 0) {
      rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                   static_cast<rlim_t>(options.file_size_limit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  RunResult result;
  bool in_time = Pump(in[1], options.input, {out[0], err[0]}, {&result.out, &result.err},
                      Clock::now() + options.limit);
  result.timed_out = !in_time;
  result.status = Reap(pid, in_time, &result.max_rss_kib);
  return result;
}

RunResult RunCliOnPty(const std::vector<std::string> &args, const RunOptions &options) {
  std::vector<std::string> words = {QUIBLINK_CLI_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<std::string> env = Environment(options);
  auto argv = Pointers(words);
  auto envp = Pointers(env);
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) throw std::runtime_error("forkpty failed");
  if (pid == 0) {
    // Standard input stays the terminal; nothing is typed into it.
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  RunResult result;
  bool in_time = Pump(-1, "", {master}, {&result.out}, Clock::now() + options.limit);
  result.timed_out = !in_time;
  result.status = Reap(pid, in_time);
  return result;
}

std::string ReadFileText(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFileText(const std::string &path, const std::string &data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

ScratchDir::ScratchDir() {
  char folder[] = "/tmp/quiblink-cli-test-XXXXXX";
  if (mkdtemp(folder) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = folder;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (char &byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  return bytes;
}

std::string HexOf(const std::string &bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char byte : bytes) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
  }
  return out;
}

}  // namespace quiblink::test
