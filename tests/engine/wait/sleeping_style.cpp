// Puts the engine in its sleeping style before any test of the program runs.
#include <gtest/gtest.h>

#include "engine/waiting.h"

namespace {

class SleepingStyle : public ::testing::Environment {
 public:
  void SetUp() override { quib::EngineWaitStyle.store(quib::kWaitSleeping); }
};

const ::testing::Environment *const kStyle = ::testing::AddGlobalTestEnvironment(new SleepingStyle);

}  // namespace
