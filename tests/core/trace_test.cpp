// The trace: what reaches the debugger output or the caller's handler.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/trace.h"
#include "quiblink/quiblink_ext.h"
#include "support/library_fixture.h"
#include "support/waits.h"

namespace {

class TraceTest : public LibraryTest {};

void Collect(const char *text, void *user) {
  static_cast<std::vector<std::string> *>(user)->push_back(text);
}

std::vector<std::string> DumpPieces(std::vector<uint8_t> frame) {
  frame.push_back(0);
  std::vector<std::string> pieces;
  QUIB_SetTraceHandler(Collect, &pieces);
  quib::DumpFrame(frame.data());
  QUIB_SetTraceHandler(nullptr, nullptr);
  return pieces;
}

TEST_F(TraceTest, FrameDumpWritesPrintableBytesAsThemselvesAndOthersInHex) {
  using P = std::vector<std::string>;
  struct Case {
    const char *name;
    std::vector<uint8_t> frame;
    P pieces;
  } cases[] = {
      {"empty frame", {}, P{"[", "]\n"}},
      {"printable byte", {0x41}, P{"[", "A", "]\n"}},
      {"control byte", {0x1F}, P{"[", "<1F>", "]\n"}},
      {"space is printable", {0x20}, P{"[", " ", "]\n"}},
      {"high byte as itself", {0xFE}, P{"[", "\xFE", "]\n"}},
      {"stops at first zero", {0xFE, 0x00, 0x41}, P{"[", "\xFE", "]\n"}},
      {"classic frame", {0x02, 0x45, 0x30, 0x03}, P{"[", "<02>", "E", "0", "<03>", "]\n"}},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(DumpPieces(c.frame), c.pieces) << c.name;
  }
}

TEST_F(TraceTest, HandlerReceivesEachTextOnceAndNullRestoresDebuggerOutput) {
  std::vector<std::string> seen;
  QUIB_SetTraceHandler(Collect, &seen);
  quib::Trace("READ command\n");
  quib::TraceFormat("Handle = %d", 7);
  QUIB_SetTraceHandler(nullptr, nullptr);
  quib::Trace("WRITE command\n");
  EXPECT_EQ(seen, (std::vector<std::string>{"READ command\n", "Handle = 7"}));
  EXPECT_EQ(fake::DebugTexts(), (std::vector<std::string>{"WRITE command\n"}));
}

TEST_F(TraceTest, EntryPointTracesItsReasonThenModuleProcessAndThread) {
  plat::LibraryEntry(0xABCD, plat::EntryReason::kThreadAttach);
  plat::LibraryEntry(0xABCD, plat::EntryReason::kThreadDetach);
  plat::LibraryEntry(0xABCD, static_cast<plat::EntryReason>(7));
  std::vector<std::string> texts = fake::DebugTexts();
  ASSERT_EQ(texts.size(), 11u);
  EXPECT_EQ(texts[0], "DLL_THREAD_ATTACH\n");
  EXPECT_EQ(texts[1], "Handle = 0000ABCD\n");
  EXPECT_EQ(texts[2], "GetHandle=00001092\n");  // the fake's process id, 4242
  EXPECT_EQ(texts[3].rfind("Thread=", 0), 0u);
  EXPECT_EQ(texts[4], "DLL_THREAD_DETACH\n");
  // An unknown reason does no work and writes only the three lines.
  EXPECT_EQ(texts[8], "Handle = 0000ABCD\n");
}

// The entry point runs under the loader, where the runtime behind a caller's
// handler may be gone: its lines go to the debugger output for every reason.
// The process detach removes the handler; one set after the next attach gets
// the texts written after it.
TEST_F(TraceTest, EntryPointNeverCallsTheCallersHandler) {
  std::vector<std::string> seen;
  QUIB_SetTraceHandler(Collect, &seen);
  using plat::EntryReason;
  for (EntryReason reason : {EntryReason::kThreadAttach, EntryReason::kThreadDetach,
                             EntryReason::kProcessDetach, EntryReason::kProcessAttach}) {
    plat::LibraryEntry(0xABCD, reason);
  }
  EXPECT_EQ(seen, std::vector<std::string>{});
  QUIB_SetTraceHandler(Collect, &seen);
  const std::string debug = fake::DebugJoined();
  for (const char *text : {"DLL_THREAD_ATTACH\n", "DLL_THREAD_DETACH\n", "DLL_PROCESS_DETACH\n",
                           "DLL_PROCESS_ATTACH\n"}) {
    EXPECT_NE(debug.find(text), std::string::npos) << text;
  }
  quib::Trace("READ command\n");
  QUIB_SetTraceHandler(nullptr, nullptr);
  EXPECT_EQ(seen, std::vector<std::string>{"READ command\n"});
}

// A handler that holds its call on the text "hold\n" until released; records the rest.
struct HoldingSink {
  std::atomic<bool> holding{false};
  std::atomic<bool> released{false};
  std::vector<std::string> seen;  // written by the calls of one thread at a time
  static void Call(const char *text, void *user) {
    auto *self = static_cast<HoldingSink *>(user);
    if (std::string(text) != "hold\n") {
      self->seen.push_back(text);
      return;
    }
    self->holding = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!self->released && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    self->holding = false;
  }
};

bool AwaitTrue(const std::atomic<bool> &flag) {
  return waits::WaitFor([&] { return flag.load(); }, "the handler to hold its call");
}

// The caller frees what the old handler's user pointer points to once the change returns: the
// change waits for the old handler's call on another thread, and later texts go to the new
// handler with its own pointer.
TEST_F(TraceTest, ReplacingTheHandlerReturnsOnlyOnceTheOldOnesCallsHaveEnded) {
  HoldingSink old_sink;
  std::vector<std::string> seen;
  QUIB_SetTraceHandler(HoldingSink::Call, &old_sink);
  auto worker = waits::Async("the held trace", [] { quib::Trace("hold\n"); });
  ASSERT_TRUE(AwaitTrue(old_sink.holding));
  auto change =
      waits::Async("the change of handler", [&] { QUIB_SetTraceHandler(Collect, &seen); });
  EXPECT_FALSE(change.ReturnsWithin(std::chrono::milliseconds(200)))
      << "returned while the old handler was still running";
  quib::Trace("READ command\n");  // started after the change: the new handler's
  old_sink.released = true;
  change.Get();
  EXPECT_FALSE(old_sink.holding);
  worker.Get();
  QUIB_SetTraceHandler(nullptr, nullptr);
  EXPECT_EQ(seen, std::vector<std::string>{"READ command\n"});
  EXPECT_TRUE(old_sink.seen.empty());
}

// Inside a callback a change cannot wait: not for its own call, not for another thread's.
TEST_F(TraceTest, AChangeFromInsideACallbackReturnsAtOnce) {
  HoldingSink holder;
  QUIB_SetTraceHandler(HoldingSink::Call, &holder);
  auto worker = waits::Async("the held trace", [] { quib::Trace("hold\n"); });
  ASSERT_TRUE(AwaitTrue(holder.holding));
  struct Self {
    static void Call(const char *, void *user) {
      QUIB_SetTraceHandler(Collect, user);  // the handler replaces itself
    }
  };
  std::vector<std::string> seen;
  auto from_handler = waits::Async("the change from outside any callback", [&] {
    QUIB_SetTraceHandler(Self::Call, &seen);
    // Waits for the holder's call: its own change is made from outside any callback.
  });
  EXPECT_FALSE(from_handler.ReturnsWithin(std::chrono::milliseconds(100)));
  auto from_progress = waits::Async("the change from a progress callback", [] {
    quib::CallerCallbackScope progress_callback;
    QUIB_SetTraceHandler(nullptr, nullptr);
  });
  from_progress.Get(std::chrono::milliseconds(2000));
  holder.released = true;
  from_handler.Get();
  worker.Get();
  QUIB_SetTraceHandler(Self::Call, &seen);
  waits::Async("the handler that replaces itself", [] {
    quib::Trace("first\n");
  }).Get(std::chrono::milliseconds(2000));
  quib::Trace("second\n");
  QUIB_SetTraceHandler(nullptr, nullptr);
  EXPECT_EQ(seen, std::vector<std::string>{"second\n"});
}

}  // namespace
