// The trace: what reaches the debugger output or the caller's handler.
#include <string>
#include <vector>

#include "core/trace.h"
#include "quiblink/quiblink_ext.h"
#include "support/library_fixture.h"

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

}  // namespace
