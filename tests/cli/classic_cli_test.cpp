// `classic read` and `classic write` against simulated panels of model codes 0 and 3.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "sim/sim_process.h"

namespace quiblink::test {
namespace {

using Args = std::vector<std::string>;

class ClassicCli : public ::testing::Test {
 protected:
  void Start(int model) {
    model_ = model;
    sim_ = sim::SimProcess::Start(QUIBLINK_SIM_PATH, {"--family", "classic", "--model",
                                                      std::to_string(model), "--no-pacing"});
  }

  RunResult Run(Args args, const RunOptions &options = {}) {
    Args full = {"--port", sim_->path(), "--model", std::to_string(model_), "classic"};
    full.insert(full.end(), args.begin(), args.end());
    return RunCli(full, options);
  }

  std::string Peek(unsigned wire, size_t count) {
    return sim_->Command("peek " + std::to_string(wire) + " " + std::to_string(count));
  }

  int model_ = 0;
  std::unique_ptr<sim::SimProcess> sim_;
  ScratchDir dir_;
};

TEST_F(ClassicCli, WriteTakesHexFileOrStandardInput) {
  Start(0);
  WriteFileText(dir_.File("data.bin"), Pattern(70, 5));
  struct Case {
    Args args;
    std::string input;
    unsigned address;
    std::string held;
  };
  const Case cases[] = {
      {{"write", "0x100", "--hex", "11 22 33 44"}, "", 0x100, "\x11\x22\x33\x44"},
      // 70 bytes: three requests of 32, 32 and 6.
      {{"write", "512", dir_.File("data.bin")}, "", 512, Pattern(70, 5)},
      {{"write", "0x300", "-"}, "typed in", 0x300, "typed in"},
  };
  for (const auto &c : cases) {
    RunResult r = Run(c.args, WithInput(c.input));
    ASSERT_EQ(r.status, 0) << c.args[1] << ": " << r.err;
    EXPECT_EQ(Peek(c.address, c.held.size()), HexOf(c.held)) << c.args[1];
  }
}

TEST_F(ClassicCli, ReadShowsPanelMemory) {
  Start(0);
  sim_->Command("poke 0x100 11223344");
  struct Case {
    Args args;
    std::string out;
  };
  const Case cases[] = {
      {{"read", "0x100", "4"}, "00000100  11 22 33 44"},
      {{"read", "256", "4", "--format", "words"}, "00000100  2211 4433\n"},
      {{"read", "0x101", "2", "--format", "raw"}, "\x22\x33"},
  };
  for (const auto &c : cases) {
    RunResult r = Run(c.args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
  }
  RunResult file = Run({"read", "0x100", "4", "-o", dir_.File("out.bin")});
  ASSERT_EQ(file.status, 0) << file.err;
  EXPECT_EQ(ReadFileText(dir_.File("out.bin")), "\x11\x22\x33\x44");
}

TEST_F(ClassicCli, ReadReachesTheOtherAreas) {
  Start(0);
  // Area 3 of model code 0 starts at 0x2232A.
  std::string bytes = Pattern(130, 9);
  sim_->Command("poke 0x2232A " + HexOf(bytes));
  RunResult r = Run({"read", "0", "130", "--area", "3", "--format", "raw"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, bytes);
}

TEST_F(ClassicCli, Model3CrossesTheAddressGap) {
  Start(3);
  std::string bytes = Pattern(40, 11);
  RunResult w = Run({"write", "3940", "--hex", HexOf(bytes)});
  ASSERT_EQ(w.status, 0) << w.err;
  // Logical 3940..3959 sit at 0x8FE4, logical 3960 on at 0x9000.
  EXPECT_EQ(Peek(0x8FE4, 20), HexOf(bytes.substr(0, 20)));
  EXPECT_EQ(Peek(0x9000, 20), HexOf(bytes.substr(20)));

  RunResult r = Run({"read", "3940", "40", "--format", "raw"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, bytes);
}

TEST_F(ClassicCli, Model3RefusesOddCountsAsUsageErrors) {
  Start(3);
  struct Case {
    Args args;
  };
  const Case cases[] = {{{"read", "0", "3"}}, {{"write", "2", "--hex", "010203"}}};
  for (const auto &c : cases) {
    RunResult r = Run(c.args);
    EXPECT_EQ(r.status, 2) << c.args[0];
    EXPECT_NE(r.err.find("count 3: model 3 moves whole words: use an even count"),
              std::string::npos)
        << r.err;
  }
  EXPECT_NE(sim_->Command("stats").find("requests=0"), std::string::npos) << sim_->Command("stats");
}

TEST_F(ClassicCli, RefusingPanelIsReportedAsARefusal) {
  Start(0);
  sim_->Arm("nak:always");
  struct Case {
    Args args;
    const char *operation;
  };
  const Case cases[] = {
      {{"read", "0", "4"}, "QUIB_Read"},
      {{"write", "0", "--hex", "00"}, "QUIB_Write"},
  };
  for (const auto &c : cases) {
    RunResult r = Run(c.args);
    EXPECT_EQ(r.status, 6) << r.err;
    EXPECT_NE(r.err.find(std::string(c.operation) + " failed: -19 RC_NAK: the panel refused"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(ClassicCli, DamagedReplyIsAProtocolError) {
  Start(0);
  sim_->Arm("missing-etx:always");
  RunResult r = Run({"read", "0", "4"});
  EXPECT_EQ(r.status, 5) << r.err;
  EXPECT_NE(r.err.find("-21 RC_NO_ETX"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace quiblink::test
