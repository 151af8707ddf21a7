#include "e2e_support.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "support/wire/wire.h"

namespace quiblink::e2e {

Bytes Pattern(size_t size, uint32_t seed) {
  Bytes out(size);
  uint32_t x = seed * 2654435761u + 0x9E3779B9u;
  for (auto &b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 11);
  }
  return out;
}

Bytes FromHex(const std::string &hex) {
  if (hex.size() % 2 != 0) throw std::runtime_error("odd hex: " + hex);
  Bytes out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string ToHex(const Bytes &bytes) {
  return wire::HexText(bytes);
}

Bytes FromText(const std::string &text) {
  return Bytes(text.begin(), text.end());
}

long Field(const std::string &answer, const std::string &name) {
  const std::string key = name + "=";
  size_t at = answer.find(key);
  while (at != std::string::npos && at != 0 && answer[at - 1] != ' ') {
    at = answer.find(key, at + 1);
  }
  if (at == std::string::npos) throw std::runtime_error("no " + name + " in: " + answer);
  return std::stol(answer.substr(at + key.size()), nullptr, 0);
}

void SimTest::StartSim(const std::vector<std::string> &args, uint16_t port) {
  sims_.push_back(sim::SimProcess::Start(QUIBLINK_SIM_PATH, args));
  const std::string variable = "QUIBLINK_COM" + std::to_string(port + 1);
  reaches_.push_back(ReachLine(sims_.back()->path()));
  setenv(variable.c_str(), reaches_.back()->device().c_str(), 1);
  mapped_.push_back(variable);
}

int16_t SimTest::Keep(int16_t handle) {
  if (handle >= 0) open_.push_back(handle);
  return handle;
}

int16_t SimTest::OpenGraphic(uint16_t port, uint16_t baud) {
  return Keep(XQUIB_Open(port, baud, 0));
}

int16_t SimTest::OpenClassic(uint16_t model, uint16_t port) {
  return Keep(QUIB_Open(port, model));
}

void SimTest::Close(int16_t handle) {
  EXPECT_EQ(QUIB_Close(static_cast<uint16_t>(handle)), RC_OK);
  std::erase(open_, handle);
}

void SimTest::TearDown() {
  // The last close of a port waits for its worker, so no thread of this test outlives it.
  for (int16_t handle : open_) {
    EXPECT_EQ(QUIB_Close(static_cast<uint16_t>(handle)), RC_OK) << "handle " << handle;
  }
  open_.clear();
  for (const std::string &variable : mapped_) unsetenv(variable.c_str());
  mapped_.clear();
  reaches_.clear();
  for (auto &sim : sims_) sim->Stop();
  sims_.clear();
}

Bytes SimTest::Peek(uint32_t wire_address, size_t count) {
  char command[64];
  std::snprintf(command, sizeof command, "peek 0x%X %zu", wire_address, count);
  return FromHex(Sim().Command(command));
}

void SimTest::Poke(uint32_t wire_address, const Bytes &data) {
  char command[32];
  std::snprintf(command, sizeof command, "poke 0x%X ", wire_address);
  Sim().Command(command + ToHex(data));
}

}  // namespace quiblink::e2e
