// The library through a real device server: ser2net serves the simulator's pseudo-terminal on
// 127.0.0.1, and the library reaches it by URL. Every byte value both ways, the line settings
// carried by com port control, a server that dies in the middle of a transfer, and the tool.
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_runner.h"
#include "quiblink/quiblink.h"
#include "ser2net_process.h"
#include "sim/sim_process.h"
#include "support/wire/wire.h"

namespace quiblink::network {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Hex(const Bytes &data) {
  return wire::HexText(data);
}

double CpuSeconds() {
  rusage usage = {};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Every byte value, runs of 0xFF, and 0xFF before each telnet command byte, so that a missing
// or extra doubling anywhere shows.
Bytes AllByteValues() {
  Bytes data;
  for (int round = 0; round < 3; ++round) {
    for (int b = 0; b < 256; ++b) data.push_back(static_cast<uint8_t>(round == 1 ? 255 - b : b));
  }
  data.insert(data.end(), 300, 0xFF);
  for (int command = 0xF0; command <= 0xFF; ++command) {
    data.push_back(0xFF);
    data.push_back(static_cast<uint8_t>(command));
  }
  data.insert(data.end(), {0xFF, 0xFA, 0x2C, 0x01, 0x00, 0xFF, 0xF0, 0x0D, 0x00, 0x0D, 0x0A});
  return data;
}

class NetworkTest : public ::testing::Test {
 protected:
  void StartSim(const std::vector<std::string> &args) {
    sim_ = sim::SimProcess::Start(QUIBLINK_SIM_PATH, args);
    server_ = Ser2net::Start(sim_->path(), "38400e81");
  }
  void Map(const std::string &device) { setenv("QUIBLINK_COM1", device.c_str(), 1); }

  void TearDown() override {
    for (int16_t h : open_) QUIB_Close(static_cast<uint16_t>(h));
    open_.clear();
    unsetenv("QUIBLINK_COM1");
    server_.reset();
    if (sim_) sim_->Stop();
  }
  int16_t Keep(int16_t handle) {
    if (handle >= 0) open_.push_back(handle);
    return handle;
  }
  int16_t Close(int16_t handle) {
    std::erase(open_, handle);
    return QUIB_Close(static_cast<uint16_t>(handle));
  }
  // The speed the server has programmed on the pseudo-terminal.
  speed_t LineSpeed() {
    int fd = open(sim_->path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return B0;
    termios tio = {};
    speed_t speed = tcgetattr(fd, &tio) == 0 ? cfgetospeed(&tio) : B0;
    close(fd);
    return speed;
  }

  std::unique_ptr<sim::SimProcess> sim_;
  std::unique_ptr<Ser2net> server_;
  std::vector<int16_t> open_;
};

TEST_F(NetworkTest, EveryByteValueTravelsBothWaysOverEachKindOfUrl) {
  StartSim({"--family", "graphic", "--baud", "38400"});
  const Bytes data = AllByteValues();
  uint16_t group = 1;
  for (const char *scheme : {"rfc2217", "tcp", "socket"}) {
    SCOPED_TRACE(scheme);
    Map(server_->Url(scheme));
    const int16_t h = Keep(XQUIB_Open(0, 38400, 0));
    ASSERT_GE(h, 0);
    uint16_t status = 0xBEEF;
    ASSERT_EQ(XQUIB_Write(h, 1, group, uint32_t(data.size()), data.data(), &status), RC_OK);
    EXPECT_EQ(status, 0);
    const std::string held = sim_->Command("group " + std::to_string(group));
    Bytes terminal;
    for (size_t i = 0; i + 1 < held.size(); i += 2) {
      terminal.push_back(uint8_t(std::stoul(held.substr(i, 2), nullptr, 16)));
    }
    EXPECT_EQ(terminal, data) << "what reached the terminal";
    Bytes back(8192, 0xEE);
    int32_t total = -1;
    ASSERT_EQ(XQUIB_Read1G(h, group, back.data(), &total, &status), RC_OK);
    ASSERT_EQ(size_t(total), data.size());
    back.resize(size_t(total));
    EXPECT_EQ(back, data) << "what came back";
    EXPECT_EQ(Close(h), RC_OK);
    ++group;
  }
}

TEST_F(NetworkTest, TheLineSpeedOfEachOpenIsCarriedToTheServer) {
  StartSim({"--family", "graphic", "--baud", "19200"});
  Map(server_->Url("rfc2217"));
  const struct {
    uint16_t baud;
    speed_t speed;
  } opens[] = {{19200, B19200}, {38400, B38400}, {9600, B9600}};
  for (const auto &o : opens) {
    SCOPED_TRACE(o.baud);
    const int16_t h = Keep(XQUIB_Open(0, o.baud, 0));
    ASSERT_GE(h, 0);
    EXPECT_EQ(LineSpeed(), o.speed);
    uint32_t type = 0;
    uint16_t status = 0xBEEF;
    EXPECT_EQ(XQUIB_GetKEWType(h, &type, &status), RC_OK);
    EXPECT_EQ(Close(h), RC_OK);
  }
  // A classic channel asks for 9600 too, whatever the server's configuration says.
  const int16_t h = Keep(QUIB_Open(0, 0));
  ASSERT_GE(h, 0);
  EXPECT_EQ(LineSpeed(), B9600);
}

TEST_F(NetworkTest, AServerKilledInATransferFailsTheCallAndTheNextOpenReconnects) {
  StartSim({"--family", "graphic", "--baud", "38400"});
  Map(server_->Url("rfc2217"));
  const int16_t h = Keep(XQUIB_Open(0, 38400, 0));
  ASSERT_GE(h, 0);
  const Bytes data(16 * 1024, 0x5A);  // about 4.7 s on the line
  auto write = std::async(std::launch::async, [&] {
    uint16_t status = 0;
    return XQUIB_Write(h, 1, 1, uint32_t(data.size()), data.data(), &status);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  const double cpu = CpuSeconds();
  const auto killed = Clock::now();
  server_->Kill();
  ASSERT_EQ(write.wait_for(std::chrono::seconds(6)), std::future_status::ready)
      << "the call did not end";
  const int16_t rc = write.get();
  const double took = SecondsSince(killed);
  EXPECT_TRUE(rc == RC_NO_RESPONSE || rc == RC_INCOMPLETE || rc == RC_TX_FAILED) << rc;
  EXPECT_LT(took, 4.0);
  EXPECT_LT(CpuSeconds() - cpu, 0.5 * took + 0.1) << "the failing call spun";

  const auto closing = Clock::now();
  EXPECT_EQ(Close(h), RC_OK);
  EXPECT_LT(SecondsSince(closing), 1.0);

  // The same terminal behind a new server: the next open connects again.
  server_ = Ser2net::Start(sim_->path(), "38400e81");
  Map(server_->Url("rfc2217"));
  const int16_t again = Keep(XQUIB_Open(0, 38400, 0));
  ASSERT_GE(again, 0);
  uint32_t type = 0;
  uint16_t status = 0xBEEF;
  EXPECT_EQ(XQUIB_GetKEWType(again, &type, &status), RC_OK);
  const Bytes small(100, 0xA5);
  EXPECT_EQ(XQUIB_Write(again, 1, 2, uint32_t(small.size()), small.data(), &status), RC_OK);
}

TEST_F(NetworkTest, AnOpenOnAPortNobodyServesFailsAtOnce) {
  Map("rfc2217://127.0.0.1:" + std::to_string(FreePort()));
  const auto start = Clock::now();
  EXPECT_EQ(XQUIB_Open(0, 38400, 0), -1);
  EXPECT_EQ(QUIB_Open(0, 0), -1);
  EXPECT_LT(SecondsSince(start), 1.0);
}

TEST_F(NetworkTest, TheToolWorksWithAUrlAsPortOrInTheEnvironment) {
  StartSim({"--family", "graphic", "--baud", "38400", "--type", "0xC3"});
  test::RunResult info = test::RunCli({"info", "--port", server_->Url("rfc2217")},
                                      test::WithLimit(std::chrono::seconds(30)));
  ASSERT_EQ(info.status, 0) << info.err;
  // The terminal's type came over the network: the simulator was started with 0xC3.
  const size_t type_line = info.out.find("terminal type");
  ASSERT_NE(type_line, std::string::npos) << info.out;
  EXPECT_NE(info.out.find("195 (0xC3)", type_line), std::string::npos) << info.out;

  // A backup through the environment's URL holds what the library wrote through it.
  const Bytes data = AllByteValues();
  Map(server_->Url("rfc2217"));
  const int16_t h = Keep(XQUIB_Open(0, 38400, 0));
  ASSERT_GE(h, 0);
  uint16_t status = 0xBEEF;
  ASSERT_EQ(XQUIB_Write(h, 1, 1, uint32_t(data.size()), data.data(), &status), RC_OK);
  ASSERT_EQ(Close(h), RC_OK);  // the server serves one client at a time
  unsetenv("QUIBLINK_COM1");

  char folder[] = "/tmp/quiblink-net-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string file = std::string(folder) + "/backup.bin";
  test::RunOptions options;
  options.env["QUIBLINK_COM1"] = server_->Url("rfc2217");
  options.limit = std::chrono::seconds(30);
  test::RunResult backup = test::RunCli({"backup", "--raw", file}, options);
  EXPECT_EQ(backup.status, 0) << backup.err;
  std::ifstream saved(file, std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(saved), {}), data);
  std::remove(file.c_str());
  rmdir(folder);
}

TEST_F(NetworkTest, ABackupThroughTheServerRestoresThroughIt) {
  StartSim({"--family", "graphic", "--baud", "38400", "--type", "0x2A"});
  const Bytes first = AllByteValues();
  const Bytes second(1500, 0xFF);
  sim_->Command("group 3 " + Hex(first));
  sim_->Command("group 8 " + Hex(second));
  test::ScratchDir dir;
  const std::string file = dir.File("plant.qbk");
  test::RunOptions options;
  options.env["QUIBLINK_COM1"] = server_->Url("rfc2217");
  options.limit = std::chrono::seconds(60);
  test::RunResult backup = test::RunCli({"backup", file}, options);
  ASSERT_EQ(backup.status, 0) << backup.err;
  sim_->Command("group 3 -");
  sim_->Command("group 8 " + Hex(Bytes(10, 1)));
  test::RunResult restore = test::RunCli({"restore", file, "--yes"}, options);
  ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
  EXPECT_EQ(sim_->Command("group 3"), Hex(first));
  EXPECT_EQ(sim_->Command("group 8"), Hex(second));
}

}  // namespace
}  // namespace quiblink::network
