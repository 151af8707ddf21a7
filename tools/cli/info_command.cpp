// `info`: what the terminal says about itself, as a table or as JSON.
#include <cstdio>
#include <iostream>
#include <string>

#include "command_support.h"
#include "failure.h"

namespace quiblink::cli {
namespace {

struct TerminalInfo {
  uint32_t type = 0;
  OsInfo os;
  MemData memory;
  ProjectInfo project;
};

TerminalInfo Query(const Channel &channel) {
  TerminalInfo info;
  info.type = channel.terminal_type();
  info.os = channel.os_info();
  info.memory = channel.mem_data();
  info.project = channel.project_info();
  return info;
}

std::string Hex32(uint32_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string Printable(const std::string &name) {
  std::string out;
  for (unsigned char c : name) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    }
  }
  return out;
}

std::string Unsigned32(uint32_t value) {
  return std::to_string(value) + " (" + Hex32(value) + ")";
}

// What the terminal reports, by the names of the replies' fields. The terminal alone defines
// what the values measure; the memory values arrive as signed 16-bit numbers, the others as
// unsigned ones.
void PrintTable(const Connection &connection, const TerminalInfo &info) {
  auto row = [](const char *label, const std::string &value) {
    std::printf("  %-28s %s\n", label, value.c_str());
  };
  char type[32];
  std::snprintf(type, sizeof type, "%u (0x%02X)", info.type, info.type);
  std::printf("Terminal on %s at %u baud\n", connection.port.c_str(), connection.baud);
  row("terminal type", type);
  row("OS information, entry 0x00", Unsigned32(info.os.first));
  row("OS information, entry 0x80", Unsigned32(info.os.second));
  row("memory value 1 (signed)", std::to_string(info.memory.value1));
  row("memory value 2 (signed)", std::to_string(info.memory.value2));
  row("memory value 3 (signed)", std::to_string(info.memory.value3));
  row("project name",
      "\"" + Printable(info.project.name) + "\" (" + ByteCount(info.project.name.size()) + ")");
  row("project value 1", Unsigned32(info.project.value1));
  row("project value 2", Unsigned32(info.project.value2));
}

void PrintJson(const Connection &connection, const TerminalInfo &info) {
  std::cout << "{\"port\": " << JsonString(connection.port) << ", \"baud\": " << connection.baud
            << ", \"terminal_type\": " << info.type
            << ", \"os_info\": {\"entry_00\": " << info.os.first
            << ", \"entry_80\": " << info.os.second << "}"
            << ", \"mem_data\": {\"value1\": " << info.memory.value1
            << ", \"value2\": " << info.memory.value2 << ", \"value3\": " << info.memory.value3
            << "}"
            << ", \"project\": {\"name\": " << JsonString(info.project.name)
            << ", \"value1\": " << info.project.value1 << ", \"value2\": " << info.project.value2
            << "}}" << std::endl;
}

}  // namespace

void AddInfoCommand(CLI::App &app, Connection &connection, Dispatch &dispatch) {
  auto json = std::make_shared<bool>(false);
  auto *cmd = app.add_subcommand("info",
                                 "terminal type, operating-system information, memory data and "
                                 "project information")
                  ->group("Graphic terminal");
  cmd->add_flag("--json", *json, "print one JSON object instead of the table");
  SetAction(cmd, dispatch, [&connection, json] {
    auto session = Session::Graphic(connection);
    TerminalInfo info = Query(session.channel());
    if (*json) {
      PrintJson(connection, info);
    } else {
      PrintTable(connection, info);
    }
    return kExitOk;
  });
}

}  // namespace quiblink::cli
