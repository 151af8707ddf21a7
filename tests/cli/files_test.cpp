// What the tool does with the user's files and terminal: a failed backup leaves the old one
// whole, inputs are bounded before any port is opened, an interrupted prompt gives the
// terminal its echo back.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli_runner.h"
#include "sim/sim_process.h"

namespace quiblink::test {
namespace {

using Args = std::vector<std::string>;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

class CliFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = sim::SimProcess::Start(QUIBLINK_SIM_PATH,
                                  {"--family", "graphic", "--no-pacing", "--password", "secret"});
  }

  RunResult Run(Args args, const RunOptions &options = {}) {
    args.insert(args.begin(), {"--port", sim_->path()});
    return RunCli(args, options);
  }

  std::vector<std::string> Leftovers() {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir_.File(""))) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  std::unique_ptr<sim::SimProcess> sim_;
  ScratchDir dir_;
};

TEST_F(CliFiles, AFailedBackupLeavesThePreviousOneWhole) {
  const std::string good = Pattern(15000, 21);
  sim_->Command("group 3 " + HexOf(good));
  const std::string file = dir_.File("backup.bin");
  RunResult first = Run({"backup", "--raw", file});
  ASSERT_EQ(first.status, 0) << first.err;
  ASSERT_EQ(ReadFileText(file), good);

  sim_->Command("group 3 " + HexOf(Pattern(15000, 22)));
  struct Case {
    const char *name;
    bool ignore_sigxfsz;
  };
  // A file-size limit of 8192 bytes, as `ulimit -f 8` sets; the tool must survive SIGXFSZ
  // whether or not its parent ignored it.
  for (const Case &c : {Case{"SIGXFSZ default", false}, Case{"SIGXFSZ ignored", true}}) {
    SCOPED_TRACE(c.name);
    RunOptions limited;
    limited.file_size_limit = 8192;
    limited.ignore_sigxfsz = c.ignore_sigxfsz;
    RunResult r = Run({"backup", "--raw", file}, limited);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cannot write " + file + ": File too large; " + file + " is unchanged"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(ReadFileText(file), good) << "the previous backup was damaged";
    EXPECT_EQ(Leftovers(), std::vector<std::string>{"backup.bin"}) << "a temporary was left";
  }
}

TEST_F(CliFiles, AnOutputPathThatCannotBeWrittenFailsBeforeTheTransfer) {
  sim_->Command("group 3 " + HexOf(Pattern(3000, 23)));
  fs::create_directory(dir_.File("folder"));
  const Args cases[] = {
      {"backup", dir_.File("no-such-folder/backup.bin")},
      {"backup", dir_.File("folder")},
      {"read-group", "3", "-o", dir_.File("no-such-folder/g.bin")},
      {"read-area", "3", "-o", dir_.File("folder")},
  };
  for (const auto &args : cases) {
    RunResult r = Run(args);
    EXPECT_EQ(r.status, 1) << args.back() << ": " << r.err;
    EXPECT_NE(r.err.find("cannot write " + args.back()), std::string::npos) << r.err;
  }
  EXPECT_EQ(sim_->Command("stats").rfind("requests=0 ", 0), 0u) << "a transfer was started";
}

TEST_F(CliFiles, InputsThatAreNoFileOrTooLargeAreRefusedBeforeThePortOpens) {
  // A 70000-byte file is more than a classic write carries.
  WriteFileText(dir_.File("big.bin"), std::string(70000, 'x'));
  fs::create_directory(dir_.File("folder"));
  struct Case {
    Args args;
    std::string input;
    std::string message;
  };
  const Case cases[] = {
      {{"upload", "/dev/zero"}, "", "/dev/zero is not a regular file"},
      {{"write-area", "3", "/dev/zero"}, "", "/dev/zero is not a regular file"},
      {{"os-install", dir_.File("folder")}, "", "is not a regular file"},
      {{"classic", "write", "0", dir_.File("big.bin")},
       "",
       "holds 70000 bytes, more than the 65535 bytes one transfer can carry"},
      {{"classic", "write", "0"},
       std::string(70000, 'y'),
       "standard input holds more than the 65535 bytes one transfer can carry"},
  };
  for (const auto &c : cases) {
    RunOptions options = WithInput(c.input);
    options.limit = std::chrono::seconds(20);
    RunResult r = Run(c.args, options);
    EXPECT_FALSE(r.timed_out) << c.args[0];
    EXPECT_EQ(r.status, 2) << c.args[0] << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_EQ(sim_->Command("stats").rfind("requests=0 ", 0), 0u);
}

TEST_F(CliFiles, ALargeMaxSizeCostsOnlyWhatArrives) {
  sim_->Command("area 4 " + HexOf(Pattern(100, 24)));
  RunResult r = Run({"read-area", "4", "--format", "raw", "--max-size", "0x7FFFFFFF"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Pattern(100, 24));
  // The whole 2 GiB zeroed would show here; the tool alone (sanitizers included) needs far less.
  EXPECT_LT(r.max_rss_kib, 256 * 1024);
}

TEST_F(CliFiles, PasswordFromStandardInputNeedsALineOrEmpty) {
  struct Case {
    Args args;
    std::string input;
    int status;
    const char *checks;  // password checks the terminal has seen afterwards
  };
  const Case cases[] = {
      {{"check-password"}, "", 2, "password_checks=0"},
      {{"check-password", "--empty"}, "", 6, "password_checks=1"},
      {{"check-password"}, "secret", 0, "password_checks=2"},
  };
  for (const auto &c : cases) {
    RunResult r = Run(c.args, WithInput(c.input));
    EXPECT_EQ(r.status, c.status) << c.args.back() << ": " << r.err;
    EXPECT_NE(sim_->Command("state").find(c.checks), std::string::npos) << c.args.back();
  }
  EXPECT_NE(Run({"check-password"}).err.find("give --empty to check the empty password"),
            std::string::npos);
}

// A prompt on a pseudo-terminal, interrupted while the echo is off.
class Prompt {
 public:
  explicit Prompt(const std::string &port) {
    std::vector<std::string> words = {QUIBLINK_CLI_PATH, "--port", port, "check-password"};
    std::vector<char *> argv;
    for (auto &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      execv(argv[0], argv.data());
      _exit(127);
    }
    // Kept open, so that the terminal's settings outlive the child for the check afterwards.
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
  }
  ~Prompt() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(slave_);
    close(master_);
  }

  bool Echo() const {
    termios settings{};
    tcgetattr(slave_, &settings);
    return (settings.c_lflag & ECHO) != 0;
  }
  // Waits until the prompt has switched the echo off.
  bool WaitForQuiet() {
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Echo()) {
      if (Clock::now() > deadline) return false;
      Drain();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
  void Type(const std::string &text) { (void)!write(master_, text.data(), text.size()); }
  void Signal(int signo) { kill(pid_, signo); }
  int Wait() {
    int status = 0;
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) return -1;
      Drain();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  void Drain() {
    pollfd p{master_, POLLIN, 0};
    char chunk[256];
    while (poll(&p, 1, 0) > 0 && read(master_, chunk, sizeof chunk) > 0) {
    }
  }
  pid_t pid_ = -1;
  int master_ = -1;
  int slave_ = -1;
};

TEST_F(CliFiles, AnInterruptedPromptGivesTheEchoBack) {
  struct Case {
    const char *name;
    std::function<void(Prompt &)> interrupt;
    int status;
  };
  const Case cases[] = {
      {"Ctrl-C typed", [](Prompt &p) { p.Type("\x03"); }, 128 + SIGINT},
      {"SIGTERM", [](Prompt &p) { p.Signal(SIGTERM); }, 128 + SIGTERM},
      {"SIGHUP", [](Prompt &p) { p.Signal(SIGHUP); }, 128 + SIGHUP},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Prompt prompt(sim_->path());
    ASSERT_TRUE(prompt.Echo());
    ASSERT_TRUE(prompt.WaitForQuiet()) << "the prompt never switched the echo off";
    c.interrupt(prompt);
    EXPECT_EQ(prompt.Wait(), c.status);
    EXPECT_TRUE(prompt.Echo()) << "the terminal was left without echo";
  }
  // And a line typed at the prompt is checked, with the echo back afterwards.
  Prompt prompt(sim_->path());
  ASSERT_TRUE(prompt.WaitForQuiet());
  prompt.Type("secret\n");
  EXPECT_EQ(prompt.Wait(), 0);
  EXPECT_TRUE(prompt.Echo());
}

}  // namespace
}  // namespace quiblink::test
