// The command line itself: help, bad arguments, ports that cannot be opened.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_runner.h"

namespace quiblink::test {
namespace {

using Args = std::vector<std::string>;

TEST(CliUsage, HelpListsEveryCommandAndTheExitStatuses) {
  RunResult r = RunCli({"--help"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char *command :
       {"info",     "backup",     "read-group",       "read-area",      "write-area",
        "upload",   "os-install", "offline",          "start",          "reset",
        "sw-reset", "break",      "delete-user-data", "check-password", "baud",
        "classic",  "demo",       "--port",           "--baud",         "--model",
        "--trace"}) {
    EXPECT_NE(r.out.find(command), std::string::npos) << command;
  }
  for (const char *status : {"  2  usage error", "  3  port error", "  4  line error",
                             "  5  protocol error", "  6  terminal refusal"}) {
    EXPECT_NE(r.out.find(status), std::string::npos) << status;
  }
  RunResult classic = RunCli({"classic", "--help"});
  EXPECT_EQ(classic.status, 0);
  EXPECT_NE(classic.out.find("read"), std::string::npos);
  EXPECT_NE(classic.out.find("write"), std::string::npos);
}

TEST(CliUsage, BadArgumentsAreUsageErrors) {
  const Args cases[] = {
      {},
      {"no-such-command"},
      {"read-area"},
      {"read-area", "three"},
      {"read-area", "0x1FF"},
      {"read-group", "010x"},
      {"classic"},
      {"classic", "read", "0"},
      {"classic", "read", "0", "0"},
      {"classic", "read", "0", "70000"},
      {"classic", "write", "0", "--hex", "0G"},
      {"classic", "write", "0", "--hex", "123"},
      {"write-area", "3", "--hex", ""},
      {"--baud", "0", "info"},
      {"--port", "LPT1", "info"},
      {"info", "--json", "extra"},
      {"read-area", "3", "--format", "octal"},
      {"os-install", "x.bin", "--part", "c"},
  };
  for (const auto &args : cases) {
    RunResult r = RunCli(args);
    std::string line;
    for (const auto &arg : args) line += arg + " ";
    EXPECT_EQ(r.status, 2) << line << "\n" << r.out << r.err;
    EXPECT_NE(r.err, "") << line;
  }
}

TEST(CliUsage, PortsThatCannotBeOpenedArePortErrors) {
  struct Case {
    Args args;
    std::string message;
  };
  const Case cases[] = {
      {{"--port", "/dev/quiblink-no-such-device", "info"},
       "quiblink info: XQUIB_Open failed: -1 RC_PORT_OPEN_FAILED: the serial port cannot be "
       "opened"},
      {{"--port", "/dev/quiblink-no-such-device", "classic", "read", "0", "2"},
       "quiblink classic read: QUIB_Open failed: -1 RC_PORT_OPEN_FAILED"},
      // The system's reason, naming the device.
      {{"--port", "/dev/quiblink-no-such-device", "info"},
       "or access is denied: /dev/quiblink-no-such-device: No such file or directory (errno 2)\n"},
      {{"--port", "COM12", "offline"},
       "XQUIB_Open failed: -33 RC_BAD_PORT: the port number is above COM10"},
  };
  for (const auto &c : cases) {
    RunResult r = RunCli(c.args);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST(CliUsage, MissingInputFileFailsBeforeAnyPortIsOpened) {
  RunResult r = RunCli({"--port", "/dev/quiblink-no-such-device", "upload", "/nonexistent/x.bin"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("cannot read /nonexistent/x.bin"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace quiblink::test
