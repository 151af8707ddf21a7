// Load and unload of the library: the state block, the named semaphores and
// the version query.
#include <string>

#include "quiblink/quiblink.h"
#include "support/library_fixture.h"

namespace {

class LifecycleTest : public LibraryTest {};

TEST_F(LifecycleTest, VersionIs211WithNoChannelOpen) {
  EXPECT_EQ(QUIB_Version(), 211);
}

TEST_F(LifecycleTest, RightAfterAttachEveryHandleIsFreeAndEveryPortClosed) {
  for (uint16_t handle = 0; handle < 32; ++handle) {
    EXPECT_EQ(QUIB_Close(handle), RC_PORT_OPEN_FAILED) << "handle " << handle;
  }
  for (const quib::PortRecord &port : quib::State.Ports) {
    EXPECT_EQ(port.OpenCount, -1);
    EXPECT_EQ(port.CommHandle, plat::kInvalid);
    EXPECT_EQ(port.CurrentHandle, -1);
    EXPECT_EQ(port.QuietTime, 5);
  }
  EXPECT_EQ(quib::State.InitFlag, 1);
}

TEST_F(LifecycleTest, AttachCreatesTheTwoNamedSemaphoresAndDetachClosesThem) {
  EXPECT_TRUE(fake::SemaphoreExists("QsemaI"));
  EXPECT_TRUE(fake::SemaphoreExists("PLCmodel"));
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessDetach);
  EXPECT_FALSE(fake::SemaphoreExists("QsemaI"));
  EXPECT_FALSE(fake::SemaphoreExists("PLCmodel"));
  EXPECT_NE(fake::DebugJoined().find("DLL_PROCESS_DETACH\n"), std::string::npos);
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessAttach);  // the fixture detaches again
}

TEST_F(LifecycleTest, AttachStillSucceedsWhenTheNamedSemaphoresCannotBeCreated) {
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessDetach);
  fake::FailSemaphoreCreate("QsemaI");
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessAttach);
  EXPECT_EQ(quib::State.InitFlag, 1);
  EXPECT_EQ(QUIB_Version(), 211);
  EXPECT_EQ(QUIB_Close(0), RC_PORT_OPEN_FAILED);
}

// The detach of an ending process: its other threads are gone, so nothing is
// asked of a worker (no stop request) and nothing waited for; the devices and
// port semaphores are closed and every slot is free. An unload of a running
// process stops the worker through its queue.
TEST_F(LifecycleTest, DetachOfAnEndingProcessOnlyReleasesHandles) {
  struct Row {
    bool process_ending;
    bool stop_request;
  };
  for (const Row row : {Row{true, false}, Row{false, true}}) {
    SCOPED_TRACE(row.process_ending ? "process ending" : "library unloaded");
#if defined(__SANITIZE_THREAD__)
    // The system ends an ending process's other threads before this detach;
    // the fake cannot, so the worker it leaves running would still read what
    // the detach closes, a race no real process has.
    if (row.process_ending) continue;
#endif
    ASSERT_EQ(XQUIB_Open(0, 38400, 0), 0);
    ASSERT_EQ(XQUIB_Open(3, 38400, 0), 1);
    ASSERT_TRUE(fake::LineOfPort(0).IsOpen());
    ASSERT_TRUE(fake::SemaphoreExists("PortSema3"));
    fake::ClearDebug();
    plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessDetach, row.process_ending);
    const std::string debug = fake::DebugJoined();
    EXPECT_EQ(debug.find("Send Command\n") != std::string::npos, row.stop_request);
    EXPECT_NE(debug.find("DLL_PROCESS_DETACH\n"), std::string::npos);
    EXPECT_FALSE(fake::LineOfPort(0).IsOpen());
    EXPECT_FALSE(fake::LineOfPort(3).IsOpen());
    EXPECT_FALSE(fake::SemaphoreExists("PortSema0"));
    EXPECT_FALSE(fake::SemaphoreExists("RxSema3"));
    EXPECT_FALSE(fake::SemaphoreExists("QsemaI"));
    for (const quib::HandleEntry &entry : quib::State.Handles) EXPECT_EQ(entry.Port.load(), -1);
    for (const quib::PortRecord &port : quib::State.Ports) EXPECT_EQ(port.OpenCount, -1);
    plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessAttach);
    // A fresh attach serves the port again.
    EXPECT_EQ(XQUIB_Open(0, 38400, 0), 0);
    EXPECT_EQ(QUIB_Close(0), 0);
  }
}

}  // namespace

#include "quiblink/quiblink_version.h"

namespace {

TEST(VersionMacros, AgreeWithEachOtherAndWithQuibVersion) {
  EXPECT_EQ(QUIB_Version(),
            QUIBLINK_VERSION_MAJOR * 100 + QUIBLINK_VERSION_MINOR * 10 + QUIBLINK_VERSION_PATCH);
  EXPECT_EQ(std::string(QUIBLINK_VERSION_STRING), std::to_string(QUIBLINK_VERSION_MAJOR) + "." +
                                                      std::to_string(QUIBLINK_VERSION_MINOR) + "." +
                                                      std::to_string(QUIBLINK_VERSION_PATCH));
  struct Case {
    int major, minor, patch;
    bool met;
  };
  const int M = QUIBLINK_VERSION_MAJOR, m = QUIBLINK_VERSION_MINOR, p = QUIBLINK_VERSION_PATCH;
  const Case cases[] = {
      {M, m, p, true},       {M, m, p + 1, false}, {M, m + 1, 0, false}, {M + 1, 0, 0, false},
      {M - 1, 99, 99, true}, {M, m - 1, 99, true}, {0, 0, 0, true},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(static_cast<bool>(QUIBLINK_VERSION_CHECK(c.major, c.minor, c.patch)), c.met)
        << c.major << "." << c.minor << "." << c.patch;
  }
}

}  // namespace
