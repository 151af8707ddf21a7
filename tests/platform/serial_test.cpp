// The serial device calls over a pseudo-terminal.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

#include "line_settings.h"
#include "platform/platform.h"
#include "support/pty.h"

namespace {

using Bytes = std::vector<uint8_t>;
using plat::Handle;
using plat::kInvalid;

uint32_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - since)
                                   .count());
}

// Runs open_device in a child process; true when the child could open it.
bool ChildCanOpen(const char *name) {
  pid_t child = fork();
  if (child == 0) {
    Handle dev = plat::DeviceOpen(name);
    _exit(dev == kInvalid ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A device opened as COM1 on a fresh pseudo-terminal, programmed 9600 7E1.
class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dev_ = plat::DeviceOpen("COM1");
    ASSERT_NE(dev_, kInvalid);
    ASSERT_TRUE(plat::DeviceSetupBuffers(dev_, 2048, 2048));
    plat::LineSettings s = Line(9600, 7);
    ASSERT_TRUE(plat::DeviceSetLine(dev_, &s));
  }
  void TearDown() override {
    if (dev_ != kInvalid) plat::DeviceClose(dev_);
  }

  // Waits until the device's input queue holds count bytes.
  uint32_t WaitInQueue(uint32_t count) {
    plat::LineStatus st = {};
    auto start = std::chrono::steady_clock::now();
    while (ElapsedMs(start) < 3000) {
      if (!plat::DeviceLineStatus(dev_, &st)) return 0;
      if (st.InQueue >= count) break;
      plat::DeviceWaitInput(dev_, 20);
    }
    return st.InQueue;
  }

  Pty pty_;
  ComMapping com1_{1, pty_.path()};
  Handle dev_ = kInvalid;
};

TEST(SerialNames, ComNamesOpenTheMappedPath) {
  struct Row {
    const char *name;
    int port;
  };
  const Row rows[] = {{"COM1", 1}, {"COM5", 5}, {"COM9", 9}, {"\\\\.\\COM10", 10}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Pty pty;
    ComMapping mapping(row.port, pty.path());
    Handle dev = plat::DeviceOpen(row.name);
    ASSERT_NE(dev, kInvalid);
    uint32_t written = 0;
    ASSERT_TRUE(plat::DeviceWrite(dev, "\x02Z", 2, &written));
    EXPECT_EQ(pty.Receive(2), (Bytes{0x02, 'Z'}));
    plat::DeviceClose(dev);
  }
}

TEST(SerialNames, OtherNamesAreNotMapped) {
  Pty pty;
  ComMapping com11(11, pty.path());
  ComMapping com1(1, pty.path());
  const char *const names[] = {"COM11", "COM0", "COM01", "com1", "\\\\.\\COM11"};
  for (const char *name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(plat::DeviceOpen(name), kInvalid);
  }
  Handle dev = plat::DeviceOpen(pty.path());  // a plain path
  EXPECT_NE(dev, kInvalid);
  plat::DeviceClose(dev);
}

TEST(SerialNames, MappingIsReadAtEachOpen) {
  Pty first;
  Pty second;
  Handle dev;
  {
    ComMapping mapping(2, first.path());
    dev = plat::DeviceOpen("COM2");
  }
  ASSERT_NE(dev, kInvalid);
  ComMapping mapping(2, second.path());
  Handle other = plat::DeviceOpen("COM2");
  ASSERT_NE(other, kInvalid);
  uint32_t written = 0;
  ASSERT_TRUE(plat::DeviceWrite(other, "B", 1, &written));
  ASSERT_TRUE(plat::DeviceWrite(dev, "A", 1, &written));
  EXPECT_EQ(first.Receive(1), Bytes{'A'});
  EXPECT_EQ(second.Receive(1), Bytes{'B'});
  plat::DeviceClose(dev);
  plat::DeviceClose(other);
}

TEST(SerialNames, NotATerminalCannotBeSetUp) {
  char path[] = "/tmp/quiblink-plain-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  Handle dev = plat::DeviceOpen(path);
  ASSERT_NE(dev, kInvalid);
  EXPECT_FALSE(plat::DeviceSetupBuffers(dev, 2048, 2048));
  plat::DeviceClose(dev);
  unlink(path);
  EXPECT_EQ(plat::DeviceOpen(path), kInvalid);  // gone: open fails
}

// Bytes pass as they are from the open on, before any line settings: a
// terminal left cooked would turn the library's LF into CR LF and hold the
// terminal's CR back as the end of a line.
TEST(SerialNames, OpenMakesACookedTerminalRaw) {
  Pty pty;
  termios cooked = {};
  ASSERT_EQ(tcgetattr(pty.master(), &cooked), 0);  // the pair shares one termios
  cooked.c_lflag |= ICANON | ECHO;
  cooked.c_oflag |= OPOST | ONLCR;
  cooked.c_iflag |= ICRNL;
  ASSERT_EQ(tcsetattr(pty.master(), TCSANOW, &cooked), 0);
  Handle dev = plat::DeviceOpen(pty.path());
  ASSERT_NE(dev, kInvalid);
  uint32_t written = 0;
  ASSERT_TRUE(plat::DeviceWrite(dev, "\x02\n", 2, &written));
  EXPECT_EQ(pty.Receive(2), (Bytes{0x02, '\n'}));
  pty.Send({'\r', 0x03});
  Bytes got;
  auto start = std::chrono::steady_clock::now();
  while (got.size() < 2 && ElapsedMs(start) < 3000) {
    uint8_t buffer[8];
    uint32_t n = 0;
    ASSERT_TRUE(plat::DeviceRead(dev, buffer, sizeof buffer, &n));
    got.insert(got.end(), buffer, buffer + n);
    if (n == 0) plat::DeviceWaitInput(dev, 50);
  }
  EXPECT_EQ(got, (Bytes{'\r', 0x03}));
  plat::DeviceClose(dev);
}

TEST_F(SerialTest, SecondOpenInThisProcessIsRefused) {
  EXPECT_EQ(plat::DeviceOpen("COM1"), kInvalid);
  EXPECT_EQ(plat::DeviceOpen(pty_.path()), kInvalid);
}

TEST_F(SerialTest, SecondOpenFromAnotherProcessIsRefused) {
  EXPECT_FALSE(ChildCanOpen("COM1"));
}

TEST_F(SerialTest, ClosedDeviceOpensAgainHereAndElsewhere) {
  plat::DeviceClose(dev_);
  dev_ = kInvalid;
  EXPECT_TRUE(ChildCanOpen("COM1"));
  dev_ = plat::DeviceOpen("COM1");
  ASSERT_NE(dev_, kInvalid);
  uint32_t written = 0;
  EXPECT_TRUE(plat::DeviceWrite(dev_, "x", 1, &written));
  EXPECT_EQ(pty_.Receive(1), Bytes{'x'});
}

TEST_F(SerialTest, SpeedReadsBackAtStandardAndOtherRates) {
  const uint32_t rates[] = {300,    1200, 9600,  19200, 38400, 57600,
                            115200, 1000, 12345, 31250, 65535};
  for (uint32_t baud : rates) {
    SCOPED_TRACE(baud);
    plat::LineSettings s = Line(baud, 8);
    ASSERT_TRUE(plat::DeviceSetLine(dev_, &s));
    plat::LineSettings got = {};
    ASSERT_TRUE(plat::DeviceGetLine(dev_, &got));
    EXPECT_EQ(got.BaudRate, baud);
  }
}

TEST_F(SerialTest, FlagsWithoutTermiosMeaningReadBack) {
  plat::LineSettings s = Line(19200, 8);
  s.TxContinueOnXoff = true;
  s.DsrSensitivity = true;
  s.AbortOnError = true;
  s.ErrorChar = true;
  s.Null = true;
  s.StopBits = plat::kOneStopBit;
  ASSERT_TRUE(plat::DeviceSetLine(dev_, &s));
  plat::LineSettings got = {};
  ASSERT_TRUE(plat::DeviceGetLine(dev_, &got));
  EXPECT_EQ(got.BaudRate, 19200u);
  EXPECT_TRUE(got.Binary);
  EXPECT_TRUE(got.ParityCheck);
  EXPECT_TRUE(got.TxContinueOnXoff);
  EXPECT_TRUE(got.DsrSensitivity);
  EXPECT_TRUE(got.AbortOnError);
  EXPECT_TRUE(got.ErrorChar);
  EXPECT_TRUE(got.Null);
  EXPECT_FALSE(got.OutX);
  EXPECT_FALSE(got.InX);
  EXPECT_FALSE(got.OutxCtsFlow);
  EXPECT_EQ(got.RtsControl, plat::kRtsEnable);
  EXPECT_EQ(got.StopBits, plat::kOneStopBit);
  // A pseudo-terminal holds 8 bits whatever is asked; a UART would say 7.
  EXPECT_TRUE(got.ByteSize == 7 || got.ByteSize == 8);
}

// A byte with a parity error must reach the library unchanged, as it does on
// Windows: with INPCK the kernel would hand over 0x00 instead, with IGNPAR
// drop it, with PARMRK prefix it with 0xFF 0x00.
TEST_F(SerialTest, ParityErrorsPassBytesUnchanged) {
  for (bool check : {true, false}) {
    SCOPED_TRACE(check ? "parity check asked" : "parity check not asked");
    plat::LineSettings s = Line(9600, 7);
    s.ParityCheck = check;
    ASSERT_TRUE(plat::DeviceSetLine(dev_, &s));
    termios tio = {};
    ASSERT_EQ(tcgetattr(pty_.master(), &tio), 0);  // the pair shares one termios
    EXPECT_EQ(tio.c_iflag & INPCK, 0u);
    EXPECT_EQ(tio.c_iflag & IGNPAR, 0u);
    EXPECT_EQ(tio.c_iflag & PARMRK, 0u);
    EXPECT_EQ(tio.c_iflag & ISTRIP, 0u);
    plat::LineSettings got = {};
    ASSERT_TRUE(plat::DeviceGetLine(dev_, &got));
    EXPECT_EQ(got.ParityCheck, check);
  }
}

TEST_F(SerialTest, InvalidLineSettingsChangeNothing) {
  struct Row {
    const char *what;
    uint32_t baud;
    uint8_t bits;
    uint8_t parity;
    uint8_t stop;
  };
  const Row rows[] = {{"zero baud", 0, 8, plat::kParityEven, plat::kOneStopBit},
                      {"9 data bits", 4800, 9, plat::kParityEven, plat::kOneStopBit},
                      {"4 data bits", 4800, 4, plat::kParityEven, plat::kOneStopBit},
                      {"parity code 5", 4800, 8, 5, plat::kOneStopBit},
                      {"stop bit code 3", 4800, 8, plat::kParityEven, 3}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    plat::LineSettings s = Line(row.baud, row.bits);
    s.Parity = row.parity;
    s.StopBits = row.stop;
    EXPECT_FALSE(plat::DeviceSetLine(dev_, &s));
    plat::LineSettings got = {};
    ASSERT_TRUE(plat::DeviceGetLine(dev_, &got));
    EXPECT_EQ(got.BaudRate, 9600u);
  }
}

TEST_F(SerialTest, ReadReturnsAtOnceWhenNothingArrived) {
  uint8_t buffer[16];
  uint32_t got = 99;
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(plat::DeviceRead(dev_, buffer, sizeof buffer, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_LT(ElapsedMs(start), 200u);
}

TEST_F(SerialTest, ReadTakesOnlyWhatIsAskedAndKeepsTheRest) {
  pty_.Send(Bytes{0xFF, 0x00, 0x0A, 0x0D, 0x03, 0x11, 0x13, 0x7F});
  ASSERT_EQ(WaitInQueue(8), 8u);
  uint8_t buffer[16] = {};
  uint32_t got = 0;
  ASSERT_TRUE(plat::DeviceRead(dev_, buffer, 3, &got));
  ASSERT_EQ(got, 3u);
  EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0xFF, 0x00, 0x0A}));
  ASSERT_TRUE(plat::DeviceRead(dev_, buffer, sizeof buffer, &got));
  // Raw mode: no CR/NL translation, XON/XOFF and DEL pass as data.
  EXPECT_EQ(Bytes(buffer, buffer + got), (Bytes{0x0D, 0x03, 0x11, 0x13, 0x7F}));
}

TEST_F(SerialTest, QueueCountsAndFlags) {
  pty_.Send(Bytes{'1', '2', '3', '4', '5'});
  EXPECT_EQ(WaitInQueue(5), 5u);
  plat::LineStatus st = {99, 99, 99, 99};
  ASSERT_TRUE(plat::DeviceLineStatus(dev_, &st));
  EXPECT_EQ(st.InQueue, 5u);
  EXPECT_EQ(st.OutQueue, 0u);  // a pseudo-terminal's slave never reports one
  EXPECT_EQ(st.Errors, 0u);
  EXPECT_EQ(st.HoldFlags, 0u);
}

TEST_F(SerialTest, PurgeDiscardsInput) {
  pty_.Send(Bytes{'s', 't', 'r', 'a', 'y'});
  ASSERT_EQ(WaitInQueue(5), 5u);
  ASSERT_TRUE(plat::DevicePurge(dev_));
  plat::LineStatus st = {};
  ASSERT_TRUE(plat::DeviceLineStatus(dev_, &st));
  EXPECT_EQ(st.InQueue, 0u);
  uint8_t buffer[8];
  uint32_t got = 99;
  ASSERT_TRUE(plat::DeviceRead(dev_, buffer, sizeof buffer, &got));
  EXPECT_EQ(got, 0u);
  // Bytes after the purge come through.
  pty_.Send(Bytes{'o', 'k'});
  ASSERT_EQ(WaitInQueue(2), 2u);
  ASSERT_TRUE(plat::DeviceRead(dev_, buffer, sizeof buffer, &got));
  EXPECT_EQ(Bytes(buffer, buffer + got), (Bytes{'o', 'k'}));
}

TEST_F(SerialTest, PseudoTerminalHasNoModemLines) {
  uint32_t bits = 0xFFFF;
  EXPECT_EQ(plat::DeviceModemStatus(dev_, &bits), plat::kModemNotSupported);
}

TEST_F(SerialTest, WriteSendsTheWholeFrame) {
  Bytes frame(1100);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7);
  uint32_t written = 0;
  ASSERT_TRUE(plat::DeviceWrite(dev_, frame.data(), 1100, &written));
  EXPECT_EQ(written, 1100u);
  EXPECT_EQ(pty_.Receive(1100), frame);
}

TEST_F(SerialTest, WriteLargerThanTheDriverBufferWaitsForRoom) {
  Bytes data(200000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i ^ (i >> 8));
  Bytes received;
  std::thread reader([&] { received = pty_.Receive(data.size(), 20000); });
  uint32_t written = 0;
  EXPECT_TRUE(plat::DeviceWrite(dev_, data.data(), static_cast<uint32_t>(data.size()), &written));
  reader.join();
  EXPECT_EQ(written, data.size());
  EXPECT_TRUE(received == data);
}

TEST_F(SerialTest, WriteThatCannotDrainFailsInsteadOfHanging) {
  plat::LineSettings s = Line(115200, 8);
  ASSERT_TRUE(plat::DeviceSetLine(dev_, &s));
  Bytes data(400000, 0x55);  // nobody reads the far end
  uint32_t written = 0;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(plat::DeviceWrite(dev_, data.data(), static_cast<uint32_t>(data.size()), &written));
  EXPECT_LT(written, data.size());
  EXPECT_LT(ElapsedMs(start), 15000u);
}

TEST_F(SerialTest, WaitInputTimesOutOrReturnsOnArrival) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(plat::DeviceWaitInput(dev_, 100));
  EXPECT_GE(ElapsedMs(start), 95u);

  std::thread peer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty_.Send(Bytes{'!'});
  });
  start = std::chrono::steady_clock::now();
  EXPECT_TRUE(plat::DeviceWaitInput(dev_, 10000));
  EXPECT_LT(ElapsedMs(start), 5000u);
  peer.join();
  EXPECT_EQ(WaitInQueue(1), 1u);
}

TEST_F(SerialTest, DeviceThatWentAwayFailsInsteadOfReadingNothing) {
  pty_.Hangup();
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(plat::DeviceWaitInput(dev_, 10000));
  EXPECT_LT(ElapsedMs(start), 5000u);
  uint8_t buffer[8];
  uint32_t got = 0;
  EXPECT_FALSE(plat::DeviceRead(dev_, buffer, sizeof buffer, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(plat::DeviceRead(dev_, buffer, sizeof buffer, &got));  // and stays failed
  uint32_t written = 0;
  EXPECT_FALSE(plat::DeviceWrite(dev_, "x", 1, &written));
  plat::LineStatus st = {};
  EXPECT_FALSE(plat::DeviceLineStatus(dev_, &st));
}

TEST(SerialHandles, CallsOnHandlesNotOpenFail) {
  const Handle handles[] = {kInvalid, 0, 1, 0x5100, 0x510F, 0x7FFFFFFF};
  for (Handle h : handles) {
    SCOPED_TRACE(h);
    uint8_t buffer[4];
    uint32_t n = 0;
    plat::LineSettings s = Line(9600, 8);
    plat::LineStatus st = {};
    plat::Timeouts t = {};
    uint32_t bits = 0;
    EXPECT_FALSE(plat::DeviceSetupBuffers(h, 1, 1));
    EXPECT_FALSE(plat::DeviceGetLine(h, &s));
    EXPECT_FALSE(plat::DeviceSetLine(h, &s));
    EXPECT_FALSE(plat::DeviceSetTimeouts(h, &t));
    EXPECT_FALSE(plat::DeviceRead(h, buffer, 4, &n));
    EXPECT_FALSE(plat::DeviceWrite(h, buffer, 4, &n));
    EXPECT_FALSE(plat::DeviceLineStatus(h, &st));
    EXPECT_FALSE(plat::DevicePurge(h));
    EXPECT_EQ(plat::DeviceModemStatus(h, &bits), plat::kModemFailed);
    plat::DeviceClose(h);  // harmless
  }
}

TEST(SerialHandles, TableFullRefusesOpenAndFreesOnClose) {
  std::vector<std::unique_ptr<Pty>> ptys;
  std::vector<Handle> open;
  for (int i = 0; i < 64; ++i) {
    ptys.push_back(std::make_unique<Pty>());
    Handle dev = plat::DeviceOpen(ptys.back()->path());
    if (dev == kInvalid) break;
    open.push_back(dev);
  }
  // At least the ten ports fit; the table is bounded.
  EXPECT_GE(open.size(), 10u);
  EXPECT_LT(open.size(), 64u);
  plat::DeviceClose(open.back());
  open.pop_back();
  Handle again = plat::DeviceOpen(ptys[open.size()]->path());
  EXPECT_NE(again, kInvalid);
  open.push_back(again);
  for (Handle dev : open) plat::DeviceClose(dev);
}

}  // namespace
