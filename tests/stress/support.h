// What the stress and soak programs share: failures collected from many
// threads, simulators mapped to COM ports, hex and random data.
#pragma once

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "sim/sim_process.h"
#include "support/wire/wire.h"

namespace stress {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// Failures from any thread; the first few are kept word for word.
class Failures {
 public:
  void Add(const char *format, ...) __attribute__((format(printf, 2, 3))) {
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::lock_guard<std::mutex> hold(mu_);
    if (count_++ < 40) {
      fprintf(stderr, "FAILED: %s\n", text);
      fflush(stderr);
    }
  }
  long count() {
    std::lock_guard<std::mutex> hold(mu_);
    return count_;
  }

 private:
  std::mutex mu_;
  long count_ = 0;
};

inline std::string Hex(const Bytes &bytes) {
  return wire::HexText(bytes);
}

// The bytes of a simulator's hex answer (empty: none).
inline Bytes FromAnswer(const std::string &hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// One number from a "name=value ..." answer; -1 when absent.
inline long Field(const std::string &answer, const std::string &name) {
  const std::string padded = " " + answer;
  const size_t at = padded.find(" " + name + "=");
  if (at == std::string::npos) return -1;
  return std::stol(padded.substr(at + name.size() + 2), nullptr, 0);
}

inline Bytes RandomBytes(std::mt19937 &rng, size_t n) {
  Bytes out(n);
  for (auto &b : out) b = static_cast<uint8_t>(rng());
  return out;
}

inline uint32_t Between(std::mt19937 &rng, uint32_t lo, uint32_t hi) {
  return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
}

// A simulator in its own process, serving COM(port + 1).
inline std::unique_ptr<quiblink::sim::SimProcess> StartSim(int port,
                                                           const std::vector<std::string> &args) {
  auto sim = quiblink::sim::SimProcess::Start(QUIBLINK_SIM_PATH, args);
  const std::string variable = "QUIBLINK_COM" + std::to_string(port + 1);
  setenv(variable.c_str(), sim->path().c_str(), 1);
  return sim;
}

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace stress
