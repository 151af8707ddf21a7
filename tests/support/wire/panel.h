// A classic panel's memory, for the tests that talk to a panel: it answers
// every request frame as a healthy panel does and fails the test on a request
// that is malformed.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "support/wire/classic.h"

namespace wire::classic {

struct Memory {
  std::map<unsigned, uint8_t> Cells;  // by wire address
  std::vector<Request> Requests;      // as the panel understood them

  // An unwritten byte holds a pattern of its address, so every read brings
  // recognisable data.
  static uint8_t Pattern(unsigned address) { return static_cast<uint8_t>(address * 7 + 3); }
  uint8_t At(unsigned address) const {
    auto it = Cells.find(address);
    return it == Cells.end() ? Pattern(address) : it->second;
  }

  Bytes Answer(const Bytes &frame) {
    Request r = Parse(frame);
    EXPECT_EQ(r.Fault, "") << Dump(frame);
    Requests.push_back(r);
    if (!r.Fault.empty()) return {};
    if (r.Write) {
      for (unsigned k = 0; k < r.Data.size(); ++k) Cells[r.Address + k] = r.Data[k];
      return {ACK};
    }
    Bytes memory;
    for (unsigned k = 0; k < r.Count; ++k) memory.push_back(At(r.Address + k));
    return ReadReply(IsWordCommand(frame[1]) ? 3 : 0, memory);
  }
};

}  // namespace wire::classic
