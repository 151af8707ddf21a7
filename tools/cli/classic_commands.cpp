// `classic read` and `classic write`: classic panel memory.
#include <string>

#include "command_support.h"
#include "failure.h"

namespace quiblink::cli {
namespace {

struct ClassicOptions {
  int32_t address = 0;
  uint16_t count = 0;
  uint16_t area = 0;
  OutputOptions output;
  InputOptions input;
};

// The library refuses odd counts with model 3 as a bad argument; say why.
void Explain(const Error &error, const Connection &connection, size_t count) {
  if (error.code() == RC_BAD_ARGUMENT && connection.model == 3 && count % 2 != 0) {
    throw UsageError(DescribeFailure(error) + " (model 3 moves whole words: use an even count)");
  }
  throw error;
}

std::string Where(int32_t address) {
  char text[48];
  std::snprintf(text, sizeof text, "address %d (0x%X)", address, static_cast<unsigned>(address));
  return text;
}

}  // namespace

void AddClassicCommands(CLI::App &app, Connection &connection, Dispatch &dispatch) {
  auto *classic = app.add_subcommand("classic", "classic panel memory (9600 baud, 7E1)")
                      ->group("Classic panel")
                      ->require_subcommand(1);
  classic->fallthrough();

  auto read = std::make_shared<ClassicOptions>();
  auto *cmd = classic->add_subcommand("read", "read panel memory");
  cmd->fallthrough();
  AddNumber(cmd, "address", read->address, "logical start address")->required();
  AddNumber(cmd, "count", read->count, "number of bytes (model 3: even)", 1, 65535)->required();
  AddNumber(cmd, "-a,--area", read->area, "memory area 0..3 (not used by model 3)");
  AddOutputOptions(cmd, read->output);
  SetAction(cmd, dispatch, [&connection, read] {
    auto session = Session::Classic(connection);
    Bytes data(read->count);
    try {
      session.channel().read(read->area, read->address, data);
    } catch (const Error &error) {
      Explain(error, connection, data.size());
    }
    EmitData(read->output, data, read->address);
    Report(&read->output, "classic read: " + std::to_string(data.size()) + " bytes from " +
                              Where(read->address) + ", area " + std::to_string(read->area));
    return kExitOk;
  });

  auto write = std::make_shared<ClassicOptions>();
  cmd = classic->add_subcommand("write", "write panel memory (area 0)");
  cmd->fallthrough();
  AddNumber(cmd, "address", write->address, "logical start address")->required();
  AddInputOptions(cmd, write->input);
  SetAction(cmd, dispatch, [&connection, write] {
    Bytes data = GatherInput(write->input);
    if (data.size() > 65535) throw UsageError("at most 65535 bytes can be written at once");
    auto session = Session::Classic(connection);
    try {
      session.channel().write(write->address, data);
    } catch (const Error &error) {
      Explain(error, connection, data.size());
    }
    Report(nullptr,
           "classic write: " + std::to_string(data.size()) + " bytes to " + Where(write->address));
    return kExitOk;
  });
}

}  // namespace quiblink::cli
