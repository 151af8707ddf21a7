// The fake serial line and its clock: the ground every engine test stands on.
#include <unistd.h>

#include <thread>

#include "support/fake/fake_line.h"
#include "platform/platform.h"
#include "support/library_fixture.h"

namespace {

class FakeLineTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
};

TEST_F(FakeLineTest, DeviceOpenIsExclusiveAndCountsOpens) {
  plat::Handle a = plat::DeviceOpen("COM1");
  ASSERT_NE(a, plat::kInvalid);
  EXPECT_EQ(plat::DeviceOpen("COM1"), plat::kInvalid);
  plat::DeviceClose(a);
  plat::Handle b = plat::DeviceOpen("COM1");
  EXPECT_NE(b, plat::kInvalid);
  EXPECT_EQ(fake::LineNamed("COM1").OpenCalls(), 2);
  EXPECT_EQ(&fake::LineOfPort(9), &fake::LineNamed("\\\\.\\COM10"));
}

TEST_F(FakeLineTest, ScheduledBytesArriveOnlyWhenTheirTickComes) {
  plat::Handle dev = plat::DeviceOpen("COM2");
  fake::LineNamed("COM2").Send({1, 2, 3}, 50);
  uint8_t buf[8];
  uint32_t got = 99;
  ASSERT_TRUE(plat::DeviceRead(dev, buf, sizeof buf, &got));
  EXPECT_EQ(got, 0u);
  fake::Advance(49);
  plat::LineStatus status{};
  ASSERT_TRUE(plat::DeviceLineStatus(dev, &status));
  EXPECT_EQ(status.InQueue, 0u);
  fake::Advance(1);
  ASSERT_TRUE(plat::DeviceLineStatus(dev, &status));
  EXPECT_EQ(status.InQueue, 3u);
  ASSERT_TRUE(plat::DeviceRead(dev, buf, 2, &got));
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(buf[1], 2);
}

TEST_F(FakeLineTest, OutputQueueDrainsAtTheProgrammedLineRate) {
  plat::Handle dev = plat::DeviceOpen("COM3");
  plat::LineSettings s{};
  plat::DeviceGetLine(dev, &s);
  s.BaudRate = 9600;
  s.ByteSize = 7;
  s.Parity = plat::kParityEven;
  s.StopBits = plat::kOneStopBit;  // 10 bits a character: 960 characters a second
  plat::DeviceSetLine(dev, &s);
  uint8_t frame[96] = {1};
  uint32_t written = 0;
  ASSERT_TRUE(plat::DeviceWrite(dev, frame, sizeof frame, &written));
  EXPECT_EQ(written, 96u);
  plat::LineStatus status{};
  plat::DeviceLineStatus(dev, &status);
  EXPECT_EQ(status.OutQueue, 96u);
  fake::Advance(50);
  plat::DeviceLineStatus(dev, &status);
  EXPECT_EQ(status.OutQueue, 48u);
  fake::Advance(50);
  plat::DeviceLineStatus(dev, &status);
  EXPECT_EQ(status.OutQueue, 0u);
}

TEST_F(FakeLineTest, ResponderSeesEachFrameAndItsReplyArrivesAfterTheDelay) {
  plat::Handle dev = plat::DeviceOpen("COM4");
  fake::LineNamed("COM4").OnFrame([](fake::Line &line, const fake::Bytes &frame) {
    line.Send({static_cast<uint8_t>(frame.size())}, 10);
  });
  uint8_t frame[5] = {};
  uint32_t written = 0;
  plat::DeviceWrite(dev, frame, 5, &written);
  EXPECT_EQ(fake::LineNamed("COM4").Frames().size(), 1u);
  fake::Advance(10);
  uint8_t reply = 0;
  uint32_t got = 0;
  plat::DeviceRead(dev, &reply, 1, &got);
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(reply, 5);
}

TEST_F(FakeLineTest, VirtualClockMovesOnlyWithPlatformThreadSleeps) {
  uint32_t start = fake::Now();
  plat::SleepMs(10000);  // a test thread: the clock stays
  EXPECT_EQ(fake::Now(), start);
  uint32_t id = 0;
  plat::Handle thread = plat::ThreadCreate(
      [](void *) -> uint32_t {
        plat::SleepMs(10000);
        return 7;
      },
      nullptr, &id);
  ASSERT_NE(thread, 0);
  ASSERT_EQ(plat::ThreadWait(thread, plat::kInfinite), plat::kWaitSignaled);
  uint32_t code = 0;
  plat::ThreadExitCode(thread, &code);
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(fake::Now() - start, 10000u);
}

TEST_F(FakeLineTest, ScaledClockRunsFasterThanRealTime) {
  fake::UseScaledClock(1000);
  uint32_t start = fake::Now();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(fake::Now() - start, 20000u);
  auto real_start = std::chrono::steady_clock::now();
  plat::SleepMs(10000);  // ten clock seconds
  auto real = std::chrono::steady_clock::now() - real_start;
  EXPECT_LT(real, std::chrono::milliseconds(1000));
}

TEST_F(FakeLineTest, SemaphoresKeepTheirMaximumAndNamesOpenTheSameObject) {
  plat::Handle a = plat::SemaphoreCreate("PortSema3", 0, 1);
  plat::Handle b = plat::SemaphoreCreate("PortSema3", 0, 1);
  EXPECT_EQ(a, b);
  EXPECT_TRUE(plat::SemaphoreRelease(a));
  EXPECT_FALSE(plat::SemaphoreRelease(a));  // above the maximum
  EXPECT_EQ(plat::SemaphoreWait(b, 0), plat::kWaitSignaled);
  EXPECT_EQ(plat::SemaphoreWait(b, 5), plat::kWaitTimeout);
  plat::SemaphoreClose(a);
  EXPECT_FALSE(fake::SemaphoreExists("PortSema3"));
  fake::FailSemaphoreCreate("RxSema");
  EXPECT_EQ(plat::SemaphoreCreate("RxSema0", 0, 1), 0);
  EXPECT_NE(plat::SemaphoreCreate("RxSema0", 0, 1), 0);  // one failure only
}

}  // namespace

namespace {

// A wait of the test's own thread that never ends fails the test in a bounded
// time, naming the wait, instead of holding it until ctest's time-out.
TEST_F(FakeLineTest, AWaitOfTheTestsOwnThreadEndsAtItsDeadlineNamingWhatItWaitedFor) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Row {
    const char *name;
    void (*wait)();
    const char *message;
  } rows[] = {
      {"a semaphore nobody releases",
       [] { plat::SemaphoreWait(plat::SemaphoreCreate("PortSema4", 0, 1), plat::kInfinite); },
       "waited on semaphore PortSema4 for [0-9]+ ms"},
      {"a thread that never ends",
       [] {
         plat::ThreadWait(plat::ThreadCreate(
                              [](void *) -> uint32_t {
                                for (;;) plat::SleepMs(10);
                              },
                              nullptr, nullptr),
                          plat::kInfinite);
       },
       "waited for the end of a platform thread"},
      {"a turn that never comes",
       [] {
         plat::DebugOutput("Send Command\n");
         const plat::Handle turn = plat::SemaphoreCreate(nullptr, 0, 1);
         for (;;) {
           plat::SemaphoreWait(turn, 10);
           plat::SleepMs(10);
         }
       },
       "paused again and again .* \\(its last trace: \"Send Command\"\\)"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_DEATH(
        {
          alarm(10);  // a deadline that never comes dies of the alarm instead
          fake::SetWaitLimit(100);
          row.wait();
        },
        row.message);
  }
}

}  // namespace
