// `quiblink demo`, the README's main command: every step must be named and must hold.
#include <gtest/gtest.h>

#include <string>

#include "cli_runner.h"

namespace quiblink::test {
namespace {

TEST(CliDemo, RunsEveryStepAndExitsZero) {
  RunResult r = RunCli({"demo"}, WithLimit(std::chrono::seconds(120)));
  ASSERT_FALSE(r.timed_out) << r.out;
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  for (const char *step : {
           "Graphic terminal (38400 baud, 8E1)",
           "start the simulator",
           "open a channel",
           "terminal type",
           "project information",
           "operating-system information",
           "upload a generated project image",
           "the terminal holds each group",
           "back up the grouped area",
           "compare the backup with the upload",
           "a wrong password is refused",
           "Classic panel, model code 0",
           "write 200 bytes at 0x100",
           "read 48 bytes of area 3",
           "Classic panel, model code 3",
           "write 64 bytes across the address gap",
           "the panel holds them on both sides of the gap",
           "a write at address 0 sends the preamble",
           "an odd count is refused",
       }) {
    EXPECT_NE(r.out.find(step), std::string::npos) << step << "\n" << r.out;
  }
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("PASS: "), std::string::npos) << r.out;
  // No progress bars into a pipe.
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
}

TEST(CliDemo, MissingSimulatorIsAUsageError) {
  RunResult r = RunCli({"demo", "--sim", "/nonexistent/quiblink-sim"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--sim: /nonexistent/quiblink-sim is not an executable file"),
            std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace quiblink::test
