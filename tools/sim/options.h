// Command line of quiblink-sim.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/wire_names.h"

namespace quiblink::sim {

struct Options {
  Family family = Family::kClassic;
  int model = 0;
  std::string device;          // empty: create a pseudo-terminal
  int baud = 0;                // 0: 9600 classic, 38400 graphic
  std::optional<bool> pacing;  // unset: on for a pseudo-terminal, off for a device
  int turnaround_ms = 0;
  std::string log_path;
  bool log_full = false;
  std::string image_path;
  std::string control_path;
  std::vector<std::string> faults;
  std::string password;
  int type = 0x01;
  std::optional<std::string> project_name;
  int name_group = 0;  // 0: the name is kept apart from the project data
  bool follow_baud = false;
  std::string path_file;
  std::string link_path;
  double exit_after_idle = 0;
  bool help = false;

  int EffectiveBaud() const { return baud ? baud : family == Family::kClassic ? 9600 : 38400; }
  int BitsPerChar() const { return family == Family::kClassic ? 10 : 11; }
};

// nullopt with *error on a bad command line.
std::optional<Options> ParseOptions(const std::vector<std::string> &args, std::string *error);

std::string HelpText();

}  // namespace quiblink::sim
