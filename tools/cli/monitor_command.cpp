// `quiblink monitor`: a protocol-aware relay between a PC program and a terminal, and
// `quiblink decode`: the same decoder over a capture or a hex dump.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "command_support.h"
#include "failure.h"
#include "monitor/capture.h"
#include "monitor/relay.h"

namespace quiblink::cli {

namespace {

struct MonitorSettings {
  std::string terminal;
  std::string pc;
  bool pc_pty = false;
  std::string path_file;
  std::string family = "auto";
  uint64_t count = 0;
  std::string capture;
  bool json = false;
  bool bytes = false;
  std::string color = "auto";
  uint32_t reply_timeout_ms = 10000;
  uint32_t quiet_ms = 5;
};

std::optional<wire::Family> FamilyOf(const std::string &name) {
  if (name == "classic") return wire::Family::kClassic;
  if (name == "graphic") return wire::Family::kGraphic;
  return std::nullopt;
}

void AddCommonOptions(CLI::App *cmd, MonitorSettings &s) {
  cmd->add_option("--family", s.family,
                  "terminal family; auto tells it from the first frame (default auto)")
      ->check(CLI::IsMember({"classic", "graphic", "auto"}));
  cmd->add_flag("--json", s.json, "one JSON object per frame instead of a line");
  cmd->add_flag("--bytes", s.bytes, "end each line with the frame's bytes");
  cmd->add_option("--color", s.color, "colour flagged lines: auto (on a terminal), always, never")
      ->check(CLI::IsMember({"auto", "always", "never"}));
  AddNumber(cmd, "--reply-timeout", s.reply_timeout_ms,
            "silence, ms, after which a reply counts as missing or stalled (default 10000)", 1,
            600000);
  AddNumber(cmd, "--quiet-time", s.quiet_ms,
            "silence, ms, the PC keeps after an exchange before its next request (default 5)", 0,
            60000);
}

monitor::FormatOptions FormatOf(const MonitorSettings &s) {
  monitor::FormatOptions f;
  f.json = s.json;
  f.bytes = s.bytes;
  f.color = !s.json && (s.color == "always" || (s.color == "auto" && isatty(STDOUT_FILENO) == 1));
  return f;
}

}  // namespace

void AddMonitorCommands(CLI::App &app, Connection &connection, Dispatch &dispatch) {
  auto s = std::make_shared<MonitorSettings>();
  auto *cmd = app.add_subcommand(
      "monitor",
      "relay a PC program's line to a terminal and show every frame, its timing and the rules "
      "it breaks; Ctrl-C ends it with a summary");
  cmd->add_option("--terminal", s->terminal, "the terminal's serial device")
      ->required()
      ->type_name("DEVICE");
  auto *pc = cmd->add_option("--pc", s->pc, "the PC program's serial device")->type_name("DEVICE");
  auto *pty = cmd->add_flag("--pc-pty", s->pc_pty,
                            "make a pseudo-terminal for the PC program and print its path first");
  pc->excludes(pty);
  cmd->add_option("--path-file", s->path_file, "with --pc-pty, also write its path to FILE")
      ->type_name("FILE");
  AddNumber(cmd, "--count", s->count, "stop after N exchanges (default: at Ctrl-C)", 1, 1000000000);
  cmd->add_option("--capture", s->capture,
                  "record every byte with its time in FILE, for `quiblink decode`")
      ->type_name("FILE");
  AddCommonOptions(cmd, *s);
  SetAction(cmd, dispatch, [&connection, s] {
    if (s->pc.empty() && !s->pc_pty) throw UsageError("give the PC side: --pc DEVICE or --pc-pty");
    monitor::RelayOptions options;
    options.terminal = s->terminal;
    options.pc = s->pc;
    options.pc_pty = s->pc_pty;
    options.path_file = s->path_file;
    options.decoder.family = FamilyOf(s->family);
    options.decoder.baud = connection.baud;
    options.decoder.reply_timeout_us = int64_t{s->reply_timeout_ms} * 1000;
    options.decoder.quiet_us = int64_t{s->quiet_ms} * 1000;
    options.count = s->count;
    options.capture = s->capture;
    options.format = FormatOf(*s);
    int status = monitor::RunRelay(options, stdout, stderr);
    return status == 3 ? kExitPort : status == 0 ? kExitOk : kExitFailed;
  });

  auto file = std::make_shared<std::string>();
  auto hex = std::make_shared<bool>(false);
  auto *decode = app.add_subcommand(
      "decode", "show a capture of `quiblink monitor --capture` (or a hex dump) frame by frame");
  decode->add_option("file", *file, "the capture, or a hex dump with --hex")
      ->required()
      ->type_name("FILE");
  decode->add_flag("--hex", *hex,
                   "the file is a hex dump: lines of hex, \">\" PC to terminal, \"<\" back; no "
                   "times, so no timing rules");
  AddCommonOptions(decode, *s);
  SetAction(decode, dispatch, [&connection, s, file, hex, decode] {
    std::ifstream in(*file, std::ios::binary);
    if (!in) throw ToolError("cannot read " + *file);
    // Read and decoded piece by piece: memory does not grow with the capture.
    monitor::CaptureReader reader(in, *hex);
    monitor::DecoderConfig config;
    std::string error;
    if (!reader.Start(&config, &error)) throw ToolError(*file + ": " + error);
    // The capture's settings stand unless given again here.
    if (decode->count("--family") || !config.family) config.family = FamilyOf(s->family);
    if (decode->count("--reply-timeout")) {
      config.reply_timeout_us = int64_t{s->reply_timeout_ms} * 1000;
    }
    if (decode->count("--quiet-time")) config.quiet_us = int64_t{s->quiet_ms} * 1000;
    if (config.baud == 0) config.baud = connection.baud;
    monitor::Decoder decoder(config);
    const monitor::FormatOptions format = FormatOf(*s);
    const bool read = monitor::Replay(
        reader, decoder,
        [&format](const monitor::Record &r) {
          std::printf("%s\n", monitor::FormatRecord(r, format).c_str());
        },
        &error);
    std::fflush(stdout);
    if (!read) throw ToolError(*file + ": " + error);
    std::printf("%s\n",
                monitor::FormatSummary(decoder.summary(), decoder.family(), format).c_str());
    return kExitOk;
  });
}

}  // namespace quiblink::cli
