// `info`: what the terminal says about itself, as a table or as JSON.
#include <cstdio>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "backup/manifest.h"
#include "backup/terminal_steps.h"
#include "command_support.h"
#include "failure.h"
#include "wire/hex.h"

namespace quiblink::cli {
namespace {

std::string Hex32(uint32_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string Unsigned32(uint32_t value) {
  return std::to_string(value) + " (" + Hex32(value) + ")";
}

// What the terminal reports, by the names of the replies' fields. The terminal alone defines
// what the values measure; the memory values arrive as signed 16-bit numbers, the others as
// unsigned ones.
void PrintTable(const Connection &connection, const backup::TerminalInfo &info) {
  auto row = [](const char *label, const std::string &value) {
    std::printf("  %-28s %s\n", label, value.c_str());
  };
  char type[32];
  std::snprintf(type, sizeof type, "%u (0x%02X)", info.type, info.type);
  std::printf("Terminal on %s at %u baud\n", connection.port.c_str(), connection.baud);
  row("terminal type", type);
  row("OS information, entry 0x00", Unsigned32(info.os_entry_00));
  row("OS information, entry 0x80", Unsigned32(info.os_entry_80));
  row("memory value 1 (signed)", std::to_string(info.memory[0]));
  row("memory value 2 (signed)", std::to_string(info.memory[1]));
  row("memory value 3 (signed)", std::to_string(info.memory[2]));
  row("project name",
      wire::Quoted(info.project_name) + " (" + ByteCount(info.project_name.size()) + ")");
  row("project value 1", Unsigned32(info.project_value1));
  row("project value 2", Unsigned32(info.project_value2));
}

// One line with a space after each comma and colon, as scripts of this tool read it.
std::string SpacedLine(const nlohmann::ordered_json &value) {
  if (!value.is_object()) return value.dump(-1, ' ', /*ensure_ascii=*/true);
  std::string out;
  for (const auto &item : value.items()) {
    out += (out.empty() ? "{" : ", ") + nlohmann::json(item.key()).dump() + ": " +
           SpacedLine(item.value());
  }
  return out.empty() ? "{}" : out + "}";
}

void PrintJson(const Connection &connection, const backup::TerminalInfo &info) {
  nlohmann::ordered_json json = {{"port", backup::NameToText(connection.port)},
                                 {"baud", connection.baud},
                                 {"terminal_type", info.type}};
  json.update(backup::TerminalReport(info));
  std::cout << SpacedLine(json) << std::endl;
}

}  // namespace

void AddInfoCommand(CLI::App &app, Connection &connection, Dispatch &dispatch) {
  auto json = std::make_shared<bool>(false);
  auto *cmd = AddGraphicCommand(app, "info",
                                "terminal type, operating-system information, memory data and "
                                "project information");
  cmd->add_flag("--json", *json, "print one JSON object instead of the table");
  SetAction(cmd, dispatch, [&connection, json] {
    auto session = Session::Graphic(connection);
    const backup::TerminalInfo info = backup::QueryTerminal(session.channel());
    if (*json) {
      PrintJson(connection, info);
    } else {
      PrintTable(connection, info);
    }
    return kExitOk;
  });
}

}  // namespace quiblink::cli
