#include "sim_launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "failure.h"

extern char **environ;

namespace quiblink::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char *kSimName = "quiblink-sim";
constexpr const char *kAnnouncement = "quiblink-sim: serving ";

bool Executable(const fs::path &path) {
  std::error_code ignored;
  return fs::is_regular_file(path, ignored) && access(path.c_str(), X_OK) == 0;
}

std::string ReadFile(const fs::path &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string FindSimulator(const std::string &given) {
  if (!given.empty()) return Executable(given) ? given : "";
  // No path of the build is compiled in: an installed or moved tool finds its simulator where
  // it was installed with it.
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (!error && Executable(self.parent_path() / kSimName)) return self.parent_path() / kSimName;
  if (const char *path = std::getenv("PATH")) {
    std::stringstream folders(path);
    for (std::string folder; std::getline(folders, folder, ':');) {
      if (!folder.empty() && Executable(fs::path(folder) / kSimName)) {
        return fs::path(folder) / kSimName;
      }
    }
  }
  return "";
}

SimProcess::SimProcess(const std::string &binary, const std::vector<std::string> &args) {
  // Short: the control socket's path must fit in sockaddr_un.
  char folder[] = "/tmp/quiblink-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    throw ToolError(std::string("cannot make a scratch folder: ") + std::strerror(errno));
  }
  folder_ = folder;
  std::string out = folder_ + "/sim.out";
  std::string log = folder_ + "/sim.log";

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> words = {binary, "--control", control_path()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (auto &word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int rc = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    fs::remove_all(folder_);
    throw ToolError("cannot start " + binary + ": " + std::strerror(rc));
  }

  // The first line is complete once its newline is there.
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (path_.empty()) {
    std::string text = ReadFile(out);
    size_t end = text.find('\n');
    if (end != std::string::npos) {
      if (text.rfind(kAnnouncement, 0) != 0) break;
      path_ = text.substr(std::strlen(kAnnouncement), end - std::strlen(kAnnouncement));
      return;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    if (Clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::string why = Log();
  Stop();
  throw ToolError("the simulator did not announce its serial path" +
                  (why.empty() ? std::string() : ": " + why));
}

SimProcess::~SimProcess() {
  Stop();
}

void SimProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    auto deadline = Clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
  }
  if (!folder_.empty()) {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
    folder_.clear();
  }
}

std::string SimProcess::Control(const std::string &command) const {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string path = control_path();
  if (path.size() >= sizeof address.sun_path) throw ToolError("control socket path too long");
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval patience{10, 0};  // a simulator that stopped answering must not hang the demo
  if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    std::string why = std::strerror(errno);
    if (fd >= 0) close(fd);
    throw ToolError("cannot reach the simulator's control socket: " + why);
  }
  std::string line = command + "\n";
  bool sent = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  std::string reply;
  char chunk[4096];
  while (sent && reply.find('\n') == std::string::npos) {
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    reply.append(chunk, static_cast<size_t>(got));
  }
  close(fd);
  size_t end = reply.find('\n');
  if (end == std::string::npos) throw ToolError("the simulator did not answer '" + command + "'");
  return reply.substr(0, end);
}

std::string SimProcess::Log() const {
  std::string text = ReadFile(folder_ + "/sim.log") + ReadFile(folder_ + "/sim.out");
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  size_t last = text.rfind('\n');
  return last == std::string::npos ? text : text.substr(last + 1);
}

}  // namespace quiblink::cli
