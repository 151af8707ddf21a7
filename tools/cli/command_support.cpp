#include "command_support.h"

#include <cstdio>
#include <iostream>

#include "failure.h"

namespace quiblink::cli {

void AddOutputOptions(CLI::App *command, OutputOptions &output) {
  command->add_option("-o,--output", output.file, "write the raw bytes to FILE ('-': stdout)")
      ->type_name("FILE");
  command
      ->add_option("-f,--format", output.format,
                   "how to show the bytes without --output: hex, words (16-bit, little-endian), "
                   "words-be, raw")
      ->capture_default_str()
      ->check(CLI::IsMember({"hex", "words", "words-be", "raw"}));
}

void EmitData(const OutputOptions &output, std::span<const uint8_t> data, long long base) {
  if (!output.file.empty()) {
    WriteOutput(output.file, data);
  } else if (output.format == "raw") {
    WriteOutput("-", data);
  } else if (output.format == "hex") {
    std::cout << HexLines(data, base) << std::flush;
  } else {
    std::cout << WordLines(data, base, output.format == "words-be") << std::flush;
  }
}

std::string ToolName() {
  const int v = version();
  return "quiblink " + std::to_string(v / 100) + "." + std::to_string(v / 10 % 10) + "." +
         std::to_string(v % 10);
}

void Report(const OutputOptions *output, const std::string &line) {
  bool data_on_stdout = output != nullptr &&
                        (output->file == "-" || (output->file.empty() && output->format == "raw"));
  std::FILE *stream = data_on_stdout ? stderr : stdout;
  std::fprintf(stream, "%s\n", line.c_str());
  std::fflush(stream);
}

void AddInputOptions(CLI::App *command, InputOptions &input) {
  command->add_option("file", input.file, "file of the bytes to write ('-' or absent: stdin)")
      ->type_name("FILE");
  command->add_option("-x,--hex", input.hex, "the bytes as hex digits, e.g. \"12 34 AB\"")
      ->type_name("HEX");
}

void CheckReadArea(long long area) {
  bool readable = (area >= 3 && area <= 6) || (area >= 240 && area <= 242);
  if (!readable) {
    throw UsageError("area " + std::to_string(area) + ": readable areas are 3-6 and 240-242");
  }
}

void CheckWriteArea(long long area) {
  bool writable = area == 1 || (area >= 3 && area <= 6);
  if (!writable) {
    throw UsageError("area " + std::to_string(area) +
                     ": writable areas are 1 (grouped, with --group) and 3-6");
  }
}

CLI::Option *AddRawNumber(CLI::App *app, const std::string &name, long long &target,
                          const std::string &help) {
  auto *option = app->add_option_function<std::string>(
      name,
      [&target, name](const std::string &text) {
        auto value = ParseNumber(text);
        if (!value) throw CLI::ValidationError(name, "'" + text + "' is not a number");
        target = *value;
      },
      help);
  option->type_name("NUM");
  return option;
}

Bytes GatherInput(const InputOptions &input, uint64_t limit) {
  if (!input.hex.empty()) {
    if (!input.file.empty()) throw UsageError("give either a file or --hex, not both");
    auto bytes = ParseHex(input.hex);
    if (!bytes) throw UsageError("--hex: '" + input.hex + "' is not pairs of hex digits");
    if (bytes->empty()) throw UsageError("--hex: no bytes given");
    if (bytes->size() > limit) {
      throw UsageError("--hex: " + ByteCount(bytes->size()) + ", more than the " +
                       ByteCount(limit) + " one transfer can carry");
    }
    return *bytes;
  }
  Bytes bytes = ReadInput(input.file.empty() ? "-" : input.file, limit);
  if (bytes.empty()) {
    throw UsageError("nothing to write: " +
                     (input.file.empty() || input.file == "-" ? "standard input" : input.file) +
                     " is empty");
  }
  return bytes;
}

}  // namespace quiblink::cli
