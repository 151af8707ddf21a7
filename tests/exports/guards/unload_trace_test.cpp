// The loader's entry point and the unload never call the caller's trace
// handler: they run under the loader's lock (Windows) or while the process
// ends, when the runtime behind a managed caller's handler may be gone. Their
// lines go to the debugger output, and the unload drops the handler before it
// closes what the process left open, so that the port workers serving the
// last requests do not call it either.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "core/state.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_ext.h"
#include "support/library_fixture.h"

namespace {

class UnloadTrace : public LibraryTest {
 protected:
  void TearDown() override {
    QUIB_SetTraceHandler(nullptr, nullptr);
    LibraryTest::TearDown();
  }

  static void Collect(const char *text, void *user) {
    UnloadTrace *self = static_cast<UnloadTrace *>(user);
    std::lock_guard<std::mutex> lock(self->mu_);
    self->seen_.push_back(text);
  }
  void Listen() { QUIB_SetTraceHandler(Collect, this); }
  std::vector<std::string> Seen() {
    std::lock_guard<std::mutex> lock(mu_);
    return seen_;
  }
  void Forget() {
    std::lock_guard<std::mutex> lock(mu_);
    seen_.clear();
  }
  static bool Logged(const std::string &text) {
    return fake::DebugJoined().find(text) != std::string::npos;
  }

  std::mutex mu_;
  std::vector<std::string> seen_;
};

TEST_F(UnloadTrace, ThreadAttachAndDetachGoToTheDebuggerOutputOnly) {
  Listen();
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kThreadAttach);
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kThreadDetach);
  EXPECT_EQ(Seen(), std::vector<std::string>{});
  EXPECT_TRUE(Logged("DLL_THREAD_ATTACH\n"));
  EXPECT_TRUE(Logged("DLL_THREAD_DETACH\n"));
  EXPECT_TRUE(Logged("Handle = 10000000\n"));
  // The handler stays for the calls that follow.
  EXPECT_EQ(QUIB_Read(32, 0, 0, nullptr, 1), RC_BAD_ARGUMENT);
  EXPECT_EQ(Seen(), std::vector<std::string>{"READ command\n"});
}

// The process ends with channels of both families still open, one port
// shared: the unload closes them through their workers, and neither the
// entry point nor the workers call the handler.
TEST_F(UnloadTrace, UnloadWithChannelsOpenNeverCallsTheHandler) {
  fake::LineOfPort(0).OnFrame([](fake::Line &line, const fake::Bytes &) { line.Send({0x06}); });
  ASSERT_GE(QUIB_Open(0, 0), 0);
  ASSERT_GE(QUIB_Open(0, 0), 0);
  ASSERT_GE(XQUIB_Open(1, 38400, 0), 0);
  Listen();
  const uint8_t data[2] = {1, 2};
  ASSERT_EQ(QUIB_Write(0, 0, 0x10, 2, data), RC_OK);
  ASSERT_FALSE(Seen().empty()) << "the handler hears the calls";
  Forget();
  fake::ClearDebug();

  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessDetach);
  EXPECT_EQ(Seen(), std::vector<std::string>{});
  EXPECT_TRUE(Logged("DLL_PROCESS_DETACH\n"));
  EXPECT_EQ(fake::LiveThreads(), 0) << "a port worker outlived the unload";

  // A later load of the library starts without a handler, and its attach
  // writes to the debugger output even if one was set before it.
  Listen();
  fake::ClearDebug();
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessAttach);
  EXPECT_EQ(Seen(), std::vector<std::string>{});
  EXPECT_TRUE(Logged("DLL_PROCESS_ATTACH\n"));
}

TEST_F(UnloadTrace, UnloadDropsTheHandler) {
  Listen();
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessDetach);
  plat::LibraryEntry(0x10000000u, plat::EntryReason::kProcessAttach);
  fake::ClearDebug();
  EXPECT_EQ(QUIB_Read(32, 0, 0, nullptr, 1), RC_BAD_ARGUMENT);
  EXPECT_EQ(Seen(), std::vector<std::string>{});
  EXPECT_TRUE(Logged("READ command\n"));
}

}  // namespace
