// `quiblink fleet` run as a user would, against simulators on pseudo-terminals: a backup of the
// fleet, a release, a check that finds exactly the terminal that was changed, a restore that
// brings it back; terminals that are off or answer garbage; runs killed at each point of recording,
// after which the store is consistent and the next backup succeeds; a full disk; the report in a
// browser.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"
#include "sim/sim_process.h"

namespace quiblink::test {
namespace {

using Args = std::vector<std::string>;
using nlohmann::json;

constexpr std::chrono::seconds kCommandLimit{20};

class FleetE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char *name : {"press-1", "press-2"}) {
      sims_[name] =
          sim::SimProcess::Start(QUIBLINK_SIM_PATH, {"--family", "graphic", "--no-pacing"});
    }
    sims_["panel-3"] =
        sim::SimProcess::Start(QUIBLINK_SIM_PATH, {"--family", "classic", "--no-pacing"});
    sims_["press-1"]->Command("group 1 " + HexOf(Pattern(2500, 1)));
    sims_["press-1"]->Command("area 3 " + HexOf("settings"));
    sims_["press-2"]->Command("group 2 " + HexOf(Pattern(1300, 2)));
    sims_["press-2"]->Command("group 7 " + HexOf(Pattern(700, 7)));
    WriteInventory("");
  }

  void WriteInventory(const std::string &more) {
    WriteFileText(dir_.File("plant.toml"),
                  Graphic("press-1", sims_["press-1"]->path(), "areas = [3]\n") +
                      Graphic("press-2", sims_["press-2"]->path(), "tags = [\"hall-b\"]\n") +
                      "[[terminal]]\nname = \"panel-3\"\nport = \"" + sims_["panel-3"]->path() +
                      "\"\nfamily = \"classic\"\nbaud = 9600\nmodel = 0\n"
                      "ranges = [{ address = 0, count = 32 }]\n" +
                      more);
  }

  static std::string Graphic(const std::string &name, const std::string &port,
                             const std::string &extra) {
    return "[[terminal]]\nname = \"" + name + "\"\nport = \"" + port +
           "\"\nfamily = \"graphic\"\nbaud = 38400\n" + extra + "\n";
  }

  using Env = std::map<std::string, std::string>;
  RunResult Fleet(Args args, Env env = {}) {
    RunOptions options = WithLimit(kCommandLimit);
    options.env = std::move(env);
    return Fleet(std::move(args), options);
  }
  RunResult Fleet(Args args, const RunOptions &options) {
    args.insert(args.begin(), {"--no-progress", "fleet", "--inventory", dir_.File("plant.toml"),
                               "--store", dir_.File("store")});
    RunResult r = RunCli(args, options);
    EXPECT_FALSE(r.timed_out) << ::testing::PrintToString(args);
    return r;
  }

  // name -> state of `check --json`.
  std::map<std::string, std::string> Check(int want_status) {
    const RunResult r = Fleet({"check", "--json"});
    EXPECT_EQ(r.status, want_status) << r.out << r.err;
    std::map<std::string, std::string> states;
    for (const json &row : json::parse(r.out)) {
      states[row.at("name").get<std::string>()] = row.at("state").get<std::string>();
      EXPECT_TRUE(row.contains("released")) << row.dump();
    }
    return states;
  }

  std::map<std::string, std::unique_ptr<sim::SimProcess>> sims_;
  ScratchDir dir_;
};

using States = std::map<std::string, std::string>;

TEST_F(FleetE2e, ABackupAReleaseACheckThatFindsTheChangeAndARestore) {
  RunResult r = Fleet({"backup", "--all"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  r = Fleet({"status", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const json status = json::parse(r.out);
  ASSERT_EQ(status.size(), 3u) << r.out;
  for (const json &row : status) {
    EXPECT_EQ(row.at("result"), "ok") << row.dump();
    EXPECT_EQ(row.at("version"), 1) << row.dump();
  }
  r = Fleet({"release", "--all", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const json &row : json::parse(r.out)) EXPECT_EQ(row.at("version"), 1) << r.out;
  EXPECT_EQ(json::parse(r.out).size(), 3u) << r.out;
  EXPECT_EQ(Check(0), (States{{"press-1", "same"}, {"press-2", "same"}, {"panel-3", "same"}}));

  sims_["press-2"]->Command("group 7 " + HexOf(Pattern(700, 99)));
  sims_["press-2"]->Command("group 9 " + HexOf("extra"));
  EXPECT_EQ(Check(1), (States{{"press-1", "same"}, {"press-2", "changed"}, {"panel-3", "same"}}));
  r = Fleet({"diff", "press-2", "1", "3"});
  EXPECT_NE(r.out.find("group 7 changed (700 -> 700 bytes)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("group 9 added (5 bytes)"), std::string::npos) << r.out;

  // The quick check sees it too: the project information follows the groups' sizes.
  r = Fleet({"check", "--quick", "press-2"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;

  r = Fleet({"restore", "press-2", "--released", "--clean", "--yes"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(sims_["press-2"]->Command("groups"), "2:1300 7:700");
  EXPECT_EQ(sims_["press-2"]->Command("group 7"), HexOf(Pattern(700, 7)));
  EXPECT_EQ(Check(0), (States{{"press-1", "same"}, {"press-2", "same"}, {"panel-3", "same"}}));
  r = Fleet({"history", "press-2"});
  EXPECT_NE(r.out.find("released"), std::string::npos) << r.out;
  EXPECT_EQ(Fleet({"verify"}).status, 0);
}

// On a terminal the run draws a row per terminal with its progress bar and redraws the rows in
// place; each row ends full, with its result.
TEST_F(FleetE2e, OnATerminalTheRunDrawsALiveTable) {
  const RunResult r = RunCliOnPty({"fleet", "--inventory", dir_.File("plant.toml"), "--store",
                                   dir_.File("store"), "backup", "--all"},
                                  WithLimit(kCommandLimit));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("\033[3A"), std::string::npos) << r.out;
  for (const char *name : {"press-1", "press-2", "panel-3"}) {
    const size_t last = r.out.rfind(std::string("\r") + name);
    ASSERT_NE(last, std::string::npos) << name << "\n" << r.out;
    const std::string row = r.out.substr(last, r.out.find('\n', last) - last);
    EXPECT_NE(row.find("[" + std::string(20, '#') + "]"), std::string::npos) << row;
    EXPECT_NE(row.find(" ok v1"), std::string::npos) << row;
  }
}

// Twelve terminals: more than one process may open (ten), so the run shares them between two
// workers, and every one is backed up.
TEST_F(FleetE2e, MoreThanTenTerminalsAreSharedAmongWorkers) {
  std::string more;
  for (int i = 4; i <= 12; ++i) {
    const std::string name = "press-" + std::to_string(i);
    sims_[name] = sim::SimProcess::Start(QUIBLINK_SIM_PATH, {"--family", "graphic", "--no-pacing"});
    sims_[name]->Command("group 1 " + HexOf(Pattern(300, i)));
    more += Graphic(name, sims_[name]->path(), "");
  }
  WriteInventory(more);
  const RunResult r = Fleet({"backup", "--all", "--json"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const json rows = json::parse(r.out);
  ASSERT_EQ(rows.size(), 12u) << r.out;
  for (const json &row : rows) EXPECT_EQ(row.at("state"), "ok") << row.dump();
}

// A second run waits for the first one's lock, says so, and then does its work.
TEST_F(FleetE2e, ASecondRunWaitsForTheFirstsLockAndSaysSo) {
  // A terminal paced at the line speed: 8000 bytes keep the backup busy for about 2.5 s.
  sims_["slow"] = sim::SimProcess::Start(QUIBLINK_SIM_PATH, {"--family", "graphic", "--pacing"});
  sims_["slow"]->Command("group 1 " + HexOf(Pattern(8000, 1)));
  WriteInventory(Graphic("slow", sims_["slow"]->path(), ""));
  auto first = std::async(std::launch::async, [this] { return Fleet({"backup", "--all"}); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ReadFileText(dir_.File("store/lock")).find("backup") == std::string::npos) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the backup never took the lock";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const RunResult second = Fleet({"release", "--all"});
  EXPECT_NE(second.err.find("waiting for another run's lock on " + dir_.File("store")),
            std::string::npos)
      << second.err;
  EXPECT_NE(second.err.find(", backup"), std::string::npos) << second.err;
  ASSERT_EQ(first.wait_for(kCommandLimit), std::future_status::ready);
  EXPECT_EQ(first.get().status, 0);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_NE(second.out.find("slow: v1 released"), std::string::npos) << second.out;
}

// A terminal that is off (its device is not there) and one that answers garbage fail alone,
// the second after its one retry; a check then finds both unreachable and exits 2.
TEST_F(FleetE2e, TerminalsThatAreOffOrAnswerGarbageFailAloneAndACheckExitsTwo) {
  WriteInventory(Graphic("gone", dir_.File("no-such-tty"), ""));
  sims_["press-1"]->Arm("garbage:always");
  RunResult r = Fleet({"backup", "--all"});
  EXPECT_EQ(r.status, 1) << r.out;
  for (const char *line : {"press-1           failed", "press-2           ok",
                           "panel-3           ok", "gone              failed", "RC_BAD_START"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  }
  EXPECT_NE(r.err.find("press-1: retrying after:"), std::string::npos) << r.err;
  ASSERT_EQ(Fleet({"release", "--all"}).status, 0);
  EXPECT_EQ(Check(2), (States{{"press-1", "unreachable"},
                              {"press-2", "same"},
                              {"panel-3", "same"},
                              {"gone", "unreachable"}}));
  EXPECT_EQ(Fleet({"verify"}).status, 0);
}

// The run is killed with SIGKILL (by its worker, or by itself) at each point where a version is
// half recorded, while press-1 keeps changing; each time the store stays consistent, and the
// next backup records every terminal.
TEST_F(FleetE2e, ARunKilledAtAnyPointLeavesAConsistentStore) {
  unsigned seed = 10;
  for (const char *point :
       {"object-written:2", "object-named:3", "before-commit:2", "after-commit:1"}) {
    SCOPED_TRACE(point);
    sims_["press-1"]->Command("group 4 " + HexOf(Pattern(900, ++seed)));
    RunResult r = Fleet({"backup", "--all"}, Env{{"QUIBLINK_FLEET_KILL_AT", point}});
    EXPECT_EQ(r.status, 128 + 9) << r.out << r.err;
    r = Fleet({"verify", "--json"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const json found = json::parse(r.out);
    EXPECT_TRUE(found.at("consistent").get<bool>()) << r.out;
    EXPECT_TRUE(found.at("damage").empty()) << r.out;
  }
  RunResult r = Fleet({"backup", "--all"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  r = Fleet({"verify"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("the store is consistent"), std::string::npos) << r.out;
  r = Fleet({"status", "--json"});
  for (const json &row : json::parse(r.out)) EXPECT_EQ(row.at("result"), "ok") << row.dump();
  // The newest versions are the terminals as they are now.
  ASSERT_EQ(Fleet({"release", "--all"}).status, 0);
  EXPECT_EQ(Check(0), (States{{"press-1", "same"}, {"press-2", "same"}, {"panel-3", "same"}}));
}

// A disk that fills up (a file-size limit below what the catalogue needs, with SIGXFSZ ignored,
// so that writes fail as on a full disk): the run ends with a message naming the store and
// records nothing; once there is room again the store is consistent and the next backup succeeds.
TEST_F(FleetE2e, AFullDiskRecordsNothingAndTheNextBackupSucceeds) {
  ASSERT_EQ(Fleet({"backup", "--all"}).status, 0);
  sims_["press-1"]->Command("group 5 " + HexOf(Pattern(20000, 5)));
  RunOptions full = WithLimit(kCommandLimit);
  full.file_size_limit = 16384;
  full.ignore_sigxfsz = true;
  RunResult r = Fleet({"backup", "--all"}, full);
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.err.find(dir_.File("store")), std::string::npos) << r.err;
  r = Fleet({"history", "press-1", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(json::parse(r.out).size(), 1u) << r.out;
  r = Fleet({"verify"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(Fleet({"backup", "--all"}).status, 0);
  r = Fleet({"history", "press-1", "--json"});
  EXPECT_EQ(json::parse(r.out).size(), 2u) << r.out;
  EXPECT_EQ(Fleet({"verify"}).status, 0);
}

std::string FindOnPath(const std::string &program) {
  const char *path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (size_t start = 0; start <= dirs.size();) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (!dirs.substr(start, end - start).empty() && access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return "";
}

// The report opened in a real browser: the page the browser built holds every terminal with its
// state, and the changed one as a drifting row.
TEST_F(FleetE2e, TheReportShowsEveryTerminalAndItsStateInABrowser) {
  const std::string chromium = FindOnPath("chromium");
  if (chromium.empty()) GTEST_SKIP() << "no chromium on PATH";
  ASSERT_EQ(Fleet({"backup", "--all"}).status, 0);
  ASSERT_EQ(Fleet({"release", "--all"}).status, 0);
  sims_["press-1"]->Command("group 3 " + HexOf("changed"));
  ASSERT_EQ(Fleet({"check"}).status, 1);
  const std::string page = dir_.File("report.html");
  ASSERT_EQ(Fleet({"report", "--html", page}).status, 0);

  RunOptions options = WithLimit(std::chrono::seconds(60));
  options.binary = chromium;
  options.env = {{"HOME", dir_.File("")}};
  const RunResult r =
      RunCli({"--headless", "--no-sandbox", "--disable-gpu",
              "--user-data-dir=" + dir_.File("browser"), "--dump-dom", "file://" + page},
             options);
  ASSERT_FALSE(r.timed_out);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string &dom = r.out;
  for (const char *name : {"press-1", "press-2", "panel-3"}) {
    EXPECT_NE(dom.find(">" + std::string(name) + "<"), std::string::npos) << name;
  }
  EXPECT_NE(dom.find("<tr class=\"drift\">"), std::string::npos) << dom;
  EXPECT_NE(dom.find("class=\"state changed\""), std::string::npos) << dom;
  EXPECT_NE(dom.find("class=\"state same\""), std::string::npos) << dom;
}

}  // namespace
}  // namespace quiblink::test
