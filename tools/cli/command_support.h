// What the commands share: deferred actions, numeric options, data in and data out.
#pragma once

#include <functional>
#include <limits>
#include <memory>
#include <span>
#include <string>

#include <CLI/CLI.hpp>

#include "connection.h"
#include "data_io.h"

namespace quiblink::cli {

// The chosen command runs after the whole command line has been parsed, so that options given
// after it still count. It returns the exit status.
using Action = std::function<int()>;

struct Dispatch {
  Action action;
};

inline void SetAction(CLI::App *command, Dispatch &dispatch, Action action) {
  command->callback([&dispatch, action] { dispatch.action = action; });
}

// A command for graphic terminals, listed under their heading in the help.
inline CLI::App *AddGraphicCommand(CLI::App &app, const std::string &name,
                                   const std::string &help) {
  return app.add_subcommand(name, help)->group("Graphic terminal");
}

// A number option or positional, decimal or 0x-hexadecimal, checked against [low, high].
template <class T>
CLI::Option *AddNumber(CLI::App *app, const std::string &name, T &target, const std::string &help,
                       long long low = std::numeric_limits<T>::min(),
                       long long high = std::numeric_limits<T>::max()) {
  auto *option = app->add_option_function<std::string>(
      name,
      [&target, low, high, name](const std::string &text) {
        auto value = ParseNumber(text);
        if (!value || *value < low || *value > high) {
          throw CLI::ValidationError(name, "'" + text + "' is not a number from " +
                                               std::to_string(low) + " to " + std::to_string(high));
        }
        target = static_cast<T>(*value);
      },
      help);
  option->type_name("NUM");
  return option;
}

// Where the bytes of a read go: a file, or a dump on standard output.
struct OutputOptions {
  std::string file;
  std::string format = "hex";
};
void AddOutputOptions(CLI::App *command, OutputOptions &output);
// Writes the data; base is the address of the first byte for the dumps.
void EmitData(const OutputOptions &output, std::span<const uint8_t> data, long long base);

// Where the bytes of a write come from: a file, a hex string, or standard input.
struct InputOptions {
  std::string file;
  std::string hex;
};
void AddInputOptions(CLI::App *command, InputOptions &input);
// The bytes to write, at most limit of them; throws before any port is opened.
Bytes GatherInput(const InputOptions &input, uint64_t limit);

// The largest transfers the protocols carry: a graphic write's length is 32 bits, a block
// read's total a signed 32-bit value, a classic transfer's count 16 bits.
constexpr uint64_t kMaxGraphicWrite = 0xFFFFFFFFu;
constexpr uint32_t kMaxGraphicRead = 0x7FFFFFFF;
constexpr uint64_t kMaxClassicTransfer = 0xFFFF;

// The areas of a graphic terminal: block reads take 3-6 and 240-242, block writes 1 and 3-6.
// Throw UsageError naming the area and the valid ones.
void CheckReadArea(long long area);
void CheckWriteArea(long long area);

// A number option or positional checked by a function of its own, which throws UsageError in
// words of the argument (parsed, not yet range-checked: the check runs when the command does).
CLI::Option *AddRawNumber(CLI::App *app, const std::string &name, long long &target,
                          const std::string &help);

// Prints a summary line on standard output, or on standard error while the data itself goes
// to standard output.
void Report(const OutputOptions *output, const std::string &line);

// "quiblink 2.1.1": who made a backup, with the loaded library's version.
std::string ToolName();

// Asks on standard error; true for "y" or "yes" on standard input.
bool Confirm(const std::string &question);

// `backup --raw`: the groups' bytes one after the other, as XQUIB_ReadAll brings them.
int RawBackup(const Connection &connection, const std::string &file, uint32_t capacity);

void AddGraphicCommands(CLI::App &app, Connection &connection, Dispatch &dispatch);
// After AddClassicCommands: it adds `classic backup` and `classic restore` too.
void AddBackupCommands(CLI::App &app, Connection &connection, Dispatch &dispatch);
void AddTransferCommands(CLI::App &app, Connection &connection, Dispatch &dispatch);
void AddInfoCommand(CLI::App &app, Connection &connection, Dispatch &dispatch);
void AddClassicCommands(CLI::App &app, Connection &connection, Dispatch &dispatch);
void AddMonitorCommands(CLI::App &app, Connection &connection, Dispatch &dispatch);
// `fleet` and its subcommands, and the hidden `fleet-worker` its runs start.
void AddFleetCommands(CLI::App &app, Connection &connection, Dispatch &dispatch);
void AddDemoCommand(CLI::App &app, Connection &connection, Dispatch &dispatch,
                    const std::string &argv0);

}  // namespace quiblink::cli
