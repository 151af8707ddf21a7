// `quiblink monitor` between the library and the simulator, through the real binaries: the
// library's results are the same with the monitor in the line; the monitor decodes the frames
// the simulator logged, frame for frame; each simulator fault is flagged as its rule; a capture
// replays to the same lines.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "monitor_process.h"
#include "quiblink/quiblink.h"
#include "sim/sim_process.h"

namespace quiblink::monitor_test {
namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

Bytes Pattern(size_t size, unsigned seed) {
  Bytes out(size);
  uint32_t x = seed * 2654435761u + 1;
  for (uint8_t &b : out) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return out;
}

std::string Hex(const uint8_t *data, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 15];
  }
  return out;
}

std::string Result(const char *what, long rc, long a = 0, long b = 0, long c = 0) {
  std::ostringstream s;
  s << what << " rc=" << rc << " " << a << " " << b << " " << c;
  return s.str();
}

// The library's COM1 leads to this device.
void MapCom1(const std::string &device) {
  setenv("QUIBLINK_COM1", device.c_str(), 1);
}

// Every export of the graphic family once, results and data in words.
std::vector<std::string> GraphicSession() {
  std::vector<std::string> out;
  int16_t h = XQUIB_Open(0, 38400, 0);
  out.push_back(Result("open", h >= 0));
  if (h < 0) return out;
  uint16_t st = 0xFFFF;
  uint32_t u1 = 0, u2 = 0;
  int32_t s1 = 0, s2 = 0, s3 = 0, total = 0;
  uint8_t name[256] = {};
  uint16_t name_length = 0;
  Bytes buffer(1 << 16);
  out.push_back(Result("type", XQUIB_GetKEWType(h, &u1, &st), u1, st));
  out.push_back(Result("os", XQUIB_GetOsInfo(h, &u1, &u2, &st), u1, u2, st));
  out.push_back(Result("mem", XQUIB_GetMemData(h, &s1, &s2, &s3, &st), s1, s2, s3));
  out.push_back(
      Result("proj", XQUIB_GetProjInfo(h, &u1, &u2, name, &name_length, &st), u1, u2, name_length));
  const Bytes area = Pattern(2500, 1), group = Pattern(1500, 2), os = Pattern(1100, 3);
  out.push_back(Result("write3", XQUIB_Write(h, 3, 0, area.size(), area.data(), &st), st));
  out.push_back(Result("read3", XQUIB_Read(h, 3, buffer.data(), &total, &st), total, st) + " " +
                Hex(buffer.data(), static_cast<size_t>(std::max(0, total))));
  out.push_back(Result("write1", XQUIB_Write(h, 1, 7, group.size(), group.data(), &st), st));
  out.push_back(Result("read1g", XQUIB_Read1G(h, 7, buffer.data(), &total, &st), total, st) + " " +
                Hex(buffer.data(), static_cast<size_t>(std::max(0, total))));
  out.push_back(Result("readall", XQUIB_ReadAll(h, buffer.data(), &total, &st), total, st) + " " +
                Hex(buffer.data(), static_cast<size_t>(std::max(0, total))));
  out.push_back(Result("osinstl", XQUIB_OSInstl(h, 'a', 0x80, os.size(), os.data(), &st), st));
  out.push_back(Result("password", XQUIB_CheckPassword(h, nullptr, 0, &st), st));
  out.push_back(Result("offline", XQUIB_Offline(h, &st), st));
  out.push_back(Result("swreset", XQUIB_SWReset(h, &st), st));
  out.push_back(Result("reset", XQUIB_Reset(h, &st), st));
  out.push_back(Result("break", XQUIB_Break(h, &st), st));
  out.push_back(Result("baud", XQUIB_BrateChange(h, 0x83, &st), st));
  out.push_back(Result("delete", XQUIB_DelUserData(h, &st), st));
  out.push_back(Result("read3-after", XQUIB_Read(h, 3, buffer.data(), &total, &st), total, st));
  out.push_back(Result("close", QUIB_Close(static_cast<uint16_t>(h))));
  return out;
}

std::vector<std::string> ClassicSession() {
  std::vector<std::string> out;
  int16_t h = QUIB_Open(0, 0);
  out.push_back(Result("open", h >= 0));
  if (h < 0) return out;
  const Bytes data = Pattern(200, 4);
  Bytes buffer(256);
  out.push_back(Result("write", QUIB_Write(h, 0, 0x100, data.size(), data.data())));
  out.push_back(Result("read", QUIB_Read(h, 0, 0x100, buffer.data(), 200)) + " " +
                Hex(buffer.data(), 200));
  out.push_back(Result("area3", QUIB_Read(h, 3, 0x10, buffer.data(), 48)) + " " +
                Hex(buffer.data(), 48));
  out.push_back(Result("close", QUIB_Close(static_cast<uint16_t>(h))));
  return out;
}

// "PC>TERM 0206..." for every frame line of the simulator's log.
std::vector<std::string> SimFrames(const std::string &log) {
  std::vector<std::string> frames;
  for (const std::string &line : SplitLines(ReadText(log))) {
    std::istringstream words(line);
    std::string time, dir, count, word, hex;
    words >> time >> dir >> count;
    if (dir != "PC>SIM" && dir != "SIM>PC") continue;
    while (words >> word && word != "|") hex += word;
    frames.push_back((dir == "PC>SIM" ? "PC>TERM " : "TERM>PC ") + hex);
  }
  return frames;
}

std::string JsonText(const std::string &line, const std::string &key) {
  const std::string mark = "\"" + key + "\":\"";
  size_t at = line.find(mark);
  if (at == std::string::npos) return "";
  at += mark.size();
  return line.substr(at, line.find('"', at) - at);
}

std::vector<std::string> MonitorFrames(const std::vector<std::string> &lines) {
  std::vector<std::string> frames;
  for (const std::string &line : lines) {
    if (JsonText(line, "kind") != "frame") continue;
    frames.push_back(JsonText(line, "dir") + " " + JsonText(line, "bytes"));
  }
  return frames;
}

// The rules flagged in JSON lines.
std::vector<std::string> Flags(const std::vector<std::string> &lines) {
  std::vector<std::string> rules;
  for (const std::string &line : lines) {
    for (size_t at = line.find("{\"rule\":\""); at != std::string::npos;
         at = line.find("{\"rule\":\"", at + 1)) {
      size_t start = at + 9;
      rules.push_back(line.substr(start, line.find('"', start) - start));
    }
  }
  return rules;
}

bool Has(const std::vector<std::string> &v, const std::string &x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

class MonitorE2e : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("QUIBLINK_COM1"); }
  std::unique_ptr<sim::SimProcess> StartSim(const std::vector<std::string> &args) {
    return sim::SimProcess::Start(QUIBLINK_SIM_PATH, args);
  }
};

TEST_F(MonitorE2e, GraphicSessionGivesTheSameResultsTheSimulatorsFramesAndReplaysFromACapture) {
  auto direct_sim = StartSim({"--family", "graphic"});
  MapCom1(direct_sim->path());
  const std::vector<std::string> direct = GraphicSession();
  direct_sim->Stop();

  auto sim = StartSim({"--family", "graphic", "--log", "/dev/null"});
  sim->Stop();  // only to learn a folder; the real one follows
  char folder[] = "/tmp/quiblink-monitor-e2e-XXXXXX";
  ASSERT_TRUE(mkdtemp(folder));
  const std::string log = std::string(folder) + "/sim.log";
  const std::string capture = std::string(folder) + "/capture.txt";
  sim = StartSim({"--family", "graphic", "--log", log, "--log-full"});
  MonitorProcess monitor(sim->path(), {"--json", "--capture", capture});
  MapCom1(monitor.pc_path());
  const std::vector<std::string> watched = GraphicSession();
  // Every reply has reached the library, so the monitor has relayed and printed it.
  EXPECT_EQ(monitor.Stop(), 0) << monitor.Errors();
  sim->Stop();

  EXPECT_EQ(watched, direct);
  const std::vector<std::string> lines = monitor.Lines();
  const std::vector<std::string> expected_frames = SimFrames(log);
  EXPECT_GT(expected_frames.size(), 40u);
  EXPECT_EQ(MonitorFrames(lines), expected_frames);
  EXPECT_EQ(Flags(lines), std::vector<std::string>{}) << ReadText(monitor.folder() + "/out");
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("\"summary\""), std::string::npos);
  EXPECT_NE(lines.back().find("\"flagged\":{}"), std::string::npos) << lines.back();

  int status = -1;
  std::vector<std::string> replayed = RunTool({"decode", capture, "--json"}, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(replayed, lines);
  std::filesystem::remove_all(folder);
}

TEST_F(MonitorE2e, ClassicSessionGivesTheSameResultsAndTheSimulatorsFrames) {
  auto direct_sim = StartSim({"--family", "classic", "--model", "0"});
  MapCom1(direct_sim->path());
  const std::vector<std::string> direct = ClassicSession();
  direct_sim->Stop();

  char folder[] = "/tmp/quiblink-monitor-e2e-XXXXXX";
  ASSERT_TRUE(mkdtemp(folder));
  const std::string log = std::string(folder) + "/sim.log";
  auto sim = StartSim({"--family", "classic", "--model", "0", "--log", log, "--log-full"});
  MonitorProcess monitor(sim->path(), {"--json", "--family", "classic"});
  MapCom1(monitor.pc_path());
  const std::vector<std::string> watched = ClassicSession();
  EXPECT_EQ(monitor.Stop(), 0) << monitor.Errors();
  sim->Stop();

  EXPECT_EQ(watched, direct);
  const std::vector<std::string> lines = monitor.Lines();
  EXPECT_EQ(MonitorFrames(lines), SimFrames(log));
  EXPECT_EQ(Flags(lines), std::vector<std::string>{});
  std::filesystem::remove_all(folder);
}

// Waits until the monitor has flagged every one of the rules in the lines after `from`, up to
// 10 s.
std::vector<std::string> AwaitRules(const MonitorProcess &monitor, size_t from,
                                    const std::vector<std::string> &rules) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    std::vector<std::string> lines = SplitLines(ReadText(monitor.folder() + "/out"));
    std::vector<std::string> fresh(lines.begin() + std::min(from, lines.size()), lines.end());
    bool all = true;
    for (const std::string &rule : rules) all = all && Has(Flags(fresh), rule);
    if (all || std::chrono::steady_clock::now() > deadline) return fresh;
    std::this_thread::sleep_for(milliseconds(10));
  }
}

std::vector<std::string> AwaitRule(const MonitorProcess &monitor, size_t from,
                                   const std::string &rule) {
  return AwaitRules(monitor, from, {rule});
}

size_t LineCount(const MonitorProcess &monitor) {
  return SplitLines(ReadText(monitor.folder() + "/out")).size();
}

TEST_F(MonitorE2e, EachSimulatorFaultOnTheLibrarysLineIsFlaggedAsItsRule) {
  struct Case {
    const char *fault;
    bool password;  // the call: the password check, else the terminal type
    std::vector<std::string> rules;
  };
  // Faults that spoil a reply while the library waits for it. wrong-start goes last: the rest
  // of its reply reaches the line after the library has given up, as noise.
  const Case cases[] = {
      {"pieces=3/20:next=1", false, {}},
      {"bad-checksum:next=1", false, {"checksum", "attempt"}},
      {"wrong-echo:next=1", false, {"echo"}},
      {"wrong-seq:next=1", false, {"sequence"}},
      {"wrong-flag:next=1", false, {"sequence"}},
      {"status=7:next=1", false, {"status"}},
      {"nak:next=1", false, {"nak"}},
      {"refuse-password", true, {"status"}},
      {"wrong-start:next=1", false, {"bad-start"}},
  };
  auto sim = StartSim({"--family", "graphic"});
  MonitorProcess monitor(sim->path(), {"--json"});
  MapCom1(monitor.pc_path());
  int16_t h = XQUIB_Open(0, 38400, 0);
  ASSERT_GE(h, 0);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.fault);
    sim->Arm(c.fault);
    const size_t from = LineCount(monitor);
    uint16_t st = 0;
    uint32_t type = 0;
    if (c.password) {
      XQUIB_CheckPassword(h, reinterpret_cast<const uint8_t *>("x"), 1, &st);
    } else {
      XQUIB_GetKEWType(h, &type, &st);
    }
    if (c.rules.empty()) {
      // Every reply byte has reached the library: the monitor has printed the frame.
      EXPECT_EQ(XQUIB_GetKEWType(h, &type, &st), 0);
      std::vector<std::string> lines = SplitLines(ReadText(monitor.folder() + "/out"));
      lines.erase(lines.begin(), lines.begin() + std::min(from, lines.size()));
      EXPECT_EQ(Flags(lines), std::vector<std::string>{});
    } else {
      std::vector<std::string> fresh = AwaitRules(monitor, from, c.rules);
      for (const std::string &rule : c.rules) {
        EXPECT_TRUE(Has(Flags(fresh), rule)) << rule << "\n" << ReadText(monitor.folder() + "/out");
      }
    }
    sim->ClearFaults();
  }
  QUIB_Close(static_cast<uint16_t>(h));
}

TEST_F(MonitorE2e, EachClassicFaultOnTheLibrarysLineIsFlaggedAsItsRule) {
  struct Case {
    const char *fault;
    std::vector<std::string> rules;
  };
  const Case cases[] = {
      {"nak:next=1", {"nak", "attempt"}},
      {"bad-checksum:next=1", {"checksum", "attempt"}},
      {"missing-etx:next=1", {"etx", "attempt"}},
  };
  auto sim = StartSim({"--family", "classic", "--model", "0"});
  MonitorProcess monitor(sim->path(), {"--json"});
  MapCom1(monitor.pc_path());
  int16_t h = QUIB_Open(0, 0);
  ASSERT_GE(h, 0);
  uint8_t buffer[8];
  for (const Case &c : cases) {
    SCOPED_TRACE(c.fault);
    sim->Arm(c.fault);
    const size_t from = LineCount(monitor);
    EXPECT_EQ(QUIB_Read(h, 0, 0x100, buffer, 4), 0);  // the repeat succeeds
    std::vector<std::string> fresh = AwaitRules(monitor, from, c.rules);
    for (const std::string &rule : c.rules) EXPECT_TRUE(Has(Flags(fresh), rule)) << rule;
  }
  QUIB_Close(static_cast<uint16_t>(h));
}

// A PC program of the test's own on the monitor's line: a time-out of 300 ms and a quiet time of
// 100 ms on the monitor keep the timing faults fast.
class RawPc {
 public:
  explicit RawPc(const std::string &path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
  }
  ~RawPc() { close(fd_); }
  void Send(const Bytes &bytes) {
    EXPECT_EQ(write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }
  // Reads until n bytes came or the time is up.
  Bytes Receive(size_t n, milliseconds limit) {
    Bytes got;
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (got.size() < n && std::chrono::steady_clock::now() < deadline) {
      uint8_t b[256];
      fd_set set;
      FD_ZERO(&set);
      FD_SET(fd_, &set);
      timeval tv{0, 10000};
      if (select(fd_ + 1, &set, nullptr, nullptr, &tv) > 0) {
        ssize_t r = read(fd_, b, sizeof b);
        if (r > 0) got.insert(got.end(), b, b + r);
      }
    }
    return got;
  }

 private:
  int fd_ = -1;
};

TEST_F(MonitorE2e, TimingFaultsAndAnEarlyRequestAreFlaggedAsTheirRules) {
  // Four different requests taken in turn, so that none looks like the repeat of the one before.
  const Bytes requests[] = {
      {0xFE, 0x06, 0x00, 0x52, 0x01, 0x00, 0x00, 0x00, 0x59},  // terminal type
      {0xFE, 0x06, 0x00, 0x31, 0x41, 0x00, 0x00, 0x00, 0x78},  // memory data
      {0xFE, 0x06, 0x00, 0x31, 0x42, 0x00, 0x00, 0x00, 0x79},  // OS information
      {0xFE, 0x06, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x0A},  // break
  };
  struct Case {
    const char *fault;
    const char *rule;  // nullptr: no rule at all
  };
  const Case cases[] = {
      {"bad-length:next=1", "length"},     {"oversized:next=1", "length"},
      {"silence:next=1", "reply-timeout"}, {"partial=4:next=1", "stalled"},
      {"drip=20:next=1", nullptr},         {"stray:next=1", "noise"},
      {"pieces=3/50:next=1", nullptr},     {"drip=450:next=1", "stalled"},
  };
  auto sim = StartSim({"--family", "graphic"});
  MonitorProcess monitor(sim->path(), {"--json", "--family", "graphic", "--reply-timeout", "300",
                                       "--quiet-time", "100"});
  RawPc pc(monitor.pc_path());
  size_t turn = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.fault);
    sim->Arm(c.fault);
    const size_t from = LineCount(monitor);
    const std::string fault = c.fault;
    if (fault.rfind("bad-length", 0) == 0 || fault.rfind("oversized", 0) == 0) {
      // A reply that announces more than it brings: a PC that knows the reply's length moves on
      // well inside the time-out, and the monitor shows the reply cut short.
      pc.Send(requests[0]);
      EXPECT_EQ(pc.Receive(10, milliseconds(600)).size(), 10u);
      pc.Send(requests[1]);
      pc.Receive(15, milliseconds(600));
      turn = 2;
    } else {
      pc.Send(requests[turn++ % 4]);
      pc.Receive(30, milliseconds(600));
    }
    if (c.rule) {
      std::vector<std::string> rules = Flags(AwaitRule(monitor, from, c.rule));
      EXPECT_TRUE(Has(rules, c.rule));
      // The stray bytes are noise, and nothing else is flagged.
      if (std::string(c.rule) == "noise") {
        for (const std::string &r : rules) EXPECT_EQ(r, "noise");
      }
    } else {
      std::vector<std::string> lines = SplitLines(ReadText(monitor.folder() + "/out"));
      EXPECT_EQ(Flags({lines.begin() + std::min(from, lines.size()), lines.end()}),
                std::vector<std::string>{});
    }
    sim->ClearFaults();
    if (fault.rfind("pieces", 0) == 0) {
      // A request right after a reply: inside the quiet time, on a clean line.
      std::this_thread::sleep_for(milliseconds(350));
      const size_t at = LineCount(monitor);
      pc.Send(requests[0]);
      ASSERT_EQ(pc.Receive(10, milliseconds(1000)).size(), 10u);
      pc.Send(requests[0]);
      ASSERT_EQ(pc.Receive(10, milliseconds(1000)).size(), 10u);
      EXPECT_EQ(Flags(AwaitRule(monitor, at, "quiet-time")),
                std::vector<std::string>{"quiet-time"});
    }
    // Past the monitor's time-out and quiet time before the next case.
    std::this_thread::sleep_for(milliseconds(350));
  }
}

TEST_F(MonitorE2e, CountEndsTheMonitorWithASummaryAndBadDevicesAreRefused) {
  auto sim = StartSim({"--family", "graphic"});
  MonitorProcess monitor(sim->path(), {"--count", "2"});
  MapCom1(monitor.pc_path());
  int16_t h = XQUIB_Open(0, 38400, 0);
  ASSERT_GE(h, 0);
  uint16_t st = 0;
  uint32_t type = 0;
  EXPECT_EQ(XQUIB_GetKEWType(h, &type, &st), 0);
  EXPECT_EQ(XQUIB_GetKEWType(h, &type, &st), 0);
  EXPECT_EQ(monitor.Wait(), 0);
  QUIB_Close(static_cast<uint16_t>(h));
  std::vector<std::string> lines = monitor.Lines();
  ASSERT_EQ(lines.size(), 5u) << ReadText(monitor.folder() + "/out");
  EXPECT_EQ(
      lines[4].rfind("summary: 2 exchanges, 0 attempts, 0 flags; frames 2 PC>TERM, 2 TERM>PC; "
                     "bytes 18 PC>TERM, 20 TERM>PC",
                     0),
      0u)
      << lines[4];

  int status = -1;
  RunTool({"monitor", "--pc-pty", "--terminal", "/nonexistent/tty"}, &status);
  EXPECT_EQ(status, 3);
  RunTool({"monitor", "--terminal", sim->path()}, &status);
  EXPECT_EQ(status, 2);  // no PC side
}

// The most memory, in kB, that `quiblink decode --hex` of a one-line dump of `bytes` hex digits
// took. Under AddressSanitizer freed memory is kept in quarantine, not reused, so the child
// runs without it: what is measured is what the tool holds.
long DecodeMaxRssKb(size_t bytes) {
  char path[] = "/tmp/quiblink-dump-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return -1;
  std::string line = "> ";
  while (line.size() < bytes) line += "FE0600520100000059";
  line += "\n";
  const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  close(fd);
  const pid_t child = written ? fork() : -1;
  if (child == 0) {
    freopen("/dev/null", "w", stdout);
    const char *asan = getenv("ASAN_OPTIONS");
    const std::string options =
        std::string(asan ? asan : "") + ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0";
    setenv("ASAN_OPTIONS", options.c_str(), 1);
    execl(QUIBLINK_CLI_PATH, "quiblink", "decode", "--hex", path, static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage = {};
  const bool ended = child > 0 && wait4(child, &status, 0, &usage) == child;
  std::remove(path);
  return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

// `quiblink decode` streams: a 12 MB hex dump, all on one line, takes little more memory than a
// small one (it took several times the file's size).
TEST_F(MonitorE2e, DecodeKeepsItsMemoryWhateverTheDumpsLength) {
  const long small = DecodeMaxRssKb(1000);
  const long large = DecodeMaxRssKb(12'000'000);
  ASSERT_GT(small, 0) << "the decode of a small dump failed";
  ASSERT_GT(large, 0) << "the decode of a 12 MB dump failed";
  EXPECT_LT(large, small + 24 * 1024) << "kB: " << small << " for a small dump";
}

}  // namespace
}  // namespace quiblink::monitor_test
