// Graphic terminal control commands: offline, start, resets, break, user data, password, baud.
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iterator>
#include <optional>
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

// The terminal's settings while a prompt has switched its echo off, for the signal handler.
termios g_saved_terminal{};
volatile sig_atomic_t g_echo_off = 0;
constexpr int kPromptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

// The flag is raised before the echo goes off: a signal that comes between the two then
// restores settings that were still whole, where the other order would leave the echo off.
void QuietTerminal() {
  termios quiet = g_saved_terminal;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  g_echo_off = 1;
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
}

// Puts the echo back before the signal takes its ordinary course; after a stop (Ctrl-Z) and
// a continue the prompt goes on with the echo off again.
void OnPromptSignal(int signo) {
  int saved_errno = errno;
  if (g_echo_off) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  sigaction(signo, &plain, nullptr);
  sigset_t just{};
  sigemptyset(&just);
  sigaddset(&just, signo);
  sigprocmask(SIG_UNBLOCK, &just, nullptr);
  raise(signo);
  // Only a stop comes back here.
  struct sigaction again {};
  again.sa_handler = OnPromptSignal;
  sigaction(signo, &again, nullptr);
  if (g_echo_off) {
    termios quiet = g_saved_terminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  errno = saved_errno;
}

// Echo off for as long as it lives, restored on every way out: return, exception or signal.
class EchoOff {
 public:
  EchoOff() {
    if (tcgetattr(STDIN_FILENO, &g_saved_terminal) != 0) return;
    struct sigaction action {};
    action.sa_handler = OnPromptSignal;
    sigemptyset(&action.sa_mask);
    for (int signo : kPromptSignals) sigaction(signo, &action, &previous_[Index(signo)]);
    QuietTerminal();
    active_ = true;
  }
  ~EchoOff() {
    if (!active_) return;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved_terminal);
    g_echo_off = 0;
    for (int signo : kPromptSignals) sigaction(signo, &previous_[Index(signo)], nullptr);
  }
  EchoOff(const EchoOff &) = delete;
  EchoOff &operator=(const EchoOff &) = delete;

 private:
  static size_t Index(int signo) {
    for (size_t i = 0; i < std::size(kPromptSignals); ++i) {
      if (kPromptSignals[i] == signo) return i;
    }
    return 0;
  }
  bool active_ = false;
  struct sigaction previous_[std::size(kPromptSignals)]{};
};

// The first line of standard input; nullopt when it is at end of file before any line.
std::optional<std::string> ReadLineOrEnd(std::istream &in) {
  std::string line;
  if (!std::getline(in, line) && line.empty()) return std::nullopt;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

// From a prompt with echo off when standard input is a terminal, else the first line of it.
std::optional<std::string> ReadPassword() {
  if (isatty(STDIN_FILENO) != 1) return ReadLineOrEnd(std::cin);
  std::fprintf(stderr, "Password: ");
  std::fflush(stderr);
  std::optional<std::string> password;
  {
    EchoOff quiet;
    password = ReadLineOrEnd(std::cin);
  }
  std::fprintf(stderr, "\n");
  return password;
}

}  // namespace

bool Confirm(const std::string &question) {
  std::fprintf(stderr, "%s [y/N] ", question.c_str());
  std::fflush(stderr);
  std::string answer = ReadLineOrEnd(std::cin).value_or("");
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

void AddGraphicCommands(CLI::App &app, Connection &connection, Dispatch &dispatch) {
  for (const auto &command : kControlCommands) {
    auto *sub = AddGraphicCommand(app, command.name, command.help);
    SetAction(sub, dispatch, [&connection, &command] {
      auto session = Session::Graphic(connection);
      (session.channel().*command.call)();
      Report(nullptr, std::string(command.name) + ": " + command.done);
      return kExitOk;
    });
  }

  auto yes = std::make_shared<bool>(false);
  auto *del = AddGraphicCommand(app, "delete-user-data", "delete the user data on the terminal");
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

  auto empty = std::make_shared<bool>(false);
  auto *password = AddGraphicCommand(app, "check-password",
                                     "let the terminal check a password (read from a prompt or "
                                     "the first line of standard input)");
  password->add_flag("--empty", *empty,
                     "check the empty password (nothing is read); standard input at its end "
                     "is refused otherwise");
  SetAction(password, dispatch, [&connection, empty] {
    std::optional<std::string> text = *empty ? std::string() : ReadPassword();
    if (!text) {
      throw UsageError(
          "no password: standard input ended before a line; give --empty to check the empty "
          "password");
    }
    if (text->size() > 255) throw UsageError("the password is longer than 255 bytes");
    auto session = Session::Graphic(connection);
    session.channel().check_password(
        std::span(reinterpret_cast<const uint8_t *>(text->data()), text->size()));
    Report(nullptr, "check-password: password accepted");
    return kExitOk;
  });

  auto code = std::make_shared<long long>(0);
  auto *baud = AddGraphicCommand(app, "baud",
                                 "ask the terminal to change its line speed (code 0x81-0x83); "
                                 "reconnect with the matching --baud afterwards");
  AddRawNumber(baud, "code", *code, "baud-rate code: 0x81, 0x82 or 0x83")->required();
  SetAction(baud, dispatch, [&connection, code] {
    // Which speed each code stands for is the terminal's matter; the codes themselves are fixed.
    if (*code < 0x81 || *code > 0x83) {
      throw UsageError("baud code " + HexCode(*code) + ": use 0x81, 0x82 or 0x83");
    }
    auto session = Session::Graphic(connection);
    session.channel().change_baud(static_cast<uint16_t>(*code));
    Report(nullptr, "baud: terminal accepted baud-rate code " + HexCode(*code));
    return kExitOk;
  });
}

}  // namespace quiblink::cli
