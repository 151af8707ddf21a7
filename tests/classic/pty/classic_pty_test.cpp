// End to end over a pseudo-terminal: the library opens the slave side as
// COM1 at 9600 baud 7E1 and a panel answers on the master side.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "quiblink/quiblink.h"
#include "support/pty.h"
#include "support/wire/panel.h"

namespace {

namespace classic = wire::classic;

// The panel: answers each request from its memory.
class PtyPanel {
 public:
  // Read after the library call has returned: the panel has answered every
  // request by then, and the lock orders the thread's last writes.
  classic::Memory Memory() {
    std::lock_guard<std::mutex> hold(lock_);
    return memory_;
  }

 private:
  std::mutex lock_;
  classic::Memory memory_;
  PtyPeer peer_{classic::RequestLength, [this](PtyPeer &peer, const uint8_t *request, size_t n) {
                  std::lock_guard<std::mutex> hold(lock_);
                  peer.Send(memory_.Answer(wire::Bytes(request, request + n)));
                }};
  ComMapping com1_{1, peer_.path()};
};

TEST(ClassicOverPty, ReadFillsTheBufferChunkByChunk) {
  PtyPanel pty;
  const int16_t h = QUIB_Open(0, 0);
  ASSERT_GE(h, 0);
  std::vector<uint8_t> buffer(131, 0xEE);
  EXPECT_EQ(0, QUIB_Read(h, 1, 0x100, buffer.data(), 130));
  EXPECT_EQ(0, QUIB_Close(h));

  const classic::Memory memory = pty.Memory();
  ASSERT_EQ(3u, memory.Requests.size());
  EXPECT_EQ(0x20100u, memory.Requests[0].Address);
  EXPECT_EQ(0x20180u, memory.Requests[2].Address);
  EXPECT_EQ(2u, memory.Requests[2].Count);
  for (unsigned i = 0; i < 130; ++i) ASSERT_EQ(memory.At(0x20100 + i), buffer[i]) << i;
  EXPECT_EQ(0xEE, buffer[130]);
}

TEST(ClassicOverPty, WriteSendsThePreambleThenTheData) {
  PtyPanel pty;
  const int16_t h = QUIB_Open(0, 3);
  ASSERT_GE(h, 0);
  std::vector<uint8_t> data(40);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0x40 + i);
  EXPECT_EQ(0, QUIB_Write(h, 0, 0, 40, data.data()));
  EXPECT_EQ(0, QUIB_Close(h));

  const classic::Memory memory = pty.Memory();
  ASSERT_EQ(3u, memory.Requests.size());
  EXPECT_EQ(0x805Cu, memory.Requests[0].Address);
  EXPECT_EQ(36u, memory.Requests[0].Count);
  EXPECT_EQ('t', memory.At(0x805C));
  for (unsigned i = 0; i < 40; ++i) ASSERT_EQ(data[i], memory.At(0x8080 + i)) << i;
}

}  // namespace
