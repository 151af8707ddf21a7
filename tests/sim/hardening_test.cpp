// The built simulator against hostile control clients, bad numbers and paths that belong to
// the user: it keeps serving the line, ends cleanly on SIGTERM, refuses what it cannot do and
// never deletes what it does not own.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_process.h"
#include "test_frames.h"

namespace quiblink::sim {
namespace {

using Clock = std::chrono::steady_clock;
using namespace wire::test;  // the frames a PC program sends
namespace fs = std::filesystem;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

class Folder {
 public:
  Folder() {
    char name[] = "/tmp/quiblink-sim-hardening-XXXXXX";
    if (mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = name;
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string File(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void Write(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Outcome {
  int status = -1;  // exit status, 128 + signal, or -1: still running after the limit
  std::string err;
};

// Runs the binary to its end with stdout and stdin on /dev/null.
Outcome RunSim(const std::vector<std::string> &args, int limit_ms = 10000) {
  int err[2];
  if (pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  std::vector<std::string> words{QUIBLINK_SIM_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (auto &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(err[1]);
  Outcome out;
  auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
  for (;;) {
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    pollfd p{err[0], POLLIN, 0};
    if (left <= 0 || poll(&p, 1, left) <= 0) break;
    char chunk[512];
    ssize_t n = read(err[0], chunk, sizeof chunk);
    if (n <= 0) break;
    out.err.append(chunk, static_cast<size_t>(n));
  }
  close(err[0]);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return out;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  out.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return out;
}

int Connect(const std::string &path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Sends as much of text, repeated up to times, as the socket takes without waiting.
size_t Flood(int fd, const std::string &text, size_t times) {
  size_t sent = 0;
  std::string block;
  for (int i = 0; i < 256; ++i) block += text;
  size_t offset = 0;
  while (sent < times * text.size()) {
    ssize_t n = send(fd, block.data() + offset, block.size() - offset, MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN) break;  // closed by the simulator
    if (n <= 0) {
      // Full: give the simulator a moment, and stop once it takes no more.
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 200) <= 0) break;
      continue;
    }
    sent += static_cast<size_t>(n);
    offset = (offset + static_cast<size_t>(n)) % block.size();
  }
  return sent;
}

Bytes Exchange(const std::string &path, const Bytes &request, size_t reply_size) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return {};
  (void)!write(fd, request.data(), request.size());
  Bytes reply;
  auto deadline = Clock::now() + std::chrono::seconds(2);
  while (reply.size() < reply_size && Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    uint8_t chunk[256];
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) break;
    reply.insert(reply.end(), chunk, chunk + n);
  }
  close(fd);
  return reply;
}

TEST(SimHardening, AControlClientThatNeverReadsCannotStopTheLine) {
  Folder folder;
  const std::string image = folder.File("panel.img");
  auto sim = SimProcess::Start(QUIBLINK_SIM_PATH, {"--no-pacing", "--image", image});
  sim->Command("poke 0x100 12345678");

  // 200000 stats requests whose replies are never read.
  int hog = Connect(sim->control_path());
  ASSERT_GE(hog, 0);
  size_t sent = Flood(hog, "stats\n", 200000);
  EXPECT_GT(sent, 64u * 1024) << "the simulator took too little to test anything";
  // A line without its newline, longer than a control line may be.
  int endless = Connect(sim->control_path());
  ASSERT_GE(endless, 0);
  Flood(endless, std::string(4096, 'x'), 64);

  // The serial line is served, and so is a well-behaved control client.
  auto start = Clock::now();
  EXPECT_EQ(Exchange(sim->path(), ClassicRequest("E00010004"), 12), ClassicRequest("12345678"));
  EXPECT_LT(Seconds(Clock::now() - start), 2.0);
  EXPECT_EQ(sim->Control("ping"), "ok");

  // The endless line's connection has been closed.
  char byte;
  auto deadline = Clock::now() + std::chrono::seconds(5);
  ssize_t got = -1;
  while (Clock::now() < deadline) {
    got = recv(endless, &byte, 1, MSG_DONTWAIT);
    if (got == 0 || (got < 0 && errno != EAGAIN)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(got == 0 || (got < 0 && errno != EAGAIN)) << "the endless line was kept";

  // SIGTERM ends it at once, with the image saved.
  sim->Command("poke 0x200 ABCD");
  start = Clock::now();
  EXPECT_EQ(sim->Stop(), 0);
  EXPECT_LT(Seconds(Clock::now() - start), 2.0);
  EXPECT_TRUE(fs::exists(image));
  close(hog);
  close(endless);
}

TEST(SimHardening, OutOfRangeNumbersAreRefusedOverControl) {
  struct Case {
    const char *family;
    std::vector<std::string> commands;
  };
  const Case cases[] = {
      {"classic",
       {"peek 0 0x100000000", "peek 0xFFFFFFFF 2", "peek 0x10000000000000000 1", "peek 0 -1",
        "poke 0x100000000 00", "poke -1 00", "fault nak:next=4294967296",
        "fault nak:every=0x100000000", "fault garbage=0xFFFFFFFFFFFF", "fault garbage=0",
        "fault drip=100000000", "fault pieces=0x100000000/1", "fault pieces=2/-1",
        "fault partial=-5"}},
      {"graphic",
       {"fault status=256", "fault bad-length=0x10000000", "fault oversized=70000", "set type 256",
        "set memdata 70000 0 0", "set projinfo 0x100000000 0", "set osinfo 0x1FFFFFFFF 0",
        "group 0x10000 00", "area 0x103 00"}},
  };
  for (const Case &c : cases) {
    auto sim = SimProcess::Start(QUIBLINK_SIM_PATH, {"--family", c.family, "--no-pacing"});
    for (const std::string &command : c.commands) {
      EXPECT_EQ(sim->Control(command).rfind("error:", 0), 0u) << c.family << ": " << command;
    }
    EXPECT_EQ(sim->Command("faults"), "") << "a refused fault was armed";
    EXPECT_EQ(sim->Stop(), 0);
  }
  // The largest values that fit are taken.
  auto sim = SimProcess::Start(QUIBLINK_SIM_PATH, {"--no-pacing"});
  EXPECT_EQ(sim->Control("fault nak:next=1000000000"), "ok");
  EXPECT_EQ(sim->Control("peek 0xFFFF 1").rfind("ok ", 0), 0u);
}

TEST(SimHardening, OutOfRangeNumbersAreRefusedOnTheCommandLine) {
  Folder folder;
  struct Case {
    std::vector<std::string> args;
    std::string file;  // an image file to write first
    std::string message;
  };
  const std::string img = folder.File("bad.img");
  const Case cases[] = {
      {{"--exit-after-idle", "nan"}, "", "--exit-after-idle wants seconds above 0"},
      {{"--exit-after-idle", "inf"}, "", "--exit-after-idle wants seconds above 0"},
      {{"--exit-after-idle", "-1"}, "", "--exit-after-idle wants seconds above 0"},
      {{"--fault", "garbage=0xFFFFFFFFFFFF"},
       "",
       "--fault garbage=0xFFFFFFFFFFFF: garbage wants a number from 1 to 65535"},
      {{"--fault", "nak:next=4294967296"}, "", "bad trigger: next=4294967296"},
      {{"--image", img},
       "quiblink-sim image 1\nmeta.txt -1\n\nend\n",
       "damaged entry: meta.txt -1"},
      {{"--image", img},
       "quiblink-sim image 1\nmeta.txt 18446744073709551615\nx\nend\n",
       "damaged entry: meta.txt 18446744073709551615"},
      {{"--image", img}, "quiblink-sim image 1\nmeta.txt 99\nx\nend\n", "damaged entry"},
  };
  for (const Case &c : cases) {
    if (!c.file.empty()) Write(img, c.file);
    Outcome out = RunSim(c.args);
    EXPECT_EQ(out.status, 2) << c.args[1] << ": " << out.err;
    EXPECT_NE(out.err.find(c.message), std::string::npos) << out.err;
    if (!c.file.empty()) {
      EXPECT_EQ(Read(img), c.file) << "the image was overwritten";
    }
  }
}

TEST(SimHardening, AnIdleLimitEndsIt) {
  Outcome out = RunSim({"--exit-after-idle", "0.2"}, 5000);
  EXPECT_EQ(out.status, 0) << out.err;
}

TEST(SimHardening, NeverTouchesAFolderOrFileItDoesNotOwn) {
  Folder folder;
  fs::create_directories(folder.File("work"));
  Write(folder.File("work/notes.bin"), "mine");
  Write(folder.File("work/meta.txt"), "also mine");
  Write(folder.File("plain"), "a file");
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"--image", folder.File("work")}, "holds other files and no .quiblink-sim-image marker"},
      {{"--image", folder.File("work") + "/"}, "holds other files"},
      {{"--control", folder.File("plain")}, "exists and is not a socket; not replacing it"},
      {{"--link", folder.File("plain")}, "exists and is not a symbolic link; not replacing it"},
      {{"--link", folder.File("work")}, "exists and is not a symbolic link"},
  };
  for (const Case &c : cases) {
    Outcome out = RunSim(c.args);
    EXPECT_EQ(out.status, 2) << c.args[1] << ": " << out.err;
    EXPECT_NE(out.err.find(c.message), std::string::npos) << out.err;
  }
  EXPECT_EQ(Read(folder.File("work/notes.bin")), "mine");
  EXPECT_EQ(Read(folder.File("work/meta.txt")), "also mine");
  EXPECT_EQ(Read(folder.File("plain")), "a file");
}

TEST(SimHardening, OwnsAnEmptyImageFolderAndReplacesOnlyItsOwnLinksAndSockets) {
  Folder folder;
  fs::create_directories(folder.File("image"));
  fs::create_symlink("/nonexistent", folder.File("link"));
  // A socket left behind by a simulator that is gone.
  {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, folder.File("stale.sock").c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    close(fd);
  }
  mode_t saved = umask(0);  // the socket must be 0600 whatever the umask
  auto sim = SimProcess::Start(QUIBLINK_SIM_PATH, {"--no-pacing", "--image", folder.File("image"),
                                                   "--link", folder.File("link")});
  umask(saved);
  EXPECT_EQ(fs::read_symlink(folder.File("link")), sim->path());
  struct stat info {};
  ASSERT_EQ(stat(sim->control_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  sim->Command("poke 0x100 CAFE");
  EXPECT_EQ(sim->Stop(), 0);
  EXPECT_TRUE(fs::exists(folder.File("image/.quiblink-sim-image")));
  EXPECT_TRUE(fs::exists(folder.File("image/mem-000000.bin")));
  EXPECT_FALSE(fs::exists(folder.File("link"))) << "its own link is removed on exit";

  // Marked now: it loads what it saved.
  auto again =
      SimProcess::Start(QUIBLINK_SIM_PATH, {"--no-pacing", "--image", folder.File("image")});
  EXPECT_EQ(again->Command("peek 0x100 2"), "CAFE");
  again->Stop();

  // The stale socket is replaced.
  Outcome out = RunSim({"--control", folder.File("stale.sock"), "--exit-after-idle", "0.1"});
  EXPECT_EQ(out.status, 0) << out.err;
}

}  // namespace
}  // namespace quiblink::sim
