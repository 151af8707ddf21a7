// quiblink-sim: one operator terminal on a serial line. See --help and README.md.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "sim/classic_panel.h"
#include "sim/control.h"
#include "sim/graphic_terminal.h"
#include "sim/image.h"
#include "sim/options.h"
#include "sim/server.h"
#include "wire/announce.h"
#include "wire/signals.h"

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

// The terminal the options ask for, with the contents of its image folder when it has one.
std::unique_ptr<Terminal> MakeTerminal(const Options &o, std::string *error) {
  std::unique_ptr<Terminal> terminal;
  if (o.family == Family::kClassic) {
    terminal = std::make_unique<ClassicPanel>(o.model);
  } else {
    GraphicConfig config{o.password, static_cast<uint8_t>(o.type), o.project_name.value_or(""),
                         static_cast<uint16_t>(o.name_group)};
    terminal = std::make_unique<GraphicTerminal>(config);
  }
  if (o.image_path.empty()) return terminal;
  if (!CheckImageFolder(o.image_path, error)) return nullptr;
  Image image;
  bool exists = false;
  if (!LoadImage(o.image_path, &image, &exists, error)) return nullptr;
  if (exists) {
    *error = terminal->FromImage(image);
    if (!error->empty()) {
      *error = o.image_path + ": " + *error;
      return nullptr;
    }
  }
  if (o.project_name && o.family == Family::kGraphic) {
    terminal->Control({"set", "name", *o.project_name});
  }
  return terminal;
}

ServerConfig MakeServerConfig(const Options &o, const SerialLine &line) {
  ServerConfig config;
  config.timing = LineTiming{o.EffectiveBaud(), o.BitsPerChar(), o.pacing.value_or(line.is_pty())};
  config.turnaround = std::chrono::milliseconds(o.turnaround_ms);
  config.follow_baud = o.follow_baud;
  config.image_path = o.image_path;
  config.exit_after_idle = o.exit_after_idle;
  return config;
}

// --link: a symbolic link to the line. Only a symbolic link may be replaced: a file at that path
// is the user's.
bool LinkLine(const std::string &link, const SerialLine &line, std::string *error) {
  struct stat existing {};
  if (lstat(link.c_str(), &existing) == 0) {
    if (!S_ISLNK(existing.st_mode)) {
      *error = "--link " + link + ": exists and is not a symbolic link; not replacing it";
      return false;
    }
    unlink(link.c_str());
  }
  if (symlink(line.path().c_str(), link.c_str()) != 0) {
    *error = "cannot link " + link + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// Serves the line until a signal or the idle limit: the log, the armed faults, the control
// socket and the link are set up first, and the line's path is announced last.
int Serve(const Options &o, Terminal &terminal, SerialLine &line, StopSignals &signals) {
  std::string error;
  TimePoint origin = Clock::now();
  FrameLog log;
  if (!o.log_path.empty() && !log.Open(o.log_path, o.log_full, origin, &error)) return Fail(error);
  const ServerConfig config = MakeServerConfig(o, line);
  Server server(terminal, line, log, config);
  for (const std::string &text : o.faults) server.faults().Arm(*ParseFault(text, o.family, &error));
  std::unique_ptr<ControlServer> control;
  if (!o.control_path.empty()) {
    control = ControlServer::Listen(o.control_path, &error);
    if (!control) return Fail(error);
    server.SetControl(control.get());
  }
  if (!o.link_path.empty() && !LinkLine(o.link_path, line, &error)) return Fail(error);
  log.Note(origin, std::string("serving ") + line.path() + " as " + FamilyName(o.family) +
                       " terminal at " + std::to_string(config.timing.baud) + " baud" +
                       (config.timing.paced ? ", paced" : ""));
  if (!AnnouncePath(line.path(), o.path_file, "quiblink-sim", stdout).empty()) {
    return Fail("cannot write " + o.path_file);
  }
  int code = server.Run(signals);
  if (!o.link_path.empty() && LinkTarget(o.link_path) == line.path()) unlink(o.link_path.c_str());
  return code;
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
  std::unique_ptr<Terminal> terminal = MakeTerminal(o, &error);
  if (!terminal) return Fail(error);
  StopSignals signals;
  if (signals.fd() < 0) return Fail("signalfd failed");
  signal(SIGPIPE, SIG_IGN);
  std::unique_ptr<SerialLine> line =
      o.device.empty() ? SerialLine::OpenPty(&error)
                       : SerialLine::OpenDevice(o.device, o.EffectiveBaud(), o.family, &error);
  if (!line) return Fail(error);
  return Serve(o, *terminal, *line, signals);
}
