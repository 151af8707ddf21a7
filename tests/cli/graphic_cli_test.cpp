// The graphic terminal commands, run as a user would against the simulator.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "sim/sim_process.h"

namespace quiblink::test {
namespace {

using Args = std::vector<std::string>;

class GraphicCli : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = sim::SimProcess::Start(QUIBLINK_SIM_PATH,
                                  {"--family", "graphic", "--no-pacing", "--type", "0x2A",
                                   "--project-name", "TEST PROJECT", "--password", "secret"});
  }

  RunResult Run(Args args, const RunOptions &options = {}) {
    args.insert(args.begin(), {"--port", sim_->path()});
    return RunCli(args, options);
  }

  std::string Holds(const std::string &what) { return sim_->Command(what); }

  std::unique_ptr<sim::SimProcess> sim_;
  ScratchDir dir_;
};

TEST_F(GraphicCli, InfoShowsWhatTheTerminalReports) {
  sim_->Command("set memdata 100 200 300");
  sim_->Command("set osinfo 0x01020304 7");
  RunResult table = Run({"info"});
  ASSERT_EQ(table.status, 0) << table.err;
  for (const char *line : {"terminal type                42 (0x2A)",
                           "OS information, entry 0x00   16909060 (0x01020304)",
                           "OS information, entry 0x80   7 (0x00000007)",
                           "memory value 1 (signed)      100", "memory value 3 (signed)      300",
                           "project name                 \"TEST PROJECT\" (12 bytes)"}) {
    EXPECT_NE(table.out.find(line), std::string::npos) << line << "\n" << table.out;
  }

  RunResult json = Run({"info", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("\"terminal_type\": 42"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"os_info\": {\"entry_00\": 16909060, \"entry_80\": 7}"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"mem_data\": {\"value1\": 100, \"value2\": 200, \"value3\": 300}"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"name\": \"TEST PROJECT\""), std::string::npos) << json.out;
}

TEST_F(GraphicCli, UploadLandsInItsGroupAndBackupBringsItBack) {
  // Three chunks, the last one short.
  std::string image = Pattern(2500, 1);
  WriteFileText(dir_.File("project.bin"), image);
  RunResult upload = Run({"upload", dir_.File("project.bin"), "--group", "4", "--verify"});
  ASSERT_EQ(upload.status, 0) << upload.err;
  EXPECT_NE(upload.out.find("2500 bytes uploaded to area 1 group 4, verified"), std::string::npos)
      << upload.out;
  EXPECT_EQ(Holds("group 4"), HexOf(image));

  RunResult backup = Run({"backup", "--raw", dir_.File("backup.bin")});
  ASSERT_EQ(backup.status, 0) << backup.err;
  EXPECT_EQ(ReadFileText(dir_.File("backup.bin")), image);

  RunResult group = Run({"read-group", "4", "-o", dir_.File("group.bin")});
  ASSERT_EQ(group.status, 0) << group.err;
  EXPECT_EQ(ReadFileText(dir_.File("group.bin")), image);
}

TEST_F(GraphicCli, RawBackupOfSeveralGroupsKeepsTheirOrder) {
  sim_->Command("group 9 " + HexOf("ninth"));
  sim_->Command("group 2 " + HexOf("second"));
  RunResult backup = Run({"backup", "--raw", "-"});
  ASSERT_EQ(backup.status, 0) << backup.err;
  EXPECT_EQ(backup.out, "secondninth");
  EXPECT_NE(backup.err.find("11 bytes of the grouped area"), std::string::npos) << backup.err;
}

TEST_F(GraphicCli, ReadLargerThanMaxSizeStopsWithoutWritingTheFile) {
  sim_->Command("group 3 " + HexOf(Pattern(3000, 2)));
  RunResult r = Run({"backup", dir_.File("b.bin"), "--max-size", "2048"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("-40 RC_BUFFER_TOO_SMALL"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("more than 2048 bytes: raise --max-size"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir_.File("b.bin")));
}

TEST_F(GraphicCli, ReadsShowTheBytesInTheChosenForm) {
  sim_->Command("area 4 " + HexOf(std::string("\x01\x02\x03\x04\x41", 5)));
  struct Case {
    Args args;
    std::string out;
  };
  const Case cases[] = {
      {{"read-area", "4"}, "00000000  01 02 03 04 41"},
      {{"read-area", "4", "--format", "words"}, "00000000  0201 0403 41\n"},
      {{"read-area", "4", "--format", "words-be"}, "00000000  0102 0304 41\n"},
      {{"read-area", "4", "--format", "raw"}, std::string("\x01\x02\x03\x04\x41", 5)},
  };
  for (const auto &c : cases) {
    RunResult r = Run(c.args);
    ASSERT_EQ(r.status, 0) << c.args.back() << ": " << r.err;
    EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << c.args.back();
  }
}

TEST_F(GraphicCli, WriteAreaTakesAFileHexOrStandardInput) {
  WriteFileText(dir_.File("data.bin"), "from a file");
  struct Case {
    Args args;
    std::string input;
    std::string held;
  };
  const Case cases[] = {
      {{"write-area", "3", dir_.File("data.bin")}, "", "from a file"},
      {{"write-area", "5", "--hex", "de ad:BE EF"}, "", "\xDE\xAD\xBE\xEF"},
      {{"write-area", "6"}, "from standard input", "from standard input"},
      {{"write-area", "1", "--group", "0x102", "--hex", "0102"}, "", "\x01\x02"},
  };
  for (const auto &c : cases) {
    RunResult r = Run(c.args, WithInput(c.input));
    ASSERT_EQ(r.status, 0) << c.args[1] << ": " << r.err;
    std::string where = c.args[1] == "1" ? "group 258" : "area " + c.args[1];
    EXPECT_EQ(Holds(where), HexOf(c.held)) << where;
  }
}

TEST_F(GraphicCli, OsInstallStoresThePartAndOption) {
  std::string os = Pattern(1500, 7);
  WriteFileText(dir_.File("os.bin"), os);
  RunResult r = Run({"os-install", dir_.File("os.bin"), "--part", "b", "--option", "0x80"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Holds("os b 0x80"), HexOf(os));
  EXPECT_EQ(Holds("os a 0x00"), "");
}

TEST_F(GraphicCli, ControlCommandsReachTheTerminal) {
  struct Case {
    const char *command;
    const char *state;  // what the terminal counts afterwards
  };
  const Case cases[] = {
      {"offline", "offline=1"},
      {"reset", "resets=1"},
      {"sw-reset", "sw_resets=1"},
      {"break", "breaks=1"},
  };
  for (const auto &c : cases) {
    RunResult r = Run({c.command});
    ASSERT_EQ(r.status, 0) << c.command << ": " << r.err;
    EXPECT_EQ(r.out.rfind(std::string(c.command) + ": ", 0), 0u) << r.out;
    EXPECT_NE(Holds("state").find(c.state), std::string::npos) << c.command;
  }
}

TEST_F(GraphicCli, StartIsSentWithoutAwaitingAReply) {
  RunResult r = Run({"start"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The tool is done once the frame has left; the terminal takes it in its own time.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (Holds("state").find("offline=1") == std::string::npos) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the start frame never arrived";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TEST_F(GraphicCli, DeleteUserDataAsksUnlessTold) {
  struct Case {
    Args args;
    std::string input;
    int status;
    const char *deletes;
  };
  const Case cases[] = {
      {{"delete-user-data"}, "n\n", 1, "deletes=0"},
      {{"delete-user-data"}, "", 1, "deletes=0"},
      {{"delete-user-data"}, "yes\n", 0, "deletes=1"},
      {{"delete-user-data", "--yes"}, "", 0, "deletes=2"},
  };
  for (const auto &c : cases) {
    RunResult r = Run(c.args, WithInput(c.input));
    EXPECT_EQ(r.status, c.status) << c.input << r.err;
    EXPECT_NE(Holds("state").find(c.deletes), std::string::npos) << c.input;
  }
}

TEST_F(GraphicCli, CheckPasswordReadsStandardInputOnly) {
  RunResult right = Run({"check-password"}, WithInput("secret\n"));
  EXPECT_EQ(right.status, 0) << right.err;

  RunResult wrong = Run({"check-password"}, WithInput("guess\n"));
  EXPECT_EQ(wrong.status, 6);
  EXPECT_NE(wrong.err.find("-36 RC_TERMINAL_ERROR"), std::string::npos) << wrong.err;
  EXPECT_NE(wrong.err.find("terminal status 5 (0x05)"), std::string::npos) << wrong.err;

  RunResult on_command_line = Run({"check-password", "secret"});
  EXPECT_EQ(on_command_line.status, 2);
  EXPECT_NE(Holds("state").find("password_checks=2"), std::string::npos);
}

TEST_F(GraphicCli, BaudCodeGoesToTheTerminalAndBadCodesAreRefused) {
  RunResult good = Run({"baud", "0x82"});
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_NE(Holds("state").find("baud_code=0x82"), std::string::npos);

  RunResult bad = Run({"baud", "0x80"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("baud code 0x80: use 0x81, 0x82 or 0x83"), std::string::npos) << bad.err;
  EXPECT_NE(Holds("state").find("baud_code=0x82"), std::string::npos) << "nothing more was sent";
}

TEST_F(GraphicCli, RefusingTerminalFailsEachCommandWithItsStatus) {
  WriteFileText(dir_.File("data.bin"), "payload");
  sim_->Arm("status=5:always");
  struct Case {
    Args args;
    std::string input;
  };
  const Case cases[] = {
      {{"info"}, ""},
      {{"backup", dir_.File("out.bin")}, ""},
      {{"read-group", "1"}, ""},
      {{"read-area", "3"}, ""},
      {{"write-area", "3", "--hex", "00"}, ""},
      {{"upload", dir_.File("data.bin")}, ""},
      {{"os-install", dir_.File("data.bin")}, ""},
      {{"offline"}, ""},
      {{"reset"}, ""},
      {{"sw-reset"}, ""},
      {{"break"}, ""},
      {{"delete-user-data", "--yes"}, ""},
      {{"check-password"}, "secret\n"},
      {{"baud", "0x81"}, ""},
  };
  for (const auto &c : cases) {
    RunResult r = Run(c.args, WithInput(c.input));
    EXPECT_EQ(r.status, 6) << c.args[0] << ": " << r.err;
    EXPECT_NE(r.err.find("failed: -36 RC_TERMINAL_ERROR: the terminal refused the request"),
              std::string::npos)
        << c.args[0] << ": " << r.err;
    EXPECT_NE(r.err.find("terminal status 5 (0x05)\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
  }
  // Start awaits no reply, so a refusal cannot reach it.
  EXPECT_EQ(Run({"start"}).status, 0);
}

TEST_F(GraphicCli, MalformedReplyIsAProtocolError) {
  sim_->Arm("wrong-echo:always");
  RunResult r = Run({"offline"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("XQUIB_Offline failed: -31 RC_BAD_ECHO"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("terminal status"), std::string::npos) << r.err;
}

TEST_F(GraphicCli, TraceShowsTheLibrarysLines) {
  RunResult r = Run({"--trace", "offline"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("trace: OFFLINE command\n"), std::string::npos) << r.err;
  EXPECT_EQ(Run({"offline"}).err.find("trace:"), std::string::npos);
}

TEST_F(GraphicCli, ProgressIsDrawnOnATerminalOnly) {
  WriteFileText(dir_.File("image.bin"), Pattern(3000, 3));
  Args upload = {"--port", sim_->path(), "upload", dir_.File("image.bin")};

  RunResult pty = RunCliOnPty(upload);
  ASSERT_EQ(pty.status, 0) << pty.out;
  EXPECT_NE(pty.out.find("\rupload ["), std::string::npos) << pty.out;
  EXPECT_NE(pty.out.find("100%  2.9 KiB / 2.9 KiB"), std::string::npos) << pty.out;
  EXPECT_NE(pty.out.find("/s"), std::string::npos) << pty.out;

  RunResult pipe = RunCli(upload);
  ASSERT_EQ(pipe.status, 0) << pipe.err;
  EXPECT_EQ(pipe.err, "");
  EXPECT_EQ(pipe.out.find('\r'), std::string::npos);

  Args quiet = upload;
  quiet.push_back("--no-progress");
  RunResult off = RunCliOnPty(quiet);
  ASSERT_EQ(off.status, 0) << off.out;
  EXPECT_EQ(off.out.find("upload ["), std::string::npos) << off.out;
}

}  // namespace
}  // namespace quiblink::test
