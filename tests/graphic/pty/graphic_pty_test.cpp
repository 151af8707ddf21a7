// End to end over a pseudo-terminal: the library opens the slave side as COM1
// at 38400 baud 8E1, and a terminal thread on the master side takes request
// frames apart by their length field and answers each from its script. One
// test per family of export: control, query, block read, block write.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>

#include "quiblink/quiblink.h"
#include "support/pty.h"
#include "support/wire/graphic.h"

namespace {

using namespace wire;

// The terminal: answers each request from its script.
class PtyTerminal {
 public:
  // The reply to one request frame; empty for none.
  using Script = std::function<Bytes(const Bytes &request)>;

  explicit PtyTerminal(Script script) : script_(std::move(script)) {}

  // Read after the library call has returned: every request has been
  // answered by then, and the lock orders the thread's writes.
  std::vector<Bytes> Requests() {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
  }

 private:
  void Answer(PtyPeer &peer, const Bytes &request) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      requests_.push_back(request);
    }
    peer.Send(script_(request));
  }

  Script script_;
  std::mutex lock_;
  std::vector<Bytes> requests_;
  PtyPeer peer_{graphic::FrameLength, [this](PtyPeer &peer, const uint8_t *request, size_t n) {
                  Answer(peer, Bytes(request, request + n));
                }};
  ComMapping com1_{1, peer_.path()};
};

int16_t OpenCom1() {
  return XQUIB_Open(0, 38400, 0);
}

TEST(GraphicOverPty, ControlCommandsCarryTheTerminalStatus) {
  PtyTerminal terminal([](const Bytes &request) {
    return graphic::Reply(request[3], request[4], 0, 0, request[3] == 2 ? 5 : 0);
  });
  const int16_t h = OpenCom1();
  ASSERT_GE(h, 0);
  uint16_t status = 0xBEEF;
  EXPECT_EQ(XQUIB_Offline(h, &status), RC_OK);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(XQUIB_SWReset(h, &status), RC_TERMINAL_ERROR);
  EXPECT_EQ(status, 5);
  EXPECT_EQ(QUIB_Close(h), RC_OK);

  const auto requests = terminal.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], (Bytes{0xFE, 0x06, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x08}));
  EXPECT_EQ(requests[1], graphic::Request(2, 1, 0, 0));
}

TEST(GraphicOverPty, ProjectInformationArrivesThroughTheLengthField) {
  const Bytes name{'P', 'A', 'N', 'E', 'L', '-', '7'};
  PtyTerminal terminal([&](const Bytes &) {
    return graphic::Reply(49, 0x43, 0, 0, 0, Cat({Le32(0x01020304), Le32(42), {7}, name}));
  });
  const int16_t h = OpenCom1();
  ASSERT_GE(h, 0);
  uint32_t v1 = 0, v2 = 0;
  uint8_t buffer[16] = {};
  uint16_t length = 0, status = 0xBEEF;
  EXPECT_EQ(XQUIB_GetProjInfo(h, &v1, &v2, buffer, &length, &status), RC_OK);
  EXPECT_EQ(QUIB_Close(h), RC_OK);
  EXPECT_EQ(v1, 0x01020304u);
  EXPECT_EQ(v2, 42u);
  EXPECT_EQ(length, 7);
  EXPECT_EQ(Bytes(buffer, buffer + 7), name);
  EXPECT_EQ(terminal.Requests(), std::vector<Bytes>{graphic::Request(49, 0x43, 0, 0)});
}

TEST(GraphicOverPty, OneGroupIsReadBlockByBlock) {
  const Bytes blocks[3] = {Pattern(1024, 1), Pattern(1024, 2), Pattern(100, 3)};
  std::atomic<int> next{0};
  PtyTerminal terminal([&](const Bytes &) {
    const int i = next++;
    return graphic::Reply(33, 1, i == 2 ? 2 : 0, static_cast<uint8_t>(i), 0,
                          graphic::GroupBlock(2, blocks[i]));
  });
  const int16_t h = OpenCom1();
  ASSERT_GE(h, 0);
  std::vector<uint8_t> data(4096, 0xEE);
  int32_t total = -1;
  uint16_t status = 0xBEEF;
  EXPECT_EQ(XQUIB_Read1G(h, 2, data.data(), &total, &status), RC_OK);
  EXPECT_EQ(QUIB_Close(h), RC_OK);
  ASSERT_EQ(total, 2148);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + total), Cat({blocks[0], blocks[1], blocks[2]}));
  EXPECT_EQ(data[2148], 0xEE);
  const auto requests = terminal.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0], graphic::Request(33, 1, 0, 0, Le16(2)));
  EXPECT_EQ(requests[2], graphic::Request(33, 1, 1, 0, Le16(2)));
}

TEST(GraphicOverPty, WriteArrivesInChunksThatReassembleToTheData) {
  PtyTerminal terminal([](const Bytes &) { return graphic::Reply(17, 1, 0, 0, 0); });
  const int16_t h = OpenCom1();
  ASSERT_GE(h, 0);
  const Bytes data = Pattern(3000, 9);
  uint16_t status = 0xBEEF;
  EXPECT_EQ(XQUIB_Write(h, 1, 0x0102, 3000, data.data(), &status), RC_OK);
  EXPECT_EQ(QUIB_Close(h), RC_OK);
  EXPECT_EQ(status, 0);

  const auto requests = terminal.Requests();
  ASSERT_EQ(requests.size(), 3u);
  Bytes received;
  const uint8_t flags[] = {0, 1, 2};
  for (size_t i = 0; i < requests.size(); ++i) {
    const Bytes &r = requests[i];
    EXPECT_EQ(r[3], 17);
    EXPECT_EQ(r[5], flags[i]);
    EXPECT_EQ(r[6], i);
    EXPECT_EQ(r[8], 0x02);
    EXPECT_EQ(r[9], 0x01);
    const size_t count = static_cast<size_t>(r[10] | (r[11] << 8));
    ASSERT_EQ(r.size(), count + 13);
    EXPECT_EQ(r.back(), graphic::SumAfterStart(Bytes(r.begin(), r.end() - 1)));
    received.insert(received.end(), r.begin() + 12, r.begin() + 12 + count);
  }
  EXPECT_EQ(received, data);
}

}  // namespace
