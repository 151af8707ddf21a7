#include "fault_case.h"

#include <algorithm>
#include <thread>

namespace quiblink::e2e {

namespace {
constexpr uint32_t kType = 0xC3;
constexpr int32_t kReadAt = 0x100;
constexpr int32_t kWriteAt = 0x200;
constexpr size_t kCount = 8;
}  // namespace

bool FaultTest::Graphic() const {
  const Call call = GetParam().call;
  return call == Call::kOffline || call == Call::kReadGroup || call == Call::kPassword;
}

void FaultTest::SetUp() {
  if (Graphic()) {
    StartSim({"--family", "graphic", "--baud", "38400", "--type", "0xC3", "--password", "secret"});
    h_ = OpenGraphic();
    group_ = Pattern(2500, 1);
    Sim().Command("group 1 " + ToHex(group_));
  } else {
    StartSim({"--family", "classic", "--model", "0"});
    h_ = OpenClassic(0);
  }
  ASSERT_GE(h_, 0);
}

int16_t FaultTest::Run(Call call, uint16_t *status) {
  const uint16_t h = static_cast<uint16_t>(h_);
  switch (call) {
    case Call::kOffline:
      return XQUIB_Offline(h, status);
    case Call::kReadGroup: {
      Bytes buffer(4096);
      int32_t total = -1;
      const int16_t rc = XQUIB_Read1G(h, 1, buffer.data(), &total, status);
      if (rc == RC_OK) {
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + std::max(total, 0)), group_);
      }
      return rc;
    }
    case Call::kPassword:
      return XQUIB_CheckPassword(h, FromText("secret").data(), 6, status);
    case Call::kClassicRead: {
      Bytes buffer(kCount, 0xEE);
      const int16_t rc = QUIB_Read(h, 0, kReadAt, buffer.data(), kCount);
      // A failed read copies nothing of its chunk.
      EXPECT_EQ(buffer, rc == RC_OK ? Peek(kReadAt, kCount) : Bytes(kCount, 0xEE));
      return rc;
    }
    case Call::kClassicWrite: {
      const Bytes data = Pattern(kCount, 0x77);
      const int16_t rc = QUIB_Write(h, 0, kWriteAt, kCount, data.data());
      // The panel acts on every write it takes off the line; faults spoil only its answer.
      EXPECT_EQ(Peek(kWriteAt, kCount), data);
      return rc;
    }
  }
  return RC_BAD_ARGUMENT;
}

void FaultTest::GoodCall(double min_seconds) {
  Stopwatch watch;
  if (Graphic()) {
    uint32_t type = 0;
    uint16_t status = kStatusNotWritten;
    EXPECT_EQ(XQUIB_GetKEWType(static_cast<uint16_t>(h_), &type, &status), RC_OK);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(type, kType);
  } else {
    uint16_t status = kStatusNotWritten;
    EXPECT_EQ(Run(Call::kClassicRead, &status), RC_OK);
  }
  EXPECT_GE(watch.Seconds(), min_seconds) << "the call after";
}

void FaultTest::Check(const FaultCase &c) {
  Sim().Arm(c.fault);
  const long before = Requests();
  uint16_t status = kStatusNotWritten;
  Stopwatch watch;
  EXPECT_EQ(Run(c.call, &status), c.rc);
  const double seconds = watch.Seconds();
  EXPECT_EQ(status, Graphic() ? c.status : kStatusNotWritten);
  EXPECT_GE(seconds, c.min_seconds);
  EXPECT_LE(seconds, c.max_seconds);
  EXPECT_EQ(Requests() - before, c.requests) << "requests the terminal saw";

  // Whatever the fault left on the line, the channel serves the next call. Bytes sent after a
  // reply reach the line within a few character times; the pause gives them ample time to be
  // there before the next request, where the line check must find them.
  Sim().ClearFaults();
  if (c.next_call_min_seconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  GoodCall(c.next_call_min_seconds);
}

}  // namespace quiblink::e2e
