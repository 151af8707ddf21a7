// Load and unload of the library: the state block, the named semaphores and
// the version query.
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
    EXPECT_EQ(port.ModeChar, '2');
  }
  EXPECT_EQ(quib::State.InitFlag, 1);
}

TEST_F(LifecycleTest, AttachCreatesTheTwoNamedSemaphoresAndDetachClosesThem) {
  EXPECT_TRUE(fake::SemaphoreExists("QsemaI"));
  EXPECT_TRUE(fake::SemaphoreExists("PLCmodel"));
  quib::LibraryEntry(0x10000000u, 0);
  EXPECT_FALSE(fake::SemaphoreExists("QsemaI"));
  EXPECT_FALSE(fake::SemaphoreExists("PLCmodel"));
  EXPECT_NE(fake::DebugJoined().find("DLL_PROCESS_DETACH\n"), std::string::npos);
  quib::LibraryEntry(0x10000000u, 1);  // the fixture detaches again
}

TEST_F(LifecycleTest, AttachStillSucceedsWhenTheNamedSemaphoresCannotBeCreated) {
  quib::LibraryEntry(0x10000000u, 0);
  fake::FailSemaphoreCreate("QsemaI");
  quib::LibraryEntry(0x10000000u, 1);
  EXPECT_EQ(quib::State.InitFlag, 1);
  EXPECT_EQ(QUIB_Version(), 211);
  EXPECT_EQ(QUIB_Close(0), RC_PORT_OPEN_FAILED);
}

}  // namespace
