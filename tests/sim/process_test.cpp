// The built binary on a real pseudo-terminal: what a PC program on the other end sees.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "sim/sim_process.h"
#include "test_frames.h"

namespace quiblink::sim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using namespace wire::test;  // the frames a PC program sends

class Port {
 public:
  explicit Port(const std::string &path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(fd_, 0) << path;
  }
  ~Port() {
    if (fd_ >= 0) close(fd_);
  }
  void Write(const Bytes &bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Reads until count bytes have come or the time is up.
  Bytes Read(size_t count, milliseconds limit) {
    Bytes out;
    auto deadline = Clock::now() + limit;
    while (out.size() < count) {
      auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
      pollfd p{fd_, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
      uint8_t buffer[2048];
      ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - out.size()));
      if (n <= 0) break;
      out.insert(out.end(), buffer, buffer + n);
    }
    return out;
  }

 private:
  int fd_ = -1;
};

std::string HexText(const Bytes &b) {
  static const char *digits = "0123456789ABCDEF";
  std::string s;
  for (uint8_t x : b) s += {digits[x >> 4], digits[x & 15]};
  return s;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

TEST(SimProcess, ServesAClassicReadOnAPseudoTerminal) {
  auto sim = SimProcess::Start(QUIBLINK_SIM_PATH, {"--family", "classic", "--model", "0"});
  ASSERT_EQ(sim->Command("poke 0x100 12345678"), "");
  Port port(sim->path());
  auto start = Clock::now();
  port.Write(Hex("02 45 30 30 30 31 30 30 30 34 03 43 44"));
  Bytes reply = port.Read(12, milliseconds(5000));
  auto took = Clock::now() - start;
  EXPECT_EQ(reply, Hex("02 31 32 33 34 35 36 37 38 03 41 37"));
  // 13 request and 12 reply characters of 10 bits at 9600 baud.
  EXPECT_GE(Ms(took), 25 * 10 * 1000.0 / 9600);
  EXPECT_EQ(sim->Command("state"), "model=0 reads=1 writes=0 naks=0 preamble_writes=0");
  EXPECT_EQ(sim->Stop(), 0);
}

TEST(SimProcess, PacesAGraphicBlockReadAtTheLineSpeed) {
  struct Case {
    const char *pacing;
    bool paced;
  };
  // 11 request and 1037 reply characters of 11 bits at 9600 baud: 1201 ms on a cable.
  const double modelled_ms = (11 + 1037) * 11 * 1000.0 / 9600;
  for (const Case &c : {Case{"--pacing", true}, Case{"--no-pacing", false}}) {
    SCOPED_TRACE(c.pacing);
    auto sim =
        SimProcess::Start(QUIBLINK_SIM_PATH, {"--family", "graphic", "--baud", "9600", c.pacing});
    Bytes content = Pattern(1024, 3);
    sim->Command("group 1 " + HexText(content));
    Port port(sim->path());
    auto start = Clock::now();
    port.Write(GraphicRequest(0x21, 1, 0, 0, Le16(1)));
    Bytes reply = port.Read(1037, milliseconds(10000));
    double took = Ms(Clock::now() - start);
    auto parsed = ParseReply(reply);
    ASSERT_TRUE(parsed.well_formed);
    EXPECT_EQ(parsed.flag, 2);
    EXPECT_EQ(Bytes(parsed.data.begin() + 4, parsed.data.end()), content);
    if (c.paced) {
      EXPECT_GE(took, modelled_ms);
      EXPECT_LE(took, modelled_ms + 2000);
    } else {
      EXPECT_LT(took, modelled_ms - 200);
    }
  }
}

TEST(SimProcess, FollowsAnAcceptedBaudRateChange) {
  auto sim = SimProcess::Start(QUIBLINK_SIM_PATH,
                               {"--family", "graphic", "--baud", "9600", "--follow-baud"});
  sim->Command("group 1 " + HexText(Pattern(1024, 1)));
  Port port(sim->path());
  port.Write(GraphicRequest(0x71, 0x83));
  EXPECT_EQ(ParseReply(port.Read(9, milliseconds(5000))).status, 0);
  auto start = Clock::now();
  port.Write(GraphicRequest(0x21, 1, 0, 0, Le16(1)));
  EXPECT_EQ(port.Read(1037, milliseconds(10000)).size(), 1037u);
  double took = Ms(Clock::now() - start);
  // 1048 characters of 11 bits: 300 ms at 38400 baud, 1201 ms at the 9600 it started with.
  EXPECT_GE(took, 1048 * 11 * 1000.0 / 38400);
  EXPECT_LT(took, 1048 * 11 * 1000.0 / 9600);
  EXPECT_EQ(sim->Command("state").find("baud_code=0x83") != std::string::npos, true);
}

TEST(SimProcess, AFaultArmedOverControlChangesTheNextReplyOnly) {
  auto sim = SimProcess::Start(QUIBLINK_SIM_PATH, {"--family", "graphic", "--no-pacing"});
  const Bytes offline = Hex("FE 06 00 01 01 00 00 00 08");
  const Bytes accepted = Hex("FF 06 00 01 01 00 00 00 08");
  Port port(sim->path());
  sim->Arm("wrong-seq");
  EXPECT_EQ(sim->Command("faults"), "wrong-seq");
  port.Write(offline);
  EXPECT_EQ(port.Read(9, milliseconds(5000)), Hex("FF 06 00 01 01 00 01 00 09"));
  port.Write(offline);
  EXPECT_EQ(port.Read(9, milliseconds(5000)), accepted);

  sim->Arm("silence:cmd=0x01,next=1");
  port.Write(offline);
  EXPECT_TRUE(port.Read(1, milliseconds(300)).empty());
  port.Write(offline);
  EXPECT_EQ(port.Read(9, milliseconds(5000)), accepted);

  EXPECT_EQ(sim->Control("fault explode").rfind("error:", 0), 0u);
  EXPECT_EQ(sim->Command("stats"), "requests=4 replies=3 junk=0 faults=2 sending=0");
}

TEST(SimProcess, AProjectWrittenToItsImageIsThereAfterARestart) {
  char folder[] = "/tmp/quiblink-sim-test-XXXXXX";
  ASSERT_TRUE(mkdtemp(folder));
  const std::string image = std::string(folder) + "/terminal.img";
  const Bytes content = Pattern(1500, 8);
  const std::vector<std::string> args{"--family", "graphic", "--no-pacing", "--image", image};
  {
    auto sim = SimProcess::Start(QUIBLINK_SIM_PATH, args);
    Port port(sim->path());
    port.Write(GraphicRequest(
        0x11, 1, 0, 0,
        Cat({Le16(12), Le16(1024), Bytes(content.begin(), content.begin() + 1024)})));
    EXPECT_EQ(ParseReply(port.Read(9, milliseconds(5000))).status, 0);
    port.Write(GraphicRequest(
        0x11, 1, 2, 1, Cat({Le16(12), Le16(476), Bytes(content.begin() + 1024, content.end())})));
    EXPECT_EQ(ParseReply(port.Read(9, milliseconds(5000))).status, 0);
    EXPECT_EQ(sim->Stop(), 0);
  }
  ASSERT_TRUE(std::filesystem::exists(image));
  {
    auto sim = SimProcess::Start(QUIBLINK_SIM_PATH, args);
    Port port(sim->path());
    Bytes data;
    for (uint8_t flag = 0, i = 0; flag != 2; ++i) {
      ASSERT_LT(i, 3);
      port.Write(GraphicRequest(0x21, 1, i == 0 ? 0 : 1, 0, Le16(12)));
      Bytes frame = port.Read(9, milliseconds(5000));
      ASSERT_EQ(frame.size(), 9u);
      Bytes rest = port.Read(frame[1] + frame[2] * 256 + 3 - 9, milliseconds(5000));
      auto reply = ParseReply(Cat({frame, rest}));
      ASSERT_TRUE(reply.well_formed);
      flag = reply.flag;
      data.insert(data.end(), reply.data.begin() + 4, reply.data.end());
    }
    EXPECT_EQ(data, content);
  }
  std::filesystem::remove_all(folder);
}

TEST(SimProcess, ARequestRepeatedAfterASpoiledReplyIsServedAgain) {
  auto sim = SimProcess::Start(QUIBLINK_SIM_PATH, {"--family", "graphic", "--no-pacing"});
  sim->Command("group 4 " + HexText(Pattern(3000, 4)));
  Port port(sim->path());
  port.Write(GraphicRequest(0x21, 1, 0, 0, Le16(4)));
  ASSERT_EQ(ParseReply(port.Read(1037, milliseconds(5000))).seq, 0);
  sim->Arm("bad-checksum");
  port.Write(GraphicRequest(0x21, 1, 1, 0, Le16(4)));
  Bytes spoiled = port.Read(1037, milliseconds(5000));
  ASSERT_EQ(spoiled.size(), 1037u);
  EXPECT_FALSE(ParseReply(spoiled).well_formed);
  port.Write(GraphicRequest(0x21, 1, 1, 0, Le16(4)));
  Bytes repeated = port.Read(1037, milliseconds(5000));
  auto reply = ParseReply(repeated);
  ASSERT_TRUE(reply.well_formed);
  EXPECT_EQ(reply.seq, 1);
  EXPECT_EQ(Bytes(repeated.begin(), repeated.end() - 1), Bytes(spoiled.begin(), spoiled.end() - 1));
}

TEST(SimProcess, LogsEveryFrameBothWays) {
  char folder[] = "/tmp/quiblink-sim-test-XXXXXX";
  ASSERT_TRUE(mkdtemp(folder));
  const std::string log = std::string(folder) + "/frames.log";
  auto sim = SimProcess::Start(QUIBLINK_SIM_PATH, {"--no-pacing", "--log", log});
  sim->Command("poke 0x100 12345678");
  Port port(sim->path());
  port.Write(Cat({Hex("55 AA"), Hex("02 45 30 30 30 31 30 30 30 34 03 43 44")}));
  EXPECT_EQ(port.Read(12, milliseconds(5000)).size(), 12u);
  sim->Stop();
  std::ifstream in(log);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const char *expected[] = {
      "junk        2  55 AA  | no frame",
      "PC>SIM     13  02 45 30 30 30 31 30 30 30 34 03 43 44  | read addr=000100 n=4",
      "SIM>PC     12  02 31 32 33 34 35 36 37 38 03 41 37  | data, 4 bytes",
  };
  for (const char *line : expected)
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  std::filesystem::remove_all(folder);
}

TEST(SimProcess, ServesAGivenDeviceAtItsSpeed) {
  // A pseudo-terminal of the test's own stands in for the device; the test talks on the master.
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  std::string device = ptsname(master);
  termios raw{};
  tcgetattr(master, &raw);
  cfmakeraw(&raw);
  tcsetattr(master, TCSANOW, &raw);
  auto sim = SimProcess::Start(QUIBLINK_SIM_PATH,
                               {"--family", "classic", "--device", device, "--baud", "19200"});
  EXPECT_EQ(sim->path(), device);
  termios tio{};
  int slave = open(device.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  ASSERT_EQ(tcgetattr(slave, &tio), 0);
  // A pseudo-terminal keeps 8 data bits without parity whatever it is asked; the speed sticks.
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
  close(slave);
  sim->Command("poke 0x200 ABCD");
  Bytes request = ClassicRequest("E00020002");
  ASSERT_EQ(write(master, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  Bytes reply;
  while (reply.size() < 8) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) break;
    uint8_t buffer[64];
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    reply.insert(reply.end(), buffer, buffer + n);
  }
  EXPECT_EQ(reply, ClassicRequest("ABCD"));
  sim->Stop();
  close(master);
}

TEST(SimProcess, RefusesABadCommandLine) {
  EXPECT_THROW(SimProcess::Start(QUIBLINK_SIM_PATH, {"--family", "panel"}), std::runtime_error);
  EXPECT_THROW(SimProcess::Start(QUIBLINK_SIM_PATH, {"--fault", "wrong-seq"}), std::runtime_error);
}

}  // namespace
}  // namespace quiblink::sim
