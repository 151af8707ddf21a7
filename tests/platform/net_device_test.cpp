// The network device against a scripted server on 127.0.0.1: what goes on
// the wire at open, at the line settings, with data and purges, and what a
// silent or vanishing server does to the calls.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A listening socket on a free port of 127.0.0.1, and the one connection it takes.
class Server {
 public:
  explicit Server(int backlog = 1) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t size = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &size);
    port_ = ntohs(a.sin_port);
    listen(listener_, backlog);
  }
  ~Server() {
    if (peer_ >= 0) close(peer_);
    close(listener_);
  }
  std::string Url(const char *scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
  }
  uint16_t port() const { return port_; }
  void Accept() { peer_ = accept(listener_, nullptr, nullptr); }
  void Send(const Bytes &bytes) {
    ASSERT_EQ(send(peer_, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
  }
  // Exactly n bytes, or what came within ms.
  Bytes Take(size_t n, long ms = 3000) {
    Bytes out;
    const auto start = Clock::now();
    while (out.size() < n && MsSince(start) < ms) {
      pollfd p = {peer_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      uint8_t buffer[4096];
      ssize_t got = recv(peer_, buffer, std::min(sizeof buffer, n - out.size()), 0);
      if (got <= 0) break;
      out.insert(out.end(), buffer, buffer + got);
    }
    return out;
  }
  void Hangup() {
    close(peer_);
    peer_ = -1;
  }

 private:
  int listener_ = -1;
  int peer_ = -1;
  uint16_t port_ = 0;
};

const Bytes kOpening = {0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x00, 0xFF, 0xFB,
                        0x03, 0xFF, 0xFD, 0x03, 0xFF, 0xFB, 0x2C};
const Bytes kAgree = {0xFF, 0xFD, 0x2C, 0xFF, 0xFB, 0x00, 0xFF, 0xFD,
                      0x00, 0xFF, 0xFB, 0x03, 0xFF, 0xFD, 0x03};
const Bytes kMasks = {0xFF, 0xFA, 0x2C, 0x0A, 0x00, 0xFF, 0xF0, 0xFF,
                      0xFA, 0x2C, 0x0B, 0xFF, 0xFF, 0xFF, 0xF0};

plat::LineSettings Line(uint32_t baud, uint8_t bits) {
  plat::LineSettings s = {};
  s.BaudRate = baud;
  s.ByteSize = bits;
  s.Parity = plat::kParityEven;
  s.StopBits = plat::kOneStopBit;
  s.Binary = true;
  s.RtsControl = plat::kRtsEnable;
  s.DtrControl = 1;
  return s;
}

// A device opened on a server that agrees to the com port option.
class Rfc2217Device : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = std::async(std::launch::async,
                             [&] { return plat::DeviceOpen(server_.Url("rfc2217").c_str()); });
    server_.Accept();
    ASSERT_EQ(server_.Take(kOpening.size()), kOpening);
    server_.Send(kAgree);
    dev_ = opened.get();
    ASSERT_NE(dev_, plat::kInvalid);
    ASSERT_EQ(server_.Take(kMasks.size()), kMasks);
  }
  void TearDown() override {
    if (dev_ != plat::kInvalid) plat::DeviceClose(dev_);
  }
  Bytes ReadAll(size_t n) {
    Bytes out;
    const auto start = Clock::now();
    while (out.size() < n && MsSince(start) < 3000) {
      uint8_t buffer[1100];
      uint32_t got = 0;
      if (!plat::DeviceRead(dev_, buffer, sizeof buffer, &got)) break;
      out.insert(out.end(), buffer, buffer + got);
      if (got == 0) plat::DeviceWaitInput(dev_, 10);
    }
    return out;
  }

  Server server_;
  plat::Handle dev_ = plat::kInvalid;
};

TEST_F(Rfc2217Device, LineSettingsTravelAsComPortRequestsAndAwaitTheirAnswers) {
  const plat::LineSettings line = Line(38400, 7);
  auto set = std::async(std::launch::async, [&] { return plat::DeviceSetLine(dev_, &line); });
  const Bytes requests = {
      0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0x96, 0x00, 0xFF, 0xF0,  // baud rate
      0xFF, 0xFA, 0x2C, 0x02, 0x07, 0xFF, 0xF0,                    // 7 data bits
      0xFF, 0xFA, 0x2C, 0x03, 0x03, 0xFF, 0xF0,                    // even parity
      0xFF, 0xFA, 0x2C, 0x04, 0x01, 0xFF, 0xF0,                    // one stop bit
      0xFF, 0xFA, 0x2C, 0x05, 0x01, 0xFF, 0xF0,                    // no flow control
      0xFF, 0xFA, 0x2C, 0x05, 0x0B, 0xFF, 0xF0,                    // RTS on
  };
  EXPECT_EQ(server_.Take(requests.size()), requests);
  const auto start = Clock::now();
  // The answers, the first IAC split from its SB; none for the controls.
  server_.Send({0xFF});
  usleep(20000);
  server_.Send({0xFA, 0x2C, 0x65, 0x00, 0x00, 0x96, 0x00, 0xFF, 0xF0, 0xFF,
                0xFA, 0x2C, 0x66, 0x07, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x67,
                0x03, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x68, 0x01, 0xFF, 0xF0});
  EXPECT_TRUE(set.get());
  EXPECT_LT(MsSince(start), 500) << "waited for answers that had come";
  plat::LineSettings back = {};
  ASSERT_TRUE(plat::DeviceGetLine(dev_, &back));
  EXPECT_EQ(back.BaudRate, 38400u);
  EXPECT_EQ(back.ByteSize, 7);
}

TEST_F(Rfc2217Device, EveryByteValueTravelsBothWaysWithIacDoubled) {
  Bytes data(256);
  for (int i = 0; i < 256; ++i) data[i] = static_cast<uint8_t>(i);
  uint32_t written = 0;
  ASSERT_TRUE(plat::DeviceWrite(dev_, data.data(), 256, &written));
  EXPECT_EQ(written, 256u);
  Bytes wire = data;
  wire.push_back(0xFF);  // 0xFF 0xFF at the end
  EXPECT_EQ(server_.Take(257), wire);

  // From the server: the same bytes doubled, a modem report in between and the
  // last doubled IAC split across two sends.
  Bytes from;
  for (int i = 0; i < 256; ++i) {
    if (i == 128) {
      for (uint8_t b : {0xFF, 0xFA, 0x2C, 0x6B, 0x30, 0xFF, 0xF0}) from.push_back(b);
    }
    from.push_back(static_cast<uint8_t>(i));
    if (i == 0xFF) break;  // its double goes in a send of its own
  }
  server_.Send(from);
  usleep(20000);
  server_.Send({0xFF});
  Bytes got = ReadAll(256);
  EXPECT_EQ(got, data);

  plat::LineStatus status = {};
  ASSERT_TRUE(plat::DeviceLineStatus(dev_, &status));
  EXPECT_EQ(status.InQueue, 0u) << "the modem report is no data";
  uint32_t bits = 0;
  ASSERT_EQ(plat::DeviceModemStatus(dev_, &bits), plat::kModemOk);
  EXPECT_EQ(bits, uint32_t(plat::kCtsOn | plat::kDsrOn));
}

TEST_F(Rfc2217Device, ModemLinesAreUnknownUntilTheServerShowsOneOn) {
  uint32_t bits = 0xFF;
  EXPECT_EQ(plat::DeviceModemStatus(dev_, &bits), plat::kModemNotSupported);
  server_.Send({0xFF, 0xFA, 0x2C, 0x6B, 0x00, 0xFF, 0xF0});
  usleep(20000);
  EXPECT_EQ(plat::DeviceModemStatus(dev_, &bits), plat::kModemNotSupported);
  server_.Send({0xFF, 0xFA, 0x2C, 0x6B, 0xB0, 0xFF, 0xF0});
  usleep(20000);
  ASSERT_EQ(plat::DeviceModemStatus(dev_, &bits), plat::kModemOk);
  EXPECT_EQ(bits, uint32_t(plat::kRlsdOn | plat::kDsrOn | plat::kCtsOn));
  // Seen once, the lines count: a terminal unplugged later reads as all off.
  server_.Send({0xFF, 0xFA, 0x2C, 0x6B, 0x0B, 0xFF, 0xF0});
  usleep(20000);
  ASSERT_EQ(plat::DeviceModemStatus(dev_, &bits), plat::kModemOk);
  EXPECT_EQ(bits, 0u);
}

TEST_F(Rfc2217Device, PurgeDropsWhatCameAndAsksTheServerToPurgeToo) {
  server_.Send({0x41, 0x42, 0xFF, 0xFF});
  usleep(20000);
  plat::LineStatus status = {};
  ASSERT_TRUE(plat::DeviceLineStatus(dev_, &status));
  EXPECT_EQ(status.InQueue, 3u);
  ASSERT_TRUE(plat::DevicePurge(dev_));
  ASSERT_TRUE(plat::DeviceLineStatus(dev_, &status));
  EXPECT_EQ(status.InQueue, 0u);
  EXPECT_EQ(server_.Take(7), (Bytes{0xFF, 0xFA, 0x2C, 0x0C, 0x03, 0xFF, 0xF0}));
}

TEST_F(Rfc2217Device, AServerThatGoesAwayFailsEveryCallAfterTheBytesItSent) {
  server_.Send({0x10, 0x20});
  server_.Hangup();
  usleep(20000);
  EXPECT_EQ(ReadAll(2), (Bytes{0x10, 0x20}));
  uint8_t byte = 0;
  uint32_t got = 0;
  const auto start = Clock::now();
  EXPECT_FALSE(plat::DeviceRead(dev_, &byte, 1, &got));
  plat::LineStatus status = {};
  EXPECT_FALSE(plat::DeviceLineStatus(dev_, &status));
  uint32_t bits = 0;
  EXPECT_EQ(plat::DeviceModemStatus(dev_, &bits), plat::kModemFailed);
  uint32_t written = 0;
  EXPECT_FALSE(plat::DeviceWrite(dev_, &byte, 1, &written));  // no SIGPIPE either
  EXPECT_TRUE(plat::DeviceWaitInput(dev_, 5000));
  EXPECT_LT(MsSince(start), 200);
}

TEST(NetworkDevice, ARefusedConnectionFailsTheOpenAtOnce) {
  std::string url;
  {
    Server closed;
    url = closed.Url("rfc2217");
  }  // nothing listens there now
  const auto start = Clock::now();
  EXPECT_EQ(plat::DeviceOpen(url.c_str()), plat::kInvalid);
  EXPECT_EQ(plat::DeviceOpen("tcp://127.0.0.1:notaport"), plat::kInvalid);
  EXPECT_LT(MsSince(start), 1000);
}

TEST(NetworkDevice, AConnectionThatIsNeverTakenFailsTheOpenAfterThreeSeconds) {
  // A listener whose queue is full drops further connection requests unanswered, as an
  // unreachable host does.
  Server server(0);
  std::vector<int> queued;
  for (int i = 0; i < 8; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(server.port());
    connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    queued.push_back(fd);
  }
  usleep(100000);
  const auto start = Clock::now();
  EXPECT_EQ(plat::DeviceOpen(server.Url("tcp").c_str()), plat::kInvalid);
  const long ms = MsSince(start);
  EXPECT_GE(ms, 2900);
  EXPECT_LT(ms, 4000);
  for (int fd : queued) close(fd);
}

TEST(NetworkDevice, AServerThatNeverAnswersIsADeviceWithoutComPortControl) {
  Server server;
  const auto start = Clock::now();
  auto opened = std::async(std::launch::async,
                           [&] { return plat::DeviceOpen(server.Url("rfc2217").c_str()); });
  server.Accept();
  const plat::Handle dev = opened.get();
  const long open_ms = MsSince(start);
  ASSERT_NE(dev, plat::kInvalid);
  EXPECT_GE(open_ms, 900);
  EXPECT_LT(open_ms, 2500);
  EXPECT_EQ(server.Take(15), kOpening);
  // No com port requests follow, and the line settings are the server's.
  const plat::LineSettings line = Line(19200, 8);
  EXPECT_TRUE(plat::DeviceSetLine(dev, &line));
  uint32_t bits = 0;
  EXPECT_EQ(plat::DeviceModemStatus(dev, &bits), plat::kModemNotSupported);
  const uint8_t data[] = {0xFF, 0x01};
  uint32_t written = 0;
  EXPECT_TRUE(plat::DeviceWrite(dev, data, 2, &written));
  EXPECT_EQ(server.Take(3), (Bytes{0xFF, 0xFF, 0x01}));
  plat::DeviceClose(dev);
}

TEST(NetworkDevice, RawTcpCarriesBytesAsTheyAre) {
  Server server;
  auto opened =
      std::async(std::launch::async, [&] { return plat::DeviceOpen(server.Url("tcp").c_str()); });
  server.Accept();
  const plat::Handle dev = opened.get();
  ASSERT_NE(dev, plat::kInvalid);
  const plat::LineSettings line = Line(38400, 8);
  EXPECT_TRUE(plat::DeviceSetLine(dev, &line));
  const uint8_t data[] = {0xFF, 0xFA, 0x2C, 0x00};
  uint32_t written = 0;
  EXPECT_TRUE(plat::DeviceWrite(dev, data, 4, &written));
  EXPECT_EQ(server.Take(4), Bytes(data, data + 4));
  EXPECT_EQ(server.Take(1, 200), Bytes()) << "nothing else was sent";
  server.Send({0xFF, 0xFF, 0xFB});
  usleep(20000);
  uint8_t back[8];
  uint32_t got = 0;
  ASSERT_TRUE(plat::DeviceRead(dev, back, sizeof back, &got));
  EXPECT_EQ(Bytes(back, back + got), (Bytes{0xFF, 0xFF, 0xFB}));
  uint32_t bits = 0;
  EXPECT_EQ(plat::DeviceModemStatus(dev, &bits), plat::kModemNotSupported);
  plat::DeviceClose(dev);
}

}  // namespace
