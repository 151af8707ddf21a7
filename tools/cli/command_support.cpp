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
    std::cout << HexDump(data, base) << std::flush;
  } else {
    std::cout << WordDump(data, base, output.format == "words-be") << std::flush;
  }
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

Bytes GatherInput(const InputOptions &input) {
  if (!input.hex.empty()) {
    if (!input.file.empty()) throw UsageError("give either a file or --hex, not both");
    auto bytes = ParseHexString(input.hex);
    if (!bytes) throw UsageError("--hex: '" + input.hex + "' is not pairs of hex digits");
    if (bytes->empty()) throw UsageError("--hex: no bytes given");
    return *bytes;
  }
  Bytes bytes = ReadInput(input.file.empty() ? "-" : input.file);
  if (bytes.empty()) {
    throw UsageError("nothing to write: " +
                     (input.file.empty() || input.file == "-" ? "standard input" : input.file) +
                     " is empty");
  }
  return bytes;
}

}  // namespace quiblink::cli
