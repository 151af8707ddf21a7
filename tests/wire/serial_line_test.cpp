// The serial line of the simulator and the monitor: a pseudo-terminal that already has its
// settings opens again and again (the C library answers tcsetattr with EINVAL there), and a
// device that is no terminal is still refused.
#include <gtest/gtest.h>

#include <string>

#include "wire/serial_line.h"

namespace quiblink::wire {
namespace {

TEST(SerialLine, APseudoTerminalWithItsSettingsOpensAgainAndAgain) {
  std::string error;
  auto pty = SerialLine::OpenPty(&error);
  ASSERT_TRUE(pty) << error;
  for (Family family : {Family::kGraphic, Family::kGraphic, Family::kClassic, Family::kClassic}) {
    auto line = SerialLine::OpenDevice(pty->path(), 38400, family, &error);
    ASSERT_TRUE(line) << error;
    EXPECT_TRUE(line->Program(9600, family, &error)) << error;
  }
}

TEST(SerialLine, ADeviceThatIsNoTerminalIsRefused) {
  std::string error;
  EXPECT_FALSE(SerialLine::OpenDevice("/dev/null", 38400, Family::kGraphic, &error));
  EXPECT_EQ(error, "tcgetattr: Inappropriate ioctl for device");
}

}  // namespace
}  // namespace quiblink::wire
