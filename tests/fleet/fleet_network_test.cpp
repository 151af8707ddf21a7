// `quiblink fleet` with terminals behind ser2net: one on rfc2217://, one on tcp://, one on its
// pseudo-terminal. A check finds the change made behind the device server, a restore through it
// brings it back, and a device server that is gone makes its terminal unreachable (exit 2); one
// that drops mid-backup fails its terminal alone.
#include <gtest/gtest.h>

#include <future>
#include <map>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"
#include "network/ser2net_process.h"
#include "sim/sim_process.h"

namespace quiblink::test {
namespace {

using nlohmann::json;
using States = std::map<std::string, std::string>;

class FleetNetwork : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char *name : {"local", "rfc", "raw"}) {
      // The one behind rfc2217 paced at the line speed, so that its server can drop mid-backup.
      const char *pacing = std::string(name) == "rfc" ? "--pacing" : "--no-pacing";
      sims_[name] = sim::SimProcess::Start(QUIBLINK_SIM_PATH, {"--family", "graphic", pacing});
      sims_[name]->Command("group 1 " + HexOf(Pattern(1500, name[0])));
    }
    rfc_server_ = network::Ser2net::Start(sims_["rfc"]->path(), "38400e81");
    raw_server_ = network::Ser2net::Start(sims_["raw"]->path(), "38400e81");
    std::string text;
    for (const auto &[name, port] :
         std::map<std::string, std::string>{{"local", sims_["local"]->path()},
                                            {"rfc", rfc_server_->Url("rfc2217")},
                                            {"raw", raw_server_->Url("tcp")}}) {
      text += "[[terminal]]\nname = \"" + name + "\"\nport = \"" + port +
              "\"\nfamily = \"graphic\"\nbaud = 38400\n\n";
    }
    WriteFileText(dir_.File("plant.toml"), text);
  }

  RunResult Fleet(std::vector<std::string> args) {
    args.insert(args.begin(), {"--no-progress", "fleet", "--inventory", dir_.File("plant.toml"),
                               "--store", dir_.File("store")});
    RunResult r = RunCli(args, WithLimit(std::chrono::seconds(30)));
    EXPECT_FALSE(r.timed_out);
    return r;
  }

  States Check(int want_status) {
    const RunResult r = Fleet({"check", "--json"});
    EXPECT_EQ(r.status, want_status) << r.out << r.err;
    States states;
    for (const json &row : json::parse(r.out)) states[row.at("name")] = row.at("state");
    return states;
  }

  std::map<std::string, std::unique_ptr<sim::SimProcess>> sims_;
  std::unique_ptr<network::Ser2net> rfc_server_, raw_server_;
  ScratchDir dir_;
};

TEST_F(FleetNetwork, BackupCheckAndRestoreThroughDeviceServers) {
  RunResult r = Fleet({"backup", "--all"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(Fleet({"release", "--all"}).status, 0);
  sims_["rfc"]->Command("group 2 " + HexOf("changed behind the server"));
  EXPECT_EQ(Check(1), (States{{"local", "same"}, {"rfc", "changed"}, {"raw", "same"}}));
  r = Fleet({"restore", "rfc", "--released", "--clean", "--yes"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(sims_["rfc"]->Command("groups"), "1:1500");
  EXPECT_EQ(Check(0), (States{{"local", "same"}, {"rfc", "same"}, {"raw", "same"}}));

  raw_server_->Kill();
  EXPECT_EQ(Check(2), (States{{"local", "same"}, {"rfc", "same"}, {"raw", "unreachable"}}));
  EXPECT_EQ(Fleet({"verify"}).status, 0);
}

// The device server drops while its terminal is backed up (20000 bytes, about 6 s at 38400
// baud; the server is killed after 1 s): that terminal fails, the others are recorded, and the
// store holds no version of it.
TEST_F(FleetNetwork, ADeviceServerThatDropsMidBackupFailsItsTerminalAlone) {
  sims_["rfc"]->Command("group 3 " + HexOf(Pattern(20000, 3)));
  auto backup = std::async(std::launch::async, [this] { return Fleet({"backup", "--all"}); });
  std::this_thread::sleep_for(std::chrono::seconds(1));
  rfc_server_->Kill();
  ASSERT_EQ(backup.wait_for(std::chrono::seconds(40)), std::future_status::ready);
  const RunResult r = backup.get();
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  for (const char *line :
       {"rfc               failed", "local             ok", "raw               ok"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  }
  const RunResult history = Fleet({"history", "rfc"});
  EXPECT_NE(history.err.find("rfc has no version"), std::string::npos)
      << history.out << history.err;
  EXPECT_EQ(Fleet({"verify"}).status, 0);
}

}  // namespace
}  // namespace quiblink::test
