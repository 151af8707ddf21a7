// End to end over a pseudo-terminal: the library opens the slave side as
// COM1 at 9600 baud 7E1 and a panel thread answers on the master side.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "classic/panel.h"
#include "quiblink/quiblink.h"

namespace {

// The panel: collects request frames from the master side (a request ends
// two checksum digits after its ETX) and answers each from its memory.
class PtyPanel {
 public:
  PtyPanel() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
      ADD_FAILURE() << "no pseudo-terminal";
      return;
    }
    termios tio;
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    setenv("QUIBLINK_COM1", name, 1);
    thread_ = std::thread([this] { Serve(); });
  }
  ~PtyPanel() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    unsetenv("QUIBLINK_COM1");
    if (master_ >= 0) close(master_);
  }

  // Read after the library call has returned: the panel has answered every
  // request by then, and the lock orders the thread's last writes.
  panel::Memory Memory() {
    std::lock_guard<std::mutex> hold(lock_);
    return memory_;
  }

 private:
  void Serve() {
    panel::Frame pending;
    while (!stop_) {
      pollfd pfd = {master_, POLLIN, 0};
      if (poll(&pfd, 1, 20) <= 0) continue;
      uint8_t chunk[256];
      const ssize_t n = read(master_, chunk, sizeof chunk);
      if (n <= 0) continue;
      pending.insert(pending.end(), chunk, chunk + n);
      for (;;) {
        size_t etx = 0;
        while (etx < pending.size() && pending[etx] != panel::ETX) ++etx;
        if (etx + 3 > pending.size()) break;
        const panel::Frame request(pending.begin(), pending.begin() + etx + 3);
        pending.erase(pending.begin(), pending.begin() + etx + 3);
        panel::Frame reply;
        {
          std::lock_guard<std::mutex> hold(lock_);
          reply = memory_.Answer(request);
        }
        Send(reply);
      }
    }
  }
  void Send(const panel::Frame &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else {
        pollfd pfd = {master_, POLLOUT, 0};
        poll(&pfd, 1, 20);
      }
    }
  }

  int master_ = -1;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  panel::Memory memory_;
  std::thread thread_;
};

TEST(ClassicOverPty, ReadFillsTheBufferChunkByChunk) {
  PtyPanel pty;
  const int16_t h = QUIB_Open(0, 0);
  ASSERT_GE(h, 0);
  std::vector<uint8_t> buffer(131, 0xEE);
  EXPECT_EQ(0, QUIB_Read(h, 1, 0x100, buffer.data(), 130));
  EXPECT_EQ(0, QUIB_Close(h));

  const panel::Memory memory = pty.Memory();
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

  const panel::Memory memory = pty.Memory();
  ASSERT_EQ(3u, memory.Requests.size());
  EXPECT_EQ(0x805Cu, memory.Requests[0].Address);
  EXPECT_EQ(36u, memory.Requests[0].Count);
  EXPECT_EQ('t', memory.At(0x805C));
  for (unsigned i = 0; i < 40; ++i) ASSERT_EQ(data[i], memory.At(0x8080 + i)) << i;
}

}  // namespace
