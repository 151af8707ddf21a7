// backup, restore and inspect, run as a user would against the simulator: the terminal comes
// back group for group, and nothing is written when the file or the terminal is not the right
// one.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "sim/sim_process.h"

namespace quiblink::test {
namespace {

using Args = std::vector<std::string>;

class BackupCli : public ::testing::Test {
 protected:
  void SetUp() override { sim_ = Start({"--type", "0x2A", "--project-name", "PLANT 4"}); }

  static std::unique_ptr<sim::SimProcess> Start(Args extra) {
    Args args = {"--family", "graphic", "--no-pacing"};
    args.insert(args.end(), extra.begin(), extra.end());
    return sim::SimProcess::Start(QUIBLINK_SIM_PATH, args);
  }

  RunResult Run(Args args, const RunOptions &options = {}) {
    args.insert(args.begin(), {"--port", sim_->path()});
    return RunCli(args, options);
  }

  // Groups 1, 2 and 7, each ending inside a 1024-byte chunk, and area 3.
  void Fill() {
    for (const auto &[group, size] : kGroups) {
      sim_->Command("group " + std::to_string(group) + " " + HexOf(Pattern(size, group)));
    }
    sim_->Command("area 3 " + HexOf("settings"));
  }
  void ExpectFilled() {
    EXPECT_EQ(sim_->Command("groups"), "1:2500 2:1300 7:700");
    for (const auto &[group, size] : kGroups) {
      EXPECT_EQ(sim_->Command("group " + std::to_string(group)), HexOf(Pattern(size, group)))
          << "group " << group;
    }
    EXPECT_EQ(sim_->Command("area 3"), HexOf("settings"));
  }
  std::string BackUp() {
    const std::string file = dir_.File("plant.qbk");
    RunResult r = Run({"backup", file, "--areas", "3,240"});
    EXPECT_EQ(r.status, 0) << r.err;
    return file;
  }

  static constexpr std::pair<int, size_t> kGroups[] = {{1, 2500}, {2, 1300}, {7, 700}};
  std::unique_ptr<sim::SimProcess> sim_;
  ScratchDir dir_;
};

TEST_F(BackupCli, RestorePutsEveryGroupBackUnderItsOwnNumber) {
  Fill();
  const std::string file = BackUp();
  ASSERT_EQ(Run({"delete-user-data", "--yes"}).status, 0);
  ASSERT_EQ(sim_->Command("groups"), "");

  RunResult r = Run({"restore", file, "--yes"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ExpectFilled();
  for (const char *line :
       {"restore: group 2: 1300 bytes written", "restore: area 3: 8 bytes",
        "area 240: kept for reference only", "every part written matches", "restore: start sent"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  }
  // This terminal keeps its name apart from the project data: the restore says so.
  EXPECT_NE(r.out.find("the terminal reports \"\", the backup has \"PLANT 4\""), std::string::npos)
      << r.out;
}

TEST_F(BackupCli, ANameThatTravelsWithTheProjectDataComesBack) {
  sim_ = Start({"--type", "0x2A", "--name-group", "1"});
  sim_->Command("group 1 " + HexOf("PLANT 9\nscreens"));
  const std::string file = BackUp();
  RunResult r = Run({"restore", file, "--yes", "--clean"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("project name \"PLANT 9\", as in the backup"), std::string::npos) << r.out;
}

TEST_F(BackupCli, CleanTakesAwayGroupsTheBackupDoesNotHave) {
  Fill();
  const std::string file = BackUp();
  sim_->Command("group 9 " + HexOf("added later"));
  ASSERT_EQ(Run({"restore", file, "--yes", "--no-start"}).status, 0);
  EXPECT_EQ(sim_->Command("groups"), "1:2500 2:1300 7:700 9:11");
  ASSERT_EQ(Run({"restore", file, "--yes", "--clean"}).status, 0);
  ExpectFilled();
}

TEST_F(BackupCli, AnotherTerminalTypeIsRefusedUnlessForced) {
  Fill();
  const std::string file = BackUp();
  sim_->Command("set type 7");
  sim_->Command("group 1 " + HexOf("other project"));
  RunResult r = Run({"restore", file, "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("terminal type 42 (0x2A), this terminal is type 7 (0x07): refused, nothing "
                       "was written"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(sim_->Command("group 1"), HexOf("other project"));
  EXPECT_NE(sim_->Command("state").find("offline=0"), std::string::npos);

  ASSERT_EQ(Run({"restore", file, "--yes", "--force"}).status, 0);
  ExpectFilled();
}

TEST_F(BackupCli, ABadFileIsRefusedBeforeThePortIsOpened) {
  Fill();
  const std::string file = BackUp();
  std::string damaged = ReadFileText(file);
  damaged[damaged.size() / 2] ^= 0x20;
  WriteFileText(dir_.File("damaged.qbk"), damaged);
  ASSERT_EQ(Run({"backup", "--raw", dir_.File("raw.bin")}).status, 0);
  for (const char *name : {"damaged.qbk", "raw.bin"}) {
    RunResult r =
        RunCli({"--port", dir_.File("no-such-device"), "restore", dir_.File(name), "--yes"});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_NE(r.err.find("nothing was sent"), std::string::npos) << name << ": " << r.err;
    EXPECT_EQ(r.err.find("no-such-device"), std::string::npos) << name << ": " << r.err;
  }
}

TEST_F(BackupCli, ARestoreThatStopsSaysWhichGroupsWereWritten) {
  Fill();
  const std::string file = BackUp();
  // Group 1 takes three chunks; the fourth, group 2's first, is refused.
  sim_->Arm("status=5:every=4,cmd=0x11");
  RunResult r = Run({"restore", file, "--yes"});
  EXPECT_EQ(r.status, 6) << r.err;
  EXPECT_NE(r.err.find("restore stopped at group 2: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("written: group 1; not written: group 2, group 7, area 3"),
            std::string::npos)
      << r.err;
}

TEST_F(BackupCli, RestoreAsksFirst) {
  Fill();
  const std::string file = BackUp();
  RunResult r = Run({"restore", file}, WithInput("n\n"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Restore 3 groups (4500 bytes) of project \"PLANT 4\", areas 3, 240 onto"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("cancelled, nothing was sent"), std::string::npos) << r.out;
  EXPECT_NE(sim_->Command("state").find("offline=0"), std::string::npos);
}

TEST_F(BackupCli, InspectShowsTheManifest) {
  Fill();
  const std::string file = BackUp();
  RunResult table = RunCli({"inspect", file});
  ASSERT_EQ(table.status, 0) << table.err;
  for (const char *line : {"terminal type      42 (0x2A)", "project            \"PLANT 4\"",
                           "      2       2500       1300  ", "   240        3000  no"}) {
    EXPECT_NE(table.out.find(line), std::string::npos) << line << "\n" << table.out;
  }
  RunResult json = RunCli({"inspect", "--json", file});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("\"format_version\": 1"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"group\": 7"), std::string::npos) << json.out;
}

TEST(ClassicBackupCli, RangesComeBackAndTheModelsRulesHoldBeforeThePortOpens) {
  auto sim = sim::SimProcess::Start(QUIBLINK_SIM_PATH, {"--family", "classic", "--no-pacing"});
  ScratchDir dir;
  const std::string file = dir.File("panel.qbk");
  const Args port = {"--port", sim->path()};
  auto run = [&](Args args) {
    args.insert(args.begin(), port.begin(), port.end());
    return RunCli(args);
  };
  const std::string before = sim->Command("peek 0x100 64") + sim->Command("peek 0x400 200");
  ASSERT_EQ(run({"classic", "backup", file, "--range", "0x100:64,0x400:200"}).status, 0);
  sim->Command("poke 0x100 " + HexOf(Pattern(64, 5)));
  sim->Command("poke 0x400 " + HexOf(Pattern(200, 6)));
  RunResult restore = run({"classic", "restore", file, "--yes"});
  ASSERT_EQ(restore.status, 0) << restore.err;
  EXPECT_EQ(sim->Command("peek 0x100 64") + sim->Command("peek 0x400 200"), before);

  RunResult odd = RunCli({"--port", dir.File("no-such-device"), "-m", "3", "classic", "backup",
                          dir.File("odd.qbk"), "--range", "0:3"});
  EXPECT_EQ(odd.status, 2);
  EXPECT_NE(odd.err.find("model 3 moves whole words"), std::string::npos) << odd.err;
  RunResult model = RunCli({"--port", sim->path(), "-m", "1", "classic", "restore", file, "--yes"});
  EXPECT_EQ(model.status, 1);
  EXPECT_NE(model.err.find("model code 0, the channel is opened with model code 1"),
            std::string::npos)
      << model.err;
}

}  // namespace
}  // namespace quiblink::test
