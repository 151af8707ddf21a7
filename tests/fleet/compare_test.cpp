// Comparisons of versions, a check's exit status, the worker protocol and the report's page.
#include <gtest/gtest.h>

#include "fleet/compare.h"
#include "fleet/report.h"
#include "fleet/scheduler.h"
#include "fleet/worker_protocol.h"

namespace quiblink::fleet {
namespace {

Content Of(std::vector<Part> parts) {
  Content content;
  content.parts = std::move(parts);
  return content;
}

TEST(Compare, PartsAddedRemovedAndChangedWithTheirSizes) {
  const Content from =
      Of({{"group", 1, 0, 100, "aa"}, {"group", 2, 0, 50, "bb"}, {"range", 0, 0x100, 64, "cc"}});
  const Content to = Of({{"group", 2, 0, 60, "b2"},
                         {"group", 7, 0, 9, "dd"},
                         {"range", 0, 0x100, 64, "cc"},
                         {"area", 3, 0, 8, "ee"}});
  std::vector<std::string> said;
  for (const PartChange &change : CompareContents(from, to)) said.push_back(change.Describe());
  EXPECT_EQ(said,
            (std::vector<std::string>{"group 2 changed (50 -> 60 bytes)", "group 7 added (9 bytes)",
                                      "area 3 added (8 bytes)", "group 1 removed (100 bytes)"}));
  EXPECT_TRUE(CompareContents(to, to).empty());
}

TEST(Compare, AQuickCheckLooksAtTheProjectAndTheMemoryOnly) {
  backup::TerminalInfo released, now;
  released.project_name = "A";
  now = released;
  now.type = 9;  // not a quick check's business
  EXPECT_TRUE(CompareInfo(released, now, true).empty());
  EXPECT_EQ(CompareInfo(released, now, false), std::vector<std::string>{"terminal type 0 -> 9"});
  now.memory[1] = 5;
  now.project_name = "B";
  EXPECT_EQ(
      CompareInfo(released, now, true),
      (std::vector<std::string>{"project name \"A\" -> \"B\"", "memory data 0, 0, 0 -> 0, 5, 0"}));
}

TEST(Compare, ACheckExitsZeroOnlyWhenAllAreTheSameAndTwoWhenAnyWasNotRead) {
  struct Row {
    std::vector<std::string> states;
    int status;
  };
  for (const Row &row :
       {Row{{"same", "same"}, 0}, Row{{"same", "changed"}, 1}, Row{{"no-release", "same"}, 1},
        Row{{"changed", "unreachable"}, 2}, Row{{"unreachable", "same"}, 2}}) {
    EXPECT_EQ(CheckExitStatus(row.states), row.status) << ::testing::PrintToString(row.states);
  }
}

TEST(WorkerProtocol, EventsComeBackAsTheyWentOut) {
  Event info;
  info.terminal = "press-1";
  info.kind = Event::kInfo;
  info.info.project_name = std::string("N\xE9\0x", 4);
  info.info.memory[0] = -3;
  info.info.os_entry_80 = 0xFFFFFFFF;
  const std::string line = EncodeEvent(info);
  ASSERT_EQ(line.back(), '\n');
  ASSERT_EQ(line.find('\n'), line.size() - 1);
  const Event back = DecodeEvent(line);
  EXPECT_EQ(back.kind, Event::kInfo);
  EXPECT_EQ(back.info.project_name, info.info.project_name);
  EXPECT_EQ(back.info.memory[0], -3);
  EXPECT_EQ(back.info.os_entry_80, 0xFFFFFFFFu);
  EXPECT_THROW(DecodeEvent("{\"terminal\":\"a\",\"event\":\"cheer\"}"), std::runtime_error);
  EXPECT_THROW(DecodeEvent("not json"), std::runtime_error);
}

TEST(WorkerProtocol, NoWorkerGetsMoreThanTenTerminals) {
  for (size_t count : {1u, 10u, 11u, 20u, 25u}) {
    std::vector<TerminalSpec> terminals(count);
    const auto groups = Groups(terminals);
    size_t total = 0;
    for (const auto &group : groups) {
      EXPECT_LE(group.size(), kTerminalsPerWorker);
      EXPECT_GE(group.size(), count / groups.size());
      total += group.size();
    }
    EXPECT_EQ(total, count);
    EXPECT_EQ(groups.size(), (count + 9) / 10);
  }
}

TEST(Report, ThePageStandsAloneAndEscapesWhatTheTerminalsSay) {
  FleetView view;
  view.store = "/var/lib/plant";
  view.generated = "2024-05-01T12:00:00Z";
  TerminalView t;
  t.spec.name = "press-<1>";
  t.spec.port = "COM1";
  Result check;
  check.state = "changed";
  check.detail = "project name \"<script>alert(1)</script>\"";
  t.last_check = check;
  view.terminals.push_back(t);
  const std::string page = RenderReport(view);
  EXPECT_NE(page.find("press-&lt;1&gt;"), std::string::npos);
  EXPECT_NE(page.find("class=\"state changed\""), std::string::npos);
  EXPECT_NE(page.find("<tr class=\"drift\">"), std::string::npos);
  for (const char *outside : {"<script", "http:", "https:", "src=", "<link", "@import"}) {
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  }
}

}  // namespace
}  // namespace quiblink::fleet
