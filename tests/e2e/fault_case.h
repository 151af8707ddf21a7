// One fault of the simulator against one library call: the result code and terminal status the
// call must return, how many requests the terminal must have seen (the port worker's repeats
// show there), how long the call may take, and a good call right after on the same channel.
#pragma once

#include <ostream>

#include "e2e_support.h"

namespace quiblink::e2e {

enum class Call {
  kOffline,       // graphic, fixed-length reply
  kReadGroup,     // graphic, group 1 of three blocks, lengths from the length field
  kPassword,      // graphic, the right password
  kClassicRead,   // classic model 0, 8 bytes at 0x100
  kClassicWrite,  // classic model 0, 8 bytes at 0x200
};

inline constexpr uint16_t kStatusNotWritten = 0xBEEF;

struct FaultCase {
  const char *name;
  const char *fault;
  Call call;
  int16_t rc;
  uint16_t status;  // kStatusNotWritten where the call must leave it alone
  long requests;
  double min_seconds;
  double max_seconds;
  double next_call_min_seconds = 0;  // the good call after pays for a purge of the line
};

inline void PrintTo(const FaultCase &c, std::ostream *out) {
  *out << c.name;
}

class FaultTest : public SimTest, public ::testing::WithParamInterface<FaultCase> {
 protected:
  void SetUp() override;
  void Check(const FaultCase &c);

 private:
  bool Graphic() const;
  int16_t Run(Call call, uint16_t *status);
  void GoodCall(double min_seconds);

  int16_t h_ = -1;
  Bytes group_;
};

}  // namespace quiblink::e2e
