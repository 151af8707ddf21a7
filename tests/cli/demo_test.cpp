// `quiblink demo`, the README's main command: every step must be named and must hold.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli_runner.h"

namespace quiblink::test {
namespace {

TEST(CliDemo, RunsEveryStepAndExitsZero) {
  // A smaller project than the default keeps the round trip at the line's pace short.
  RunResult r = RunCli({"demo", "--project-size", "4096"}, WithLimit(std::chrono::seconds(120)));
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
           "back up the terminal to a file",
           "the backup holds each group with its number",
           "delete the user data",
           "restore the backup file",
           "the terminal is as the first read found it",
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

// A stand-in simulator that fails at once: the demo names the binary it chose in its first
// line, then its first step fails.
void WriteFakeSimulator(const std::string &path) {
  WriteFileText(path, "#!/bin/sh\nexit 3\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

TEST(CliDemo, FindsTheSimulatorNextToItselfThenOnPathAndNowhereElse) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.File("bin"));
  std::filesystem::create_directories(dir.File("elsewhere"));
  std::filesystem::create_directories(dir.File("empty"));
  // A moved copy of the tool: no build path may lead it back to the build's simulator.
  const std::string tool = dir.File("bin/quiblink");
  std::filesystem::copy_file(QUIBLINK_CLI_PATH, tool);
  WriteFakeSimulator(dir.File("elsewhere/quiblink-sim"));
  struct Case {
    const char *name;
    bool next_to_it;
    std::string path;
    int status;
    std::string says;
  };
  const Case cases[] = {
      {"on PATH", false, dir.File("empty") + ":" + dir.File("elsewhere"), 1,
       "simulator " + dir.File("elsewhere/quiblink-sim") + "\n"},
      {"nowhere", false, dir.File("empty"), 2, "cannot find quiblink-sim next to"},
      {"next to it", true, dir.File("elsewhere"), 1,
       "simulator " + dir.File("bin/quiblink-sim") + "\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    if (c.next_to_it) WriteFakeSimulator(dir.File("bin/quiblink-sim"));
    RunOptions options;
    options.binary = tool;
    options.env["PATH"] = c.path;
    options.limit = std::chrono::seconds(30);
    RunResult r = RunCli({"demo"}, options);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << r.out << r.err;
  }
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
