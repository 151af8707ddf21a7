// The serial device disappears under an open port: the far side of the
// pseudo-terminal closes, as a USB adapter pulled or a terminal switched off
// with its cable. Calls must fail with a result code well within the reply
// time-out, close must return promptly, nothing may spin while the dead port
// stays open, and the port must work again once a device is back.
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "hardening/pty_terminal.h"
#include "quiblink/quiblink.h"

extern char **environ;

namespace {

using hard::PtyTerminal;
using Clock = std::chrono::steady_clock;

// Far below the 10 s reply time-out that a call would wait out if it did
// not notice the device was gone; far above what three attempts need.
constexpr auto kFailFast = std::chrono::seconds(4);
constexpr auto kClosePromptly = std::chrono::seconds(2);

long Millis(Clock::duration d) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

// Processor time of the whole process, in milliseconds.
long CpuMillis() {
  rusage use{};
  getrusage(RUSAGE_SELF, &use);
  return (use.ru_utime.tv_sec + use.ru_stime.tv_sec) * 1000L +
         (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1000L;
}

bool LineFailure(int16_t rc) {
  return rc == RC_NO_RESPONSE || rc == RC_INCOMPLETE || rc == RC_TX_FAILED;
}

class DeviceLoss : public ::testing::Test {
 protected:
  void Map(int com, const PtyTerminal &t) {
    ASSERT_TRUE(t.ok());
    setenv(("QUIBLINK_COM" + std::to_string(com)).c_str(), t.path(), 1);
  }
  void TearDown() override {
    for (int com = 1; com <= 10; ++com) unsetenv(("QUIBLINK_COM" + std::to_string(com)).c_str());
  }

  // Runs a call and checks that it fails with a line code, and fast.
  template <typename Call>
  void ExpectFastLineFailure(const char *what, Call call) {
    const auto start = Clock::now();
    const int16_t rc = call();
    const auto took = Clock::now() - start;
    EXPECT_TRUE(LineFailure(rc)) << what << " returned " << rc;
    EXPECT_LT(took, kFailFast) << what << " took " << Millis(took) << " ms";
  }

  template <typename Call>
  void ExpectPromptClose(int16_t handle, Call after) {
    const auto start = Clock::now();
    EXPECT_EQ(QUIB_Close(uint16_t(handle)), 0);
    const auto took = Clock::now() - start;
    EXPECT_LT(took, kClosePromptly) << "close took " << Millis(took) << " ms";
    after();
  }
};

TEST_F(DeviceLoss, ClassicCallsOnAPortWhoseDeviceWentAwayFailFast) {
  PtyTerminal panel(PtyTerminal::kClassic);
  Map(1, panel);
  const int16_t h = QUIB_Open(0, 0);
  ASSERT_GE(h, 0);
  uint8_t buffer[64] = {};
  ASSERT_EQ(QUIB_Read(uint16_t(h), 0, 0x10, buffer, 8), 0) << "healthy before the loss";

  panel.HangUp();
  ExpectFastLineFailure("read", [&] { return QUIB_Read(uint16_t(h), 0, 0x10, buffer, 8); });
  ExpectFastLineFailure("write", [&] { return QUIB_Write(uint16_t(h), 0, 0x10, 8, buffer); });
  ExpectFastLineFailure("read again", [&] { return QUIB_Read(uint16_t(h), 0, 0, buffer, 2); });
  ExpectPromptClose(h, [] {});
}

TEST_F(DeviceLoss, DeviceThatGoesAwayWhileAReplyIsAwaitedEndsTheCall) {
  PtyTerminal terminal(PtyTerminal::kGraphic);
  Map(2, terminal);
  const int16_t h = XQUIB_Open(1, 38400, 0);
  ASSERT_GE(h, 0);
  uint32_t type = 0;
  uint16_t status = 0;
  ASSERT_EQ(XQUIB_GetKEWType(uint16_t(h), &type, &status), 0);

  terminal.SetMode(PtyTerminal::kHangUpOnRequest);
  static uint8_t data[16384];
  int32_t total = -1;
  status = 0xBEEF;
  ExpectFastLineFailure("block read",
                        [&] { return XQUIB_ReadAll(uint16_t(h), data, &total, &status); });
  EXPECT_EQ(total, -1) << "no total on a failure";
  EXPECT_EQ(status, 0xBEEF) << "no terminal status without a reply";
  ExpectFastLineFailure("query", [&] { return XQUIB_GetKEWType(uint16_t(h), &type, &status); });
  ExpectPromptClose(h, [] {});
}

// Two channels of the dead port, used from two threads at once, then closed.
TEST_F(DeviceLoss, ChannelsOfADeadPortFailFromEveryThreadAndAllClose) {
  PtyTerminal panel(PtyTerminal::kClassic);
  Map(3, panel);
  const int16_t a = QUIB_Open(2, 0);
  const int16_t b = QUIB_Open(2, 0);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  panel.HangUp();

  std::atomic<int> failures{0};
  auto work = [&](int16_t h) {
    uint8_t buffer[64];
    for (int i = 0; i < 3; ++i) {
      const auto start = Clock::now();
      const int16_t rc = QUIB_Read(uint16_t(h), 0, 0, buffer, 16);
      if (LineFailure(rc) && Clock::now() - start < 2 * kFailFast) ++failures;
    }
  };
  std::thread first(work, a), second(work, b);
  first.join();
  second.join();
  EXPECT_EQ(failures.load(), 6);
  ExpectPromptClose(a, [] {});
  ExpectPromptClose(b, [] {});
}

// An open port on a dead device costs no processor time while it is idle,
// and little while calls fail on it.
TEST_F(DeviceLoss, NothingSpinsOnADeadPort) {
  PtyTerminal terminal(PtyTerminal::kGraphic);
  Map(4, terminal);
  const int16_t h = XQUIB_Open(3, 19200, 0);
  ASSERT_GE(h, 0);
  terminal.HangUp();
  uint16_t status = 0;
  EXPECT_TRUE(LineFailure(XQUIB_Offline(uint16_t(h), &status)));

  long cpu = CpuMillis();
  auto wall = Clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_LT(CpuMillis() - cpu, 60) << "processor time while idle on a dead port";

  cpu = CpuMillis();
  wall = Clock::now();
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(LineFailure(XQUIB_Reset(uint16_t(h), &status)));
  const long spent = CpuMillis() - cpu;
  EXPECT_LT(spent, Millis(Clock::now() - wall) / 4 + 20) << "processor time of failing calls";
  ExpectPromptClose(h, [] {});
}

// The port works again once a device is there: close, plug in, open.
TEST_F(DeviceLoss, PortRecoversWithTheNextDevice) {
  {
    PtyTerminal gone(PtyTerminal::kClassic);
    Map(5, gone);
    const int16_t h = QUIB_Open(4, 3);
    ASSERT_GE(h, 0);
    gone.HangUp();
    uint8_t buffer[8];
    EXPECT_TRUE(LineFailure(QUIB_Read(uint16_t(h), 0, 0, buffer, 4)));
    ExpectPromptClose(h, [] {});
  }
  PtyTerminal back(PtyTerminal::kClassic);
  Map(5, back);
  const int16_t h = QUIB_Open(4, 3);
  ASSERT_GE(h, 0);
  uint8_t buffer[8] = {};
  EXPECT_EQ(QUIB_Read(uint16_t(h), 0, 0, buffer, 4), 0);
  EXPECT_EQ(QUIB_Close(uint16_t(h)), 0);
}

// Runs unload_probe.cpp; returns how long it took, or fails when it did not
// end cleanly within the limit.
Clock::duration RunProbe(const char *mode, std::chrono::seconds limit) {
  char library[] = QUIBLINK_LIBRARY_PATH;
  char probe[] = UNLOAD_PROBE_PATH;
  char *argv[] = {probe, library, const_cast<char *>(mode), nullptr};
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, probe, nullptr, nullptr, argv, environ), 0);
  const auto start = Clock::now();
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() - start > limit) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "the process did not end within " << limit.count() << " s";
      return Clock::now() - start;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  return Clock::now() - start;
}

// A process that unloads the library with channels still open, one of them
// on a device that went away, ends promptly and cleanly.
TEST(DeviceLossUnload, UnloadWithChannelsOpenOnADeadDeviceDoesNotHang) {
  RunProbe(nullptr, std::chrono::seconds(30));
}

// A process that ends while calls wait for a silent terminal ends at once:
// the unload leaves their channels open rather than wait out the reply
// time-out (10 s) the calls are in.
TEST(DeviceLossUnload, ProcessEndingDuringCallsEndsAtOnce) {
  const auto took = RunProbe("busy", std::chrono::seconds(30));
  EXPECT_LT(took, std::chrono::seconds(5)) << Millis(took) << " ms";
}

}  // namespace
