// Faults that the library can only answer by waiting out its 10 s reply time-out, once per
// attempt. Named Slow... and labelled "slow": CI runs them, `ctest -LE slow` skips them.
#include <gtest/gtest.h>

#include <string>

#include "fault_case.h"
#include "quiblink/quiblink.h"

namespace quiblink::e2e {
namespace {

constexpr uint16_t kNone = kStatusNotWritten;
// Three attempts of 10 s of silence each; the upper bounds only catch a hang.
constexpr double kThreeTimeOuts = 30;
constexpr double kOneTimeOut = 10;
constexpr double kHang = 60;

class SlowFaultTest : public FaultTest {};

TEST_P(SlowFaultTest, EndsAsTheReplyTimeOutSays) {
  Check(GetParam());
}

std::string Name(const ::testing::TestParamInfo<FaultCase> &info) {
  return info.param.name;
}

// clang-format off
const FaultCase kGraphic[] = {
  // name                      fault                       call              rc                status requests min             max
  {"SilenceThrice",             "silence:next=3",           Call::kOffline,   RC_NO_RESPONSE,   kNone, 3,       kThreeTimeOuts, kHang},
  {"PartialThrice",             "partial:next=3",           Call::kOffline,   RC_INCOMPLETE,    kNone, 3,       kThreeTimeOuts, kHang},
  {"SilenceOnceIsRepeated",     "silence",                  Call::kOffline,   RC_OK,            0,     2,       kOneTimeOut,    kHang},
  // The repeat of a block asks for the same block again.
  {"PartialBlockIsRepeated",    "partial:every=2,next=1",   Call::kReadGroup, RC_OK,            0,     4,       kOneTimeOut,    kHang},
  // The time-out counts silence: 2 s between bytes keeps a reply of 16 s alive.
  {"DripSlowerThanTheTimeOut",  "drip=2000",                Call::kOffline,   RC_OK,            0,     1,       15,             kHang},
};

const FaultCase kClassic[] = {
  {"SilenceThrice",             "silence:next=3",           Call::kClassicRead,  RC_NO_RESPONSE, kNone, 3,     kThreeTimeOuts, kHang},
  {"PartialThrice",             "partial:next=3",           Call::kClassicRead,  RC_INCOMPLETE,  kNone, 3,     kThreeTimeOuts, kHang},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(SlowGraphic, SlowFaultTest, ::testing::ValuesIn(kGraphic), Name);
INSTANTIATE_TEST_SUITE_P(SlowClassic, SlowFaultTest, ::testing::ValuesIn(kClassic), Name);

}  // namespace
}  // namespace quiblink::e2e
