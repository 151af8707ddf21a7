// A run's side of its workers, with a scripted worker: a version is recorded only when every
// object it names is on disk, and a terminal that fails never stops the others.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "backup/manifest.h"
#include "fleet/fleet_run.h"

namespace quiblink::fleet {
namespace {

namespace fs = std::filesystem;

backup::Backup Made(uint8_t seed) {
  backup::Backup made;
  made.origin = {"2024-05-01T12:00:00Z", "quiblink 2.1.1", "2.1.1", "COM1", 38400, 0};
  made.groups.push_back({1, backup::Bytes(2000, seed)});
  made.groups.push_back({2, backup::Bytes(300, 5)});
  return made;
}

Event DoneOf(const std::string &terminal, const backup::Backup &made) {
  Event event;
  event.terminal = terminal;
  event.kind = Event::kDone;
  event.manifest = backup::BuildManifest(made);
  return event;
}

TerminalSpec Spec(const std::string &name) {
  TerminalSpec spec;
  spec.name = name;
  spec.port = "/dev/null";
  return spec;
}

TEST(Run, AVersionIsRecordedOnlyWithAllItsObjectsAndAFailureStopsNoOther) {
  char folder[] = "/tmp/quiblink-run-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string root = folder;
  {
    auto store = Store::Open(root + "/store", Store::Access::kWrite, "test");
    const backup::Backup whole = Made(1), torn = Made(2);
    for (const auto &group : whole.groups) store->objects().Put(group.data);
    store->objects().Put(torn.groups[1].data);  // group 1 of "torn" never reached the disk
    // The worker: "whole" done, "torn" done without one object, "silent" never answered.
    std::ofstream(root + "/events")
        << EncodeEvent(DoneOf("torn", torn)) << EncodeEvent(DoneOf("whole", whole));
    const WorkerCommand worker{"/bin/sh", {"-c", "cat >/dev/null; cat '" + root + "/events'"}};
    const RunSummary summary =
        RunFleet(*store, Mode::kBackup, {Spec("torn"), Spec("whole"), Spec("silent")}, worker, {});
    ASSERT_EQ(summary.outcomes.size(), 3u);
    std::map<std::string, Outcome> by_name;
    for (const Outcome &outcome : summary.outcomes) by_name[outcome.terminal] = outcome;
    EXPECT_EQ(by_name["whole"].state, "ok");
    EXPECT_EQ(by_name["whole"].version, 1);
    EXPECT_EQ(by_name["torn"].state, "failed");
    EXPECT_NE(by_name["torn"].detail.find("is not in the store; nothing recorded"),
              std::string::npos)
        << by_name["torn"].detail;
    EXPECT_EQ(by_name["silent"].state, "failed");
    EXPECT_NE(by_name["silent"].detail.find("before this terminal was done"), std::string::npos);
    EXPECT_EQ(store->catalogue().Versions("whole").size(), 1u);
    EXPECT_TRUE(store->catalogue().Versions("torn").empty());
    EXPECT_TRUE(store->catalogue().Versions("silent").empty());
    const auto runs = store->catalogue().Runs(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].status, 1);
    EXPECT_EQ(store->catalogue().ResultsOf(summary.run).size(), 3u);
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace quiblink::fleet
