// Graphic terminal control commands: offline, start, resets, break, user data, password, baud.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "command_support.h"
#include "failure.h"

namespace quiblink::cli {
namespace {

struct ControlCommand {
  const char *name;
  const char *help;
  void (Channel::*call)() const;
  const char *done;
};

const ControlCommand kControlCommands[] = {
    {"offline", "switch the terminal offline, ready for transfers", &Channel::offline,
     "terminal is offline"},
    {"start", "send the start command (no reply is awaited)", &Channel::start, "start sent"},
    {"reset", "reset the terminal", &Channel::reset_terminal, "terminal reset"},
    {"sw-reset", "software reset of the terminal", &Channel::sw_reset, "terminal software reset"},
    {"break", "break off what the terminal is doing", &Channel::send_break, "break accepted"},
};

std::string ReadLine(std::istream &in) {
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

// From a prompt with echo off when standard input is a terminal, else the first line of it.
std::string ReadPassword() {
  if (isatty(STDIN_FILENO) != 1) return ReadLine(std::cin);
  std::fprintf(stderr, "Password: ");
  std::fflush(stderr);
  termios saved{};
  tcgetattr(STDIN_FILENO, &saved);
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  std::string password = ReadLine(std::cin);
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  std::fprintf(stderr, "\n");
  return password;
}

bool Confirm(const std::string &question) {
  std::fprintf(stderr, "%s [y/N] ", question.c_str());
  std::fflush(stderr);
  std::string answer = ReadLine(std::cin);
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

}  // namespace

void AddGraphicCommands(CLI::App &app, Connection &connection, Dispatch &dispatch) {
  for (const auto &command : kControlCommands) {
    auto *sub = app.add_subcommand(command.name, command.help)->group("Graphic terminal");
    SetAction(sub, dispatch, [&connection, &command] {
      auto session = Session::Graphic(connection);
      (session.channel().*command.call)();
      Report(nullptr, std::string(command.name) + ": " + command.done);
      return kExitOk;
    });
  }

  auto yes = std::make_shared<bool>(false);
  auto *del = app.add_subcommand("delete-user-data", "delete the user data on the terminal")
                  ->group("Graphic terminal");
  del->add_flag("-y,--yes", *yes, "do not ask for confirmation");
  SetAction(del, dispatch, [&connection, yes] {
    if (!*yes && !Confirm("Delete all user data on the terminal at " + connection.port + "?")) {
      Report(nullptr, "delete-user-data: cancelled, nothing was sent");
      return kExitFailed;
    }
    auto session = Session::Graphic(connection);
    session.channel().delete_user_data();
    Report(nullptr, "delete-user-data: user data deleted");
    return kExitOk;
  });

  auto *password = app.add_subcommand("check-password",
                                      "let the terminal check a password (read from a prompt or "
                                      "the first line of standard input)")
                       ->group("Graphic terminal");
  SetAction(password, dispatch, [&connection] {
    std::string text = ReadPassword();
    if (text.size() > 255) throw UsageError("the password is longer than 255 bytes");
    auto session = Session::Graphic(connection);
    session.channel().check_password(
        std::span(reinterpret_cast<const uint8_t *>(text.data()), text.size()));
    Report(nullptr, "check-password: password accepted");
    return kExitOk;
  });

  auto code = std::make_shared<uint16_t>(0);
  auto *baud = app.add_subcommand("baud",
                                  "ask the terminal to change its line speed (code 0x81..0x83); "
                                  "reconnect with the matching --baud afterwards")
                   ->group("Graphic terminal");
  AddNumber(baud, "code", *code, "baud-rate code, 0x81, 0x82 or 0x83")->required();
  SetAction(baud, dispatch, [&connection, code] {
    auto session = Session::Graphic(connection);
    session.channel().change_baud(*code);
    char text[80];
    std::snprintf(text, sizeof text, "baud: terminal accepted baud-rate code 0x%02X", *code);
    Report(nullptr, text);
    return kExitOk;
  });
}

}  // namespace quiblink::cli
