// `classic read` and `classic write`: classic panel memory.
#include <algorithm>
#include <string>

#include "command_support.h"
#include "failure.h"
#include "progress.h"

namespace quiblink::cli {
namespace {

// Model code 3: logical addresses from here on sit 8 higher on the wire, and a request never
// crosses this address.
constexpr long long kModel3Gap = 3960;
// A read is made in pieces of this many bytes (four requests), so that progress can be shown;
// pieces cut where the library cuts, so the requests on the line are those of one read.
constexpr size_t kReadPiece = 256;

struct ClassicOptions {
  int32_t address = 0;
  uint16_t count = 0;
  long long area = 0;
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

// Model 3 moves whole words: an odd count, or an odd stretch up to the address gap, cannot
// travel.
void CheckWords(const Connection &connection, long long address, size_t count) {
  if (connection.model != 3) return;
  if (count % 2 != 0) {
    throw UsageError("count " + std::to_string(count) +
                     ": model 3 moves whole words: use an even count");
  }
  long long end = address + static_cast<long long>(count);
  if (address < kModel3Gap && end > kModel3Gap && (kModel3Gap - address) % 2 != 0) {
    throw UsageError("address " + std::to_string(address) +
                     ": model 3 moves whole words and cuts at address 3960: start at an even "
                     "distance from it");
  }
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
  AddNumber(cmd, "count", read->count, "number of bytes, 1-65535 (model 3: even)", 1, 65535)
      ->required();
  AddRawNumber(cmd, "-a,--area", read->area, "memory area 0-3 (not used by model 3)");
  AddOutputOptions(cmd, read->output);
  SetAction(cmd, dispatch, [&connection, read] {
    if (read->area < 0 || read->area > 3) {
      throw UsageError("area " + std::to_string(read->area) + ": classic areas are 0-3");
    }
    CheckWords(connection, read->address, read->count);
    CheckOutputPath(read->output.file.empty() ? "-" : read->output.file);
    auto session = Session::Classic(connection);
    Bytes data(read->count);
    ProgressBar bar("classic read", data.size(), session.progress());
    try {
      for (size_t done = 0; done < data.size();) {
        long long at = read->address + static_cast<long long>(done);
        size_t piece = std::min(kReadPiece, data.size() - done);
        if (connection.model == 3 && at < kModel3Gap &&
            at + static_cast<long long>(piece) > kModel3Gap) {
          piece = static_cast<size_t>(kModel3Gap - at);
        }
        session.channel().read(static_cast<uint16_t>(read->area), static_cast<int32_t>(at),
                               std::span(data).subspan(done, piece));
        done += piece;
        bar.Update(done, data.size());
      }
    } catch (const Error &error) {
      Explain(error, connection, data.size());
    }
    bar.Finish();
    EmitData(read->output, data, read->address);
    Report(&read->output, "classic read: " + ByteCount(data.size()) + " from " +
                              Where(read->address) + ", area " + std::to_string(read->area));
    return kExitOk;
  });

  auto write = std::make_shared<ClassicOptions>();
  cmd = classic->add_subcommand("write", "write panel memory (area 0)");
  cmd->fallthrough();
  AddNumber(cmd, "address", write->address, "logical start address")->required();
  AddInputOptions(cmd, write->input);
  SetAction(cmd, dispatch, [&connection, write] {
    Bytes data = GatherInput(write->input, kMaxClassicTransfer);
    CheckWords(connection, write->address, data.size());
    auto session = Session::Classic(connection);
    try {
      session.channel().write(write->address, data);
    } catch (const Error &error) {
      Explain(error, connection, data.size());
    }
    Report(nullptr, "classic write: " + ByteCount(data.size()) + " to " + Where(write->address));
    return kExitOk;
  });
}

}  // namespace quiblink::cli
