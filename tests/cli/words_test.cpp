// What the tool says: refusals name the argument and its valid values, failures say what
// happened and nothing stale, values carry their names and signs.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "sim/sim_process.h"

namespace quiblink::test {
namespace {

using Args = std::vector<std::string>;

size_t Count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class CliWords : public ::testing::Test {
 protected:
  void Start(const std::string &family) {
    sim_ = sim::SimProcess::Start(QUIBLINK_SIM_PATH,
                                  {"--family", family, "--no-pacing", "--type", "0xC3"});
  }
  RunResult Run(Args args, const RunOptions &options = {}) {
    args.insert(args.begin(), {"--port", sim_->path()});
    return RunCli(args, options);
  }

  std::unique_ptr<sim::SimProcess> sim_;
  ScratchDir dir_;
};

TEST_F(CliWords, RefusalsNameTheArgumentAndItsValidValues) {
  Start("graphic");
  WriteFileText(dir_.File("data.bin"), "data");
  struct Case {
    Args args;
    std::string message;
  };
  const Case cases[] = {
      {{"read-area", "7"}, "area 7: readable areas are 3-6 and 240-242"},
      {{"read-area", "0x1FF"}, "area 511: readable areas are 3-6 and 240-242"},
      {{"write-area", "2", "--hex", "00"},
       "area 2: writable areas are 1 (grouped, with --group) and 3-6"},
      {{"upload", dir_.File("data.bin"), "--area", "240"}, "area 240: writable areas are"},
      {{"baud", "0x84"}, "baud code 0x84: use 0x81, 0x82 or 0x83"},
      {{"baud", "0x181"}, "baud code 0x181: use 0x81, 0x82 or 0x83"},
      {{"os-install", dir_.File("data.bin"), "--option", "0x40"},
       "option byte 0x40: use 0x00 or 0x80"},
      {{"read-group", "0"}, "group: '0' is not a number from 1 to 65535"},
      {{"--model", "0", "classic", "read", "0", "4", "--area", "4"},
       "area 4: classic areas are 0-3"},
      {{"--model", "3", "classic", "read", "0", "3"},
       "count 3: model 3 moves whole words: use an even count"},
  };
  for (const auto &c : cases) {
    RunResult r = Run(c.args);
    EXPECT_EQ(r.status, 2) << c.args[0] << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_EQ(sim_->Command("stats").rfind("requests=0 ", 0), 0u)
      << "a refused call reached the line";
}

TEST_F(CliWords, OpenFailuresNameTheDeviceAndTheReason) {
  ScratchDir dir;
  WriteFileText(dir.File("plain-file"), "");
  struct Case {
    Args args;
    std::map<std::string, std::string> env;
    std::string message;
  };
  const Case cases[] = {
      {{"--port", "/dev/quiblink-no-such-device", "info"},
       {},
       ": /dev/quiblink-no-such-device: No such file or directory (errno 2)"},
      {{"--port", "COM4", "classic", "read", "0", "2"},
       {{"QUIBLINK_COM4", "/nonexistent/tty"}},
       ": /nonexistent/tty: No such file or directory (errno 2)"},
      {{"--port", dir.File("plain-file"), "offline"},
       {},
       dir.File("plain-file") + ": Inappropriate ioctl for device (errno 25; not a serial device)"},
  };
  for (const auto &c : cases) {
    RunOptions options;
    options.env = c.env;
    RunResult r = RunCli(c.args, options);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("failed: -1 RC_PORT_OPEN_FAILED"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

TEST_F(CliWords, InfoNamesEveryValueWithItsSign) {
  Start("graphic");
  sim_->Command("set memdata 0x8000 0xFFFF 7");
  sim_->Command("set osinfo 0xFFFFFFFF 0x80000000");
  sim_->Command("set projinfo 0x80000001 2");
  // A byte above ASCII: the table shows it as \xNN, JSON as the character of that number.
  sim_->Command("set name A\xE9");
  RunResult table = Run({"info"});
  ASSERT_EQ(table.status, 0) << table.err;
  for (const char *line : {
           "terminal type                195 (0xC3)",
           "OS information, entry 0x00   4294967295 (0xFFFFFFFF)",
           "OS information, entry 0x80   2147483648 (0x80000000)",
           "memory value 1 (signed)      -32768",
           "memory value 2 (signed)      -1",
           "memory value 3 (signed)      7",
           "project name                 \"A\\xE9\" (2 bytes)",
           "project value 1              2147483649 (0x80000001)",
           "project value 2              2 (0x00000002)",
       }) {
    EXPECT_NE(table.out.find(line), std::string::npos) << line << "\n" << table.out;
  }
  RunResult json = Run({"info", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  for (const char *part : {
           "\"terminal_type\": 195",
           "\"os_info\": {\"entry_00\": 4294967295, \"entry_80\": 2147483648}",
           "\"mem_data\": {\"value1\": -32768, \"value2\": -1, \"value3\": 7}",
           "\"project\": {\"name\": \"A\\u00e9\", \"value1\": 2147483649, \"value2\": 2}",
       }) {
    EXPECT_NE(json.out.find(part), std::string::npos) << part << "\n" << json.out;
  }
}

TEST_F(CliWords, CountsAreSingularForOneByte) {
  Start("graphic");
  RunResult r = Run({"write-area", "3", "--hex", "AB"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "write-area: 1 byte written to area 3\n");
  RunResult two = Run({"write-area", "3", "--hex", "ABCD"});
  EXPECT_EQ(two.out, "write-area: 2 bytes written to area 3\n");
}

TEST_F(CliWords, AFailureAfterAnAcceptedBlockShowsNoStaleStatus) {
  Start("graphic");
  sim_->Command("group 3 " + HexOf(Pattern(3000, 5)));
  // The first block is accepted with status 0; the second reply is out of sequence.
  sim_->Arm("wrong-seq:every=2");
  RunResult r = Run({"read-group", "3"});
  EXPECT_EQ(r.status, 5) << r.err;
  EXPECT_NE(r.err.find("-32 RC_SEQUENCE:"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("terminal status"), std::string::npos) << r.err;
}

TEST_F(CliWords, AGarbledFirstReplyPointsAtTheLineSettings) {
  struct Case {
    std::string family, fault;
    Args args;
    std::string failure, hint;
  };
  const Case cases[] = {
      {"graphic",
       "wrong-start:always",
       {"offline"},
       "-20 RC_BAD_START",
       "8 data bits, even parity"},
      {"graphic",
       "bad-checksum:always",
       {"offline"},
       "-17 RC_CHECKSUM",
       "check the line speed (--baud)"},
      {"classic",
       "bad-checksum:always",
       {"classic", "read", "0", "2"},
       "-17 RC_CHECKSUM",
       "classic panels use 9600 baud, 7 data bits"},
  };
  for (const auto &c : cases) {
    Start(c.family);
    sim_->Arm(c.fault);
    RunResult r = Run(c.args);
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_NE(r.err.find(c.failure), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.hint), std::string::npos) << r.err;
  }
}

TEST_F(CliWords, AGroupTheTerminalDoesNotHaveIsAFailure) {
  Start("graphic");
  sim_->Command("group 2 " + HexOf("held"));
  RunResult missing = Run({"read-group", "9"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("group 9: the terminal has no such group (it sent no data)"),
            std::string::npos)
      << missing.err;
  EXPECT_EQ(Run({"read-group", "2"}).status, 0);
}

TEST_F(CliWords, ClassicReadsShowProgressOnATerminal) {
  Start("classic");
  Args read = {"--port", sim_->path(), "classic", "read", "0", "600", "--format", "raw"};
  RunResult pty = RunCliOnPty(read);
  ASSERT_EQ(pty.status, 0) << pty.out;
  EXPECT_NE(pty.out.find("\rclassic read ["), std::string::npos) << pty.out;
  EXPECT_NE(pty.out.find("100%  600 B / 600 B"), std::string::npos) << pty.out;
  // Pieces cut as the library cuts: 600 bytes are 10 requests, as one read would make them.
  EXPECT_NE(sim_->Command("state").find("reads=10 "), std::string::npos) << sim_->Command("state");

  RunResult pipe = RunCli(read);
  ASSERT_EQ(pipe.status, 0) << pipe.err;
  EXPECT_EQ(pipe.out.size(), 600u);
  EXPECT_EQ(pipe.err, "classic read: 600 bytes from address 0 (0x0), area 0\n");
}

TEST_F(CliWords, TheExitStatusesAreToldOnce) {
  RunResult top = RunCli({"--help"});
  ASSERT_EQ(top.status, 0);
  EXPECT_EQ(Count(top.out, "Exit status:"), 1u) << top.out;
  for (const Args &args : {Args{"backup", "--help"}, Args{"classic", "read", "--help"},
                           Args{"check-password", "--help"}, Args{"demo", "--help"}}) {
    RunResult r = RunCli(args);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_EQ(r.out.find("Exit status"), std::string::npos) << args[0] << "\n" << r.out;
  }
}

}  // namespace
}  // namespace quiblink::test
