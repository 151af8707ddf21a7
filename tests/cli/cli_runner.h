// Runs the quiblink binary as a user would: arguments, standard input, and its output captured
// through pipes or through a pseudo-terminal.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quiblink::test {

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
  bool timed_out = false;
  long max_rss_kib = 0;  // the child's peak resident memory
};

struct RunOptions {
  std::string input;                       // standard input (closed after it)
  std::map<std::string, std::string> env;  // added to the environment
  std::chrono::seconds limit{60};          // killed after that
  std::string binary;                      // the program to run; empty: the built quiblink
  long long file_size_limit = -1;          // RLIMIT_FSIZE of the child in bytes; -1: none
  bool ignore_sigxfsz = false;             // start the child with SIGXFSZ ignored
};

inline RunOptions WithInput(std::string input) {
  RunOptions options;
  options.input = std::move(input);
  return options;
}

inline RunOptions WithLimit(std::chrono::seconds limit) {
  RunOptions options;
  options.limit = limit;
  return options;
}

// stdin, stdout and stderr are pipes.
RunResult RunCli(const std::vector<std::string> &args, const RunOptions &options = {});

// stdout and stderr are one pseudo-terminal; everything it showed lands in out.
RunResult RunCliOnPty(const std::vector<std::string> &args, const RunOptions &options = {});

std::string ReadFileText(const std::string &path);
void WriteFileText(const std::string &path, const std::string &data);

// A scratch folder removed with the object.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  std::string File(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Deterministic bytes for payloads.
std::string Pattern(size_t size, unsigned seed);

// The same bytes as upper-case hex digits without separators, as the simulator shows them.
std::string HexOf(const std::string &bytes);

}  // namespace quiblink::test
