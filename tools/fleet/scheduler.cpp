#include "scheduler.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <stdexcept>

namespace quiblink::fleet {
namespace {

constexpr size_t kStderrKept = 2048;

struct Worker {
  pid_t pid = -1;
  int out = -1;  // its events
  int err = -1;  // its standard error, the tail kept
  std::string pending;
  std::string tail;
  std::set<std::string> open;  // terminals still without their last event
};

void MakePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0)
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
}

[[noreturn]] void BecomeWorker(const WorkerCommand &command, pid_t parent, int in, int out,
                               int err) {
  // Dies with the run, even when the run is killed; a run that is gone already is no run.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  dup2(in, STDIN_FILENO);
  dup2(out, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  std::vector<std::string> words = {command.program};
  words.insert(words.end(), command.args.begin(), command.args.end());
  std::vector<char *> argv;
  for (std::string &word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  execv(command.program.c_str(), argv.data());
  _exit(127);
}

void WriteAll(int fd, const std::string &text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t put = write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;  // the worker died; its terminals fail below
    done += static_cast<size_t>(put);
  }
}

Worker Start(const WorkerCommand &command, const WorkerRequest &request) {
  int in[2], out[2], err[2];
  MakePipe(in);
  MakePipe(out);
  MakePipe(err);
  const pid_t parent = getpid();
  Worker worker;
  worker.pid = fork();
  if (worker.pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (worker.pid == 0) BecomeWorker(command, parent, in[0], out[1], err[1]);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  WriteAll(in[1], EncodeRequest(request));
  close(in[1]);
  worker.out = out[0];
  worker.err = err[0];
  for (const TerminalSpec &spec : request.terminals) worker.open.insert(spec.name);
  return worker;
}

// Reads what is there; false at the end of the stream.
bool Drain(int fd, std::string &into) {
  char buffer[16384];
  const ssize_t got = read(fd, buffer, sizeof buffer);
  if (got < 0 && errno == EINTR) return true;
  if (got <= 0) return false;
  into.append(buffer, static_cast<size_t>(got));
  return true;
}

void HandLines(Worker &worker, const std::function<void(const Event &)> &on_event) {
  for (size_t end; (end = worker.pending.find('\n')) != std::string::npos;) {
    const std::string line = worker.pending.substr(0, end);
    worker.pending.erase(0, end + 1);
    Event event;
    try {
      event = DecodeEvent(line);
    } catch (const std::runtime_error &error) {
      worker.tail += std::string(error.what()) + "\n";
      continue;
    }
    if (!worker.open.contains(event.terminal)) continue;
    if (event.Final()) worker.open.erase(event.terminal);
    on_event(event);
  }
}

std::string Ending(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "exit status " + std::to_string(WEXITSTATUS(status));
}

void Finish(Worker &worker, const std::function<void(const Event &)> &on_event) {
  const std::string ending = Ending(worker.pid);
  std::string said = worker.tail.size() > kStderrKept
                         ? worker.tail.substr(worker.tail.size() - kStderrKept)
                         : worker.tail;
  while (!said.empty() && said.back() == '\n') said.pop_back();
  for (const std::string &name : worker.open) {
    Event event;
    event.terminal = name;
    event.kind = Event::kFailed;
    event.text = "the worker process ended (" + ending + ") before this terminal was done" +
                 (said.empty() ? "" : ": " + said);
    on_event(event);
  }
}

}  // namespace

std::vector<std::vector<TerminalSpec>> Groups(const std::vector<TerminalSpec> &terminals) {
  const size_t count = (terminals.size() + kTerminalsPerWorker - 1) / kTerminalsPerWorker;
  std::vector<std::vector<TerminalSpec>> groups(count);
  for (size_t i = 0; i < terminals.size(); ++i)
    groups[i * count / terminals.size()].push_back(terminals[i]);
  return groups;
}

void RunWorkers(const WorkerCommand &command, const WorkerRequest &request,
                const std::function<void(const Event &)> &on_event) {
  // A worker that dies must not take the run with it through a broken pipe.
  signal(SIGPIPE, SIG_IGN);
  std::vector<Worker> workers;
  for (const auto &group : Groups(request.terminals)) {
    WorkerRequest part = request;
    part.terminals = group;
    workers.push_back(Start(command, part));
  }
  for (size_t left = workers.size(); left > 0;) {
    std::vector<pollfd> fds;
    for (const Worker &w : workers) {
      fds.push_back({w.out, POLLIN, 0});
      fds.push_back({w.err, POLLIN, 0});
    }
    if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
      throw std::runtime_error("poll failed");
    for (size_t i = 0; i < workers.size(); ++i) {
      Worker &w = workers[i];
      if (w.out >= 0 && fds[2 * i].revents != 0 && !Drain(w.out, w.pending)) {
        close(w.out);
        w.out = -1;
      }
      HandLines(w, on_event);
      if (w.err >= 0 && fds[2 * i + 1].revents != 0 && !Drain(w.err, w.tail)) {
        close(w.err);
        w.err = -1;
      }
      if (w.tail.size() > 4 * kStderrKept) w.tail.erase(0, w.tail.size() - kStderrKept);
      if (w.out < 0 && w.err < 0 && w.pid > 0) {
        Finish(w, on_event);
        w.pid = -1;
        --left;
      }
    }
  }
}

}  // namespace quiblink::fleet
