// `quiblink fleet` with terminals behind ser2net: one on rfc2217://, one on tcp://, one on its
// pseudo-terminal. A check finds the change made behind the device server, a restore through it
// brings it back, and a device server that is gone makes its terminal unreachable (exit 2).
#include <gtest/gtest.h>

#include <map>
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
      sims_[name] =
          sim::SimProcess::Start(QUIBLINK_SIM_PATH, {"--family", "graphic", "--no-pacing"});
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

}  // namespace
}  // namespace quiblink::test
