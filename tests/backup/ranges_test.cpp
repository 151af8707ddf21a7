// Classic ranges against the model code's addressing: every rule refuses with its words.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backup/ranges.h"

namespace quiblink::backup {
namespace {

Range Of(uint16_t area, int32_t address, size_t count) {
  return {area, address, Bytes(count)};
}

TEST(ClassicRanges, EachModelCodesRulesHold) {
  const struct {
    const char *name;
    uint16_t model;
    std::vector<Range> ranges;
    std::string says;  // empty: accepted
  } rows[] = {
      {"model 0, areas 0-3", 0, {Of(0, 0x100, 64), Of(3, 0, 2048)}, ""},
      {"model 0, area 4", 0, {Of(4, 0, 1)}, "classic areas are 0-3"},
      {"model 0, area 1 past the end", 0, {Of(1, 0xFDFFFF, 2)}, "beyond the memory"},
      {"model 1, area 1 to the end", 1, {Of(1, 0xFEFFFF, 1)}, ""},
      {"a negative address", 0, {Of(0, -36, 36)}, "addresses start at 0"},
      {"overlapping ranges", 0, {Of(0, 0, 64), Of(0, 63, 2)}, "overlaps range"},
      {"touching ranges", 0, {Of(0, 0, 64), Of(0, 64, 2)}, ""},
      {"the same address in two areas", 2, {Of(1, 0, 64), Of(2, 0, 64)}, ""},
      {"model 3 across the gap, even", 3, {Of(0, 3940, 40)}, ""},
      {"model 3, odd count", 3, {Of(0, 0, 3)}, "whole words"},
      {"model 3, odd distance to the gap", 3, {Of(0, 3941, 40)}, "even distance"},
      {"model 3, an area", 3, {Of(1, 0, 2)}, "model 3 has no areas"},
      {"model 3, to the last address", 3, {Of(0, 32630, 2)}, ""},
      {"model 3, past the last address", 3, {Of(0, 32630, 4)}, "32631"},
  };
  for (const auto &row : rows) {
    std::string said;
    try {
      CheckRanges(row.model, row.ranges);
    } catch (const FormatError &error) {
      said = error.what();
    }
    if (row.says.empty()) {
      EXPECT_EQ(said, "") << row.name;
    } else {
      EXPECT_NE(said.find(row.says), std::string::npos) << row.name << ": " << said;
    }
  }
}

TEST(ClassicRanges, PanelsWriteAreaZeroOnly) {
  EXPECT_TRUE(RangeRestorable(0, Of(0, 0, 2)));
  EXPECT_FALSE(RangeRestorable(0, Of(2, 0, 2)));
  EXPECT_TRUE(RangeRestorable(3, Of(0, 0, 2)));
}

}  // namespace
}  // namespace quiblink::backup
