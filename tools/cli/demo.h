// `quiblink demo`: a whole session against the terminal simulator, reported step by step.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

#include "data_io.h"
#include "quiblink/quiblink.hpp"

namespace quiblink::cli {

struct DemoSettings {
  std::string simulator;
  uint16_t baud = 38400;
  bool progress = false;
  uint32_t project_size = 12 * 1024;
};

// A check of the demo that did not hold.
class CheckFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline void Expect(bool holds, const std::string &what) {
  if (!holds) throw CheckFailed(what);
}

// Runs call, which must fail with the given result code; returns that failure.
Error ExpectFailure(int code, const std::function<void()> &call);

// "identical, 64 bytes"; throws CheckFailed naming the first difference otherwise.
std::string ExpectSame(const Bytes &got, const Bytes &want);

class DemoReport {
 public:
  explicit DemoReport(std::FILE *out) : out_(out) {}

  void Section(const std::string &title);
  // Runs one step and prints its line. A step runs only while every earlier step of its section
  // held; body returns the detail to print and throws when its check does not hold.
  bool Step(const std::string &name, const std::function<std::string()> &body);
  // Prints the summary line; true when every step ran and held.
  bool Summary();

 private:
  void Line(const char *mark, const std::string &name, const std::string &detail);

  std::FILE *out_;
  bool section_ok_ = true;
  int held_ = 0;
  int failed_ = 0;
  int skipped_ = 0;
};

void RunGraphicDemo(const DemoSettings &settings, DemoReport &report);
void RunClassicDemo(const DemoSettings &settings, uint16_t model, DemoReport &report);

}  // namespace quiblink::cli
