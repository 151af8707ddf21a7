// End to end over a pseudo-terminal: the library opens the slave side as COM1
// at 38400 baud 8E1, and a terminal thread on the master side takes request
// frames apart by their length field and answers each from its script. One
// test per family of export: control, query, block read, block write.
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "graphic/frames.h"
#include "platform/pty.h"
#include "quiblink/quiblink.h"

namespace {

class PtyTerminal {
 public:
  // The reply to one request frame; empty for none.
  using Script = std::function<gt::Bytes(const gt::Bytes &request)>;

  explicit PtyTerminal(Script script) : com1_(1, pty_.path()), script_(std::move(script)) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~PtyTerminal() {
    stop_ = true;
    thread_.join();
  }

  // Read after the library call has returned: every request has been
  // answered by then, and the lock orders the thread's writes.
  std::vector<gt::Bytes> Requests() {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
  }

 private:
  void Serve() {
    gt::Bytes pending;
    while (!stop_) {
      pollfd pfd = {pty_.master(), POLLIN, 0};
      if (poll(&pfd, 1, 20) <= 0) continue;
      uint8_t chunk[2048];
      const ssize_t n = read(pty_.master(), chunk, sizeof chunk);
      if (n <= 0) {
        usleep(2000);  // no slave side open yet
        continue;
      }
      pending.insert(pending.end(), chunk, chunk + n);
      while (pending.size() >= 3) {
        if (pending[0] != 0xFE) {
          pending.erase(pending.begin());
          continue;
        }
        const size_t total = static_cast<size_t>(pending[1] | (pending[2] << 8)) + 3;
        if (pending.size() < total) break;
        const gt::Bytes request(pending.begin(), pending.begin() + total);
        pending.erase(pending.begin(), pending.begin() + total);
        {
          std::lock_guard<std::mutex> hold(lock_);
          requests_.push_back(request);
        }
        const gt::Bytes reply = script_(request);
        if (!reply.empty()) pty_.Send(reply);
      }
    }
  }

  Pty pty_;
  ComMapping com1_;
  Script script_;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<gt::Bytes> requests_;
  std::thread thread_;
};

int16_t OpenCom1() {
  return XQUIB_Open(0, 38400, 0);
}

TEST(GraphicOverPty, ControlCommandsCarryTheTerminalStatus) {
  PtyTerminal terminal([](const gt::Bytes &request) {
    return gt::Reply(request[3], request[4], 0, 0, request[3] == 2 ? 5 : 0);
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
  EXPECT_EQ(requests[0], (gt::Bytes{0xFE, 0x06, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x08}));
  EXPECT_EQ(requests[1], gt::Request(2, 1, 0, 0));
}

TEST(GraphicOverPty, ProjectInformationArrivesThroughTheLengthField) {
  const gt::Bytes name{'P', 'A', 'N', 'E', 'L', '-', '7'};
  PtyTerminal terminal([&](const gt::Bytes &) {
    return gt::Reply(49, 0x43, 0, 0, 0, gt::Cat({gt::Le32(0x01020304), gt::Le32(42), {7}, name}));
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
  EXPECT_EQ(gt::Bytes(buffer, buffer + 7), name);
  EXPECT_EQ(terminal.Requests(), std::vector<gt::Bytes>{gt::Request(49, 0x43, 0, 0)});
}

TEST(GraphicOverPty, OneGroupIsReadBlockByBlock) {
  const gt::Bytes blocks[3] = {gt::Pattern(1024, 1), gt::Pattern(1024, 2), gt::Pattern(100, 3)};
  std::atomic<int> next{0};
  PtyTerminal terminal([&](const gt::Bytes &) {
    const int i = next++;
    return gt::Reply(33, 1, i == 2 ? 2 : 0, static_cast<uint8_t>(i), 0,
                     gt::GroupBlock(2, blocks[i]));
  });
  const int16_t h = OpenCom1();
  ASSERT_GE(h, 0);
  std::vector<uint8_t> data(4096, 0xEE);
  int32_t total = -1;
  uint16_t status = 0xBEEF;
  EXPECT_EQ(XQUIB_Read1G(h, 2, data.data(), &total, &status), RC_OK);
  EXPECT_EQ(QUIB_Close(h), RC_OK);
  ASSERT_EQ(total, 2148);
  EXPECT_EQ(gt::Bytes(data.begin(), data.begin() + total),
            gt::Cat({blocks[0], blocks[1], blocks[2]}));
  EXPECT_EQ(data[2148], 0xEE);
  const auto requests = terminal.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0], gt::Request(33, 1, 0, 0, gt::Le16(2)));
  EXPECT_EQ(requests[2], gt::Request(33, 1, 1, 0, gt::Le16(2)));
}

TEST(GraphicOverPty, WriteArrivesInChunksThatReassembleToTheData) {
  PtyTerminal terminal([](const gt::Bytes &) { return gt::Reply(17, 1, 0, 0, 0); });
  const int16_t h = OpenCom1();
  ASSERT_GE(h, 0);
  const gt::Bytes data = gt::Pattern(3000, 9);
  uint16_t status = 0xBEEF;
  EXPECT_EQ(XQUIB_Write(h, 1, 0x0102, 3000, data.data(), &status), RC_OK);
  EXPECT_EQ(QUIB_Close(h), RC_OK);
  EXPECT_EQ(status, 0);

  const auto requests = terminal.Requests();
  ASSERT_EQ(requests.size(), 3u);
  gt::Bytes received;
  const uint8_t flags[] = {0, 1, 2};
  for (size_t i = 0; i < requests.size(); ++i) {
    const gt::Bytes &r = requests[i];
    EXPECT_EQ(r[3], 17);
    EXPECT_EQ(r[5], flags[i]);
    EXPECT_EQ(r[6], i);
    EXPECT_EQ(r[8], 0x02);
    EXPECT_EQ(r[9], 0x01);
    const size_t count = static_cast<size_t>(r[10] | (r[11] << 8));
    ASSERT_EQ(r.size(), count + 13);
    EXPECT_EQ(r.back(), gt::SumAfterStart(gt::Bytes(r.begin(), r.end() - 1)));
    received.insert(received.end(), r.begin() + 12, r.begin() + 12 + count);
  }
  EXPECT_EQ(received, data);
}

}  // namespace
