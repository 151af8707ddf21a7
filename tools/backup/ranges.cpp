#include "ranges.h"

#include <algorithm>
#include <cstdio>

namespace quiblink::backup {
namespace {

// Model 3: logical addresses 0..3959 sit at wire 0x8080.., those from 3960 on 8 higher; the
// wire address has four digits.
constexpr int64_t kModel3Base = 0x8080;
constexpr int64_t kModel3WireEnd = 0x10000;
// Other models: six digits of address plus the area's offset.
constexpr int64_t kWireEnd = 0x1000000;

int64_t AreaOffset(uint16_t model, uint16_t area) {
  static constexpr int64_t kModel1[] = {0, 0x10000, 0x12000, 0x12800};
  static constexpr int64_t kModel0[] = {0, 0x20000, 0x22000, 0x2232A};
  static constexpr int64_t kOthers[] = {0, 0x20000, 0x22000, 0x22800};
  return model == 1 ? kModel1[area] : model == 0 ? kModel0[area] : kOthers[area];
}

void Refuse(const Range &range, const std::string &why) {
  throw FormatError("range " + DescribeRange(range) + ": " + why);
}

void CheckModel3(const Range &range) {
  const int64_t start = range.address;
  const int64_t end = start + static_cast<int64_t>(range.data.size());
  if (range.area != 0) Refuse(range, "model 3 has no areas: use area 0");
  if (range.data.size() % 2 != 0) Refuse(range, "model 3 moves whole words: use an even count");
  if (start < kModel3Gap && end > kModel3Gap && (kModel3Gap - start) % 2 != 0) {
    Refuse(range, "model 3 cuts at address 3960: start at an even distance from it");
  }
  const int64_t wire_end = kModel3Base + end + (end > kModel3Gap ? 8 : 0);
  if (wire_end > kModel3WireEnd) {
    Refuse(range, "model 3 addresses logical 0 to 32631 only");
  }
}

}  // namespace

std::string DescribeRange(const Range &range) {
  char text[96];
  std::snprintf(text, sizeof text, "area %u, address 0x%X, %zu bytes", range.area,
                static_cast<unsigned>(range.address), range.data.size());
  return text;
}

void CheckRanges(uint16_t model, const std::vector<Range> &ranges) {
  for (const Range &range : ranges) {
    if (range.data.empty() || range.data.size() > 0xFFFF) {
      Refuse(range, "a range holds 1 to 65535 bytes");
    }
    if (range.address < 0) Refuse(range, "addresses start at 0");
    if (model == 3) {
      CheckModel3(range);
      continue;
    }
    if (range.area > 3) Refuse(range, "classic areas are 0-3");
    const int64_t end =
        AreaOffset(model, range.area) + range.address + static_cast<int64_t>(range.data.size());
    if (end > kWireEnd) Refuse(range, "beyond the memory the panel addresses");
  }
  std::vector<const Range *> sorted;
  for (const Range &range : ranges) sorted.push_back(&range);
  std::sort(sorted.begin(), sorted.end(), [](const Range *a, const Range *b) {
    return a->area != b->area ? a->area < b->area : a->address < b->address;
  });
  for (size_t i = 1; i < sorted.size(); ++i) {
    const Range &before = *sorted[i - 1];
    if (sorted[i]->area == before.area &&
        sorted[i]->address < before.address + static_cast<int64_t>(before.data.size())) {
      Refuse(*sorted[i], "overlaps range " + DescribeRange(before));
    }
  }
}

bool RangeRestorable(uint16_t model, const Range &range) {
  return model == 3 || range.area == 0;
}

}  // namespace quiblink::backup
