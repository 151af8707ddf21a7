// quiblink-sim: one operator terminal on a serial line. See --help and README.md.
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "sim/classic_panel.h"
#include "sim/control.h"
#include "sim/graphic_terminal.h"
#include "sim/image.h"
#include "sim/options.h"
#include "sim/server.h"

using namespace quiblink::sim;

namespace {

int Fail(const std::string &text) {
  std::fprintf(stderr, "quiblink-sim: %s\n", text.c_str());
  return 2;
}

int RunControlClient(const std::vector<std::string> &args) {
  if (args.size() < 3) return Fail("usage: quiblink-sim ctl SOCKET COMMAND...");
  std::string command;
  for (size_t i = 2; i < args.size(); ++i) command += (i > 2 ? " " : "") + args[i];
  std::string reply, error;
  if (!SendControl(args[1], command, &reply, &error)) return Fail(error);
  std::printf("%s\n", reply.c_str());
  return reply.rfind("ok", 0) == 0 ? 0 : 1;
}

std::string LinkTarget(const std::string &path) {
  char target[4096];
  ssize_t n = readlink(path.c_str(), target, sizeof target);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "ctl") return RunControlClient(args);
  std::string error;
  std::optional<Options> options = ParseOptions(args, &error);
  if (!options) return Fail(error + " (see --help)");
  if (options->help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  const Options &o = *options;

  std::unique_ptr<Terminal> terminal;
  if (o.family == Family::kClassic) {
    terminal = std::make_unique<ClassicPanel>(o.model);
  } else {
    GraphicConfig config{o.password, static_cast<uint8_t>(o.type), o.project_name.value_or(""),
                         static_cast<uint16_t>(o.name_group)};
    terminal = std::make_unique<GraphicTerminal>(config);
  }
  if (!o.image_path.empty()) {
    if (!CheckImageFolder(o.image_path, &error)) return Fail(error);
    Image image;
    bool exists = false;
    if (!LoadImage(o.image_path, &image, &exists, &error)) return Fail(error);
    if (exists) {
      error = terminal->FromImage(image);
      if (!error.empty()) return Fail(o.image_path + ": " + error);
    }
    if (o.project_name && o.family == Family::kGraphic) {
      terminal->Control({"set", "name", *o.project_name});
    }
  }

  // Signals arrive through a descriptor, so the loop never stops half-way through a write.
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGHUP);
  sigprocmask(SIG_BLOCK, &mask, nullptr);
  int signal_fd = signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signal_fd < 0) return Fail("signalfd failed");
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<SerialLine> line =
      o.device.empty() ? SerialLine::OpenPty(&error)
                       : SerialLine::OpenDevice(o.device, o.EffectiveBaud(), o.family, &error);
  if (!line) return Fail(error);

  TimePoint origin = Clock::now();
  FrameLog log;
  if (!o.log_path.empty() && !log.Open(o.log_path, o.log_full, origin, &error)) return Fail(error);

  ServerConfig config;
  config.timing = LineTiming{o.EffectiveBaud(), o.BitsPerChar(), o.pacing.value_or(line->is_pty())};
  config.turnaround = std::chrono::milliseconds(o.turnaround_ms);
  config.follow_baud = o.follow_baud;
  config.image_path = o.image_path;
  config.exit_after_idle = o.exit_after_idle;
  Server server(*terminal, *line, log, config);
  for (const std::string &text : o.faults) server.faults().Arm(*ParseFault(text, o.family, &error));

  std::unique_ptr<ControlServer> control;
  if (!o.control_path.empty()) {
    control = ControlServer::Listen(o.control_path, &error);
    if (!control) return Fail(error);
    server.SetControl(control.get());
  }
  if (!o.path_file.empty()) {
    std::ofstream out(o.path_file, std::ios::trunc);
    out << line->path() << "\n";
    if (!out) return Fail("cannot write " + o.path_file);
  }
  if (!o.link_path.empty()) {
    // Only a symbolic link may be replaced: a file at that path is the user's.
    struct stat existing {};
    if (lstat(o.link_path.c_str(), &existing) == 0) {
      if (!S_ISLNK(existing.st_mode)) {
        return Fail("--link " + o.link_path +
                    ": exists and is not a symbolic link; not replacing it");
      }
      unlink(o.link_path.c_str());
    }
    if (symlink(line->path().c_str(), o.link_path.c_str()) != 0) {
      return Fail("cannot link " + o.link_path + ": " + std::strerror(errno));
    }
  }
  log.Note(origin, std::string("serving ") + line->path() + " as " + FamilyName(o.family) +
                       " terminal at " + std::to_string(config.timing.baud) + " baud" +
                       (config.timing.paced ? ", paced" : ""));
  // Everything is in place before the path is announced: a script that reads it may start.
  std::printf("quiblink-sim: serving %s\n", line->path().c_str());
  std::fflush(stdout);

  int code = server.Run(signal_fd);
  if (!o.link_path.empty() && LinkTarget(o.link_path) == line->path()) unlink(o.link_path.c_str());
  close(signal_fd);
  return code;
}
