// The addressing rules of classic panel memory, by model code, for the ranges of a backup:
// checked before anything is sent, when a backup is made and when one is restored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "backup.h"

namespace quiblink::backup {

// Model code 3: logical addresses from here on sit 8 higher on the wire, and a request never
// crosses it.
constexpr int64_t kModel3Gap = 3960;

// Throws FormatError naming the range and the rule it breaks: a count of 1..65535, an address
// from 0, within the memory the model code addresses; with model 3 no area, whole words and an
// even distance to the gap; ranges of one area do not overlap.
void CheckRanges(uint16_t model, const std::vector<Range> &ranges);

// Whether a restore writes the range back: panels write area 0 only (model 3 has no areas).
bool RangeRestorable(uint16_t model, const Range &range);

// "area 0, address 0x100, 64 bytes"
std::string DescribeRange(const Range &range);

}  // namespace quiblink::backup
